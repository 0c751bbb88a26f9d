// Replace runs of the real binary undone from the command line, also after the run was killed.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "testsupport/ferret_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::Ferret;
using testing::FerretWithin;
using testing::ProgramResult;
using testing::TempDir;

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// Each test keeps its program data (and so its restore points) in a folder of its own.
class UndoRun : public ::testing::Test {
  protected:
    void SetUp() override {
        chmod(dir_.path().c_str(), 0777);
        dir_.MakeDir("tree");
        dir_.MakeDir("data");
        setenv("FERRET_HOME", dir_.Path("data").c_str(), 1);
    }
    void TearDown() override { unsetenv("FERRET_HOME"); }
    ProgramResult Replace(const std::string& search, const std::string& replacement,
                          bool unprivileged = false) {
        return Ferret({"-p", dir_.Path("tree"), "-k", "*.txt", "-b", "-s", search, "-r",
                       replacement, "-e:replace", "-x"},
                      unprivileged);
    }
    std::vector<std::string> RestorePoints() const {
        struct stat info {};
        if (stat(dir_.Path("data/restore").c_str(), &info) != 0) {
            return {};
        }
        return dir_.Names("data/restore");
    }
    TempDir dir_;
};

TEST_F(UndoRun, UndoListsAndPutsBackTheRunsNewestFirst) {
    dir_.WriteFile("tree/a.txt", "red red");
    chmod(dir_.Path("tree/a.txt").c_str(), 0600);
    dir_.WriteFile("tree/b.txt", "red");
    ProgramResult nothing = Ferret({"-undo"});
    EXPECT_EQ(nothing.exit_code, 2);
    EXPECT_NE(nothing.err.find("there is no replace run to undo"), std::string::npos);

    ASSERT_EQ(Replace("red", "green").exit_code, 0);
    const ProgramResult second = Replace("green", "blue");
    ASSERT_EQ(second.exit_code, 0);
    const std::vector<std::string> points = RestorePoints();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_NE(second.out.find("(undo with: ferret -undo " + points[1] + ")"), std::string::npos)
        << second.out;

    const ProgramResult list = Ferret({"-undo", "list"});
    EXPECT_EQ(list.exit_code, 0);
    ASSERT_EQ(Count(list.out, "\n"), 2u) << list.out;
    EXPECT_EQ(list.out.rfind(points[1] + "  ", 0), 0u) << list.out;  // newest first
    EXPECT_NE(list.out.find("2 file(s)  \"green\" -> \"blue\"  in " + dir_.Path("tree")),
              std::string::npos)
        << list.out;

    // The older run by its id: the files have changed since, so nothing is touched.
    ProgramResult older = Ferret({"-undo", points[0]});
    EXPECT_EQ(older.exit_code, 1);
    EXPECT_EQ(Count(older.err, "ferret: not done: "), 2u) << older.err;
    EXPECT_NE(older.err.find("it has changed since the replace run"), std::string::npos);
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "blue blue");

    const ProgramResult last = Ferret({"-undo"});
    EXPECT_EQ(last.exit_code, 0) << last.err;
    EXPECT_EQ(last.out.rfind("Restored 2 file(s) of the replace run " + points[1], 0), 0u);
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "green green");
    older = Ferret({"-undo", points[0]});
    EXPECT_EQ(older.exit_code, 0) << older.err;
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "red red");
    EXPECT_EQ(dir_.ReadFile("tree/b.txt"), "red");
    struct stat info {};
    ASSERT_EQ(stat(dir_.Path("tree/a.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_TRUE(RestorePoints().empty());
    EXPECT_EQ(Ferret({"-undo", "20000101_000000_000"}).exit_code, 2);
}

TEST_F(UndoRun, ARestoreFolderOthersMayWriteToIsNeitherUsedNorUndoneFrom) {
    dir_.WriteFile("tree/a.txt", "red");
    ASSERT_EQ(Replace("red", "green").exit_code, 0);
    // Now anyone may put a forged restore point there.
    ASSERT_EQ(chmod(dir_.Path("data/restore").c_str(), 0777), 0);
    const ProgramResult run = Replace("green", "blue");
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.err.find("may be written by other users"), std::string::npos) << run.err;
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "green");
    const ProgramResult undo = Ferret({"-undo"});
    EXPECT_EQ(undo.exit_code, 2);
    EXPECT_NE(undo.err.find("the restore points cannot be used"), std::string::npos) << undo.err;
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "green");
    // Made private again, the run can be undone.
    ASSERT_EQ(chmod(dir_.Path("data/restore").c_str(), 0700), 0);
    EXPECT_EQ(Ferret({"-undo"}).exit_code, 0);
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "red");
}

// A file many times larger than the memory the undo may map is put back byte for byte: it is
// checked and its original copied back a block at a time. Held whole, as the run that rewrote it
// held it, it would need three times its size, and the undo would abort.
TEST_F(UndoRun, AFileLargerThanTheUndosMemoryIsPutBackByteForByte) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitizer build reserves terabytes of address space for itself";
#endif
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    constexpr std::size_t kSize = 80 * kMiB;
    // The program alone maps about 60 MiB; 150 MiB leave room for blocks, not for the file.
    constexpr std::size_t kLimit = 150 * kMiB;
    std::string original;
    original.reserve(kSize);
    for (std::size_t mib = 0; original.size() < kSize; ++mib) {
        std::string block = "needle in block " + std::to_string(mib) + "\n";
        while (block.size() < kMiB) {
            block += std::to_string(block.size() * 7919 + mib) + " hay\n";
        }
        block.resize(kMiB - 1);
        original += block + "\n";
    }
    dir_.WriteFile("tree/big.txt", original);
    ASSERT_EQ(Replace("needle", "pin").exit_code, 0);
    ASSERT_FALSE(dir_.ReadFile("tree/big.txt") == original);

    const ProgramResult undo =
        FerretWithin(120, {"-undo"}, false, {"--as=" + std::to_string(kLimit)});
    EXPECT_EQ(undo.exit_code, 0) << undo.err;
    EXPECT_NE(undo.out.find("Restored 1 file(s)"), std::string::npos) << undo.out;
    EXPECT_TRUE(dir_.ReadFile("tree/big.txt") == original);
    EXPECT_EQ(dir_.Names("tree"), std::vector<std::string>{"big.txt"});
    EXPECT_TRUE(RestorePoints().empty());
}

// A value given on the command line arrives whole: the blank at the end of "foo " was quoted on
// purpose, so "foobar" keeps its "foo".
TEST_F(UndoRun, AValuesTrailingBlankIsPartOfIt) {
    dir_.WriteFile("tree/a.txt", "foo x foobar");
    ASSERT_EQ(Replace("foo ", "bar ").exit_code, 0);
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "bar x foobar");
}

// Replace runs over kFiles files, interrupted while they go.
class InterruptedRun : public UndoRun {
  protected:
    static constexpr int kFiles = 4000;

    void SetUp() override {
        UndoRun::SetUp();
        for (int i = 0; i < kFiles; ++i) {
            dir_.WriteFile(Name(i), Before(i));
        }
    }
    std::string Name(int i) const {
        return "tree/d" + std::to_string(i % 20) + "/f" + std::to_string(i) + ".txt";
    }
    static std::string Before(int i) { return "before " + std::to_string(i) + "\n"; }
    pid_t StartReplace() const {
        const std::string binary = FERRET_BINARY;
        const std::string tree = dir_.Path("tree");
        const std::string report = dir_.Path("report.txt");
        const pid_t child = fork();
        if (child == 0) {
            execl(binary.c_str(), binary.c_str(), "-p", tree.c_str(), "-k", "*.txt", "-b", "-s",
                  "before", "-r", "after", "-e:replace", "-l", report.c_str(), "-x",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        EXPECT_GT(child, 0);
        return child;
    }
    // Sends `signal_number` once the run's journal shows a few files, while it is still going;
    // `twice`: at once twice, as timeout(1) and a kill of the process group both do. Returns the
    // run's wait status.
    int RunAndSignal(int signal_number, bool twice = false) {
        const pid_t child = StartReplace();
        bool sent = false;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!sent && std::chrono::steady_clock::now() < give_up) {
            const std::vector<std::string> points = RestorePoints();
            if (points.size() == 1) {
                const std::string journal = dir_.ReadFile("data/restore/" + points[0] + "/journal");
                // Past the first batch: its files are switched before the next is journaled.
                if (Count(journal, "\nfile\t") >= 200) {
                    sent = kill(child, signal_number) == 0;
                    if (twice) {
                        kill(child, signal_number);
                    }
                }
            }
            if (!sent) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(sent);
        return status;
    }
    // Every file holds its old or its new text, nothing else; returns how many the new one.
    int Rewritten() const {
        int rewritten = 0;
        for (int i = 0; i < kFiles; ++i) {
            const std::string text = dir_.ReadFile(Name(i));
            const bool now_new = text == "after " + std::to_string(i) + "\n";
            EXPECT_TRUE(now_new || text == Before(i)) << Name(i);
            rewritten += now_new;
        }
        return rewritten;
    }
    void ExpectNoNewFileLeft() const {
        for (int d = 0; d < 20; ++d) {
            for (const std::string& name : dir_.Names("tree/d" + std::to_string(d))) {
                EXPECT_EQ(name.find(".ferret-"), std::string::npos) << name;
            }
        }
    }
    void ExpectEveryFileBack() const {
        for (int i = 0; i < kFiles; ++i) {
            ASSERT_EQ(dir_.ReadFile(Name(i)), Before(i)) << Name(i);
        }
        ExpectNoNewFileLeft();
    }
    void UndoPutsEveryFileBack() {
        const ProgramResult undo = Ferret({"-undo"});
        EXPECT_EQ(undo.exit_code, 0) << undo.err;
        EXPECT_NE(undo.out.find("Restored "), std::string::npos);
        ExpectEveryFileBack();
        EXPECT_TRUE(RestorePoints().empty());
    }
};

TEST_F(InterruptedRun, ARunKilledInTheMiddleCanBeUndoneForEveryFileItRewrote) {
    const int status = RunAndSignal(SIGKILL);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be killed";
    const int rewritten = Rewritten();
    EXPECT_GE(rewritten, 1);
    EXPECT_LT(rewritten, kFiles);
    UndoPutsEveryFileBack();
}

// Killed at moments chosen by a few fixed seeds, from the start of the run to its end: every
// file is old or new, -undo puts back all of them, and no new file of the run is left.
TEST_F(InterruptedRun, KilledAtAnyMomentEveryFileIsOldOrNewAndUndoneWithNothingLeft) {
    for (const unsigned seed : {7u, 1234u, 99991u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const pid_t child = StartReplace();
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(((seed * 1103515245u + 12345u) >> 8) % 1500));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        Rewritten();
        const ProgramResult undo = Ferret({"-undo"});
        EXPECT_TRUE(undo.exit_code == 0 || undo.exit_code == 2) << undo.err;
        ExpectEveryFileBack();
    }
}

TEST_F(InterruptedRun, SigintStopsTheRunCleanlyWithItsReportAndItsWayBack) {
    const int status = RunAndSignal(SIGINT, true);
    ASSERT_TRUE(WIFEXITED(status)) << "SIGINT ended the program instead of stopping the run";
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const int rewritten = Rewritten();
    EXPECT_GE(rewritten, 1);
    EXPECT_LT(rewritten, kFiles);
    // No temporary copy is left anywhere, and the report counts exactly the rewritten files.
    ExpectNoNewFileLeft();
    const std::string report = dir_.ReadFile("report.txt");
    EXPECT_NE(report.find("found " + std::to_string(rewritten) + " times in " +
                          std::to_string(rewritten) + " files out of 4000"),
              std::string::npos)
        << report.substr(report.find("Your search"), 120);
    UndoPutsEveryFileBack();
}

}  // namespace
}  // namespace ferret
