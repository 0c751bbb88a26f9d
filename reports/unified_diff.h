#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/text_edit.h"

namespace ferret {

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
