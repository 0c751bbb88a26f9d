// Pattern compilation, matching and the replacement expander on generated patterns, replacements
// and texts, run with JIT code and with the interpreter.
//
// Input: pattern, replacement and text (FuzzedDataProvider strings, each ended by a backslash and
// one more character, a doubled backslash standing for one), the flags in the last byte.
// Properties, for each engine:
// - Count equals the number of matches Execute lists, and CountInRange over the whole text too;
// - the matches are in order, do not overlap, advance after an empty match, and each is whole
//   valid UTF-8 (invalid UTF-8 never matches and no match spans it);
// - Replace counts what Count counts (at most one when not global); "$&" gives the text back;
//   the bytes outside the matches are copied exactly, checked against a rebuild from Execute's
//   matches (fully when the replacement's "$" sequences need no group, else the text before the
//   first and after the last match);
// and both engines agree on everything, error or not, except when either hits a limit.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/regex.h"
#include "fuzz/fuzz_support.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

using fuzz::Printable;

// What one engine made of the input.
struct Outcome {
    bool compiled = false;
    bool limited = false;  // a match limit was hit: the engines may differ
    std::vector<RegexMatch> matches;
    std::string replaced_global;
    std::string replaced_first;
};

std::string Show(const std::vector<RegexMatch>& matches) {
    std::string out;
    for (const RegexMatch& m : matches) {
        out += std::to_string(m.first_index) + "+" + std::to_string(m.length) + " ";
    }
    return out;
}

// The replacement for one match by the expansion rules, when it needs no capture group: "$$",
// "$&", "$`", "$'", and any other "$" as itself. Nothing when a group reference could apply.
std::optional<std::string> ExpandWithoutGroups(std::string_view replacement, std::string_view text,
                                               const RegexMatch& m, int groups) {
    std::string out;
    for (std::size_t i = 0; i < replacement.size(); ++i) {
        if (replacement[i] != '$' || i + 1 == replacement.size()) {
            out.push_back(replacement[i]);
            continue;
        }
        const char next = replacement[i + 1];
        if (next == '$') {
            out.push_back('$');
        } else if (next == '&') {
            out.append(text.substr(m.first_index, m.length));
        } else if (next == '`') {
            out.append(text.substr(0, m.first_index));
        } else if (next == '\'') {
            out.append(text.substr(m.first_index + m.length));
        } else if (groups > 0 && ((next >= '0' && next <= '9') || next == '<')) {
            return std::nullopt;
        } else {
            out.push_back('$');
            continue;  // the next character is read on its own
        }
        ++i;
    }
    return out;
}

// The text with the first `count` matches replaced by `expand(match)`.
template <typename Expand>
std::optional<std::string> Rebuild(std::string_view text, const std::vector<RegexMatch>& matches,
                                   std::size_t count, Expand expand) {
    std::string out;
    std::size_t copied = 0;
    for (std::size_t i = 0; i < count && i < matches.size(); ++i) {
        const RegexMatch& m = matches[i];
        out.append(text.substr(copied, m.first_index - copied));
        const std::optional<std::string> piece = expand(m);
        if (!piece) {
            return std::nullopt;
        }
        out += *piece;
        copied = m.first_index + m.length;
    }
    out.append(text.substr(copied));
    return out;
}

Outcome Run(RegExp::Jit jit, std::string_view pattern, bool ignore_case,
            std::string_view replacement, std::string_view text, const std::string& where) {
    Outcome outcome;
    RegExp re;
    const Status compiled = re.Compile(pattern, ignore_case, jit);
    outcome.compiled = compiled.ok();
    FUZZ_CHECK(compiled.ok() == re.IsCompiled(), where);
    if (!compiled.ok()) {
        FUZZ_CHECK(compiled.number() == kRegexErrorSyntax, compiled.description() + "\n" + where);
        return outcome;
    }
    if (jit == RegExp::Jit::kOff) {
        FUZZ_CHECK(!re.UsesJit(), where);
    }
    const std::string engine = re.UsesJit() ? "jit: " : "interpreter: ";

    std::int64_t count = -1;
    const Status counted = re.Count(text, count);
    if (!counted.ok()) {
        FUZZ_CHECK(
            counted.number() == kRegexErrorTooComplex || counted.number() == kRegexErrorOutOfMemory,
            engine + counted.description() + "\n" + where);
        outcome.limited = true;
        return outcome;  // the other calls would only hit the same limit
    }
    const Status executed = re.Execute(text, outcome.matches);
    FUZZ_CHECK(executed.ok(), engine + "Count succeeded, Execute failed: " +
                                  executed.description() + "\n" + where);
    const std::vector<RegexMatch>& matches = outcome.matches;
    FUZZ_CHECK(
        count == static_cast<std::int64_t>(matches.size()),
        engine + "Count " + std::to_string(count) + ", Execute " + Show(matches) + "\n" + where);
    std::int64_t in_range = -1;
    FUZZ_CHECK(re.CountInRange(text, 0, text.size(), in_range).ok() && in_range == count,
               engine + "CountInRange " + std::to_string(in_range) + "\n" + where);

    for (std::size_t i = 0; i < matches.size(); ++i) {
        const RegexMatch& m = matches[i];
        FUZZ_CHECK(m.first_index <= text.size() && m.length <= text.size() - m.first_index,
                   engine + "match outside the text: " + Show(matches) + "\n" + where);
        if (i > 0) {
            const RegexMatch& prev = matches[i - 1];
            FUZZ_CHECK(m.first_index >= prev.first_index + prev.length &&
                           (prev.length > 0 || m.first_index > prev.first_index),
                       engine + "matches overlap or stand still: " + Show(matches) + "\n" + where);
        }
        FUZZ_CHECK(fuzz::IsValidUtf8(text.substr(m.first_index, m.length)),
                   engine + "a match holds invalid UTF-8: " + Show(matches) + "\n" + where);
    }

    std::string result;
    std::int64_t replaced = -1;
    FUZZ_CHECK(re.Replace(text, "$&", true, result, replaced).ok(), engine + where);
    FUZZ_CHECK(result == text && replaced == count,
               engine + "\"$&\" gave " + Printable(result) + "\n" + where);

    FUZZ_CHECK(re.Replace(text, "<>", true, result, replaced).ok(), engine + where);
    const auto literal = [](const RegexMatch&) { return std::optional<std::string>("<>"); };
    FUZZ_CHECK(result == Rebuild(text, matches, matches.size(), literal),
               engine + "literal replacement gave " + Printable(result) + "\n" + where);

    const int groups = re.GroupCount();
    const auto expand = [&](const RegexMatch& m) {
        return ExpandWithoutGroups(replacement, text, m, groups);
    };
    for (const bool global : {true, false}) {
        const Status status = re.Replace(text, replacement, global, result, replaced);
        FUZZ_CHECK(status.ok(), engine + status.description() + "\n" + where);
        const std::size_t expected_count =
            global ? matches.size() : std::min<std::size_t>(1, matches.size());
        FUZZ_CHECK(replaced == static_cast<std::int64_t>(expected_count),
                   engine + "Replace counted " + std::to_string(replaced) + " global " +
                       std::to_string(global) + "\n" + where);
        if (const std::optional<std::string> rebuilt =
                Rebuild(text, matches, expected_count, expand)) {
            FUZZ_CHECK(result == *rebuilt, engine + "global " + std::to_string(global) +
                                               " replaced to " + Printable(result) + ", rebuilt " +
                                               Printable(*rebuilt) + "\n" + where);
        } else if (expected_count > 0) {
            const std::size_t head = matches.front().first_index;
            const RegexMatch& last = matches[expected_count - 1];
            const std::string_view tail = text.substr(last.first_index + last.length);
            FUZZ_CHECK(
                result.size() >= head + tail.size() &&
                    std::string_view(result).substr(0, head) == text.substr(0, head) &&
                    std::string_view(result).substr(result.size() - tail.size()) == tail,
                engine + "bytes outside the matches changed: " + Printable(result) + "\n" + where);
        }
        (global ? outcome.replaced_global : outcome.replaced_first) = result;
    }
    return outcome;
}

}  // namespace
}  // namespace ferret

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferret;
    FuzzedDataProvider input(data, size);
    const std::uint8_t flags = size > 0 ? input.ConsumeIntegral<std::uint8_t>() : 0;
    const bool ignore_case = (flags & 1) != 0;
    const std::string pattern = input.ConsumeRandomLengthString(128);
    const std::string replacement = input.ConsumeRandomLengthString(64);
    const std::string text = input.ConsumeRemainingBytesAsString();
    const std::string where = "pattern " + Printable(pattern) + " ignore case " +
                              std::to_string(ignore_case) + " replacement " +
                              Printable(replacement) + " text " + Printable(text);

    const Outcome jit =
        Run(RegExp::Jit::kWhenAvailable, pattern, ignore_case, replacement, text, where);
    const Outcome interpreter =
        Run(RegExp::Jit::kOff, pattern, ignore_case, replacement, text, where);
    FUZZ_CHECK(jit.compiled == interpreter.compiled, "only one engine compiled it\n" + where);
    if (jit.limited || interpreter.limited) {
        return 0;
    }
    FUZZ_CHECK(
        jit.matches.size() == interpreter.matches.size() &&
            std::equal(jit.matches.begin(), jit.matches.end(), interpreter.matches.begin(),
                       [](const RegexMatch& a, const RegexMatch& b) {
                           return a.first_index == b.first_index && a.length == b.length;
                       }),
        "jit " + Show(jit.matches) + ", interpreter " + Show(interpreter.matches) + "\n" + where);
    FUZZ_CHECK(jit.replaced_global == interpreter.replaced_global &&
                   jit.replaced_first == interpreter.replaced_first,
               "replacements differ: jit " + Printable(jit.replaced_global) + ", interpreter " +
                   Printable(interpreter.replaced_global) + "\n" + where);
    return 0;
}
