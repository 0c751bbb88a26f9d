// Every test binary starts here: the home, configuration and data folders point into a private
// temporary folder, so no test ever reads or writes the real user's files, and numbers and dates
// use English (United States) conventions whatever the machine's locale.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testsupport/temp_dir.h"
#include "util/app_locale.h"

int main(int argc, char** argv) {
    ferret::testing::TempDir home;
    const std::string root = home.path();
    home.MakeDir("home");
    setenv("HOME", (root + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    unsetenv("FERRET_HOME");
    setenv("TZ", "UTC", 0);
    setenv("FERRET_TEST_ROOT", root.c_str(), 1);
    // The programs the tests start run without a window.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        unsetenv(name);
    }
    ferret::SetAppLocale(QLocale(QLocale::English, QLocale::UnitedStates));

    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
