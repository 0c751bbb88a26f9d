#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/legacy_text.h"
#include "util/status.h"
#include "util/text_encoding.h"

namespace ferret {

class PlainMatcher;

// The text of an open file a block at a time, as UTF-8: after its UTF-8 mark, decoded from UTF-16
// after that mark, or without a mark decoded from the legacy encoding its first block shows
// (LegacyEncodingOf), or its first bytes beyond ASCII when that block is ASCII (a text only read
// is then decoded from the block that holds them on: decoded() may turn true at any Next);
// offsets are those of the UTF-8 text. What the caller keeps of a
// block stays in front of the next one's text. The room is one per thread, kept between files,
// and grows only for what is kept; kept bytes are moved only when bytes before them are let go,
// so a line of any length is read in linear time.
class TextBlocks {
  public:
    static constexpr std::size_t kBlockSize = 64 * 1024;

    // `choice` outlives this. `block`: how much each read asks for (smaller in tests, to cut
    // texts anywhere).
    explicit TextBlocks(int fd, const EncodingChoice& choice = kFoundEncodings,
                        std::size_t block = kBlockSize);
    TextBlocks(const TextBlocks&) = delete;
    TextBlocks& operator=(const TextBlocks&) = delete;

    // The text is only read, never written back: whether a decoded text encodes back to its
    // bytes is not looked at (exact() stays true), which saves the work. Before the first Next.
    void OnlyRead() { only_read_ = true; }

    // A file in a legacy encoding whose bytes cannot hold `required` (LegacyEncodingForHits)
    // reads as empty: it holds no hit, and it need not be decoded. Before the first Next, with
    // OnlyRead; `required` outlives this.
    void SkipLegacyWithout(const PlainMatcher& required);

    // Gives every byte read, as it is read (its mark too), to `reader`.
    void OnRead(std::function<void(std::string_view)> reader) { on_read_ = std::move(reader); }

    // Keeps the last `keep` bytes of text() and reads on. False when the file has nothing more
    // (nor kept), and when it cannot be read (failed()).
    bool Next(std::size_t keep);

    std::string_view text() const { return {storage_.data(), filled_}; }
    // Where text() starts in the file's text.
    std::uint64_t offset() const { return offset_; }
    // Where the bytes read by the last Next start in text().
    std::size_t new_from() const { return ended_ ? filled_ : new_from_; }
    // text() runs to the file's end.
    bool at_end() const { return ended_; }
    bool failed() const { return failed_; }
    ByteOrderMark mark() const { return mark_; }
    // The legacy encoding the text is decoded from; empty for UTF-8 and a marked text.
    const std::string& legacy() const { return legacy_; }
    // Whether text() is decoded from other bytes, which its offsets are then not those of.
    bool decoded() const { return decoder_ != nullptr; }
    // Whether the text encodes back to the file's bytes (false only for a decoded text that
    // does not), as far as it was read.
    bool exact() const { return !decoder_ || decoder_->exact(); }

  private:
    // Finds the encoding from the first bytes read, `read`; false when the file is skipped
    // (SkipLegacyWithout).
    bool ChooseEncoding(std::string_view read);
    // For a text only read whose first block was ASCII: judges it by `read`, the bytes read
    // last, once they go beyond ASCII.
    void CheckLaterBytes(std::string_view read);
    void Put(std::string_view text);

    const int fd_;
    const EncodingChoice& choice_;
    const std::size_t block_;
    std::vector<char>& storage_;
    std::size_t filled_ = 0;
    std::size_t new_from_ = 0;
    std::uint64_t offset_ = 0;
    bool first_ = true;
    bool ended_ = false;
    bool failed_ = false;
    bool only_read_ = false;
    bool ascii_so_far_ = false;  // not judged yet: every byte read was ASCII
    std::uint64_t bytes_read_ = 0;
    const PlainMatcher* required_ = nullptr;
    ByteOrderMark mark_ = ByteOrderMark::kNone;
    std::function<void(std::string_view)> on_read_;
    std::string legacy_;
    std::unique_ptr<PieceDecoder> decoder_;
};

// A line longer than this is not held whole to be matched by itself: from such a line on, a
// file is matched a window at a time (ForEachWindow).
inline constexpr std::size_t kLongestLine = 1 << 20;

// How many bytes of `blocks`' text end its complete lines: up to its last line feed, or all of it
// at the file's end. Only the bytes read last are looked at: the rest ends no line.
std::size_t CompleteLines(const TextBlocks& blocks);

// The line of `text` that holds byte `at`: where it starts, and where its line feed (or the
// text's end) is.
struct LineSpan {
    std::size_t start = 0;
    std::size_t end = 0;
};
LineSpan LineAround(std::string_view text, std::size_t at);

// How much of `text` holds whole UTF-8 characters: a character cut by the block's end is left
// for the next block.
std::size_t WholeCharactersEnd(std::string_view text);

// One window of a text matched a window at a time (RegExp::MatchWindow): `window` from `from`,
// `starts_text` when window[0] starts the text, `at_end` when the text ends with it. Sets where
// the next window resumes (`resume`, in this window).
using WindowStep = std::function<Status(std::string_view window, std::size_t from, bool starts_text,
                                        bool at_end, std::size_t& resume)>;

// The too-long match's error number (a file a match runs on in past the longest one allowed).
inline constexpr int kMatchTooLong = 27;  // EFBIG

// Walks the text of `blocks` (its first block read) a window at a time: each window is the text
// from a little before where the last one left off (`look_behind` bytes) to the end of the bytes
// read, cut at a whole character. `passed`, when given, receives the text in order, each byte
// once, and each byte only after every match that starts before it was found. A match still
// unfinished past `longest` bytes ends the walk with kMatchTooLong.
Status ForEachWindow(TextBlocks& blocks, std::size_t look_behind, std::uint64_t longest,
                     const WindowStep& step,
                     const std::function<void(std::string_view)>& passed = {});

}  // namespace ferret
