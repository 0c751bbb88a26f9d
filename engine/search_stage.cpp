#include "engine/search_stage.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "engine/content_search.h"
#include "engine/file_details.h"

namespace ferret {

namespace {

// Adds `lines` to `spill`, made when first needed, and lets them go from memory.
void SetAside(std::shared_ptr<HitLineSpill>& spill, std::vector<HitLine>& lines) {
    if (!spill) {
        spill = std::make_shared<HitLineSpill>();
    }
    // Should the disk fail, the lines stay in the spill's memory: none is lost.
    (void)spill->Add(lines);
    lines.clear();
}

// Sets `lines` aside after those `hits` holds, which go first: the lines set aside are handed on
// before those held.
void SetAsideOwn(FileHits& hits, std::vector<HitLine>& lines) {
    if (&lines != &hits.lines) {
        SetAside(hits.spilled, hits.lines);
    }
    SetAside(hits.spilled, lines);
}

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
              run.request.fields.whole_word),
      entry_mask_(run.request.fields.file_mask),
      entry_size_(SizeBoundOf(run.request.fields, run.request.size_kb)) {}

const RegExp* SearchStage::Compiled(LazyPattern& lazy, std::vector<RunProblem>& problems) {
    return lazy.Get([&](const Status& status) {
        problems.push_back({RunKind::kSearch, ProblemKind::kBadPattern, status});
    });
}

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
        // Asked once: it may look at the file's first bytes.
        const bool office = office_.Takes(record);
        // Office documents that are zips (.docx, .odt) are not archives here.
        if (request.fields.search_inside && !office) {
            if (std::optional<std::int32_t> count = SearchInside(record, found)) {
                return count;
            }
        }
        if (office) {
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
        const RegExp* compiled = Compiled(*lazy, found.problems);
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
        compiled = Compiled(*lazy, found.problems);
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

bool SearchStage::EntryWanted(const InnerFile& file, const std::string& container) const {
    if (file.page > 0) {
        return true;  // the PDF itself passed the mask
    }
    // A compressed file's data is named as the file, which the walk listed whatever its name.
    const std::string& path = file.names.empty() ? container : file.names.back();
    const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
    // A compressed file inside is named as its data would be: "app.log" for "app.log.gz".
    return PassesFilters(entry_mask_.Matches(name) || entry_mask_.Matches(DataNameOf(name)),
                         file.size_known ? std::optional<std::uint64_t>(file.size) : std::nullopt);
}

bool SearchStage::PassesFilters(bool matched, std::optional<std::uint64_t> size) const {
    return matched == run_.request.fields.include_listed && (!size || entry_size_.Passes(*size));
}

std::int32_t SearchStage::SearchInner(int fd, FileHits& hits, std::vector<RunProblem>& problems,
                                      const std::string& path, const HitFlush& flush) {
    const RunRequest& request = run_.request;
    const std::atomic<bool>& stop = run_.control.StopFlag();
    const RegExp* compiled = nullptr;
    LazyPattern* const lazy = PatternNow();
    if (lazy != nullptr) {
        compiled = Compiled(*lazy, problems);
        if (compiled == nullptr) {
            return kNotSearched;
        }
    }
    std::string error;
    std::int32_t count = 0;
    if (request.hit_lines) {
        count = SearchOpenHitLines(fd, matcher_, compiled, compiled ? lazy->Shortcut() : nullptr,
                                   *request.hit_lines, hits, &error, flush, request.hit_spans,
                                   request.fields.skip_binary, request.encoding, true);
    } else if (compiled != nullptr) {
        count = CountPatternInOpenFile(fd, *compiled, lazy->Shortcut(), &error,
                                       request.fields.skip_binary, request.encoding, false);
    } else {
        const std::int64_t found =
            ScanStream(fd, matcher_, &stop, request.fields.skip_binary, request.encoding);
        count = found < 0 && found != kLeftOutBinary
                    ? kNotSearched
                    : static_cast<std::int32_t>(std::min<std::int64_t>(found, kMaxHitCount));
    }
    if (!error.empty()) {
        problems.push_back({RunKind::kSearch, ProblemKind::kFile,
                            Status::Error(kRegexErrorTooComplex, path + ": " + error)});
    }
    return count;
}

std::optional<std::int32_t> SearchStage::SearchInside(FileRecord& record, FileFound& found) {
    const Container container = ContainerOf(record.Filename());
    if (container == Container::kNone || record.Inside() != nullptr) {
        return std::nullopt;
    }
    const int folder = t_open_folder.For(record);
    const std::string name = NameIn(folder, record);
    errno = 0;
    // As a file is read: a link the walk listed (and so judged) is followed; a file it saw as
    // regular must still be one.
    const int flags =
        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (record.DetailsPending() ? O_NOFOLLOW : 0);
    const Fd fd(folder == AT_FDCWD ? OpenPath(name, flags) : openat(folder, name.c_str(), flags));
    FileDetails details;
    if (fd.get() < 0 || !ReadOpenFileDetails(fd.get(), details) || !details.is_regular) {
        if (errno != ENOENT) {
            found.problems.push_back(NotSearched(record));
        }
        return kNotSearched;
    }
    if (record.DetailsPending()) {
        record.SetRawDetails(details.size, details.created);
    }
    const std::string container_path = record.FullPath();
    const DateTime created = record.CreationTime();
    std::uint64_t own = 0;  // a compressed file's hits, or a PDF's
    bool own_read = false;
    bool own_binary = false;
    // Hit lines past a few blocks wait on disk: those of the entries in one spill, in order, and
    // the file's own in its hits' spill.
    std::size_t held_lines = 0;
    std::shared_ptr<HitLineSpill> spill;
    const InnerRead read = ReadInnerFiles(
        fd.get(), container, limits_, &run_.control.StopFlag(),
        [&](const InnerFile& file) { return EntryWanted(file, record.Filename()); },
        [&](const InnerFile& file, int inner_fd) {
            InnerFound each;
            std::string path = container_path;
            for (const std::string& inner_name : file.names) {
                path += "//" + inner_name;
            }
            std::int32_t count = 0;
            const bool own_lines = file.names.empty();
            const HitFlush flush = [&](FileHits& hits) {
                if (own_lines) {
                    for (HitLine& line : hits.lines) {
                        line.page = file.page;
                    }
                    SetAsideOwn(found.hits, hits.lines);
                } else {
                    each.spilled_lines += hits.lines.size();
                    SetAside(spill, hits.lines);
                }
                return true;
            };
            if (file.encrypted) {
                count = kNotSearched;
                each.problems.push_back(
                    {RunKind::kSearch, ProblemKind::kFile,
                     Status::Error(EACCES, path + ": it is encrypted; not searched")});
            } else {
                count = SearchInner(inner_fd, each.hits, each.problems, path, flush);
            }
            if (file.names.empty()) {
                // The file's own hits: a PDF's pages, or what a compressed file holds.
                own_read = true;
                if (count > 0) {
                    own += static_cast<std::uint64_t>(count);
                }
                own_binary = count == kLeftOutBinary;
                for (HitLine& line : each.hits.lines) {
                    line.page = file.page;
                    found.hits.lines.push_back(std::move(line));
                }
                if (found.hits.lines.size() >= kHitLinesAtOnce) {
                    SetAsideOwn(found.hits, found.hits.lines);
                }
                found.hits.binary = found.hits.binary || each.hits.binary;
                found.hits.text_from = -1;  // read from a stream, decompressed or extracted
                for (RunProblem& problem : each.problems) {
                    found.problems.push_back(std::move(problem));
                }
                return !run_.control.StopPause();
            }
            each.record = std::make_unique<FileRecord>();
            each.record->SetInside(
                std::make_shared<const InsideFile>(InsideFile{container_path, file.names}));
            each.record->SetDetails(file.size, created);
            each.count = count;
            if (each.spilled_lines > 0 || held_lines + each.hits.lines.size() > kHitLinesAtOnce) {
                each.spilled_lines += each.hits.lines.size();
                SetAside(spill, each.hits.lines);
                each.spill = spill;
            } else {
                held_lines += each.hits.lines.size();
            }
            found.inner.push_back(std::move(each));
            return !run_.control.StopPause();
        });
    if (read.not_container) {
        // Listed for its name alone, it is searched as a file only when it passes as one.
        if (!PassesFilters(entry_mask_.Matches(record.Filename()), details.size)) {
            return 0;
        }
        return std::nullopt;
    }
    if (!read.status.ok()) {
        found.problems.push_back(
            {RunKind::kSearch, ProblemKind::kFile,
             Status::Error(read.status.number(),
                           container_path + ": " + read.status.description())});
        if (found.inner.empty() && !own_read) {
            return kNotSearched;
        }
    }
    if (own_binary) {
        return kLeftOutBinary;  // a compressed file's data, left out as binary
    }
    return static_cast<std::int32_t>(std::min<std::uint64_t>(own, kMaxHitCount));
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
        // An archive whose entries are kept stays until the run places them after it.
        const bool holds_kept = std::any_of(found.inner.begin(), found.inner.end(),
                                            [](const InnerFound& each) { return each.count != 0; });
        // The list's length is not known yet.
        TellFileDone(run_, index, 0, record, *count, found, streamed);
        ++index;
        // A file without hits need not be kept: the totals count it.
        return (*count != 0 || holds_kept) && run_.request.keep_records;
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
        problems.AddInner(index, std::move(found.inner));
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
