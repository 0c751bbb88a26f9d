#include "util/extension_list.h"

#include <algorithm>

#include "util/text_fold.h"

namespace ferret {
namespace {

std::vector<std::string> SplitAtCommas(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    });
}

}  // namespace

std::vector<std::string> DefaultExtensions() {
    return SplitAtCommas(kBuiltInExtensions);
}

std::vector<std::string> SplitCustomExtensions(std::string_view stored) {
    if (stored.empty()) {
        return {};
    }
    return SplitAtCommas(stored);
}

std::string NormalizedExtension(std::string_view text) {
    if (IsBlank(text)) {
        return {};
    }
    if (text.front() == '.') {
        return std::string(text);
    }
    return "." + std::string(text);
}

ExtensionList::ExtensionList() : entries_(DefaultExtensions()) {}

ExtensionList ExtensionList::FromStored(std::string_view stored) {
    ExtensionList list;
    list.AppendStored(stored);
    return list;
}

bool ExtensionList::IsDeletable(int position) const {
    return position >= kDefaultExtensionCount && position < Count();
}

bool ExtensionList::Contains(std::string_view extension) const {
    return std::any_of(entries_.begin(), entries_.end(), [extension](const std::string& entry) {
        return EqualsIgnoringCase(entry, extension);
    });
}

bool ExtensionList::Add(std::string_view text) {
    std::string extension = NormalizedExtension(text);
    if (extension.empty() || Contains(extension)) {
        return false;
    }
    entries_.push_back(std::move(extension));
    return true;
}

bool ExtensionList::Delete(int position) {
    if (!IsDeletable(position)) {
        return false;
    }
    entries_.erase(entries_.begin() + position);
    return true;
}

void ExtensionList::ResetToDefaults() {
    entries_ = DefaultExtensions();
}

void ExtensionList::AppendStored(std::string_view stored) {
    for (std::string& extension : SplitCustomExtensions(stored)) {
        entries_.push_back(std::move(extension));
    }
}

std::string ExtensionList::StoredText() const {
    std::string text;
    for (int position = kDefaultExtensionCount; position < Count(); ++position) {
        if (position > kDefaultExtensionCount) {
            text += ',';
        }
        text += entries_[position];
    }
    return text;
}

std::string ApprovedExtensionList(std::string_view custom) {
    return custom.empty() ? std::string(kBuiltInExtensions)
                          : std::string(custom) + "," + kBuiltInExtensions;
}

}  // namespace ferret
