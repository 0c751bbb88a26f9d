#include "reports/file_list_rows.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <map>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "engine/result_records.h"
#include "testsupport/temp_dir.h"
#include "util/app_locale.h"

namespace ferret {
namespace {

clsFile* AddFile(clsFiles& files, const std::string& name, const std::string& root,
                 std::int32_t hits, const std::string& size = "1.00 KB") {
    clsFile* file = files.Add(name, root, size, 0);
    file->SetItemsFound(hits);
    return file;
}

// Facts by full path, so the tests do not depend on the machine's MIME database.
FileFactsReader FakeFacts(std::map<std::string, FileFacts> facts = {}) {
    return [facts = std::move(facts)](const std::string& path) {
        const auto found = facts.find(path);
        return found != facts.end() ? found->second : FileFacts{"Text", false, false, false};
    };
}

ReportBuildInput Input(bool searched, FileFactsReader reader = FakeFacts()) {
    ReportBuildInput input;
    input.start_folder = "/data/site";
    input.searched = searched;
    input.read_facts = std::move(reader);
    return input;
}

std::vector<std::string> Column(const std::vector<FileListRow>& rows, int column) {
    std::vector<std::string> texts;
    for (const FileListRow& row : rows) {
        texts.push_back(row.text[static_cast<std::size_t>(column)]);
    }
    return texts;
}

// Rows with only the texts and keys that sorting reads.
FileListRow Row(const std::string& name, std::int32_t hits = 0, const std::string& size = "") {
    FileListRow row;
    row.text[kColumnName] = name;
    row.text[kColumnItemsFound] = std::to_string(hits);
    row.text[kColumnSize] = size;
    row.items_found = hits;
    row.size_bytes = SizeTextBytes(size);
    return row;
}

// --- Building ---------------------------------------------------------------------------------

TEST(FileListRowsBuild, ColumnTextsAndTypeStoredInRecord) {
    clsFiles files;
    clsFile* file = AddFile(files, "a.txt", "/data/site/sub/", 12, "2.00 MB");
    const FileListRows built = BuildFileListRows(
        &files,
        Input(true, FakeFacts({{"/data/site/sub/a.txt", {"Plain text", true, true, true}}})));
    ASSERT_EQ(built.rows.size(), 1u);
    const FileListRow& row = built.rows[0];
    EXPECT_EQ(row.record, file);
    const std::array<std::string, kFileListColumnCount> expected = {
        "a.txt", "(root selected)/sub/", "12", "Plain text", "2.00 MB", "H R S "};
    EXPECT_EQ(row.text, expected);
    EXPECT_EQ(row.items_found, 12);
    EXPECT_EQ(row.size_bytes, 2.0 * 1024 * 1024);
    EXPECT_EQ(file->Filetype(), "Plain text");
}

TEST(FileListRowsBuild, FilesWithoutHitsAreLeftOutOnlyWhenSearched) {
    clsFiles files;
    AddFile(files, "a.txt", "/data/site/", 3);
    AddFile(files, "b.txt", "/data/site/", 0);
    AddFile(files, "c.txt", "/data/site/", -1);  // could not be searched
    AddFile(files, "d.txt", "/data/site/", 1);
    EXPECT_EQ(Column(BuildFileListRows(&files, Input(true)).rows, kColumnName),
              (std::vector<std::string>{"a.txt", "d.txt"}));
    EXPECT_EQ(Column(BuildFileListRows(&files, Input(false)).rows, kColumnName),
              (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"}));
}

TEST(FileListRowsBuild, DisplayLimitCountsTheWholeCollection) {
    struct Case {
        std::int32_t count;
        bool too_many;
    };
    for (const Case& c : {Case{kFileListDisplayLimit, false}, Case{32676, true}}) {
        clsFiles files;
        files.Reserve(static_cast<std::size_t>(c.count));
        for (std::int32_t i = 0; i < c.count; ++i) {
            auto record = std::make_unique<clsFile>();
            record->SetFilename("f" + std::to_string(i));
            record->SetRootPath("/data/site/");
            files.AddUnique(std::move(record));
        }
        // Searching with no hits at all: the limit still applies to the collection.
        EXPECT_EQ(BuildFileListRows(&files, Input(true)).too_many, c.too_many) << c.count;
        const FileListRows built = BuildFileListRows(&files, Input(false));
        EXPECT_EQ(built.too_many, c.too_many) << c.count;
        EXPECT_EQ(built.rows.size(), c.too_many ? 0u : static_cast<std::size_t>(c.count));
    }
    EXPECT_EQ(kFileListDisplayLimit, 32675);
    EXPECT_STREQ(kTooManyItemsText,
                 "Too many items to be displayed properly.  Please modify report for results");
}

TEST(FileListRowsBuild, NoCollectionGivesNoRows) {
    const FileListRows built = BuildFileListRows(nullptr, Input(false));
    EXPECT_TRUE(built.rows.empty());
    EXPECT_FALSE(built.too_many);
}

TEST(FileListRowsBuild, StopEndsTheFillAfterTheCurrentRow) {
    clsFiles files;
    for (int i = 0; i < 5; ++i) {
        AddFile(files, "f" + std::to_string(i), "/data/site/", i % 2);
    }
    int asked = 0;
    ReportBuildInput input = Input(true);
    input.stop_requested = [&asked] { return ++asked == 2; };
    // Asked after each shown row only: f1, then f3 stops.
    EXPECT_EQ(Column(BuildFileListRows(&files, input).rows, kColumnName),
              (std::vector<std::string>{"f1", "f3"}));
    EXPECT_EQ(asked, 2);
}

TEST(FileListRowsBuild, SystemReaderIsQuietAboutMissingFilesAndReadsRealOnes) {
    int boxes = 0;
    const MessageBoxHandler previous = SetMessageBoxHandler(
        [&boxes](const std::string&, const std::string&, MessageIcon) { ++boxes; });
    testing::TempDir dir;
    dir.WriteFile(".hidden.txt", "text");
    clsFiles files;
    AddFile(files, "missing.txt", "/nonexistent-ferret-folder/", 1);
    AddFile(files, ".hidden.txt", dir.path() + "/", 1);
    AddFile(files, "missing2.txt", "/nonexistent-ferret-folder/", 1);
    ReportBuildInput input = Input(true);
    input.read_facts = nullptr;
    const FileListRows built = BuildFileListRows(&files, input);
    SetMessageBoxHandler(previous);
    EXPECT_EQ(boxes, 0);
    ASSERT_EQ(built.rows.size(), 3u);
    EXPECT_EQ(built.rows[0].text[kColumnType], "");
    EXPECT_EQ(built.rows[0].text[kColumnFlags], "");
    EXPECT_FALSE(built.rows[1].text[kColumnType].empty());
    EXPECT_EQ(built.rows[1].text[kColumnFlags].substr(0, 2), "H ");
    // A missing file after a real one does not take over the real one's facts.
    EXPECT_EQ(built.rows[2].text[kColumnType], "");
    EXPECT_EQ(built.rows[2].text[kColumnFlags], "");
}

TEST(FileListRowsTexts, RootSelectedFolder) {
    struct Case {
        const char* root_path;
        const char* start_folder;
        const char* expected;
    };
    const Case cases[] = {
        {"/data/site/", "/data/site", "(root selected)/"},
        {"/data/site/sub/", "/data/site/", "(root selected)/sub/"},
        {"/data/site/x/data/site/", "/data/site", "(root selected)/x(root selected)/"},
        {"/Data/Site/sub/", "/data/site", "/Data/Site/sub/"},  // case-sensitive
        {"/etc/", "/", "(root selected)/etc/"},
        {"/", "/", "(root selected)/"},
        {"/etc/", "", "/etc/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RootSelectedFolder(c.root_path, c.start_folder), c.expected)
            << c.root_path << " in " << c.start_folder;
    }
}

TEST(FileListRowsTexts, FlagsInFixedOrder) {
    struct Case {
        bool hidden, read_only, system;
        const char* expected;
    };
    const Case cases[] = {
        {false, false, false, ""},   {true, false, false, "H "},   {false, true, false, "R "},
        {false, false, true, "S "},  {true, false, true, "H S "},  {false, true, true, "R S "},
        {true, true, false, "H R "}, {true, true, true, "H R S "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FlagsText(FileFacts{"", c.hidden, c.read_only, c.system}), c.expected);
    }
}

// --- Size texts -------------------------------------------------------------------------------

TEST(FileListRowsSize, TextsReadAsBytes) {
    constexpr double kKiB = 1024;
    struct Case {
        const char* text;
        double bytes;
    };
    const Case cases[] = {
        {"", 0},
        {"0 bytes", 0},
        {"1,023 bytes", 1023},
        {"1.00 KB", kKiB},
        {"9.99 KB", 9.99 * kKiB},
        {"512.0 KB", 512 * kKiB},
        {"1.00 MB", kKiB * kKiB},
        {"3.00 GB", 3 * kKiB * kKiB * kKiB},
        {"12,345.6 GB", 12345.6 * kKiB * kKiB * kKiB},
        {"12kb", 12 * kKiB},
        {"12 Kb", 12 * kKiB},
        {"  7 KB", 7 * kKiB},
        {"42", 42},
        {"unknown", 0},
        {"KB", 0},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(SizeTextBytes(c.text), c.bytes) << c.text;
    }
}

TEST(FileListRowsSize, LocaleSeparators) {
    SetAppLocale(QLocale(QLocale::German, QLocale::Germany));
    const double group = SizeTextBytes("1.023 bytes");
    const double decimal = SizeTextBytes("1,50 KB");
    SetAppLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_DOUBLE_EQ(group, 1023);
    EXPECT_DOUBLE_EQ(decimal, 1.5 * 1024);
}

// --- Sorting ----------------------------------------------------------------------------------

TEST(FileListRowsSort, ItemsFoundByNumberBothWays) {
    std::vector<FileListRow> rows = {Row("a", 9), Row("b", 10), Row("c", 2), Row("d", 100),
                                     Row("e", -1)};
    SortFileListRows(rows, kColumnItemsFound, true);
    EXPECT_EQ(Column(rows, kColumnItemsFound),
              (std::vector<std::string>{"-1", "2", "9", "10", "100"}));
    SortFileListRows(rows, kColumnItemsFound, false);
    EXPECT_EQ(Column(rows, kColumnItemsFound),
              (std::vector<std::string>{"100", "10", "9", "2", "-1"}));
}

TEST(FileListRowsSort, SizeByTheSizeTheTextStandsFor) {
    std::vector<FileListRow> rows = {Row("a", 0, "2.00 MB"), Row("b", 0, "3.00 KB"),
                                     Row("c", 0, ""),        Row("d", 0, "1,023 bytes"),
                                     Row("e", 0, "1.00 GB"), Row("f", 0, "512.0 KB"),
                                     Row("g", 0, "12 bytes")};
    SortFileListRows(rows, kColumnSize, true);
    EXPECT_EQ(Column(rows, kColumnName),
              (std::vector<std::string>{"c", "g", "d", "b", "f", "a", "e"}));
    SortFileListRows(rows, kColumnSize, false);
    EXPECT_EQ(Column(rows, kColumnName),
              (std::vector<std::string>{"e", "a", "f", "b", "d", "g", "c"}));
}

TEST(FileListRowsSort, TextInNaturalOrderIgnoringCase) {
    std::vector<FileListRow> rows = {Row("file10.txt"), Row("File9.txt"), Row("banana"),
                                     Row("Apple"), Row("Zebra")};
    SortFileListRows(rows, kColumnName, true);
    EXPECT_EQ(Column(rows, kColumnName),
              (std::vector<std::string>{"Apple", "banana", "File9.txt", "file10.txt", "Zebra"}));
}

TEST(FileListRowsSort, StableInBothDirections) {
    const std::vector<FileListRow> start = {Row("a", 1), Row("b", 1), Row("x", 2), Row("c", 1)};
    for (const bool ascending : {true, false}) {
        std::vector<FileListRow> rows = start;
        SortFileListRows(rows, kColumnItemsFound, ascending);
        EXPECT_EQ(Column(rows, kColumnName), ascending
                                                 ? (std::vector<std::string>{"a", "b", "c", "x"})
                                                 : (std::vector<std::string>{"x", "a", "b", "c"}));
    }
}

TEST(FileListRowsSort, OrderMapsNewPositionsToOldOnes) {
    const std::vector<FileListRow> rows = {Row("c"), Row("a"), Row("b")};
    EXPECT_EQ(FileListSortOrder(rows, kColumnName, true), (std::vector<std::size_t>{1, 2, 0}));
    EXPECT_EQ(FileListSortOrder(rows, kColumnName, false), (std::vector<std::size_t>{0, 2, 1}));
    EXPECT_EQ(FileListSortOrder(rows, 6, true), (std::vector<std::size_t>{0, 1, 2}));
}

TEST(FileListRowsSort, CompareNatural) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"a", "a", 0},           {"a", "B", -1},
        {"file9", "file10", -1}, {"file10", "file9", 1},
        {"x2y10", "x2y9", 1},    {"A.txt", "a.txt", -1},  // equal ignoring case: the bytes decide
        {"a01", "a1", -1},                                // equal as numbers: the bytes decide
        {"abc", "abcd", -1},     {"Ärger", "ärger", -1},
        {"", "a", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareNatural(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(CompareNatural(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(FileListRowsSort, EveryHeaderClickReversesTheDirection) {
    FileListSortToggle toggle;
    EXPECT_EQ(toggle.column(), -1);
    struct Step {
        int clicked;
        bool ascending;
    };
    const Step steps[] = {
        {kColumnItemsFound, false}, {kColumnItemsFound, true}, {kColumnName, false},
        {kColumnFolder, true},      {kColumnFolder, false},
    };
    for (const Step& step : steps) {
        toggle.Click(step.clicked);
        EXPECT_EQ(toggle.column(), step.clicked);
        EXPECT_EQ(toggle.ascending(), step.ascending) << step.clicked;
    }
}

}  // namespace
}  // namespace ferret
