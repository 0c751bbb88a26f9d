#include "testsupport/private_bus.h"

#include <signal.h>
#include <sys/wait.h>

#include "testsupport/start_server.h"

namespace ferret::testing {

PrivateBus::PrivateBus() {
    address_ = StartServer({"dbus-daemon", "--session", "--nofork", "--print-address={fd}"}, pid_);
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

}  // namespace ferret::testing
