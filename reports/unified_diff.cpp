#include "reports/unified_diff.h"

#include <algorithm>
#include <cstdint>

#include "reports/quoted_name.h"

namespace ferret {
namespace {

// Where each line starts, lines ending after a line feed, and the text's end last.
std::vector<std::size_t> LineStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    if (!text.empty()) {
        starts.push_back(0);
    }
    for (std::size_t at = text.find('\n'); at != std::string_view::npos;
         at = text.find('\n', at + 1)) {
        if (at + 1 < text.size()) {
            starts.push_back(at + 1);
        }
    }
    starts.push_back(text.size());
    return starts;
}

// The text cut into lines, each with its line feed when it has one.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, stop - start));
        start = stop;
    }
    return lines;
}

// A run of changed lines: the original's lines [first, last] (none when last < first) and
// what the edits make of them.
struct Block {
    std::int64_t first = 0;
    std::int64_t last = -1;
    std::vector<TextEdit> edits;  // offsets in the original
    std::string replaced;
};

void AppendLine(std::string& out, char prefix, std::string_view line) {
    out += prefix;
    out.append(line);
    if (line.empty() || line.back() != '\n') {
        out += "\n\\ No newline at end of file\n";
    }
}

// "START,COUNT" as unified diffs give a range of lines (1-based), "START" alone for one line;
// an empty range names the line before it.
std::string Range(std::int64_t first, std::int64_t count) {
    if (count == 1) {
        return std::to_string(first + 1);
    }
    return std::to_string(count == 0 ? first : first + 1) + "," + std::to_string(count);
}

// The original's lines, by where they start.
class OriginalLines {
  public:
    explicit OriginalLines(std::string_view text) : text_(text), starts_(LineStarts(text)) {}

    std::int64_t count() const { return static_cast<std::int64_t>(starts_.size()) - 1; }
    std::string_view text() const { return text_; }
    // Where `line` starts; count() gives the text's end.
    std::size_t Start(std::int64_t line) const { return starts_[static_cast<std::size_t>(line)]; }
    std::string_view Text(std::int64_t line) const {
        return text_.substr(Start(line), Start(line + 1) - Start(line));
    }
    // The line that holds `offset`.
    std::int64_t LineOf(std::size_t offset) const {
        const auto after = std::upper_bound(starts_.begin(), starts_.end() - 1, offset);
        return std::clamp<std::int64_t>(after - starts_.begin() - 1, 0, count() - 1);
    }

  private:
    const std::string_view text_;
    const std::vector<std::size_t> starts_;
};

// The edits that change something, in runs of changed lines.
std::vector<Block> GroupEdits(const OriginalLines& lines, const std::vector<TextEdit>& edits) {
    std::vector<Block> blocks;
    for (const TextEdit& edit : edits) {
        if (lines.text().substr(edit.start, edit.end - edit.start) == edit.text) {
            continue;  // replaced by itself
        }
        std::int64_t first = 0;
        std::int64_t last = -1;
        if (lines.count() > 0) {
            first = lines.LineOf(edit.start);
            last = edit.end > edit.start ? lines.LineOf(edit.end - 1) : first;
        }
        // Lines next to each other change together, as one run.
        if (!blocks.empty() && (lines.count() == 0 || first <= blocks.back().last + 1)) {
            blocks.back().last = std::max(blocks.back().last, last);
        } else {
            blocks.push_back({first, last, {}, {}});
        }
        blocks.back().edits.push_back(edit);
    }
    return blocks;
}

void Replace(const OriginalLines& lines, Block& block) {
    const std::size_t from = lines.count() > 0 ? lines.Start(block.first) : 0;
    const std::size_t to = lines.count() > 0 ? lines.Start(block.last + 1) : 0;
    std::vector<TextEdit> shifted = block.edits;
    for (TextEdit& edit : shifted) {
        edit.start -= from;
        edit.end -= from;
    }
    block.replaced = ApplyEdits(lines.text().substr(from, to - from), shifted);
}

// Works out each block's new text. A block whose new text ends inside a line (its last line
// feed replaced) runs on into the next line, and with it into any block there.
void ReplaceBlocks(const OriginalLines& lines, std::vector<Block>& blocks) {
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        Block& block = blocks[b];
        Replace(lines, block);
        while (!block.replaced.empty() && block.replaced.back() != '\n' &&
               block.last < lines.count() - 1) {
            ++block.last;
            while (b + 1 < blocks.size() && blocks[b + 1].first <= block.last + 1) {
                block.last = std::max(block.last, blocks[b + 1].last);
                block.edits.insert(block.edits.end(), blocks[b + 1].edits.begin(),
                                   blocks[b + 1].edits.end());
                blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(b) + 1);
            }
            Replace(lines, block);
        }
    }
}

// The hunk of blocks [first_block, end_block) with `context` lines around them. `shift`: new
// lines minus old ones in the blocks before, and after this hunk on return.
std::string Hunk(const OriginalLines& lines, const std::vector<Block>& blocks,
                 std::size_t first_block, std::size_t end_block, int context, std::int64_t& shift) {
    const std::int64_t hunk_first = std::max<std::int64_t>(0, blocks[first_block].first - context);
    const std::int64_t hunk_last =
        std::min<std::int64_t>(lines.count() - 1, blocks[end_block - 1].last + context);
    std::string body;
    std::int64_t old_count = 0;
    std::int64_t new_count = 0;
    std::int64_t at = hunk_first;
    std::int64_t hunk_shift = shift;
    for (std::size_t b = first_block; b < end_block; ++b) {
        const Block& block = blocks[b];
        for (; at < block.first; ++at) {
            AppendLine(body, ' ', lines.Text(at));
            ++old_count;
            ++new_count;
        }
        for (std::int64_t line = block.first; line <= block.last; ++line) {
            AppendLine(body, '-', lines.Text(line));
            ++old_count;
        }
        const std::vector<std::string_view> added = Lines(block.replaced);
        for (const std::string_view line : added) {
            AppendLine(body, '+', line);
            ++new_count;
        }
        hunk_shift += static_cast<std::int64_t>(added.size()) - (block.last - block.first + 1);
        at = block.last + 1;
    }
    for (; at <= hunk_last; ++at) {
        AppendLine(body, ' ', lines.Text(at));
        ++old_count;
        ++new_count;
    }
    std::string hunk = "@@ -" + Range(hunk_first, old_count) + " +" +
                       Range(hunk_first + shift, new_count) + " @@\n" + body;
    shift = hunk_shift;
    return hunk;
}

}  // namespace

std::string UnifiedDiff(std::string_view name, std::string_view original,
                        const std::vector<TextEdit>& edits, int context) {
    const OriginalLines lines(original);
    std::vector<Block> blocks = GroupEdits(lines, edits);
    if (blocks.empty()) {
        return {};
    }
    ReplaceBlocks(lines, blocks);
    const std::string label = PatchName(name) + std::string(PatchNameEnd(name));
    std::string out = "--- " + label + "\n+++ " + label + "\n";
    std::int64_t shift = 0;
    for (std::size_t first_block = 0; first_block < blocks.size();) {
        // Blocks whose context would touch go in one hunk.
        std::size_t end_block = first_block + 1;
        while (end_block < blocks.size() &&
               blocks[end_block].first - blocks[end_block - 1].last - 1 <= 2 * context) {
            ++end_block;
        }
        out += Hunk(lines, blocks, first_block, end_block, context, shift);
        first_block = end_block;
    }
    return out;
}

std::string BinaryDiff(std::string_view name) {
    const std::string label = PatchName(name);
    return "Binary files " + label + " and " + label + " differ\n";
}

}  // namespace ferret
