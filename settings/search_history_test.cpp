#include "settings/search_history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "settings/ini_file.h"
#include "settings/settings.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using Entries = std::vector<std::string>;

// The history file and the error log in a fresh data folder, settings in a fresh configuration
// folder, for each test.
class SearchHistoryTest : public ::testing::Test {
  protected:
    void TurnLoggingOn() { ASSERT_TRUE(SaveSettingValue(kSettingsKey, kLogging, "True").ok()); }
    std::string History() const { return root_.ReadFile("data/ferret.dat"); }
    void WriteHistory(const std::string& text) const { root_.WriteFile("data/ferret.dat", text); }
    bool HistoryExists() const {
        struct stat info {};
        return lstat(root_.Path("data/ferret.dat").c_str(), &info) == 0;
    }
    std::string Log() const {
        struct stat info {};
        return lstat(root_.Path("data/ferret.log").c_str(), &info) == 0
                   ? root_.ReadFile("data/ferret.log")
                   : std::string();
    }
    std::vector<std::string> Sections() const {
        IniFile ini;
        ini.SetPath(root_.Path("data/ferret.dat"));
        std::vector<std::string> names;
        ini.EnumerateAllSections(names);
        return names;
    }

    testing::TempDir root_;
    testing::ScopedEnv config_{"XDG_CONFIG_HOME", root_.Path("config")};
    testing::ScopedEnv data_{"FERRET_HOME", root_.Path("data")};
};

TEST_F(SearchHistoryTest, EmptyListLeavesTheStoredHistory) {
    EXPECT_TRUE(GetSearchList().empty());
    SaveSearchList({});
    EXPECT_FALSE(HistoryExists()) << "reading and saving nothing create nothing";
    SaveSearchList({"kept"});
    const std::string before = History();
    SaveSearchList({});
    EXPECT_EQ(History(), before);
}

TEST_F(SearchHistoryTest, ClearThenExitWithoutSearchingLeavesNoSection) {
    TurnLoggingOn();
    ClearSearchList();
    EXPECT_FALSE(HistoryExists()) << "clearing without a file is quiet";
    WriteHistory("[Other]\r\nx=1\r\n");
    SaveSearchList({"a", "b"});
    ASSERT_EQ(GetSearchList(), (Entries{"a", "b"}));
    ClearSearchList();
    EXPECT_TRUE(GetSearchList().empty());
    SaveSearchList({});  // the box is empty at exit
    EXPECT_EQ(Sections(), std::vector<std::string>{"Other"});
    EXPECT_EQ(History(), "[Other]\r\nx=1\r\n");
    EXPECT_EQ(Log(), "");
}

TEST_F(SearchHistoryTest, KeysOutOfOrderLoadInFileOrderAndSaveRenumbers) {
    WriteHistory(
        "[search list]\nitem_2=c\nITEM_0=a\nitem_5=\nother=b\nitem_0=duplicate key\n"
        "[Search List]\nitem_9=later block\n");
    const Entries loaded = GetSearchList();
    EXPECT_EQ(loaded, (Entries{"c", "a", "b", "later block"}));
    SaveSearchList(loaded);
    EXPECT_EQ(History(),
              "[Search List]\r\nitem_0=c\r\nitem_1=a\r\nitem_2=b\r\nitem_3=later block\r\n");
}

TEST_F(SearchHistoryTest, LoadReadsTheFileAsCiniDoes) {
    const std::string files[] = {
        "[Search List]\r\nitem_0=plain\r\n",
        "\xEF\xBB\xBF[ search LIST ]  \n  item_0 =  padded  \nitem_1=\"  quoted  \"\n"
        "item_2='single'\nitem_3=\"unbalanced'\n; item_4=comment\nno equals sign\n"
        "[unclosed section\nitem_5=still inside\n=no name\nITEM_1=second of a key\n"
        "[Other]\nitem_6=outside\n[Search List]\r\nitem_7=caf\xE9\n",
        "[Search List]\nitem_0=\"\"\nitem_1=''\nitem_2= \nitem_3=x=y\n[]\nitem_4=z\n",
        "item_0=before any section\n[Search List]",
    };
    for (const std::string& file : files) {
        WriteHistory(file);
        IniFile ini;
        ini.SetPath(root_.Path("data/ferret.dat"));
        ini.SetSection("Search List");
        std::vector<std::string> keys;
        ini.EnumerateCurrentSection(keys);
        Entries expected;
        for (const std::string& key : keys) {
            ini.SetKey(key);
            if (std::string value = ini.Value(); !value.empty()) {
                expected.push_back(value);
            }
        }
        EXPECT_EQ(GetSearchList(), expected) << file;
    }
    EXPECT_EQ(GetSearchList(), Entries{}) << "the last file has an empty section";
}

TEST_F(SearchHistoryTest, SavingKeepsTheRestOfTheFile) {
    WriteHistory(
        "; Ferret\n[Other]\nx=1\n[Search List]\nitem_0=old\n; comment in the section\n"
        "[Tail]\ny=2\n[SEARCH LIST]\nitem_1=old too\n");
    SaveSearchList({"new"});
    EXPECT_EQ(History(),
              "; Ferret\r\n[Other]\r\nx=1\r\n[Search List]\r\nitem_0=new\r\n[Tail]\r\ny=2\r\n");
    EXPECT_EQ(GetSearchList(), Entries{"new"});
}

// Found by fuzzing: of two byte order marks at the start, reading skips the first only, so the
// first line is no section header; saving dropped the first and made it one.
TEST_F(SearchHistoryTest, SavingKeepsASecondByteOrderMarkInTheFirstLine) {
    const std::string bom = "\xEF\xBB\xBF";
    WriteHistory(bom + bom + "[Hidden]\r\nx=1\r\n[Other]\r\ny=2\r\n");
    ASSERT_EQ(Sections(), std::vector<std::string>{"Other"});
    SaveSearchList({"new"});
    EXPECT_EQ(Sections(), (std::vector<std::string>{"Other", "Search List"}));
    EXPECT_EQ(History(), bom + bom + "[Hidden]\r\nx=1\r\n[Other]\r\ny=2\r\n[Search List]\r\n" +
                             "item_0=new\r\n");
    EXPECT_EQ(GetSearchList(), Entries{"new"});
}

TEST_F(SearchHistoryTest, EntriesAProfileLineCannotHoldAreLeftOut) {
    TurnLoggingOn();
    bool log_failed = true;
    SaveSearchList({"a", "", "two\nlines", "cr\rhere", "b", std::string("\0", 1)}, &log_failed);
    EXPECT_EQ(History(), "[Search List]\r\nitem_0=a\r\nitem_1=b\r\n");
    const std::string log = Log();
    std::size_t entries = 0;
    for (std::size_t at = log.find("modMruList: SaveSearchList"); at != std::string::npos;
         at = log.find("modMruList: SaveSearchList", at + 1)) {
        ++entries;
    }
    EXPECT_EQ(entries, 2u) << log;
    EXPECT_FALSE(log_failed);
}

TEST_F(SearchHistoryTest, AThousandEntriesAllLoad) {
    Entries entries;
    for (int i = 0; i < 1000; ++i) {
        entries.push_back("search text number " + std::to_string(i));
    }
    SaveSearchList(entries);
    EXPECT_EQ(GetSearchList(), entries) << "nothing is lost past entry 922";
    EXPECT_NE(History().find("item_999=search text number 999\r\n"), std::string::npos);
}

TEST_F(SearchHistoryTest, FailuresAreLoggedUnderTheirLabels) {
    TurnLoggingOn();
    root_.MakeDir("data/ferret.dat");  // a folder where the file belongs
    bool log_failed[3] = {true, true, true};
    EXPECT_TRUE(GetSearchList(&log_failed[0]).empty());
    SaveSearchList({"x"}, &log_failed[1]);
    ClearSearchList(&log_failed[2]);
    const std::string log = Log();
    for (const char* label : {"modMruList: GetSearchList", "modMruList: SaveSearchList",
                              "modMruList: ClearSearchList"}) {
        EXPECT_NE(log.find(std::string("\t") + label + "\t"), std::string::npos) << label;
    }
    EXPECT_FALSE(log_failed[0] || log_failed[1] || log_failed[2]);
    const Status status = WriteSearchList({"x"});
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.description().find("ferret.dat"), std::string::npos);
}

// The window tells the user of each entry the log could not take.
TEST_F(SearchHistoryTest, EntriesTheLogCannotTakeAreReported) {
    TurnLoggingOn();
    root_.WriteFile("blocker", "a regular file where the data folder belongs");
    setenv("FERRET_HOME", root_.Path("blocker/data").c_str(), 1);
    bool log_failed[2] = {false, false};
    EXPECT_TRUE(GetSearchList(&log_failed[0]).empty());
    SaveSearchList({"x"}, &log_failed[1]);
    EXPECT_TRUE(log_failed[0]);
    EXPECT_TRUE(log_failed[1]);
}

TEST(FindComboItem, ExactAndPrefixMatchesIgnoreCase) {
    const Entries items = {"Alpha", "beta", "ÉCOLE", "alphabet", "Beta"};
    const struct {
        const char* text;
        bool exact;
        int index;
    } cases[] = {
        {"alpha", true, 0}, {"ALPHABET", true, 3}, {"alph", true, -1},     {"beta", true, 1},
        {"BETA", true, 1},  {"école", true, 2},    {"alph", false, 0},     {"ALPHAB", false, 3},
        {"BET", false, 1},  {"éc", false, 2},      {"betamax", false, -1}, {"x", false, -1},
        {"", false, 0},     {"", true, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindComboItem(items, c.text, c.exact), c.index)
            << '"' << c.text << "\" exact=" << c.exact;
    }
    EXPECT_EQ(FindComboItem({}, "a", true), -1);
    EXPECT_EQ(FindComboItem({}, "", false), -1);
}

}  // namespace
}  // namespace ferret
