#include "engine/pattern_literal.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

TEST(RequiredLiteral, Table) {
    const std::pair<const char*, const char*> cases[] = {
        {"[A-Z_]+_MAX\\b", "_MAX"},
        {"return", "return"},
        {"foo.*barbaz", "barbaz"},
        {"ab*c", "a"},  // "b" may be absent: the run stops before it
        {"colou?r", "colo"},
        {"x{2}yzw", "yzw"},  // repeated: what follows is not next to it
        {"a{0,3}bc", "bc"},
        {"\\.html", ".html"},
        {"\\u0041BC", ""},  // escapes with arguments end the reading
        {"(abc)def", "def"},
        {"abc|def", ""},  // alternatives: nothing is required
        {"(?i)abc", ""},
        {"[abc]", ""},
        {"\\d+px", "px"},
        {"\\1abc", "abc"},
        {"été+s", "été"},
        {"a{,2}", "a{,2}"},  // not a quantifier: plain characters
        {"*a", ""},
    };
    for (const auto& [pattern, literal] : cases) {
        EXPECT_EQ(RequiredLiteral(pattern), literal) << pattern;
    }
}

TEST(MatchesWithinLines, Table) {
    const std::pair<const char*, bool> cases[] = {
        {"[A-Z_]+_MAX\\b", true},
        {"foo.*bar", true},  // "." leaves line feeds out
        {"a\\sb", false},
        {"a[^x]b", false},
        {"a\\Wb", false},
        {"a[\\s]b", false},
        {"a[\\x00-\\x7f]", false},
        {"a[ -~]b", true},
        {"a[\\t-z]", false},
        {"(?s)a.b", false},
        {"a\nb", false},
        {"end$", true},
        {"a[b", false},
        // A digit escape may be a line feed ("\012", or "\12" without twelve groups), and a
        // back-reference is not read here.
        {"a\\012b", false},
        {"a\\12b", false},
        {"[\\12]", false},
        {"(\\w+)=\\1", false},
    };
    for (const auto& [pattern, within] : cases) {
        EXPECT_EQ(MatchesWithinLines(pattern), within) << pattern;
    }
}

}  // namespace
}  // namespace ferret
