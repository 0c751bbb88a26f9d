#include "engine/run_stage.h"

#include <fcntl.h>

#include <algorithm>
#include <thread>

#include "engine/file_details.h"
#include "engine/hit_count.h"

namespace ferret {

unsigned RunContext::Workers() const {
    return request.workers != 0 ? request.workers
                                : std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

std::vector<FileRecord*> RecordsOf(FileRecords& files) {
    std::vector<FileRecord*> records;
    records.reserve(static_cast<std::size_t>(files.Count()));
    for (FileRecord& file : files) {
        records.push_back(&file);
    }
    return records;
}

thread_local OpenFolder t_open_folder;

int OpenFolder::For(const FileRecord& record) {
    const std::shared_ptr<const std::string>& root = record.SharedRootPath();
    if (root != root_) {
        root_ = root;
        fd_.Reset(root->empty() ? -1 : OpenPath(*root, O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return fd_.get() >= 0 ? fd_.get() : AT_FDCWD;
}

void OpenFolder::Close() {
    fd_.Reset();
    root_.reset();
}

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

void ProblemBox::Add(std::size_t index, RunProblem problem) {
    std::lock_guard lock(mutex_);
    held_.emplace(index, std::move(problem));
    any_.store(true, std::memory_order_release);
}

namespace {

// Hands the lines `hits` set aside to `sink` a part at a time, and lets them go.
Status HandOnSpilled(RunSink& sink, std::size_t index, const FileRecord& record, FileHits& hits) {
    const Status taken = hits.spilled->Take(kHitLinesAtOnce, [&](std::vector<HitLine> part) {
        FileHits lines;
        lines.text_from = hits.text_from;
        lines.lines = std::move(part);
        sink.HitLines(index, record, std::move(lines));
    });
    hits.spilled.reset();
    return taken;
}

}  // namespace

bool HitFlow::Flush(std::size_t index, FileHits& hits) {
    if (!stage_.Leads(index)) {
        if (hits.lines.size() < kHeldLines) {
            return true;
        }
        // The calling thread takes the results that make a file lead: it cannot wait, so its
        // lines wait on disk.
        if (stage_.OnCallingThread()) {
            if (!hits.spilled) {
                hits.spilled = std::make_shared<HitLineSpill>();
            }
            // Should the disk fail, the lines stay in the spill's memory: none is lost.
            const Status spilled = hits.spilled->Add(hits.lines);
            (void)spilled;
            hits.lines.clear();
            return true;
        }
        if (!stage_.AwaitLead(index)) {
            return false;
        }
    }
    // Those set aside go first.
    if (hits.spilled && !HandOnSpilled(sink_, index, *records_[index], hits).ok()) {
        return false;
    }
    const int text_from = hits.text_from;
    sink_.HitLines(index, *records_[index], std::move(hits));
    hits = {};
    hits.text_from = text_from;
    streamed_[index] = 1;
    return true;
}

namespace {

// Tells the problems found in `record`, each naming its file. An unusable pattern is one problem
// of the run, told with the first file that needed it.
void TellProblems(RunSink& sink, const FileRecord& record, std::vector<RunProblem>& problems,
                  RunResult& result) {
    for (RunProblem& problem : problems) {
        if (problem.kind == ProblemKind::kBadPattern) {
            if (result.pattern_failed) {
                continue;
            }
            result.pattern_failed = true;
        } else if (problem.path.empty()) {
            problem.path = record.FullPath();
        }
        sink.Problem(problem);
    }
}

void AddCount(RunResult& result, FileRecord& record, std::int32_t count) {
    if (count >= 1) {
        result.files_with_hits = SaturatedAdd(result.files_with_hits, 1);
        result.strings_found = SaturatedAdd(result.strings_found, count);
    } else if (count == kLeftOutBinary) {
        ++result.binary_left_out;
    }
    record.SetItemsFound(count);
}

// Hit lines, preview and FileDone: the end of TellFileDone.
void TellFound(RunSink& sink, std::size_t index, std::size_t total, FileRecord& record,
               std::int32_t count, FileFound& found, bool streamed, bool with_hits) {
    FileHits& lines = found.hits;
    if (with_hits) {
        if (count >= 1 && lines.spilled) {
            // Lines set aside on disk go first.
            if (const Status taken = HandOnSpilled(sink, index, record, lines); !taken.ok()) {
                const std::string path = record.FullPath();
                sink.Problem({RunKind::kReplace, ProblemKind::kFile,
                              Status::Error(EIO, path + ": its hit lines set aside are lost: " +
                                                     taken.description()),
                              path});
            }
        }
        if (count >= 1 && (!streamed || !lines.lines.empty() || lines.binary)) {
            sink.HitLines(index, record, std::move(lines));
        }
    }
    if (found.preview && count >= 1) {
        sink.Previewed(index, record, std::move(*found.preview));
    }
    sink.FileDone(index, total, count, record);
}

// The files found inside file `index`, each told as a file of its own; the lines they set aside
// are read back once, in order, each file's handed on before it is done.
void TellInner(RunSink& sink, RunResult& result, std::size_t index, std::size_t total,
               const FileRecord& container, std::vector<InnerFound>& inner, bool with_hits) {
    std::size_t next = 0;        // the file to begin next
    std::size_t open = 0;        // the file whose lines set aside are being handed on
    std::size_t lines_left = 0;  // of those
    const auto begin = [&](InnerFound& each) {
        TellProblems(sink, *each.record, each.problems, result);
        AddCount(result, *each.record, each.count);
    };
    const auto end = [&](InnerFound& each, bool streamed) {
        FileFound found;
        found.hits = std::move(each.hits);
        TellFound(sink, index, total, *each.record, each.count, found, streamed, with_hits);
        if (each.count != 0) {
            result.inner_files.emplace_back(&container, std::move(each.record));
        }
    };
    // Tells the files up to the next one with lines set aside, and begins that one.
    const auto go_on = [&] {
        while (next < inner.size()) {
            InnerFound& each = inner[next++];
            begin(each);
            if (with_hits && each.spilled_lines > 0 && each.spill) {
                open = next - 1;
                lines_left = each.spilled_lines;
                return;
            }
            end(each, false);
        }
        lines_left = 0;
    };
    go_on();
    std::shared_ptr<HitLineSpill> spill =
        lines_left > 0 ? inner[open].spill : std::shared_ptr<HitLineSpill>();
    if (spill) {
        const Status taken = spill->Take(kHitLinesAtOnce, [&](std::vector<HitLine> part) {
            for (std::size_t at = 0; at < part.size() && lines_left > 0;) {
                const std::size_t count = std::min(lines_left, part.size() - at);
                FileHits lines;
                lines.binary = inner[open].hits.binary;
                lines.lines.assign(std::make_move_iterator(part.begin() + at),
                                   std::make_move_iterator(part.begin() + at + count));
                sink.HitLines(index, *inner[open].record, std::move(lines));
                at += count;
                lines_left -= count;
                if (lines_left == 0) {
                    end(inner[open], true);
                    go_on();
                }
            }
        });
        if (!taken.ok()) {
            sink.Problem(
                {RunKind::kSearch, ProblemKind::kFile,
                 Status::Error(EIO, container.FullPath() +
                                        ": hit lines set aside are lost: " + taken.description()),
                 container.FullPath()});
        }
    }
    // Those the spill could not give back.
    while (lines_left > 0) {
        end(inner[open], true);
        go_on();
    }
    inner.clear();
}

}  // namespace

void TellFileDone(const RunContext& run, std::size_t index, std::size_t total, FileRecord& record,
                  std::int32_t count, FileFound& found, bool streamed) {
    TellInner(run.sink, run.result, index, total, record, found.inner,
              run.request.hit_lines.has_value());
    TellProblems(run.sink, record, found.problems, run.result);
    AddCount(run.result, record, count);
    TellFound(run.sink, index, total, record, count, found, streamed,
              run.request.hit_lines.has_value());
}

void ProblemBox::Deliver(std::size_t index, const FileRecord& file, RunSink& sink,
                         RunResult& result) {
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
    TellProblems(sink, file, found, result);
}

void ProblemBox::AddInner(std::size_t index, std::vector<InnerFound> inner) {
    if (inner.empty()) {
        return;
    }
    std::lock_guard lock(mutex_);
    std::vector<InnerFound>& held = inner_[index];
    for (InnerFound& each : inner) {
        held.push_back(std::move(each));
    }
    any_inner_.store(true, std::memory_order_release);
}

std::vector<InnerFound> ProblemBox::TakeInner(std::size_t index) {
    if (!any_inner_.load(std::memory_order_acquire)) {
        return {};
    }
    std::lock_guard lock(mutex_);
    const auto found = inner_.find(index);
    if (found == inner_.end()) {
        return {};
    }
    std::vector<InnerFound> inner = std::move(found->second);
    inner_.erase(found);
    any_inner_.store(!inner_.empty(), std::memory_order_release);
    return inner;
}

void Delivery::Count(std::size_t index, std::int32_t count) {
    problems_.Deliver(index, *records_[index], sink_, result_);
    AddCount(result_, *records_[index], count);
}

void Delivery::Deliver(std::size_t index, std::int32_t count) {
    std::vector<InnerFound> inner = problems_.TakeInner(index);
    TellInner(sink_, result_, index, records_.size(), *records_[index], inner, hits_ != nullptr);
    Count(index, count);
    FileFound found;
    if (hits_ != nullptr) {
        found.hits = std::move((*hits_)[index - first_]);
        (*hits_)[index - first_] = {};
    }
    if (previews_ != nullptr && (*previews_)[index - first_]) {
        found.preview = std::move((*previews_)[index - first_]);
        (*previews_)[index - first_].reset();
    }
    TellFound(sink_, index, records_.size(), *records_[index], count, found,
              flow_ != nullptr && flow_->Streamed(index), hits_ != nullptr);
}

void Delivery::Deliver(const Ready& ready) {
    for (const auto& [index, count] : ready) {
        Deliver(index, count);
    }
}

namespace {

// What becomes of the files not taken when a stop ended a stage. Files rewritten after a stop
// was asked for are rewritten: their counts stand. Files searched by then were searched, by the
// stage or while the walk went on (`done_early`): they are told as any other, with their hit
// lines. A worker still on a large file holds back the results taken in order, not the work.
std::function<void(std::size_t, std::optional<std::int32_t>)> AfterEnd(
    RunKind kind, Delivery& delivery, Holding* holding, const DoneEarly& done_early) {
    if (Replaces(kind)) {
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
void RunWoken(RunControl& control, OrderedStage& stage, std::size_t total) {
    control.SetWake([&stage] { stage.Wake(); });
    try {
        stage.Run(total);
    } catch (...) {
        control.SetWake({});
        throw;
    }
    control.SetWake({});
}

}  // namespace

void RunContentStage(const RunContext& run, OrderedStage& stage, std::vector<FileRecord*>& records,
                     ProblemBox& problems, std::vector<FileHits>* hits, Holding* holding,
                     std::vector<std::optional<FilePreview>>* previews, const DoneEarly& done_early,
                     const HitFlow* flow) {
    RunControl& control = run.control;
    stage.workers = run.Workers();
    stage.may_start = [&control] { return !control.Paused() || control.Stopped(); };
    Delivery delivery(run.sink, run.result, records, problems, hits, previews, flow, stage.start);
    Ready ready;
    stage.take = [&](std::size_t index, std::int32_t count) {
        if (holding == nullptr) {
            delivery.Deliver(index, count);
        } else {
            ready.clear();
            holding->Take(index, count, ready);
            delivery.Deliver(ready);
        }
        return !control.StopPause();
    };
    stage.take_after_end = AfterEnd(run.request.kind, delivery, holding, done_early);
    RunWoken(control, stage, records.size());
    if (holding != nullptr) {
        ready.clear();
        holding->Flush(ready);
        delivery.Deliver(ready);
    }
}

}  // namespace ferret
