#include "util/app_paths.h"

#include <errno.h>
#include <pwd.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace ferret {
namespace {

// XDG variables count only when they hold an absolute path.
std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    std::string path = value;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::string HomeFolder() {
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty()) {
        return home;
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

std::string ShippedFolder(const std::string& name) {
    char exe[4096];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) {
        return {};
    }
    std::string folder(exe, static_cast<std::size_t>(length));
    folder.erase(folder.rfind('/') + 1);
    // Beside the program in a build; from bin/ or (the window program) lib/ferret/ when installed.
    for (const std::string& candidate : {folder + name, folder + "../share/ferret/" + name,
                                         folder + "../../share/ferret/" + name}) {
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            return candidate;
        }
    }
    return {};
}

std::string DataFolder() {
    if (const char* portable = std::getenv("FERRET_HOME");
        portable != nullptr && portable[0] != '\0') {
        std::string path = portable;
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        return path;
    }
    std::string data = AbsoluteEnv("XDG_DATA_HOME");
    if (data.empty()) {
        data = HomeFolder() + "/.local/share";
    }
    return data + "/ferret";
}

std::string DataFilePath(const std::string& name) {
    return DataFolder() + "/" + name;
}

std::string ConfigFolder() {
    std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
    return config.empty() ? HomeFolder() + "/.config" : config;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

Status MakePath(const std::string& path, unsigned mode) {
    if (path.empty()) {
        return Status::Error(ENOENT, "empty folder path");
    }
    // Parents first, with the usual 0755 so that shared parents stay usable.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string parent = path.substr(0, slash);
        if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) {
            return Status::Error(errno,
                                 "cannot create folder '" + parent + "': " + strerror(errno));
        }
    }
    if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
        return Status::Error(errno, "cannot create folder '" + path + "': " + strerror(errno));
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return Status::Error(ENOTDIR, "'" + path + "' is not a folder");
    }
    return {};
}

Status EnsureDataFolder() {
    return MakePath(DataFolder(), 0700);
}

}  // namespace ferret
