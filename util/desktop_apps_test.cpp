#include "util/desktop_apps.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;

std::vector<std::string> Names(const std::vector<DesktopApp>& apps) {
    std::vector<std::string> names;
    for (const DesktopApp& app : apps) {
        names.push_back(app.name);
    }
    return names;
}

// Waits until the file at `path` holds `lines` lines; its text.
std::string WaitForLines(const TempDir& dir, const std::string& name, std::size_t lines) {
    std::string text;
    for (int wait = 0; wait < 500; ++wait) {
        if (access(dir.Path(name).c_str(), R_OK) == 0) {
            text = dir.ReadFile(name);
            if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
}

// The registry reads the XDG folders once a process, so one test sets them up and asks
// everything: applications of the user's data folder for a type of their own, the user's
// default among them and its command, one the desktop hides, and launching.
TEST(DesktopAppsTest, TheRegistryListsDefaultsFirstHidesWhatTheDesktopHidesAndLaunches) {
    TempDir root;
    const std::string data = std::getenv("XDG_DATA_HOME");
    const std::string config = std::getenv("XDG_CONFIG_HOME");
    const std::string record = root.Path("record.sh");
    root.WriteFile("record.sh",
                   "#!/bin/sh\nlog=$1\nshift\nfor f in \"$@\"; do echo \"$f\" >> "
                   "\"$log\"; done\necho run >> \"$log\"\n");
    ASSERT_EQ(chmod(record.c_str(), 0755), 0);
    const auto app = [&](const std::string& id, const std::string& name, const std::string& code,
                         const std::string& extra) {
        const std::string path = data + "/applications/" + id;
        FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fprintf(file,
                     "[Desktop Entry]\nType=Application\nName=%s\nExec=%s %s %s\n"
                     "MimeType=text/x-ferret-note;\n%s",
                     name.c_str(), record.c_str(), root.Path(name + ".log").c_str(), code.c_str(),
                     extra.c_str());
        std::fclose(file);
    };
    ASSERT_EQ(system(("mkdir -p '" + data + "/applications' '" + config + "'").c_str()), 0);
    app("ferret-test-editor.desktop", "Editor", "%f", "");
    app("ferret-test-viewer.desktop", "Viewer", "%F", "");
    app("ferret-test-hidden.desktop", "Hidden", "%F", "NoDisplay=true\n");
    // The index the desktop's installers keep (update-desktop-database): the registry goes by it.
    FILE* cache = std::fopen((data + "/applications/mimeinfo.cache").c_str(), "w");
    ASSERT_NE(cache, nullptr);
    std::fputs(
        "[MIME Cache]\ntext/x-ferret-note=ferret-test-editor.desktop;"
        "ferret-test-viewer.desktop;ferret-test-hidden.desktop;\n",
        cache);
    std::fclose(cache);
    FILE* list = std::fopen((config + "/mimeapps.list").c_str(), "w");
    ASSERT_NE(list, nullptr);
    std::fputs("[Default Applications]\ntext/x-ferret-note=ferret-test-viewer.desktop\n", list);
    std::fclose(list);

    const std::vector<DesktopApp> apps = AppsForType("text/x-ferret-note");
    EXPECT_EQ(Names(apps), (std::vector<std::string>{"Viewer", "Editor"}));
    ASSERT_FALSE(apps.empty());
    EXPECT_EQ(apps.front().id, "ferret-test-viewer.desktop");
    EXPECT_TRUE(AppsForType("").empty());
    // The default's command, for the editor chosen from it.
    const std::optional<AppCommand> command = DefaultAppCommand("text/x-ferret-note");
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->program, record);
    EXPECT_EQ(command->command_line, record + " " + root.Path("Viewer.log") + " %F");
    EXPECT_FALSE(DefaultAppCommand("text/x-ferret-unknown").has_value());
    const std::vector<std::string> all = Names(AllApps());
    EXPECT_NE(std::find(all.begin(), all.end(), "Editor"), all.end());
    EXPECT_EQ(std::find(all.begin(), all.end(), "Hidden"), all.end());

    // A list taker gets every file in one start, a single-file taker one start per file; paths
    // with blanks stay whole.
    const std::vector<std::string> files = {root.Path("a note.txt"), root.Path("b.txt")};
    EXPECT_EQ(LaunchApp("ferret-test-viewer.desktop", files), "");
    EXPECT_EQ(WaitForLines(root, "Viewer.log", 3), files[0] + "\n" + files[1] + "\nrun\n");
    EXPECT_EQ(LaunchApp("ferret-test-editor.desktop", files), "");
    const std::string editor = WaitForLines(root, "Editor.log", 4);  // two starts, any order
    for (const std::string& line : {files[0] + "\n", files[1] + "\n"}) {
        EXPECT_NE(editor.find(line), std::string::npos) << editor;
    }
    EXPECT_EQ(std::count(editor.begin(), editor.end(), '\n'), 4) << editor;
    EXPECT_EQ(LaunchApp("ferret-test-absent.desktop", files), "it is not installed");
}

}  // namespace
}  // namespace ferret
