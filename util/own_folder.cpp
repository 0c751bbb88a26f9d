#include "util/own_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <deque>
#include <vector>

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

namespace {

// How far a search for an output's place has come.
struct Walk {
    int links = 0;
    bool chosen_by_other = false;
};

Status Reason(int error) {
    return Failed(error, strerror(error == 0 ? EIO : error));
}

// The rule for outputs: MayFollowLink, and root's links too, which are the system's own (root
// may write anywhere in any case).
bool MayFollowOutputLink(uid_t link_owner, uid_t target_owner, Walk& walk) {
    if (link_owner != 0 && !MayFollowLink(link_owner, target_owner)) {
        return false;
    }
    walk.chosen_by_other |= link_owner != 0 && link_owner != geteuid();
    return true;
}

// The text of the link `link` (opened O_PATH | O_NOFOLLOW), so that the link checked is the
// link read.
Status ReadLink(int link, std::string& text) {
    char target[PATH_MAX];
    const ssize_t length = readlinkat(link, "", target, sizeof target);
    if (length < 0) {
        return Reason(errno);
    }
    if (static_cast<std::size_t>(length) >= sizeof target) {
        return Reason(ENAMETOOLONG);
    }
    text.assign(target, static_cast<std::size_t>(length));
    return {};
}

Status ReachFolder(int start, const std::string& path, Walk& walk, Fd& folder);

// Follows the link `link` (named `step`, lying in `at`) to the folder it stands for.
Status FollowFolderLink(int at, int link, const struct stat& info, const std::string& step,
                        Walk& walk, Fd& target) {
    if (++walk.links > kMostLinks) {
        return Reason(ELOOP);
    }
    std::string text;
    if (Status status = ReadLink(link, text); !status.ok()) {
        return status;
    }
    if (Status status = ReachFolder(at, text, walk, target); !status.ok()) {
        return status;
    }
    struct stat reached {};
    if (fstat(target.get(), &reached) != 0) {
        return Reason(errno);
    }
    if (!MayFollowOutputLink(info.st_uid, reached.st_uid, walk)) {
        return Status::Error(
            EPERM, "'" + step + "' on the way to it is a link that belongs to another user");
    }
    return {};
}

// Opens the folder `path` names, from `start` unless it is a full path, a step at a time.
Status ReachFolder(int start, const std::string& path, Walk& walk, Fd& folder) {
    Fd at(!path.empty() && path[0] == '/' ? open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                                          : openat(start, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (at.get() < 0) {
        return Reason(errno);
    }
    for (const std::string& step : Steps(path)) {
        if (step == ".") {
            continue;
        }
        // Without O_DIRECTORY a link opens as itself, so what is looked at is what was opened.
        Fd next(openat(at.get(), step.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (next.get() < 0 || fstat(next.get(), &info) != 0) {
            return Reason(errno);
        }
        if (S_ISLNK(info.st_mode)) {
            Fd target;
            if (Status status = FollowFolderLink(at.get(), next.get(), info, step, walk, target);
                !status.ok()) {
                return status;
            }
            at.Reset(target.release());
        } else if (S_ISDIR(info.st_mode)) {
            at.Reset(next.release());
        } else {
            return Reason(ENOTDIR);
        }
    }
    folder.Reset(at.release());
    return {};
}

// Opens the folder that holds the last name of `path` and gives that name.
Status ReachParent(int start, const std::string& path, Walk& walk, Fd& folder, std::string& name) {
    if (path.empty()) {
        return Reason(ENOENT);
    }
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string()
                               : slash == 0               ? std::string("/")
                                                          : path.substr(0, slash);
    if (Status status = ReachFolder(start, parent, walk, folder); !status.ok()) {
        return status;
    }
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return Reason(EISDIR);
    }
    return {};
}

}  // namespace

Status OpenOutputPlace(const std::string& path, bool follow_last, OutputPlace& place) {
    Walk walk;
    Fd folder;
    std::string name;
    if (Status status = ReachParent(AT_FDCWD, path, walk, folder, name); !status.ok()) {
        return status;
    }
    std::vector<uid_t> link_owners;  // of the links at the end followed so far
    struct stat info {};
    bool exists = false;
    for (;;) {
        const Fd entry(openat(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        exists = entry.get() >= 0;
        if (!exists && errno != ENOENT) {
            return Reason(errno);
        }
        if (exists && fstat(entry.get(), &info) != 0) {
            return Reason(errno);
        }
        if (!exists || !follow_last || !S_ISLNK(info.st_mode)) {
            break;
        }
        if (++walk.links > kMostLinks) {
            return Reason(ELOOP);
        }
        std::string text;
        if (Status status = ReadLink(entry.get(), text); !status.ok()) {
            return status;
        }
        link_owners.push_back(info.st_uid);
        Fd next;
        if (Status status = ReachParent(folder.get(), text, walk, next, name); !status.ok()) {
            return status;
        }
        folder.Reset(next.release());
    }
    // A file the links would make must be ours, as the link to it then is.
    const uid_t target_owner = exists ? info.st_uid : geteuid();
    for (const uid_t owner : link_owners) {
        if (!MayFollowOutputLink(owner, target_owner, walk)) {
            return Status::Error(EPERM, "it is a link that belongs to another user");
        }
    }
    place.folder.Reset(folder.release());
    place.name = std::move(name);
    place.chosen_by_other = walk.chosen_by_other;
    return {};
}

bool IsOthersOutput(const OutputPlace& place, const struct stat& file) {
    // Root reads every file anyway, so one of root's hands nothing over.
    if (file.st_uid == geteuid() || file.st_uid == 0) {
        return false;
    }
    if (place.chosen_by_other) {
        return true;
    }
    struct stat folder {};
    return fstat(place.folder.get(), &folder) != 0 || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace ferret
