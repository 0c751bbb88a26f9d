#include "engine/run.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <map>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/change_finder.h"
#include "engine/content_replace.h"
#include "engine/content_search.h"
#include "engine/file_details.h"
#include "engine/file_finder.h"
#include "engine/hit_count.h"
#include "engine/office_files.h"
#include "engine/ordered_stage.h"
#include "engine/regex.h"
#include "engine/restore_point.h"
#include "engine/rewrite_batch.h"
#include "office/office_handlers.h"
#include "util/extension_list.h"
#include "util/file_handle.h"

namespace ferret {

void RunControl::Reset(bool use_regex) {
    stop_.store(false);
    pause_.store(false);
    use_regex_.store(use_regex);
    Changed();
}

void RunControl::Stop() {
    pause_.store(true);
    stop_.store(true);
    Changed();
}

bool RunControl::TogglePause() {
    bool paused;
    {
        std::lock_guard lock(mutex_);
        paused = !pause_.load();
        pause_.store(paused);
    }
    Changed();
    return paused;
}

bool RunControl::StopPause() {
    if (stop_.load()) {
        return true;
    }
    if (pause_.load()) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pause_.load() || stop_.load(); });
    }
    return stop_.load();
}

void RunControl::SetWake(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void RunControl::Changed() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
    if (wake_) {
        wake_();
    }
}

namespace {

// The error number of a file or a stage that failed with an exception, which is nearly always
// for want of memory: the number the pattern engine gives that.
constexpr int kOutOfMemory = kRegexErrorOutOfMemory;

// A pattern compiled once, when a file first needs it, with what lets most text go unmatched.
// Thread-safe.
class LazyPattern {
  public:
    LazyPattern(std::string text, bool ignore_case)
        : text_(std::move(text)), ignore_case_(ignore_case) {}

    // The compiled pattern, or nullptr when it cannot be used (`on_error` was told once).
    const RegExp* Get(const std::function<void(const Status&)>& on_error) {
        std::call_once(compiled_, [&] {
            shortcut_ = MakePatternShortcut(text_, ignore_case_);
            status_ = pattern_.Compile(text_, ignore_case_);
            if (!status_.ok()) {
                on_error(status_);
            }
        });
        return status_.ok() ? &pattern_ : nullptr;
    }
    // Valid after Get.
    const PatternShortcut* Shortcut() const { return shortcut_.get(); }

  private:
    const std::string text_;
    const bool ignore_case_;
    std::once_flag compiled_;
    RegExp pattern_;
    Status status_;
    std::unique_ptr<PatternShortcut> shortcut_;
};

std::vector<FileRecord*> RecordsOf(FileRecords& files) {
    std::vector<FileRecord*> records;
    records.reserve(static_cast<std::size_t>(files.Count()));
    for (FileRecord& file : files) {
        records.push_back(&file);
    }
    return records;
}

// The folder of the file a thread searched last, kept open: files are searched in list order,
// a folder's files one after another, so most are opened by name in an open folder instead of
// by a path looked up from the root every time.
class OpenFolder {
  public:
    // A descriptor of `record`'s folder, or AT_FDCWD when it cannot be opened.
    int For(const FileRecord& record) {
        const std::shared_ptr<const std::string>& root = record.SharedRootPath();
        if (root != root_) {
            root_ = root;
            fd_.Reset(root->empty() ? -1 : OpenPath(*root, O_PATH | O_DIRECTORY | O_CLOEXEC));
        }
        return fd_.get() >= 0 ? fd_.get() : AT_FDCWD;
    }
    // Lets the folder go (a thread that lives on must not keep it busy).
    void Close() {
        fd_.Reset();
        root_.reset();
    }

  private:
    std::shared_ptr<const std::string> root_;
    Fd fd_;
};
thread_local OpenFolder t_open_folder;

// The name to open in `folder` (from OpenFolder::For): the full path when no folder is open.
std::string NameIn(int folder, const FileRecord& record) {
    return folder == AT_FDCWD ? record.FullPath() : record.Filename();
}

DetailsSink DetailsFor(FileRecord& record) {
    if (!record.DetailsPending()) {
        return {};  // nothing to learn: the open file need not be asked
    }
    return [&record](std::uint64_t size, const timespec& created) {
        if (record.DetailsPending()) {
            record.SetRawDetails(size, created);
        }
    };
}

// The problems of the files being worked on, held until their files are taken in list order.
class ProblemBox {
  public:
    void Add(std::size_t index, RunProblem problem) {
        std::lock_guard lock(mutex_);
        held_.emplace(index, std::move(problem));
        any_.store(true, std::memory_order_release);
    }
    // Hands the problems of file `index`, the file at `path`, to the sink.
    void Deliver(std::size_t index, const FileRecord& file, RunSink& sink) {
        if (!any_.load(std::memory_order_acquire)) {
            return;
        }
        std::vector<RunProblem> found;
        {
            std::lock_guard lock(mutex_);
            const auto [first, last] = held_.equal_range(index);
            for (auto it = first; it != last; ++it) {
                found.push_back(std::move(it->second));
            }
            held_.erase(first, last);
            any_.store(!held_.empty(), std::memory_order_release);
        }
        for (RunProblem& problem : found) {
            if (problem.path.empty() && problem.kind != ProblemKind::kBadPattern) {
                problem.path = file.FullPath();
            }
            sink.Problem(problem);
        }
    }

  private:
    std::mutex mutex_;
    std::multimap<std::size_t, RunProblem> held_;  // protected by mutex_
    std::atomic<bool> any_{false};
};

// What searching or previewing one file found.
struct FileFound {
    std::vector<RunProblem> problems;
    FileHits hits;
    std::optional<FilePreview> preview;  // a preview's file that would change
};

// Searches (or previews) files while the walk is still listing them, in the order the walk finds
// them, on workers of its own, so the walk and the search overlap. The content stage then takes
// each file's count in list order, searching itself only what was not searched yet.
class EarlySearch {
  public:
    // Returns the count of a file, or nothing to leave the file to the content stage.
    using Search = std::function<std::optional<std::int32_t>(FileRecord&, FileFound&)>;

    EarlySearch(unsigned workers, Search search, RunControl& control)
        : search_(std::move(search)), control_(control) {
        for (unsigned i = 0; i < workers; ++i) {
            threads_.emplace_back([this] { Work(); });
        }
    }
    ~EarlySearch() { Finish(); }
    EarlySearch(const EarlySearch&) = delete;
    EarlySearch& operator=(const EarlySearch&) = delete;

    // From the walk's threads.
    void Listed(const std::vector<FileRecord*>& records) {
        std::lock_guard lock(mutex_);
        if (finished_) {
            return;
        }
        queue_.insert(queue_.end(), records.begin(), records.end());
        work_.notify_all();
    }
    // Ends the workers once their current files are done; what is still queued is left to the
    // content stage. Called when the walk ends, before any record it told of may be dropped.
    void Finish() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
            ending_.store(true, std::memory_order_relaxed);
            queue_.clear();
            work_.notify_all();
        }
        for (std::thread& thread : threads_) {
            thread.join();
        }
        threads_.clear();
    }
    // After Finish: the count found for `record`, and what else was found in `found`.
    std::optional<std::int32_t> Take(const FileRecord* record, FileFound& found) {
        const auto done = done_.find(record);
        if (done == done_.end()) {
            return std::nullopt;
        }
        found = std::move(done->second.found);
        return done->second.count;
    }

  private:
    struct Done {
        std::int32_t count = 0;
        FileFound found;
    };
    // Files are taken a few at a time: one hand-off per file would cost more than a small file.
    static constexpr std::size_t kTake = 16;

    void Work() {
        std::vector<FileRecord*> taken;
        std::vector<std::pair<const FileRecord*, Done>> results;
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [this] { return finished_ || !queue_.empty(); });
            if (finished_) {
                return;
            }
            const std::size_t count = std::min(kTake, queue_.size());
            taken.assign(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
            lock.unlock();
            results.clear();
            for (FileRecord* record : taken) {
                if (control_.StopPause()) {
                    break;  // waits while paused; a stopped run searches nothing more
                }
                if (ending_.load(std::memory_order_relaxed)) {
                    break;  // the content stage, waiting for this, does the rest itself
                }
                Done done;
                if (std::optional<std::int32_t> found = search_(*record, done.found)) {
                    done.count = *found;
                    results.emplace_back(record, std::move(done));
                }
            }
            lock.lock();
            for (auto& [record, done] : results) {
                done_.emplace(record, std::move(done));
            }
        }
    }

    const Search search_;
    RunControl& control_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::deque<FileRecord*> queue_;  // protected by mutex_
    bool finished_ = false;          // protected by mutex_
    std::atomic<bool> ending_{false};
    // Protected by mutex_ until Finish, then read by the content stage alone.
    std::unordered_map<const FileRecord*, Done> done_;
    std::vector<std::thread> threads_;
};

// A batch is switched in when it holds this many files or bytes, or has waited this long.
constexpr std::size_t kBatchFiles = 128;
constexpr std::uint64_t kBatchBytes = 32 << 20;
constexpr auto kBatchTime = std::chrono::milliseconds(300);

// Why a file could not be searched, as far as the last failed call says.
RunProblem NotSearched(const FileRecord& record) {
    const int error = errno;
    // Without an error the open file was not a regular file: something was put in its place.
    return {
        RunKind::kSearch, ProblemKind::kFile,
        Status::Error(error != 0 ? error : EINVAL,
                      record.FullPath() + ": the file cannot be read (" +
                          (error != 0 ? strerror(error) : "it is no longer a regular file") + ")")};
}

// Why a search gave `count` for `record`: the pattern failed on its text (`error`), or, when
// not searched, it could not be read (right after the failed call). A file gone is no loss.
void TellNotSearched(const FileRecord& record, std::int32_t count, const std::string& error,
                     std::vector<RunProblem>& problems) {
    if (!error.empty()) {
        problems.push_back(
            {RunKind::kSearch, ProblemKind::kFile,
             Status::Error(kRegexErrorTooComplex, record.FullPath() + ": " + error)});
    } else if (count == kNotSearched && errno != ENOENT) {
        problems.push_back(NotSearched(record));
    }
}

void DropPrepared(RewriteBatch::Item& item, RestorePoint* restore) {
    if (restore != nullptr) {
        restore->Drop(item.kept);
    }
}

// Lets the folder a thread kept open go when a content stage ends.
struct CloseOpenFolder {
    CloseOpenFolder() = default;
    CloseOpenFolder(const CloseOpenFolder&) = delete;
    CloseOpenFolder& operator=(const CloseOpenFolder&) = delete;
    ~CloseOpenFolder() { t_open_folder.Close(); }
};

// What a preview works with, made once before the walk.
struct PreviewTools {
    PreviewTools(const RunRequest& request, bool regex)
        : finder(request.fields.search_text, request.fields.replace_text, regex,
                 request.fields.ignore_case),
          kept_copies(request.restore_folder),
          start(request.fields.folder),
          office(request.office_extensions, request.office_setup) {}
    const ChangeFinder finder;
    const RestoreFolderGuard kept_copies;
    const StartFolder start;  // what it would rewrite lies beneath it
    OfficeFiles office;
    RealPaths real_paths;  // the names of the files it would change
};

// Previews one text file: its count, and in `found` its problems, hit lines and, when it
// would change, its preview. Nothing for an office document, or a pattern that cannot be
// used: the content stage takes those.
std::optional<std::int32_t> PreviewOne(const RunRequest& request, const RunControl& control,
                                       PreviewTools& tools, FileRecord& record, FileFound& found) {
    if (control.Stopped()) {
        return 0;
    }
    if (tools.office.Takes(record) || !tools.finder.status().ok()) {
        return std::nullopt;
    }
    if (!IsApprovedForReplace(record.Filename(), request.approved_extensions)) {
        return 0;  // not opened
    }
    const std::string path = record.FullPath();
    if (tools.kept_copies.Contains(path)) {
        return 0;  // the way back of earlier runs is never rewritten
    }
    const int folder = t_open_folder.For(record);
    const std::string name = NameIn(folder, record);
    // The walk leaves the details of the regular files it found to whoever opens them.
    const FilePlace place(path, folder, name, record.DetailsPending(), &tools.start);
    const auto problem = [&](const std::string& why) {
        found.problems.push_back({RunKind::kReplace, ProblemKind::kFile,
                                  Status::Error(kFileAccessError, path + ": " + why)});
        return kNotSearched;
    };
    try {
        RewritePlan plan;
        const RewriteResult result = PreparePreview(
            place, tools.finder, request.want_details ? DetailsFor(record) : DetailsSink(),
            request.hit_lines ? &found.hits : nullptr, request.hit_lines.value_or(0), plan,
            request.preview_changes);
        if (result.count == kNotSearched) {
            return problem(result.error);
        }
        if (result.rewritten) {
            // A file reached by two names is told once, by the first in list order (see
            // RewriteHolding): a file previewed while the walk went on may belong to a
            // visit of its folder that the walk drops for another.
            std::string target = tools.real_paths.Of(place, result.name_is_link);
            if (target.empty()) {
                return problem(kChangedMeanwhile);
            }
            if (!tools.start.Inside(target)) {
                return problem(tools.start.OutsideText());
            }
            found.preview = FilePreview{std::move(plan), false, std::move(target)};
        }
        return result.count;
    } catch (const std::exception& error) {
        return problem(error.what());
    }
}

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
    Delivery(RunSink& sink, RunResult& result, const std::vector<FileRecord*>& records,
             ProblemBox& problems, std::vector<FileHits>* hits,
             std::vector<std::optional<FilePreview>>* previews)
        : sink_(sink),
          result_(result),
          records_(records),
          problems_(problems),
          hits_(hits),
          previews_(previews) {}

    // The file's problems, and its count in its record and in the totals.
    void Count(std::size_t index, std::int32_t count) {
        problems_.Deliver(index, *records_[index], sink_);
        if (count >= 1) {
            result_.files_with_hits = SaturatedAdd(result_.files_with_hits, 1);
            result_.strings_found = SaturatedAdd(result_.strings_found, count);
        }
        records_[index]->SetItemsFound(count);
    }
    // Count, then the file's hit lines and preview when it has hits, then that it is done.
    void Deliver(std::size_t index, std::int32_t count) {
        Count(index, count);
        if (hits_ != nullptr) {
            FileHits lines = std::move((*hits_)[index]);
            (*hits_)[index] = {};
            if (count >= 1) {
                sink_.HitLines(index, *records_[index], std::move(lines));
            }
        }
        if (previews_ != nullptr && (*previews_)[index]) {
            FilePreview preview = std::move(*(*previews_)[index]);
            (*previews_)[index].reset();
            if (count >= 1) {
                sink_.Previewed(index, *records_[index], std::move(preview));
            }
        }
        sink_.FileDone(index, records_.size(), count);
    }
    void Deliver(const Ready& ready) {
        for (const auto& [index, count] : ready) {
            Deliver(index, count);
        }
    }

  private:
    RunSink& sink_;
    RunResult& result_;
    const std::vector<FileRecord*>& records_;
    ProblemBox& problems_;
    std::vector<FileHits>* const hits_;
    std::vector<std::optional<FilePreview>>* const previews_;
};

// What the files of a replace stage are worked on with, made once for the stage. `regex`: the
// pattern switch when the stage starts, for a run of chosen changes.
struct ReplaceTools {
    ReplaceTools(const RunRequest& request, bool regex)
        : ignore_case(request.fields.ignore_case),
          replacement(ConvertSpecialChars(request.fields.replace_text)),
          text(ConvertSpecialChars(request.fields.search_text)),
          kept_copies(request.restore_folder),
          start(request.fields.folder),
          as_pattern(SearchPattern(request.fields.search_text, true), ignore_case),
          as_plain(SearchPattern(request.fields.search_text, false), ignore_case),
          office(request.office_extensions, request.office_setup) {
        if (request.kind == RunKind::kChosenChanges) {
            finder.emplace(request.fields.search_text, request.fields.replace_text, regex,
                           ignore_case);
        }
    }

    const bool ignore_case;
    const std::string replacement;
    const std::string text;
    const RestoreFolderGuard kept_copies;
    // Every file rewritten lies beneath the folder the run was sent to.
    const StartFolder start;
    // Plain texts are replaced as patterns too, escaped first.
    LazyPattern as_pattern;
    LazyPattern as_plain;
    OfficeFiles office;
    // A run of chosen changes finds a file's changes again as its preview did.
    std::optional<ChangeFinder> finder;
};

// What the workers of a replace stage leave for the thread that takes the results: each file's
// slots are written by the worker on it before its count is taken.
struct ReplaceSlots {
    ReplaceSlots(std::size_t files, bool hit_lines, bool preview)
        : prepared(files),
          hits(hit_lines ? files : 0),
          previews(preview ? files : 0),
          from_handler(files, 0) {}

    // Holds a file's problem, when `status` is one, until the file is taken.
    void Problem(std::size_t index, Status status) {
        if (!status.ok()) {
            problems.Add(index, {RunKind::kReplace, ProblemKind::kFile, std::move(status)});
        }
    }
    FileHits* HitsOf(std::size_t index) { return hits.empty() ? nullptr : &hits[index]; }
    // Gives up the rewrites worked out and never taken into a batch: their files stay as they
    // are.
    void DropAll(RestorePoint* restore) {
        for (std::unique_ptr<RewriteBatch::Item>& item : prepared) {
            if (item) {
                DropPrepared(*item, restore);
            }
        }
    }

    ProblemBox problems;
    std::vector<std::unique_ptr<RewriteBatch::Item>> prepared;
    std::vector<FileHits> hits;
    std::vector<std::optional<FilePreview>> previews;
    // Documents the office handlers changed: their bytes are not text to keep as the last
    // rewrite.
    std::vector<char> from_handler;
};

// Works out, on a worker thread, what a replace stage does to one file: a text rewrite, a
// rewrite of the changes chosen from a preview, a preview, or an office document's rewrite by
// its handler. A rewrite worked out is held in its slot until its batch is switched in.
class ReplaceWorker {
  public:
    // `preview` and `early` for a preview: what it works with, and the files it previewed while
    // the walk went on.
    ReplaceWorker(const RunRequest& request, const RunControl& control,
                  const std::vector<FileRecord*>& records, ReplaceTools& tools, ReplaceSlots& slots,
                  RestorePoint* restore, PreviewTools* preview, EarlySearch* early)
        : request_(request),
          control_(control),
          records_(records),
          tools_(tools),
          slots_(slots),
          restore_(restore),
          preview_(preview),
          early_(early) {}

    std::int32_t Process(std::size_t index) {
        FileRecord& record = *records_[index];
        if (preview_ != nullptr) {
            if (const std::optional<std::int32_t> count = PreviewText(index, record)) {
                return *count;
            }
        }
        if (control_.Stopped() || tools_.kept_copies.Contains(record.FullPath())) {
            return 0;  // the way back of earlier runs is never rewritten
        }
        // Office documents go to their handlers whatever the approved list says.
        if (tools_.office.Takes(record)) {
            return Office(index, record);
        }
        // A preview writes nothing: a text file it could not work out is told, never rewritten.
        if (preview_ != nullptr) {
            slots_.Problem(index, Status::Error(kFileAccessError,
                                                record.FullPath() + ": " +
                                                    preview_->finder.status().description()));
            return kNotSearched;
        }
        return Text(index, record);
    }

  private:
    // A text file, previewed while the walk went on or now; nothing for a file the preview left
    // to the rest of the stage.
    std::optional<std::int32_t> PreviewText(std::size_t index, FileRecord& record) {
        FileFound found;
        std::optional<std::int32_t> count =
            early_ != nullptr ? early_->Take(&record, found) : std::nullopt;
        if (!count) {
            count = PreviewOne(request_, control_, *preview_, record, found);
        }
        if (count) {
            for (RunProblem& problem : found.problems) {
                slots_.problems.Add(index, std::move(problem));
            }
            if (!slots_.hits.empty()) {
                slots_.hits[index] = std::move(found.hits);
            }
            slots_.previews[index] = std::move(found.preview);
        }
        return count;
    }

    std::int32_t Office(std::size_t index, FileRecord& record) {
        // The same rules as for a text file, before the document reaches its handler: one that
        // may not be rewritten is only searched, and told when it has hits.
        std::string why = WhyNotRewritable(record.FullPath());
        if (why.empty() && tools_.start.LeadsOut(record.FullPath())) {
            why = tools_.start.OutsideText();
        }
        try {
            if (!why.empty()) {
                return OfficeSearchOnly(index, record, why);
            }
            return preview_ != nullptr ? OfficePreview(index, record)
                                       : OfficeRewrite(index, record);
        } catch (const std::exception& failure) {
            slots_.Problem(index,
                           Status::Error(kOutOfMemory, record.FullPath() + ": " + failure.what()));
            return kNotSearched;
        }
    }

    std::int32_t OfficeSearchOnly(std::size_t index, FileRecord& record, const std::string& why) {
        Status error;
        const std::int32_t found =
            tools_.office.Search(record, tools_.text, tools_.ignore_case, error);
        slots_.Problem(index, std::move(error));
        if (found > 0) {
            slots_.Problem(index, Status::Error(kFileAccessError, record.FullPath() + ": " + why));
            return kNotSearched;
        }
        return found;
    }

    std::int32_t OfficePreview(std::size_t index, FileRecord& record) {
        Status error;
        const std::int32_t found = tools_.office.Search(record, tools_.text, tools_.ignore_case,
                                                        error, slots_.HitsOf(index));
        slots_.Problem(index, std::move(error));
        if (found > 0) {
            FilePreview shown;
            shown.office = true;
            shown.plan.digest = FileDigest(record.FullPath());
            shown.target = preview_->real_paths.Of(record.FullPath());
            if (shown.target.empty()) {
                shown.target = record.FullPath();
            }
            slots_.previews[index] = std::move(shown);
        }
        return found;
    }

    std::int32_t OfficeRewrite(std::size_t index, FileRecord& record) {
        auto item = std::make_unique<RewriteBatch::Item>();
        std::string original;
        bool rewritten = false;
        Status error;
        std::optional<std::uint64_t> digest;
        if (const ChosenChange* chosen = ChosenFor(index)) {
            digest = chosen->digest;
        }
        const std::int32_t count = tools_.office.PrepareReplace(
            record, tools_.text, tools_.replacement, tools_.ignore_case, item->rewrite, original,
            rewritten, error, slots_.HitsOf(index), digest, &tools_.start);
        slots_.Problem(index, std::move(error));
        if (!rewritten) {
            return count;
        }
        slots_.from_handler[index] = 1;
        return Hold(index, std::move(item), original, count);
    }

    // A text file: every match replaced, or the changes chosen from a preview made again.
    std::int32_t Text(std::size_t index, FileRecord& record) {
        if (!IsApprovedForReplace(record.Filename(), request_.approved_extensions)) {
            return 0;  // not opened
        }
        const std::string path = record.FullPath();
        const int folder = t_open_folder.For(record);
        const std::string name = NameIn(folder, record);
        const FilePlace place(path, folder, name, false, &tools_.start);
        try {
            LazyPattern& lazy = control_.UseRegex() ? tools_.as_pattern : tools_.as_plain;
            const RegExp* compiled = lazy.Get([&](const Status& status) {
                slots_.problems.Add(index, {RunKind::kReplace, ProblemKind::kBadPattern, status});
            });
            if (compiled == nullptr) {
                return kNotSearched;
            }
            auto item = std::make_unique<RewriteBatch::Item>();
            std::string_view original;
            const ChosenChange* chosen = ChosenFor(index);
            const RewriteResult result =
                chosen != nullptr ? RewriteChosen(index, place, *chosen, *item, original)
                                  : RewriteText(index, place, *compiled, lazy, *item, original);
            if (result.count == kNotSearched) {
                slots_.Problem(index, Status::Error(kFileAccessError, path + ": " + result.error));
                return kNotSearched;
            }
            if (!result.rewritten) {
                return result.count;
            }
            return Hold(index, std::move(item), original, result.count);
        } catch (const std::exception& error) {
            slots_.Problem(index, Status::Error(kOutOfMemory, path + ": " + error.what()));
            return kNotSearched;
        }
    }

    RewriteResult RewriteText(std::size_t index, const FilePlace& place, const RegExp& pattern,
                              const LazyPattern& lazy, RewriteBatch::Item& item,
                              std::string_view& original) {
        return PrepareRewrite(place, pattern, tools_.replacement, lazy.Shortcut(),
                              DetailsOf(*records_[index]), item.rewrite, original,
                              slots_.HitsOf(index), request_.hit_lines.value_or(0));
    }

    RewriteResult RewriteChosen(std::size_t index, const FilePlace& place,
                                const ChosenChange& chosen, RewriteBatch::Item& item,
                                std::string_view& original) {
        return PrepareChosenRewrite(place, chosen.digest, chosen.seen,
                                    chosen.all ? nullptr : &chosen.edits, *tools_.finder,
                                    DetailsOf(*records_[index]), item.rewrite, original,
                                    slots_.HitsOf(index), request_.hit_lines.value_or(0));
    }

    // Keeps the original of a worked-out rewrite and holds it for the next batch.
    std::int32_t Hold(std::size_t index, std::unique_ptr<RewriteBatch::Item> item,
                      std::string_view original, std::int32_t count) {
        {
            // A file reached again by another name (a link) is rewritten once.
            std::lock_guard lock(targets_mutex_);
            if (!targets_.insert(item->rewrite.target).second) {
                return 0;
            }
        }
        if (restore_ != nullptr) {
            if (const Status kept = restore_->KeepOriginal(item->rewrite, original, item->kept);
                !kept.ok()) {
                const std::string why = kept.number() == EAGAIN
                                            ? kept.description()
                                            : "no restore copy could be kept, so the file was "
                                              "left as it is: " +
                                                  kept.description();
                slots_.Problem(index, Status::Error(kFileAccessError,
                                                    records_[index]->FullPath() + ": " + why));
                return kNotSearched;
            }
        }
        item->index = index;
        item->count = count;
        slots_.prepared[index] = std::move(item);
        return count;
    }

    const ChosenChange* ChosenFor(std::size_t index) const {
        return request_.kind == RunKind::kChosenChanges ? &(*request_.chosen)[index] : nullptr;
    }
    // Only the list and the tree show sizes and dates.
    DetailsSink DetailsOf(FileRecord& record) const {
        return request_.want_details ? DetailsFor(record) : DetailsSink();
    }

    const RunRequest& request_;
    const RunControl& control_;
    const std::vector<FileRecord*>& records_;
    ReplaceTools& tools_;
    ReplaceSlots& slots_;
    RestorePoint* const restore_;
    PreviewTools* const preview_;
    EarlySearch* const early_;
    std::mutex targets_mutex_;
    std::unordered_set<std::string> targets_;  // protected by targets_mutex_
};

// The taking side of a replace stage: rewrites are switched in a batch at a time, so the files
// a batch holds wait for it and, to keep the list order, so do the files after them.
class RewriteHolding final : public Holding {
  public:
    RewriteHolding(const std::vector<FileRecord*>& records, ReplaceSlots& slots,
                   RestorePoint* restore, std::function<void(const SwitchMoment&)> before_switch)
        : records_(records),
          slots_(slots),
          restore_(restore),
          batch_(restore, std::move(before_switch)),
          counts_after_(records.size(), 0) {}

    void Take(std::size_t index, std::int32_t count, Ready& ready) override {
        if (!slots_.previews.empty() && slots_.previews[index] &&
            !told_.insert(slots_.previews[index]->target).second) {
            // Reached again by another name (a link): told once, as it is rewritten once.
            slots_.previews[index].reset();
            count = 0;
        }
        counts_after_[index] = count;
        if (slots_.prepared[index]) {
            if (batch_.size() == 0) {
                first_held_ = std::chrono::steady_clock::now();
            }
            batch_.Add(std::move(slots_.prepared[index]));
        }
        if (batch_.size() == 0) {
            ready.emplace_back(index, count);
            return;
        }
        waiting_.push_back(index);
        if (batch_.size() >= kBatchFiles || batch_.bytes() >= kBatchBytes ||
            std::chrono::steady_clock::now() - first_held_ >= kBatchTime) {
            Commit(ready);
        }
    }
    void Flush(Ready& ready) override { Commit(ready); }
    bool Stands(std::size_t index) override {
        if (slots_.prepared[index]) {  // worked out, never switched in: the file is as it was
            DropPrepared(*slots_.prepared[index], restore_);
            slots_.prepared[index].reset();
            return false;
        }
        return true;
    }

    // After the stage: the switched names flushed to disk, and the last text rewritten kept.
    void Finish(RunSink& sink) {
        if (const Status flushed = batch_.Finish(); !flushed.ok()) {
            sink.Problem({RunKind::kReplace, ProblemKind::kFile, flushed});
        }
        if (last_content_) {
            if (Status kept = KeepLastRewrite(*last_content_); !kept.ok()) {
                sink.Problem({RunKind::kReplace, ProblemKind::kFile, kept});
            }
        }
    }

  private:
    void Commit(Ready& ready) {
        for (RewriteBatch::Outcome& outcome : batch_.Commit()) {
            Settle(outcome);
        }
        for (const std::size_t index : waiting_) {
            ready.emplace_back(index, counts_after_[index]);
        }
        waiting_.clear();
    }

    void Settle(RewriteBatch::Outcome& outcome) {
        const std::size_t index = outcome.index;
        counts_after_[index] = outcome.count;
        if (outcome.count == kNotSearched) {
            slots_.Problem(index, Status::Error(kFileAccessError, records_[index]->FullPath() +
                                                                      ": " + outcome.error));
        } else if (outcome.rewritten) {
            if (slots_.from_handler[index] == 0) {
                last_content_ = std::move(outcome.new_content);
            }
            if (outcome.names > 1) {
                // The new file takes this name only: hard links cannot be kept in step.
                slots_.problems.Add(
                    index, {RunKind::kReplace, ProblemKind::kNotice,
                            Status::Error(EMLINK, records_[index]->FullPath() + ": it has " +
                                                      std::to_string(outcome.names) +
                                                      " names; this one was rewritten, the "
                                                      "others keep the old text")});
            }
        }
    }

    const std::vector<FileRecord*>& records_;
    ReplaceSlots& slots_;
    RestorePoint* const restore_;
    RewriteBatch batch_;
    std::vector<std::size_t> waiting_;
    std::chrono::steady_clock::time_point first_held_ = std::chrono::steady_clock::now();
    std::vector<std::int32_t> counts_after_;
    // The last file rewritten, which may have been left empty.
    std::optional<std::string> last_content_;
    // The files a preview told of, by their real paths.
    std::unordered_set<std::string> told_;
};

class Run {
  public:
    Run(const RunRequest& request, RunSink& sink, RunControl& control)
        : request_(request), fields_(request.fields), sink_(sink), control_(control) {}

    RunResult Execute() {
        std::unique_ptr<RestorePoint> restore;
        const bool rewrites = Replaces(request_.kind) && !fields_.search_text.empty() &&
                              !fields_.replace_text.empty();
        const bool searches = request_.kind == RunKind::kSearch && !fields_.search_text.empty();
        if ((rewrites || searches) && PatternRefused()) {
            return std::move(result_);
        }
        // Nothing is rewritten without a way back: no restore point, no run. A preview writes
        // nothing.
        const bool writes = rewrites && request_.kind != RunKind::kPreview;
        if (writes && !request_.restore_folder.empty()) {
            result_.leftovers_removed = RemoveLeftovers(request_.restore_folder);
        }
        if (writes && request_.restore_quantity != 0) {
            const Status made = RestorePoint::Create(request_.restore_folder, fields_.search_text,
                                                     fields_.replace_text, fields_.folder, restore);
            if (!made.ok()) {
                sink_.Problem({RunKind::kReplace, ProblemKind::kNoRestorePoint, made});
                result_.replace_refused = true;
                return std::move(result_);
            }
        }
        if (request_.kind == RunKind::kSearch && !fields_.search_text.empty()) {
            // The search starts while the walk still lists files.
            SearchTools tools(request_, fields_.search_text);
            EarlySearch early(
                std::max(1u, Workers() - 1),
                [&](FileRecord& record, FileFound& found) {
                    return SearchOne(tools, record, found.problems, found.hits, true);
                },
                control_);
            result_.files = BuildFileList(&early);
            Guarded(RunKind::kSearch, [&] { SearchInFileList(*result_.files, tools, early); });
        } else if (rewrites && request_.kind == RunKind::kPreview) {
            // A preview writes nothing: it too starts while the walk still lists files.
            PreviewTools tools(request_, control_.UseRegex());
            EarlySearch early(
                std::max(1u, Workers() - 1),
                [&](FileRecord& record, FileFound& found) {
                    return PreviewOne(request_, control_, tools, record, found);
                },
                control_);
            result_.files = BuildFileList(&early);
            Guarded(RunKind::kReplace,
                    [&] { ReplaceInFileList(*result_.files, nullptr, &tools, &early); });
        } else if (rewrites) {
            result_.files = request_.kind == RunKind::kChosenChanges ? ChosenFileList()
                                                                     : BuildFileList(nullptr);
            Guarded(RunKind::kReplace, [&] { ReplaceInFileList(*result_.files, restore.get()); });
            if (restore) {
                if (restore->Finish()) {
                    result_.restore_point = restore->Folder();
                }
                restore.reset();
                PruneRestorePoints(request_.restore_folder, request_.restore_quantity);
            }
        } else {
            result_.files = BuildFileList(nullptr);
            return std::move(result_);
        }
        result_.content_stage = true;
        sink_.Totals(result_.strings_found, result_.files_with_hits);
        return std::move(result_);
    }

  private:
    // A pattern that cannot be used would find nothing in any file: the run is refused before
    // the walk instead of reporting no hits as if it had searched.
    bool PatternRefused() {
        if (!control_.UseRegex()) {
            return false;
        }
        RegExp pattern;
        Status compiled =
            pattern.Compile(SearchPattern(fields_.search_text, true), fields_.ignore_case);
        if (compiled.ok()) {
            return false;
        }
        sink_.Problem({Replaces(request_.kind) ? RunKind::kReplace : RunKind::kSearch,
                       ProblemKind::kBadPattern, std::move(compiled)});
        result_.pattern_refused = true;
        return true;
    }

    // A stage that fails as a whole (out of memory, no thread) is told as a problem; the run
    // still reports what it has.
    template <typename Stage>
    void Guarded(RunKind where, Stage stage) {
        try {
            stage();
        } catch (const std::exception& error) {
            sink_.Problem({where, ProblemKind::kFile, Status::Error(kOutOfMemory, error.what())});
        }
    }

    unsigned Workers() const {
        return request_.workers != 0 ? request_.workers
                                     : std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    }

    // The size and date filters of the search fields.
    void SetFilters(FileFinder& finder) const {
        switch (fields_.size_option) {
            case SearchFields::kSizeSmall:
                finder.SetGreaterThanSize(false);
                finder.SetFileSizeLimit(102400);
                break;
            case SearchFields::kSizeMedium:
                finder.SetGreaterThanSize(false);
                finder.SetFileSizeLimit(1024000);
                break;
            case SearchFields::kSizeLarge:
                finder.SetGreaterThanSize(true);
                finder.SetFileSizeLimit(1024000);
                break;
            case SearchFields::kSizeSpecified:
                finder.SetGreaterThanSize(fields_.size_at_least);
                finder.SetFileSizeLimit(request_.size_kb * 1024);
                break;
            default:
                break;
        }
        switch (fields_.date_option) {
            case SearchFields::kDateLastWeek:
                finder.SetDateType(kDateWithinWeek);
                break;
            case SearchFields::kDateLastMonth:
                finder.SetDateType(kDateWithinMonth);
                break;
            case SearchFields::kDateLastYear:
                finder.SetDateType(kDateWithinYear);
                break;
            case SearchFields::kDateSpecified:
                finder.SetDateType(kDateBetween);
                finder.SetDateFrom(fields_.date_from);
                finder.SetDateTo(fields_.date_to);
                if (fields_.date_kind >= 0 && fields_.date_kind <= 2) {
                    finder.SetFileDateType(fields_.date_kind);
                }
                break;
            default:
                break;
        }
    }

    std::shared_ptr<FileRecords> BuildFileList(EarlySearch* early) {
        sink_.Listing();
        FileFinder finder;
        SetFilters(finder);
        finder.SetFilterMask(fields_.file_mask);
        finder.SetSearchType(fields_.include_listed ? 1 : 0);
        finder.SetRecursive(fields_.recursive);
        finder.SetStartDirectory(fields_.folder);
        finder.SetControl({&control_.StopFlag(), &control_.PauseFlag()});
        // The restore folder holds the way back of earlier runs: never listed, never rewritten.
        struct stat kept {};
        if (!request_.restore_folder.empty() && stat(request_.restore_folder.c_str(), &kept) == 0 &&
            S_ISDIR(kept.st_mode)) {
            finder.SetExcludedFolder(FolderId{kept.st_dev, kept.st_ino});
        }
        WalkWatcher watcher;
        if (early != nullptr) {
            watcher.listed = [early](const std::vector<FileRecord*>& records) {
                early->Listed(records);
            };
            watcher.ending = [early] { early->Finish(); };
        }
        std::mutex not_listed_mutex;
        // Protected by not_listed_mutex.
        std::vector<std::pair<std::string, std::string>> not_listed;
        watcher.not_listed = [&](const std::string& path, const std::string& reason) {
            std::lock_guard lock(not_listed_mutex);
            not_listed.emplace_back(path, reason);
        };
        // A run that rewrites files follows no link another user could have planted.
        finder.SetOwnLinksOnly(Replaces(request_.kind));
        finder.SetWatcher(std::move(watcher));
        finder.PerformSearch();
        std::sort(not_listed.begin(), not_listed.end());
        for (const auto& [path, reason] : not_listed) {
            sink_.Problem({RunKind::kList, ProblemKind::kFile,
                           Status::Error(EPERM, path + ": " + reason), path});
        }
        sink_.Listed({finder.Searched(), finder.Matched(), finder.SearchTime()});
        return std::shared_ptr<FileRecords>(finder.TakeFiles());
    }

    // The files of the changes chosen from a preview, in their order.
    std::shared_ptr<FileRecords> ChosenFileList() {
        sink_.Listing();
        auto files = std::make_shared<FileRecords>();
        // A list that never came chooses nothing.
        static const std::vector<ChosenChange> kNone;
        for (const ChosenChange& change : request_.chosen ? *request_.chosen : kNone) {
            const std::size_t slash = change.path.rfind('/');
            const std::string folder =
                slash == std::string::npos ? std::string() : change.path.substr(0, slash);
            files->Add(change.path.substr(slash == std::string::npos ? 0 : slash + 1),
                       folder.empty() && slash == 0 ? "/" : folder, std::string(), 0);
        }
        const auto count = static_cast<std::int32_t>(files->Count());
        sink_.Listed({count, count, "000.000"});
        return files;
    }

    // Runs a stage's workers so that Pause and Stop reach them, and delivers each file's
    // problems and count in list order. `hits`, when given, holds each file's hit lines, and
    // `previews` each file's preview, each slot written before its count is taken.
    // `done_early`, for a search: the count of a file searched while the walk went on, with its
    // hit lines and problems put in their places, or nothing.
    void RunKind(OrderedStage& stage, std::vector<FileRecord*>& records, ProblemBox& problems,
                 std::vector<FileHits>* hits, Holding* holding = nullptr,
                 std::vector<std::optional<FilePreview>>* previews = nullptr,
                 const std::function<std::optional<std::int32_t>(std::size_t)>& done_early = {}) {
        stage.workers = Workers();
        stage.may_start = [this] { return !control_.Paused() || control_.Stopped(); };
        Delivery delivery(sink_, result_, records, problems, hits, previews);
        Ready ready;
        stage.take = [&](std::size_t index, std::int32_t count) {
            if (holding == nullptr) {
                delivery.Deliver(index, count);
            } else {
                ready.clear();
                holding->Take(index, count, ready);
                delivery.Deliver(ready);
            }
            return !control_.StopPause();
        };
        stage.take_after_end = AfterEnd(delivery, holding, done_early);
        RunWoken(stage, records.size());
        if (holding != nullptr) {
            ready.clear();
            holding->Flush(ready);
            delivery.Deliver(ready);
        }
    }

    // What becomes of the files not taken when a stop ended a stage. Files rewritten after a stop
    // was asked for are rewritten: their counts stand. Files searched by then were searched, by
    // the stage or while the walk went on (`done_early`): they are told as any other, with their
    // hit lines. A worker still on a large file holds back the results taken in order, not the
    // work.
    std::function<void(std::size_t, std::optional<std::int32_t>)> AfterEnd(
        Delivery& delivery, Holding* holding,
        const std::function<std::optional<std::int32_t>(std::size_t)>& done_early) const {
        if (Replaces(request_.kind)) {
            return [&delivery, holding](std::size_t index, std::optional<std::int32_t> count) {
                if (count && (holding == nullptr || holding->Stands(index))) {
                    delivery.Count(index, *count);
                }
            };
        }
        return [&delivery, &done_early](std::size_t index, std::optional<std::int32_t> count) {
            if (!count && done_early) {
                count = done_early(index);
            }
            if (count) {
                delivery.Deliver(index, *count);
            }
        };
    }

    // Runs the stage with Stop and Pause waking its held-back workers.
    void RunWoken(OrderedStage& stage, std::size_t total) {
        control_.SetWake([&stage] { stage.Wake(); });
        try {
            stage.Run(total);
        } catch (...) {
            control_.SetWake({});
            throw;
        }
        control_.SetWake({});
    }

    // What a search run searches with, made once before the walk.
    struct SearchTools {
        SearchTools(const RunRequest& request, const std::string& search_text)
            : ignore_case(request.fields.ignore_case),
              text(ConvertSpecialChars(search_text)),
              matcher(text, ignore_case),
              pattern(SearchPattern(search_text, true), ignore_case),
              office(request.office_extensions, request.office_setup) {}
        const bool ignore_case;
        const std::string text;
        const PlainMatcher matcher;
        LazyPattern pattern;
        OfficeFiles office;
    };

    // Searches one file; nothing when it is an office document and `early` (those go to
    // LibreOffice in list order).
    std::optional<std::int32_t> SearchOne(SearchTools& tools, FileRecord& record,
                                          std::vector<RunProblem>& problems, FileHits& hits,
                                          bool early) {
        const std::atomic<bool>& stop = control_.StopFlag();
        if (stop.load()) {
            return 0;
        }
        try {
            if (tools.office.Takes(record)) {
                if (early) {
                    return std::nullopt;
                }
                Status error;
                const std::int32_t count =
                    tools.office.Search(record, tools.text, tools.ignore_case, error,
                                        request_.hit_lines ? &hits : nullptr);
                if (!error.ok()) {
                    problems.push_back({RunKind::kSearch, ProblemKind::kFile, error});
                }
                return count;
            }
            const int folder = t_open_folder.For(record);
            const std::string name = NameIn(folder, record);
            if (request_.hit_lines) {
                return SearchHitLines(tools, record, folder, name, problems, hits);
            }
            if (!control_.UseRegex()) {
                errno = 0;
                const std::int32_t count =
                    request_.want_details
                        ? SearchFileText(folder, name, tools.matcher, stop, DetailsFor(record))
                        : SearchFileText(folder, name, tools.matcher, stop, {},
                                         record.DetailsPending());
                if (count == kNotSearched && errno != ENOENT) {  // gone is no loss
                    problems.push_back(NotSearched(record));
                }
                return count;
            }
            const RegExp* compiled = tools.pattern.Get([&](const Status& status) {
                problems.push_back({RunKind::kSearch, ProblemKind::kBadPattern, status});
            });
            if (compiled == nullptr) {
                return kNotSearched;
            }
            std::string error;
            errno = 0;
            const std::int32_t count = SearchFilePattern(
                folder, name, *compiled, tools.pattern.Shortcut(), DetailsFor(record), &error);
            TellNotSearched(record, count, error, problems);
            return count;
        } catch (const std::exception& failure) {
            // Out of memory for this file: the run goes on.
            problems.push_back({RunKind::kSearch, ProblemKind::kFile,
                                Status::Error(ENOMEM, record.FullPath() + ": " + failure.what())});
            return kNotSearched;
        }
    }

    // SearchOne for a run that lists hit lines.
    std::int32_t SearchHitLines(SearchTools& tools, FileRecord& record, int folder,
                                const std::string& name, std::vector<RunProblem>& problems,
                                FileHits& hits) {
        const RegExp* compiled = nullptr;
        if (control_.UseRegex()) {
            compiled = tools.pattern.Get([&](const Status& status) {
                problems.push_back({RunKind::kSearch, ProblemKind::kBadPattern, status});
            });
            if (compiled == nullptr) {
                return kNotSearched;
            }
        }
        std::string error;
        errno = 0;
        const std::int32_t count = SearchFileHitLines(
            folder, name, tools.matcher, compiled, compiled ? tools.pattern.Shortcut() : nullptr,
            *request_.hit_lines, request_.want_details ? DetailsFor(record) : DetailsSink(), hits,
            &error, !request_.want_details && record.DetailsPending());
        TellNotSearched(record, count, error, problems);
        return count;
    }

    void SearchInFileList(FileRecords& files, SearchTools& tools, EarlySearch& early) {
        const CloseOpenFolder close_folder;
        std::vector<FileRecord*> records = RecordsOf(files);
        sink_.ContentStage(RunKind::kSearch, records.size());
        ProblemBox problems;
        std::vector<FileHits> hits(request_.hit_lines ? records.size() : 0);
        OrderedStage stage;
        // Puts what was found of file `index` in its places.
        const auto keep = [&](std::size_t index, FileFound& found) {
            if (!hits.empty()) {
                hits[index] = std::move(found.hits);
            }
            for (RunProblem& problem : found.problems) {
                problems.Add(index, std::move(problem));
            }
        };
        const auto done_early = [&](std::size_t index) {
            FileFound found;
            std::optional<std::int32_t> count = early.Take(records[index], found);
            if (count) {
                keep(index, found);
            }
            return count;
        };
        stage.process = [&](std::size_t index) -> std::int32_t {
            if (std::optional<std::int32_t> count = done_early(index)) {
                return *count;
            }
            FileFound found;
            const std::optional<std::int32_t> count =
                SearchOne(tools, *records[index], found.problems, found.hits, false);
            keep(index, found);
            return count.value_or(kNotSearched);
        };
        RunKind(stage, records, problems, hits.empty() ? nullptr : &hits, nullptr, nullptr,
                done_early);
    }

    // `preview` and `early` for a preview: what it works with, and the files it previewed while
    // the walk went on.
    void ReplaceInFileList(FileRecords& files, RestorePoint* restore,
                           PreviewTools* preview = nullptr, EarlySearch* early = nullptr) {
        const CloseOpenFolder close_folder;
        std::vector<FileRecord*> records = RecordsOf(files);
        sink_.ContentStage(request_.kind, records.size());
        ReplaceTools tools(request_, control_.UseRegex());
        ReplaceSlots slots(records.size(), request_.hit_lines.has_value(), preview != nullptr);
        ReplaceWorker worker(request_, control_, records, tools, slots, restore, preview, early);
        OrderedStage stage;
        stage.process = [&worker](std::size_t index) { return worker.Process(index); };
        RewriteHolding holding(records, slots, restore, request_.before_switch);
        try {
            RunKind(stage, records, slots.problems, slots.hits.empty() ? nullptr : &slots.hits,
                    &holding, slots.previews.empty() ? nullptr : &slots.previews);
        } catch (...) {
            slots.DropAll(restore);
            throw;
        }
        holding.Finish(sink_);
    }

    const RunRequest& request_;
    const SearchFields& fields_;
    RunSink& sink_;
    RunControl& control_;
    RunResult result_;
};

}  // namespace

RunResult ExecuteRun(const RunRequest& request, RunSink& sink, RunControl& control) {
    RunResult result = Run(request, sink, control).Execute();
    result.stopped = control.Stopped();
    return result;
}

}  // namespace ferret
