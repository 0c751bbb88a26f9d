#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/run_timer.h"
#include "app/run_view.h"
#include "engine/file_records.h"
#include "engine/run.h"
#include "engine/search_fields.h"
#include "reports/hit_line_table.h"
#include "settings/app_settings.h"

namespace ferret {

// One run as the user asked for it: its kind, the fields it uses and, for the kinds that need
// them, where its findings go. Everything a run needs travels here; nothing is set on the
// driver before a run and cleared after it.
struct RunOrder {
    // Each file's hit lines, in list order on the run's thread (the unattended run's quickfix
    // file); a run with a taker gathers them whatever its report.
    using HitLineTaker = std::function<void(const FileRecord&, const FileHits&)>;
    // Each file a preview would change, in list order on the run's thread. `preview` may be
    // moved from.
    using PreviewTaker = std::function<void(const FileRecord&, FilePreview& preview)>;

    RunOrder() = default;
    RunOrder(RunKind run_kind, SearchFields run_fields)
        : kind(run_kind), fields(std::move(run_fields)) {}

    RunKind kind = RunKind::kSearch;
    SearchFields fields;
    HitLineTaker hit_lines;
    // The hit lines list where each hit starts and ends (HitLine::spans).
    bool hit_spans = false;
    // kPreview: where each file that would change goes, and whether it carries its changes and
    // text for a patch (RunRequest::preview_changes).
    PreviewTaker previewed;
    bool preview_changes = false;
    // kPreview: each file the preview could not do, with why, on the run's thread; when set, such
    // a file is told there (the preview's window lists it) rather than as a file not done.
    std::function<void(const std::string& path, const std::string& why)> not_previewed;
    // kChosenChanges: the changes to write, a preview's as chosen.
    std::shared_ptr<const std::vector<ChosenChange>> chosen;
    // The report shown instead of the stored type (an unattended run's report file); not stored.
    std::optional<ReportType> report;
    // Whether the files' records are read after the run (reports, lists); without, a search
    // only counts them, and Results() holds none.
    bool keep_records = true;
    // The encoding every file without a byte-order mark is read in, over the setting's ("-enc");
    // empty: the setting's.
    std::string encoding;
};

// The presenter of runs for the window and the unattended run: takes the settings a run needs,
// hands the run to the engine, turns what the engine reports into the texts, messages and error
// log entries the user sees, and shows the report the settings choose, all through a RunView.
//
// StartProcess runs on the caller's thread (the window gives it a thread of its own, see
// RunThread) and returns when the run is done; the view is called from that thread. PressPause,
// PressStop, Cancel and SetUseRegex may be called from any thread. The other members are for the
// thread that starts runs, between runs. Results stay until the next run starts.
class RunDriver : private RunSink {
  public:
    explicit RunDriver(RunView& view);
    ~RunDriver() override;
    RunDriver(const RunDriver&) = delete;
    RunDriver& operator=(const RunDriver&) = delete;

    // One run, as ordered.
    void StartProcess(RunOrder order);

    // The check between report rows: true when the run is to stop; while paused it waits.
    bool StopPause();

    // The Pause button: pauses, or resumes when paused. Returns whether the run is now paused.
    // The run's elapsed time stands still while paused.
    bool PressPause();
    // The Stop button: the walk, the content stage and the report end at their next step.
    void PressStop();
    // Stops the run in progress and every later one (the program is ending). Any thread.
    void Cancel();
    bool IsPaused() const { return control_.Paused(); }

    // The regular-expression switch is read for every file, so a change during a run applies
    // from the next file on.
    void SetUseRegex(bool on) { control_.SetUseRegex(on); }

    // Shows the report the settings choose for the last results.
    void ShowReport();
    // The summary report, with or without the file list, into the view's text box.
    void DisplaySummary(bool with_file_list);
    // The detailed list and the structured tree, built here and handed to the view.
    void DisplayFileList();
    void DisplayStructuredList();
    // The hit-lines report.
    void DisplayHitLines();

    // The last run's hit lines, when its report was the hit-lines report; null otherwise.
    const std::shared_ptr<HitLineTable>& HitLineResults() const { return hit_table_; }
    // Takes the settings as they are now and shows the report type they name; `force` redraws
    // the last results.
    void RefreshSettings(const AppSettings& settings, bool force);

    // The last run's results; shared, so a view may keep them past the next run.
    const std::shared_ptr<FileRecords>& Results() const { return results_; }
    std::int32_t FilesWithHits() const { return files_with_hits_; }
    // Files the last run left out as binary (SearchFields::skip_binary).
    std::int32_t BinaryLeftOut() const { return binary_left_out_; }
    std::int32_t StringsFound() const { return strings_found_; }
    bool HasHighlight() const { return has_highlight_; }
    const std::string& HighlightText() const { return highlight_text_; }
    // The fields of the last run, as it used them.
    const SearchFields& Fields() const { return fields_; }
    // The restore point of the last replace run ("" when it rewrote nothing or kept none), and
    // whether that run refused to start because no restore point could be made.
    const std::string& RestorePointFolder() const { return restore_folder_; }
    // The last run's restore point was undone: its log says so, as its report no longer shows
    // the files as they are.
    void NoteUndone();
    // What the last run could not do, one per file or folder: its path (empty when the problem
    // was not one file's) and the text, which starts with the path.
    struct FileProblem {
        std::string path;
        std::string text;
    };
    const std::vector<FileProblem>& FileProblems() const { return file_problems_; }
    // What the last run did that the user should know of, one text per file.
    const std::vector<std::string>& Notices() const { return notices_; }
    // New files that interrupted replace runs had left, removed by the last run.
    const std::vector<std::string>& LeftoversRemoved() const { return leftovers_removed_; }
    bool ReplaceRefused() const { return replace_refused_; }
    // The last run's search text was a pattern that cannot be used: nothing was searched.
    bool PatternRefused() const { return pattern_refused_; }
    // Whether the last run was stopped before its end.
    bool Stopped() const { return stopped_; }

  private:
    // What the engine reports, on the run's thread.
    void Listing() override;
    void Listed(const ListTotals& totals) override;
    void ContentWhileListing(RunKind kind) override;
    void ContentStage(RunKind kind, std::size_t files) override;
    // What ContentWhileListing and ContentStage share: the progress texts and the views that
    // fill as files are done; the status text stays the walk's while it lists.
    void StartContent(RunKind kind);
    void HitLines(std::size_t index, const FileRecord& file, FileHits hits) override;
    void Previewed(std::size_t index, const FileRecord& file, FilePreview preview) override;
    void FileDone(std::size_t index, std::size_t total, std::int32_t count,
                  FileRecord& file) override;
    void Problem(const RunProblem& problem) override;
    void Totals(std::int32_t strings_found, std::int32_t files_with_hits) override;

    // The request of a run: the fields and the settings of this moment. False when the fields
    // cannot make one (the size is not a number); the error log was told.
    bool MakeRequest(RunRequest& request);
    // The parts of StartProcess: the state and the view made ready, the engine's run and its
    // results taken, and what the user is shown of them.
    void BeginRun(RunOrder order, RunTimer& timer);
    void Execute(const RunRequest& request);
    void ShowOutcome();
    void SetRunning(bool running);
    // The report the run in progress (or the last one) shows; none for a stored code no report
    // has.
    std::optional<ReportType> ShownReport() const;
    // Logs an entry; the user is told when it cannot be written.
    void Log(const char* label, const char* number, const std::string& description);
    void TellLogFailure();
    ReportBuildInput ReportInput();

    RunView& view_;
    RunControl control_;
    std::atomic<bool> cancelled_{false};
    SearchFields fields_;
    std::vector<std::string> leftovers_removed_;
    std::vector<FileProblem> file_problems_;
    std::vector<std::string> notices_;
    bool run_regex_ = false;  // the pattern switch as the last run ended
    std::string office_extensions_;
    std::shared_ptr<FileRecords> results_;
    RunOrder order_;  // the run in progress, or the last one
    std::shared_ptr<HitLineTable> hit_table_;
    bool gather_hit_lines_ = false;  // the run in progress fills hit_table_
    // The run in progress shows its files in the list or the tree as they are done
    // (RunView::StreamFile), those with hits when it searches.
    bool stream_files_ = false;
    bool content_started_ = false;  // files are told (StartContent)
    bool stream_searched_ = false;
    bool stream_hits_ = false;  // the window fills hit_table_ as the lines come
    bool undone_ = false;       // the replace run shown was undone since
    std::int32_t files_with_hits_ = 0;
    std::int32_t strings_found_ = 0;
    bool has_highlight_ = false;
    std::string highlight_text_;
    std::string restore_folder_;
    std::int32_t binary_left_out_ = 0;  // of the last run
    std::string restore_base_;
    bool replace_refused_ = false;
    bool pattern_refused_ = false;
    bool stopped_ = false;
    // Where Stop was pressed (PressStop may come from another thread): while the files were
    // listed, else after how many of files_total_ files.
    std::atomic<bool> listing_{false};
    std::atomic<bool> stopped_listing_{false};
    std::atomic<std::size_t> files_done_{0};
    std::atomic<std::size_t> done_at_stop_{0};
    std::size_t files_total_ = 0;
    std::optional<ReportType> last_report_;
    AppSettings settings_;  // as the run in progress, or the last refresh, read them
    std::string progress_verb_;

    std::mutex timer_mutex_;
    RunTimer* timer_ = nullptr;  // protected by timer_mutex_; only during a run
};

}  // namespace ferret
