#include "engine/ordered_stage.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ferret {
namespace {

// Files are claimed this many at a time.
constexpr std::size_t kChunk = 8;

}  // namespace

// Files are claimed a few at a time with one atomic step, and the results are published file by
// file without a lock: a hand-off through a lock per file costs more than searching a small
// file. The calling thread searches too whenever the next result is not ready, so it seldom
// sleeps.
struct OrderedStage::Shared {
    enum class Claim { kGot, kNone, kTooFar };

    Shared(const OrderedStage& of, std::size_t files)
        : stage(of),
          total(files),
          counts(files, 0),
          ready(new std::atomic<std::uint8_t>[std::max<std::size_t>(files, 1)]),
          next(std::min(of.start, files)),
          taken(next.load()),
          done(next.load()) {
        for (std::size_t i = 0; i < total; ++i) {
            ready[i].store(0, std::memory_order_relaxed);
        }
    }

    Claim ClaimFiles(std::size_t& first, std::size_t& last) {
        std::size_t from = next.load(std::memory_order_relaxed);
        do {
            if (from >= total || finished.load(std::memory_order_acquire)) {
                return Claim::kNone;
            }
            if (from >= taken.load(std::memory_order_acquire) + stage.lookahead) {
                return Claim::kTooFar;
            }
            last = std::min(from + kChunk, total);
        } while (!next.compare_exchange_weak(from, last, std::memory_order_acq_rel));
        first = from;
        return Claim::kGot;
    }

    template <typename Until>
    void Hold(const Until& until) {
        std::unique_lock lock(mutex);
        held.fetch_add(1);
        changed.wait(lock, [&] { return finished.load() || until(); });
        held.fetch_sub(1);
    }

    // Does the files [first, last) unless the stage ends meanwhile.
    void WorkOn(std::size_t first, std::size_t last) {
        for (std::size_t index = first; index < last; ++index) {
            if (stage.may_start && !stage.may_start()) {
                Hold([&] { return stage.may_start(); });
            }
            if (finished.load(std::memory_order_acquire)) {
                return;
            }
            counts[index] = stage.process(index);
            ready[index].store(1, std::memory_order_release);
            ready[index].notify_one();
        }
    }

    // A worker thread's life.
    void Work() {
        for (;;) {
            std::size_t first = 0;
            std::size_t last = 0;
            switch (ClaimFiles(first, last)) {
                case Claim::kNone:
                    return;
                case Claim::kTooFar: {
                    const std::size_t waiting_for = next.load();
                    Hold([&] { return waiting_for < taken.load() + stage.lookahead; });
                    break;
                }
                case Claim::kGot:
                    WorkOn(first, last);
                    break;
            }
        }
    }

    // On the calling thread: waits for the result of file `index`, working on other files
    // meanwhile, and marks it taken.
    void AwaitResult(std::size_t index) {
        while (ready[index].load(std::memory_order_acquire) == 0) {
            std::size_t first = 0;
            std::size_t last = 0;
            if (stage.caller_works && ClaimFiles(first, last) == Claim::kGot) {
                WorkOn(first, last);
            } else {
                ready[index].wait(0, std::memory_order_acquire);
            }
        }
        taken.store(index + 1);  // seq_cst: ordered before the look at `held`
        if (held.load() > 0) {
            std::lock_guard lock(mutex);
            changed.notify_all();
        }
    }

    // No new file is started after this.
    void Finish() {
        std::lock_guard lock(mutex);
        finished.store(true, std::memory_order_release);
        changed.notify_all();
    }

    std::optional<std::int32_t> CountOf(std::size_t index) const {
        return ready[index].load(std::memory_order_acquire) != 0
                   ? std::optional<std::int32_t>(counts[index])
                   : std::nullopt;
    }

    const OrderedStage& stage;
    const std::size_t total;
    std::vector<std::int32_t> counts;
    const std::unique_ptr<std::atomic<std::uint8_t>[]> ready;
    std::atomic<std::size_t> next;      // the first file nobody has claimed
    std::atomic<std::size_t> taken;     // results taken so far
    std::atomic<std::size_t> done;      // results `take` is done with
    std::atomic<bool> finished{false};  // no new file is started
    // Only for the slow paths: a pause, and workers that ran as far ahead as they may.
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<int> held{0};  // workers waiting on `changed`
};

bool OrderedStage::Leads(std::size_t index) const {
    const Shared* shared = shared_;
    return shared != nullptr && shared->done.load(std::memory_order_acquire) == index;
}

namespace {

// The stage whose Run this thread is in, if any.
thread_local const OrderedStage* t_running = nullptr;

}  // namespace

bool OrderedStage::OnCallingThread() const {
    return t_running == this;
}

bool OrderedStage::AwaitLead(std::size_t index) {
    Shared* shared = shared_;
    if (shared == nullptr) {
        return false;
    }
    shared->Hold([&] { return shared->done.load() == index; });
    return shared->done.load() == index;
}

void OrderedStage::Wake() {
    const std::lock_guard wake_lock(wake_mutex_);
    if (Shared* shared = shared_.load()) {
        std::lock_guard lock(shared->mutex);
        shared->changed.notify_all();
    }
}

void OrderedStage::Run(std::size_t total) {
    Shared shared(*this, total);
    std::vector<std::thread> threads;
    {
        const std::lock_guard wake_lock(wake_mutex_);
        shared_.store(&shared);
    }
    const OrderedStage* const outer = t_running;
    t_running = this;
    const auto stop_workers = [&] {
        shared.Finish();
        for (std::thread& thread : threads) {
            thread.join();
        }
        threads.clear();
        {
            const std::lock_guard wake_lock(wake_mutex_);
            shared_.store(nullptr);
        }
        t_running = outer;
    };
    try {
        // The calling thread is one of the workers, unless it only takes results.
        for (unsigned i = caller_works ? 1 : 0; i < std::max(workers, 1u); ++i) {
            threads.emplace_back([&shared] { shared.Work(); });
        }
        std::size_t index = shared.done.load();
        for (; index < total; ++index) {
            shared.AwaitResult(index);
            const bool go_on = take(index, shared.counts[index]);
            shared.done.store(index + 1);  // seq_cst: ordered before the look at `held`
            if (shared.held.load() > 0) {
                std::lock_guard lock(shared.mutex);
                shared.changed.notify_all();
            }
            if (!go_on) {
                ++index;
                break;
            }
        }
        stop_workers();
        if (take_after_end) {
            for (; index < total; ++index) {
                take_after_end(index, shared.CountOf(index));
            }
        }
    } catch (...) {
        stop_workers();
        throw;
    }
}

}  // namespace ferret
