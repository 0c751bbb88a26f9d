#include "engine/ordered_stage.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace ferret {

struct OrderedStage::Shared {
    std::mutex mutex;
    std::condition_variable result_ready;    // for the calling thread
    std::condition_variable work_available;  // for the workers
};

void OrderedStage::Wake() {
    if (Shared* shared = shared_) {
        std::lock_guard lock(shared->mutex);
        shared->work_available.notify_all();
    }
}

void OrderedStage::Run(std::size_t total) {
    constexpr std::size_t kNobody = static_cast<std::size_t>(-1);
    // The calling thread sleeps until a batch of counts is ready, not file by file: waking up
    // for every small file would cost more than searching it.
    constexpr std::size_t kBatch = 32;
    Shared shared;
    std::vector<std::int32_t> counts(total, 0);
    std::vector<char> ready(total, 0);  // protected by shared.mutex
    std::size_t next = 0;               // protected: the next file a worker takes
    std::size_t taken = 0;              // protected: results taken so far
    std::size_t awaited = kNobody;      // protected: the last file of the batch waited for
    bool finished = false;              // protected: no new file is started

    const auto work = [&] {
        std::unique_lock lock(shared.mutex);
        for (;;) {
            while (!finished &&
                   (next >= total || next >= taken + lookahead || (may_start && !may_start()))) {
                if (next >= total) {
                    return;
                }
                shared.work_available.wait(lock);
            }
            if (finished) {
                return;
            }
            const std::size_t index = next++;
            lock.unlock();
            const std::int32_t count = process(index);
            lock.lock();
            counts[index] = count;
            ready[index] = 1;
            // Wake the taker when its batch is complete, when it waits for a file that held
            // the batch up, or when nothing more can come.
            if (awaited != kNobody && (index == awaited || ready[awaited] != 0 || next >= total ||
                                       next >= taken + lookahead)) {
                shared.result_ready.notify_one();
            }
        }
    };

    std::vector<std::thread> threads;
    shared_ = &shared;
    const auto stop_workers = [&] {
        {
            std::lock_guard lock(shared.mutex);
            finished = true;
            shared.work_available.notify_all();
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        threads.clear();
        shared_ = nullptr;
    };
    try {
        for (unsigned i = 0; i < std::max(workers, 1u); ++i) {
            threads.emplace_back(work);
        }
        std::size_t index = 0;
        for (; index < total; ++index) {
            std::int32_t count;
            {
                std::unique_lock lock(shared.mutex);
                if (ready[index] == 0) {
                    awaited = std::min(index + kBatch, total) - 1;
                    shared.result_ready.wait(lock, [&] { return ready[index] != 0; });
                    awaited = kNobody;
                }
                count = counts[index];
                taken = index + 1;
                shared.work_available.notify_all();
            }
            if (!take(index, count)) {
                ++index;
                break;
            }
        }
        stop_workers();
        if (take_after_end) {
            for (; index < total; ++index) {
                if (ready[index] != 0) {
                    take_after_end(index, counts[index]);
                }
            }
        }
    } catch (...) {
        stop_workers();
        throw;
    }
}

}  // namespace ferret
