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

// UTF-16 that comes a piece at a time, cut anywhere (inside a unit, between a surrogate pair's
// halves), decodes as it does whole, lone surrogates and an odd last byte too.
TEST(TextEncoding, Utf16DecodedAPieceAtATimeIsDecodedWhole) {
    std::uint32_t seed = 5;
    const auto next = [&seed](std::uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    const char16_t units[] = {u'a', u'\n', 0xE9, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0x20AC};
    for (int round = 0; round < 500; ++round) {
        std::string bytes;
        for (std::uint32_t i = next(40); i > 0; --i) {
            const char16_t unit = units[next(8)];
            bytes.push_back(static_cast<char>(unit & 0xFF));
            bytes.push_back(static_cast<char>(unit >> 8));
        }
        if (next(4) == 0) {
            bytes.push_back('x');
        }
        std::string whole;
        const bool exact = DecodeUtf16(bytes, false, whole);
        Utf16Decoder decoder(false);
        std::string pieces;
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t length = std::min<std::size_t>(1 + next(5), bytes.size() - at);
            decoder.Decode(std::string_view(bytes).substr(at, length), pieces);
            at += length;
        }
        decoder.Finish(pieces);
        ASSERT_EQ(pieces, whole) << round;
        ASSERT_EQ(decoder.exact(), exact) << round;
        if (exact) {
            EXPECT_EQ(Utf16Length(whole), bytes.size()) << round;
        }
    }
}

// ASCII without NUL is told in blocks of 64 bytes and byte by byte after them: a NUL or a byte
// beyond ASCII anywhere, first or last in a block or in the tail, is seen; the UTF-8 check agrees.
TEST(TextEncoding, AsciiAndUtf8AreToldWhereverTheOddByteIs) {
    for (const std::size_t size : {0, 1, 63, 64, 65, 127, 128, 200}) {
        const std::string ascii(size, 'a');
        EXPECT_TRUE(IsAsciiWithoutNul(ascii)) << size;
        EXPECT_TRUE(IsValidUtf8(ascii)) << size;
        for (std::size_t at = 0; at < size; ++at) {
            std::string nul = ascii;
            nul[at] = '\0';
            EXPECT_FALSE(IsAsciiWithoutNul(nul)) << size << " " << at;
            EXPECT_TRUE(IsValidUtf8(nul)) << size << " " << at;
            std::string high = ascii;
            high[at] = '\xE9';
            EXPECT_FALSE(IsAsciiWithoutNul(high)) << size << " " << at;
            EXPECT_FALSE(IsValidUtf8(high)) << size << " " << at;
            if (at + 2 <= size) {
                high.replace(at, 2, "\xC3\xA9");
                EXPECT_TRUE(IsValidUtf8(high)) << size << " " << at;
            }
        }
    }
}

}  // namespace
}  // namespace ferret
