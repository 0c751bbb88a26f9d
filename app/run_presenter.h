#pragma once

#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "app/run_driver.h"
#include "app/window_run_view.h"

class QObject;

namespace ferret {

// The window's runs on a thread of their own, one at a time, so the window keeps answering:
// searches and replaces through the driver, and other long work (an undo, a redraw of the last
// results, an unattended run). The driver reports through the window's view.
//
// Every member is for the window's thread, except PressPause, PressStop and Cancel, which reach
// the run from any thread at once. The destructor stops what runs and waits for it.
class RunPresenter {
  public:
    // `window`: the object whose thread the view's calls and the ends of runs go to.
    RunPresenter(QObject* window, WindowRunView::Handlers handlers);
    ~RunPresenter();
    RunPresenter(const RunPresenter&) = delete;
    RunPresenter& operator=(const RunPresenter&) = delete;

    // Starts `order`; `ended` runs on the window's thread once the run is over and its thread
    // joined. False, and nothing started, while something else runs.
    bool Start(RunOrder order, std::function<void()> ended = {});
    // The same for other work.
    bool StartWork(std::function<void()> work, std::function<void()> ended = {});
    // Whether a run or work has started and its end has not reached the window yet.
    bool IsRunning() const { return thread_.joinable(); }
    // Handles the window's events until what runs has ended (for tests and closing).
    void Wait();
    // Stops what runs and waits for its thread without handling events; its end is not told.
    void StopAndJoin();

    bool PressPause() { return driver_.PressPause(); }
    void PressStop() { driver_.PressStop(); }

    RunDriver& Driver() { return driver_; }
    const RunDriver& Driver() const { return driver_; }
    WindowRunView& View() { return view_; }

  private:
    void Ended(std::uint64_t started, const std::function<void()>& ended);

    QPointer<QObject> window_;
    WindowRunView view_;
    RunDriver driver_;
    std::thread thread_;
    std::uint64_t started_ = 0;  // counts the starts, so a late end cannot end a newer run
};

}  // namespace ferret
