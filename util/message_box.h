#pragma once

#include <functional>
#include <string>

namespace ferret {

enum class MessageIcon { Information, Warning, Critical, Question };

// Shows a message to the user: through the window's handler once the window has installed one,
// otherwise on standard error (an unattended run on a server), without waiting for an answer.
// Safe to call from any thread; the handler is responsible for reaching its own thread.
void ShowMessageBox(const std::string& text, const std::string& title, MessageIcon icon);

using MessageBoxHandler =
    std::function<void(const std::string& text, const std::string& title, MessageIcon icon)>;

// Installs `handler` (an empty one restores standard error) and returns the one it replaces.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace ferret
