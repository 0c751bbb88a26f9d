#include "engine/file_finder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "testsupport/limited.h"
#include "testsupport/temp_dir.h"
#include "testsupport/unprivileged.h"
#include "testsupport/walk.h"

namespace ferret {
namespace {

using testing::Listed;
using testing::RunUnprivileged;
using testing::TempDir;
using testing::WalkResult;

WalkResult RunWalk(const TempDir& dir, const std::string& mask,
                   const std::function<void(FileFinder&)>& configure = {}) {
    return testing::Walk(dir.path(), mask, configure);
}

using Paths = std::vector<std::string>;

TEST(FindFiles, CountsEveryEntryIncludingDotsAndFolders) {
    TempDir dir;
    dir.WriteFile("one.txt", "1");
    dir.WriteFile("two.txt", "2");
    WalkResult walk = RunWalk(dir, "*.txt");
    EXPECT_EQ(walk.searched, 4);  // ".", "..", two files
    EXPECT_EQ(walk.matched, 2);
    EXPECT_EQ(walk.listed, (Paths{"one.txt", "two.txt"}));

    dir.WriteFile("sub/three.txt", "3");
    walk = RunWalk(dir, "*.txt");
    EXPECT_EQ(walk.searched, 4 + 1 + 3);  // the folder's entry, then its own ".", ".." and file
    EXPECT_EQ(walk.listed, (Paths{"one.txt", "sub/three.txt", "two.txt"}));
}

TEST(FindFiles, NameOrderIgnoresCaseAndSubfoldersComeInPlace) {
    TempDir dir;
    for (const char* name : {"b.txt", "A.txt", "a_dir/z.txt", "C.txt", "a.txt", "B_dir/y.txt"}) {
        dir.WriteFile(name, "");
    }
    EXPECT_EQ(RunWalk(dir, "*.*").listed,
              (Paths{"A.txt", "a.txt", "a_dir/z.txt", "b.txt", "B_dir/y.txt", "C.txt"}));
}

TEST(FindFiles, IncludeAndExcludeMasks) {
    TempDir dir;
    for (const char* name : {"a.htm", "b.html", "c.css", "d.HTM"}) {
        dir.WriteFile(name, "");
    }
    WalkResult include = RunWalk(dir, "*.htm;*.html");
    EXPECT_EQ(include.listed, (Paths{"a.htm", "b.html", "d.HTM"}));
    EXPECT_EQ(include.matched, 3);
    WalkResult exclude = RunWalk(dir, "*.htm;*.html", [](FileFinder& f) { f.SetSearchType(0); });
    EXPECT_EQ(exclude.listed, (Paths{"c.css"}));
    EXPECT_EQ(exclude.matched, 1);
    WalkResult neither = RunWalk(dir, "*.*", [](FileFinder& f) { f.SetSearchType(2); });
    EXPECT_TRUE(neither.listed.empty());
}

TEST(FindFiles, DotFoldersAreNeverEnteredButDotFilesAreListed) {
    TempDir dir;
    dir.WriteFile(".cache/hidden.txt", "");
    dir.WriteFile(".git/config", "");
    dir.WriteFile(".profile", "");
    dir.WriteFile("sub/.inner/x.txt", "");
    WalkResult walk = RunWalk(dir, "*.*");
    EXPECT_EQ(walk.listed, (Paths{".profile"}));
}

TEST(FindFiles, FoldersToSkipAreNeverEnteredWhereverTheyAre) {
    TempDir dir;
    for (const char* name :
         {"a.txt", "node_modules/x.js", "src/node_modules/y.js", "src/Build/z.o",
          "src/builder/kept.c", "src/main.c", "notes/node_modules", "cache-1/c.txt"}) {
        dir.WriteFile(name, "");
    }
    const auto skipping = [](const std::string& mask) {
        return [mask](FileFinder& f) { f.SetSkipFolders(mask); };
    };
    // Case ignored as in the mask; a file of a skipped name is still listed; " ;" and blanks as
    // in a mask.
    WalkResult walk = RunWalk(dir, "*.*", skipping("node_modules; build;cache-?"));
    EXPECT_EQ(walk.listed,
              (Paths{"a.txt", "notes/node_modules", "src/builder/kept.c", "src/main.c"}));
    // The skipped folders are still entries seen; their own entries are not.
    EXPECT_EQ(walk.searched, RunWalk(dir, "*.*").searched - 3 * 3 - 3);
    EXPECT_EQ(RunWalk(dir, "*.*", skipping("")).listed.size(), 8u);
    // The start folder itself is not skipped by its name.
    EXPECT_EQ(testing::Walk(dir.Path("node_modules"), "*.*", skipping("node_modules")).listed,
              (Paths{"x.js"}));
}

TEST(FindFiles, ABinaryFileIsLeftOutWhenAsked) {
    TempDir dir;
    dir.WriteFile("text.txt", "plain");
    dir.WriteFile("nul.bin", std::string("a\0b", 3));
    dir.WriteFile("utf16.txt", std::string("\xFF\xFE"
                                           "a\0",
                                           4));
    dir.WriteFile("empty.txt", "");
    FileFinder finder;
    finder.SetStartDirectory(dir.path());
    finder.SetFilterMask("*.*");
    finder.SetSkipBinary(true);
    finder.PerformSearch();
    EXPECT_EQ(testing::Listed(finder.Files(), dir.path()),
              (Paths{"empty.txt", "text.txt", "utf16.txt"}));
    EXPECT_EQ(finder.BinaryLeftOut(), 1);
    EXPECT_EQ(finder.Matched(), 4);  // the mask still matched it

    // A document the office suite would search stays, as a search keeps it; a file that only
    // bears a document's name does not.
    dir.WriteFile("letter.docx", std::string("PK\x03\x04\0\0", 6));
    dir.WriteFile("fake.docx", std::string("a\0b", 3));
    FileFinder with_office;
    with_office.SetStartDirectory(dir.path());
    with_office.SetFilterMask("*.*");
    with_office.SetSkipBinary(true, ".doc|.docx|");
    with_office.PerformSearch();
    EXPECT_EQ(testing::Listed(with_office.Files(), dir.path()),
              (Paths{"empty.txt", "letter.docx", "text.txt", "utf16.txt"}));
    EXPECT_EQ(with_office.BinaryLeftOut(), 2);
}

TEST(FindFiles, WithoutRecursionSubfoldersAreCountedNotEntered) {
    TempDir dir;
    dir.WriteFile("top.txt", "");
    dir.WriteFile("sub/deep.txt", "");
    WalkResult walk = RunWalk(dir, "*.*", [](FileFinder& f) { f.SetRecursive(false); });
    EXPECT_EQ(walk.listed, (Paths{"top.txt"}));
    EXPECT_EQ(walk.searched, 4);
}

TEST(FindFiles, SizeFiltersAreInclusive) {
    TempDir dir;
    dir.WriteSizedFile("empty.bin", 0);
    dir.WriteSizedFile("small.bin", 102400);
    dir.WriteSizedFile("edge.bin", 1024000);
    dir.WriteSizedFile("big.bin", 1024001);
    const auto sized = [&](double limit, bool at_least) {
        return RunWalk(dir, "*.bin", [&](FileFinder& f) {
            f.SetFileSizeLimit(limit);
            f.SetGreaterThanSize(at_least);
        });
    };
    EXPECT_EQ(sized(102400, false).listed, (Paths{"empty.bin", "small.bin"}));
    EXPECT_EQ(sized(1024000, false).listed, (Paths{"edge.bin", "empty.bin", "small.bin"}));
    EXPECT_EQ(sized(1024000, true).listed, (Paths{"big.bin", "edge.bin"}));
    WalkResult only_empty = sized(0, false);
    EXPECT_EQ(only_empty.listed, (Paths{"empty.bin"}));
    EXPECT_EQ(only_empty.matched, 4);  // the mask count comes before the size filter
    EXPECT_EQ(sized(-1, true).listed.size(), 4u);
}

TEST(FindFiles, RecordsCarrySizeTextFolderAndCreationTime) {
    TempDir dir;
    dir.WriteSizedFile("k.bin", 1024);
    FileFinder finder;
    finder.SetStartDirectory(dir.path() + "/");
    finder.SetFilterMask("*.bin");
    finder.PerformSearch();
    ASSERT_EQ(finder.Files().Count(), 1);
    const FileRecord* file = finder.Files().Item(1);
    EXPECT_EQ(file->Size(), "1.00 KB");
    EXPECT_EQ(file->RootPath(), dir.path() + "/");
    EXPECT_EQ(file->Filename(), "k.bin");
    EXPECT_NEAR(file->CreationTime(), CurrentLocalDateTime(), 1.0 / 24);
    EXPECT_EQ(finder.Files().Item(dir.path() + "/K.BIN"), file);
}

TEST(FindFiles, BetweenDatesIsInclusiveToTheSecond) {
    TempDir dir;
    const std::time_t modified = 1767268800;  // 2026-01-01 12:00:00 UTC
    const std::time_t accessed = 1770000000;
    dir.WriteFile("dated.txt", "");
    dir.SetTimes("dated.txt", modified, accessed);
    const DateTime m = LocalDateTimeFromFileTime({modified, 0});
    const DateTime a = LocalDateTimeFromFileTime({accessed, 0});
    const double second = 1.0 / kSecondsPerDay;
    const auto between = [&](DateTime from, DateTime to, std::int32_t which) {
        return RunWalk(dir, "*.txt",
                       [&](FileFinder& f) {
                           f.SetDateType(kDateBetween);
                           f.SetDateFrom(from);
                           f.SetDateTo(to);
                           f.SetFileDateType(which);
                       })
            .listed.size();
    };
    EXPECT_EQ(between(m, m, kFileDateModified), 1u);
    EXPECT_EQ(between(m + second, m + 1, kFileDateModified), 0u);
    EXPECT_EQ(between(m - 1, m - second, kFileDateModified), 0u);
    EXPECT_EQ(between(a, a, kFileDateAccessed), 1u);
    EXPECT_EQ(between(m, m, kFileDateAccessed), 0u);
    // Created: the birth time where the file system keeps one, else the modified time.
    const std::size_t created_now =
        between(CurrentLocalDateTime() - 0.01, CurrentLocalDateTime() + 0.01, kFileDateCreated);
    const std::size_t created_as_modified = between(m, m, kFileDateCreated);
    EXPECT_EQ(created_now + created_as_modified, 1u);
    // Unknown filter kinds list nothing but still count the mask match.
    WalkResult unknown = RunWalk(dir, "*.txt", [](FileFinder& f) { f.SetDateType(7); });
    EXPECT_TRUE(unknown.listed.empty());
    EXPECT_EQ(unknown.matched, 1);
}

TEST(DateTest, WeekMonthAndYearCountCalendarBoundaries) {
    const DateTime saturday = DateTimeFromCivil(2026, 12, 12, 10, 0, 0);
    const auto passes = [&](std::int32_t type, DateTime modified) {
        return PassesDateTest(type, 0, 0, kFileDateModified, {modified, 0, 0}, saturday);
    };
    EXPECT_TRUE(passes(kDateWithinWeek, DateTimeFromCivil(2026, 11, 29, 0, 0, 1)));
    EXPECT_FALSE(passes(kDateWithinWeek, DateTimeFromCivil(2026, 11, 28, 23, 59, 59)));
    EXPECT_TRUE(passes(kDateWithinWeek, DateTimeFromCivil(2027, 3, 1)));  // future
    EXPECT_TRUE(passes(kDateWithinMonth, DateTimeFromCivil(2026, 11, 1)));
    EXPECT_FALSE(passes(kDateWithinMonth, DateTimeFromCivil(2026, 10, 31, 23, 0, 0)));
    EXPECT_TRUE(passes(kDateWithinYear, DateTimeFromCivil(2025, 1, 1)));
    EXPECT_FALSE(passes(kDateWithinYear, DateTimeFromCivil(2024, 12, 31)));
    // These three always read the modified time.
    EXPECT_FALSE(PassesDateTest(kDateWithinWeek, 0, 0, kFileDateAccessed,
                                {DateTimeFromCivil(2020, 1, 1), saturday, saturday}, saturday));
    EXPECT_TRUE(passes(kDateAny, 0));
    EXPECT_FALSE(passes(-1, saturday));
}

TEST(FindFiles, WeekFilterOnRealFiles) {
    TempDir dir;
    const std::time_t now = std::time(nullptr);
    dir.WriteFile("fresh.txt", "");
    dir.WriteFile("old.txt", "");
    dir.SetTimes("old.txt", now - 40 * 86400, now);
    WalkResult walk = RunWalk(dir, "*.txt", [](FileFinder& f) { f.SetDateType(kDateWithinWeek); });
    EXPECT_EQ(walk.listed, (Paths{"fresh.txt"}));
    EXPECT_EQ(walk.matched, 2);
}

TEST(FindFiles, LinksAreFollowedAndCyclesEnd) {
    TempDir dir;
    dir.WriteFile("a/file.txt", "");
    dir.Symlink("..", "a/up");         // back to the root: a cycle
    dir.Symlink(dir.path(), "a/abs");  // the same, by absolute path
    dir.Symlink("../b", "a/to_b");     // a sibling: followed
    dir.WriteFile("b/other.txt", "");
    dir.Symlink("b/other.txt", "link.txt");
    dir.Symlink("missing.txt", "dangling.txt");
    WalkResult walk = RunWalk(dir, "*.txt");
    // "b" is entered once, at its first place in the walk: through a/to_b.
    EXPECT_EQ(walk.listed, (Paths{"a/file.txt", "a/to_b/other.txt", "link.txt"}));
}

// Each folder is entered once, however many links lead to it, at its first place in the walk's
// order; a farm of links that would multiply the paths without end is walked in bounded time
// and memory.
TEST(FindFiles, FoldersAreEnteredOnceWhateverLinksLeadThere) {
    TempDir dir;
    dir.WriteFile("real/file.txt", "");
    dir.WriteFile("real/inner/deep.txt", "");
    dir.Symlink("real", "1st");
    dir.Symlink("../real", "sub/again");
    dir.Symlink("../real/inner", "sub/inner_only");
    const WalkResult linked = RunWalk(dir, "*.txt");
    EXPECT_EQ(linked.listed, (Paths{"1st/file.txt", "1st/inner/deep.txt"}));
    EXPECT_EQ(linked.matched, 2);  // what is not walked again is not counted again

    // 24 levels, each holding two links to the next: 2^24 paths to the last one.
    TempDir farm;
    constexpr int kLevels = 24;
    for (int level = 0; level <= kLevels; ++level) {
        const std::string name = "d" + std::to_string(100 + level);
        farm.WriteFile(name + "/f.txt", "");
        if (level < kLevels) {
            const std::string next = "../d" + std::to_string(101 + level);
            farm.Symlink(next, name + "/a");
            farm.Symlink(next, name + "/b");
        }
    }
    const std::string failure = testing::RunLimited(20, 256, [&] {
        const WalkResult walk = RunWalk(farm, "*.txt");
        std::string last = "d100/";
        for (int level = 0; level < kLevels; ++level) {
            last += "a/";
        }
        // "a" comes before "f.txt": the deepest file first.
        return walk.listed.size() == kLevels + 1 && walk.listed.front() == last + "f.txt" &&
               walk.listed.back() == "d100/f.txt";
    });
    EXPECT_EQ(failure, "");
}

// The kernel's own file systems are not entered through links, only when the walk starts there.
TEST(FindFiles, KernelFileSystemsAreEnteredOnlyFromInside) {
    TempDir dir;
    dir.WriteFile("own.txt", "");
    dir.Symlink("/proc", "proc");
    dir.Symlink("/sys", "sys");
    dir.Symlink("/dev", "dev");
    const std::string failure =
        testing::RunLimited(20, 256, [&] { return RunWalk(dir, "*").listed == Paths{"own.txt"}; });
    EXPECT_EQ(failure, "");

    FileFinder finder;
    finder.SetStartDirectory("/proc/self");
    finder.SetFilterMask("status");
    finder.SetRecursive(false);
    finder.PerformSearch();
    ASSERT_EQ(finder.Files().Count(), 1);
    EXPECT_EQ(finder.Files().Item(1)->Filename(), "status");
}

// Stop ends a walk with what it has listed, Pause holds it, and paused time is not walk time.
TEST(FindFiles, StopEndsTheWalkAndPauseHoldsIt) {
    TempDir dir;
    for (int i = 0; i < 50; ++i) {
        dir.WriteFile("f" + std::to_string(i) + "/a.txt", "");
    }
    std::atomic<bool> stop{true};
    std::atomic<bool> pause{false};
    WalkResult walk = RunWalk(dir, "*.txt", [&](FileFinder& f) { f.SetControl({&stop, &pause}); });
    EXPECT_TRUE(walk.listed.empty());

    for (const bool resume : {true, false}) {
        SCOPED_TRACE(resume ? "resumed" : "stopped while paused");
        stop = false;
        pause = true;
        FileFinder finder;
        finder.SetStartDirectory(dir.path());
        finder.SetFilterMask("*.txt");
        finder.SetControl({&stop, &pause});
        std::atomic<bool> done{false};
        std::thread walker([&] {
            finder.PerformSearch();
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_FALSE(done.load());
        const auto released = std::chrono::steady_clock::now();
        if (resume) {
            pause = false;
        } else {
            stop = true;
        }
        walker.join();
        EXPECT_LT(std::chrono::steady_clock::now() - released, std::chrono::milliseconds(200));
        EXPECT_EQ(finder.Stopped(), !resume);
        EXPECT_EQ(finder.Files().Count(), resume ? 50 : 0);
        if (resume) {
            EXPECT_LT(std::stod(finder.SearchTime()), 0.3) << finder.SearchTime();
        }
    }
}

// A taker that works through the files handed over in order holds the walk back: it never has
// much more than it allows waiting, and the list is whole in the end.
TEST(FindFiles, TheWalkKeepsNoMoreThanItsTakerLets) {
    TempDir dir;
    for (int folder = 0; folder < 60; ++folder) {
        for (int file = 0; file < 20; ++file) {
            dir.WriteFile(
                "d" + std::to_string(100 + folder) + "/f" + std::to_string(10 + file) + ".txt", "");
        }
    }
    std::atomic<std::size_t> taken{0};
    std::atomic<std::size_t> told{0};
    std::atomic<bool> done{false};
    std::size_t most_waiting = 0;  // by the walk's calls, one at a time
    std::thread taker([&] {
        while (!done.load() || taken.load() < told.load()) {
            if (taken.load() < told.load()) {
                ++taken;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    std::vector<std::unique_ptr<FileRecord>> got;
    FileFinder finder;
    finder.SetStartDirectory(dir.path());
    finder.SetFilterMask("*.txt");
    finder.SetControl({nullptr, nullptr, &taken, 50});
    WalkWatcher watcher;
    watcher.ordered = [&](std::vector<std::unique_ptr<FileRecord>>& records) {
        for (std::unique_ptr<FileRecord>& record : records) {
            got.push_back(std::move(record));
        }
        told = got.size();
        most_waiting = std::max(most_waiting, got.size() - taken.load());
    };
    finder.SetWatcher(watcher);
    finder.PerformSearch();
    done = true;
    taker.join();
    ASSERT_EQ(got.size(), 1200u);
    EXPECT_EQ(finder.Files().Count(), 0);
    EXPECT_EQ(got.front()->FullPath(), dir.Path("d100/f10.txt"));
    EXPECT_EQ(got.back()->FullPath(), dir.Path("d159/f29.txt"));
    // Folders read at once and folders read ahead of the order add to what waits.
    EXPECT_LE(most_waiting, 2 * 50u + 3 * 20u);

    // Without records handed over in order, nothing is taken: the walk is not held.
    std::atomic<std::size_t> none{0};
    FileFinder unpaced;
    unpaced.SetStartDirectory(dir.path());
    unpaced.SetFilterMask("*.txt");
    unpaced.SetControl({nullptr, nullptr, &none, 50});
    unpaced.PerformSearch();
    EXPECT_EQ(unpaced.Files().Count(), 1200);
}

TEST(FindFiles, FifoIsCountedButNeverOpened) {
    TempDir dir;
    dir.MakeFifo("pipe.txt");
    dir.WriteFile("real.txt", "");
    // Opening the FIFO would block this test forever.
    WalkResult walk = RunWalk(dir, "*.txt");
    EXPECT_EQ(walk.listed, (Paths{"real.txt"}));
    EXPECT_EQ(walk.searched, 4);
    EXPECT_EQ(walk.matched, 1);
}

TEST(FindFiles, NamesAreKeptAsBytes) {
    TempDir dir;
    const std::string odd[] = {"line\nbreak.txt", "bad\xff\xfe.txt", "-dash.txt"};
    for (const std::string& name : odd) {
        dir.WriteFile(name, "");
    }
    WalkResult walk = RunWalk(dir, "*.txt");
    ASSERT_EQ(walk.listed.size(), 3u);
    EXPECT_EQ(walk.listed[0], "-dash.txt");
    EXPECT_EQ(walk.listed[1], "bad\xff\xfe.txt");
    EXPECT_EQ(walk.listed[2], "line\nbreak.txt");
}

TEST(FindFiles, MissingStartFolderGivesNothing) {
    TempDir dir;
    FileFinder finder;
    int completed = 0;
    finder.SearchCompleted = [&] { ++completed; };
    finder.SetStartDirectory(dir.Path("absent"));
    EXPECT_EQ(finder.StartDirectory(), dir.Path("absent") + "/");
    finder.PerformSearch();
    EXPECT_EQ(finder.Files().Count(), 0);
    EXPECT_EQ(finder.Searched(), 0);
    EXPECT_EQ(finder.Matched(), 0);
    EXPECT_EQ(completed, 1);
}

TEST(FindFiles, UnreadableFoldersAreSkipped) {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    dir.WriteFile("open.txt", "");
    dir.WriteFile("locked/secret.txt", "");
    dir.WriteFile("listonly/inside.txt", "");
    chmod(dir.Path("locked").c_str(), 0);
    chmod(dir.Path("listonly").c_str(), 0444);  // names readable, entries not reachable
    const int status = RunUnprivileged([&] {
        FileFinder finder;
        finder.SetStartDirectory(dir.path());
        finder.SetFilterMask("*.txt");
        finder.PerformSearch();
        // Root: ".", "..", listonly, locked, open.txt. listonly: ".", ".." and inside.txt,
        // listed by name although nothing more of it can be read.
        const Paths listed = Listed(finder.Files(), dir.path());
        if (listed != Paths{"listonly/inside.txt", "open.txt"} || finder.Searched() != 5 + 3 ||
            finder.Matched() != 2) {
            return false;
        }
        const FileRecord* unreachable = finder.Files().Item(1);
        if (!unreachable->Size().empty() || finder.Files().Item(2)->Size() != "0 bytes") {
            return false;
        }
        // With a size filter the details are needed, and the unreachable file drops out.
        finder.TakeFiles();
        finder.SetFileSizeLimit(0);
        finder.PerformSearch();
        return Listed(finder.Files(), dir.path()) == Paths{"open.txt"};
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace ferret
