// Installs the build into a temporary prefix as `cmake --install` does for a package, moves the
// installed tree away from where it was put, and runs the program from there.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ferret_version.h"
#include "settings/search_config.h"
#include "testsupport/made_archive.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"
#include "util/app_paths.h"

namespace ferret {
namespace {

using testing::FindProgram;
using testing::ProgramResult;
using testing::RunProgram;
using testing::TempDir;

// A copy of this test program placed in an installed bin folder answers where ShippedFolder finds
// the folder named by FERRET_PROBE_SHIPPED, and ends before any test runs: the same lookup the
// program makes for its help pages and office bridge.
[[maybe_unused]] const bool kProbe = [] {
    const char* name = std::getenv("FERRET_PROBE_SHIPPED");
    if (name != nullptr && name[0] != '\0') {
        std::printf("%s\n", ShippedFolder(name).c_str());
        std::fflush(stdout);
        std::_Exit(0);
    }
    return false;
}();

constexpr char kDesktopId[] = "org.mallo.Ferret";

// A window drawn nowhere: ferret opens one only where there is a display, which the offscreen
// platform never connects to.
constexpr const char* kOffscreenWindow[] = {"QT_QPA_PLATFORM=offscreen", "DISPLAY=:99"};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string Canonical(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

class Installed : public ::testing::Test {
  protected:
    // One install serves every test of the suite.
    static void SetUpTestSuite() {
        root_ = new TempDir;
        unsetenv("DESTDIR");
        const std::string staging = root_->Path("staging");
        install_ =
            RunProgram(FERRET_CMAKE_COMMAND, {"--install", FERRET_BUILD_DIR, "--prefix", staging});
        if (install_.exit_code == 0) {
            // Nothing is left where cmake put the files, so a path remembered from the install
            // would lead nowhere.
            std::filesystem::rename(staging, root_->Path("prefix"));
        }
    }
    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }
    void SetUp() override { ASSERT_EQ(install_.exit_code, 0) << install_.out << install_.err; }

    static std::string Prefix() { return root_->Path("prefix"); }
    static std::string File(const std::string& relative) { return Prefix() + "/" + relative; }
    static std::string Ferret() { return File("bin/ferret"); }
    static std::string DesktopFile() {
        return File(std::string("share/applications/") + kDesktopId + ".desktop");
    }

    // Where the lookup of a shipped folder ends for a program installed in bin/.
    static std::string ProbeShipped(const std::string& name) {
        const std::string probe = File("bin/ferret_install_probe");
        if (!IsRegularFile(probe)) {
            std::filesystem::copy_file("/proc/self/exe", probe);
            std::filesystem::permissions(probe, std::filesystem::perms::owner_all);
        }
        const ProgramResult run =
            RunProgram(FindProgram("env"), {"FERRET_PROBE_SHIPPED=" + name, probe});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        std::string folder = run.out;
        if (!folder.empty() && folder.back() == '\n') {
            folder.pop_back();
        }
        return folder;
    }

    static TempDir* root_;
    static ProgramResult install_;
};

TempDir* Installed::root_ = nullptr;
ProgramResult Installed::install_;

TEST_F(Installed, PutsTheProgramAndItsFilesInTheirPlaces) {
    struct stat info {};
    ASSERT_EQ(stat(Ferret().c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode) && (info.st_mode & S_IXOTH) != 0);
    // The window program, which the command-line program hands over to when there is a display.
    ASSERT_EQ(stat(File("lib/ferret/ferret-window").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode) && (info.st_mode & S_IXOTH) != 0);
    // The readers of archives and PDFs, loaded when a run first looks inside one.
    EXPECT_TRUE(IsRegularFile(File("lib/ferret/ferret-readers.so")));
    for (const char* relative : {
             "share/ferret/help/index.html",
             "share/ferret/help/window.png",
             "share/ferret/office/ferret_office_bridge.py",
             "share/icons/hicolor/scalable/apps/ferret.svg",
             "share/man/man1/ferret.1",
             "share/metainfo/org.mallo.Ferret.metainfo.xml",
             "share/mime/packages/ferret.xml",
         }) {
        EXPECT_TRUE(IsRegularFile(File(relative))) << relative;
    }
    EXPECT_TRUE(IsRegularFile(DesktopFile()));
    // Every help page, not just the first.
    int pages = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(FERRET_SOURCE_DIR) + "/docs/help")) {
        ++pages;
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(IsRegularFile(File("share/ferret/help/" + name))) << name;
    }
    EXPECT_GT(pages, 1);
    EXPECT_EQ(ReadText(File("share/ferret/office/ferret_office_bridge.py")),
              ReadText(std::string(FERRET_SOURCE_DIR) + "/office/ferret_office_bridge.py"));
    const std::string icon = ReadText(File("share/icons/hicolor/scalable/apps/ferret.svg"));
    EXPECT_NE(icon.find("<svg"), std::string::npos);
    EXPECT_NE(icon.find("viewBox=\"0 0 48 48\""), std::string::npos);
}

TEST_F(Installed, RunsASearchWithoutTheBuildTree) {
    const ProgramResult version = RunProgram(Ferret(), {"--version"});
    EXPECT_EQ(version.exit_code, 0) << version.err;
    EXPECT_EQ(version.out, std::string("ferret ") + FERRET_VERSION + "\n");

    TempDir work;
    work.WriteFile("tree/a.txt", "one hit here");
    work.WriteFile("tree/sub/b.txt", "nothing");
    work.WriteFile("tree/c.log", "a hit in a file the mask leaves out");
    const std::string report = work.Path("report.txt");
    const ProgramResult run = RunProgram(Ferret(), {"-p", work.Path("tree"), "-k", "*.txt", "-s",
                                                    "hit", "-b", "-e:search", "-l", report, "-x"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const std::string text = ReadText(report);
    EXPECT_NE(text.find(" [1]\t.../a.txt\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Your search string was found 1 times in 1 files out of 2 total files "
                        "searched."),
              std::string::npos)
        << text;
}

TEST_F(Installed, ReadsInsideArchivesWithTheReadersItLoads) {
    TempDir work;
    work.WriteFile("tree/page.html", "no match");
    std::string error;
    ASSERT_TRUE(testing::WriteArchive(work.Path("tree/site.zip"),
                                      {{"index.html", "a hit inside"}, {"about.html", "none"}},
                                      &error))
        << error;
    const ProgramResult run = RunProgram(Ferret(), {"-p", work.Path("tree"), "-k", "*", "-s", "hit",
                                                    "-z", "-e:search", "-hits", "-", "-x"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("site.zip//index.html"), std::string::npos) << run.out;
}

TEST_F(Installed, FindsItsHelpAndOfficeBridgeUnderThePrefix) {
    EXPECT_EQ(Canonical(ProbeShipped("help")), Canonical(File("share/ferret/help")));
    EXPECT_EQ(Canonical(ProbeShipped("office")), Canonical(File("share/ferret/office")));
    EXPECT_EQ(ProbeShipped("no-such-folder"), "");
}

TEST_F(Installed, OpensASavedSearchOnlyInTheWindowAndRunsNothing) {
    TempDir work;
    work.WriteFile("tree/a.txt", "old text");
    SearchSettings saved;
    saved.search = "old";
    saved.replace = "new";
    saved.path = work.Path("tree");
    saved.file_mask = "*.txt";
    const std::string frs = work.Path("replace old.frs");
    ASSERT_TRUE(SaveSearchSettings(frs, saved).ok());

    // Without a display there is nothing to open it in.
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{frs}, std::vector<std::string>{"-config", frs}}) {
        const ProgramResult run = RunProgram(Ferret(), arguments);
        EXPECT_EQ(run.exit_code, 2) << arguments.size();
        EXPECT_NE(run.err.find("no display"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(frs), std::string::npos) << run.err;
    }
    // A file that is not a saved search is no reason to open one.
    const ProgramResult other = RunProgram(Ferret(), {work.Path("tree/a.txt")});
    EXPECT_EQ(other.err.find("saved search"), std::string::npos) << other.err;

    // With a window the saved search stays open for the user: the program is still there when
    // it is stopped, and the file it would replace in is untouched.
    const std::string timeout = FindProgram("timeout");
    if (timeout.empty()) {
        GTEST_SKIP() << "timeout is not installed";
    }
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{frs}, std::vector<std::string>{"-config", frs}}) {
        std::vector<std::string> command = {"3", FindProgram("env"), kOffscreenWindow[0],
                                            kOffscreenWindow[1], Ferret()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ProgramResult run = RunProgram(timeout, command);
        EXPECT_EQ(run.exit_code, 124) << run.err;
    }
    EXPECT_EQ(work.ReadFile("tree/a.txt"), "old text");
    // The same saved search asked to run does run in that window, and ends.
    const ProgramResult replaced =
        RunProgram(timeout, {"30", FindProgram("env"), kOffscreenWindow[0], kOffscreenWindow[1],
                             Ferret(), "-config", frs, "-e:replace", "-x"});
    EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
    EXPECT_EQ(work.ReadFile("tree/a.txt"), "new text");
}

TEST_F(Installed, DesktopEntryOpensSavedSearches) {
    // What opens a saved search; the validator below judges the rest.
    const std::string entry = ReadText(DesktopFile());
    for (const char* line : {"\nExec=ferret %f\n", "\nMimeType=application/x-ferret-search;\n"}) {
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    }
    const std::string mime = ReadText(File("share/mime/packages/ferret.xml"));
    EXPECT_NE(mime.find("type=\"application/x-ferret-search\""), std::string::npos);
    EXPECT_NE(mime.find("pattern=\"*.frs\""), std::string::npos);
    // The MIME package builds into the database that file managers read.
    if (const std::string update = FindProgram("update-mime-database"); !update.empty()) {
        const ProgramResult built = RunProgram(update, {File("share/mime")});
        EXPECT_EQ(built.exit_code, 0) << built.err;
        EXPECT_NE(ReadText(File("share/mime/globs2")).find("application/x-ferret-search:*.frs"),
                  std::string::npos);
    }
    const std::string validate = FindProgram("desktop-file-validate");
    if (validate.empty()) {
        GTEST_SKIP() << "desktop-file-validate is not installed (desktop-file-utils)";
    }
    const ProgramResult checked = RunProgram(validate, {DesktopFile()});
    EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;
    EXPECT_EQ(checked.out + checked.err, "");
}

TEST_F(Installed, AppStreamMetadataValidates) {
    const std::string path = File(std::string("share/metainfo/") + kDesktopId + ".metainfo.xml");
    const std::string metadata = ReadText(path);
    EXPECT_NE(metadata.find(std::string("<id>") + kDesktopId + "</id>"), std::string::npos);
    EXPECT_NE(metadata.find(std::string("<launchable type=\"desktop-id\">") + kDesktopId +
                            ".desktop</launchable>"),
              std::string::npos);
    EXPECT_NE(metadata.find("<binary>ferret</binary>"), std::string::npos);
    EXPECT_NE(metadata.find(std::string("<release version=\"") + FERRET_VERSION + "\""),
              std::string::npos);
    const std::string appstreamcli = FindProgram("appstreamcli");
    if (appstreamcli.empty()) {
        GTEST_SKIP() << "appstreamcli is not installed (appstream)";
    }
    const ProgramResult checked = RunProgram(appstreamcli, {"validate", "--no-net", path});
    EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;
}

TEST_F(Installed, ManPageRendersTheWholeCommandLine) {
    const std::string page = File("share/man/man1/ferret.1");
    ProgramResult rendered;
    if (const std::string man = FindProgram("man"); !man.empty()) {
        rendered = RunProgram(FindProgram("env"), {"LC_ALL=C", "MANWIDTH=200", man, "-l", page});
    } else {
        rendered = RunProgram(FindProgram("groff"), {"-man", "-Tascii", "-P-cbou", page});
    }
    ASSERT_EQ(rendered.exit_code, 0) << rendered.err;
    // Every switch of the command line is described.
    const std::string& text = rendered.out;
    for (const char* word : {"-p folder", "-k mask", "-s text", "-r text", "-e:search",
                             "-e:replace", "-b ", "-i ", "-rx ", "-config file", "-l report", "-m ",
                             "-x ", "--help", "--version", "-hits", "-diff", "-undo"}) {
        EXPECT_NE(text.find(word), std::string::npos) << word;
    }
    // groff's complaints about the page's markup.
    EXPECT_EQ(rendered.err, "");
}

}  // namespace
}  // namespace ferret
