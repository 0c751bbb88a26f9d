#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "util/status.h"

namespace ferret {

class RegistryKeyValues;

// The registry key that holds every user setting (a file under the configuration folder, see
// Registry).
inline constexpr char kSettingsKey[] = "SOFTWARE\\Mallo\\Ferret";

// Value names; SettingDefault gives each one's default. Window geometry is in the window's own
// units; booleans are "True" or "False"; "SearchSubfolders" is "1" or "0".
inline constexpr char kStartupFolder[] = "StartupFolder";    // folder path
inline constexpr char kFileFilterMask[] = "FileFilterMask";  // mask text, "none": "*.*"
inline constexpr char kReportType[] = "ReportType";          // report code 0..4
inline constexpr char kFerretHeight[] = "FerretHeight";      // -1 or less: designed size
inline constexpr char kFerretWidth[] = "FerretWidth";
inline constexpr char kFerretTop[] = "FerretTop";
inline constexpr char kFerretLeft[] = "FerretLeft";
inline constexpr char kSearchSubfolders[] = "SearchSubfolders";    // "1" or "0"
inline constexpr char kSearchSizeOpt[] = "SearchSizeOpt";          // 0..4, written only
inline constexpr char kSearchDateOpt[] = "SearchDateOpt";          // 0..4, written only
inline constexpr char kAutoReportUpdate[] = "AutoReportUpdate";    // boolean
inline constexpr char kDisplayQuickLinks[] = "DisplayQuickLinks";  // boolean
inline constexpr char kLogging[] = "logging";                      // boolean: error log on
inline constexpr char kFileHandlerWord[] = "FileHandlerWord";      // boolean
inline constexpr char kFileHandlerExcel[] = "FileHandlerExcel";    // boolean
inline constexpr char kExtList[] = "ext_list";                     // extensions joined by ","
inline constexpr char kPreviewFontSize[] = "preview_font_size";    // point size
inline constexpr char kRestoreFolder[] = "RestoreFolder";          // folder of the restore points
inline constexpr char kRestoreQuantity[] = "RestoreQuantity";      // kept: -1 all, 0 none
inline constexpr char kHitLineContext[] = "HitLineContext";        // lines around a hit, 0..3
inline constexpr char kLongestMatchMb[] = "LongestMatchMB";        // MB a match is followed
inline constexpr char kEditorCommand[] = "EditorCommand";          // command, "": the default
inline constexpr char kColorScheme[] = "ColorScheme";        // 0 the desktop's, 1 light, 2 dark
inline constexpr char kTextEncoding[] = "TextEncoding";      // of unmarked files, "": each its own
inline constexpr char kLegacyEncoding[] = "LegacyEncoding";  // of those not UTF-8, when unsure

// The store below the typed settings (settings/app_settings.h), which is what the program reads
// and writes. Each key's file is kept parsed, shared by all threads, and read again only when the
// file on disk is no longer the one read (another device, inode, size, change or modification
// time), so what other processes write is seen at the next read. Writes go through the store.

// One read of a key: every value as the file held them at that moment.
class SettingsKeyRead {
  public:
    // As GetSettingValue, from this read.
    std::string Text(const std::string& valueName, const std::string& defaultText) const;

  private:
    friend SettingsKeyRead ReadSettingsKey(const std::string& keyPath);
    std::shared_ptr<const RegistryKeyValues> key_;
    bool failed_ = false;
};

// The values of `keyPath` of the current user, from the store. Thread-safe.
SettingsKeyRead ReadSettingsKey(const std::string& keyPath);

// The text of `valueName` under `keyPath` of the current user. A missing key or value, or an empty
// text, gives `defaultText`; an error while reading gives an empty text. Thread-safe.
std::string GetSettingValue(const std::string& keyPath, const std::string& valueName,
                            const std::string& defaultText);

// Writes `text` as a string value (expandable when it holds two "%" signs, see Registry),
// creating the key when missing. The file is replaced atomically; on an error nothing is written.
// Thread-safe.
[[nodiscard]] Status SaveSettingValue(const std::string& keyPath, const std::string& valueName,
                                      const std::string& text);

// The default of a setting of kSettingsKey as text, as AppSettings has it: "StartupFolder" is the
// user's home folder, "RestoreFolder" the "restore" folder in the data folder (see DataFolder),
// settings that are never read back ("SearchSizeOpt", "SearchDateOpt") and unknown names give "".
std::string SettingDefault(std::string_view name);

// Boolean settings count as true only for exactly "True".
bool IsTrue(const std::string& text);

// A whole decimal number (blanks around it and a sign allowed), or `fallback` when `text` is not
// one or does not fit an int.
int SettingAsInt(const std::string& text, int fallback);

// The restore-point folder and the number of restore points kept (-1 all, 0 none): the
// AppSettings fields, for callers that want no more.
std::string RestoreFolderSetting();
int RestoreQuantitySetting();

}  // namespace ferret
