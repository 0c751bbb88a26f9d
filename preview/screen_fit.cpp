#include "preview/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace ferret {

void FitOnScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    const QRect room = screen->availableGeometry();
    // A shown window knows its frame; before that the frame is taken as none.
    const QRect frame = window.frameGeometry();
    const QRect inner = window.geometry();
    const QSize decorations = window.isVisible() ? frame.size() - inner.size() : QSize(0, 0);
    const QSize fitted =
        window.size().boundedTo(room.size() - decorations).expandedTo(window.minimumSize());
    if (fitted != window.size()) {
        window.resize(fitted);
    }
    // Only a window placed by us or by the saved settings is moved: the window manager places
    // the others itself.
    if (window.isVisible() || window.testAttribute(Qt::WA_Moved)) {
        const QSize outer = fitted + decorations;
        const int left = std::clamp(window.x(), room.left(),
                                    std::max(room.left(), room.right() + 1 - outer.width()));
        const int top = std::clamp(window.y(), room.top(),
                                   std::max(room.top(), room.bottom() + 1 - outer.height()));
        if (left != window.x() || top != window.y()) {
            window.move(left, top);
        }
    }
}

}  // namespace ferret
