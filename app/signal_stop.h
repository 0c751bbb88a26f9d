#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace ferret {

// While it lives, SIGINT and SIGTERM stop the run instead of ending the program at once, so the
// file being rewritten is finished and the report is written: a thread of its own waits for the
// signals and calls `stop`. A second signal a second or more after the first ends the program
// as the signal alone would.
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
    // reports a program the signal ended; `status` when no signal came or the run failed.
    int ExitStatus(int status) const;

  private:
    void Wait();

    // A second signal sooner than this after the first is the same request, sent twice.
    static constexpr std::chrono::seconds kSecondSignalAfter{1};

    std::function<void()> stop_;
    std::atomic<int> received_{0};
    std::chrono::steady_clock::time_point first_at_{};  // the waiter's alone
    int signals_fd_ = -1;
    int wake_fd_ = -1;
    std::thread waiter_;
};

}  // namespace ferret
