#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/legacy_text.h"

namespace ferret {

class PlainMatcher;

// The ways a search text (or its start) may be written in a legacy file whose encoding is not
// known yet, in every encoding the file may be read in: a file whose bytes hold none of them
// holds no hit, which spares the guess of its encoding and its decoding.
class LegacyForms {
  public:
    // The forms of `matcher`'s text under `choice`, made once for the calling thread while the
    // two stay the same; null when they cannot be told (the text's first character may be
    // written in ways not known). Empty when no such encoding can hold the text.
    static const LegacyForms* For(const PlainMatcher& matcher, const EncodingChoice& choice);

    explicit LegacyForms(std::vector<std::string> forms);

    // Whether `bytes` hold one of the forms whole.
    bool HeldIn(std::string_view bytes) const;
    // The longest form, in bytes.
    std::size_t Longest() const { return longest_; }

  private:
    std::array<std::vector<std::string>, 256> by_first_byte_;
    std::size_t longest_ = 0;
};

// Whether `matcher`'s hits in a legacy file are found among its bytes as they are: an ASCII
// text every encoding `choice` may read the file in writes as its bytes (KeepsAscii).
bool FoundAmongLegacyBytes(const PlainMatcher& matcher, const EncodingChoice& choice);

// Whether a legacy file may hold a hit of `matcher`: false only when its bytes (the open file
// `fd`, its first bytes `first`) hold the text in none of the encodings `choice` may read it in,
// which spares the guess of its encoding.
bool LegacyBytesMayHold(int fd, std::string_view first, const PlainMatcher& matcher,
                        const EncodingChoice& choice);

// Whether the bytes of the open file `fd`, read from its start, hold a text `holds` finds (none
// longer than `longest` bytes): `first` are its first bytes, the rest are read without moving the
// file's offset. True when they cannot be read.
bool FileBytesHold(int fd, std::string_view first,
                   const std::function<bool(std::string_view)>& holds, std::size_t longest);

}  // namespace ferret
