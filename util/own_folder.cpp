#include "util/own_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <deque>

namespace ferret {
namespace {

constexpr int kMostLinks = 40;  // as the kernel's own limit on links in one lookup

Status Failed(int error, const std::string& text) {
    return Status::Error(error == 0 ? EIO : error, text);
}

std::deque<std::string> Steps(const std::string& path) {
    std::deque<std::string> steps;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        if (slash > start) {
            steps.emplace_back(path, start, slash - start);
        }
        start = slash + 1;
    }
    return steps;
}

}  // namespace

Status OpenOwnFolder(const std::string& path, bool create, Fd& folder) {
    if (path.empty() || path[0] != '/') {
        return Failed(EINVAL, "the restore folder \"" + path + "\" is not a full path");
    }
    const uid_t me = geteuid();
    Fd at(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (at.get() < 0) {
        return Failed(errno, "cannot open /");
    }
    std::deque<std::string> steps = Steps(path);
    int links = 0;
    while (!steps.empty()) {
        const std::string step = std::move(steps.front());
        steps.pop_front();
        if (step == ".") {
            continue;
        }
        struct stat info {};
        if (fstatat(at.get(), step.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !create) {
                return Failed(errno, "cannot reach " + path + ": " + strerror(errno));
            }
            if (mkdirat(at.get(), step.c_str(), 0700) != 0 && errno != EEXIST) {
                return Failed(errno, "cannot create " + path + ": " + strerror(errno));
            }
            if (fstatat(at.get(), step.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                return Failed(errno, "cannot reach " + path + ": " + strerror(errno));
            }
        }
        if (S_ISLNK(info.st_mode)) {
            if (info.st_uid != me && info.st_uid != 0) {
                return Failed(EPERM, "the way to " + path + " passes a link (" + step +
                                         ") that belongs to another user");
            }
            if (++links > kMostLinks) {
                return Failed(ELOOP, "cannot reach " + path + ": too many links");
            }
            char target[PATH_MAX];
            const ssize_t length = readlinkat(at.get(), step.c_str(), target, sizeof target);
            if (length < 0 || static_cast<std::size_t>(length) >= sizeof target) {
                return Failed(errno, "cannot read the link " + step + " on the way to " + path);
            }
            const std::string where(target, static_cast<std::size_t>(length));
            if (!where.empty() && where[0] == '/') {
                at.Reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            }
            std::deque<std::string> more = Steps(where);
            steps.insert(steps.begin(), more.begin(), more.end());
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            return Failed(ENOTDIR, "cannot reach " + path + ": " + step + " is not a folder");
        }
        // O_NOFOLLOW and a look at what was opened: a link put there since is not followed.
        Fd next(openat(at.get(), step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat opened {};
        if (next.get() < 0 || fstat(next.get(), &opened) != 0 || opened.st_dev != info.st_dev ||
            opened.st_ino != info.st_ino) {
            return Failed(errno == 0 ? EAGAIN : errno,
                          "cannot reach " + path + ": it changed while it was opened");
        }
        at.Reset(next.release());
    }
    Fd opened(openat(at.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (opened.get() < 0 || fstat(opened.get(), &info) != 0) {
        return Failed(errno, "cannot open " + path + ": " + strerror(errno));
    }
    if (info.st_uid != me) {
        return Failed(EPERM, "the restore folder " + path + " belongs to another user (uid " +
                                 std::to_string(info.st_uid) + ")");
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return Failed(EPERM, "the restore folder " + path +
                                 " may be written by other users; make it private (chmod 700)");
    }
    folder.Reset(opened.release());
    return {};
}

Status OpenFolderNoLinks(const std::string& path, Fd& folder) {
    if (path.empty() || path[0] != '/') {
        return Failed(EINVAL, path + " is not a full path");
    }
    Fd at(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const std::string& step : Steps(path)) {
        if (at.get() < 0) {
            break;
        }
        if (step == "." || step == "..") {
            return Failed(EINVAL, path + " is not a plain path");
        }
        at.Reset(openat(at.get(), step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (at.get() < 0) {
        const int error = errno == ENOTDIR ? ELOOP : errno;  // a link opened as a folder
        return Failed(
            error, "cannot reach " + path + " without following a link (" + strerror(error) + ")");
    }
    folder.Reset(at.release());
    return {};
}

}  // namespace ferret
