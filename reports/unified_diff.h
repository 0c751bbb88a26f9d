#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/text_edit.h"

namespace ferret {

// The unified diff that turns `original` into `original` with `edits` (ascending, none
// overlapping another) made, headed "--- LABEL" and "+++ LABEL", each change with `context`
// lines around it: what `patch -p0` and `git apply -p0` take. Lines end at line feeds (a
// carriage return before one is part of the line); a last line without one is followed by
// "\ No newline at end of file". Empty when the edits change nothing.
std::string UnifiedDiff(std::string_view label, std::string_view original,
                        const std::vector<TextEdit>& edits, int context = 3);

// What diff says of two versions of a file that a text patch cannot carry.
std::string BinaryDiff(std::string_view label);

}  // namespace ferret
