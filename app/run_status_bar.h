#pragma once

#include <QObject>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>

#include "app/run_view.h"

class QLabel;
class QProgressBar;
class QStatusBar;
class QToolButton;

namespace ferret {

class TaskProgress;

// The window's status bar: the run's three texts, its progress (also on the program's task bar
// entry) while it runs, and the button to the files the last run could not do.
class RunStatusBar : public QObject {
  public:
    explicit RunStatusBar(QStatusBar& bar);
    ~RunStatusBar() override;

    void SetText(StatusPanel panel, const QString& text);
    QString Text(StatusPanel panel) const;
    // Files done of the files listed; busy until the first count comes.
    void ShowProgress(std::size_t done, std::size_t total);
    void SetRunning(bool running);
    // While paused the progress text says so, whatever the run writes there meanwhile.
    void SetPaused(bool paused);
    // "N file(s) not done", hidden when there are none.
    void ShowNotDone(std::size_t not_done);
    QToolButton* NotDoneButton() const { return not_done_; }
    // "Undo This Replace" after a replace run that left a restore point; hidden otherwise.
    void ShowUndo(bool shown);
    QToolButton* UndoButton() const { return undo_; }

    // The buttons were pressed.
    std::function<void()> on_show_not_done;
    std::function<void()> on_undo;

  private:
    void ShowProgressText();

    QLabel* texts_[kStatusPanelCount] = {};
    QString progress_text_;  // the run's own, without the paused mark
    bool paused_ = false;
    QToolButton* not_done_ = nullptr;
    QToolButton* undo_ = nullptr;
    QProgressBar* progress_ = nullptr;
    std::unique_ptr<TaskProgress> task_progress_;
};

}  // namespace ferret
