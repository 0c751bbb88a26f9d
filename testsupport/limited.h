#pragma once

#include <functional>
#include <string>

namespace ferret::testing {

// Runs `check` in a child process that is killed after `seconds` and whose resident memory may
// grow by at most `extra_mib` over what it started with, so a broken guard fails in seconds
// instead of hanging the suite or eating the machine. Empty when `check` returned true within
// the limits; otherwise what went wrong.
std::string RunLimited(unsigned seconds, long extra_mib, const std::function<bool()>& check);

}  // namespace ferret::testing
