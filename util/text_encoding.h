#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ferret {

// Text files are bytes, searched as they are, unless they start with a byte-order mark: then
// they are text in that encoding, and searching, replacing and previewing work on the text
// (as UTF-8) rather than on the bytes.
enum class ByteOrderMark { kNone, kUtf8, kUtf16LE, kUtf16BE };

// The mark the file's first bytes `head` start with. UTF-32's little-endian mark (FF FE 00 00)
// counts as none.
ByteOrderMark DetectByteOrderMark(std::string_view head);

// How many bytes the mark takes.
std::size_t MarkLength(ByteOrderMark mark);

// Decodes UTF-16 text (after its mark) into UTF-8. An unpaired surrogate or a last odd byte
// becomes U+FFFD; the result is then false, as the text would not encode back to the same bytes.
bool DecodeUtf16(std::string_view bytes, bool big_endian, std::string& utf8);

// Decodes a file's text into UTF-8 as it comes, a piece at a time: what a piece's end cuts waits
// for the next.
class PieceDecoder {
  public:
    virtual ~PieceDecoder() = default;
    // Appends the UTF-8 of `bytes` to `utf8`.
    virtual void Decode(std::string_view bytes, std::string& utf8) = 0;
    // The text has ended: what still waits (a character cut short) becomes U+FFFD.
    virtual void Finish(std::string& utf8) = 0;
    // Whether what was decoded encodes back to the same bytes: only then may a file be rewritten
    // from its text.
    virtual bool exact() const = 0;
};

// DecodeUtf16 for a text that comes a piece at a time: a unit or a surrogate pair cut by a
// piece's end waits for the next; an odd byte or a lone high surrogate at the end is U+FFFD.
class Utf16Decoder final : public PieceDecoder {
  public:
    explicit Utf16Decoder(bool big_endian) : big_endian_(big_endian) {}
    void Decode(std::string_view bytes, std::string& utf8) override;
    void Finish(std::string& utf8) override;
    bool exact() const override { return exact_; }

  private:
    // Decodes the whole units of `bytes` but a last high surrogate; how many bytes it took.
    std::size_t Units(std::string_view bytes, std::string& utf8);

    const bool big_endian_;
    std::string waiting_;  // at most a high surrogate and one byte more
    bool exact_ = true;
};

// Encodes UTF-8 text as UTF-16. False, with `out` unusable, when `utf8` is not valid UTF-8.
bool EncodeUtf16(std::string_view utf8, bool big_endian, std::string& out);

// How many bytes the valid UTF-8 text `utf8` takes as UTF-16.
std::size_t Utf16Length(std::string_view utf8);

// Whether `text` is ASCII without a NUL byte: text that is UTF-8 and not binary, the most common
// first block by far, told at the speed of memory.
bool IsAsciiWithoutNul(std::string_view text);
// Where the first byte of `text` beyond ASCII is; npos when there is none.
std::size_t FirstBeyondAscii(std::string_view text);

// Whether `text` is valid UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);

// The text of a file as UTF-8: the bytes after a UTF-8 mark, decoded UTF-16 after a UTF-16 one,
// `bytes` as they are without a mark. `exact` tells whether the text encodes back to the same
// bytes (false only for damaged UTF-16). Returns the mark found.
ByteOrderMark FileTextAsUtf8(std::string_view bytes, std::string& storage, std::string_view& text,
                             bool* exact = nullptr);

}  // namespace ferret
