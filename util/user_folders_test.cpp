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
class UserFoldersTest : public ::testing::Test {
  protected:
    UserFoldersTest() {
        root_.MakeDir("home");
        root_.MakeDir("config");
        setenv("HOME", Home().c_str(), 1);
        setenv("XDG_CONFIG_HOME", root_.Path("config").c_str(), 1);
    }
    ~UserFoldersTest() override {
        setenv("HOME", saved_home_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", saved_config_.c_str(), 1);
    }

    std::string Home() const { return root_.Path("home"); }

    const std::string saved_home_ = Env("HOME");
    const std::string saved_config_ = Env("XDG_CONFIG_HOME");
    testing::TempDir root_;
};

TEST_F(UserFoldersTest, UserFoldersThatExist) {
    const struct {
        UserFolder which;
        const char* folder;
    } cases[] = {
        {UserFolder::kDocuments, "Documents"},
        {UserFolder::kDesktop, "Desktop"},
        {UserFolder::kPictures, "Pictures"},
    };
    for (const auto& c : cases) {
        // A folder that does not exist is not made up, nor made.
        EXPECT_EQ(UserFolderPath(c.which), "") << c.folder;
        EXPECT_FALSE(IsFolder(Home() + "/" + c.folder));
        root_.MakeDir(std::string("home/") + c.folder);
        EXPECT_EQ(UserFolderPath(c.which), Home() + "/" + c.folder) << c.folder;
    }
}

TEST_F(UserFoldersTest, UserDirsFileNamesTheFolders) {
    root_.WriteFile("config/user-dirs.dirs",
                    "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
                    "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                    "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    root_.MakeDir("home/Bilder");
    root_.MakeDir("home/Dokumente");
    root_.MakeDir("home/Schreibtisch");
    EXPECT_EQ(UserFolderPath(UserFolder::kPictures), Home() + "/Bilder");
    EXPECT_EQ(UserFolderPath(UserFolder::kDocuments), Home() + "/Dokumente");
    EXPECT_EQ(UserFolderPath(UserFolder::kDesktop), Home() + "/Schreibtisch");
}

}  // namespace
}  // namespace ferret
