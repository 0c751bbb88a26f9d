#include "engine/run_stage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/file_records.h"

namespace ferret {
namespace {

// The hit lines a sink is handed, by file, in the order they came.
class LineSink : public RunSink {
  public:
    void HitLines(std::size_t index, const FileRecord& /*file*/, FileHits hits) override {
        for (const HitLine& line : hits.lines) {
            got.emplace_back(index, line.number);
        }
    }
    std::vector<std::pair<std::size_t, std::int64_t>> got;
};

// A file that the stage's calling thread searches while an earlier one is not yet taken (the
// calling thread takes results only between its batches of files) cannot wait for it to lead:
// past the lines it may hold, they are set aside, and reach the sink after the earlier files',
// all of them and in order.
TEST(HitFlow, TheCallingThreadSetsLinesAsideUntilItsFileLeads) {
    constexpr std::int64_t kMany = 70000;
    constexpr std::size_t kFiles = 16;  // two batches: one for each thread
    FileRecords store;
    std::vector<FileRecord*> records;
    for (std::size_t i = 0; i < kFiles; ++i) {
        records.push_back(store.Add("f" + std::to_string(i) + ".txt", "/t/", "", 0));
    }
    OrderedStage stage;
    stage.workers = 2;  // the calling thread and one more
    LineSink sink;
    HitFlow flow(stage, sink, records);
    std::vector<FileHits> hits(records.size());
    ProblemBox problems;
    RunResult result;
    Delivery delivery(sink, result, records, problems, &hits, nullptr, &flow);
    std::atomic<int> caller_files{0};
    std::atomic<int> big{-1};
    std::atomic<bool> set_aside{false};
    stage.process = [&](std::size_t index) -> std::int32_t {
        FileHits& found = hits[index];
        found.text_from = 0;
        // The calling thread's second file, behind its first, which is not taken yet.
        if (!stage.OnCallingThread() || caller_files.fetch_add(1) != 1) {
            // Slow enough that each thread gets a batch.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            found.lines.push_back({1, 1, 1, "x"});
            return 1;
        }
        big = static_cast<int>(index);
        for (std::int64_t number = 1; number <= kMany; ++number) {
            found.lines.push_back({number, 1, 1, "x"});
            if (found.lines.size() >= kHitLinesAtOnce && !flow.Flush(index, found)) {
                return kHitsLeft;
            }
        }
        set_aside = found.spilled != nullptr;
        return static_cast<std::int32_t>(kMany);
    };
    stage.take = [&](std::size_t index, std::int32_t count) {
        delivery.Deliver(index, count);
        return true;
    };
    stage.Run(records.size());
    ASSERT_GE(big.load(), 0);
    EXPECT_TRUE(set_aside.load());
    ASSERT_EQ(sink.got.size(), static_cast<std::size_t>(kMany) + kFiles - 1);
    std::int64_t next = 1;
    for (std::size_t at = 0; at < sink.got.size(); ++at) {
        if (at > 0) {
            ASSERT_LE(sink.got[at - 1].first, sink.got[at].first) << at;
        }
        if (static_cast<int>(sink.got[at].first) == big.load()) {
            ASSERT_EQ(sink.got[at].second, next++) << at;
        }
    }
    EXPECT_EQ(next, kMany + 1);
}

}  // namespace
}  // namespace ferret
