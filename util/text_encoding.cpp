#include "util/text_encoding.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "util/text_fold.h"

namespace ferret {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

char16_t Unit(std::string_view bytes, std::size_t at, bool big_endian) {
    const auto first = static_cast<unsigned char>(bytes[at]);
    const auto second = static_cast<unsigned char>(bytes[at + 1]);
    return static_cast<char16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
}

void AppendUnit(char16_t unit, bool big_endian, std::string& out) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    out.push_back(big_endian ? high : low);
    out.push_back(big_endian ? low : high);
}

}  // namespace

ByteOrderMark DetectByteOrderMark(std::string_view head) {
    if (head.size() >= 3 && head.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        return ByteOrderMark::kUtf8;
    }
    if (head.size() >= 2 && head.compare(0, 2, "\xFF\xFE") == 0) {
        // FF FE 00 00 is UTF-32's mark: such files stay bytes, as UTF-16 would garble them.
        if (head.size() >= 4 && head[2] == '\0' && head[3] == '\0') {
            return ByteOrderMark::kNone;
        }
        return ByteOrderMark::kUtf16LE;
    }
    if (head.size() >= 2 && head.compare(0, 2, "\xFE\xFF") == 0) {
        return ByteOrderMark::kUtf16BE;
    }
    return ByteOrderMark::kNone;
}

std::size_t MarkLength(ByteOrderMark mark) {
    switch (mark) {
        case ByteOrderMark::kUtf8:
            return 3;
        case ByteOrderMark::kUtf16LE:
        case ByteOrderMark::kUtf16BE:
            return 2;
        case ByteOrderMark::kNone:
            break;
    }
    return 0;
}

std::size_t Utf16Decoder::Units(std::string_view bytes, std::string& utf8) {
    std::size_t at = 0;
    for (; at + 1 < bytes.size(); at += 2) {
        const char16_t unit = Unit(bytes, at, big_endian_);
        if (unit < 0x80) {
            utf8.push_back(static_cast<char>(unit));
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (at + 3 >= bytes.size()) {
                break;  // its pair, if any, comes next
            }
            const char16_t low = Unit(bytes, at + 2, big_endian_);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                               (static_cast<char32_t>(low) - 0xDC00),
                           utf8);
                at += 2;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(kReplacementCharacter, utf8);
            exact_ = false;
            continue;
        }
        AppendUtf8(unit, utf8);
    }
    return at;
}

void Utf16Decoder::Decode(std::string_view bytes, std::string& utf8) {
    // What waits completes, a few bytes at a time, with the first bytes of this piece.
    while (!waiting_.empty() && !bytes.empty()) {
        const std::size_t take = std::min<std::size_t>(bytes.size(), 4 - waiting_.size());
        waiting_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        waiting_.erase(0, Units(waiting_, utf8));
    }
    if (!waiting_.empty()) {
        return;  // still cut
    }
    const std::size_t used = Units(bytes, utf8);
    waiting_.assign(bytes.substr(used));
}

void Utf16Decoder::Finish(std::string& utf8) {
    if (waiting_.empty()) {
        return;
    }
    // A high surrogate without its pair, then maybe an odd byte.
    if (waiting_.size() >= 2) {
        AppendUtf8(kReplacementCharacter, utf8);
    }
    if (waiting_.size() % 2 == 1) {
        AppendUtf8(kReplacementCharacter, utf8);
    }
    waiting_.clear();
    exact_ = false;
}

bool DecodeUtf16(std::string_view bytes, bool big_endian, std::string& utf8) {
    utf8.clear();
    utf8.reserve(bytes.size());
    Utf16Decoder decoder(big_endian);
    decoder.Decode(bytes, utf8);
    decoder.Finish(utf8);
    return decoder.exact();
}

bool EncodeUtf16(std::string_view utf8, bool big_endian, std::string& out) {
    out.clear();
    out.reserve(utf8.size() * 2);
    for (std::size_t at = 0; at < utf8.size();) {
        const char32_t c = DecodeUtf8(utf8, at);
        if (c >= 0xD800 && c <= 0xDFFF) {
            return false;  // an invalid byte (DecodeUtf8 gives those as lone surrogates)
        }
        if (c < 0x10000) {
            AppendUnit(static_cast<char16_t>(c), big_endian, out);
        } else {
            AppendUnit(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)), big_endian, out);
            AppendUnit(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)), big_endian, out);
        }
    }
    return true;
}

std::size_t Utf16Length(std::string_view utf8) {
    std::size_t length = 0;
    for (const char byte : utf8) {
        const auto c = static_cast<unsigned char>(byte);
        // Each character one unit, from U+10000 on (a four-byte lead) two.
        length += (c & 0xC0) != 0x80 ? 2 : 0;
        length += c >= 0xF0 ? 2 : 0;
    }
    return length;
}

bool IsAsciiWithoutNul(std::string_view text) {
    const char* const data = text.data();
    const std::size_t size = text.size();
    std::size_t at = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; at + 64 <= size; at += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 48));
        // The high bit of a byte beyond ASCII, and of each byte that is NUL.
        const __m128i high = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
        const __m128i nul =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)),
                         _mm_or_si128(_mm_cmpeq_epi8(c, zero), _mm_cmpeq_epi8(d, zero)));
        if (_mm_movemask_epi8(_mm_or_si128(high, nul)) != 0) {
            return false;
        }
    }
#endif
    for (; at < size; ++at) {
        const auto byte = static_cast<unsigned char>(data[at]);
        if (byte == 0 || byte >= 0x80) {
            return false;
        }
    }
    return true;
}

std::size_t FirstBeyondAscii(std::string_view text) {
    const char* const data = text.data();
    const std::size_t size = text.size();
    std::size_t at = 0;
#if defined(__SSE2__)
    for (; at + 64 <= size; at += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 48));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0) {
            break;
        }
    }
#endif
    for (; at < size; ++at) {
        if (static_cast<unsigned char>(data[at]) >= 0x80) {
            return at;
        }
    }
    return std::string_view::npos;
}

bool IsValidUtf8(std::string_view text) {
    const char* const data = text.data();
    const std::size_t size = text.size();
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    for (std::size_t at = 0; at < size;) {
        // Every file's first block is looked at: runs of ASCII go 32 bytes at a time.
        while (at + 32 <= size) {
            std::uint64_t words[4];
            std::memcpy(words, data + at, sizeof words);
            if (((words[0] | words[1] | words[2] | words[3]) & kHigh) != 0) {
                break;
            }
            at += 32;
        }
        const std::size_t stop = std::min(size, at + 32);
        for (; at < stop;) {
            if (static_cast<unsigned char>(data[at]) < 0x80) {
                ++at;
                continue;
            }
            const char32_t c = DecodeUtf8(text, at);
            if (c >= 0xD800 && c <= 0xDFFF) {
                return false;  // an invalid byte (DecodeUtf8 gives those as lone surrogates)
            }
        }
    }
    return true;
}

ByteOrderMark FileTextAsUtf8(std::string_view bytes, std::string& storage, std::string_view& text,
                             bool* exact) {
    const ByteOrderMark mark = DetectByteOrderMark(bytes);
    bool same = true;
    text = bytes.substr(MarkLength(mark));
    if (mark == ByteOrderMark::kUtf16LE || mark == ByteOrderMark::kUtf16BE) {
        same = DecodeUtf16(text, mark == ByteOrderMark::kUtf16BE, storage);
        text = storage;
    }
    if (exact != nullptr) {
        *exact = same;
    }
    return mark;
}

}  // namespace ferret
