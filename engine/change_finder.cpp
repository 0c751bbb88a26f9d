#include "engine/change_finder.h"

namespace ferret {

ChangeFinder::ChangeFinder(std::string_view search_text, std::string_view replace_text, bool regex,
                           bool ignore_case, bool whole_word, std::uint64_t longest_match)
    : replacement_(ConvertSpecialChars(replace_text)) {
    const std::string text = ConvertSpecialChars(search_text);
    if (!regex && !ignore_case && !whole_word && !text.empty() &&
        replacement_.find('$') == std::string::npos) {
        plain_.emplace(text, false);
        same_ = text == replacement_;
        for (std::size_t part = 1; part < text.size() && !overlaps_; ++part) {
            overlaps_ = text.compare(0, part, text, text.size() - part, part) == 0;
        }
    }
    // Plain texts are replaced as patterns too, escaped first: a file too large to hold whole
    // is worked through a window at a time, which only the pattern does.
    const std::string pattern = SearchPattern(search_text, regex, whole_word);
    shortcut_ = MakePatternShortcut(pattern, ignore_case);
    pattern_.SetLongestMatch(longest_match);
    status_ = pattern_.Compile(pattern, ignore_case);
}

Status ChangeFinder::Find(std::string_view body, std::vector<TextEdit>* edits,
                          std::int64_t& count) const {
    count = 0;
    if (edits != nullptr) {
        edits->clear();
    }
    if (!status_.ok()) {
        return status_;
    }
    if (plain_) {
        // Leftmost and not overlapping, as the pattern finds them.
        const std::size_t length = plain_->MaxHitLength();
        for (std::size_t at = plain_->Find(body.data(), body.size(), 0);
             at != std::string_view::npos;
             at = plain_->Find(body.data(), body.size(), at + length)) {
            ++count;
            if (edits != nullptr) {
                edits->push_back({at, at + length, replacement_});
            }
        }
        return {};
    }
    std::string replaced;
    return pattern_.Replace(body, replacement_, true, replaced, count, nullptr, edits);
}

}  // namespace ferret
