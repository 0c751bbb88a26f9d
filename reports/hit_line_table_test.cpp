#include "reports/hit_line_table.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "engine/content_search.h"
#include "engine/file_records.h"
#include "engine/plain_matcher.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;

// The lines a search finds, kept by their places and read again from their files, are the lines
// it found: after a UTF-8 mark, with CR LF ends, context lines, and hits far into long lines.
TEST(HitLineTable, LinesKeptByTheirPlacesReadBackAsFound) {
    const TempDir dir;
    std::string long_line(200000, 'x');
    long_line.replace(150000, 3, "hit");
    long_line.replace(10, 3, "hit");
    dir.WriteFile("bom.txt", "\xEF\xBB\xBFone\r\ntwo hit\r\nthree\r\n\xC3\xA9 hit");
    dir.WriteFile("long.txt", "before\n" + long_line + "\nshort hit\n" + std::string(100000, 'y') +
                                  "hit" + std::string(100, 'z'));
    FileRecords records;
    HitLineTable table;
    std::vector<HitLine> found;
    for (const char* name : {"bom.txt", "long.txt"}) {
        FileHits hits;
        ASSERT_GT(SearchFileHitLines(AT_FDCWD, dir.Path(name), PlainMatcher("hit", false), nullptr,
                                     nullptr, 1, {}, hits),
                  0);
        ASSERT_GE(hits.text_from, 0) << name;
        const FileRecord* record = records.Add(name, dir.path() + "/", "", 0);
        // A file's lines come in parts.
        FileHits first_part = hits;
        first_part.lines.resize(hits.lines.size() / 2);
        FileHits rest = hits;
        rest.lines.erase(rest.lines.begin(), rest.lines.begin() + first_part.lines.size());
        table.Add(*record, first_part);
        table.Add(*record, rest);
        found.insert(found.end(), hits.lines.begin(), hits.lines.end());
    }
    ASSERT_EQ(table.entries.size(), 2u);
    ASSERT_EQ(table.lines.size(), found.size());
    HitLineReader reader;
    std::size_t at = 0;
    for (const FileHitLines& entry : table.entries) {
        for (std::size_t line = 0; line < entry.count; ++line, ++at) {
            EXPECT_FALSE(table.lines.TextKept(at));
            const std::optional<HitLine> read = TableLine(table, entry, line, reader);
            ASSERT_TRUE(read.has_value()) << at;
            EXPECT_EQ(read->number, found[at].number) << at;
            EXPECT_EQ(read->column, found[at].column) << at;
            EXPECT_EQ(read->hits > 0, found[at].hits > 0) << at;
            EXPECT_EQ(read->text, found[at].text) << at;
        }
    }
    // A file cut short since cannot give its lines again, nor a device put in a file's place.
    dir.WriteFile("long.txt", "before\n");
    HitLineReader fresh;
    EXPECT_FALSE(TableLine(table, table.entries[1], table.entries[1].count - 1, fresh).has_value());
    ASSERT_EQ(unlink(dir.Path("bom.txt").c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", dir.Path("bom.txt").c_str()), 0);
    HitLineReader again;
    EXPECT_FALSE(TableLine(table, table.entries[0], 0, again).has_value());
}

// Lines whose text cannot be read again are kept whole; line numbers of any size survive.
TEST(HitLineTable, KeepsWhatCannotBeReadAgainAndLargeNumbers) {
    FileRecords records;
    const FileRecord* record = records.Add("d.docx", "/nowhere/", "", 0);
    HitLineTable table;
    FileHits kept;
    kept.lines = {{0, 0, 2, "Paragraph 3: hit hit"}};
    table.Add(*record, kept);
    FileHits placed;
    placed.text_from = 0;
    const std::int64_t big = std::int64_t{1} << 40;
    placed.lines = {{big, 5, 1, "x"}, {big + 1, 0, 0, "y"}, {7, big, 1, "z"}, {8, 1, 1, "w"}};
    placed.lines[0].offset = 123;
    placed.lines[3].offset = std::uint64_t{1} << 41;
    table.Add(*record, placed);
    ASSERT_EQ(table.entries.size(), 1u);
    EXPECT_EQ(table.entries[0].count, 5u);
    EXPECT_EQ(table.lines.At(3).number, 7);
    EXPECT_EQ(table.lines.At(3).column, big);
    EXPECT_EQ(table.lines.FileOffset(4), std::uint64_t{1} << 41);
    EXPECT_EQ(table.lines.At(4).column, 1);
    EXPECT_TRUE(table.lines.TextKept(0));
    EXPECT_EQ(table.lines.At(0).text, "Paragraph 3: hit hit");
    EXPECT_EQ(table.lines.At(0).hits, 2);
    EXPECT_EQ(table.lines.At(1).number, big);
    EXPECT_EQ(table.lines.At(1).column, 5);
    EXPECT_EQ(table.lines.FileOffset(1), 123u);
    EXPECT_EQ(table.lines.At(2).number, big + 1);
    EXPECT_EQ(table.lines.At(2).hits, 0);

    // Lines handed on from one store to another (a window takes them from the run's) stay the
    // same at their new places, past the chunk's end too.
    HitLineTable shown;
    FileHits before;
    before.text_from = 0;
    before.lines.assign((std::size_t{1} << 16) - 2, HitLine{1, 1, 1, "a"});
    shown.Add(*record, before);
    shown.Add(*record, table.lines, 0, 5, true);
    ASSERT_EQ(shown.entries.size(), 1u);
    EXPECT_TRUE(shown.entries[0].binary);
    ASSERT_EQ(shown.lines.size(), before.lines.size() + 5);
    for (std::size_t i = 0; i < 5; ++i) {
        const std::size_t at = before.lines.size() + i;
        const HitLine from = table.lines.At(i);
        const HitLine to = shown.lines.At(at);
        EXPECT_EQ(to.number, from.number) << i;
        EXPECT_EQ(to.column, from.column) << i;
        EXPECT_EQ(to.hits, from.hits) << i;
        EXPECT_EQ(to.text, from.text) << i;
        EXPECT_EQ(shown.lines.TextKept(at), table.lines.TextKept(i)) << i;
        if (!table.lines.TextKept(i)) {
            EXPECT_EQ(shown.lines.FileOffset(at), table.lines.FileOffset(i)) << i;
        }
    }
}

}  // namespace
}  // namespace ferret
