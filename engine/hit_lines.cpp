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
    // A line of no more bytes than the length has no more characters either: most lines.
    if (line.size() <= kHitLineLength ||
        Characters(line) <= static_cast<std::int64_t>(kHitLineLength)) {
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

namespace {

// A cut line's room: kHitLineLength characters, one more to tell that a line is longer, and the
// characters kept before a hit (a third of the room, one more for a carriage return before it).
constexpr std::uint64_t kHeadChars = kHitLineLength + 1;
constexpr std::uint64_t kBeforeChars = kHitLineLength / 3 + 1;

// Where the last `count` characters of `bytes` start (0 when it holds fewer).
std::size_t LastCharacters(std::string_view bytes, std::uint64_t count) {
    if (count == 0) {
        return bytes.size();
    }
    std::uint64_t seen = 0;
    for (std::size_t at = bytes.size(); at > 0;) {
        --at;
        if ((static_cast<unsigned char>(bytes[at]) & 0xC0) != 0x80 && ++seen == count) {
            return at;
        }
    }
    return 0;
}

// `kept` followed by `more`, of which only the last `count` characters are kept.
void KeepLast(std::string& kept, std::string_view more, std::uint64_t count) {
    kept.append(more.substr(LastCharacters(more, count)));
    kept.erase(0, LastCharacters(kept, count));
}

// Where the line holding `at` starts, looking back no further than `from` (a line start).
std::size_t LineStartIn(std::string_view text, std::size_t from, std::size_t at) {
    if (at <= from) {
        return from;
    }
    const void* end = memrchr(text.data() + from, '\n', at - from);
    return end == nullptr
               ? from
               : static_cast<std::size_t>(static_cast<const char*>(end) - text.data()) + 1;
}

std::int32_t SaturatedSum(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    return sum > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(sum);
}

}  // namespace

HitLineBuilder::HitLineBuilder(int context, std::vector<HitLine>& out, bool spans)
    : context_(std::clamp(context, 0, 3)), out_(out), spans_(spans) {}

std::int32_t HitLineBuilder::TakeHits(std::uint64_t through, std::uint64_t& first,
                                      std::uint64_t line_start, std::vector<HitLine::Span>& spans) {
    std::int32_t count = 0;
    for (; next_hit_ < hits_.size() && hits_[next_hit_] <= through; ++next_hit_) {
        const std::uint64_t at = hits_[next_hit_];
        if (count == 0) {
            first = at;
        }
        count = SaturatedSum(count, 1);
        if (spans_) {
            const std::uint64_t start = at > line_start ? at - line_start : 0;
            spans.push_back({start, start + lengths_[next_hit_]});
        }
    }
    if (next_hit_ == hits_.size()) {
        hits_.clear();
        lengths_.clear();
        next_hit_ = 0;
    }
    return count;
}

void HitLineBuilder::Emit(HitLine line, bool hit) {
    if (hit) {
        for (HitLine& waiting : before_) {
            out_.push_back(std::move(waiting));
        }
        before_.clear();
        out_.push_back(std::move(line));
        after_left_ = context_;
    } else if (after_left_ > 0) {
        out_.push_back(std::move(line));
        --after_left_;
    } else if (context_ > 0) {
        before_.push_back(std::move(line));
        if (before_.size() > static_cast<std::size_t>(context_)) {
            before_.erase(before_.begin());
        }
    }
}

void HitLineBuilder::Line(std::string_view line, std::uint64_t start, std::uint64_t end) {
    std::uint64_t first = 0;
    std::vector<HitLine::Span> spans;
    const std::int32_t hits = TakeHits(end, first, start, spans);
    if (hits == 0 && after_left_ == 0 && context_ == 0) {
        ++number_;
        return;
    }
    const std::string_view body =
        !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
    HitLine shown;
    shown.number = number_++;
    shown.offset = start;
    if (hits > 0) {
        const std::size_t at = static_cast<std::size_t>(
            std::min<std::uint64_t>(first > start ? first - start : 0, body.size()));
        shown.column = static_cast<std::int64_t>(at) + 1;
        shown.hits = hits;
        shown.text = body.size() <= kHitLineLength ? std::string(body)
                                                   : CutLine(body, Characters(body.substr(0, at)));
        shown.spans = std::move(spans);
    } else {
        shown.text = CutLine(body, 0);
    }
    Emit(std::move(shown), hits > 0);
}

void HitLineBuilder::Add(std::string_view segment, std::uint64_t at, std::uint64_t through) {
    OpenLine& line = open_;
    if (Characters(line.head) < static_cast<std::int64_t>(kHeadChars)) {
        const std::uint64_t room = kHeadChars - static_cast<std::uint64_t>(Characters(line.head));
        line.head.append(segment.substr(0, AfterCharacters(segment, room)));
    }
    std::uint64_t first = 0;
    const std::int32_t hits = TakeHits(through, first, line.start, line.spans);
    if (hits > 0 && line.hits == 0) {
        const std::size_t in = static_cast<std::size_t>(
            std::min<std::uint64_t>(first > at ? first - at : 0, segment.size()));
        const std::string_view before = segment.substr(0, in);
        KeepLast(line.before, before, kBeforeChars);
        line.first = line.bytes + in;
        line.first_chars = line.chars + static_cast<std::uint64_t>(Characters(before));
        const std::string_view rest = segment.substr(in);
        line.after.assign(rest.substr(0, AfterCharacters(rest, kHeadChars)));
        line.after_chars = static_cast<std::uint64_t>(Characters(line.after));
    } else if (line.hits == 0) {
        KeepLast(line.before, segment, kBeforeChars);
    } else if (line.after_chars < kHeadChars) {
        const std::string_view more =
            segment.substr(0, AfterCharacters(segment, kHeadChars - line.after_chars));
        line.after.append(more);
        line.after_chars += static_cast<std::uint64_t>(Characters(more));
    }
    line.hits = SaturatedSum(line.hits, hits);
    line.bytes += segment.size();
    line.chars += static_cast<std::uint64_t>(Characters(segment));
    if (!segment.empty()) {
        line.carriage_return = segment.back() == '\r';
    }
}

void HitLineBuilder::CloseOpenLine() {
    const OpenLine& line = open_;
    // A carriage return is part of the line end only before a line feed.
    const std::uint64_t cut = line.carriage_return && line.ended ? 1 : 0;
    const std::uint64_t body_chars = line.chars - cut;
    const std::string_view head(line.head);
    HitLine shown;
    shown.number = number_++;
    shown.offset = line.start;
    if (line.hits > 0) {
        shown.hits = line.hits;
        shown.spans = line.spans;
        shown.column = static_cast<std::int64_t>(std::min(line.first, line.bytes - cut)) + 1;
    }
    if (body_chars <= kHitLineLength) {
        shown.text.assign(head.substr(0, AfterCharacters(head, body_chars)));
    } else if (line.hits == 0) {
        shown.text.assign(head.substr(0, AfterCharacters(head, kHitLineLength))).append("…");
    } else {
        // As CutLine: a third of the room before the first hit, the rest from it on.
        const std::uint64_t around = std::min(line.first_chars, body_chars);
        std::string_view before(line.before);
        // A hit on the line end: the carriage return before it is not shown.
        before = before.substr(0, LastCharacters(before, line.first_chars - around));
        const std::uint64_t shown_before = std::min<std::uint64_t>(around, kHitLineLength / 3);
        before = before.substr(LastCharacters(before, shown_before));
        const std::string_view after(line.after);
        const std::uint64_t start = around - shown_before;
        shown.text = start > 0 ? "…" : "";
        shown.text.append(before);
        shown.text.append(after.substr(
            0,
            AfterCharacters(after, std::min(kHitLineLength - shown_before, body_chars - around))));
        if (start + kHitLineLength < body_chars) {
            shown.text += "…";
        }
    }
    const bool hit = line.hits > 0;
    open_ = OpenLine();
    Emit(std::move(shown), hit);
}

void HitLineBuilder::WholeLines(std::string_view piece, std::size_t pos, std::uint64_t base) {
    while (pos < piece.size()) {
        if (after_left_ == 0) {
            // Straight to the lines of context before the next hit's line, or before the last
            // line of the piece.
            std::size_t target = piece.size() - (piece.back() == '\n' ? 1 : 0);
            if (next_hit_ < hits_.size() && hits_[next_hit_] < base + piece.size()) {
                target = static_cast<std::size_t>(
                    std::max<std::uint64_t>(hits_[next_hit_], base + pos) - base);
            }
            std::size_t skip_to = LineStartIn(piece, pos, target);
            for (int back = 0; back < context_ && skip_to > pos; ++back) {
                skip_to = LineStartIn(piece, pos, skip_to - 1);
            }
            if (skip_to > pos) {
                number_ += LineFeeds(piece.substr(pos, skip_to - pos));
                pos = skip_to;
                before_.clear();
            }
        }
        const void* found = std::memchr(piece.data() + pos, '\n', piece.size() - pos);
        if (found == nullptr ||
            static_cast<const char*>(found) + 1 == piece.data() + piece.size()) {
            // The piece's last line stays open: it may go on, and a hit at the text's very end
            // belongs to it.
            const std::size_t end =
                found == nullptr
                    ? piece.size()
                    : static_cast<std::size_t>(static_cast<const char*>(found) - piece.data());
            open_.open = true;
            open_.start = base + pos;
            Add(piece.substr(pos, end - pos), base + pos, base + piece.size() - 1);
            open_.ended = found != nullptr;
            return;
        }
        const std::size_t end =
            static_cast<std::size_t>(static_cast<const char*>(found) - piece.data());
        Line(piece.substr(pos, end - pos), base + pos, base + end);
        pos = end + 1;
    }
}

void HitLineBuilder::Feed(std::string_view piece) {
    if (piece.empty()) {
        return;
    }
    const std::uint64_t base = fed_;
    fed_ += piece.size();
    std::size_t pos = 0;
    if (open_.open && open_.ended) {
        CloseOpenLine();  // more text follows its line feed: it is not the last line
    } else if (open_.open) {
        const void* found = std::memchr(piece.data(), '\n', piece.size());
        const std::size_t end =
            found == nullptr
                ? piece.size()
                : static_cast<std::size_t>(static_cast<const char*>(found) - piece.data());
        Add(piece.substr(0, end), base, base + std::min(end, piece.size() - 1));
        if (found == nullptr) {
            return;
        }
        open_.ended = true;
        if (end + 1 == piece.size()) {
            return;
        }
        CloseOpenLine();
        pos = end + 1;
    }
    WholeLines(piece, pos, base);
}

void HitLineBuilder::Finish() {
    if (!open_.open && next_hit_ < hits_.size()) {
        open_.open = true;  // an empty text: its hit is in line 1
        open_.start = fed_;
    }
    if (!open_.open) {
        return;
    }
    // Hits at the text's very end belong to its last line.
    Add({}, fed_, UINT64_MAX);
    CloseOpenLine();
}

std::vector<HitLine> LinesOfHits(std::string_view text, const std::vector<std::size_t>& starts,
                                 int context) {
    std::vector<HitLine> lines;
    HitLineBuilder builder(context, lines);
    for (const std::size_t start : starts) {
        builder.Hit(start);
    }
    builder.Feed(text);
    builder.Finish();
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

namespace ferret {
namespace {

template <typename Number>
void PutNumber(std::string& out, Number number) {
    out.append(reinterpret_cast<const char*>(&number), sizeof number);
}

// Reads a number at `at` of `bytes`, moving `at` past it; false when they end first.
template <typename Number>
bool GetNumber(std::string_view bytes, std::size_t& at, Number& number) {
    if (bytes.size() - at < sizeof number) {
        return false;
    }
    std::memcpy(&number, bytes.data() + at, sizeof number);
    at += sizeof number;
    return true;
}

// One line read back from `bytes` at `at`; false, `at` as it was, when its bytes end first.
bool GetLine(std::string_view bytes, std::size_t& at, HitLine& line) {
    std::size_t next = at;
    std::uint32_t text = 0;
    std::uint32_t spans = 0;
    if (!GetNumber(bytes, next, line.number) || !GetNumber(bytes, next, line.column) ||
        !GetNumber(bytes, next, line.hits) || !GetNumber(bytes, next, line.page) ||
        !GetNumber(bytes, next, line.offset) || !GetNumber(bytes, next, text) ||
        bytes.size() - next < text) {
        return false;
    }
    line.text.assign(bytes.substr(next, text));
    next += text;
    if (!GetNumber(bytes, next, spans) || (bytes.size() - next) / 16 < spans) {
        return false;
    }
    line.spans.resize(spans);
    for (HitLine::Span& span : line.spans) {
        GetNumber(bytes, next, span.start);
        GetNumber(bytes, next, span.end);
    }
    at = next;
    return true;
}

}  // namespace

Status HitLineSpill::Add(const std::vector<HitLine>& lines) {
    std::string bytes;
    for (const HitLine& line : lines) {
        PutNumber(bytes, line.number);
        PutNumber(bytes, line.column);
        PutNumber(bytes, line.hits);
        PutNumber(bytes, line.page);
        PutNumber(bytes, line.offset);
        PutNumber(bytes, static_cast<std::uint32_t>(line.text.size()));
        bytes += line.text;
        PutNumber(bytes, static_cast<std::uint32_t>(line.spans.size()));
        for (const HitLine::Span& span : line.spans) {
            PutNumber(bytes, span.start);
            PutNumber(bytes, span.end);
        }
    }
    lines_ += lines.size();
    return buffer_.Append(bytes);
}

Status HitLineSpill::Take(std::size_t at_once,
                          const std::function<void(std::vector<HitLine>)>& part) {
    lines_ = 0;
    std::string carried;  // a line cut by a piece's end
    std::vector<HitLine> lines;
    const Status drained = buffer_.Drain([&](std::string_view piece) {
        std::string joined;
        if (!carried.empty()) {
            joined = std::move(carried) + std::string(piece);
            piece = joined;
        }
        std::size_t at = 0;
        for (HitLine line; GetLine(piece, at, line); line = HitLine()) {
            lines.push_back(std::move(line));
            if (lines.size() >= at_once) {
                part(std::move(lines));
                lines.clear();
            }
        }
        carried.assign(piece.substr(at));
        return Status();
    });
    if (!lines.empty()) {
        part(std::move(lines));
    }
    return drained;
}

}  // namespace ferret
