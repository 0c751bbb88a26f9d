#include "app/signal_stop.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace ferret {
namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

SignalStop::SignalStop(std::function<void()> stop) : stop_(std::move(stop)) {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signals_fd_ = signalfd(-1, &set, SFD_CLOEXEC);
    wake_fd_ = eventfd(0, EFD_CLOEXEC);
    if (signals_fd_ < 0 || wake_fd_ < 0) {
        // Without them the signals keep their usual effect.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    waiter_ = std::thread([this] { Wait(); });
}

SignalStop::~SignalStop() {
    if (waiter_.joinable()) {
        const std::uint64_t one = 1;
        (void)!write(wake_fd_, &one, sizeof one);
        waiter_.join();
    }
    for (int fd : {signals_fd_, wake_fd_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

int SignalStop::ExitStatus(int status) const {
    const int signal_number = received_.load();
    return signal_number != 0 && status == 0 ? 128 + signal_number : status;
}

void SignalStop::Wait() {
    pollfd watched[2] = {{signals_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            continue;  // EINTR
        }
        if ((watched[1].revents & POLLIN) != 0) {
            return;
        }
        signalfd_siginfo info{};
        if ((watched[0].revents & POLLIN) == 0 ||
            read(signals_fd_, &info, sizeof info) != sizeof info) {
            continue;
        }
        const int signal_number = static_cast<int>(info.ssi_signo);
        const auto now = std::chrono::steady_clock::now();
        int none = 0;
        if (received_.compare_exchange_strong(none, signal_number)) {
            first_at_ = now;
            stop_();
            continue;
        }
        // The same request sent twice at once (timeout(1) and a kill of the process group both
        // reach us) is one request; asked again later, the user means it.
        if (now - first_at_ < kSecondSignalAfter) {
            continue;
        }
        signal(signal_number, SIG_DFL);
        const sigset_t set = StopSignals();
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        kill(getpid(), signal_number);
    }
}

}  // namespace ferret
