# The Debian packages Ferret needs, sourced by the run, test and package scripts.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libpcre2-dev libglib2.0-dev libxxhash-dev
                libuchardet-dev libarchive-dev libpoppler-cpp-dev)
# Word-processor documents and spreadsheets are searched through LibreOffice; without these
# Ferret still works, with its office handlers unavailable.
OFFICE_PACKAGES=(libreoffice-writer libreoffice-calc python3-uno)
# The install test checks the desktop entry, the AppStream file and the manual page with these;
# the regex differential test takes ECMAScript's own behaviour from Node.js; the window tests that
# need a real X server start Xvfb and a session bus of their own; the hit lines are checked
# against ripgrep and read back with vim, and patches applied with patch and git; bsdtar and zstd
# make the 7z, cpio and zstd archives the archive tests read.
TEST_PACKAGES=(libgtest-dev clang-format poppler-utils desktop-file-utils appstream groff-base
               nodejs python3 xvfb dbus ripgrep vim patch git libarchive-tools zstd)
