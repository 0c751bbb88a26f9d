#pragma once

// A headless view that also keeps every progress text (status panel 1) it showed and can act on
// each status text as it comes.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/headless_view.h"

namespace ferret::testing {

class RecordingView : public HeadlessView {
  public:
    void SetStatusText(StatusPanel panel, const std::string& text) override {
        HeadlessView::SetStatusText(panel, text);
        if (panel == StatusPanel::kProgress) {
            std::lock_guard lock(mutex_);
            progress_.push_back(text);
        }
        if (on_status) {
            on_status(panel, text);
        }
    }
    std::vector<std::string> Progress() const {
        std::lock_guard lock(mutex_);
        return progress_;
    }
    std::function<void(StatusPanel, const std::string&)> on_status;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> progress_;
};

}  // namespace ferret::testing
