#include "engine/change_lines.h"

#include <string.h>

#include <algorithm>
#include <cstring>

#include "engine/hit_lines.h"

namespace ferret {
namespace {

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

// Line ends inside a change shown as one mark each, so that the change stays on one line.
void AppendOnOneLine(std::string& shown, std::string_view text) {
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
}

// The first line end at or after `from`, or the text's end.
std::size_t LineEndFrom(std::string_view text, std::size_t from, bool only_line_feeds) {
    if (from >= text.size()) {
        return text.size();
    }
    if (only_line_feeds) {
        const void* end = std::memchr(text.data() + from, '\n', text.size() - from);
        return end == nullptr
                   ? text.size()
                   : static_cast<std::size_t>(static_cast<const char*>(end) - text.data());
    }
    while (from < text.size() && !IsLineEnd(text[from])) {
        ++from;
    }
    return from;
}

}  // namespace

ChangeLines ChangeLinesOf(std::string_view text, const std::vector<TextEdit>& edits) {
    ChangeLines lines;
    lines.places.reserve(edits.size());
    // Without carriage returns lines are counted eight bytes at a time, not walked.
    const bool only_line_feeds = text.find('\r') == std::string_view::npos;
    std::int64_t number = 1;
    std::size_t line_start = 0;  // of line `number`
    std::size_t counted = 0;     // where counting stopped, at or after line_start
    std::size_t line_end = 0;    // of the last change's line, which the next may share
    // The piece of `text` kept last: it starts at `kept_from` in `text` and at `kept_at` in
    // lines.text, and runs to `kept_to`.
    std::size_t kept_from = 0;
    std::size_t kept_at = 0;
    std::size_t kept_to = 0;
    bool kept_any = false;
    std::int64_t column = 1;
    std::size_t column_at = 0;  // where `column` was counted to
    for (const TextEdit& edit : edits) {
        const std::size_t start = std::min(edit.start, text.size());
        const std::size_t line_before = line_start;
        if (start > counted) {
            if (only_line_feeds) {
                const std::string_view passed = text.substr(counted, start - counted);
                if (const void* last = memrchr(passed.data(), '\n', passed.size())) {
                    number += LineFeeds(passed);
                    line_start =
                        static_cast<std::size_t>(static_cast<const char*>(last) - text.data()) + 1;
                }
            } else {
                for (std::size_t at = counted; at < start; ++at) {
                    if (text[at] == '\n' ||
                        (text[at] == '\r' && (at + 1 >= text.size() || text[at + 1] != '\n'))) {
                        ++number;
                        line_start = at + 1;
                    }
                }
            }
            counted = start;
        }
        // Changes on one long line are counted on from the last, not from the line's start.
        if (kept_any && line_start == line_before && column_at <= start) {
            column += Characters(text.substr(column_at, start - column_at));
        } else {
            column = Characters(text.substr(line_start, start - line_start)) + 1;
        }
        column_at = start;
        // The end of the line the change ends in: the last change's, when it ends before it.
        const std::size_t end = std::clamp(edit.end, start, text.size());
        if (!kept_any || end > line_end) {
            line_end = LineEndFrom(text, end, only_line_feeds);
        }
        if (kept_any && line_start < kept_to) {
            // The line, or the line before it, is kept already: the piece grows.
            if (line_end > kept_to) {
                lines.text.append(text.substr(kept_to, line_end - kept_to));
                kept_to = line_end;
            }
        } else {
            kept_from = line_start;
            kept_at = lines.text.size();
            kept_to = line_end;
            lines.text.append(text.substr(line_start, line_end - line_start));
            kept_any = true;
        }
        lines.places.push_back({number, column, line_start - kept_from + kept_at,
                                start - kept_from + kept_at, line_end - kept_from + kept_at});
    }
    return lines;
}

ChangeLine ChangeLineAt(const ChangeLines& lines, const std::vector<TextEdit>& edits,
                        std::size_t index) {
    const ChangeLines::Place& place = lines.places[index];
    const TextEdit& edit = edits[index];
    const std::string_view text = lines.text;
    const std::size_t changed_end =
        std::min(place.at + (std::max(edit.end, edit.start) - edit.start), place.to);
    const std::string_view head = text.substr(place.from, place.at - place.from);
    const std::string_view changed = text.substr(place.at, changed_end - place.at);
    const std::string_view tail = text.substr(changed_end, place.to - changed_end);
    ChangeLine line;
    line.number = place.number;
    line.column = place.column;
    const std::int64_t around = place.column - 1;
    std::string shown(head);
    AppendOnOneLine(shown, changed);
    shown.append(tail);
    line.before = CutLine(shown, around);
    shown.resize(head.size());
    AppendOnOneLine(shown, edit.text);
    shown.append(tail);
    line.after = CutLine(shown, around);
    return line;
}

}  // namespace ferret
