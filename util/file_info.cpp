#include "util/file_info.h"

#include "util/file_size_text.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QLocale>
#include <QMimeDatabase>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "util/app_locale.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

constexpr const char* kNotCompressed = "Not Compressed";
constexpr std::uint64_t kReadBudget = std::uint64_t{64} << 20;

int OpenForReading(const std::string& path) {
    // O_NONBLOCK: a FIFO must never hang the caller.
    return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

bool StatPath(const std::string& path, struct statx& info) {
    constexpr unsigned kWanted = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_BLOCKS | STATX_ATIME |
                                 STATX_MTIME | STATX_BTIME;
    info = {};
    return statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, kWanted, &info) == 0 &&
           (info.stx_mask & STATX_TYPE) != 0;
}

// Opens a regular file (reported in `fd`) or checks that another kind of file can be read;
// device files are not opened, since opening some of them has effects.
bool OpenExisting(const std::string& path, struct statx& info, int& fd) {
    fd = -1;
    if (path.empty() || !StatPath(path, info) || S_ISDIR(info.stx_mode)) {
        return false;
    }
    if (!S_ISREG(info.stx_mode)) {
        return access(path.c_str(), R_OK) == 0;
    }
    fd = OpenForReading(path);
    return fd >= 0;
}

bool IsCompressed(int fd, const struct statx& info) {
    if ((info.stx_attributes_mask & STATX_ATTR_COMPRESSED) != 0) {
        return (info.stx_attributes & STATX_ATTR_COMPRESSED) != 0;
    }
    int flags = 0;
    return fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_COMPR_FL) != 0;
}

// Qt's long time forms end in a time zone ("h:mm:ss AP t"); the file dates leave it out, as
// the long time of the desktop the program comes from does.
QString WithoutTimeZone(const QString& format) {
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('t')) {
            continue;
        }
        out.append(c);
    }
    return out.simplified();
}

std::string FormatTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    const QLocale& locale = AppLocale();
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(
        static_cast<qint64>(seconds) * 1000 + nanoseconds / 1000000, Qt::LocalTime);
    const QString text =
        locale.toString(when.date(), locale.dateFormat(QLocale::LongFormat)) + QLatin1Char(' ') +
        locale.toString(when.time(), WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
    return text.toStdString();
}

struct TypeName {
    std::string comment;  // empty when the database knows no type for the name
    std::string icon;
};

TypeName QueryType(const QString& name) {
    static const QMimeDatabase database;
    const QMimeType mime = database.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    TypeName type;
    if (mime.isValid()) {
        if (!mime.isDefault()) {
            type.comment = mime.comment().toStdString();
        }
        type.icon = mime.iconName().toStdString();
    }
    return type;
}

// Looking a name up in the MIME database takes tens of microseconds, too slow for reports of
// many thousands of files. Nearly all of its patterns are "*.suffix", which only the end of a
// name decides, so answers are kept per name ending; names that one of the few other patterns
// ("Makefile", "README*", "*~") matches are always looked up.
class TypeNames {
  public:
    TypeName Find(const std::string& name) {
        std::call_once(loaded_, [this] { Load(); });
        for (const Special& pattern : special_) {
            if (pattern.MayMatch(name) &&
                fnmatch(pattern.glob.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
                return QueryType(QString::fromStdString(name));
            }
        }
        const std::string ending = Ending(name);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (const auto found = by_ending_.find(ending); found != by_ending_.end()) {
                return found->second;
            }
        }
        TypeName type = QueryType(QString::fromStdString("x" + ending));
        const std::lock_guard<std::mutex> lock(mutex_);
        if (by_ending_.size() >= 4096) {
            by_ending_.clear();
        }
        by_ending_.emplace(ending, type);
        return type;
    }

  private:
    // A pattern with its literal first and last characters (0 where a wildcard stands), which
    // rule out nearly every name before the costly fnmatch.
    struct Special {
        explicit Special(const QString& pattern)
            : glob(pattern.toStdString()),
              first(Literal(pattern.front().toLatin1())),
              last(pattern.size() > 1 && pattern[pattern.size() - 2] == QLatin1Char('\\')
                       ? 0
                       : Literal(pattern.back().toLatin1())) {}
        static char Literal(char c) {
            const bool wild = c == '*' || c == '?' || c == '[' || c == ']' || c == '\\';
            return wild || static_cast<unsigned char>(c) >= 0x80 ? 0 : Lower(c);
        }
        static char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
        // Bytes of other characters may fold to a literal (the Kelvin sign to "k").
        static bool Same(char literal, char c) {
            return literal == 0 || static_cast<unsigned char>(c) >= 0x80 || Lower(c) == literal;
        }
        bool MayMatch(const std::string& name) const {
            return !name.empty() && Same(first, name.front()) && Same(last, name.back());
        }
        std::string glob;
        char first = 0;
        char last = 0;
    };

    void Load() {
        const QMimeDatabase database;
        for (const QMimeType& mime : database.allMimeTypes()) {
            for (const QString& glob : mime.globPatterns()) {
                if (glob.isEmpty()) {
                    continue;
                }
                const QString rest = glob.mid(2);
                const bool suffix_only =
                    glob.startsWith(QLatin1String("*.")) && !rest.contains(QLatin1Char('*')) &&
                    !rest.contains(QLatin1Char('?')) && !rest.contains(QLatin1Char('['));
                if (suffix_only) {
                    dots_ = std::max(dots_, static_cast<std::size_t>(glob.count('.')));
                } else {
                    special_.push_back(Special(glob));
                }
            }
        }
    }

    // The end of `name` from the dot that the longest "*.a.b" pattern could reach.
    std::string Ending(const std::string& name) const {
        std::size_t at = std::string::npos;
        for (std::size_t i = 0, dot = name.size(); i < dots_; ++i) {
            dot = dot == 0 ? std::string::npos : name.rfind('.', dot - 1);
            if (dot == std::string::npos) {
                break;
            }
            at = dot;
        }
        return at == std::string::npos ? std::string() : name.substr(at);
    }

    std::once_flag loaded_;
    std::vector<Special> special_;
    std::size_t dots_ = 1;
    std::mutex mutex_;
    std::unordered_map<std::string, TypeName> by_ending_;
};

TypeName FindTypeName(const std::string& name) {
    static TypeNames names;
    return names.Find(name);
}

// ---- The version resource of a PE file. Every offset in the image is untrusted. ----

std::uint16_t Le16(std::string_view bytes, std::uint64_t at) {
    if (at > bytes.size() || bytes.size() - at < 2) {
        return 0;
    }
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t Le32(std::string_view bytes, std::uint64_t at) {
    return Le16(bytes, at) | static_cast<std::uint32_t>(Le16(bytes, at + 2)) << 16;
}

class Image {
  public:
    Image(const ByteReader& read, std::uint64_t size) : read_(read), size_(size) {}

    bool Read(std::uint64_t offset, std::uint64_t count, std::string& out) {
        if (offset > size_ || count > size_ - offset || count > budget_) {
            return false;
        }
        out.assign(static_cast<std::size_t>(count), '\0');
        if (count > 0 && !read_(offset, out.size(), out.data())) {
            return false;
        }
        budget_ -= count;
        return true;
    }

  private:
    const ByteReader& read_;
    std::uint64_t size_;
    std::uint64_t budget_ = kReadBudget;
};

struct Section {
    std::uint64_t virtual_address = 0;
    std::uint64_t virtual_size = 0;
    std::uint64_t raw_size = 0;
    std::uint64_t raw_offset = 0;
};

class PeFile {
  public:
    explicit PeFile(Image& image) : image_(image) {}

    bool Open() {
        std::string dos;
        if (!image_.Read(0, 64, dos) || dos[0] != 'M' || dos[1] != 'Z') {
            return false;
        }
        const std::uint64_t nt = Le32(dos, 0x3C);
        std::string header;
        if (!image_.Read(nt, 24, header) ||
            header.compare(0, 4, std::string_view("PE\0\0", 4)) != 0) {
            return false;
        }
        const std::uint16_t section_count = Le16(header, 6);
        const std::uint16_t optional_size = Le16(header, 20);
        std::string optional;
        if (!image_.Read(nt + 24, optional_size, optional)) {
            return false;
        }
        std::uint64_t count_at = 0;
        switch (Le16(optional, 0)) {
            case 0x10B:  // PE32
                count_at = 92;
                break;
            case 0x20B:  // PE32+
                count_at = 108;
                break;
            default:
                return false;
        }
        constexpr std::uint32_t kResourceDirectory = 2;
        const std::uint64_t entry_at = count_at + 4 + kResourceDirectory * 8;
        if (Le32(optional, count_at) <= kResourceDirectory || optional.size() < entry_at + 8) {
            return false;
        }
        resource_rva_ = Le32(optional, entry_at);
        std::string table;
        if (resource_rva_ == 0 ||
            !image_.Read(nt + 24 + optional_size, std::uint64_t{section_count} * 40, table)) {
            return false;
        }
        for (std::size_t i = 0; i < section_count; ++i) {
            const std::size_t at = i * 40;
            sections_.push_back(Section{Le32(table, at + 12), Le32(table, at + 8),
                                        Le32(table, at + 16), Le32(table, at + 20)});
        }
        return true;
    }

    // The version resource's bytes: the first RT_VERSION entry, first name, first language.
    bool VersionData(std::string& data) {
        constexpr std::uint32_t kRtVersion = 16;
        constexpr std::uint32_t kSubdirectory = 0x80000000u;
        std::uint32_t target = 0;
        if (!FindEntry(0, kRtVersion, target) || (target & kSubdirectory) == 0 ||
            !FindEntry(target & ~kSubdirectory, std::nullopt, target) ||
            (target & kSubdirectory) == 0 ||
            !FindEntry(target & ~kSubdirectory, std::nullopt, target) ||
            (target & kSubdirectory) != 0) {
            return false;
        }
        std::string leaf;
        if (!ReadRva(resource_rva_ + target, 16, leaf)) {
            return false;
        }
        // The record's lengths are 16-bit, so nothing past 64 KiB belongs to it.
        const std::uint64_t size = std::min<std::uint64_t>(Le32(leaf, 4), 0xFFFF);
        return ReadRva(Le32(leaf, 0), size, data);
    }

  private:
    bool ReadRva(std::uint64_t rva, std::uint64_t count, std::string& out) {
        for (const Section& section : sections_) {
            const std::uint64_t span =
                section.virtual_size != 0 ? section.virtual_size : section.raw_size;
            if (rva < section.virtual_address || rva - section.virtual_address >= span) {
                continue;
            }
            const std::uint64_t inside = rva - section.virtual_address;
            if (inside > section.raw_size || count > section.raw_size - inside) {
                return false;  // not stored in the file
            }
            return image_.Read(section.raw_offset + inside, count, out);
        }
        return false;
    }

    // The target of the directory entry with `id` (or of the first entry) in the resource
    // directory at `offset` within the resource section.
    bool FindEntry(std::uint64_t offset, std::optional<std::uint32_t> id, std::uint32_t& target) {
        std::string header;
        if (!ReadRva(resource_rva_ + offset, 16, header)) {
            return false;
        }
        const std::uint64_t count = std::uint64_t{Le16(header, 12)} + Le16(header, 14);
        std::string entries;
        if (count == 0 || !ReadRva(resource_rva_ + offset + 16, count * 8, entries)) {
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint32_t name = Le32(entries, i * 8);
            if (!id || name == *id) {
                target = Le32(entries, i * 8 + 4);
                return true;
            }
        }
        return false;
    }

    Image& image_;
    std::uint64_t resource_rva_ = 0;
    std::vector<Section> sections_;
};

// One block of the version record: length, value length, type, key, value and children, each
// part aligned to four bytes from the record's start.
struct Block {
    std::u16string key;
    std::size_t value_at = 0;
    std::size_t value_size = 0;
    std::size_t children_at = 0;
    std::size_t end = 0;
};

std::size_t Align4(std::size_t at) {
    return (at + 3) & ~std::size_t{3};
}

bool ParseBlock(std::string_view data, std::size_t at, std::size_t limit, Block& block) {
    if (at >= limit || limit - at < 6) {
        return false;
    }
    const std::size_t length = Le16(data, at);
    const std::size_t value_length = Le16(data, at + 2);
    const std::uint16_t type = Le16(data, at + 4);
    if (length < 6) {
        return false;
    }
    block.end = std::min(limit, at + length);
    block.key.clear();
    std::size_t pos = at + 6;
    for (;; pos += 2) {
        if (pos + 2 > block.end) {
            return false;
        }
        const char16_t c = Le16(data, pos);
        if (c == 0) {
            break;
        }
        block.key.push_back(c);
    }
    block.value_at = std::min(Align4(pos + 2), block.end);
    // Text values count characters, binary ones bytes.
    const std::size_t value_bytes = type == 1 ? value_length * 2 : value_length;
    block.value_size = std::min(value_bytes, block.end - block.value_at);
    block.children_at = std::min(Align4(block.value_at + block.value_size), block.end);
    return true;
}

template <typename Visit>
void ForEachChild(std::string_view data, const Block& parent, Visit visit) {
    std::size_t at = parent.children_at;
    Block child;
    while (ParseBlock(data, at, parent.end, child)) {
        visit(child);
        at = Align4(child.end);
    }
}

bool KeyIs(const std::u16string& key, std::string_view ascii) {
    if (key.size() != ascii.size()) {
        return false;
    }
    for (std::size_t i = 0; i < key.size(); ++i) {
        char16_t a = key[i];
        char16_t b = static_cast<unsigned char>(ascii[i]);
        a = (a >= 'A' && a <= 'Z') ? a + 32 : a;
        b = (b >= 'A' && b <= 'Z') ? b + 32 : b;
        if (a != b) {
            return false;
        }
    }
    return true;
}

// A text value up to its first zero (or the end of its block), as UTF-8.
std::string TextValue(std::string_view data, const Block& block) {
    std::u16string text;
    for (std::size_t pos = block.value_at; pos + 2 <= block.end; pos += 2) {
        const char16_t c = Le16(data, pos);
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

std::string Hex4(std::uint16_t value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(4, '0');
    for (int i = 3; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kHex[value & 0xF];
        value = static_cast<std::uint16_t>(value >> 4);
    }
    return out;
}

void ReadStrings(std::string_view data, const Block& table, VersionResource& out) {
    const std::pair<std::string_view, std::string*> names[] = {
        {"CompanyName", &out.company_name},           {"FileDescription", &out.file_description},
        {"FileVersion", &out.file_version},           {"InternalName", &out.internal_name},
        {"LegalCopyright", &out.legal_copyright},     {"LegalTrademarks", &out.legal_trademarks},
        {"OriginalFilename", &out.original_filename}, {"ProductName", &out.product_name},
        {"ProductVersion", &out.product_version}};
    ForEachChild(data, table, [&](const Block& entry) {
        for (const auto& [name, field] : names) {
            if (KeyIs(entry.key, name) && field->empty()) {
                *field = TextValue(data, entry);
            }
        }
    });
}

bool ParseVersionRecord(std::string_view data, VersionResource& out) {
    Block root;
    if (!ParseBlock(data, 0, data.size(), root) || !KeyIs(root.key, "VS_VERSION_INFO")) {
        return false;
    }
    constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
    if (root.value_size >= 52 && Le32(data, root.value_at) == kFixedSignature) {
        out.has_fixed_info = true;
        out.file_os = Le32(data, root.value_at + 32);
    }
    std::vector<Block> tables;
    ForEachChild(data, root, [&](const Block& child) {
        if (KeyIs(child.key, "StringFileInfo")) {
            ForEachChild(data, child, [&](const Block& table) { tables.push_back(table); });
        } else if (KeyIs(child.key, "VarFileInfo")) {
            ForEachChild(data, child, [&](const Block& var) {
                if (!out.has_translation && KeyIs(var.key, "Translation") && var.value_size >= 4) {
                    out.has_translation = true;
                    out.language = Le16(data, var.value_at);
                    out.translation = Hex4(out.language) + Hex4(Le16(data, var.value_at + 2));
                }
            });
        }
    });
    // The table of the declared translation; a resource whose translation names no table of
    // its own still shows its first table rather than nothing.
    const Block* chosen = tables.empty() ? nullptr : &tables.front();
    for (const Block& table : tables) {
        if (out.has_translation && KeyIs(table.key, out.translation)) {
            chosen = &table;
            break;
        }
    }
    if (chosen != nullptr) {
        ReadStrings(data, *chosen, out);
    }
    return true;
}

struct LanguageTag {
    std::uint16_t langid;
    const char* tag;
};

// Windows language identifiers with their BCP 47 names; a sublanguage not listed is named by
// its primary language alone.
constexpr LanguageTag kLanguages[] = {
    {0x0401, "ar-SA"},      {0x0402, "bg-BG"},      {0x0403, "ca-ES"},      {0x0404, "zh-TW"},
    {0x0405, "cs-CZ"},      {0x0406, "da-DK"},      {0x0407, "de-DE"},      {0x0408, "el-GR"},
    {0x0409, "en-US"},      {0x040A, "es-ES"},      {0x040B, "fi-FI"},      {0x040C, "fr-FR"},
    {0x040D, "he-IL"},      {0x040E, "hu-HU"},      {0x040F, "is-IS"},      {0x0410, "it-IT"},
    {0x0411, "ja-JP"},      {0x0412, "ko-KR"},      {0x0413, "nl-NL"},      {0x0414, "nb-NO"},
    {0x0415, "pl-PL"},      {0x0416, "pt-BR"},      {0x0417, "rm-CH"},      {0x0418, "ro-RO"},
    {0x0419, "ru-RU"},      {0x041A, "hr-HR"},      {0x041B, "sk-SK"},      {0x041C, "sq-AL"},
    {0x041D, "sv-SE"},      {0x041E, "th-TH"},      {0x041F, "tr-TR"},      {0x0420, "ur-PK"},
    {0x0421, "id-ID"},      {0x0422, "uk-UA"},      {0x0423, "be-BY"},      {0x0424, "sl-SI"},
    {0x0425, "et-EE"},      {0x0426, "lv-LV"},      {0x0427, "lt-LT"},      {0x0429, "fa-IR"},
    {0x042A, "vi-VN"},      {0x042B, "hy-AM"},      {0x042C, "az-Latn-AZ"}, {0x042D, "eu-ES"},
    {0x042F, "mk-MK"},      {0x0436, "af-ZA"},      {0x0437, "ka-GE"},      {0x0438, "fo-FO"},
    {0x0439, "hi-IN"},      {0x043E, "ms-MY"},      {0x043F, "kk-KZ"},      {0x0441, "sw-KE"},
    {0x0443, "uz-Latn-UZ"}, {0x0445, "bn-IN"},      {0x0447, "gu-IN"},      {0x0449, "ta-IN"},
    {0x044A, "te-IN"},      {0x044B, "kn-IN"},      {0x044E, "mr-IN"},      {0x0456, "gl-ES"},
    {0x0804, "zh-CN"},      {0x0807, "de-CH"},      {0x0809, "en-GB"},      {0x080A, "es-MX"},
    {0x080C, "fr-BE"},      {0x0810, "it-CH"},      {0x0813, "nl-BE"},      {0x0814, "nn-NO"},
    {0x0816, "pt-PT"},      {0x081D, "sv-FI"},      {0x0C04, "zh-HK"},      {0x0C07, "de-AT"},
    {0x0C09, "en-AU"},      {0x0C0A, "es-ES"},      {0x0C0C, "fr-CA"},      {0x1004, "zh-SG"},
    {0x1009, "en-CA"},      {0x100C, "fr-CH"},      {0x1409, "en-NZ"},      {0x1809, "en-IE"},
    {0x1C09, "en-ZA"},      {0x241A, "sr-Latn-RS"}, {0x281A, "sr-Cyrl-RS"}, {0x2C0A, "es-AR"},
};

}  // namespace

bool ReadVersionResource(const ByteReader& read, std::uint64_t file_size, VersionResource& out) {
    out = VersionResource();
    Image image(read, file_size);
    PeFile pe(image);
    std::string data;
    return pe.Open() && pe.VersionData(data) && ParseVersionRecord(data, out);
}

bool ReadVersionResource(std::string_view image, VersionResource& out) {
    const ByteReader read = [image](std::uint64_t offset, std::size_t size, char* to) {
        if (offset > image.size() || size > image.size() - offset) {
            return false;
        }
        std::memcpy(to, image.data() + offset, size);
        return true;
    };
    return ReadVersionResource(read, image.size(), out);
}

void FileInfo::TimeText::Set(std::int64_t seconds, std::uint32_t nanoseconds) {
    seconds_ = seconds;
    nanoseconds_ = nanoseconds;
    set_ = true;
    formatted_ = false;
}

const std::string& FileInfo::TimeText::Text() const {
    if (!formatted_) {
        text_ = set_ ? FormatTime(seconds_, nanoseconds_) : std::string();
        formatted_ = true;
    }
    return text_;
}

bool FileInfo::SetFilePath(const std::string& path) {
    struct statx info {};
    int fd = -1;
    if (!OpenExisting(path, info, fd)) {
        return false;
    }
    Clear();
    file_path_ = path;
    Fill(info, fd);
    return true;
}

UserMessage FileInfo::NotFoundMessage(const std::string& path) {
    return {path + "\n\nThis file does not exist.  Can not get it's information.",
            "  File Not Found", MessageIcon::kWarning};
}

bool FileInfo::Refresh() {
    const std::string path = file_path_;
    Clear();
    file_path_ = path;
    struct statx info {};
    int fd = -1;
    if (!OpenExisting(path, info, fd)) {
        return false;
    }
    Fill(info, fd);
    return true;
}

void FileInfo::Fill(const struct statx& info, int fd) {
    const std::string& path = file_path_;
    name_ = FileNameOf(path);
    location_ = path.substr(0, path.size() - name_.size());
    extension_ = ExtensionOf(name_);

    size_ = info.stx_size;
    size_text_ = FormatSize(static_cast<std::int64_t>(size_));

    const statx_timestamp& born =
        (info.stx_mask & STATX_BTIME) != 0 ? info.stx_btime : info.stx_mtime;
    created_.Set(born.tv_sec, born.tv_nsec);
    modified_.Set(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
    accessed_.Set(info.stx_atime.tv_sec, info.stx_atime.tv_nsec);

    const TypeName type = FindTypeName(name_);
    type_ = !type.comment.empty()
                ? type.comment
                : (QString::fromStdString(extension_).toUpper() + QLatin1String(" File"))
                      .trimmed()
                      .toStdString();
    icon_name_ = type.icon;

    hidden_ = !name_.empty() && name_.front() == '.';
    read_only_ = (info.stx_mode & S_IWUSR) == 0;
    compressed_ = S_ISREG(info.stx_mode) && IsCompressed(fd, info);

    if (compressed_) {
        compressed_size_ = info.stx_blocks * 512;
        compressed_size_text_ = FormatSize(static_cast<std::int64_t>(compressed_size_));
    } else {
        compressed_size_text_ = kNotCompressed;
    }

    target_os_ = TargetSystemText(0);
    if (fd >= 0) {
        ReadVersion(fd);
        close(fd);
    }
}

bool FileInfo::ReadVersion(int fd) {
    char magic[2] = {};
    if (size_ < 64 || ReadSomeAt(fd, magic, 2, 0).bytes != 2 || magic[0] != 'M' ||
        magic[1] != 'Z') {
        return false;
    }
    const ByteReader read = [fd](std::uint64_t offset, std::size_t size, char* out) {
        const ReadResult got = ReadFullAt(fd, out, size, offset);
        return !got.failed() && got.bytes == size;
    };
    VersionResource resource;
    if (!ReadVersionResource(read, size_, resource)) {
        return false;
    }
    if (resource.has_fixed_info) {
        target_os_ = TargetSystemText(resource.file_os);
    }
    if (resource.has_translation) {
        language_ = LanguageName(resource.language);
    }
    company_ = resource.company_name;
    description_ = resource.file_description;
    version_ = resource.file_version;
    internal_name_ = resource.internal_name;
    copyright_ = resource.legal_copyright;
    trademark_ = resource.legal_trademarks;
    original_name_ = resource.original_filename;
    product_name_ = resource.product_name;
    product_version_ = resource.product_version;
    return true;
}

void FileInfo::Clear() {
    *this = FileInfo();
}

std::string FileInfo::FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FileInfo::ExtensionOf(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string FileInfo::FormatSize(std::int64_t size) {
    if (size == -1) {
        return "0.0KB (0 bytes)";
    }
    if (size < 0) {
        return {};
    }
    return FormatFileSize(static_cast<std::uint64_t>(size));
}

std::string FileInfo::TargetSystemText(std::uint32_t file_os) {
    switch (file_os) {
        case 0x10000:
            return "MS-DOS";
        case 0x10001:
            return "16bit Windows on DOS (Windows 3.0, 3.1x)";
        case 0x10004:
            return "32bit Windows on DOS (Win32s)";
        case 0x20000:
            return "16bit OS/2";
        case 0x20002:
            return "16bit Presentation Manager on 16 bit OS/2";
        case 0x30000:
            return "32bit OS/2";
        case 0x30003:
            return "32-bit Presentation Manager on 32 bit OS/2";
        case 0x40000:
            return "Windows NT";
        case 0x40004:
            return "Win32 API on Windows NT";
        default:
            return "Undefined or Unknown";
    }
}

std::string FileInfo::LanguageName(std::uint16_t langid) {
    if ((langid & 0x3FF) == 0) {
        return "Language Neutral";
    }
    const LanguageTag* primary = nullptr;
    for (const LanguageTag& entry : kLanguages) {
        if (entry.langid == langid) {
            const QLocale locale(QLatin1String(entry.tag));
            return (QLocale::languageToString(locale.language()) + QLatin1String(" (") +
                    QLocale::territoryToString(locale.territory()) + QLatin1Char(')'))
                .toStdString();
        }
        if (primary == nullptr && (entry.langid & 0x3FF) == (langid & 0x3FF)) {
            primary = &entry;
        }
    }
    if (primary != nullptr) {
        const QLocale locale(QLatin1String(primary->tag));
        return QLocale::languageToString(locale.language()).toStdString();
    }
    return "Unknown language";
}

void LoadTypeNames() {
    (void)FindTypeName("x.txt");
}

}  // namespace ferret
