#include "engine/mask_match.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

struct MaskCase {
    const char* name;
    const char* mask;
    bool matches;
};

TEST(NameMask, Table) {
    const MaskCase cases[] = {
        {"index.htm", "*.htm;*.html", true},
        {"index.html", "*.htm;*.html", true},
        {"index.HTML", "*.htm;*.html", true},
        {"index.htmx", "*.htm;*.html", false},
        {"README", "*.*", true},  // "*.*" takes names without a dot too
        {".profile", "*.*", true},
        {"a.txt", "*.txt", true},
        {"a.txt.bak", "*.txt", false},
        {"a.txt", "  *.c; *.txt", true},  // blanks before a pattern are skipped
        {"a.txt", "*.c;*.txt ", false},   // trailing blanks are part of the pattern
        {"ab.c", "?.c", false},
        {"a.c", "?.c", true},
        {"é.c", "?.c", true},  // "?" is one character, not one byte
        {"ÉTÉ.TXT", "été.txt", true},
        {"x", "", false},
        {"x", ";;", false},
        {"abcabcabd", "*abc*abd", true},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*c", false},
        {"data\xff.bin", "data?.bin", true},  // invalid UTF-8 bytes still match "?"
        {"data\xff.bin", "data\xff.BIN", true},
        {"name-with-dash", "*-*", true},
        {"a", "*", true},
        {"a", "a*", true},
        {"a", "*a*", true},
    };
    for (const MaskCase& c : cases) {
        EXPECT_EQ(PathMatchSpec(c.name, c.mask), c.matches)
            << "name '" << c.name << "' mask '" << c.mask << "'";
    }
}

TEST(NameMask, LongNamesStillMatch) {
    const std::string name = std::string(400, 'x') + ".log";
    EXPECT_TRUE(PathMatchSpec(name, "*.LOG"));
    EXPECT_FALSE(PathMatchSpec(name, "*.txt"));
}

}  // namespace
}  // namespace ferret
