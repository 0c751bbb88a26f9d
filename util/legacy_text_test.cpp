#include "util/legacy_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include <random>
#include <string>
#include <vector>

#include "testsupport/limited.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

struct Sample {
    const char* encoding;
    std::string text;   // UTF-8
    std::string bytes;  // the same in `encoding`
};

// Known bytes of a few words in each encoding.
const std::vector<Sample>& Words() {
    static const std::vector<Sample> words = {
        {"WINDOWS-1252", "caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80"},
        {"ISO-8859-15", "\xC5\x93uvre \xE2\x82\xAC", "\xBDuvre \xA4"},
        {"ISO-8859-2", "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87", "Za\xBF\xF3\xB3\xE6"},
        {"KOI8-R", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xF0\xD2\xC9\xD7\xC5\xD4"},
        {"WINDOWS-1251", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
         "\xCF\xF0\xE8\xE2\xE5\xF2"},
        {"ISO-8859-7", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1",
         "\xC5\xEB\xEB\xDC\xE4\xE1"},
        {"SHIFT_JIS", "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B"},
        {"EUC-JP", "\xE6\x97\xA5\xE6\x9C\xAC", "\xC6\xFC\xCB\xDC"},
        {"GB18030", "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4"},
        {"BIG5", "\xE4\xB8\xAD\xE6\x96\x87", "\xA4\xA4\xA4\xE5"},
        {"EUC-KR", "\xED\x95\x9C\xEA\xB5\xAD", "\xC7\xD1\xB1\xB9"},
    };
    return words;
}

std::string Decoded(const std::string& encoding, std::string_view bytes, bool* exact = nullptr) {
    LegacyDecoder decoder(encoding);
    EXPECT_TRUE(decoder.ok()) << encoding;
    std::string text;
    decoder.Decode(bytes, text);
    decoder.Finish(text);
    if (exact != nullptr) {
        *exact = decoder.exact();
    }
    return text;
}

// Each encoding's known bytes decode to the text and the text encodes to them; a text cut
// anywhere into pieces, even inside a character of two or four bytes, decodes as it does whole.
TEST(LegacyText, DecodesAndEncodesAPieceAtATime) {
    std::mt19937 random(7);
    for (const Sample& word : Words()) {
        SCOPED_TRACE(word.encoding);
        bool exact = false;
        EXPECT_EQ(Decoded(word.encoding, word.bytes, &exact), word.text);
        EXPECT_TRUE(exact);
        LegacyEncoder encoder(word.encoding);
        std::string bytes = "x";
        ASSERT_TRUE(encoder.Encode(word.text, bytes));
        EXPECT_EQ(bytes, "x" + word.bytes);

        std::string long_bytes;
        std::string long_text;
        for (int i = 0; i < 40; ++i) {
            long_bytes += word.bytes + "\n";
            long_text += word.text + "\n";
        }
        for (int round = 0; round < 30; ++round) {
            LegacyDecoder decoder(word.encoding);
            std::string text;
            std::size_t at = 0;
            while (at < long_bytes.size()) {
                const std::size_t piece = 1 + random() % (round < 10 ? 3 : 17);
                decoder.Decode(std::string_view(long_bytes).substr(at, piece), text);
                at += piece;
            }
            decoder.Finish(text);
            ASSERT_EQ(text, long_text) << round;
            EXPECT_TRUE(decoder.exact());
        }
    }
    // Four bytes in GB18030: a character outside the basic plane (U+20000).
    bool exact = false;
    EXPECT_EQ(Decoded("GB18030", "\x95\x32\x82\x36", &exact), "\xF0\xA0\x80\x80");
    EXPECT_TRUE(exact);
}

// Bytes the encoding does not hold, and a text that ends inside a character, become U+FFFD and
// leave the text inexact, so that no such file is rewritten from it; a character the encoding
// has no place for cannot be encoded.
TEST(LegacyText, WhatTheEncodingCannotHoldIsTold) {
    bool exact = true;
    EXPECT_EQ(Decoded("EUC-KR",
                      "a\xFF\xFF"
                      "b",
                      &exact),
              "a\xEF\xBF\xBD\xEF\xBF\xBD"
              "b");
    EXPECT_FALSE(exact);
    exact = true;
    EXPECT_EQ(Decoded("SHIFT_JIS", "ab\x93", &exact), "ab\xEF\xBF\xBD");
    EXPECT_FALSE(exact);
    exact = false;
    EXPECT_EQ(Decoded("WINDOWS-1252", "plain", &exact), "plain");
    EXPECT_TRUE(exact);

    std::string out;
    EXPECT_FALSE(LegacyEncoder("ISO-8859-1").Encode("\xE2\x82\xAC", out));
    out.clear();
    EXPECT_FALSE(LegacyEncoder("KOI8-R").Encode("\xE6\x97\xA5", out));
    out.clear();
    EXPECT_FALSE(LegacyEncoder("WINDOWS-1252").Encode("\xC3", out)) << "not UTF-8";
    // The encoder is usable again after a refusal.
    LegacyEncoder encoder("WINDOWS-1252");
    out.clear();
    EXPECT_FALSE(encoder.Encode("\xE6\x97\xA5", out));
    out.clear();
    EXPECT_TRUE(encoder.Encode("\xC3\xA9", out));
    EXPECT_EQ(out, "\xE9");

    EXPECT_TRUE(KnownEncoding("KOI8-R"));
    EXPECT_FALSE(KnownEncoding("NO-SUCH-ENCODING"));
    EXPECT_FALSE(KnownEncoding(""));
    EXPECT_FALSE(LegacyDecoder("NO-SUCH-ENCODING").ok());
}

// The encodings of one byte a character are decoded by a table: every byte, in every piece, as
// iconv decodes it, bytes outside the encoding told as not exact; one that joins characters
// (windows-1258) is left to iconv and joins them still.
TEST(LegacyText, TablesDecodeAsIconvDoes) {
    std::string every;
    for (int value = 1; value < 256; ++value) {
        every.push_back(static_cast<char>(value));
    }
    for (const char* encoding : {"WINDOWS-1252", "ISO-8859-1", "ISO-8859-2", "ISO-8859-7",
                                 "ISO-8859-15", "WINDOWS-1251", "KOI8-R", "KOI8-U", "WINDOWS-1250",
                                 "WINDOWS-1253", "WINDOWS-1255", "IBM437", "WINDOWS-1258"}) {
        SCOPED_TRACE(encoding);
        bool iconv_exact = true;
        const std::string by_iconv = Decoded(encoding, every, &iconv_exact);
        const std::unique_ptr<PieceDecoder> decoder = MakeDecoder(ByteOrderMark::kNone, encoding);
        ASSERT_TRUE(decoder);
        std::string by_table;
        for (std::size_t at = 0; at < every.size(); at += 7) {
            decoder->Decode(std::string_view(every).substr(at, 7), by_table);
        }
        decoder->Finish(by_table);
        EXPECT_EQ(by_table, by_iconv);
        EXPECT_EQ(decoder->exact(), iconv_exact);
    }
    // "a" and a combining acute accent in windows-1258: one character, "á".
    const std::unique_ptr<PieceDecoder> joining = MakeDecoder(ByteOrderMark::kNone, "WINDOWS-1258");
    std::string joined;
    joining->Decode("a\xEC", joined);
    joining->Finish(joined);
    EXPECT_EQ(joined, Decoded("WINDOWS-1258", "a\xEC"));
}

// A text that is nothing but bytes its encoding does not hold decodes in time that grows with
// its size, each bad byte U+FFFD.
TEST(LegacyText, BadBytesDecodeInLinearTime) {
    const std::string failure = testing::RunLimited(60, 512, [] {
        const std::string bad(1 << 20, '\xFF');
        std::string text;
        LegacyDecoder decoder("EUC-JP", false);
        decoder.Decode(bad, text);
        decoder.Finish(text);
        return text.size() == bad.size() * 3;
    });
    EXPECT_EQ(failure, "");
}

// A paragraph in each language, in each encoding it is written in, is guessed as an encoding
// that decodes it to the same text.
TEST(LegacyText, GuessesTheEncodingOfAParagraph) {
    const std::vector<std::pair<const char*, std::string>> paragraphs = {
        {"WINDOWS-1252",
         "Le c\xC5\x93ur d\xC3\xA9\xC3\xA7u mais l'\xC3\xA2me plut\xC3\xB4t na\xC3\xAFve, "
         "Lou\xC3\xBFs r\xC3\xAAva de crapa\xC3\xBCter en cano\xC3\xAB au del\xC3\xA0 des "
         "\xC3\xAEles, pr\xC3\xA8s du m\xC3\xA4lstr\xC3\xB6m o\xC3\xB9 br\xC3\xBBlent les "
         "nov\xC3\xA6. "},
        {"ISO-8859-2",
         "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84. "
         "Pchn\xC4\x85\xC4\x87 w t\xC4\x99 \xC5\x82\xC3\xB3"
         "d\xC5\xBA je\xC5\xBC"
         "a lub "
         "o\xC5\x9Bm skrzy\xC5\x84 fig. "},
        {"KOI8-R",
         "\xD0\xA1\xD1\x8A\xD0\xB5\xD1\x88\xD1\x8C \xD0\xB6\xD0\xB5 \xD0\xB5\xD1\x89\xD1\x91 "
         "\xD1\x8D\xD1\x82\xD0\xB8\xD1\x85 \xD0\xBC\xD1\x8F\xD0\xB3\xD0\xBA\xD0\xB8\xD1\x85 "
         "\xD1\x84\xD1\x80\xD0\xB0\xD0\xBD\xD1\x86\xD1\x83\xD0\xB7\xD1\x81\xD0\xBA\xD0\xB8\xD1"
         "\x85 \xD0\xB1\xD1\x83\xD0\xBB\xD0\xBE\xD0\xBA, \xD0\xB4\xD0\xB0 \xD0\xB2\xD1\x8B\xD0"
         "\xBF\xD0\xB5\xD0\xB9 \xD1\x87\xD0\xB0\xD1\x8E. "},
        {"ISO-8859-7",
         "\xCE\x9E\xCE\xB5\xCF\x83\xCE\xBA\xCE\xB5\xCF\x80\xCE\xAC\xCE\xB6\xCF\x89 \xCF\x84\xCE"
         "\xB7\xCE\xBD \xCF\x88\xCF\x85\xCF\x87\xCE\xBF\xCF\x86\xCE\xB8\xCF\x8C\xCF\x81\xCE\xB1 "
         "\xCE\xB2\xCE\xB4\xCE\xB5\xCE\xBB\xCF\x85\xCE\xB3\xCE\xBC\xCE\xAF\xCE\xB1. "},
        {"SHIFT_JIS",
         "\xE3\x81\x84\xE3\x82\x8D\xE3\x81\xAF\xE3\x81\xAB\xE3\x81\xBB\xE3\x81\xB8\xE3\x81\xA8 "
         "\xE3\x81\xA1\xE3\x82\x8A\xE3\x81\xAC\xE3\x82\x8B\xE3\x82\x92\xE3\x80\x82\xE6\x97\xA5"
         "\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x96\x87\xE7\xAB\xA0\xE3\x81\xA7\xE3\x81\x99"
         "\xE3\x80\x82"},
        {"EUC-KR",
         "\xEB\x8B\xA4\xEB\x9E\x8C\xEC\xA5\x90 \xED\x97\x8C \xEC\xB3\x87\xEB\xB0\x94\xED\x80"
         "\xB4\xEC\x97\x90 \xED\x83\x80\xEA\xB3\xA0\xED\x8C\x8C. \xED\x95\x9C\xEA\xB5\xAD\xEC"
         "\x96\xB4 \xEB\xAC\xB8\xEC\x9E\xA5\xEC\x9E\x85\xEB\x8B\x88\xEB\x8B\xA4. "},
    };
    for (const auto& [encoding, sentence] : paragraphs) {
        SCOPED_TRACE(encoding);
        std::string text;
        for (int i = 0; i < 12; ++i) {
            text += sentence;
        }
        std::string bytes;
        ASSERT_TRUE(LegacyEncoder(encoding).Encode(text, bytes));
        const std::string guess = GuessEncoding(bytes);
        ASSERT_FALSE(guess.empty());
        bool exact = false;
        EXPECT_EQ(Decoded(guess, bytes, &exact), text) << guess;
        EXPECT_TRUE(exact) << guess;
    }
}

// Mostly-ASCII text with an accented name here and there, as in a copyright file, the guess
// alone reads in an old Mac or DOS code page ("Raphaël" as "RaphaŽl"): it is read in the
// encoding a file is in when unsure. Text dense with letters beyond ASCII keeps its guess.
TEST(LegacyText, AFewAccentsAreReadInTheEncodingWhenUnsure) {
    const std::string copyright =
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
        "Upstream-Name: Locale-gettext\n\n"
        "Files: *\n"
        "Copyright: 1996-2005, Phillip Vandry <vandry@TZoNE.ORG>\n"
        "License: Artistic or GPL-1+\n\n"
        "Files: debian/*\n"
        "Copyright: 1998-2009, Rapha\xC3\xABl Hertzog <hertzog@debian.org>\n"
        "           2010, Jos\xC3\xA9 Padilla <hello@example.com>\n"
        "License: Artistic or GPL-1+\n";
    const EncodingChoice unsure_is_none{"", ""};
    for (const char* encoding : {"WINDOWS-1252", "ISO-8859-15"}) {
        SCOPED_TRACE(encoding);
        std::string bytes;
        ASSERT_TRUE(LegacyEncoder(encoding).Encode(copyright, bytes));
        const std::string read = LegacyEncodingOf(bytes, EncodingChoice{"", encoding});
        EXPECT_EQ(Decoded(read, bytes), copyright)
            << read << " (the guess alone: " << LegacyEncodingOf(bytes, unsure_is_none) << ")";
    }
    // Russian in the DOS code page, a word of it after another: not a few accents.
    const std::string russian =
        "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80! "
        "\xD0\xAD\xD1\x82\xD0\xBE \xD0\xBF\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB5\xD1\x80\xD0"
        "\xBA\xD0\xB0 \xD1\x82\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82\xD0\xB0.\n";
    std::string text;
    for (int i = 0; i < 12; ++i) {
        text += russian;
    }
    std::string bytes;
    ASSERT_TRUE(LegacyEncoder("IBM866").Encode(text, bytes));
    const std::string guess = LegacyEncodingOf(bytes, unsure_is_none);
    EXPECT_EQ(LegacyEncodingOf(bytes, kFoundEncodings), guess);
}

// What lets an ASCII text be found among a legacy file's bytes without its encoding.
TEST(LegacyText, AsciiIsItsBytesInEveryEncodingAGuessGives) {
    EXPECT_TRUE(IsPortableAscii("<a href=\"x\">%s\tdone\r\n"));
    EXPECT_FALSE(IsPortableAscii("C:\\"));  // Shift_JIS reads these as "¥" and "‾"
    EXPECT_FALSE(IsPortableAscii("~"));
    EXPECT_FALSE(IsPortableAscii("caf\xC3\xA9"));

    for (const char* kept : {"WINDOWS-1252", "ISO-8859-7", "KOI8-R", "IBM866", "VISCII",
                             "MAC-CYRILLIC", "TIS-620", "WINDOWS-1258"}) {
        EXPECT_TRUE(KeepsAscii(std::string(kept))) << kept;
    }
    // Seven-bit encodings, UTF-16 and EBCDIC write ASCII otherwise.
    for (const char* other : {"UTF-16LE", "UTF-32", "UTF-7", "ISO-2022-JP", "IBM037", "nonsense"}) {
        EXPECT_FALSE(KeepsAscii(std::string(other))) << other;
    }
    EXPECT_TRUE(KeepsAscii(EncodingChoice{}));
    EXPECT_FALSE(KeepsAscii(EncodingChoice{"", "UTF-16LE"}));
    EXPECT_FALSE(KeepsAscii(EncodingChoice{"UTF-7", "WINDOWS-1252"}));

    // No character of two bytes in the East Asian encodings is ASCII, whatever its second byte.
    for (const char* kept : {"SHIFT_JIS", "CP932", "EUC-JP", "EUC-KR", "CP949", "UHC", "GB18030",
                             "GBK", "BIG5", "BIG5-HKSCS", "EUC-TW", "WINDOWS-1255"}) {
        SCOPED_TRACE(kept);
        ASSERT_TRUE(KeepsAscii(std::string(kept)));
        int ascii_out = 0;
        for (int first = 0x80; first < 0x100; ++first) {
            for (int second = 0; second < 0x100; ++second) {
                const char pair[] = {static_cast<char>(first), static_cast<char>(second)};
                LegacyDecoder decoder(kept, false);
                std::string text;
                decoder.Decode(std::string_view(pair, 2), text);
                decoder.Finish(text);
                for (std::size_t at = 0; at < text.size(); ++at) {
                    const char c = text[at];
                    if (IsPortableAscii(std::string_view(&c, 1)) &&
                        (c != pair[1] || at + 1 != text.size())) {
                        ++ascii_out;  // only a second byte the first did not take may be ASCII
                    }
                }
            }
        }
        EXPECT_EQ(ascii_out, 0);
    }

    // Whether a hit found among the bytes is the text: it must begin a character in every
    // encoding, and take no accent after it.
    EXPECT_TRUE(AsciiHitIsText("", true, -1));
    EXPECT_TRUE(AsciiHitIsText("x ", false, ' '));
    EXPECT_TRUE(AsciiHitIsText("x\xA4\xA4", false, -1));  // after a Big5 or EUC character
    EXPECT_FALSE(AsciiHitIsText("x\x82", false, -1));     // a Shift_JIS first byte takes it
    EXPECT_FALSE(AsciiHitIsText("x\xA4\xA4\xA4", false, -1));
    EXPECT_TRUE(AsciiHitIsText("x\xB1\xB1", false, -1));   // two half-width katakana, or one pair
    EXPECT_FALSE(AsciiHitIsText("x\xB1\x82", false, -1));  // katakana, then a first byte
    EXPECT_FALSE(AsciiHitIsText("\xA4\xA4", false, -1));   // where the run begins is not known
    EXPECT_TRUE(AsciiHitIsText("\xA4\xA4", true, -1));
    EXPECT_FALSE(AsciiHitIsText("x", false, 0xEC));  // windows-1258's acute joins the letter
}

// The ways a character is written, which a search of a file's bytes looks for before its
// encoding is known: all of them, in every encoding a guess may give, or it would miss hits.
TEST(LegacyText, EveryWayACharacterIsWrittenIsKnown) {
    const auto forms = [](const char* encoding, const char* character) {
        return CharacterForms(encoding, character);
    };
    EXPECT_EQ(forms("WINDOWS-1252", "\xC3\xA9"), std::vector<std::string>{"\xE9"});  // é
    EXPECT_EQ(forms("KOI8-R", "\xD1\x84"), std::vector<std::string>{"\xC6"});        // ф
    EXPECT_EQ(forms("WINDOWS-1252", "\xD1\x84"), std::vector<std::string>{});
    EXPECT_EQ(forms("WINDOWS-1252", "a"), std::vector<std::string>{"a"});
    // Big5 writes 十 two ways; EUC-TW names the plane of its first-plane characters or not.
    EXPECT_EQ(forms("BIG5", "\xE5\x8D\x81"), (std::vector<std::string>{"\xA4\x51", "\xA2\xCC"}));
    EXPECT_EQ(forms("EUC-TW", "\xE5\x8D\x81")->size(), 2u);
    // windows-1258 writes é whole or as e and its accent; an encoding not guessed is not known.
    EXPECT_FALSE(forms("WINDOWS-1258", "\xC3\xA9"));
    EXPECT_EQ(forms("WINDOWS-1258", "\xD1\x84"), std::vector<std::string>{});
    EXPECT_FALSE(forms("CP932", "\xE5\x8D\x81"));

    // Every guess is an encoding whose ways are known, and holds ASCII apart.
    for (const std::string& encoding : GuessableEncodings()) {
        EXPECT_TRUE(KnownEncoding(encoding)) << encoding;
        EXPECT_TRUE(KeepsAscii(encoding)) << encoding;
        EXPECT_TRUE(forms(encoding.c_str(), "x")) << encoding;
    }
    // Every character of two bytes (and EUC-JP's of three) is found by every way it is written.
    for (const char* encoding :
         {"SHIFT_JIS", "EUC-JP", "EUC-KR", "UHC", "EUC-TW", "GB18030", "BIG5"}) {
        SCOPED_TRACE(encoding);
        int missed = 0;
        const auto check = [&](const std::string& bytes) {
            LegacyDecoder decoder(encoding);
            std::string text;
            decoder.Decode(bytes, text);
            decoder.Finish(text);
            std::size_t at = 0;
            DecodeUtf8(text, at);
            if (!decoder.exact() || at != text.size()) {
                return;  // not one character
            }
            const auto ways = CharacterForms(encoding, text);
            if (!ways || std::find(ways->begin(), ways->end(), bytes) == ways->end()) {
                ++missed;
            }
        };
        for (int first = 0x81; first < 0xFF; ++first) {
            for (int second = 0x40; second < 0xFF; ++second) {
                check({static_cast<char>(first), static_cast<char>(second)});
            }
        }
        if (std::string(encoding) == "EUC-JP") {
            for (int second = 0xA1; second < 0xFF; ++second) {
                for (int third = 0xA1; third < 0xFF; ++third) {
                    check({'\x8F', static_cast<char>(second), static_cast<char>(third)});
                }
            }
        }
        EXPECT_EQ(missed, 0);
    }
}

}  // namespace
}  // namespace ferret
