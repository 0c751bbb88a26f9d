#pragma once

#include <string>

#include "util/status.h"

namespace ferret {

// Where the program keeps the files that belong to "its own folder" (search history, error log,
// the replace temporary file): $FERRET_HOME when set, else $XDG_DATA_HOME/ferret, else
// ~/.local/share/ferret. Read from the environment on every call, so tests can redirect it.
// No trailing "/".
std::string DataFolder();

// Creates DataFolder() and its missing parents (the last level private to the user).
Status EnsureDataFolder();

// DataFolder() + "/" + name.
std::string DataFilePath(const std::string& name);

// The per-user configuration folder: $XDG_CONFIG_HOME, else ~/.config. No trailing "/".
std::string ConfigFolder();

// The user's home folder: $HOME, else the password database entry.
std::string HomeFolder();

// A folder that ships with the program ("help"), found beside the executable (the build tree)
// or under the install prefix's share/ferret. Empty when neither exists.
std::string ShippedFolder(const std::string& name);

// Whether `path` names a folder, links followed.
bool IsFolder(const std::string& path);

// Creates `path` and its missing parents; the last level gets `mode`.
Status MakePath(const std::string& path, unsigned mode);

}  // namespace ferret
