// Names from disk that hold line ends, escape sequences, TABs and blanks, through every text
// output of an unattended run: -diff, -hits, the report (-l) and the lines on standard error.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "testsupport/ferret_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::Ferret;
using testing::FindProgram;
using testing::LinesOf;
using testing::ProgramResult;
using testing::RunProgram;
using testing::SameTrees;
using testing::TempDir;

// A name written as it is into a patch would add hunks of its own, for a file without a hit.
const char kForged[] = "x.txt\n--- .bashrc\n+++ .bashrc\n@@ -1 +1,2 @@\n keep\n+evil\n.txt";

// Files that hold "old", each named to break a line-based output, and one with no hit whose
// bytes must stay.
const std::vector<std::string>& Names() {
    static const std::vector<std::string> names = {"plain.txt",       "two words.txt",
                                                   " lead blank.txt", "tab\tname.txt",
                                                   "cr\rname.txt",    "esc\x1B[2J\x1B[Hname.txt",
                                                   kForged,           "sub dir/in sub.txt",
                                                   "caf\xC3\xA9.txt", "trail blank .txt",
                                                   "quote\"in.txt",   "\"start.txt",
                                                   "back\\slash.txt", "c1\xC2\x9Bx.txt"};
    return names;
}

void MakeTree(const TempDir& dir, const std::string& tree) {
    for (const std::string& name : Names()) {
        dir.WriteFile(tree + "/" + name, "one\nold two\n");
    }
    dir.WriteFile(tree + "/.bashrc", "keep\n");
}

// Whether `text` holds a byte a terminal obeys: a C0 control other than TAB and line feed, DEL.
bool HoldsRawControl(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F;
    });
}

// patch -p0 and git apply -p0 make of copies of the tree exactly what the replace run makes:
// every named file changed, the file without a hit left alone.
TEST(QuotedNames, APatchChangesTheNamedFilesAndNoOther) {
    const std::string patch = FindProgram("patch");
    const std::string git = FindProgram("git");
    if (patch.empty() || git.empty()) {
        GTEST_SKIP() << "patch or git is not installed";
    }
    const TempDir dir;
    for (const char* copy : {"original", "diffed", "patched", "applied", "replaced"}) {
        MakeTree(dir, copy);
    }
    const std::string out = dir.Path("out.patch");
    const ProgramResult run = Ferret({"-p", dir.Path("diffed"), "-k", "*", "-b", "-s", "old", "-r",
                                      "new", "-e:replace", "-diff", out, "-x"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::string difference;
    EXPECT_TRUE(SameTrees(dir.Path("original"), dir.Path("diffed"), difference)) << difference;
    const std::string diff = dir.ReadFile("out.patch");
    // One --- line and one +++ line a file.
    std::size_t heads = 0;
    for (const std::string& line : LinesOf(diff)) {
        heads += line.rfind("--- ", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(heads, Names().size()) << diff;

    const ProgramResult patched =
        RunProgram(patch, {"-s", "-p0", "-d", dir.Path("patched"), "-i", out});
    EXPECT_EQ(patched.exit_code, 0) << patched.out << patched.err << diff;
    const ProgramResult applied = RunProgram(
        "/usr/bin/env", {"GIT_CONFIG_NOSYSTEM=1", "GIT_CEILING_DIRECTORIES=" + dir.path(), git,
                         "-C", dir.Path("applied"), "apply", "-p0", out});
    EXPECT_EQ(applied.exit_code, 0) << applied.err << diff;
    const ProgramResult replaced = Ferret({"-p", dir.Path("replaced"), "-k", "*", "-b", "-s", "old",
                                           "-r", "new", "-e:replace", "-x"});
    ASSERT_EQ(replaced.exit_code, 0) << replaced.err;
    for (const char* copy : {"patched", "applied", "replaced"}) {
        EXPECT_EQ(dir.ReadFile(std::string(copy) + "/.bashrc"), "keep\n") << copy;
        for (const std::string& name : Names()) {
            EXPECT_EQ(dir.ReadFile(std::string(copy) + "/" + name), "one\nnew two\n")
                << copy << ": " << name;
        }
    }
    EXPECT_TRUE(SameTrees(dir.Path("patched"), dir.Path("replaced"), difference)) << difference;
    EXPECT_TRUE(SameTrees(dir.Path("applied"), dir.Path("replaced"), difference)) << difference;
}

// -hits gives one line a hit and -l one line a file, with no byte that moves a terminal's cursor;
// ordinary names are written as they are.
TEST(QuotedNames, HitLinesAndTheReportKeepOneLineAnEntry) {
    const TempDir dir;
    MakeTree(dir, "tree");
    const std::string tree = dir.Path("tree");
    const ProgramResult run = Ferret({"-p", tree, "-k", "*", "-b", "-s", "old", "-e:search",
                                      "-hits", "-", "-l", dir.Path("report.txt"), "-x"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<std::string> hits = LinesOf(run.out);
    EXPECT_EQ(hits.size(), Names().size()) << run.out;
    EXPECT_FALSE(HoldsRawControl(run.out)) << run.out;
    for (const std::string& line : hits) {
        EXPECT_TRUE(line.rfind(tree + "/", 0) == 0 || line.rfind("\"" + tree + "/", 0) == 0)
            << line;
        EXPECT_NE(line.find(":2:1: old two"), std::string::npos) << line;
    }
    EXPECT_NE(run.out.find(tree + "/two words.txt:2:1: old two\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(tree + "/caf\xC3\xA9.txt:2:1: old two\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"" + tree + "/tab\\tname.txt\":2:1: old two\n"), std::string::npos)
        << run.out;

    const std::string report = dir.ReadFile("report.txt");
    EXPECT_FALSE(HoldsRawControl(report)) << report;
    std::size_t listed = 0;
    for (const std::string& line : LinesOf(report)) {
        if (line.rfind(" [1]\t", 0) == 0) {
            ++listed;
            EXPECT_TRUE(line.rfind(" [1]\t.../", 0) == 0 || line.rfind(" [1]\t\".../", 0) == 0)
                << line;
        }
    }
    EXPECT_EQ(listed, Names().size()) << report;
    EXPECT_NE(report.find(" [1]\t.../sub dir/in sub.txt\n"), std::string::npos) << report;
}

// A file the run cannot do is told on one line of standard error, whatever its name holds.
TEST(QuotedNames, ProblemLinesHoldNoControlCharacters) {
    const TempDir dir;
    MakeTree(dir, "tree");
    const std::vector<std::string> locked = {"ro\x1B[2K\rferret: done.txt",
                                             "ro\nferret: not done: /etc/passwd.txt"};
    for (const std::string& name : locked) {
        dir.WriteFile("tree/" + name, "old\n");
        // Read-only stops a replace even for root.
        ASSERT_EQ(chmod(dir.Path("tree/" + name).c_str(), 0444), 0);
    }
    const std::string tree = dir.Path("tree");
    const ProgramResult run =
        Ferret({"-p", tree, "-k", "*", "-b", "-s", "old", "-r", "new", "-e:replace", "-x"});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_FALSE(HoldsRawControl(run.err)) << run.err;
    const std::vector<std::string> lines = LinesOf(run.err);
    EXPECT_EQ(lines.size(), locked.size()) << run.err;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.rfind("ferret: not done: \"" + tree + "/ro", 0), 0u) << line;
        EXPECT_NE(line.find("\": the file is read-only"), std::string::npos) << line;
    }
    EXPECT_NE(run.err.find("ferret: not done: \"" + tree +
                           "/ro\\nferret: not done: /etc/passwd.txt\": the file is read-only\n"),
              std::string::npos)
        << run.err;
    for (const std::string& name : locked) {
        EXPECT_EQ(dir.ReadFile("tree/" + name), "old\n");
    }
}

}  // namespace
}  // namespace ferret
