#include "testsupport/start_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace ferret::testing {

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

}  // namespace ferret::testing
