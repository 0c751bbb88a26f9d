#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
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
    ~EarlySearch() { Finish(); }
    EarlySearch(const EarlySearch&) = delete;
    EarlySearch& operator=(const EarlySearch&) = delete;

    // From the walk's threads.
    void Listed(const std::vector<FileRecord*>& records);
    // Ends the workers once their current files are done; what is still queued is left to the
    // content stage. Called when the walk ends, before any record it told of may be dropped.
    void Finish();
    // After Finish: the count found for `record`, and what else was found in `found`.
    std::optional<std::int32_t> Take(const FileRecord* record, FileFound& found);

  private:
    struct Done {
        std::int32_t count = 0;
        FileFound found;
    };
    // Files are taken a few at a time: one hand-off per file would cost more than a small file.
    static constexpr std::size_t kTake = 16;
    // The hit lines held for the content stage before the early search leaves the rest to it,
    // which hands them on as it goes: memory stays the same however many files have hits.
    static constexpr std::size_t kHeldLines = 8192;

    void Work();

    const Search search_;
    RunControl& control_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::deque<FileRecord*> queue_;  // protected by mutex_
    bool finished_ = false;          // protected by mutex_
    std::size_t held_lines_ = 0;     // protected by mutex_
    std::atomic<bool> ending_{false};
    // Protected by mutex_ until Finish, then read by the content stage alone.
    std::unordered_map<const FileRecord*, Done> done_;
    std::vector<std::thread> threads_;
};

}  // namespace ferret
