// Times how long the window takes from the end of a search to a filled report view, and the
// longest time the window's event loop went unanswered during the whole run.
// Usage: view_bench FOLDER REPORT_TYPE [TEXT [MASK]] (0 = detailed list, 1 = structured tree,
// 2 = summary, 3 = summary with file list, 4 = hit lines; TEXT "needle", MASK "*.*" unless
// given). It tells too when the first result showed and when the walk's end did. For the hit lines
// it also times, with the same stall watch, a sort of the files by their hits and a jump to the
// last line.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHeaderView>
#include <QListView>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "app/file_list_model.h"
#include "app/hit_lines_view.h"
#include "app/main_window.h"
#include "app/structured_model.h"
#include "settings/app_settings.h"
#include "settings/settings.h"

namespace {

// A figure of /proc/self/status ("VmRSS:", "VmHWM:") in MB.
long StatusMib(const char* name) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, name, std::strlen(name)) == 0) {
            kib = std::atol(line + std::strlen(name));
        }
    }
    if (status != nullptr) {
        std::fclose(status);
    }
    return kib / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: view_bench FOLDER REPORT_TYPE [TEXT [MASK]]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const std::optional<ferret::ReportType> type =
        ferret::ReportTypeOfCode(ferret::SettingAsInt(argv[2], -1));
    if (!type) {
        std::fprintf(stderr, "view_bench: REPORT_TYPE is a number from 0 to 4\n");
        return 2;
    }
    if (!ferret::SaveReportType(*type).ok()) {
        std::fprintf(stderr, "view_bench: cannot write the settings\n");
        return 2;
    }
    ferret::MainWindow window;
    window.show();
    ferret::SearchFields fields;
    fields.folder = argv[1];
    fields.file_mask = argc > 4 ? argv[4] : "*.*";
    fields.recursive = true;
    fields.search_text = argc > 3 ? argv[3] : "needle";
    window.SetFields(fields);

    QElapsedTimer clock;
    qint64 last_tick = 0;
    qint64 longest_stall = 0;
    qint64 longest_stall_at = 0;  // when it ended
    qint64 search_end = -1;
    qint64 first_result = -1;
    qint64 walk_end = -1;
    bool searching = false;
    const auto results_shown = [&] {
        return type == ferret::ReportType::kFileList ? window.FileModel()->rowCount() > 0
               : type == ferret::ReportType::kStructured
                   ? window.TreeModel()->tree().Find("file0") != nullptr
               : type == ferret::ReportType::kHitLines ? window.HitLines()->Model()->rowCount() > 0
                                                       : false;
    };
    const QString building =
        type == ferret::ReportType::kFileList     ? QStringLiteral("...creating file list display")
        : type == ferret::ReportType::kStructured ? QStringLiteral("...building structured display")
                                                  : QStringLiteral("...creating summary report");
    // A 1 ms timer: the gaps between its ticks are the times the window could not answer.
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - last_tick > longest_stall) {
            longest_stall = now - last_tick;
            longest_stall_at = now;
        }
        last_tick = now;
        // A summary may be built between two ticks: then the first tick after the search's
        // own texts marks its end.
        if (first_result < 0 && results_shown()) {
            first_result = now;
        }
        if (walk_end < 0 && !window.StatusText(ferret::StatusPanel::kSearched).isEmpty()) {
            walk_end = now;
        }
        const QString status = window.StatusText(ferret::StatusPanel::kProgress);
        searching = searching || status.startsWith(QStringLiteral("...searching"));
        // The walk's end comes between texts of the search when it searches while listing.
        if (search_end < 0 && (status == building ||
                               (searching && !status.startsWith(QStringLiteral("...searching")) &&
                                status != QStringLiteral("...file list completed")))) {
            search_end = now;
        }
    });
    // The run starts as a user's would, a moment after the window opened: what the window loads
    // meanwhile (the file type names) is ready.
    {
        QEventLoop opening;
        QTimer::singleShot(1000, &opening, &QEventLoop::quit);
        opening.exec();
    }
    clock.start();
    ticker.start(1);
    if (!window.StartRun(ferret::RunKind::kSearch)) {
        return 2;
    }
    window.WaitForRun();
    QApplication::processEvents();
    window.repaint();  // the first screenful of rows is drawn
    const qint64 filled = clock.elapsed();
    const auto shown = type == ferret::ReportType::kFileList
                           ? static_cast<std::size_t>(window.FileModel()->rowCount())
                       : type == ferret::ReportType::kStructured ? window.TreeModel()->tree().size()
                       : type == ferret::ReportType::kHitLines
                           ? static_cast<std::size_t>(window.HitLines()->Model()->rowCount())
                           : static_cast<std::size_t>(window.ReportTextShown().size());
    std::printf("run %.3f s, end of search to filled view %.3f s, longest stall %lld ms, %zu %s\n",
                filled / 1000.0, (filled - search_end) / 1000.0,
                static_cast<long long>(longest_stall), shown,
                type == ferret::ReportType::kFileList     ? "rows"
                : type == ferret::ReportType::kStructured ? "tree nodes"
                : type == ferret::ReportType::kHitLines   ? "rows of files and lines"
                                                          : "characters of report");
    std::printf(
        "first result shown at %.3f s, the walk's end at %.3f s, the longest stall ended at "
        "%.3f s\n",
        first_result / 1000.0, walk_end / 1000.0, longest_stall_at / 1000.0);
    if (type == ferret::ReportType::kHitLines) {
        ferret::HitLinesView* view = window.HitLines();
        QListView* list = view->List();
        // The events a step leaves (a list lays its rows out in batches) go on for a while
        // under the same watch.
        const auto settle = [] {
            QEventLoop loop;
            QTimer::singleShot(1500, &loop, &QEventLoop::quit);
            loop.exec();
        };
        settle();
        std::printf("laid out, longest stall %lld ms\n", static_cast<long long>(longest_stall));
        const auto timed = [&](const char* what, const std::function<void()>& step) {
            longest_stall = 0;
            last_tick = clock.elapsed();
            const qint64 began = clock.elapsed();
            step();
            QApplication::processEvents();
            list->repaint();
            const qint64 took = clock.elapsed() - began;
            settle();
            std::printf("%s %.3f s, longest stall %lld ms\n", what, took / 1000.0,
                        static_cast<long long>(longest_stall));
        };
        timed("sort by hits", [&] { emit view->Header()->sectionClicked(1); });
        timed("to the last line", [&] { list->scrollToBottom(); });
        const int bottom = list->indexAt(QPoint(4, list->viewport()->height() - 4)).row();
        std::printf("  the last row shown: %d of %d\n", bottom, view->Model()->rowCount() - 1);
        timed("close all files", [&] { view->Model()->SetAllOpen(false); });
        timed("open all files", [&] { view->Model()->SetAllOpen(true); });
        // Each page drawn as the user would see it: the watch between pages.
        qint64 slowest_page = 0;
        timed("page through 100 screens", [&] {
            for (int page = 0; page < 100; ++page) {
                const qint64 began = clock.elapsed();
                list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 100 *
                                                    page);
                list->repaint();
                slowest_page = std::max(slowest_page, clock.elapsed() - began);
                QApplication::processEvents();
            }
        });
        std::printf("  the slowest page %lld ms\n", static_cast<long long>(slowest_page));
    }
    std::printf("memory: resident %ld MB, peak %ld MB\n", StatusMib("VmRSS:"), StatusMib("VmHWM:"));
    return search_end < 0 ? 1 : 0;
}
