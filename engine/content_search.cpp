#include "engine/content_search.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "engine/file_details.h"
#include "engine/legacy_forms.h"
#include "engine/pattern_literal.h"
#include "engine/regex.h"
#include "engine/text_blocks.h"
#include "util/file_handle.h"
#include "util/text_encoding.h"

namespace ferret {
namespace {

// Large reads keep system calls few; the stop flag is looked at every kStopCheckBytes.
constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::uint64_t kStopCheckBytes = 4 * 1024 * 1024;
// Files larger than this are worth a read-ahead hint (a system call of its own).
constexpr std::uint64_t kReadAheadHint = 1024 * 1024;

std::int32_t Saturated(std::uint64_t count) {
    return count > static_cast<std::uint64_t>(kMaxHitCount) ? kMaxHitCount
                                                            : static_cast<std::int32_t>(count);
}

int OpenAt(int folder, const std::string& path, int flags) {
    return folder == AT_FDCWD ? OpenPath(path, flags) : openat(folder, path.c_str(), flags);
}

class FileReader {
  public:
    // Opens without blocking: a file swapped for a FIFO since the walk must not hang the run.
    // Any path the walk lists can be opened, deeper than PATH_MAX too.
    FileReader(int folder, const std::string& path)
        : fd_(OpenAt(folder, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)) {
        if (fd_ >= 0 && !ReadOpenFileDetails(fd_, details_)) {
            Close();
        }
        if (fd_ >= 0 && !details_.is_regular) {
            Close();
        }
        if (fd_ >= 0 && details_.size > kReadAheadHint) {
            posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        }
    }
    ~FileReader() { Close(); }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Gives the open file up without closing it.
    int release() { return std::exchange(fd_, -1); }
    const FileDetails& details() const { return details_; }

  private:
    void Close() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

    int fd_;
    FileDetails details_;
};

void Report(const DetailsSink& sink, const FileDetails& details) {
    if (sink) {
        sink(details.size, details.created);
    }
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, start)) {
        out.append(text, start, at - start).append(to);
        start = at + from.size();
    }
    if (start == 0) {
        return;
    }
    out.append(text, start);
    text = std::move(out);
}

}  // namespace

std::string ConvertSpecialChars(std::string_view text) {
    std::string converted(text);
    ReplaceAll(converted, "^^CrLf", "\r\n");
    ReplaceAll(converted, "^^Tab", "\t");
    ReplaceAll(converted, "^^Blank", "");
    return converted;
}

std::string RegExEncodeString(std::string_view text) {
    // Every ASCII character that is not a letter or digit: a backslash before any of them stands
    // for the character itself, so no "?", "{" or "}" can turn a plain text into a pattern.
    // "\Q...\E" is not used: it ends early on a text holding "\E".
    std::string encoded;
    encoded.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool letter_or_digit = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                                     (byte >= 'a' && byte <= 'z');
        if (byte > 0x20 && byte < 0x7F && !letter_or_digit) {
            encoded.push_back('\\');
        }
        encoded.push_back(c);
    }
    return encoded;
}

std::string SearchPattern(std::string_view typed, bool regex, bool whole_word) {
    std::string text = ConvertSpecialChars(typed);
    if (!regex) {
        text = RegExEncodeString(text);
    }
    return whole_word ? WholeWordPattern(text) : text;
}

std::string WholeWordPattern(std::string_view pattern) {
    // The group keeps both bounds around every branch of an alternation, and takes no number
    // from the pattern's own groups.
    std::string wrapped = "\\b(?:";
    wrapped.append(pattern);
    wrapped += ")\\b";
    return wrapped;
}

bool ReadWholeFile(int fd, std::uint64_t expected_size, std::string_view& text) {
    // Kept per thread and never cleared: zeroing or copying the room of the largest file for
    // every file would cost more than reading it.
    struct Storage {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
        void Grow(std::size_t at_least, std::size_t keep) {
            std::unique_ptr<char[]> bigger(new char[at_least]);
            if (keep > 0) {
                std::memcpy(bigger.get(), bytes.get(), keep);
            }
            bytes = std::move(bigger);
            size = at_least;
        }
    };
    thread_local Storage storage;
    if (storage.size < expected_size + 1) {
        // Half again at least: files met in growing sizes would otherwise each cost a new buffer.
        storage.Grow(
            std::max(static_cast<std::size_t>(expected_size) + 1, storage.size + storage.size / 2),
            0);
    }
    std::size_t filled = 0;
    for (;;) {
        if (filled == storage.size) {
            storage.Grow(storage.size * 2, filled);  // the file grew since it was looked at
        }
        const ReadResult got = ReadSome(fd, storage.bytes.get() + filled, storage.size - filled);
        if (got.failed()) {
            return false;
        }
        if (got.bytes == 0) {
            break;
        }
        filled += got.bytes;
    }
    text = std::string_view(storage.bytes.get(), filled);
    return true;
}

namespace {

// Whether `stop` is set, looked at once every kStopCheckBytes read (`since_check` counts them, the
// last read `got` bytes).
bool StopAsked(const std::atomic<bool>* stop, std::uint64_t& since_check, std::size_t got) {
    since_check += got;
    if (stop == nullptr || since_check < kStopCheckBytes) {
        return false;
    }
    since_check = 0;
    return stop->load(std::memory_order_relaxed);
}

std::int64_t AsInt64(std::uint64_t count) {
    return static_cast<std::int64_t>(std::min<std::uint64_t>(count, INT64_MAX));
}

// The rest of ScanOpenFile for a file whose text is decoded (`decoder`), the bytes of its first
// block after its mark `head`: decoded a block at a time, the tail of each block's text in front
// of the next.
std::int64_t ScanDecoded(int fd, std::string_view head, PieceDecoder& decoder,
                         const PlainMatcher& matcher, bool first_hit_only) {
    const std::size_t carry_room = matcher.MaxHitLength() - 1;
    thread_local std::string text;
    text.clear();
    decoder.Decode(head, text);
    thread_local std::vector<char> block(kBlockSize);
    std::size_t carried = 0;
    std::uint64_t count = 0;
    for (bool ended = false;;) {
        if (first_hit_only) {
            if (matcher.Find(text.data(), text.size(), 0) != std::string_view::npos) {
                return 1;
            }
        } else {
            count += matcher.Count(text.data(), text.size(), carried);
        }
        if (ended) {
            break;
        }
        carried = std::min(carry_room, text.size());
        text.erase(0, text.size() - carried);
        const ReadResult got = ReadSome(fd, block.data(), block.size());
        if (got.failed()) {
            return -1;
        }
        ended = got.bytes == 0;
        if (ended) {
            decoder.Finish(text);
        } else {
            decoder.Decode(std::string_view(block.data(), got.bytes), text);
        }
    }
    return AsInt64(count);
}

// For ScanOpenFile of a file whose bytes so far were ASCII: when `read`, read at `offset`, goes
// beyond ASCII (`ascii_so_far` is then cleared) into a legacy text, the count of the whole file
// read again, decoded; nothing otherwise.
std::optional<std::int64_t> ScanIfLaterLegacy(int fd, std::string_view read, std::uint64_t offset,
                                              const PlainMatcher& matcher, bool first_hit_only,
                                              const EncodingChoice& encoding, bool& ascii_so_far) {
    const std::optional<std::string> legacy = LaterLegacyEncoding(fd, read, offset, encoding);
    if (!legacy) {
        return std::nullopt;
    }
    ascii_so_far = false;
    if (legacy->empty()) {
        return std::nullopt;
    }
    const std::unique_ptr<PieceDecoder> decoder = MakeDecoder(ByteOrderMark::kNone, *legacy, false);
    if (!decoder) {
        return std::nullopt;
    }
    if (lseek(fd, 0, SEEK_SET) != 0) {
        return -1;
    }
    return ScanDecoded(fd, {}, *decoder, matcher, first_hit_only);
}

// The rest of ScanOpenFile for a legacy text and an ASCII text `matcher` finds, without the
// file's encoding: the hits among its bytes, `buffer[0, filled)` its first block (the buffer has
// room for the text and a byte more in front of a block). Nothing when a hit may read otherwise
// once decoded (AsciiHitIsText): the caller decodes the file instead.
std::optional<std::int64_t> ScanLegacyBytes(int fd, char* buffer, std::size_t filled,
                                            const PlainMatcher& matcher,
                                            const std::atomic<bool>* stop, bool first_hit_only,
                                            std::uint64_t* bytes_read) {
    const std::size_t length = matcher.MaxHitLength();
    bool from_file_start = true;  // buffer[0] is the file's first byte
    std::size_t from = 0;         // the first start of a hit not looked at yet
    std::uint64_t count = 0;
    std::uint64_t since_check = 0;
    for (;;) {
        // The hits with the byte after them at hand.
        for (std::size_t at = filled > length ? matcher.Find(buffer, filled - 1, from)
                                              : std::string_view::npos;
             at != std::string_view::npos; at = matcher.Find(buffer, filled - 1, at + 1)) {
            if (!AsciiHitIsText(std::string_view(buffer, at), from_file_start,
                                static_cast<unsigned char>(buffer[at + length]))) {
                return std::nullopt;
            }
            if (first_hit_only) {
                return 1;
            }
            ++count;
        }
        from = std::max(from, filled >= length ? filled - length : 0);
        // The bytes from the byte before the next start on go in front of the next block.
        const std::size_t keep_from = from > 0 ? from - 1 : 0;
        std::memmove(buffer, buffer + keep_from, filled - keep_from);
        filled -= keep_from;
        from -= keep_from;
        from_file_start = from_file_start && keep_from == 0;
        const ReadResult got = ReadSome(fd, buffer + filled, kBlockSize);
        if (got.failed()) {
            return -1;
        }
        if (got.bytes == 0) {
            // A hit that ends the file.
            const std::size_t at = matcher.Find(buffer, filled, from);
            if (at != std::string_view::npos) {
                if (!AsciiHitIsText(std::string_view(buffer, at), from_file_start, -1)) {
                    return std::nullopt;
                }
                ++count;
            }
            break;
        }
        if (bytes_read != nullptr) {
            *bytes_read += got.bytes;
        }
        filled += got.bytes;
        if (StopAsked(stop, since_check, got.bytes)) {
            return 0;
        }
    }
    return AsInt64(count);
}

}  // namespace

bool LeftOutAsBinary(ByteOrderMark mark, std::string_view first) {
    return mark != ByteOrderMark::kUtf16LE && mark != ByteOrderMark::kUtf16BE &&
           std::memchr(first.data(), 0, first.size()) != nullptr;
}

bool FileLooksBinary(int folder, const char* name, std::string* head) {
    const Fd fd(openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    thread_local std::vector<char> block(kBlockSize);
    const ReadResult got =
        fd.get() < 0 ? ReadResult{} : ReadSome(fd.get(), block.data(), block.size());
    if (fd.get() < 0 || got.failed()) {
        return false;
    }
    const std::string_view first(block.data(), got.bytes);
    if (head != nullptr) {
        head->assign(first.substr(0, 8));
    }
    return LeftOutAsBinary(DetectByteOrderMark(first), first);
}

namespace {

std::int64_t ScanOpenFile(int fd, const PlainMatcher& matcher, const std::atomic<bool>* stop,
                          bool first_hit_only, std::uint64_t* bytes_read, bool skip_binary,
                          const EncodingChoice& encoding, bool legacy_as_bytes) {
    if (matcher.empty()) {
        return 0;
    }
    // The tail of each block goes in front of the next, so hits across the seam are found.
    const std::size_t carry_room = matcher.MaxHitLength() - 1;
    // One buffer per thread, kept between files: a fresh one per file costs page faults. Two
    // bytes more for ScanLegacyBytes.
    thread_local std::vector<char> buffer_storage;
    if (buffer_storage.size() < carry_room + 2 + kBlockSize) {
        buffer_storage.resize(carry_room + 2 + kBlockSize);
    }
    char* const buffer = buffer_storage.data();
    std::size_t carried = 0;
    std::uint64_t count = 0;
    std::uint64_t since_check = 0;
    bool first_block = true;
    bool undecided = false;  // the first block was not judged (UTF-8 or legacy)
    // The first block was ASCII and the text is not found alike in every encoding: judged by the
    // first bytes beyond ASCII.
    bool ascii_so_far = false;
    std::uint64_t offset = 0;  // in the file, of the block read
    for (;;) {
        const ReadResult got = ReadSome(fd, buffer + carried, kBlockSize);
        if (got.failed()) {
            return -1;
        }
        if (got.bytes == 0) {
            break;
        }
        if (undecided) {
            // A short read, not the file's end: read again from the start, judged.
            if (lseek(fd, 0, SEEK_SET) != 0) {
                return -1;
            }
            return ScanOpenFile(fd, matcher, stop, first_hit_only, bytes_read, skip_binary,
                                encoding, false);
        }
        if (bytes_read != nullptr) {
            *bytes_read += got.bytes;
        }
        offset += got.bytes;
        std::size_t filled = carried + got.bytes;
        if (ascii_so_far) {
            if (std::optional<std::int64_t> decoded = ScanIfLaterLegacy(
                    fd, std::string_view(buffer + carried, got.bytes), offset - got.bytes, matcher,
                    first_hit_only, encoding, ascii_so_far)) {
                return *decoded;
            }
        }
        if (first_block) {
            first_block = false;
            // A marked text file is searched as text: the mark is not part of it, and UTF-16 or
            // a legacy encoding is searched as the UTF-8 it decodes to.
            const std::string_view head(buffer, filled);
            const ByteOrderMark mark = DetectByteOrderMark(head);
            if (skip_binary && LeftOutAsBinary(mark, head)) {
                return kLeftOutBinary;
            }
            if (mark == ByteOrderMark::kNone && legacy_as_bytes && got.bytes < kBlockSize &&
                matcher.Find(buffer, filled, 0) == std::string_view::npos) {
                // Most likely the whole file, with no hit in any encoding it may be in: whether
                // it is UTF-8 need not be known. Most files are so.
                undecided = true;
                continue;
            }
            ascii_so_far = mark == ByteOrderMark::kNone && !legacy_as_bytes &&
                           encoding.forced.empty() && got.bytes == kBlockSize &&
                           IsAsciiWithoutNul(head);
            std::string legacy;
            if (mark == ByteOrderMark::kNone && !ReadAsBytes(head, encoding)) {
                if (legacy_as_bytes) {
                    if (const std::optional<std::int64_t> found = ScanLegacyBytes(
                            fd, buffer, filled, matcher, stop, first_hit_only, bytes_read)) {
                        return *found;
                    }
                    // Read again from the start, decoded.
                    if (lseek(fd, 0, SEEK_SET) != 0) {
                        return -1;
                    }
                    return ScanOpenFile(fd, matcher, stop, first_hit_only, bytes_read, skip_binary,
                                        encoding, false);
                }
                std::optional<std::string> read_as =
                    LegacyEncodingForHits(fd, head, head, &matcher, encoding);
                if (!read_as) {
                    return 0;
                }
                legacy = std::move(*read_as);
            }
            if (mark == ByteOrderMark::kUtf8) {
                filled -= 3;
                std::memmove(buffer, buffer + 3, filled);
            } else if (const std::unique_ptr<PieceDecoder> decoder =
                           MakeDecoder(mark, legacy, false)) {
                return ScanDecoded(fd, head.substr(MarkLength(mark)), *decoder, matcher,
                                   first_hit_only);
            }
        }
        if (first_hit_only) {
            if (matcher.Find(buffer, filled, 0) != std::string_view::npos) {
                return 1;
            }
        } else {
            count += matcher.Count(buffer, filled, carried);
        }
        const std::size_t keep = std::min(carry_room, filled);
        std::memmove(buffer, buffer + filled - keep, keep);
        carried = keep;
        if (StopAsked(stop, since_check, got.bytes)) {
            return 0;
        }
    }
    return AsInt64(count);
}

}  // namespace

std::int64_t ScanOpenFile(int fd, const PlainMatcher& matcher, const std::atomic<bool>* stop,
                          bool first_hit_only, std::uint64_t* bytes_read, bool skip_binary,
                          const EncodingChoice& encoding) {
    // An ASCII text is found among a legacy file's bytes when every encoding the file may be in
    // writes it so, which spares most such files the guess of their encoding and the decoding.
    return ScanOpenFile(fd, matcher, stop, first_hit_only, bytes_read, skip_binary, encoding,
                        FoundAmongLegacyBytes(matcher, encoding));
}

std::int64_t ScanStream(int fd, const PlainMatcher& matcher, const std::atomic<bool>* stop,
                        bool skip_binary, const EncodingChoice& encoding) {
    // Among a legacy text's bytes a hit may need the text read again, decoded: not here.
    return ScanOpenFile(fd, matcher, stop, false, nullptr, skip_binary, encoding, false);
}

std::int32_t SearchFileText(int folder, const std::string& path, const PlainMatcher& matcher,
                            const std::atomic<bool>& stop, const DetailsSink& details,
                            bool walked_regular, bool skip_binary, const EncodingChoice& encoding) {
    if (walked_regular && !details) {
        const Fd fd(
            OpenAt(folder, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
        if (fd.get() < 0) {
            return kNotSearched;
        }
        std::uint64_t bytes = 0;
        const std::int64_t count =
            ScanOpenFile(fd.get(), matcher, &stop, false, &bytes, skip_binary, encoding);
        if (count == kLeftOutBinary) {
            return kLeftOutBinary;
        }
        if (count < 0) {
            return kNotSearched;  // a FIFO put there with nothing to read says EAGAIN
        }
        if (bytes == 0) {
            // Empty, or a FIFO or device put there since the walk: only a file counts.
            FileDetails now;
            if (!ReadOpenFileDetails(fd.get(), now) || !now.is_regular) {
                return kNotSearched;
            }
        }
        return Saturated(static_cast<std::uint64_t>(count));
    }
    FileReader file(folder, path);
    if (!file.ok()) {
        return kNotSearched;
    }
    Report(details, file.details());
    const std::int64_t count =
        ScanOpenFile(file.fd(), matcher, &stop, false, nullptr, skip_binary, encoding);
    if (count == kLeftOutBinary) {
        return kLeftOutBinary;
    }
    return count < 0 ? kNotSearched : Saturated(static_cast<std::uint64_t>(count));
}

Status ForEachLineHolding(std::string_view text, const PlainMatcher& required,
                          const std::function<Status(std::size_t, std::size_t)>& line) {
    for (std::size_t hit = required.Find(text.data(), text.size(), 0);
         hit != std::string_view::npos;) {
        const auto [start, end] = LineAround(text, hit);
        if (Status status = line(start, end); !status.ok()) {
            return status;
        }
        hit = end < text.size() ? required.Find(text.data(), text.size(), end + 1)
                                : std::string_view::npos;
    }
    return {};
}

std::unique_ptr<PatternShortcut> MakePatternShortcut(std::string_view pattern, bool ignore_case) {
    const std::string literal = RequiredLiteral(pattern);
    // A plain matcher folds only ASCII letters the way the pattern does.
    const bool ascii = std::all_of(literal.begin(), literal.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (literal.empty() || (!ascii && ignore_case)) {
        return nullptr;
    }
    return std::unique_ptr<PatternShortcut>(
        new PatternShortcut{PlainMatcher(literal, ignore_case), MatchesWithinLines(pattern)});
}

Status CountPattern(std::string_view text, const RegExp& pattern, const PatternShortcut* shortcut,
                    std::int64_t& count, bool starts_text) {
    count = 0;
    if (shortcut == nullptr) {
        return pattern.Count(text, count);
    }
    const PlainMatcher& required = shortcut->required;
    if (!shortcut->within_lines) {
        return required.Find(text.data(), text.size(), 0) == std::string_view::npos
                   ? Status()  // no match can exist
                   : pattern.Count(text, count);
    }
    // Only the lines that hold the required text can hold a match.
    return ForEachLineHolding(text, required, [&](std::size_t start, std::size_t end) {
        std::int64_t in_line = 0;
        Status status = pattern.CountInRange(text, start, end, in_line, starts_text);
        count += in_line;
        return status;
    });
}

namespace {

// Where the hits of a search are put: into hit lines, or only counted (a binary file).
struct HitTaker {
    HitLineBuilder* lines;     // null: only counted
    FileHits* hits = nullptr;  // where `lines` puts them
    const HitFlush* flush = nullptr;
    std::uint64_t count = 0;
    bool left = false;  // the flush ended the search

    // Lines of a text decoded from some block on are not where its bytes are.
    const TextBlocks* blocks = nullptr;

    void Take(std::uint64_t offset, std::uint64_t length) {
        ++count;
        if (lines != nullptr) {
            lines->Hit(offset, length);
        }
    }
    void Passed(std::string_view text) {
        if (lines == nullptr) {
            return;
        }
        lines->Feed(text);
        if (blocks != nullptr && blocks->decoded()) {
            hits->text_from = -1;
        }
        if (flush != nullptr && *flush && hits->lines.size() >= kHitLinesAtOnce && !left) {
            left = !(*flush)(*hits);
        }
    }
};

// The matches of `pattern` in the rest of `blocks`, a window at a time.
Status PatternHitsInWindows(TextBlocks& blocks, const RegExp& pattern, HitTaker& taker) {
    return ForEachWindow(
        blocks, pattern.LookBehind(), pattern.LongestMatch(),
        [&](std::string_view window, std::size_t from, bool starts_text, bool at_end,
            std::size_t& resume) {
            const std::uint64_t base = blocks.offset();
            if (taker.left) {
                return Status::Error(ECANCELED, "the search was left");
            }
            return pattern.MatchWindow(
                window, from, starts_text, at_end,
                [&](const RegexMatch& match) {
                    taker.Take(base + match.first_index, match.length);
                    return true;
                },
                resume);
        },
        [&](std::string_view text) { taker.Passed(text); });
}

// Counts a pattern that stays within lines a block of whole lines at a time, so a large file
// needs no room of its own. False when the file cannot be read.
bool CountPatternByLines(int fd, const RegExp& pattern, const PatternShortcut& shortcut,
                         std::int64_t& count, Status& status, bool skip_binary,
                         const EncodingChoice& encoding) {
    TextBlocks blocks(fd, encoding);
    blocks.OnlyRead();
    blocks.SkipLegacyWithout(shortcut.required);
    count = 0;
    std::size_t keep = 0;
    // Only the first block read tells: a long first line keeps the offset at 0 past it.
    bool first = true;
    while (blocks.Next(keep)) {
        if (skip_binary && first && LeftOutAsBinary(blocks.mark(), blocks.text())) {
            count = kLeftOutBinary;
            return true;
        }
        first = false;
        const std::size_t complete = CompleteLines(blocks);
        if (complete == 0 && blocks.text().size() > kLongestLine) {
            // From the start of a line too long to hold on, a window at a time.
            HitTaker taker{nullptr};
            status = PatternHitsInWindows(blocks, pattern, taker);
            count += static_cast<std::int64_t>(std::min<std::uint64_t>(taker.count, INT64_MAX));
            return !blocks.failed();
        }
        std::int64_t in_block = 0;
        status = CountPattern(blocks.text().substr(0, complete), pattern, &shortcut, in_block,
                              blocks.offset() == 0);
        if (!status.ok()) {
            return true;
        }
        count += in_block;
        keep = blocks.text().size() - complete;
    }
    return !blocks.failed();
}

}  // namespace

std::int32_t SearchFilePattern(int folder, const std::string& path, const RegExp& pattern,
                               const PatternShortcut* shortcut, const DetailsSink& details,
                               std::string* error, bool skip_binary,
                               const EncodingChoice& encoding) {
    FileReader file(folder, path);
    if (!file.ok()) {
        return kNotSearched;
    }
    Report(details, file.details());
    return CountPatternInOpenFile(file.fd(), pattern, shortcut, error, skip_binary, encoding, true);
}

std::int32_t CountPatternInOpenFile(int fd, const RegExp& pattern, const PatternShortcut* shortcut,
                                    std::string* error, bool skip_binary,
                                    const EncodingChoice& encoding, bool rewindable) {
    std::int64_t count = 0;
    Status status;
    const bool counted = shortcut != nullptr && shortcut->within_lines;
    if (counted &&
        !CountPatternByLines(fd, pattern, *shortcut, count, status, skip_binary, encoding)) {
        return kNotSearched;
    }
    if (counted && count == kLeftOutBinary) {
        return kLeftOutBinary;
    }
    if (!counted && shortcut != nullptr && rewindable) {
        // A file without the required text holds no match: most are passed over by a quick scan.
        const std::int64_t found =
            ScanOpenFile(fd, shortcut->required, nullptr, true, nullptr, skip_binary, encoding);
        if (found == kLeftOutBinary) {
            return kLeftOutBinary;
        }
        if (found <= 0) {
            return found < 0 ? kNotSearched : 0;
        }
        if (lseek(fd, 0, SEEK_SET) != 0) {
            return kNotSearched;
        }
    }
    if (!counted) {
        TextBlocks blocks(fd, encoding);
        blocks.OnlyRead();
        if (!blocks.Next(0) && blocks.failed()) {
            return kNotSearched;
        }
        // The quick scan above looked already.
        if (skip_binary && shortcut == nullptr && LeftOutAsBinary(blocks.mark(), blocks.text())) {
            return kLeftOutBinary;
        }
        HitTaker taker{nullptr};
        status = PatternHitsInWindows(blocks, pattern, taker);
        if (blocks.failed()) {
            return kNotSearched;
        }
        count = static_cast<std::int64_t>(std::min<std::uint64_t>(taker.count, INT64_MAX));
    }
    if (!status.ok()) {
        if (error != nullptr) {
            *error = status.description();
        }
        return kNotSearched;
    }
    return Saturated(static_cast<std::uint64_t>(count));
}

namespace {

// The hits of a plain text in the rest of `blocks`, a block at a time: each block's hits that
// start before the last MaxHitLength - 1 bytes, which go in front of the next block.
bool PlainHitsInBlocks(TextBlocks& blocks, const PlainMatcher& matcher, HitTaker& taker) {
    if (matcher.empty()) {
        return true;
    }
    const std::size_t carry = matcher.MaxHitLength() - 1;
    std::size_t keep = 0;
    do {
        const std::string_view text = blocks.text();
        const std::size_t limit =
            blocks.at_end() ? text.size() : text.size() - std::min(carry, text.size());
        for (std::size_t at = matcher.Find(text.data(), text.size(), 0);
             at != std::string_view::npos && at < limit;
             at = matcher.Find(text.data(), text.size(), at + 1)) {
            taker.Take(blocks.offset() + at, matcher.MaxHitLength());
        }
        taker.Passed(text.substr(0, limit));
        keep = text.size() - limit;
    } while (!taker.left && blocks.Next(keep));
    return !blocks.failed();
}

// The hits of a pattern that stays within lines in the rest of `blocks`, a block of whole lines
// at a time, the pattern run only on the lines that hold its required text.
Status PatternHitsByLines(TextBlocks& blocks, const RegExp& pattern,
                          const PatternShortcut& shortcut, HitTaker& taker) {
    bool first = true;
    std::size_t keep = 0;
    while (!taker.left && (first || blocks.Next(keep))) {
        first = false;
        const std::size_t complete = CompleteLines(blocks);
        if (complete == 0 && blocks.text().size() > kLongestLine) {
            return PatternHitsInWindows(blocks, pattern, taker);  // from the long line on
        }
        const std::string_view text = blocks.text().substr(0, complete);
        if (Status status = ForEachLineHolding(
                text, shortcut.required,
                [&](std::size_t start, std::size_t end) {
                    return pattern.ForEachMatchInRange(
                        text, start, end, blocks.offset() == 0, [&](const RegexMatch& match) {
                            taker.Take(blocks.offset() + match.first_index, match.length);
                            return true;
                        });
                });
            !status.ok()) {
            return status;
        }
        taker.Passed(text);
        keep = blocks.text().size() - complete;
    }
    return blocks.failed() ? Status::Error(EIO, "the file cannot be read") : Status();
}

}  // namespace

std::int32_t SearchFileHitLines(int folder, const std::string& path, const PlainMatcher& matcher,
                                const RegExp* pattern, const PatternShortcut* shortcut, int context,
                                const DetailsSink& details, FileHits& hits, std::string* error,
                                bool walked_regular, const HitFlush& flush, bool spans,
                                bool skip_binary, const EncodingChoice& encoding) {
    hits = {};
    Fd opened;
    if (walked_regular && !details) {
        // As SearchFileText: no link followed and no details asked for.
        opened.Reset(
            OpenAt(folder, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
        if (opened.get() < 0) {
            return kNotSearched;
        }
    } else {
        FileReader file(folder, path);
        if (!file.ok()) {
            return kNotSearched;
        }
        Report(details, file.details());
        opened.Reset(file.release());
    }
    return SearchOpenHitLines(opened.get(), matcher, pattern, shortcut, context, hits, error, flush,
                              spans, skip_binary, encoding, false);
}

std::int32_t SearchOpenHitLines(int fd, const PlainMatcher& matcher, const RegExp* pattern,
                                const PatternShortcut* shortcut, int context, FileHits& hits,
                                std::string* error, const HitFlush& flush, bool spans,
                                bool skip_binary, const EncodingChoice& encoding, bool stream) {
    hits = {};
    TextBlocks blocks(fd, encoding);
    blocks.OnlyRead();
    if (pattern == nullptr) {
        blocks.SkipLegacyWithout(matcher);
    } else if (shortcut != nullptr) {
        blocks.SkipLegacyWithout(shortcut->required);
    }
    if (!blocks.Next(0)) {
        if (blocks.failed()) {
            return kNotSearched;  // a FIFO put there with nothing to read says EAGAIN
        }
        // Empty, or a FIFO or device put there since the walk: only a file counts.
        FileDetails now;
        return stream || (ReadOpenFileDetails(fd, now) && now.is_regular) ? 0 : kNotSearched;
    }
    const ByteOrderMark mark = blocks.mark();
    if (skip_binary && LeftOutAsBinary(mark, blocks.text())) {
        return kLeftOutBinary;
    }
    // A file whose first block holds a NUL byte and no text mark is binary: it is only counted.
    const bool binary =
        mark == ByteOrderMark::kNone && blocks.text().find('\0') != std::string_view::npos;
    HitLineBuilder builder(context, hits.lines, spans);
    // Lines of a decoded text are not where its bytes are, and a stream cannot be read again.
    hits.text_from = stream || blocks.decoded() ? -1 : (mark == ByteOrderMark::kUtf8 ? 3 : 0);
    HitTaker taker{binary ? nullptr : &builder, &hits, &flush};
    taker.blocks = &blocks;
    if (pattern == nullptr) {
        if (!PlainHitsInBlocks(blocks, matcher, taker)) {
            return kNotSearched;
        }
    } else if (shortcut != nullptr && shortcut->within_lines) {
        if (Status status = PatternHitsByLines(blocks, *pattern, *shortcut, taker); !status.ok()) {
            if (error != nullptr && !blocks.failed()) {
                *error = status.description();
            }
            return kNotSearched;
        }
    } else if (Status status = PatternHitsInWindows(blocks, *pattern, taker);
               !status.ok() && !taker.left) {
        if (error != nullptr && !blocks.failed()) {
            *error = status.description();
        }
        return kNotSearched;
    }
    if (taker.left) {
        return kHitsLeft;
    }
    if (blocks.decoded()) {
        hits.text_from = -1;
    }
    builder.Finish();
    hits.binary = binary && taker.count > 0;
    return Saturated(taker.count);
}

}  // namespace ferret
