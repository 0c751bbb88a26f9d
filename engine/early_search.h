#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/run_stage.h"

namespace ferret {

// Searches (or previews) files while the walk is still listing them, in the order the walk finds
// them, on workers of its own, so the walk and the search overlap. The content stage then takes
// each file's count in list order, searching itself only what was not searched yet.
class EarlySearch {
  public:
    // Returns the count of a file, or nothing to leave the file to the content stage.
    using Search = std::function<std::optional<std::int32_t>(FileRecord&, FileFound&)>;

    EarlySearch(unsigned workers, Search search, RunControl& control);
    ~EarlySearch() { Join(); }
    EarlySearch(const EarlySearch&) = delete;
    EarlySearch& operator=(const EarlySearch&) = delete;

    // What Lead hands each file to, in order: its count and what was found when it was searched
    // already, else nothing (the file is then searched by `next` itself). Returns whether the
    // file's record is kept (in Kept()); else it is let go.
    using Next = std::function<bool(FileRecord&, std::optional<std::int32_t> count, FileFound&)>;

    // From the walk's threads: files in the order the walk finds them, searched in that order
    // (after those told as ordered, which come first).
    void Listed(const std::vector<FileRecord*>& records);
    // From the walk's threads: the files of the list in their order, a part at a time, owned
    // from now on.
    void Ordered(std::vector<std::unique_ptr<FileRecord>>& records);
    // On the run's thread while the walk goes on: gives `next` the files told as ordered, one
    // after another, as soon as each is searched or may be searched by `next` itself (the
    // workers left it or have not started it). Returns once the walk ends or the run stops;
    // Led() files were taken.
    void Lead(const Next& next);
    std::size_t Led() const { return led_; }
    // How many files Lead is done with, for the walk to keep no more than a few ahead
    // (WalkControl::taken); the largest value once Lead has returned.
    const std::atomic<std::size_t>& Taken() const { return taken_; }
    // After Lead and Finish: the records Lead kept, in order, then those it did not reach.
    std::unique_ptr<FileRecords> TakeKept() { return std::move(kept_); }
    std::vector<std::unique_ptr<FileRecord>> TakeNotLed();
    // Starts no more files: what is not started is left to the content stage, which need not
    // wait for a worker still on a long file. Called when the walk ends.
    void Finish();
    // Finish, and waits for the workers to end: before any record they were told of is dropped.
    void Join();
    // After Finish: the count found for `record` (waiting for a worker still on it), and what
    // else was found in `found`.
    std::optional<std::int32_t> Take(const FileRecord* record, FileFound& found);

  private:
    struct Done {
        std::int32_t count = 0;
        FileFound found;
    };
    // Files are taken a few at a time: one hand-off per file would cost more than a small file.
    static constexpr std::size_t kTake = 16;
    // How often Lead looks for files to hand on when nothing woke it.
    static constexpr std::chrono::milliseconds kLookEvery{10};
    // Under mutex_: wakes Lead when it waits and the next file may be handed on.
    void WakeLead();
    // The hit lines held, for Lead or the content stage, before the workers wait for those to
    // be taken: memory stays the same however many files have hits.
    static constexpr std::size_t kHeldLines = 8192;

    void Work();
    // Under mutex_: gives up the count found for `record`, or nothing.
    std::optional<std::int32_t> TakeDone(const FileRecord* record, FileFound& found);
    // A worker is done with `record`; mutex_ held.
    void Release(const FileRecord* record);

    const Search search_;
    RunControl& control_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable lead_;
    std::condition_variable published_;  // a worker let go of a file
    int takers_ = 0;                     // waiting in Take; protected by mutex_
    std::deque<FileRecord*> queue_;      // protected by mutex_
    bool finished_ = false;              // protected by mutex_
    std::size_t held_lines_ = 0;         // protected by mutex_
    // Taken by a worker, not yet done or left.
    std::unordered_set<const FileRecord*> in_hand_;    // protected by mutex_
    std::deque<std::unique_ptr<FileRecord>> ordered_;  // not yet led; protected by mutex_
    // How many of ordered_'s first records a worker took (or Lead, after them); protected.
    std::size_t ordered_claimed_ = 0;
    std::size_t led_ = 0;      // by Lead's thread alone
    bool lead_waits_ = false;  // protected by mutex_
    std::atomic<std::size_t> taken_{0};
    std::unique_ptr<FileRecords> kept_ = std::make_unique<FileRecords>();  // Lead's thread
    std::atomic<bool> ending_{false};
    // Protected by mutex_ until Finish, then read by the content stage alone.
    std::unordered_map<const FileRecord*, Done> done_;
    std::vector<std::thread> threads_;
};

}  // namespace ferret
