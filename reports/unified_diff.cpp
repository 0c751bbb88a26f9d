#include "reports/unified_diff.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "reports/quoted_name.h"

namespace ferret {
namespace {

constexpr char kNoNewline[] = "\n\\ No newline at end of file\n";

// "START,COUNT" as unified diffs give a range of lines (1-based), "START" alone for one line;
// an empty range names the line before it.
std::string Range(std::int64_t first, std::int64_t count) {
    if (count == 1) {
        return std::to_string(first + 1);
    }
    return std::to_string(count == 0 ? first : first + 1) + "," + std::to_string(count);
}

// Appends `text` to `into` as lines starting with `prefix`, a line at a time; `line_start`: the
// last line appended before ended. Counts the lines begun in `lines`.
Status AppendLines(SpillBuffer& into, char prefix, std::string_view text, bool& line_start,
                   std::int64_t& lines) {
    while (!text.empty()) {
        if (line_start) {
            if (Status status = into.Append(std::string_view(&prefix, 1)); !status.ok()) {
                return status;
            }
            ++lines;
        }
        const std::size_t end = text.find('\n');
        const std::size_t take = end == std::string_view::npos ? text.size() : end + 1;
        if (Status status = into.Append(text.substr(0, take)); !status.ok()) {
            return status;
        }
        line_start = end != std::string_view::npos;
        text.remove_prefix(take);
    }
    return {};
}

}  // namespace

UnifiedDiffWriter::UnifiedDiffWriter(std::string_view name, Reader read, Output out, int context,
                                     std::size_t in_memory)
    : label_(PatchName(name) + std::string(PatchNameEnd(name))),
      read_(std::move(read)),
      out_(std::move(out)),
      context_(std::max(0, context)),
      new_text_(in_memory),
      hunk_(in_memory) {}

Status UnifiedDiffWriter::Keep(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view piece =
            end == std::string_view::npos ? text : text.substr(0, end + 1);
        offset_ += piece.size();
        if (segment_changed_) {
            if (Status status = PutIn(piece); !status.ok()) {
                return status;
            }
        }
        new_line_start_ = end != std::string_view::npos;
        text.remove_prefix(piece.size());
        if (new_line_start_) {
            ++line_;
            if (Status status = EndSegment(); !status.ok()) {
                return status;
            }
        }
    }
    return {};
}

Status UnifiedDiffWriter::Change(std::string_view taken_out, std::string_view put_in) {
    if (taken_out == put_in) {
        return Keep(taken_out);  // replaced by itself: nothing changes
    }
    if (!segment_changed_) {
        segment_changed_ = true;
        if (!block_open_) {
            if (Status status = OpenBlock(); !status.ok()) {
                return status;
            }
        }
        // The segment's new text begins, at a line's start, with what it kept before this
        // change.
        new_line_start_ = true;
        if (Status status = ReadBack(segment_.from, offset_,
                                     [this](std::string_view head) { return PutIn(head); });
            !status.ok()) {
            return status;
        }
    }
    if (Status status = PutIn(put_in); !status.ok()) {
        return status;
    }
    offset_ += taken_out.size();
    line_ += std::count(taken_out.begin(), taken_out.end(), '\n');
    if (!taken_out.empty() && taken_out.back() == '\n' && new_line_start_) {
        return EndSegment();
    }
    return {};
}

Status UnifiedDiffWriter::PutIn(std::string_view text) {
    return AppendLines(new_text_, '+', text, new_line_start_, new_lines_);
}

// Both texts start a line at offset_: the segment before it ends.
Status UnifiedDiffWriter::EndSegment() {
    const LineRun ended = segment_;
    segment_ = {offset_, line_};
    if (segment_changed_) {
        segment_changed_ = false;  // the block goes on
        return {};
    }
    if (block_open_) {
        if (Status status = CloseBlock(ended); !status.ok()) {
            return status;
        }
    }
    return Unchanged(ended);
}

// The unchanged line from `start` to offset_.
Status UnifiedDiffWriter::Unchanged(LineRun start) {
    recent_.push_back(start);
    if (recent_.size() > static_cast<std::size_t>(context_)) {
        recent_.erase(recent_.begin());
    }
    if (!hunk_open_) {
        return {};
    }
    ++gap_;
    if (gap_ <= context_) {
        context_end_ = offset_;
    }
    // Changes whose context would touch share a hunk.
    return gap_ > 2 * context_ ? CloseHunk() : Status();
}

Status UnifiedDiffWriter::OpenBlock() {
    block_open_ = true;
    block_ = segment_;
    new_lines_ = 0;
    LineRun context = after_block_;
    if (!hunk_open_) {
        hunk_open_ = true;
        context = recent_.empty() ? block_ : recent_.front();
        hunk_first_ = context.line;
        hunk_old_ = 0;
        hunk_new_ = 0;
        hunk_shift_ = shift_;
    }
    recent_.clear();
    std::int64_t lines = 0;
    const Status status = CopyLines(' ', context.from, block_.from, lines);
    hunk_old_ += lines;
    hunk_new_ += lines;
    return status;
}

Status UnifiedDiffWriter::CloseBlock(LineRun end) {
    block_open_ = false;
    std::int64_t old_lines = 0;
    if (Status status = CopyLines('-', block_.from, end.from, old_lines); !status.ok()) {
        return status;
    }
    if (!new_text_.empty() && new_text_.back() != '\n') {
        if (Status status = new_text_.Append(kNoNewline); !status.ok()) {
            return status;
        }
    }
    if (Status status =
            new_text_.Drain([this](std::string_view bytes) { return hunk_.Append(bytes); });
        !status.ok()) {
        return status;
    }
    hunk_old_ += old_lines;
    hunk_new_ += new_lines_;
    hunk_shift_ += new_lines_ - old_lines;
    after_block_ = end;
    context_end_ = end.from;
    gap_ = 0;
    return {};
}

Status UnifiedDiffWriter::CloseHunk() {
    hunk_open_ = false;
    std::int64_t lines = 0;
    if (Status status = CopyLines(' ', after_block_.from, context_end_, lines); !status.ok()) {
        return status;
    }
    hunk_old_ += lines;
    hunk_new_ += lines;
    std::string head;
    if (!headed_) {
        headed_ = true;
        head = "--- " + label_ + "\n+++ " + label_ + "\n";
    }
    head += "@@ -" + Range(hunk_first_, hunk_old_) + " +" + Range(hunk_first_ + shift_, hunk_new_) +
            " @@\n";
    shift_ = hunk_shift_;
    if (Status status = out_(head); !status.ok()) {
        return status;
    }
    return hunk_.Drain(out_);
}

// The original's lines [from, to) into the hunk, each after `prefix`.
Status UnifiedDiffWriter::CopyLines(char prefix, std::uint64_t from, std::uint64_t to,
                                    std::int64_t& lines) {
    bool line_start = true;
    if (Status status = ReadBack(from, to,
                                 [&](std::string_view block) {
                                     return AppendLines(hunk_, prefix, block, line_start, lines);
                                 });
        !status.ok()) {
        return status;
    }
    return line_start ? Status() : hunk_.Append(kNoNewline);
}

Status UnifiedDiffWriter::ReadBack(std::uint64_t from, std::uint64_t to,
                                   const std::function<Status(std::string_view)>& piece) {
    std::string block;
    for (std::uint64_t at = from; at < to; at += block.size()) {
        block.resize(static_cast<std::size_t>(std::min<std::uint64_t>(1 << 16, to - at)));
        if (!read_(at, block.data(), block.size())) {
            return Status::Error(EIO, "cannot read the file again");
        }
        if (Status status = piece(block); !status.ok()) {
            return status;
        }
    }
    return {};
}

Status UnifiedDiffWriter::Finish() {
    if (segment_changed_ || offset_ > segment_.from) {
        if (Status status = EndSegment(); !status.ok()) {
            return status;
        }
    }
    if (block_open_) {
        if (Status status = CloseBlock(segment_); !status.ok()) {
            return status;
        }
    }
    return hunk_open_ ? CloseHunk() : Status();
}

std::string UnifiedDiff(std::string_view name, std::string_view original,
                        const std::vector<TextEdit>& edits, int context) {
    std::string diff;
    UnifiedDiffWriter writer(
        name,
        [original](std::uint64_t offset, char* into, std::size_t size) {
            if (offset > original.size() || size > original.size() - offset) {
                return false;
            }
            std::memcpy(into, original.data() + offset, size);
            return true;
        },
        [&diff](std::string_view bytes) {
            diff.append(bytes);
            return Status();
        },
        context, std::numeric_limits<std::size_t>::max());
    // Held in memory, nothing can fail.
    (void)TellEdits(original, edits, writer);
    (void)writer.Finish();
    return diff;
}

std::string BinaryDiff(std::string_view name) {
    const std::string label = PatchName(name);
    return "Binary files " + label + " and " + label + " differ\n";
}

}  // namespace ferret
