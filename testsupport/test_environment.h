#pragma once

#include <cstdlib>
#include <string>

#include "testsupport/temp_dir.h"
#include "util/app_locale.h"

namespace ferret::testing {

// Points the home, configuration and data folders into `root`, so no test ever reads or writes
// the real user's files, and pins English (United States) number and date conventions.
inline void SetUpTestEnvironment(TempDir& root) {
    const std::string path = root.path();
    root.MakeDir("home");
    setenv("HOME", (path + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (path + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (path + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
    unsetenv("FERRET_HOME");
    // Nor the user's desktop session: no message reaches its bus.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("TZ", "UTC", 0);
    setenv("FERRET_TEST_ROOT", path.c_str(), 1);
    SetAppLocale(QLocale(QLocale::English, QLocale::UnitedStates));
}

// For the window tests: a desktop of their own with the system's file types but none of its
// applications, so that no test finds, let alone starts, a program installed here; its one
// application, "Notes", takes no file type. Call before anything asks the desktop's registry
// (it reads the folders once a process).
inline void SealDesktopApplications(TempDir& root) {
    root.MakeDir("share");
    root.Symlink("/usr/share/mime", "share/mime");
    setenv("XDG_DATA_DIRS", root.Path("share").c_str(), 1);
    root.WriteFile("data/applications/ferret-test-notes.desktop",
                   "[Desktop Entry]\nType=Application\nName=Notes\nExec=true %f\n");
}

}  // namespace ferret::testing
