#include "reports/summary_report.h"

#include <gtest/gtest.h>

#include "engine/content_search.h"
#include "engine/file_records.h"

namespace ferret {
namespace {

const std::string kDashes(80, '-');

SummaryHeader Header(const std::string& search) {
    SummaryHeader header;
    header.search_text = search;
    header.replace_text = "";
    header.file_mask = "*.txt";
    header.folder = "/data/site";
    header.recursive = true;
    header.version_major = 1;
    header.version_minor = 2;
    header.version_revision = 3;
    return header;
}

SummaryHooks Hooks() {
    SummaryHooks hooks;
    hooks.generated_at = "12/6/2026 5:55:37 AM";
    return hooks;
}

std::string ExpectedHeader(const std::string& search) {
    return kDashes + "\nFerret v1.2.0.3 Results\n" + kDashes + "\nSearch string: " + search +
           "\nReplace string: \n\nFile Mask: *.txt\n\nUse Regular Expressions:  OFF\n"
           "Include subfolders:  ON\nIgnore Case:         OFF\n\nRoot Search Directory: \n"
           "/data/site\n(this will be replaced by .../ in the report section)\n" +
           kDashes + "\n\n";
}

const std::string kCredit =
    "\n\nReport generated: 12/6/2026 5:55:37 AM\n" + kDashes + "\nMallo - https://mallo.org/ferret";

class SummaryReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        files_.Add("a.txt", "/data/site/", "", 0)->SetItemsFound(3);
        files_.Add("b.txt", "/data/site/sub/", "", 0);
        files_.Add("c.txt", "/data/site/sub/data/site/", "", 0)->SetItemsFound(-1);
        files_.Add("d.txt", "/data/site/sub/", "", 0)->SetItemsFound(1);
    }
    FileRecords files_;
};

TEST_F(SummaryReportTest, WithFileListListsFilesWithHits) {
    const std::string report = BuildSummaryReport(&files_, Header("x"), {4, 2}, true, Hooks());
    EXPECT_EQ(report, ExpectedHeader("x") +
                          "File(s):\n   [..] - Items found in the file\n\n"
                          " [3]\t.../a.txt\n"
                          " [1]\t.../sub/d.txt\n"
                          "\n" +
                          kDashes +
                          "\nYour search string was found 4 times in 2 files out of 4 total "
                          "files searched." +
                          kCredit);
}

TEST_F(SummaryReportTest, WithoutSearchTextEveryFileIsListed) {
    const std::string report = BuildSummaryReport(&files_, Header(""), {0, 0}, true, Hooks());
    EXPECT_EQ(report, ExpectedHeader("") +
                          "File(s):\n"
                          " [3]\t.../a.txt\n"
                          ".../sub/b.txt\n"
                          ".../sub.../c.txt\n"  // the folder appears twice: both replaced
                          " [1]\t.../sub/d.txt\n"
                          "\n" +
                          kDashes + "\nYour search resulted in 4 total files matched." + kCredit);
}

TEST_F(SummaryReportTest, WithoutFileListAndWithStop) {
    EXPECT_EQ(BuildSummaryReport(&files_, Header("x"), {4, 2}, false, Hooks()),
              ExpectedHeader("x") + "\n" + kDashes +
                  "\nYour search string was found 4 times in 2 files out of 4 total files "
                  "searched." +
                  kCredit);
    SummaryHooks stopping = Hooks();
    stopping.stop_requested = [] { return true; };
    const std::string stopped = BuildSummaryReport(&files_, Header("x"), {4, 2}, true, stopping);
    EXPECT_NE(stopped.find(".../a.txt"), std::string::npos);
    EXPECT_EQ(stopped.find(".../sub/d.txt"), std::string::npos);
    EXPECT_NE(stopped.find("out of 4 total files searched."), std::string::npos);
}

TEST_F(SummaryReportTest, WhatTheWalkLeftOutIsNamedOnlyWhenUsed) {
    files_.Add("tool", "/data/site/bin/", "", 0)->SetItemsFound(kLeftOutBinary);
    SummaryHeader header = Header("x");
    header.skip_folders = "node_modules;build";
    header.use_ignore_files = true;
    header.skip_binary = true;
    header.binary_left_out = 1;
    const std::string report = BuildSummaryReport(&files_, header, {4, 2}, false, Hooks());
    const std::string plain = ExpectedHeader("x");
    const std::size_t before_dashes = plain.size() - kDashes.size() - 2;
    EXPECT_EQ(report, plain.substr(0, before_dashes) +
                          "\nFolders skipped:     node_modules;build\n"
                          "Skip files that .gitignore skips:  ON\n"
                          "Skip binary files:   ON\n" +
                          plain.substr(before_dashes) + "\n" + kDashes +
                          "\nYour search string was found 4 times in 2 files out of 4 total "
                          "files searched. 1 binary file was left out." +
                          kCredit);
    // A list run's left-out files are not in its list; none left out says nothing.
    header.search_text.clear();
    header.binary_left_out = 2;
    EXPECT_NE(BuildSummaryReport(&files_, header, {0, 0}, false, Hooks())
                  .find("resulted in 5 total files matched. 2 binary files were left out."),
              std::string::npos);
    header.binary_left_out = 0;
    EXPECT_EQ(BuildSummaryReport(&files_, header, {0, 0}, false, Hooks()).find("left out"),
              std::string::npos);
}

TEST_F(SummaryReportTest, SpreadsheetHitsShareASheetLineIgnoringCase) {
    FileRecords files;
    FileRecord* book = files.Add("book.xls", "/data/site/", "", 0);
    book->SetItemsFound(3);
    book->SheetHits().Add("Sheet1", "$A$1");
    book->SheetHits().Add("SHEET1", "B2");
    book->SheetHits().Add("Other", "C3");
    SummaryHooks hooks = Hooks();
    hooks.handled_by_office = [](const std::string&) { return true; };
    const std::string report = BuildSummaryReport(&files, Header("x"), {3, 1}, true, hooks);
    EXPECT_NE(report.find(" [3]\t.../book.xls\n\t\tSheet: Sheet1\n\t\t\tA1\n\t\t\tB2\n"
                          "\n\t\tSheet: Other\n\t\t\tC3\n\n"),
              std::string::npos)
        << report;
}

// One line a listed file: a name holding a line feed or an escape sequence forges no row, and
// the start folder and restore point are written the same way; ordinary names stay as they are.
TEST(SummaryReport, NamesWithControlCharactersKeepOneLineAFile) {
    FileRecords files;
    files.Add("a\n [9]\t.../.bashrc", "/data/site/", "", 0)->SetItemsFound(1);
    files.Add("\x1B[2Jx\r.txt", "/data/site/n\tm/", "", 0)->SetItemsFound(2);
    files.Add("two words \xC3\xA9.txt", "/data/site/", "", 0)->SetItemsFound(3);
    SummaryHeader header = Header("x");
    header.folder = "/data/site\n";
    header.restore_point = "/r/\x1B]0;t\a";
    files.Add("moved.txt", "/data/site\n/", "", 0)->SetItemsFound(4);
    const std::string report = BuildSummaryReport(&files, header, {10, 4}, true, Hooks());
    EXPECT_NE(report.find("Root Search Directory: \n\"/data/site\\n\"\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find("Restore point (Tools > Undo Last Replace): \n\"/r/\\033]0;t\\a\"\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("File(s):\n   [..] - Items found in the file\n\n"
                          " [1]\t\"/data/site/a\\n [9]\\t.../.bashrc\"\n"
                          " [2]\t\"/data/site/n\\tm/\\033[2Jx\\r.txt\"\n"
                          " [3]\t/data/site/two words \xC3\xA9.txt\n"
                          " [4]\t.../moved.txt\n\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find('\x1B'), std::string::npos);
    EXPECT_EQ(report.find('\r'), std::string::npos);
}

TEST(ShortenedFolder, RootAndRepeats) {
    EXPECT_EQ(ShortenedFolder("/usr/include/", "/usr/include"), ".../");
    EXPECT_EQ(ShortenedFolder("/usr/include/sys/", "/usr/include/"), ".../sys/");
    EXPECT_EQ(ShortenedFolder("/etc/", "/"), ".../etc/");
    EXPECT_EQ(ShortenedFolder("/a/b/a/", "/a"), ".../b.../");
    EXPECT_EQ(ShortenedFolder("/A/x/", "/a"), "/A/x/");  // case-sensitive
}

TEST(SummaryReport, NoResultsYet) {
    const std::string report = BuildSummaryReport(nullptr, Header(""), {0, 0}, true, Hooks());
    EXPECT_NE(report.find("Your search resulted in 0 total files matched."), std::string::npos);
}

}  // namespace
}  // namespace ferret
