#include "util/desktop_apps.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;
using Lines = std::vector<std::vector<std::string>>;

// Points every XDG variable the lookup reads into a temporary folder (two data folders, a data
// home, a configuration home and folder), and puts them and PATH back afterwards.
class DesktopAppsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kVariables) {
            const char* value = std::getenv(name);
            saved_[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
        }
        setenv("XDG_DATA_HOME", root_.Path("home").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root_.Path("one") + ":" + root_.Path("two")).c_str(), 1);
        setenv("XDG_CONFIG_HOME", root_.Path("config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", root_.Path("etc").c_str(), 1);
        unsetenv("XDG_CURRENT_DESKTOP");
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", "C", 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

    // Writes an application entry `id` into the data folder `folder` ("home", "one", "two").
    void WriteApp(const std::string& folder, const std::string& id, const std::string& name,
                  const std::string& mime_types, const std::string& extra = "") {
        root_.WriteFile(folder + "/applications/" + id,
                        "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name +
                            " %F\nMimeType=" + mime_types + "\n" + extra);
    }
    static std::vector<std::string> Ids(const std::vector<DesktopApp>& apps) {
        std::vector<std::string> ids;
        for (const DesktopApp& app : apps) {
            ids.push_back(app.id);
        }
        return ids;
    }
    static std::vector<std::string> Names(const std::vector<DesktopApp>& apps) {
        std::vector<std::string> names;
        for (const DesktopApp& app : apps) {
            names.push_back(app.name);
        }
        return names;
    }
    std::vector<std::string> AppsFor(const std::vector<std::string>& types) {
        return Ids(AppsForMimeTypes(DesktopAppPlaces::FromEnvironment(), types));
    }

    static constexpr const char* kVariables[] = {
        "XDG_DATA_HOME",       "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
        "XDG_CURRENT_DESKTOP", "LC_ALL",        "LC_MESSAGES",     "LANG"};
    std::map<std::string, std::optional<std::string>> saved_;
    TempDir root_;
};

TEST_F(DesktopAppsTest, PlacesComeFromTheEnvironmentInLookupOrder) {
    setenv("XDG_CURRENT_DESKTOP", "GNOME:Unity", 1);
    setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
    DesktopAppPlaces places = DesktopAppPlaces::FromEnvironment();
    EXPECT_EQ(places.application_dirs, (std::vector<std::string>{root_.Path("home/applications"),
                                                                 root_.Path("one/applications"),
                                                                 root_.Path("two/applications")}));
    ASSERT_EQ(places.mimeapps_lists.size(), 15u);
    EXPECT_EQ(places.mimeapps_lists[0], root_.Path("config/gnome-mimeapps.list"));
    EXPECT_EQ(places.mimeapps_lists[1], root_.Path("config/unity-mimeapps.list"));
    EXPECT_EQ(places.mimeapps_lists[2], root_.Path("config/mimeapps.list"));
    EXPECT_EQ(places.mimeapps_lists[5], root_.Path("etc/mimeapps.list"));
    EXPECT_EQ(places.mimeapps_lists[8], root_.Path("home/applications/mimeapps.list"));
    EXPECT_EQ(places.mimeapps_lists[14], root_.Path("two/applications/mimeapps.list"));
    EXPECT_EQ(places.locale, "de_DE.UTF-8");

    // Unset data folders fall back to the standard ones; relative entries are ignored.
    unsetenv("XDG_DATA_DIRS");
    setenv("XDG_DATA_HOME", "relative/data", 1);
    places = DesktopAppPlaces::FromEnvironment();
    EXPECT_EQ(places.application_dirs.size(), 3u);
    EXPECT_EQ(places.application_dirs[0],
              std::string(std::getenv("HOME")) + "/.local/share/applications");
    EXPECT_EQ(places.application_dirs[1], "/usr/local/share/applications");
    EXPECT_EQ(places.application_dirs[2], "/usr/share/applications");
}

TEST_F(DesktopAppsTest, EarlierFoldersWinAndHiddenEntriesStayOut) {
    WriteApp("one", "editor.desktop", "Editor One", "text/plain;");
    WriteApp("two", "editor.desktop", "Editor Two", "text/plain;");
    WriteApp("home", "viewer.desktop", "Home Viewer", "text/plain;");
    WriteApp("two", "viewer.desktop", "System Viewer", "text/plain;");
    WriteApp("one", "menuless.desktop", "Menuless", "text/plain;", "NoDisplay=true\n");
    WriteApp("one", "gone.desktop", "Gone", "text/plain;", "TryExec=/nonexistent/gone\n");
    WriteApp("one", "shell.desktop", "Shell", "text/plain;", "TryExec=sh\n");
    WriteApp("two", "other.desktop", "Other", "image/png;");
    // A hidden copy in an earlier folder removes the application altogether.
    WriteApp("two", "removed.desktop", "Removed", "text/plain;");
    root_.WriteFile("home/applications/removed.desktop", "[Desktop Entry]\nHidden=true\n");
    root_.WriteFile("one/applications/link.desktop",
                    "[Desktop Entry]\nType=Link\nName=Link\nExec=x\nMimeType=text/plain;\n");
    // Subfolders give their name to the id.
    WriteApp("two", "kde/calc.desktop", "Calc", "text/plain;");

    const std::vector<DesktopApp> apps =
        AppsForMimeTypes(DesktopAppPlaces::FromEnvironment(), {"text/plain"});
    EXPECT_EQ(Ids(apps), (std::vector<std::string>{"viewer.desktop", "editor.desktop",
                                                   "shell.desktop", "kde-calc.desktop"}));
    EXPECT_EQ(Names(apps),
              (std::vector<std::string>{"Home Viewer", "Editor One", "Shell", "Calc"}));
    EXPECT_EQ(apps[1].exec, "Editor One %F");
    EXPECT_EQ(apps[1].file, root_.Path("one/applications/editor.desktop"));

    const DesktopAppPlaces places = DesktopAppPlaces::FromEnvironment();
    ASSERT_TRUE(FindDesktopApp(places, "kde-calc.desktop"));
    EXPECT_EQ(FindDesktopApp(places, "other.desktop")->name, "Other");
    EXPECT_FALSE(FindDesktopApp(places, "menuless.desktop"));
    EXPECT_FALSE(FindDesktopApp(places, "removed.desktop"));
    EXPECT_FALSE(FindDesktopApp(places, "missing.desktop"));
}

TEST_F(DesktopAppsTest, TheUsersDefaultComesFirst) {
    WriteApp("one", "a.desktop", "A", "text/plain;");
    WriteApp("one", "b.desktop", "B", "text/plain;");
    WriteApp("one", "c.desktop", "C", "text/plain;");
    EXPECT_EQ(AppsFor({"text/plain"}),
              (std::vector<std::string>{"a.desktop", "b.desktop", "c.desktop"}));

    // The system's default counts until the user's own list names one that is installed.
    root_.WriteFile("two/applications/mimeapps.list",
                    "[Default Applications]\ntext/plain=b.desktop\n");
    EXPECT_EQ(AppsFor({"text/plain"}),
              (std::vector<std::string>{"b.desktop", "a.desktop", "c.desktop"}));
    root_.WriteFile("config/mimeapps.list",
                    "[Default Applications]\ntext/plain=missing.desktop;c.desktop;\n");
    EXPECT_EQ(AppsFor({"text/plain"}),
              (std::vector<std::string>{"c.desktop", "a.desktop", "b.desktop"}));
}

TEST_F(DesktopAppsTest, AssociationListsAndCachesAddAndRemove) {
    WriteApp("one", "a.desktop", "A", "text/plain;");
    WriteApp("one", "b.desktop", "B", "text/plain;");
    // Known only from the cache beside it.
    WriteApp("two", "cached.desktop", "Cached", "");
    root_.WriteFile("two/applications/mimeinfo.cache",
                    "[MIME Cache]\ntext/plain=cached.desktop;stale.desktop;\n");
    // Associated only by the user's list.
    WriteApp("one", "added.desktop", "Added", "");
    root_.WriteFile("config/mimeapps.list",
                    "[Added Associations]\ntext/plain=added.desktop;\n"
                    "[Removed Associations]\ntext/plain=b.desktop;\n");
    EXPECT_EQ(AppsFor({"text/plain"}),
              (std::vector<std::string>{"added.desktop", "a.desktop", "cached.desktop"}));

    // A broader type's applications follow the narrow type's, each application once.
    WriteApp("one", "code.desktop", "Code", "text/x-csrc;text/plain;");
    EXPECT_EQ(
        AppsFor({"text/x-csrc", "text/plain"}),
        (std::vector<std::string>{"code.desktop", "added.desktop", "a.desktop", "cached.desktop"}));
    EXPECT_TRUE(AppsFor({"image/png"}).empty());
}

TEST_F(DesktopAppsTest, NamesAndValuesFollowTheKeyFileRules) {
    root_.WriteFile("one/applications/tr.desktop",
                    "# comment\n[Desktop Entry]\nType = Application\nName=Viewer\n"
                    "Name[de]=Betrachter\nName[de_AT]=Anzeiger\nIcon=viewer\n"
                    "Exec=sh -c \"echo \\\\\"a b\\\\\"\" %f\nMimeType=text/plain\n"
                    "[Desktop Action New]\nName=New Window\n");
    setenv("LANG", "de_DE.UTF-8", 1);
    DesktopApp app = AppsForMimeTypes(DesktopAppPlaces::FromEnvironment(), {"text/plain"}).at(0);
    EXPECT_EQ(app.name, "Betrachter");
    EXPECT_EQ(app.icon, "viewer");
    EXPECT_EQ(app.exec, "sh -c \"echo \\\"a b\\\"\" %f");
    EXPECT_EQ(ExecCommandLines(app, {"/x"}), (Lines{{"sh", "-c", "echo \"a b\"", "/x"}}));
    setenv("LANG", "de_AT.UTF-8", 1);
    EXPECT_EQ(FindDesktopApp(DesktopAppPlaces::FromEnvironment(), "tr.desktop")->name, "Anzeiger");
    setenv("LANG", "C", 1);
    EXPECT_EQ(FindDesktopApp(DesktopAppPlaces::FromEnvironment(), "tr.desktop")->name, "Viewer");
}

DesktopApp AppWithExec(const std::string& exec) {
    DesktopApp app;
    app.id = "viewer.desktop";
    app.name = "Viewer";
    app.exec = exec;
    app.icon = "viewer-icon";
    app.file = "/apps/viewer.desktop";
    return app;
}

TEST(DesktopExecTest, FileCodesGiveOneOrSeveralCommandLines) {
    const std::vector<std::string> two = {"/data/a.txt", "/data/my notes.txt"};
    EXPECT_EQ(ExecCommandLines(AppWithExec("viewer %F"), two),
              (Lines{{"viewer", "/data/a.txt", "/data/my notes.txt"}}));
    EXPECT_EQ(ExecCommandLines(AppWithExec("viewer --new %U --end"), two),
              (Lines{{"viewer", "--new", "/data/a.txt", "/data/my notes.txt", "--end"}}));
    EXPECT_EQ(ExecCommandLines(AppWithExec("viewer %f"), two),
              (Lines{{"viewer", "/data/a.txt"}, {"viewer", "/data/my notes.txt"}}));
    EXPECT_EQ(ExecCommandLines(AppWithExec("viewer --file=%u"), {"/data/my notes.txt"}),
              (Lines{{"viewer", "--file=/data/my notes.txt"}}));
    // No file code: the file goes at the end, one per command line.
    EXPECT_EQ(ExecCommandLines(AppWithExec("viewer -x"), two),
              (Lines{{"viewer", "-x", "/data/a.txt"}, {"viewer", "-x", "/data/my notes.txt"}}));
    // No files: the file codes give nothing.
    EXPECT_EQ(ExecCommandLines(AppWithExec("viewer %F"), {}), (Lines{{"viewer"}}));
    EXPECT_EQ(ExecCommandLines(AppWithExec("viewer %f"), {}), (Lines{{"viewer"}}));
}

TEST(DesktopExecTest, OtherCodesAndQuoting) {
    EXPECT_EQ(ExecCommandLines(AppWithExec("viewer %i --title %c %k 100%% %F"), {"/a"}),
              (Lines{{"viewer", "--icon", "viewer-icon", "--title", "Viewer",
                      "/apps/viewer.desktop", "100%", "/a"}}));
    DesktopApp no_icon = AppWithExec("viewer %i %F");
    no_icon.icon.clear();
    EXPECT_EQ(ExecCommandLines(no_icon, {"/a"}), (Lines{{"viewer", "/a"}}));
    // Deprecated codes are dropped; "%%f" is a literal, not a file code.
    EXPECT_EQ(ExecCommandLines(AppWithExec("viewer %d %m -%n- %%f %F"), {"/a"}),
              (Lines{{"viewer", "--", "%f", "/a"}}));
    EXPECT_EQ(
        ExecCommandLines(AppWithExec("\"/opt/My App/run\" \"--name=a b\" '$HOME' %F"), {"/a"}),
        (Lines{{"/opt/My App/run", "--name=a b", "$HOME", "/a"}}));
    EXPECT_EQ(ExecCommandLines(AppWithExec("run \"say \\\"hi\\\" \\$x \\\\ \\`\" %F"), {"/a"}),
              (Lines{{"run", "say \"hi\" $x \\ `", "/a"}}));
    EXPECT_EQ(ExecCommandLines(AppWithExec("run my\\ file \"\" %F"), {"/a"}),
              (Lines{{"run", "my file", "", "/a"}}));

    // Invalid command lines run nothing.
    EXPECT_TRUE(ExecCommandLines(AppWithExec("viewer %x"), {"/a"}).empty());
    EXPECT_TRUE(ExecCommandLines(AppWithExec("viewer --files=%F"), {"/a"}).empty());
    EXPECT_TRUE(ExecCommandLines(AppWithExec("viewer \"unterminated %F"), {"/a"}).empty());
    EXPECT_TRUE(ExecCommandLines(AppWithExec("viewer 100%"), {"/a"}).empty());
    EXPECT_TRUE(ExecCommandLines(AppWithExec("  "), {"/a"}).empty());
    EXPECT_TRUE(ExecCommandLines(AppWithExec("%d %F"), {"/a"}).empty());
    EXPECT_TRUE(ExecCommandLines(AppWithExec("\"\" %F"), {"/a"}).empty());
}

TEST_F(DesktopAppsTest, TerminalApplicationsRunInATerminal) {
    root_.WriteFile("bin/xterm", "#!/bin/sh\n");
    ASSERT_EQ(chmod(root_.Path("bin/xterm").c_str(), 0755), 0);
    WriteApp("one", "vi.desktop", "vi", "text/plain;", "Terminal=true\n");
    const DesktopApp app =
        FindDesktopApp(DesktopAppPlaces::FromEnvironment(), "vi.desktop").value();
    EXPECT_TRUE(app.terminal);

    setenv("PATH", root_.Path("bin").c_str(), 1);
    EXPECT_EQ(TerminalCommand(), (std::vector<std::string>{root_.Path("bin/xterm"), "-e"}));
    EXPECT_EQ(ExecCommandLines(app, {"/a b"}),
              (Lines{{root_.Path("bin/xterm"), "-e", "vi", "/a b"}}));
    // Without a terminal it cannot be run.
    setenv("PATH", root_.Path("none").c_str(), 1);
    EXPECT_TRUE(TerminalCommand().empty());
    EXPECT_TRUE(ExecCommandLines(app, {"/a b"}).empty());
}

TEST(DesktopExecTest, SplitKeepsFieldCodes) {
    EXPECT_EQ(SplitExecLine("  a\t\"b c\"  %F "), (std::vector<std::string>{"a", "b c", "%F"}));
    EXPECT_FALSE(SplitExecLine("a 'b"));
    EXPECT_FALSE(SplitExecLine(""));
}

}  // namespace
}  // namespace ferret
