#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ferret {

// A file-name mask: patterns separated by ";", blanks before a pattern skipped, "*" matching any
// run of characters and "?" exactly one, letters compared without regard to case. The pattern
// "*.*" matches every name, with or without a dot; an empty pattern matches no name.
// Parsed once, then matched against many names; immutable and safe to share between threads.
class NameMask {
  public:
    explicit NameMask(std::string_view mask);

    bool Matches(std::string_view name) const;

  private:
    struct Pattern {
        std::u32string folded;  // decoded, case-folded characters
        bool matches_all = false;
    };
    std::vector<Pattern> patterns_;
};

// One-off form of NameMask(mask).Matches(name).
bool PathMatchSpec(std::string_view name, std::string_view mask);

}  // namespace ferret
