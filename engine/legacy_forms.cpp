#include "engine/legacy_forms.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "engine/plain_matcher.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

// Beyond this many forms an encoding gives only the start of the text: enough to pass over most
// files, and quick to look for.
constexpr std::size_t kMostForms = 32;

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The forms of `characters` (each the text's character and its variants) in `encoding`: empty
// when it has no place for one of them, nothing when how it writes the first is not known.
std::optional<std::vector<std::string>> FormsIn(
    const std::string& encoding, const std::vector<std::vector<std::string>>& characters) {
    std::vector<std::string> starts = {std::string()};
    for (const std::vector<std::string>& variants : characters) {
        std::vector<std::string> ways;
        bool known = true;
        for (const std::string& variant : variants) {
            if (variant == kReplacementCharacter) {
                known = false;  // what a decoder writes for bytes no encoding holds
                break;
            }
            const std::optional<std::vector<std::string>> forms = CharacterForms(encoding, variant);
            if (!forms) {
                known = false;
                break;
            }
            ways.insert(ways.end(), forms->begin(), forms->end());
        }
        if (!known || starts.size() * ways.size() > kMostForms) {
            break;  // the forms of the text's start
        }
        if (ways.empty()) {
            return std::vector<std::string>();  // a character the encoding has no place for
        }
        std::vector<std::string> longer;
        for (const std::string& start : starts) {
            for (const std::string& way : ways) {
                longer.push_back(start + way);
            }
        }
        starts = std::move(longer);
    }
    if (starts.front().empty()) {
        return std::nullopt;
    }
    return starts;
}

}  // namespace

FormSet::FormSet(std::vector<std::string> forms) : forms_(std::move(forms)) {
    for (const std::string& form : forms_) {
        longest_ = std::max(longest_, form.size());
        by_first_byte_[static_cast<unsigned char>(form.front())].push_back(form);
    }
}

LegacyForms::LegacyForms(std::vector<std::vector<std::string>> characters,
                         const std::vector<std::string>& encodings)
    : characters_(std::move(characters)) {
    for (const std::string& name : encodings) {
        encodings_.push_back(Encoding{name, false, std::nullopt});
    }
}

LegacyForms& LegacyForms::For(const PlainMatcher& matcher, const EncodingChoice& choice) {
    struct Made {
        std::string text;
        bool ignore_case = false;
        EncodingChoice choice;
        std::unique_ptr<LegacyForms> forms;
    };
    thread_local std::optional<Made> made;
    if (!made || made->text != matcher.text() || made->ignore_case != matcher.ignore_case() ||
        made->choice.forced != choice.forced || made->choice.fallback != choice.fallback) {
        std::vector<std::string> encodings;
        if (choice.forced.empty()) {
            encodings = GuessableEncodings();
            encodings.push_back(choice.fallback);
        } else {
            encodings.push_back(choice.forced);
        }
        made = Made{std::string(matcher.text()), matcher.ignore_case(), choice,
                    std::make_unique<LegacyForms>(matcher.CharacterVariants(), encodings)};
    }
    return *made->forms;
}

const FormSet* LegacyForms::Made(Encoding& encoding) {
    if (!encoding.made) {
        encoding.made = true;
        if (std::optional<std::vector<std::string>> forms = FormsIn(encoding.name, characters_)) {
            encoding.forms.emplace(std::move(*forms));
        }
    }
    return encoding.forms ? &*encoding.forms : nullptr;
}

const FormSet* LegacyForms::All() {
    if (!all_made_) {
        all_made_ = true;
        std::set<std::string> all;
        for (Encoding& encoding : encodings_) {
            if (Made(encoding) == nullptr) {
                return nullptr;
            }
            all.insert(encoding.forms->forms().begin(), encoding.forms->forms().end());
        }
        all_.emplace(std::vector<std::string>(all.begin(), all.end()));
    }
    return all_ ? &*all_ : nullptr;
}

bool LegacyForms::AllWorthMaking() {
    // Loading the converters of every encoding a guess may give takes some 7 ms; a guess of one
    // file's encoding and its own converter take a few dozen microseconds.
    constexpr int kFilesBeforeAll = 32;
    return all_made_ || ++files_met_ > kFilesBeforeAll;
}

const FormSet* LegacyForms::In(std::string_view encoding) {
    for (Encoding& known : encodings_) {
        if (known.name == encoding) {
            return Made(known);
        }
    }
    return nullptr;
}

bool FormSet::HeldIn(std::string_view bytes) const {
    const auto* const data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        for (const std::string& form : by_first_byte_[data[at]]) {
            if (form.size() <= bytes.size() - at &&
                std::memcmp(form.data(), data + at, form.size()) == 0) {
                return true;
            }
        }
    }
    return false;
}

bool FileBytesHold(int fd, std::string_view first,
                   const std::function<bool(std::string_view)>& holds, std::size_t longest) {
    if (holds(first)) {
        return true;
    }
    const std::size_t block = 64 * 1024;
    const std::size_t carry_room = longest > 0 ? longest - 1 : 0;
    thread_local std::vector<char> buffer;
    buffer.resize(carry_room + block);
    std::size_t filled = std::min(carry_room, first.size());
    std::memcpy(buffer.data(), first.data() + first.size() - filled, filled);
    for (std::uint64_t offset = first.size();;) {
        const ReadResult got = ReadFullAt(fd, buffer.data() + filled, block, offset);
        if (got.failed()) {
            return true;
        }
        if (got.bytes == 0) {
            return false;
        }
        offset += got.bytes;
        filled += got.bytes;
        if (holds(std::string_view(buffer.data(), filled))) {
            return true;
        }
        const std::size_t keep = std::min(carry_room, filled);
        std::memmove(buffer.data(), buffer.data() + filled - keep, keep);
        filled = keep;
    }
}

bool FoundAmongLegacyBytes(const PlainMatcher& matcher, const EncodingChoice& choice) {
    return matcher.OnlyAsciiHits() && IsPortableAscii(matcher.text()) && KeepsAscii(choice);
}

namespace {

bool FileHoldsForms(int fd, std::string_view first, const FormSet& forms) {
    return !forms.empty() &&
           FileBytesHold(
               fd, first, [&](std::string_view bytes) { return forms.HeldIn(bytes); },
               forms.Longest());
}

}  // namespace

std::optional<std::string> LegacyEncodingForHits(int fd, std::string_view first,
                                                 std::string_view sample,
                                                 const PlainMatcher* matcher,
                                                 const EncodingChoice& choice) {
    if (matcher == nullptr || matcher->empty()) {
        return LegacyEncodingOfText(sample, choice);
    }
    if (FoundAmongLegacyBytes(*matcher, choice)) {
        // The text's bytes are the same in every such encoding.
        if (!FileBytesHold(
                fd, first,
                [&](std::string_view bytes) {
                    return matcher->Find(bytes.data(), bytes.size(), 0) != std::string_view::npos;
                },
                matcher->MaxHitLength())) {
            return std::nullopt;
        }
        return LegacyEncodingOfText(sample, choice);
    }
    LegacyForms& forms = LegacyForms::For(*matcher, choice);
    if (forms.AllWorthMaking() && forms.All() != nullptr &&
        !FileHoldsForms(fd, first, *forms.All())) {
        return std::nullopt;
    }
    std::string encoding = LegacyEncodingOfText(sample, choice);
    // Its own encoding's forms are fewer: most files that hold a form of the text in another
    // encoding (a common byte, as "é" in windows-1252 is) hold none of these.
    const FormSet* const own = forms.In(encoding);
    if (own != nullptr && !FileHoldsForms(fd, first, *own)) {
        return std::nullopt;
    }
    return encoding;
}

}  // namespace ferret
