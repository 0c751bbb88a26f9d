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
#include <vector>

#include "testsupport/test_environment.h"

namespace {

// Starts a server that dies with the tests and writes its first line to the descriptor whose
// number `argv` holds where "{fd}" stands; that line, or "" when it did not start. `pid`
// receives its process.
std::string StartServer(std::vector<std::string> argv, pid_t& pid) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return {};
    }
    for (std::string& argument : argv) {
        if (const std::size_t at = argument.find("{fd}"); at != std::string::npos) {
            argument.replace(at, 4, std::to_string(pipe_fds[1]));
        }
    }
    pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // gone with the tests, however they end
        close(pipe_fds[0]);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 2);
        std::vector<char*> args;
        for (std::string& argument : argv) {
            args.push_back(argument.data());
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    std::string line;
    char c = 0;
    while (read(pipe_fds[0], &c, 1) == 1 && c != '\n') {
        line.push_back(c);
    }
    close(pipe_fds[0]);
    return pid < 0 ? std::string() : line;
}

// Xvfb on a free display, DISPLAY pointing at it; its process, or -1.
pid_t StartXvfb() {
    pid_t pid = -1;
    const std::string number = StartServer({"Xvfb", "-displayfd", "{fd}", "-screen", "0",
                                            "1400x900x24", "-nolisten", "tcp", "-noreset"},
                                           pid);
    if (number.empty()) {
        return -1;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return pid;
}

// A session bus of the tests' own (nothing reaches the user's desktop),
// DBUS_SESSION_BUS_ADDRESS pointing at it; its process, or -1.
pid_t StartSessionBus() {
    pid_t pid = -1;
    const std::string address =
        StartServer({"dbus-daemon", "--session", "--nofork", "--print-address={fd}"}, pid);
    if (address.empty()) {
        return -1;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
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
