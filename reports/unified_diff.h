#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/text_edit.h"
#include "util/spill_buffer.h"

namespace ferret {

// A unified diff made as a text streams by (see UnifiedDiff for its form): the original a
// stretch at a time with its changes. Lines shown again (context, and those a change takes out)
// are read back from the original by `read`; a hunk is held until its lines are counted, in
// memory up to `in_memory` bytes and in a temporary file past that. So memory stays within a few
// blocks, whatever the size of the text or the number of its changes.
class UnifiedDiffWriter : public ChangeListener {
  public:
    // Reads `size` bytes of the original at `offset` into `into`; false when it cannot.
    using Reader = std::function<bool(std::uint64_t offset, char* into, std::size_t size)>;
    using Output = std::function<Status(std::string_view)>;

    UnifiedDiffWriter(std::string_view name, Reader read, Output out, int context = 3,
                      std::size_t in_memory = SpillBuffer::kInMemory);

    Status Keep(std::string_view text) override;
    Status Change(std::string_view taken_out, std::string_view put_in) override;
    // After the last stretch: the last hunk. Nothing at all was written when nothing changed.
    [[nodiscard]] Status Finish();

  private:
    struct LineRun {
        std::uint64_t from = 0;  // offset of the first line's start
        std::int64_t line = 0;   // its index
    };

    Status Consume(std::string_view text);
    Status PutIn(std::string_view text);
    Status EndSegment();
    Status Unchanged(LineRun start);
    Status OpenBlock();
    Status CloseBlock(LineRun end);
    Status CloseHunk();
    Status CopyLines(char prefix, std::uint64_t from, std::uint64_t to, std::int64_t& lines);
    // The original's bytes [from, to), a block at a time, to `piece`.
    Status ReadBack(std::uint64_t from, std::uint64_t to,
                    const std::function<Status(std::string_view)>& piece);

    const std::string label_;
    const Reader read_;
    const Output out_;
    const int context_;
    bool headed_ = false;

    std::uint64_t offset_ = 0;    // of the original told so far
    std::int64_t line_ = 0;       // lines of it ended so far
    bool new_line_start_ = true;  // the new text so far is empty or ends a line
    // Lines between two points where both texts start a line, outside any change: one
    // unchanged line, or lines that changed.
    LineRun segment_;
    bool segment_changed_ = false;

    bool block_open_ = false;  // a run of changed lines, ended by an unchanged one
    LineRun block_;
    SpillBuffer new_text_;  // what the block becomes, as "+" lines
    std::int64_t new_lines_ = 0;

    bool hunk_open_ = false;
    std::int64_t hunk_first_ = 0;
    std::int64_t hunk_old_ = 0;
    std::int64_t hunk_new_ = 0;
    SpillBuffer hunk_;
    std::int64_t shift_ = 0;         // new lines minus old ones before the hunk
    std::int64_t hunk_shift_ = 0;    // and to its last block
    LineRun after_block_;            // the unchanged lines after the last block
    std::int64_t gap_ = 0;           // how many
    std::uint64_t context_end_ = 0;  // where the first `context_` of them end
    std::vector<LineRun> recent_;    // the last `context_` unchanged lines, for the next hunk
};

// The unified diff that turns `original` into `original` with `edits` (ascending, none
// overlapping another) made, headed "--- NAME" and "+++ NAME", each change with `context`
// lines around it: what `patch -p0` and `git apply -p0` take. `name` is the file's name as it is
// on disk; it is written as git writes names (PatchName), so that patch and git apply read back
// that one name whatever bytes it holds. Lines end at line feeds (a carriage return before one
// is part of the line); a last line without one is followed by "\ No newline at end of file".
// Empty when the edits change nothing.
std::string UnifiedDiff(std::string_view name, std::string_view original,
                        const std::vector<TextEdit>& edits, int context = 3);

// What diff says of two versions of a file that a text patch cannot carry, the name written as
// in UnifiedDiff.
std::string BinaryDiff(std::string_view name);

}  // namespace ferret
