#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/text_edit.h"

namespace ferret {

// One change of a preview as a line before and after it.
struct ChangeLine {
    std::int64_t number = 0;  // of the line the change starts in, 1-based
    std::int64_t column = 0;  // of the change in that line, in bytes, 1-based
    std::string before;       // the line as it is, cut around the change as hit lines are
    std::string after;        // the line with this change alone made
};

// Where a preview's changes are, by line. Each line a change touches is kept once; a change's
// line before and after is cut from it only when it is shown, as most never are.
struct ChangeLines {
    struct Place {
        std::int64_t number = 0;  // as in ChangeLine
        std::int64_t column = 0;
        std::size_t from = 0;  // in `text`: the start of the line the change starts in,
        std::size_t at = 0;    // the change's start,
        std::size_t to = 0;    // and the end of the line it ends in
    };
    std::string text;           // the lines touched, without the lines between them
    std::vector<Place> places;  // one for each edit, in order

    std::size_t size() const { return places.size(); }
    bool empty() const { return places.empty(); }
};

// The places of `edits` (in order) of `text`: lines end at a line feed (a carriage return before
// it is part of the line end) and columns count bytes, as for hit lines.
ChangeLines ChangeLinesOf(std::string_view text, const std::vector<TextEdit>& edits);

// Change `index` of `lines` (worked out from `edits`) as its line before and after. A change
// that puts in or takes out line ends shows them as "⏎".
ChangeLine ChangeLineAt(const ChangeLines& lines, const std::vector<TextEdit>& edits,
                        std::size_t index);

}  // namespace ferret
