#pragma once

#include <QApplication>
#include <chrono>
#include <functional>

namespace ferret::testing {

// Processes events until `done` holds or `seconds` have passed; returns whether it holds.
inline bool WaitUntil(const std::function<bool()>& done, double seconds) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > give_up) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace ferret::testing
