#pragma once

// A walk of FileFinder over a folder, as the tests look at it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/file_finder.h"

namespace ferret::testing {

struct WalkResult {
    std::vector<std::string> listed;  // relative to the start folder, in result order
    std::int32_t searched = 0;
    std::int32_t matched = 0;
};

// The paths of `files` relative to `root`, in result order.
inline std::vector<std::string> Listed(const FileRecords& files, const std::string& root) {
    std::vector<std::string> paths;
    for (const FileRecord& file : files) {
        paths.push_back(file.FullPath().substr(root.size() + 1));
    }
    return paths;
}

// Checks on the way that the files told in order while the walk went on are the list's
// beginning, and the whole list when the walk was not stopped.
inline WalkResult Walk(const std::string& root, const std::string& mask,
                       const std::function<void(FileFinder&)>& configure = {}) {
    FileFinder finder;
    finder.SetStartDirectory(root);
    finder.SetFilterMask(mask);
    std::vector<std::string> ordered;
    WalkWatcher watcher;
    watcher.ordered = [&](const std::vector<FileRecord*>& records) {
        for (const FileRecord* record : records) {
            ordered.push_back(record->FullPath().substr(root.size() + 1));
        }
    };
    finder.SetWatcher(watcher);
    if (configure) {
        configure(finder);
    }
    finder.PerformSearch();
    WalkResult result{Listed(finder.Files(), root), finder.Searched(), finder.Matched()};
    if (finder.Stopped()) {
        EXPECT_LE(ordered.size(), result.listed.size());
        ordered.resize(std::min(ordered.size(), result.listed.size()));
        EXPECT_TRUE(std::equal(ordered.begin(), ordered.end(), result.listed.begin()));
    } else {
        EXPECT_EQ(ordered, result.listed);
    }
    return result;
}

}  // namespace ferret::testing
