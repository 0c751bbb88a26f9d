#include "settings/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

// Each test gets its own configuration and home folders: QSettings caches files by path.
class SettingsTest : public ::testing::Test {
  protected:
    static std::string Get(const char* name) { return GetSettingValue(kSettingsKey, name, "dflt"); }

    testing::TempDir root_;
    testing::ScopedEnv config_{"XDG_CONFIG_HOME", root_.Path("config")};
    testing::ScopedEnv home_{"HOME", root_.Path("home")};
};

TEST_F(SettingsTest, SavedTextsReadBackAndEmptyOnesGiveTheDefault) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kFileFilterMask, "*.txt;*.htm").ok());
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "2").ok());
    EXPECT_EQ(Get(kFileFilterMask), "*.txt;*.htm");
    EXPECT_EQ(Get(kReportType), "2");
    EXPECT_NE(root_.ReadFile("config/Mallo/Ferret.conf").find("ReportType=2"), std::string::npos);

    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "").ok());
    EXPECT_EQ(Get(kReportType), "dflt");
    EXPECT_EQ(Get(kExtList), "dflt");
    EXPECT_EQ(GetSettingValue("SOFTWARE\\Mallo", kFileFilterMask, "dflt"), "dflt");
}

TEST_F(SettingsTest, FailedWritesReturnAnErrorAndKeepTheFile) {
    const std::string damaged = "ReportType=3\n[Unclosed\n";
    root_.WriteFile("config/Mallo/Ferret.conf", damaged);
    const Status status = SaveSettingValue(kSettingsKey, kReportType, "1");
    EXPECT_EQ(status.number(), 26001);
    EXPECT_EQ(status.source(), "ferret.cRegistry");
    EXPECT_EQ(root_.ReadFile("config/Mallo/Ferret.conf"), damaged);
    EXPECT_EQ(Get(kReportType), "dflt");

    root_.WriteFile("blocker", "a regular file");
    setenv("XDG_CONFIG_HOME", root_.Path("blocker/config").c_str(), 1);
    EXPECT_EQ(SaveSettingValue(kSettingsKey, kReportType, "1").description(),
              "Failed to create registry Key: 'SOFTWARE\\Mallo\\Ferret");
}

TEST(SettingHelpersTest, SettingAsIntConvertsWholeNumbersOnly) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"0", 0},           {"-1", -1},  {"-10", -10},
        {" 42 ", 42},       {"+7", 7},   {"2147483647", INT_MAX},
        {"", 99},           {"abc", 99}, {"1.5", 99},
        {"12abc", 99},      {"+-1", 99}, {"-", 99},
        {"2147483648", 99},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingAsInt(c.text, 99), c.expected) << "'" << c.text << "'";
    }
}

}  // namespace
}  // namespace ferret
