#include "reports/quoted_name.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ferret {
namespace {

// The length of the control character at `at` (1, or 2 for a C1 control in UTF-8), or 0.
std::size_t ControlAt(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F) {
        return 1;
    }
    if (byte == 0xC2 && at + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[at + 1]);
        if (next >= 0x80 && next <= 0x9F) {
            return 2;
        }
    }
    return 0;
}

// The first place from `at` on that may hold a control character (a byte below 0x20, DEL, or
// 0xC2, which may lead a C1 control), or the text's size. Sixteen bytes at a time: hit lines and
// names are mostly plain, and a tab in a line must not send all of it down the slow path.
std::size_t NextSuspect(std::string_view text, std::size_t at) {
#if defined(__SSE2__)
    const __m128i below_space = _mm_set1_epi8(0x1F);
    const __m128i del = _mm_set1_epi8(0x7F);
    const __m128i c1_lead = _mm_set1_epi8(static_cast<char>(0xC2));
    for (; at + 16 <= text.size(); at += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        const __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(chunk, below_space), below_space);
        const __m128i suspect = _mm_or_si128(
            low, _mm_or_si128(_mm_cmpeq_epi8(chunk, del), _mm_cmpeq_epi8(chunk, c1_lead)));
        if (const int mask = _mm_movemask_epi8(suspect); mask != 0) {
            return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
    }
#endif
    for (; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x20 || byte == 0x7F || byte == 0xC2) {
            return at;
        }
    }
    return text.size();
}

bool HoldsControl(std::string_view text) {
    for (std::size_t at = NextSuspect(text, 0); at < text.size(); at = NextSuspect(text, at + 1)) {
        if (ControlAt(text, at) > 0) {
            return true;
        }
    }
    return false;
}

void AppendEscape(std::string& out, unsigned char byte) {
    out += '\\';
    if (byte >= '\a' && byte <= '\r') {
        out += "abtnvfr"[byte - '\a'];  // the letters C gives bytes 7 to 13
        return;
    }
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

// `text` between double quotes, its control characters, double quotes and backslashes escaped.
void AppendCQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t control = ControlAt(text, at);
        if (control == 0) {
            if (text[at] == '"' || text[at] == '\\') {
                out += '\\';
            }
            out += text[at];
            continue;
        }
        for (const char byte : text.substr(at, control)) {
            AppendEscape(out, static_cast<unsigned char>(byte));
        }
        at += control - 1;
    }
    out += '"';
}

}  // namespace

void AppendQuotedName(std::string& out, std::string_view name, bool always) {
    if (!always && (name.empty() || name.front() != '"') && !HoldsControl(name)) {
        out.append(name);
    } else {
        AppendCQuoted(out, name);
    }
}

std::string QuotedName(std::string_view name, bool always) {
    std::string out;
    AppendQuotedName(out, name, always);
    return out;
}

std::string PatchName(std::string_view name) {
    if ((name.empty() || name.front() != ' ') &&
        name.find_first_of("\"\\") == std::string_view::npos && !HoldsControl(name)) {
        return std::string(name);
    }
    std::string out;
    AppendCQuoted(out, name);
    return out;
}

std::string_view PatchNameEnd(std::string_view name) {
    return name.find(' ') != std::string_view::npos ? "\t" : "";
}

void AppendEscapedText(std::string& out, std::string_view text, bool keep_line_feeds) {
    std::size_t kept = 0;  // the bytes before it are in `out`
    for (std::size_t at = NextSuspect(text, 0); at < text.size(); at = NextSuspect(text, at)) {
        const std::size_t control = ControlAt(text, at);
        if (control == 0 || text[at] == '\t' || (keep_line_feeds && text[at] == '\n')) {
            ++at;
            continue;
        }
        out.append(text.substr(kept, at - kept));
        for (const char byte : text.substr(at, control)) {
            AppendEscape(out, static_cast<unsigned char>(byte));
        }
        at += control;
        kept = at;
    }
    out.append(text.substr(kept));
}

std::string EscapedText(std::string_view text, bool keep_line_feeds) {
    std::string out;
    AppendEscapedText(out, text, keep_line_feeds);
    return out;
}

}  // namespace ferret
