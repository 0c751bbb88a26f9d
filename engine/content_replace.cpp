#include "engine/content_replace.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

// Inlined: a preview takes the digest of every file whose changes it finds.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include "engine/change_finder.h"
#include "engine/file_data.h"
#include "engine/file_details.h"
#include "engine/regex.h"
#include "engine/text_blocks.h"
#include "util/app_paths.h"
#include "util/file_handle.h"
#include "util/own_folder.h"
#include "util/text_encoding.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

std::string ErrnoText(const std::string& what, int error) {
    return what + ": " + strerror(error);
}

// Copies every extended attribute (ACLs are stored as such) from one open file to another.
// Labels that only the system may set are copied where allowed and otherwise left to the
// system's own default.
bool CopyExtendedAttributes(int from, int to, std::string& error) {
    ssize_t size = flistxattr(from, nullptr, 0);
    if (size < 0) {
        if (errno == ENOTSUP) {
            return true;
        }
        error = ErrnoText("cannot list extended attributes", errno);
        return false;
    }
    std::vector<char> names(static_cast<std::size_t>(size) + 1);
    size = flistxattr(from, names.data(), names.size());
    if (size < 0) {
        error = ErrnoText("cannot list extended attributes", errno);
        return false;
    }
    for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
        const char* name = names.data() + at;
        at += strlen(name) + 1;
        const bool system_label =
            strncmp(name, "security.", 9) == 0 || strncmp(name, "trusted.", 8) == 0;
        const ssize_t length = fgetxattr(from, name, nullptr, 0);
        if (length < 0) {
            error = ErrnoText(std::string("cannot read extended attribute ") + name, errno);
            return false;
        }
        std::vector<char> value(static_cast<std::size_t>(length) + 1);
        const ssize_t got = fgetxattr(from, name, value.data(), value.size());
        if (got < 0 || fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0) != 0) {
            if (system_label && (errno == EPERM || errno == ENOTSUP || errno == EACCES)) {
                continue;
            }
            error = ErrnoText(std::string("cannot copy extended attribute ") + name, errno);
            return false;
        }
    }
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

RewriteResult Failed(std::string why) {
    RewriteResult result;
    result.count = kNotSearched;
    result.error = std::move(why);
    return result;
}

// Why a file whose text did not decode exactly is not rewritten: bytes outside the changes would
// change.
Status NotExact(ByteOrderMark mark, const std::string& legacy) {
    const std::string name = EncodingName(mark, legacy);
    return Status::Error(EILSEQ, mark != ByteOrderMark::kNone
                                     ? "the file is marked as " + name + " but is not valid " +
                                           name + " throughout; it was left as it is"
                                     : "the file is not valid " + name +
                                           " throughout, the encoding it was read in; it was "
                                           "left as it is");
}

// Why a replacement that the file's encoding cannot hold is not written.
Status NotEncodable(ByteOrderMark mark, const std::string& legacy) {
    return Status::Error(EILSEQ, "the replacement cannot be written in " +
                                     EncodingName(mark, legacy) +
                                     ", the file's encoding; it was left as it is");
}

// Turns the UTF-8 text `replaced` into the bytes of a file with the byte-order mark `mark`, or
// without one in the legacy encoding `legacy`. Refused when the file's text did not decode
// exactly (bytes outside the matches would change) or the replacement cannot be written in that
// encoding.
Status EncodeAsFile(ByteOrderMark mark, const std::string& legacy, bool exact,
                    std::string_view replacement, std::string& replaced) {
    if (!exact) {
        return NotExact(mark, legacy);
    }
    if (mark == ByteOrderMark::kNone) {
        LegacyEncoder encoder(legacy);
        std::string bytes;
        if (!encoder.Encode(replaced, bytes)) {
            return NotEncodable(mark, legacy);
        }
        replaced = std::move(bytes);
        return {};
    }
    const std::string name = EncodingName(mark, legacy);
    if (!IsValidUtf8(replacement)) {
        return NotEncodable(mark, legacy);
    }
    std::string bytes;
    if (mark == ByteOrderMark::kUtf8) {
        bytes = "\xEF\xBB\xBF" + replaced;
    } else {
        const bool big_endian = mark == ByteOrderMark::kUtf16BE;
        if (!EncodeUtf16(replaced, big_endian, bytes)) {
            return Status::Error(EILSEQ, "the new text cannot be written as " + name +
                                             "; the file was left as it is");
        }
        bytes.insert(0, big_endian ? "\xFE\xFF" : "\xFF\xFE");
    }
    replaced = std::move(bytes);
    return {};
}

// The new copy's name beside `name` in the open folder `folder`: ".NAME.ferret-XXXXXX" with
// random letters, NAME shortened where the whole would pass the longest name the folder allows,
// and cut between characters when it is UTF-8 so the name stays readable.
std::string TemporaryName(int folder, std::string_view name) {
    constexpr std::string_view kPrefix = ".ferret-";
    constexpr std::size_t kRandom = 6;
    long longest = fpathconf(folder, _PC_NAME_MAX);
    if (longest <= 0) {
        longest = NAME_MAX;
    }
    const std::size_t fixed = 1 + kPrefix.size() + kRandom;
    const std::size_t room =
        static_cast<std::size_t>(longest) > fixed ? static_cast<std::size_t>(longest) - fixed : 0;
    if (name.size() > room) {
        std::size_t cut = room;
        if (IsValidUtf8(name)) {
            while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
                --cut;
            }
        }
        name = name.substr(0, cut);
    }
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[kRandom] = {};
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // No randomness: the clock and a counter still make clashes rare, and O_EXCL catches them.
        static std::atomic<unsigned> counter{0};
        const unsigned long long seed = static_cast<unsigned long long>(time(nullptr)) * 7919u +
                                        counter.fetch_add(1) + static_cast<unsigned>(getpid());
        for (std::size_t i = 0; i < kRandom; ++i) {
            random[i] = static_cast<unsigned char>(seed >> (i * 5));
        }
    }
    std::string made = "." + std::string(name) + std::string(kPrefix);
    for (const unsigned char r : random) {
        made.push_back(kLetters[r % (sizeof kLetters - 1)]);
    }
    return made;
}

// A writer opening a leased file makes the kernel signal the lease holder with SIGIO, which
// would end the program: the lease is given back at once anyway, so the signal is ignored.
void IgnoreLeaseBreaks() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction now {};
        if (sigaction(SIGIO, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) {
            signal(SIGIO, SIG_IGN);
        }
    });
}

// Why the regular file `file`, opened at `place`, may not be rewritten, or an empty text.
std::string Refusal(const FilePlace& place, const struct stat& file, bool* name_is_link = nullptr) {
    struct stat link {};
    // A file opened as walked was opened without following a link.
    const bool is_link =
        !place.regular &&
        fstatat(place.folder, place.name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(link.st_mode);
    if (name_is_link != nullptr) {
        *name_is_link = is_link;
    }
    if (is_link && !MayFollowLink(link.st_uid, file.st_uid)) {
        return "it is a link that belongs to another user; it was not followed";
    }
    // Read-only means the owner may not write it, whoever we are (root may write anything).
    if ((file.st_mode & S_IWUSR) == 0 ||
        faccessat(place.folder, place.name.c_str(), W_OK, 0) != 0) {
        return "the file is read-only";
    }
    if (const uid_t us = geteuid(); us != 0 && file.st_uid != us) {
        return "the file belongs to another user, whose ownership could not be kept";
    }
    return {};
}

// Takes the file `input`, opened at `place` in the state `before`, for a rewrite when it may be
// rewritten: its folder, name and mode go to `rewrite`, which then owns it. Returns why not, or
// an empty text.
std::string Adopt(const FilePlace& place, Fd& input, const struct stat& before,
                  PreparedRewrite& rewrite) {
    const std::string& path = place.path;
    if (std::string refused = Refusal(place, before); !refused.empty()) {
        return refused;
    }
    // A link is followed: the file it points to is rewritten and the link stays a link. Only
    // files with hits are resolved, as resolving costs a look at every part of the path.
    std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
    if (!resolved) {
        return ErrnoText("cannot open the file", errno);  // a path too long to resolve, or gone
    }
    const std::string target = resolved.get();
    const std::size_t slash = target.rfind('/');
    if (place.beneath != nullptr) {
        // The folder is opened from the start folder down without following a link, so one put
        // on the way since the path was resolved cannot lead the rewrite out either.
        const std::optional<std::string> inside = place.beneath->Inside(target);
        if (!inside) {
            return place.beneath->OutsideText();
        }
        const std::size_t cut = inside->rfind('/');
        rewrite.folder_holder.Reset(place.beneath->OpenFolderBeneath(
            cut == std::string::npos ? std::string() : inside->substr(0, cut)));
        if (rewrite.folder_holder.get() < 0) {
            return errno == ELOOP || errno == EXDEV || errno == ENOENT || errno == ENOTDIR
                       ? std::string(kChangedMeanwhile)
                       : ErrnoText("cannot open its folder", errno);
        }
    } else {
        rewrite.folder_holder.Reset(
            OpenPath(target.substr(0, slash + 1), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (rewrite.folder_holder.get() < 0) {
            return ErrnoText("cannot open its folder", errno);
        }
    }
    // The name in the folder opened is the file that was read.
    struct stat resolved_info {};
    if (fstatat(rewrite.folder_holder.get(), target.c_str() + slash + 1, &resolved_info,
                AT_SYMLINK_NOFOLLOW) != 0 ||
        resolved_info.st_dev != before.st_dev || resolved_info.st_ino != before.st_ino) {
        return kChangedMeanwhile;
    }
    rewrite.folder = rewrite.folder_holder.get();
    rewrite.target = target;
    rewrite.name = target.substr(slash + 1);
    rewrite.input_holder.Reset(input.release());
    rewrite.input = rewrite.input_holder.get();
    rewrite.before = before;
    rewrite.mode = before.st_mode & 07777;
    return {};
}

}  // namespace

StartFolder::StartFolder(const std::string& path) {
    std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
    if (!resolved) {
        return;
    }
    fd_.Reset(open(resolved.get(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (fd_.get() >= 0) {
        real_ = resolved.get();
    }
}

std::optional<std::string> StartFolder::Inside(const std::string& target) const {
    if (real_.empty()) {
        return std::nullopt;
    }
    if (real_ == "/") {
        return target.substr(1);
    }
    if (target == real_) {
        return std::string();
    }
    if (target.size() > real_.size() && target.compare(0, real_.size(), real_) == 0 &&
        target[real_.size()] == '/') {
        return target.substr(real_.size() + 1);
    }
    return std::nullopt;
}

bool StartFolder::LeadsOut(const std::string& path) const {
    std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
    return resolved && !Inside(resolved.get());
}

int StartFolder::OpenFolderBeneath(const std::string& relative) const {
    if (relative.empty()) {
        return fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0);
    }
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long opened = syscall(SYS_openat2, fd_.get(), relative.c_str(), &how, sizeof how);
    if (opened >= 0 || errno != ENOSYS) {
        return static_cast<int>(opened);
    }
    // A kernel before 5.6: a step at a time, none of them a link. A real path has no "..".
    Fd at(fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
    for (std::size_t start = 0; at.get() >= 0 && start <= relative.size();) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos) {
            end = relative.size();
        }
        const std::string step = relative.substr(start, end - start);
        if (step == "..") {
            errno = EXDEV;
            return -1;
        }
        if (!step.empty() && step != ".") {
            at.Reset(openat(at.get(), step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        start = end + 1;
    }
    return at.release();
}

std::string StartFolder::OutsideText() const {
    return "it lies outside the folder " + real_ + " (a link leads there); it was not rewritten";
}

bool IsApprovedForReplace(std::string_view file_name, std::string_view list) {
    const std::size_t dot = file_name.rfind('.');
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : file_name.substr(dot);
    // A run asks about every file with the same list: it is folded once.
    thread_local std::string last_list;
    thread_local std::string folded_list;
    if (list != last_list) {
        last_list.assign(list);
        folded_list = FoldCase(list);
    }
    return folded_list.find(FoldCase(extension)) != std::string::npos;
}

void DeleteFileQuietly(const std::string& path) {
    unlink(path.c_str());
}

std::string LastRewritePath() {
    return DataFilePath("~~temprpl.frr");
}

namespace {

// Puts a new "~~temprpl.frr" in place in one step, its bytes written by `fill` into the open new
// file; flushed first when `flush`. rename() replaces a link at the target rather than writing
// where it points.
Status ReplaceLastRewrite(const std::function<bool(int output)>& fill, bool flush) {
    if (Status status = EnsureDataFolder(); !status.ok()) {
        return status;
    }
    const std::string target = LastRewritePath();
    std::string temporary = target + "-XXXXXX";
    Fd output(mkostemp(temporary.data(), O_CLOEXEC));
    if (output.get() < 0) {
        return Status::Error(errno, ErrnoText("cannot create " + temporary, errno));
    }
    if (!fill(output.get()) || (flush && fdatasync(output.get()) != 0) ||
        rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        return Status::Error(error, ErrnoText("cannot write " + target, error));
    }
    return {};
}

}  // namespace

Status KeepLastRewrite(std::string_view content) {
    return ReplaceLastRewrite([content](int output) { return WriteAll(output, content); }, true);
}

Status KeepLastRewriteOf(int file) {
    struct stat info {};
    if (fstat(file, &info) != 0) {
        return Status::Error(errno, ErrnoText("cannot read the last file rewritten", errno));
    }
    const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    // A clone where the file systems allow; holes stay holes. Not flushed: a copy for the user's
    // convenience, as large as the file, need not wait for the disk as the rewritten file did.
    return ReplaceLastRewrite(
        [file, size](int output) {
            return ioctl(output, FICLONE, file) == 0 ||
                   (CopyFileData(file, 0, size, output, 0, HasHoles(file)) &&
                    EndFile(output, size));
        },
        false);
}

std::string SwapInContent(const std::string& target, int input, const struct stat& before,
                          std::string_view content, mode_t mode, const timespec* times,
                          const std::function<void()>& before_swap) {
    const std::size_t slash = target.rfind('/');
    const std::string folder_path = target.substr(0, slash + 1);
    const Fd folder(
        OpenPath(folder_path.empty() ? "." : folder_path, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        return ErrnoText("cannot open the folder " + folder_path, errno);
    }
    return SwapInContentAt(folder.get(), target.substr(slash + 1), input, before, content, mode,
                           times, before_swap);
}

std::string SwapInContentAt(int folder, const std::string& name, int input,
                            const struct stat& before, std::string_view content, mode_t mode,
                            const timespec* times, const std::function<void()>& before_swap) {
    PreparedRewrite rewrite;
    rewrite.folder = folder;
    rewrite.name = name;
    rewrite.input = input;
    rewrite.before = before;
    rewrite.content = std::string(content);
    rewrite.mode = mode;
    rewrite.temporary = NewTemporaryName(folder, name);
    if (std::string error = MakeNewFile(rewrite, times); !error.empty()) {
        return error;
    }
    if (fdatasync(rewrite.output.get()) != 0) {
        const std::string error = ErrnoText("cannot flush the new content to disk", errno);
        DropNewFile(rewrite);
        return error;
    }
    return SwitchIn(rewrite, before_swap);
}

std::string NewTemporaryName(int folder, std::string_view name) {
    return TemporaryName(folder, name);
}

namespace {

// Makes the new file of `rewrite`, empty.
std::string CreateNewFile(PreparedRewrite& rewrite) {
    // Unnamed where the file system allows: a run killed before the file is named leaves
    // nothing. Readable by us alone until it is complete.
    rewrite.output.Reset(openat(rewrite.folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (rewrite.output.get() >= 0) {
        rewrite.unnamed = true;
        return {};
    }
    rewrite.unnamed = false;
    if (rewrite.temporary.empty()) {
        rewrite.temporary = NewTemporaryName(rewrite.folder, rewrite.name);
    }
    rewrite.output.Reset(openat(rewrite.folder, rewrite.temporary.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (rewrite.output.get() < 0) {
        return ErrnoText("cannot create a new file beside it", errno);
    }
    return {};
}

// Gives the unnamed new file of `rewrite` its temporary name.
bool NameNewFile(PreparedRewrite& rewrite) {
    const std::string self = "/proc/self/fd/" + std::to_string(rewrite.output.get());
    if (linkat(AT_FDCWD, self.c_str(), rewrite.folder, rewrite.temporary.c_str(),
               AT_SYMLINK_FOLLOW) != 0) {
        return false;
    }
    rewrite.unnamed = false;
    return true;
}

}  // namespace

std::string MakeNewFile(PreparedRewrite& rewrite, const timespec* times) {
    const auto abandon = [&](std::string why) {
        DropNewFile(rewrite);
        return why;
    };
    if (!rewrite.written) {
        if (std::string why = CreateNewFile(rewrite); !why.empty()) {
            return why;
        }
        if (!WriteAll(rewrite.output.get(), rewrite.content)) {
            return abandon(ErrnoText("cannot write the new content", errno));
        }
    }
    if (rewrite.unnamed && !NameNewFile(rewrite)) {
        return abandon(ErrnoText("cannot name the new file beside it", errno));
    }
    const struct stat& before = rewrite.before;
    struct stat made {};
    if (fstat(rewrite.output.get(), &made) != 0) {
        return abandon(ErrnoText("cannot read the new file", errno));
    }
    if ((made.st_uid != before.st_uid || made.st_gid != before.st_gid) &&
        fchown(rewrite.output.get(), before.st_uid, before.st_gid) != 0) {
        return abandon(ErrnoText("cannot keep the file's owner and group", errno));
    }
    std::string error;
    if (!CopyExtendedAttributes(rewrite.input, rewrite.output.get(), error)) {
        return abandon(error);
    }
    // After the owner: changing the owner clears the set-user and set-group bits.
    if (fchmod(rewrite.output.get(), rewrite.mode & 07777) != 0) {
        return abandon(ErrnoText("cannot keep the file's permissions", errno));
    }
    if (times != nullptr && futimens(rewrite.output.get(), times) != 0) {
        return abandon(ErrnoText("cannot set the file's times", errno));
    }
    return {};
}

void DropNewFile(PreparedRewrite& rewrite) {
    if (rewrite.output.get() >= 0) {
        rewrite.output.Reset();
        if (!rewrite.unnamed) {
            unlinkat(rewrite.folder, rewrite.temporary.c_str(), 0);
        }
    }
    rewrite.unnamed = false;
}

std::string SwitchIn(PreparedRewrite& rewrite, const std::function<void()>& before_swap) {
    if (before_swap) {
        before_swap();
    }
    // A program that holds the file open for writing would go on writing into the old file
    // once it has lost its name, and its writes would be lost: the kernel grants a read lease
    // only while nobody has the file open for writing, and the lease is held over the switch.
    IgnoreLeaseBreaks();
    bool leased = fcntl(rewrite.input, F_SETLEASE, F_RDLCK) == 0;
    if (!leased && errno == EAGAIN) {
        DropNewFile(rewrite);
        return "the file is in use by another program (open for writing); it was left as it is";
    }
    // Elsewhere (a file system without leases) nothing more can be checked.
    struct Unlease {
        int fd;
        bool held;
        ~Unlease() {
            if (held) {
                fcntl(fd, F_SETLEASE, F_UNLCK);
            }
        }
    } unlease{rewrite.input, leased};
    struct stat now {};
    if (fstatat(rewrite.folder, rewrite.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(rewrite.before, now)) {
        DropNewFile(rewrite);
        return kChangedMeanwhile;
    }
    if (renameat(rewrite.folder, rewrite.temporary.c_str(), rewrite.folder, rewrite.name.c_str()) !=
        0) {
        const std::string error = ErrnoText("cannot replace the file", errno);
        DropNewFile(rewrite);
        return error;
    }
    rewrite.output.Reset();
    return {};
}

std::string WhyNotRewritable(const std::string& path) {
    struct stat file {};
    if (stat(path.c_str(), &file) != 0) {
        return ErrnoText("cannot open the file", errno);
    }
    if (!S_ISREG(file.st_mode)) {
        return "not a regular file";
    }
    return Refusal(path, file);
}

namespace {

// The regular file at `place` opened as `input`, its state `before`; an empty text, or why not.
std::string OpenToRead(const FilePlace& place, const DetailsSink& details, Fd& input,
                       struct stat& before) {
    // A link put in place of a walked file since the walk is not followed.
    input.Reset(
        openat(place.folder, place.name.c_str(),
               O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (place.regular ? O_NOFOLLOW : 0)));
    if (input.get() < 0 || fstat(input.get(), &before) != 0) {
        return ErrnoText("cannot open the file", errno);
    }
    if (!S_ISREG(before.st_mode)) {
        return "not a regular file";
    }
    if (details) {
        FileDetails read_details;
        if (ReadOpenFileDetails(input.get(), read_details)) {
            details(read_details.size, read_details.created);
        }
    }
    return {};
}

// The changes of a plain text (`matcher`, exact: leftmost, not overlapping) in the open file
// `input` of `size` bytes, counted a block at a time: what a preview needs of a file it does not
// show, without holding the file whole. `overlaps`: two hits can overlap, so the changes are the
// leftmost hits that do not. False when it cannot be read (errno), or when it has a byte-order
// mark or is in a legacy encoding (`encoding`, LegacyEncodingOf) (`marked`): its text is not its
// bytes.
bool CountPlainChanges(int input, std::uint64_t size, const PlainMatcher& matcher, bool overlaps,
                       const EncodingChoice& encoding, std::int64_t& count, bool& marked) {
    constexpr std::size_t kBlock = 64 * 1024;
    const std::size_t length = matcher.MaxHitLength();
    // The tail of each block goes in front of the next, so changes across the seam are found.
    const std::size_t carry_room = length - 1;
    thread_local std::vector<char> storage;
    if (storage.size() < carry_room + kBlock) {
        storage.resize(carry_room + kBlock);
    }
    char* const buffer = storage.data();
    count = 0;
    marked = false;
    std::size_t carried = 0;
    std::uint64_t offset = 0;     // of buffer[0] in the file
    std::uint64_t free_from = 0;  // where the next change may start: after the last one
    std::uint64_t total = 0;      // bytes read
    bool ascii_so_far = false;    // every byte read was ASCII
    for (bool first = true;; first = false) {
        const ReadResult got = ReadSome(input, buffer + carried, kBlock);
        if (got.failed()) {
            return false;
        }
        if (got.bytes == 0) {
            break;
        }
        total += got.bytes;
        // A short read that brings the file to its size ends it: no read is spent to learn so.
        // Should it have grown meanwhile, its identity tells when the changes are written.
        const bool ended = got.bytes < kBlock && total == size;
        const std::size_t filled = carried + got.bytes;
        if (first &&
            (DetectByteOrderMark(std::string_view(buffer, filled)) != ByteOrderMark::kNone ||
             !LegacyEncodingOf(std::string_view(buffer, filled), encoding).empty())) {
            marked = true;
            return false;
        }
        if (first) {
            ascii_so_far = encoding.forced.empty() && !ended &&
                           IsAsciiWithoutNul(std::string_view(buffer, filled));
        } else if (ascii_so_far) {
            // A text that goes beyond ASCII is judged there, as its rewrite judges it.
            if (const std::optional<std::string> legacy =
                    LaterLegacyEncoding(input, std::string_view(buffer + carried, got.bytes),
                                        total - got.bytes, encoding)) {
                ascii_so_far = false;
                if (!legacy->empty()) {
                    marked = true;
                    return false;
                }
            }
        }
        if (!overlaps) {
            // Hits that cannot overlap are all changes: counted as a search counts them.
            count += static_cast<std::int64_t>(matcher.Count(buffer, filled, carried));
        } else {
            for (std::size_t at =
                     matcher.Find(buffer, filled, free_from > offset ? free_from - offset : 0);
                 at != std::string_view::npos; at = matcher.Find(buffer, filled, at + length)) {
                ++count;
                free_from = offset + at + length;
            }
        }
        if (ended) {
            break;
        }
        const std::size_t keep = std::min(carry_room, filled);
        std::memmove(buffer, buffer + filled - keep, keep);
        offset += filled - keep;
        carried = keep;
    }
    return true;
}

// A file opened and read for a rewrite or a preview, its text decoded. Not copied: `body` may
// point into `decoded`.
struct FileText {
    FileText() = default;
    FileText(const FileText&) = delete;
    FileText& operator=(const FileText&) = delete;

    FileIdentity Identity() const { return IdentityOf(before); }

    Fd input;
    struct stat before {};   // its state when it was opened
    std::string_view bytes;  // as read: valid until this thread reads its next file
    std::string decoded;     // room for the text of a file that is not UTF-8
    std::string_view body;   // the text as UTF-8, after its byte-order mark
    const EncodingChoice* encoding = &kFoundEncodings;  // how it is decoded without a mark
    ByteOrderMark mark = ByteOrderMark::kNone;
    std::string legacy;  // the legacy encoding it was decoded from; empty: none
    // Its text is not its bytes (after the mark): written back, it is encoded again.
    bool Encoded() const { return mark != ByteOrderMark::kNone || !legacy.empty(); }
    bool exact = true;      // the bytes decode exactly: written back, those outside a change stay
    bool no_match = false;  // the shortcut showed that the pattern cannot match: nothing was read
    bool binary = false;    // left out as binary (FilePlace::skip_binary)
};

// The opening that every rewrite and preview shares: the file at `place` opened into `file`,
// unless `shortcut` shows that the pattern cannot match (`no_match`). An empty text, or why not.
std::string OpenText(const FilePlace& place, const DetailsSink& details,
                     const PatternShortcut* shortcut, FileText& file) {
    if (std::string why = OpenToRead(place, details, file.input, file.before); !why.empty()) {
        return why;
    }
    const int input = file.input.get();
    file.encoding = place.encoding;
    // Most files hold no hit: a scan in small blocks settles that without reading them whole.
    if (shortcut != nullptr) {
        const std::int64_t found = ScanOpenFile(input, shortcut->required, nullptr, true, nullptr,
                                                place.skip_binary, *place.encoding);
        if (found == kLeftOutBinary) {
            file.binary = file.no_match = true;
            return {};
        }
        if (found < 0) {
            return ErrnoText("cannot read the file", errno);
        }
        if (found == 0) {
            file.no_match = true;
            return {};
        }
        if (lseek(input, 0, SEEK_SET) != 0) {
            return ErrnoText("cannot read the file again", errno);
        }
    }
    return {};
}

// What a file the pattern cannot match in gives: nothing, or that it was left out as binary.
RewriteResult LeftOutOrNone(const FileText& file) {
    RewriteResult result;
    result.count = file.binary ? kLeftOutBinary : 0;
    return result;
}

// The opened `file` read whole from its start and decoded. An empty text, or why not.
std::string ReadWhole(FileText& file) {
    const int input = file.input.get();
    if (lseek(input, 0, SEEK_SET) != 0 ||
        !ReadWholeFile(input, static_cast<std::uint64_t>(file.before.st_size), file.bytes)) {
        return ErrnoText("cannot read the file", errno);
    }
    // A marked or legacy text file is replaced in as text, in its own encoding.
    file.mark = FileTextInEncoding(file.bytes, *file.encoding, file.decoded, file.body, file.legacy,
                                   &file.exact);
    return {};
}

// ReadWhole for what cannot be worked a window at a time: files up to `longest` bytes.
std::string ReadWholeUpToLongest(FileText& file, std::uint64_t longest) {
    if (static_cast<std::uint64_t>(file.before.st_size) > longest) {
        return "the replacement takes the text before or after a match ($` or $'), which "
               "needs the whole file; files over " +
               std::to_string(longest >> 20) + " MB are left as they are";
    }
    return ReadWhole(file);
}

// The texts that `edits` put in, one after another.
std::string TextsPutIn(const std::vector<TextEdit>& edits) {
    std::string put_in;
    for (const TextEdit& edit : edits) {
        put_in += edit.text;
    }
    return put_in;
}

std::int32_t CountOf(std::int64_t count) {
    return count > kMaxHitCount ? kMaxHitCount : static_cast<std::int32_t>(count);
}

// The end of a preview of the file at `place` (in the state `before`): told as a rewrite when
// its text `changes` and the file may be rewritten. Nothing is adopted: the run that writes
// opens the file again.
RewriteResult FinishPreview(const FilePlace& place, const struct stat& before, std::int64_t count,
                            bool changes) {
    RewriteResult result;
    result.count = CountOf(count);
    if (!changes) {
        return result;
    }
    if (std::string refused = Refusal(place, before, &result.name_is_link); !refused.empty()) {
        return Failed(std::move(refused));
    }
    result.rewritten = true;
    return result;
}

// The rest of a rewrite once the new text is known: encoded as `file` was and, when it differs
// from the file's bytes, the file adopted for the rewrite. `replacement`: the texts put in.
RewriteResult FinishRewrite(const FilePlace& place, FileText& file, std::string_view replacement,
                            std::string replaced, std::int64_t count, PreparedRewrite& rewrite) {
    if (file.Encoded()) {
        if (Status status = EncodeAsFile(file.mark, file.legacy, file.exact, replacement, replaced);
            !status.ok()) {
            return Failed(status.description());
        }
    }
    RewriteResult result;
    result.count = CountOf(count);
    if (replaced == file.bytes) {
        return result;  // each match replaced by itself: the file is not touched
    }
    // Only files with hits get here.
    if (std::string refused = Adopt(place, file.input, file.before, rewrite); !refused.empty()) {
        return Failed(std::move(refused));
    }
    if (rewrite.want_checksums) {
        rewrite.old_checksum = ContentChecksum(file.bytes);
        rewrite.old_size = file.bytes.size();
        rewrite.new_checksum = ContentChecksum(replaced);
    }
    rewrite.content = std::move(replaced);
    result.rewritten = true;
    return result;
}

// A preview that only counts a plain text's changes: the file read a block at a time, never
// held whole. Nothing when it has a byte-order mark: its text must then be decoded, read whole.
std::optional<RewriteResult> CountPlainPreview(const FilePlace& place, const ChangeFinder& finder,
                                               const DetailsSink& details, RewritePlan& plan) {
    Fd input;
    struct stat before {};
    if (std::string why = OpenToRead(place, details, input, before); !why.empty()) {
        return Failed(std::move(why));
    }
    std::int64_t count = 0;
    bool marked = false;
    if (CountPlainChanges(input.get(), static_cast<std::uint64_t>(before.st_size), *finder.Plain(),
                          finder.PlainOverlaps(), *place.encoding, count, marked)) {
        if (count == 0) {
            return RewriteResult();
        }
        plan.mark = ByteOrderMark::kNone;
        plan.seen = IdentityOf(before);
        return FinishPreview(place, before, count, !finder.PutsBackPlain());
    }
    if (!marked) {
        return Failed(ErrnoText("cannot read the file", errno));
    }
    return std::nullopt;
}

// Whether `edits` change the bytes of `file` as a run would write them (`differs`), and with
// `hits` the lines of the new text that hold them. Fails when the texts put in cannot be written
// in the file's encoding, as the run would fail.
Status EditsChangeBytes(const FileText& file, const std::vector<TextEdit>& edits, FileHits* hits,
                        int context, bool& differs) {
    const bool marked = file.Encoded();
    if (hits == nullptr && !marked) {
        differs = std::any_of(edits.begin(), edits.end(), [&](const TextEdit& e) {
            return file.body.substr(e.start, e.end - e.start) != e.text;
        });
        return {};
    }
    std::string replaced = ApplyEdits(file.body, edits);
    if (hits != nullptr) {
        *hits = HitsOfText(replaced, marked, StartsAfterEdits(edits), context);
    }
    if (marked) {
        if (Status status =
                EncodeAsFile(file.mark, file.legacy, file.exact, TextsPutIn(edits), replaced);
            !status.ok()) {
            return status;
        }
    }
    differs = replaced != file.bytes;
    return {};
}

inline constexpr char kChosenMisfit[] =
    "the changes chosen do not fit the file; it was left as it is";

// Whether `edits` lie in order within a text of `size` bytes, none overlapping the one before.
bool EditsFit(const std::vector<TextEdit>& edits, std::size_t size) {
    for (std::size_t i = 0; i < edits.size(); ++i) {
        if (edits[i].end < edits[i].start || edits[i].end > size ||
            (i > 0 && edits[i].start < edits[i - 1].end)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::uint64_t ContentDigest(std::string_view bytes) {
    return XXH3_64bits(bytes.data(), bytes.size());
}

FileIdentity IdentityOf(const struct stat& file) {
    return {file.st_dev, file.st_ino, file.st_size, file.st_mtim, file.st_ctim};
}

std::string RealPaths::Of(const FilePlace& place, std::optional<bool> name_is_link) {
    const std::string& path = place.path;
    if (!name_is_link) {
        struct stat file {};
        if (fstatat(place.folder, place.name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
            return {};
        }
        name_is_link = S_ISLNK(file.st_mode);
    }
    const auto resolve = [](const std::string& name) {
        std::unique_ptr<char, decltype(&free)> resolved(realpath(name.c_str(), nullptr), &free);
        return resolved ? std::string(resolved.get()) : std::string();
    };
    if (*name_is_link) {
        return resolve(path);
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : path.substr(0, slash);
    std::string real;
    {
        std::lock_guard lock(mutex_);
        if (const auto known = folders_.find(folder); known != folders_.end()) {
            real = known->second;
        }
    }
    if (real.empty()) {
        real = resolve(folder);
        if (real.empty()) {
            return {};
        }
        std::lock_guard lock(mutex_);
        folders_.emplace(folder, real);
    }
    return (real == "/" ? real : real + "/") + path.substr(slash + 1);
}

std::uint64_t FileDigest(const std::string& path) {
    const Fd input(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    std::string_view bytes;
    if (input.get() < 0 || fstat(input.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        !ReadWholeFile(input.get(), static_cast<std::uint64_t>(info.st_size), bytes)) {
        return 0;
    }
    return ContentDigest(bytes);
}

Status PreviewChanges(const std::string& path, const FileIdentity& seen, const ChangeFinder& finder,
                      const std::string& legacy, RewritePlan& plan) {
    // The file is named by its real path: a link in its place is not followed.
    const Fd input(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat info {};
    if (input.get() < 0 || fstat(input.get(), &info) != 0) {
        return Status::Error(errno, ErrnoText("cannot open the file", errno));
    }
    if (IdentityOf(info) != seen) {
        return Status::Error(ESTALE, kChangedSincePreview);
    }
    // Every change is listed with its line: a file past the bound is taken whole instead.
    if (static_cast<std::uint64_t>(info.st_size) > finder.Pattern().LongestMatch()) {
        return Status::Error(EFBIG, "its changes are listed one by one in files up to " +
                                        std::to_string(finder.Pattern().LongestMatch() >> 20) +
                                        " MB (LongestMatchMB)");
    }
    std::string_view text;
    if (!S_ISREG(info.st_mode) ||
        !ReadWholeFile(input.get(), static_cast<std::uint64_t>(info.st_size), text)) {
        return Status::Error(EIO, "the file cannot be read");
    }
    std::string decoded;
    std::string_view body;
    plan.mark =
        FileTextInEncoding(text, EncodingChoice::Exactly(legacy), decoded, body, plan.legacy);
    // The changes shown are written only to these bytes.
    plan.digest = ContentDigest(text);
    plan.seen = seen;
    std::int64_t count = 0;
    if (Status status = finder.Find(body, &plan.edits, count); !status.ok()) {
        return status;
    }
    plan.lines = ChangeLinesOf(body, plan.edits);
    return {};
}

namespace {

// A rewrite of a file's UTF-8 text worked out a window at a time (ForEachWindow): from its first
// change on, the new bytes go to a new file beside it as the file is read, so a file of any size
// takes a few blocks of memory. Up to the first change nothing is written: that part is copied
// from the file itself then, in the kernel.
class StreamedRewrite {
  public:
    StreamedRewrite(const FilePlace& place, FileText& file, const RegExp& pattern,
                    const RegExp::Replacement& with, PreparedRewrite& rewrite, FileHits* hits,
                    int context)
        : place_(place),
          file_(file),
          pattern_(pattern),
          with_(with),
          rewrite_(rewrite),
          hits_(hits),
          context_(context) {}

    // Only works out what the rewrite would do: nothing is written (a preview).
    void PreviewOnly() { preview_ = true; }
    // Gives the text and its changes, as they are worked out, to `listener`.
    void Listen(ChangeListener* listener) { listener_ = listener; }

    // Every byte of the file as it is read, for its checksum.
    void OldBytes(std::string_view bytes) {
        checksums_.Add(kOld, bytes);
        old_size_ += bytes.size();
    }

    // `blocks` holds the file's first block. With `edits` (of the text, in order) those are the
    // changes. Otherwise the pattern finds them: with `lines` (a pattern that stays within lines)
    // only on the lines that hold the text every match holds, a block of whole lines at a time;
    // otherwise, and from a line too long to hold on, a window at a time.
    RewriteResult Run(TextBlocks& blocks, const PatternShortcut* lines,
                      const std::vector<TextEdit>* edits = nullptr) {
        mark_ = blocks.mark();
        mark_bytes_ = MarkLength(mark_);
        legacy_ = blocks.legacy();
        if (!legacy_.empty()) {
            encoder_.emplace(legacy_);
        }
        const std::string_view mark = mark_ == ByteOrderMark::kUtf8      ? "\xEF\xBB\xBF"
                                      : mark_ == ByteOrderMark::kUtf16LE ? "\xFF\xFE"
                                      : mark_ == ByteOrderMark::kUtf16BE ? "\xFE\xFF"
                                                                         : "";
        sparse_ = !preview_ && HasHoles(Input());
        if (listener_ != nullptr && mark_ == ByteOrderMark::kUtf8) {
            listened_ = listener_->Keep(mark);  // a part of the first line in a patch
        }
        if (rewrite_.want_checksums) {
            checksums_.Add(kNew, mark);
        }
        if (hits_ != nullptr &&
            (mark_ != ByteOrderMark::kNone || blocks.text().find('\0') == std::string_view::npos)) {
            lines_.emplace(context_, hits_->lines);
            // The lines are of the new text: read again from the new file, not a preview's,
            // and not from where the bytes of a decoded text are.
            hits_->text_from = preview_ || blocks.decoded() ? -1 : static_cast<int>(mark_bytes_);
        }
        Status status = edits != nullptr   ? ByEdits(blocks, *edits)
                        : lines != nullptr ? ByLines(blocks, *lines)
                                           : InWindows(blocks);
        if (status.ok()) {
            status = listened_;
        }
        // Damaged UTF-16, or bytes the legacy encoding does not hold, decode to a text that
        // would not encode back to the bytes outside the matches.
        if (status.ok() && !blocks.exact() && count_ > 0) {
            status = NotExact(mark_, legacy_);
        }
        if (!status.ok() || blocks.failed()) {
            DropNewFile(rewrite_);
            return Failed(blocks.failed() ? ErrnoText("cannot read the file", EIO)
                                          : status.description());
        }
        return preview_ ? FinishPreview() : Finish();
    }

    bool Utf16() const {
        return mark_ == ByteOrderMark::kUtf16LE || mark_ == ByteOrderMark::kUtf16BE;
    }

    // The file as read: its own descriptor, or the rewrite's once adopted.
    int Input() const { return rewrite_.input >= 0 ? rewrite_.input : file_.input.get(); }

  private:
    Status InWindows(TextBlocks& blocks) {
        return ForEachWindow(blocks, pattern_.LookBehind(), pattern_.LongestMatch(),
                             [this](std::string_view window, std::size_t from, bool starts_text,
                                    bool at_end, std::size_t& resume) {
                                 return Step(window, from, starts_text, at_end, resume);
                             });
    }

    Status ByLines(TextBlocks& blocks, const PatternShortcut& shortcut) {
        std::size_t keep = 0;
        for (bool first = true; first || blocks.Next(keep); first = false) {
            const std::size_t complete = CompleteLines(blocks);
            if (complete == 0 && blocks.text().size() > kLongestLine) {
                return InWindows(blocks);  // from the start of the long line on
            }
            const std::string_view text = blocks.text().substr(0, complete);
            out_.clear();
            encodable_ = true;
            told_ = 0;
            std::size_t copied = 0;
            if (Status status = ForEachLineHolding(
                    text, shortcut.required,
                    [&](std::size_t start, std::size_t end) {
                        out_.append(text.substr(copied, start - copied));
                        copied = end;
                        return pattern_.ReplaceInRange(
                            text, start, end, blocks.offset() == 0, with_, out_, count_,
                            [&](std::size_t at, const TextEdit& edit) { Edited(text, at, edit); });
                    });
                !status.ok()) {
                return status;
            }
            out_.append(text.substr(copied));
            if (Status status = Emit(text, complete); !status.ok()) {
                return status;
            }
            keep = blocks.text().size() - complete;
        }
        return {};
    }

    // Changes given, rather than found: each applied as the text reaches its end. The text is
    // cut only between whole characters, as the new text's hit lines need.
    Status ByEdits(TextBlocks& blocks, const std::vector<TextEdit>& edits) {
        std::size_t next = 0;
        std::size_t keep = 0;
        for (bool first = true; first || blocks.Next(keep); first = false) {
            const std::string_view text = blocks.text();
            const std::uint64_t base = blocks.offset();
            out_.clear();
            encodable_ = true;
            told_ = 0;
            std::size_t done = 0;
            for (; next < edits.size() && edits[next].end <= base + text.size(); ++next) {
                const TextEdit& edit = edits[next];
                if (edit.start < base + done || edit.end < edit.start) {
                    return Status::Error(EINVAL, kChosenMisfit);
                }
                const TextEdit here{static_cast<std::size_t>(edit.start - base),
                                    static_cast<std::size_t>(edit.end - base), edit.text};
                out_.append(text.substr(done, here.start - done));
                const std::size_t at = out_.size();
                out_ += here.text;
                ++count_;
                Edited(text, at, here);
                done = here.end;
            }
            std::size_t upto = blocks.at_end() ? text.size() : WholeCharactersEnd(text);
            if (next < edits.size()) {
                if (edits[next].start < base + done) {
                    return Status::Error(EINVAL, kChosenMisfit);
                }
                upto = std::min<std::uint64_t>(upto, edits[next].start - base);
            }
            upto = std::max(upto, done);
            out_.append(text.substr(done, upto - done));
            if (Status status = Emit(text, upto); !status.ok()) {
                return status;
            }
            keep = text.size() - upto;
            if (blocks.at_end()) {
                break;
            }
        }
        return next < edits.size() ? Status::Error(EINVAL, kChosenMisfit) : Status();
    }

    // A replacement at `at` in out_, of `edit` of `window`.
    void Edited(std::string_view window, std::size_t at, const TextEdit& edit) {
        if (lines_) {
            lines_->Hit(new_size_ + at);
        }
        changed_ = changed_ || window.substr(edit.start, edit.end - edit.start) != edit.text;
        // A file marked as UTF-8 stays UTF-8.
        encodable_ = encodable_ && (mark_bytes_ == 0 || IsValidUtf8(edit.text));
        if (listener_ != nullptr && listened_.ok()) {
            listened_ = listener_->Keep(window.substr(told_, edit.start - told_));
            if (listened_.ok()) {
                listened_ =
                    listener_->Change(window.substr(edit.start, edit.end - edit.start), edit.text);
            }
            told_ = edit.end;
        }
    }

    Status Step(std::string_view window, std::size_t from, bool starts_text, bool at_end,
                std::size_t& resume) {
        out_.clear();
        encodable_ = true;
        told_ = from;
        if (Status status = pattern_.ReplaceWindow(
                window, from, starts_text, at_end, with_, out_, count_, resume,
                [&](std::size_t at, const TextEdit& edit) { Edited(window, at, edit); });
            !status.ok()) {
            return status;
        }
        return Emit(window, resume);
    }

    // What out_ holds of the new text (`text` up to `end`, changed), written (from the first
    // change on), checksummed and given to the hit lines.
    Status Emit(std::string_view text, std::size_t end) {
        if (listener_ != nullptr && listened_.ok()) {
            listened_ = listener_->Keep(text.substr(told_, end - told_));
        }
        if (!encodable_) {
            return NotEncodable(mark_, legacy_);
        }
        if (changed_ && !writer_ && !preview_) {
            if (std::string why = Start(); !why.empty()) {
                return Status::Error(kFileAccessError, why);
            }
        }
        // The new bytes: the text itself, or its UTF-16 or legacy bytes for such a file. A
        // legacy text is always encoded: a preview learns so whether it can be written, and
        // what comes before a change is measured in the file's bytes.
        std::string_view bytes = out_;
        if (encoder_) {
            encoded_.clear();
            if (!encoder_->Append(out_, encoded_)) {
                return NotEncodable(mark_, legacy_);
            }
            bytes = encoded_;
        } else if (Utf16() && (writer_ || rewrite_.want_checksums)) {
            if (!EncodeUtf16(out_, mark_ == ByteOrderMark::kUtf16BE, encoded_)) {
                return Status::Error(EILSEQ, "the new text cannot be written as UTF-16");
            }
            bytes = encoded_;
        }
        if (!writer_) {
            // The file's own bytes, copied when a change comes.
            unchanged_ += encoder_ ? bytes.size() : Utf16() ? Utf16Length(out_) : out_.size();
        } else if (!writer_->Write(bytes)) {
            return Status::Error(errno, ErrnoText("cannot write the new content", errno));
        }
        if (rewrite_.want_checksums) {
            checksums_.Add(kNew, bytes);
        }
        new_size_ += out_.size();
        if (!lines_) {
            return {};
        }
        lines_->Feed(out_);
        // Handed on only once the file is rewritten: many lines wait on disk.
        if (hits_->lines.size() < kHitLinesAtOnce) {
            return {};
        }
        if (!hits_->spilled) {
            hits_->spilled = std::make_shared<HitLineSpill>();
        }
        Status spilled = hits_->spilled->Add(hits_->lines);
        hits_->lines.clear();
        return spilled;
    }

    // The first change: the file adopted, its new file made and the text before it copied.
    std::string Start() {
        if (rewrite_.input < 0) {
            if (std::string refused = Adopt(place_, file_.input, file_.before, rewrite_);
                !refused.empty()) {
                return refused;
            }
        }
        if (std::string why = CreateNewFile(rewrite_); !why.empty()) {
            return why;
        }
        writer_.emplace(rewrite_.output.get(), sparse_);
        if (!writer_->Copy(rewrite_.input, 0, mark_bytes_ + unchanged_)) {
            return ErrnoText("cannot write the new content", errno);
        }
        return {};
    }

    RewriteResult FinishPreview() {
        if (count_ > 0) {
            FinishHitLines();
        }
        if (listener_ != nullptr) {
            RewriteResult told;  // the changes were only told: nothing is to be rewritten
            told.count = CountOf(count_);
            return told;
        }
        return ferret::FinishPreview(place_, file_.before, count_, changed_);
    }

    void FinishHitLines() {
        if (lines_) {
            lines_->Finish();
        }
        if (hits_ != nullptr && !lines_) {
            hits_->binary = true;
        }
    }

    RewriteResult Finish() {
        RewriteResult result;
        result.count = CountOf(count_);
        if (!writer_) {
            return result;  // no match, or each replaced by itself: the file is not touched
        }
        if (encoder_) {
            // A stateful encoding's text ends in its initial state.
            encoded_.clear();
            encoder_->End(encoded_);
            if (rewrite_.want_checksums) {
                checksums_.Add(kNew, encoded_);
            }
            if (!writer_->Write(encoded_)) {
                const std::string why = ErrnoText("cannot write the new content", errno);
                DropNewFile(rewrite_);
                return Failed(why);
            }
        }
        if (!writer_->Finish()) {
            const std::string why = ErrnoText("cannot write the new content", errno);
            DropNewFile(rewrite_);
            return Failed(why);
        }
        FinishHitLines();
        rewrite_.written = true;
        if (rewrite_.want_checksums) {
            rewrite_.old_checksum = checksums_.Hex(kOld);
            rewrite_.old_size = old_size_;
            rewrite_.new_checksum = checksums_.Hex(kNew);
        }
        result.rewritten = true;
        return result;
    }

    const FilePlace& place_;
    FileText& file_;
    const RegExp& pattern_;
    const RegExp::Replacement& with_;
    PreparedRewrite& rewrite_;
    FileHits* const hits_;
    const int context_;
    bool preview_ = false;
    ChangeListener* listener_ = nullptr;
    Status listened_;       // what the listener said last
    std::size_t told_ = 0;  // how far it was told of the text at hand
    ByteOrderMark mark_ = ByteOrderMark::kNone;
    std::size_t mark_bytes_ = 0;
    std::string legacy_;                    // the legacy encoding of the text, if any
    std::optional<LegacyEncoder> encoder_;  // of legacy_
    std::string encoded_;                   // out_ as UTF-16 or legacy_, for such a file
    bool sparse_ = false;
    std::string out_;
    std::int64_t count_ = 0;
    bool changed_ = false;
    bool encodable_ = true;        // the texts put in in out_ can be written in the file's encoding
    std::uint64_t unchanged_ = 0;  // text bytes before the first change, not yet written
    std::uint64_t new_size_ = 0;   // of the new text so far
    std::optional<NewFileWriter> writer_;
    std::optional<HitLineBuilder> lines_;
    static constexpr int kOld = 0;
    static constexpr int kNew = 1;
    ChecksumPair checksums_;
    std::uint64_t old_size_ = 0;
};

// The whole-text way, for what a window at a time cannot do: `file` opened, read here.
RewriteResult RewriteWhole(const FilePlace& place, FileText& file, const RegExp& pattern,
                           std::string_view replacement, PreparedRewrite& rewrite, FileHits* hits,
                           int context) {
    if (std::string why = ReadWholeUpToLongest(file, pattern.LongestMatch()); !why.empty()) {
        return Failed(std::move(why));
    }
    std::string replaced;
    std::int64_t count = 0;
    std::vector<std::size_t> starts;
    if (Status status = pattern.Replace(file.body, replacement, true, replaced, count,
                                        hits != nullptr ? &starts : nullptr);
        !status.ok()) {
        return Failed(status.description());
    }
    if (count == 0) {
        return {};  // nothing to change: the file is not touched
    }
    if (hits != nullptr) {
        *hits = HitsOfText(replaced, file.Encoded(), starts, context);
    }
    return FinishRewrite(place, file, replacement, std::move(replaced), count, rewrite);
}

// PrepareChosenRewrite the whole-text way: `file` opened, read here.
RewriteResult ChosenWhole(const FilePlace& place, FileText& file, std::uint64_t digest,
                          const std::vector<TextEdit>* chosen, const ChangeFinder& finder,
                          PreparedRewrite& rewrite, FileHits* hits, int context) {
    if (std::string why = ReadWholeUpToLongest(file, finder.Pattern().LongestMatch());
        !why.empty()) {
        return Failed(std::move(why));
    }
    if (chosen != nullptr && ContentDigest(file.bytes) != digest) {
        return Failed(kChangedSincePreview);
    }
    // Every change, worked out again from the same bytes, gives what the preview found.
    std::vector<TextEdit> found;
    if (chosen == nullptr) {
        std::int64_t count = 0;
        if (Status status = finder.Find(file.body, &found, count); !status.ok()) {
            return Failed(status.description());
        }
    }
    const std::vector<TextEdit>& edits = chosen != nullptr ? *chosen : found;
    if (!EditsFit(edits, file.body.size())) {
        return Failed(kChosenMisfit);
    }
    if (edits.empty()) {
        return {};
    }
    std::string replaced = ApplyEdits(file.body, edits);
    if (hits != nullptr) {
        *hits = HitsOfText(replaced, file.Encoded(), StartsAfterEdits(edits), context);
    }
    // The texts put in must be writable in the file's encoding, as a replacement must.
    return FinishRewrite(place, file, TextsPutIn(edits), std::move(replaced),
                         static_cast<std::int64_t>(edits.size()), rewrite);
}

}  // namespace

RewriteResult PrepareRewrite(const FilePlace& place, const RegExp& pattern,
                             std::string_view replacement, const PatternShortcut* shortcut,
                             const DetailsSink& details, PreparedRewrite& rewrite, FileHits* hits,
                             int context) {
    FileText file;
    if (std::string why = OpenText(place, details, shortcut, file); !why.empty()) {
        return Failed(std::move(why));
    }
    if (file.no_match) {
        return LeftOutOrNone(file);  // the pattern cannot match
    }
    const RegExp::Replacement with(pattern, replacement);
    StreamedRewrite streamed(place, file, pattern, with, rewrite, hits, context);
    TextBlocks blocks(file.input.get(), *place.encoding);
    if (rewrite.want_checksums) {
        blocks.OnRead([&streamed](std::string_view bytes) { streamed.OldBytes(bytes); });
    }
    if (!blocks.Next(0) && blocks.failed()) {
        return Failed(ErrnoText("cannot read the file", errno));
    }
    if (place.skip_binary && LeftOutAsBinary(blocks.mark(), blocks.text())) {
        file.binary = true;
        return LeftOutOrNone(file);
    }
    if (with.NeedsWholeText()) {
        return RewriteWhole(place, file, pattern, replacement, rewrite, hits, context);
    }
    return streamed.Run(blocks, shortcut != nullptr && shortcut->within_lines ? shortcut : nullptr);
}
namespace {

// A preview of what needs the whole text ("$`" or "$'"): `file` opened, read here.
RewriteResult PreviewWhole(const FilePlace& place, FileText& file, const ChangeFinder& finder,
                           FileHits* hits, int context, RewritePlan& plan, bool changes) {
    if (std::string why = ReadWholeUpToLongest(file, finder.Pattern().LongestMatch());
        !why.empty()) {
        return Failed(std::move(why));
    }
    std::int64_t count = 0;
    if (Status status = finder.Find(file.body, &plan.edits, count); !status.ok()) {
        return Failed(status.description());
    }
    if (count == 0) {
        return {};
    }
    plan.mark = file.mark;
    plan.legacy = file.legacy;
    plan.holds_nul = changes && file.body.find('\0') != std::string_view::npos;
    bool differs = false;
    if (Status status = EditsChangeBytes(file, plan.edits, hits, context, differs); !status.ok()) {
        return Failed(status.description());
    }
    plan.edits = {};
    return FinishPreview(place, file.before, count, differs);
}

// The shortcut that lets a streamed rewrite take a block of lines at a time, if any.
const PatternShortcut* WithinLines(const PatternShortcut* shortcut) {
    return shortcut != nullptr && shortcut->within_lines ? shortcut : nullptr;
}

// Reads what is left of `blocks`, so that every byte of the file was read.
void ReadToEnd(TextBlocks& blocks) {
    while (blocks.Next(0)) {
    }
}

}  // namespace

RewriteResult PreparePreview(const FilePlace& place, const ChangeFinder& finder,
                             const DetailsSink& details, FileHits* hits, int context,
                             RewritePlan& plan, bool changes) {
    if (!finder.status().ok()) {
        return Failed(finder.status().description());
    }
    if (finder.Plain() != nullptr && !changes && hits == nullptr && !place.skip_binary) {
        if (std::optional<RewriteResult> counted =
                CountPlainPreview(place, finder, details, plan)) {
            return std::move(*counted);
        }
    }
    FileText file;
    if (std::string why = OpenText(place, details, finder.Shortcut(), file); !why.empty()) {
        return Failed(std::move(why));
    }
    if (file.no_match) {
        return LeftOutOrNone(file);
    }
    plan.seen = file.Identity();
    const RegExp::Replacement with(finder.Pattern(), finder.ReplacementText());
    PreparedRewrite none;  // a preview writes nothing
    StreamedRewrite streamed(place, file, finder.Pattern(), with, none, hits, context);
    streamed.PreviewOnly();
    TextBlocks blocks(file.input.get(), *place.encoding);
    bool nul = false;
    if (changes) {
        blocks.OnRead([&nul](std::string_view bytes) {
            nul = nul || std::memchr(bytes.data(), 0, bytes.size()) != nullptr;
        });
    }
    if (!blocks.Next(0) && blocks.failed()) {
        return Failed(ErrnoText("cannot read the file", errno));
    }
    if (place.skip_binary && LeftOutAsBinary(blocks.mark(), blocks.text())) {
        file.binary = true;
        return LeftOutOrNone(file);
    }
    if (with.NeedsWholeText()) {
        return PreviewWhole(place, file, finder, hits, context, plan, changes);
    }
    plan.mark = blocks.mark();
    plan.legacy = blocks.legacy();
    RewriteResult result = streamed.Run(blocks, WithinLines(finder.Shortcut()));
    plan.holds_nul = nul;
    return result;
}

Status OpenPreviewed(const std::string& path, const FileIdentity& seen, Fd& file) {
    // The file is named by its real path: a link in its place is not followed.
    file.Reset(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat info {};
    if (file.get() < 0 || fstat(file.get(), &info) != 0) {
        return Status::Error(errno, ErrnoText("cannot open the file", errno));
    }
    if (IdentityOf(info) != seen || !S_ISREG(info.st_mode)) {
        return Status::Error(ESTALE, kChangedSincePreview);
    }
    return {};
}

Status StreamChanges(int file, const ChangeFinder& finder, ChangeListener& listener,
                     const std::string& legacy) {
    if (!finder.status().ok()) {
        return finder.status();
    }
    FileText text;
    if (fstat(file, &text.before) != 0 || lseek(file, 0, SEEK_SET) != 0) {
        return Status::Error(errno, ErrnoText("cannot read the file", errno));
    }
    const std::string path = "/proc/self/fd/" + std::to_string(file);
    const RegExp::Replacement with(finder.Pattern(), finder.ReplacementText());
    const EncodingChoice encoding = EncodingChoice::Exactly(legacy);
    text.encoding = &encoding;
    TextBlocks blocks(file, encoding);
    if (!blocks.Next(0) && blocks.failed()) {
        return Status::Error(EIO, ErrnoText("cannot read the file", errno));
    }
    if (with.NeedsWholeText()) {
        text.input.Reset(dup(file));
        if (std::string why = ReadWholeUpToLongest(text, finder.Pattern().LongestMatch());
            !why.empty()) {
            return Status::Error(EFBIG, why);
        }
        std::vector<TextEdit> edits;
        std::int64_t count = 0;
        if (Status status = finder.Find(text.body, &edits, count); !status.ok()) {
            return status;
        }
        return TellEdits(text.body, edits, listener);
    }
    PreparedRewrite none;
    StreamedRewrite streamed(path, text, finder.Pattern(), with, none, nullptr, 0);
    streamed.PreviewOnly();
    streamed.Listen(&listener);
    const RewriteResult result = streamed.Run(blocks, WithinLines(finder.Shortcut()));
    if (result.count == kNotSearched) {
        return Status::Error(EIO, result.error);
    }
    return {};
}

RewriteResult PrepareChosenRewrite(const FilePlace& place, std::uint64_t digest,
                                   const FileIdentity& seen, const std::vector<TextEdit>* chosen,
                                   const ChangeFinder& finder, const DetailsSink& details,
                                   PreparedRewrite& rewrite, FileHits* hits, int context) {
    FileText file;
    if (std::string why = OpenText(place, details, nullptr, file); !why.empty()) {
        return Failed(std::move(why));
    }
    // The same file as the preview's, not only the same bytes: a folder swapped for a link to
    // a copy elsewhere since is not followed to the copy.
    if (file.before.st_dev != seen.device || file.before.st_ino != seen.inode ||
        (chosen == nullptr && file.Identity() != seen)) {
        return Failed(kChangedSincePreview);
    }
    if (chosen != nullptr && chosen->empty()) {
        return {};
    }
    if (!finder.status().ok()) {
        return Failed(finder.status().description());
    }
    const RegExp::Replacement with(finder.Pattern(), finder.ReplacementText());
    StreamedRewrite streamed(place, file, finder.Pattern(), with, rewrite, hits, context);
    TextBlocks blocks(file.input.get(), *place.encoding);
    // The chosen changes are written only to the bytes they were chosen in.
    XXH3_state_t read;
    XXH3_64bits_reset(&read);
    blocks.OnRead([&](std::string_view bytes) {
        XXH3_64bits_update(&read, bytes.data(), bytes.size());
        if (rewrite.want_checksums) {
            streamed.OldBytes(bytes);
        }
    });
    if (!blocks.Next(0) && blocks.failed()) {
        return Failed(ErrnoText("cannot read the file", errno));
    }
    if (chosen == nullptr && with.NeedsWholeText()) {
        return ChosenWhole(place, file, digest, chosen, finder, rewrite, hits, context);
    }
    RewriteResult result =
        streamed.Run(blocks, chosen != nullptr ? nullptr : WithinLines(finder.Shortcut()), chosen);
    if (chosen == nullptr) {
        return result;
    }
    ReadToEnd(blocks);
    if (blocks.failed() || XXH3_64bits_digest(&read) != digest) {
        DropNewFile(rewrite);
        rewrite.written = false;
        return Failed(kChangedSincePreview);
    }
    return result;
}

std::string OpenForRewrite(const std::string& path, PreparedRewrite& rewrite, std::string& original,
                           const StartFolder* beneath) {
    Fd input(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat before {};
    if (input.get() < 0 || fstat(input.get(), &before) != 0) {
        return ErrnoText("cannot open the file", errno);
    }
    if (!S_ISREG(before.st_mode)) {
        return "not a regular file";
    }
    std::string_view text;
    if (!ReadWholeFile(input.get(), static_cast<std::uint64_t>(before.st_size), text)) {
        return ErrnoText("cannot read the file", errno);
    }
    original.assign(text);
    return Adopt(FilePlace(path, AT_FDCWD, path, false, beneath), input, before, rewrite);
}

RewriteResult ReplaceFilePattern(const FilePlace& place, const RegExp& pattern,
                                 std::string_view replacement, const PatternShortcut* shortcut,
                                 const DetailsSink& details,
                                 const std::function<void()>& before_swap) {
    PreparedRewrite rewrite;
    RewriteResult result = PrepareRewrite(place, pattern, replacement, shortcut, details, rewrite);
    if (!result.rewritten) {
        return result;
    }
    rewrite.temporary = NewTemporaryName(rewrite.folder, rewrite.name);
    if (std::string error = MakeNewFile(rewrite, nullptr); !error.empty()) {
        return Failed(std::move(error));
    }
    if (fdatasync(rewrite.output.get()) != 0) {
        const std::string error = ErrnoText("cannot flush the new content to disk", errno);
        DropNewFile(rewrite);
        return Failed(error);
    }
    if (std::string error = SwitchIn(rewrite, before_swap); !error.empty()) {
        return Failed(std::move(error));
    }
    return result;
}

}  // namespace ferret
