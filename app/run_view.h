#pragma once

#include <cstddef>
#include <string>

#include <memory>

#include "reports/file_list_rows.h"
#include "reports/hit_line_table.h"
#include "reports/structured_nodes.h"
#include "settings/report_type.h"
#include "util/user_message.h"

namespace ferret {

class FileRecords;

// The status bar's texts: what the run is doing (and, at its end, its time), the entries it
// looked at, the files that matched.
enum class StatusPanel { kProgress = 0, kSearched = 1, kMatched = 2 };
inline constexpr int kStatusPanelCount = 3;

// What a run needs from the window: texts to show, the idle/running switch, messages and the
// report views. The window implements it over its widgets; the unattended run and the tests use
// headless versions. A run may call it from a worker thread: an implementation that owns widgets
// must hand the calls over to its own thread.
class RunView {
  public:
    virtual ~RunView() = default;

    virtual void SetStatusText(StatusPanel panel, const std::string& text) = 0;
    // The progress text, once per file ("...searching in file 7 of 90"); a view may show only
    // some of them, as long as it keeps up with the run.
    virtual void ShowProgress(const std::string& text) {
        SetStatusText(StatusPanel::kProgress, text);
    }
    // The same as numbers, just before each ShowProgress: files done of the files listed.
    virtual void ShowProgressCount(std::size_t /*done*/, std::size_t /*total*/) {}
    // The run log: replaced whole, or added to at its end.
    virtual void SetRunLog(const std::string& text) = 0;
    virtual void AppendRunLog(const std::string& text) = 0;
    // Idle (false) or running (true): which controls are enabled.
    virtual void SetRunning(bool running) = 0;
    // The busy pointer.
    virtual void SetBusy(bool busy) = 0;
    // Gives the window a chance to handle pending input; nothing to do when the run has a
    // thread of its own.
    virtual void ProcessEvents() {}
    virtual void ShowMessage(const std::string& text, const std::string& title,
                             MessageIcon icon) = 0;
    // A message the run does not wait for (a log entry that could not be written): shown
    // without holding up the caller.
    virtual void ShowNotice(const UserMessage& message) {
        ShowMessage(message.text, message.title, message.icon);
    }

    // The mask box, the skip box and the search box keep the texts used in runs in their lists.
    virtual void AddMaskToList(const std::string& /*mask*/) {}
    virtual void AddSkipFoldersToList(const std::string& /*text*/) {}
    virtual void AddSearchToList(const std::string& /*text*/) {}

    // Report views. The text box holds the summary reports and is what "Save Report" writes.
    virtual void SetReportText(const std::string& text) = 0;
    virtual const std::string& ReportText() const = 0;
    virtual void EnableReportMenus(bool /*enabled*/) {}
    // Whether there are list and tree views to fill: building them reads every listed file's
    // type and flags, which a run without a window must not pay for.
    virtual bool HasReportViews() const { return false; }
    // The detailed list and the structured tree, built by the run; shown in their views.
    virtual void ShowFileList(FileListRows /*rows*/) {}
    // The list filling while the run goes: StartFileStream when the run's content stage starts
    // (the folder the rows are shown against, whether it searches), then StreamFile for each
    // file to show, in list order, on the run's thread. ShowFileList then shows the whole list.
    virtual void StartFileStream(const std::string& /*start_folder*/, bool /*searched*/) {}
    virtual void StreamFile(FileRecord& /*file*/) {}
    // Hit lines that fill while the run goes: StartHitLines with the run's table, still empty,
    // which the view shows and from then on fills on its own thread; StreamHitLines hands on a
    // file's lines (false: not taken, the caller adds them itself) and StreamHitLinesDone its
    // count once it is done, in the order of the sink's calls. ShowHitLines ends the filling.
    virtual void StartHitLines(std::shared_ptr<HitLineTable> /*table*/) {}
    virtual bool StreamHitLines(const FileRecord& /*file*/, FileHits& /*hits*/) { return false; }
    virtual void StreamHitLinesDone(const FileRecord& /*file*/, std::int32_t /*hits*/) {}
    virtual void ShowStructuredTree(StructuredTree /*tree*/) {}
    // The hit lines of the last run's files; null when the run did not gather them.
    virtual void ShowHitLines(std::shared_ptr<const HitLineTable> /*table*/) {}
    // Shows the view of `report` and hides the others.
    virtual void ShowReportView(ReportType /*report*/) {}
    // Empties the report views other than the one of `report`, and the text box unless it is a
    // summary, before the last results are drawn again.
    virtual void ClearReportViews(ReportType report) {
        if (!IsSummary(report)) {
            SetReportText("");
        }
    }
    // Opens the "Results" group of the explorer bar when a run ends.
    virtual void OpenResultsGroup() {}
};

}  // namespace ferret
