#pragma once

#include <iconv.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/text_encoding.h"

namespace ferret {

// Text in the 8-bit and East Asian encodings that files without a byte-order mark may be in
// (windows-1252, KOI8-R, Shift_JIS, GB18030, ...), to and from UTF-8, through the C library's
// iconv: every encoding it knows, by the names it knows.

// The encoding of `sample`, text that is not UTF-8, as a name iconv knows; empty when the guess
// is not sure (or is UTF-8). ISO-8859-1 is read as windows-1252, as browsers read it: the two
// differ only in bytes 80 to 9F, which are control characters in the first and rarely meant as
// such.
std::string GuessEncoding(std::string_view sample);

// The encodings GuessEncoding may give, and no other.
const std::vector<std::string>& GuessableEncodings();

// Every way `character` (one character, in UTF-8) is written in `encoding`: none when it has no
// place in it. Nothing when the ways are not known: an encoding of more than one byte a character
// other than those a guess may give, or windows-1258 for a character it may write as a letter and
// an accent.
std::optional<std::vector<std::string>> CharacterForms(const std::string& encoding,
                                                       std::string_view character);

// Whether iconv converts between `name` and UTF-8.
bool KnownEncoding(const std::string& name);

// One conversion of iconv, closed when it goes.
class Iconv {
  public:
    Iconv(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv();
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
    // Back to the initial shift state.
    void Reset();

  private:
    iconv_t cd_;
};

// Decodes text in a legacy encoding into UTF-8 a piece at a time: a character cut by a piece's
// end waits for the next. A byte sequence the encoding does not hold becomes U+FFFD, and the text
// is then not exact.
class LegacyDecoder final : public PieceDecoder {
  public:
    // Without `check_exact` the text is only read: whether it encodes back is not looked at,
    // and exact() stays true.
    explicit LegacyDecoder(const std::string& encoding, bool check_exact = true);
    // Whether the encoding is known.
    bool ok() const { return decode_.ok() && encode_.ok(); }
    void Decode(std::string_view bytes, std::string& utf8) override;
    void Finish(std::string& utf8) override;
    bool exact() const override { return exact_; }

  private:
    // Decodes what it can of `bytes` (waiting_ first); how many bytes were taken.
    std::size_t Convert(std::string_view bytes, std::string& utf8, bool last);
    // Checks that `utf8` encodes back to `bytes`.
    void CheckBack(std::string_view bytes, std::string_view utf8);

    Iconv decode_;
    Iconv encode_;
    std::string waiting_;  // the start of a character cut by a piece's end
    std::string back_;     // room to encode back in
    const bool check_exact_;
    bool exact_ = true;
};

// Encodes UTF-8 text in a legacy encoding, whole or a piece at a time.
class LegacyEncoder {
  public:
    explicit LegacyEncoder(const std::string& encoding) : encode_(encoding, "UTF-8") {}
    bool ok() const { return encode_.ok(); }
    // Appends `utf8` in the encoding to `out`, ending in the encoding's initial shift state.
    // False, with `out` unusable, when a character of it has no place in the encoding or `utf8`
    // is not valid UTF-8.
    bool Encode(std::string_view utf8, std::string& out);
    // Encode for one piece of a longer text, whose shift state carries on to the next piece;
    // End closes the text.
    bool Append(std::string_view utf8, std::string& out);
    void End(std::string& out);

  private:
    Iconv encode_;
};

// How the text of a file without a byte-order mark is read.
struct EncodingChoice {
    // Every such file is in this encoding (an iconv name; UTF-8: read as it is); empty: each
    // file's own is found (LegacyEncodingOf).
    std::string forced;
    // The encoding of a file that is not UTF-8 when no guess is sure.
    std::string fallback = "WINDOWS-1252";

    // The choice that reads a file as it was read before: in `legacy`, or as UTF-8 when empty.
    static EncodingChoice Exactly(const std::string& legacy) {
        return {legacy.empty() ? std::string("UTF-8") : legacy, {}};
    }
};
// How much of a file's start its encoding is found from: the first block a search reads.
inline constexpr std::size_t kEncodingSample = 64 * 1024;

// A file whose first kEncodingSample bytes are ASCII is judged by its first bytes beyond ASCII:
// a long log or dump may hold its first accent far from its start.
//
// The bytes a whole file's `bytes` are judged by: its first kEncodingSample bytes, or as many from
// its first byte beyond ASCII when those are all ASCII.
std::string_view EncodingSample(std::string_view bytes);
// The kEncodingSample bytes of the open file `fd` from its first byte beyond ASCII at `from` or
// later, read into `storage` without moving the file's offset; empty when there is none, or the
// file cannot be read so (a stream).
std::string_view LaterEncodingSample(int fd, std::uint64_t from, std::string& storage);
// For a file whose bytes so far were ASCII and whose bytes `read` were read at `offset` of the
// open file `fd`: nothing when they are ASCII too; otherwise the legacy encoding they and the
// bytes after them are in (LegacyEncodingOf of LaterEncodingSample), empty when read as UTF-8.
std::optional<std::string> LaterLegacyEncoding(int fd, std::string_view read, std::uint64_t offset,
                                               const EncodingChoice& choice);

// Every encoding found file by file, windows-1252 when unsure.
inline const EncodingChoice kFoundEncodings{};

// The legacy encoding to read a file without a byte-order mark in, from its first bytes `head`:
// the forced one; none (empty: read as UTF-8) when `head` is valid UTF-8 (but for a character its
// end cuts) or holds a NUL byte (binary); otherwise the guess, or the fallback.
std::string LegacyEncodingOf(std::string_view head, const EncodingChoice& choice);
// The two halves of LegacyEncodingOf: whether it is none, and what it is otherwise.
bool ReadAsBytes(std::string_view head, const EncodingChoice& choice);
std::string LegacyEncodingOfText(std::string_view head, const EncodingChoice& choice);

// A search for ASCII text need not know which legacy encoding a file is in, when every encoding
// it may be in writes that text as its ASCII bytes and nothing else as those bytes: the hits in
// the decoded text are then the hits among the bytes, but where East Asian characters or
// windows-1258's accents run into them.
//
// Whether `text` is ASCII that every encoding KeepsAscii writes as these very bytes: printable
// characters, tabs and line ends, but for "\" and "~", which Shift_JIS reads as "¥" and "‾".
bool IsPortableAscii(std::string_view text);
// Whether `encoding` writes every portable ASCII character as its own byte and nothing else as
// such a byte, as the encodings of one byte a character that extend ASCII do, and the East Asian
// ones whose characters of two bytes or more begin beyond ASCII.
bool KeepsAscii(const std::string& encoding);
// Whether every encoding `choice` may read a file without a mark in keeps ASCII.
bool KeepsAscii(const EncodingChoice& choice);
// Whether a portable ASCII text found among a legacy file's bytes, after `before` (from the
// file's start when `from_file_start`, else the bytes at hand) and before the byte `after` (-1 at
// the file's end), is that text in the file's decoded text, in every encoding that keeps ASCII.
// False when it may not be: when it may begin within a character of two bytes, or its last letter
// may take the accent after it.
bool AsciiHitIsText(std::string_view before, bool from_file_start, int after);

// The decoder of a file's text after its mark: of UTF-16 for its mark, of `legacy` without one;
// null when the text is read as it is (UTF-8) or `legacy` is not known. An encoding of one byte
// a character (windows-1252, ISO-8859-2, KOI8-R, ...) is decoded by a table, far faster than
// iconv; `check_exact` as for LegacyDecoder.
std::unique_ptr<PieceDecoder> MakeDecoder(ByteOrderMark mark, const std::string& legacy,
                                          bool check_exact = true);

// The name of the encoding a file's text was read in, for the user: its mark's, `legacy`, or
// UTF-8.
std::string EncodingName(ByteOrderMark mark, const std::string& legacy);

// The name of the encoding the text of the open file `fd` is read in (EncodingName), from its
// first kEncodingSample bytes; empty when it cannot be read or holds a NUL byte there without
// a mark (binary: no text).
std::string FileEncodingName(int fd, const EncodingChoice& choice);

// The text of a whole file as UTF-8, as FileTextAsUtf8 gives it, and decoded from the legacy
// encoding `choice` gives it (`legacy`, empty when none) when it has no mark.
ByteOrderMark FileTextInEncoding(std::string_view bytes, const EncodingChoice& choice,
                                 std::string& storage, std::string_view& text, std::string& legacy,
                                 bool* exact = nullptr);

}  // namespace ferret
