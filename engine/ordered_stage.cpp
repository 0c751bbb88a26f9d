#include "engine/ordered_stage.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ferret {

struct OrderedStage::Shared {
    // Only for the slow paths: a pause, and workers that ran as far ahead as they may.
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<int> held{0};  // workers waiting on `changed`
};

void OrderedStage::Wake() {
    if (Shared* shared = shared_) {
        std::lock_guard lock(shared->mutex);
        shared->changed.notify_all();
    }
}

void OrderedStage::Run(std::size_t total) {
    // Files are claimed a few at a time with one atomic step, and the results are published
    // file by file without a lock: a hand-off through a lock per file costs more than searching
    // a small file. The calling thread searches too whenever the next result is not ready, so it
    // seldom sleeps.
    constexpr std::size_t kChunk = 8;
    Shared shared;
    std::vector<std::int32_t> counts(total, 0);
    const std::unique_ptr<std::atomic<std::uint8_t>[]> ready(
        new std::atomic<std::uint8_t>[std::max<std::size_t>(total, 1)]);
    for (std::size_t i = 0; i < total; ++i) {
        ready[i].store(0, std::memory_order_relaxed);
    }
    std::atomic<std::size_t> next{0};   // the first file nobody has claimed
    std::atomic<std::size_t> taken{0};  // results taken so far
    std::atomic<bool> finished{false};  // no new file is started

    enum class Claim { kGot, kNone, kTooFar };
    const auto claim = [&](std::size_t& first, std::size_t& last) {
        std::size_t from = next.load(std::memory_order_relaxed);
        do {
            if (from >= total || finished.load(std::memory_order_acquire)) {
                return Claim::kNone;
            }
            if (from >= taken.load(std::memory_order_acquire) + lookahead) {
                return Claim::kTooFar;
            }
            last = std::min(from + kChunk, total);
        } while (!next.compare_exchange_weak(from, last, std::memory_order_acq_rel));
        first = from;
        return Claim::kGot;
    };
    const auto hold = [&](const auto& until) {
        std::unique_lock lock(shared.mutex);
        shared.held.fetch_add(1);
        shared.changed.wait(lock, [&] { return finished.load() || until(); });
        shared.held.fetch_sub(1);
    };
    // Does the files [first, last) unless the stage ends meanwhile.
    const auto work_on = [&](std::size_t first, std::size_t last) {
        for (std::size_t index = first; index < last; ++index) {
            if (may_start && !may_start()) {
                hold([&] { return may_start(); });
            }
            if (finished.load(std::memory_order_acquire)) {
                return;
            }
            counts[index] = process(index);
            ready[index].store(1, std::memory_order_release);
            ready[index].notify_one();
        }
    };
    const auto work = [&] {
        for (;;) {
            std::size_t first = 0;
            std::size_t last = 0;
            switch (claim(first, last)) {
                case Claim::kNone:
                    return;
                case Claim::kTooFar: {
                    const std::size_t waiting_for = next.load();
                    hold([&] { return waiting_for < taken.load() + lookahead; });
                    break;
                }
                case Claim::kGot:
                    work_on(first, last);
                    break;
            }
        }
    };

    std::vector<std::thread> threads;
    shared_ = &shared;
    const auto stop_workers = [&] {
        {
            std::lock_guard lock(shared.mutex);
            finished.store(true, std::memory_order_release);
            shared.changed.notify_all();
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        threads.clear();
        shared_ = nullptr;
    };
    try {
        // The calling thread is one of the workers.
        for (unsigned i = 1; i < std::max(workers, 1u); ++i) {
            threads.emplace_back(work);
        }
        std::size_t index = 0;
        for (; index < total; ++index) {
            while (ready[index].load(std::memory_order_acquire) == 0) {
                std::size_t first = 0;
                std::size_t last = 0;
                if (claim(first, last) == Claim::kGot) {
                    work_on(first, last);
                } else {
                    ready[index].wait(0, std::memory_order_acquire);
                }
            }
            taken.store(index + 1);  // seq_cst: ordered before the look at `held`
            if (shared.held.load() > 0) {
                std::lock_guard lock(shared.mutex);
                shared.changed.notify_all();
            }
            if (!take(index, counts[index])) {
                ++index;
                break;
            }
        }
        stop_workers();
        if (take_after_end) {
            for (; index < total; ++index) {
                take_after_end(index, ready[index].load(std::memory_order_acquire) != 0
                                          ? std::optional<std::int32_t>(counts[index])
                                          : std::nullopt);
            }
        }
    } catch (...) {
        stop_workers();
        throw;
    }
}

}  // namespace ferret
