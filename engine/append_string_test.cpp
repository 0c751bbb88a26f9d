#include "engine/append_string.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

TEST(AppendString, GrowsInStepsAndReturnsExactlyTheText) {
    AppendString builder;
    EXPECT_EQ(builder.ReturnString(), "");
    const std::string big(25000, 'x');
    builder.AddToString(big);
    EXPECT_EQ(builder.BufferLength(), 30000u);
    EXPECT_EQ(builder.ReturnString(), big);
    builder.AddToString("tail");
    EXPECT_EQ(builder.ReturnString(), big + "tail");
}

TEST(AppendString, ExactFitDoesNotGrow) {
    AppendString builder;
    builder.AddToString(std::string(AppendString::kGrowStep, 'a'));
    EXPECT_EQ(builder.BufferLength(), AppendString::kGrowStep);
    builder.AddToString("b");
    EXPECT_EQ(builder.BufferLength(), 2 * AppendString::kGrowStep);
}

TEST(AppendString, KeepsNulsAndOrder) {
    AppendString builder;
    for (int i = 0; i < 5000; ++i) {
        builder.AddToString(std::string_view("a\0b\n", 4));
    }
    const std::string text = builder.ReturnString();
    ASSERT_EQ(text.size(), 20000u);
    EXPECT_EQ(text.substr(0, 4), std::string_view("a\0b\n", 4));
    EXPECT_EQ(text.substr(19996), std::string_view("a\0b\n", 4));
}

}  // namespace
}  // namespace ferret
