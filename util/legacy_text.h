#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace ferret {

// Text in the 8-bit and East Asian encodings that files without a byte-order mark may be in
// (windows-1252, KOI8-R, Shift_JIS, GB18030, ...), to and from UTF-8, through the C library's
// iconv: every encoding it knows, by the names it knows.

// The encoding of `sample`, text that is not UTF-8, as a name iconv knows; empty when the guess
// is not sure (or is UTF-8). ISO-8859-1 is read as windows-1252, as browsers read it: the two
// differ only in bytes 80 to 9F, which are control characters in the first and rarely meant as
// such.
std::string GuessEncoding(std::string_view sample);

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
class LegacyDecoder {
  public:
    explicit LegacyDecoder(const std::string& encoding);
    // Whether the encoding is known.
    bool ok() const { return decode_.ok() && encode_.ok(); }
    // Appends the UTF-8 of `bytes` to `utf8`.
    void Decode(std::string_view bytes, std::string& utf8);
    // The text has ended: what still waits (a character cut short) becomes U+FFFD.
    void Finish(std::string& utf8);
    // Whether what was decoded encodes back to the same bytes: only then may a file be rewritten
    // from its text.
    bool exact() const { return exact_; }

  private:
    // Decodes what it can of `bytes` (waiting_ first); how many bytes were taken.
    std::size_t Convert(std::string_view bytes, std::string& utf8, bool last);
    // Checks that `utf8` encodes back to `bytes`.
    void CheckBack(std::string_view bytes, std::string_view utf8);

    Iconv decode_;
    Iconv encode_;
    std::string waiting_;  // the start of a character cut by a piece's end
    std::string back_;     // room to encode back in
    bool exact_ = true;
};

// Encodes UTF-8 text in a legacy encoding.
class LegacyEncoder {
  public:
    explicit LegacyEncoder(const std::string& encoding) : encode_(encoding, "UTF-8") {}
    bool ok() const { return encode_.ok(); }
    // Appends `utf8` in the encoding to `out`. False, with `out` unusable, when a character of
    // it has no place in the encoding or `utf8` is not valid UTF-8.
    bool Encode(std::string_view utf8, std::string& out);

  private:
    Iconv encode_;
};

}  // namespace ferret
