// The walk, the search and the replace when the file system changes under them: folders and
// files that vanish, lock up or shrink mid-run, paths beyond PATH_MAX, odd names, link cycles,
// FIFOs and binary files.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <functional>
#include <set>
#include <thread>
#include <tuple>

#include "app/run_driver.h"
#include "engine/content_replace.h"
#include "engine/content_search.h"
#include "engine/file_finder.h"
#include "engine/regex.h"
#include "settings/settings.h"
#include "testsupport/limited.h"
#include "testsupport/made_content.h"
#include "testsupport/recording_view.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"
#include "testsupport/unprivileged.h"
#include "testsupport/walk.h"

namespace ferret {
namespace {

using testing::BinaryWithNeedles;
using testing::NeedleEveryMiB;
using testing::RemoveTree;
using testing::RunLimited;
using testing::RunProgram;
using testing::RunUnprivileged;
using testing::TempDir;
using testing::Walk;
using testing::WalkResult;

using Paths = std::vector<std::string>;

// A tree of `folders` folders of `files` files each, named so that byte order is walk order.
struct WideTree {
    static std::string FolderName(int i) {
        char name[16];
        std::snprintf(name, sizeof name, "d%04d", i);
        return name;
    }
    static std::string FileName(int j) {
        char name[16];
        std::snprintf(name, sizeof name, "f%02d.txt", j);
        return name;
    }
    // Where folder `i` is.
    static std::string Folder(const TempDir& dir, int i) {
        return dir.Path("tree/" + FolderName(i));
    }
    void Make(const TempDir& dir) const {
        for (int i = 0; i < folders; ++i) {
            dir.MakeDir("tree/" + FolderName(i));
            const int folder = open(Folder(dir, i).c_str(), O_RDONLY | O_DIRECTORY);
            ASSERT_GE(folder, 0);
            for (int j = 0; j < files; ++j) {
                const int fd =
                    openat(folder, FileName(j).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                ASSERT_GE(fd, 0);
                ASSERT_EQ(write(fd, "hit", 3), 3);
                close(fd);
            }
            close(folder);
        }
    }
    // Every second folder is the one the fault hits; the others must come through whole.
    static bool Doomed(int i) { return i % 2 == 1; }

    int folders = 100;
    int files = 50;
};

// Does `fault` to each doomed folder of a WideTree (given its number), last first, as soon as the
// walk opens the first folder (or after ten seconds, should it never do so), so the fault and the
// walk meet somewhere in the middle. While it runs the calling thread, and so the walk's own
// threads, keep off the processor the fault has, so the fault goes on while the walk does.
class FaultWhenWalked {
  public:
    FaultWhenWalked(const WideTree& tree, const TempDir& dir,
                    std::function<void(int folder)> fault) {
        cpu_set_t fault_cpu;
        CPU_ZERO(&fault_cpu);
        const bool split =
            sched_getaffinity(0, sizeof saved_, &saved_) == 0 && CPU_COUNT(&saved_) >= 2;
        if (split) {
            cpu_set_t walk_cpus = saved_;
            int last = CPU_SETSIZE - 1;
            while (!CPU_ISSET(last, &saved_)) {
                --last;
            }
            CPU_CLR(last, &walk_cpus);
            CPU_SET(last, &fault_cpu);
            sched_setaffinity(0, sizeof walk_cpus, &walk_cpus);
        }
        const int watch = inotify_init1(IN_CLOEXEC);
        EXPECT_GE(watch, 0);
        EXPECT_GE(inotify_add_watch(watch, tree.Folder(dir, 0).c_str(), IN_OPEN), 0);
        std::atomic<bool> waiting{false};
        thread_ = std::thread([&tree, &dir, fault, watch, &waiting, split, fault_cpu] {
            if (split) {
                sched_setaffinity(0, sizeof fault_cpu, &fault_cpu);
            }
            pollfd ready{watch, POLLIN, 0};
            waiting.store(true);
            poll(&ready, 1, 10000);
            close(watch);
            for (int i = tree.folders - 1; i >= 0; --i) {
                if (tree.Doomed(i)) {
                    fault(i);
                }
            }
        });
        while (!waiting.load()) {
            std::this_thread::yield();
        }
    }
    ~FaultWhenWalked() { Join(); }
    FaultWhenWalked(const FaultWhenWalked&) = delete;
    FaultWhenWalked& operator=(const FaultWhenWalked&) = delete;

    void Join() {
        if (thread_.joinable()) {
            thread_.join();
            sched_setaffinity(0, sizeof saved_, &saved_);
        }
    }

  private:
    cpu_set_t saved_{};
    std::thread thread_;
};

// What every walk over a WideTree must show, whatever happened to the doomed folders: only
// real files, each once, in walk order, and every file of every untouched folder.
void ExpectConsistentListing(const WideTree& tree, const WalkResult& walk) {
    std::set<std::string> created;
    for (int i = 0; i < tree.folders; ++i) {
        for (int j = 0; j < tree.files; ++j) {
            created.insert(tree.FolderName(i) + "/" + tree.FileName(j));
        }
    }
    EXPECT_TRUE(std::is_sorted(walk.listed.begin(), walk.listed.end()));
    EXPECT_EQ(std::adjacent_find(walk.listed.begin(), walk.listed.end()), walk.listed.end());
    for (const std::string& path : walk.listed) {
        EXPECT_EQ(created.count(path), 1u) << path;
    }
    const std::set<std::string> listed(walk.listed.begin(), walk.listed.end());
    for (int i = 0; i < tree.folders; ++i) {
        if (tree.Doomed(i)) {
            continue;
        }
        for (int j = 0; j < tree.files; ++j) {
            EXPECT_EQ(listed.count(tree.FolderName(i) + "/" + tree.FileName(j)), 1u)
                << "lost " << tree.FolderName(i) << "/" << tree.FileName(j);
        }
    }
}

TEST(WalkFaults, FoldersLockedDuringTheWalkComeWholeOrNotAtAll) {
    TempDir dir;
    const WideTree tree;
    tree.Make(dir);
    chmod(dir.path().c_str(), 0755);
    if (geteuid() == 0) {
        // So the unprivileged walker may lock its folders.
        ASSERT_EQ(RunProgram("/bin/chown", {"-R", "65534:65534", dir.path()}).exit_code, 0);
    }
    // Run as a user the locks apply to.
    const int status = RunUnprivileged([&] {
        FaultWhenWalked locker(tree, dir, [&](int i) { chmod(tree.Folder(dir, i).c_str(), 0); });
        const WalkResult walk = Walk(dir.Path("tree"), "*.txt");
        locker.Join();
        ExpectConsistentListing(tree, walk);
        // A folder read at all is read whole: the counts are those of the folders read.
        std::set<std::string> folders_read;
        for (const std::string& path : walk.listed) {
            folders_read.insert(path.substr(0, path.find('/')));
        }
        const auto read = static_cast<std::int32_t>(folders_read.size());
        const bool whole = walk.listed.size() == folders_read.size() * tree.files;
        const bool counted = walk.searched == 2 + tree.folders + read * (tree.files + 2) &&
                             walk.matched == static_cast<std::int32_t>(walk.listed.size());
        // Once the walk is over every doomed folder is locked: a second walk leaves them out.
        const WalkResult after = Walk(dir.Path("tree"), "*.txt");
        const bool locked_out =
            after.listed.size() == static_cast<std::size_t>(tree.folders / 2 * tree.files);
        return !::testing::Test::HasFailure() && whole && counted && locked_out;
    });
    EXPECT_EQ(status, 0);
}

TEST(WalkFaults, FoldersRemovedDuringTheWalkLoseNothingElse) {
    for (const bool with_size_filter : {false, true}) {
        TempDir dir;
        const WideTree tree;
        tree.Make(dir);
        dir.MakeDir("gone");
        // Half the doomed folders are moved out of the tree at once, half emptied file by file
        // and then removed.
        FaultWhenWalked remover(tree, dir, [&](int i) {
            if (i % 4 == 1) {
                rename(tree.Folder(dir, i).c_str(), dir.Path("gone/" + tree.FolderName(i)).c_str());
            } else {
                RemoveTree(tree.Folder(dir, i));
            }
        });
        const WalkResult walk = Walk(dir.Path("tree"), "*.txt", [&](FileFinder& finder) {
            if (with_size_filter) {
                finder.SetFileSizeLimit(1000);  // the details are read: a file may go between
            }
        });
        remover.Join();
        ExpectConsistentListing(tree, walk);
        // Matched counts names that passed the mask; without a filter each of them is listed.
        if (with_size_filter) {
            EXPECT_GE(walk.matched, static_cast<std::int32_t>(walk.listed.size()));
        } else {
            EXPECT_EQ(walk.matched, static_cast<std::int32_t>(walk.listed.size()));
        }
        EXPECT_GE(walk.searched, 2 + static_cast<std::int32_t>(walk.listed.size()));
        EXPECT_LE(walk.searched, 2 + tree.folders + tree.folders * (tree.files + 2));
        EXPECT_EQ(dir.Names("tree").size(), static_cast<std::size_t>(tree.folders / 2));
    }
}

TEST(WalkFaults, StartFolderRemovedBeforeTheWalkGivesAnEmptyList) {
    TempDir dir;
    dir.WriteFile("gone/a.txt", "hit");
    const std::string start = dir.Path("gone");
    RemoveTree(start);
    const WalkResult walk = Walk(start, "*.txt");
    EXPECT_TRUE(walk.listed.empty());
    EXPECT_EQ(walk.searched, 0);
}

std::int32_t SearchWithHook(const std::string& path, const std::function<void()>& after_open) {
    const std::atomic<bool> stop{false};
    return SearchFileText(path, PlainMatcher("needle", false), stop,
                          [&](std::uint64_t, const timespec&) { after_open(); });
}

TEST(SearchFaults, FileShrunkAfterOpeningCountsOnlyWhatIsLeft) {
    TempDir dir;
    dir.WriteFile("big.txt", NeedleEveryMiB(32));
    const std::string path = dir.Path("big.txt");
    // Cut through the needle at 16 MiB: whole hits before it count, the stump does not.
    const off_t cut = (off_t{16} << 20) + 3;
    EXPECT_EQ(SearchWithHook(path, [&] { ASSERT_EQ(truncate(path.c_str(), cut), 0); }), 16);

    dir.WriteFile("big.txt", NeedleEveryMiB(32));
    RegExp pattern;
    ASSERT_TRUE(pattern.Compile("ne+dle", false).ok());
    EXPECT_EQ(SearchFilePattern(path, pattern, nullptr,
                                [&](std::uint64_t size, const timespec&) {
                                    EXPECT_EQ(size, std::uint64_t{32} << 20);
                                    ASSERT_EQ(truncate(path.c_str(), cut), 0);
                                }),
              16);

    // Emptied outright.
    dir.WriteFile("big.txt", NeedleEveryMiB(32));
    EXPECT_EQ(SearchWithHook(path, [&] { ASSERT_EQ(truncate(path.c_str(), 0), 0); }), 0);
}

TEST(SearchFaults, FileShrinkingDuringTheScanGivesACountBetweenBothSizes) {
    TempDir dir;
    const std::string path = dir.Path("big.txt");
    for (int round = 0; round < 5; ++round) {
        dir.WriteFile("big.txt", NeedleEveryMiB(64));
        std::atomic<bool> opened{false};
        std::thread shrinker([&] {
            while (!opened.load()) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500 * round));
            EXPECT_EQ(truncate(path.c_str(), off_t{8} << 20), 0);
        });
        const std::int32_t count = SearchWithHook(path, [&] { opened.store(true); });
        opened.store(true);  // lets the shrinker go on even if the file was never opened
        shrinker.join();
        EXPECT_GE(count, 8);
        EXPECT_LE(count, 64);
    }
}

TEST(SearchFaults, FileRemovedWhileSearchedIsSearchedWhole) {
    // The open file keeps its bytes until it is closed: the count is the file's as opened.
    TempDir dir;
    dir.WriteFile("big.txt", NeedleEveryMiB(32));
    const std::string path = dir.Path("big.txt");
    EXPECT_EQ(SearchWithHook(path, [&] { ASSERT_EQ(unlink(path.c_str()), 0); }), 32);
    EXPECT_TRUE(dir.Names().empty());
    // Gone before it is opened: it could not be searched.
    const std::atomic<bool> stop{false};
    EXPECT_EQ(SearchFileText(path, PlainMatcher("needle", false), stop), kNotSearched);
}

// The temporary files a rewrite leaves behind, if any.
Paths Leftovers(const TempDir& dir) {
    Paths names = dir.Names();
    names.erase(std::remove(names.begin(), names.end(), "f.txt"), names.end());
    return names;
}

RewriteResult ReplaceNeedles(const std::string& path, const std::function<void()>& after_open,
                             const std::function<void()>& before_swap = {}) {
    RegExp pattern;
    EXPECT_TRUE(pattern.Compile("needle", false).ok());
    return ReplaceFilePattern(
        path, pattern, "pin", nullptr,
        [&](std::uint64_t, const timespec&) {
            if (after_open) {
                after_open();
            }
        },
        before_swap);
}

TEST(ReplaceFaults, FileShrunkWhileReadIsLeftAsTheOtherWriterMadeIt) {
    TempDir dir;
    const std::string original = NeedleEveryMiB(8);
    const std::string path = dir.Path("f.txt");
    const off_t cut = (off_t{4} << 20) + 3;
    const std::string shrunk = original.substr(0, static_cast<std::size_t>(cut));

    dir.WriteFile("f.txt", original);
    RewriteResult result = ReplaceNeedles(path, [&] { ASSERT_EQ(truncate(path.c_str(), cut), 0); });
    EXPECT_EQ(result.count, kNotSearched);
    EXPECT_NE(result.error.find("changed while it was being rewritten"), std::string::npos)
        << result.error;
    EXPECT_TRUE(dir.ReadFile("f.txt") == shrunk);
    EXPECT_EQ(Leftovers(dir), Paths{});

    // Shrunk after the new content is complete, just before it would take the old one's place.
    dir.WriteFile("f.txt", original);
    result = ReplaceNeedles(path, {}, [&] { ASSERT_EQ(truncate(path.c_str(), cut), 0); });
    EXPECT_EQ(result.count, kNotSearched);
    EXPECT_TRUE(dir.ReadFile("f.txt") == shrunk);
    EXPECT_EQ(Leftovers(dir), Paths{});

    // Without interference the new content is complete.
    dir.WriteFile("f.txt", original);
    result = ReplaceNeedles(path, {});
    EXPECT_EQ(result.count, 8);
    std::string expected = original;
    for (int i = 7; i >= 0; --i) {
        expected.replace(static_cast<std::size_t>(i) << 20, 6, "pin");
    }
    EXPECT_TRUE(dir.ReadFile("f.txt") == expected);
    EXPECT_EQ(Leftovers(dir), Paths{});
}

TEST(ReplaceFaults, FileRemovedWhileReplacedIsNotBroughtBack) {
    TempDir dir;
    const std::string path = dir.Path("f.txt");
    dir.WriteFile("f.txt", NeedleEveryMiB(2));
    RewriteResult result = ReplaceNeedles(path, [&] { ASSERT_EQ(unlink(path.c_str()), 0); });
    EXPECT_EQ(result.count, kNotSearched);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(dir.Names(), Paths{});

    dir.WriteFile("f.txt", NeedleEveryMiB(2));
    result = ReplaceNeedles(path, {}, [&] { ASSERT_EQ(unlink(path.c_str()), 0); });
    EXPECT_EQ(result.count, kNotSearched);
    EXPECT_EQ(dir.Names(), Paths{});
}

// A chain of `levels` folders below `root`, each name `name_length` bytes long, built relative to
// each parent so no call ever sees the whole path; `files` (level, name, content) are written on
// the way. Returns the folder path of each level (index 0 is `root`).
Paths MakeDeepFolders(const std::string& root, int levels, std::size_t name_length,
                      const std::vector<std::tuple<int, std::string, std::string>>& files) {
    Paths folders{root};
    int parent = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_GE(parent, 0);
    for (int level = 1; level <= levels; ++level) {
        std::string name(name_length, static_cast<char>('a' + level % 26));
        name[0] = static_cast<char>('A' + level % 26);
        EXPECT_EQ(mkdirat(parent, name.c_str(), 0755), 0) << level;
        const int child = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        EXPECT_GE(child, 0) << level;
        close(parent);
        parent = child;
        folders.push_back(folders.back() + "/" + name);
        for (const auto& [at, file, content] : files) {
            const int fd = at != level
                               ? -1
                               : openat(parent, file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                EXPECT_EQ(write(fd, content.data(), content.size()),
                          static_cast<ssize_t>(content.size()));
                close(fd);
            }
        }
    }
    close(parent);
    return folders;
}

class DeepTree : public ::testing::Test {
  protected:
    void SetUp() override {
        // 20 levels of 250 bytes: the deepest folder lies about 5,000 bytes down.
        folders_ = MakeDeepFolders(dir_.path(), 20, 250,
                                   {{5, "mid.txt", "hit"}, {20, "deep.txt", "hit and hit"}});
        ASSERT_GT(folders_.back().size(), static_cast<std::size_t>(PATH_MAX));
        deep_ = folders_.back() + "/deep.txt";
    }
    TempDir dir_;
    Paths folders_;
    std::string deep_;
};

TEST_F(DeepTree, WalkListsFilesBeyondPathMax) {
    const WalkResult walk = Walk(dir_.path(), "*.txt");
    ASSERT_EQ(walk.listed.size(), 2u);
    // Level 5 holds the next folder and mid.txt; the folder comes first by name.
    EXPECT_EQ(dir_.path() + "/" + walk.listed[0], deep_);
    EXPECT_EQ(dir_.path() + "/" + walk.listed[1], folders_[5] + "/mid.txt");
    // Every level: ".", ".." and the next folder; a file where there is one.
    EXPECT_EQ(walk.searched, 3 + 19 * 3 + 1 + 3);
    EXPECT_EQ(walk.matched, 2);
    FileFinder finder;
    finder.SetStartDirectory(dir_.path());
    finder.PerformSearch();
    ASSERT_EQ(finder.Files().Count(), 2);
    EXPECT_EQ(finder.Files().Item(1)->Size(), "11 bytes");  // read when asked, by the long path
    // With the details read by the walk as well.
    const WalkResult sized =
        Walk(dir_.path(), "*.txt", [](FileFinder& f) { f.SetFileSizeLimit(100); });
    EXPECT_EQ(sized.listed, walk.listed);
}

TEST_F(DeepTree, SearchReadsFilesBeyondPathMax) {
    const std::atomic<bool> stop{false};
    std::uint64_t size = 0;
    EXPECT_EQ(SearchFileText(deep_, PlainMatcher("hit", false), stop,
                             [&](std::uint64_t bytes, const timespec&) { size = bytes; }),
              2);
    EXPECT_EQ(size, 11u);
    RegExp pattern;
    ASSERT_TRUE(pattern.Compile("h.t", false).ok());
    EXPECT_EQ(SearchFilePattern(deep_, pattern), 2);
}

TEST_F(DeepTree, ReplaceBeyondPathMaxFailsCleanly) {
    RegExp pattern;
    ASSERT_TRUE(pattern.Compile("hit", false).ok());
    const RewriteResult result = ReplaceFilePattern(deep_, pattern, "miss");
    // Rewriting needs the whole path in one piece (to resolve links and swap in the new file).
    EXPECT_EQ(result.count, kNotSearched);
    EXPECT_NE(result.error.find("too long"), std::string::npos) << result.error;
    // Nothing changed and nothing was left beside it.
    const std::atomic<bool> stop{false};
    EXPECT_EQ(SearchFileText(deep_, PlainMatcher("hit", false), stop), 2);
    const WalkResult walk = Walk(dir_.path(), "*");
    EXPECT_EQ(walk.listed.size(), 2u);
}

class HeadlessRun : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok()); }
    void TearDown() override { (void)SaveSettingValue(kSettingsKey, kReportType, "0"); }
};

// Runs a run of `kind` over `dir` in a child process (so a hang fails instead of blocking), with
// "swapped.txt" turned into a FIFO once the file list is built; `check` judges the driver.
bool RunWithFifoSwap(const TempDir& dir, RunKind kind,
                     const std::function<bool(const RunDriver&)>& check) {
    const std::string failure = RunLimited(30, 4096, [&] {
        testing::RecordingView view;
        // When the file list is complete, before any file is searched.
        view.on_status = [&](StatusPanel panel, const std::string& text) {
            if (panel == StatusPanel::kProgress && text == "...file list completed") {
                unlink(dir.Path("swapped.txt").c_str());
                dir.MakeFifo("swapped.txt");
            }
        };
        RunDriver driver(view);
        SearchFields fields;
        fields.folder = dir.path();
        fields.file_mask = "*.txt";
        fields.search_text = "hit";
        fields.replace_text = "miss";
        driver.StartProcess({kind, fields});
        return driver.Results() != nullptr && check(driver);
    });
    return failure.empty();
}

TEST_F(HeadlessRun, CyclesEndAndFifosAreNeverOpened) {
    TempDir dir;
    dir.WriteFile("a/one.txt", "hit");
    dir.Symlink("..", "a/up");
    dir.Symlink(".", "a/self");
    dir.Symlink("../b", "a/to_b");
    dir.WriteFile("b/two.txt", "hit");
    dir.Symlink("../a", "b/to_a");
    dir.Symlink("loop", "loop");  // a link to itself
    dir.MakeFifo("pipe.txt");
    dir.Symlink("pipe.txt", "pipe_link.txt");  // what a link points to decides
    dir.Symlink("/dev/zero", "zero.txt");      // a device would never end
    dir.WriteFile("swapped.txt", "hit");
    EXPECT_TRUE(RunWithFifoSwap(dir, RunKind::kSearch, [&](const RunDriver& driver) {
        Paths listed;
        std::vector<std::int32_t> counts;
        for (const FileRecord& file : *driver.Results()) {
            listed.push_back(file.FullPath().substr(dir.path().size() + 1));
            counts.push_back(file.ItemsFound());
        }
        // Each folder is entered once, at its first place in the walk: "b" through a/to_b. A
        // search may have read "swapped.txt" while the walk went on, before it became a FIFO.
        return listed == Paths{"a/one.txt", "a/to_b/two.txt", "swapped.txt"} &&
               counts.size() == 3 && counts[0] == 1 && counts[1] == 1 &&
               (counts[2] == kNotSearched || counts[2] == 1);
    }));

    unlink(dir.Path("swapped.txt").c_str());
    dir.WriteFile("swapped.txt", "hit");
    EXPECT_TRUE(RunWithFifoSwap(dir, RunKind::kReplace, [&](const RunDriver& driver) {
        const FileRecord* swapped = driver.Results()->Item(3);
        return driver.StringsFound() == 2 && swapped->ItemsFound() == kNotSearched;
    }));
    EXPECT_EQ(dir.ReadFile("a/one.txt"), "miss");
    EXPECT_EQ(dir.ReadFile("b/two.txt"), "miss");
    struct stat info {};
    ASSERT_EQ(lstat(dir.Path("swapped.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(BinaryFiles, HitsAreCountedAndARewriteKeepsEveryOtherByte) {
    TempDir dir;
    constexpr std::size_t kSize = 1 << 20;
    const std::vector<std::size_t> at = {0, (256 << 10) - 2, 700001, kSize - 6};
    const std::string original = BinaryWithNeedles(kSize, at, 12345);
    dir.WriteFile("blob.txt", original);
    const std::string path = dir.Path("blob.txt");
    const std::atomic<bool> stop{false};
    EXPECT_EQ(SearchFileText(path, PlainMatcher("needle", false), stop), 4);
    EXPECT_EQ(SearchFileText(path, PlainMatcher("NEEDLE", true), stop), 4);
    EXPECT_EQ(SearchFileText(path, PlainMatcher(std::string("\0", 1), false), stop),
              std::count(original.begin(), original.end(), '\0'));
    RegExp pattern;
    ASSERT_TRUE(pattern.Compile(RegExEncodeString("needle"), false).ok());
    EXPECT_EQ(SearchFilePattern(path, pattern), 4);

    const RewriteResult result = ReplaceFilePattern(path, pattern, "pin");
    EXPECT_EQ(result.count, 4) << result.error;
    std::string expected = original;
    for (auto it = at.rbegin(); it != at.rend(); ++it) {
        expected.replace(*it, 6, "pin");
    }
    const std::string rewritten = dir.ReadFile("blob.txt");
    EXPECT_EQ(rewritten.size(), expected.size());
    EXPECT_TRUE(rewritten == expected);
}

}  // namespace
}  // namespace ferret
