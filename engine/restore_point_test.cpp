#include "engine/restore_point.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/content_replace.h"
#include "testsupport/temp_dir.h"
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

}  // namespace
}  // namespace ferret
