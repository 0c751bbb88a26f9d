#pragma once

#include <fcntl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/hit_lines.h"
#include "engine/plain_matcher.h"
#include "util/legacy_text.h"
#include "util/status.h"
#include "util/text_encoding.h"

namespace ferret {

class FileRecord;
class RegExp;

// Hit counts are 32-bit: a file with more hits than that reports the largest count.
inline constexpr std::int32_t kMaxHitCount = 2147483647;
// The count of a file that could not be searched.
inline constexpr std::int32_t kNotSearched = -1;

// The count of a file left out as binary (LeftOutAsBinary) when binary files are skipped.
inline constexpr std::int32_t kLeftOutBinary = -3;

// Whether a file whose first block is `first` (its mark `mark`) is binary, as git and grep tell
// it: a NUL byte there, unless the file is UTF-16 with its mark.
bool LeftOutAsBinary(ByteOrderMark mark, std::string_view first);
// The same test on the regular file `name` in the open folder `folder`, opened without following
// a link; false when it cannot be read (the search then says why). `head`, when given, gets the
// file's first bytes (up to 8), so a caller need not read them again.
bool FileLooksBinary(int folder, const char* name, std::string* head = nullptr);

// The escape words a one-line text box uses for what it cannot hold: "^^CrLf" (a line break,
// carriage return and line feed), "^^Tab" and "^^Blank" (nothing), replaced in that order.
std::string ConvertSpecialChars(std::string_view text);

// `text` as a pattern that matches exactly that text: a backslash before every ASCII character
// that is not a letter, a digit, a blank or a control character.
std::string RegExEncodeString(std::string_view text);

// The one way a search text as typed becomes what the pattern engine gets, for a search, a
// replace and a preview alike: its escape words turned into what they stand for and, unless
// `regex`, quoted whole (RegExEncodeString), so that a plain text is never read as a pattern.
// `whole_word` puts it between word bounds (WholeWordPattern).
std::string SearchPattern(std::string_view typed, bool regex, bool whole_word = false);
// `pattern` matching only where a word starts and ends, as "\b" on both sides.
std::string WholeWordPattern(std::string_view pattern);

// Where a file's size and times go when the search reads them from the open file.
using DetailsSink = std::function<void(std::uint64_t size, const timespec& created)>;

// Counts the hits of `matcher` in the file at `path`, overlapping hits included, reading it in
// blocks so that memory stays the same for any file size. Returns kNotSearched when the file
// cannot be opened or read (or is no longer a regular file), and 0 when `stop` is set during
// the scan. `details`, when given, receives the size and creation time of the opened file.
//
// `walked_regular`: the walk found a regular file at `path` itself, not a link to one. Without
// `details` the file is then opened without following a link (one put there since is not
// searched) and its details are read only when it gives no bytes, to tell an empty file from
// something else put there since: a search of many small files saves a system call a file.
//
// `folder`: where `path` is looked up; AT_FDCWD for a full path (which may pass PATH_MAX),
// otherwise an open folder and a name in it, which spares the lookup of every folder above.
// `skip_binary`: a binary file (LeftOutAsBinary) is not searched and gives kLeftOutBinary.
// `encoding`: how a file without a byte-order mark is decoded (TextBlocks).
std::int32_t SearchFileText(int folder, const std::string& path, const PlainMatcher& matcher,
                            const std::atomic<bool>& stop, const DetailsSink& details = {},
                            bool walked_regular = false, bool skip_binary = false,
                            const EncodingChoice& encoding = kFoundEncodings);
inline std::int32_t SearchFileText(const std::string& path, const PlainMatcher& matcher,
                                   const std::atomic<bool>& stop, const DetailsSink& details = {},
                                   bool walked_regular = false) {
    return SearchFileText(AT_FDCWD, path, matcher, stop, details, walked_regular);
}

// Scans the rest of the open file `fd` in blocks: the number of hits (overlapping), or 1 as
// soon as one is found when `first_hit_only`; 0 when `stop` is set during the scan; -1 on a
// read error; kLeftOutBinary, with `skip_binary`, when the first block is binary.
// `bytes_read`, when given, receives how many bytes were read. A decoded text (a mark's, or
// `encoding`'s) is searched as UTF-8, as TextBlocks gives it.
std::int64_t ScanOpenFile(int fd, const PlainMatcher& matcher, const std::atomic<bool>* stop,
                          bool first_hit_only, std::uint64_t* bytes_read = nullptr,
                          bool skip_binary = false,
                          const EncodingChoice& encoding = kFoundEncodings);

// ScanOpenFile, all hits counted, on a descriptor read once from where it stands (a socket):
// nothing is read twice, nor at an offset.
std::int64_t ScanStream(int fd, const PlainMatcher& matcher, const std::atomic<bool>* stop,
                        bool skip_binary = false, const EncodingChoice& encoding = kFoundEncodings);

// Reads the rest of the open file `fd` (about `expected_size` bytes; more or fewer if it changed)
// into a buffer kept for the calling thread, so memory stays at the largest file read and no
// buffer is allocated per file. `text` stays valid until the thread's next call. False on a
// read error.
bool ReadWholeFile(int fd, std::uint64_t expected_size, std::string_view& text);

// What is known of a pattern that lets most of a text go unmatched.
struct PatternShortcut {
    PlainMatcher required;  // finds a text every match contains
    bool within_lines;      // no match spans a line feed: only lines holding `required` count
};

// Calls `line` with the start and the end (its line feed, or the text's end) of each line of
// `text` that holds `required`, in order; the first error it returns ends the walk.
Status ForEachLineHolding(std::string_view text, const PlainMatcher& required,
                          const std::function<Status(std::size_t start, std::size_t end)>& line);

// The shortcut for `pattern` (its required text and whether it stays within lines), or nullptr
// when none can be used safely.
std::unique_ptr<PatternShortcut> MakePatternShortcut(std::string_view pattern, bool ignore_case);

// Counts the non-overlapping matches of a compiled pattern in a file. With a `shortcut`, a file
// without the required text is not matched at all, and a pattern that stays within lines runs
// only on the lines that hold it, the file read a block of whole lines at a time (memory: a
// block and the longest line); other patterns see the whole file, read into memory. Returns
// kNotSearched when the file cannot be read or the pattern fails on its text; the reason then goes
// to `error` when given. `folder`, `skip_binary` and `encoding` as for SearchFileText.
std::int32_t SearchFilePattern(int folder, const std::string& path, const RegExp& pattern,
                               const PatternShortcut* shortcut = nullptr,
                               const DetailsSink& details = {}, std::string* error = nullptr,
                               bool skip_binary = false,
                               const EncodingChoice& encoding = kFoundEncodings);
inline std::int32_t SearchFilePattern(const std::string& path, const RegExp& pattern,
                                      const PatternShortcut* shortcut = nullptr,
                                      const DetailsSink& details = {},
                                      std::string* error = nullptr) {
    return SearchFilePattern(AT_FDCWD, path, pattern, shortcut, details, error);
}

// SearchFilePattern on the open file `fd`, read from where it stands; `rewindable` false: read
// once (a socket), without the quick scan for the required text first.
std::int32_t CountPatternInOpenFile(int fd, const RegExp& pattern, const PatternShortcut* shortcut,
                                    std::string* error, bool skip_binary,
                                    const EncodingChoice& encoding, bool rewindable);

// The same over a text in memory. With `starts_text` false, `text` is a run of whole lines cut
// from a longer text after its start (see RegExp::CountInRange).
Status CountPattern(std::string_view text, const RegExp& pattern, const PatternShortcut* shortcut,
                    std::int64_t& count, bool starts_text = true);

// Hands on the hit lines found so far of a file still being searched, which then go from
// `hits`; false ends the search (kHitsLeft).
using HitFlush = std::function<bool(FileHits& hits)>;
// A search whose HitFlush ended it.
inline constexpr std::int32_t kHitsLeft = -2;
// How many hit lines a search gathers before it hands them to its HitFlush.
inline constexpr std::size_t kHitLinesAtOnce = 4096;

// Searches the file as SearchFileText does, or as SearchFilePattern with `pattern` when given,
// and, when it has hits, lists where they are in `hits` with `context` lines around each (a
// pattern's hit at the line it starts in). Returns the count, or kNotSearched as those do;
// `walked_regular` as for SearchFileText. The file is read a block at a time (UTF-16 decoded as
// it is read); `flush`, when given, gets the lines every kHitLinesAtOnce. `skip_binary` and
// `encoding` as for SearchFileText.
std::int32_t SearchFileHitLines(int folder, const std::string& path, const PlainMatcher& matcher,
                                const RegExp* pattern, const PatternShortcut* shortcut, int context,
                                const DetailsSink& details, FileHits& hits,
                                std::string* error = nullptr, bool walked_regular = false,
                                const HitFlush& flush = {}, bool spans = false,
                                bool skip_binary = false,
                                const EncodingChoice& encoding = kFoundEncodings);
// The same on the open file `fd`, from where it stands; `stream`: read once (a socket), so an
// empty one is no loss and the lines' texts are kept (FileHits::text_from -1).
std::int32_t SearchOpenHitLines(int fd, const PlainMatcher& matcher, const RegExp* pattern,
                                const PatternShortcut* shortcut, int context, FileHits& hits,
                                std::string* error, const HitFlush& flush, bool spans,
                                bool skip_binary, const EncodingChoice& encoding, bool stream);

}  // namespace ferret
