#include "engine/file_details.h"

#include <fcntl.h>
#include <sys/stat.h>

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
        STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME;
    struct statx info {};
    if (statx(dir_fd, path, flags | AT_STATX_SYNC_AS_STAT, kWanted, &info) != 0 ||
        (info.stx_mask & STATX_TYPE) == 0) {
        return false;
    }
    details.is_folder = S_ISDIR(info.stx_mode);
    details.is_regular = S_ISREG(info.stx_mode);
    details.size = info.stx_size;
    details.modified = ToTimespec(info.stx_mtime);
    details.accessed = ToTimespec(info.stx_atime);
    details.created =
        (info.stx_mask & STATX_BTIME) != 0 ? ToTimespec(info.stx_btime) : details.modified;
    return true;
}

}  // namespace

bool ReadFileDetails(int dir_fd, const char* path, FileDetails& details) {
    return Read(dir_fd, path, 0, details);
}

bool ReadOpenFileDetails(int fd, FileDetails& details) {
    return Read(fd, "", AT_EMPTY_PATH, details);
}

}  // namespace ferret
