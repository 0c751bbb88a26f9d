#pragma once

#include <chrono>
#include <string>

namespace ferret {

// A stopwatch with pause and resume for timing a run. Paused time does not count; a Start after
// StopTime begins a new measurement from zero. Not thread-safe.
class RunTimer {
  public:
    using Clock = std::chrono::steady_clock;
    using NowFunction = Clock::time_point (*)();

    // `now` reads the clock; tests pass their own.
    explicit RunTimer(NowFunction now = &Clock::now) : now_(now) {}

    void Start();     // starts when stopped, resumes when paused, nothing while running
    void Pause();     // only while running
    void StopTime();  // keeps the running segment, then stops

    // Milliseconds measured so far, the running segment included.
    double Elapsed() const;
    // Seconds with at least three integer digits and three decimals: "002.437 seconds".
    std::string ElapsedString() const;

  private:
    enum class State { kStopped, kRunning, kPaused };

    double CurrentSegment() const;

    NowFunction now_;
    State state_ = State::kStopped;
    Clock::time_point start_{};
    double accumulated_ms_ = 0;
};

}  // namespace ferret
