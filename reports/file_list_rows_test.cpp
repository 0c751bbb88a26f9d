#include "reports/file_list_rows.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <string>
#include <vector>

#include "engine/file_records.h"
#include "testsupport/temp_dir.h"
#include "util/app_locale.h"

namespace ferret {
namespace {

using Texts = std::vector<std::string>;

// Facts that do not depend on the machine's MIME database.
ReportBuildInput Input(bool searched) {
    ReportBuildInput input;
    input.start_folder = "/data/site";
    input.searched = searched;
    input.read_facts = [](const std::string&) { return FileFacts{"Text", true, false, true}; };
    return input;
}

Texts Column(const std::vector<FileListRow>& rows, int column) {
    Texts texts;
    for (const FileListRow& row : rows) {
        texts.push_back(row.text[static_cast<std::size_t>(column)]);
    }
    return texts;
}

TEST(FileListRowsBuild, ColumnTextsAndLeftOutFiles) {
    FileRecords files;
    files.Add("a.txt", "/data/site/sub/", "2.00 MB", 0)->SetItemsFound(12);
    files.Add("b.txt", "/data/site/", "", 0);
    files.Add("c.txt", "/data/site/", "", 0)->SetItemsFound(-1);  // could not be searched
    const FileListRows searched = BuildFileListRows(&files, Input(true));
    ASSERT_EQ(searched.rows.size(), 1u);
    const FileListRow& row = searched.rows[0];
    EXPECT_EQ(row.record, files.Item(1));
    EXPECT_EQ(row.text, (std::array<std::string, kFileListColumnCount>{
                            "a.txt", "(root selected)/sub/", "12", "Text", "2.00 MB", "H S "}));
    EXPECT_EQ(row.size_bytes, 2.0 * 1024 * 1024);
    EXPECT_EQ(files.Item(1)->Filetype(), "Text");
    EXPECT_EQ(Column(BuildFileListRows(&files, Input(false)).rows, kColumnName),
              (Texts{"a.txt", "b.txt", "c.txt"}));
    EXPECT_TRUE(BuildFileListRows(nullptr, Input(false)).rows.empty());
}

TEST(FileListRowsBuild, DisplayLimitCountsTheWholeCollection) {
    EXPECT_GE(kFileListDisplayLimit, 100000);  // large runs are shown
    for (const std::int32_t count : {10, 11}) {
        FileRecords files;
        for (std::int32_t i = 0; i < count; ++i) {
            auto record = std::make_unique<FileRecord>();
            record->SetFilename("f" + std::to_string(i));
            files.AddUnique(std::move(record));
        }
        const bool too_many = count == 11;
        // Searching with no hits: the limit still applies to the collection.
        ReportBuildInput searched = Input(true);
        searched.display_limit = 10;
        EXPECT_EQ(BuildFileListRows(&files, searched).too_many, too_many);
        ReportBuildInput listed = Input(false);
        listed.display_limit = 10;
        const FileListRows built = BuildFileListRows(&files, listed);
        EXPECT_EQ(built.too_many, too_many);
        EXPECT_EQ(built.rows.size(), too_many ? 0u : 10u);
    }
}

TEST(FileListRowsBuild, StopEndsTheFillAfterTheCurrentRow) {
    FileRecords files;
    for (int i = 0; i < 5; ++i) {
        files.Add("f" + std::to_string(i), "/data/site/", "", 0)->SetItemsFound(i % 2);
    }
    int asked = 0;
    ReportBuildInput input = Input(true);
    input.stop_requested = [&asked] { return ++asked == 2; };
    // Asked after shown rows only: f1, then f3 stops.
    EXPECT_EQ(Column(BuildFileListRows(&files, input).rows, kColumnName), (Texts{"f1", "f3"}));
}

TEST(FileListRowsBuild, SystemReaderIsQuietAboutMissingFiles) {
    int boxes = 0;
    testing::TempDir dir;
    dir.WriteFile(".hidden.txt", "text");
    FileRecords files;
    files.Add("missing.txt", "/nonexistent-ferret-folder/", "", 0);
    files.Add(".hidden.txt", dir.path() + "/", "", 0);
    files.Add("missing2.txt", "/nonexistent-ferret-folder/", "", 0);
    ReportBuildInput input = Input(false);
    input.read_facts = nullptr;
    input.log_failed = [&boxes] { ++boxes; };
    const FileListRows built = BuildFileListRows(&files, input);
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(Column(built.rows, kColumnFlags), (Texts{"", "H ", ""}));
    // The missing file after a real one does not take over the real one's type.
    EXPECT_FALSE(built.rows[1].text[kColumnType].empty());
    EXPECT_EQ(built.rows[2].text[kColumnType], "");
}

TEST(FileListRowsTexts, RootSelectedFolderAndFlags) {
    const char* const cases[][3] = {
        {"/data/site/", "/data/site", "(root selected)/"},
        {"/data/site/sub/", "/data/site/", "(root selected)/sub/"},
        {"/data/site/x/data/site/", "/data/site", "(root selected)/x(root selected)/"},
        {"/Data/Site/sub/", "/data/site", "/Data/Site/sub/"},  // case-sensitive
        {"/etc/", "/", "(root selected)/etc/"},
        {"/", "/", "(root selected)/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RootSelectedFolder(c[0], c[1]), c[2]) << c[0] << " in " << c[1];
    }
    EXPECT_EQ(FlagsText({"", false, false, false}), "");
    EXPECT_EQ(FlagsText({"", false, true, false}), "R ");
    EXPECT_EQ(FlagsText({"", true, true, true}), "H R S ");
}

TEST(FileListRowsSize, TextsReadAsBytes) {
    constexpr double kKiB = 1024;
    const std::pair<const char*, double> cases[] = {
        {"", 0},
        {"1,023 bytes", 1023},
        {"1.00 KB", kKiB},
        {"512.0 KB", 512 * kKiB},
        {"1.00 MB", kKiB * kKiB},
        {"3.00 GB", 3 * kKiB * kKiB * kKiB},
        {"12kb", 12 * kKiB},
        {"12 Kb", 12 * kKiB},
        {"unknown", 0},
    };
    for (const auto& [text, bytes] : cases) {
        EXPECT_DOUBLE_EQ(SizeTextBytes(text), bytes) << text;
    }
    SetAppLocale(QLocale(QLocale::German, QLocale::Germany));
    const double group = SizeTextBytes("1.023 bytes");
    const double decimal = SizeTextBytes("1,50 KB");
    SetAppLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_DOUBLE_EQ(group, 1023);
    EXPECT_DOUBLE_EQ(decimal, 1.5 * kKiB);
}

TEST(FileListRowsSort, ByColumnBothWays) {
    std::vector<FileListRow> start;
    const std::tuple<const char*, int, const char*> rows[] = {{"file10", 9, "2.00 MB"},
                                                              {"File9", 10, "3.00 KB"},
                                                              {"banana", 2, ""},
                                                              {"Apple", 100, "1,023 bytes"},
                                                              {"apple", 2, "1.00 GB"}};
    for (const auto& [name, hits, size] : rows) {
        FileListRow row;
        row.text = {name, "", std::to_string(hits), "", size, ""};
        row.items_found = hits;
        row.size_bytes = SizeTextBytes(size);
        start.push_back(row);
    }
    struct Case {
        int column;
        bool ascending;
        Texts names;
    };
    const Case cases[] = {
        // Equal ignoring case: the bytes decide; 9 before 10.
        {kColumnName, true, {"Apple", "apple", "banana", "File9", "file10"}},
        {kColumnName, false, {"file10", "File9", "banana", "apple", "Apple"}},
        // By number; equal counts keep their order in both directions.
        {kColumnItemsFound, true, {"banana", "apple", "file10", "File9", "Apple"}},
        {kColumnItemsFound, false, {"Apple", "File9", "file10", "banana", "apple"}},
        // By bytes, the empty size as 0.
        {kColumnSize, true, {"banana", "Apple", "File9", "file10", "apple"}},
        {kColumnSize, false, {"apple", "file10", "File9", "Apple", "banana"}},
    };
    for (const Case& c : cases) {
        std::vector<FileListRow> sorted = start;
        SortFileListRows(sorted, c.column, c.ascending);
        EXPECT_EQ(Column(sorted, kColumnName), c.names) << c.column << " " << c.ascending;
    }
}

TEST(FileListRowsSort, CompareNatural) {
    EXPECT_LT(CompareNatural("x2y9", "x2y10"), 0);
    EXPECT_LT(CompareNatural("a01", "a1"), 0);  // equal as numbers: the bytes decide
    EXPECT_LT(CompareNatural("Ärger", "ärger"), 0);
    EXPECT_EQ(CompareNatural("same", "same"), 0);
}

}  // namespace
}  // namespace ferret
