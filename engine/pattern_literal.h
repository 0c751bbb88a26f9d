#pragma once

#include <string>
#include <string_view>

namespace ferret {

// A run of plain characters that every match of `pattern` must contain, or "" when none can be
// found safely. A file without that run cannot match, so the pattern need not run on it. The
// reading is deliberately cautious: alternatives, inline options and anything unusual give "".
std::string RequiredLiteral(std::string_view pattern);

// True when no match of `pattern` can contain a line feed, so that matches can be looked for
// line by line. Cautious like RequiredLiteral: anything unusual gives false.
bool MatchesWithinLines(std::string_view pattern);

}  // namespace ferret
