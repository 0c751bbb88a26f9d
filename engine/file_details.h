#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace ferret {

// What the walk and the records need to know of a file, from one statx call.
struct FileDetails {
    bool is_folder = false;
    bool is_regular = false;
    uid_t owner = 0;
    std::uint64_t size = 0;
    timespec modified{};
    timespec accessed{};
    timespec created{};  // the birth time where the file system keeps one, else `modified`
};

// open() for a path of any length: one longer than the kernel takes in one call (PATH_MAX, which
// folders nested deep enough pass) is opened a piece at a time, each relative to the last.
int OpenPath(const std::string& path, int flags);

// Reads the details of `path` relative to the folder `dir_fd` (AT_FDCWD for a full path, of any
// length), following links. False when the file cannot be reached.
bool ReadFileDetails(int dir_fd, const char* path, FileDetails& details);

// The same for a file that is already open.
bool ReadOpenFileDetails(int fd, FileDetails& details);

}  // namespace ferret
