#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace ferret {

// While it lives, SIGINT and SIGTERM stop the run instead of ending the program at once, so the
// file being rewritten is finished and the report is written: a thread of its own waits for the
// signals and calls `stop`. A second signal ends the program as the signal alone would.
//
// Make it before any other thread starts: the signals are blocked in the calling thread and so
// in every thread it starts afterwards. The destructor unblocks them again.
class SignalStop {
  public:
    explicit SignalStop(std::function<void()> stop);
    ~SignalStop();
    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

    // The first signal received, or 0.
    int Received() const { return received_.load(); }
    // The exit status of a run that a signal stopped: 128 plus the signal's number, as a shell
    // reports a program the signal ended; `status` when no signal came.
    int ExitStatus(int status) const;

  private:
    void Wait();

    std::function<void()> stop_;
    std::atomic<int> received_{0};
    int signals_fd_ = -1;
    int wake_fd_ = -1;
    std::thread waiter_;
};

}  // namespace ferret
