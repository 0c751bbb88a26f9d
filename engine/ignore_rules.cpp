#include "engine/ignore_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "util/file_handle.h"

namespace ferret {
namespace {

// Ignore and config files are read up to this size; the rest of a larger file is left out (from
// the last whole line on), so a runaway file cannot take the walk's memory.
constexpr std::size_t kMaxRulesBytes = 8 << 20;

// ---- Characters: ASCII only, as git compares them ------------------------------------------

bool IsUpper(unsigned char c) {
    return c >= 'A' && c <= 'Z';
}
bool IsLower(unsigned char c) {
    return c >= 'a' && c <= 'z';
}
bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool IsAlpha(unsigned char c) {
    return IsUpper(c) || IsLower(c);
}
bool IsAlnum(unsigned char c) {
    return IsAlpha(c) || IsDigit(c);
}
// Git's own idea of white space: no vertical tab, no form feed.
bool IsSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool IsPrint(unsigned char c) {
    return c >= 0x20 && c <= 0x7e;
}
unsigned char Lower(unsigned char c) {
    return IsUpper(c) ? c + ('a' - 'A') : c;
}
unsigned char Upper(unsigned char c) {
    return IsLower(c) ? c - ('a' - 'A') : c;
}

std::string LowerText(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(Lower(static_cast<unsigned char>(c)));
    }
    return lower;
}

// Whether `text` equals `pattern`; with `fold`, `pattern` is already in lower case.
bool SameText(std::string_view text, std::string_view pattern, bool fold) {
    if (!fold) {
        return text == pattern;
    }
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (Lower(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(pattern[i])) {
            return false;
        }
    }
    return true;
}

// ---- Wildcards ----------------------------------------------------------------------------
// Git's wildmatch with its path rules: "*" and "?" stop at "/", "**" between slashes crosses
// them. Paths never hold a "/" where a pattern looks at the last part only, so one matcher does.

// kAbort: the text ran out with pattern left, or the pattern is malformed. No longer stretch of
// an enclosing "*" can then help, which keeps the backtracking from going exponential.
enum class Glob { kMatch, kNoMatch, kAbort };
enum class ClassResult { kHit, kMiss, kMalformed };

// Whether `c` is in the POSIX class `name` ("alpha" of "[:alpha:]"); nothing when git knows no
// such class, which makes the pattern malformed.
std::optional<bool> InPosixClass(std::string_view name, unsigned char c, bool fold) {
    using Test = bool (*)(unsigned char);
    static constexpr std::pair<std::string_view, Test> kClasses[] = {
        {"alnum", IsAlnum},
        {"alpha", IsAlpha},
        {"blank", [](unsigned char x) { return x == ' ' || x == '\t'; }},
        {"cntrl", [](unsigned char x) { return x < 0x20 || x == 0x7f; }},
        {"digit", IsDigit},
        {"graph", [](unsigned char x) { return IsPrint(x) && x != ' '; }},
        {"lower", IsLower},
        {"print", IsPrint},
        {"punct", [](unsigned char x) { return IsPrint(x) && x != ' ' && !IsAlnum(x); }},
        {"space", IsSpace},
        {"upper", IsUpper},
        {"xdigit",
         [](unsigned char x) { return IsDigit(x) || (Lower(x) >= 'a' && Lower(x) <= 'f'); }},
    };
    for (const auto& [known, test] : kClasses) {
        if (name == known) {
            // Folded text is in lower case, so under core.ignoreCase git lets [:upper:] take any
            // letter.
            return test(c) || (fold && name == "upper" && IsLower(c));
        }
    }
    return std::nullopt;
}

// Matches the bracket expression that starts at pattern[p] ("[") against the character `c`
// and leaves p on its closing "]". With `fold`, git lowers the text's character but not the
// class's own characters: with core.ignoreCase "[A]" matches nothing; we do the same, so a
// walk leaves out what git status leaves out.
ClassResult MatchClass(std::string_view pattern, std::size_t& p, unsigned char c, bool fold) {
    const unsigned char ch = fold ? Lower(c) : c;
    std::size_t i = p + 1;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    i += negated ? 1 : 0;
    bool hit = false;
    int previous = -1;  // the last single character: where a range can start
    for (bool first = true;; ++i, first = false) {
        if (i >= pattern.size()) {
            return ClassResult::kMalformed;
        }
        unsigned char member = static_cast<unsigned char>(pattern[i]);
        if (member == ']' && !first) {
            break;
        }
        if (member == '\\') {
            if (++i >= pattern.size()) {
                return ClassResult::kMalformed;
            }
            member = static_cast<unsigned char>(pattern[i]);
        } else if (member == '-' && previous >= 0 && i + 1 < pattern.size() &&
                   pattern[i + 1] != ']') {
            unsigned char last = static_cast<unsigned char>(pattern[++i]);
            if (last == '\\') {
                if (++i >= pattern.size()) {
                    return ClassResult::kMalformed;
                }
                last = static_cast<unsigned char>(pattern[i]);
            }
            const auto in_range = [&](unsigned char x) { return x >= previous && x <= last; };
            hit = hit || in_range(ch) || (fold && IsLower(ch) && in_range(Upper(ch)));
            previous = -1;
            continue;
        } else if (member == '[' && i + 1 < pattern.size() && pattern[i + 1] == ':') {
            const std::size_t close = pattern.find(']', i + 2);
            if (close == std::string_view::npos) {
                return ClassResult::kMalformed;
            }
            if (close > i + 2 && pattern[close - 1] == ':') {
                const std::optional<bool> in =
                    InPosixClass(pattern.substr(i + 2, close - 1 - (i + 2)), ch, fold);
                if (!in) {
                    return ClassResult::kMalformed;
                }
                hit = hit || *in;
                previous = -1;
                i = close;
                continue;
            }
            // No ":]": the "[" is an ordinary member.
        }
        hit = hit || member == ch;
        previous = member;
    }
    p = i;
    return hit != negated && c != '/' ? ClassResult::kHit : ClassResult::kMiss;
}

Glob MatchFrom(std::string_view pattern, std::size_t p, std::size_t start, std::string_view text,
               std::size_t t, bool fold);

// The "*" run at pattern[p]. `start`: where the matcher was set on the pattern. Git compares a
// pattern's leading plain part by itself and runs its matcher on the rest only, so a "**" right
// after that part counts as standing at the start ("ab**/c" matches "abx/y/c"); we keep that.
Glob MatchStar(std::string_view pattern, std::size_t p, std::size_t start, std::string_view text,
               std::size_t t, bool fold) {
    std::size_t q = p;
    while (q < pattern.size() && pattern[q] == '*') {
        ++q;
    }
    const bool after_slash = p == start || pattern[p - 1] == '/';
    const bool before_slash =
        q == pattern.size() || pattern[q] == '/' ||
        (pattern[q] == '\\' && q + 1 < pattern.size() && pattern[q + 1] == '/');
    const bool crosses = q - p >= 2 && after_slash && before_slash;
    if (crosses && q < pattern.size() && pattern[q] == '/' &&
        MatchFrom(pattern, q + 1, start, text, t, fold) == Glob::kMatch) {
        return Glob::kMatch;  // "**/" standing for no folder at all
    }
    if (q == pattern.size()) {
        return crosses || text.find('/', t) == std::string_view::npos ? Glob::kMatch
                                                                      : Glob::kNoMatch;
    }
    for (; t < text.size(); ++t) {
        const Glob result = MatchFrom(pattern, q, start, text, t, fold);
        if (result != Glob::kNoMatch) {
            return result;
        }
        if (!crosses && text[t] == '/') {
            return Glob::kNoMatch;
        }
    }
    return Glob::kAbort;
}

Glob MatchFrom(std::string_view pattern, std::size_t p, std::size_t start, std::string_view text,
               std::size_t t, bool fold) {
    for (; p < pattern.size(); ++p, ++t) {
        unsigned char want = static_cast<unsigned char>(pattern[p]);
        if (want == '*') {
            return MatchStar(pattern, p, start, text, t, fold);
        }
        if (t == text.size()) {
            return Glob::kAbort;
        }
        const unsigned char c = static_cast<unsigned char>(text[t]);
        if (want == '?') {
            if (c == '/') {
                return Glob::kNoMatch;
            }
            continue;
        }
        if (want == '[') {
            const ClassResult result = MatchClass(pattern, p, c, fold);
            if (result != ClassResult::kHit) {
                return result == ClassResult::kMiss ? Glob::kNoMatch : Glob::kAbort;
            }
            continue;
        }
        if (want == '\\') {
            if (++p == pattern.size()) {
                return Glob::kNoMatch;  // a lone trailing "\" matches nothing
            }
            want = static_cast<unsigned char>(pattern[p]);
        }
        if (fold ? Lower(want) != Lower(c) : want != c) {
            return Glob::kNoMatch;
        }
    }
    return t == text.size() ? Glob::kMatch : Glob::kNoMatch;
}

// ---- Lines of an ignore file --------------------------------------------------------------

// Drops trailing spaces, but not one escaped with "\" nor anything before it.
std::string_view TrimTrailingSpaces(std::string_view line) {
    std::size_t cut = std::string_view::npos;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == ' ') {
            if (cut == std::string_view::npos) {
                cut = i;
            }
        } else {
            cut = std::string_view::npos;
            if (line[i] == '\\') {
                ++i;
            }
        }
    }
    return cut == std::string_view::npos ? line : line.substr(0, cut);
}

// `text` without its escapes when it has no wildcard, else nothing.
std::optional<std::string> Unescaped(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '*' || text[i] == '?' || text[i] == '[') {
            return std::nullopt;
        }
        if (text[i] == '\\' && ++i == text.size()) {
            return std::nullopt;  // a trailing "\": left to the matcher, which matches nothing
        }
        plain.push_back(text[i]);
    }
    return plain;
}

// The runs of plain characters of `pattern` (from `from` on) that whatever it matches holds as
// written. A "/" right after stars is left out: "**/" may stand for nothing ("a/**/b" matches
// "a/b", "ab**/c" even "abc"). The search ends at an escape, or a malformed class.
std::vector<std::string_view> PlainRuns(std::string_view pattern, std::size_t from) {
    std::vector<std::string_view> runs;
    std::size_t start = from;
    for (std::size_t i = from;;) {
        const char c = i < pattern.size() ? pattern[i] : '\\';
        if (c != '*' && c != '?' && c != '[' && c != '\\') {
            ++i;
            continue;
        }
        runs.push_back(pattern.substr(start, i - start));
        if (c == '\\') {
            return runs;
        }
        if (c == '[') {
            if (MatchClass(pattern, i, 'x', false) == ClassResult::kMalformed) {
                return runs;
            }
            ++i;  // past the "]" MatchClass left it on
        } else if (c == '?') {
            ++i;
        } else {
            i = std::min(pattern.find_first_not_of('*', i), pattern.size());
            i += i < pattern.size() && pattern[i] == '/' ? 1 : 0;
        }
        start = i;
    }
}

// Whether `text` holds `piece` (in lower case with `fold`).
bool Contains(std::string_view text, std::string_view piece, bool fold) {
    if (!fold) {
        return text.find(piece) != std::string_view::npos;
    }
    for (std::size_t at = 0; at + piece.size() <= text.size(); ++at) {
        if (SameText(text.substr(at, piece.size()), piece, true)) {
            return true;
        }
    }
    return false;
}

}  // namespace

struct IgnoreList::Pattern {
    enum class Kind : unsigned char { kLiteral, kSuffix, kGlob };
    // kLiteral: the whole name or path; kSuffix: what follows a leading "*"; both in lower case
    // under ignore_case. kGlob: the pattern as written.
    std::string text;
    std::size_t prefix = 0;  // kGlob: its leading part without wildcards, compared first
    // kGlob: the longest plain run of text that whatever it matches holds, and for patterns on
    // paths the longest such run up to a "/" in it: with a name (which holds no "/") after the
    // folder, that part lies within the folder's path. In lower case under fold.
    std::string required;
    std::string folder_piece;
    Kind kind = Kind::kLiteral;
    unsigned char last = 0;   // the last byte of what it matches (in lower case under fold)
    bool any_last = true;     // unless it can end in any byte
    bool names_only = false;  // no "/" but a trailing one: matches the last part at any depth
    bool folder_only = false;
    bool negated = false;

    // The pattern on one line of an ignore file; nothing for blank lines and comments.
    static std::optional<Pattern> Parse(std::string_view line, bool fold);
    // Sets how to match `text` (the pattern without "!", leading and trailing "/").
    void Compile(std::string_view text, bool fold);
    bool Matches(std::string_view subject, bool fold) const;
    // Whether it matches the entry `path`, whose last part is `name`.
    bool Applies(std::string_view path, std::string_view name, bool is_folder, bool fold) const {
        return (is_folder || !folder_only) && Matches(names_only ? name : path, fold);
    }
    // False when the pattern cannot match any entry of `folder` (relative to the list's
    // folder, "" or "a/b/"), so the entries there need not be tried on it.
    bool CanMatchIn(std::string_view folder, bool fold) const;
};

std::optional<IgnoreList::Pattern> IgnoreList::Pattern::Parse(std::string_view line, bool fold) {
    if (line.empty() || line.front() == '#') {
        return std::nullopt;
    }
    line = TrimTrailingSpaces(line);
    Pattern pattern;
    if (!line.empty() && line.front() == '!') {
        pattern.negated = true;
        line.remove_prefix(1);
    }
    if (!line.empty() && line.back() == '/') {
        pattern.folder_only = true;
        line.remove_suffix(1);
    }
    pattern.names_only = line.find('/') == std::string_view::npos;
    if (!pattern.names_only && line.front() == '/') {
        line.remove_prefix(1);
    }
    // "**/name" matches "name" at any depth: the same as "name", which needs no path.
    const std::size_t stars = line.find_first_not_of('*');
    if (!pattern.names_only && stars >= 2 && stars != std::string_view::npos &&
        line[stars] == '/' && line.find('/', stars + 1) == std::string_view::npos) {
        line.remove_prefix(stars + 1);
        pattern.names_only = true;
    }
    if (line.empty()) {
        return std::nullopt;  // "/" or "!" alone: git matches nothing with it
    }
    pattern.Compile(line, fold);
    return pattern;
}

void IgnoreList::Pattern::Compile(std::string_view line, bool fold) {
    const auto folded = [fold](std::string_view piece) {
        return fold ? LowerText(piece) : std::string(piece);
    };
    if (std::optional<std::string> plain = Unescaped(line)) {
        text = folded(*plain);
    } else if (names_only && line.front() == '*' &&
               line.find_first_of("*?[\\", 1) == std::string_view::npos) {
        kind = Kind::kSuffix;  // "*.o": the commonest form, kept cheap
        text = folded(line.substr(1));
    } else {
        kind = Kind::kGlob;
        text = line;
        prefix = line.find_first_of("*?[\\");
        for (const std::string_view run : PlainRuns(line, prefix)) {
            const std::size_t slash = names_only ? std::string::npos : run.rfind('/');
            if (run.size() > required.size()) {
                required = folded(run);
            }
            if (slash != std::string::npos && slash + 1 > folder_piece.size()) {
                folder_piece = folded(run.substr(0, slash + 1));
            }
        }
    }
    // A plain last character is the last byte of whatever the pattern matches ("*" alone is a
    // suffix pattern with no text).
    const char end = text.empty() ? '*' : text.back();
    if (!text.empty() && (kind != Kind::kGlob || (end != '*' && end != '?' && end != ']' &&
                                                  text.find('\\') == std::string::npos))) {
        last = static_cast<unsigned char>(fold ? Lower(end) : end);
        any_last = false;
    }
}

bool IgnoreList::Pattern::Matches(std::string_view subject, bool fold) const {
    switch (kind) {
        case Kind::kLiteral:
            return SameText(subject, text, fold);
        case Kind::kSuffix:
            return subject.size() >= text.size() &&
                   SameText(subject.substr(subject.size() - text.size()), text, fold);
        case Kind::kGlob:
            if (subject.size() < prefix) {
                return false;
            }
            for (std::size_t i = 0; i < prefix; ++i) {
                const auto a = static_cast<unsigned char>(subject[i]);
                const auto b = static_cast<unsigned char>(text[i]);
                if (fold ? Lower(a) != Lower(b) : a != b) {
                    return false;
                }
            }
            if (!Contains(subject.substr(prefix), required, fold)) {
                return false;  // a quick no for most names before the matcher
            }
            return MatchFrom(text, prefix, prefix, subject, prefix, fold) == Glob::kMatch;
    }
    return false;
}

bool IgnoreList::Pattern::CanMatchIn(std::string_view folder, bool fold) const {
    if (names_only) {
        return true;
    }
    if (kind == Kind::kLiteral) {  // the folder, then a name
        return text.size() > folder.size() &&
               SameText(folder, std::string_view(text).substr(0, folder.size()), fold) &&
               text.find('/', folder.size()) == std::string::npos;
    }
    // The plain start agrees with the folder as far as both go, and its folders lie within it.
    for (std::size_t i = 0; i < std::min(prefix, folder.size()); ++i) {
        const auto a = static_cast<unsigned char>(folder[i]);
        const auto b = static_cast<unsigned char>(text[i]);
        if (fold ? Lower(a) != Lower(b) : a != b) {
            return false;
        }
    }
    const std::size_t slash = std::string_view(text).substr(0, prefix).rfind('/');
    if (slash != std::string_view::npos && folder.size() <= slash) {
        return false;
    }
    return folder_piece.empty() || Contains(folder, folder_piece, fold);
}

IgnoreList::IgnoreList(std::string_view text, bool ignore_case)
    : patterns_(std::make_unique<std::vector<Pattern>>()), ignore_case_(ignore_case) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);  // git skips a UTF-8 byte order mark
    }
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // Git drops one CR before the line feed (or the end of the file), not more.
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (std::optional<Pattern> pattern = Pattern::Parse(line, ignore_case)) {
            patterns_->push_back(std::move(*pattern));
        }
    }
}

IgnoreList::~IgnoreList() = default;
IgnoreList::IgnoreList(IgnoreList&&) noexcept = default;
IgnoreList& IgnoreList::operator=(IgnoreList&&) noexcept = default;

bool IgnoreList::empty() const {
    return !patterns_ || patterns_->empty();
}

namespace {

std::string_view LastPart(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

IgnoreList::Verdict IgnoreList::Match(std::string_view path, bool is_folder) const {
    if (!patterns_) {
        return Verdict::kNone;
    }
    const std::string_view name = LastPart(path);
    for (auto pattern = patterns_->rbegin(); pattern != patterns_->rend(); ++pattern) {
        if (pattern->Applies(path, name, is_folder, ignore_case_)) {
            return pattern->negated ? Verdict::kKept : Verdict::kIgnored;
        }
    }
    return Verdict::kNone;
}

// What the scopes need of a list beyond its public face: the patterns that can match in one
// folder, and matching with those alone. A walk asks about every entry of every folder, and
// patterns anchored to other folders would cost there for nothing.
class IgnoreListAccess {
  public:
    // The patterns of a list that can match in one folder, filed by the last byte of what they
    // match: an entry meets only the few that can end as its name does.
    struct Selection {
        std::vector<std::uint32_t> order;    // pattern numbers, the last first
        std::vector<std::uint32_t> by_last;  // the same by last byte, from starts[byte] on
        std::uint32_t starts[257] = {};
        std::vector<std::uint32_t> any_last;  // those that can end in any byte, the last first
    };

    static bool HasPathPatterns(const IgnoreList& list) {
        return std::any_of(list.patterns_->begin(), list.patterns_->end(),
                           [](const IgnoreList::Pattern& pattern) { return !pattern.names_only; });
    }

    // The patterns of `list` that can match an entry of `folder` (relative to the list's
    // folder, "" or "a/b/") into `selection.order`; Index files them. True when any of them
    // looks at more than names.
    static bool PatternsFor(const IgnoreList& list, std::string_view folder, Selection& selection) {
        selection.order.clear();
        bool looks_at_path = false;
        for (std::size_t i = list.patterns_->size(); i-- > 0;) {
            const IgnoreList::Pattern& pattern = (*list.patterns_)[i];
            if (pattern.CanMatchIn(folder, list.ignore_case_)) {
                selection.order.push_back(static_cast<std::uint32_t>(i));
                looks_at_path = looks_at_path || !pattern.names_only;
            }
        }
        return looks_at_path;
    }

    static void Index(const IgnoreList& list, Selection& selection) {
        selection.by_last.clear();
        selection.any_last.clear();
        std::fill(std::begin(selection.starts), std::end(selection.starts), 0);
        for (const std::uint32_t number : selection.order) {
            const IgnoreList::Pattern& pattern = (*list.patterns_)[number];
            if (pattern.any_last) {
                selection.any_last.push_back(number);
            } else {
                ++selection.starts[pattern.last + 1];
            }
        }
        for (std::size_t byte = 1; byte < 257; ++byte) {
            selection.starts[byte] += selection.starts[byte - 1];
        }
        selection.by_last.resize(selection.starts[256]);
        std::uint32_t next[256];
        std::copy(selection.starts, selection.starts + 256, next);
        for (const std::uint32_t number : selection.order) {  // still the last first
            const IgnoreList::Pattern& pattern = (*list.patterns_)[number];
            if (!pattern.any_last) {
                selection.by_last[next[pattern.last]++] = number;
            }
        }
    }

    // IgnoreList::Match with the patterns of `selection` alone.
    static IgnoreList::Verdict Match(const IgnoreList& list, std::string_view path, bool is_folder,
                                     const Selection& selection) {
        const std::string_view name = LastPart(path);
        auto last = static_cast<unsigned char>(name.back());
        last = list.ignore_case_ ? Lower(last) : last;
        const std::uint32_t* filed = selection.by_last.data() + selection.starts[last];
        const std::uint32_t* const filed_end =
            selection.by_last.data() + selection.starts[last + 1];
        auto any = selection.any_last.begin();
        // Both in falling order: merged, the last pattern still comes first.
        while (filed != filed_end || any != selection.any_last.end()) {
            const bool from_filed =
                any == selection.any_last.end() || (filed != filed_end && *filed > *any);
            const IgnoreList::Pattern& pattern = (*list.patterns_)[from_filed ? *filed++ : *any++];
            if (pattern.Applies(path, name, is_folder, list.ignore_case_)) {
                return pattern.negated ? IgnoreList::Verdict::kKept : IgnoreList::Verdict::kIgnored;
            }
        }
        return IgnoreList::Verdict::kNone;
    }
};

namespace {

// ---- Files ------------------------------------------------------------------------------

// The text of the regular file `path` (relative to the open folder `dir`, or absolute), "" when
// it cannot be read. `follow_link`: false for the ignore files of the tree itself, which git
// does not read through a link.
std::string ReadText(int dir, const std::string& path, bool follow_link) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow_link ? 0 : O_NOFOLLOW);
    const Fd file(openat(dir, path.c_str(), flags));
    struct stat info;
    if (file.get() < 0 || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    std::string text;
    text.resize(std::min<std::size_t>(static_cast<std::size_t>(info.st_size), kMaxRulesBytes) + 1);
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t done = read(file.get(), text.data() + got, text.size() - got);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            break;
        }
        got += static_cast<std::size_t>(done);
        if (got == text.size() && got <= kMaxRulesBytes) {
            text.resize(std::min(text.size() * 2, kMaxRulesBytes + 1));  // the file grew
        }
    }
    text.resize(got);
    if (got > kMaxRulesBytes) {
        text.resize(text.rfind('\n', kMaxRulesBytes - 1) + 1);  // no half line at the cut
    }
    return text;
}

std::shared_ptr<const IgnoreList> ReadList(int dir, const std::string& path, bool follow_link,
                                           bool fold) {
    auto list = std::make_shared<const IgnoreList>(ReadText(dir, path, follow_link), fold);
    return list->empty() ? nullptr : list;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// ---- Git's config -------------------------------------------------------------------------
// Only what the ignore rules need: core.excludesFile and core.ignoreCase. [include] and
// [includeIf] are not followed: config split over included files is rare for these two.

struct ConfigVariable {
    std::string section;  // in lower case; a subsection follows after "."
    std::string name;     // in lower case
    std::string value;
    bool has_value = false;  // "name" alone, without "=", means true
};

class ConfigParser {
  public:
    explicit ConfigParser(std::string_view text) : text_(text) {}

    bool Next(ConfigVariable& variable) {
        while (pos_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[pos_]);
            if (IsSpace(c)) {
                ++pos_;
            } else if (c == '#' || c == ';') {
                SkipLine();
            } else if (c == '[') {
                ReadSection();
            } else if (IsAlpha(c) && ReadVariable(variable)) {
                return true;
            } else if (!IsAlpha(c)) {
                SkipLine();  // not config syntax: git would refuse the file; we skip the line
            }
        }
        return false;
    }

  private:
    bool At(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
    void SkipBlanks() {
        while (At(' ') || At('\t')) {
            ++pos_;
        }
    }
    void SkipLine() {
        const std::size_t end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    }

    void ReadSection() {
        ++pos_;
        section_.clear();
        while (pos_ < text_.size() &&
               (IsAlnum(static_cast<unsigned char>(text_[pos_])) || At('-') || At('.'))) {
            section_.push_back(static_cast<char>(Lower(static_cast<unsigned char>(text_[pos_++]))));
        }
        SkipBlanks();
        if (At('"')) {
            section_.push_back('.');
            for (++pos_; pos_ < text_.size() && !At('"') && !At('\n'); ++pos_) {
                if (At('\\') && pos_ + 1 < text_.size()) {
                    ++pos_;
                }
                section_.push_back(text_[pos_]);
            }
            ++pos_;
        }
        if (At(']')) {
            ++pos_;
        } else {
            section_ = "?";  // malformed: its variables count for nothing
            SkipLine();
        }
    }

    bool ReadVariable(ConfigVariable& variable) {
        variable.name.clear();
        while (pos_ < text_.size() &&
               (IsAlnum(static_cast<unsigned char>(text_[pos_])) || At('-'))) {
            variable.name.push_back(
                static_cast<char>(Lower(static_cast<unsigned char>(text_[pos_++]))));
        }
        SkipBlanks();
        variable.section = section_;
        variable.value.clear();
        variable.has_value = At('=');
        if (variable.has_value) {
            ++pos_;
            ReadValue(variable.value);
            return true;
        }
        if (pos_ + 1 < text_.size() && At('\r') && text_[pos_ + 1] == '\n') {
            ++pos_;
        }
        if (pos_ == text_.size() || At('\n') || At('#') || At(';')) {
            SkipLine();
            return true;
        }
        SkipLine();
        return false;
    }

    // The value after "=": quotes joined, escapes resolved, comments and the blanks around it
    // dropped, a "\" at the end of a line going on on the next.
    void ReadValue(std::string& value) {
        SkipBlanks();
        bool quoted = false;
        std::size_t kept = 0;  // the value without its trailing blanks
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '\n' || (c == '\r' && At('\n'))) {
                pos_ += c == '\r' ? 1 : 0;
                break;
            }
            if (!quoted && (c == '#' || c == ';')) {
                SkipLine();
                break;
            }
            if (c == '"') {
                quoted = !quoted;
                continue;
            }
            if (c == '\\' && pos_ < text_.size()) {
                const char escaped = text_[pos_++];
                if (escaped == '\n') {
                    continue;
                }
                value.push_back(escaped == 'n'   ? '\n'
                                : escaped == 't' ? '\t'
                                : escaped == 'b' ? '\b'
                                                 : escaped);
                kept = value.size();
                continue;
            }
            value.push_back(c);
            if (quoted || (c != ' ' && c != '\t')) {
                kept = value.size();
            }
        }
        value.resize(kept);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string section_;
};

// Git's booleans: true, yes, on or a number other than 0.
bool GitTrue(std::string_view text) {
    const std::string value = LowerText(text);
    if (value == "true" || value == "yes" || value == "on") {
        return true;
    }
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    return !value.empty() && *end == '\0' && number != 0;
}

bool ConfigBool(const ConfigVariable& variable) {
    return !variable.has_value || GitTrue(variable.value);
}

// What the user's and the repository's git config say about ignoring, the later file winning.
struct GitSettings {
    std::optional<std::string> excludes_file;  // as written; "" turns the excludes file off
    bool ignore_case = false;
};

void ApplyConfig(std::string_view text, GitSettings& settings) {
    ConfigParser parser(text);
    ConfigVariable variable;
    while (parser.Next(variable)) {
        if (variable.section != "core") {
            continue;
        }
        if (variable.name == "excludesfile" && variable.has_value) {
            settings.excludes_file = variable.value;
        } else if (variable.name == "ignorecase") {
            settings.ignore_case = ConfigBool(variable);
        }
    }
}

// The system's and the user's config, in git's order: /etc/gitconfig (unless
// GIT_CONFIG_NOSYSTEM says not, as it does for git), then $XDG_CONFIG_HOME/git/config, then
// ~/.gitconfig.
GitSettings ReadUserSettings() {
    GitSettings settings;
    const std::string home = Environment("HOME");
    std::string xdg = Environment("XDG_CONFIG_HOME");
    if (xdg.empty() && !home.empty()) {
        xdg = home + "/.config";
    }
    if (!GitTrue(Environment("GIT_CONFIG_NOSYSTEM"))) {
        ApplyConfig(ReadText(AT_FDCWD, "/etc/gitconfig", true), settings);
    }
    if (!xdg.empty()) {
        ApplyConfig(ReadText(AT_FDCWD, xdg + "/git/config", true), settings);
    }
    if (!home.empty()) {
        ApplyConfig(ReadText(AT_FDCWD, home + "/.gitconfig", true), settings);
    }
    return settings;
}

// The excludes file to read, "" for none. A relative path is taken from the repository's top,
// where git runs.
std::string ExcludesFile(const GitSettings& settings) {
    const std::string home = Environment("HOME");
    if (settings.excludes_file) {
        const std::string& path = *settings.excludes_file;
        if ((path == "~" || path.starts_with("~/")) && !home.empty()) {
            return home + path.substr(1);
        }
        return path;
    }
    const std::string xdg = Environment("XDG_CONFIG_HOME");
    if (!xdg.empty()) {
        return xdg + "/git/ignore";
    }
    return home.empty() ? std::string() : home + "/.config/git/ignore";
}

// ---- Repositories -----------------------------------------------------------------------

std::string TrimmedLine(std::string_view text) {
    const std::size_t end = text.find_first_of("\r\n");
    text = text.substr(0, end);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

// The git folder of the repository whose top is the open folder `top`, relative to it or
// absolute: ".git" itself, or where a ".git" file ("gitdir: PATH") points. "" when neither.
std::string GitFolder(int top) {
    struct stat info;
    if (fstatat(top, ".git", &info, 0) != 0) {
        return {};
    }
    if (S_ISDIR(info.st_mode)) {
        return ".git";
    }
    const std::string text = ReadText(top, ".git", true);
    if (!text.starts_with("gitdir:")) {
        return {};
    }
    std::string path = TrimmedLine(text.substr(7));
    path.erase(0, path.find_first_not_of(" \t"));
    return path;
}

struct Repository {
    bool ignore_case = false;
    std::shared_ptr<const IgnoreList> info_exclude;
    std::shared_ptr<const IgnoreList> excludes_file;
};

// Reads the repository whose top is the open folder `top`; nothing when its ".git" is none. A
// linked worktree's git folder names the main one in "commondir"; git takes config and
// info/exclude from there only.
std::optional<Repository> ReadRepository(int top, const GitSettings& user) {
    Repository repository;
    const std::string git_folder = GitFolder(top);
    if (git_folder.empty()) {
        return std::nullopt;
    }
    std::string common = git_folder;
    const std::string common_text = TrimmedLine(ReadText(top, git_folder + "/commondir", true));
    if (!common_text.empty()) {
        common = common_text.front() == '/' ? common_text : git_folder + "/" + common_text;
    }
    GitSettings settings = user;
    ApplyConfig(ReadText(top, common + "/config", true), settings);
    repository.ignore_case = settings.ignore_case;
    repository.info_exclude = ReadList(top, common + "/info/exclude", true, settings.ignore_case);
    const std::string excludes = ExcludesFile(settings);
    if (!excludes.empty()) {
        repository.excludes_file = ReadList(top, excludes, true, settings.ignore_case);
    }
    return repository;
}

// Whether `folder` holds ".git": a folder, or a file that points to one.
bool HoldsRepository(const std::string& folder) {
    const std::string path = (folder == "/" ? "" : folder) + "/.git";
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return false;
    }
    return S_ISDIR(info.st_mode) ||
           (S_ISREG(info.st_mode) && ReadText(AT_FDCWD, path, true).starts_with("gitdir:"));
}

// ---- Scopes -----------------------------------------------------------------------------

using Selection = IgnoreListAccess::Selection;

// One ignore file as it holds for a scope.
struct Layer {
    std::shared_ptr<const IgnoreList> list;
    std::shared_ptr<const Selection> patterns;  // those that can match in the scope's folder
    std::size_t base = 0;        // where the list's folder starts in the scope's path
    bool from_git = false;       // .gitignore, info/exclude, the excludes file: end at a repository
    bool path_patterns = false;  // the list has patterns on paths: `patterns` vary by folder
    bool looks_at_path = false;  // some of `patterns` are such patterns
};

Layer MakeLayer(std::shared_ptr<const IgnoreList> list, std::size_t base, bool from_git) {
    const bool path_patterns = IgnoreListAccess::HasPathPatterns(*list);
    return {std::move(list), nullptr, base, from_git, path_patterns, false};
}

// Sets the layer's patterns for the scope's folder `path`, keeping the ones it had when they
// are the same, so that scopes share them.
void Aim(Layer& layer, std::string_view path) {
    if (layer.patterns && !layer.path_patterns) {
        return;
    }
    thread_local Selection patterns;
    layer.looks_at_path =
        IgnoreListAccess::PatternsFor(*layer.list, path.substr(layer.base), patterns);
    if (!layer.patterns || layer.patterns->order != patterns.order) {
        IgnoreListAccess::Index(*layer.list, patterns);
        layer.patterns = std::make_shared<const Selection>(patterns);
    }
}

struct ScopeState {
    std::vector<Layer> layers;  // in precedence order: the first that has a verdict decides
    std::string path;           // the folder below the shallowest list's folder: "" or "a/b/"
    bool in_repository = false;
    bool ignore_case = false;
};

class Scope final : public IgnoreScope, public std::enable_shared_from_this<Scope> {
  public:
    Scope(ScopeState state, std::shared_ptr<const GitSettings> user)
        : user_(std::move(user)),
          in_repository_(state.in_repository),
          ignore_case_(state.ignore_case) {
        for (const Layer& layer : state.layers) {
            tracks_path_ = tracks_path_ || layer.path_patterns;
        }
        if (!tracks_path_) {
            // Names alone decide: no path is kept, so none of the lists may expect one.
            state.path.clear();
        }
        for (Layer& layer : state.layers) {
            layer.base = tracks_path_ ? layer.base : 0;
            Aim(layer, state.path);
            needs_path_ = needs_path_ || layer.looks_at_path;
        }
        layers_ = std::make_shared<const std::vector<Layer>>(std::move(state.layers));
        path_ = std::move(state.path);
    }

    // The same lists and patterns one folder deeper.
    Scope(const Scope& parent, std::string path)
        : layers_(parent.layers_),
          path_(std::move(path)),
          user_(parent.user_),
          in_repository_(parent.in_repository_),
          ignore_case_(parent.ignore_case_),
          tracks_path_(parent.tracks_path_),
          needs_path_(parent.needs_path_) {}

    std::shared_ptr<const IgnoreScope> Enter(std::string_view name, int folder, bool holds_git,
                                             bool holds_rules = true) const override;
    bool Ignored(std::string_view name, bool is_folder) const override;

  private:
    // Whether other patterns than here can match in the folder `path` below.
    bool PatternsChange(std::string_view path) const {
        thread_local Selection patterns;
        for (const Layer& layer : *layers_) {
            if (layer.path_patterns) {
                IgnoreListAccess::PatternsFor(*layer.list, path.substr(layer.base), patterns);
                if (patterns.order != layer.patterns->order) {
                    return true;
                }
            }
        }
        return false;
    }

    std::shared_ptr<const std::vector<Layer>> layers_;
    std::string path_;
    std::shared_ptr<const GitSettings> user_;  // for repositories met further down
    bool in_repository_ = false;
    bool ignore_case_ = false;
    bool tracks_path_ = false;  // some list has patterns on paths; else path_ stays ""
    bool needs_path_ = false;   // some of them can match here: Ignored builds the path
};

// Adds the ignore files of a folder: .ignore over .gitignore, as ripgrep has it.
void AddFolderLists(int folder, std::size_t base, const ScopeState& state,
                    std::vector<Layer>& layers) {
    if (auto list = ReadList(folder, ".ignore", false, state.ignore_case)) {
        layers.push_back(MakeLayer(std::move(list), base, false));
    }
    if (state.in_repository) {
        if (auto list = ReadList(folder, ".gitignore", false, state.ignore_case)) {
            layers.push_back(MakeLayer(std::move(list), base, true));
        }
    }
}

void AddRepositoryLists(const Repository& repository, std::size_t base,
                        std::vector<Layer>& layers) {
    for (const auto& list : {repository.info_exclude, repository.excludes_file}) {
        if (list) {
            layers.push_back(MakeLayer(list, base, true));
        }
    }
}

std::shared_ptr<const IgnoreScope> Scope::Enter(std::string_view name, int folder, bool holds_git,
                                                bool holds_rules) const {
    std::optional<Repository> repository;
    if (holds_git) {
        repository = ReadRepository(folder, *user_);
    }
    ScopeState state;
    state.in_repository = in_repository_ || repository;
    state.ignore_case = repository ? repository->ignore_case : ignore_case_;
    // While every list looks at names only the path is not kept: a deeper list starts it.
    state.path = tracks_path_ ? path_ + std::string(name) + "/" : std::string();
    if (holds_rules) {
        AddFolderLists(folder, state.path.size(), state, state.layers);
    }
    if (!repository && state.layers.empty()) {
        if (!tracks_path_) {
            return shared_from_this();  // nothing changes below: the same scope serves
        }
        if (!PatternsChange(state.path)) {
            return std::make_shared<const Scope>(*this, std::move(state.path));
        }
    }
    for (const Layer& layer : *layers_) {
        // A repository of its own: the outer one's rules stop here, .ignore files go on.
        if (!repository || !layer.from_git) {
            state.layers.push_back(layer);
        }
    }
    if (repository) {
        AddRepositoryLists(*repository, state.path.size(), state.layers);
    }
    return std::make_shared<const Scope>(std::move(state), user_);
}

bool Scope::Ignored(std::string_view name, bool is_folder) const {
    if (name.empty()) {
        return false;
    }
    if (in_repository_ && name == ".git") {
        return true;  // git never lists one, not even a worktree's ".git" file
    }
    std::string_view path = name;
    if (needs_path_) {
        thread_local std::string buffer;  // no allocation per entry once it has grown
        buffer.assign(path_);
        buffer.append(name);
        path = buffer;
    }
    for (const Layer& layer : *layers_) {
        const std::string_view relative = needs_path_ ? path.substr(layer.base) : name;
        const IgnoreList::Verdict verdict =
            IgnoreListAccess::Match(*layer.list, relative, is_folder, *layer.patterns);
        if (verdict != IgnoreList::Verdict::kNone) {
            return verdict == IgnoreList::Verdict::kIgnored;
        }
    }
    return false;
}

std::string RealFolder(const std::string& start) {
    if (char* real = realpath(start.c_str(), nullptr)) {
        std::string path(real);
        free(real);
        return path;
    }
    std::string path = start;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The nearest folder from `folder` up that holds a repository. As git's own search, this one
// stops at the edge of the folder's file system. GIT_DIR and its kin are not looked at.
std::optional<std::string> RepositoryTop(std::string folder) {
    struct stat info;
    const dev_t device = stat(folder.c_str(), &info) == 0 ? info.st_dev : 0;
    while (true) {
        if (HoldsRepository(folder)) {
            return folder;
        }
        if (folder == "/" || folder.empty()) {
            return std::nullopt;
        }
        const std::size_t slash = folder.rfind('/');
        folder = slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
        if (stat(folder.c_str(), &info) != 0 || info.st_dev != device) {
            return std::nullopt;
        }
    }
}

}  // namespace

bool IgnoreScope::IsRulesFile(std::string_view name) {
    return name == ".gitignore" || name == ".ignore";
}

// Inside a repository the ignore files of the folders from its top down to the start hold,
// but whether the start, or a folder on the way, is itself ignored is not asked: git would
// list nothing there, yet the user named the folder, so, as ripgrep does, it is searched.
std::shared_ptr<const IgnoreScope> IgnoreScope::ForStart(const std::string& start) {
    auto user = std::make_shared<const GitSettings>(ReadUserSettings());
    const std::string real = RealFolder(start);
    const std::optional<std::string> top = RepositoryTop(real);
    ScopeState state;
    if (!top) {
        const Fd folder(open(real.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        AddFolderLists(folder.get(), 0, state, state.layers);
        return std::make_shared<const Scope>(std::move(state), std::move(user));
    }
    const Fd top_folder(open(top->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const Repository repository = ReadRepository(top_folder.get(), *user).value_or(Repository());
    state.in_repository = true;
    state.ignore_case = repository.ignore_case;
    // The folders from the top down to the start ("", "a", "a/b"); their lists go in deepest
    // first.
    std::string relative = real.substr(std::min(real.size(), top->size()));
    relative.erase(0, relative.find_first_not_of('/'));
    std::vector<std::string> chain{""};
    for (std::size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', slash + 1)) {
        chain.push_back(relative.substr(0, slash));
    }
    if (!relative.empty()) {
        chain.push_back(relative);
    }
    std::vector<std::vector<Layer>> folders;
    for (const std::string& below : chain) {
        state.path = below.empty() ? below : below + "/";
        const Fd folder(open((*top + "/" + below).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        AddFolderLists(folder.get(), state.path.size(), state, folders.emplace_back());
    }
    for (auto lists = folders.rbegin(); lists != folders.rend(); ++lists) {
        state.layers.insert(state.layers.end(), lists->begin(), lists->end());
    }
    AddRepositoryLists(repository, 0, state.layers);
    return std::make_shared<const Scope>(std::move(state), std::move(user));
}

}  // namespace ferret
