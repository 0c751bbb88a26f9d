#include "util/text_encoding.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

TEST(TextEncoding, MarksAndUtf16BothWays) {
    EXPECT_EQ(DetectByteOrderMark("\xEF\xBB\xBFx"), ByteOrderMark::kUtf8);
    EXPECT_EQ(DetectByteOrderMark("\xFF\xFE"), ByteOrderMark::kUtf16LE);
    EXPECT_EQ(DetectByteOrderMark("\xFE\xFFx"), ByteOrderMark::kUtf16BE);
    EXPECT_EQ(DetectByteOrderMark("\xEF\xBB"), ByteOrderMark::kNone);
    EXPECT_EQ(DetectByteOrderMark(std::string("\xFF\xFE\0\0a\0\0\0", 8)), ByteOrderMark::kNone);
    EXPECT_EQ(DetectByteOrderMark(std::string("\xFF\xFE\0", 3)), ByteOrderMark::kUtf16LE);
    EXPECT_EQ(DetectByteOrderMark(""), ByteOrderMark::kNone);

    // ASCII, a two-byte letter, a character outside the basic plane (a surrogate pair).
    const std::string text = "a\xC3\xA9\xF0\x9F\x98\x80";
    std::string little;
    std::string big;
    ASSERT_TRUE(EncodeUtf16(text, false, little));
    ASSERT_TRUE(EncodeUtf16(text, true, big));
    EXPECT_EQ(little, std::string("a\0\xE9\0\x3D\xD8\x00\xDE", 8));
    EXPECT_EQ(big, std::string("\0a\0\xE9\xD8\x3D\xDE\x00", 8));
    std::string back;
    EXPECT_TRUE(DecodeUtf16(little, false, back));
    EXPECT_EQ(back, text);
    EXPECT_TRUE(DecodeUtf16(big, true, back));
    EXPECT_EQ(back, text);

    // A lone surrogate, a low one first and an odd last byte decode to U+FFFD, marked inexact.
    const std::string replacement_character = "\xEF\xBF\xBD";
    EXPECT_FALSE(DecodeUtf16(std::string("\x3D\xD8x\0", 4), false, back));
    EXPECT_EQ(back, replacement_character + "x");
    EXPECT_FALSE(DecodeUtf16(std::string("\x00\xDE\x3D\xD8", 4), false, back));
    EXPECT_EQ(back, replacement_character + replacement_character);
    EXPECT_FALSE(DecodeUtf16(std::string("x\0y", 3), false, back));
    EXPECT_EQ(back, "x" + replacement_character);

    // Only valid UTF-8 can be written as UTF-16.
    EXPECT_FALSE(EncodeUtf16("a\xFF", false, back));
    EXPECT_FALSE(EncodeUtf16("\xED\xA0\x80", false, back));  // an encoded surrogate
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));  // overlong
    EXPECT_FALSE(IsValidUtf8("\xE9t\xE9"));

    std::string storage;
    std::string_view view;
    bool exact = false;
    EXPECT_EQ(FileTextAsUtf8("\xFF\xFE" + little, storage, view, &exact), ByteOrderMark::kUtf16LE);
    EXPECT_EQ(view, text);
    EXPECT_TRUE(exact);
    EXPECT_EQ(FileTextAsUtf8("\xEF\xBB\xBF"
                             "abc",
                             storage, view),
              ByteOrderMark::kUtf8);
    EXPECT_EQ(view, "abc");
    EXPECT_EQ(FileTextAsUtf8("\xFE", storage, view), ByteOrderMark::kNone);
    EXPECT_EQ(view, "\xFE");
}

}  // namespace
}  // namespace ferret
