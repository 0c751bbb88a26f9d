#include "app/headless_view.h"

#include "reports/quoted_name.h"

namespace ferret {

HeadlessView::HeadlessView(bool progress, std::FILE* err) : progress_(progress), err_(err) {}

HeadlessView::~HeadlessView() {
    std::lock_guard lock(mutex_);
    ClearProgressLine();
}

void HeadlessView::ClearProgressLine() {
    if (progress_shown_) {
        std::fputs("\r\x1b[K", err_);
        std::fflush(err_);
        progress_shown_ = false;
    }
}

void HeadlessView::SetStatusText(StatusPanel panel, const std::string& text) {
    std::lock_guard lock(mutex_);
    status_[static_cast<int>(panel)] = text;
    if (!progress_ || panel != StatusPanel::kProgress || text.empty()) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - last_progress_ < std::chrono::milliseconds(100)) {
        return;
    }
    last_progress_ = now;
    std::fprintf(err_, "\r%s\x1b[K", text.c_str());
    std::fflush(err_);
    progress_shown_ = true;
}

void HeadlessView::SetRunLog(const std::string& text) {
    std::lock_guard lock(mutex_);
    run_log_ = text;
}

void HeadlessView::AppendRunLog(const std::string& text) {
    std::lock_guard lock(mutex_);
    run_log_ += text;
}

void HeadlessView::SetRunning(bool running) {
    std::lock_guard lock(mutex_);
    running_ = running;
    if (!running) {
        ClearProgressLine();
    }
}

void HeadlessView::ShowMessage(const std::string& text, const std::string& title,
                               MessageIcon /*icon*/) {
    std::lock_guard lock(mutex_);
    ClearProgressLine();
    messages_.push_back(title + ": " + text);
    // Names in a message are data: none may rewrite the terminal.
    std::fprintf(err_, "ferret: %s: %s\n", title.c_str(), EscapedText(text, true).c_str());
    std::fflush(err_);
}

void HeadlessView::SetReportText(const std::string& text) {
    std::lock_guard lock(mutex_);
    report_text_ = text;
}

std::string HeadlessView::StatusText(StatusPanel panel) const {
    std::lock_guard lock(mutex_);
    return status_[static_cast<int>(panel)];
}

std::string HeadlessView::RunLog() const {
    std::lock_guard lock(mutex_);
    return run_log_;
}

bool HeadlessView::Running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::vector<std::string> HeadlessView::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

}  // namespace ferret
