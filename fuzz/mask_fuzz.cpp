// The file-name mask matcher against a plain reference of its rules.
//
// The rules, as the matcher documents them: the mask is cut at every ";"; spaces before a
// pattern are skipped; an empty pattern matches nothing; the pattern "*.*" matches every name;
// otherwise "*" matches any run of characters (none included) and "?" exactly one character,
// and the rest compare as characters folded by simple case folding, a byte that is not valid
// UTF-8 being one character equal only to itself. Names are never empty (they are file names).
//
// The reference matches with a dynamic-programming table, so it shares nothing with the
// matcher's backtracking. Any disagreement aborts. The name is also matched with its ASCII
// letters swapped in case, which must not change the answer.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/mask_match.h"
#include "fuzz/fuzz_support.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

using fuzz::Printable;

bool GlobByTable(const std::u32string& pattern, const std::u32string& name) {
    // reach[j]: pattern[0, i) matches name[0, j).
    std::vector<char> reach(name.size() + 1, 0);
    reach[0] = 1;
    for (const char32_t p : pattern) {
        std::vector<char> next(name.size() + 1, 0);
        if (p == U'*') {
            char any = 0;
            for (std::size_t j = 0; j <= name.size(); ++j) {
                any = any || reach[j];
                next[j] = any;
            }
        } else {
            for (std::size_t j = 1; j <= name.size(); ++j) {
                next[j] = reach[j - 1] && (p == U'?' || p == name[j - 1]);
            }
        }
        reach.swap(next);
    }
    return reach[name.size()] != 0;
}

bool ReferenceMatch(std::string_view name, std::string_view mask) {
    const std::u32string folded_name = FoldedCodePoints(name);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = mask.find(';', start);
        std::string_view pattern = mask.substr(start, end == mask.npos ? mask.npos : end - start);
        while (!pattern.empty() && pattern.front() == ' ') {
            pattern.remove_prefix(1);
        }
        if (pattern == "*.*") {
            return true;
        }
        if (!pattern.empty() && GlobByTable(FoldedCodePoints(pattern), folded_name)) {
            return true;
        }
        if (end == mask.npos) {
            return false;
        }
        start = end + 1;
    }
}

std::string SwapAsciiCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace
}  // namespace ferret

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferret;
    FuzzedDataProvider input(data, size);
    const std::string mask = input.ConsumeRandomLengthString(256);
    const std::string name = input.ConsumeRemainingBytesAsString();
    if (name.empty()) {
        return 0;
    }
    const NameMask compiled(mask);
    const bool matched = compiled.Matches(name);
    const bool expected = ReferenceMatch(name, mask);
    FUZZ_CHECK(matched == expected, "name " + Printable(name) + " mask " + Printable(mask) +
                                        " matcher " + std::to_string(matched) + " reference " +
                                        std::to_string(expected));
    FUZZ_CHECK(PathMatchSpec(name, mask) == matched, "one-off form differs");
    FUZZ_CHECK(compiled.Matches(SwapAsciiCase(name)) == matched,
               "case of " + Printable(name) + " changed the answer for mask " + Printable(mask));
    return 0;
}
