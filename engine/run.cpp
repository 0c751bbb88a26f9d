#include "engine/run.h"

#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/content_search.h"
#include "engine/early_search.h"
#include "engine/file_finder.h"
#include "engine/regex.h"
#include "engine/replace_stage.h"
#include "engine/restore_point.h"
#include "engine/run_stage.h"
#include "engine/search_stage.h"

namespace ferret {

SizeBound SizeBoundOf(const SearchFields& fields, double size_kb) {
    switch (fields.size_option) {
        case SearchFields::kSizeSmall:
            return {102400, false};
        case SearchFields::kSizeMedium:
            return {1024000, false};
        case SearchFields::kSizeLarge:
            return {1024000, true};
        case SearchFields::kSizeSpecified:
            return {size_kb * 1024, fields.size_at_least};
        default:
            return {};
    }
}

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

// How many files a search's walk lists beyond those told: enough that the workers never wait
// for the walk, few enough that memory does not grow with the tree.
constexpr std::size_t kListedAhead = 1024;

// One run: the walk, then the content stage its kind asks for.
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
            SearchStage search(context_);
            // As many as the stage has: the walk, held to the pace of the search, and Lead, which
            // hands the results on, leave the cores to them. (One more is faster on large trees
            // and holds more hit lines at once.)
            EarlySearch early(
                context_.Workers(),
                [&](FileRecord& record, FileFound& found) {
                    return search.SearchOne(record, found, true);
                },
                control_);
            // Files are told in list order while the walk goes on, which lists no more than a
            // few thousand ahead: memory stays the same however many files there are.
            std::shared_ptr<FileRecords> rest = BuildFileList(
                &early, true, [&] { Guarded(RunKind::kSearch, [&] { search.Lead(early); }); });
            // The list: the files Lead told and kept, then those it did not reach, in order.
            result_.files = early.TakeKept();
            result_.files->CountLetGo(static_cast<std::int32_t>(early.Led()) -
                                      result_.files->Count());
            std::vector<FileRecord*> records(early.Led(), nullptr);
            for (std::unique_ptr<FileRecord>& record : early.TakeNotLed()) {
                records.push_back(record.get());
                result_.files->AddUnique(std::move(record));
            }
            for (FileRecord& record : *rest) {
                records.push_back(&record);
            }
            result_.files->Append(*rest);
            Guarded(RunKind::kSearch, [&] { search.Run(records, early); });
            early.Join();  // a worker may still hold a file when the stage failed
            result_.files->PlaceAfter(result_.inner_files);
            // A search's list holds the files with hits or problems; the rest are counted.
            result_.files->LetGo([this](const FileRecord& file) {
                return file.ItemsFound() == 0 || !request_.keep_records;
            });
        } else if (rewrites && request_.kind == RunKind::kPreview) {
            // A preview writes nothing: it too starts while the walk still lists files.
            PreviewTools tools(request_, control_.UseRegex());
            EarlySearch early(
                std::max(1u, context_.Workers() - 1),
                [&](FileRecord& record, FileFound& found) {
                    return PreviewOne(request_, control_, tools, record, found);
                },
                control_);
            result_.files = BuildFileList(&early);
            Guarded(RunKind::kReplace,
                    [&] { ReplaceInFileList(context_, *result_.files, nullptr, &tools, &early); });
        } else if (rewrites) {
            result_.files = request_.kind == RunKind::kChosenChanges ? ChosenFileList()
                                                                     : BuildFileList(nullptr);
            Guarded(RunKind::kReplace,
                    [&] { ReplaceInFileList(context_, *result_.files, restore.get()); });
            if (restore) {
                if (restore->Finish()) {
                    result_.restore_point = restore->Folder();
                }
                restore.reset();
                PruneRestorePoints(request_.restore_folder, request_.restore_quantity);
            }
        } else {
            result_.files = BuildFileList(nullptr, false);
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

    // The size and date filters of the search fields.
    void SetFilters(FileFinder& finder) const {
        const SizeBound size = SizeBoundOf(fields_, request_.size_kb);
        if (size.bytes != -1) {
            finder.SetGreaterThanSize(size.at_least);
            finder.SetFileSizeLimit(size.bytes);
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

    // `meanwhile`, when given, runs on this thread while the walk runs on its own, until the
    // walk ends; the walk then tells `early` the files' order as it grows.
    std::shared_ptr<FileRecords> BuildFileList(EarlySearch* early, bool content = true,
                                               const std::function<void()>& meanwhile = {}) {
        sink_.Listing();
        FileFinder finder;
        SetFilters(finder);
        finder.SetFilterMask(fields_.file_mask);
        finder.SetSearchType(fields_.include_listed ? 1 : 0);
        finder.SetRecursive(fields_.recursive);
        finder.SetSkipFolders(fields_.skip_folders);
        finder.SetIgnoreFiles(fields_.use_ignore_files);
        // A replace never writes into an archive, but tells what it holds.
        finder.SetArchivesListed(fields_.search_inside && content);
        // A search or replace tells binary files from the first block it reads anyway.
        finder.SetSkipBinary(fields_.skip_binary && !content,
                             request_.office_setup ? request_.office_extensions : std::string());
        finder.SetStartDirectory(fields_.folder);
        finder.SetControl({&control_.StopFlag(), &control_.PauseFlag(),
                           early != nullptr && meanwhile ? &early->Taken() : nullptr,
                           kListedAhead});
        // The restore folder holds the way back of earlier runs: never listed, never rewritten.
        struct stat kept {};
        if (!request_.restore_folder.empty() && stat(request_.restore_folder.c_str(), &kept) == 0 &&
            S_ISDIR(kept.st_mode)) {
            finder.SetExcludedFolder(FolderId{kept.st_dev, kept.st_ino});
        }
        WalkWatcher watcher;
        if (early != nullptr) {
            if (meanwhile) {
                // The records are the search's own: the content stage may start while a worker
                // still searches one.
                watcher.ending = [early] { early->Finish(); };
                // Searched in list order: what Lead needs next is searched first.
                watcher.ordered = [early](std::vector<std::unique_ptr<FileRecord>>& records) {
                    early->Ordered(records);
                };
            } else {
                // The walk drops the records that do not make the list once it has ended.
                watcher.ending = [early] { early->Join(); };
                watcher.listed = [early](const std::vector<FileRecord*>& records) {
                    early->Listed(records);
                };
            }
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
        if (meanwhile) {
            // The sink hears only from this thread.
            std::thread walk([&finder] { finder.PerformSearch(); });
            try {
                meanwhile();
            } catch (...) {
                walk.join();
                throw;
            }
            walk.join();
        } else {
            finder.PerformSearch();
        }
        std::sort(not_listed.begin(), not_listed.end());
        for (const auto& [path, reason] : not_listed) {
            sink_.Problem({RunKind::kList, ProblemKind::kFile,
                           Status::Error(EPERM, path + ": " + reason), path});
        }
        sink_.Listed({finder.Searched(), finder.Matched(), finder.SearchTime()});
        result_.binary_left_out += finder.BinaryLeftOut();
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

    const RunRequest& request_;
    const SearchFields& fields_;
    RunSink& sink_;
    RunControl& control_;
    RunResult result_;
    const RunContext context_{request_, sink_, control_, result_};
};

}  // namespace

RunResult ExecuteRun(const RunRequest& request, RunSink& sink, RunControl& control) {
    RunResult result = Run(request, sink, control).Execute();
    result.stopped = control.Stopped();
    return result;
}

}  // namespace ferret
