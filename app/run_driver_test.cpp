#include "app/run_driver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "engine/content_replace.h"
#include "settings/settings.h"
#include "testsupport/recording_view.h"
#include "testsupport/temp_dir.h"
#include "util/app_paths.h"

namespace ferret {
namespace {

using testing::RecordingView;
using testing::TempDir;

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class RunDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
        for (int i = 1; i <= 40; ++i) {
            const std::string name = "f" + std::string(i < 10 ? "0" : "") + std::to_string(i);
            dir_.WriteFile(name + ".txt", i % 4 == 0 ? "hit hit" : "miss");
        }
        fields_.folder = dir_.path();
        fields_.file_mask = "*.txt";
        fields_.search_text = "hit";
    }
    void TearDown() override { (void)SaveSettingValue(kSettingsKey, kReportType, "0"); }

    // The summary lists exactly the files with hits, as many as the totals say.
    void ExpectReportListsEveryFileCounted() const {
        const std::string& report = view_.ReportText();
        std::int32_t files = 0;
        std::int32_t strings = 0;
        for (const FileRecord& file : *driver_.Results()) {
            if (file.ItemsFound() > 0) {
                ++files;
                strings += file.ItemsFound();
                EXPECT_NE(report.find("]\t.../" + file.Filename() + "\n"), std::string::npos)
                    << file.Filename() << "\n"
                    << report;
            }
        }
        EXPECT_EQ(driver_.FilesWithHits(), files);
        EXPECT_NE(report.find("found " + std::to_string(strings) + " times in " +
                              std::to_string(files) + " files out of 40"),
                  std::string::npos)
            << report;
    }

    TempDir dir_;
    SearchFields fields_;
    RecordingView view_;
    RunDriver driver_{view_};
};

// Whether a progress text tells file `number`: of all, or while the walk still lists.
bool AtFile(const std::string& text, int number) {
    const std::string at = "...searching in file " + std::to_string(number) + " ";
    return text == at + "of 40" || text == at + "(still listing)";
}

TEST_F(RunDriverTest, SearchRunCountsLogsAndReports) {
    driver_.StartProcess({RunKind::kSearch, fields_});
    ASSERT_NE(driver_.Results(), nullptr);
    // Files without hits are counted, not kept.
    EXPECT_EQ(driver_.Results()->Total(), 40);
    EXPECT_EQ(driver_.Results()->Count(), 10);
    EXPECT_EQ(driver_.FilesWithHits(), 10);
    EXPECT_EQ(driver_.StringsFound(), 20);
    EXPECT_EQ(driver_.Results()->Item(dir_.Path("f04.txt"))->ItemsFound(), 2);
    EXPECT_EQ(driver_.Results()->Item(dir_.Path("f05.txt")), nullptr);
    const std::string log = view_.RunLog();
    EXPECT_EQ(log.substr(0, log.find("File List Time: ")),
              "Items Searched: 42\nFiles Matched: 40\n");
    EXPECT_NE(log.find("  seconds\n\n20 string(s) found in \n10 file(s)"), std::string::npos)
        << log;
    EXPECT_EQ(view_.StatusText(StatusPanel::kSearched), "Items Searched: 42");
    EXPECT_EQ(view_.StatusText(StatusPanel::kMatched), "Files Matched: 10");
    EXPECT_EQ(view_.StatusText(StatusPanel::kProgress).rfind("Elapse Process Time: ", 0), 0u);
    EXPECT_FALSE(view_.Running());
    const std::vector<std::string> panel = view_.Progress();
    EXPECT_NE(std::find(panel.begin(), panel.end(), "...searching in file 40 of 40"), panel.end());
    EXPECT_NE(view_.ReportText().find("[2]\t.../f04.txt"), std::string::npos);
    EXPECT_TRUE(driver_.HasHighlight());
    EXPECT_EQ(driver_.HighlightText(), "hit");
}

TEST_F(RunDriverTest, WithoutSearchTextOnlyTheListIsBuilt) {
    fields_.search_text.clear();
    driver_.StartProcess({RunKind::kSearch, fields_});
    EXPECT_EQ(driver_.StringsFound(), 0);
    for (const FileRecord& file : *driver_.Results()) {
        EXPECT_EQ(file.ItemsFound(), 0);
    }
    EXPECT_EQ(view_.RunLog().find("string(s) found"), std::string::npos);
    EXPECT_NE(view_.ReportText().find("Your search resulted in 40 total files matched."),
              std::string::npos);
    EXPECT_FALSE(driver_.HasHighlight());
}

TEST_F(RunDriverTest, StopEndsTheContentStageAfterTheCurrentFile) {
    view_.on_status = [this](StatusPanel panel, const std::string& text) {
        if (panel == StatusPanel::kProgress && AtFile(text, 8)) {
            driver_.PressStop();
        }
    };
    driver_.StartProcess({RunKind::kSearch, fields_});
    EXPECT_FALSE(view_.Running());
    EXPECT_TRUE(driver_.Stopped());
    // The report shows every file the run finished (f04 and f08 at least, and any the workers
    // running ahead had searched by then), as its totals count them.
    ExpectReportListsEveryFileCounted();
    EXPECT_GE(driver_.FilesWithHits(), 2);
    EXPECT_NE(view_.ReportText().find(".../f04.txt"), std::string::npos) << view_.ReportText();
    EXPECT_NE(view_.ReportText().find(".../f08.txt"), std::string::npos) << view_.ReportText();
}

TEST_F(RunDriverTest, PauseHoldsTheRunUntilResumedOrStopped) {
    std::thread presser;
    view_.on_status = [&](StatusPanel panel, const std::string& text) {
        // The progress may tell file 3 twice: while the walk lists, then of all.
        if (panel == StatusPanel::kProgress && AtFile(text, 3) && !presser.joinable()) {
            EXPECT_TRUE(driver_.PressPause());
            presser = std::thread([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                EXPECT_TRUE(driver_.IsPaused());
                EXPECT_FALSE(driver_.PressPause());  // resume
            });
        }
    };
    driver_.StartProcess({RunKind::kSearch, fields_});
    ASSERT_TRUE(presser.joinable());
    presser.join();
    EXPECT_EQ(driver_.FilesWithHits(), 10);

    view_.on_status = [&](StatusPanel panel, const std::string& text) {
        if (panel == StatusPanel::kProgress && AtFile(text, 3) && !presser.joinable()) {
            driver_.PressPause();
            presser = std::thread([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                driver_.PressStop();
            });
        }
    };
    driver_.StartProcess({RunKind::kSearch, fields_});
    ASSERT_TRUE(presser.joinable());
    presser.join();
    EXPECT_TRUE(driver_.Stopped());
    ExpectReportListsEveryFileCounted();
    // The run is over: its Stop and Pause end with it, so its reports are filled whole.
    EXPECT_FALSE(driver_.IsPaused());
}

// A pattern that cannot be used is told and logged, and nothing is listed or searched.
TEST_F(RunDriverTest, InvalidPatternRefusesTheRunAndLogs) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kLogging, "True").ok());
    fields_.search_text = "(unclosed";
    fields_.regex = true;
    driver_.StartProcess({RunKind::kSearch, fields_});
    (void)SaveSettingValue(kSettingsKey, kLogging, "False");
    EXPECT_TRUE(driver_.PatternRefused());
    EXPECT_TRUE(!driver_.Results() || driver_.Results()->Count() == 0);
    EXPECT_EQ(driver_.StringsFound(), 0);
    const std::string log = ReadWhole(DataFilePath("ferret.log"));
    EXPECT_NE(log.find("frmMain: SearchInFileList\t5017"), std::string::npos) << log;
    ASSERT_FALSE(view_.Messages().empty());
}

TEST_F(RunDriverTest, ReportTypesAndReplaceWithoutTexts) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "7").ok());
    driver_.StartProcess({RunKind::kSearch, fields_});
    EXPECT_TRUE(view_.ReportText().empty());
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "2").ok());
    fields_.replace_text.clear();
    driver_.StartProcess({RunKind::kReplace, fields_});
    ASSERT_EQ(view_.Messages().size(), 1u);
    EXPECT_EQ(view_.Messages()[0],
              "Missing Information: A search and replace text must be supplied");
    EXPECT_EQ(view_.ReportText().find("File(s):"), std::string::npos);  // summary without list
    EXPECT_NE(view_.ReportText().find("Your search string was found 0 times"), std::string::npos);
    EXPECT_FALSE(driver_.HasHighlight());
}

// ~~temprpl.frr holds what the last rewritten file got, even when that is nothing at all.
TEST_F(RunDriverTest, LastRewriteKeptEvenWhenItLeftTheFileEmpty) {
    TempDir tree;
    fields_.folder = tree.path();
    fields_.search_text = "hit";
    fields_.replace_text = "kept";
    tree.WriteFile("a.txt", "hit x");
    tree.WriteFile("b.txt", "hit");
    driver_.StartProcess({RunKind::kReplace, fields_});
    ASSERT_EQ(driver_.FilesWithHits(), 2);
    EXPECT_EQ(ReadWhole(LastRewritePath()), "kept");

    tree.WriteFile("a.txt", "hit x");
    tree.WriteFile("b.txt", "hit");
    fields_.replace_text = "^^Blank";
    driver_.StartProcess({RunKind::kReplace, fields_});
    ASSERT_EQ(driver_.FilesWithHits(), 2);
    ASSERT_EQ(tree.ReadFile("a.txt"), " x");
    ASSERT_EQ(tree.ReadFile("b.txt"), "");
    EXPECT_EQ(ReadWhole(LastRewritePath()), "");
}

TEST_F(RunDriverTest, BadSizeTextGivesNoList) {
    fields_.size_option = SearchFields::kSizeSpecified;
    fields_.size_text = "ten";
    driver_.StartProcess({RunKind::kSearch, fields_});
    EXPECT_EQ(driver_.Results(), nullptr);
    EXPECT_FALSE(view_.Running());
    fields_.size_text = " 1 ";
    fields_.size_at_least = false;
    driver_.StartProcess({RunKind::kSearch, fields_});
    ASSERT_NE(driver_.Results(), nullptr);
    EXPECT_EQ(driver_.Results()->Total(), 40);
}

}  // namespace
}  // namespace ferret
