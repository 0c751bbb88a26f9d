#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/content_search.h"
#include "engine/plain_matcher.h"
#include "engine/regex.h"
#include "engine/text_edit.h"
#include "util/status.h"

namespace ferret {

// Finds the changes a replace run makes in a text: as a preview counts them, as the preview's
// window shows them when asked, and as a run of the chosen changes makes them again. The same
// texts always give the same changes.
class ChangeFinder {
  public:
    // The texts as typed (special characters such as "^t" are turned into what they stand for);
    // `regex`: the search text is a pattern and the replacement may use "$" sequences.
    // `longest_match`: as RegExp::SetLongestMatch.
    // `whole_word`: as SearchFields::whole_word.
    ChangeFinder(std::string_view search_text, std::string_view replace_text, bool regex,
                 bool ignore_case, bool whole_word, std::uint64_t longest_match = kLongestMatch);

    // Why the search text cannot be used (a pattern that does not compile), or ok.
    const Status& status() const { return status_; }
    // What lets a file that cannot hold a change go unread; nullptr when nothing does.
    const PatternShortcut* Shortcut() const { return shortcut_.get(); }
    // For a plain text kept in case, its matcher (exact: its changes are its leftmost hits that
    // do not overlap); nullptr otherwise. Every change then takes out the search text itself
    // and puts in the same replacement, so whether a text changes is known from the texts alone.
    const PlainMatcher* Plain() const { return plain_ ? &*plain_ : nullptr; }
    // For Plain: the replacement is the search text, and no change alters a text.
    bool PutsBackPlain() const { return same_; }
    // For Plain: two hits of the text can overlap ("aa" in "aaa"), so not every hit is a change.
    bool PlainOverlaps() const { return overlaps_; }

    // The same changes as a pattern and its replacement text ("$" sequences expanded), for a
    // text taken a window at a time.
    const RegExp& Pattern() const { return pattern_; }
    const std::string& ReplacementText() const { return replacement_; }

    // The changes in `body` (a file's text as decoded), in order: their number in `count`, and
    // each of them in `edits` when given.
    [[nodiscard]] Status Find(std::string_view body, std::vector<TextEdit>* edits,
                              std::int64_t& count) const;

  private:
    std::string replacement_;
    // A plain text kept in case with a replacement without "$" sequences: the plain matcher
    // finds the same changes as the escaped pattern, faster. Ignoring case, the pattern also
    // folds letters beyond ASCII, which the matcher does not.
    std::optional<PlainMatcher> plain_;
    bool same_ = false;      // the plain text is its own replacement
    bool overlaps_ = false;  // the plain text begins with an end of itself
    RegExp pattern_;
    std::unique_ptr<PatternShortcut> shortcut_;
    Status status_;
};

}  // namespace ferret
