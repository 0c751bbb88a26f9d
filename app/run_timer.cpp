#include "app/run_timer.h"

#include "util/app_locale.h"

namespace ferret {

double RunTimer::CurrentSegment() const {
    return std::chrono::duration<double, std::milli>(now_() - start_).count();
}

void RunTimer::Start() {
    switch (state_) {
        case State::kStopped:
            accumulated_ms_ = 0;
            start_ = now_();
            state_ = State::kRunning;
            break;
        case State::kPaused:
            start_ = now_();
            state_ = State::kRunning;
            break;
        case State::kRunning:
            break;
    }
}

void RunTimer::Pause() {
    if (state_ == State::kRunning) {
        accumulated_ms_ += CurrentSegment();
        state_ = State::kPaused;
    }
}

void RunTimer::StopTime() {
    if (state_ == State::kRunning) {
        accumulated_ms_ += CurrentSegment();
    }
    state_ = State::kStopped;
}

double RunTimer::Elapsed() const {
    return state_ == State::kRunning ? accumulated_ms_ + CurrentSegment() : accumulated_ms_;
}

std::string RunTimer::ElapsedString() const {
    std::string text = FormatNumber(Elapsed() / 1000.0, 3, false);
    // Pad the integer part to three digits ("000.000"); the decimals are always three.
    const std::size_t integer_digits = text.size() - 4;
    if (integer_digits < 3) {
        text.insert(0, 3 - integer_digits, '0');
    }
    return text + " seconds";
}

}  // namespace ferret
