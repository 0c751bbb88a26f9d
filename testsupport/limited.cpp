#include "testsupport/limited.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace ferret::testing {
namespace {

// This process's resident memory now, in KiB ("VmRSS:" of /proc/self/status).
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

}  // namespace

std::string RunLimited(unsigned seconds, long extra_mib, const std::function<bool()>& check) {
    const long start_kib = ResidentKiB();
    const pid_t child = fork();
    if (child < 0) {
        return "cannot fork";
    }
    if (child == 0) {
        alarm(seconds);  // its default action ends the child
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        return "cannot wait for the child";
    }
    if (WIFSIGNALED(status)) {
        return WTERMSIG(status) == SIGALRM ? "took more than " + std::to_string(seconds) + " s"
                                           : "ended by signal " + std::to_string(WTERMSIG(status));
    }
    const long grown_mib = (usage.ru_maxrss - start_kib) / 1024;
    if (grown_mib > extra_mib) {
        return "grew by " + std::to_string(grown_mib) + " MiB";
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "the check failed";
}

}  // namespace ferret::testing
