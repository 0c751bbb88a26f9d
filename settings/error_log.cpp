#include "settings/error_log.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <mutex>

#include "settings/app_settings.h"
#include "util/app_locale.h"
#include "util/app_paths.h"
#include "util/file_handle.h"
#include "util/own_folder.h"

namespace ferret {
namespace {

std::mutex log_mutex;  // one entry at a time, so lines of threads never interleave

// Readers of the log rely on one entry per line and on the field order.
std::string Field(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '\t') {
            c = ' ';
        }
    }
    return text;
}

// The log's folder is reached as any output's; the log itself is a regular file, never
// followed as a link, and never another user's to read.
bool AppendLine(const std::string& path, const std::string& line) {
    OutputPlace place;
    if (!OpenOutputPlace(path, false, place).ok()) {
        return false;
    }
    const auto usable = [&place](const struct stat& info) {
        return S_ISREG(info.st_mode) && !IsOthersOutput(place, info);
    };
    struct stat info {};
    if (fstatat(place.folder.get(), place.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        !usable(info)) {
        return false;  // not even opened: a FIFO's reader would notice
    }
    Fd fd(openat(place.folder.get(), place.name.c_str(),
                 O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK,
                 0600));
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !usable(info)) {
        return false;
    }
    const bool written = WriteAll(fd.get(), line);
    return close(fd.release()) == 0 && written;
}

bool WriteEntry(const std::string& label, const std::string& number,
                const std::string& description) {
    if (!EnsureDataFolder().ok()) {
        return false;
    }
    std::lock_guard lock(log_mutex);
    // The time is taken under the lock so that the lines stay in time order.
    const std::string line = Field(FormatGeneralDateTime(QDateTime::currentDateTime())) + '\t' +
                             Field(label) + '\t' + Field(number) + '\t' + Field(description) + '\n';
    return AppendLine(DataFilePath("ferret.log"), line);
}

}  // namespace

bool LogError(const std::string& label, const std::string& number, const std::string& description) {
    try {
        if (!ReadAppSettings().logging) {
            return true;
        }
        return WriteEntry(label, number, description);
    } catch (...) {
        return false;
    }
}

bool LogError(const std::string& label, const Status& status) {
    if (status.ok()) {
        return true;
    }
    try {
        return LogError(label, std::to_string(status.number()), status.description());
    } catch (...) {
        return false;
    }
}

UserMessage LogFailureMessage() {
    return {"There was an error in creating an error log entry", "Log Error",
            MessageIcon::kInformation};
}

}  // namespace ferret
