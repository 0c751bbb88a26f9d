// Window tests that need a real X server (focus, popups, the keyboard, the wheel) start here:
// a private environment, an Xvfb of their own and a QApplication on the xcb platform.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QApplication>
#include <cstdio>
#include <string>

#include "testsupport/private_bus.h"
#include "testsupport/start_server.h"
#include "testsupport/test_environment.h"

namespace {

// Xvfb on a free display, DISPLAY pointing at it; its process, or -1.
pid_t StartXvfb() {
    pid_t pid = -1;
    const std::string number =
        ferret::testing::StartServer({"Xvfb", "-displayfd", "{fd}", "-screen", "0", "1400x900x24",
                                      "-nolisten", "tcp", "-noreset"},
                                     pid);
    if (number.empty()) {
        return -1;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    ferret::testing::TempDir root;
    ferret::testing::SetUpTestEnvironment(root);
    ferret::testing::SealDesktopApplications(root);
    const pid_t xvfb = StartXvfb();
    if (xvfb < 0) {
        std::fprintf(stderr, "Xvfb could not be started (the test script installs it)\n");
        return 1;
    }
    // A session bus of the tests' own: nothing reaches the user's desktop.
    const ferret::testing::PrivateBus bus;
    if (bus.address().empty()) {
        std::fprintf(stderr, "dbus-daemon could not be started (the test script installs it)\n");
        kill(xvfb, SIGTERM);
        return 1;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int result = 1;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    return result;
}
