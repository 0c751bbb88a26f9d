// What unattended runs leave out (-skip, -gitignore, -nobinary), on trees they make: a git
// repository holding a copy of /usr/include and real package files, against git's own listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "testsupport/ferret_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

namespace fs = std::filesystem;
using testing::Ferret;
using testing::FindProgram;
using testing::LinesOf;
using testing::ProgramResult;
using testing::RunProgram;
using testing::TempDir;

using Paths = std::set<std::string>;

// The files a list run's report names, relative to its start folder (".../" in the report).
Paths ReportedFiles(const std::string& report) {
    Paths files;
    bool in_list = false;
    for (const std::string& line : LinesOf(report)) {
        if (line == "File(s):") {
            in_list = true;
        } else if (in_list && line.rfind("---", 0) == 0) {
            break;
        } else if (in_list && line.rfind(".../", 0) == 0) {
            files.insert(line.substr(4));
        }
    }
    return files;
}

// Lists `folder` with ferret's report, with `options` added to the run.
Paths FerretLists(const TempDir& dir, const std::string& folder,
                  const std::vector<std::string>& options, std::string* report = nullptr) {
    const std::string log = dir.Path("report.log");
    std::vector<std::string> arguments = {"-p", folder, "-k", "*", "-b", "-e:search", "-l", log};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back("-x");
    const ProgramResult run = Ferret(arguments);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const std::string text = dir.ReadFile("report.log");
    if (report != nullptr) {
        *report = text;
    }
    return ReportedFiles(text);
}

Paths GitLists(const std::string& git, const std::string& repository) {
    const ProgramResult listed = RunProgram(
        git, {"-C", repository, "ls-files", "--cached", "--others", "--exclude-standard"});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    const std::vector<std::string> lines = LinesOf(listed.out);
    return Paths(lines.begin(), lines.end());
}

// Copies `from` to `to` without its links and dot folders: git lists a link as a file where a
// walk follows it, and a walk never enters a dot folder where git does.
void CopyPlainTree(const std::string& from, const std::string& to) {
    fs::create_directories(to);
    for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path relative = fs::relative(it->path(), from);
        if (it->is_symlink() ||
            (it->is_directory() && it->path().filename().string().front() == '.')) {
            if (it->is_directory() && !it->is_symlink()) {
                it.disable_recursion_pending();
            }
            continue;
        }
        if (it->is_directory()) {
            fs::create_directories(to / relative);
        } else if (it->is_regular_file()) {
            fs::copy_file(it->path(), to / relative);
        }
    }
}

// The package files of the node installed here, if any.
std::string NodePackages() {
    for (const char* folder : {"/usr/lib/node_modules/npm/node_modules", "/usr/share/nodejs"}) {
        if (fs::is_directory(folder)) {
            return folder;
        }
    }
    return {};
}

TEST(IgnoreFilesRun, ARepositoryOfRealFilesListsWhatGitLists) {
    const std::string git = FindProgram("git");
    if (git.empty()) {
        GTEST_SKIP() << "git is not installed";
    }
    const TempDir dir;
    const std::string repository = dir.Path("repository");
    ASSERT_EQ(RunProgram(git, {"init", "-q", repository}).exit_code, 0);
    CopyPlainTree("/usr/include", repository + "/include");
    const std::string packages = NodePackages();
    if (!packages.empty()) {
        CopyPlainTree(packages, repository + "/web/node_modules");
    }
    dir.WriteFile("repository/web/index.html", "<html></html>\n");
    dir.WriteFile("repository/web/#notes", "kept: the pattern is escaped\n");
    dir.WriteFile("repository/web/old.orig", "ignored\n");
    dir.WriteFile("repository/web/trailing ", "a name ending in a blank\n");
    dir.WriteFile("repository/.gitignore",
                  "# dependencies, but one package kept without its documents\n"
                  "/web/node_modules/*\n"
                  "!/web/node_modules/semver/\n"
                  "web/node_modules/semver/**/*.md\n"
                  "*.orig\n"
                  "include/linux/*\n"
                  "!include/linux/fs.h\n"
                  "include/**/netfilter*/\n"
                  "\\#notes\n"
                  "!/web/\\#notes\n"
                  "trailing\\ \n");
    dir.WriteFile("repository/include/.gitignore", "/sound/\n**/bits/*.tcc\n!**/bits/stl_*.tcc\n");
    dir.WriteFile("repository/.git/info/exclude", "/include/xen/\n");
    // The user's own excludes, where git looks by default.
    dir.WriteFile("config/git/ignore", "*.modulemap\n");
    setenv("XDG_CONFIG_HOME", dir.Path("config").c_str(), 1);

    const Paths expected = GitLists(git, repository);
    ASSERT_GT(expected.size(), 1000u);
    ASSERT_EQ(expected.count("include/linux/fs.h"), 1u);
    ASSERT_EQ(expected.count("web/#notes"), 1u);
    std::string report;
    const Paths listed = FerretLists(dir, repository, {"-gitignore"}, &report);
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), listed.begin(), listed.end(),
                        std::back_inserter(missing));
    std::set_difference(listed.begin(), listed.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << missing.size() << " missing, the first " << missing.front();
    EXPECT_TRUE(extra.empty()) << extra.size() << " extra, the first " << extra.front();
    EXPECT_NE(report.find("Skip files that .gitignore skips:  ON"), std::string::npos);

    // Started inside the repository, the rules above the start still hold.
    Paths inside;
    for (const std::string& path : expected) {
        if (path.rfind("include/linux/", 0) == 0) {
            inside.insert(path.substr(std::string("include/linux/").size()));
        }
    }
    EXPECT_EQ(FerretLists(dir, repository + "/include/linux", {"-gitignore"}), inside);
}

TEST(IgnoreFilesRun, SkippedFoldersAndBinaryFilesAreLeftOutOfRunsAndSavedSearches) {
    const TempDir dir;
    dir.WriteFile("tree/src/main.c", "needle\n");
    dir.WriteFile("tree/src/Build/out.c", "needle\n");
    dir.WriteFile("tree/node_modules/pkg/index.js", "needle\n");
    dir.WriteFile("tree/bin/tool", std::string("needle\0\x01\x02", 9));
    const std::string tree = dir.Path("tree");
    EXPECT_EQ(FerretLists(dir, tree, {}).size(), 4u);
    std::string report;
    EXPECT_EQ(FerretLists(dir, tree, {"-skip", "node_modules;build", "-nobinary"}, &report),
              (Paths{"src/main.c"}));
    EXPECT_NE(report.find("Folders skipped:     node_modules;build"), std::string::npos);
    EXPECT_NE(report.find("1 binary file was left out."), std::string::npos);

    // A search with the same options from a saved search: the hit lines name one file.
    dir.WriteFile("skip.frs", "[Search Criteria]\r\nSearch=needle\r\nPath=" + tree +
                                  "\r\nFileMask=*\r\nSkipFolders=node_modules;build\r\n"
                                  "[Options]\r\nSubFolders=1\r\nNoBinary=1\r\n");
    const ProgramResult run = Ferret({"-config", dir.Path("skip.frs"), "-e:search", "-hits", "-",
                                      "-l", dir.Path("r.log"), "-x"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(LinesOf(run.out), (std::vector<std::string>{tree + "/src/main.c:1:1: needle"}));
    EXPECT_NE(dir.ReadFile("r.log").find("found 1 times in 1 files out of 1 total files searched. "
                                         "1 binary file was left out."),
              std::string::npos);
    // Without them, the binary file counts (its hits are not shown as lines).
    const ProgramResult all = Ferret(
        {"-p", tree, "-k", "*", "-b", "-s", "needle", "-e:search", "-l", dir.Path("r.log"), "-x"});
    ASSERT_EQ(all.exit_code, 0) << all.err;
    EXPECT_NE(dir.ReadFile("r.log").find("found 4 times in 4 files"), std::string::npos);
}

}  // namespace
}  // namespace ferret
