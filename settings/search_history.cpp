#include "settings/search_history.h"

#include <cerrno>
#include <unordered_set>

#include "settings/error_log.h"
#include "settings/ini_file.h"
#include "util/app_paths.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

constexpr const char* kFileName = "ferret.dat";
constexpr const char* kHistorySection = "Search List";

IniFile HistoryFile() {
    IniFile ini;
    ini.SetPath(DataFilePath(kFileName));
    ini.SetSection(kHistorySection);
    return ini;
}

// One line of a profile file read by IniFile's rules: a section line ("[name]"), a key line
// ("name=value", not starting with ";") or anything else.
struct ProfileLine {
    enum class Kind { kOther, kSection, kKey } kind = Kind::kOther;
    std::string_view text;  // without its line end
    std::string_view name;
    std::string_view value;
};

ProfileLine ParseLine(std::string_view text) {
    ProfileLine line;
    line.text = text;
    const std::string_view trimmed = ProfileTrim(text);
    if (!trimmed.empty() && trimmed.front() == '[') {
        if (const std::size_t close = trimmed.find(']'); close != std::string_view::npos) {
            line.kind = ProfileLine::Kind::kSection;
            line.name = ProfileTrim(trimmed.substr(1, close - 1));
        }
    } else if (!trimmed.empty() && trimmed.front() != ';') {
        if (const std::size_t equals = trimmed.find('='); equals != std::string_view::npos) {
            line.kind = ProfileLine::Kind::kKey;
            line.name = ProfileTrim(trimmed.substr(0, equals));
            line.value = ProfileValueAsRead(trimmed.substr(equals + 1));
        }
    }
    return line;
}

// Calls `visit(line, inside)` for each line of `text`, `inside` telling whether the line
// belongs to a block of the history section (its header included).
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
    bool inside = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view raw = text.substr(start, end - start);
        if (!raw.empty() && raw.back() == '\r') {
            raw.remove_suffix(1);
        }
        start = end + 1;
        const ProfileLine line = ParseLine(raw);
        if (line.kind == ProfileLine::Kind::kSection) {
            inside = !line.name.empty() && EqualsIgnoringCase(line.name, kHistorySection);
        }
        visit(line, inside);
    }
}

// Notes in `log_failed` an error-log entry that could not be written.
void Told(bool* log_failed, bool written) {
    if (log_failed != nullptr && !written) {
        *log_failed = true;
    }
}

void Reset(bool* log_failed) {
    if (log_failed != nullptr) {
        *log_failed = false;
    }
}

}  // namespace

std::vector<std::string> GetSearchList(bool* log_failed) {
    Reset(log_failed);
    std::vector<std::string> entries;
    std::string text;
    if (Status status = ReadProfileText(DataFilePath(kFileName), text); !status.ok()) {
        if (status.number() != ENOENT) {
            Told(log_failed, LogError("modMruList: GetSearchList", status));
        }
        return entries;
    }
    // One pass with IniFile's reading rules (first line of a key wins, blocks of the section that
    // occur twice are one): asking IniFile key by key rereads the file for every entry.
    std::unordered_set<std::string> seen;
    ForEachLine(text, [&](const ProfileLine& line, bool inside) {
        if (inside && line.kind == ProfileLine::Kind::kKey && !line.name.empty() &&
            seen.insert(FoldCase(line.name)).second && !line.value.empty()) {
            entries.emplace_back(line.value);
        }
    });
    return entries;
}

Status WriteSearchList(const std::vector<std::string>& entries, bool* log_failed) {
    Reset(log_failed);
    const std::string path = DataFilePath(kFileName);
    std::string text;
    if (Status status = ReadProfileText(path, text); !status.ok() && status.number() != ENOENT) {
        return status;  // never overwrite a file that could not be read
    }
    // The file without the section's blocks; the new block goes where the first one stood.
    std::vector<std::string_view> others;
    std::size_t at = std::string::npos;
    ForEachLine(text, [&](const ProfileLine& line, bool inside) {
        if (!inside) {
            others.push_back(line.text);
        } else if (at == std::string::npos) {
            at = others.size();
        }
    });
    if (at == std::string::npos) {
        at = others.size();
    }

    std::string section = "[" + std::string(kHistorySection) + "]\r\n";
    int index = 0;
    for (const std::string& entry : entries) {
        if (entry.find_first_of("\r\n") != std::string::npos) {
            Told(log_failed,
                 LogError("modMruList: SaveSearchList", std::to_string(EINVAL),
                          "A search text with a line break cannot be stored in the history"));
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
    // Reading skips one byte order mark at the start of the file, and ReadProfileText has taken
    // away the file's own: a text that still starts with one (the file had two) needs another in
    // front, or its first line would read differently.
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (out.starts_with(kBom)) {
        out.insert(0, kBom);
    }
    if (Status status = EnsureDataFolder(); !status.ok()) {
        return status;
    }
    return WriteFileAtomically(path, out);
}

void SaveSearchList(const std::vector<std::string>& entries, bool* log_failed) {
    Reset(log_failed);
    if (entries.empty()) {
        return;
    }
    if (Status status = WriteSearchList(entries, log_failed); !status.ok()) {
        Told(log_failed, LogError("modMruList: SaveSearchList", status));
    }
}

void ClearSearchList(bool* log_failed) {
    Reset(log_failed);
    IniFile ini = HistoryFile();
    ini.DeleteSection();
    if (!ini.Success()) {
        Told(log_failed, LogError("modMruList: ClearSearchList", ini.LastStatus()));
    }
}

int FindComboItem(const std::vector<std::string>& items, std::string_view text, bool exact) {
    const std::string folded = exact ? std::string() : FoldCase(text);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const bool found =
            exact ? EqualsIgnoringCase(items[i], text) : FoldCase(items[i]).starts_with(folded);
        if (found) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace ferret
