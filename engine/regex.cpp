#include "engine/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <new>
#include <stdexcept>
#include <utility>

namespace ferret {
namespace {

constexpr char kSource[] = "ferret.RegExp";

constexpr std::uint32_t kCompileOptions = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_ALT_BSUX |
                                          PCRE2_ALLOW_EMPTY_CLASS | PCRE2_MATCH_UNSET_BACKREF |
                                          PCRE2_DOLLAR_ENDONLY | PCRE2_NEVER_BACKSLASH_C;

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

Status SyntaxError(int code, PCRE2_SIZE offset) {
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

// Walks the matches of `text` the way ECMAScript's global matching does. `on_match` receives
// the ovector and the number of pairs set, and returns false to stop.
template <typename OnMatch>
Status Scan(const pcre2_code* code, bool jit, std::string_view text, bool global,
            OnMatch&& on_match) {
    std::unique_ptr<pcre2_match_data, MatchDataFree> data(
        pcre2_match_data_create_from_pattern(code, nullptr));
    std::unique_ptr<pcre2_match_context, MatchContextFree> context(
        pcre2_match_context_create(nullptr));
    if (!data || !context) {
        return MatchError(PCRE2_ERROR_NOMEMORY);
    }
    pcre2_set_match_limit(context.get(), kMatchLimit);
    pcre2_set_depth_limit(context.get(), kDepthLimit);
    pcre2_set_heap_limit(context.get(), kHeapLimitKib);
    if (jit) {
        pcre2_jit_stack_assign(context.get(), nullptr, ThreadJitStack());
    }

    // PCRE2 10.42 refuses a null subject even when it is empty.
    const char* chars = text.data() != nullptr ? text.data() : "";
    const auto subject = reinterpret_cast<PCRE2_SPTR>(chars);
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    std::size_t pos = 0;
    while (pos <= text.size()) {
        int rc = pcre2_match(code, subject, text.size(), pos, 0, data.get(), context.get());
        if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
            // The interpreter keeps its frames on the heap, which may go further.
            rc = pcre2_match(code, subject, text.size(), pos, PCRE2_NO_JIT, data.get(),
                             context.get());
        }
        if (rc == PCRE2_ERROR_NOMATCH) {
            break;
        }
        if (rc < 0) {
            return MatchError(rc);
        }
        const std::size_t start = ovector[0];
        const std::size_t end = ovector[1];
        if (end < start || start < pos) {
            // Only \K inside an assertion can do this, and it is not enabled.
            return MatchError(PCRE2_ERROR_INTERNAL);
        }
        if (!on_match(ovector, rc) || !global) {
            break;
        }
        if (end > start) {
            pos = end;
        } else if (end < text.size()) {
            pos = end + CharLength(text, end);
        } else {
            break;
        }
    }
    return {};
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

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

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

}  // namespace

void RegExp::CodeDeleter::operator()(pcre2_real_code_8* code) const { pcre2_code_free(code); }

RegExp::RegExp() = default;
RegExp::~RegExp() = default;
RegExp::RegExp(RegExp&&) noexcept = default;
RegExp& RegExp::operator=(RegExp&&) noexcept = default;

Status RegExp::Compile(std::string_view pattern, bool ignore_case, Jit jit) {
    code_.reset();
    jit_ = false;
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
    const char* chars = pattern.data() != nullptr ? pattern.data() : "";
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(chars), pattern.size(), options,
                                     &error, &offset, context.get());
    if (code == nullptr) {
        return SyntaxError(error, offset);
    }
    code_.reset(code);

    // Without JIT (not built in, or executable memory refused) the interpreter gives the same
    // results, only slower.
    jit_ = jit == Jit::kWhenAvailable && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0;

    std::uint32_t captures = 0;
    std::uint32_t names = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
    pcre2_pattern_info(code, PCRE2_INFO_NAMECOUNT, &names);
    group_count_ = static_cast<int>(captures);
    has_names_ = names > 0;
    return {};
}

bool RegExp::IsCompiled() const { return code_ != nullptr; }

Status RegExp::Count(std::string_view text, std::int64_t& count) const {
    count = 0;
    if (!code_) {
        return NotCompiled();
    }
    std::int64_t found = 0;
    Status status = Scan(code_.get(), jit_, text, true, [&](const PCRE2_SIZE*, int) {
        ++found;
        return true;
    });
    if (status.ok()) {
        count = found;
    }
    return status;
}

Status RegExp::Execute(std::string_view text, std::vector<RegexMatch>& matches) const {
    matches.clear();
    if (!code_) {
        return NotCompiled();
    }
    try {
        Status status = Scan(code_.get(), jit_, text, true, [&](const PCRE2_SIZE* ovector, int) {
            matches.push_back({ovector[0], ovector[1] - ovector[0]});
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
    if (!code_) {
        return NotCompiled();
    }
    return Scan(code_.get(), jit_, text, true, [&](const PCRE2_SIZE* ovector, int) {
        return on_match(RegexMatch{ovector[0], ovector[1] - ovector[0]});
    });
}

Status RegExp::Replace(std::string_view text, std::string_view replacement, bool global,
                       std::string& result, std::int64_t& replaced) const {
    result.clear();
    replaced = 0;
    if (!code_) {
        return NotCompiled();
    }
    try {
        const std::vector<Piece> pieces = ParseReplacement(
            replacement, code_.get(), static_cast<std::uint32_t>(group_count_), has_names_);
        std::string out;
        std::int64_t count = 0;
        std::size_t copied = 0;  // end of the text already in `out`
        Status status =
            Scan(code_.get(), jit_, text, global, [&](const PCRE2_SIZE* ovector, int pairs) {
                const std::size_t start = ovector[0];
                const std::size_t end = ovector[1];
                if (count == 0) {
                    out.reserve(text.size());
                }
                out.append(text.substr(copied, start - copied));
                for (const Piece& piece : pieces) {
                    switch (piece.kind) {
                        case Piece::Kind::kLiteral:
                            out.append(replacement.substr(piece.offset, piece.length));
                            break;
                        case Piece::Kind::kGroup: {
                            const std::size_t g = piece.group;
                            if (g < static_cast<std::size_t>(pairs) &&
                                ovector[2 * g] != PCRE2_UNSET) {
                                out.append(
                                    text.substr(ovector[2 * g], ovector[2 * g + 1] - ovector[2 * g]));
                            }
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
