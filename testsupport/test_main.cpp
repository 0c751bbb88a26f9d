// Every test binary starts here, in a private environment (see SetUpTestEnvironment).
#include <gtest/gtest.h>

#include "testsupport/test_environment.h"

int main(int argc, char** argv) {
    ferret::testing::TempDir root;
    ferret::testing::SetUpTestEnvironment(root);
    // The programs the tests start run without a window.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        unsetenv(name);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
