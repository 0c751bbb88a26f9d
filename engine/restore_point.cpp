#include "engine/restore_point.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <utility>

#include "engine/content_replace.h"
#include "engine/file_data.h"
#include "util/app_paths.h"
#include "util/file_handle.h"
#include "util/own_folder.h"

namespace ferret {
namespace {

// Version 2 names each rewrite's new file; version 1 journals are read as well.
constexpr char kMagic[] = "ferret restore point 2";
constexpr char kMagicOne[] = "ferret restore point 1";
constexpr char kJournal[] = "journal";
constexpr char kFiles[] = "files";

Status ErrnoStatus(const std::string& what, int error) {
    return Status::Error(error == 0 ? EIO : error, what + ": " + strerror(error));
}

// A file inside a restore point: never through a link, which only someone else could have put
// there.
bool ReadFileAt(int folder, const char* name, std::string& bytes) {
    Fd fd(openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat info {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0) {
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return false;
    }
    return ReadAll(fd.get(), bytes);
}

int OpenFolderAt(int at, const char* name) {
    return openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Splits a restore point's folder into the restore folder and the point's name.
bool SplitPointFolder(const std::string& folder, std::string& base, std::string& id) {
    std::string trimmed = folder;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    const std::size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos || slash + 1 == trimmed.size()) {
        return false;
    }
    base = slash == 0 ? "/" : trimmed.substr(0, slash);
    id = trimmed.substr(slash + 1);
    return id != "." && id != "..";
}

// Opens a restore point's folder inside its restore folder, which must be the user's own.
Status OpenPointFolder(const std::string& folder, Fd& base, Fd& point, std::string& id) {
    std::string base_path;
    if (!SplitPointFolder(folder, base_path, id)) {
        return Status::Error(EINVAL, folder + " is not a restore point");
    }
    if (Status status = OpenOwnFolder(base_path, false, base); !status.ok()) {
        return status;
    }
    point.Reset(OpenFolderAt(base.get(), id.c_str()));
    if (point.get() < 0) {
        return Status::Error(errno == ENOTDIR || errno == ELOOP ? EINVAL : errno,
                             folder + " is not a restore point");
    }
    return {};
}

std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char next = text[++i];
        out.push_back(next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next);
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

std::string TimeText(const timespec& time) {
    char text[48];
    snprintf(text, sizeof text, "%lld.%09ld", static_cast<long long>(time.tv_sec), time.tv_nsec);
    return text;
}

bool ParseTime(std::string_view text, timespec& time) {
    const std::size_t point = text.find('.');
    long long seconds = 0;
    long nanoseconds = 0;
    if (point == std::string_view::npos || !ParseNumber(text.substr(0, point), seconds) ||
        !ParseNumber(text.substr(point + 1), nanoseconds) || nanoseconds < 0 ||
        nanoseconds > 999999999) {
        return false;
    }
    time.tv_sec = static_cast<time_t>(seconds);
    time.tv_nsec = nanoseconds;
    return true;
}

std::string CopyName(std::uint64_t number) {
    char name[24];
    snprintf(name, sizeof name, "%06llu", static_cast<unsigned long long>(number));
    return name;
}

std::string CopyPath(const std::string& folder, std::uint64_t number) {
    return folder + "/" + kFiles + "/" + CopyName(number);
}

// The run's folder name: its local start time, sortable as text, with a counter when two runs
// start in the same millisecond.
std::string NewId(const timespec& now, int attempt) {
    struct tm local {};
    localtime_r(&now.tv_sec, &local);
    char text[64];
    const std::size_t length = strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
    std::string id(text, length);
    snprintf(text, sizeof text, "_%03ld", now.tv_nsec / 1000000);
    id += text;
    if (attempt > 0) {
        id += "_" + std::to_string(attempt);
    }
    return id;
}

bool Older(const RestorePointInfo& a, const RestorePointInfo& b) {
    if (a.created.tv_sec != b.created.tv_sec) {
        return a.created.tv_sec < b.created.tv_sec;
    }
    if (a.created.tv_nsec != b.created.tv_nsec) {
        return a.created.tv_nsec < b.created.tv_nsec;
    }
    return a.id < b.id;
}

Status ReadRestorePointAt(int point, const std::string& folder, RestorePointInfo& info);

// Every restore point under `base`, oldest first; nothing when `base` is not the user's own.
std::vector<RestorePointInfo> AllRestorePoints(const std::string& base) {
    std::vector<RestorePointInfo> points;
    Fd base_folder;
    if (!OpenOwnFolder(base, false, base_folder).ok()) {
        return points;
    }
    DIR* folder = fdopendir(dup(base_folder.get()));
    if (folder == nullptr) {
        return points;
    }
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const Fd point(OpenFolderAt(base_folder.get(), name.c_str()));
        RestorePointInfo info;
        if (point.get() >= 0 && ReadRestorePointAt(point.get(), base + "/" + name, info).ok()) {
            points.push_back(std::move(info));
        }
    }
    closedir(folder);
    std::sort(points.begin(), points.end(), Older);
    return points;
}

// Removes what a restore point holds (the copies, the journal and the two folders), never
// following a link: a "files" that is a link is removed as a link.
Status RemovePointAt(int base, int point, const std::string& id, const std::string& folder) {
    const Fd files(OpenFolderAt(point, kFiles));
    if (files.get() >= 0) {
        if (DIR* copies = fdopendir(dup(files.get()))) {
            while (const dirent* entry = readdir(copies)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    unlinkat(files.get(), name.c_str(), 0);
                }
            }
            closedir(copies);
        }
        unlinkat(point, kFiles, AT_REMOVEDIR);
    } else if (errno == ENOTDIR || errno == ELOOP) {
        unlinkat(point, kFiles, 0);
    }
    unlinkat(point, kJournal, 0);
    if (unlinkat(base, id.c_str(), AT_REMOVEDIR) != 0) {
        return ErrnoStatus("cannot remove " + folder, errno);
    }
    return {};
}

Status AppendLine(int journal, const std::string& line, int (*flush)(int) = ::fdatasync) {
    if (!WriteAll(journal, line + "\n") || flush(journal) != 0) {
        return ErrnoStatus("cannot write the restore point's journal", errno);
    }
    return {};
}

// Whether a journal's path is one the run could have written: full, with no empty, "." or ".."
// step (the run resolved links and wrote the resolved path).
bool PlainFullPath(const std::string& path) {
    if (path.size() < 2 || path[0] != '/' || path.back() == '/') {
        return false;
    }
    for (std::size_t start = 1; start <= path.size();) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        const std::string_view step(path.data() + start, slash - start);
        if (step.empty() || step == "." || step == "..") {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

// An undo reads and writes a block at a time, so a file of any size is put back in the same
// memory.
constexpr std::size_t kUndoBlock = std::size_t{1} << 20;

struct Block {
    std::unique_ptr<char[]> bytes{new char[kUndoBlock]};
};

// ContentChecksum of everything `from` holds from its start, and its size; also written to `to`
// unless that is -1, so the checksum is that of exactly the bytes written. False with errno set
// when reading or writing fails.
bool StreamChecksum(int from, int to, Block& block, std::string& checksum, std::uint64_t& size) {
    ContentHash hash;
    size = 0;
    for (;;) {
        const ReadResult got = ReadSomeAt(from, block.bytes.get(), kUndoBlock, size);
        if (got.failed()) {
            return false;
        }
        if (got.bytes == 0) {
            break;
        }
        const std::string_view bytes(block.bytes.get(), got.bytes);
        if (to >= 0 && !WriteAll(to, bytes)) {
            return false;
        }
        hash.Add(bytes);
        size += got.bytes;
    }
    checksum = hash.Hex();
    return true;
}

// Removes the last rewrite's content ("~~temprpl.frr") when it is what the run of `info` wrote
// into a file that is now put back: the run is undone, and no later run has written it since.
// Only a regular file of the user's own is read, never through a link.
void RemoveLastRewriteOf(const RestorePointInfo& info) {
    const std::string path = LastRewritePath();
    const std::size_t slash = path.rfind('/');
    const Fd folder(
        open(path.substr(0, slash + 1).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0) {
        return;
    }
    const std::string name = path.substr(slash + 1);
    const Fd kept(openat(folder.get(), name.c_str(),
                         O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat info_now {};
    if (kept.get() < 0 || fstat(kept.get(), &info_now) != 0 || !S_ISREG(info_now.st_mode) ||
        info_now.st_uid != geteuid()) {
        return;
    }
    Block block;
    std::string checksum;
    std::uint64_t size = 0;
    if (!StreamChecksum(kept.get(), -1, block, checksum, size)) {
        return;
    }
    for (const RestoreEntry& entry : info.entries) {
        if (entry.restored && !entry.new_checksum.empty() && entry.new_checksum == checksum) {
            unlinkat(folder.get(), name.c_str(), 0);
            return;
        }
    }
}

// A file a restore point's entry names, opened as it is now.
struct RewrittenFile {
    Fd folder;
    std::string name;
    Fd input;
    struct stat now {};
};

// Opens the file of `entry` into `file` and checks that it holds what the run wrote: an empty
// text when its original may be put back, or when it already is as it was (`already`); else why
// it is left alone, ending with `kept`.
std::string CheckRewritten(const RestoreEntry& entry, const std::string& kept, Block& block,
                           RewrittenFile& file, bool& already) {
    if (!PlainFullPath(entry.path)) {
        return "the journal names it by a path the run could not have written, so the entry "
               "looks forged; " +
               kept;
    }
    // The run wrote the path with its links resolved: a link on the way now is not followed.
    const std::size_t slash = entry.path.rfind('/');
    if (const Status reached = OpenFolderNoLinks(entry.path.substr(0, slash + 1), file.folder);
        !reached.ok()) {
        return reached.description() + "; " + kept;
    }
    file.name = entry.path.substr(slash + 1);
    file.input.Reset(openat(file.folder.get(), file.name.c_str(),
                            O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (file.input.get() < 0 || fstat(file.input.get(), &file.now) != 0) {
        return std::string("it cannot be opened (") + strerror(errno) + "); " + kept;
    }
    if (!S_ISREG(file.now.st_mode)) {
        return "it is no longer a regular file; " + kept;
    }
    std::string checksum;
    std::uint64_t size = 0;
    if (!StreamChecksum(file.input.get(), -1, block, checksum, size)) {
        return std::string("it cannot be read (") + strerror(errno) + "); " + kept;
    }
    if (checksum == entry.old_checksum) {
        already = true;  // the run stopped before replacing it
        return {};
    }
    if (entry.new_checksum.empty()) {
        return "the run ended while another program was rewriting it, so it cannot be told "
               "apart from a later change; " +
               kept;
    }
    if (checksum != entry.new_checksum) {
        return "it has changed since the replace run; " + kept;
    }
    // The run gives the new file the old one's mode, so a set-user or set-group bit in the
    // journal that the file lacks was never the run's.
    const mode_t special = S_ISUID | S_ISGID;
    if ((entry.mode & special & ~file.now.st_mode) != 0) {
        return "the journal gives it a set-user or set-group mode it does not have, so the "
               "entry looks forged; " +
               kept;
    }
    return {};
}

// Replaces the checked `file` with the kept copy of `entry` in `files`: an empty text when done
// (`put_back`), else why not.
std::string PutBackCopy(const RestoreEntry& entry, int files, const std::string& kept, Block& block,
                        RewrittenFile& file, bool& put_back) {
    const Fd copy(openat(files, CopyName(entry.number).c_str(),
                         O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat copy_info {};
    if (copy.get() < 0 || fstat(copy.get(), &copy_info) != 0) {
        return "its kept copy cannot be read (" + std::string(strerror(errno)) + "); " + kept;
    }
    if (!S_ISREG(copy_info.st_mode) ||
        static_cast<std::uint64_t>(copy_info.st_size) != entry.size) {
        return "its kept copy is damaged; " + kept;
    }
    // A new file beside it with the file's owner, group, attributes and mode (the content is the
    // run's to undo; the permissions are the user's, also a later chmod), filled from the copy.
    PreparedRewrite rewrite;
    rewrite.folder = file.folder.get();
    rewrite.name = file.name;
    rewrite.input = file.input.get();
    rewrite.before = file.now;
    rewrite.mode = file.now.st_mode & 07777;
    rewrite.temporary = NewTemporaryName(file.folder.get(), file.name);
    if (std::string error = MakeNewFile(rewrite, nullptr); !error.empty()) {
        return error + "; " + kept;
    }
    const auto abandon = [&](std::string why) {
        DropNewFile(rewrite);
        return why + "; " + kept;
    };
    std::string copied;
    std::uint64_t size = 0;
    // A copy with holes is copied with them, and what was written is checked.
    const bool sparse = HasHoles(copy.get());
    if (sparse ? !CopyFileData(copy.get(), 0, entry.size, rewrite.output.get(), 0, true) ||
                     !EndFile(rewrite.output.get(), entry.size) ||
                     !StreamChecksum(rewrite.output.get(), -1, block, copied, size)
               : !StreamChecksum(copy.get(), rewrite.output.get(), block, copied, size)) {
        return abandon(std::string("its original cannot be copied back (") + strerror(errno) + ")");
    }
    if (size != entry.size || copied != entry.old_checksum) {
        return abandon("its kept copy is damaged");
    }
    // A write clears the set-user and set-group bits of a file that is not root's, so the mode
    // is given again; the times go last, after every write.
    const timespec times[2] = {entry.access_time, entry.modify_time};
    if (fchmod(rewrite.output.get(), rewrite.mode) != 0) {
        return abandon(std::string("cannot keep the file's permissions: ") + strerror(errno));
    }
    if (futimens(rewrite.output.get(), times) != 0) {
        return abandon(std::string("cannot set the file's times: ") + strerror(errno));
    }
    if (fdatasync(rewrite.output.get()) != 0) {
        return abandon(std::string("cannot flush the new content to disk: ") + strerror(errno));
    }
    std::string failed = SwitchIn(rewrite);
    put_back = failed.empty();
    return failed;
}

// Puts one file back; an empty text when done, else why it was left alone.
// `put_back`: the file was rewritten with its original (not so when it already was as before).
std::string RestoreOne(const std::string& point, const RestoreEntry& entry, int files,
                       bool& put_back) {
    put_back = false;
    const std::string kept = "its original is kept as " + CopyPath(point, entry.number);
    Block block;
    RewrittenFile file;
    bool already = false;
    if (std::string why = CheckRewritten(entry, kept, block, file, already);
        !why.empty() || already) {
        return why;
    }
    return PutBackCopy(entry, files, kept, block, file, put_back);
}

}  // namespace

RestoreFolderGuard::RestoreFolderGuard(const std::string& base) {
    if (base.empty()) {
        return;
    }
    std::string given = base;
    while (given.size() > 1 && given.back() == '/') {
        given.pop_back();
    }
    prefixes_.push_back(given + "/");
    if (char* resolved = realpath(given.c_str(), nullptr)) {
        if (prefixes_.front() != std::string(resolved) + "/") {
            prefixes_.push_back(std::string(resolved) + "/");
        }
        free(resolved);
    }
}

bool RestoreFolderGuard::Contains(const std::string& path) const {
    return std::any_of(prefixes_.begin(), prefixes_.end(), [&](const std::string& prefix) {
        return path.compare(0, prefix.size(), prefix) == 0;
    });
}

int RestorePointInfo::Pending() const {
    return static_cast<int>(std::count_if(entries.begin(), entries.end(),
                                          [](const RestoreEntry& e) { return !e.restored; }));
}

RestorePoint::RestorePoint(std::string folder, std::string id, int base, int point, int journal,
                           int files_folder)
    : folder_(std::move(folder)),
      id_(std::move(id)),
      base_(base),
      point_(point),
      journal_(journal),
      files_folder_(files_folder) {}

RestorePoint::~RestorePoint() {
    close(journal_);
    close(files_folder_);
    close(point_);
    close(base_);
}

Status RestorePoint::Create(const std::string& base, const std::string& search_text,
                            const std::string& replace_text, const std::string& start_folder,
                            std::unique_ptr<RestorePoint>& made) {
    if (base.empty()) {
        return Status::Error(EINVAL, "no restore-point folder is set");
    }
    Fd base_folder;
    if (Status status = OpenOwnFolder(base, true, base_folder); !status.ok()) {
        return status;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::string id;
    for (int attempt = 0;; ++attempt) {
        id = NewId(now, attempt);
        if (mkdirat(base_folder.get(), id.c_str(), 0700) == 0) {
            break;
        }
        if (errno != EEXIST || attempt == 99) {
            return ErrnoStatus("cannot create a restore point in " + base, errno);
        }
    }
    const std::string folder = base + "/" + id;
    Fd point(OpenFolderAt(base_folder.get(), id.c_str()));
    const auto undo = [&](Status status) {
        if (point.get() >= 0) {
            unlinkat(point.get(), kJournal, 0);
            unlinkat(point.get(), kFiles, AT_REMOVEDIR);
        }
        unlinkat(base_folder.get(), id.c_str(), AT_REMOVEDIR);
        return status;
    };
    if (point.get() < 0 || mkdirat(point.get(), kFiles, 0700) != 0) {
        return undo(ErrnoStatus("cannot create " + folder + "/" + kFiles, errno));
    }
    Fd files_folder(OpenFolderAt(point.get(), kFiles));
    Fd journal(openat(point.get(), kJournal,
                      O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (files_folder.get() < 0 || journal.get() < 0) {
        return undo(ErrnoStatus("cannot create the journal in " + folder, errno));
    }
    // Held while the run goes on: a run that finds it unlocked and unfinished knows its
    // leftovers are no one's.
    flock(journal.get(), LOCK_EX);
    const std::string header = std::string(kMagic) + "\ncreated\t" + TimeText(now) + "\nsearch\t" +
                               Escaped(search_text) + "\nreplace\t" + Escaped(replace_text) +
                               "\nfolder\t" + Escaped(start_folder);
    if (Status status = AppendLine(journal.get(), header); !status.ok()) {
        return undo(status);
    }
    if (fsync(point.get()) != 0 || fsync(base_folder.get()) != 0) {
        return undo(ErrnoStatus("cannot flush " + folder, errno));
    }
    made.reset(new RestorePoint(folder, id, base_folder.release(), point.release(),
                                journal.release(), files_folder.release()));
    return {};
}

Status RestorePoint::WriteCopy(std::uint64_t number, std::string_view bytes) {
    const std::string name = CopyName(number);
    Fd copy(openat(files_folder_, name.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (copy.get() < 0) {
        return ErrnoStatus("cannot create " + CopyPath(folder_, number), errno);
    }
    if (!WriteAll(copy.get(), bytes) || flush_.file(copy.get()) != 0 || fsync(files_folder_) != 0) {
        const Status failed = ErrnoStatus("cannot write " + CopyPath(folder_, number), errno);
        unlinkat(files_folder_, name.c_str(), 0);
        return failed;
    }
    return {};
}

Status RestorePoint::AppendJournal(const std::string& line) {
    std::lock_guard lock(journal_mutex_);
    return AppendLine(journal_, line, flush_.file);
}

std::string RestorePoint::EntryLine(std::uint64_t number, const std::string& target,
                                    const struct stat& before, const std::string& old_checksum,
                                    std::uint64_t old_size, const std::string& new_checksum) {
    char numbers[160];
    snprintf(numbers, sizeof numbers, "%llu\t%o\t%u\t%u", static_cast<unsigned long long>(old_size),
             before.st_mode & 07777, static_cast<unsigned>(before.st_uid),
             static_cast<unsigned>(before.st_gid));
    return "file\t" + std::to_string(number) + "\t" + Escaped(target) + "\t" + old_checksum + "\t" +
           new_checksum + "\t" + numbers + "\t" + TimeText(before.st_atim) + "\t" +
           TimeText(before.st_mtim);
}

Status RestorePoint::KeepOriginal(PreparedRewrite& rewrite, Kept& kept) {
    kept.number = next_number_.fetch_add(1);
    const std::string name = CopyName(kept.number);
    // The open file itself, so what is kept is what was read whatever the path holds now.
    const std::string self = "/proc/self/fd/" + std::to_string(rewrite.input);
    // A file with other names is copied: it stays theirs, and another rewrite of it through one
    // of them must not see its status time move.
    const bool linked =
        rewrite.before.st_nlink == 1 &&
        linkat(AT_FDCWD, self.c_str(), files_folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    if (!linked) {
        Fd copy(openat(files_folder_, name.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (copy.get() < 0) {
            return ErrnoStatus("cannot create " + CopyPath(folder_, kept.number), errno);
        }
        const std::uint64_t size = static_cast<std::uint64_t>(rewrite.before.st_size);
        if (ioctl(copy.get(), FICLONE, rewrite.input) != 0 &&
            (!CopyFileData(rewrite.input, 0, size, copy.get(), 0, HasHoles(rewrite.input)) ||
             !EndFile(copy.get(), size))) {
            const Status failed =
                ErrnoStatus("cannot write " + CopyPath(folder_, kept.number), errno);
            unlinkat(files_folder_, name.c_str(), 0);
            return failed;
        }
    }
    // Written to since it was read (a link also moves the status time, so that is taken anew).
    struct stat now {};
    if (fstat(rewrite.input, &now) != 0 || now.st_size != rewrite.before.st_size ||
        now.st_mtim.tv_sec != rewrite.before.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != rewrite.before.st_mtim.tv_nsec) {
        unlinkat(files_folder_, name.c_str(), 0);
        return Status::Error(EAGAIN, kChangedMeanwhile);
    }
    if (linked) {
        rewrite.before.st_ctim = now.st_ctim;
    }
    kept.line = EntryLine(kept.number, rewrite.target, rewrite.before, rewrite.old_checksum,
                          rewrite.old_size, rewrite.new_checksum);
    return {};
}

void RestorePoint::Drop(const Kept& kept) {
    unlinkat(files_folder_, CopyName(kept.number).c_str(), 0);
}

void RestorePoint::Forget(const Kept& kept) {
    if (AppendJournal("dropped\t" + std::to_string(kept.number)).ok()) {
        kept_.fetch_sub(1);
        Drop(kept);
    }
}

Status RestorePoint::Record(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    std::lock_guard lock(journal_mutex_);
    if (!WriteAll(journal_, text) || flush_.file(journal_) != 0) {
        return ErrnoStatus("cannot write the restore point's journal", errno);
    }
    kept_.fetch_add(static_cast<int>(lines.size()));
    return {};
}

Status RestorePoint::End() {
    return AppendJournal("end");
}

Status RestorePoint::KeepCopy(std::uint64_t number, const std::string& target,
                              const struct stat& before, std::string_view original,
                              const std::string& new_checksum) {
    if (Status status = WriteCopy(number, original); !status.ok()) {
        return status;
    }
    const std::string line =
        EntryLine(number, target, before, ContentChecksum(original), original.size(), new_checksum);
    if (Status status = AppendJournal(line); !status.ok()) {
        unlinkat(files_folder_, CopyName(number).c_str(), 0);
        return status;
    }
    return {};
}

Status RestorePoint::Keep(const std::string& target, const struct stat& before,
                          std::string_view original, std::string_view replaced) {
    Status status =
        KeepCopy(next_number_.fetch_add(1), target, before, original, ContentChecksum(replaced));
    if (status.ok()) {
        kept_.fetch_add(1);
    }
    return status;
}

bool RestorePoint::Finish() {
    if (kept_.load() > 0) {
        return true;
    }
    RestorePointInfo info;
    if (ReadRestorePointAt(point_, folder_, info).ok() && !info.entries.empty()) {
        return true;  // a handler's file whose fate is unknown: its copy stays
    }
    (void)RemovePointAt(base_, point_, id_, folder_);
    return false;
}

Status ReadRestorePoint(const std::string& folder, RestorePointInfo& info) {
    Fd base;
    Fd point;
    std::string id;
    if (Status status = OpenPointFolder(folder, base, point, id); !status.ok()) {
        return status;
    }
    return ReadRestorePointAt(point.get(), folder, info);
}

namespace {

// The entry a journal's "file" line (`fields`, of file `number`) tells of; false when a field
// does not read.
bool ParseFileLine(const std::vector<std::string_view>& fields, std::uint64_t number,
                   RestoreEntry& entry) {
    entry.number = number;
    entry.path = Unescaped(fields[2]);
    entry.old_checksum = std::string(fields[3]);
    entry.new_checksum = fields[4] == "-" ? std::string() : std::string(fields[4]);
    unsigned mode = 0;
    unsigned uid = 0;
    unsigned gid = 0;
    if (!ParseNumber(fields[5], entry.size) || !ParseNumber(fields[6], mode, 8) ||
        !ParseNumber(fields[7], uid) || !ParseNumber(fields[8], gid) ||
        !ParseTime(fields[9], entry.access_time) || !ParseTime(fields[10], entry.modify_time)) {
        return false;
    }
    entry.mode = static_cast<mode_t>(mode & 07777);
    if (fields.size() == 12) {
        entry.temporary = Unescaped(fields[11]);
    }
    entry.uid = static_cast<uid_t>(uid);
    entry.gid = static_cast<gid_t>(gid);
    return true;
}

Status ReadRestorePointAt(int point, const std::string& folder, RestorePointInfo& info) {
    std::string text;
    if (!ReadFileAt(point, kJournal, text)) {
        return ErrnoStatus("cannot read the journal of " + folder, errno);
    }
    static_assert(sizeof kMagic == sizeof kMagicOne);
    if ((text.compare(0, sizeof kMagic - 1, kMagic) != 0 &&
         text.compare(0, sizeof kMagicOne - 1, kMagicOne) != 0) ||
        (text.size() > sizeof kMagic - 1 && text[sizeof kMagic - 1] != '\n')) {
        return Status::Error(EINVAL, folder + " is not a restore point");
    }
    info = RestorePointInfo();
    const std::size_t slash = folder.rfind('/');
    info.id = slash == std::string::npos ? folder : folder.substr(slash + 1);
    info.folder = folder;
    std::map<std::uint64_t, std::size_t> by_number;
    bool created = false;
    std::size_t start = sizeof kMagic;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            break;  // a line cut short by a crash: never complete, never relied on
        }
        const std::vector<std::string_view> fields =
            Fields(std::string_view(text).substr(start, end - start));
        start = end + 1;
        const std::string_view kind = fields[0];
        std::uint64_t number = 0;
        if (kind == "created" && fields.size() == 2) {
            created = ParseTime(fields[1], info.created);
        } else if (kind == "search" && fields.size() == 2) {
            info.search_text = Unescaped(fields[1]);
        } else if (kind == "replace" && fields.size() == 2) {
            info.replace_text = Unescaped(fields[1]);
        } else if (kind == "folder" && fields.size() == 2) {
            info.start_folder = Unescaped(fields[1]);
        } else if (kind == "end" && fields.size() == 1) {
            info.ended = true;
        } else if (kind == "cleaned" && fields.size() == 1) {
            info.ended = true;
        } else if (kind == "file" && (fields.size() == 11 || fields.size() == 12) &&
                   ParseNumber(fields[1], number)) {
            RestoreEntry entry;
            if (!ParseFileLine(fields, number, entry)) {
                continue;
            }
            by_number[number] = info.entries.size();
            info.entries.push_back(std::move(entry));
        } else if (fields.size() >= 2 && ParseNumber(fields[1], number) &&
                   by_number.count(number) != 0) {
            RestoreEntry& entry = info.entries[by_number[number]];
            if (kind == "settled" && fields.size() == 3) {
                entry.new_checksum = std::string(fields[2]);
            } else if (kind == "dropped") {
                entry.dropped = true;
            } else if (kind == "restored") {
                entry.restored = true;
            }
        }
    }
    if (!created) {
        return Status::Error(EINVAL, folder + " is not a restore point");
    }
    info.entries.erase(std::remove_if(info.entries.begin(), info.entries.end(),
                                      [](const RestoreEntry& e) { return e.dropped; }),
                       info.entries.end());
    return {};
}

}  // namespace

std::vector<RestorePointInfo> ListRestorePoints(const std::string& base) {
    std::vector<RestorePointInfo> points = AllRestorePoints(base);
    points.erase(std::remove_if(points.begin(), points.end(),
                                [](const RestorePointInfo& p) { return p.Pending() == 0; }),
                 points.end());
    std::reverse(points.begin(), points.end());
    return points;
}

Status UndoRestorePoint(const std::string& folder, UndoOutcome& outcome) {
    outcome = UndoOutcome();
    Fd base;
    Fd point;
    std::string id;
    if (Status status = OpenPointFolder(folder, base, point, id); !status.ok()) {
        return status;
    }
    RestorePointInfo info;
    if (Status status = ReadRestorePointAt(point.get(), folder, info); !status.ok()) {
        return status;
    }
    Fd journal(openat(point.get(), kJournal, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
    const Fd files(OpenFolderAt(point.get(), kFiles));
    if (journal.get() < 0 || files.get() < 0) {
        return ErrnoStatus("cannot open the journal and copies of " + folder, errno);
    }
    // Newest first, as the files were changed in the other order.
    for (auto entry = info.entries.rbegin(); entry != info.entries.rend(); ++entry) {
        if (entry->restored) {
            continue;
        }
        bool put_back = false;
        std::string why;
        // One file that cannot be put back, for whatever reason, never stops the others.
        try {
            why = RestoreOne(folder, *entry, files.get(), put_back);
        } catch (const std::bad_alloc&) {
            why = "there was not enough memory to put it back; its original is kept as " +
                  CopyPath(folder, entry->number);
        } catch (const std::exception& error) {
            why = std::string(error.what()) + "; its original is kept as " +
                  CopyPath(folder, entry->number);
        }
        if (!why.empty()) {
            outcome.refused.push_back({entry->path, std::move(why)});
            continue;
        }
        if (Status status = AppendLine(journal.get(), "restored\t" + std::to_string(entry->number));
            !status.ok()) {
            return status;  // the file is back; only the note of it is missing
        }
        entry->restored = true;
        outcome.restored += put_back ? 1 : 0;
    }
    try {
        RemoveLastRewriteOf(info);
    } catch (const std::exception&) {
        // Not enough memory to read it: it stays, as it would after any run.
    }
    if (outcome.refused.empty()) {
        outcome.removed = RemovePointAt(base.get(), point.get(), id, folder).ok();
    }
    return {};
}

void PruneRestorePoints(const std::string& base, int keep) {
    if (keep < 0) {
        return;
    }
    const std::vector<RestorePointInfo> points = AllRestorePoints(base);
    for (std::size_t i = 0; i + static_cast<std::size_t>(keep) < points.size(); ++i) {
        (void)RemoveRestorePoint(points[i].folder);
    }
}

Status RemoveRestorePoint(const std::string& folder) {
    Fd base;
    Fd point;
    std::string id;
    if (Status status = OpenPointFolder(folder, base, point, id); !status.ok()) {
        return status;
    }
    RestorePointInfo info;
    if (Status status = ReadRestorePointAt(point.get(), folder, info); !status.ok()) {
        return status;
    }
    return RemovePointAt(base.get(), point.get(), id, folder);
}

std::vector<std::string> RemoveLeftovers(const std::string& base) {
    std::vector<std::string> removed;
    Fd base_folder;
    if (!OpenOwnFolder(base, false, base_folder).ok()) {
        return removed;
    }
    DIR* listing = fdopendir(fcntl(base_folder.get(), F_DUPFD_CLOEXEC, 0));
    if (listing == nullptr) {
        return removed;
    }
    const uid_t me = geteuid();
    while (const dirent* item = readdir(listing)) {
        const std::string id = item->d_name;
        if (id == "." || id == "..") {
            continue;
        }
        const Fd point(OpenFolderAt(base_folder.get(), id.c_str()));
        if (point.get() < 0) {
            continue;
        }
        const Fd journal(
            openat(point.get(), kJournal, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
        // A run that is still going holds its journal locked.
        if (journal.get() < 0 || flock(journal.get(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        RestorePointInfo info;
        const std::string folder = base + "/" + id;
        if (!ReadRestorePointAt(point.get(), folder, info).ok() || info.ended) {
            continue;
        }
        for (const RestoreEntry& entry : info.entries) {
            if (entry.temporary.empty() || !PlainFullPath(entry.path) ||
                entry.temporary.find('/') != std::string::npos) {
                continue;
            }
            const std::size_t slash = entry.path.rfind('/');
            Fd where;
            if (!OpenFolderNoLinks(entry.path.substr(0, slash + 1), where).ok()) {
                continue;
            }
            // Only a file the run could have made: ours, alone, and made after the run began.
            struct stat left {};
            if (fstatat(where.get(), entry.temporary.c_str(), &left, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(left.st_mode) || left.st_uid != me || left.st_nlink != 1 ||
                left.st_mtim.tv_sec < info.created.tv_sec) {
                continue;
            }
            if (unlinkat(where.get(), entry.temporary.c_str(), 0) == 0) {
                removed.push_back(entry.path.substr(0, slash + 1) + entry.temporary);
            }
        }
        (void)AppendLine(journal.get(), "cleaned");
    }
    closedir(listing);
    return removed;
}

Status CheckRestoreFolder(const std::string& base) {
    Fd folder;
    return OpenOwnFolder(base, false, folder);
}

}  // namespace ferret
