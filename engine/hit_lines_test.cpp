#include "engine/hit_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "engine/content_search.h"
#include "engine/plain_matcher.h"
#include "engine/regex.h"
#include "testsupport/temp_dir.h"

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
    std::string text = line.text;
    for (std::size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at)) {
        text.replace(at, 1, "\\r");
    }
    *out << line.number << ":" << line.column << " [" << line.hits << "] " << text;
}

// Lines end at a line feed, a carriage return before it included; a lone carriage return is a
// character, as editors, grep and ripgrep take it. The first and last lines count like the others.
TEST(HitLines, LineEndsAndTheTextsEnds) {
    EXPECT_EQ(Lines("x here\nno\r\nthere x\rand x", "x"),
              (std::vector<Shown>{{1, 1, 1, "x here"}, {3, 7, 2, "there x\rand x"}}));
    EXPECT_EQ(Lines("\n\nx", "x"), (std::vector<Shown>{{3, 1, 1, "x"}}));
    EXPECT_EQ(Lines("x\r\n", "x"), (std::vector<Shown>{{1, 1, 1, "x"}}));
    EXPECT_TRUE(Lines("", "x").empty());
    EXPECT_TRUE(Lines("no hit\n", "x").empty());
    // A hit of a line end belongs to the line it ends.
    EXPECT_EQ(Lines("a\r\nb", "\r\n"), (std::vector<Shown>{{1, 2, 1, "a"}}));
    // A last line end starts no line: a pattern's empty hit at the text's end is in the line
    // before it.
    const std::vector<HitLine> at_end = LinesOfHits("a\n", {2}, 1);
    ASSERT_EQ(at_end.size(), 1u);
    EXPECT_EQ(at_end[0].number, 1);
    EXPECT_EQ(at_end[0].text, "a");
}

// Columns count bytes, as vim's %c, grep and ripgrep do; several hits in one line, overlapping ones
// included, make one line with the first hit's column.
TEST(HitLines, ColumnsCountBytesAndALineIsListedOnce) {
    EXPECT_EQ(Lines("Größe: Maß und Maß", "Maß"),
              (std::vector<Shown>{{1, 10, 2, "Größe: Maß und Maß"}}));
    EXPECT_EQ(Lines("xaaaa", "aa"), (std::vector<Shown>{{1, 2, 3, "xaaaa"}}));
    EXPECT_EQ(Lines("one NEEDLE\ntwo needle", "needle", true),
              (std::vector<Shown>{{1, 5, 1, "one NEEDLE"}, {2, 5, 1, "two needle"}}));
    EXPECT_EQ(Lines("\xff\xfeok", "ok"), (std::vector<Shown>{{1, 3, 1, "\xff\xfeok"}}));
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

// The lines of hits the slow way: split into lines, then look at each.
std::vector<Shown> ReferenceLines(const std::string& text, char hit, int context) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\n') {
            if (!line.empty() && line.back() == '\r' && i < text.size()) {
                line.pop_back();
            }
            lines.push_back(line);
            line.clear();
            if (i + 1 == text.size()) {
                break;  // a last line end starts no line
            }
        } else {
            line.push_back(text[i]);
        }
    }
    std::vector<bool> listed(lines.size(), false);
    std::vector<bool> holds(lines.size(), false);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (lines[n].find(hit) != std::string::npos) {
            holds[n] = true;
            for (std::size_t k = n >= static_cast<std::size_t>(context) ? n - context : 0;
                 k <= n + context && k < lines.size(); ++k) {
                listed[k] = true;
            }
        }
    }
    std::vector<Shown> shown;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (!listed[n]) {
            continue;
        }
        const auto count = std::count(lines[n].begin(), lines[n].end(), hit);
        const std::size_t first = holds[n] ? lines[n].find(hit) : 0;
        shown.push_back(
            {static_cast<std::int64_t>(n) + 1, holds[n] ? static_cast<std::int64_t>(first) + 1 : 0,
             static_cast<std::int32_t>(count),
             CutLine(lines[n], Characters(std::string_view(lines[n]).substr(0, first)))});
    }
    return shown;
}

// Lines are counted in jumps between hits, walked one by one near them: random texts with and
// without carriage returns give what a plain split of the text gives.
TEST(HitLines, RandomTextsAgreeWithASplitIntoLines) {
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 400; ++round) {
        const bool returns = round % 2 == 1;
        std::string text;
        const int length = static_cast<int>(next() % 300);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = next() % 40;
            text += pick == 0 ? 'x' : pick < 6 ? '\n' : (returns && pick < 8) ? '\r' : 'a';
        }
        const int context = round % 4;
        EXPECT_EQ(Lines(text, "x", false, context), ReferenceLines(text, 'x', context))
            << "round " << round;
    }
}

// The lines of `text` with hits at `starts`, the text given to a builder in pieces cut at
// `cuts` (ascending offsets).
std::vector<Shown> InPieces(std::string_view text, const std::vector<std::size_t>& starts,
                            const std::vector<std::size_t>& cuts, int context) {
    std::vector<HitLine> lines;
    HitLineBuilder builder(context, lines);
    std::size_t from = 0;
    std::size_t next_start = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t to = i < cuts.size() ? cuts[i] : text.size();
        // A piece's hits come before it.
        for (; next_start < starts.size() && (starts[next_start] < to || i == cuts.size());
             ++next_start) {
            builder.Hit(starts[next_start]);
        }
        builder.Feed(text.substr(from, to - from));
        from = to;
    }
    builder.Finish();
    std::vector<Shown> shown;
    for (const HitLine& line : lines) {
        shown.push_back({line.number, line.column, line.hits, line.text});
    }
    return shown;
}

// A text given a piece at a time, cut anywhere (inside a character, between a carriage return
// and its line feed, inside lines far longer than a cut line), gives the lines of the whole text.
TEST(HitLines, PiecesGiveTheLinesOfTheWholeText) {
    std::uint32_t seed = 777;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 600; ++round) {
        std::string text;
        const int length = static_cast<int>(next() % (round % 3 == 0 ? 3000 : 200));
        const unsigned lines_every = round % 3 == 0 ? 900 : 20;
        for (int i = 0; i < length; ++i) {
            const unsigned pick = next() % lines_every;
            text += pick == 0 ? "x" : pick == 1 ? "\n" : pick == 2 ? "\r" : pick < 6 ? "é" : "a";
        }
        std::vector<std::size_t> starts;
        for (std::size_t at = text.find('x'); at != std::string::npos;
             at = text.find('x', at + 1)) {
            starts.push_back(at);
        }
        if (round % 5 == 0) {
            starts.push_back(text.size());  // an empty hit at the very end
        }
        std::vector<std::size_t> cuts;
        for (std::size_t at = next() % 50; at < text.size(); at += 1 + next() % 400) {
            cuts.push_back(at);
        }
        const int context = round % 4;
        std::vector<Shown> whole;
        for (const HitLine& line : LinesOfHits(text, starts, context)) {
            whole.push_back({line.number, line.column, line.hits, line.text});
        }
        ASSERT_EQ(InPieces(text, starts, cuts, context), whole) << "round " << round;
        if (round % 5 != 0) {
            ASSERT_EQ(whole, ReferenceLines(text, 'x', context)) << "round " << round;
        }
    }
}

// A file's hit lines as the run lists them, and its count as the counting search gives it.
struct FileLines {
    std::int32_t count = 0;
    std::int32_t counted = 0;
    FileHits hits;
};

FileLines OfFile(const testing::TempDir& dir, const std::string& name, const std::string& find,
                 bool ignore_case = false, bool pattern = false, int context = 0) {
    FileLines found;
    const PlainMatcher matcher(find, ignore_case);
    const std::atomic<bool> stop{false};
    if (pattern) {
        RegExp compiled;
        EXPECT_TRUE(compiled.Compile(find, ignore_case).ok());
        const auto shortcut = MakePatternShortcut(find, ignore_case);
        found.count = SearchFileHitLines(AT_FDCWD, dir.Path(name), matcher, &compiled,
                                         shortcut.get(), context, {}, found.hits);
        found.counted = SearchFilePattern(dir.Path(name), compiled, shortcut.get());
    } else {
        found.count = SearchFileHitLines(AT_FDCWD, dir.Path(name), matcher, nullptr, nullptr,
                                         context, {}, found.hits);
        found.counted = SearchFileText(dir.Path(name), matcher, stop);
    }
    return found;
}

std::vector<Shown> ShownOf(const FileHits& hits) {
    std::vector<Shown> shown;
    for (const HitLine& line : hits.lines) {
        shown.push_back({line.number, line.column, line.hits, line.text});
    }
    return shown;
}

// Files are read whole, so hits across the counting scan's 64 KiB blocks are where they are; the
// count is the counting search's.
TEST(FileHitLines, HitsAcrossBlockSeamsKeepTheirLines) {
    const testing::TempDir dir;
    std::string text;
    std::vector<Shown> expected;
    std::int64_t number = 1;
    for (const std::size_t seam : {65536u, 131072u, 196608u}) {
        // Lines of 99 characters up to just before the seam, then a hit split by it.
        while (text.size() + 100 < seam - 3) {
            text += std::string(99, 'a') + "\n";
            ++number;
        }
        const std::size_t pad = seam - 3 - text.size();
        text += std::string(pad, 'b') + "NEEDLE\n";
        expected.push_back(
            {number, static_cast<std::int64_t>(pad) + 1, 1, std::string(pad, 'b') + "NEEDLE"});
        ++number;
    }
    text += "last NEEDLE";
    expected.push_back({number, 6, 1, "last NEEDLE"});
    dir.WriteFile("big.txt", text);
    const FileLines found = OfFile(dir, "big.txt", "needle", true);
    EXPECT_EQ(found.count, 4);
    EXPECT_EQ(found.counted, 4);
    EXPECT_EQ(ShownOf(found.hits), expected);
}

// Marked and UTF-16 files give their text as UTF-8, columns in its bytes after the mark.
TEST(FileHitLines, MarkedAndUtf16FilesGiveTheirDecodedText) {
    const testing::TempDir dir;
    dir.WriteFile("bom.txt", "\xEF\xBB\xBFx\r\n\xC3\xA9t\xC3\xA9 x");
    // "é x\nZ\rx" in UTF-16 LE and BE.
    dir.WriteFile("le.txt", std::string("\xFF\xFE\xE9\0 \0x\0\n\0Z\0\r\0x\0", 16));
    dir.WriteFile("be.txt", std::string("\xFE\xFF\0\xE9\0 \0x\0\n\0Z\0\r\0x", 16));
    EXPECT_EQ(ShownOf(OfFile(dir, "bom.txt", "x").hits),
              (std::vector<Shown>{{1, 1, 1, "x"}, {2, 7, 1, "été x"}}));
    for (const char* name : {"le.txt", "be.txt"}) {
        const FileLines found = OfFile(dir, name, "x");
        EXPECT_EQ(found.count, 2) << name;
        EXPECT_EQ(found.counted, 2) << name;
        EXPECT_FALSE(found.hits.binary) << name;
        EXPECT_EQ(ShownOf(found.hits), (std::vector<Shown>{{1, 4, 1, "é x"}, {2, 3, 1, "Z\rx"}}))
            << name;
    }
}

// A pattern's hit belongs to the line it starts in, also when it spans lines; overlapping plain
// hits are counted as the search counts them.
TEST(FileHitLines, PatternsAndOverlappingHits) {
    const testing::TempDir dir;
    dir.WriteFile("p.txt", "one\nend\nstart\nnext end\nstart\r\nnext");
    const FileLines spanning = OfFile(dir, "p.txt", "start\\r?\\nnext", false, true);
    EXPECT_EQ(spanning.count, 2);
    EXPECT_EQ(spanning.counted, 2);
    EXPECT_EQ(ShownOf(spanning.hits), (std::vector<Shown>{{3, 1, 1, "start"}, {5, 1, 1, "start"}}));
    const FileLines within = OfFile(dir, "p.txt", "E[a-z]d", true, true, 1);
    EXPECT_EQ(within.count, 2);
    EXPECT_EQ(within.counted, 2);
    EXPECT_EQ(ShownOf(within.hits), (std::vector<Shown>{{1, 0, 0, "one"},
                                                        {2, 1, 1, "end"},
                                                        {3, 0, 0, "start"},
                                                        {4, 6, 1, "next end"},
                                                        {5, 0, 0, "start"}}));
    dir.WriteFile("o.txt", "aaaa\naa");
    const FileLines overlapping = OfFile(dir, "o.txt", "aa");
    EXPECT_EQ(overlapping.count, overlapping.counted);
    EXPECT_EQ(ShownOf(overlapping.hits), (std::vector<Shown>{{1, 1, 3, "aaaa"}, {2, 1, 1, "aa"}}));
}

// A file with a NUL byte is binary: its hits are counted, its bytes not shown. A file that
// cannot be read is not searched.
TEST(FileHitLines, BinaryFilesGiveOnlyTheirCount) {
    const testing::TempDir dir;
    dir.WriteFile("b.bin", std::string("ELF\0\0hit\nhit", 12));
    const FileLines binary = OfFile(dir, "b.bin", "hit");
    EXPECT_EQ(binary.count, 2);
    EXPECT_TRUE(binary.hits.binary);
    EXPECT_TRUE(binary.hits.lines.empty());
    // Only the first block is looked at, as the file is read a block at a time: a NUL byte
    // after it is shown in the line that holds it. The count is the same either way.
    const std::string filler(600000, 'a');
    dir.WriteFile("early.bin", std::string("\0", 1) + filler + "hit" + filler + "hit");
    dir.WriteFile("late.bin", filler + "hit" + std::string("\0", 1) + filler + "hit");
    for (const bool pattern : {false, true}) {
        const FileLines early = OfFile(dir, "early.bin", pattern ? "h.t" : "hit", false, pattern);
        EXPECT_EQ(early.count, 2) << pattern;
        EXPECT_TRUE(early.hits.binary) << pattern;
        EXPECT_TRUE(early.hits.lines.empty()) << pattern;
        const FileLines late = OfFile(dir, "late.bin", pattern ? "h.t" : "hit", false, pattern);
        EXPECT_EQ(late.count, 2) << pattern;
        EXPECT_FALSE(late.hits.binary) << pattern;
        ASSERT_EQ(late.hits.lines.size(), 1u) << pattern;
        EXPECT_EQ(late.hits.lines[0].hits, 2) << pattern;
        EXPECT_EQ(late.hits.lines[0].column, 600001) << pattern;
        EXPECT_NE(late.hits.lines[0].text.find(std::string("hit\0", 4)), std::string::npos);
    }
    const FileLines none = OfFile(dir, "b.bin", "absent");
    EXPECT_EQ(none.count, 0);
    EXPECT_FALSE(none.hits.binary);
    FileHits hits;
    EXPECT_EQ(SearchFileHitLines(AT_FDCWD, dir.Path("gone"), PlainMatcher("x", false), nullptr,
                                 nullptr, 0, {}, hits),
              kNotSearched);
}

// Lines set aside read back as they were, in order and in parts, however the store cuts them.
TEST(HitLineSpill, LinesComeBackAsTheyWent) {
    std::vector<HitLine> lines;
    for (int i = 0; i < 30000; ++i) {
        HitLine line{i + 1, i % 7, i % 3, std::string(static_cast<std::size_t>(i % 90), 'x')};
        line.text += std::string("\0\xFF\n", 3);
        line.offset = static_cast<std::uint64_t>(i) << 33;
        line.spans.resize(static_cast<std::size_t>(i % 3), {7, 9});
        lines.push_back(line);
    }
    HitLineSpill spill;
    for (std::size_t at = 0; at < lines.size(); at += 4096) {
        const std::size_t end = std::min(lines.size(), at + 4096);
        ASSERT_TRUE(spill
                        .Add({lines.begin() + static_cast<std::ptrdiff_t>(at),
                              lines.begin() + static_cast<std::ptrdiff_t>(end)})
                        .ok());
    }
    std::vector<HitLine> back;
    std::size_t parts = 0;
    ASSERT_TRUE(spill
                    .Take(1000,
                          [&](std::vector<HitLine> part) {
                              EXPECT_LE(part.size(), 1000u);
                              ++parts;
                              back.insert(back.end(), part.begin(), part.end());
                          })
                    .ok());
    EXPECT_EQ(parts, 30u);
    ASSERT_EQ(back.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(back[i].number, lines[i].number) << i;
        ASSERT_EQ(back[i].column, lines[i].column) << i;
        ASSERT_EQ(back[i].hits, lines[i].hits) << i;
        ASSERT_EQ(back[i].text, lines[i].text) << i;
        ASSERT_EQ(back[i].offset, lines[i].offset) << i;
        ASSERT_EQ(back[i].spans.size(), lines[i].spans.size()) << i;
    }
    EXPECT_TRUE(spill.empty());
}

}  // namespace
}  // namespace ferret
