#include "preview/text_marks.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

std::vector<int> Starts(const std::vector<TextMark>& marks) {
    std::vector<int> starts;
    for (const TextMark& mark : marks) {
        starts.push_back(mark.start);
    }
    return starts;
}

TEST(FileTextDecoding, Utf8ElseWindows1252) {
    EXPECT_EQ(DecodeFileText("caf\xC3\xA9"), QStringLiteral("café"));
    EXPECT_EQ(DecodeFileText("\xEF\xBB\xBFhi"), QStringLiteral("hi"));  // the mark is not text
    // UTF-16 after its mark, either byte order; damage shows as the replacement character.
    EXPECT_EQ(DecodeFileText(std::string("\xFF\xFEh\0\xE9\0\r\0\n\0", 10)),
              QStringLiteral("h\u00e9\r\n"));
    EXPECT_EQ(DecodeFileText(std::string("\xFE\xFF\0h\xD8\x3D\xDE\x00", 8)),
              QStringLiteral("h\U0001F600"));
    EXPECT_EQ(DecodeFileText(std::string("\xFF\xFE\x3D\xD8", 4)), QStringLiteral("\uFFFD"));
    // Not UTF-8: every byte is a Windows-1252 character, the euro sign and quotes included.
    EXPECT_EQ(DecodeFileText("caf\xE9 \x80 \x96 \x93"), QStringLiteral("café € – “"));
    // Overlong forms and surrogates are not UTF-8 either.
    EXPECT_EQ(DecodeFileText("\xC0\xAF").size(), 2);
    EXPECT_EQ(DecodeFileText("\xED\xA0\x80").size(), 3);
    // A NUL stays a character; nothing is cut off after it.
    EXPECT_EQ(DecodeFileText(std::string_view("a\0b", 3)).size(), 3);
    EXPECT_TRUE(DecodeFileText("").isEmpty());
}

TEST(PlainMarks, NonOverlappingFromTheStart) {
    EXPECT_EQ(Starts(FindPlainMarks(QStringLiteral("abab"), QStringLiteral("ab"), false)),
              (std::vector<int>{0, 2}));
    EXPECT_EQ(FindPlainMarks(QStringLiteral("aaaa"), QStringLiteral("aa"), false).size(), 2u);
    EXPECT_EQ(FindPlainMarks(QStringLiteral("aaa"), QStringLiteral("aa"), false).size(), 1u);
    EXPECT_TRUE(FindPlainMarks(QStringLiteral("abc"), QString(), false).empty());
    EXPECT_TRUE(FindPlainMarks(QStringLiteral("ABC"), QStringLiteral("b"), false).empty());
    EXPECT_EQ(FindPlainMarks(QStringLiteral("ABC"), QStringLiteral("b"), true).size(), 1u);
    // Case folding goes beyond ASCII, and marks count UTF-16 units.
    const std::vector<TextMark> marks =
        FindPlainMarks(QStringLiteral("😀Élan élan"), QStringLiteral("éLAN"), true);
    EXPECT_EQ(marks, (std::vector<TextMark>{{2, 4}, {7, 4}}));
}

}  // namespace
}  // namespace ferret
