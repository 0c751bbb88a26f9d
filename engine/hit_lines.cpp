#include "engine/hit_lines.h"

#include <string.h>

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "engine/plain_matcher.h"

namespace ferret {
namespace {

// The byte offset `characters` characters into `bytes` (or its end), never inside a character.
std::size_t AfterCharacters(std::string_view bytes, std::size_t characters) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < bytes.size(); ++at) {
        if ((static_cast<unsigned char>(bytes[at]) & 0xC0) != 0x80) {
            if (seen == characters) {
                break;
            }
            ++seen;
        }
    }
    return at;
}

#if defined(__x86_64__)
// The bytes of `bytes` that `counted` marks (it gives 0xFF for each such byte of 16), from the
// start up to the last whole 16 bytes; `at` is left where they end.
template <typename Counted>
std::int64_t CountSixteens(std::string_view bytes, Counted counted, std::size_t& at) {
    std::int64_t count = 0;
    const std::size_t whole = bytes.size() & ~std::size_t{15};
    at = 0;
    while (at < whole) {
        // Each byte lane counts to at most 255 before the lanes are summed.
        const std::size_t stop = std::min(whole, at + 255 * 16);
        __m128i lanes = _mm_setzero_si128();
        for (; at < stop; at += 16) {
            const __m128i chunk =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + at));
            lanes = _mm_sub_epi8(lanes, counted(chunk));
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += _mm_cvtsi128_si64(sums) + _mm_extract_epi16(sums, 4);
    }
    return count;
}
#endif

}  // namespace

std::int64_t Characters(std::string_view bytes) {
    std::int64_t count = 0;
    std::size_t at = 0;
#if defined(__x86_64__)
    // Continuation bytes are 0x80 to 0xBF: below -64 as signed bytes.
    count = CountSixteens(
        bytes, [](__m128i chunk) { return _mm_cmpgt_epi8(chunk, _mm_set1_epi8(-65)); }, at);
#endif
    for (; at < bytes.size(); ++at) {
        if ((static_cast<unsigned char>(bytes[at]) & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

std::int64_t LineFeeds(std::string_view bytes) {
    std::int64_t count = 0;
    std::size_t at = 0;
#if defined(__x86_64__)
    count = CountSixteens(
        bytes, [](__m128i chunk) { return _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n')); }, at);
#else
    // Eight bytes at a time.
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        const std::uint64_t x = word ^ (kOnes * '\n');
        // The high bit of each byte of x that is zero.
        const std::uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
        // Each such bit moved to its byte's lowest place, the bytes summed in the top byte.
        count += static_cast<std::int64_t>(((zero >> 7) * kOnes) >> 56);
    }
#endif
    for (; at < bytes.size(); ++at) {
        count += bytes[at] == '\n';
    }
    return count;
}

std::string CutLine(std::string_view line, std::int64_t around) {
    if (Characters(line) <= static_cast<std::int64_t>(kHitLineLength)) {
        return std::string(line);
    }
    // A third before the hit, the rest after it.
    const std::int64_t start = std::max<std::int64_t>(0, around - kHitLineLength / 3);
    const std::size_t from = AfterCharacters(line, static_cast<std::size_t>(start));
    std::string_view kept = line.substr(from);
    kept = kept.substr(0, AfterCharacters(kept, kHitLineLength));
    std::string shown = from > 0 ? "…" : "";
    shown.append(kept);
    if (from + kept.size() < line.size()) {
        shown += "…";
    }
    return shown;
}

namespace {

struct Line {
    std::size_t start = 0;  // byte offset of its first character
    std::size_t end = 0;    // of its end (the line end's first byte, or the text's end)
};

// The line that starts at `start`; `only_line_feeds`: the text holds no carriage return.
Line LineAt(std::string_view text, std::size_t start, bool only_line_feeds) {
    if (only_line_feeds) {
        const void* end = std::memchr(text.data() + start, '\n', text.size() - start);
        return {start, end == nullptr
                           ? text.size()
                           : static_cast<std::size_t>(static_cast<const char*>(end) - text.data())};
    }
    std::size_t end = start;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') {
        ++end;
    }
    return {start, end};
}

// Where the line holding `at` starts, looking back no further than `from` (a line start).
std::size_t LineStartOf(std::string_view text, std::size_t from, std::size_t at) {
    if (at <= from) {
        return from;
    }
    const void* end = memrchr(text.data() + from, '\n', at - from);
    return end == nullptr
               ? from
               : static_cast<std::size_t>(static_cast<const char*>(end) - text.data()) + 1;
}

// Where the line after `line` starts, or npos when it is the last.
std::size_t NextLineStart(std::string_view text, const Line& line) {
    if (line.end >= text.size()) {
        return std::string_view::npos;
    }
    const std::size_t next =
        text[line.end] == '\r' && line.end + 1 < text.size() && text[line.end + 1] == '\n'
            ? line.end + 2
            : line.end + 1;
    // A line end that ends the text starts no line.
    return next < text.size() ? next : std::string_view::npos;
}

}  // namespace

void PlainHitStarts(std::string_view text, const PlainMatcher& matcher,
                    std::vector<std::size_t>& starts) {
    starts.clear();
    if (matcher.empty()) {
        return;
    }
    for (std::size_t at = matcher.Find(text.data(), text.size(), 0); at != std::string_view::npos;
         at = matcher.Find(text.data(), text.size(), at + 1)) {
        starts.push_back(at);
    }
}

std::vector<std::size_t> PlainHitStarts(std::string_view text, const PlainMatcher& matcher) {
    std::vector<std::size_t> starts;
    PlainHitStarts(text, matcher, starts);
    return starts;
}

std::vector<std::size_t> StartsAfterEdits(const std::vector<TextEdit>& edits) {
    std::vector<std::size_t> starts;
    starts.reserve(edits.size());
    std::size_t shift = 0;
    for (const TextEdit& edit : edits) {
        starts.push_back(edit.start + shift);
        shift = shift + edit.text.size() - (edit.end - edit.start);
    }
    return starts;
}

std::vector<HitLine> LinesOfHits(std::string_view text, const std::vector<std::size_t>& starts,
                                 int context) {
    context = std::clamp(context, 0, 3);
    std::vector<HitLine> lines;
    std::vector<Line> before;     // the last `context` lines passed without hits
    std::int64_t after_left = 0;  // context lines still to show after the last hit line
    std::size_t next_hit = 0;
    std::int64_t number = 1;
    // Without carriage returns the lines between hits are counted, not walked one by one.
    const bool only_line_feeds = text.find('\r') == std::string_view::npos;
    for (std::size_t start = 0; start != std::string_view::npos;) {
        if (next_hit >= starts.size() && after_left == 0) {
            break;
        }
        if (only_line_feeds && after_left == 0) {
            // Straight to the lines of context before the next hit's line.
            std::size_t skip_to = LineStartOf(text, start, std::min(starts[next_hit], text.size()));
            for (int back = 0; back < context && skip_to > start; ++back) {
                skip_to = LineStartOf(text, start, skip_to - 1);
            }
            if (skip_to > start) {
                number += LineFeeds(text.substr(start, skip_to - start));
                start = skip_to;
                before.clear();
            }
        }
        const Line line = LineAt(text, start, only_line_feeds);
        const std::size_t next = NextLineStart(text, line);
        // The last line takes every hit left, one at the text's very end included.
        const std::size_t line_stop = next;
        std::int32_t hits = 0;
        std::size_t first = 0;
        while (next_hit < starts.size() && starts[next_hit] < line_stop) {
            if (hits == 0) {
                first = std::max(starts[next_hit], line.start);
            }
            ++hits;
            ++next_hit;
        }
        const std::string_view body = text.substr(line.start, line.end - line.start);
        if (hits > 0) {
            for (std::size_t i = 0; i < before.size(); ++i) {
                const std::string_view shown =
                    text.substr(before[i].start, before[i].end - before[i].start);
                lines.push_back({number - static_cast<std::int64_t>(before.size() - i), 0, 0,
                                 CutLine(shown, 0)});
            }
            before.clear();
            const std::int64_t column =
                Characters(body.substr(0, std::min(first, line.end) - line.start)) + 1;
            lines.push_back({number, column, hits, CutLine(body, column - 1)});
            after_left = context;
        } else if (after_left > 0) {
            lines.push_back({number, 0, 0, CutLine(body, 0)});
            --after_left;
        } else if (context > 0) {
            before.push_back(line);
            if (before.size() > static_cast<std::size_t>(context)) {
                before.erase(before.begin());
            }
        }
        start = next;
        ++number;
    }
    return lines;
}

FileHits HitsOfText(std::string_view text, bool marked, const std::vector<std::size_t>& starts,
                    int context) {
    FileHits hits;
    if (starts.empty()) {
        return hits;
    }
    if (!marked && text.find('\0') != std::string_view::npos) {
        hits.binary = true;
        return hits;
    }
    hits.lines = LinesOfHits(text, starts, context);
    return hits;
}

}  // namespace ferret
