#include "engine/regex.h"

#include "engine/ecma_pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

namespace ferret {
namespace {

constexpr char kSource[] = "ferret.RegExp";

// PCRE2_MATCH_INVALID_UTF is added only for JIT code; see Scan. A pattern starting with ".*"
// is not taken as anchored: after an invalid byte a match can start anywhere.
constexpr std::uint32_t kCompileOptions = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                                          PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY |
                                          PCRE2_NEVER_BACKSLASH_C | PCRE2_NO_DOTSTAR_ANCHOR;

// Limits per match attempt. They turn a catastrophic pattern into an error after a fraction of a
// second instead of a hang, and keep the interpreter's backtracking frames bounded.
constexpr std::uint32_t kMatchLimit = 10'000'000;
constexpr std::uint32_t kDepthLimit = 10'000'000;
constexpr std::uint32_t kHeapLimitKib = 256 * 1024;
constexpr PCRE2_SIZE kJitStackStart = 64 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 8 * 1024 * 1024;

std::string PcreMessage(int code) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (length < 0) {
        return "PCRE2 error " + std::to_string(code);
    }
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

Status SyntaxError(int code, std::size_t offset) {
    return Status::Error(kRegexErrorSyntax,
                         "Syntax error in regular expression: " + PcreMessage(code) +
                             " at offset " + std::to_string(offset),
                         kSource);
}

Status MatchError(int rc) {
    if (rc == PCRE2_ERROR_NOMEMORY) {
        return Status::Error(kRegexErrorOutOfMemory, "Out of memory: " + PcreMessage(rc), kSource);
    }
    return Status::Error(kRegexErrorTooComplex,
                         "Regular expression too complex for this text: " + PcreMessage(rc),
                         kSource);
}

Status OutOfMemory() {
    return Status::Error(kRegexErrorOutOfMemory, "Out of memory: result too large", kSource);
}

Status NotCompiled() {
    return Status::Error(kRegexErrorInvalidCall, "No regular expression compiled", kSource);
}

// The JIT stack is per thread: JIT code itself is shareable, its stack is not. The holder frees
// it when the thread ends. Null when it could not be made; PCRE2 then uses its small default.
pcre2_jit_stack* ThreadJitStack() {
    struct Holder {
        pcre2_jit_stack* stack = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
        Holder() = default;
        Holder(const Holder&) = delete;
        Holder& operator=(const Holder&) = delete;
        ~Holder() {
            if (stack != nullptr) {
                pcre2_jit_stack_free(stack);
            }
        }
    };
    thread_local Holder holder;
    return holder.stack;
}

// Length of the character at `pos`: the whole sequence when it is valid UTF-8 (as PCRE2 judges
// it: no overlongs, surrogates or code points past U+10FFFF), otherwise a single byte.
std::size_t CharLength(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    std::size_t length;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 1;
    }
    if (text.size() - pos < length) {
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 1;
        }
    }
    const unsigned char second = byte(1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
        return 1;
    }
    return length;
}

struct MatchDataFree {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct MatchContextFree {
    void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct CompileContextFree {
    void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};

// The match data and match context of the calling thread, made once and kept: a search that
// matches line by line would otherwise make and free both for every line. A scan inside a
// scan's callback (none does so today) gets fresh ones.
struct ThreadMatchState {
    std::unique_ptr<pcre2_match_data, MatchDataFree> data;
    std::unique_ptr<pcre2_match_context, MatchContextFree> context;
    bool busy = false;
};

// Match data and context for `code`, from the thread's cache when it is free (`busy` set until
// the caller is done) or made for this call alone (`own_data`, `own_context`).
bool MatchStateFor(const pcre2_code* code, ThreadMatchState*& cached,
                   std::unique_ptr<pcre2_match_data, MatchDataFree>& own_data,
                   std::unique_ptr<pcre2_match_context, MatchContextFree>& own_context,
                   pcre2_match_data*& data, pcre2_match_context*& context);

// End of the run of valid UTF-8 that starts at `from`: the position of the first invalid byte,
// or the end of the text.
std::size_t ValidRunEnd(std::string_view text, std::size_t from) {
    std::size_t i = from;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = CharLength(text, i);
        if (length == 1) {
            return i;
        }
        i += length;
    }
    return i;
}

// One match as PCRE2 reported it, its offsets relative to `base` in the text.
struct Found {
    const PCRE2_SIZE* ovector;
    std::uint32_t pairs;
    std::size_t base;

    std::size_t start() const { return base + ovector[0]; }
    std::size_t end() const { return base + ovector[1]; }
    // False when group `g` did not take part in the match.
    bool Group(std::uint32_t g, std::size_t& first, std::size_t& last) const {
        if (g >= pairs || ovector[2 * g] == PCRE2_UNSET) {
            return false;
        }
        first = base + ovector[2 * g];
        last = base + ovector[2 * g + 1];
        return true;
    }
};

bool MatchStateFor(const pcre2_code* code, ThreadMatchState*& cached,
                   std::unique_ptr<pcre2_match_data, MatchDataFree>& own_data,
                   std::unique_ptr<pcre2_match_context, MatchContextFree>& own_context,
                   pcre2_match_data*& data, pcre2_match_context*& context) {
    const auto make_context = [] {
        std::unique_ptr<pcre2_match_context, MatchContextFree> made(
            pcre2_match_context_create(nullptr));
        if (made) {
            pcre2_set_match_limit(made.get(), kMatchLimit);
            pcre2_set_depth_limit(made.get(), kDepthLimit);
            pcre2_set_heap_limit(made.get(), kHeapLimitKib);
            pcre2_jit_stack_assign(made.get(), nullptr, ThreadJitStack());
        }
        return made;
    };
    thread_local ThreadMatchState state;
    if (state.busy) {
        own_data.reset(pcre2_match_data_create_from_pattern(code, nullptr));
        own_context = make_context();
        data = own_data.get();
        context = own_context.get();
        return data != nullptr && context != nullptr;
    }
    std::uint32_t captures = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
    if (!state.data || pcre2_get_ovector_count(state.data.get()) < captures + 1) {
        state.data.reset(pcre2_match_data_create(captures + 1, nullptr));
    }
    if (!state.context) {
        state.context = make_context();
    }
    if (!state.data || !state.context) {
        return false;
    }
    state.busy = true;
    cached = &state;
    data = state.data.get();
    context = state.context.get();
    return true;
}

// The match data and context of one scan: the thread's own when they are free, else made for
// it; the thread's are free again when the scan ends.
class ScanState {
  public:
    explicit ScanState(const pcre2_code* code)
        : ok_(MatchStateFor(code, cached_, own_data_, own_context_, data_, context_)) {}
    ~ScanState() {
        if (cached_ != nullptr) {
            cached_->busy = false;
        }
    }
    ScanState(const ScanState&) = delete;
    ScanState& operator=(const ScanState&) = delete;

    bool ok() const { return ok_; }
    pcre2_match_data* data() const { return data_; }
    pcre2_match_context* context() const { return context_; }

  private:
    ThreadMatchState* cached_ = nullptr;
    std::unique_ptr<pcre2_match_data, MatchDataFree> own_data_;
    std::unique_ptr<pcre2_match_context, MatchContextFree> own_context_;
    pcre2_match_data* data_ = nullptr;  // the cached ones or own_data_ and own_context_
    pcre2_match_context* context_ = nullptr;
    const bool ok_;
};

// The options of a pcre2_match call on the run [run_start, run_end) of a text of `size` bytes,
// `options` given.
std::uint32_t RunOptions(bool whole_text, std::uint32_t options, std::size_t run_start,
                         std::size_t run_end, std::size_t size) {
    if (!whole_text) {
        // Run boundaries inside the text are not its start or end.
        options |= PCRE2_NO_UTF_CHECK | (run_start > 0 ? PCRE2_NOTBOL : 0u) |
                   (run_end < size ? PCRE2_NOTEOL : 0u);
    }
    return options;
}

// Walks the matches of `text` the way ECMAScript's global matching does; `on_match` receives
// each Found and returns false to stop.
//
// JIT code (compiled with PCRE2_MATCH_INVALID_UTF) gets the whole text and steps over invalid
// UTF-8 by itself. The interpreter's own handling of invalid UTF-8 rescans the rest of the text
// on every call, which is quadratic over many matches, so it is handed one run of valid UTF-8 at
// a time instead, each invalid byte acting as a barrier as it does for the JIT code. When
// `whole_text` is false the JIT code goes run by run too (see MatchRunByRun).
//
// Matching starts at `from`; `text_continues` says the real text goes on after `text`, so its
// end is not the end for "$".
//
// With `resume` (a window of a longer text, `text_continues`), a match that could go on past the
// window's end is not taken: the scan stops there and `resume` receives where it starts, or the
// window's end when no match can start in it any more.
template <typename OnMatch>
Status Scan(const pcre2_code* code, bool jit, bool whole_text, std::string_view text, bool global,
            OnMatch&& on_match, std::size_t from = 0, bool text_continues = false,
            bool starts_text = true, std::size_t* resume = nullptr) {
    (void)jit;  // the thread's JIT stack is in every match context
    const ScanState state(code);
    if (!state.ok()) {
        return MatchError(PCRE2_ERROR_NOMEMORY);
    }
    // PCRE2 10.42 refuses a null subject even when it is empty.
    const char* chars = text.data() != nullptr ? text.data() : "";
    const auto subject = reinterpret_cast<PCRE2_SPTR>(chars);
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(state.data());
    // A run of valid UTF-8 shorter than the shortest possible match is skipped unsearched, which
    // keeps binary texts, cut into many short runs, fast.
    std::uint32_t min_length = 0;
    pcre2_pattern_info(code, PCRE2_INFO_MINLENGTH, &min_length);
    // A window's text before `from` is the text's own: the pattern may look back at it.
    std::size_t run_start = whole_text || resume != nullptr ? 0 : from;
    std::size_t run_end = whole_text ? text.size() : ValidRunEnd(text, run_start);
    std::size_t pos = from;
    const bool partial = resume != nullptr && text_continues;
    const std::uint32_t end_option = text_continues && !partial ? PCRE2_NOTEOL : 0u;
    if (resume != nullptr) {
        *resume = text.size();
    }
    for (;;) {
        while (pos > run_end) {
            run_start = run_end + 1;
            run_end = ValidRunEnd(text, run_start);
        }
        // The run the window ends in goes on in the next one.
        const bool open_run = partial && run_end == text.size();
        const bool too_short = !whole_text && !open_run && run_end - pos < min_length;
        const std::uint32_t options =
            RunOptions(whole_text,
                       end_option | (run_start == 0 && !starts_text ? PCRE2_NOTBOL : 0u) |
                           (open_run ? PCRE2_PARTIAL_HARD : 0u),
                       run_start, run_end, text.size());
        const int rc = too_short
                           ? PCRE2_ERROR_NOMATCH
                           : pcre2_match(code, subject + run_start, run_end - run_start,
                                         pos - run_start, options, state.data(), state.context());
        if (rc == PCRE2_ERROR_PARTIAL) {
            *resume = run_start + ovector[0];
            break;
        }
        if (rc == PCRE2_ERROR_NOMATCH) {
            if (run_end >= text.size()) {
                break;
            }
            pos = run_end + 1;
            continue;
        }
        if (rc < 0) {
            return MatchError(rc);
        }
        const Found found{ovector, static_cast<std::uint32_t>(rc), run_start};
        const std::size_t start = found.start();
        const std::size_t end = found.end();
        if (end < start || start < pos) {
            // Only \K inside an assertion can do this, and it is not enabled.
            return MatchError(PCRE2_ERROR_INTERNAL);
        }
        if (open_run && end == text.size()) {
            // Complete here, but the text goes on: it is matched again with what follows.
            *resume = start;
            break;
        }
        if (!on_match(found) || !global) {
            break;
        }
        if (end == start && end == text.size()) {
            break;
        }
        // After an empty match the search goes on a character later.
        pos = end > start ? end : end + CharLength(text, end);
    }
    return {};
}

// True when JIT code must be given the text one run of valid UTF-8 at a time, as the interpreter
// is, and be compiled without PCRE2_MATCH_INVALID_UTF (the runs are valid), so that both engines
// give the same results:
// - \A, \z, \Z and \G look at the ends of the subject PCRE2 is given, and the "(*...)" verbs and
//   start-of-pattern items act over a whole call ("(*COMMIT)" fails the call, not one start
//   position); NOTBOL and NOTEOL settle only "^" and "$";
// - JIT code made with PCRE2_MATCH_INVALID_UTF misjudges \b and \B next to an invalid byte.
// Looking for the characters alone errs on the safe side: going run by run only costs time, and
// only for such patterns, so literal searches through binary files stay fast.
bool MatchRunByRun(std::string_view pattern) {
    if (pattern.find("(*") != std::string_view::npos) {
        return true;
    }
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '\\' &&
            std::string_view("AzZGbB").find(pattern[i + 1]) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// False when the JIT compiler of the PCRE2 we are built with is known to match `pattern`
// differently from the interpreter. Before 10.43 it gets groups wrong ("(x|)y*x" misses "x"),
// repeated back-references to unset groups (which stand for the empty text here), and, in code
// made for texts with invalid UTF-8, \W, \D and \S, which miss every non-ASCII character (PCRE2
// issues 224, 335, 336, 349). Such patterns use the interpreter; the common ones, without groups,
// keep the JIT's speed.
//
// Whatever the version, JIT code made for texts with invalid UTF-8 lets a negated class that
// ignores case take invalid bytes when one of its letters has more than one other case ("[^s]"
// for "sSſ", "[^k]", "[^σ]"): with case ignored, the user's negated classes use the interpreter.
// The classes the pattern reader writes hold no letters.
bool JitMatchesLikeTheInterpreter(std::string_view pattern, std::string_view written,
                                  bool ignore_case) {
    if (ignore_case && written.find("[^") != std::string_view::npos) {
        return false;
    }
#if PCRE2_MAJOR == 10 && PCRE2_MINOR < 43
    if (pattern.find('(') != std::string_view::npos) {
        return false;
    }
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '\\' &&
            std::string_view("123456789gkWDS").find(pattern[i + 1]) != std::string_view::npos) {
            return false;
        }
    }
#else
    (void)pattern;
#endif
    return true;
}

// One part of an expanded replacement.
struct Piece {
    enum class Kind { kLiteral, kGroup, kMatch, kBefore, kAfter };
    Kind kind;
    std::size_t offset = 0;  // kLiteral: into the replacement text
    std::size_t length = 0;
    std::uint32_t group = 0;  // kGroup
};

void AddLiteral(std::vector<Piece>& pieces, std::size_t offset, std::size_t length) {
    if (!pieces.empty() && pieces.back().kind == Piece::Kind::kLiteral &&
        pieces.back().offset + pieces.back().length == offset) {
        pieces.back().length += length;
    } else {
        pieces.push_back({Piece::Kind::kLiteral, offset, length});
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Splits the replacement by ECMAScript's GetSubstitution rules, once for all matches.
std::vector<Piece> ParseReplacement(std::string_view replacement, const pcre2_code* code,
                                    std::uint32_t groups, bool has_names) {
    std::vector<Piece> pieces;
    std::size_t i = 0;
    while (i < replacement.size()) {
        if (replacement[i] != '$' || i + 1 == replacement.size()) {
            AddLiteral(pieces, i, 1);
            ++i;
            continue;
        }
        const char next = replacement[i + 1];
        if (next == '$') {
            AddLiteral(pieces, i, 1);
            i += 2;
        } else if (next == '&') {
            pieces.push_back({Piece::Kind::kMatch});
            i += 2;
        } else if (next == '`') {
            pieces.push_back({Piece::Kind::kBefore});
            i += 2;
        } else if (next == '\'') {
            pieces.push_back({Piece::Kind::kAfter});
            i += 2;
        } else if (IsDigit(next)) {
            // Two digits when that group exists, else one digit and a literal second.
            std::uint32_t index = static_cast<std::uint32_t>(next - '0');
            std::size_t digits = 1;
            if (i + 2 < replacement.size() && IsDigit(replacement[i + 2])) {
                const std::uint32_t two =
                    index * 10 + static_cast<std::uint32_t>(replacement[i + 2] - '0');
                if (two <= groups) {
                    index = two;
                    digits = 2;
                }
            }
            if (index >= 1 && index <= groups) {
                pieces.push_back({Piece::Kind::kGroup, 0, 0, index});
                i += 1 + digits;
            } else {
                AddLiteral(pieces, i, 1);  // the digits follow as plain text
                ++i;
            }
        } else if (next == '<' && has_names) {
            const std::size_t close = replacement.find('>', i + 2);
            if (close == std::string_view::npos) {
                AddLiteral(pieces, i, 1);
                ++i;
                continue;
            }
            const std::string name(replacement.substr(i + 2, close - (i + 2)));
            const int number =
                pcre2_substring_number_from_name(code, reinterpret_cast<PCRE2_SPTR>(name.c_str()));
            if (number > 0) {
                pieces.push_back({Piece::Kind::kGroup, 0, 0, static_cast<std::uint32_t>(number)});
            }  // an unknown name expands to nothing
            i = close + 1;
        } else {
            AddLiteral(pieces, i, 1);
            ++i;
        }
    }
    return pieces;
}

// Appends what `found` in `text` expands `pieces` of `replacement` to.
void Expand(const std::vector<Piece>& pieces, std::string_view replacement, std::string_view text,
            const Found& found, std::string& out) {
    const std::size_t start = found.start();
    const std::size_t end = found.end();
    for (const Piece& piece : pieces) {
        switch (piece.kind) {
            case Piece::Kind::kLiteral:
                out.append(replacement.substr(piece.offset, piece.length));
                break;
            case Piece::Kind::kGroup: {
                std::size_t first = 0;
                std::size_t last = 0;
                if (found.Group(piece.group, first, last)) {
                    out.append(text.substr(first, last - first));
                }  // a group that did not take part gives nothing
                break;
            }
            case Piece::Kind::kMatch:
                out.append(text.substr(start, end - start));
                break;
            case Piece::Kind::kBefore:
                out.append(text.substr(0, start));
                break;
            case Piece::Kind::kAfter:
                out.append(text.substr(end));
                break;
        }
    }
}

}  // namespace

struct RegExp::Replacement::Pieces {
    std::vector<Piece> list;
};

RegExp::Replacement::Replacement(const RegExp& pattern, std::string_view text)
    : text_(text), pieces_(new Pieces) {
    if (pattern.code_) {
        pieces_->list =
            ParseReplacement(text_, pattern.code_.get(),
                             static_cast<std::uint32_t>(pattern.group_count_), pattern.has_names_);
    }
}

RegExp::Replacement::~Replacement() = default;

bool RegExp::Replacement::NeedsWholeText() const {
    return std::any_of(pieces_->list.begin(), pieces_->list.end(), [](const Piece& piece) {
        return piece.kind == Piece::Kind::kBefore || piece.kind == Piece::Kind::kAfter;
    });
}

void RegExp::CodeDeleter::operator()(pcre2_real_code_8* code) const {
    pcre2_code_free(code);
}

RegExp::RegExp() = default;
RegExp::~RegExp() = default;
RegExp::RegExp(RegExp&&) noexcept = default;
RegExp& RegExp::operator=(RegExp&&) noexcept = default;

Status RegExp::Compile(std::string_view pattern, bool ignore_case, Jit jit) {
    code_.reset();
    jit_ = false;
    whole_text_ = false;
    group_count_ = 0;
    has_names_ = false;

    std::unique_ptr<pcre2_compile_context, CompileContextFree> context(
        pcre2_compile_context_create(nullptr));
    if (!context) {
        return MatchError(PCRE2_ERROR_NOMEMORY);
    }
    // Pinned rather than left to how the library was built: only LF ends a line for ".".
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);

    const std::uint32_t options = kCompileOptions | (ignore_case ? PCRE2_CASELESS : 0u);
    // PCRE2 is given the pattern rewritten where its reading differs from ECMAScript's; its
    // complaints point at the user's own text.
    const PcrePattern translated = TranslateEcmaPattern(pattern);
    const auto chars = reinterpret_cast<PCRE2_SPTR>(translated.text.c_str());
    const PCRE2_SIZE length = translated.text.size();
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = nullptr;
    const bool by_runs = MatchRunByRun(translated.text);
    if (jit == Jit::kWhenAvailable &&
        JitMatchesLikeTheInterpreter(translated.text, pattern, ignore_case)) {
        code = pcre2_compile(chars, length, options | (by_runs ? 0u : PCRE2_MATCH_INVALID_UTF),
                             &error, &offset, context.get());
        if (code == nullptr) {
            return SyntaxError(error, translated.PatternOffset(offset));
        }
        // Without JIT (not built in, or executable memory refused) the interpreter gives the
        // same results, only slower.
        // A pattern starting with (*NO_JIT) compiles "successfully" to no JIT code at all.
        std::size_t jit_size = 0;
        // Partial matching too: a file is matched a window at a time.
        if (pcre2_jit_compile(code, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD) == 0 &&
            pcre2_pattern_info(code, PCRE2_INFO_JITSIZE, &jit_size) == 0 && jit_size > 0) {
            jit_ = true;
        } else {
            pcre2_code_free(code);
            code = nullptr;
        }
    }
    if (code == nullptr) {
        code = pcre2_compile(chars, length, options, &error, &offset, context.get());
        if (code == nullptr) {
            return SyntaxError(error, translated.PatternOffset(offset));
        }
    }
    code_.reset(code);
    whole_text_ = jit_ && !by_runs;

    std::uint32_t captures = 0;
    std::uint32_t names = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
    pcre2_pattern_info(code, PCRE2_INFO_NAMECOUNT, &names);
    group_count_ = static_cast<int>(captures);
    has_names_ = names > 0;
    // Characters of up to four bytes; a lookbehind inside a lookbehind may look further back than
    // the longest one, \b one character back.
    std::uint32_t behind = 0;
    pcre2_pattern_info(code, PCRE2_INFO_MAXLOOKBEHIND, &behind);
    look_behind_ = 4 * (4 * static_cast<std::size_t>(behind) + 1);
    return {};
}

bool RegExp::IsCompiled() const {
    return code_ != nullptr;
}

Status RegExp::Count(std::string_view text, std::int64_t& count) const {
    count = 0;
    if (!code_) {
        return NotCompiled();
    }
    std::int64_t found = 0;
    Status status = Scan(code_.get(), jit_, whole_text_, text, true, [&](const Found&) {
        ++found;
        return true;
    });
    if (status.ok()) {
        count = found;
    }
    return status;
}

Status RegExp::CountInRange(std::string_view text, std::size_t begin, std::size_t end,
                            std::int64_t& count, bool starts_text) const {
    count = 0;
    if (!code_) {
        return NotCompiled();
    }
    if (begin > end || end > text.size()) {
        return Status::Error(kRegexErrorInvalidCall, "Invalid range for a regular expression",
                             "ferret.RegExp");
    }
    std::int64_t found = 0;
    Status status = Scan(
        code_.get(), jit_, whole_text_, text.substr(0, end), true,
        [&](const Found&) {
            ++found;
            return true;
        },
        begin, end < text.size(), starts_text);
    if (status.ok()) {
        count = found;
    }
    return status;
}

Status RegExp::ForEachMatchInRange(std::string_view text, std::size_t begin, std::size_t end,
                                   bool starts_text,
                                   const std::function<bool(const RegexMatch&)>& on_match) const {
    if (!code_ || !on_match) {
        return NotCompiled();
    }
    if (begin > end || end > text.size()) {
        return Status::Error(kRegexErrorInvalidCall, "Invalid range for a regular expression",
                             kSource);
    }
    return Scan(
        code_.get(), jit_, whole_text_, text.substr(0, end), true,
        [&](const Found& found) {
            return on_match(RegexMatch{found.start(), found.end() - found.start()});
        },
        begin, end < text.size(), starts_text);
}

Status RegExp::MatchWindow(std::string_view window, std::size_t from, bool starts_text, bool at_end,
                           const std::function<bool(const RegexMatch&)>& on_match,
                           std::size_t& resume) const {
    resume = window.size();
    if (!code_ || !on_match) {
        return NotCompiled();
    }
    return Scan(
        code_.get(), jit_, whole_text_, window, true,
        [&](const Found& found) {
            return on_match(RegexMatch{found.start(), found.end() - found.start()});
        },
        from, !at_end, starts_text, &resume);
}

namespace {

// Appends text[from, stop) to `out` with each match in it replaced by `pieces` of `replacement`;
// `stop` is where a window's scan stops (`resume`, when given), else the text's end. Scan's
// other arguments as there.
Status ReplaceScan(const pcre2_code* code, bool jit, bool whole_text, std::string_view text,
                   std::size_t from, bool text_continues, bool starts_text, std::size_t* resume,
                   const std::vector<Piece>& pieces, std::string_view replacement, std::string& out,
                   std::int64_t& replaced,
                   const std::function<void(std::size_t, const TextEdit&)>& on_match) {
    std::size_t copied = from;
    Status status = Scan(
        code, jit, whole_text, text, true,
        [&](const Found& found) {
            const std::size_t start = found.start();
            out.append(text.substr(copied, start - copied));
            const std::size_t piece_start = out.size();
            Expand(pieces, replacement, text, found, out);
            if (on_match) {
                on_match(piece_start, {start, found.end(), out.substr(piece_start)});
            }
            copied = found.end();
            ++replaced;
            return true;
        },
        from, text_continues, starts_text, resume);
    const std::size_t stop = resume != nullptr ? *resume : text.size();
    if (status.ok() && stop > copied) {
        out.append(text.substr(copied, stop - copied));
    }
    return status;
}

}  // namespace

Status RegExp::ReplaceWindow(
    std::string_view window, std::size_t from, bool starts_text, bool at_end,
    const Replacement& replacement, std::string& out, std::int64_t& replaced, std::size_t& resume,
    const std::function<void(std::size_t, const TextEdit&)>& on_match) const {
    resume = window.size();
    if (!code_) {
        return NotCompiled();
    }
    return ReplaceScan(code_.get(), jit_, whole_text_, window, from, !at_end, starts_text, &resume,
                       replacement.pieces_->list, replacement.text_, out, replaced, on_match);
}

Status RegExp::ReplaceInRange(
    std::string_view text, std::size_t begin, std::size_t end, bool starts_text,
    const Replacement& replacement, std::string& out, std::int64_t& replaced,
    const std::function<void(std::size_t, const TextEdit&)>& on_match) const {
    if (!code_) {
        return NotCompiled();
    }
    if (begin > end || end > text.size()) {
        return Status::Error(kRegexErrorInvalidCall, "Invalid range for a regular expression",
                             kSource);
    }
    return ReplaceScan(code_.get(), jit_, whole_text_, text.substr(0, end), begin,
                       end < text.size(), starts_text, nullptr, replacement.pieces_->list,
                       replacement.text_, out, replaced, on_match);
}

Status RegExp::Execute(std::string_view text, std::vector<RegexMatch>& matches) const {
    matches.clear();
    if (!code_) {
        return NotCompiled();
    }
    try {
        Status status = Scan(code_.get(), jit_, whole_text_, text, true, [&](const Found& found) {
            matches.push_back({found.start(), found.end() - found.start()});
            return true;
        });
        if (!status.ok()) {
            matches.clear();
        }
        return status;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    matches.clear();
    matches.shrink_to_fit();
    return OutOfMemory();
}

Status RegExp::ForEachMatch(std::string_view text,
                            const std::function<bool(const RegexMatch&)>& on_match) const {
    if (!code_ || !on_match) {
        return NotCompiled();
    }
    return Scan(code_.get(), jit_, whole_text_, text, true, [&](const Found& found) {
        return on_match(RegexMatch{found.start(), found.end() - found.start()});
    });
}

Status RegExp::Replace(std::string_view text, std::string_view replacement, bool global,
                       std::string& result, std::int64_t& replaced,
                       std::vector<std::size_t>* starts, std::vector<TextEdit>* edits) const {
    result.clear();
    replaced = 0;
    if (starts != nullptr) {
        starts->clear();
    }
    if (edits != nullptr) {
        edits->clear();
    }
    if (!code_) {
        return NotCompiled();
    }
    try {
        const std::vector<Piece> pieces = ParseReplacement(
            replacement, code_.get(), static_cast<std::uint32_t>(group_count_), has_names_);
        std::string out;
        std::int64_t count = 0;
        std::size_t copied = 0;  // end of the text already in `out`
        Status status = Scan(code_.get(), jit_, whole_text_, text, global, [&](const Found& found) {
            const std::size_t start = found.start();
            const std::size_t end = found.end();
            if (count == 0) {
                out.reserve(text.size());
            }
            out.append(text.substr(copied, start - copied));
            const std::size_t piece_start = out.size();
            if (starts != nullptr) {
                starts->push_back(piece_start);
            }
            Expand(pieces, replacement, text, found, out);
            if (edits != nullptr) {
                edits->push_back({start, end, out.substr(piece_start)});
            }
            copied = end;
            ++count;
            return true;
        });
        if (!status.ok()) {
            return status;
        }
        out.append(text.substr(copied));
        result = std::move(out);
        replaced = count;
        return {};
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    result.clear();
    result.shrink_to_fit();
    return OutOfMemory();
}

}  // namespace ferret
