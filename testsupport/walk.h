#pragma once

// A walk of FileFinder over a folder, as the tests look at it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
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

// Walks with the files handed over in order as the walk goes (WalkWatcher::ordered), and checks
// on the way that those and the ones left in the list make the list a walk without a watcher
// gives: all are handed over when the walk was not stopped.
inline WalkResult Walk(const std::string& root, const std::string& mask,
                       const std::function<void(FileFinder&)>& configure = {}) {
    FileFinder finder;
    finder.SetStartDirectory(root);
    finder.SetFilterMask(mask);
    std::vector<std::unique_ptr<FileRecord>> ordered;
    WalkWatcher watcher;
    watcher.ordered = [&](std::vector<std::unique_ptr<FileRecord>>& records) {
        for (std::unique_ptr<FileRecord>& record : records) {
            ordered.push_back(std::move(record));
        }
    };
    finder.SetWatcher(watcher);
    if (configure) {
        configure(finder);
    }
    finder.PerformSearch();
    WalkResult result{{}, finder.Searched(), finder.Matched()};
    for (const std::unique_ptr<FileRecord>& record : ordered) {
        result.listed.push_back(record->FullPath().substr(root.size() + 1));
    }
    const std::vector<std::string> rest = Listed(finder.Files(), root);
    if (!finder.Stopped()) {
        EXPECT_EQ(rest, std::vector<std::string>()) << "files not handed over in order";
    }
    result.listed.insert(result.listed.end(), rest.begin(), rest.end());
    return result;
}

}  // namespace ferret::testing
