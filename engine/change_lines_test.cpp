#include "engine/change_lines.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

// Each change on its line, before and after, with line ends of every kind before it; changes
// that take a line end out or put one in keep to one line.
TEST(ChangeLines, EachChangeOnItsLine) {
    const std::string text = "one old\r\ntwo\rold old\nlast";
    const std::vector<ChangeLine> lines =
        ChangeLinesOf(text, {{4, 7, "new"}, {13, 16, "N"}, {17, 21, "x\ny"}, {25, 25, "!"}});
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].number, 1);
    EXPECT_EQ(lines[0].column, 5);
    EXPECT_EQ(lines[0].before, "one old");
    EXPECT_EQ(lines[0].after, "one new");
    EXPECT_EQ(lines[1].number, 3);
    EXPECT_EQ(lines[1].before, "old old");
    EXPECT_EQ(lines[1].after, "N old");
    // "old\n" replaced by "x\ny": the line end taken out shows, and the next line joins.
    EXPECT_EQ(lines[2].number, 3);
    EXPECT_EQ(lines[2].column, 5);
    EXPECT_EQ(lines[2].before, "old old⏎last");
    EXPECT_EQ(lines[2].after, "old x⏎ylast");
    EXPECT_EQ(lines[3].number, 4);
    EXPECT_EQ(lines[3].after, "last!");
    EXPECT_TRUE(ChangeLinesOf("", {}).empty());
}

}  // namespace
}  // namespace ferret
