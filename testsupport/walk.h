#pragma once

// A walk of FileFinder over a folder, as the tests look at it.
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

inline WalkResult Walk(const std::string& root, const std::string& mask,
                       const std::function<void(FileFinder&)>& configure = {}) {
    FileFinder finder;
    finder.SetStartDirectory(root);
    finder.SetFilterMask(mask);
    if (configure) {
        configure(finder);
    }
    finder.PerformSearch();
    return {Listed(finder.Files(), root), finder.Searched(), finder.Matched()};
}

}  // namespace ferret::testing
