#include "util/user_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A fresh home and configuration folder for each test, so the XDG user folders are known.
class SpecialFoldersTest : public ::testing::Test {
  protected:
    SpecialFoldersTest() {
        root_.MakeDir("home");
        root_.MakeDir("config");
        setenv("HOME", Home().c_str(), 1);
        setenv("XDG_CONFIG_HOME", root_.Path("config").c_str(), 1);
    }
    ~SpecialFoldersTest() override {
        setenv("HOME", saved_home_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", saved_config_.c_str(), 1);
    }

    std::string Home() const { return root_.Path("home"); }

    const std::string saved_home_ = Env("HOME");
    const std::string saved_config_ = Env("XDG_CONFIG_HOME");
    testing::TempDir root_;
};

TEST_F(SpecialFoldersTest, UserFoldersThatExist) {
    const struct {
        int csidl;
        const char* folder;
    } cases[] = {
        {UserFolders::kPersonal, "Documents"},
        {UserFolders::kDesktop, "Desktop"},
        {UserFolders::kMyPictures, "Pictures"},
    };
    for (const auto& c : cases) {
        // Verified: a folder that does not exist is not made up, nor made.
        EXPECT_EQ(UserFolders().GetFolderPath(c.csidl), "") << c.csidl;
        EXPECT_FALSE(IsFolder(Home() + "/" + c.folder));
        root_.MakeDir(std::string("home/") + c.folder);
        EXPECT_EQ(UserFolders().GetFolderPath(c.csidl), Home() + "/" + c.folder) << c.csidl;
    }
}

TEST_F(SpecialFoldersTest, UserDirsFileNamesTheFolders) {
    root_.WriteFile("config/user-dirs.dirs",
                    "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
                    "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                    "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    root_.MakeDir("home/Bilder");
    root_.MakeDir("home/Dokumente");
    root_.MakeDir("home/Schreibtisch");
    UserFolders folders;
    EXPECT_EQ(folders.GetFolderPath(39, 0), Home() + "/Bilder");
    EXPECT_EQ(folders.GetFolderPath(5, 0), Home() + "/Dokumente");
    EXPECT_EQ(folders.GetFolderPath(16, 0), Home() + "/Schreibtisch");
}

TEST_F(SpecialFoldersTest, ProgramsAndUnknownIdentifiers) {
    root_.MakeDir("home/Pictures");
    UserFolders folders;
    EXPECT_EQ(folders.GetFolderPath(38), "/usr/bin");
    for (const int csidl : {0, 1, 2, 6, 17, 26, 37, 40, -1, 39 | 0x800, 0x7FFFFFFF}) {
        EXPECT_EQ(folders.GetFolderPath(csidl), "") << csidl;
    }
}

}  // namespace
}  // namespace ferret
