// The real ferret binary on trees that change or misbehave while it runs: folders that vanish or
// lock up, files that shrink, paths past PATH_MAX, odd names, a 5 GiB sparse file and binary
// files (link cycles and FIFOs: fault_test's run through RunDriver). Each run has a time limit, so
// a hang fails the test.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "testsupport/ferret_program.h"
#include "testsupport/made_content.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::BinaryWithNeedles;
using testing::FerretWithin;
using testing::NeedleEveryMiB;
using testing::ProgramResult;
using testing::RemoveTree;
using testing::RunProgram;
using testing::TempDir;

// The listed lines of a summary report ("[count]\t.../path"), each path as written.
std::vector<std::pair<int, std::string>> ListedLines(const std::string& report) {
    std::vector<std::pair<int, std::string>> lines;
    const std::string start = "   [..] - Items found in the file\n\n";
    std::size_t at = report.find(start);
    if (at == std::string::npos) {
        return lines;
    }
    at += start.size();
    const std::size_t end = report.find("\n" + std::string(80, '-'), at);
    while (at < end && report.compare(at, 2, " [") == 0) {
        const std::size_t close = report.find("]\t", at);
        const std::size_t line_end = report.find('\n', close);
        lines.emplace_back(std::stoi(report.substr(at + 2, close - at - 2)),
                           report.substr(close + 2, line_end - close - 2));
        at = line_end + 1;
    }
    return lines;
}

struct Totals {
    int strings = -1;
    int files = -1;
    int total = -1;
};

Totals TotalsOf(const std::string& report) {
    std::smatch match;
    static const std::regex sentence(
        "found (\\d+) times in (\\d+) files out of (\\d+) total files searched\\.");
    Totals totals;
    if (std::regex_search(report, match, sentence)) {
        totals = {std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3])};
    }
    return totals;
}

class FaultRun : public ::testing::Test {
  protected:
    void SetUp() override {
        chmod(dir_.path().c_str(), 0777);
        dir_.MakeDir("tree");
        report_ = dir_.Path("report.txt");
    }
    std::string Tree() const { return dir_.Path("tree"); }
    std::vector<std::string> SearchArguments(const std::string& folder, const std::string& mask,
                                             const std::string& text) const {
        return {"-p", folder, "-k", mask, "-s", text, "-e:search", "-b", "-l", report_, "-x"};
    }
    std::vector<std::string> ReplaceArguments(const std::string& folder, const std::string& mask,
                                              const std::string& text,
                                              const std::string& replacement) const {
        return {"-p",        folder,       "-k", mask, "-s",    text, "-r",
                replacement, "-e:replace", "-b", "-l", report_, "-x"};
    }
    std::string Report() const { return dir_.ReadFile("report.txt"); }

    TempDir dir_;
    std::string report_;
};

// SIGTERM acts as Stop: a search of the whole machine, which takes minutes, ends within a second
// of the signal, with its report written and the documented exit status.
TEST_F(FaultRun, SigtermStopsASearchOfTheWholeMachineWithinASecond) {
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult run =
        RunProgram("/usr/bin/timeout",
                   {"--preserve-status", "-s", "TERM", "-k", "10", "2", FERRET_BINARY, "-p", "/",
                    "-k", "*", "-s", "QString", "-e:search", "-b", "-l", report_, "-x"});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exit_code, 143) << run.err;
    EXPECT_LT(seconds, 3.0);
    const std::string report = Report();
    const std::size_t totals = report.find(" times in ");
    ASSERT_NE(totals, std::string::npos) << report;
    // Every file the run finished with hits is listed, as many as its totals count.
    EXPECT_EQ(ListedLines(report).size(),
              static_cast<std::size_t>(std::stoi(report.substr(totals + 10))))
        << report.substr(0, 3000);
}

// A run stopped while it searches a huge file lists every file it finished, in -l's report as in
// its totals, not only the first.
TEST_F(FaultRun, AStoppedRunsReportListsEveryFileItFinished) {
    std::vector<std::pair<int, std::string>> finished;
    for (int i = 0; i < 12; ++i) {
        const std::string name =
            std::string("a") + (i < 10 ? "0" : "") + std::to_string(i) + ".txt";
        dir_.WriteFile("tree/" + name, "a needle");
        finished.emplace_back(1, ".../" + name);
    }
    // Holes read as zeros: far more than the run has time for before the signal. In a subfolder,
    // so it is listed, and searched, after the files beside the start.
    dir_.WriteSizedFile("tree/z/huge.txt", off_t{64} << 30);
    std::vector<std::string> arguments = {"--preserve-status", "-s", "TERM", "-k", "20", "3",
                                          FERRET_BINARY};
    for (const std::string& argument : SearchArguments(Tree(), "*.txt", "needle")) {
        arguments.push_back(argument);
    }
    const ProgramResult run = RunProgram("/usr/bin/timeout", arguments);
    EXPECT_EQ(run.exit_code, 143) << run.err;
    EXPECT_EQ(ListedLines(Report()), finished) << Report();
    EXPECT_NE(Report().find("found 12 times in 12 files"), std::string::npos) << Report();
}

// 300 folders of 20 files holding one hit each; every second folder is hit by the fault.
struct WideTree {
    static std::string Folder(int i) {
        char name[16];
        std::snprintf(name, sizeof name, "d%04d", i);
        return name;
    }
    static std::string File(int j) {
        char name[16];
        std::snprintf(name, sizeof name, "f%02d.txt", j);
        return name;
    }
    static bool Doomed(int i) { return i % 2 == 1; }
    static constexpr int kFolders = 300;
    static constexpr int kFiles = 20;
};

// Whatever the fault did to the doomed folders, the run ends normally (telling the folders it
// could not read; files that are gone are no loss), lists only real files with their one hit,
// adds up, and lists every file of the other folders.
void ExpectNothingElseLost(const ProgramResult& run, const std::string& report) {
    const bool told = run.err.find("ferret: not done: ") != std::string::npos;
    EXPECT_EQ(run.exit_code, told ? 1 : 0) << run.err;
    EXPECT_EQ(run.err.find("No such file"), std::string::npos) << run.err;
    std::set<std::string> listed;
    for (const auto& [count, path] : ListedLines(report)) {
        EXPECT_EQ(count, 1) << path;
        std::string relative = path;
        ASSERT_EQ(relative.rfind(".../", 0), 0u) << path;
        relative.erase(0, 4);
        EXPECT_TRUE(listed.insert(relative).second) << "twice: " << relative;
        const std::size_t slash = relative.find('/');
        ASSERT_NE(slash, std::string::npos) << relative;
        const int folder = std::stoi(relative.substr(1, slash - 1));
        const int file = std::stoi(relative.substr(slash + 2));
        EXPECT_LT(folder, WideTree::kFolders);
        EXPECT_LT(file, WideTree::kFiles);
    }
    for (int i = 0; i < WideTree::kFolders; ++i) {
        for (int j = 0; !WideTree::Doomed(i) && j < WideTree::kFiles; ++j) {
            EXPECT_EQ(listed.count(WideTree::Folder(i) + "/" + WideTree::File(j)), 1u)
                << "lost " << WideTree::Folder(i) << "/" << WideTree::File(j);
        }
    }
    const Totals totals = TotalsOf(report);
    EXPECT_EQ(totals.strings, static_cast<int>(listed.size()))
        << report.substr(report.size() - 300);
    EXPECT_EQ(totals.files, static_cast<int>(listed.size()));
    EXPECT_GE(totals.total, totals.files);
    EXPECT_LE(totals.total, WideTree::kFolders * WideTree::kFiles);
}

class WideTreeRun : public FaultRun {
  protected:
    void SetUp() override {
        FaultRun::SetUp();
        for (int i = 0; i < WideTree::kFolders; ++i) {
            for (int j = 0; j < WideTree::kFiles; ++j) {
                dir_.WriteFile("tree/" + WideTree::Folder(i) + "/" + WideTree::File(j), "hit");
            }
        }
    }
    // Runs a search while `fault` is done to each doomed folder, last first, spread over about
    // the time the run takes, so some are hit before they are read and some after.
    ProgramResult SearchDuring(const std::function<void(const std::string&)>& fault,
                               bool unprivileged = false) {
        std::atomic<bool> done{false};
        std::thread faults([&] {
            for (int i = WideTree::kFolders - 1; i >= 0 && !done.load(); --i) {
                if (WideTree::Doomed(i)) {
                    fault(Tree() + "/" + WideTree::Folder(i));
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
        });
        const ProgramResult run =
            FerretWithin(60, SearchArguments(Tree(), "*.txt", "hit"), unprivileged);
        done.store(true);
        faults.join();
        return run;
    }
};

TEST_F(WideTreeRun, FoldersRemovedDuringTheRunLoseNothingElse) {
    const ProgramResult run = SearchDuring([](const std::string& folder) { RemoveTree(folder); });
    ExpectNothingElseLost(run, Report());
}

TEST_F(WideTreeRun, FoldersLockedDuringTheRunLoseNothingElse) {
    chmod(Tree().c_str(), 0755);
    // Run as "nobody", whom the locks stop.
    const ProgramResult run =
        SearchDuring([](const std::string& folder) { chmod(folder.c_str(), 0); }, true);
    ExpectNothingElseLost(run, Report());
}

std::string Replaced(std::string text) {
    for (std::size_t at = text.find("needle"); at != std::string::npos;
         at = text.find("needle", at)) {
        text.replace(at, 6, "pin");
    }
    return text;
}

TEST_F(FaultRun, FileShrinkingDuringTheRunIsCountedSanelyAndNeverHalfRewritten) {
    const std::string original = NeedleEveryMiB(64);
    const std::string shrunk = original.substr(0, std::size_t{8} << 20);
    const std::string path = Tree() + "/big.txt";
    for (const bool replace : {false, true}) {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE((replace ? "replace, round " : "search, round ") + std::to_string(round));
            dir_.WriteFile("tree/big.txt", original);
            std::thread shrinker([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100 * round));
                EXPECT_EQ(truncate(path.c_str(), off_t{8} << 20), 0);
            });
            const ProgramResult run =
                FerretWithin(60, replace ? ReplaceArguments(Tree(), "*.txt", "needle", "pin")
                                         : SearchArguments(Tree(), "*.txt", "needle"));
            shrinker.join();
            // A rewrite given up is told, and the run says not everything was done.
            const bool given_up = run.err.find("ferret: not done: ") != std::string::npos;
            EXPECT_EQ(run.exit_code, given_up ? 1 : 0) << run.err;
            if (!replace) {
                const auto lines = ListedLines(Report());
                ASSERT_EQ(lines.size(), 1u) << Report();
                EXPECT_GE(lines[0].first, 8);
                EXPECT_LE(lines[0].first, 64);
                continue;
            }
            // The shrink came before the read, during it (the rewrite is then given up), or
            // after the new file took the old one's place (and shrank that). Never a mix.
            const std::string now = dir_.ReadFile("tree/big.txt");
            const std::string new_then_shrunk = Replaced(original).substr(0, std::size_t{8} << 20);
            EXPECT_TRUE(now == Replaced(shrunk) || now == shrunk || now == new_then_shrunk)
                << now.size() << " bytes";
            EXPECT_EQ(dir_.Names("tree"), std::vector<std::string>{"big.txt"});
        }
    }
}

TEST_F(FaultRun, PathsLongerThanPathMaxAreSearchedAndLeftAloneByReplace) {
    // 20 folders of 250 bytes, made one below the other so no call sees the whole path.
    int at = open(Tree().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(at, 0);
    std::string relative;
    for (int level = 1; level <= 20; ++level) {
        const std::string name(250, static_cast<char>('a' + level));
        ASSERT_EQ(mkdirat(at, name.c_str(), 0755), 0);
        const int next = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(next, 0);
        close(at);
        at = next;
        relative += name + "/";
    }
    const int file = openat(at, "deep.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, "hit hit", 7), 7);
    close(file);
    dir_.WriteFile("tree/near.txt", "hit");
    ASSERT_GT(Tree().size() + relative.size(), static_cast<std::size_t>(PATH_MAX));

    ProgramResult run = FerretWithin(60, SearchArguments(Tree(), "*.txt", "hit"));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const auto lines = ListedLines(Report());
    ASSERT_EQ(lines.size(), 2u) << Report().substr(0, 2000);
    EXPECT_EQ(lines[0], std::make_pair(2, ".../" + relative + "deep.txt"));
    EXPECT_EQ(lines[1], std::make_pair(1, std::string(".../near.txt")));

    // A rewrite needs the whole path at once: the deep file fails alone, is told and stays as
    // it was.
    run = FerretWithin(60, ReplaceArguments(Tree(), "*.txt", "hit", "miss"));
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("ferret: not done: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("deep.txt: cannot open the file"), std::string::npos) << run.err;
    EXPECT_EQ(dir_.ReadFile("tree/near.txt"), "miss");
    char content[16] = {};
    const int deep = openat(at, "deep.txt", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(deep, 0);
    EXPECT_EQ(read(deep, content, sizeof content), 7);
    close(deep);
    EXPECT_STREQ(content, "hit hit");
    close(at);
}

TEST_F(FaultRun, OddNamesKeepTheirBytesInTheReport) {
    const std::vector<std::string> names = {"-dash.txt", "bad\xff\xfe.txt", "line\nbreak.txt",
                                            "sub\ndir/x\x80.txt"};
    for (const std::string& name : names) {
        dir_.WriteFile("tree/" + name, "hit");
    }
    ProgramResult run = FerretWithin(60, SearchArguments(Tree(), "*.txt", "hit"));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    // Stray bytes stay as they are; a line feed is escaped, in quotes, so that each file keeps
    // one line.
    for (const std::string& listed :
         {std::string(".../-dash.txt"), std::string(".../bad\xff\xfe.txt"),
          std::string("\".../line\\nbreak.txt\""), std::string("\".../sub\\ndir/x\x80.txt\"")}) {
        EXPECT_NE(Report().find(" [1]\t" + listed + "\n"), std::string::npos) << listed;
    }
    EXPECT_EQ(TotalsOf(Report()).files, 4);

    // A mask that starts with "-".
    run = FerretWithin(60, SearchArguments(Tree(), "-*.txt", "hit"));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(Report().find("File Mask: -*.txt\n"), std::string::npos);
    EXPECT_EQ(ListedLines(Report()),
              (std::vector<std::pair<int, std::string>>{{1, ".../-dash.txt"}}));

    // Every one of them can be rewritten.
    run = FerretWithin(60, ReplaceArguments(Tree(), "*.txt", "hit", "miss"));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (const std::string& name : names) {
        EXPECT_EQ(dir_.ReadFile("tree/" + name), "miss") << name;
    }
}

TEST_F(FaultRun, StartFoldersThatStartWithADashOrHoldOddBytes) {
    dir_.WriteFile("tree/-odd/a.txt", "hit");
    dir_.WriteFile("tree/-odd name/b.txt", "hit");
    dir_.WriteFile("tree/odd\xff\x80/c.txt", "hit");
    for (const std::string folder : {"-odd", "-odd name", "odd\xff\x80"}) {
        const ProgramResult run =
            FerretWithin(60, SearchArguments(Tree() + "/" + folder, "*.txt", "hit"));
        EXPECT_EQ(run.exit_code, 0) << folder << ": " << run.err;
        EXPECT_NE(Report().find("Root Search Directory: \n" + Tree() + "/" + folder + "\n"),
                  std::string::npos)
            << Report();
        EXPECT_EQ(ListedLines(Report()).size(), 1u) << folder;
    }
    // Relative to the folder ferret starts in.
    char here[PATH_MAX];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(Tree().c_str()), 0);
    const ProgramResult run = FerretWithin(60, SearchArguments("-odd", "*.txt", "hit"));
    const std::string report = Report();
    // Cleaned up as a path, its bytes kept.
    const ProgramResult around =
        FerretWithin(60, SearchArguments("./-odd/../odd\xff\x80/", "*.txt", "hit"));
    ASSERT_EQ(chdir(here), 0);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(ListedLines(report), (std::vector<std::pair<int, std::string>>{{1, ".../a.txt"}}));
    EXPECT_NE(report.find("Root Search Directory: \n" + Tree() + "/-odd\n"), std::string::npos);
    EXPECT_EQ(around.exit_code, 0) << around.err;
    EXPECT_EQ(ListedLines(Report()), (std::vector<std::pair<int, std::string>>{{1, ".../c.txt"}}));
    EXPECT_NE(Report().find("Root Search Directory: \n" + Tree() + "/odd\xff\x80\n"),
              std::string::npos);
}

struct RunPeak {
    int exit_code = -1;
    long peak_kib = -1;  // the largest peak resident memory among the run's processes
};

// Runs `run` in a child process of its own, so the peak memory reported for its children is
// that run's alone and not that of earlier tests' runs.
RunPeak RunWithPeak(const std::function<ProgramResult()>& run) {
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const ProgramResult result = run();
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        const long report[2] = {result.exit_code, usage.ru_maxrss};
        _exit(write(channel[1], report, sizeof report) == sizeof report ? 0 : 1);
    }
    close(channel[1]);
    long report[2] = {-1, -1};
    const bool got = read(channel[0], report, sizeof report) == sizeof report;
    close(channel[0]);
    waitpid(child, nullptr, 0);
    return got ? RunPeak{static_cast<int>(report[0]), report[1]} : RunPeak{};
}

TEST_F(FaultRun, FiveGiBSparseFileIsSearchedInBoundedMemory) {
    constexpr off_t kSize = off_t{5} << 30;
    dir_.WriteSizedFile("tree/huge.bin", kSize);
    const int fd = open(dir_.Path("tree/huge.bin").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "needle", 6, 12345), 6);
    ASSERT_EQ(pwrite(fd, "needle", 6, kSize - 1000), 6);
    ASSERT_EQ(pwrite(fd, "needle", 6, kSize - 6), 6);
    close(fd);
    // Under an address-space limit of 2 GiB the file cannot be held whole: a count at all
    // shows it was read in pieces. A sanitizer build reserves terabytes of address space for
    // its own bookkeeping, so there only the resident peak speaks.
#if defined(__SANITIZE_ADDRESS__)
    const std::vector<std::string> limit;
    constexpr long kPeakBoundKib = 1024 * 1024;
#else
    const std::vector<std::string> limit = {"--as=2147483648"};
    constexpr long kPeakBoundKib = 256 * 1024;
#endif
    const RunPeak run = RunWithPeak([&] {
        return FerretWithin(120, SearchArguments(Tree(), "*.bin", "needle"), false, limit);
    });
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(ListedLines(Report()),
              (std::vector<std::pair<int, std::string>>{{3, ".../huge.bin"}}));
    std::printf("peak resident memory of the run: %ld KiB\n", run.peak_kib);
    RecordProperty("peak_rss_kib", static_cast<int>(run.peak_kib));
    EXPECT_GT(run.peak_kib, 0);
    EXPECT_LT(run.peak_kib, kPeakBoundKib);
}

TEST_F(FaultRun, BinaryFileIsCountedAndRewrittenByteForByte) {
    constexpr std::size_t kSize = 1 << 20;
    const std::string original = BinaryWithNeedles(kSize, {0, 4094, 262141, kSize - 6}, 777);
    dir_.WriteFile("tree/blob.txt", original);
    ProgramResult run = FerretWithin(60, SearchArguments(Tree(), "*.txt", "needle"));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(ListedLines(Report()),
              (std::vector<std::pair<int, std::string>>{{4, ".../blob.txt"}}));
    run = FerretWithin(60, ReplaceArguments(Tree(), "*.txt", "needle", "pin"));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(ListedLines(Report()),
              (std::vector<std::pair<int, std::string>>{{4, ".../blob.txt"}}));
    const std::string now = dir_.ReadFile("tree/blob.txt");
    EXPECT_EQ(now.size(), original.size() - 4 * 3);
    EXPECT_TRUE(now == Replaced(original));
}

}  // namespace
}  // namespace ferret
