#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "util/file_handle.h"
#include "util/text_encoding.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Windows-1252 for 0x80..0x9F; the five bytes it leaves undefined map to the C1 controls of the
// same number, as the platform's own conversion does. The rest of the page is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

Status FileError(int number, const char* action, const std::string& path) {
    return Status::Error(number, std::string(action) + " '" + path + "': " + std::strerror(number));
}

std::string Cp1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        const char32_t c = (byte >= 0x80 && byte <= 0x9F) ? kCp1252High[byte - 0x80] : byte;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

Status ReadBytes(const std::string& path, std::string& bytes) {
    // O_NONBLOCK so that opening a FIFO cannot hang; it is refused below anyway.
    const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        return FileError(errno, "Cannot read", path);
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0) {
        return FileError(errno, "Cannot read", path);
    }
    if (!S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode)) {
            return FileError(EISDIR, "Cannot read", path);
        }
        return Status::Error(EINVAL, "Cannot read '" + path + "': not a regular file");
    }
    if (!ReadAll(fd.get(), bytes)) {
        return FileError(errno, "Cannot read", path);
    }
    return Status();
}

Status ReadDecoded(const std::string& path, std::string& text, bool& bom) {
    std::string bytes;
    if (Status status = ReadBytes(path, bytes); !status.ok()) {
        return status;
    }
    std::string_view rest = bytes;
    bom = rest.substr(0, kBom.size()) == kBom;
    if (bom) {
        rest.remove_prefix(kBom.size());
    }
    text = IsValidUtf8(rest) ? std::string(rest) : Cp1252ToUtf8(rest);
    return Status();
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

bool IsEnclosedInQuotes(std::string_view text) {
    return text.size() >= 2 && IsQuote(text.front()) && text.front() == text.back();
}

}  // namespace

std::string_view ProfileTrim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view ProfileValueAsRead(std::string_view raw) {
    std::string_view value = ProfileTrim(raw);
    if (IsEnclosedInQuotes(value)) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

std::string ProfileValueText(std::string_view text) {
    std::string value(text);
    std::erase(value, '\0');
    const bool changed_by_reading =
        !value.empty() &&
        (IsBlank(value.front()) || IsBlank(value.back()) || IsEnclosedInQuotes(value));
    if (changed_by_reading) {
        return "\"" + value + "\"";
    }
    return value;
}

namespace {

enum class LineKind { kOther, kSection, kKey };

// One line of the file, without its line end. `name` is the section or key name (possibly empty,
// which never matches), `value` a key's value as read.
struct Line {
    LineKind kind = LineKind::kOther;
    std::string text;
    std::string name;
    std::string value;
};

Line ParseLine(std::string text) {
    Line line;
    const std::string_view trimmed = ProfileTrim(text);
    if (!trimmed.empty() && trimmed.front() == '[') {
        if (const std::size_t close = trimmed.find(']'); close != std::string_view::npos) {
            line.kind = LineKind::kSection;
            line.name = ProfileTrim(trimmed.substr(1, close - 1));
        }
    } else if (!trimmed.empty() && trimmed.front() != ';') {
        if (const std::size_t equals = trimmed.find('='); equals != std::string_view::npos) {
            line.kind = LineKind::kKey;
            line.name = ProfileTrim(trimmed.substr(0, equals));
            line.value = ProfileValueAsRead(trimmed.substr(equals + 1));
        }
    }
    line.text = std::move(text);
    return line;
}

struct Profile {
    bool bom = false;
    std::vector<Line> lines;
};

// A missing file is an empty profile; `exists` tells which.
Status LoadProfile(const std::string& path, Profile& profile, bool* exists = nullptr) {
    std::string text;
    Status status = ReadDecoded(path, text, profile.bom);
    if (exists != nullptr) {
        *exists = status.ok();
    }
    if (!status.ok()) {
        return status.number() == ENOENT ? Status() : status;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') {
            --stop;
        }
        profile.lines.push_back(ParseLine(text.substr(start, stop - start)));
        start = end + 1;
    }
    return Status();
}

std::string Serialize(const Profile& profile) {
    std::string out(profile.bom ? kBom : std::string_view());
    for (const Line& line : profile.lines) {
        out += line.text;
        out += "\r\n";
    }
    return out;
}

bool Matches(const std::string& stored, std::string_view wanted) {
    return !stored.empty() && EqualsIgnoringCase(stored, wanted);
}

// For each line, whether it belongs to a block of `section` (its header line included).
std::vector<bool> SectionMask(const Profile& profile, std::string_view section) {
    std::vector<bool> inside(profile.lines.size(), false);
    bool current = false;
    for (std::size_t i = 0; i < profile.lines.size(); ++i) {
        const Line& line = profile.lines[i];
        if (line.kind == LineKind::kSection) {
            current = Matches(line.name, ProfileTrim(section));
        }
        inside[i] = current;
    }
    return inside;
}

void AddOnce(std::vector<std::string>& names, const std::string& name) {
    if (name.empty()) {
        return;
    }
    for (const std::string& known : names) {
        if (EqualsIgnoringCase(known, name)) {
            return;
        }
    }
    names.push_back(name);
}

std::string JoinWithNul(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        if (!joined.empty()) {
            joined.push_back('\0');
        }
        joined += name;
    }
    return joined;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

Status CheckNames(const std::string& path, std::string_view section, std::string_view key) {
    const auto refuse = [&](const std::string& why) {
        return Status::Error(EINVAL, "Cannot write '" + path + "': " + why);
    };
    if (section.empty() || HasLineBreak(section) || section.find(']') != std::string_view::npos) {
        return refuse("the section name '" + std::string(section) + "' cannot be stored");
    }
    if (key.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
        key.front() == ';' || key.front() == '[') {
        return refuse("the key name '" + std::string(key) + "' cannot be stored");
    }
    return Status();
}

std::string TemporaryName(const std::string& base) {
    std::uint64_t random = 0;
    if (getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // No entropy source: the exclusive create and the retries still keep it safe.
        static std::atomic<std::uint64_t> counter{0};
        random = (static_cast<std::uint64_t>(getpid()) << 32) ^
                 static_cast<std::uint64_t>(time(nullptr)) ^ (++counter * 0x9E3779B97F4A7C15u);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    // Keeps the name within NAME_MAX however long the target's name is.
    std::string name = "." + base.substr(0, 200) + ".";
    for (int shift = 60; shift >= 0; shift -= 4) {
        name.push_back(kHex[(random >> shift) & 0xF]);
    }
    return name + ".tmp";
}

void SyncFolder(int folder) {
    const Fd opened(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.get() >= 0) {
        fsync(opened.get());  // best effort: the rename is already done
    }
}

}  // namespace

Status OutputRefused(const std::string& path, const Status& reason) {
    return Status::Error(reason.number(), "Cannot write '" + path + "': " + reason.description());
}

Status WriteFileAtomically(const std::string& path, std::string_view bytes) {
    OutputPlace place;
    if (Status status = OpenOutputPlace(path, true, place); !status.ok()) {
        return OutputRefused(path, status);
    }
    return WriteFileAtomicallyAt(path, place, bytes);
}

AtomicFile::~AtomicFile() {
    Abandon();
}

void AtomicFile::Abandon() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
        unlinkat(folder_, temporary_.c_str(), 0);
    }
}

Status AtomicFile::Fail(int error) {
    Abandon();
    return FileError(error, "Cannot write", path_);
}

Status AtomicFile::Begin(const std::string& path, const OutputPlace& place) {
    Abandon();
    path_ = path;
    folder_ = place.folder.get();
    name_ = place.name;
    const char* name = place.name.c_str();
    struct stat info {};
    const bool exists = fstatat(folder_, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
        return FileError(errno, "Cannot write", path);
    }
    if (exists && S_ISDIR(info.st_mode)) {
        return FileError(EISDIR, "Cannot write", path);
    }
    if (exists && IsOthersOutput(place, info)) {
        return Status::Error(EPERM, "Cannot write '" + path +
                                        "': it belongs to another user (uid " +
                                        std::to_string(info.st_uid) +
                                        ") and lies where others may write; remove it or choose "
                                        "another name");
    }
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = TemporaryName(place.name);
        // Private until the final mode is set, so the new content is never exposed more widely;
        // a new file is ours with 0666 less the umask.
        fd_ = openat(folder_, temporary_.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, exists ? 0600 : 0666);
        if (fd_ < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd_ < 0) {
        return FileError(errno, "Cannot write", path);
    }
    if (exists) {
        if (fchown(fd_, info.st_uid, info.st_gid) != 0) {
            // Only root may give a file away; the file then becomes ours, as any rewrite would.
        }
        if (fchmod(fd_, info.st_mode & 07777) != 0) {
            return Fail(errno);
        }
    }
    return Status();
}

Status AtomicFile::Write(std::string_view bytes) {
    if (fd_ < 0) {
        return FileError(EBADF, "Cannot write", path_);
    }
    return WriteAll(fd_, bytes) ? Status() : Fail(errno);
}

Status AtomicFile::Commit() {
    if (fd_ < 0) {
        return FileError(EBADF, "Cannot write", path_);
    }
    if (fsync(fd_) != 0) {
        return Fail(errno);
    }
    const int closed = close(fd_);
    fd_ = -1;
    if (closed != 0 || renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
        const int error = errno;
        unlinkat(folder_, temporary_.c_str(), 0);
        return FileError(error, "Cannot write", path_);
    }
    SyncFolder(folder_);
    return Status();
}

Status WriteFileAtomicallyAt(const std::string& path, const OutputPlace& place,
                             std::string_view bytes) {
    AtomicFile file;
    if (Status status = file.Begin(path, place); !status.ok()) {
        return status;
    }
    if (Status status = file.Write(bytes); !status.ok()) {
        return status;
    }
    return file.Commit();
}

Status ReadProfileText(const std::string& path, std::string& text) {
    bool bom = false;
    return ReadDecoded(path, text, bom);
}

void IniFile::Finish(Status status) {
    last_return_code_ = status.ok() ? 1 : 0;
    last_status_ = std::move(status);
}

std::string IniFile::Value() const {
    Profile profile;
    if (!LoadProfile(path_, profile).ok()) {
        return default_;
    }
    const std::vector<bool> inside = SectionMask(profile, section_);
    const std::string_view key = ProfileTrim(key_);
    for (std::size_t i = 0; i < profile.lines.size(); ++i) {
        const Line& line = profile.lines[i];
        if (inside[i] && line.kind == LineKind::kKey && Matches(line.name, key)) {
            return line.value;
        }
    }
    return default_;
}

void IniFile::SetValue(std::string_view text) {
    const std::string_view section = ProfileTrim(section_);
    const std::string_view key = ProfileTrim(key_);
    if (Status status = CheckNames(path_, section, key); !status.ok()) {
        Finish(std::move(status));
        return;
    }
    std::string value(text);
    std::erase(value, '\0');
    if (value.find_first_of("\r\n") != std::string::npos) {
        Finish(Status::Error(EINVAL,
                             "Cannot write '" + path_ + "': the value of '" + std::string(key) +
                                 "' holds a line break, which a profile line cannot store"));
        return;
    }
    Profile profile;
    if (Status status = LoadProfile(path_, profile); !status.ok()) {
        Finish(std::move(status));
        return;
    }
    const std::vector<bool> inside = SectionMask(profile, section);
    const std::string encoded = ProfileValueText(value);
    bool replaced = false;
    std::size_t last_of_section = profile.lines.size();
    for (std::size_t i = 0; i < profile.lines.size() && !replaced; ++i) {
        Line& line = profile.lines[i];
        if (!inside[i]) {
            continue;
        }
        if (line.kind == LineKind::kKey && Matches(line.name, key)) {
            line = ParseLine(line.name + "=" + encoded);
            replaced = true;
        } else if (!ProfileTrim(line.text).empty()) {
            last_of_section = i;
        }
    }
    if (!replaced) {
        Line added = ParseLine(std::string(key) + "=" + encoded);
        if (last_of_section < profile.lines.size()) {
            profile.lines.insert(
                profile.lines.begin() + static_cast<std::ptrdiff_t>(last_of_section) + 1,
                std::move(added));
        } else {
            profile.lines.push_back(ParseLine("[" + std::string(section) + "]"));
            profile.lines.push_back(std::move(added));
        }
    }
    Finish(WriteFileAtomically(path_, Serialize(profile)));
}

void IniFile::DeleteKey() {
    Profile profile;
    bool exists = false;
    if (Status status = LoadProfile(path_, profile, &exists); !status.ok() || !exists) {
        Finish(std::move(status));
        return;
    }
    const std::vector<bool> inside = SectionMask(profile, section_);
    const std::string_view key = ProfileTrim(key_);
    std::vector<Line> kept;
    for (std::size_t i = 0; i < profile.lines.size(); ++i) {
        Line& line = profile.lines[i];
        if (!(inside[i] && line.kind == LineKind::kKey && Matches(line.name, key))) {
            kept.push_back(std::move(line));
        }
    }
    if (kept.size() == profile.lines.size()) {
        Finish(Status());
        return;
    }
    profile.lines = std::move(kept);
    Finish(WriteFileAtomically(path_, Serialize(profile)));
}

void IniFile::DeleteSection() {
    Profile profile;
    bool exists = false;
    if (Status status = LoadProfile(path_, profile, &exists); !status.ok() || !exists) {
        Finish(std::move(status));
        return;
    }
    const std::vector<bool> inside = SectionMask(profile, section_);
    std::vector<Line> kept;
    for (std::size_t i = 0; i < profile.lines.size(); ++i) {
        if (!inside[i]) {
            kept.push_back(std::move(profile.lines[i]));
        }
    }
    if (kept.size() == profile.lines.size()) {
        Finish(Status());
        return;
    }
    profile.lines = std::move(kept);
    Finish(WriteFileAtomically(path_, Serialize(profile)));
}

std::string IniFile::INISection() const {
    std::vector<std::string> names;
    EnumerateCurrentSection(names);
    return JoinWithNul(names);
}

void IniFile::SetINISection(std::string_view /*text*/) {
    DeleteSection();
}

std::string IniFile::Sections() const {
    std::vector<std::string> names;
    EnumerateAllSections(names);
    return JoinWithNul(names);
}

int IniFile::EnumerateCurrentSection(std::vector<std::string>& names) const {
    names.clear();
    Profile profile;
    if (LoadProfile(path_, profile).ok()) {
        const std::vector<bool> inside = SectionMask(profile, section_);
        for (std::size_t i = 0; i < profile.lines.size(); ++i) {
            if (inside[i] && profile.lines[i].kind == LineKind::kKey) {
                AddOnce(names, profile.lines[i].name);
            }
        }
    }
    return static_cast<int>(names.size());
}

int IniFile::EnumerateAllSections(std::vector<std::string>& names) const {
    names.clear();
    Profile profile;
    if (LoadProfile(path_, profile).ok()) {
        for (const Line& line : profile.lines) {
            if (line.kind == LineKind::kSection) {
                AddOnce(names, line.name);
            }
        }
    }
    return static_cast<int>(names.size());
}

std::int32_t IniFile::CLngDefault(std::string_view text, std::int32_t fallback) {
    std::string_view digits = ProfileTrim(text);
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return fallback;
    }
    std::int64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return fallback;
        }
        value = value * 10 + (c - '0');
        if (value > std::int64_t{INT32_MAX} + 1) {
            return fallback;
        }
    }
    value = negative ? -value : value;
    if (value > INT32_MAX) {
        return fallback;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace ferret
