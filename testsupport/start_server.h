#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ferret::testing {

// Starts the server `argv` (Xvfb, dbus-daemon) for the tests; it dies with the process that
// started it, however that ends. "{fd}" in an argument stands for the number of a descriptor the
// server writes its first line to (its display, its address): that line comes back, or "" when
// the server did not start. `pid` receives its process.
std::string StartServer(std::vector<std::string> argv, pid_t& pid);

}  // namespace ferret::testing
