#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ferret {

// One replacement in a text: the bytes [start, end) become `text`.
struct TextEdit {
    std::size_t start = 0;
    std::size_t end = 0;
    std::string text;
    bool operator==(const TextEdit&) const = default;
};

// `original` with `edits` (ascending, none overlapping another, all within it) made.
std::string ApplyEdits(std::string_view original, const std::vector<TextEdit>& edits);

}  // namespace ferret
