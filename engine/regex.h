#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/text_edit.h"
#include "util/status.h"

struct pcre2_real_code_8;

namespace ferret {

// The longest match a pattern is followed through by default (RegExp::LongestMatch).
inline constexpr std::uint64_t kLongestMatch = std::uint64_t{64} << 20;

// Status numbers; 5017 is the old component's own number for a rejected pattern.
inline constexpr int kRegexErrorInvalidCall = 5;    // no pattern compiled
inline constexpr int kRegexErrorOutOfMemory = 7;    // a result too big to hold
inline constexpr int kRegexErrorSyntax = 5017;      // pattern rejected
inline constexpr int kRegexErrorTooComplex = 5019;  // match, depth, heap or JIT stack limit hit

struct RegexMatch {
    std::size_t first_index;  // byte offset into the text
    std::size_t length;       // in bytes
};

// A regular expression with ECMAScript grammar and behaviour, on PCRE2 in UTF-8 mode; the
// pattern is rewritten where PCRE2 reads it differently (engine/ecma_pattern.h).
//
// - Patterns are UTF-8; one that is not valid UTF-8 is rejected (5017). Texts are any bytes:
//   invalid UTF-8 never matches anything (not even "." or "[^]"), so no match spans it, and a
//   match may start right after it.
// - "^" and "$" match only at the very start and end of the whole text (no multi-line mode; "$"
//   does not match before a final line end). "." matches no line terminator (LF, CR, U+2028,
//   U+2029), so a CR before an LF is never taken by ".*".
// - \uHHHH and \xHH, "[]" (matches nothing), "[^]" (matches any character), and a
//   back-reference to a group that did not take part matches the empty text. A digit escape is
//   a back-reference when there is such a group, else an octal code.
// - Ignoring case folds Unicode letters too ("é" matches "É"). \w, \d and \b are ASCII; \s is
//   ECMAScript's white space (Unicode spaces, U+FEFF and the line terminators).
// - Groups inside a repeated group are reset on each repetition ("(?:(a)|b)+" on "ab" leaves
//   group 1 empty).
// - Global iteration: matches do not overlap; after an empty match the search resumes one
//   character later (one byte over invalid UTF-8).
// - PCRE2's own \A, \z, \Z and \G, and its "(*...)" verbs such as (*COMMIT), take each run of
//   valid UTF-8 between invalid bytes as a text of its own (the whole text when it is valid).
//
// Once compiled, a RegExp is read-only: several threads may match different texts with the same
// object at once. Per-match state lives in each call; the JIT stack is per thread. Compile must
// not run while another thread is matching with the same object.
class RegExp {
  public:
    enum class Jit { kWhenAvailable, kOff };

    RegExp();
    ~RegExp();
    RegExp(RegExp&&) noexcept;
    RegExp& operator=(RegExp&&) noexcept;
    RegExp(const RegExp&) = delete;
    RegExp& operator=(const RegExp&) = delete;

    // Compiles `pattern`. On failure the object holds no pattern and the Status carries 5017 and
    // a description naming the problem and its byte offset.
    [[nodiscard]] Status Compile(std::string_view pattern, bool ignore_case,
                                 Jit jit = Jit::kWhenAvailable);
    bool IsCompiled() const;
    // True when matching runs JIT-compiled code.
    bool UsesJit() const { return jit_; }
    // Number of capture groups in the pattern.
    int GroupCount() const { return group_count_; }

    // Number of successive non-overlapping matches in `text` ("aa" in "aaaa" gives 2).
    [[nodiscard]] Status Count(std::string_view text, std::int64_t& count) const;
    // The matches that start in text[begin, end), the text after `end` left out: for a pattern
    // that cannot match across a line end, counting line by line. `begin` is 0 or follows a line
    // end (the interpreter does not look before it); "^" matches only at offset 0 and "$" only
    // at the real end of `text`. With `starts_text` false, `text` is a piece of a longer text
    // that begins at a line start: "^" does not match at its offset 0 either.
    [[nodiscard]] Status CountInRange(std::string_view text, std::size_t begin, std::size_t end,
                                      std::int64_t& count, bool starts_text = true) const;

    // The same calling `on_match` for each of those matches in order; returning false stops.
    [[nodiscard]] Status ForEachMatchInRange(
        std::string_view text, std::size_t begin, std::size_t end, bool starts_text,
        const std::function<bool(const RegexMatch&)>& on_match) const;

    // The matches of a text given a window at a time (a file read a block at a time): calls
    // `on_match` for each match in `window` from `from` on. Unless `at_end` (the text ends with
    // the window), a match that could go on past the window's end is left for the next window,
    // which must hold the text from `resume` on: where that match starts, or the window's end.
    // It should also hold the LookBehind() bytes before `resume`, which the pattern may look at.
    // `starts_text`: window[0] is the start of the whole text. A window should not end inside
    // a character.
    [[nodiscard]] Status MatchWindow(std::string_view window, std::size_t from, bool starts_text,
                                     bool at_end,
                                     const std::function<bool(const RegexMatch&)>& on_match,
                                     std::size_t& resume) const;
    // Bytes before a match's start that matching it may look at, at most: what a window keeps
    // in front of where the next one resumes.
    std::size_t LookBehind() const { return look_behind_; }
    // How far a match is followed as a text is matched a window at a time, and how much of a
    // text that must be matched whole is (kLongestMatch unless set): a file past it is told,
    // not read whole.
    void SetLongestMatch(std::uint64_t bytes) { longest_match_ = bytes; }
    std::uint64_t LongestMatch() const { return longest_match_; }

    // A replacement text split once into what each match expands to (see Replace).
    class Replacement {
      public:
        Replacement(const RegExp& pattern, std::string_view text);
        ~Replacement();
        Replacement(const Replacement&) = delete;
        Replacement& operator=(const Replacement&) = delete;
        // It takes the text before or after a match ("$`", "$'"): only a whole text has them.
        bool NeedsWholeText() const;

      private:
        friend class RegExp;
        struct Pieces;
        const std::string text_;
        std::unique_ptr<Pieces> pieces_;
    };
    // MatchWindow for a replace: appends to `out` the window's text from `from` to `resume` with
    // each match in it replaced by `replacement`, and adds the replacements to `replaced`.
    // `on_match`, when given, receives each match's place in `out` and what it was replaced with.
    [[nodiscard]] Status ReplaceWindow(
        std::string_view window, std::size_t from, bool starts_text, bool at_end,
        const Replacement& replacement, std::string& out, std::int64_t& replaced,
        std::size_t& resume,
        const std::function<void(std::size_t at_in_out, const TextEdit& edit)>& on_match = {})
        const;

    // ReplaceWindow for the matches that start in text[begin, end) (as CountInRange), appending
    // that part of the text, replaced, to `out`.
    [[nodiscard]] Status ReplaceInRange(
        std::string_view text, std::size_t begin, std::size_t end, bool starts_text,
        const Replacement& replacement, std::string& out, std::int64_t& replaced,
        const std::function<void(std::size_t at_in_out, const TextEdit& edit)>& on_match = {})
        const;

    // Every match in order.
    [[nodiscard]] Status Execute(std::string_view text, std::vector<RegexMatch>& matches) const;
    // Calls `on_match` for each match in order; returning false stops. The text is not copied.
    [[nodiscard]] Status ForEachMatch(std::string_view text,
                                      const std::function<bool(const RegexMatch&)>& on_match) const;
    // `text` with every match (or only the first when `global` is false) replaced by
    // `replacement` with its "$" sequences expanded: "$$", "$&", "$`", "$'", "$1".."$99" and,
    // when the pattern names groups, "$<name>". Bytes outside the matches are copied exactly.
    // `replaced` receives the number of replacements, `starts`, when given, where each
    // replacement starts in `result`, and `edits` each replacement as an edit of `text`.
    [[nodiscard]] Status Replace(std::string_view text, std::string_view replacement, bool global,
                                 std::string& result, std::int64_t& replaced,
                                 std::vector<std::size_t>* starts = nullptr,
                                 std::vector<TextEdit>* edits = nullptr) const;

  private:
    struct CodeDeleter {
        void operator()(pcre2_real_code_8* code) const;
    };
    std::unique_ptr<pcre2_real_code_8, CodeDeleter> code_;
    bool jit_ = false;
    bool whole_text_ = false;  // JIT code is given the whole text rather than run by run
    int group_count_ = 0;
    bool has_names_ = false;
    std::size_t look_behind_ = 0;
    std::uint64_t longest_match_ = kLongestMatch;
};

}  // namespace ferret
