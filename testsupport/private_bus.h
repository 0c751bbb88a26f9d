#pragma once

#include <sys/types.h>

#include <string>

namespace ferret::testing {

// A session bus of the tests' own (a dbus-daemon), so that nothing reaches the user's desktop
// and services can be stood in for. It ends with the object.
class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Its address, for DBUS_SESSION_BUS_ADDRESS or a connection; empty when it did not start.
    const std::string& address() const { return address_; }

  private:
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace ferret::testing
