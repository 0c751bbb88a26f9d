#include "settings/search_config.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "settings/ini_file.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using namespace std::string_literals;

bool operator==(const SearchSettings& a, const SearchSettings& b) {
    return a.search == b.search && a.replace == b.replace && a.path == b.path &&
           a.file_mask == b.file_mask && a.sub_folders == b.sub_folders &&
           a.ignore_case == b.ignore_case && a.regex == b.regex &&
           a.skip_folders == b.skip_folders && a.git_ignore == b.git_ignore &&
           a.no_binary == b.no_binary && a.whole_word == b.whole_word && a.archives == b.archives;
}

SearchSettings Settings(std::string search, std::string replace, std::string path, std::string mask,
                        std::int32_t sub_folders, std::int32_t ignore_case, std::int32_t regex) {
    SearchSettings settings;
    settings.search = std::move(search);
    settings.replace = std::move(replace);
    settings.path = std::move(path);
    settings.file_mask = std::move(mask);
    settings.sub_folders = sub_folders;
    settings.ignore_case = ignore_case;
    settings.regex = regex;
    return settings;
}

SearchSettings Sample() {
    return Settings("needle", "thread", "/home/user/web", "*.htm;*.html", 0, 1, 1);
}

class SearchConfigTest : public ::testing::Test {
  protected:
    std::string File() const { return dir_.Path("search.frs"); }
    testing::TempDir dir_;
};

TEST_F(SearchConfigTest, SavesSevenKeysInOrderAndLoadsThemBack) {
    ASSERT_TRUE(SaveSearchSettings(File(), Sample()).ok());
    EXPECT_EQ(dir_.ReadFile("search.frs"),
              "[Search Criteria]\r\n"
              "Search=needle\r\n"
              "Replace=thread\r\n"
              "Path=/home/user/web\r\n"
              "FileMask=*.htm;*.html\r\n"
              "[Options]\r\n"
              "SubFolders=0\r\n"
              "IgnoreCase=1\r\n"
              "RegEx=1\r\n");
    SearchSettings loaded;
    ASSERT_TRUE(LoadSearchSettings(File(), loaded).ok());
    EXPECT_TRUE(loaded == Sample());
}

TEST_F(SearchConfigTest, WhatAWalkLeavesOutIsSavedOnlyWhenUsed) {
    SearchSettings settings = Sample();
    settings.skip_folders = "node_modules;build";
    settings.git_ignore = 1;
    settings.no_binary = 1;
    settings.whole_word = 1;
    settings.archives = 1;
    ASSERT_TRUE(SaveSearchSettings(File(), settings).ok());
    EXPECT_EQ(dir_.ReadFile("search.frs"),
              "[Search Criteria]\r\n"
              "Search=needle\r\n"
              "Replace=thread\r\n"
              "Path=/home/user/web\r\n"
              "FileMask=*.htm;*.html\r\n"
              "SkipFolders=node_modules;build\r\n"
              "[Options]\r\n"
              "SubFolders=0\r\n"
              "IgnoreCase=1\r\n"
              "RegEx=1\r\n"
              "GitIgnore=1\r\n"
              "NoBinary=1\r\n"
              "WholeWord=1\r\n"
              "Archives=1\r\n");
    SearchSettings loaded;
    ASSERT_TRUE(LoadSearchSettings(File(), loaded).ok());
    EXPECT_TRUE(loaded == settings);
    // A file saved before these keys existed loads with none of them.
    ASSERT_TRUE(SaveSearchSettings(File(), Sample()).ok());
    ASSERT_TRUE(LoadSearchSettings(File(), loaded).ok());
    EXPECT_TRUE(loaded == Sample());
    settings.skip_folders = "a\nb";
    EXPECT_FALSE(SaveSearchSettings(File(), settings).ok());
}

TEST_F(SearchConfigTest, SavingOverAFileLeavesOnlyItsTwoSections) {
    dir_.WriteFile("search.frs", "[Extra]\nx=1\n[Options]\nStale=2\n[Search Criteria]\nOld=3\n");
    ASSERT_TRUE(SaveSearchSettings(File(), Sample()).ok());
    IniFile ini;
    ini.SetPath(File());
    EXPECT_EQ(ini.Sections(), "Search Criteria\0Options"s);
    ini.SetSection("Options");
    EXPECT_EQ(ini.INISection(), "SubFolders\0IgnoreCase\0RegEx"s);
}

TEST_F(SearchConfigTest, OptionsThatAreNotWholeNumbersLoadAsZero) {
    const struct {
        const char* name;
        const char* options;
    } cases[] = {{"missing", ""},
                 {"empty", "SubFolders=\nIgnoreCase=\nRegEx=\n"},
                 {"not numbers", "SubFolders=yes\nIgnoreCase=1.5\nRegEx=on\n"},
                 {"out of range", "SubFolders=99999999999\nIgnoreCase=-\nRegEx=0x1\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir_.WriteFile("search.frs",
                       "[Search Criteria]\nSearch=kept\nFileMask=*.txt\n[Options]\n"s + c.options);
        SearchSettings loaded = Settings("x", "y", "z", "w", 5, 5, 5);
        ASSERT_TRUE(LoadSearchSettings(File(), loaded).ok());
        EXPECT_TRUE(loaded == Settings("kept", "", "", "*.txt", 0, 0, 0));
    }
    dir_.WriteFile("search.frs", "[options]\nsubfolders= 1 \nREGEX=\"2\"\n");
    SearchSettings loaded;
    ASSERT_TRUE(LoadSearchSettings(File(), loaded).ok());
    EXPECT_TRUE(loaded == Settings("", "", "", "", 1, 0, 2));
}

TEST_F(SearchConfigTest, FilesThatCannotBeLoadedLeaveTheSettingsUntouched) {
    dir_.MakeDir("folder.frs");
    const struct {
        const char* name;
        int number;
    } cases[] = {{"missing.frs", ENOENT}, {"folder.frs", EISDIR}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SearchSettings settings = Sample();
        const Status status = LoadSearchSettings(dir_.Path(c.name), settings);
        EXPECT_EQ(status.number(), c.number);
        EXPECT_NE(status.description().find(dir_.Path(c.name)), std::string::npos);
        EXPECT_TRUE(settings == Sample());
    }
}

TEST_F(SearchConfigTest, TextsALineCannotHoldAreRefusedAndKeepTheOldFile) {
    dir_.WriteFile("search.frs", "old");
    for (const char* text : {"two\nlines", "cr\r"}) {
        SCOPED_TRACE(text);
        SearchSettings settings = Sample();
        settings.replace = text;
        EXPECT_EQ(SaveSearchSettings(File(), settings).number(), EINVAL);
        EXPECT_EQ(dir_.ReadFile("search.frs"), "old");
    }
}

TEST_F(SearchConfigTest, ReportReplacesARegularFileWithOneLineEnd) {
    dir_.WriteFile("report.log", "a much longer old report\n");
    ASSERT_EQ(chmod(dir_.Path("report.log").c_str(), 0604), 0);
    ASSERT_TRUE(WriteReportFile(dir_.Path("report.log"), "line 1\r\nline 2").ok());
    EXPECT_EQ(dir_.ReadFile("report.log"), "line 1\r\nline 2\n");
    struct stat info {};
    ASSERT_EQ(stat(dir_.Path("report.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);

    ASSERT_TRUE(WriteReportFile(dir_.Path("new.log"), "").ok());
    EXPECT_EQ(dir_.ReadFile("new.log"), "\n");

    dir_.WriteFile("plain", "x");
    const Status failed = WriteReportFile(dir_.Path("plain/r.log"), "text");
    EXPECT_EQ(failed.number(), ENOTDIR);
    EXPECT_NE(failed.description().find(dir_.Path("plain/r.log")), std::string::npos);
    EXPECT_NE(failed.description().find("Not a directory"), std::string::npos);
    dir_.MakeDir("folder.log");
    EXPECT_EQ(WriteReportFile(dir_.Path("folder.log"), "text").number(), EISDIR);
}

TEST_F(SearchConfigTest, ReportGoesIntoAFifoOrDeviceWithoutReplacingIt) {
    dir_.MakeFifo("pipe");
    EXPECT_EQ(WriteReportFile(dir_.Path("pipe"), "nobody reads").number(), ENXIO);

    const int reader = open(dir_.Path("pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(WriteReportFile(dir_.Path("pipe"), "through the pipe").ok());
    char buffer[64] = {};
    const ssize_t got = read(reader, buffer, sizeof buffer);
    close(reader);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0),
              "through the pipe\n");
    struct stat info {};
    ASSERT_EQ(stat(dir_.Path("pipe").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    ASSERT_TRUE(WriteReportFile("/dev/null", "discarded").ok());
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(SearchConfigTest, ReportRefusesDisksAndOtherDevices) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to make a device";
    }
    // A disk's first bytes are never written.
    ASSERT_EQ(mknod(dir_.Path("disk").c_str(), S_IFBLK | 0600, makedev(7, 200)), 0);
    const Status refused = WriteReportFile(dir_.Path("disk"), "report");
    EXPECT_EQ(refused.number(), EPERM);
    EXPECT_NE(refused.description().find("it is a device"), std::string::npos);
    ASSERT_EQ(mknod(dir_.Path("memory").c_str(), S_IFCHR | 0600, makedev(1, 1)), 0);
    EXPECT_EQ(WriteReportFile(dir_.Path("memory"), "report").number(), EPERM);
}

// Another user's things in a shared sticky folder, beside a folder only we may enter.
class SharedOutputTest : public SearchConfigTest {
  protected:
    static constexpr uid_t kOther = 65534;

    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to give files and links to another user";
        }
        dir_.MakeDir("private");
        ASSERT_EQ(chmod(dir_.Path("private").c_str(), 0700), 0);
        dir_.WriteFile("private/shadow", "secret");
        dir_.MakeDir("shared");
        ASSERT_EQ(chmod(dir_.Path("shared").c_str(), 01777), 0);
    }
    void GiveAway(const std::string& relative) const {
        ASSERT_EQ(lchown(dir_.Path(relative).c_str(), kOther, kOther), 0);
    }
    struct stat Lstat(const std::string& relative) const {
        struct stat info {};
        EXPECT_EQ(lstat(dir_.Path(relative).c_str(), &info), 0) << relative;
        return info;
    }
};

TEST_F(SharedOutputTest, EveryFolderOnTheWayFollowsOnlyLinksThatMayBeFollowed) {
    // Their links stand for our private folder and file: nothing is written through them, at
    // any depth.
    dir_.Symlink(dir_.Path("private"), "shared/reports");
    GiveAway("shared/reports");
    dir_.Symlink(dir_.Path("private/shadow"), "shared/report.txt");
    GiveAway("shared/report.txt");
    dir_.MakeDir("private/sub");
    for (const char* output :
         {"shared/reports/shadow", "shared/reports/sub/../shadow", "shared/report.txt"}) {
        const Status refused = WriteReportFile(dir_.Path(output), "report");
        EXPECT_EQ(refused.number(), EPERM) << output;
        EXPECT_NE(refused.description().find("a link that belongs to another user"),
                  std::string::npos)
            << refused.description();
    }
    EXPECT_EQ(dir_.ReadFile("private/shadow"), "secret");
    EXPECT_EQ(dir_.Names("private"), (std::vector<std::string>{"shadow", "sub"}));

    // Their link to their own folder may be followed, but a file of theirs there is theirs to
    // read: not written.
    dir_.MakeDir("theirs");
    GiveAway("theirs");
    dir_.WriteFile("theirs/old.txt", "their text");
    GiveAway("theirs/old.txt");
    dir_.Symlink(dir_.Path("theirs"), "shared/their-folder");
    GiveAway("shared/their-folder");
    EXPECT_EQ(WriteReportFile(dir_.Path("shared/their-folder/old.txt"), "report").number(), EPERM);
    EXPECT_EQ(dir_.ReadFile("theirs/old.txt"), "their text");

    // Our own link to our own folder, on the way and relative, is followed.
    dir_.MakeDir("ours");
    dir_.Symlink("../ours", "shared/mine");
    ASSERT_TRUE(WriteReportFile(dir_.Path("shared/mine/report.txt"), "report").ok());
    EXPECT_EQ(dir_.ReadFile("ours/report.txt"), "report\n");
    // And our own link to our own file.
    dir_.Symlink(dir_.Path("private/shadow"), "mine.txt");
    ASSERT_TRUE(WriteReportFile(dir_.Path("mine.txt"), "report").ok());
    EXPECT_EQ(dir_.ReadFile("private/shadow"), "report\n");
}

TEST_F(SharedOutputTest, ANameAnotherUserMadeFirstIsRefusedAndANewOutputIsOurs) {
    dir_.WriteFile("shared/report.txt", "their text");
    ASSERT_EQ(chmod(dir_.Path("shared/report.txt").c_str(), 0644), 0);
    GiveAway("shared/report.txt");
    const Status refused = WriteOutputFile(dir_.Path("shared/report.txt"), "root's report");
    EXPECT_EQ(refused.number(), EPERM);
    EXPECT_NE(refused.description().find("Cannot write '" + dir_.Path("shared/report.txt") +
                                         "': it belongs to another user"),
              std::string::npos)
        << refused.description();
    EXPECT_EQ(dir_.ReadFile("shared/report.txt"), "their text");
    EXPECT_EQ(Lstat("shared/report.txt").st_uid, kOther);
    EXPECT_EQ(Lstat("shared/report.txt").st_mode & 07777, 0644u);
    EXPECT_EQ(dir_.Names("shared"), (std::vector<std::string>{"report.txt"}));

    // Once they take it away, the name is ours, with our umask.
    ASSERT_EQ(unlink(dir_.Path("shared/report.txt").c_str()), 0);
    const mode_t saved = umask(027);
    const Status written = WriteOutputFile(dir_.Path("shared/report.txt"), "root's report");
    umask(saved);
    ASSERT_TRUE(written.ok()) << written.description();
    EXPECT_EQ(dir_.ReadFile("shared/report.txt"), "root's report");
    EXPECT_EQ(Lstat("shared/report.txt").st_uid, geteuid());
    EXPECT_EQ(Lstat("shared/report.txt").st_mode & 07777, 0640u);
}

TEST_F(SharedOutputTest, AFifoIsWrittenOnlyWhenItIsOurs) {
    dir_.MakeFifo("shared/pipe");
    GiveAway("shared/pipe");
    const int reader = open(dir_.Path("shared/pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const Status refused = WriteReportFile(dir_.Path("shared/pipe"), "root's report");
    EXPECT_EQ(refused.number(), EPERM);
    EXPECT_NE(refused.description().find("belongs to another user"), std::string::npos)
        << refused.description();
    char buffer[64];
    EXPECT_LE(read(reader, buffer, sizeof buffer), 0);
    close(reader);
    EXPECT_TRUE(S_ISFIFO(Lstat("shared/pipe").st_mode));

    // What this process already has open, and /dev/null, are written as ever.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_TRUE(WriteReportFile("/dev/fd/" + std::to_string(ends[1]), "inherited").ok());
    close(ends[1]);
    const ssize_t got = read(ends[0], buffer, sizeof buffer);
    close(ends[0]);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0), "inherited\n");
    EXPECT_TRUE(WriteReportFile("/dev/null", "discarded").ok());
}

}  // namespace
}  // namespace ferret
