#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <functional>
#include <memory>

#include "engine/text_edit.h"
#include "util/spill_buffer.h"

namespace ferret {

class PlainMatcher;

// A line of a file's text shown for its hits: a line that holds hits, or one of the lines of
// context around them.
struct HitLine {
    // 1-based; lines end at a line feed (a carriage return before it belongs to the line end, a
    // lone one is a character), as editors, grep and ripgrep count them.
    std::int64_t number = 0;
    // 1-based, in bytes of the UTF-8 text from the line's start, of its first hit; 0 for a
    // context line. Editors (vim's %c), grep and ripgrep count so.
    std::int64_t column = 0;
    std::int32_t hits = 0;  // hits that start in it; 0 for a context line
    std::string text;       // the line without its end, cut around the first hit when long
    // Where each hit starts and ends, in bytes from the line's start (an end may pass the line),
    // when they were asked for (HitLineBuilder).
    struct Span {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
    };
    std::vector<Span> spans = {};
    std::uint64_t offset = 0;  // where the line starts in the text, in bytes
    std::int32_t page = 0;     // 1-based, of a PDF's text, whose lines are counted by page; else 0
};

// Characters in `bytes`: UTF-8 lead bytes and bytes that cannot continue one each count.
std::int64_t Characters(std::string_view bytes);
// The line feeds in `bytes`.
std::int64_t LineFeeds(std::string_view bytes);

// `line` as a hit line shows it: cut to kHitLineLength characters around the character
// `around`, each cut marked with "…".
std::string CutLine(std::string_view line, std::int64_t around);

// Hit lines set aside in a SpillBuffer (a temporary file past a little memory), to be read back
// in order a part at a time: the lines of a file that cannot be handed on while it is worked on.
class HitLineSpill {
  public:
    [[nodiscard]] Status Add(const std::vector<HitLine>& lines);
    bool empty() const { return buffer_.empty(); }
    std::size_t Lines() const { return lines_; }
    // Gives the lines back in order, `at_once` at a time, to `part`; then it is empty.
    [[nodiscard]] Status Take(std::size_t at_once,
                              const std::function<void(std::vector<HitLine>)>& part);

  private:
    SpillBuffer buffer_;
    std::size_t lines_ = 0;
};

// Where a file's hits are: its hit lines in order, or only that it is binary. A document's or a
// spreadsheet's places are not lines: their number and column are 0, the text says where.
struct FileHits {
    bool binary = false;  // it holds a NUL byte and no text mark: its lines are not shown
    // Where its lines' texts can be read again: the bytes before the text in the file (its UTF-8
    // mark), so that a line starts at text_from + offset; -1 when they cannot (a preview's new
    // text, a text decoded from UTF-16, a document's places).
    int text_from = -1;
    std::vector<HitLine> lines;
    // Lines before `lines`, set aside when a file has many and cannot hand them on yet.
    std::shared_ptr<HitLineSpill> spilled;
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

// Builds the hit lines of a text that is given a piece at a time, so a file of any size and with
// any number of hits is read in the same memory: a few lines of context, each cut to
// kHitLineLength characters, and the hits of one piece. Hits (byte offsets from the text's start,
// ascending) are given before the piece that holds them; a hit at the text's very end belongs to
// the last line. Lines go to `out` as they are complete: a hit line with up to `context` lines
// (0 to 3) before and after it, each line listed once.
class HitLineBuilder {
  public:
    // `spans`: each hit line lists its hits' places (Hit's lengths).
    HitLineBuilder(int context, std::vector<HitLine>& out, bool spans = false);
    HitLineBuilder(const HitLineBuilder&) = delete;
    HitLineBuilder& operator=(const HitLineBuilder&) = delete;

    void Hit(std::uint64_t offset, std::uint64_t length = 0) {
        hits_.push_back(offset);
        if (spans_) {
            lengths_.push_back(length);
        }
    }
    void Feed(std::string_view piece);
    // The text has ended: the last line goes out.
    void Finish();

  private:
    // A line that goes on past the piece it starts in: what its hit line or context line needs
    // of it, never the whole line.
    struct OpenLine {
        bool open = false;
        std::uint64_t start = 0;  // in the text
        std::vector<HitLine::Span> spans;
        std::uint64_t bytes = 0;  // so far, its line end not included
        std::uint64_t chars = 0;  // the same in characters
        std::string head;         // its first kHitLineLength + 1 characters
        std::string before;       // the characters just before its first hit (or its end)
        std::string after;        // from its first hit on, as many as a cut line shows
        std::uint64_t after_chars = 0;
        std::uint64_t first = 0;  // byte offset of its first hit in the line
        std::uint64_t first_chars = 0;
        std::int32_t hits = 0;
        bool ended = false;            // its line feed was seen
        bool carriage_return = false;  // its last byte is a carriage return
    };

    // Adds to the open line the bytes `segment`, which start at `at` in the text, and the hits
    // up to `through`.
    void Add(std::string_view segment, std::uint64_t at, std::uint64_t through);
    void CloseOpenLine();
    // The lines of `piece` from `pos` on; `base` is where the piece starts in the text.
    void WholeLines(std::string_view piece, std::size_t pos, std::uint64_t base);
    // The line `line` (its line feed at `end` not included), which starts at `start`.
    void Line(std::string_view line, std::uint64_t start, std::uint64_t end);
    void Emit(HitLine line, bool hit);
    // The hits up to `through`, the first at `first`; their places go to `spans`, from
    // `line_start`, when asked for.
    std::int32_t TakeHits(std::uint64_t through, std::uint64_t& first, std::uint64_t line_start,
                          std::vector<HitLine::Span>& spans);

    const int context_;
    std::vector<HitLine>& out_;
    const bool spans_;
    std::vector<std::uint64_t> hits_;     // given and not yet placed
    std::vector<std::uint64_t> lengths_;  // their lengths, with spans_
    std::size_t next_hit_ = 0;
    std::uint64_t fed_ = 0;
    std::int64_t number_ = 1;      // of the line that starts at fed_ (or is open)
    std::vector<HitLine> before_;  // the last lines passed without hits, for context
    int after_left_ = 0;           // context lines still to show after the last hit line
    OpenLine open_;
};

// The lines of `text` (a file's text as UTF-8) that hold the hits starting at `starts` (byte
// offsets, ascending), as HitLineBuilder lists them.
std::vector<HitLine> LinesOfHits(std::string_view text, const std::vector<std::size_t>& starts,
                                 int context);

// The hits of a file's decoded text as FileHits: binary when `marked` is false and `text` holds a
// NUL byte, its lines otherwise.
FileHits HitsOfText(std::string_view text, bool marked, const std::vector<std::size_t>& starts,
                    int context);

}  // namespace ferret
