// A replace run's changes as a patch (-diff), applied with patch and git to other copies.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "testsupport/ferret_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::Ferret;
using testing::FindProgram;
using testing::ProgramResult;
using testing::RunProgram;
using testing::SameTrees;
using testing::TempDir;

// Files a patch cannot carry, and lines ends of every kind, round-trip through patch.
TEST(DiffRun, APatchOfAReplaceRunMakesWhatTheRunMakes) {
    const std::string patch = FindProgram("patch");
    if (patch.empty()) {
        GTEST_SKIP() << "patch is not installed";
    }
    const TempDir dir;
    for (const char* copy : {"diffed", "patched", "replaced"}) {
        dir.WriteFile(std::string(copy) + "/crlf.txt", "one old\r\ntwo\r\nold three\r\n");
        dir.WriteFile(std::string(copy) + "/open.txt", "first\nlast old");
        dir.WriteFile(std::string(copy) + "/sub/bom.txt", "\xEF\xBB\xBFold \xC3\xA9\n");
        dir.WriteFile(std::string(copy) + "/wide.txt", std::string("\xFF\xFEo\0l\0d\0", 8));
        dir.WriteFile(std::string(copy) + "/same.txt", "nothing here\n");
    }
    const ProgramResult run = Ferret({"-p", dir.Path("diffed"), "-k", "*.txt", "-b", "-s", "old",
                                      "-r", "new", "-e:replace", "-diff", "-", "-x"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    // Nothing written, no restore point.
    EXPECT_EQ(dir.ReadFile("diffed/crlf.txt"), "one old\r\ntwo\r\nold three\r\n");
    EXPECT_EQ(run.err.find("Restore point"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("--- crlf.txt\n+++ crlf.txt\n@@ -1,3 +1,3 @@\n-one old\r\n+one new\r\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("-last old\n\\ No newline at end of file\n+last new\n\\ No newline at "
                           "end of file\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Binary files wide.txt and wide.txt differ\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("same.txt"), std::string::npos) << run.out;

    dir.WriteFile("out.patch", run.out);
    const ProgramResult applied =
        RunProgram(patch, {"-s", "-p0", "-d", dir.Path("patched"), "-i", dir.Path("out.patch")});
    // patch does all but the binary file.
    EXPECT_EQ(applied.exit_code, 0) << applied.out << applied.err;
    EXPECT_EQ(dir.ReadFile("patched/wide.txt"), std::string("\xFF\xFEo\0l\0d\0", 8));
    const ProgramResult replaced = Ferret({"-p", dir.Path("replaced"), "-k", "*.txt", "-b", "-s",
                                           "old", "-r", "new", "-e:replace", "-x"});
    ASSERT_EQ(replaced.exit_code, 0) << replaced.err;
    for (const char* name : {"crlf.txt", "open.txt", "sub/bom.txt", "same.txt"}) {
        EXPECT_EQ(dir.ReadFile(std::string("patched/") + name),
                  dir.ReadFile(std::string("replaced/") + name))
            << name;
    }

    // -diff belongs to a replace run.
    const ProgramResult search = Ferret(
        {"-p", dir.Path("diffed"), "-s", "old", "-e:search", "-diff", dir.Path("x.patch"), "-x"});
    EXPECT_EQ(search.exit_code, 2);
    EXPECT_NE(search.err.find("-diff"), std::string::npos) << search.err;
}

// The whole of /usr/include: the patch changes no file, and patch and git apply make of two more
// copies exactly what a plain replace run makes of a third.
TEST(DiffRun, APatchOfUsrIncludeAppliesToOtherCopies) {
    const std::string patch = FindProgram("patch");
    const std::string git = FindProgram("git");
    if (patch.empty() || git.empty()) {
        GTEST_SKIP() << "patch or git is not installed";
    }
    const TempDir dir;
    for (const char* copy : {"diffed", "patched", "applied", "replaced"}) {
        ASSERT_EQ(RunProgram("/bin/cp", {"-a", "/usr/include", dir.Path(copy)}).exit_code, 0);
    }
    // A copy keeps the absolute links of the tree (cblas.h to /etc/alternatives and on): what
    // they lead to lies outside the copy, is not rewritten and has no place in the patch. It
    // may be told as read-only instead, as the system is while the tests run.
    const auto only_outside_told = [](const ProgramResult& run) {
        static constexpr std::string_view kNotDone = "ferret: not done: ";
        std::istringstream lines(run.err);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(kNotDone, 0) != 0) {
                continue;
            }
            const std::string path =
                line.substr(kNotDone.size(), line.find(": ", kNotDone.size()) - kNotDone.size());
            struct stat name {};
            if (line.find("it lies outside the folder") == std::string::npos &&
                !(line.find("the file is read-only") != std::string::npos &&
                  lstat(path.c_str(), &name) == 0 && S_ISLNK(name.st_mode))) {
                return false;
            }
        }
        return run.exit_code == 0 || run.exit_code == 1;
    };
    const std::string out = dir.Path("out.patch");
    const ProgramResult run = Ferret({"-p", dir.Path("diffed"), "-k", "*", "-b", "-s", "const",
                                      "-r", "CONST", "-e:replace", "-diff", out, "-x"});
    ASSERT_TRUE(only_outside_told(run)) << run.exit_code << run.err.substr(0, 2000);
    std::string difference;
    EXPECT_TRUE(SameTrees("/usr/include", dir.Path("diffed"), difference)) << difference;
    const ProgramResult patched =
        RunProgram(patch, {"-s", "-p0", "-d", dir.Path("patched"), "-i", out});
    EXPECT_EQ(patched.exit_code, 0) << patched.out.substr(0, 2000) << patched.err;
    const ProgramResult applied =
        RunProgram(git, {"-C", dir.Path("applied"), "apply", "-p0", "--whitespace=nowarn", out});
    EXPECT_EQ(applied.exit_code, 0) << applied.err.substr(0, 2000);
    const ProgramResult replaced = Ferret({"-p", dir.Path("replaced"), "-k", "*", "-b", "-s",
                                           "const", "-r", "CONST", "-e:replace", "-x"});
    ASSERT_TRUE(only_outside_told(replaced)) << replaced.exit_code << replaced.err.substr(0, 2000);
    EXPECT_TRUE(SameTrees(dir.Path("patched"), dir.Path("replaced"), difference)) << difference;
    EXPECT_TRUE(SameTrees(dir.Path("applied"), dir.Path("replaced"), difference)) << difference;
    EXPECT_FALSE(SameTrees("/usr/include", dir.Path("replaced"), difference));
}

// Runs ferret with `arguments`, its output thrown away: its peak resident memory in MiB, or -1
// when it did not end with status 0.
long PeakMibOf(const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {FERRET_BINARY};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss / 1024;
}

// Writes a text of about `size` bytes with "old" in every thousandth line, or "new" when
// `replaced`.
void WriteLongText(const std::string& path, std::size_t size, bool replaced) {
    std::ofstream out(path, std::ios::binary);
    std::string chunk;
    std::size_t written = 0;
    for (long line = 0; written < size; ++line) {
        chunk += "line " + std::to_string(line) + " of a long text";
        if (line % 1000 == 0) {
            chunk += replaced ? " with new in it" : " with old in it";
        }
        chunk += '\n';
        if (chunk.size() >= (1 << 20)) {
            out << chunk;
            written += chunk.size();
            chunk.clear();
        }
    }
    out << chunk;
}

// A patch of a file eight times larger than the memory the run may take beyond a small one's:
// neither the file nor its patch is held, and patch makes of it what the replace would.
TEST(DiffRun, APatchOfAFileLargerThanMemoryIsMadeAsItIsRead) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own memory is not the run's";
#endif
    const std::string patch = FindProgram("patch");
    if (patch.empty()) {
        GTEST_SKIP() << "patch is not installed";
    }
    constexpr long kLimitMib = 32;
    const TempDir dir;
    dir.MakeDir("small");
    dir.MakeDir("big");
    WriteLongText(dir.Path("small/f.txt"), 1 << 20, false);
    WriteLongText(dir.Path("big/f.txt"), std::size_t{8 * kLimitMib} << 20, false);
    WriteLongText(dir.Path("wanted.txt"), std::size_t{8 * kLimitMib} << 20, true);
    const auto diff = [&](const char* folder) {
        return PeakMibOf({"-p", dir.Path(folder), "-k", "*.txt", "-b", "-s", "old", "-r", "new",
                          "-e:replace", "-diff", dir.Path(std::string(folder) + ".patch"), "-x"});
    };
    const long small = diff("small");
    const long big = diff("big");
    ASSERT_GT(small, 0);
    ASSERT_GT(big, 0);
    EXPECT_LE(big - small, kLimitMib) << small << " MiB for 1 MiB, " << big << " for 256 MiB";
    const ProgramResult applied =
        RunProgram(patch, {"-s", "-p0", "-d", dir.Path("big"), "-i", dir.Path("big.patch")});
    ASSERT_EQ(applied.exit_code, 0) << applied.out << applied.err;
    EXPECT_TRUE(dir.ReadFile("big/f.txt") == dir.ReadFile("wanted.txt"));
}

}  // namespace
}  // namespace ferret
