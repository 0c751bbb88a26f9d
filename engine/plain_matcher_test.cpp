#include "engine/plain_matcher.h"

#include <gtest/gtest.h>

#include <random>

#include "util/text_fold.h"

namespace ferret {
namespace {

// Every position where `needle` starts, the slow and obvious way.
std::uint64_t NaiveCount(const std::string& hay, const std::string& needle, std::size_t min_end) {
    std::uint64_t count = 0;
    for (std::size_t i = 0; needle.size() <= hay.size() && i <= hay.size() - needle.size(); ++i) {
        if (hay.compare(i, needle.size(), needle) == 0 && i + needle.size() > min_end) {
            ++count;
        }
    }
    return count;
}

TEST(PlainMatcher, OverlappingHitsAreAllCounted) {
    EXPECT_EQ(PlainMatcher("aa", false).Count("aaaa", 4), 3u);
    EXPECT_EQ(PlainMatcher("a", false).Count("banana", 6), 3u);
    EXPECT_EQ(PlainMatcher("abab", false).Count("abababab", 8), 3u);
    EXPECT_EQ(PlainMatcher("x", false).Count("", 0), 0u);
    EXPECT_TRUE(PlainMatcher("", false).empty());
    EXPECT_EQ(PlainMatcher("", false).Count("abc", 3), 0u);
    EXPECT_EQ(PlainMatcher("long needle", false).Count("short", 5), 0u);
    const std::string nul_text("a\0b\0a\0b", 7);
    EXPECT_EQ(PlainMatcher(std::string("\0b", 2), false).Count(nul_text.data(), 7), 2u);
}

// Exact Find and Count, min_end included, are held against the obvious way below.
TEST(PlainMatcher, FoldedFindGivesTheNextHit) {
    const std::string text = "xx abc ABC abc";
    const PlainMatcher folded("abc", true);
    EXPECT_EQ(folded.Find(text.data(), text.size(), 4), 7u);
    EXPECT_EQ(folded.Find(text.data(), 13, 11), std::string_view::npos);  // would not fit
}

TEST(PlainMatcher, ExactAgreesWithNaiveCountOnRandomText) {
    std::mt19937 random(7);
    // A small alphabet makes hits, near misses and overlaps common.
    const std::string alphabet = "ab\n\0\xff";
    for (int round = 0; round < 300; ++round) {
        std::string hay(random() % 300, ' ');
        for (char& c : hay) {
            c = alphabet[random() % alphabet.size()];
        }
        std::string needle(1 + random() % 5, ' ');
        for (char& c : needle) {
            c = alphabet[random() % alphabet.size()];
        }
        const std::size_t min_end = random() % 4;
        const PlainMatcher matcher(needle, false);
        EXPECT_EQ(matcher.Count(hay.data(), hay.size(), min_end), NaiveCount(hay, needle, min_end))
            << "round " << round;
        const std::size_t from = random() % 8;
        EXPECT_EQ(matcher.Find(hay.data(), hay.size(), from), hay.find(needle, from))
            << "round " << round;
    }
}

TEST(PlainMatcher, IgnoreCaseFoldsAsciiAndUnicodeLetters) {
    const struct {
        const char* needle;
        const char* text;
        std::uint64_t hits;
    } cases[] = {
        {"ABC", "abc Abc ABC aBd", 3},
        {"été", "ÉTÉ été Été", 3},
        {"k", "k K \xE2\x84\xAA", 3},            // the Kelvin sign folds to k
        {"straße", "STRASSE straße STRAẞE", 2},  // simple folding: ß is not "ss"
        {"a\xff", "A\xff a\xfe", 1},             // invalid bytes match only themselves
        {"aa", "AaAa", 3},
    };
    for (const auto& c : cases) {
        const std::string text = c.text;
        EXPECT_EQ(PlainMatcher(c.needle, true).Count(text.data(), text.size()), c.hits) << c.needle;
    }
    EXPECT_GE(PlainMatcher("k", true).MaxHitLength(), 3u);
}

TEST(PlainMatcher, IgnoreCaseAgreesWithFoldedNaiveCountOnAsciiText) {
    std::mt19937 random(11);
    const std::string alphabet = "aAbB\n";
    for (int round = 0; round < 300; ++round) {
        std::string hay(random() % 200, ' ');
        for (char& c : hay) {
            c = alphabet[random() % alphabet.size()];
        }
        std::string needle(1 + random() % 4, ' ');
        for (char& c : needle) {
            c = alphabet[random() % alphabet.size()];
        }
        EXPECT_EQ(PlainMatcher(needle, true).Count(hay.data(), hay.size()),
                  NaiveCount(FoldCase(hay), FoldCase(needle), 0))
            << "round " << round;
    }
}

}  // namespace
}  // namespace ferret
