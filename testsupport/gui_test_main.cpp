// Window test binaries start here: a private environment and a QApplication on the offscreen
// platform.
#include <gtest/gtest.h>

#include <QApplication>

#include "testsupport/test_environment.h"

int main(int argc, char** argv) {
    ferret::testing::TempDir root;
    ferret::testing::SetUpTestEnvironment(root);
    ferret::testing::SealDesktopApplications(root);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
