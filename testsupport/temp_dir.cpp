#include "testsupport/temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ferret::testing {
namespace {

void Check(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error("test set-up failed: " + what);
    }
}

void MakeParents(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0755);
    }
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/ferret-test-XXXXXX";
    Check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

void TempDir::WriteFile(const std::string& relative, const std::string& content) const {
    const std::string full = Path(relative);
    MakeParents(full);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << content;
    Check(out.good(), "write " + full);
}

void TempDir::WriteSizedFile(const std::string& relative, off_t size) const {
    const std::string full = Path(relative);
    MakeParents(full);
    const int fd = open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Check(fd >= 0, "create " + full);
    const bool sized = ftruncate(fd, size) == 0;
    close(fd);
    Check(sized, "truncate " + full);
}

void TempDir::MakeDir(const std::string& relative) const {
    const std::string full = Path(relative);
    MakeParents(full);
    Check(mkdir(full.c_str(), 0755) == 0, "mkdir " + full);
}

void TempDir::MakeManyFiles(const std::string& relative, int count,
                            const std::string& content) const {
    MakeDir(relative);
    for (int i = 0; i < count; ++i) {
        const std::string group = Path(relative) + "/" + std::to_string(i / 100);
        if (i % 100 == 0) {
            Check(mkdir(group.c_str(), 0755) == 0, "make " + group);
        }
        const std::string file = group + "/" + std::to_string(i % 100) + ".txt";
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        Check(fd >= 0, "make " + file);
        const bool written =
            write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        close(fd);
        Check(written, "write " + file);
    }
}

void TempDir::Symlink(const std::string& target, const std::string& relative) const {
    const std::string full = Path(relative);
    MakeParents(full);
    Check(symlink(target.c_str(), full.c_str()) == 0, "symlink " + full);
}

void TempDir::MakeFifo(const std::string& relative) const {
    const std::string full = Path(relative);
    MakeParents(full);
    Check(mkfifo(full.c_str(), 0644) == 0, "mkfifo " + full);
}

void TempDir::SetTimes(const std::string& relative, std::time_t modified,
                       std::time_t accessed) const {
    timespec times[2] = {{accessed, 0}, {modified, 0}};
    Check(utimensat(AT_FDCWD, Path(relative).c_str(), times, 0) == 0, "utimensat " + relative);
}

std::string TempDir::ReadFile(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> TempDir::Names(const std::string& relative) const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(relative.empty() ? path_.c_str() : Path(relative).c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// Removes everything below the open folder `fd` (and closes it), each name relative to its
// folder, so trees deeper than PATH_MAX go as well.
void RemoveBelow(int fd) {
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    for (const std::string& name : names) {
        struct stat info {};
        if (fstatat(dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            fchmodat(dirfd(dir), name.c_str(), 0700, 0);
            RemoveBelow(
                openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        unlinkat(dirfd(dir), name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0);
    }
    closedir(dir);
}

}  // namespace

void RemoveTree(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        chmod(path.c_str(), 0700);
        RemoveBelow(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace ferret::testing
