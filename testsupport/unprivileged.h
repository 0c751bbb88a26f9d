#pragma once

#include <functional>

namespace ferret::testing {

// Runs `check` in a child process without root's right to read anything (as the user
// "nobody" when the tests run as root), so permission tests mean the same for every user.
// Returns the child's exit status: 0 when `check` returned true.
int RunUnprivileged(const std::function<bool()>& check);

}  // namespace ferret::testing
