#include "settings/app_settings.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"
#include "util/app_paths.h"

namespace ferret {
namespace {

// Each test gets its own configuration, home and data folders.
class AppSettingsTest : public ::testing::Test {
  protected:
    // The settings file as another program would write it.
    void WriteFile(const std::string& text) const {
        root_.WriteFile("config/Mallo/Ferret.conf", text);
    }
    static void Store(const char* name, const std::string& text) {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, name, text).ok()) << name;
    }

    testing::TempDir root_;
    testing::ScopedEnv config_{"XDG_CONFIG_HOME", root_.Path("config")};
    testing::ScopedEnv home_{"HOME", root_.Path("home")};
    testing::ScopedEnv data_{"FERRET_HOME", root_.Path("data")};
};

TEST_F(AppSettingsTest, AnEmptyStoreOrEmptyTextsGiveTheDefaults) {
    const AppSettings settings = ReadAppSettings();
    EXPECT_EQ(settings.startup_folder, root_.Path("home"));
    EXPECT_EQ(settings.report_type, ReportType::kFileList);
    EXPECT_EQ(settings.restore_folder, root_.Path("data") + "/restore");
    EXPECT_EQ(settings.editor_command, "");
    struct stat info {};
    EXPECT_NE(stat(root_.Path("config").c_str(), &info), 0) << "reading creates no folder";

    // Empty texts are the defaults too.
    WriteFile("[General]\nReportType=\nHitLineContext=\nlogging=\nRestoreFolder=\n");
    const AppSettings empty = ReadAppSettings();
    EXPECT_EQ(empty.report_type, ReportType::kFileList);
    EXPECT_EQ(empty.hit_line_context, 0);
    EXPECT_FALSE(empty.logging);
    EXPECT_EQ(empty.restore_folder, root_.Path("data") + "/restore");
}

TEST_F(AppSettingsTest, StoredTextsReadAsTheirFieldsSay) {
    WriteFile(
        "[General]\nReportType=4\nFerretHeight=7200\nSearchSubfolders=0\nAutoReportUpdate=False\n"
        "logging=True\nFileHandlerExcel=True\next_list=\".log,.sh\"\npreview_font_size=14\n"
        "RestoreQuantity=-1\nHitLineContext=2\nStartupFolder=%HOME%/projects\n"
        "LongestMatchMB=512\nEditorCommand=\"code -g %f:%l:%c\"\n");
    const AppSettings settings = ReadAppSettings();
    EXPECT_EQ(settings.report_type, ReportType::kHitLines);
    EXPECT_EQ(settings.ferret_height, 7200);
    EXPECT_FALSE(settings.search_subfolders);
    EXPECT_FALSE(settings.auto_report_update);
    EXPECT_TRUE(settings.logging);
    EXPECT_TRUE(settings.file_handler_excel);
    EXPECT_FALSE(settings.file_handler_word);
    EXPECT_EQ(settings.extension_list, ".log,.sh");
    EXPECT_EQ(settings.preview_font_size, 14);
    EXPECT_EQ(settings.restore_quantity, -1);
    EXPECT_EQ(settings.hit_line_context, 2);
    EXPECT_EQ(settings.longest_match_mb, 512);
    // Its placeholders come back as written.
    EXPECT_EQ(settings.editor_command, "code -g %f:%l:%c");
    EXPECT_EQ(settings.startup_folder, root_.Path("home") + "/projects");
}

TEST_F(AppSettingsTest, CorruptNumbersFallBackToTheFieldsDefault) {
    WriteFile(
        "[General]\nFerretWidth=wide\nRestoreQuantity=many\nHitLineContext=1.5\n"
        "SearchSubfolders=yes\nlogging=true\n");
    const AppSettings settings = ReadAppSettings();
    EXPECT_EQ(settings.ferret_width, -1);
    EXPECT_EQ(settings.restore_quantity, 10);
    EXPECT_EQ(settings.hit_line_context, 0);
    EXPECT_EQ(settings.longest_match_mb, 64);
    // A switch holds exactly "1" or "True"; any other text is off.
    EXPECT_FALSE(settings.search_subfolders);
    EXPECT_FALSE(settings.logging);

    // Numbers beyond a field's range are brought within it.
    WriteFile(
        "[General]\nRestoreQuantity=-7\nHitLineContext=9\npreview_font_size=12\n"
        "LongestMatchMB=0\n");
    const AppSettings beyond = ReadAppSettings();
    EXPECT_EQ(beyond.restore_quantity, -1);
    EXPECT_EQ(beyond.hit_line_context, 3);
    EXPECT_EQ(beyond.longest_match_mb, 1);
    EXPECT_EQ(beyond.preview_font_size, 14);
}

TEST_F(AppSettingsTest, TheColorSchemeFollowsTheDesktopUnlessACodeSaysOtherwise) {
    EXPECT_EQ(ReadAppSettings().color_scheme, ColorSchemeChoice::kDesktop);
    EXPECT_EQ(SettingDefault(kColorScheme), "0");
    Store(kColorScheme, "2");
    EXPECT_EQ(ReadAppSettings().color_scheme, ColorSchemeChoice::kDark);
    Store(kColorScheme, " 1 ");
    EXPECT_EQ(ReadAppSettings().color_scheme, ColorSchemeChoice::kLight);
    for (const char* stored : {"3", "-1", "dark", "1.5"}) {
        Store(kColorScheme, stored);
        EXPECT_EQ(ReadAppSettings().color_scheme, ColorSchemeChoice::kDesktop) << stored;
    }
}

// A run with such a code draws no report, so the snapshot does not claim one.
TEST_F(AppSettingsTest, AReportCodeThatNamesNoReportIsNone) {
    for (const char* stored : {"5", "-1", "two", "1.5"}) {
        Store(kReportType, stored);
        EXPECT_EQ(ReadAppSettings().report_type, std::nullopt) << stored;
    }
    Store(kReportType, " 3 ");
    EXPECT_EQ(ReadAppSettings().report_type, ReportType::kSummaryWithFileList);
}

TEST_F(AppSettingsTest, TheStoreSeesWhatAnotherWriterChanged) {
    WriteFile("[General]\nReportType=2\n");
    EXPECT_EQ(ReadAppSettings().report_type, ReportType::kSummary);
    EXPECT_EQ(GetSettingValue(kSettingsKey, kReportType, ""), "2");

    // Replaced by a rename, as editors and QSettings write.
    root_.WriteFile("config/Mallo/Ferret.conf.new", "[General]\nReportType=1\nlogging=True\n");
    ASSERT_EQ(rename(root_.Path("config/Mallo/Ferret.conf.new").c_str(),
                     root_.Path("config/Mallo/Ferret.conf").c_str()),
              0);
    EXPECT_EQ(ReadAppSettings().report_type, ReportType::kStructured);
    EXPECT_TRUE(ReadAppSettings().logging);

    // Rewritten in place to the same size: only its time tells.
    WriteFile("[General]\nReportType=3\nlogging=True\n");
    root_.SetTimes("config/Mallo/Ferret.conf", 2'000'000'000, 2'000'000'000);
    EXPECT_EQ(ReadAppSettings().report_type, ReportType::kSummaryWithFileList);

    // Removed: the defaults again.
    ASSERT_EQ(unlink(root_.Path("config/Mallo/Ferret.conf").c_str()), 0);
    EXPECT_EQ(ReadAppSettings().report_type, ReportType::kFileList);
    EXPECT_FALSE(ReadAppSettings().logging);
}

TEST_F(AppSettingsTest, WritersStoreTheirValuesAsTheyAreRead) {
    AppSettings options = ReadAppSettings();
    options.restore_folder = root_.Path("undo");
    options.restore_quantity = 0;
    options.report_type = ReportType::kSummary;
    options.hit_line_context = 3;
    options.logging = true;
    options.display_quick_links = true;
    options.auto_report_update = false;
    options.file_handler_word = true;
    options.extension_list = ".log";
    options.editor_command = "kate -l %l -c %c \"%f\"";
    options.color_scheme = ColorSchemeChoice::kDark;
    ASSERT_TRUE(SaveOptionSettings(options).ok());
    ASSERT_TRUE(SavePreviewFontSize(14).ok());
    AppSettings window;
    window.startup_folder = root_.Path("start");
    window.ferret_height = 9000;
    window.file_filter_mask = "*.txt";
    window.search_subfolders = false;
    window.search_size_option = 3;
    EXPECT_TRUE(SaveWindowSettings(window).empty());

    const AppSettings read = ReadAppSettings();
    EXPECT_EQ(read.restore_folder, root_.Path("undo"));
    EXPECT_EQ(read.restore_quantity, 0);
    EXPECT_EQ(read.report_type, ReportType::kSummary);
    EXPECT_EQ(read.hit_line_context, 3);
    EXPECT_TRUE(read.logging);
    EXPECT_TRUE(read.display_quick_links);
    EXPECT_FALSE(read.auto_report_update);
    EXPECT_TRUE(read.file_handler_word);
    EXPECT_FALSE(read.file_handler_excel);
    EXPECT_EQ(read.extension_list, ".log");
    EXPECT_EQ(read.editor_command, "kate -l %l -c %c \"%f\"");
    EXPECT_EQ(read.color_scheme, ColorSchemeChoice::kDark);
    EXPECT_EQ(GetSettingValue(kSettingsKey, kColorScheme, ""), "2");
    EXPECT_EQ(read.preview_font_size, 14);
    EXPECT_EQ(read.startup_folder, root_.Path("start"));
    EXPECT_EQ(read.ferret_height, 9000);
    EXPECT_EQ(read.file_filter_mask, "*.txt");
    EXPECT_FALSE(read.search_subfolders);
    EXPECT_EQ(GetSettingValue(kSettingsKey, kSearchSizeOpt, ""), "3");
    ASSERT_TRUE(SaveReportType(ReportType::kHitLines).ok());
    EXPECT_EQ(ReadAppSettings().report_type, ReportType::kHitLines);
}

TEST_F(AppSettingsTest, EachOfTheWindowsValuesIsTriedAndFailuresComeBack) {
    const std::string damaged = "ReportType=3\n[Unclosed\n";
    WriteFile(damaged);
    const std::vector<Status> failures = SaveWindowSettings(AppSettings());
    ASSERT_EQ(failures.size(), 14u);
    EXPECT_EQ(failures[12].number(), 26001);
    EXPECT_EQ(SaveOptionSettings(AppSettings()).number(), 26001);
    EXPECT_EQ(root_.ReadFile("config/Mallo/Ferret.conf"), damaged);
}

// The skip text, its history and the two skip switches: none and off until stored, as the
// window and the command line start from them.
TEST_F(AppSettingsTest, TheSkipsDefaultToNoneAndReadAsStored) {
    const AppSettings none = ReadAppSettings();
    EXPECT_EQ(none.skip_folders, "");
    EXPECT_TRUE(none.skip_folders_history.empty());
    EXPECT_FALSE(none.use_ignore_files);
    EXPECT_FALSE(none.skip_binary);
    EXPECT_EQ(SettingDefault(kGitIgnore), "0");
    EXPECT_EQ(SettingDefault(kSkipFoldersHistory), "");

    WriteFile(
        "[General]\nSkipFolders=\"node_modules;build\"\nSkipFoldersHistory=\"a;b\\n\\nc\\r\\na;"
        "b\\nd\"\n"
        "GitIgnore=1\nNoBinary= 1 \n");
    const AppSettings stored = ReadAppSettings();
    EXPECT_EQ(stored.skip_folders, "node_modules;build");
    // Empty lines and the older of a repeat are dropped.
    EXPECT_EQ(stored.skip_folders_history, (std::vector<std::string>{"c", "a;b", "d"}));
    EXPECT_TRUE(stored.use_ignore_files);
    EXPECT_TRUE(stored.skip_binary);

    // A switch is on only for the number 1.
    for (const char* text : {"2", "yes", "True", "-1", "1.0"}) {
        WriteFile(std::string("[General]\nGitIgnore=") + text + "\nNoBinary=" + text + "\n");
        EXPECT_FALSE(ReadAppSettings().use_ignore_files) << text;
        EXPECT_FALSE(ReadAppSettings().skip_binary) << text;
    }
}

TEST_F(AppSettingsTest, TheWindowKeepsTheSkipsAndTheNewestOfTheirHistory) {
    AppSettings window;
    window.skip_folders = ".git;node_modules";
    window.use_ignore_files = true;
    window.skip_binary = true;
    window.search_inside = true;
    for (int i = 0; i < 25; ++i) {
        window.skip_folders_history.push_back("dir" + std::to_string(i));
    }
    // One that a line break would split cannot be kept.
    window.skip_folders_history.push_back("two\nlines");
    EXPECT_TRUE(SaveWindowSettings(window).empty());
    EXPECT_EQ(GetSettingValue(kSettingsKey, kGitIgnore, ""), "1");
    EXPECT_EQ(GetSettingValue(kSettingsKey, kNoBinary, ""), "1");

    const AppSettings read = ReadAppSettings();
    EXPECT_EQ(read.skip_folders, ".git;node_modules");
    EXPECT_TRUE(read.use_ignore_files);
    EXPECT_TRUE(read.skip_binary);
    EXPECT_TRUE(read.search_inside);
    ASSERT_EQ(read.skip_folders_history.size(), AppSettings::kSkipFoldersKept);
    EXPECT_EQ(read.skip_folders_history.front(), "dir5");
    EXPECT_EQ(read.skip_folders_history.back(), "dir24");

    // Switched off and emptied, they read as off and empty again.
    EXPECT_TRUE(SaveWindowSettings(AppSettings()).empty());
    const AppSettings cleared = ReadAppSettings();
    EXPECT_EQ(cleared.skip_folders, "");
    EXPECT_TRUE(cleared.skip_folders_history.empty());
    EXPECT_FALSE(cleared.use_ignore_files);
    EXPECT_FALSE(cleared.skip_binary);
    EXPECT_FALSE(cleared.search_inside);
    EXPECT_EQ(GetSettingValue(kSettingsKey, kArchives, ""), "0");
    EXPECT_EQ(GetSettingValue(kSettingsKey, kNoBinary, ""), "0");
}

// Runs read the settings from their worker threads while the window writes them.
TEST_F(AppSettingsTest, ThreadsReadWholeValuesWhileOneWrites) {
    Store(kExtList, ".aaa");
    std::atomic<bool> done = false;
    std::atomic<int> torn = 0;
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const std::string list = ReadAppSettings().extension_list;
                if (list != ".aaa" && list != ".bbbbbb") {
                    ++torn;
                }
            }
        });
    }
    for (int i = 0; i < 30; ++i) {
        Store(kExtList, i % 2 == 0 ? ".bbbbbb" : ".aaa");
    }
    done = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(ReadAppSettings().extension_list, ".aaa");
}

}  // namespace
}  // namespace ferret
