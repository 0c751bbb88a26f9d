#include "util/message_box.h"

#include <cstdio>
#include <mutex>

namespace ferret {
namespace {

std::mutex handler_mutex;
MessageBoxHandler current_handler;  // protected by handler_mutex

}  // namespace

void ShowMessageBox(const std::string& text, const std::string& title, MessageIcon icon) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(handler_mutex);
        handler = current_handler;
    }
    if (handler) {
        handler(text, title, icon);
        return;
    }
    std::fprintf(stderr, "ferret: %s: %s\n", title.c_str(), text.c_str());
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard lock(handler_mutex);
    std::swap(current_handler, handler);
    return handler;
}

}  // namespace ferret
