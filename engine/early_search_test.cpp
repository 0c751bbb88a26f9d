#include "engine/early_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ferret {
namespace {

std::vector<std::unique_ptr<FileRecord>> MakeRecords(int count) {
    std::vector<std::unique_ptr<FileRecord>> records;
    for (int i = 0; i < count; ++i) {
        records.push_back(std::make_unique<FileRecord>());
        records.back()->SetFilename((i % 7 == 3 ? "left" : "file") + std::to_string(i));
        records.back()->SetRootPath(std::string("/nowhere/"));
    }
    return records;
}

std::vector<FileRecord*> Part(const std::vector<std::unique_ptr<FileRecord>>& records,
                              std::size_t first, std::size_t last) {
    std::vector<FileRecord*> part;
    for (std::size_t i = first; i < last; ++i) {
        part.push_back(records[i].get());
    }
    return part;
}

// Hands the records [first, last) over in order.
void Order(EarlySearch& early, std::vector<std::unique_ptr<FileRecord>>& records, std::size_t first,
           std::size_t last) {
    std::vector<std::unique_ptr<FileRecord>> part;
    for (std::size_t i = first; i < last; ++i) {
        part.push_back(std::move(records[i]));
    }
    early.Ordered(part);
}

std::vector<std::string> Names(const FileRecords& records) {
    std::vector<std::string> names;
    for (const FileRecord& record : records) {
        names.push_back(record.Filename());
    }
    return names;
}

// The walk settles the list's order a part at a time; Lead hands
// the files on in the list's order, each once, whether a worker searched it, the worker left it
// (a "left" file: an office document, one with many lines) or nobody had started it, and keeps
// the records it is asked to keep. Each file the workers search holds many lines: they must wait
// for Lead to take them, not stop.
TEST(EarlySearch, LeadHandsOnEveryFileInListOrderOnce) {
    constexpr int kFiles = 300;
    auto records = MakeRecords(kFiles);
    std::vector<std::string> expected;
    std::vector<std::string> expected_kept;
    for (const auto& record : records) {
        expected.push_back(record->Filename());
        if (record->Filename().rfind("file", 0) == 0) {
            expected_kept.push_back(record->Filename());
        }
    }
    RunControl control;
    std::atomic<int> taken{0};
    EarlySearch early(
        1,
        [](FileRecord& record, FileFound& found) -> std::optional<std::int32_t> {
            if (record.Filename().rfind("left", 0) == 0) {
                return std::nullopt;
            }
            found.hits.lines.resize(1000);
            return 2;
        },
        control);
    std::thread walk([&] {
        // Ordered with pauses between parts.
        for (std::size_t first = 0; first < kFiles; first += 60) {
            Order(early, records, first, std::min<std::size_t>(first + 60, kFiles));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // Lead takes what is ordered before the walk ends.
        while (taken.load() < kFiles) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        early.Finish();
    });
    std::vector<std::string> got;
    int searched_here = 0;
    early.Lead([&](FileRecord& record, std::optional<std::int32_t> count, FileFound& found) {
        ++taken;
        if (!count) {
            ++searched_here;
        } else {
            EXPECT_EQ(*count, 2);
            EXPECT_EQ(found.hits.lines.size(), 1000u);
        }
        got.push_back(record.Filename());
        return record.Filename().rfind("file", 0) == 0;  // the left ones are let go
    });
    walk.join();
    EXPECT_EQ(got, expected);
    EXPECT_EQ(early.Led(), static_cast<std::size_t>(kFiles));
    EXPECT_EQ(early.Taken().load(), std::numeric_limits<std::size_t>::max()) << "the walk waits";
    EXPECT_EQ(Names(*early.TakeKept()), expected_kept);
    EXPECT_TRUE(early.TakeNotLed().empty());
    // Every left file at least was searched by Lead's own thread.
    EXPECT_GE(searched_here, kFiles / 7);
}

// A stop ends Lead at once, and the walk's end ends it when nothing more is ordered; what it did
// not take is left to the content stage.
TEST(EarlySearch, LeadEndsWithAStopOrTheWalk) {
    auto records = MakeRecords(10);
    RunControl control;
    {
        EarlySearch early(
            1, [&](FileRecord&, FileFound&) -> std::optional<std::int32_t> { return 1; }, control);
        Order(early, records, 0, 4);
        int taken = 0;
        early.Lead([&](FileRecord&, std::optional<std::int32_t>, FileFound&) {
            if (++taken == 2) {
                control.Stop();
            }
            return true;
        });
        early.Finish();
        EXPECT_EQ(early.Led(), 2u);
        EXPECT_EQ(Names(*early.TakeKept()), (std::vector<std::string>{"file0", "file1"}));
        // The rest, in order, for the content stage.
        const auto rest = early.TakeNotLed();
        ASSERT_EQ(rest.size(), 2u);
        EXPECT_EQ(rest[0]->Filename(), "file2");
        EXPECT_EQ(rest[1]->Filename(), "left3");
    }
    control.Reset(false);
    records = MakeRecords(10);
    const std::vector<FileRecord*> again = Part(records, 0, 10);
    EarlySearch early(
        1, [](FileRecord&, FileFound&) -> std::optional<std::int32_t> { return 1; }, control);
    Order(early, records, 0, 3);
    std::thread walk([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        early.Finish();
    });
    early.Lead([](FileRecord&, std::optional<std::int32_t>, FileFound&) { return true; });
    walk.join();
    EXPECT_EQ(early.Led(), 3u);
    // What Lead took is not the content stage's again.
    FileFound found;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(early.Take(again[i], found).has_value()) << i;
    }
    EXPECT_EQ(early.TakeKept()->Count(), 3);
}

// A worker on a long file holds back neither the files it searched before it nor the content
// stage: the walk's end does not wait for it, the files before it are there to take, and only the
// long file's own turn waits for its count.
TEST(EarlySearch, ALongFileHoldsBackOnlyItself) {
    auto records = MakeRecords(6);
    records[5]->SetFilename("long");
    const std::vector<FileRecord*> raw = Part(records, 0, 6);
    RunControl control;
    std::mutex mutex;
    std::condition_variable changed;
    bool on_long = false;
    bool let_go = false;
    EarlySearch early(
        1,
        [&](FileRecord& record, FileFound&) -> std::optional<std::int32_t> {
            if (record.Filename() != "long") {
                return 1;
            }
            std::unique_lock lock(mutex);
            on_long = true;
            changed.notify_all();
            changed.wait(lock, [&] { return let_go; });
            return 7;
        },
        control);
    const auto release = [&] {
        std::lock_guard lock(mutex);
        let_go = true;
        changed.notify_all();
    };
    Order(early, records, 0, 6);  // one worker takes them all at once
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return on_long; });
    }
    auto finished = std::async(std::launch::async, [&] { early.Finish(); });
    if (finished.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        release();
        FAIL() << "the walk's end waited for the long file";
    }
    const auto rest = early.TakeNotLed();
    ASSERT_EQ(rest.size(), 6u);
    FileFound found;
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(early.Take(raw[i], found), 1) << i;
    }
    auto long_count = std::async(std::launch::async, [&] {
        FileFound its;
        return early.Take(raw[5], its);
    });
    EXPECT_EQ(long_count.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
        << "the long file was taken before its worker was done";
    release();
    EXPECT_EQ(long_count.get(), 7);
    early.Join();
}

// The hit lines of the files found inside a file count to what the workers may hold: a file
// whose entries hold many lines holds the workers back until it is taken.
TEST(EarlySearch, LinesOfFilesInsideAFileHoldTheWorkersBack) {
    auto records = MakeRecords(5);
    const std::vector<FileRecord*> raw = Part(records, 0, 5);
    RunControl control;
    std::atomic<int> searched{0};
    EarlySearch early(
        1,
        [&](FileRecord&, FileFound& found) -> std::optional<std::int32_t> {
            found.inner.emplace_back().hits.lines.resize(9000);  // more than may be held
            ++searched;
            return 0;
        },
        control);
    const auto wait_for = [&](int count) {
        for (int i = 0; i < 20000 && searched.load() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return searched.load() >= count;
    };
    Order(early, records, 0, 1);
    ASSERT_TRUE(wait_for(1));
    Order(early, records, 1, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(searched.load(), 1) << "the workers went on past what they may hold";
    FileFound found;
    EXPECT_EQ(early.Take(raw[0], found), 0);
    EXPECT_EQ(found.inner.size(), 1u);
    EXPECT_TRUE(wait_for(2));
    early.Finish();
    early.Join();
}

}  // namespace
}  // namespace ferret
