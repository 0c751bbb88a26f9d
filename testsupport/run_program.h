#pragma once

#include <string>
#include <vector>

namespace ferret::testing {

struct ProgramResult {
    int exit_code = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `arguments` (no shell involved), standard input empty, and waits for it.
// With `unprivileged`, a run as root drops to the user "nobody" first.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         bool unprivileged = false);

// The full path of `name` found on PATH, or "" when it is not there.
std::string FindProgram(const std::string& name);

// The lines of `text`, without their line feeds.
std::vector<std::string> LinesOf(const std::string& text);

// Whether two trees hold the same names with the same bytes (links compared as links); where
// not, `difference` tells the start of how.
bool SameTrees(const std::string& a, const std::string& b, std::string& difference);

}  // namespace ferret::testing
