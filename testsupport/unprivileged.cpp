#include "testsupport/unprivileged.h"

#include <sys/wait.h>
#include <unistd.h>

namespace ferret::testing {

int RunUnprivileged(const std::function<bool()>& check) {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(3);
        }
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 4;
}

}  // namespace ferret::testing
