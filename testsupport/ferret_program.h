#pragma once

// The ferret program of the build (FERRET_BINARY, set by the test's target), run as a user or a
// script runs it.
#include <string>
#include <vector>

#include "testsupport/run_program.h"

namespace ferret::testing {

inline ProgramResult Ferret(const std::vector<std::string>& arguments, bool unprivileged = false) {
    return RunProgram(FERRET_BINARY, arguments, unprivileged);
}

// Runs ferret, killed after `seconds` (timeout then exits with 124 or 137, never 0): a run that
// hangs, or waits for an answer nobody gives, fails instead of hanging the tests. `prlimit`
// holds prlimit options ("--as=BYTES"), `environment` "NAME=value" texts added to the program's.
inline ProgramResult FerretWithin(int seconds, const std::vector<std::string>& arguments,
                                  bool unprivileged = false,
                                  const std::vector<std::string>& prlimit = {},
                                  const std::vector<std::string>& environment = {}) {
    std::vector<std::string> command = {"-s", "KILL", std::to_string(seconds)};
    if (!environment.empty()) {
        command.push_back("/usr/bin/env");
        command.insert(command.end(), environment.begin(), environment.end());
    }
    if (!prlimit.empty()) {
        command.push_back("/usr/bin/prlimit");
        command.insert(command.end(), prlimit.begin(), prlimit.end());
    }
    command.push_back(FERRET_BINARY);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram("/usr/bin/timeout", command, unprivileged);
}

}  // namespace ferret::testing
