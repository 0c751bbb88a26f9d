#pragma once

#include <QPointer>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/run_view.h"

class QObject;

namespace ferret {

// The run's view of the main window. A run works on a thread of its own; every call here is
// handed to the window's thread (queued, so the run never waits for the window), except a
// message box, which the run waits for as a modal box would make it, unless the run is
// unattended.
class WindowRunView : public RunView {
  public:
    struct Handlers {
        std::function<void(StatusPanel panel, const QString& text)> status;
        std::function<void(const QString& text, bool append)> run_log;
        std::function<void(bool running)> running;
        std::function<void(bool busy)> busy;
        std::function<void(const QString& text, const QString& title, MessageIcon icon)> message;
        // Shows a message without waiting for it to be answered.
        std::function<void(const QString& text, const QString& title, MessageIcon icon)> notice;
        std::function<void(const QString& text)> mask_to_list;
        std::function<void(const QString& text)> skip_folders_to_list;
        std::function<void(const QString& text)> search_to_list;
        std::function<void(const QString& text)> report_text;
        std::function<void(bool enabled)> report_menus;
        std::function<void(ReportType report)> report_view;
        std::function<void()> results_group;
        std::function<void(std::shared_ptr<FileListRows> rows)> file_list;
        // Files for the list that fills while the run goes, with the folder the rows are shown
        // against and whether files without hits are left out.
        std::function<void(std::vector<FileRecord*> files, const std::string& start_folder,
                           bool searched)>
            stream_files;
        std::function<void(std::shared_ptr<StructuredTree> tree)> structured_tree;
        std::function<void(std::shared_ptr<const HitLineTable> table)> hit_lines;
        // The table shown grew (it fills while the run goes).
        std::function<void()> hit_lines_grew;
        std::function<void(std::size_t done, std::size_t total)> progress;
    };

    WindowRunView(QObject* window, Handlers handlers);

    // An unattended run that ends the program (-x) may have nobody to answer a box, and must not
    // wait for one to end: its messages also go to standard error and their boxes do not block.
    void SetUnattended(bool unattended) { unattended_.store(unattended); }
    bool Unattended() const { return unattended_.load(); }

    void SetStatusText(StatusPanel panel, const std::string& text) override;
    // At most kProgressInterval apart; the latest text is the one shown.
    void ShowProgress(const std::string& text) override;
    void ShowProgressCount(std::size_t done, std::size_t total) override;
    void SetRunLog(const std::string& text) override;
    void AppendRunLog(const std::string& text) override;
    void SetRunning(bool running) override;
    void SetBusy(bool busy) override;
    void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
    void ShowNotice(const UserMessage& message) override;
    void AddMaskToList(const std::string& mask) override;
    void AddSkipFoldersToList(const std::string& text) override;
    void AddSearchToList(const std::string& text) override;
    void SetReportText(const std::string& text) override;
    const std::string& ReportText() const override;
    void EnableReportMenus(bool enabled) override;
    void ShowReportView(ReportType report) override;
    void OpenResultsGroup() override;
    bool HasReportViews() const override { return true; }
    void ShowFileList(FileListRows rows) override;
    void StartFileStream(const std::string& start_folder, bool searched) override;
    // Handed to the window at most kStreamInterval apart, in list order.
    void StreamFile(FileRecord& file) override;
    void StartHitLines(std::shared_ptr<HitLineTable> table) override;
    bool StreamHitLines(const FileRecord& file, FileHits& hits) override;
    void StreamHitLinesDone(const FileRecord& file, std::int32_t hits) override;
    void ShowStructuredTree(StructuredTree tree) override;
    void ShowHitLines(std::shared_ptr<const HitLineTable> table) override;

  private:
    // Hand-offs to the window at most an interval apart; the first after a quiet spell goes at
    // once, so the first rows of a run show as soon as they are found.
    class Pace {
      public:
        explicit Pace(std::chrono::milliseconds interval) : interval_(interval) {}
        // How long the next hand-off waits, from now.
        int WaitMs() const;
        // A hand-off went now.
        void Went() { last_ = std::chrono::steady_clock::now(); }

      private:
        const std::chrono::milliseconds interval_;
        std::chrono::steady_clock::time_point last_{};
    };

    // Runs `call` on the window's thread: at once when already there, else queued.
    void Post(std::function<void()> call) const;
    // Runs `call` on the window's thread after `wait_ms`.
    void PostAfter(int wait_ms, std::function<void()> call) const;

    QPointer<QObject> window_;
    Handlers handlers_;
    std::atomic<bool> unattended_{false};
    mutable std::mutex mutex_;
    std::string report_text_;  // protected by mutex_

    // A window shows no more than about 20 progress texts a second: more would only keep its
    // thread busy while the run waits for nothing.
    static constexpr std::chrono::milliseconds kProgressInterval{50};
    std::mutex progress_mutex_;
    QString progress_text_;                  // protected by progress_mutex_: the latest text
    std::size_t progress_done_ = 0;          // protected: the latest count
    std::size_t progress_total_ = 0;         // protected
    bool progress_posted_ = false;           // protected: an update is on its way
    std::uint64_t progress_generation_ = 0;  // protected: panel 1 texts set since
    Pace progress_pace_{kProgressInterval};  // protected

    // Files reach the list in batches: one hand-off a file would keep the window busy, and a
    // tenth of a second is still "as they are found".
    static constexpr std::chrono::milliseconds kStreamInterval{100};
    std::mutex stream_mutex_;
    // Each row reads its file's type: a few hundred rows at a time keep the window answering.
    static constexpr std::size_t kStreamChunk = 256;
    // Hands on the next files waiting, on the window's thread; nothing when `generation` is past.
    void HandOnFiles(std::uint64_t generation);
    std::deque<FileRecord*> stream_waiting_;  // protected by stream_mutex_
    bool stream_posted_ = false;              // protected: a hand-off is on its way
    Pace stream_pace_{kStreamInterval};       // protected
    // Protected: StartFileStream and ShowFileList make what is on its way out of date.
    std::uint64_t stream_generation_ = 0;
    std::string stream_folder_;     // protected
    bool stream_searched_ = false;  // protected

    // Hit lines on their way to the table the window fills, in the order they came, kept by
    // their places (lines_store_) so that millions on their way take little room; an entry
    // without lines and with a count tells that its file is done.
    struct WaitingLines {
        const FileRecord* file = nullptr;
        std::size_t first = 0;  // its lines in lines_store_
        std::size_t count = 0;
        bool binary = false;
        std::int32_t done = -1;  // the file's hits once it is done
    };
    // Adds what waits to the table, on the window's thread; nothing when `generation` is past.
    void TakeHitLines(std::uint64_t generation);
    void PostHitLines();                           // with stream_mutex_ held
    std::vector<WaitingLines> lines_waiting_;      // protected by stream_mutex_
    HitLineStore lines_store_;                     // protected by stream_mutex_
    bool lines_posted_ = false;                    // protected
    Pace lines_pace_{kStreamInterval};             // protected
    std::uint64_t lines_generation_ = 0;           // protected
    std::shared_ptr<HitLineTable> filling_table_;  // protected: the table filled, if any
};

}  // namespace ferret
