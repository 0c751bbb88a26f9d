#include "engine/ecma_pattern.h"

#include <algorithm>
#include <memory>

namespace ferret {
namespace {

// ECMAScript's white space and line terminators, as class items in PCRE2's syntax (\v there is
// a class of its own, and \x{...} is not read under PCRE2_ALT_BSUX).
constexpr std::string_view kSpaceItems =
    "\\t\\n\\x0b\\f\\r \\u00a0\\u1680\\u2000-\\u200a\\u2028\\u2029\\u202f\\u205f\\u3000\\ufeff";
constexpr std::string_view kAnyButLineTerminator = "[^\\n\\r\\u2028\\u2029]";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHex(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Bytes in the UTF-8 character that starts with `lead` (1 for anything unexpected: the pattern
// is checked by PCRE2 itself).
std::size_t CharBytes(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    return lead >= 0xC2 && lead <= 0xDF ? 2 : 1;
}

std::string HexEscape(unsigned value) {
    static constexpr char kHex[] = "0123456789abcdef";
    return std::string("\\x") + kHex[(value >> 4) & 0xF] + kHex[value & 0xF];
}

struct Group;

// One item of a sequence and its quantifier.
struct Term {
    std::string text;              // the rewritten item, when it is not a group
    std::unique_ptr<Group> group;  // a group and what it holds
    std::size_t at = 0;            // where the item starts in the pattern
    bool verbatim = false;         // `text` is the pattern's own
    std::string quantifier;        // as written ("" for none)
    std::size_t quantifier_at = 0;
    long min = 1;
    long max = 1;  // below 0: no limit
    enum class Mode { kGreedy, kLazy, kPossessive } mode = Mode::kGreedy;
};
using Sequence = std::vector<Term>;

struct Group {
    std::string prefix;  // "(", "(?:", "(?<name>", "(?=", "(?i:" ...
    std::size_t at = 0;
    std::unique_ptr<Term> condition;  // of a conditional group, when it is an assertion
    std::vector<Sequence> alternatives;
    std::vector<int> alternative_captures;  // capturing groups in each alternative
    int captures = 0;                       // capturing groups in the whole group, itself included
    bool closed = false;
    std::size_t close_at = 0;
};

int CapturesIn(const Sequence& sequence) {
    int count = 0;
    for (const Term& term : sequence) {
        if (term.group) {
            count += term.group->captures;
        }
    }
    return count;
}

// End of a POSIX item ("[:alpha:]") that starts at `at` inside a class, as PCRE2 reads one, or
// npos when there is none.
std::size_t PosixItemEnd(std::string_view p, std::size_t at) {
    if (at + 1 >= p.size() || p[at] != '[' ||
        std::string_view(":.=").find(p[at + 1]) == std::string_view::npos) {
        return std::string_view::npos;
    }
    const char terminator = p[at + 1];
    for (std::size_t i = at + 2; i < p.size(); ++i) {
        if (p[i] == '\\' && i + 1 < p.size() && (p[i + 1] == ']' || p[i + 1] == '\\')) {
            ++i;
        } else if ((p[i] == '[' && i + 1 < p.size() && p[i + 1] == terminator) || p[i] == ']') {
            return std::string_view::npos;
        } else if (p[i] == terminator && i + 1 < p.size() && p[i + 1] == ']') {
            return i + 2;
        }
    }
    return std::string_view::npos;
}

// End of "\Q...\E" starting at `at` (the pattern's end when \E is missing).
std::size_t QuotedEnd(std::string_view p, std::size_t at) {
    const std::size_t end = p.find("\\E", at + 2);
    return end == std::string_view::npos ? p.size() : end + 2;
}

// Index just past the class that opens at `at`, as PCRE2 reads it with empty classes allowed.
std::size_t ClassEnd(std::string_view p, std::size_t at) {
    std::size_t i = at + 1;
    if (i < p.size() && p[i] == '^') {
        ++i;
    }
    if (i < p.size() && p[i] == ']') {
        return i + 1;
    }
    while (i < p.size() && p[i] != ']') {
        if (p[i] == '\\') {
            i = i + 1 < p.size() && p[i + 1] == 'Q' ? QuotedEnd(p, i) : i + 2;
        } else if (const std::size_t posix = PosixItemEnd(p, i); posix != std::string_view::npos) {
            i = posix;
        } else {
            ++i;
        }
    }
    return std::min(i + 1, p.size());
}

// The number of capturing groups, which decides what a digit escape is.
int CountCaptures(std::string_view p) {
    int count = 0;
    for (std::size_t i = 0; i < p.size();) {
        const char c = p[i];
        if (c == '\\') {
            i = i + 1 < p.size() && p[i + 1] == 'Q' ? QuotedEnd(p, i) : i + 2;
        } else if (c == '[') {
            i = ClassEnd(p, i);
        } else if (c == '(') {
            const std::string_view rest = p.substr(i + 1);
            if (rest.starts_with("?#")) {
                const std::size_t close = p.find(')', i);
                i = close == std::string_view::npos ? p.size() : close + 1;
                continue;
            }
            if ((!rest.starts_with('?') && !rest.starts_with('*')) ||
                (rest.starts_with("?<") && !rest.starts_with("?<=") && !rest.starts_with("?<!")) ||
                rest.starts_with("?P<") || rest.starts_with("?'")) {
                ++count;
            }
            ++i;
        } else {
            ++i;
        }
    }
    return count;
}

class Parser {
  public:
    explicit Parser(std::string_view pattern)
        : p_(pattern), total_captures_(CountCaptures(pattern)) {}

    // The whole pattern, read as the body of a group that is never closed.
    Group ParsePattern() {
        Group top;
        ParseBody(top, false);
        while (i_ < p_.size()) {  // a ")" with no "(": left for PCRE2 to reject
            Term stray;
            stray.text = ")";
            stray.at = i_++;
            stray.verbatim = true;
            top.alternatives.back().push_back(std::move(stray));
            ParseAlternatives(top, false);
        }
        return top;
    }
    // False when the pattern uses PCRE2's own syntax, whose structure is not read here.
    bool structured() const { return structured_; }

  private:
    // Alternatives up to the ")" that closes the group (not taken) or the end.
    void ParseBody(Group& group, bool dotall) {
        group.alternatives.emplace_back();
        ParseAlternatives(group, dotall);
    }

    // The rest of the group's last alternative and any later ones.
    void ParseAlternatives(Group& group, bool dotall) {
        for (;;) {
            ParseSequence(group.alternatives.back(), dotall);
            if (i_ < p_.size() && p_[i_] == '|') {
                ++i_;
                group.alternatives.emplace_back();
                continue;
            }
            break;
        }
        Count(group);
    }

    static void Count(Group& group) {
        group.alternative_captures.clear();
        int inside = 0;
        for (const Sequence& alternative : group.alternatives) {
            group.alternative_captures.push_back(CapturesIn(alternative));
            inside += group.alternative_captures.back();
        }
        group.captures = inside + (IsCapturing(group.prefix) ? 1 : 0);
    }

    static bool IsCapturing(std::string_view prefix) {
        return prefix == "(" ||
               (prefix.starts_with("(?<") && !prefix.starts_with("(?<=") &&
                !prefix.starts_with("(?<!")) ||
               prefix.starts_with("(?P<") || prefix.starts_with("(?'");
    }

    void ParseSequence(Sequence& sequence, bool& dotall) {
        while (i_ < p_.size()) {
            const char c = p_[i_];
            if (c == '|' || c == ')') {
                return;
            }
            Term term;
            term.at = i_;
            if (c == '\\') {
                ParseEscape(term);
            } else if (c == '[') {
                ParseClass(term);
            } else if (c == '.') {
                ++i_;
                term.verbatim = dotall;
                term.text = dotall ? "." : std::string(kAnyButLineTerminator);
            } else if (c == '(') {
                if (!ParseGroup(term, dotall)) {
                    sequence.push_back(std::move(term));
                    continue;  // an inline option or a comment: nothing to repeat
                }
            } else {
                const std::size_t length =
                    std::min(CharBytes(static_cast<unsigned char>(c)), p_.size() - i_);
                term.text.assign(p_.substr(i_, length));
                term.verbatim = true;
                i_ += length;
            }
            ReadQuantifier(term);
            sequence.push_back(std::move(term));
        }
    }

    // Reads a quantifier after an item, if there is one.
    void ReadQuantifier(Term& term) {
        if (i_ >= p_.size()) {
            return;
        }
        const std::size_t start = i_;
        const char c = p_[i_];
        if (c == '*' || c == '+' || c == '?') {
            term.min = c == '+' ? 1 : 0;
            term.max = c == '?' ? 1 : -1;
            ++i_;
        } else if (c == '{') {
            std::size_t j = i_ + 1;
            long low = 0;
            std::size_t digits = 0;
            for (; j < p_.size() && IsDigit(p_[j]); ++j, ++digits) {
                low = std::min(low * 10 + (p_[j] - '0'), 1'000'000L);
            }
            if (digits == 0) {
                return;  // "{" on its own is a plain character
            }
            long high = low;
            if (j < p_.size() && p_[j] == ',') {
                ++j;
                high = -1;
                std::size_t high_digits = 0;
                long value = 0;
                for (; j < p_.size() && IsDigit(p_[j]); ++j, ++high_digits) {
                    value = std::min(value * 10 + (p_[j] - '0'), 1'000'000L);
                }
                if (high_digits > 0) {
                    high = value;
                }
            }
            if (j >= p_.size() || p_[j] != '}') {
                return;
            }
            term.min = low;
            term.max = high;
            i_ = j + 1;
        } else {
            return;
        }
        if (i_ < p_.size() && (p_[i_] == '?' || p_[i_] == '+')) {
            term.mode = p_[i_] == '?' ? Term::Mode::kLazy : Term::Mode::kPossessive;
            ++i_;
        }
        term.quantifier.assign(p_.substr(start, i_ - start));
        term.quantifier_at = start;
    }

    // An escape outside a class.
    void ParseEscape(Term& term) {
        const std::size_t start = i_;
        if (i_ + 1 >= p_.size()) {
            Verbatim(term, start, ++i_);  // a lone backslash: PCRE2 rejects it
            return;
        }
        const char c = p_[i_ + 1];
        if (c == 's' || c == 'S') {
            term.text = std::string(c == 's' ? "[" : "[^") + std::string(kSpaceItems) + "]";
            i_ += 2;
        } else if (c == 'v') {
            term.text = HexEscape(0x0b);
            i_ += 2;
        } else if (IsDigit(c)) {
            std::size_t end = i_ + 1;
            long number = 0;
            while (end < p_.size() && IsDigit(p_[end])) {
                number = std::min(number * 10 + (p_[end] - '0'), 1'000'000L);
                ++end;
            }
            if (c != '0' && number <= total_captures_) {
                term.text = "\\g{" + std::to_string(number) + "}";
                i_ = end;
            } else {
                term.text = CharacterFromDigits();
            }
        } else {
            Verbatim(term, start, EscapeEnd(i_));
        }
    }

    // A digit escape that is not a back-reference, at i_: an octal code of up to three digits
    // (up to 0377), or "8" or "9" as itself.
    std::string CharacterFromDigits() {
        const char first = p_[i_ + 1];
        i_ += 2;
        if (first == '8' || first == '9') {
            return std::string(1, first);
        }
        unsigned value = static_cast<unsigned>(first - '0');
        const int more = first <= '3' ? 2 : 1;
        for (int k = 0; k < more && i_ < p_.size() && p_[i_] >= '0' && p_[i_] <= '7'; ++k) {
            value = value * 8 + static_cast<unsigned>(p_[i_] - '0');
            ++i_;
        }
        return HexEscape(value);
    }

    // End of the escape at `at` that is copied as it is, with its argument if it takes one.
    std::size_t EscapeEnd(std::size_t at) {
        const char c = p_[at + 1];
        const auto through = [&](char closer) {
            const std::size_t close = p_.find(closer, at + 3);
            return close == std::string_view::npos ? p_.size() : close + 1;
        };
        const auto has = [&](std::size_t offset, char wanted) {
            return at + offset < p_.size() && p_[at + offset] == wanted;
        };
        switch (c) {
            case 'x':
                return at + 3 < p_.size() && IsHex(p_[at + 2]) && IsHex(p_[at + 3]) ? at + 4
                                                                                    : at + 2;
            case 'u':
                if (at + 5 < p_.size() && IsHex(p_[at + 2]) && IsHex(p_[at + 3]) &&
                    IsHex(p_[at + 4]) && IsHex(p_[at + 5])) {
                    return at + 6;
                }
                return at + 2;
            case 'c':
                return std::min(at + 3, p_.size());
            case 'p':
            case 'P':
            case 'o':
            case 'N':
                return has(2, '{') ? through('}') : at + 2;
            case 'k':
                return has(2, '<')    ? through('>')
                       : has(2, '\'') ? through('\'')
                       : has(2, '{')  ? through('}')
                                      : at + 2;
            case 'g':
                structured_ = false;  // relative references and subroutine calls
                if (has(2, '<')) {
                    return through('>');
                }
                if (has(2, '\'')) {
                    return through('\'');
                }
                if (has(2, '{')) {
                    return through('}');
                }
                {
                    std::size_t end = at + 2;
                    if (end < p_.size() && (p_[end] == '-' || p_[end] == '+')) {
                        ++end;
                    }
                    while (end < p_.size() && IsDigit(p_[end])) {
                        ++end;
                    }
                    return end;
                }
            case 'Q':
                structured_ = false;  // a quantifier after \E takes only the last character
                return QuotedEnd(p_, at);
            default:
                return at + 1 +
                       std::min(CharBytes(static_cast<unsigned char>(c)), p_.size() - at - 1);
        }
    }

    void Verbatim(Term& term, std::size_t from, std::size_t to) {
        term.text.assign(p_.substr(from, to - from));
        term.verbatim = true;
        i_ = to;
    }

    // A class: \s, \S, \v and digit escapes rewritten, a hyphen next to a class escape made a
    // plain one. A class holding \S becomes a group, as PCRE2 cannot take a negated set inside
    // a class: "[a\S]" is "(?:[a]|[^\s])" and "[^a\S]" is "(?:(?![a])[\s])".
    void ParseClass(Term& term) {
        const std::size_t start = i_++;
        bool negated = false;
        if (i_ < p_.size() && p_[i_] == '^') {
            negated = true;
            ++i_;
        }
        std::string items;
        bool non_space = false;
        bool closed = false;
        bool after_class_escape = false;
        while (i_ < p_.size()) {
            const char c = p_[i_];
            if (c == ']') {  // "[]" matches nothing and "[^]" anything
                ++i_;
                closed = true;
                break;
            }
            bool class_escape = false;
            if (const std::size_t posix = PosixItemEnd(p_, i_); posix != std::string_view::npos) {
                items.append(p_.substr(i_, posix - i_));
                i_ = posix;
                class_escape = true;
            } else if (c == '\\' && i_ + 1 < p_.size()) {
                const char e = p_[i_ + 1];
                if (e == 's') {
                    items += kSpaceItems;
                    i_ += 2;
                    class_escape = true;
                } else if (e == 'S') {
                    non_space = true;
                    i_ += 2;
                    class_escape = true;
                } else if (e == 'd' || e == 'D' || e == 'w' || e == 'W') {
                    items.append(p_.substr(i_, 2));
                    i_ += 2;
                    class_escape = true;
                } else if (e == 'v') {
                    items += HexEscape(0x0b);
                    i_ += 2;
                } else if (IsDigit(e)) {
                    items += CharacterFromDigits();
                } else {
                    const std::size_t end = EscapeEnd(i_);
                    items.append(p_.substr(i_, end - i_));
                    i_ = end;
                }
            } else if (c == '-' && i_ + 1 < p_.size() && p_[i_ + 1] != ']' &&
                       (after_class_escape ||
                        (!items.empty() && p_[i_ + 1] == '\\' && i_ + 2 < p_.size() &&
                         std::string_view("dDwWsS").find(p_[i_ + 2]) != std::string_view::npos))) {
                items += "\\-";
                ++i_;
            } else {
                const std::size_t length =
                    std::min(CharBytes(static_cast<unsigned char>(c)), p_.size() - i_);
                items.append(p_.substr(i_, length));
                i_ += length;
            }
            after_class_escape = class_escape;
        }
        if (!closed) {
            Verbatim(term, start, p_.size());  // PCRE2 reports the missing "]"
            return;
        }
        if (items.starts_with('^')) {
            items.insert(0, "\\");  // not a negation once the first item has moved
        }
        const std::string spaces = "[" + std::string(kSpaceItems) + "]";
        if (!non_space) {
            term.text = std::string(negated ? "[^" : "[") + items + "]";
            term.verbatim = term.text == p_.substr(start, i_ - start);
        } else if (!negated) {
            term.text = items.empty() ? "[^" + std::string(kSpaceItems) + "]"
                                      : "(?:[" + items + "]|[^" + std::string(kSpaceItems) + "])";
        } else {
            term.text = items.empty() ? spaces : "(?:(?![" + items + "])" + spaces + ")";
        }
    }

    enum class Options { kInline, kGroup, kOther };

    // Reads the options of the group at `start`: "(?i)", "(?s:", "(?-s)", "(?^i)". An inline
    // option goes to `term` as it is and sets `dotall` for the rest of the enclosing group
    // (kInline); the options of a group become its prefix, and `group_dotall` its own (kGroup).
    // Anything else is left to PCRE2 (kOther).
    Options ParseOptions(Term& term, std::size_t start, bool& dotall, Group& group,
                         bool& group_dotall) {
        std::size_t j = start + 2;
        bool on = true;
        bool new_dotall = dotall;
        while (j < p_.size() && (IsLetter(p_[j]) || p_[j] == '-' || p_[j] == '^')) {
            if (p_[j] == '-') {
                on = false;
            } else if (p_[j] == '^') {
                new_dotall = false;
            } else if (p_[j] == 's') {
                new_dotall = on;
            } else if (p_[j] == 'x') {
                structured_ = false;  // white space and comments are no longer items
            }
            ++j;
        }
        if (j < p_.size() && p_[j] == ')') {
            structured_ = false;
            dotall = new_dotall;
            Verbatim(term, start, j + 1);
            return Options::kInline;
        }
        if (j < p_.size() && p_[j] == ':' && j > start + 2) {
            group_dotall = new_dotall;
            group.prefix.assign(p_.substr(start, j + 1 - start));
            i_ = j + 1;
            return Options::kGroup;
        }
        return Options::kOther;
    }

    // Reads the group at i_ into `term`; false when it is no group but an item that takes no
    // quantifier (an inline option, a comment).
    bool ParseGroup(Term& term, bool& dotall) {
        const std::size_t start = i_;
        const std::string_view rest = p_.substr(i_ + 1);
        const auto until_close = [&] {
            const std::size_t close = p_.find(')', start);
            return close == std::string_view::npos ? p_.size() : close + 1;
        };
        if (rest.starts_with("?#")) {
            Verbatim(term, start, until_close());
            return false;
        }
        if (rest.starts_with('*')) {
            structured_ = false;  // a verb
            Verbatim(term, start, until_close());
            return true;
        }
        auto group = std::make_unique<Group>();
        group->at = start;
        bool group_dotall = dotall;
        if (!rest.starts_with('?')) {
            group->prefix = "(";
            i_ += 1;
        } else if (rest.starts_with("?:") || rest.starts_with("?=") || rest.starts_with("?!") ||
                   rest.starts_with("?>")) {
            group->prefix.assign(p_.substr(start, 3));
            i_ += 3;
        } else if (rest.starts_with("?<=") || rest.starts_with("?<!")) {
            group->prefix.assign(p_.substr(start, 4));
            i_ += 4;
        } else if (rest.starts_with("?<") || rest.starts_with("?P<") || rest.starts_with("?'")) {
            const char closer = rest.starts_with("?'") ? '\'' : '>';
            const std::size_t close = p_.find(closer, start + 3);
            const std::size_t end = close == std::string_view::npos ? p_.size() : close + 1;
            group->prefix.assign(p_.substr(start, end - start));
            i_ = end;
        } else if (rest.starts_with("?(")) {
            structured_ = false;
            i_ += 2;
            if (i_ + 1 < p_.size() && (p_[i_ + 1] == '?' || p_[i_ + 1] == '*')) {
                group->prefix = "(?";
                group->condition = std::make_unique<Term>();
                group->condition->at = i_;
                bool condition_dotall = dotall;
                ParseGroup(*group->condition, condition_dotall);
            } else {
                const std::size_t close = p_.find(')', i_);
                const std::size_t end = close == std::string_view::npos ? p_.size() : close + 1;
                group->prefix.assign(p_.substr(start, end - start));
                i_ = end;
            }
        } else {
            switch (ParseOptions(term, start, dotall, *group, group_dotall)) {
                case Options::kInline:
                    return false;
                case Options::kOther:
                    // Recursion, subroutine calls, callouts, named references and the like.
                    structured_ = false;
                    Verbatim(term, start, until_close());
                    return true;
                case Options::kGroup:
                    break;
            }
        }
        if (group->prefix == "(?|") {
            structured_ = false;  // its groups are numbered in its own way
        }
        ParseBody(*group, group_dotall);
        if (i_ < p_.size() && p_[i_] == ')') {
            group->closed = true;
            group->close_at = i_++;
        }
        term.group = std::move(group);
        return true;
    }

    std::string_view p_;
    std::size_t i_ = 0;
    const int total_captures_;
    bool structured_ = true;
};

class Writer {
  public:
    explicit Writer(bool reset_groups) : reset_groups_(reset_groups) {}

    void Body(const Group& group, bool reset) {
        const bool branch =
            reset && reset_groups_ && group.alternatives.size() > 1 &&
            std::any_of(group.alternative_captures.begin(), group.alternative_captures.end(),
                        [](int n) { return n > 0; });
        if (branch) {
            Put("(?|", group.at, false);
        }
        int before = 0;
        int total = 0;
        for (int n : group.alternative_captures) {
            total += n;
        }
        for (std::size_t k = 0; k < group.alternatives.size(); ++k) {
            if (k > 0) {
                Put("|", group.at, false);
            }
            if (branch) {
                Placeholders(before, group.at);
            }
            for (const Term& term : group.alternatives[k]) {
                Item(term, reset);
            }
            before += group.alternative_captures[k];
            if (branch) {
                Placeholders(total - before, group.at);
            }
        }
        if (branch) {
            Put(")", group.at, false);
        }
    }

    PcrePattern Take() { return std::move(result_); }

  private:
    void Item(const Term& term, bool reset) {
        if (!term.group) {
            Put(term.text, term.at, term.verbatim);
            Put(term.quantifier, term.quantifier_at, true);
            return;
        }
        const Group& group = *term.group;
        const bool inner_reset = reset || term.max < 0 || term.max > 1;
        if (reset && reset_groups_ && group.captures > 0 && term.min == 0 &&
            !term.quantifier.empty()) {
            // Repeated zero times, the groups inside are on no path: they are set empty so that
            // an earlier repetition's values do not show through.
            if (term.max == 0) {
                Placeholders(group.captures, term.at);
                return;
            }
            const std::string once = term.max == 1  ? ""
                                     : term.max < 0 ? "+"
                                                    : "{1," + std::to_string(term.max) + "}";
            const bool lazy = term.mode == Term::Mode::kLazy;
            const bool possessive = term.mode == Term::Mode::kPossessive;
            Put(possessive ? "(?>(?|" : "(?|", term.at, false);
            if (lazy) {
                Placeholders(group.captures, term.at);
                Put("|", term.at, false);
            }
            WriteGroup(group, inner_reset);
            Put(once + (lazy && !once.empty() ? "?" : ""), term.quantifier_at, false);
            if (!lazy) {
                Put("|", term.at, false);
                Placeholders(group.captures, term.at);
            }
            Put(possessive ? "))" : ")", term.at, false);
            return;
        }
        WriteGroup(group, inner_reset);
        Put(term.quantifier, term.quantifier_at, true);
    }

    void WriteGroup(const Group& group, bool reset) {
        Put(group.prefix, group.at, true);
        if (group.condition) {
            Item(*group.condition, reset);
        }
        Body(group, reset);
        if (group.closed) {
            Put(")", group.close_at, true);
        }
    }

    void Placeholders(int count, std::size_t at) {
        for (int k = 0; k < count; ++k) {
            Put("()", at, false);
        }
    }

    void Put(std::string_view text, std::size_t at, bool verbatim) {
        if (text.empty()) {
            return;
        }
        result_.pieces.push_back({result_.text.size(), at, verbatim});
        result_.text += text;
    }

    const bool reset_groups_;
    PcrePattern result_;
};

}  // namespace

std::size_t PcrePattern::PatternOffset(std::size_t offset) const {
    const auto after =
        std::upper_bound(pieces.begin(), pieces.end(), offset,
                         [](std::size_t value, const Piece& piece) { return value < piece.out; });
    if (after == pieces.begin()) {
        return 0;
    }
    const Piece& piece = *std::prev(after);
    return piece.verbatim ? piece.in + (offset - piece.out) : piece.in;
}

PcrePattern TranslateEcmaPattern(std::string_view pattern) {
    Parser parser(pattern);
    const Group top = parser.ParsePattern();
    Writer writer(parser.structured());
    writer.Body(top, false);
    return writer.Take();
}

}  // namespace ferret
