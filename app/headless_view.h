#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/run_view.h"

namespace ferret {

// The window of a run without a display: it keeps the texts a window would show, writes
// messages to standard error and, when asked, shows the progress line there too. Thread-safe.
class HeadlessView : public RunView {
  public:
    // `progress`: write status updates to `err` (meant for a terminal), at most ten a second.
    explicit HeadlessView(bool progress = false, std::FILE* err = stderr);
    ~HeadlessView() override;

    void SetStatusText(StatusPanel panel, const std::string& text) override;
    void SetRunLog(const std::string& text) override;
    void AppendRunLog(const std::string& text) override;
    void SetRunning(bool running) override;
    void SetBusy(bool /*busy*/) override {}
    void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
    void SetReportText(const std::string& text) override;
    const std::string& ReportText() const override { return report_text_; }

    std::string StatusText(StatusPanel panel) const;
    std::string RunLog() const;
    bool Running() const;
    std::vector<std::string> Messages() const;

  private:
    void ClearProgressLine();

    mutable std::mutex mutex_;
    bool progress_;
    std::FILE* err_;
    std::string status_[kStatusPanelCount];
    std::string run_log_;
    std::string report_text_;
    bool running_ = false;
    std::vector<std::string> messages_;
    std::chrono::steady_clock::time_point last_progress_{};
    bool progress_shown_ = false;
};

}  // namespace ferret
