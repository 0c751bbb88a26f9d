#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ferret {

// Where desktop entries and file-type associations are looked up, the most important first.
struct DesktopAppPlaces {
    // The "applications" folders: $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS.
    std::vector<std::string> application_dirs;
    // The mimeapps.list files: for the configuration home, each configuration folder, the data
    // home and each data folder, the desktop-specific list before the common one.
    std::vector<std::string> mimeapps_lists;
    // The messages locale ("de_DE.UTF-8") that picks a translated Name; empty for the plain one.
    std::string locale;

    // From XDG_CONFIG_HOME (default ~/.config), XDG_CONFIG_DIRS (/etc/xdg), XDG_DATA_HOME
    // (~/.local/share), XDG_DATA_DIRS (/usr/local/share:/usr/share), XDG_CURRENT_DESKTOP and
    // LC_ALL, LC_MESSAGES, LANG. Read afresh on every call.
    static DesktopAppPlaces FromEnvironment();
};

// One installed desktop application.
struct DesktopApp {
    std::string id;         // the desktop file id: its path below "applications", "/" made "-"
    std::string name;       // Name, translated when the entry has the locale's language
    std::string exec;       // Exec with the key file's escapes undone; field codes still in it
    std::string icon;       // an icon theme name or an absolute file; may be empty
    std::string file;       // the desktop file it was read from
    bool terminal = false;  // Terminal=true: runs inside a terminal window
};

// The application with desktop file id `id`, from the first applications folder that has it.
// Nothing when none has it, or when that entry is hidden, NoDisplay, not an application, has no
// Exec, or names a TryExec program that is not installed: such an entry also hides the ones of
// the same id in later folders.
std::optional<DesktopApp> FindDesktopApp(const DesktopAppPlaces& places, const std::string& id);

// The applications that open files of MIME type `types.front()`; the other entries are broader
// types it belongs to (its ancestors, narrowest first), whose applications follow. The user's
// default comes first: the first installed [Default Applications] entry of the narrowest type that
// has one. Then, type by type, the [Added Associations] of the lists in order, and the
// associations of each applications folder in order (its mimeinfo.cache, then its desktop files'
// MimeType keys), leaving out those a more important or the same list removes ([Removed
// Associations]). Entries FindDesktopApp would not give are left out, each application is listed
// once. Reads the files on every call.
std::vector<DesktopApp> AppsForMimeTypes(const DesktopAppPlaces& places,
                                         const std::vector<std::string>& types);

// Splits an Exec value (escapes of the key file already undone) into its arguments: blanks
// separate them, double quotes group them, and inside double quotes a backslash keeps the next
// ", `, $ or \ literally. Single quotes and a backslash outside quotes are taken as a shell would,
// for the many entries that use them. Field codes are left in place. Nothing for an unterminated
// quote or an empty command.
std::optional<std::vector<std::string>> SplitExecLine(const std::string& exec);

// The command lines (program first) that run `app` on `files`: one line when the Exec value takes
// a list (%F, %U) or no files are given, one line per file when it takes one file (%f, %u). An
// Exec value that names no file gets one file per line added at its end. %u and %U give the paths
// as they are (local files need no URL), %i gives "--icon" and the icon when there is one, %c the
// name, %k the desktop file, %% a "%"; the deprecated codes are dropped. Empty when the Exec value
// cannot be split, its program holds a "%", or it holds an unknown code or %F, %U or %i
// inside a longer argument. A terminal application's lines start with TerminalCommand(), and
// there are none when no terminal is installed.
std::vector<std::vector<std::string>> ExecCommandLines(const DesktopApp& app,
                                                       const std::vector<std::string>& files);

// The terminal that runs terminal applications, as the program and the option after which a
// command line follows: the first on PATH of x-terminal-emulator (the system's choice where
// there is one), gnome-terminal, konsole, xfce4-terminal and xterm. Empty when none is there.
std::vector<std::string> TerminalCommand();

}  // namespace ferret
