#include "reports/hit_line_text.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

// Every hit line is one line of the form editors read: a path or a text that holds line ends or
// escape sequences adds no line and moves no cursor; TABs in the text stay for the editor.
TEST(QuickfixLines, EachHitIsOneLine) {
    const std::vector<HitLine> lines = {{2, 3, 1, "a\tb hit"},
                                        {7, 1, 2, "hit \x1B[2J\x1B[H\rforged"}};
    const auto QuickfixLines = [&lines](std::string_view path) {
        std::string out;
        for (const HitLine& line : lines) {
            AppendQuickfixLine(out, path, line);
        }
        return out;
    };
    EXPECT_EQ(QuickfixLines("/t/x y/\xC3\xA9.txt"),
              "/t/x y/\xC3\xA9.txt:2:3: a\tb hit\n"
              "/t/x y/\xC3\xA9.txt:7:1: hit \\033[2J\\033[H\\rforged\n");
    EXPECT_EQ(QuickfixLines("/t/a\n/home/u/.bashrc:1:1: b\x1B]0;t\a"),
              "\"/t/a\\n/home/u/.bashrc:1:1: b\\033]0;t\\a\":2:3: a\tb hit\n"
              "\"/t/a\\n/home/u/.bashrc:1:1: b\\033]0;t\\a\":7:1: hit "
              "\\033[2J\\033[H\\rforged\n");
}

}  // namespace
}  // namespace ferret
