#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/ordered_stage.h"
#include "engine/pro_timer.h"
#include "engine/result_records.h"
#include "engine/run_view.h"
#include "engine/search_fields.h"
#include "util/status.h"

namespace ferret {

// Drives one run at a time: builds the file list, searches the files, adds up the totals and
// shows the report, talking to the window only through its RunView. StartProcess runs on the
// caller's thread (the window gives it a worker thread); Pause and Stop may be pressed from any
// thread and take effect between files. Results stay until the next run starts.
class RestorePoint;

class RunDriver {
  public:
    explicit RunDriver(RunView& view);
    ~RunDriver();
    RunDriver(const RunDriver&) = delete;
    RunDriver& operator=(const RunDriver&) = delete;

    // One run of kind "Search" or "Replace" (compared exactly; any other text only builds the
    // list) over a copy of `fields`.
    void StartProcess(const std::string& mode, const SearchFields& fields);

    // The check between files: true when the run is to stop; while paused it waits.
    bool StopPause();
    // "start" switches the window to idle, anything else to running.
    void EnableForm(const std::string& mode);
    // Adds one file's hit count to the totals (counts below 1 change nothing).
    void AddToTotals(std::int32_t count);

    // The Pause button: pauses, or resumes when paused. Returns whether the run is now paused.
    bool PressPause();
    // The Stop button.
    void PressStop();
    bool IsPaused() const { return pause_.load(); }

    // The regular-expression switch is read for every file, so a change during a run applies
    // from the next file on.
    void SetUseRegex(bool on) { use_regex_.store(on); }

    // Shows the report the settings choose for the last results.
    void ShowReport();
    // The summary report, with or without the file list, into the view's text box.
    void DisplaySummary(bool with_file_list);
    // The detailed list and the structured tree, built here and handed to the view.
    void DisplayFileList();
    void DisplayStructuredList();
    // Re-reads the report type and applies the view rule; `force` redraws the last results.
    void RefreshSettings(bool force);
    // While set, runs show this report type instead of the stored one.
    void SetReportTypeOverride(std::optional<int> code) { report_override_ = code; }

    clsFiles* Results() const { return results_.get(); }
    std::int32_t FilesWithHits() const { return files_with_hits_; }
    std::int32_t StringsFound() const { return strings_found_; }
    bool HasHighlight() const { return has_highlight_; }
    const std::string& HighlightText() const { return highlight_text_; }
    const SearchFields& Fields() const { return fields_; }
    // The restore point of the last replace run ("" when it rewrote nothing or kept none), and
    // whether that run refused to start because no restore point could be made.
    const std::string& RestorePointFolder() const { return restore_folder_; }
    bool ReplaceRefused() const { return replace_refused_; }
    // Fields changed in the window since the last run (for reports drawn again).
    void SetFields(const SearchFields& fields) { fields_ = fields; }

  private:
    std::unique_ptr<clsFiles> BuildFileList();
    void SearchInFileList(clsFiles& files, const std::string& search_text);
    void ReplaceInFileList(clsFiles& files, const std::string& search_text,
                           const std::string& replace_text, RestorePoint* restore);
    // The restore point of a replace run, or none when the settings keep none. False (after
    // telling the user) when one is wanted and cannot be made.
    bool OpenRestorePoint(std::unique_ptr<RestorePoint>& restore);
    // Runs a stage's workers so that Pause and Stop reach them.
    void RunStage(OrderedStage& stage, std::size_t total);
    void PatternError(const char* label, const Status& status);
    void AppendTotals();
    int ReportType() const;
    ReportBuildInput ReportInput();

    RunView& view_;
    SearchFields fields_;
    std::unique_ptr<clsFiles> results_;
    std::int32_t files_with_hits_ = 0;
    std::int32_t strings_found_ = 0;
    bool has_highlight_ = false;
    std::string highlight_text_;
    std::string restore_folder_;
    bool replace_refused_ = false;
    std::optional<int> report_override_;
    int last_report_code_ = -1;
    ProTimer* timer_ = nullptr;  // only during a run, owned by StartProcess

    std::atomic<bool> stop_{false};
    std::atomic<bool> pause_{false};
    std::atomic<bool> use_regex_{false};
    std::mutex pause_mutex_;
    std::condition_variable pause_changed_;
    OrderedStage* stage_ = nullptr;  // protected by pause_mutex_: the stage running now
};

}  // namespace ferret
