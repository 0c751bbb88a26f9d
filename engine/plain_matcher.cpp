#include "engine/plain_matcher.h"

#include <QChar>
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "util/text_fold.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ferret {
namespace {

// How common a byte is in the text files people search (higher is more common); the exact scan
// looks for the text's least common byte, so that few candidates need checking.
int ByteCommonness(unsigned char b) {
    if (b == ' ') {
        return 255;
    }
    if (std::strchr("etaoinsrhl", b) != nullptr && b != 0) {
        return 240;
    }
    if (b >= 'a' && b <= 'z') {
        return 200;
    }
    if (b == '\n' || b == '\t') {
        return 220;
    }
    if (b == 0) {
        return 190;  // binary files
    }
    if (std::strchr(".,;:()\"'=_-/<>{}[]*#", b) != nullptr) {
        return 160;
    }
    if (b >= '0' && b <= '9') {
        return 150;
    }
    if (b >= 'A' && b <= 'Z') {
        return 120;
    }
    if (b == '\r') {
        return 110;
    }
    if (b >= 0x80) {
        return b >= 0xC0 ? 50 : 60;
    }
    return b < 0x20 ? 10 : 80;
}

// Every character whose simple case folding is `folded`, other than `folded` itself. Built once,
// on first use, from the whole of Unicode.
const std::vector<char32_t>& CharactersFoldingTo(char32_t folded) {
    static std::map<char32_t, std::vector<char32_t>> table;
    static std::once_flag built;
    std::call_once(built, [] {
        for (char32_t c = 0; c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) {
                continue;
            }
            const char32_t f = QChar::toCaseFolded(c);
            if (f != c) {
                table[f].push_back(c);
            }
        }
    });
    static const std::vector<char32_t> none;
    const auto it = table.find(folded);
    return it == table.end() ? none : it->second;
}

// The first position in [p, end) holding one of `bytes` (also marked in `table`), or `end`.
const char* FindAnyOf(const char* p, const char* end, const std::vector<unsigned char>& bytes,
                      const bool* table) {
#if defined(__x86_64__)
    if (bytes.size() <= 4) {
        __m128i wanted[4];
        for (std::size_t i = 0; i < 4; ++i) {
            wanted[i] = _mm_set1_epi8(static_cast<char>(bytes[std::min(i, bytes.size() - 1)]));
        }
        while (end - p >= 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i hits = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(chunk, wanted[0]), _mm_cmpeq_epi8(chunk, wanted[1])),
                _mm_or_si128(_mm_cmpeq_epi8(chunk, wanted[2]), _mm_cmpeq_epi8(chunk, wanted[3])));
            const int mask = _mm_movemask_epi8(hits);
            if (mask != 0) {
                return p + __builtin_ctz(static_cast<unsigned>(mask));
            }
            p += 16;
        }
    }
#else
    (void)bytes;
#endif
    while (p < end && !table[static_cast<unsigned char>(*p)]) {
        ++p;
    }
    return p;
}

}  // namespace

PlainMatcher::PlainMatcher(std::string_view text, bool ignore_case)
    : text_(text), length_(text.size()), ignore_case_(ignore_case) {
    if (length_ == 0) {
        return;
    }
    if (!ignore_case_) {
        max_hit_length_ = length_;
        // The two least common bytes at different offsets (the same one twice for one byte).
        const auto rarest_except = [&](std::size_t skip) {
            std::size_t best_offset = skip == 0 && length_ > 1 ? 1 : 0;
            int best = 1000;
            for (std::size_t i = 0; i < length_; ++i) {
                const int commonness = ByteCommonness(static_cast<unsigned char>(text_[i]));
                if (i != skip && commonness < best) {
                    best = commonness;
                    best_offset = i;
                }
            }
            return best_offset;
        };
        first_offset_ = rarest_except(length_);
        second_offset_ = length_ > 1 ? rarest_except(first_offset_) : first_offset_;
        if (first_offset_ > second_offset_) {
            std::swap(first_offset_, second_offset_);
        }
#if defined(__x86_64__)
        use_avx2_ = __builtin_cpu_supports("avx2");
#endif
        return;
    }
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const char32_t c = DecodeUtf8(text, pos);
        CharClass& added = classes_.emplace_back();
        if (c >= 0xDC00 && c <= 0xDCFF && pos == start + 1 &&
            static_cast<unsigned char>(text[start]) >= 0x80) {
            added.forms.emplace_back(text.substr(start, 1));  // not UTF-8: only itself
        } else {
            const char32_t folded = FoldCodePoint(c);
            std::vector<char32_t> same = CharactersFoldingTo(folded);
            same.push_back(folded);
            for (const char32_t member : same) {
                std::string form;
                AppendUtf8(member, form);
                if (std::find(added.forms.begin(), added.forms.end(), form) == added.forms.end()) {
                    added.forms.push_back(std::move(form));
                }
            }
        }
        std::size_t longest = 0;
        for (const std::string& form : added.forms) {
            longest = std::max(longest, form.size());
        }
        max_hit_length_ += longest;
    }
    for (const std::string& form : classes_.front().forms) {
        const unsigned char first = static_cast<unsigned char>(form.front());
        if (!is_start_byte_[first]) {
            is_start_byte_[first] = true;
            start_bytes_.push_back(first);
        }
    }
}

std::uint64_t PlainMatcher::Count(const char* data, std::size_t size, std::size_t min_end) const {
    if (length_ == 0 || size == 0) {
        return 0;
    }
    return ignore_case_ ? CountFolded(data, size, min_end) : CountExact(data, size, min_end);
}

bool PlainMatcher::MatchesAt(const char* start) const {
    return std::memcmp(start, text_.data(), length_) == 0;
}

namespace {

// The positions a hit may start at: both chosen bytes of the text in place. Calls
// `candidate(at)` for each start in [from, last_start] in order until it returns false; returns
// false when stopped that way. The vector loops look at 16 or 32 starts at a time.
struct PairFilter {
    const char* data;
    std::size_t from;
    std::size_t last_start;
    std::size_t first_offset;
    char first;
    std::size_t second_offset;
    char second;

    template <typename Candidate>
    bool ScalarFrom(std::size_t start, Candidate&& candidate) const {
        for (; start <= last_start; ++start) {
            if (data[start + first_offset] == first && data[start + second_offset] == second &&
                !candidate(start)) {
                return false;
            }
        }
        return true;
    }

#if defined(__x86_64__)
    template <typename Candidate>
    bool Sse2(Candidate&& candidate) const {
        const __m128i want_first = _mm_set1_epi8(first);
        const __m128i want_second = _mm_set1_epi8(second);
        std::size_t start = from;
        for (; start + 16 <= last_start + 1; start += 16) {
            const __m128i a =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + start + first_offset));
            const __m128i b =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + start + second_offset));
            unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(a, want_first), _mm_cmpeq_epi8(b, want_second))));
            for (; mask != 0; mask &= mask - 1) {
                if (!candidate(start + static_cast<std::size_t>(__builtin_ctz(mask)))) {
                    return false;
                }
            }
        }
        return ScalarFrom(start, candidate);
    }

    template <typename Candidate>
    __attribute__((target("avx2"))) bool Avx2(Candidate&& candidate) const {
        const __m256i want_first = _mm256_set1_epi8(first);
        const __m256i want_second = _mm256_set1_epi8(second);
        std::size_t start = from;
        // Two vectors a step, tested together: candidates are rare, so most steps end at the
        // one test.
        for (; start + 64 <= last_start + 1; start += 64) {
            const char* const at_first = data + start + first_offset;
            const char* const at_second = data + start + second_offset;
            const __m256i low = _mm256_and_si256(
                _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at_first)),
                                  want_first),
                _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at_second)),
                                  want_second));
            const __m256i high = _mm256_and_si256(
                _mm256_cmpeq_epi8(
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at_first + 32)),
                    want_first),
                _mm256_cmpeq_epi8(
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at_second + 32)),
                    want_second));
            const __m256i either = _mm256_or_si256(low, high);
            if (_mm256_testz_si256(either, either) != 0) {
                continue;
            }
            std::uint64_t mask =
                static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
                (static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high)))
                 << 32);
            for (; mask != 0; mask &= mask - 1) {
                if (!candidate(start + static_cast<std::size_t>(__builtin_ctzll(mask)))) {
                    return false;
                }
            }
        }
        for (; start + 32 <= last_start + 1; start += 32) {
            const __m256i a =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + start + first_offset));
            const __m256i b =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + start + second_offset));
            unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(
                _mm256_cmpeq_epi8(a, want_first), _mm256_cmpeq_epi8(b, want_second))));
            for (; mask != 0; mask &= mask - 1) {
                if (!candidate(start + static_cast<std::size_t>(__builtin_ctz(mask)))) {
                    return false;
                }
            }
        }
        return ScalarFrom(start, candidate);
    }
#endif

    template <typename Candidate>
    bool Run(bool avx2, Candidate&& candidate) const {
        if (from > last_start) {
            return true;
        }
#if defined(__x86_64__)
        return avx2 ? Avx2(candidate) : Sse2(candidate);
#else
        (void)avx2;
        return ScalarFrom(from, candidate);
#endif
    }
};

}  // namespace

std::uint64_t PlainMatcher::CountExact(const char* data, std::size_t size,
                                       std::size_t min_end) const {
    if (size < length_) {
        return 0;
    }
    std::uint64_t count = 0;
    const PairFilter filter{data,
                            0,
                            size - length_,
                            first_offset_,
                            text_[first_offset_],
                            second_offset_,
                            text_[second_offset_]};
    filter.Run(use_avx2_, [&](std::size_t at) {
        if (MatchesAt(data + at) && at + length_ > min_end) {
            ++count;
        }
        return true;
    });
    return count;
}

std::size_t PlainMatcher::FindExact(const char* data, std::size_t size, std::size_t from) const {
    if (size < length_) {
        return std::string_view::npos;
    }
    std::size_t found = std::string_view::npos;
    const PairFilter filter{data,
                            from,
                            size - length_,
                            first_offset_,
                            text_[first_offset_],
                            second_offset_,
                            text_[second_offset_]};
    filter.Run(use_avx2_, [&](std::size_t at) {
        if (MatchesAt(data + at)) {
            found = at;
            return false;
        }
        return true;
    });
    return found;
}

std::size_t PlainMatcher::FoldedHitAt(const char* data, std::size_t size, std::size_t at) const {
    std::size_t pos = at;
    for (const CharClass& character : classes_) {
        bool matched = false;
        for (const std::string& form : character.forms) {
            if (size - pos >= form.size() &&
                std::memcmp(data + pos, form.data(), form.size()) == 0) {
                pos += form.size();
                matched = true;
                break;  // forms are whole UTF-8 characters: at most one fits here
            }
        }
        if (!matched) {
            return 0;
        }
    }
    return pos - at;
}

std::size_t PlainMatcher::Find(const char* data, std::size_t size, std::size_t from) const {
    if (length_ == 0 || from >= size) {
        return std::string_view::npos;
    }
    if (!ignore_case_) {
        return FindExact(data, size, from);
    }
    const char* const end = data + size;
    for (const char* p = data + from; p < end; ++p) {
        p = FindAnyOf(p, end, start_bytes_, is_start_byte_);
        if (p == end) {
            break;
        }
        const std::size_t at = static_cast<std::size_t>(p - data);
        if (FoldedHitAt(data, size, at) != 0) {
            return at;
        }
    }
    return std::string_view::npos;
}

std::uint64_t PlainMatcher::CountFolded(const char* data, std::size_t size,
                                        std::size_t min_end) const {
    std::uint64_t count = 0;
    const char* const end = data + size;
    for (const char* p = data; p < end;) {
        p = FindAnyOf(p, end, start_bytes_, is_start_byte_);
        if (p == end) {
            break;
        }
        const std::size_t at = static_cast<std::size_t>(p - data);
        const std::size_t hit = FoldedHitAt(data, size, at);
        if (hit != 0 && at + hit > min_end) {
            ++count;
        }
        ++p;
    }
    return count;
}

bool PlainMatcher::OnlyAsciiHits() const {
    // A character beyond ASCII, or a fold of one that is ("k" finds the Kelvin sign), is longer.
    return max_hit_length_ == length_ && std::none_of(text_.begin(), text_.end(), [](char c) {
               return static_cast<unsigned char>(c) >= 0x80;
           });
}

std::vector<std::vector<std::string>> PlainMatcher::CharacterVariants() const {
    std::vector<std::vector<std::string>> variants;
    if (ignore_case_) {
        for (const CharClass& each : classes_) {
            variants.push_back(each.forms);
        }
        return variants;
    }
    for (std::size_t pos = 0; pos < text_.size();) {
        const std::size_t start = pos;
        DecodeUtf8(text_, pos);
        variants.push_back({text_.substr(start, pos - start)});
    }
    return variants;
}

}  // namespace ferret
