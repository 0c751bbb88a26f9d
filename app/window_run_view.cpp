#include "app/window_run_view.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/qt_text.h"
#include "reports/quoted_name.h"

namespace ferret {

WindowRunView::WindowRunView(QObject* window, Handlers handlers)
    : window_(window), handlers_(std::move(handlers)) {}

void WindowRunView::Post(std::function<void()> call) const {
    if (!call || window_.isNull()) {
        return;
    }
    if (QThread::currentThread() == window_->thread()) {
        call();
    } else {
        QMetaObject::invokeMethod(window_, std::move(call), Qt::QueuedConnection);
    }
}

void WindowRunView::PostAfter(int wait_ms, std::function<void()> call) const {
    Post([this, wait_ms, call = std::move(call)] { QTimer::singleShot(wait_ms, window_, call); });
}

int WindowRunView::Pace::WaitMs() const {
    const auto now = std::chrono::steady_clock::now();
    const auto due = last_ + interval_;
    return due > now
               ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count())
               : 0;
}

void WindowRunView::SetStatusText(StatusPanel panel, const std::string& text) {
    if (panel == StatusPanel::kProgress) {
        std::lock_guard lock(progress_mutex_);
        ++progress_generation_;  // a progress text still on its way is out of date
    }
    Post([this, panel, t = Q(text)] { handlers_.status(panel, t); });
}

void WindowRunView::ShowProgressCount(std::size_t done, std::size_t total) {
    // Shown with the next progress text.
    std::lock_guard lock(progress_mutex_);
    progress_done_ = done;
    progress_total_ = total;
}

void WindowRunView::ShowProgress(const std::string& text) {
    std::lock_guard lock(progress_mutex_);
    progress_text_ = Q(text);
    if (progress_posted_) {
        return;  // the update on its way shows the latest text
    }
    progress_posted_ = true;
    const std::uint64_t generation = progress_generation_;
    PostAfter(progress_pace_.WaitMs(), [this, generation] {
        QString shown;
        std::size_t done = 0;
        std::size_t total = 0;
        {
            std::lock_guard shown_lock(progress_mutex_);
            progress_posted_ = false;
            if (generation != progress_generation_) {
                return;
            }
            progress_pace_.Went();
            shown = progress_text_;
            done = progress_done_;
            total = progress_total_;
        }
        handlers_.status(StatusPanel::kProgress, shown);
        if (handlers_.progress && total > 0) {
            handlers_.progress(done, total);
        }
    });
}

void WindowRunView::SetRunLog(const std::string& text) {
    Post([this, t = Q(text)] { handlers_.run_log(t, false); });
}

void WindowRunView::AppendRunLog(const std::string& text) {
    Post([this, t = Q(text)] { handlers_.run_log(t, true); });
}

void WindowRunView::SetRunning(bool running) {
    Post([this, running] { handlers_.running(running); });
}

void WindowRunView::SetBusy(bool busy) {
    Post([this, busy] { handlers_.busy(busy); });
}

void WindowRunView::ShowMessage(const std::string& text, const std::string& title,
                                MessageIcon icon) {
    if (unattended_.load()) {
        std::fprintf(stderr, "ferret: %s: %s\n", title.c_str(), EscapedText(text, true).c_str());
        Post([this, t = Q(text), c = Q(title), icon] { handlers_.notice(t, c, icon); });
        return;
    }
    if (window_.isNull()) {
        return;
    }
    const auto show = [this, t = Q(text), c = Q(title), icon] { handlers_.message(t, c, icon); };
    if (QThread::currentThread() == window_->thread()) {
        show();
    } else {
        // The run waits for the answer, as it would for a modal box.
        QMetaObject::invokeMethod(window_, show, Qt::BlockingQueuedConnection);
    }
}

void WindowRunView::ShowNotice(const UserMessage& message) {
    if (unattended_.load()) {
        std::fprintf(stderr, "ferret: %s: %s\n", message.title.c_str(),
                     EscapedText(message.text, true).c_str());
    }
    Post([this, t = Q(message.text), c = Q(message.title), icon = message.icon] {
        handlers_.notice(t, c, icon);
    });
}

void WindowRunView::AddMaskToList(const std::string& mask) {
    Post([this, t = Q(mask)] { handlers_.mask_to_list(t); });
}

void WindowRunView::AddSkipFoldersToList(const std::string& text) {
    Post([this, t = Q(text)] { handlers_.skip_folders_to_list(t); });
}

void WindowRunView::AddSearchToList(const std::string& text) {
    Post([this, t = Q(text)] { handlers_.search_to_list(t); });
}

void WindowRunView::SetReportText(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        report_text_ = text;
    }
    Post([this, t = Q(text)] { handlers_.report_text(t); });
}

const std::string& WindowRunView::ReportText() const {
    std::lock_guard lock(mutex_);
    return report_text_;
}

void WindowRunView::EnableReportMenus(bool enabled) {
    Post([this, enabled] { handlers_.report_menus(enabled); });
}

void WindowRunView::ShowReportView(ReportType report) {
    Post([this, report] { handlers_.report_view(report); });
}

void WindowRunView::StartFileStream(const std::string& start_folder, bool searched) {
    std::lock_guard lock(stream_mutex_);
    ++stream_generation_;
    stream_waiting_.clear();
    stream_posted_ = false;
    stream_folder_ = start_folder;
    stream_searched_ = searched;
}

void WindowRunView::StreamFile(FileRecord& file) {
    std::lock_guard lock(stream_mutex_);
    stream_waiting_.push_back(&file);
    if (stream_posted_) {
        return;  // the hand-off on its way takes this file too
    }
    stream_posted_ = true;
    const std::uint64_t generation = stream_generation_;
    PostAfter(stream_pace_.WaitMs(), [this, generation] { HandOnFiles(generation); });
}

void WindowRunView::HandOnFiles(std::uint64_t generation) {
    std::vector<FileRecord*> files;
    std::string folder;
    bool searched = false;
    bool more = false;
    {
        std::lock_guard taken(stream_mutex_);
        if (generation != stream_generation_) {
            return;  // the run's whole list, or a new run, came first
        }
        const auto count =
            static_cast<std::ptrdiff_t>(std::min(stream_waiting_.size(), kStreamChunk));
        files.assign(stream_waiting_.begin(), stream_waiting_.begin() + count);
        stream_waiting_.erase(stream_waiting_.begin(), stream_waiting_.begin() + count);
        more = !stream_waiting_.empty();
        stream_posted_ = more;
        stream_pace_.Went();
        folder = stream_folder_;
        searched = stream_searched_;
    }
    if (handlers_.stream_files) {
        handlers_.stream_files(std::move(files), folder, searched);
    }
    if (more) {
        // The rest at once, but after what else waits: the window answers in between.
        QTimer::singleShot(0, window_, [this, generation] { HandOnFiles(generation); });
    }
}

void WindowRunView::StartHitLines(std::shared_ptr<HitLineTable> table) {
    {
        std::lock_guard lock(stream_mutex_);
        ++lines_generation_;
        lines_waiting_.clear();
        lines_store_ = {};
        lines_posted_ = false;
        table->filling = true;
        filling_table_ = table;
    }
    Post([this, table] { handlers_.hit_lines(table); });
}

bool WindowRunView::StreamHitLines(const FileRecord& file, FileHits& hits) {
    std::lock_guard lock(stream_mutex_);
    if (!filling_table_) {
        return false;
    }
    lines_waiting_.push_back({&file, lines_store_.size(), hits.lines.size(), hits.binary, -1});
    lines_store_.Add(hits);
    hits = {};
    PostHitLines();
    return true;
}

void WindowRunView::StreamHitLinesDone(const FileRecord& file, std::int32_t hits) {
    std::lock_guard lock(stream_mutex_);
    if (filling_table_) {
        lines_waiting_.push_back({&file, 0, 0, false, hits});
        PostHitLines();
    }
}

void WindowRunView::PostHitLines() {
    if (lines_posted_) {
        return;  // the hand-off on its way takes these too
    }
    lines_posted_ = true;
    const std::uint64_t generation = lines_generation_;
    PostAfter(lines_pace_.WaitMs(), [this, generation] { TakeHitLines(generation); });
}

void WindowRunView::TakeHitLines(std::uint64_t generation) {
    std::vector<WaitingLines> taken;
    HitLineStore store;
    std::shared_ptr<HitLineTable> table;
    {
        std::lock_guard lock(stream_mutex_);
        if (generation != lines_generation_ || !filling_table_) {
            return;
        }
        lines_posted_ = false;
        lines_pace_.Went();
        taken.swap(lines_waiting_);
        store = std::exchange(lines_store_, {});
        table = filling_table_;
    }
    for (const WaitingLines& waiting : taken) {
        if (waiting.done >= 0) {
            table->SetHits(*waiting.file, waiting.done);
        } else {
            table->Add(*waiting.file, store, waiting.first, waiting.count, waiting.binary);
        }
    }
    if (handlers_.hit_lines_grew) {
        handlers_.hit_lines_grew();
    }
}

void WindowRunView::ShowFileList(FileListRows rows) {
    {
        std::lock_guard lock(stream_mutex_);
        ++stream_generation_;
        stream_waiting_.clear();
        stream_posted_ = false;
    }
    auto shared = std::make_shared<FileListRows>(std::move(rows));
    Post([this, shared] { handlers_.file_list(shared); });
}

void WindowRunView::ShowStructuredTree(StructuredTree tree) {
    auto shared = std::make_shared<StructuredTree>(std::move(tree));
    Post([this, shared] { handlers_.structured_tree(shared); });
}

void WindowRunView::ShowHitLines(std::shared_ptr<const HitLineTable> table) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(stream_mutex_);
        generation = lines_generation_;
    }
    Post([this, table = std::move(table), generation] {
        // The lines still on their way go in first; then the table is whole.
        TakeHitLines(generation);
        {
            std::lock_guard lock(stream_mutex_);
            if (generation == lines_generation_ && filling_table_) {
                filling_table_->filling = false;
                filling_table_.reset();
                ++lines_generation_;
            }
        }
        handlers_.hit_lines(table);
    });
}

void WindowRunView::OpenResultsGroup() {
    Post([this] { handlers_.results_group(); });
}

}  // namespace ferret
