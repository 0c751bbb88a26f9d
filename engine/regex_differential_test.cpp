// Holds Ferret's pattern search and replace against ECMAScript itself: Node's RegExp, driven by
// testsupport/ecma_reference.mjs, works out the hit count and the replaced bytes of every pattern
// on every file of a corpus, and Ferret must produce the same. The corpus mixes real text files
// with made ones that hold what engines tend to disagree on: CR, Unicode spaces, invalid UTF-8,
// byte-order marks.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/content_replace.h"
#include "engine/content_search.h"
#include "engine/plain_matcher.h"
#include "engine/regex.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"
#include "util/text_encoding.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

// The corpus holds texts that are not valid UTF-8 on purpose: they are matched as bytes, as the
// reference reads them.
const EncodingChoice kAsBytes = EncodingChoice::Exactly("");

FilePlace AsBytes(const std::string& path) {
    FilePlace place(path);
    place.encoding = &kAsBytes;
    return place;
}

namespace fs = std::filesystem;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// Real files are cut to this (at a line end), so the whole comparison stays quick.
constexpr std::size_t kRealFileCap = 16 * 1024;
// "$`" and "$'" copy the whole text per match; they run on small files only.
constexpr std::size_t kSmallFile = 1024;
constexpr int kGeneratedPatterns = 320;

// splitmix64: the same sequence on every machine, unlike the standard distributions.
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(Next() % n); }
    bool Percent(int p) { return static_cast<int>(Below(100)) < p; }
    template <typename T>
    const T& Pick(const std::vector<T>& items) {
        return items[Below(items.size())];
    }

  private:
    std::uint64_t state_;
};

std::string Utf8(std::initializer_list<char32_t> code_points) {
    std::string out;
    for (const char32_t c : code_points) {
        AppendUtf8(c, out);
    }
    return out;
}

std::string ReadBytes(const std::string& path, std::size_t limit = std::string::npos) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    char buffer[8192];
    while (in && bytes.size() < limit) {
        in.read(buffer, static_cast<std::streamsize>(
                            std::min<std::size_t>(sizeof buffer, limit - bytes.size())));
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return bytes;
}

std::string Sha256(std::string_view bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// Bytes as a reader can take them in: ASCII as it is, controls and invalid bytes as escapes,
// other characters as {U+XXXX}. `quoted` text goes between double quotes.
std::string Escaped(std::string_view bytes, bool quoted = true) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (byte >= 0x20 && byte < 0x7F) {
            if (quoted && (byte == '\\' || byte == '"')) {
                out += '\\';
            }
            out += static_cast<char>(byte);
            ++at;
            continue;
        }
        const char* named = byte == '\r'   ? "\\r"
                            : byte == '\n' ? "\\n"
                            : byte == '\t' ? "\\t"
                            : byte == '\f' ? "\\f"
                            : byte == '\v' ? "\\v"
                            : byte == 0    ? "\\0"
                                           : nullptr;
        if (named != nullptr) {
            out += named;
            ++at;
            continue;
        }
        std::size_t next = at;
        const char32_t c = DecodeUtf8(bytes, next);
        char hex[16];
        if (byte >= 0x80 && !(c >= 0xDC00 && c <= 0xDCFF && next == at + 1)) {
            std::snprintf(hex, sizeof hex, "{U+%04X}", static_cast<unsigned>(c));
            at = next;
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            ++at;
        }
        out += hex;
    }
    return out;
}

// A folder for the corpus and the copies Ferret rewrites. Every rewrite is flushed to disk
// (fdatasync), thousands of them here, so memory-backed /dev/shm is used where there is one.
std::unique_ptr<testing::TempDir> ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string saved = tmp != nullptr ? tmp : "";
    std::unique_ptr<testing::TempDir> folder;
    if (access("/dev/shm", W_OK) == 0) {
        setenv("TMPDIR", "/dev/shm", 1);
        try {
            folder = std::make_unique<testing::TempDir>();
        } catch (const std::runtime_error&) {
        }
    }
    tmp != nullptr ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
    return folder != nullptr ? std::move(folder) : std::make_unique<testing::TempDir>();
}

// ---- The corpus ------------------------------------------------------------------------------

struct CorpusFile {
    std::string name;
    std::string bytes;
};

std::string Utf16File(const std::string& utf8, bool big_endian) {
    std::string units;
    EXPECT_TRUE(EncodeUtf16(utf8, big_endian, units));
    return (big_endian ? std::string("\xFE\xFF") : std::string("\xFF\xFE")) + units;
}

std::vector<CorpusFile> MadeFiles() {
    std::string spaces = "a" + Utf8({0xA0}) + "b c" + Utf8({0x3000}) + "d" + Utf8({0xFEFF}) + "e" +
                         Utf8({0x2028}) + "f" + Utf8({0x2029}) + "g" + Utf8({0x1680}) + "h\n";
    for (char32_t c = 0x2000; c <= 0x200A; ++c) {
        spaces += "w" + Utf8({c}) + "x ";
    }
    spaces +=
        "\n" + Utf8({0x202F}) + "y" + Utf8({0x205F}) + "z\tt\vv\ff\x1C x=" + Utf8({0x85}) + ";\n";
    spaces += "astral " + Utf8({0x1F600}) + " x" + Utf8({0x1D4B3}) + "y " + Utf8({0x10348}) + "=" +
              Utf8({0x1F600, 0x1F64F}) + " end\n";
    const std::string folding =
        "\xC3\xA9 \xC3\x89 \xC3\xA9\x63ole \xC3\x89\x43OLE Stra\xC3\x9F\x65 STRASSE " +
        Utf8({0x1E9E}) + " kelvin " + Utf8({0x212A}) + "elvin K " + Utf8({0x3C3, 0x3C2}) + " " +
        Utf8({0x3A3}) + " " + Utf8({0x130}) + " " + Utf8({0x131}) + " i I " + Utf8({0x17F}) +
        " s S \xC3\xA0\xC3\xBF \xC3\x80\n";
    const std::string mixed_text = "x=old\r\ny=\xC3\xA9\xE3\x80\x80z\r\n" + Utf8({0x1F600}) +
                                   " a\xC2\xA0"
                                   "b\tc\r\n(a)b[ab] 12 -- old\r\n";
    std::string crlf_long;
    for (int i = 0; i < 40; ++i) {
        crlf_long += "key" + std::to_string(i) + " = old value " + std::to_string(i * 7) +
                     (i % 5 == 4 ? "\n" : "\r\n");
    }
    std::string long_line;
    for (int i = 0; i < 60; ++i) {
        long_line += "word" + std::to_string(i) + (i % 7 == 0 ? "; " : " ");
    }
    std::string latin1;
    latin1 += "caf\xE9 na\xEFve r\xE9sum\xE9; x=\xFF\xFE y\r\nGr\xFC\xDF\x65 \xA0nbsp\xA0 ";
    latin1 += "\xE9t\xE9=old; \xC0 la carte\n";
    std::string utf16_damaged;
    EXPECT_TRUE(EncodeUtf16("x=old b", false, utf16_damaged));
    utf16_damaged = "\xFF\xFE" + utf16_damaged.substr(0, 6) + "\0\xD8"s + utf16_damaged.substr(6);

    return {
        {"crlf.txt", "a=old\r\nb=old\r\n"},
        {"crlf_long.txt", crlf_long},
        {"lone_cr.txt", "\r"},
        {"cr_lines.txt", "one\rtwo=old\rthree x\r"},
        {"latin1_x.txt",
         "a\xFF"
         "bx"},
        {"latin1_semicolons.txt", ";\xDF;"},
        {"latin1_text.txt", latin1},
        {"invalid_forms.txt",
         "ok\xC3(\xE2\x82 \xED\xA0\x80 x\xF4\x90\x80\x80y \xC0\xAF end\xF0"
         "\x9F\x98"},
        {"two_invalid.txt", "\xFF\xFF"},
        {"nul.txt", "a\0b\0\0x=old\0\n\0"s},
        {"empty.txt", ""},
        {"ab.txt", "ab"},
        {"words.txt",
         "abc123 def_456 -- a-b ab ba aab (a) [b] x=1;y=2; ## aa bb abab\n"
         "abcdefghijk abcdefghij cat dog bird\ttab\n"},
        {"long_line.txt", long_line},
        {"spaces.txt", spaces},
        {"folding.txt", folding},
        {"utf8_bom.txt", "\xEF\xBB\xBF" + mixed_text},
        {"utf8_bom_invalid.txt",
         "\xEF\xBB\xBF"
         "ab\xFF"
         "cd=x\r\n"},
        {"utf16le.txt", Utf16File(mixed_text + spaces, false)},
        {"utf16be.txt", Utf16File(mixed_text, true)},
        {"utf16le_damaged.txt", utf16_damaged},
        {"utf16be_odd.txt", Utf16File("odd=old", true) + "x"},
        {"utf32le_mark.txt", "\xFF\xFE\0\0a\0\0\0=\0\0\0"s},
    };
}

// Regular files below `folder` (not following links), up to `limit`, in name order.
std::vector<std::string> FilesBelow(const std::string& folder, bool recursive, std::size_t limit,
                                    const std::function<bool(const fs::path&)>& wanted) {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                             error);
         !error && it != fs::recursive_directory_iterator() && found.size() < limit;
         it.increment(error)) {
        if (!recursive) {
            it.disable_recursion_pending();
        }
        std::error_code status_error;
        if (it->is_regular_file(status_error) && !it->is_symlink(status_error) &&
            wanted(it->path())) {
            found.push_back(it->path().string());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::size_t LongestLine(std::string_view text) {
    std::size_t longest = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end;
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    return longest;
}

// `count` of `paths`, chosen by `rng`, each read up to the cap (cut after a line end).
void AddSample(std::vector<std::string> paths, std::size_t count, const std::string& prefix,
               Rng& rng, std::vector<CorpusFile>& corpus) {
    std::size_t taken = 0;
    for (std::size_t i = 0; i < paths.size() && taken < count; ++i) {
        std::swap(paths[i], paths[i + rng.Below(paths.size() - i)]);
        std::string bytes = ReadBytes(paths[i], kRealFileCap + 1);
        // Text files only (made files cover NUL), without the long lines on which backtracking
        // patterns get slow.
        if (bytes.empty() || bytes.find('\0') != std::string::npos || LongestLine(bytes) > 1024) {
            continue;
        }
        if (bytes.size() > kRealFileCap) {
            bytes.resize(kRealFileCap);
            const std::size_t line_end = bytes.rfind('\n');
            if (line_end != std::string::npos) {
                bytes.resize(line_end + 1);
            }
        }
        std::string name = paths[i];
        std::replace(name.begin(), name.end(), '/', '_');
        corpus.push_back({prefix + name, std::move(bytes)});
        ++taken;
    }
}

// Licences, headers and documentation of the machine (whatever of them it has), chosen the same
// way on every run, and the made files.
std::vector<CorpusFile> BuildCorpus() {
    Rng rng(0xFE77E7);
    std::vector<CorpusFile> corpus = MadeFiles();
    std::vector<std::string> licences;
    std::error_code error;
    for (fs::directory_iterator it("/usr/share/doc", error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string copyright = it->path().string() + "/copyright";
        struct stat info {};
        if (stat(copyright.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            licences.push_back(copyright);
        }
    }
    std::sort(licences.begin(), licences.end());
    AddSample(licences, 10, "licence", rng, corpus);
    AddSample(FilesBelow("/usr/include", false, 5000,
                         [](const fs::path& path) { return path.extension() == ".h"; }),
              8, "header", rng, corpus);
    AddSample(FilesBelow("/usr/share/doc", true, 20000,
                         [](const fs::path& path) {
                             static const std::set<std::string> kSkipped = {
                                 ".gz",  ".bz2", ".xz",  ".zst", ".png",  ".jpg",
                                 ".gif", ".svg", ".pdf", ".ico", ".woff", ".ttf"};
                             return path.filename() != "copyright" &&
                                    kSkipped.count(path.extension().string()) == 0;
                         }),
              8, "doc", rng, corpus);
    return corpus;
}

// ---- The patterns ----------------------------------------------------------------------------

struct Case {
    std::string pattern;
    bool ignore_case = false;
    std::string replacement;
};

bool WholeTextTemplate(const std::string& replacement) {
    return replacement.find("$`") != std::string::npos ||
           replacement.find("$'") != std::string::npos;
}

// Where Ferret is documented to differ from ECMAScript (docs/help/searching.html), no case is
// written and none is generated: look-behinds of varying length, \u{...}, a repeated group whose
// body can match the empty text (ECMAScript refuses an empty repetition past the minimum,
// PCRE2 ends the repetition there), and \w and \b with ignored case on the long s and the
// Kelvin sign (see SameWordCharacters).
std::vector<Case> HandWrittenCases() {
    const std::string nbsp = Utf8({0xA0});
    return {
        // Line ends and "."
        {".", false, "_"},
        {".*", false, "<$&>"},
        {".+", false, "<$&>"},
        {"=.*", false, "=new"},
        {".*x", false, "[$&]"},
        {".*?;", false, "[$&]"},
        {".$", false, "<$&>"},
        {"\\r\\n", false, "\n"},
        {"\\r", false, ""},
        {"[\\r\\n]+", false, "|"},
        {"\\n", false, "\r\n"},
        {"[^\\n]+", false, "<$&>"},
        // White space, digits, words
        {"\\s", false, "_"},
        {"\\s+", false, " "},
        {"\\S+", false, "<$&>"},
        {"[\\s]", false, "_"},
        {"[^\\s]", false, "_"},
        {"[\\S]", false, "_"},
        {"[^\\S]x", false, "[$&]"},
        {"[^\\S\\n]+", false, "_"},
        {"[\\s\\S]", false, "_"},
        {"\\t|\\v|\\f", false, "_"},
        {"[\\t\\v\\f]+", false, "_"},
        {"\\u00a0", false, "_"},
        {"\\u3000|\\ufeff", false, "_"},
        {"\\u2028|\\u2029", false, "_"},
        {"[\\u2000-\\u200a\\u202f\\u205f\\u1680]", false, "_"},
        {"\\d", false, "#"},
        {"\\d+", false, "<$&>"},
        {"\\D+", false, "_"},
        {"\\w+", false, "<$&>"},
        {"\\w+", true, "<$&>"},
        {"\\W", false, "_"},
        {"\\b\\w", false, "^"},
        {"\\w\\b", false, "$&|"},
        {"\\b", false, "|"},
        {"\\B", false, "|"},
        {"\\bs", true, "S"},
        // Anchors
        {"^x", false, "y"},
        {"^.", false, "<$&>"},
        {"^", false, ">"},
        {"x$", false, "y"},
        {"\\s$", false, "<$&>"},
        {"$", false, "<"},
        // Empty and full classes, empty matches
        {"[^]", false, "_"},
        {"[^]*", false, "<$&>"},
        {"[]", false, "_"},
        {"a[]|b", false, "_"},
        {"x*", false, "-"},
        {"|a", false, "-"},
        {"(?:)", false, "."},
        // Groups
        {"(a)|b", false, "[$1]"},
        {"(?:(a)|b)+", false, "[$1]"},
        {"(?:(\\w)|-)+", false, "[$1]"},
        {"((a)|(b))+", false, "[$1|$2|$3]"},
        {"(?:(a)|(b)|c)*", false, "<$1$2>"},
        {"((\\w)\\w)*", false, "<$1,$2>"},
        {"(?:(a)|(ab))(?:(c)|bc)", false, "[$1,$2,$3]"},
        {"(a|ab)(c|bcd)(d*)", false, "[$1,$2,$3]"},
        {"(\\w+?)(\\w*)", false, "$2$1"},
        {"(\\w)(\\w)?", false, "$2$1"},
        // Quantifiers
        {"\\w{2,3}", false, "<$&>"},
        {"\\w{2,3}?", false, "<$&>"},
        {"\\d{1,2}", false, "#"},
        {"a{2}", false, "A"},
        {"\\w{3,}", false, "<$&>"},
        {"=\\s*\\w*", false, "= v"},
        {"o+?l", false, "<$&>"},
        {"\\w*?d", false, "<$&>"},
        // Look-around
        {"(?=\\w)\\w{3}", false, "<$&>"},
        {"(?<=\\s)\\w+", false, "<$&>"},
        {"(?<!\\w)\\d", false, "#"},
        {"\\w+(?!\\w)", false, "<$&>"},
        {"(?<=(\\w))\\s", false, "[$1]"},
        {"(?<![\\s=])=", false, ":"},
        {"(?<=(o)|(x))l", false, "[$1$2]"},
        // Named groups and back-references
        {"(?<w>\\w+)\\s(?<d>\\d+)", false, "$<d> $<w>"},
        {"(?<w>\\w)", false, "$<w>$<nope>|$<w"},
        {"b", false, "$<x>"},
        {"(\\w)\\1", false, "<$1>"},
        {"(\\w)(\\w)\\2\\1", false, "<$&>"},
        {"\\1(a)", false, "[$1]"},
        {"(?:(a)|b)\\1", false, "[$&]"},
        {"(?<c>[a-z])\\k<c>", false, "<$<c>>"},
        {"(\\w)\\1", true, "<$1>"},
        // Escapes
        {"\\x41", false, "_"},
        {"\\x41", true, "_"},
        {"\\0", false, "NUL"},
        {"\\cJ", false, "LF"},
        {"[\\b]", false, "BS"},
        {"\\$|\\.|\\(", false, "!"},
        {"[" + nbsp + "]", false, "_"},
        {"\\p{L}+", false, "L"},
        {"\\p{Lu}", false, "U"},
        {"\\P{L}", false, "_"},
        {"\\p{Script=Greek}", false, "G"},
        // Alternation
        {"cat|dog|old", false, "new"},
        {"a|ab|abc", false, "<$&>"},
        {"(a|ab)+?c", false, "<$&>"},
        // Ignoring case
        {"old", true, "new"},
        {"OLD", true, "new"},
        {"\xC3\xA9", true, "e"},
        {"\xC3\x89", true, "e"},
        {"[\xC3\xA9]", true, "e"},
        {"\xC3\xA9\x63ole", true, "school"},
        {"[\xC3\xA0-\xC3\xBF]+", true, "_"},
        {"\xC3\x9F", true, "ss"},
        {"\\u212a", true, "K"},
        {"kelvin", true, "K"},
        {"\xCF\x83", true, "s"},
        {"i", true, "I"},
        {"\xC5\xBF", true, "s"},
        {"[a-z]+", true, "<$&>"},
        {"[^a-z]", true, "_"},
        // The replacement's "$" forms
        {"old", false, "$$"},
        {"old", false, "$&$&"},
        {"old", false, "[$`]"},
        {"old", false, "[$']"},
        {"=", false, "$"},
        {"=", false, "$$$"},
        {"=", false, "$0$00"},
        {"(o)(l)(d)", false, "$10"},
        {"(o)(l)(d)", false, "$3$2$1$0$00$01$4$"},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)?", false, "$11|$10|$1|$12|$011|$100"},
        {"(a)?b", false, "[$1]"},
        {"\\w", false, "$`"},
        {"\\w", false, "$'"},
        {"x*", false, "<$`|$'>"},
    };
}

// The space-separated words of `text`.
std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// Random patterns from atoms. Whatever could take more than linear time on a long text is kept
// bounded: characters that cross lines repeat at most a few times, and a repeated group holds
// nothing repeated.
class PatternGenerator {
  public:
    PatternGenerator(std::uint64_t seed, std::vector<std::string> literals)
        : rng_(seed), literals_(std::move(literals)) {}

    Case Next() {
        groups_ = 0;
        names_ = 0;
        unbounded_ = 0;
        Case result;
        result.pattern = Alternatives(0);
        result.ignore_case = rng_.Percent(25);
        result.replacement = rng_.Pick(kTemplates);
        return result;
    }

  private:
    static inline const std::vector<std::string> kTemplates = {
        "",      "_",    "[$&]", "<$1>",     "[$1|$2]", "$2$1", "$$", "$&$&", "$10", "$01", "$0",
        "$<g1>", "$<x>", "$",    "\xC3\xA9", "\r\n",    "$`",   "$'", "<$&>", "\\n", "$1$", "-$2-"};
    // Characters that stay within a line (or nearly: "." takes CR in some engines).
    static inline const std::vector<std::string> kNarrow = Words(
        ". \\d \\w [a-z] [A-Z0-9] [\\w.-] [;:,] [=#] [\\d=] \\x41 \\u00e9 [éÉ] \\t \\r \\. [_-] "
        "\xF0\x9F\x98\x80 [\xF0\x9F\x98\x80-\xF0\x9F\x99\x8F]");
    // Characters that match line ends as well.
    static inline const std::vector<std::string> kWide = Words(
        "\\s \\S \\D \\W [^] [^a-z] [\\s=] [^\\s;] [\\s\\S] [^\\S\\n] [^\\d\\w] \\n \\u00a0 "
        "\\u3000 [\\u2000-\\u200a] \\u2028 [\\ufeff\\u3000\\u00a0] [\\s\\d]");

    std::string Alternatives(int depth) {
        std::string out = Sequence(depth);
        while (rng_.Percent(depth == 0 ? 20 : 30)) {
            out += "|" + Sequence(depth);
        }
        return out;
    }

    std::string Sequence(int depth) {
        std::string out;
        const std::size_t items = 1 + rng_.Below(depth == 0 ? 4 : 3);
        for (std::size_t i = 0; i < items; ++i) {
            out += Item(depth);
        }
        return out;
    }

    std::string Item(int depth) {
        const std::size_t kind = rng_.Below(100);
        if (kind < 30) {
            return Literal();
        }
        if (kind < 50) {
            const std::string& atom = rng_.Pick(kNarrow);
            if (atom == ".") {
                // Two of ".*" make a long line cubic: one is all a pattern gets.
                const std::string repeat = Quantifier(unbounded_ == 0, false);
                if (repeat == "*" || repeat == "+" || repeat == "*?" || repeat == "+?" ||
                    repeat == "{2,}") {
                    unbounded_ = 2;
                }
                return atom + repeat;
            }
            return atom + Quantifier(true, false);
        }
        if (kind < 62) {
            return rng_.Pick(kWide) + Quantifier(false, false);
        }
        if (kind < 70) {
            static const std::vector<std::string> kAnchors = {"^", "$", "\\b", "\\B"};
            return rng_.Pick(kAnchors);
        }
        if (kind < 74 && groups_ > 0 && !in_lookbehind_) {
            return "\\" + std::to_string(1 + rng_.Below(static_cast<std::size_t>(groups_)));
        }
        if (kind < 76 && names_ > 0 && !in_lookbehind_) {
            return "\\k<g" + std::to_string(1 + rng_.Below(static_cast<std::size_t>(names_))) + ">";
        }
        if (depth >= 2 || in_lookbehind_) {
            return Literal();
        }
        const std::size_t group = rng_.Below(100);
        std::string open;
        bool quantifiable = true;
        if (group < 40) {
            open = "(";
            ++groups_;
        } else if (group < 65) {
            open = "(?:";
        } else if (group < 75) {
            open = "(?<g" + std::to_string(++names_) + ">";
            ++groups_;
        } else if (group < 87) {
            open = rng_.Percent(50) ? "(?=" : "(?!";
            quantifiable = false;
        } else {
            // Look-behinds hold fixed-length text: PCRE2 takes no other, which the written cases
            // show once.
            open = rng_.Percent(50) ? "(?<=" : "(?<!";
            in_lookbehind_ = true;
            std::string inside = Alternatives(depth + 1);
            in_lookbehind_ = false;
            return open + inside + ")";
        }
        const int unbounded_before = unbounded_;
        const std::string inside = Alternatives(depth + 1);
        const bool simple =
            unbounded_ == unbounded_before && inside.find_first_of("*+{?") == std::string::npos;
        return open + inside + ")" +
               (quantifiable && !MayMatchEmpty(inside) ? Quantifier(simple, true) : "");
    }

    // Cautious: anything that may take no character somewhere counts.
    static bool MayMatchEmpty(const std::string& inside) {
        for (const char* empty : {"^", "$", "\\b", "\\B", "\\k<", "(?=", "(?!", "(?<"}) {
            if (inside.find(empty) != std::string::npos) {
                return true;
            }
        }
        for (std::size_t i = 0; i + 1 < inside.size(); ++i) {
            if (inside[i] == '\\' && inside[i + 1] >= '1' && inside[i + 1] <= '9') {
                return true;
            }
        }
        RegExp regex;
        std::int64_t count = 0;
        return !regex.Compile("(?:" + inside + ")", false).ok() || !regex.Count("", count).ok() ||
               count > 0;
    }

    // A repeat, or none. `free` allows the unbounded ones, at most two a pattern.
    std::string Quantifier(bool free, bool group) {
        if (in_lookbehind_ || !rng_.Percent(group ? 40 : 50)) {
            return "";
        }
        static const std::vector<std::string> kBounded = {"?",     "{2}", "{1,3}",
                                                          "{0,2}", "??",  "{1,2}?"};
        static const std::vector<std::string> kUnbounded = {"*", "+", "*?", "+?", "{2,}"};
        if (free && unbounded_ < 2 && rng_.Percent(60)) {
            ++unbounded_;
            return rng_.Pick(kUnbounded);
        }
        return rng_.Pick(kBounded);
    }

    std::string Literal() {
        std::string out;
        for (const char c : rng_.Pick(literals_)) {
            if (std::string_view("^$\\.*+?()[]{}|/").find(c) != std::string_view::npos) {
                out += '\\';
            }
            out += c;
        }
        return out;
    }

    Rng rng_;
    std::vector<std::string> literals_;
    int groups_ = 0;
    int names_ = 0;
    int unbounded_ = 0;
    bool in_lookbehind_ = false;
};

// Words and single characters of the corpus, for patterns that find something.
std::vector<std::string> CorpusLiterals(const std::vector<CorpusFile>& corpus) {
    std::set<std::string> words;
    for (const CorpusFile& file : corpus) {
        std::string word;
        for (const char c : file.bytes) {
            const bool word_char = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                   (c >= '0' && c <= '9') || c == '_';
            if (word_char && word.size() < 12) {
                word += c;
                continue;
            }
            if (word.size() >= 2 && word.size() <= 8) {
                words.insert(word);
            }
            word.clear();
        }
    }
    std::vector<std::string> literals(words.begin(), words.end());
    Rng rng(0x11732A15);
    std::vector<std::string> chosen;
    for (int i = 0; i < 120 && !literals.empty(); ++i) {
        chosen.push_back(rng.Pick(literals));
    }
    for (const char* extra :
         {"=", ";", "a", "b", "x",        "o",        "old",      " ",        "-",  ",",
          ":", "#", "(", ".", "\xC3\xA9", "\xC3\x89", "\xC3\x9F", "\xC2\xA0", "a=", "= "}) {
        chosen.push_back(extra);
    }
    return chosen;
}

// ---- Ferret's side ---------------------------------------------------------------------------

QJsonObject JsonCase(const Case& item, const std::vector<std::size_t>& files) {
    QJsonObject object{{"pattern", QString::fromStdString(item.pattern)},
                       {"ignoreCase", item.ignore_case},
                       {"replacement", QString::fromStdString(item.replacement)}};
    QJsonArray indices;
    for (const std::size_t file : files) {
        indices.append(static_cast<qint64>(file));
    }
    object["files"] = indices;
    return object;
}

// ---- Disagreements -----------------------------------------------------------------------------

enum Kind { kCount, kReplacements, kBytes, kRejected, kKinds };
constexpr const char* kKindNames[kKinds] = {"hit count (search)", "replacements made (replace)",
                                            "file bytes after the replace",
                                            "pattern valid in ECMAScript but rejected by Ferret"};

struct Disagreement {
    std::size_t case_index;
    std::size_t file_index;
    std::string expected;
    std::string actual;
};

std::string CaseText(const Case& item) {
    return "/" + Escaped(item.pattern, false) + "/" + (item.ignore_case ? "giu" : "gu") + " -> \"" +
           Escaped(item.replacement) + "\"";
}

// False when the pattern's \w, \W, \b or \B meet the long s (U+017F) or the Kelvin sign (U+212A)
// with case ignored: ECMAScript's Unicode mode counts them as word characters there, as they
// fold to "s" and "k"; Ferret's word characters stay ASCII, as is documented.
bool SameWordCharacters(const Case& item, std::string_view text) {
    if (!item.ignore_case) {
        return true;
    }
    // In UTF-8 and in UTF-16 of either order.
    bool holds = false;
    for (const std::string_view form :
         {"\xC5\xBF", "\xE2\x84\xAA", "\x7F\x01", "\x01\x7F", "\x2A\x21", "\x21\x2A"}) {
        holds = holds || text.find(form) != std::string_view::npos;
    }
    if (!holds) {
        return true;
    }
    for (std::size_t i = 0; i + 1 < item.pattern.size(); ++i) {
        if (item.pattern[i] == '\\') {
            if (std::string_view("wWbB").find(item.pattern[i + 1]) != std::string_view::npos) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

TEST(RegexDifferential, SearchAndReplaceMatchEcmaScript) {
    const std::string node = testing::FindProgram("node");
    ASSERT_FALSE(node.empty()) << "Node.js (\"node\", Debian package nodejs) is needed on PATH: "
                                  "it is the ECMAScript reference this test compares with";
    const std::string script = std::string(FERRET_SOURCE_DIR) + "/testsupport/ecma_reference.mjs";
    const auto started = Clock::now();

    const std::unique_ptr<testing::TempDir> scratch_folder = ScratchFolder();
    const testing::TempDir& scratch = *scratch_folder;
    const std::vector<CorpusFile> corpus = BuildCorpus();
    std::vector<std::string> originals;
    std::vector<std::string> copies;
    for (const CorpusFile& file : corpus) {
        originals.push_back(scratch.Path("corpus/" + file.name));
        copies.push_back(scratch.Path("work/" + file.name));
        scratch.WriteFile("corpus/" + file.name, file.bytes);
        scratch.WriteFile("work/" + file.name, file.bytes);
    }

    std::vector<Case> cases = HandWrittenCases();
    const std::size_t hand_written = cases.size();
    PatternGenerator generator(0x5EED0F, CorpusLiterals(corpus));
    for (int i = 0; i < kGeneratedPatterns; ++i) {
        cases.push_back(generator.Next());
    }

    std::vector<std::size_t> all_files;
    std::vector<std::size_t> small_files;
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        all_files.push_back(i);
        if (corpus[i].bytes.size() <= kSmallFile) {
            small_files.push_back(i);
        }
    }
    QJsonArray json_files;
    for (const std::string& path : originals) {
        json_files.append(QString::fromStdString(path));
    }
    QJsonArray json_cases;
    for (const Case& item : cases) {
        json_cases.append(
            JsonCase(item, WholeTextTemplate(item.replacement) ? small_files : all_files));
    }
    QJsonObject manifest{{"files", json_files}, {"cases", json_cases}};
    const std::string manifest_path = scratch.Path("manifest.json");
    const std::string result_path = scratch.Path("reference.json");
    scratch.WriteFile("manifest.json",
                      QJsonDocument(manifest).toJson(QJsonDocument::Compact).toStdString());

    const testing::ProgramResult reference =
        testing::RunProgram(node, {script, manifest_path, result_path});
    ASSERT_EQ(reference.exit_code, 0) << "the ECMAScript reference failed:\n" << reference.err;
    QJsonParseError parse_error;
    const QJsonDocument result =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReadBytes(result_path)), &parse_error);
    ASSERT_FALSE(result.isNull()) << parse_error.errorString().toStdString();
    const QJsonArray expected_cases = result.object()["cases"].toArray();
    ASSERT_EQ(static_cast<std::size_t>(expected_cases.size()), cases.size());
    const auto referenced = Clock::now();

    std::vector<Disagreement> found[kKinds];
    std::size_t compared = 0;
    std::size_t skipped = 0;
    std::size_t node_rejected = 0;
    std::size_t valid_cases = 0;
    std::vector<bool> copy_changed(corpus.size(), false);
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const Case& item = cases[c];
        const QJsonObject expected_case = expected_cases[static_cast<qsizetype>(c)].toObject();
        if (!expected_case["valid"].toBool()) {
            ++node_rejected;
            continue;
        }
        ++valid_cases;
        RegExp regex;
        if (const Status status = regex.Compile(item.pattern, item.ignore_case); !status.ok()) {
            found[kRejected].push_back({c, 0, "", status.description()});
            continue;
        }
        const std::unique_ptr<PatternShortcut> shortcut =
            MakePatternShortcut(item.pattern, item.ignore_case);
        for (const QJsonValue& value : expected_case["results"].toArray()) {
            const QJsonObject expected = value.toObject();
            const auto f = static_cast<std::size_t>(expected["file"].toInteger());
            if (expected["skip"].toBool()) {
                ++skipped;
                continue;
            }
            if (!SameWordCharacters(item, corpus[f].bytes)) {
                ++skipped;
                continue;
            }
            ++compared;
            const std::int64_t expected_count = expected["count"].toInteger();
            const std::int64_t expected_replacements = expected["replacements"].toInteger();
            const std::int32_t count = SearchFilePattern(
                AT_FDCWD, originals[f], regex, shortcut.get(), {}, nullptr, false, kAsBytes);
            if (count != expected_count) {
                found[kCount].push_back(
                    {c, f, std::to_string(expected_count), std::to_string(count)});
            }
            if (copy_changed[f]) {
                scratch.WriteFile("work/" + corpus[f].name, corpus[f].bytes);
                copy_changed[f] = false;
            }
            const RewriteResult rewrite =
                ReplaceFilePattern(AsBytes(copies[f]), regex, item.replacement, shortcut.get(), {});
            const std::string after = ReadBytes(copies[f]);
            copy_changed[f] = after != corpus[f].bytes;
            if (rewrite.count != expected_replacements) {
                found[kReplacements].push_back(
                    {c, f, std::to_string(expected_replacements),
                     std::to_string(rewrite.count) +
                         (rewrite.error.empty() ? "" : " (" + rewrite.error + ")")});
            }
            if (const std::string sha = Sha256(after);
                sha != expected["sha256"].toString().toStdString()) {
                found[kBytes].push_back(
                    {c, f, "SHA-256 " + expected["sha256"].toString().toStdString(),
                     "SHA-256 " + sha + " (" + std::to_string(after.size()) + " bytes)"});
            }
        }
    }
    const auto ferret_done = Clock::now();
    // A corpus or reference that came out empty would compare nothing and pass.
    ASSERT_FALSE(corpus.empty());
    EXPECT_GE(compared * 2, valid_cases * corpus.size()) << "most pairs were skipped";

    // One line per pattern and kind, with its first file; the other files are only counted.
    std::map<std::size_t, std::vector<Disagreement*>> by_case[kKinds];
    for (int kind = 0; kind < kKinds; ++kind) {
        for (Disagreement& d : found[kind]) {
            by_case[kind][d.case_index].push_back(&d);
        }
    }
    const auto seconds = [](Clock::duration d) {
        std::ostringstream text;
        text << std::fixed << std::setprecision(2) << std::chrono::duration<double>(d).count();
        return text.str();
    };
    std::cout << "[ differential ] " << valid_cases << " patterns (" << hand_written << " written, "
              << kGeneratedPatterns << " generated, " << node_rejected << " rejected by Node) x "
              << corpus.size() << " files: " << compared << " pairs compared, " << skipped
              << " skipped (\"^\" or \"$\" on a text with invalid UTF-8, ASCII word characters "
                 "with ignored case on the long s or the Kelvin sign); reference "
              << seconds(referenced - started) << " s, Ferret " << seconds(ferret_done - referenced)
              << " s, total " << seconds(Clock::now() - started) << " s\n";

    std::ostringstream report;
    std::size_t total = 0;
    for (int kind = 0; kind < kKinds; ++kind) {
        if (found[kind].empty()) {
            continue;
        }
        total += found[kind].size();
        report << "\n== " << kKindNames[kind] << ": " << found[kind].size() << " pair(s), "
               << by_case[kind].size() << " pattern(s)\n";
        for (const auto& [case_index, items] : by_case[kind]) {
            const Disagreement& first = *items.front();
            report << "  " << CaseText(cases[case_index]);
            if (kind == kRejected) {
                report << "\n      " << first.actual << "\n";
                continue;
            }
            const CorpusFile& file = corpus[first.file_index];
            report << "\n      in " << file.name;
            if (file.bytes.size() <= 64) {
                report << " \"" << Escaped(file.bytes) << "\"";
            }
            if (items.size() > 1) {
                report << " and " << items.size() - 1 << " other file(s)";
            }
            report << ": expected " << first.expected << ", got " << first.actual << "\n";
        }
    }
    EXPECT_EQ(total, 0u) << "Ferret disagrees with ECMAScript:" << report.str();
}

}  // namespace
}  // namespace ferret
