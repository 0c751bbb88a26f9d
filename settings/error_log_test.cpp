#include "settings/error_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDateTime>
#include <atomic>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"
#include "util/app_locale.h"

namespace ferret {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.emplace_back();
    }
    return parts;
}

// Settings and log in a fresh folder per test; the messages the user would be shown are counted.
class ErrorLogTest : public ::testing::Test {
  protected:
    // An entry the log could not take is a box for the user.
    template <typename... Args>
    void Log(const Args&... args) {
        if (!LogError(args...)) {
            ++boxes_;
        }
    }
    void SetDataFolder(const std::string& relative) {
        setenv("FERRET_HOME", root_.Path(relative).c_str(), 1);
    }
    void SetLogging(const std::string& text) {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kLogging, text).ok());
    }
    bool LogExists() const {
        struct stat info {};
        return lstat(root_.Path("data/ferret.log").c_str(), &info) == 0;
    }
    // The log's lines, each split into its fields.
    std::vector<std::vector<std::string>> Entries() const {
        const std::string text = root_.ReadFile("data/ferret.log");
        EXPECT_TRUE(!text.empty() && text.back() == '\n');
        EXPECT_EQ(text.find('\r'), std::string::npos);
        std::vector<std::vector<std::string>> entries;
        for (const std::string& line : Split(text.substr(0, text.size() - 1), '\n')) {
            entries.push_back(Split(line, '\t'));
        }
        return entries;
    }

    testing::TempDir root_;
    testing::ScopedEnv config_{"XDG_CONFIG_HOME", root_.Path("config")};
    testing::ScopedEnv data_{"FERRET_HOME", root_.Path("data")};
    std::atomic<int> boxes_ = 0;
};

TEST_F(ErrorLogTest, OffUnlessLoggingIsExactlyTrueOnEveryCall) {
    Log("frmMain: StartProcess", "5", "no setting");
    EXPECT_FALSE(LogExists());
    for (const char* text : {"False", "true", " True"}) {
        SetLogging(text);
        Log("frmMain: StartProcess", "5", text);
        EXPECT_FALSE(LogExists()) << text;
    }
    root_.WriteFile("blocker", "a regular file");
    SetDataFolder("blocker/data");
    Log("frmMain: StartProcess", "5", "still off");
    EXPECT_EQ(boxes_, 0);

    SetDataFolder("data");
    SetLogging("True");
    Log("frmMain: StartProcess", "5", "on");
    SetLogging("False");
    Log("frmMain: StartProcess", "5", "off again");
    EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(ErrorLogTest, EntryIsOneLineOfFourFieldsInAPrivateFile) {
    SetLogging("True");
    const std::string before = FormatGeneralDateTime(QDateTime::currentDateTime());
    Log("frmMain: BuildFileList", "13", "Type mismatch");
    const std::string after = FormatGeneralDateTime(QDateTime::currentDateTime());
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0].size(), 4u);
    EXPECT_TRUE(entries[0][0] == before || entries[0][0] == after) << entries[0][0];
    EXPECT_EQ(entries[0][1], "frmMain: BuildFileList");
    EXPECT_EQ(entries[0][2], "13");
    EXPECT_EQ(entries[0][3], "Type mismatch");
    struct stat info {};
    ASSERT_EQ(stat(root_.Path("data/ferret.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(boxes_, 0);
}

TEST_F(ErrorLogTest, EntriesAreAppendedOldestFirstAndStayOneLine) {
    root_.WriteFile("data/ferret.log", "an earlier entry\n");
    SetLogging("True");
    Log("modMruList: SaveSearchList", "1", "first");
    Log("frmMain: StopPause", "7", "");
    Log("frmMain:\tStop", "8", "one\r\ntwo\tthree\n");
    Log("frmOptions: SaveAllSettings", Status());
    Log("frmOptions: SaveAllSettings", Status::Error(26001, "Failed", "ferret.cRegistry"));
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0], std::vector<std::string>{"an earlier entry"});
    const std::vector<std::vector<std::string>> expected = {
        {"modMruList: SaveSearchList", "1", "first"},
        {"frmMain: StopPause", "7", ""},
        {"frmMain: Stop", "8", "one  two three "},
        {"frmOptions: SaveAllSettings", "26001", "Failed"},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(entries[i + 1].size(), 4u);
        EXPECT_EQ(std::vector(entries[i + 1].begin() + 1, entries[i + 1].end()), expected[i]);
    }
}

TEST_F(ErrorLogTest, UnwritableLogShowsOneMessagePerEntry) {
    SetLogging("True");
    root_.WriteFile("blocker", "a regular file");
    SetDataFolder("blocker/data");
    EXPECT_NO_THROW(Log("frmMain: StartProcess", "1", "a"));
    EXPECT_NO_THROW(Log("frmMain: StartProcess", "2", "b"));
    EXPECT_EQ(boxes_, 2);

    SetDataFolder("data");
    root_.MakeDir("data/ferret.log");
    Log("frmMain: StartProcess", "3", "the log is a folder");
    EXPECT_EQ(boxes_, 3);

    SetDataFolder("linked");
    root_.WriteFile("elsewhere.txt", "untouched\n");
    root_.Symlink(root_.Path("elsewhere.txt"), "linked/ferret.log");
    Log("frmMain: StartProcess", "4", "links are not followed");
    EXPECT_EQ(boxes_, 4);
    EXPECT_EQ(root_.ReadFile("elsewhere.txt"), "untouched\n");
}

TEST_F(ErrorLogTest, TheLogGoesNowhereAnotherUserLeadsNorIntoTheirFile) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give files and links to another user";
    }
    SetLogging("True");
    root_.MakeDir("private");
    ASSERT_EQ(chmod(root_.Path("private").c_str(), 0700), 0);
    root_.MakeDir("shared");
    ASSERT_EQ(chmod(root_.Path("shared").c_str(), 01777), 0);
    root_.Symlink(root_.Path("private"), "shared/data");
    ASSERT_EQ(lchown(root_.Path("shared/data").c_str(), 65534, 65534), 0);
    SetDataFolder("shared/data");
    Log("frmMain: StartProcess", "1", "through their link");
    EXPECT_EQ(boxes_, 1);
    EXPECT_TRUE(root_.Names("private").empty());

    SetDataFolder("shared");
    root_.WriteFile("shared/ferret.log", "their log\n");
    ASSERT_EQ(chmod(root_.Path("shared/ferret.log").c_str(), 0644), 0);
    ASSERT_EQ(lchown(root_.Path("shared/ferret.log").c_str(), 65534, 65534), 0);
    Log("frmMain: StartProcess", "2", "into their file");
    EXPECT_EQ(boxes_, 2);
    EXPECT_EQ(root_.ReadFile("shared/ferret.log"), "their log\n");

    // A log of our own in the same folder is written.
    ASSERT_EQ(lchown(root_.Path("shared/ferret.log").c_str(), 0, 0), 0);
    Log("frmMain: StartProcess", "3", "ours");
    EXPECT_EQ(boxes_, 2);
    EXPECT_NE(root_.ReadFile("shared/ferret.log").find("\t3\tours\n"), std::string::npos);
}

}  // namespace
}  // namespace ferret
