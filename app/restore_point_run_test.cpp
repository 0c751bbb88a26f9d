#include "engine/restore_point.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "app/headless_view.h"
#include "app/run_driver.h"
#include "settings/settings.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;

struct FileState {
    std::string bytes;
    mode_t mode = 0;
    timespec modified{};
};

class RestorePointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreFolder, Base()).ok());
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreQuantity, "10").ok());
        dir_.WriteFile("tree/a.txt", "old one\r\nold two\r\n");
        chmod(dir_.Path("tree/a.txt").c_str(), 0640);
        dir_.SetTimes("tree/a.txt", 1000000000, 1000000100);
        dir_.WriteFile("tree/sub/run.pl", "#!/bin/sh\necho old\n");
        chmod(dir_.Path("tree/sub/run.pl").c_str(), 0755);
        dir_.WriteFile("tree/data.txt", std::string("old\0\xff\xfe old", 10));
        dir_.WriteFile("tree/quiet.txt", "nothing here");
        fields_.folder = dir_.Path("tree");
        fields_.file_mask = "*.*";
        fields_.search_text = "old";
        fields_.replace_text = "new";
    }
    void TearDown() override {
        (void)SaveSettingValue(kSettingsKey, kReportType, "0");
        (void)SaveSettingValue(kSettingsKey, kRestoreFolder, "");
        (void)SaveSettingValue(kSettingsKey, kRestoreQuantity, "");
    }
    std::string Base() const { return dir_.Path("restore"); }
    FileState State(const std::string& relative) const {
        FileState state;
        state.bytes = dir_.ReadFile(relative);
        struct stat info {};
        EXPECT_EQ(stat(dir_.Path(relative).c_str(), &info), 0);
        state.mode = info.st_mode & 07777;
        state.modified = info.st_mtim;
        return state;
    }
    void ExpectState(const std::string& relative, const FileState& expected) const {
        const FileState now = State(relative);
        EXPECT_EQ(now.bytes, expected.bytes) << relative;
        EXPECT_EQ(now.mode, expected.mode) << relative;
        EXPECT_EQ(now.modified.tv_sec, expected.modified.tv_sec) << relative;
        EXPECT_EQ(now.modified.tv_nsec, expected.modified.tv_nsec) << relative;
    }
    void Replace(const std::string& replacement = "new") {
        fields_.replace_text = replacement;
        driver_.StartProcess({RunKind::kReplace, fields_});
    }

    TempDir dir_;
    SearchFields fields_;
    HeadlessView view_;
    RunDriver driver_{view_};
};

TEST_F(RestorePointTest, ReplaceThenUndoGivesBackEveryByteModeAndTime) {
    const std::vector<std::string> files = {"tree/a.txt", "tree/sub/run.pl", "tree/data.txt",
                                            "tree/quiet.txt"};
    std::vector<FileState> before;
    for (const std::string& file : files) {
        before.push_back(State(file));
    }
    Replace();
    EXPECT_EQ(driver_.StringsFound(), 5);
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "new one\r\nnew two\r\n");
    const std::string folder = driver_.RestorePointFolder();
    ASSERT_EQ(folder.rfind(Base() + "/", 0), 0u) << folder;
    EXPECT_NE(view_.ReportText().find("Restore point (Tools > Undo Last Replace): \n" + folder),
              std::string::npos)
        << view_.ReportText();

    const std::vector<RestorePointInfo> points = ListRestorePoints(Base());
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].folder, folder);
    EXPECT_EQ(points[0].Pending(), 3);  // the file without hits was never touched
    EXPECT_EQ(points[0].search_text, "old");
    EXPECT_EQ(points[0].replace_text, "new");
    EXPECT_EQ(points[0].start_folder, dir_.Path("tree"));

    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 3);
    EXPECT_TRUE(outcome.refused.empty());
    EXPECT_TRUE(outcome.removed);
    for (std::size_t i = 0; i < files.size(); ++i) {
        ExpectState(files[i], before[i]);
    }
    EXPECT_TRUE(ListRestorePoints(Base()).empty());
    EXPECT_EQ(dir_.Names("restore"), std::vector<std::string>{});
    EXPECT_EQ(dir_.Names("tree"),
              (std::vector<std::string>{"a.txt", "data.txt", "quiet.txt", "sub"}));
}

TEST_F(RestorePointTest, UndoLeavesFilesChangedAfterTheRunAndCanBeRepeated) {
    const FileState a = State("tree/a.txt");
    const FileState run = State("tree/sub/run.pl");
    Replace();
    const std::string folder = driver_.RestorePointFolder();
    const std::string written = dir_.ReadFile("tree/sub/run.pl");
    dir_.WriteFile("tree/sub/run.pl", "#!/bin/sh\necho edited by hand\n");
    unlink(dir_.Path("tree/data.txt").c_str());

    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    ASSERT_EQ(outcome.refused.size(), 2u);
    std::vector<std::string> refused = {outcome.refused[0].path, outcome.refused[1].path};
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(refused,
              (std::vector<std::string>{dir_.Path("tree/data.txt"), dir_.Path("tree/sub/run.pl")}));
    for (const UndoOutcome::Refusal& refusal : outcome.refused) {
        // Each reason says where the original still is.
        EXPECT_NE(refusal.reason.find(folder + "/files/"), std::string::npos) << refusal.reason;
    }
    EXPECT_FALSE(outcome.removed);
    ExpectState("tree/a.txt", a);
    EXPECT_EQ(dir_.ReadFile("tree/sub/run.pl"), "#!/bin/sh\necho edited by hand\n");

    // The restore point stays with the files still to restore; once the hand edit is taken
    // back, the second undo finishes the job and the restore point goes.
    const std::vector<RestorePointInfo> points = ListRestorePoints(Base());
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].Pending(), 2);
    dir_.WriteFile("tree/sub/run.pl", written);
    dir_.WriteFile("tree/data.txt", "");
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    ASSERT_EQ(outcome.refused.size(), 1u);
    EXPECT_EQ(outcome.refused[0].path, dir_.Path("tree/data.txt"));
    EXPECT_EQ(dir_.ReadFile("tree/sub/run.pl"), run.bytes);
    EXPECT_EQ(State("tree/sub/run.pl").mode, 0755u);
}

TEST_F(RestorePointTest, TheQuantityKeepsTheNewestAndZeroKeepsNone) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreQuantity, "2").ok());
    // Each run changes the text the one before wrote.
    const char* const steps[] = {"one", "two", "three"};
    std::string search = "old";
    for (const char* step : steps) {
        fields_.search_text = search;
        Replace(step);
        search = step;
    }
    std::vector<RestorePointInfo> points = ListRestorePoints(Base());
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].replace_text, "three");  // newest first
    EXPECT_EQ(points[1].replace_text, "two");
    EXPECT_EQ(dir_.Names("restore").size(), 2u);

    // Undoing both in order brings back the text of the first run, not the original.
    for (const RestorePointInfo& point : points) {
        UndoOutcome outcome;
        ASSERT_TRUE(UndoRestorePoint(point.folder, outcome).ok());
        EXPECT_EQ(outcome.restored, 3);
    }
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "one one\r\none two\r\n");

    EXPECT_EQ(dir_.Names("restore"), std::vector<std::string>{});

    // A run that rewrites nothing leaves no restore point behind; -1 keeps every one.
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreQuantity, "-1").ok());
    fields_.search_text = "absent";
    Replace("x");
    EXPECT_TRUE(driver_.RestorePointFolder().empty());
    search = "one";
    for (const char* step : {"x", "y", "z"}) {
        fields_.search_text = search;
        Replace(step);
        search = step;
    }
    EXPECT_EQ(ListRestorePoints(Base()).size(), 3u);

    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreQuantity, "0").ok());
    fields_.search_text = "z";
    Replace("four");
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "four four\r\nfour two\r\n");
    EXPECT_TRUE(driver_.RestorePointFolder().empty());
    EXPECT_EQ(view_.ReportText().find("Restore point"), std::string::npos);
    EXPECT_EQ(dir_.Names("restore").size(), 3u);
}

TEST_F(RestorePointTest, NoRestorePointMeansNoRunAndNothingTouched) {
    dir_.WriteFile("restore", "a file where the folder should be");
    const FileState a = State("tree/a.txt");
    Replace();
    EXPECT_TRUE(driver_.ReplaceRefused());
    EXPECT_EQ(driver_.Results(), nullptr);
    EXPECT_EQ(driver_.StringsFound(), 0);
    ExpectState("tree/a.txt", a);
    ASSERT_EQ(view_.Messages().size(), 1u);
    EXPECT_EQ(view_.Messages()[0].rfind(
                  "Restore Point: No restore point can be made in '" + Base() + "'", 0),
              0u)
        << view_.Messages()[0];
    EXPECT_NE(view_.Messages()[0].find("Nothing was replaced"), std::string::npos);
    // A search is not held back by it.
    driver_.StartProcess({RunKind::kSearch, fields_});
    EXPECT_FALSE(driver_.ReplaceRefused());
    EXPECT_EQ(driver_.StringsFound(), 5);
}

TEST_F(RestorePointTest, CopiesInsideTheSearchedTreeAreNeverRewritten) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreFolder, dir_.Path("tree/kept")).ok());
    const FileState a = State("tree/a.txt");
    Replace("new");
    // Only the kept copies still hold "old": a second run finds them and leaves them alone.
    Replace("older");
    EXPECT_EQ(driver_.StringsFound(), 0);
    EXPECT_TRUE(driver_.RestorePointFolder().empty());
    const std::vector<RestorePointInfo> points = ListRestorePoints(dir_.Path("tree/kept"));
    ASSERT_EQ(points.size(), 1u);
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(points[0].folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 3);
    ExpectState("tree/a.txt", a);
}

TEST_F(RestorePointTest, ATreeThatReachesTheRestoreFolderThroughALinkLeavesItAlone) {
    const FileState a = State("tree/a.txt");
    fields_.file_mask = "*";  // the journal and the copies have no extension
    symlink(Base().c_str(), dir_.Path("tree/backup").c_str());
    Replace("new");
    const std::string first = driver_.RestorePointFolder();
    ASSERT_FALSE(first.empty());
    const std::string journal =
        dir_.ReadFile("restore/" + first.substr(Base().size() + 1) + "/journal");
    // The second run changes "new" back to "old": it must not reach the first run's copies or
    // journal through the link.
    fields_.search_text = "new";
    Replace("old");
    const std::string second = driver_.RestorePointFolder();
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(driver_.StringsFound(), 5);
    EXPECT_EQ(dir_.ReadFile("restore/" + first.substr(Base().size() + 1) + "/journal"), journal);
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(second, outcome).ok());
    EXPECT_EQ(outcome.restored, 3);
    ASSERT_TRUE(UndoRestorePoint(first, outcome).ok());
    EXPECT_EQ(outcome.restored, 3);
    EXPECT_TRUE(outcome.refused.empty());
    ExpectState("tree/a.txt", a);
}

TEST_F(RestorePointTest, AReplacementEqualToTheMatchLeavesTheFilesUntouched) {
    const FileState a = State("tree/a.txt");
    struct stat before {};
    ASSERT_EQ(stat(dir_.Path("tree/a.txt").c_str(), &before), 0);
    fields_.search_text = "o(l)d";
    fields_.regex = true;
    driver_.SetUseRegex(true);
    Replace("o$1d");
    EXPECT_EQ(driver_.StringsFound(), 5);  // the hits still count
    ExpectState("tree/a.txt", a);
    struct stat after {};
    ASSERT_EQ(stat(dir_.Path("tree/a.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_TRUE(driver_.RestorePointFolder().empty());  // nothing was kept
    EXPECT_TRUE(ListRestorePoints(Base()).empty());
}

TEST(RestoreJournal, OddPathsAndACutLastLineReadBack) {
    TempDir dir;
    const std::string odd = dir.Path("tab\there\nnew line \\ back");
    dir.WriteFile("tab\there\nnew line \\ back", "before");
    std::unique_ptr<RestorePoint> point;
    ASSERT_TRUE(RestorePoint::Create(dir.Path("points"), "a\tb", "c\\nd", "/x\ny", point).ok());
    struct stat info {};
    ASSERT_EQ(stat(odd.c_str(), &info), 0);
    ASSERT_TRUE(point->Keep(odd, info, "before", "after").ok());
    EXPECT_EQ(point->Files(), 1);
    const std::string folder = point->Folder();
    point.reset();
    {
        // A crash in the middle of the next line.
        std::ofstream journal(folder + "/journal", std::ios::app);
        journal << "file\t2\t/some/where\t0123";
    }
    RestorePointInfo info_read;
    ASSERT_TRUE(ReadRestorePoint(folder, info_read).ok());
    EXPECT_EQ(info_read.search_text, "a\tb");
    EXPECT_EQ(info_read.replace_text, "c\\nd");
    EXPECT_EQ(info_read.start_folder, "/x\ny");
    ASSERT_EQ(info_read.entries.size(), 1u);
    EXPECT_EQ(info_read.entries[0].path, odd);
    EXPECT_EQ(info_read.entries[0].old_checksum, ContentChecksum("before"));
    EXPECT_EQ(info_read.entries[0].new_checksum, ContentChecksum("after"));

    // The file never got its new content (the run ended first): undo finds it as it was and
    // counts it as nothing put back.
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 0);
    EXPECT_TRUE(outcome.removed);
    EXPECT_EQ(dir.ReadFile("tab\there\nnew line \\ back"), "before");

    // Folders that are not restore points are neither listed nor removed.
    dir.WriteFile("points/notes/journal", "my own journal\n");
    EXPECT_TRUE(ListRestorePoints(dir.Path("points")).empty());
    PruneRestorePoints(dir.Path("points"), 0);
    EXPECT_EQ(dir.ReadFile("points/notes/journal"), "my own journal\n");
    EXPECT_FALSE(RemoveRestorePoint(dir.Path("points/notes")).ok());
}

// Undo, too, writes the original beside the file before it takes the file's place.
TEST(RestoreJournal, UndoPutsBackAFileWithAsLongANameAsTheFolderAllows) {
    TempDir dir;
    const std::string name(static_cast<std::size_t>(pathconf(dir.path().c_str(), _PC_NAME_MAX)),
                           'n');
    dir.WriteFile(name, "before");
    std::unique_ptr<RestorePoint> point;
    ASSERT_TRUE(
        RestorePoint::Create(dir.Path("points"), "before", "after", dir.path(), point).ok());
    struct stat info {};
    ASSERT_EQ(stat(dir.Path(name).c_str(), &info), 0);
    ASSERT_TRUE(point->Keep(dir.Path(name), info, "before", "after").ok());
    const std::string folder = point->Folder();
    point.reset();
    dir.WriteFile(name, "after");

    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    for (const UndoOutcome::Refusal& refusal : outcome.refused) {
        ADD_FAILURE() << refusal.reason;
    }
    EXPECT_EQ(dir.ReadFile(name), "before");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{name, "points"}));
}

}  // namespace
}  // namespace ferret
