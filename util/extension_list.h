#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ferret {

// The extensions a replace run may rewrite besides the user's own ones, in list order.
inline constexpr char kBuiltInExtensions[] =
    ".asp,.aspx,.cfm,.css,.cls,.frm,.htm,.html,.inc,.ini,.js,.jsp,.mod,.not,.php,.pl,.reg,.txt,"
    ".vbp,.vbs,.xml";

// How many entries kBuiltInExtensions holds. They always come first in the list, so an entry is a
// default one by its position alone.
inline constexpr int kDefaultExtensionCount = 21;

// kBuiltInExtensions split at ",".
std::vector<std::string> DefaultExtensions();

// The custom extensions stored in the "ext_list" text: its pieces split at ",", kept as they are;
// an empty text holds none.
std::vector<std::string> SplitCustomExtensions(std::string_view stored);

// What `text` becomes when added: "." put in front when missing. Empty for an empty or blank text,
// which is never added.
std::string NormalizedExtension(std::string_view text);

// The approved-extension list as the options dialog edits it: the defaults at positions 0 to
// kDefaultExtensionCount - 1, then the custom extensions in the order they were added. A value
// type, not thread-safe.
class ExtensionList {
  public:
    // The defaults alone.
    ExtensionList();
    // The defaults followed by the custom extensions of a stored "ext_list" text.
    static ExtensionList FromStored(std::string_view stored);

    const std::vector<std::string>& Entries() const { return entries_; }
    int Count() const { return static_cast<int>(entries_.size()); }

    // Whether the entry at `position` may be deleted: a custom one that exists.
    bool IsDeletable(int position) const;
    // Whether an entry equals `extension`, ignoring letter case (a longer entry that starts with
    // it does not count).
    bool Contains(std::string_view extension) const;

    // Appends NormalizedExtension(text) unless it is empty or already present. Returns whether
    // an entry was appended.
    bool Add(std::string_view text);
    // Removes the entry at `position` when IsDeletable(position). Returns whether it did.
    bool Delete(int position);
    // Back to the defaults alone.
    void ResetToDefaults();
    // Appends the custom extensions of a stored "ext_list" text as they are: what was saved comes
    // back unchanged, so there is no duplicate test.
    void AppendStored(std::string_view stored);

    // The text to store as "ext_list": the custom extensions joined by ",", empty when there are
    // none.
    std::string StoredText() const;

  private:
    std::vector<std::string> entries_;
};

// The approved-extension list: the user's own extensions as stored ("ext_list"), followed by
// the built-in ones.
std::string ApprovedExtensionList(std::string_view custom);

}  // namespace ferret
