// Window test binaries start here: a QApplication on the offscreen platform, and the home,
// configuration and data folders in a private temporary folder.
#include <gtest/gtest.h>

#include <QApplication>
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
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
    unsetenv("FERRET_HOME");
    setenv("TZ", "UTC", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ferret::SetAppLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
