#include "engine/early_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
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

// The walk lists files in one order and settles the list's order a part at a time; Lead hands
// the files on in the list's order, each once, whether a worker searched it, the worker left it
// (a "left" file: an office document, one with many lines) or nobody had started it. Each file
// the workers search holds many lines: they must wait for Lead to take them, not stop.
TEST(EarlySearch, LeadHandsOnEveryFileInListOrderOnce) {
    constexpr int kFiles = 300;
    const auto records = MakeRecords(kFiles);
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
        // Listed backwards a folder at a time, ordered forwards with pauses between parts.
        for (int last = kFiles; last > 0; last -= 50) {
            early.Listed(
                Part(records, static_cast<std::size_t>(last - 50), static_cast<std::size_t>(last)));
        }
        for (std::size_t first = 0; first < kFiles; first += 60) {
            early.Ordered(Part(records, first, std::min<std::size_t>(first + 60, kFiles)));
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
    });
    walk.join();
    std::vector<std::string> expected;
    for (const auto& record : records) {
        expected.push_back(record->Filename());
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(early.Led(), static_cast<std::size_t>(kFiles));
    // Every left file at least was searched by Lead's own thread.
    EXPECT_GE(searched_here, kFiles / 7);
}

// A stop ends Lead at once, and the walk's end ends it when nothing more is ordered; what it did
// not take is left to the content stage.
TEST(EarlySearch, LeadEndsWithAStopOrTheWalk) {
    const auto records = MakeRecords(10);
    RunControl control;
    std::atomic<int> searched{0};
    {
        EarlySearch early(
            1,
            [&](FileRecord&, FileFound&) -> std::optional<std::int32_t> {
                ++searched;
                return 1;
            },
            control);
        early.Listed(Part(records, 0, 10));
        early.Ordered(Part(records, 0, 4));
        int taken = 0;
        early.Lead([&](FileRecord&, std::optional<std::int32_t>, FileFound&) {
            if (++taken == 2) {
                control.Stop();
            }
        });
        EXPECT_EQ(early.Led(), 2u);
    }
    control.Reset(false);
    EarlySearch early(
        1, [](FileRecord&, FileFound&) -> std::optional<std::int32_t> { return 1; }, control);
    early.Listed(Part(records, 0, 10));
    early.Ordered(Part(records, 0, 3));
    std::thread walk([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        early.Finish();
    });
    early.Lead([](FileRecord&, std::optional<std::int32_t>, FileFound&) {});
    walk.join();
    EXPECT_EQ(early.Led(), 3u);
    // What Lead took is not the content stage's again.
    FileFound found;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(early.Take(records[i].get(), found).has_value()) << i;
    }
}

}  // namespace
}  // namespace ferret
