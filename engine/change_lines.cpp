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

// Where the line that holds `from` ends: at its line feed, or the carriage return before it,
// or the text's end.
std::size_t LineEndFrom(std::string_view text, std::size_t from) {
    if (from >= text.size()) {
        return text.size();
    }
    const void* found = std::memchr(text.data() + from, '\n', text.size() - from);
    if (found == nullptr) {
        return text.size();
    }
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    return end > from && text[end - 1] == '\r' ? end - 1 : end;
}

}  // namespace

ChangeLines ChangeLinesOf(std::string_view text, const std::vector<TextEdit>& edits) {
    ChangeLines lines;
    lines.places.reserve(edits.size());
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
    for (const TextEdit& edit : edits) {
        const std::size_t start = std::min(edit.start, text.size());
        if (start > counted) {
            const std::string_view passed = text.substr(counted, start - counted);
            if (const void* last = memrchr(passed.data(), '\n', passed.size())) {
                number += LineFeeds(passed);
                line_start =
                    static_cast<std::size_t>(static_cast<const char*>(last) - text.data()) + 1;
            }
            counted = start;
        }
        // Bytes, as editors count columns.
        const std::int64_t column = static_cast<std::int64_t>(start - line_start) + 1;
        // The end of the line the change ends in: the last change's, when it ends before it.
        const std::size_t end = std::clamp(edit.end, start, text.size());
        if (!kept_any || end > line_end) {
            line_end = LineEndFrom(text, end);
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
    const std::int64_t around = Characters(text.substr(place.from, place.at - place.from));
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
