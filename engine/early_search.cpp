#include "engine/early_search.h"

#include <algorithm>
#include <utility>

namespace ferret {

EarlySearch::EarlySearch(unsigned workers, Search search, RunControl& control)
    : search_(std::move(search)), control_(control) {
    for (unsigned i = 0; i < workers; ++i) {
        threads_.emplace_back([this] { Work(); });
    }
}

void EarlySearch::Listed(const std::vector<FileRecord*>& records) {
    std::lock_guard lock(mutex_);
    if (finished_) {
        return;
    }
    queue_.insert(queue_.end(), records.begin(), records.end());
    work_.notify_all();
}

void EarlySearch::Ordered(const std::vector<FileRecord*>& records) {
    std::lock_guard lock(mutex_);
    if (finished_) {
        return;
    }
    ordered_.insert(ordered_.end(), records.begin(), records.end());
}

void EarlySearch::Finish() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        ending_.store(true, std::memory_order_relaxed);
        queue_.clear();
        ordered_.clear();
        work_.notify_all();
        lead_.notify_all();
    }
    for (std::thread& thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

std::optional<std::int32_t> EarlySearch::Take(const FileRecord* record, FileFound& found) {
    const auto done = done_.find(record);
    if (done == done_.end()) {
        return std::nullopt;
    }
    found = std::move(done->second.found);
    return done->second.count;
}

std::optional<std::int32_t> EarlySearch::TakeDone(const FileRecord* record, FileFound& found) {
    const auto done = done_.find(record);
    if (done == done_.end()) {
        return std::nullopt;
    }
    const std::int32_t count = done->second.count;
    found = std::move(done->second.found);
    done_.erase(done);
    held_lines_ -= std::min(held_lines_, found.hits.lines.size());
    work_.notify_all();
    return count;
}

void EarlySearch::Lead(const Next& next) {
    for (;;) {
        if (control_.StopPause()) {
            return;  // waits while paused; after a stop the content stage tells the rest
        }
        std::unique_lock lock(mutex_);
        // Woken only at the end: a look now and then tells files soon enough to be seen as they
        // are found, and a wake-up per folder or file would slow the walk.
        while (!(finished_ || control_.Stopped() ||
                 (!ordered_.empty() && in_hand_.count(ordered_.front()) == 0))) {
            lead_.wait_for(lock, kLookEvery);
        }
        if (finished_ || control_.Stopped()) {
            return;
        }
        FileRecord* const record = ordered_.front();
        ordered_.pop_front();
        FileFound found;
        const std::optional<std::int32_t> count = TakeDone(record, found);
        if (!count) {
            // Left by the workers or not started: searched here, in its place.
            const auto queued = std::find(queue_.begin(), queue_.end(), record);
            if (queued != queue_.end()) {
                queue_.erase(queued);
            }
        }
        lock.unlock();
        next(*record, count, found);
        ++led_;
    }
}

void EarlySearch::Work() {
    std::vector<FileRecord*> taken;
    std::vector<std::pair<const FileRecord*, Done>> results;
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock,
                   [this] { return finished_ || (!queue_.empty() && held_lines_ < kHeldLines); });
        if (finished_) {
            return;
        }
        const std::size_t count = std::min(kTake, queue_.size());
        taken.assign(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
        in_hand_.insert(taken.begin(), taken.end());
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
            held_lines_ += done.found.hits.lines.size();
            done_.emplace(record, std::move(done));
        }
        for (const FileRecord* record : taken) {
            in_hand_.erase(record);
        }
    }
}

}  // namespace ferret
