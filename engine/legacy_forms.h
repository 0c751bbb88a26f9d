#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/legacy_text.h"

namespace ferret {

class PlainMatcher;

// Byte strings one of which a file must hold for a hit: the ways a text (or its start) may be
// written.
class FormSet {
  public:
    FormSet() = default;
    explicit FormSet(std::vector<std::string> forms);

    // Whether `bytes` hold one of the forms whole.
    bool HeldIn(std::string_view bytes) const;
    // The longest form, in bytes.
    std::size_t Longest() const { return longest_; }
    bool empty() const { return longest_ == 0; }
    const std::vector<std::string>& forms() const { return forms_; }

  private:
    std::vector<std::string> forms_;
    std::array<std::vector<std::string>, 256> by_first_byte_;
    std::size_t longest_ = 0;
};

// The ways a search text may be written in a legacy file, in each encoding the file may be read
// in: a file whose bytes hold none of them holds no hit, which spares the guess of its encoding;
// once guessed, one whose bytes hold none of its encoding's ways spares its decoding. Each
// encoding's are made when first asked for, as that loads its converter.
class LegacyForms {
  public:
    // The forms of `matcher`'s text under `choice`, kept for the calling thread while the two stay
    // the same.
    static LegacyForms& For(const PlainMatcher& matcher, const EncodingChoice& choice);

    // `characters`: each of the text's characters with its variants (as the matcher gives them).
    LegacyForms(std::vector<std::vector<std::string>> characters,
                const std::vector<std::string>& encodings);

    // The forms in every encoding (empty when none can hold the text); null when how one of them
    // writes the text's first character is not known (windows-1258 may write an accented letter
    // as the letter and its accent).
    const FormSet* All();
    // Whether All is worth making for one more legacy file: it loads every encoding's converter,
    // which costs as much as guessing the encodings of a few dozen files, so it waits until the
    // thread has met that many.
    bool AllWorthMaking();
    // The forms in `encoding` (empty when it cannot hold the text); null when not known, or not
    // among the encodings.
    const FormSet* In(std::string_view encoding);

  private:
    struct Encoding {
        std::string name;
        bool made = false;
        std::optional<FormSet> forms;
    };

    const FormSet* Made(Encoding& encoding);

    std::vector<std::vector<std::string>> characters_;
    std::vector<Encoding> encodings_;
    bool all_made_ = false;
    int files_met_ = 0;
    std::optional<FormSet> all_;
};

// Whether `matcher`'s hits in a legacy file are found among its bytes as they are: an ASCII
// text every encoding `choice` may read the file in writes as its bytes (KeepsAscii).
bool FoundAmongLegacyBytes(const PlainMatcher& matcher, const EncodingChoice& choice);

// The encoding a legacy file is read in (LegacyEncodingOfText of `sample`, its first bytes), or
// nothing when it holds no hit of `matcher` (when given): its bytes (the open file `fd`, its
// first bytes `first`) hold the text in none of the encodings `choice` may read it in, which
// spares the guess, or not in the one guessed, which spares the decoding.
std::optional<std::string> LegacyEncodingForHits(int fd, std::string_view first,
                                                 std::string_view sample,
                                                 const PlainMatcher* matcher,
                                                 const EncodingChoice& choice);

// Whether the bytes of the open file `fd`, read from its start, hold a text `holds` finds (none
// longer than `longest` bytes): `first` are its first bytes, the rest are read without moving the
// file's offset. True when they cannot be read.
bool FileBytesHold(int fd, std::string_view first,
                   const std::function<bool(std::string_view)>& holds, std::size_t longest);

}  // namespace ferret
