#pragma once

#include <string>

namespace ferret {

enum class MessageIcon { kInformation, kWarning, kCritical, kQuestion };

// A message for the user from code that shows nothing itself: it travels up to the window, which
// shows it as a box, or to a run without one, which writes it to standard error.
struct UserMessage {
    std::string text;
    std::string title;
    MessageIcon icon = MessageIcon::kInformation;
};

}  // namespace ferret
