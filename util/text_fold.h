#pragma once

#include <string>
#include <string_view>

namespace ferret {

// Case folding for names and paths, which are bytes and mostly UTF-8. Letters fold as Unicode
// simple case folding does (so "É" and "é" compare equal); bytes that are not valid UTF-8 are
// kept as they are and compare only with themselves.

// Decodes one code point at `pos` and advances `pos`. A byte that does not start a valid
// sequence gives 0xDC00 + byte (a lone surrogate, which no valid sequence decodes to).
char32_t DecodeUtf8(std::string_view text, std::size_t& pos);

// Appends the UTF-8 form of `c`; a byte decoded as 0xDC00 + byte is appended as that byte.
void AppendUtf8(char32_t c, std::string& out);

char32_t FoldNonAscii(char32_t c);
inline char32_t FoldCodePoint(char32_t c) {
    if (c < 0x80) {
        return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
    }
    return FoldNonAscii(c);
}

// `text` with every code point folded, encoded back to UTF-8; invalid bytes copied unchanged.
std::string FoldCase(std::string_view text);

// Decoded and folded code points, for matching character by character.
std::u32string FoldedCodePoints(std::string_view text);

// True when the two texts are equal after folding.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace ferret
