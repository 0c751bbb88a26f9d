#include "settings/search_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "settings/ini_file.h"
#include "util/file_handle.h"
#include "util/own_folder.h"

namespace ferret {
namespace {

constexpr char kCriteria[] = "Search Criteria";
constexpr char kOptions[] = "Options";

Status ReportError(int number, const std::string& path) {
    return Status::Error(number, "Cannot write '" + path + "': " + std::strerror(number));
}

// For targets that cannot be replaced by a rename: they would lose their nature (a FIFO, a device)
// or the rename would fail (/dev/stdout).
// The descriptor that /dev/stdout, /dev/stderr, /dev/fd/N or /proc/self/fd/N stands for, or -1.
int InheritedDescriptor(const std::string& path) {
    if (path == "/dev/stdout") {
        return 1;
    }
    if (path == "/dev/stderr") {
        return 2;
    }
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::string_view head(prefix);
        if (path.size() > head.size() && path.compare(0, head.size(), head) == 0 &&
            path.find_first_not_of("0123456789", head.size()) == std::string::npos &&
            path.size() - head.size() < 6) {
            const int fd = std::stoi(path.substr(head.size()));
            return fcntl(fd, F_GETFD) >= 0 ? fd : -1;
        }
    }
    return -1;
}

bool IsNull(const struct stat& info) {
    return S_ISCHR(info.st_mode) && major(info.st_rdev) == 1 && minor(info.st_rdev) == 3;
}

// By device number, before anything is opened: the terminals' majors (tty, console and ptmx,
// the pseudo-terminals) and /dev/null.
bool IsTerminalOrNull(const struct stat& info) {
    if (!S_ISCHR(info.st_mode)) {
        return false;
    }
    const unsigned kind = major(info.st_rdev);
    return IsNull(info) || kind == 4 || kind == 5 || (kind >= 136 && kind <= 143);
}

// Opens for writing the FIFO or device `expected` that lies at `place`. `terminal_only`: a
// character device is written only when it is a terminal.
Status OpenInto(const std::string& path, const OutputPlace& place, const struct stat& expected,
                bool terminal_only, Fd& fd) {
    // O_NONBLOCK makes opening a FIFO without a reader fail (ENXIO) instead of waiting forever.
    fd.Reset(openat(place.folder.get(), place.name.c_str(),
                    O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (fd.get() < 0) {
        return ReportError(errno, path);
    }
    struct stat opened {};
    if (fstat(fd.get(), &opened) != 0) {
        return ReportError(errno, path);
    }
    if (opened.st_dev != expected.st_dev || opened.st_ino != expected.st_ino) {
        return Status::Error(EAGAIN, "Cannot write '" + path + "': it changed while it was opened");
    }
    if (terminal_only && !isatty(fd.get())) {
        return Status::Error(EPERM, "Cannot write '" + path + "': it is a device");
    }
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return ReportError(errno, path);
    }
    return Status();
}

}  // namespace

Status SaveSearchSettings(const std::string& file, const SearchSettings& settings) {
    // Refused before the old file is deleted, so a text that cannot be stored costs nothing.
    for (const std::string* text : {&settings.search, &settings.replace, &settings.path,
                                    &settings.file_mask, &settings.skip_folders}) {
        if (text->find_first_of("\r\n") != std::string::npos) {
            return Status::Error(EINVAL, "Cannot write '" + file +
                                             "': a line break cannot be stored in a profile line");
        }
    }
    // The whole file in one atomic write: it holds these two sections and nothing else, and a
    // failure leaves the old file as it was.
    const auto line = [](const char* key, std::string_view value) {
        return std::string(key) + "=" + ProfileValueText(value) + "\r\n";
    };
    std::string text = std::string("[") + kCriteria + "]\r\n" + line("Search", settings.search) +
                       line("Replace", settings.replace) + line("Path", settings.path) +
                       line("FileMask", settings.file_mask);
    if (!settings.skip_folders.empty()) {
        text += line("SkipFolders", settings.skip_folders);
    }
    text += std::string("[") + kOptions + "]\r\n" +
            line("SubFolders", std::to_string(settings.sub_folders)) +
            line("IgnoreCase", std::to_string(settings.ignore_case)) +
            line("RegEx", std::to_string(settings.regex));
    if (settings.git_ignore != 0) {
        text += line("GitIgnore", std::to_string(settings.git_ignore));
    }
    if (settings.no_binary != 0) {
        text += line("NoBinary", std::to_string(settings.no_binary));
    }
    if (settings.whole_word != 0) {
        text += line("WholeWord", std::to_string(settings.whole_word));
    }
    if (settings.archives != 0) {
        text += line("Archives", std::to_string(settings.archives));
    }
    return WriteFileAtomically(file, text);
}

Status LoadSearchSettings(const std::string& file, SearchSettings& settings) {
    std::string text;
    if (Status status = ReadProfileText(file, text); !status.ok()) {
        return status;
    }
    IniFile ini;
    ini.SetPath(file);
    const auto read = [&ini](const char* section, const char* key) {
        ini.SetSection(section);
        ini.SetKey(key);
        return ini.Value();
    };
    SearchSettings loaded;
    loaded.search = read(kCriteria, "Search");
    loaded.replace = read(kCriteria, "Replace");
    loaded.path = read(kCriteria, "Path");
    loaded.file_mask = read(kCriteria, "FileMask");
    loaded.sub_folders = IniFile::CLngDefault(read(kOptions, "SubFolders"), 0);
    loaded.ignore_case = IniFile::CLngDefault(read(kOptions, "IgnoreCase"), 0);
    loaded.regex = IniFile::CLngDefault(read(kOptions, "RegEx"), 0);
    loaded.skip_folders = read(kCriteria, "SkipFolders");
    loaded.git_ignore = IniFile::CLngDefault(read(kOptions, "GitIgnore"), 0);
    loaded.no_binary = IniFile::CLngDefault(read(kOptions, "NoBinary"), 0);
    loaded.whole_word = IniFile::CLngDefault(read(kOptions, "WholeWord"), 0);
    loaded.archives = IniFile::CLngDefault(read(kOptions, "Archives"), 0);
    settings = std::move(loaded);
    return Status();
}

Status WriteReportFile(const std::string& path, std::string_view text) {
    std::string bytes(text);
    bytes += '\n';
    return WriteOutputFile(path, bytes);
}

Status OutputStream::Open(const std::string& path) {
    path_ = path;
    // /dev/stdout and its kin name a file this process already has open (often a shell
    // redirection): written through that descriptor, the text lands where the shell's own
    // output goes, in order, instead of replacing or overwriting it.
    if (const int fd = InheritedDescriptor(path); fd >= 0) {
        inherited_ = fd;
        return Status();
    }
    if (Status status = OpenOutputPlace(path, true, place_); !status.ok()) {
        return OutputRefused(path, status);
    }
    struct stat info {};
    if (fstatat(place_.folder.get(), place_.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode) && !S_ISLNK(info.st_mode)) {
        // A pipe, a terminal or /dev/null; never a disk or another device, which is not even
        // opened (opening some has effects of its own), nor another user's FIFO, whose reader
        // would get our text.
        if (S_ISFIFO(info.st_mode) && info.st_uid != geteuid()) {
            return Status::Error(
                EPERM, "Cannot write '" + path + "': it is a FIFO that belongs to another user");
        }
        if (!S_ISFIFO(info.st_mode) && !IsTerminalOrNull(info)) {
            return Status::Error(EPERM, "Cannot write '" + path + "': it is a device");
        }
        return OpenInto(path, place_, info, S_ISCHR(info.st_mode) && !IsNull(info), direct_);
    }
    whole_ = true;
    return file_.Begin(path, place_);
}

Status OutputStream::Write(std::string_view bytes) {
    if (whole_) {
        return file_.Write(bytes);
    }
    const int fd = inherited_ >= 0 ? inherited_ : direct_.get();
    return WriteAll(fd, bytes) ? Status() : ReportError(errno, path_);
}

Status OutputStream::Finish() {
    if (whole_) {
        return file_.Commit();
    }
    if (direct_.get() >= 0 && close(direct_.release()) != 0) {
        return ReportError(errno, path_);
    }
    return Status();
}

Status WriteOutputFile(const std::string& path, std::string_view bytes) {
    OutputStream output;
    if (Status status = output.Open(path); !status.ok()) {
        return status;
    }
    if (Status status = output.Write(bytes); !status.ok()) {
        return status;
    }
    return output.Finish();
}

}  // namespace ferret
