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

std::unique_ptr<LegacyForms> MakeForms(const PlainMatcher& matcher, const EncodingChoice& choice) {
    const std::vector<std::vector<std::string>> characters = matcher.CharacterVariants();
    for (const std::vector<std::string>& variants : characters) {
        for (const std::string& variant : variants) {
            if (variant == kReplacementCharacter) {
                return nullptr;  // what a decoder writes for bytes no encoding holds
            }
        }
    }
    std::vector<std::string> encodings;
    if (choice.forced.empty()) {
        encodings = GuessableEncodings();
        encodings.push_back(choice.fallback);
    } else {
        encodings.push_back(choice.forced);
    }
    std::set<std::string> all;
    for (const std::string& encoding : encodings) {
        std::vector<std::string> starts = {std::string()};
        bool held = true;
        for (const std::vector<std::string>& variants : characters) {
            std::vector<std::string> ways;
            bool known = true;
            for (const std::string& variant : variants) {
                const std::optional<std::vector<std::string>> forms =
                    CharacterForms(encoding, variant);
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
                held = false;  // a character the encoding has no place for
                break;
            }
            std::vector<std::string> longer;
            for (const std::string& start : starts) {
                for (const std::string& way : ways) {
                    longer.push_back(start + way);
                }
            }
            starts = std::move(longer);
        }
        if (!held) {
            continue;
        }
        if (starts.front().empty()) {
            return nullptr;  // nothing is known of how this encoding writes the text
        }
        all.insert(starts.begin(), starts.end());
    }
    return std::make_unique<LegacyForms>(std::vector<std::string>(all.begin(), all.end()));
}

}  // namespace

LegacyForms::LegacyForms(std::vector<std::string> forms) {
    for (std::string& form : forms) {
        longest_ = std::max(longest_, form.size());
        by_first_byte_[static_cast<unsigned char>(form.front())].push_back(std::move(form));
    }
}

const LegacyForms* LegacyForms::For(const PlainMatcher& matcher, const EncodingChoice& choice) {
    struct Made {
        std::string text;
        bool ignore_case = false;
        EncodingChoice choice;
        std::unique_ptr<LegacyForms> forms;
    };
    thread_local std::optional<Made> made;
    if (!made || made->text != matcher.text() || made->ignore_case != matcher.ignore_case() ||
        made->choice.forced != choice.forced || made->choice.fallback != choice.fallback) {
        made = Made{std::string(matcher.text()), matcher.ignore_case(), choice,
                    MakeForms(matcher, choice)};
    }
    return made->forms.get();
}

bool LegacyForms::HeldIn(std::string_view bytes) const {
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

bool LegacyBytesMayHold(int fd, std::string_view first, const PlainMatcher& matcher,
                        const EncodingChoice& choice) {
    if (matcher.empty()) {
        return true;
    }
    if (FoundAmongLegacyBytes(matcher, choice)) {
        return FileBytesHold(
            fd, first,
            [&](std::string_view bytes) {
                return matcher.Find(bytes.data(), bytes.size(), 0) != std::string_view::npos;
            },
            matcher.MaxHitLength());
    }
    const LegacyForms* const forms = LegacyForms::For(matcher, choice);
    return forms == nullptr ||
           FileBytesHold(
               fd, first, [&](std::string_view bytes) { return forms->HeldIn(bytes); },
               forms->Longest());
}

}  // namespace ferret
