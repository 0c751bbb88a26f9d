#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "util/status.h"

namespace ferret {

// One replacement in a text: the bytes [start, end) become `text`.
struct TextEdit {
    std::size_t start = 0;
    std::size_t end = 0;
    std::string text;
    bool operator==(const TextEdit&) const = default;
};

// Takes a text's changes as the text streams by, in order: each stretch kept as it is, and each
// change with what it takes out and puts in. Together they are the whole text, each byte once.
class ChangeListener {
  public:
    virtual ~ChangeListener() = default;
    virtual Status Keep(std::string_view text) = 0;
    virtual Status Change(std::string_view taken_out, std::string_view put_in) = 0;
};

// `edits` (in order, within `text`) told to `listener` with the text between them.
Status TellEdits(std::string_view text, const std::vector<TextEdit>& edits,
                 ChangeListener& listener);

// `original` with `edits` (ascending, none overlapping another, all within it) made.
std::string ApplyEdits(std::string_view original, const std::vector<TextEdit>& edits);

}  // namespace ferret
