#include "engine/mask_match.h"

#include "util/text_fold.h"

namespace ferret {
namespace {

// Longer names than this do not exist on Linux (NAME_MAX is 255 bytes); beyond it we fall back
// to the heap.
constexpr std::size_t kStackNameChars = 256;

// Glob with single-star backtracking: linear for one "*", at worst quadratic, never exponential.
bool Glob(const std::u32string& pattern, const char32_t* name, std::size_t name_length) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::u32string::npos;
    std::size_t star_name = 0;
    while (n < name_length) {
        if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            star_name = n;
        } else if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (star != std::u32string::npos) {
            p = star + 1;
            n = ++star_name;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace

NameMask::NameMask(std::string_view mask) {
    std::size_t start = 0;
    while (start <= mask.size()) {
        std::size_t end = mask.find(';', start);
        if (end == std::string_view::npos) {
            end = mask.size();
        }
        std::string_view text = mask.substr(start, end - start);
        while (!text.empty() && text.front() == ' ') {
            text.remove_prefix(1);
        }
        if (!text.empty()) {
            patterns_.push_back({FoldedCodePoints(text), text == "*.*"});
        }
        start = end + 1;
    }
}

bool NameMask::Matches(std::string_view name) const {
    if (patterns_.empty() || name.empty()) {
        return false;
    }
    char32_t stack_buffer[kStackNameChars];
    std::u32string heap_buffer;
    const char32_t* folded = stack_buffer;
    std::size_t length = 0;
    if (name.size() <= kStackNameChars) {
        for (std::size_t pos = 0; pos < name.size();) {
            const unsigned char byte = static_cast<unsigned char>(name[pos]);
            if (byte < 0x80) {  // most names are plain ASCII: no decoding needed
                stack_buffer[length++] = FoldCodePoint(byte);
                ++pos;
            } else {
                stack_buffer[length++] = FoldCodePoint(DecodeUtf8(name, pos));
            }
        }
    } else {
        heap_buffer = FoldedCodePoints(name);
        folded = heap_buffer.data();
        length = heap_buffer.size();
    }
    for (const Pattern& pattern : patterns_) {
        if (pattern.matches_all || Glob(pattern.folded, folded, length)) {
            return true;
        }
    }
    return false;
}

bool PathMatchSpec(std::string_view name, std::string_view mask) {
    return NameMask(mask).Matches(name);
}

}  // namespace ferret
