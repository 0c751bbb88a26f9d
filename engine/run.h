#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/content_replace.h"
#include "engine/file_records.h"
#include "engine/hit_lines.h"
#include "engine/regex.h"
#include "engine/rewrite_batch.h"
#include "engine/search_fields.h"
#include "office/office_session.h"
#include "util/legacy_text.h"
#include "util/status.h"

namespace ferret {

// What the user asked a run to do after listing the files: search, replace, work out what a
// replace would change without writing (a preview), or write changes chosen from a preview.
enum class RunKind { kList, kSearch, kReplace, kPreview, kChosenChanges };

// Whether a run of `kind` has a replace stage: it works out each file's changes, and writes them
// unless it is a preview.
constexpr bool Replaces(RunKind kind) {
    return kind == RunKind::kReplace || kind == RunKind::kPreview ||
           kind == RunKind::kChosenChanges;
}

// What a replace run would do to one file, as a preview tells it.
struct FilePreview {
    RewritePlan plan;     // a text file's digest, and its changes when asked for; none for an
                          // office document
    bool office = false;  // a document or spreadsheet: its handler changes it as a whole
    std::string target;   // the file changed, links resolved (a file is told once)
    std::shared_ptr<const ChangeFinder> finder;  // what found its changes, to find them again
};

// A change chosen from a preview: some or all of a file's edits, or an office document whole.
struct ChosenChange {
    std::string path;
    std::uint64_t digest = 0;  // of the bytes the preview read
    std::vector<TextEdit> edits;
    bool office = false;
    // Every change of the file, found again while it is still as the preview saw it (`seen`):
    // a file whose changes were never looked at one by one.
    bool all = false;
    FileIdentity seen;
    std::string legacy;  // the legacy encoding the preview decoded it from (RewritePlan)
};

// Everything one run needs, taken when it starts: the search fields and the settings of that
// moment. The engine reads no settings, so a change in the options during a run reaches only
// the next one (the pattern switch excepted, through RunControl).
struct RunRequest {
    RunKind kind = RunKind::kList;
    SearchFields fields;
    // The size filter's number for SearchFields::kSizeSpecified, in KB, read from the size box by
    // the caller (the engine does not parse the user's texts).
    double size_kb = 0;
    // Replace: the extensions a file may have to be rewritten, as ApprovedExtensionList gives
    // them.
    std::string approved_extensions;
    // The extensions that go to the office handlers (GetHandlerExtensions); empty: none. The
    // setup says how to reach LibreOffice and must be there when the list is not empty.
    std::string office_extensions;
    std::optional<OfficeSetup> office_setup;
    // Replace: the folder of the restore points (never rewritten by a run) and how many are
    // kept (-1 all); 0 keeps none, and a run then rewrites without a way back.
    std::string restore_folder;
    int restore_quantity = 0;
    // How the text of a file without a byte-order mark is read: in the encoding its start shows,
    // or one forced.
    EncodingChoice encoding;
    // Threads of the content stage; 0: one per processor, at most 8.
    unsigned workers = 0;
    // For tests: called just before a rewritten file's name is switched to its new content.
    std::function<void(const SwitchMoment&)> before_switch;
    // Whether the files' sizes and dates will be shown (the list and tree reports): a search
    // then takes them from each file it opens; otherwise they are read only if asked for.
    bool want_details = true;
    // A search keeps the records of its files with hits (or problems) in RunResult::files; when
    // nothing will read them, it only counts them (FileRecords::Total).
    bool keep_records = true;
    // The files' hit lines, with this many context lines (0 to 3) around each; none when unset.
    // A replace run gives the lines of the new text.
    std::optional<int> hit_lines;
    // With hit lines: each lists where each of its hits starts and ends (HitLine::spans).
    bool hit_spans = false;
    // How far a match is followed, and how much of a file that must be read whole is
    // (RegExp::SetLongestMatch).
    std::uint64_t longest_match = kLongestMatch;
    // kPreview: each file's changes are worked out and told (RunSink::Previewed); no file is
    // written and no restore point kept.
    // A preview's changes of each file and its text, for a patch. Without, a preview counts
    // the changes and keeps the digest, and the changes are worked out when they are shown
    // (PreviewChanges).
    bool preview_changes = false;
    // kChosenChanges: instead of a walk and a search, these changes to these files, as a preview
    // found them and the user chose them (none when unset). A file no longer as the preview read
    // it is left alone and told.
    std::shared_ptr<const std::vector<ChosenChange>> chosen;
};

// Stop, Pause and the pattern switch of the run in progress. Every member is safe from any
// thread; the engine looks at them before each folder and each file.
class RunControl {
  public:
    // Clears Stop and Pause for a new run and sets the pattern switch.
    void Reset(bool use_regex);
    // Stop also pauses, as the Stop button does: a paused run then ends at once.
    void Stop();
    // Pauses, or resumes when paused; returns whether the run is now paused.
    bool TogglePause();
    bool Stopped() const { return stop_.load(); }
    bool Paused() const { return pause_.load(); }
    // The check between files: waits while paused and returns true when the run is to stop.
    bool StopPause();
    // The pattern switch is read for every file: a change applies from the next file on.
    void SetUseRegex(bool on) { use_regex_.store(on); }
    bool UseRegex() const { return use_regex_.load(); }

    // For the engine: the flags the walk looks at, and a call that wakes workers held back by a
    // pause whenever Stop or Pause changes (empty: none).
    const std::atomic<bool>& StopFlag() const { return stop_; }
    const std::atomic<bool>& PauseFlag() const { return pause_; }
    void SetWake(std::function<void()> wake);

  private:
    void Changed();

    std::atomic<bool> stop_{false};
    std::atomic<bool> pause_{false};
    std::atomic<bool> use_regex_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> wake_;  // protected by mutex_
};

// What a problem means for the user.
enum class ProblemKind {
    kFile,            // one file could not be done as asked; the run goes on
    kBadPattern,      // the regular expression cannot be used: no file is searched with it
    kNoRestorePoint,  // a replace run could not make its restore point: nothing is replaced
    kNotice,          // one file was done, with something its owner should know
};
struct RunProblem {
    RunProblem() = default;
    RunProblem(RunKind at, ProblemKind what, Status why, std::string about = {})
        : stage(at), kind(what), status(std::move(why)), path(std::move(about)) {}

    // Where it arose: kList while the files are listed, else the content stage, kSearch or
    // kReplace (a preview's and chosen changes' too).
    RunKind stage = RunKind::kSearch;
    ProblemKind kind = ProblemKind::kFile;
    Status status;     // its number and description, the file's path leading the description
    std::string path;  // the file or folder it is about, when it is about one
};

// What the walk found: entries seen, names that passed the mask, and the walk's time as
// FileFinder::SearchTime gives it.
struct ListTotals {
    std::int32_t searched = 0;
    std::int32_t matched = 0;
    std::string time;
};

// Receives a run's progress. The calls come one at a time, in this order: Listing, Listed, then
// (when there is a content stage) ContentStage, each file's problems, hit lines (when asked for
// and it has hits), its preview (a preview run, when it would change) and FileDone in list
// order, Totals. A search tells its first files while the walk still lists: ContentWhileListing
// then comes right after Listing, and those files' calls (FileDone's total 0) before Listed. A file
// with many hit lines gives them in several calls, the first ones while it is still searched, on
// the thread searching it; every other call comes on the thread that called ExecuteRun. A pattern
// that cannot be used and a restore-point problem come before Listing, and end the run there. The
// calls must return quickly: the workers wait for them.
class RunSink {
  public:
    virtual ~RunSink() = default;
    virtual void Listing() {}
    virtual void Listed(const ListTotals& /*totals*/) {}
    virtual void ContentWhileListing(RunKind /*kind*/) {}
    virtual void ContentStage(RunKind /*kind*/, std::size_t /*files*/) {}
    virtual void HitLines(std::size_t /*index*/, const FileRecord& /*file*/, FileHits /*hits*/) {}
    virtual void Previewed(std::size_t /*index*/, const FileRecord& /*file*/,
                           FilePreview /*preview*/) {}
    // `file` is done: the run no longer changes its record, which lives as long as the run's
    // results (RunResult::files) when the list keeps it; a search lets go of the record of a
    // file without hits (of every file, without RunRequest::keep_records) once this returns.
    virtual void FileDone(std::size_t /*index*/, std::size_t /*total*/, std::int32_t /*count*/,
                          FileRecord& /*file*/) {}
    virtual void Problem(const RunProblem& /*problem*/) {}
    virtual void Totals(std::int32_t /*strings_found*/, std::int32_t /*files_with_hits*/) {}
};

struct RunResult {
    // The listed files with their counts; shared with whatever shows them, so views may keep
    // it after the next run has started.
    std::shared_ptr<FileRecords> files;
    std::int32_t files_with_hits = 0;  // saturating at kMaxHitCount
    std::int32_t strings_found = 0;
    // Files left out as binary (SearchFields::skip_binary): a search's stay in `files` with the
    // count kLeftOutBinary, a listing's are not in it.
    std::int32_t binary_left_out = 0;
    // True when the content stage ran (a search or replace with its texts).
    bool content_stage = false;
    // The restore point this replace run kept ("" when it rewrote nothing or kept none), and
    // whether the run refused to start because none could be made.
    std::string restore_point;
    bool replace_refused = false;
    // The search text is a pattern that cannot be used: the run refused to start (nothing was
    // listed, searched or written) and told why as a kBadPattern problem.
    bool pattern_refused = false;
    // The pattern switch was turned on during the run and the pattern could not be used: the files
    // that needed it were not searched, and the first of them told why.
    bool pattern_failed = false;
    // New files that earlier replace runs, killed before they ended, had left; removed.
    std::vector<std::string> leftovers_removed;
    bool stopped = false;
    // The run's own while it goes on: files found inside the archives of `files`, each with its
    // archive, placed after it when the run ends.
    std::vector<std::pair<const FileRecord*, std::unique_ptr<FileRecord>>> inner_files;
};

// Runs one run on the calling thread (with worker threads of its own) and returns when it is
// done or stopped. A search or replace without its texts only lists; the caller tells the user.
RunResult ExecuteRun(const RunRequest& request, RunSink& sink, RunControl& control);

}  // namespace ferret
