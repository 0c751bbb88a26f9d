#include "engine/change_lines.h"

#include "engine/hit_lines.h"

namespace ferret {
namespace {

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

// Line ends inside a change shown as one mark each, so that the change stays on one line.
std::string OnOneLine(std::string_view text) {
    std::string shown;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') {
            ++at;
        }
        if (IsLineEnd(text[at])) {
            shown += "⏎";
        } else {
            shown += text[at];
        }
    }
    return shown;
}

std::int64_t Characters(std::string_view bytes) {
    std::int64_t count = 0;
    for (const char c : bytes) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return count;
}

}  // namespace

std::vector<ChangeLine> ChangeLinesOf(std::string_view text, const std::vector<TextEdit>& edits) {
    std::vector<ChangeLine> lines;
    lines.reserve(edits.size());
    std::int64_t number = 1;
    std::size_t line_start = 0;  // of line `number`
    std::size_t at = 0;          // where counting stopped, at or after line_start
    for (const TextEdit& edit : edits) {
        // Lines up to the change's start, counted on from the last change.
        for (; at < edit.start && at < text.size(); ++at) {
            if (text[at] == '\n' ||
                (text[at] == '\r' && (at + 1 >= text.size() || text[at + 1] != '\n'))) {
                ++number;
                line_start = at + 1;
            }
        }
        // The line's end: the first line end at or after the change's end.
        std::size_t line_end = std::max(edit.end, edit.start);
        while (line_end < text.size() && !IsLineEnd(text[line_end])) {
            ++line_end;
        }
        const std::string_view head = text.substr(line_start, edit.start - line_start);
        const std::string_view changed = text.substr(edit.start, edit.end - edit.start);
        const std::string_view tail = text.substr(edit.end, line_end - edit.end);
        ChangeLine line;
        line.number = number;
        line.column = Characters(head) + 1;
        const std::int64_t around = line.column - 1;
        line.before = CutLine(std::string(head) + OnOneLine(changed) + std::string(tail), around);
        line.after = CutLine(std::string(head) + OnOneLine(edit.text) + std::string(tail), around);
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace ferret
