#include "engine/replace_stage.h"

#include <errno.h>

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/content_replace.h"
#include "engine/rewrite_batch.h"
#include "engine/search_stage.h"

namespace ferret {

namespace {

// A batch is switched in when it holds this many files or bytes, or has waited this long.
constexpr std::size_t kBatchFiles = 128;
constexpr std::uint64_t kBatchBytes = 32 << 20;
constexpr auto kBatchTime = std::chrono::milliseconds(300);

void DropPrepared(RewriteBatch::Item& item, RestorePoint* restore) {
    if (restore != nullptr) {
        restore->Drop(item.kept);
    }
}

// What the files of a replace stage are worked on with, made once for the stage. `regex`: the
// pattern switch when the stage starts, for a run of chosen changes.
struct ReplaceTools {
    ReplaceTools(const RunRequest& request, bool regex)
        : ignore_case(request.fields.ignore_case),
          replacement(ConvertSpecialChars(request.fields.replace_text)),
          text(ConvertSpecialChars(request.fields.search_text)),
          kept_copies(request.restore_folder),
          start(request.fields.folder),
          as_pattern(SearchPattern(request.fields.search_text, true, request.fields.whole_word),
                     ignore_case, request.longest_match),
          as_plain(SearchPattern(request.fields.search_text, false, request.fields.whole_word),
                   ignore_case, request.longest_match),
          office(request.office_extensions, request.office_setup, request.fields.whole_word) {
        if (request.kind == RunKind::kChosenChanges) {
            finder.emplace(request.fields.search_text, request.fields.replace_text, regex,
                           ignore_case, request.fields.whole_word, request.longest_match);
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
    // Archives and PDFs are searched inside, never written (SearchFields::search_inside).
    std::unique_ptr<SearchStage> inside;
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
        const bool office = tools_.office.Takes(record);
        if (tools_.inside != nullptr && !office) {
            if (const std::optional<std::int32_t> count = Inside(index, record)) {
                return *count;
            }
        }
        if (office) {
            return Office(index, record);
        }
        // A preview writes nothing: a text file it could not work out is told, never rewritten.
        if (preview_ != nullptr) {
            slots_.Problem(index, Status::Error(kFileAccessError,
                                                record.FullPath() + ": " +
                                                    preview_->finder->status().description()));
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

    // An archive or PDF: searched, and what holds hits told as left as it is. Nothing when it
    // is a file like any other.
    std::optional<std::int32_t> Inside(std::size_t index, FileRecord& record) {
        FileFound found;
        std::optional<std::int32_t> count = tools_.inside->SearchInside(record, found);
        if (!count) {
            return std::nullopt;
        }
        const auto left_alone = [](const std::string& path, const char* why) {
            return RunProblem{RunKind::kReplace, ProblemKind::kFile,
                              Status::Error(kFileAccessError, path + ": " + why)};
        };
        for (InnerFound& each : found.inner) {
            if (each.count > 0) {
                each.problems.push_back(
                    left_alone(each.record->FullPath(), "inside an archive; it was not rewritten"));
                each.count = kNotSearched;
            }
            each.hits = {};
        }
        slots_.problems.AddInner(index, std::move(found.inner));
        for (RunProblem& problem : found.problems) {
            slots_.problems.Add(index, std::move(problem));
        }
        if (*count > 0) {
            slots_.problems.Add(index,
                                left_alone(record.FullPath(),
                                           ContainerOf(record.Filename()) == Container::kPdf
                                               ? "the text of a PDF; it was not rewritten"
                                               : "inside a compressed file; it was not rewritten"));
            return kNotSearched;
        }
        return *count;
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
        FilePlace place(path, folder, name, false, &tools_.start);
        place.skip_binary = request_.fields.skip_binary;
        place.encoding = &request_.encoding;
        try {
            LazyPattern& lazy = control_.UseRegex() ? tools_.as_pattern : tools_.as_plain;
            const RegExp* compiled = lazy.Get([&](const Status& status) {
                slots_.problems.Add(index, {RunKind::kReplace, ProblemKind::kBadPattern, status});
            });
            if (compiled == nullptr) {
                return kNotSearched;
            }
            auto item = std::make_unique<RewriteBatch::Item>();
            item->rewrite.want_checksums = restore_ != nullptr;
            const ChosenChange* chosen = ChosenFor(index);
            const RewriteResult result = chosen != nullptr
                                             ? RewriteChosen(index, place, *chosen, *item)
                                             : RewriteText(index, place, *compiled, lazy, *item);
            if (result.count == kNotSearched) {
                slots_.Problem(index, Status::Error(kFileAccessError, path + ": " + result.error));
                return kNotSearched;
            }
            if (!result.rewritten) {
                return result.count;
            }
            return Hold(index, std::move(item), {}, result.count);
        } catch (const std::exception& error) {
            slots_.Problem(index, Status::Error(kOutOfMemory, path + ": " + error.what()));
            return kNotSearched;
        }
    }

    RewriteResult RewriteText(std::size_t index, const FilePlace& place, const RegExp& pattern,
                              const LazyPattern& lazy, RewriteBatch::Item& item) {
        return PrepareRewrite(place, pattern, tools_.replacement, lazy.Shortcut(),
                              DetailsOf(*records_[index]), item.rewrite, slots_.HitsOf(index),
                              request_.hit_lines.value_or(0));
    }

    RewriteResult RewriteChosen(std::size_t index, const FilePlace& place,
                                const ChosenChange& chosen, RewriteBatch::Item& item) {
        // Read as the preview read it.
        const EncodingChoice encoding = EncodingChoice::Exactly(chosen.legacy);
        FilePlace as_previewed = place;
        as_previewed.encoding = &encoding;
        return PrepareChosenRewrite(as_previewed, chosen.digest, chosen.seen,
                                    chosen.all ? nullptr : &chosen.edits, *tools_.finder,
                                    DetailsOf(*records_[index]), item.rewrite, slots_.HitsOf(index),
                                    request_.hit_lines.value_or(0));
    }

    // Keeps the original of a worked-out rewrite and holds it for the next batch. `original`:
    // the old bytes of a document a handler rewrote, for their checksum.
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
            PreparedRewrite& rewrite = item->rewrite;
            if (rewrite.old_checksum.empty()) {
                rewrite.old_checksum = ContentChecksum(original);
                rewrite.old_size = original.size();
                rewrite.new_checksum = ContentChecksum(rewrite.content);
            }
            if (const Status kept = restore_->KeepOriginal(rewrite, item->kept); !kept.ok()) {
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
        if (last_any_) {
            const Status kept = last_file_.get() >= 0 ? KeepLastRewriteOf(last_file_.get())
                                                      : KeepLastRewrite(last_content_);
            if (!kept.ok()) {
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
                last_any_ = true;
                last_content_ = std::move(outcome.new_content);
                last_file_ = std::move(outcome.new_file);
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
    // The last text file rewritten (which may have been left empty): its new bytes, or the new
    // file that holds them.
    bool last_any_ = false;
    std::string last_content_;
    Fd last_file_;
    // The files a preview told of, by their real paths.
    std::unordered_set<std::string> told_;
};

}  // namespace

void ReplaceInFileList(const RunContext& run, FileRecords& files, RestorePoint* restore,
                       PreviewTools* preview, EarlySearch* early) {
    const CloseOpenFolder close_folder;
    const RunRequest& request = run.request;
    std::vector<FileRecord*> records = RecordsOf(files);
    run.sink.ContentStage(request.kind, records.size());
    ReplaceTools tools(request, run.control.UseRegex());
    if (request.fields.search_inside) {
        tools.inside = std::make_unique<SearchStage>(run);
    }
    ReplaceSlots slots(records.size(), request.hit_lines.has_value(), preview != nullptr);
    ReplaceWorker worker(request, run.control, records, tools, slots, restore, preview, early);
    OrderedStage stage;
    stage.process = [&worker](std::size_t index) { return worker.Process(index); };
    RewriteHolding holding(records, slots, restore, request.before_switch);
    try {
        RunContentStage(run, stage, records, slots.problems,
                        slots.hits.empty() ? nullptr : &slots.hits, &holding,
                        slots.previews.empty() ? nullptr : &slots.previews);
    } catch (...) {
        slots.DropAll(restore);
        throw;
    }
    holding.Finish(run.sink);
}

}  // namespace ferret
