#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ferret {

// Installed desktop applications as the desktop's own registry (GIO) knows them: the lists,
// defaults and launching the file manager uses, Flatpak and Snap applications included. GIO
// reads the XDG folders of the environment the first time it is asked.
struct DesktopApp {
    std::string id;    // the desktop file id ("org.gnome.TextEditor.desktop")
    std::string name;  // as the desktop shows it
    std::string icon;  // an icon theme name or an absolute file; may be empty
};

// The applications for files of MIME type `type`: the user's default first, then the ones
// recommended for the type, then those that take broader types. Applications the desktop hides
// are left out; each is listed once.
std::vector<DesktopApp> AppsForType(const std::string& type);

// How the user's default application for a type is started, as its desktop entry says.
struct AppCommand {
    std::string program;       // the executable its command line starts ("gedit", "/usr/bin/kate")
    std::string command_line;  // the entry's Exec line, its field codes (%f, %U, ...) as written
};

// The default application for files of MIME type `type`; none when the desktop has none.
std::optional<AppCommand> DefaultAppCommand(const std::string& type);

// Every application the desktop shows in its menus, by name: the choice when no application is
// registered for a file.
std::vector<DesktopApp> AllApps();

// Starts the application `id` on `paths`: once for all of them when it takes several files, once
// per file otherwise (in a terminal when it needs one). Returns why it could not, or an empty
// text.
std::string LaunchApp(const std::string& id, const std::vector<std::string>& paths);

}  // namespace ferret
