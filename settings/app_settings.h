#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/report_type.h"
#include "util/app_paths.h"
#include "util/status.h"

namespace ferret {

// Value names of the search's skips, beside those of settings/settings.h: the last texts of the
// window's boxes and switches, which the unattended run takes as its defaults too.
inline constexpr char kSkipFolders[] = "SkipFolders";                // folder names, ";"-separated
inline constexpr char kSkipFoldersHistory[] = "SkipFoldersHistory";  // texts, one a line
inline constexpr char kGitIgnore[] = "GitIgnore";                    // "1" or "0"
inline constexpr char kNoBinary[] = "NoBinary";                      // "1" or "0"
inline constexpr char kArchives[] = "Archives";                      // "1" or "0"

// The window's colours: the desktop's preference (light when it has none), or always light or
// always dark. The numbers are the stored codes.
enum class ColorSchemeChoice { kDesktop = 0, kLight = 1, kDark = 2 };

// Every user setting of kSettingsKey, read at once. Each field holds its default until a stored
// text replaces it: a missing value and an empty text read as the default. How a stored text
// reads is told per field; window geometry is in twips.
struct AppSettings {
    // "StartupFolder".
    std::string startup_folder = HomeFolder();
    // "FileFilterMask"; "none" stands for "*.*".
    std::string file_filter_mask = "none";
    // "ReportType": nothing when the stored code names no report, as a hand-edited "7" or "two";
    // then no report is drawn and none is offered as chosen.
    std::optional<ReportType> report_type = ReportType::kFileList;
    // "FerretHeight", "FerretWidth", "FerretTop", "FerretLeft": -1 or less is the designed size
    // and place; a text that is no whole number is -1.
    int ferret_height = -1;
    int ferret_width = -1;
    int ferret_top = -1;
    int ferret_left = -1;
    // "SearchSubfolders": on only for the number 1.
    bool search_subfolders = true;
    // "SkipFolders": the folder names a walk never enters, in the file mask's syntax.
    std::string skip_folders;
    // "SkipFoldersHistory": the skip texts of earlier runs, oldest first, one a line; empty lines
    // and repeats are dropped and only the newest kSkipFoldersKept are kept.
    std::vector<std::string> skip_folders_history;
    static constexpr std::size_t kSkipFoldersKept = 20;
    // "GitIgnore", "NoBinary": on only for the number 1. What the ignore files leave out is left
    // out; binary files are neither searched nor listed.
    bool use_ignore_files = false;
    bool skip_binary = false;
    // "Archives": on only for the number 1. Archives, compressed files and PDFs are searched
    // inside.
    bool search_inside = false;
    // "SearchSizeOpt", "SearchDateOpt": the window's size and date choices (0..4), kept for other
    // versions of the program; written only, never read here.
    int search_size_option = 0;
    int search_date_option = 0;
    // Boolean settings are on only for exactly "True".
    bool auto_report_update = true;    // "AutoReportUpdate"
    bool display_quick_links = false;  // "DisplayQuickLinks"
    bool logging = false;              // "logging": the error log
    bool file_handler_word = false;    // "FileHandlerWord"
    bool file_handler_excel = false;   // "FileHandlerExcel"
    // "ext_list": the user's own approved extensions joined by ",".
    std::string extension_list;
    // "preview_font_size": 10, or 14 for any other stored text.
    int preview_font_size = 10;
    // "RestoreFolder".
    std::string restore_folder = DataFilePath("restore");
    // "RestoreQuantity": restore points kept, -1 all (as is anything below), 0 none; a text that
    // is no whole number is the default.
    int restore_quantity = 10;
    // "HitLineContext": lines shown around a hit, 0..3 (numbers beyond are brought within); a
    // text that is no whole number is the default.
    int hit_line_context = 0;
    // "LongestMatchMB": how far a match is followed through a file, and how large a file that
    // must be matched whole (decoded from UTF-16, or replaced with "$`" or "$'") may be, in MB:
    // 1..16384; a file past it is told and left out. A text that is no whole number is the
    // default.
    std::int64_t longest_match_mb = 64;
    // "EditorCommand": how "Open in Editor" starts the user's editor, with %f, %l and %c for the
    // file, the line and the column (app/editor_command.h); empty: the command for the desktop's
    // default text editor.
    std::string editor_command;
    // "ColorScheme": a ColorSchemeChoice code; a text that names none follows the desktop.
    ColorSchemeChoice color_scheme = ColorSchemeChoice::kDesktop;
    // "TextEncoding": the encoding every file without a byte-order mark is read in; empty (as
    // is a name the system does not know): each file's own, as its start shows it.
    std::string text_encoding;
    // "LegacyEncoding": the encoding of a file that is not UTF-8 when its own cannot be told
    // (a name the system does not know is the default).
    std::string legacy_encoding = "WINDOWS-1252";
};

// The settings as the store holds them now, in one read. Never fails: what cannot be read is the
// default. Thread-safe.
AppSettings ReadAppSettings();

// The writers for the values the program changes. Each value is written as its own atomic
// rewrite of the file; the error is the store's ("ferret.cRegistry").
[[nodiscard]] Status SaveReportType(ReportType type);
[[nodiscard]] Status SavePreviewFontSize(int points);
// What the options dialog edits: the restore folder and quantity, the report type (none is
// written as the first), the hit-line context, the error log, quick links, automatic report
// update, both office handlers, the extension list, the editor command, the colour scheme and
// the two text encodings, in that order. Stops at the first failure.
[[nodiscard]] Status SaveOptionSettings(const AppSettings& settings);
// What the main window keeps when it closes: the start folder, its height, width, top and left,
// the file mask, the size and date choices, the subfolder choice, the skip text and its history
// and the two skip switches, in that order. Each is tried; the failures come back in order.
std::vector<Status> SaveWindowSettings(const AppSettings& settings);

}  // namespace ferret
