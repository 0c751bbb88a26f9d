#include "app/run_timer.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

using namespace std::chrono_literals;

// A clock the test moves by hand.
RunTimer::Clock::time_point fake_now{};
RunTimer::Clock::time_point FakeNow() {
    return fake_now;
}

class RunTimerTest : public ::testing::Test {
  protected:
    void SetUp() override { fake_now = RunTimer::Clock::time_point{} + 1h; }
    static void Advance(std::chrono::milliseconds step) { fake_now += step; }
    RunTimer timer_{&FakeNow};
};

TEST_F(RunTimerTest, PausedTimeDoesNotCount) {
    timer_.Start();
    Advance(1500ms);
    timer_.Pause();
    Advance(5000ms);
    EXPECT_DOUBLE_EQ(timer_.Elapsed(), 1500);
    timer_.Start();
    Advance(937ms);
    timer_.StopTime();
    Advance(10s);
    EXPECT_DOUBLE_EQ(timer_.Elapsed(), 2437);
    EXPECT_EQ(timer_.ElapsedString(), "002.437 seconds");
}

TEST_F(RunTimerTest, StopWhilePausedKeepsTheTimeToThePause) {
    timer_.Start();
    Advance(300ms);
    timer_.Pause();
    Advance(700ms);
    timer_.StopTime();
    EXPECT_DOUBLE_EQ(timer_.Elapsed(), 300);
}

TEST_F(RunTimerTest, StartTwiceKeepsTheFirstReadingAndRestartBeginsAtZero) {
    timer_.Start();
    Advance(200ms);
    timer_.Start();
    Advance(200ms);
    EXPECT_DOUBLE_EQ(timer_.Elapsed(), 400);  // running: counts the live segment
    timer_.StopTime();
    timer_.Start();
    Advance(50ms);
    EXPECT_DOUBLE_EQ(timer_.Elapsed(), 50);
}

}  // namespace
}  // namespace ferret
