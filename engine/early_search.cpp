#include "engine/early_search.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace ferret {
namespace {

// The hit lines a search's result holds, those of the files inside it and those set aside too
// (a spill holds its first lines in memory).
std::size_t HeldLines(const FileFound& found) {
    std::size_t lines = found.hits.lines.size();
    if (found.hits.spilled) {
        lines += found.hits.spilled->Lines();
    }
    for (const InnerFound& inner : found.inner) {
        lines += inner.hits.lines.size() + inner.spilled_lines;
    }
    return lines;
}

}  // namespace

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

void EarlySearch::Ordered(std::vector<std::unique_ptr<FileRecord>>& records) {
    std::lock_guard lock(mutex_);
    const bool was_empty = ordered_.empty();
    for (std::unique_ptr<FileRecord>& record : records) {
        ordered_.push_back(std::move(record));
    }
    work_.notify_all();
    if (was_empty) {
        WakeLead();
    }
}

void EarlySearch::WakeLead() {
    // Only when Lead waits and can go on: a wake-up per folder or batch would slow the walk.
    if (lead_waits_ && !ordered_.empty() && in_hand_.count(ordered_.front().get()) == 0) {
        lead_.notify_one();
    }
}

std::vector<std::unique_ptr<FileRecord>> EarlySearch::TakeNotLed() {
    std::lock_guard lock(mutex_);
    std::vector<std::unique_ptr<FileRecord>> rest;
    rest.reserve(ordered_.size());
    for (std::unique_ptr<FileRecord>& record : ordered_) {
        rest.push_back(std::move(record));
    }
    ordered_.clear();
    return rest;
}

void EarlySearch::Finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    ending_.store(true, std::memory_order_relaxed);
    queue_.clear();
    work_.notify_all();
    lead_.notify_all();
}

void EarlySearch::Join() {
    Finish();
    for (std::thread& thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

std::optional<std::int32_t> EarlySearch::Take(const FileRecord* record, FileFound& found) {
    std::unique_lock lock(mutex_);
    // A file a worker is still on is finished there, not searched twice.
    ++takers_;
    published_.wait(lock, [&] { return in_hand_.count(record) == 0; });
    --takers_;
    return TakeDone(record, found);
}

std::optional<std::int32_t> EarlySearch::TakeDone(const FileRecord* record, FileFound& found) {
    const auto done = done_.find(record);
    if (done == done_.end()) {
        return std::nullopt;
    }
    const std::int32_t count = done->second.count;
    found = std::move(done->second.found);
    done_.erase(done);
    const bool held_back = held_lines_ >= kHeldLines;
    held_lines_ -= std::min(held_lines_, HeldLines(found));
    if (held_back && held_lines_ < kHeldLines) {
        work_.notify_all();  // the workers wait for this
    }
    return count;
}

void EarlySearch::Lead(const Next& next) {
    // However Lead ends, the walk no longer waits for it.
    struct Gone {
        std::atomic<std::size_t>& taken;
        ~Gone() { taken.store(std::numeric_limits<std::size_t>::max()); }
    } gone{taken_};
    struct Taking {
        std::unique_ptr<FileRecord> record;
        std::optional<std::int32_t> count;
        FileFound found;
    };
    std::vector<Taking> taking;
    for (;;) {
        if (control_.StopPause()) {
            return;  // waits while paused; after a stop the content stage tells the rest
        }
        std::unique_lock lock(mutex_);
        while (!(finished_ || control_.Stopped() ||
                 (!ordered_.empty() && in_hand_.count(ordered_.front().get()) == 0))) {
            lead_waits_ = true;
            lead_.wait_for(lock, kLookEvery);  // a Stop wakes nobody
            lead_waits_ = false;
        }
        if (finished_ || control_.Stopped()) {
            return;
        }
        // The files searched already that come next, taken at once: one hand-off per file
        // would keep the workers waiting for the lock.
        taking.clear();
        while (!ordered_.empty() && taking.size() < kTake) {
            Taking& file = taking.emplace_back();
            file.count = TakeDone(ordered_.front().get(), file.found);
            if (!file.count && taking.size() > 1) {
                taking.pop_back();  // not searched yet: the next look, after these
                break;
            }
            file.record = std::move(ordered_.front());
            ordered_.pop_front();
            if (ordered_claimed_ > 0) {
                --ordered_claimed_;
            }
            if (!file.count) {
                break;  // left by the workers or not started: searched here, in its place
            }
        }
        lock.unlock();
        for (std::size_t i = 0; i < taking.size(); ++i) {
            if (control_.Stopped()) {
                // A stop ends the hand-off at once: the rest go back, in order, to the content
                // stage.
                const std::lock_guard relock(mutex_);
                for (std::size_t j = taking.size(); j-- > i;) {
                    ordered_.push_front(std::move(taking[j].record));
                    ++ordered_claimed_;  // Lead's: no worker takes them again
                }
                break;
            }
            Taking& file = taking[i];
            if (next(*file.record, file.count, file.found)) {
                kept_->AddUnique(std::move(file.record));
            }
            ++led_;
        }
        taken_.store(led_, std::memory_order_release);
    }
}

void EarlySearch::Work() {
    std::vector<FileRecord*> taken;
    std::vector<std::pair<const FileRecord*, Done>> results;
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] {
            return finished_ || (held_lines_ < kHeldLines &&
                                 (ordered_claimed_ < ordered_.size() || !queue_.empty()));
        });
        if (finished_) {
            return;
        }
        taken.clear();
        // The files next in the list first: Lead waits for them.
        while (taken.size() < kTake && ordered_claimed_ < ordered_.size()) {
            taken.push_back(ordered_[ordered_claimed_++].get());
        }
        if (taken.empty()) {
            const std::size_t count = std::min(kTake, queue_.size());
            taken.assign(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
        }
        in_hand_.insert(taken.begin(), taken.end());
        lock.unlock();
        std::size_t searched = 0;
        std::size_t published = 0;
        results.clear();
        // Hands on the files searched so far; mutex_ held.
        const auto publish = [&] {
            for (auto& [record, done] : results) {
                held_lines_ += HeldLines(done.found);
                done_.emplace(record, std::move(done));
            }
            results.clear();
            for (; published < searched; ++published) {
                Release(taken[published]);
            }
        };
        for (FileRecord* record : taken) {
            if (control_.StopPause()) {
                break;  // waits while paused; a stopped run searches nothing more
            }
            if (ending_.load(std::memory_order_relaxed)) {
                break;  // the content stage does the rest itself
            }
            Done done;
            if (const std::optional<std::int32_t> found = search_(*record, done.found)) {
                done.count = *found;
                results.emplace_back(record, std::move(done));
            }
            ++searched;
            // A long file next must not hold back those searched before it; when the lock is
            // busy, they go with the next file.
            if (lock.try_lock()) {
                publish();
                lock.unlock();
            }
        }
        lock.lock();
        publish();
        for (std::size_t i = searched; i < taken.size(); ++i) {
            Release(taken[i]);
        }
        WakeLead();
    }
}

void EarlySearch::Release(const FileRecord* record) {
    in_hand_.erase(record);
    if (takers_ > 0) {
        published_.notify_all();
    }
}

}  // namespace ferret
