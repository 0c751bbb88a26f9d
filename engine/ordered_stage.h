#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace ferret {

// Runs a per-file job for every file of a list on a few worker threads while the calling
// thread takes the results strictly in list order, so totals, progress texts and stopping
// behave as if the files were done one at a time.
struct OrderedStage {
    // Done on a worker thread for file `index`; returns the file's count.
    std::function<std::int32_t(std::size_t index)> process;
    // Done on the calling thread, in order; returning false ends the stage (no new file is
    // started after that).
    std::function<bool(std::size_t index, std::int32_t count)> take;
    // Asked by a worker before it starts a file: false holds it back (paused), and it asks
    // again when `Wake` is called.
    std::function<bool()> may_start;
    // When the stage ends early, files already started still finish; this receives, in order,
    // every file not taken: its count when it was done, nothing when it was not (work done
    // elsewhere meanwhile may still count). May be empty.
    std::function<void(std::size_t index, std::optional<std::int32_t> count)> take_after_end;
    unsigned workers = 2;
    // Files before this one were done elsewhere: the stage starts here.
    std::size_t start = 0;
    // How far the workers may run ahead of the results taken.
    std::size_t lookahead = 128;
    // Whether the calling thread works on files too while it waits for a result.
    bool caller_works = true;

    void Run(std::size_t total);
    // Tells held-back workers to ask `may_start` again. Safe from any thread.
    void Wake();
    // Whether every file before `index` is taken, `take` done with each: the worker on file
    // `index` may then hand on what it found while it goes on, as nothing else is handed on
    // before its count. Safe from any worker while Run runs.
    bool Leads(std::size_t index) const;
    // Waits until file `index` leads; false when the stage ended first. Never on the calling
    // thread (OnCallingThread): it takes the results that make a file lead.
    bool AwaitLead(std::size_t index);
    // Whether this is the thread that called Run.
    bool OnCallingThread() const;

  private:
    struct Shared;
    std::atomic<Shared*> shared_{nullptr};  // only while Run runs
    // Held while Wake uses `shared_` and while Run sets it: a Wake from another thread never
    // finds it gone under its hands.
    std::mutex wake_mutex_;
};

}  // namespace ferret
