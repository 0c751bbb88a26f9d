#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ferret {

// An ECMAScript pattern rewritten for PCRE2 (compiled in UTF mode with PCRE2_ALT_BSUX,
// PCRE2_ALLOW_EMPTY_CLASS and PCRE2_MATCH_UNSET_BACKREF) so that it matches what ECMAScript
// matches where the two engines read the same text differently:
// - "." matches no line terminator: neither LF nor CR, U+2028 or U+2029 (PCRE2 stops only at
//   its newline), unless a "(?s:" group or PCRE2's own "(?s)" asks for every character;
// - \s and \S are ECMAScript's white space (tab, VT, FF, space, U+00A0, U+FEFF, the Unicode
//   space separators and the line terminators), in and out of classes; \v is VT alone;
// - a digit escape is a back-reference when the pattern has that many groups, else an octal
//   code ("\012" is LF) or the digit itself ("\8");
// - the groups inside a repeated group are reset on each repetition: every path through the
//   repeated part sets each of them, to the empty text when it is not on the path (an unset
//   group and an empty one expand and back-reference alike, to nothing);
// - a hyphen next to a class escape in a class ("[\d-z]") is a hyphen.
// PCRE2's own syntax (inline options, verbs, \Q...\E, conditions, recursion) passes through as
// it is; groups are then not reset.
struct PcrePattern {
    std::string text;
    // Pieces of `text` and where each came from in the pattern, in order: for pointing at the
    // user's own text when PCRE2 rejects the rewritten one.
    struct Piece {
        std::size_t out;
        std::size_t in;
        bool verbatim;  // the piece is the pattern's own text, byte for byte
    };
    std::vector<Piece> pieces;

    // The offset in the pattern that the rewritten text's `offset` came from.
    std::size_t PatternOffset(std::size_t offset) const;
};

PcrePattern TranslateEcmaPattern(std::string_view pattern);

}  // namespace ferret
