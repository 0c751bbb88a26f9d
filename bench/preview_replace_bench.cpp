// Times Preview Replace in the real window against a search of the same text: when its first
// files show, when it is complete, and the longest time the window's event loop went unanswered.
// Usage: preview_replace_bench FOLDER SEARCH REPLACE
#include <time.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <string>

#include "app/main_window.h"
#include "app/preview_replace_dialog.h"
#include "settings/app_settings.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: preview_replace_bench FOLDER SEARCH REPLACE\n");
        return 2;
    }
    QApplication app(argc, argv);
    // The summary report: the search's own time, not a list's.
    if (!ferret::SaveReportType(ferret::ReportType::kSummary).ok()) {
        std::fprintf(stderr, "preview_replace_bench: cannot write the settings\n");
        return 2;
    }
    ferret::MainWindow window;
    window.show();
    ferret::SearchFields fields;
    fields.folder = argv[1];
    fields.file_mask = "*";
    fields.recursive = true;
    fields.search_text = argv[2];
    fields.replace_text = argv[3];
    window.SetFields(fields);

    // Both runs are timed alike: the event loop waits for events as a window's does, woken
    // each millisecond by a timer that also measures how long the window went unanswered.
    QElapsedTimer clock;
    qint64 last_tick = 0;
    qint64 longest_stall = 0;
    qint64 first_files = -1;
    qint64 run_end = -1;  // the run itself has ended; the window may still be adding its files
    QPointer<ferret::PreviewReplaceDialog> preview;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest_stall = std::max(longest_stall, now - last_tick);
        last_tick = now;
        if (first_files < 0 && preview != nullptr && preview->Model()->FileCount() > 0) {
            first_files = now;
        }
        if (run_end < 0 && preview != nullptr && !window.IsRunning()) {
            run_end = now;
        }
    });
    const auto wait_until = [](const auto& done) {
        while (!done()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    };
    ticker.start(1);

    // Processor time of the whole program and of the window's thread, in ms.
    const auto cpu = [](clockid_t which) {
        timespec now{};
        clock_gettime(which, &now);
        return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
    };
    const double search_cpu = cpu(CLOCK_PROCESS_CPUTIME_ID);
    const double search_window = cpu(CLOCK_THREAD_CPUTIME_ID);
    clock.start();
    if (!window.StartRun(ferret::RunKind::kSearch)) {
        return 2;
    }
    wait_until([&] { return !window.IsRunning(); });
    const qint64 searched = clock.elapsed();
    const double preview_cpu = cpu(CLOCK_PROCESS_CPUTIME_ID);
    const double preview_window = cpu(CLOCK_THREAD_CPUTIME_ID);

    clock.restart();
    last_tick = 0;
    longest_stall = 0;
    preview = window.PreviewReplace();
    if (preview == nullptr) {
        return 2;
    }
    wait_until([&] {
        return !window.IsRunning() && !preview->Totals().contains(QStringLiteral("still"));
    });
    const qint64 complete = clock.elapsed();
    const double done_cpu = cpu(CLOCK_PROCESS_CPUTIME_ID);
    const double done_window = cpu(CLOCK_THREAD_CPUTIME_ID);
    if (run_end < 0) {
        run_end = complete;  // the run ended between two ticks, the window already complete
    }
    std::printf(
        "search %.3f s; preview: first files %.3f s, run %.3f s, complete %.3f s (%.2f x the "
        "search), %d files, %lld changes, longest stall %lld ms; processor time: search %.0f ms "
        "(window %.0f ms), preview %.0f ms (window %.0f ms)\n",
        searched / 1000.0, first_files / 1000.0, run_end / 1000.0, complete / 1000.0,
        static_cast<double>(complete) / static_cast<double>(searched),
        preview->Model()->FileCount(), static_cast<long long>(preview->Model()->Changes()),
        static_cast<long long>(longest_stall), preview_cpu - search_cpu,
        preview_window - search_window, done_cpu - preview_cpu, done_window - preview_window);
    return 0;
}
