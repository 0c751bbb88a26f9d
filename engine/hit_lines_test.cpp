#include "engine/hit_lines.h"

#include <gtest/gtest.h>

#include "engine/plain_matcher.h"

namespace ferret {
namespace {

struct Shown {
    std::int64_t number;
    std::int64_t column;
    std::int32_t hits;
    std::string text;
    bool operator==(const Shown&) const = default;
};

std::vector<Shown> Lines(std::string_view text, std::string_view find, bool ignore_case = false,
                         int context = 0) {
    const PlainMatcher matcher(find, ignore_case);
    std::vector<Shown> shown;
    for (const HitLine& line : LinesOfHits(text, PlainHitStarts(text, matcher), context)) {
        shown.push_back({line.number, line.column, line.hits, line.text});
    }
    return shown;
}

void PrintTo(const Shown& line, std::ostream* out) {
    *out << line.number << ":" << line.column << " [" << line.hits << "] " << line.text;
}

// Lines end at a line feed, CR LF or a lone CR; the first and last lines count like the others.
TEST(HitLines, LineEndsOfEveryKindAndTheTextsEnds) {
    EXPECT_EQ(Lines("x here\nno\r\nthere x\rand x", "x"),
              (std::vector<Shown>{{1, 1, 1, "x here"}, {3, 7, 1, "there x"}, {4, 5, 1, "and x"}}));
    EXPECT_EQ(Lines("\n\nx", "x"), (std::vector<Shown>{{3, 1, 1, "x"}}));
    EXPECT_EQ(Lines("x\r\n", "x"), (std::vector<Shown>{{1, 1, 1, "x"}}));
    EXPECT_TRUE(Lines("", "x").empty());
    EXPECT_TRUE(Lines("no hit\n", "x").empty());
    // A hit of a line end belongs to the line it ends.
    EXPECT_EQ(Lines("a\r\nb", "\r\n"), (std::vector<Shown>{{1, 2, 1, "a"}}));
}

// Columns count characters; several hits in one line, overlapping ones included, make one line
// with the first hit's column.
TEST(HitLines, ColumnsCountCharactersAndALineIsListedOnce) {
    EXPECT_EQ(Lines("Größe: Maß und Maß", "Maß"),
              (std::vector<Shown>{{1, 8, 2, "Größe: Maß und Maß"}}));
    EXPECT_EQ(Lines("xaaaa", "aa"), (std::vector<Shown>{{1, 2, 3, "xaaaa"}}));
    EXPECT_EQ(Lines("one NEEDLE\ntwo needle", "needle", true),
              (std::vector<Shown>{{1, 5, 1, "one NEEDLE"}, {2, 5, 1, "two needle"}}));
    // A byte that is not UTF-8 is one character.
    EXPECT_EQ(Lines("\xff\xfeok", "ok"), (std::vector<Shown>{{1, 3, 1, "\xff\xfeok"}}));
}

// Context lines come before and after, each listed once, never past the text's ends.
TEST(HitLines, ContextLinesStopAtTheTextsEnds) {
    const std::string text = "1\n2 x\n3\n4\n5\n6 x\n7";
    EXPECT_EQ(Lines(text, "x", false, 1), (std::vector<Shown>{{1, 0, 0, "1"},
                                                              {2, 3, 1, "2 x"},
                                                              {3, 0, 0, "3"},
                                                              {5, 0, 0, "5"},
                                                              {6, 3, 1, "6 x"},
                                                              {7, 0, 0, "7"}}));
    EXPECT_EQ(Lines(text, "x", false, 3), (std::vector<Shown>{{1, 0, 0, "1"},
                                                              {2, 3, 1, "2 x"},
                                                              {3, 0, 0, "3"},
                                                              {4, 0, 0, "4"},
                                                              {5, 0, 0, "5"},
                                                              {6, 3, 1, "6 x"},
                                                              {7, 0, 0, "7"}}));
    EXPECT_EQ(Lines("x", "x", false, 9), (std::vector<Shown>{{1, 1, 1, "x"}}));
}

// A long line keeps about 300 characters around its first hit, each cut marked.
TEST(HitLines, LongLinesAreCutAroundTheirFirstHit) {
    const std::string line = std::string(1000, 'a') + "NEEDLE" + std::string(1000, 'b');
    const std::vector<Shown> shown = Lines(line, "NEEDLE");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].column, 1001);
    const std::string& text = shown[0].text;
    EXPECT_EQ(text.substr(0, 3), "…");
    EXPECT_EQ(text.substr(text.size() - 3), "…");
    EXPECT_NE(text.find("NEEDLE"), std::string::npos);
    EXPECT_EQ(text.size(), kHitLineLength + 6);
    // Cut between characters, never inside one.
    const std::string wide = std::string(400, 'a') + "x" + [] {
        std::string s;
        for (int i = 0; i < 400; ++i) {
            s += "é";
        }
        return s;
    }();
    const std::vector<Shown> cut = Lines(wide, "x");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].text.substr(cut[0].text.size() - 5), "é…");
}

}  // namespace
}  // namespace ferret
