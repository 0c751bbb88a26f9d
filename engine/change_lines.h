#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/text_edit.h"

namespace ferret {

// One change of a preview as a line before and after it.
struct ChangeLine {
    std::int64_t number = 0;  // of the line the change starts in, 1-based
    std::int64_t column = 0;  // of the change in that line, in characters, 1-based
    std::string before;       // the line as it is, cut around the change as hit lines are
    std::string after;        // the line with this change alone made
};

// A line for each of `edits` (in order) of `text`: lines end at a line feed, CR LF or a lone
// CR, as for hit lines. A change that puts in or takes out line ends shows them as "⏎".
std::vector<ChangeLine> ChangeLinesOf(std::string_view text, const std::vector<TextEdit>& edits);

}  // namespace ferret
