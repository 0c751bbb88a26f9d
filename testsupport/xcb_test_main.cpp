// Window tests that need a real X server (focus, popups, the keyboard, the wheel) start here:
// a private environment, an Xvfb of their own and a QApplication on the xcb platform.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <string>

#include "testsupport/test_environment.h"

namespace {

// Starts Xvfb on a free display and points DISPLAY at it; its process, or -1.
pid_t StartXvfb() {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // gone with the tests, however they end
        close(pipe_fds[0]);
        const std::string fd = std::to_string(pipe_fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1400x900x24", "-nolisten",
               "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipe_fds[1]);
    std::string number;
    char c = 0;
    while (read(pipe_fds[0], &c, 1) == 1 && c != '\n') {
        number.push_back(c);
    }
    close(pipe_fds[0]);
    if (child < 0 || number.empty()) {
        return -1;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return child;
}

// Starts a session bus of the tests' own (nothing reaches the user's desktop) and points
// DBUS_SESSION_BUS_ADDRESS at it; its process, or -1.
pid_t StartSessionBus() {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(pipe_fds[0]);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 2);
        const std::string print = "--print-address=" + std::to_string(pipe_fds[1]);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", print.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipe_fds[1]);
    std::string address;
    char c = 0;
    while (read(pipe_fds[0], &c, 1) == 1 && c != '\n') {
        address.push_back(c);
    }
    close(pipe_fds[0]);
    if (child < 0 || address.empty()) {
        return -1;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return child;
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
    const pid_t bus = StartSessionBus();
    if (bus < 0) {
        std::fprintf(stderr, "dbus-daemon could not be started (the test script installs it)\n");
        kill(xvfb, SIGTERM);
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int result = 1;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    kill(bus, SIGTERM);
    waitpid(bus, nullptr, 0);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    return result;
}
