# The Debian packages Ferret needs, sourced by the run and test scripts.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libpcre2-dev)
TEST_PACKAGES=(libgtest-dev clang-format poppler-utils)
