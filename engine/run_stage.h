#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/content_search.h"
#include "engine/file_records.h"
#include "engine/hit_lines.h"
#include "engine/ordered_stage.h"
#include "engine/regex.h"
#include "engine/run.h"
#include "util/file_handle.h"

// What the content stages of a run (search, replace, preview) share: how they open files, hold
// problems and tell the sink about each file in list order.
namespace ferret {

// The error number of a file or a stage that failed with an exception, which is nearly always
// for want of memory: the number the pattern engine gives that.
constexpr int kOutOfMemory = kRegexErrorOutOfMemory;

// The run a stage belongs to.
struct RunContext {
    const RunRequest& request;
    RunSink& sink;
    RunControl& control;
    RunResult& result;

    // How many files are worked on at once.
    unsigned Workers() const;
};

// A pattern compiled once, when a file first needs it, with what lets most text go unmatched.
// Thread-safe.
class LazyPattern {
  public:
    LazyPattern(std::string text, bool ignore_case, std::uint64_t longest_match)
        : text_(std::move(text)), ignore_case_(ignore_case), longest_match_(longest_match) {}

    // The compiled pattern, or nullptr when it cannot be used and `on_error` was told why. Every
    // caller is told, not just the one that compiled it: workers run ahead of the list, and the
    // run tells the problem with the first file in list order (TellProblems).
    const RegExp* Get(const std::function<void(const Status&)>& on_error) {
        std::call_once(compiled_, [&] {
            shortcut_ = MakePatternShortcut(text_, ignore_case_);
            pattern_.SetLongestMatch(longest_match_);
            status_ = pattern_.Compile(text_, ignore_case_);
        });
        if (!status_.ok()) {
            on_error(status_);
            return nullptr;
        }
        return &pattern_;
    }
    // Valid after Get.
    const PatternShortcut* Shortcut() const { return shortcut_.get(); }

  private:
    const std::string text_;
    const bool ignore_case_;
    const std::uint64_t longest_match_;
    std::once_flag compiled_;
    RegExp pattern_;
    Status status_;
    std::unique_ptr<PatternShortcut> shortcut_;
};

// The folder of the file a thread searched last, kept open: files are searched in list order,
// a folder's files one after another, so most are opened by name in an open folder instead of
// by a path looked up from the root every time.
class OpenFolder {
  public:
    // A descriptor of `record`'s folder, or AT_FDCWD when it cannot be opened.
    int For(const FileRecord& record);
    // Lets the folder go (a thread that lives on must not keep it busy).
    void Close();

  private:
    std::shared_ptr<const std::string> root_;
    Fd fd_;
};
extern thread_local OpenFolder t_open_folder;

// Lets the folder a thread kept open go when a content stage ends.
struct CloseOpenFolder {
    CloseOpenFolder() = default;
    CloseOpenFolder(const CloseOpenFolder&) = delete;
    CloseOpenFolder& operator=(const CloseOpenFolder&) = delete;
    ~CloseOpenFolder() { t_open_folder.Close(); }
};

// The name to open in `folder` (from OpenFolder::For): the full path when no folder is open.
std::string NameIn(int folder, const FileRecord& record);

// What learns `record`'s size and date from the open file, when the walk left them to it.
DetailsSink DetailsFor(FileRecord& record);

// A file found inside another (an archive's entry) and what its search found.
struct InnerFound {
    std::unique_ptr<FileRecord> record;
    std::int32_t count = 0;
    std::vector<RunProblem> problems;
    FileHits hits;
    // Its hit lines set aside in `spill`, shared by the files found in the same file, after
    // those of the files before it: the lines of a whole archive are not all held in memory.
    std::size_t spilled_lines = 0;
    std::shared_ptr<HitLineSpill> spill;
};

// What searching or previewing one file found.
struct FileFound {
    std::vector<RunProblem> problems;
    FileHits hits;
    std::optional<FilePreview> preview;  // a preview's file that would change
    // Files inside it, told just before it.
    std::vector<InnerFound> inner;
};

// The problems of the files being worked on, and the files found inside them, held until their
// files are taken in list order.
class ProblemBox {
  public:
    void Add(std::size_t index, RunProblem problem);
    // Hands the problems of file `index` to the sink.
    void Deliver(std::size_t index, const FileRecord& file, RunSink& sink, RunResult& result);
    void AddInner(std::size_t index, std::vector<InnerFound> inner);
    std::vector<InnerFound> TakeInner(std::size_t index);

  private:
    std::mutex mutex_;
    std::multimap<std::size_t, RunProblem> held_;           // protected by mutex_
    std::map<std::size_t, std::vector<InnerFound>> inner_;  // protected by mutex_
    std::atomic<bool> any_{false};
    std::atomic<bool> any_inner_{false};
};

// Hands the hit lines of a file still being searched to the sink when the file leads (every
// file before it told), so a file with any number of hits is held a few thousand lines at a
// time. A file that does not lead holds its lines; past kHeldLines its worker waits to lead,
// but for the stage's calling thread, which takes the results that make files lead: its lines
// wait on disk (HitLineSpill).
class HitFlow {
  public:
    static constexpr std::size_t kHeldLines = 64 * 1024;

    HitFlow(OrderedStage& stage, RunSink& sink, const std::vector<FileRecord*>& records)
        : stage_(stage), sink_(sink), records_(records), streamed_(records.size(), 0) {}

    // On the worker of file `index`: hands on its lines in `hits` when it may. False when the
    // stage ended meanwhile.
    bool Flush(std::size_t index, FileHits& hits);
    // Whether lines of file `index` went to the sink already (read after its count is taken).
    bool Streamed(std::size_t index) const { return streamed_[index] != 0; }

  private:
    OrderedStage& stage_;
    RunSink& sink_;
    const std::vector<FileRecord*>& records_;
    std::vector<char> streamed_;  // each written by its file's worker before its count
};

// Files taken in list order whose counts are final, each with its count.
using Ready = std::vector<std::pair<std::size_t, std::int32_t>>;

// Files whose results wait for others (rewrites switched in a batch at a time), on the thread
// that takes the results.
class Holding {
  public:
    virtual ~Holding() = default;
    // Gets each file in list order and adds to `ready`, in order, those whose counts are final.
    virtual void Take(std::size_t index, std::int32_t count, Ready& ready) = 0;
    // Adds the rest when the stage ends.
    virtual void Flush(Ready& ready) = 0;
    // Whether a file worked on after a stop ended the stage was changed for good (its count
    // then stands).
    virtual bool Stands(std::size_t index) = 0;
};

// Tells the sink what became of each file, in list order, and adds its count to the run's
// totals. `hits`, when given, holds each file's hit lines, and `previews` each file's preview.
class Delivery {
  public:
    // `hits` and `previews` hold the files from `first` on.
    Delivery(RunSink& sink, RunResult& result, const std::vector<FileRecord*>& records,
             ProblemBox& problems, std::vector<FileHits>* hits,
             std::vector<std::optional<FilePreview>>* previews, const HitFlow* flow = nullptr,
             std::size_t first = 0)
        : sink_(sink),
          result_(result),
          records_(records),
          problems_(problems),
          hits_(hits),
          previews_(previews),
          flow_(flow),
          first_(first) {}

    // The file's problems, and its count in its record and in the totals.
    void Count(std::size_t index, std::int32_t count);
    // Count, then the file's hit lines and preview when it has hits, then that it is done.
    void Deliver(std::size_t index, std::int32_t count);
    void Deliver(const Ready& ready);

  private:
    RunSink& sink_;
    RunResult& result_;
    const std::vector<FileRecord*>& records_;
    ProblemBox& problems_;
    std::vector<FileHits>* const hits_;
    std::vector<std::optional<FilePreview>>* const previews_;
    const HitFlow* const flow_;
    const std::size_t first_;
};

std::vector<FileRecord*> RecordsOf(FileRecords& files);

// Tells the sink what became of file `index` of `total` (0 while the walk still lists): first
// the files found inside it, each as a file of its own (kept in the run's inner_files when they
// have hits); then what went wrong, its hit lines (but those `streamed` on already) and preview
// when it has hits, then that it is done; adds its count to the run's totals.
void TellFileDone(const RunContext& run, std::size_t index, std::size_t total, FileRecord& record,
                  std::int32_t count, FileFound& found, bool streamed);

// The count of a file searched while the walk went on, with its hit lines and problems put in
// their places, or nothing.
using DoneEarly = std::function<std::optional<std::int32_t>(std::size_t index)>;

// Runs a stage's workers so that Pause and Stop reach them, and delivers each file's problems
// and count in list order. `hits`, when given, holds each file's hit lines, and `previews` each
// file's preview (both from the stage's first file on), each slot written before its count is
// taken. `done_early`, for a search: what
// was searched while the walk went on.
// `flow`, when given, handed on some of the files' lines while they were searched.
void RunContentStage(const RunContext& run, OrderedStage& stage, std::vector<FileRecord*>& records,
                     ProblemBox& problems, std::vector<FileHits>* hits, Holding* holding = nullptr,
                     std::vector<std::optional<FilePreview>>* previews = nullptr,
                     const DoneEarly& done_early = {}, const HitFlow* flow = nullptr);

}  // namespace ferret
