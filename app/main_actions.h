#pragma once

#include <QObject>
#include <functional>
#include <optional>

#include "settings/report_type.h"

class QAction;
class QMainWindow;

namespace ferret {

// The main window's toolbars and menus. What each command does is the window's: it comes in as
// a handler. Which commands can be used follows the run's state.
class MainActions : public QObject {
  public:
    struct Handlers {
        std::function<void()> search;
        std::function<void()> replace;
        std::function<void()> preview;
        std::function<void()> stop;
        std::function<void()> pause;
        std::function<void()> open_configuration;
        std::function<void()> save_configuration;
        std::function<void()> save_report;
        std::function<void()> print_report;
        std::function<void(ReportType report)> report_type;
        std::function<void()> clear_history;
        std::function<void()> undo_last_replace;
        std::function<void()> restore_points;
        std::function<void()> options;
        std::function<void()> help;
        std::function<void()> about;
    };

    MainActions(QMainWindow& window, Handlers handlers);

    // Pause and Stop while something runs, Search when nothing does.
    void SetRunning(bool running);
    void SetSearchEnabled(bool enabled);
    void SetPauseAndStopEnabled(bool enabled);
    // Replace and Preview need both texts and no run.
    void SetReplaceEnabled(bool enabled);
    // Pause becomes Resume while the run is paused.
    void ShowPaused(bool paused);
    bool CanPause() const;
    // Ticks `report`'s item; none for a stored type no report has.
    void CheckReportType(std::optional<ReportType> report);
    // Saving and printing need a summary report.
    void EnableReportMenus(bool enabled);

  private:
    void BuildToolbars(QMainWindow& window);
    void BuildMenus(QMainWindow& window);
    // `handler` of the handlers, called when `action` is triggered.
    void Wire(QAction* action, const std::function<void()>& handler);

    QMainWindow* window_;
    Handlers handlers_;
    QAction* search_ = nullptr;
    QAction* replace_ = nullptr;
    QAction* preview_ = nullptr;
    QAction* stop_ = nullptr;
    QAction* pause_ = nullptr;
    QAction* save_report_ = nullptr;
    QAction* print_report_ = nullptr;
    QAction* report_types_[kReportTypeCount] = {};
};

}  // namespace ferret
