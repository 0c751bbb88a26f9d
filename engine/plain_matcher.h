#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ferret {

// Finds every position where a fixed text starts in a run of bytes, overlapping positions
// included ("aa" is found 3 times in "aaaa"). Exact matching compares bytes. Matching without
// regard to case treats each character of the text as the set of characters that share its
// simple case folding: ASCII letters, and in UTF-8 other letters too ("é" finds "É", "k" finds
// the Kelvin sign); bytes that are not valid UTF-8 match only themselves. So a hit's length in
// bytes may differ from the text's. Immutable after construction; safe to share between threads.
class PlainMatcher {
  public:
    PlainMatcher(std::string_view text, bool ignore_case);

    bool empty() const { return length_ == 0; }
    // The longest a hit can be, in bytes.
    std::size_t MaxHitLength() const { return max_hit_length_; }
    // The text, and whether every hit is ASCII (then as long as the text).
    std::string_view text() const { return text_; }
    bool ignore_case() const { return ignore_case_; }
    bool OnlyAsciiHits() const;
    // The characters of the text, each as the UTF-8 texts a hit may hold for it (itself, and
    // without regard to case the characters that fold alike); a byte that is not UTF-8 stands
    // for itself.
    std::vector<std::vector<std::string>> CharacterVariants() const;

    // Counts the hits that lie wholly in data[0, size) and end after data[min_end - 1], so a
    // caller that keeps the last MaxHitLength() - 1 bytes of one block in front of the next
    // (passing their count as min_end) counts every hit exactly once.
    std::uint64_t Count(const char* data, std::size_t size, std::size_t min_end = 0) const;

    // Where the first hit at or after `from` starts (wholly within data[0, size)), or npos.
    std::size_t Find(const char* data, std::size_t size, std::size_t from) const;

  private:
    // One character of the text: the byte sequences that may stand for it.
    struct CharClass {
        std::vector<std::string> forms;
    };

    std::uint64_t CountExact(const char* data, std::size_t size, std::size_t min_end) const;
    std::size_t FindExact(const char* data, std::size_t size, std::size_t from) const;
    bool MatchesAt(const char* start) const;
    std::uint64_t CountFolded(const char* data, std::size_t size, std::size_t min_end) const;
    // Length of the hit starting at `at`, or 0 when there is none.
    std::size_t FoldedHitAt(const char* data, std::size_t size, std::size_t at) const;

    std::string text_;
    std::size_t length_ = 0;
    std::size_t max_hit_length_ = 0;
    bool ignore_case_ = false;
    // Exact: two of the text's least common bytes and their offsets; only positions where both
    // are in place are compared in full.
    std::size_t first_offset_ = 0;
    std::size_t second_offset_ = 0;
    bool use_avx2_ = false;
    // Folded: the characters, and the first bytes that can start a hit.
    std::vector<CharClass> classes_;
    std::vector<unsigned char> start_bytes_;
    bool is_start_byte_[256] = {};
};

}  // namespace ferret
