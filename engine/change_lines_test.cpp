#include "engine/change_lines.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/hit_lines.h"

namespace ferret {
namespace {

// Many changes on one long line keep the line once and count their columns on.
TEST(ChangeLines, ALongLineIsKeptOnce) {
    std::string text = "head\n";
    std::vector<TextEdit> edits;
    for (int i = 0; i < 2000; ++i) {
        edits.push_back({text.size() + 3, text.size() + 6, "XY"});
        text += "é-abc;";
    }
    text += "\ntail\n";
    const ChangeLines lines = ChangeLinesOf(text, edits);
    EXPECT_EQ(lines.text.size(), 2000u * 7);
    const ChangeLine last = ChangeLineAt(lines, edits, 1999);
    EXPECT_EQ(last.number, 2);
    EXPECT_EQ(last.column, 1999 * 7 + 4);  // bytes
    EXPECT_EQ(last.before.substr(last.before.size() - 14), "é-abc;é-abc;");
    EXPECT_EQ(last.after.substr(last.after.size() - 13), "é-abc;é-XY;");
}

// What the lines must show, worked out the slow way: each change on its own.
ChangeLine Expected(std::string_view text, const TextEdit& edit) {
    ChangeLine line;
    line.number = 1;
    std::size_t line_start = 0;
    for (std::size_t at = 0; at < edit.start; ++at) {
        if (text[at] == '\n') {
            ++line.number;
            line_start = at + 1;
        }
    }
    std::size_t line_end = edit.end;
    while (line_end < text.size() && text[line_end] != '\n') {
        ++line_end;
    }
    if (line_end < text.size() && line_end > edit.end && text[line_end - 1] == '\r') {
        --line_end;
    }
    line.column = static_cast<std::int64_t>(edit.start - line_start) + 1;
    const std::int64_t around = Characters(text.substr(line_start, edit.start - line_start));
    const auto one_line = [](std::string_view part) {
        std::string shown;
        for (std::size_t at = 0; at < part.size(); ++at) {
            if (part[at] == '\r' && at + 1 < part.size() && part[at + 1] == '\n') {
                ++at;
            }
            shown +=
                part[at] == '\n' || part[at] == '\r' ? std::string("⏎") : std::string(1, part[at]);
        }
        return shown;
    };
    const std::string head(text.substr(line_start, edit.start - line_start));
    const std::string tail(text.substr(edit.end, line_end - edit.end));
    line.before =
        CutLine(head + one_line(text.substr(edit.start, edit.end - edit.start)) + tail, around);
    line.after = CutLine(head + one_line(edit.text) + tail, around);
    return line;
}

// Random texts of short and long lines, every kind of line end and characters of several
// bytes, with random changes (insertions, and changes across line ends among them).
TEST(ChangeLines, RandomChangesShowAsEachAlone) {
    std::mt19937 random(7);
    const std::vector<std::string> pieces = {"a", "b", "é", "字", "\n", "\r\n", "\r", " ", "x"};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 3) == 0 ? 900 : 60;
        for (int i = 0; i < length; ++i) {
            // Long lines in some rounds: line ends rare.
            std::size_t piece = random() % pieces.size();
            if (length > 100 && (piece == 4 || piece == 5 || piece == 6) && random() % 20 != 0) {
                piece = 0;
            }
            // A third of the texts end lines with line feeds alone, counted the fast way.
            if (round % 3 == 0 && (piece == 5 || piece == 6)) {
                piece = 4;
            }
            text += pieces[piece];
        }
        if (!text.empty() && random() % 2 == 0) {
            text.pop_back();  // may split a CR LF or a character: both must still be shown
        }
        std::vector<TextEdit> edits;
        for (std::size_t at = random() % 8; at <= text.size();) {
            const std::size_t span = std::min<std::size_t>(random() % 5, text.size() - at);
            edits.push_back({at, at + span, random() % 3 == 0 ? "N\n" : "NEW"});
            at += span + 1 + random() % 40;
        }
        const ChangeLines lines = ChangeLinesOf(text, edits);
        ASSERT_EQ(lines.size(), edits.size());
        for (std::size_t i = 0; i < edits.size(); ++i) {
            const ChangeLine got = ChangeLineAt(lines, edits, i);
            const ChangeLine want = Expected(text, edits[i]);
            ASSERT_EQ(got.number, want.number) << "round " << round << " change " << i;
            ASSERT_EQ(got.column, want.column) << "round " << round << " change " << i;
            ASSERT_EQ(got.before, want.before) << "round " << round << " change " << i;
            ASSERT_EQ(got.after, want.after) << "round " << round << " change " << i;
        }
    }
}

}  // namespace
}  // namespace ferret
