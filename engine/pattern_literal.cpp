#include "engine/pattern_literal.h"

#include <cctype>
#include <cstring>

namespace ferret {
namespace {

// Length of the UTF-8 sequence starting with `lead` (1 for anything unexpected).
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    if (lead >= 0xE0) {
        return lead <= 0xEF ? 3 : 1;
    }
    return lead >= 0xC2 ? 2 : 1;
}

// Index just past the class that opens at `at` ("["), or npos when it does not close.
std::size_t SkipClass(std::string_view pattern, std::size_t at) {
    std::size_t i = at + 1;
    if (i < pattern.size() && pattern[i] == '^') {
        ++i;
    }
    for (; i < pattern.size(); ++i) {
        if (pattern[i] == '\\') {
            ++i;
        } else if (pattern[i] == ']') {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

// Index just past the group that opens at `at` ("("), or npos.
std::size_t SkipGroup(std::string_view pattern, std::size_t at) {
    int depth = 0;
    for (std::size_t i = at; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            ++i;
        } else if (c == '[') {
            i = SkipClass(pattern, i);
            if (i == std::string_view::npos) {
                return i;
            }
            --i;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

// When a quantifier starts at `at`: its end, and whether it allows zero repetitions.
bool ReadQuantifier(std::string_view pattern, std::size_t at, std::size_t& end, bool& optional) {
    if (at >= pattern.size()) {
        return false;
    }
    const char c = pattern[at];
    if (c == '*' || c == '?' || c == '+') {
        end = at + 1;
        optional = c != '+';
    } else if (c == '{') {
        std::size_t i = at + 1;
        std::size_t digits = 0;
        bool zero_minimum = true;
        while (i < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i]))) {
            zero_minimum = zero_minimum && pattern[i] == '0';
            ++i;
            ++digits;
        }
        if (digits == 0) {
            return false;  // "{" on its own is a plain character
        }
        if (i < pattern.size() && pattern[i] == ',') {
            ++i;
            while (i < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i]))) {
                ++i;
            }
        }
        if (i >= pattern.size() || pattern[i] != '}') {
            return false;
        }
        end = i + 1;
        optional = zero_minimum;
    } else {
        return false;
    }
    if (end < pattern.size() && (pattern[end] == '?' || pattern[end] == '+')) {
        ++end;  // lazy or possessive
    }
    return true;
}

}  // namespace

std::string RequiredLiteral(std::string_view pattern) {
    if (pattern.find("(?") != std::string_view::npos ||
        pattern.find("\\Q") != std::string_view::npos) {
        return {};
    }
    std::string best;
    std::string run;
    const auto end_run = [&] {
        if (run.size() > best.size()) {
            best = run;
        }
        run.clear();
    };
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        std::string atom;  // a plain character, or empty for anything else
        std::size_t next = i + 1;
        if (c == '\\') {
            if (i + 1 >= pattern.size()) {
                return {};
            }
            const char escaped = pattern[i + 1];
            next = i + 2;
            if (std::strchr("uxcpPkgNo", escaped) != nullptr) {
                return {};  // escapes with arguments: not worth reading
            }
            if (std::isdigit(static_cast<unsigned char>(escaped))) {
                while (next < pattern.size() &&
                       std::isdigit(static_cast<unsigned char>(pattern[next]))) {
                    ++next;  // a back-reference or an octal code
                }
            } else if (std::strchr(".*+?()[]{}|^$\\/-", escaped) != nullptr) {
                atom.assign(1, escaped);
            }
        } else if (c == '|') {
            return {};  // alternatives: nothing is required of every match
        } else if (c == '[') {
            next = SkipClass(pattern, i);
        } else if (c == '(') {
            next = SkipGroup(pattern, i);
        } else if (c == ')' || c == '.' || c == '^' || c == '$') {
            if (c == ')') {
                return {};
            }
        } else if ((c == '*' || c == '+' || c == '?') && i == 0) {
            return {};
        } else {
            next = i + SequenceLength(static_cast<unsigned char>(c));
            if (next > pattern.size()) {
                return {};
            }
            atom.assign(pattern.substr(i, next - i));
        }
        if (next == std::string_view::npos) {
            return {};
        }
        std::size_t after = next;
        bool optional = false;
        const bool quantified = ReadQuantifier(pattern, next, after, optional);
        if (atom.empty()) {
            end_run();
        } else if (quantified && optional) {
            end_run();
        } else {
            run += atom;
            if (quantified) {
                end_run();  // repeated: what follows is not next to it
            }
        }
        i = after;
    }
    end_run();
    return best;
}

bool MatchesWithinLines(std::string_view pattern) {
    // Escapes that stand for characters other than line feeds, in and out of classes. Digits are
    // not among them: "\012" is a line feed, and a back-reference repeats what its group took.
    constexpr const char* kSafeEscapes = "wdbBtf.*+?()[]{}|^$\\/-";
    if (pattern.find('\n') != std::string_view::npos ||
        pattern.find("(?") != std::string_view::npos) {
        return false;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            if (i + 1 >= pattern.size() || std::strchr(kSafeEscapes, pattern[i + 1]) == nullptr) {
                return false;
            }
            ++i;
        } else if (c == '[') {
            if (i + 1 < pattern.size() && pattern[i + 1] == '^') {
                return false;  // a negated class takes line feeds
            }
            std::size_t j = i + 1;
            if (j < pattern.size() && pattern[j] == ']') {
                ++j;  // "[]" matches nothing; "[]a]" is not read specially here
            }
            unsigned char previous = 0;
            for (; j < pattern.size() && pattern[j] != ']'; ++j) {
                const unsigned char d = static_cast<unsigned char>(pattern[j]);
                if (d == '\\') {
                    if (j + 1 >= pattern.size() ||
                        std::strchr(kSafeEscapes, pattern[j + 1]) == nullptr) {
                        return false;
                    }
                    previous = 1;  // an escape: a range from it is not read here
                    ++j;
                } else if (d == '-' && previous != 0 && j + 1 < pattern.size() &&
                           pattern[j + 1] != ']') {
                    const unsigned char high = static_cast<unsigned char>(pattern[j + 1]);
                    if (high == '\\' || previous == 1 || (previous <= '\n' && high >= '\n')) {
                        return false;  // a range over the line feed, or one not read here
                    }
                    previous = 0;
                    ++j;
                } else {
                    previous = d;
                }
            }
            if (j >= pattern.size()) {
                return false;
            }
            i = j;
        }
    }
    return true;
}

}  // namespace ferret
