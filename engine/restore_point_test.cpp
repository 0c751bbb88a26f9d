#include "engine/restore_point.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>

#include "engine/content_replace.h"
#include "testsupport/limited.h"
#include "testsupport/temp_dir.h"
#include "util/app_paths.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::TempDir;

constexpr uid_t kOtherUser = 65534;  // "nobody"

// Rewrites `path` to `content` as a replace run does, its original kept in a new restore point
// under `base`; returns the restore point's folder ("" when it could not be made).
std::string RewriteKept(const std::string& base, const std::string& path,
                        const std::string& content) {
    std::unique_ptr<RestorePoint> point;
    if (!RestorePoint::Create(base, "old", "new", "/", point).ok()) {
        return "";
    }
    Fd input(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat before {};
    std::string original;
    EXPECT_TRUE(input.get() >= 0 && fstat(input.get(), &before) == 0 &&
                ReadAll(input.get(), original));
    EXPECT_TRUE(point->Keep(path, before, original, content).ok());
    EXPECT_EQ(SwapInContent(path, input.get(), before, content, before.st_mode & 07777, nullptr),
              "");
    EXPECT_TRUE(point->Finish());
    return point->Folder();
}

// Appends a line to a restore point's journal as another program could.
void AppendToJournal(const std::string& folder, const std::string& line) {
    Fd journal(open((folder + "/journal").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    ASSERT_GE(journal.get(), 0);
    ASSERT_TRUE(WriteAll(journal.get(), line + "\n"));
}

class RestoreFolderTrust : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_.MakeDir("tree");
        dir_.WriteFile("tree/page.txt", "old text\n");
    }
    // A replace through a restore folder that must be refused: nothing is made or rewritten,
    // and the folder can be neither listed nor undone from.
    void ExpectRefused(const std::string& base) {
        std::unique_ptr<RestorePoint> point;
        const Status made = RestorePoint::Create(base, "old", "new", "/", point);
        EXPECT_FALSE(made.ok());
        EXPECT_EQ(point, nullptr);
        EXPECT_FALSE(CheckRestoreFolder(base).ok());
        EXPECT_TRUE(ListRestorePoints(base).empty());
        EXPECT_EQ(dir_.ReadFile("tree/page.txt"), "old text\n");
    }
    mode_t Mode(const std::string& relative) const {
        struct stat info {};
        EXPECT_EQ(stat(dir_.Path(relative).c_str(), &info), 0) << relative;
        return info.st_mode & 07777;
    }
    TempDir dir_;
};

TEST_F(RestoreFolderTrust, AFolderOfOnesOwnIsMadePrivateAndUsed) {
    const std::string base = dir_.Path("data/ferret/restore");
    const std::string folder = RewriteKept(base, dir_.Path("tree/page.txt"), "new text\n");
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(Mode("data/ferret/restore"), 0700u);
    EXPECT_TRUE(CheckRestoreFolder(base).ok());
    ASSERT_EQ(ListRestorePoints(base).size(), 1u);
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    EXPECT_EQ(dir_.ReadFile("tree/page.txt"), "old text\n");
    // A link of one's own on the way is followed.
    dir_.Symlink(dir_.Path("data"), "mine");
    EXPECT_TRUE(CheckRestoreFolder(dir_.Path("mine/ferret/restore")).ok());
}

TEST_F(RestoreFolderTrust, AFolderOthersMayWriteToIsRefused) {
    dir_.MakeDir("shared");
    ASSERT_EQ(chmod(dir_.Path("shared").c_str(), 0777), 0);
    ExpectRefused(dir_.Path("shared"));
    ASSERT_EQ(chmod(dir_.Path("shared").c_str(), 0770), 0);
    ExpectRefused(dir_.Path("shared"));
    ExpectRefused("relative/restore");
}

TEST_F(RestoreFolderTrust, AFolderOrALinkOfAnotherUserIsRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a folder to another user";
    }
    dir_.MakeDir("theirs");
    ASSERT_EQ(chown(dir_.Path("theirs").c_str(), kOtherUser, kOtherUser), 0);
    ExpectRefused(dir_.Path("theirs"));

    // Their link to a folder of ours: they could point it anywhere at any time.
    dir_.MakeDir("ours");
    dir_.Symlink(dir_.Path("ours"), "their-link");
    ASSERT_EQ(lchown(dir_.Path("their-link").c_str(), kOtherUser, kOtherUser), 0);
    ExpectRefused(dir_.Path("their-link"));
    ExpectRefused(dir_.Path("their-link/restore"));
    EXPECT_TRUE(CheckRestoreFolder(dir_.Path("ours")).ok());
}

TEST_F(RestoreFolderTrust, ForgedJournalLinesAreRefused) {
    const std::string base = dir_.Path("restore");
    dir_.WriteFile("tree/tool", "run me\n");
    ASSERT_EQ(chmod(dir_.Path("tree/tool").c_str(), 0755), 0);
    const std::string folder = RewriteKept(base, dir_.Path("tree/tool"), "changed\n");
    ASSERT_FALSE(folder.empty());
    RestorePointInfo info;
    ASSERT_TRUE(ReadRestorePoint(folder, info).ok());
    ASSERT_EQ(info.entries.size(), 1u);
    const RestoreEntry& real = info.entries[0];
    // The same entry again with a set-user mode, and one through a path with "..".
    const std::string tail =
        real.old_checksum + "\t" + real.new_checksum + "\t" + std::to_string(real.size) + "\t";
    AppendToJournal(folder, "file\t7\t" + real.path + "\t" + tail + "4755\t0\t0\t1.0\t1.0");
    AppendToJournal(
        folder, "file\t8\t" + dir_.Path("tree/../tree/tool") + "\t" + tail + "755\t0\t0\t1.0\t1.0");
    ASSERT_EQ(link((folder + "/files/000001").c_str(), (folder + "/files/000007").c_str()), 0);
    ASSERT_EQ(link((folder + "/files/000001").c_str(), (folder + "/files/000008").c_str()), 0);

    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    ASSERT_EQ(outcome.refused.size(), 2u);
    for (const UndoOutcome::Refusal& refusal : outcome.refused) {
        EXPECT_NE(refusal.reason.find("looks forged"), std::string::npos) << refusal.reason;
    }
    // The genuine entry, last in the undo's order, is put back with its own mode.
    EXPECT_EQ(outcome.restored, 1);
    EXPECT_EQ(dir_.ReadFile("tree/tool"), "run me\n");
    EXPECT_EQ(Mode("tree/tool"), 0755u);
}

TEST_F(RestoreFolderTrust, UndoFollowsNoLinkThatWasNotThereAtTheRun) {
    const std::string base = dir_.Path("restore");
    const std::string folder = RewriteKept(base, dir_.Path("tree/page.txt"), "new text\n");
    ASSERT_FALSE(folder.empty());
    // The folder the run wrote in becomes a link to another folder with a file of that name
    // holding the run's new text.
    dir_.MakeDir("elsewhere");
    dir_.WriteFile("elsewhere/page.txt", "new text\n");
    ASSERT_EQ(rename(dir_.Path("tree").c_str(), dir_.Path("moved").c_str()), 0);
    dir_.Symlink(dir_.Path("elsewhere"), "tree");

    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 0);
    ASSERT_EQ(outcome.refused.size(), 1u);
    EXPECT_NE(outcome.refused[0].reason.find("without following a link"), std::string::npos)
        << outcome.refused[0].reason;
    EXPECT_EQ(dir_.ReadFile("elsewhere/page.txt"), "new text\n");
    EXPECT_EQ(dir_.ReadFile("moved/page.txt"), "new text\n");
}

TEST_F(RestoreFolderTrust, UndoKeepsPermissionsTheUserChoseSinceTheRun) {
    const std::string base = dir_.Path("restore");
    ASSERT_EQ(chmod(dir_.Path("tree/page.txt").c_str(), 0640), 0);
    const std::string folder = RewriteKept(base, dir_.Path("tree/page.txt"), "new text\n");
    ASSERT_FALSE(folder.empty());
    ASSERT_EQ(chmod(dir_.Path("tree/page.txt").c_str(), 0600), 0);
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    EXPECT_EQ(dir_.ReadFile("tree/page.txt"), "old text\n");
    EXPECT_EQ(Mode("tree/page.txt"), 0600u);
}

TEST_F(RestoreFolderTrust, PruningRemovesALinkedFilesFolderAsALink) {
    const std::string base = dir_.Path("restore");
    ASSERT_FALSE(RewriteKept(base, dir_.Path("tree/page.txt"), "new text\n").empty());
    // An old restore point whose "files" is a link to a folder that must survive.
    dir_.MakeDir("restore/20000101_000000_000");
    dir_.WriteFile("restore/20000101_000000_000/journal",
                   "ferret restore point 1\ncreated\t946684800.000000000\n");
    dir_.MakeDir("precious");
    dir_.WriteFile("precious/keep.txt", "mine");
    dir_.Symlink(dir_.Path("precious"), "restore/20000101_000000_000/files");
    PruneRestorePoints(base, 1);
    EXPECT_EQ(dir_.ReadFile("precious/keep.txt"), "mine");
    EXPECT_EQ(dir_.Names("restore").size(), 1u);
    EXPECT_EQ(access(dir_.Path("restore/20000101_000000_000").c_str(), F_OK), -1);
}

// A file of several blocks, its last one short, comes back byte for byte with its times, and
// nothing is left beside it.
TEST_F(RestoreFolderTrust, UndoPutsBackAFileOfManyBlocksByteForByte) {
    std::mt19937 random(4711);
    std::string original((std::size_t{3} << 20) + 12345, '\0');
    for (char& c : original) {
        c = static_cast<char>(random());
    }
    dir_.WriteFile("tree/big.bin", original);
    dir_.SetTimes("tree/big.bin", 1000000000, 1100000000);
    const std::string folder = RewriteKept(dir_.Path("restore"), dir_.Path("tree/big.bin"), "new");
    ASSERT_FALSE(folder.empty());
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    EXPECT_TRUE(outcome.refused.empty());
    EXPECT_TRUE(dir_.ReadFile("tree/big.bin") == original);
    struct stat info {};
    ASSERT_EQ(stat(dir_.Path("tree/big.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(dir_.Names("tree"), (std::vector<std::string>{"big.bin", "page.txt"}));
}

// A kept copy changed since, at its full size, is found out while it is copied back: the file
// stays as it is and the new file made for it goes.
TEST_F(RestoreFolderTrust, AKeptCopyDamagedAtItsFullSizeIsNotPutBack) {
    const std::string folder =
        RewriteKept(dir_.Path("restore"), dir_.Path("tree/page.txt"), "new text\n");
    ASSERT_FALSE(folder.empty());
    // Overwritten in place, at the same size.
    {
        Fd copy(open((folder + "/files/000001").c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_GE(copy.get(), 0);
        ASSERT_EQ(pwrite(copy.get(), "OLD", 3, 0), 3);
    }
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 0);
    ASSERT_EQ(outcome.refused.size(), 1u);
    EXPECT_NE(outcome.refused[0].reason.find("its kept copy is damaged"), std::string::npos)
        << outcome.refused[0].reason;
    EXPECT_EQ(dir_.ReadFile("tree/page.txt"), "new text\n");
    EXPECT_EQ(dir_.Names("tree"), std::vector<std::string>{"page.txt"});
}

// An undo that runs out of memory for one file tells that file and goes on: it never aborts.
TEST_F(RestoreFolderTrust, AnUndoOutOfMemoryTellsTheFileInsteadOfAborting) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator does not fail under an address-space limit";
#endif
    const std::string folder =
        RewriteKept(dir_.Path("restore"), dir_.Path("tree/page.txt"), "new text\n");
    ASSERT_FALSE(folder.empty());
    const auto mapped = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmSize:", 0) == 0) {
                return std::stoul(line.substr(7)) * 1024;
            }
        }
        return 0ul;
    };
    const std::string failure = testing::RunLimited(20, 512, [&] {
        std::vector<void*> held;
        held.reserve(std::size_t{1} << 20);
        // Nothing more may be mapped, and what the heap has free is taken too but for a little
        // room for small things: never enough for a block of the file.
        const rlimit limit{mapped(), RLIM_INFINITY};
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            return false;
        }
        while (held.size() < held.capacity()) {
            void* const taken = malloc(4096);
            if (taken == nullptr) {
                break;
            }
            held.push_back(taken);
        }
        for (int i = 0; i < 32 && !held.empty(); ++i) {
            free(held.back());
            held.pop_back();
        }
        UndoOutcome outcome;
        return UndoRestorePoint(folder, outcome).ok() && outcome.restored == 0 &&
               outcome.refused.size() == 1 &&
               outcome.refused[0].reason.find("not enough memory") != std::string::npos;
    });
    EXPECT_EQ(failure, "");
    EXPECT_EQ(dir_.ReadFile("tree/page.txt"), "new text\n");
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    EXPECT_EQ(dir_.ReadFile("tree/page.txt"), "old text\n");
}

// The last rewrite's content goes when the run that wrote it is undone, never through a link,
// and not when a later run has written it since.
TEST_F(RestoreFolderTrust, UndoRemovesTheLastRewritesContentOfItsOwnRun) {
    const std::string base = dir_.Path("restore");
    std::string folder = RewriteKept(base, dir_.Path("tree/page.txt"), "new text\n");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(KeepLastRewrite("new text\n").ok());
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    EXPECT_EQ(access(LastRewritePath().c_str(), F_OK), -1);

    // A later run's content stays.
    folder = RewriteKept(base, dir_.Path("tree/page.txt"), "new text\n");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(KeepLastRewrite("a later run's text\n").ok());
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    std::ifstream later(LastRewritePath());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(later), {}), "a later run's text\n");

    // A link there is not followed, nor is what it points to removed.
    folder = RewriteKept(base, dir_.Path("tree/page.txt"), "new text\n");
    ASSERT_FALSE(folder.empty());
    dir_.WriteFile("elsewhere.txt", "new text\n");
    ASSERT_EQ(unlink(LastRewritePath().c_str()), 0);
    ASSERT_EQ(symlink(dir_.Path("elsewhere.txt").c_str(), LastRewritePath().c_str()), 0);
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    struct stat info {};
    EXPECT_EQ(lstat(LastRewritePath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(dir_.ReadFile("elsewhere.txt"), "new text\n");
    unlink(LastRewritePath().c_str());
}

// RemoveLeftovers removes the new files a killed run left, and nothing else that may stand at
// such a name: one test per guard, each beside a real leftover that does go.
struct LeftoverCase {
    const char* what;  // what stands at the leftover's name
    bool needs_root;
    // Puts the thing that must stay at `path`; `made_before` is a time before the run began.
    std::function<void(TempDir&, const std::string& path, time_t made_before)> make;
};

class LeftoverGuards : public ::testing::TestWithParam<LeftoverCase> {};

TEST_P(LeftoverGuards, LeaveAloneWhatTheRunCannotHaveMade) {
    const LeftoverCase& guard = GetParam();
    if (guard.needs_root && geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a file to another user";
    }
    TempDir dir;
    dir.WriteFile("tree/real.txt", "old");
    dir.WriteFile("tree/guarded.txt", "old");
    const std::string base = dir.Path("restore");
    const std::string real_left = dir.Path("tree/.real.txt.ferret-Real01");
    const std::string guarded_left = dir.Path("tree/.guarded.txt.ferret-Guard1");
    const time_t before_run = time(nullptr) - 3600;
    {
        std::unique_ptr<RestorePoint> point;
        ASSERT_TRUE(RestorePoint::Create(base, "old", "new", dir.Path("tree"), point).ok());
        const std::string fields = "\t0\t0\t3\t644\t0\t0\t1.0\t1.0\t";
        ASSERT_TRUE(point
                        ->Record({"file\t1\t" + dir.Path("tree/real.txt") + fields +
                                      ".real.txt.ferret-Real01",
                                  "file\t2\t" + dir.Path("tree/guarded.txt") + fields +
                                      ".guarded.txt.ferret-Guard1"})
                        .ok());
        dir.WriteFile("tree/.real.txt.ferret-Real01", "new");
        guard.make(dir, guarded_left, before_run);
    }  // killed: no "end"
    struct stat before {};
    ASSERT_EQ(lstat(guarded_left.c_str(), &before), 0);
    EXPECT_EQ(RemoveLeftovers(base), std::vector<std::string>{real_left}) << guard.what;
    EXPECT_EQ(access(real_left.c_str(), F_OK), -1);
    struct stat after {};
    ASSERT_EQ(lstat(guarded_left.c_str(), &after), 0) << guard.what << " was removed";
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
}

const LeftoverCase kLeftoverCases[] = {
    {"Fifo", false,
     [](TempDir&, const std::string& path, time_t) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
    // A link to a new file of ours: were the link followed, what it leads to would pass.
    {"Link", false,
     [](TempDir& dir, const std::string& path, time_t) {
         dir.WriteFile("elsewhere/new.txt", "new");
         ASSERT_EQ(symlink(dir.Path("elsewhere/new.txt").c_str(), path.c_str()), 0);
     }},
    {"OtherUsersFile", true,
     [](TempDir&, const std::string& path, time_t) {
         Fd file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
         ASSERT_GE(file.get(), 0);
         ASSERT_EQ(lchown(path.c_str(), kOtherUser, kOtherUser), 0);
     }},
    {"FileOlderThanTheRun", false,
     [](TempDir&, const std::string& path, time_t made_before) {
         Fd file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
         ASSERT_GE(file.get(), 0);
         const timespec times[2] = {{made_before, 0}, {made_before, 0}};
         ASSERT_EQ(futimens(file.get(), times), 0);
     }},
};

std::string LeftoverCaseName(const ::testing::TestParamInfo<LeftoverCase>& param) {
    return param.param.what;
}

INSTANTIATE_TEST_SUITE_P(RemoveLeftovers, LeftoverGuards, ::testing::ValuesIn(kLeftoverCases),
                         LeftoverCaseName);

}  // namespace
}  // namespace ferret
