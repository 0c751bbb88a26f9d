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

}  // namespace ferret::testing
