#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/text_edit.h"

namespace ferret {

class PlainMatcher;

// A line of a file's text shown for its hits: a line that holds hits, or one of the lines of
// context around them.
struct HitLine {
    std::int64_t number = 0;  // 1-based; lines end at a line feed, CR LF or a lone CR
    std::int64_t column = 0;  // 1-based, in characters, of its first hit; 0 for a context line
    std::int32_t hits = 0;    // hits that start in it; 0 for a context line
    std::string text;         // the line without its end, cut around the first hit when long
};

// Characters in `bytes`: UTF-8 lead bytes and bytes that cannot continue one each count.
std::int64_t Characters(std::string_view bytes);
// The line feeds in `bytes`.
std::int64_t LineFeeds(std::string_view bytes);

// `line` as a hit line shows it: cut to kHitLineLength characters around the character
// `around`, each cut marked with "…".
std::string CutLine(std::string_view line, std::int64_t around);

// Where a file's hits are: its hit lines in order, or only that it is binary. A document's or a
// spreadsheet's places are not lines: their number and column are 0, the text says where.
struct FileHits {
    bool binary = false;  // it holds a NUL byte and no text mark: its lines are not shown
    std::vector<HitLine> lines;
};

// The longest line text kept, in characters; a longer line keeps this much around its first hit
// and marks each cut with "…".
inline constexpr std::size_t kHitLineLength = 300;

// The byte offsets in `text` where the hits of `matcher` start, overlapping ones included, as
// the search counts them.
std::vector<std::size_t> PlainHitStarts(std::string_view text, const PlainMatcher& matcher);
// The same into `starts`, whose room is kept (for a list kept from file to file).
void PlainHitStarts(std::string_view text, const PlainMatcher& matcher,
                    std::vector<std::size_t>& starts);

// Where each of `edits` (in order) starts in the text they make.
std::vector<std::size_t> StartsAfterEdits(const std::vector<TextEdit>& edits);

// The lines of `text` (a file's text as UTF-8) that hold the hits starting at `starts` (byte
// offsets, ascending), in order, each with up to `context` lines (0 to 3) before and after it;
// a line is listed once, as a hit line when it holds a hit. A column counts characters from the
// line's start, each byte that is not part of UTF-8 as one.
std::vector<HitLine> LinesOfHits(std::string_view text, const std::vector<std::size_t>& starts,
                                 int context);

// The hits of a file's decoded text as FileHits: binary when `marked` is false and `text` holds a
// NUL byte, its lines otherwise.
FileHits HitsOfText(std::string_view text, bool marked, const std::vector<std::size_t>& starts,
                    int context);

}  // namespace ferret
