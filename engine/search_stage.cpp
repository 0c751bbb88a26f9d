#include "engine/search_stage.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "engine/content_search.h"

namespace ferret {

namespace {

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

}  // namespace

SearchStage::SearchStage(const RunContext& run)
    : run_(run),
      ignore_case_(run.request.fields.ignore_case),
      text_(ConvertSpecialChars(run.request.fields.search_text)),
      matcher_(text_, ignore_case_),
      pattern_(SearchPattern(run.request.fields.search_text, true, run.request.fields.whole_word),
               ignore_case_, run.request.longest_match),
      whole_word_(run.request.fields.whole_word),
      plain_word_(SearchPattern(run.request.fields.search_text, false, true), ignore_case_,
                  run.request.longest_match),
      office_(run.request.office_extensions, run.request.office_setup,
              run.request.fields.whole_word) {}

LazyPattern* SearchStage::PatternNow() {
    if (run_.control.UseRegex()) {
        return &pattern_;
    }
    return whole_word_ ? &plain_word_ : nullptr;
}

std::optional<std::int32_t> SearchStage::SearchOne(FileRecord& record, FileFound& found, bool early,
                                                   const HitFlush* flush) {
    const RunRequest& request = run_.request;
    const std::atomic<bool>& stop = run_.control.StopFlag();
    if (stop.load()) {
        return 0;
    }
    try {
        if (office_.Takes(record)) {
            if (early) {
                return std::nullopt;
            }
            Status error;
            const std::int32_t count = office_.Search(record, text_, ignore_case_, error,
                                                      request.hit_lines ? &found.hits : nullptr);
            if (!error.ok()) {
                found.problems.push_back({RunKind::kSearch, ProblemKind::kFile, error});
            }
            return count;
        }
        const int folder = t_open_folder.For(record);
        const std::string name = NameIn(folder, record);
        if (request.hit_lines) {
            // A file with many lines is left to its turn, which hands them on as they are found.
            static const HitFlush kLeave = [](FileHits&) { return false; };
            const std::int32_t count =
                SearchHitLines(record, folder, name, found, flush != nullptr ? *flush : kLeave);
            if (count == kHitsLeft) {
                found.hits = {};
                if (early) {
                    return std::nullopt;
                }
                return 0;  // the stage ended meanwhile
            }
            return count;
        }
        LazyPattern* const lazy = PatternNow();
        if (lazy == nullptr) {
            errno = 0;
            const bool skip_binary = request.fields.skip_binary;
            const std::int32_t count =
                request.want_details
                    ? SearchFileText(folder, name, matcher_, stop, DetailsFor(record), false,
                                     skip_binary, request.encoding)
                    : SearchFileText(folder, name, matcher_, stop, {}, record.DetailsPending(),
                                     skip_binary, request.encoding);
            if (count == kNotSearched && errno != ENOENT) {  // gone is no loss
                found.problems.push_back(NotSearched(record));
            }
            return count;
        }
        const RegExp* compiled = lazy->Get([&](const Status& status) {
            found.problems.push_back({RunKind::kSearch, ProblemKind::kBadPattern, status});
        });
        if (compiled == nullptr) {
            return kNotSearched;
        }
        std::string error;
        errno = 0;
        const std::int32_t count =
            SearchFilePattern(folder, name, *compiled, lazy->Shortcut(), DetailsFor(record), &error,
                              request.fields.skip_binary, request.encoding);
        TellNotSearched(record, count, error, found.problems);
        return count;
    } catch (const std::exception& failure) {
        // Out of memory for this file: the run goes on.
        found.problems.push_back(
            {RunKind::kSearch, ProblemKind::kFile,
             Status::Error(ENOMEM, record.FullPath() + ": " + failure.what())});
        return kNotSearched;
    }
}

std::int32_t SearchStage::SearchHitLines(FileRecord& record, int folder, const std::string& name,
                                         FileFound& found, const HitFlush& flush) {
    const RunRequest& request = run_.request;
    const RegExp* compiled = nullptr;
    LazyPattern* const lazy = PatternNow();
    if (lazy != nullptr) {
        compiled = lazy->Get([&](const Status& status) {
            found.problems.push_back({RunKind::kSearch, ProblemKind::kBadPattern, status});
        });
        if (compiled == nullptr) {
            return kNotSearched;
        }
    }
    std::string error;
    errno = 0;
    const std::int32_t count = SearchFileHitLines(
        folder, name, matcher_, compiled, compiled ? lazy->Shortcut() : nullptr, *request.hit_lines,
        request.want_details ? DetailsFor(record) : DetailsSink(), found.hits, &error,
        !request.want_details && record.DetailsPending(), flush, request.hit_spans,
        request.fields.skip_binary, request.encoding);
    TellNotSearched(record, count, error, found.problems);
    return count;
}

void SearchStage::Lead(EarlySearch& early) {
    const CloseOpenFolder close_folder;
    run_.sink.ContentWhileListing(RunKind::kSearch);
    std::size_t index = 0;
    early.Lead([&](FileRecord& record, std::optional<std::int32_t> count, FileFound& found) {
        bool streamed = false;
        if (!count) {
            // Every file before it is told: its lines go on as they are found.
            const HitFlush flush = [&](FileHits& hits) {
                const int text_from = hits.text_from;
                run_.sink.HitLines(index, record, std::move(hits));
                hits = {};
                hits.text_from = text_from;
                streamed = true;
                return true;
            };
            count = SearchOne(record, found, false, &flush).value_or(kNotSearched);
        }
        // The list's length is not known yet.
        TellFileDone(run_, index, 0, record, *count, found, streamed);
        ++index;
        // A file without hits need not be kept: the totals count it.
        return *count != 0 && run_.request.keep_records;
    });
}

void SearchStage::Run(std::vector<FileRecord*>& records, EarlySearch& early) {
    const CloseOpenFolder close_folder;
    run_.sink.ContentStage(RunKind::kSearch, records.size());
    ProblemBox problems;
    OrderedStage stage;
    stage.start = std::min(early.Led(), records.size());
    const std::size_t first = stage.start;
    std::vector<FileHits> hits(run_.request.hit_lines ? records.size() - first : 0);
    std::optional<HitFlow> flow;
    if (!hits.empty()) {
        flow.emplace(stage, run_.sink, records);
    }
    // Puts what was found of file `index` in its places.
    const auto keep = [&](std::size_t index, FileFound& found) {
        if (!hits.empty()) {
            hits[index - first] = std::move(found.hits);
        }
        for (RunProblem& problem : found.problems) {
            problems.Add(index, std::move(problem));
        }
    };
    const DoneEarly done_early = [&](std::size_t index) {
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
        const HitFlush flush = [&flow, index](FileHits& lines) {
            return flow->Flush(index, lines);
        };
        const std::optional<std::int32_t> count =
            SearchOne(*records[index], found, false, flow ? &flush : nullptr);
        keep(index, found);
        return count.value_or(kNotSearched);
    };
    RunContentStage(run_, stage, records, problems, hits.empty() ? nullptr : &hits, nullptr,
                    nullptr, done_early, flow ? &*flow : nullptr);
}

}  // namespace ferret
