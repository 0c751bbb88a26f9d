#include "settings/search_history.h"

#include <cerrno>

#include "app/error_log.h"
#include "settings/ini_file.h"
#include "util/app_paths.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

constexpr const char* kFileName = "ferret.dat";
constexpr const char* kSection = "Search List";

cINI HistoryFile() {
    cINI ini;
    ini.SetPath(DataFilePath(kFileName));
    ini.SetSection(kSection);
    return ini;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Whether `line` opens a section, and which: the profile rules of cINI.
bool SectionLine(std::string_view line, std::string_view& name) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() != '[') {
        return false;
    }
    const std::size_t close = trimmed.find(']');
    if (close == std::string_view::npos) {
        return false;
    }
    name = Trim(trimmed.substr(1, close - 1));
    return true;
}

// `text` without the blocks of the history section, as lines without their line ends; `at` is
// where the first such block stood (the end when there was none).
std::vector<std::string_view> OtherLines(std::string_view text, std::size_t& at) {
    std::vector<std::string_view> kept;
    at = std::string::npos;
    bool inside = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        start = end + 1;
        if (std::string_view name; SectionLine(line, name)) {
            inside = !name.empty() && EqualsIgnoringCase(name, kSection);
            if (inside && at == std::string::npos) {
                at = kept.size();
            }
        }
        if (!inside) {
            kept.push_back(line);
        }
    }
    if (at == std::string::npos) {
        at = kept.size();
    }
    return kept;
}

}  // namespace

std::vector<std::string> GetSearchList() {
    std::vector<std::string> entries;
    cINI ini = HistoryFile();
    std::vector<std::string> keys;
    ini.EnumerateCurrentSection(keys);
    for (const std::string& key : keys) {
        ini.SetKey(key);
        if (std::string value = ini.Value(); !value.empty()) {
            entries.push_back(std::move(value));
        }
    }
    return entries;
}

Status WriteSearchList(const std::vector<std::string>& entries) {
    const std::string path = DataFilePath(kFileName);
    std::string text;
    if (Status status = ReadProfileText(path, text); !status.ok() && status.number() != ENOENT) {
        return status;  // never overwrite a file that could not be read
    }
    std::size_t at = 0;
    const std::vector<std::string_view> others = OtherLines(text, at);

    std::string section = "[" + std::string(kSection) + "]\r\n";
    int index = 0;
    for (const std::string& entry : entries) {
        if (entry.find_first_of("\r\n") != std::string::npos) {
            LogError("modMruList: SaveSearchList", std::to_string(EINVAL),
                     "A search text with a line break cannot be stored in the history");
            continue;
        }
        const std::string value = ProfileValueText(entry);
        if (value.empty()) {
            continue;  // would never load again
        }
        section += "item_" + std::to_string(index++) + "=" + value + "\r\n";
    }

    std::string out;
    out.reserve(text.size() + section.size());
    for (std::size_t i = 0; i <= others.size(); ++i) {
        if (i == at) {
            out += section;
        }
        if (i < others.size()) {
            out += others[i];
            out += "\r\n";
        }
    }
    if (Status status = EnsureDataFolder(); !status.ok()) {
        return status;
    }
    return WriteFileAtomically(path, out);
}

void SaveSearchList(const std::vector<std::string>& entries) {
    if (entries.empty()) {
        return;
    }
    if (Status status = WriteSearchList(entries); !status.ok()) {
        LogError("modMruList: SaveSearchList", status);
    }
}

void ClearSearchList() {
    cINI ini = HistoryFile();
    ini.DeleteSection();
    if (!ini.Success()) {
        LogError("modMruList: ClearSearchList", ini.LastStatus());
    }
}

int FindComboItem(const std::vector<std::string>& items, std::string_view text, bool exact) {
    const std::string folded = exact ? std::string() : FoldCase(text);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const bool found = exact ? EqualsIgnoringCase(items[i], text)
                                 : FoldCase(items[i]).starts_with(folded);
        if (found) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace ferret
