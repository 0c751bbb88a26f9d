#include "settings/app_settings.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "settings/settings.h"
#include "util/legacy_text.h"

namespace ferret {
namespace {

std::string BoolText(bool value) {
    return value ? "True" : "False";
}

// How a field is read from its stored text (never empty) and written back. The text a default
// AppSettings writes is the setting's default text.
struct Field {
    const char* name;
    void (*read)(AppSettings& settings, const std::string& text);
    std::string (*write)(const AppSettings& settings);
};

int Geometry(const std::string& text) {
    return SettingAsInt(text, -1);
}

// A switch of the search's own, stored as "1" or "0" like "SearchSubfolders".
bool Switch(const std::string& text) {
    return SettingAsInt(text, 0) == 1;
}
std::string SwitchText(bool on) {
    return on ? "1" : "0";
}

// The newest entries, in their order, without empty ones, repeats (the later one stays) or
// ones a line break would split.
std::vector<std::string> KeptHistory(const std::vector<std::string>& entries) {
    std::vector<std::string> kept;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (kept.size() == AppSettings::kSkipFoldersKept) {
            break;
        }
        if (!it->empty() && it->find_first_of("\r\n") == std::string::npos &&
            std::find(kept.begin(), kept.end(), *it) == kept.end()) {
            kept.push_back(*it);
        }
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

// One entry a line; a hand-edited file may end its lines with "\r\n".
std::vector<std::string> HistoryOfText(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return KeptHistory(lines);
}

std::string TextOfHistory(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : KeptHistory(entries)) {
        text += (text.empty() ? "" : "\n") + entry;
    }
    return text;
}

const Field kFields[] = {
    {kStartupFolder, [](AppSettings& s, const std::string& t) { s.startup_folder = t; },
     [](const AppSettings& s) { return s.startup_folder; }},
    {kFileFilterMask, [](AppSettings& s, const std::string& t) { s.file_filter_mask = t; },
     [](const AppSettings& s) { return s.file_filter_mask; }},
    {kReportType,
     [](AppSettings& s, const std::string& t) {
         s.report_type = ReportTypeOfCode(SettingAsInt(t, -1));
     },
     [](const AppSettings& s) {
         return std::to_string(ReportCode(s.report_type.value_or(ReportType::kFileList)));
     }},
    {kFerretHeight, [](AppSettings& s, const std::string& t) { s.ferret_height = Geometry(t); },
     [](const AppSettings& s) { return std::to_string(s.ferret_height); }},
    {kFerretWidth, [](AppSettings& s, const std::string& t) { s.ferret_width = Geometry(t); },
     [](const AppSettings& s) { return std::to_string(s.ferret_width); }},
    {kFerretTop, [](AppSettings& s, const std::string& t) { s.ferret_top = Geometry(t); },
     [](const AppSettings& s) { return std::to_string(s.ferret_top); }},
    {kFerretLeft, [](AppSettings& s, const std::string& t) { s.ferret_left = Geometry(t); },
     [](const AppSettings& s) { return std::to_string(s.ferret_left); }},
    {kSearchSubfolders,
     [](AppSettings& s, const std::string& t) { s.search_subfolders = SettingAsInt(t, 0) == 1; },
     [](const AppSettings& s) { return std::string(s.search_subfolders ? "1" : "0"); }},
    {kSkipFolders, [](AppSettings& s, const std::string& t) { s.skip_folders = t; },
     [](const AppSettings& s) { return s.skip_folders; }},
    {kSkipFoldersHistory,
     [](AppSettings& s, const std::string& t) { s.skip_folders_history = HistoryOfText(t); },
     [](const AppSettings& s) { return TextOfHistory(s.skip_folders_history); }},
    {kGitIgnore, [](AppSettings& s, const std::string& t) { s.use_ignore_files = Switch(t); },
     [](const AppSettings& s) { return SwitchText(s.use_ignore_files); }},
    {kNoBinary, [](AppSettings& s, const std::string& t) { s.skip_binary = Switch(t); },
     [](const AppSettings& s) { return SwitchText(s.skip_binary); }},
    {kArchives, [](AppSettings& s, const std::string& t) { s.search_inside = Switch(t); },
     [](const AppSettings& s) { return SwitchText(s.search_inside); }},
    {kSearchSizeOpt, nullptr,
     [](const AppSettings& s) { return std::to_string(s.search_size_option); }},
    {kSearchDateOpt, nullptr,
     [](const AppSettings& s) { return std::to_string(s.search_date_option); }},
    {kAutoReportUpdate,
     [](AppSettings& s, const std::string& t) { s.auto_report_update = IsTrue(t); },
     [](const AppSettings& s) { return BoolText(s.auto_report_update); }},
    {kDisplayQuickLinks,
     [](AppSettings& s, const std::string& t) { s.display_quick_links = IsTrue(t); },
     [](const AppSettings& s) { return BoolText(s.display_quick_links); }},
    {kLogging, [](AppSettings& s, const std::string& t) { s.logging = IsTrue(t); },
     [](const AppSettings& s) { return BoolText(s.logging); }},
    {kFileHandlerWord,
     [](AppSettings& s, const std::string& t) { s.file_handler_word = IsTrue(t); },
     [](const AppSettings& s) { return BoolText(s.file_handler_word); }},
    {kFileHandlerExcel,
     [](AppSettings& s, const std::string& t) { s.file_handler_excel = IsTrue(t); },
     [](const AppSettings& s) { return BoolText(s.file_handler_excel); }},
    {kExtList, [](AppSettings& s, const std::string& t) { s.extension_list = t; },
     [](const AppSettings& s) { return s.extension_list; }},
    // The previewer offers 10 and 14 only.
    {kPreviewFontSize,
     [](AppSettings& s, const std::string& t) {
         s.preview_font_size = SettingAsInt(t, 14) == 10 ? 10 : 14;
     },
     [](const AppSettings& s) { return std::to_string(s.preview_font_size); }},
    {kRestoreFolder, [](AppSettings& s, const std::string& t) { s.restore_folder = t; },
     [](const AppSettings& s) { return s.restore_folder; }},
    {kRestoreQuantity,
     [](AppSettings& s, const std::string& t) {
         s.restore_quantity = std::max(SettingAsInt(t, AppSettings().restore_quantity), -1);
     },
     [](const AppSettings& s) { return std::to_string(s.restore_quantity); }},
    {kHitLineContext,
     [](AppSettings& s, const std::string& t) {
         s.hit_line_context = std::clamp(SettingAsInt(t, AppSettings().hit_line_context), 0, 3);
     },
     [](const AppSettings& s) { return std::to_string(s.hit_line_context); }},
    {kLongestMatchMb,
     [](AppSettings& s, const std::string& t) {
         s.longest_match_mb = std::clamp<std::int64_t>(
             SettingAsInt(t, static_cast<int>(AppSettings().longest_match_mb)), 1, 16384);
     },
     [](const AppSettings& s) { return std::to_string(s.longest_match_mb); }},
    {kEditorCommand, [](AppSettings& s, const std::string& t) { s.editor_command = t; },
     [](const AppSettings& s) { return s.editor_command; }},
    {kColorScheme,
     [](AppSettings& s, const std::string& t) {
         const int code = SettingAsInt(t, -1);
         s.color_scheme = code == 1   ? ColorSchemeChoice::kLight
                          : code == 2 ? ColorSchemeChoice::kDark
                                      : ColorSchemeChoice::kDesktop;
     },
     [](const AppSettings& s) { return std::to_string(static_cast<int>(s.color_scheme)); }},
    {kTextEncoding,
     [](AppSettings& s, const std::string& t) {
         s.text_encoding = KnownEncoding(t) ? t : std::string();
     },
     [](const AppSettings& s) { return s.text_encoding; }},
    {kLegacyEncoding,
     [](AppSettings& s, const std::string& t) {
         s.legacy_encoding = KnownEncoding(t) ? t : AppSettings().legacy_encoding;
     },
     [](const AppSettings& s) { return s.legacy_encoding; }},
};

const Field* FieldNamed(std::string_view name) {
    for (const Field& field : kFields) {
        if (name == field.name) {
            return &field;
        }
    }
    return nullptr;
}

Status Save(const AppSettings& settings, const char* name) {
    return SaveSettingValue(kSettingsKey, name, FieldNamed(name)->write(settings));
}

}  // namespace

AppSettings ReadAppSettings() {
    AppSettings settings;
    const SettingsKeyRead key = ReadSettingsKey(kSettingsKey);
    for (const Field& field : kFields) {
        if (field.read == nullptr) {
            continue;
        }
        if (const std::string text = key.Text(field.name, std::string()); !text.empty()) {
            field.read(settings, text);
        }
    }
    return settings;
}

std::string SettingDefault(std::string_view name) {
    const Field* field = FieldNamed(name);
    // A value never read back has no default.
    return field != nullptr && field->read != nullptr ? field->write(AppSettings()) : std::string();
}

std::string RestoreFolderSetting() {
    return ReadAppSettings().restore_folder;
}

int RestoreQuantitySetting() {
    return ReadAppSettings().restore_quantity;
}

Status SaveReportType(ReportType type) {
    AppSettings settings;
    settings.report_type = type;
    return Save(settings, kReportType);
}

Status SavePreviewFontSize(int points) {
    AppSettings settings;
    settings.preview_font_size = points;
    return Save(settings, kPreviewFontSize);
}

Status SaveOptionSettings(const AppSettings& settings) {
    for (const char* name :
         {kRestoreFolder, kRestoreQuantity, kReportType, kHitLineContext, kLogging,
          kDisplayQuickLinks, kAutoReportUpdate, kFileHandlerWord, kFileHandlerExcel, kExtList,
          kEditorCommand, kColorScheme, kTextEncoding, kLegacyEncoding}) {
        if (Status saved = Save(settings, name); !saved.ok()) {
            return saved;
        }
    }
    return Status();
}

std::vector<Status> SaveWindowSettings(const AppSettings& settings) {
    std::vector<Status> failures;
    for (const char* name : {kStartupFolder, kFerretHeight, kFerretWidth, kFerretTop, kFerretLeft,
                             kFileFilterMask, kSearchSizeOpt, kSearchDateOpt, kSearchSubfolders,
                             kSkipFolders, kSkipFoldersHistory, kGitIgnore, kNoBinary, kArchives}) {
        if (Status saved = Save(settings, name); !saved.ok()) {
            failures.push_back(std::move(saved));
        }
    }
    return failures;
}

}  // namespace ferret
