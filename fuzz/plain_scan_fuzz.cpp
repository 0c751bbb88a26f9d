// The plain-text scanner against a naive reference, in memory, in blocks and through a file.
//
// Input: the needle (a FuzzedDataProvider string, ended by a backslash and one more character),
// the text (the rest), and the last bytes for the flags, `min_end` and a split point.
// The reference tries every byte position:
// - exactly: the needle's bytes compare equal;
// - ignoring case: the needle is read as characters (DecodeUtf8); a valid character matches the
//   valid character at that point of the text whose simple case folding is the same, a byte that
//   is not valid UTF-8 matches only the same byte.
// Count(min_end) and Find(from) must agree with it, every hit must fit in MaxHitLength(), two
// blocks counted with the carried tail (as the file scanner does) must add up to the whole, and
// SearchFileText on a file holding the text across the scanner's block seam must count the same.
// Read as UTF-16 behind a byte-order mark, the text must decode, encode back and count in a file
// as its decoded form does (as bytes behind UTF-32's mark).

#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/content_search.h"
#include "engine/plain_matcher.h"
#include "fuzz/fuzz_support.h"
#include "util/legacy_text.h"
#include "util/text_encoding.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

using fuzz::Printable;

bool IsInvalidByte(std::string_view text, std::size_t start, std::size_t pos, char32_t c) {
    return c >= 0xDC00 && c <= 0xDCFF && pos == start + 1 &&
           static_cast<unsigned char>(text[start]) >= 0x80;
}

// Length of the hit at `at`, or 0 when there is none.
std::size_t ReferenceHit(std::string_view hay, std::string_view needle, bool ignore_case,
                         std::size_t at) {
    if (!ignore_case) {
        return hay.substr(at).starts_with(needle) ? needle.size() : 0;
    }
    std::size_t n = 0;
    std::size_t h = at;
    while (n < needle.size()) {
        if (h >= hay.size()) {
            return 0;
        }
        const std::size_t needle_start = n;
        const char32_t want = DecodeUtf8(needle, n);
        if (IsInvalidByte(needle, needle_start, n, want)) {
            if (hay[h] != needle[needle_start]) {
                return 0;
            }
            ++h;
            continue;
        }
        const std::size_t hay_start = h;
        const char32_t got = DecodeUtf8(hay, h);
        if (IsInvalidByte(hay, hay_start, h, got) || FoldCodePoint(got) != FoldCodePoint(want)) {
            return 0;
        }
    }
    return h - at;
}

void Check(FuzzedDataProvider& input) {
    const bool ignore_case = input.ConsumeBool();
    const bool through_file = input.ConsumeBool();
    const std::size_t min_end = input.ConsumeIntegralInRange<std::size_t>(0, 8);
    const std::size_t split_at = input.ConsumeIntegral<std::uint16_t>();
    const std::size_t from = input.ConsumeIntegralInRange<std::size_t>(0, 16);
    const std::string needle = input.ConsumeRandomLengthString(24);
    const std::string hay = input.ConsumeRemainingBytesAsString();
    const std::string where = "needle " + Printable(needle) + " ignore case " +
                              std::to_string(ignore_case) + " text " + Printable(hay);

    const PlainMatcher matcher(needle, ignore_case);
    FUZZ_CHECK(matcher.empty() == needle.empty(), where);
    std::uint64_t expected = 0;
    std::size_t first_from = std::string::npos;
    if (!needle.empty()) {
        for (std::size_t at = 0; at < hay.size(); ++at) {
            const std::size_t hit = ReferenceHit(hay, needle, ignore_case, at);
            if (hit == 0) {
                continue;
            }
            FUZZ_CHECK(hit <= matcher.MaxHitLength(),
                       "hit at " + std::to_string(at) + " is " + std::to_string(hit) +
                           " bytes, longest allowed " + std::to_string(matcher.MaxHitLength()) +
                           "\n" + where);
            if (at + hit > min_end) {
                ++expected;
            }
            if (at >= from && first_from == std::string::npos) {
                first_from = at;
            }
        }
    }
    const std::uint64_t counted = matcher.Count(hay.data(), hay.size(), min_end);
    FUZZ_CHECK(counted == expected, "counted " + std::to_string(counted) + ", reference " +
                                        std::to_string(expected) + " (min_end " +
                                        std::to_string(min_end) + ")\n" + where);
    const std::size_t found = matcher.Find(hay.data(), hay.size(), from);
    FUZZ_CHECK(found == first_from, "found at " + std::to_string(found) + ", reference " +
                                        std::to_string(first_from) + " from " +
                                        std::to_string(from) + "\n" + where);
    if (needle.empty()) {
        return;
    }

    // Two blocks, the second with the tail of the first in front, as the file scanner reads.
    const std::uint64_t whole = matcher.Count(hay.data(), hay.size());
    const std::size_t split = hay.empty() ? 0 : split_at % (hay.size() + 1);
    const std::size_t carry = std::min(matcher.MaxHitLength() - 1, split);
    const std::uint64_t first = matcher.Count(hay.data(), split);
    const std::string second_block = hay.substr(split - carry);
    const std::uint64_t second = matcher.Count(second_block.data(), second_block.size(), carry);
    FUZZ_CHECK(first + second == whole, "blocks split at " + std::to_string(split) + " count " +
                                            std::to_string(first) + " + " + std::to_string(second) +
                                            ", whole " + std::to_string(whole) + "\n" + where);

    // The text read as UTF-16 after its mark: it decodes to valid UTF-8, encodes back to the same
    // bytes when it decoded exactly, and a file holding it counts as the decoded text does.
    const bool big_endian = (split_at & 1) != 0;
    std::string decoded;
    const bool exact = DecodeUtf16(hay, big_endian, decoded);
    FUZZ_CHECK(fuzz::IsValidUtf8(decoded), "UTF-16 decoded to invalid UTF-8\n" + where);
    std::string encoded;
    FUZZ_CHECK(!exact || (EncodeUtf16(decoded, big_endian, encoded) && encoded == hay),
               "UTF-16 did not encode back to its bytes\n" + where);
    if (through_file) {
        const std::string marked_path = fuzz::TempRoot() + "/marked.txt";
        const std::string marked_bytes = (big_endian ? "\xFE\xFF" : "\xFF\xFE") + hay;
        fuzz::WriteFile(marked_path, marked_bytes);
        const std::atomic<bool> stop{false};
        const std::int32_t marked = SearchFileText(marked_path, matcher, stop);
        // FF FE 00 00 is UTF-32's mark, which leaves the file as bytes.
        const std::string_view counted_text =
            !big_endian && hay.starts_with(std::string_view("\0\0", 2)) ? marked_bytes : decoded;
        const std::uint64_t in_text = matcher.Count(counted_text.data(), counted_text.size());
        FUZZ_CHECK(marked >= 0 && static_cast<std::uint64_t>(marked) == in_text,
                   "UTF-16 file count " + std::to_string(marked) + ", decoded text " +
                       std::to_string(in_text) + "\n" + where);
    }

    if (!through_file || hay.empty()) {
        return;
    }
    // The text across the seam of the scanner's 256 KiB blocks, cut at the split point, with
    // filler around it that no character of the needle can match: a control character that is
    // not in the needle (there are more of them than needle bytes).
    constexpr std::size_t kBlockSize = 256 * 1024;
    char filler = 1;
    while (needle.find(filler) != std::string::npos) {
        ++filler;
    }
    std::string content(kBlockSize - split, filler);
    content += hay;
    content.append(64, filler);
    const std::string path = fuzz::TempRoot() + "/scan.txt";
    fuzz::WriteFile(path, content);
    const std::atomic<bool> stop{false};
    // Read as UTF-8, the file is its bytes.
    const EncodingChoice as_bytes = EncodingChoice::Exactly("");
    const std::int32_t in_file =
        SearchFileText(AT_FDCWD, path, matcher, stop, {}, false, false, as_bytes);
    FUZZ_CHECK(in_file >= 0 && static_cast<std::uint64_t>(in_file) == whole,
               "file count " + std::to_string(in_file) + ", in memory " + std::to_string(whole) +
                   " (seam after " + std::to_string(split) + " bytes of the text)\n" + where);

    // Read in the encoding its start shows (a legacy one when the bytes are not UTF-8), the file
    // counts what its whole decoded text holds, decoded a block at a time or whole.
    std::string storage;
    std::string_view text;
    std::string legacy;
    FileTextInEncoding(content, kFoundEncodings, storage, text, legacy);
    FUZZ_CHECK(legacy.empty() || fuzz::IsValidUtf8(text),
               legacy + " decoded to invalid UTF-8\n" + where);
    const std::uint64_t in_decoded = matcher.Count(text.data(), text.size());
    const std::int32_t decoded_count = SearchFileText(path, matcher, stop);
    FUZZ_CHECK(decoded_count >= 0 && static_cast<std::uint64_t>(decoded_count) == in_decoded,
               "file count " + std::to_string(decoded_count) + " read as " +
                   (legacy.empty() ? std::string("UTF-8") : legacy) + ", its decoded text " +
                   std::to_string(in_decoded) + "\n" + where);
}

}  // namespace
}  // namespace ferret

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ferret::fuzz::TempRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    ferret::Check(input);
    return 0;
}
