#include "engine/file_details.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferret {
namespace {

timespec ToTimespec(const statx_timestamp& t) {
    timespec result{};
    result.tv_sec = t.tv_sec;
    result.tv_nsec = t.tv_nsec;
    return result;
}

bool Read(int dir_fd, const char* path, int flags, FileDetails& details) {
    constexpr unsigned kWanted =
        STATX_TYPE | STATX_MODE | STATX_UID | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME;
    struct statx info {};
    if (statx(dir_fd, path, flags | AT_STATX_SYNC_AS_STAT, kWanted, &info) != 0 ||
        (info.stx_mask & STATX_TYPE) == 0) {
        return false;
    }
    details.is_folder = S_ISDIR(info.stx_mode);
    details.is_regular = S_ISREG(info.stx_mode);
    details.owner = info.stx_uid;
    details.size = info.stx_size;
    details.modified = ToTimespec(info.stx_mtime);
    details.accessed = ToTimespec(info.stx_atime);
    details.created =
        (info.stx_mask & STATX_BTIME) != 0 ? ToTimespec(info.stx_btime) : details.modified;
    return true;
}

}  // namespace

int OpenPath(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags);
    if (fd >= 0 || errno != ENAMETOOLONG) {
        return fd;
    }
    int at = AT_FDCWD;
    std::size_t start = 0;
    while (path.size() - start >= PATH_MAX) {
        // The longest run of whole folders that fits in one call, its "/" included.
        const std::size_t cut = path.rfind('/', start + PATH_MAX - 2);
        int next = -1;
        int error = ENAMETOOLONG;
        if (cut != std::string::npos && cut >= start) {
            next = openat(at, path.substr(start, cut - start + 1).c_str(),
                          O_PATH | O_DIRECTORY | O_CLOEXEC);
            error = errno;
        }
        if (at != AT_FDCWD) {
            close(at);
        }
        if (next < 0) {
            errno = error;
            return -1;
        }
        at = next;
        start = cut + 1;
    }
    const int opened = openat(at, path.c_str() + start, flags);
    const int error = errno;
    if (at != AT_FDCWD) {
        close(at);
    }
    errno = error;
    return opened;
}

bool ReadFileDetails(int dir_fd, const char* path, FileDetails& details) {
    errno = 0;
    if (Read(dir_fd, path, 0, details)) {
        return true;
    }
    if (errno != ENAMETOOLONG || dir_fd != AT_FDCWD) {
        return false;
    }
    // Too long for one call: look the name up in its folder, opened a piece at a time.
    const std::string full(path);
    const std::size_t slash = full.rfind('/');
    if (slash == std::string::npos) {
        return false;
    }
    const int folder = OpenPath(full.substr(0, slash + 1), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return false;
    }
    const bool read = Read(folder, full.c_str() + slash + 1, 0, details);
    close(folder);
    return read;
}

bool ReadOpenFileDetails(int fd, FileDetails& details) {
    return Read(fd, "", AT_EMPTY_PATH, details);
}

}  // namespace ferret
