#include "app/run_presenter.h"

#include <QApplication>
#include <QMetaObject>

namespace ferret {

RunPresenter::RunPresenter(QObject* window, WindowRunView::Handlers handlers)
    : window_(window), view_(window, std::move(handlers)), driver_(view_) {}

RunPresenter::~RunPresenter() {
    StopAndJoin();
}

bool RunPresenter::Start(RunOrder order, std::function<void()> ended) {
    return StartWork(
        [this, order = std::move(order)]() mutable { driver_.StartProcess(std::move(order)); },
        std::move(ended));
}

bool RunPresenter::StartWork(std::function<void()> work, std::function<void()> ended) {
    if (IsRunning()) {
        return false;
    }
    const std::uint64_t started = ++started_;
    thread_ = std::thread([this, started, work = std::move(work), ended = std::move(ended)] {
        work();
        QMetaObject::invokeMethod(
            window_, [this, started, ended] { Ended(started, ended); }, Qt::QueuedConnection);
    });
    return true;
}

void RunPresenter::Ended(std::uint64_t started, const std::function<void()>& ended) {
    if (started != started_ || !thread_.joinable()) {
        return;  // stopped and joined while its end was on its way
    }
    thread_.join();
    if (ended) {
        ended();
    }
}

void RunPresenter::Wait() {
    while (IsRunning()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

void RunPresenter::StopAndJoin() {
    if (IsRunning()) {
        driver_.PressStop();
        thread_.join();
    }
}

}  // namespace ferret
