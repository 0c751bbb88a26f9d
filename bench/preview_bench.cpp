// Opens a large text file in the previewer and reports how long the text took to appear with its
// hits marked, and the longest time the window's event loop went unanswered meanwhile.
// Usage: preview_bench FILE TEXT
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>
#include <cstdio>

#include "preview/preview_window.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: preview_bench FILE TEXT\n");
        return 2;
    }
    QApplication app(argc, argv);
    auto* preview = new ferret::PreviewWindow;
    preview->setAttribute(Qt::WA_DeleteOnClose, false);
    preview->show();

    QElapsedTimer clock;
    qint64 last_tick = 0;
    qint64 longest_stall = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest_stall = std::max(longest_stall, now - last_tick);
        last_tick = now;
    });
    clock.start();
    ticker.start(1);
    preview->Load({argv[1], argv[2], false, false, 0, 0});
    while (preview->IsLoading()) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    preview->repaint();  // the first screenful is laid out and drawn
    const qint64 shown = clock.elapsed();
    // Scrolling to the end must not stall either.
    preview->Box()->moveCursor(QTextCursor::End);
    preview->repaint();
    const qint64 at_end = clock.elapsed();
    std::printf(
        "text with %d hits marked after %.3f s, end reached after %.3f s more, longest "
        "stall %lld ms\n",
        preview->MarkCount(), shown / 1000.0, (at_end - shown) / 1000.0,
        static_cast<long long>(longest_stall));
    delete preview;
    return 0;
}
