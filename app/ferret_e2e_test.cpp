// Runs the real ferret binary on folders the tests make, and compares whole reports.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ferret_version.h"
#include "testsupport/ferret_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::Ferret;
using testing::FerretWithin;
using testing::ProgramResult;
using testing::TempDir;

const std::string kDashes(80, '-');

// The report with its date line made constant.
std::string Masked(std::string report) {
    const std::string label = "Report generated: ";
    const std::size_t at = report.find(label);
    if (at != std::string::npos) {
        report.replace(at + label.size(), report.find('\n', at) - at - label.size(), "<date>");
    }
    return report;
}

struct Options {
    std::string search;
    std::string mask = "*.txt";
    bool regex = false;
    bool recursive = true;
    bool ignore_case = false;
};

std::string Header(const Options& o, const std::string& folder) {
    const auto on = [](bool b) { return b ? "ON" : "OFF"; };
    return kDashes + "\nFerret v" + std::to_string(FERRET_VERSION_MAJOR) + "." +
           std::to_string(FERRET_VERSION_MINOR) + ".0." + std::to_string(FERRET_VERSION_PATCH) +
           " Results\n" + kDashes + "\nSearch string: " + o.search +
           "\nReplace string: \n\nFile Mask: " + o.mask +
           "\n\nUse Regular Expressions:  " + on(o.regex) +
           "\nInclude subfolders:  " + on(o.recursive) +
           "\nIgnore Case:         " + on(o.ignore_case) + "\n\nRoot Search Directory: \n" +
           folder + "\n(this will be replaced by .../ in the report section)\n" + kDashes + "\n\n";
}

std::string Footer(const std::string& sentence) {
    return "\n" + kDashes + "\n" + sentence + "\n\nReport generated: <date>\n" + kDashes +
           "\nMallo - https://mallo.org/ferret\n";
}

class UnattendedRun : public ::testing::Test {
  protected:
    void SetUp() override {
        chmod(dir_.path().c_str(), 0777);
        dir_.MakeDir("tree");
        report_ = dir_.Path("report.txt");
    }
    std::string Tree() const { return dir_.Path("tree"); }

    // Runs a search over the tree with the summary report written to report_.
    ProgramResult Search(const Options& o, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"-p",     Tree(),      "-k", o.mask,  "-s",
                                              o.search, "-e:search", "-l", report_, "-x"};
        if (o.regex) {
            arguments.push_back("-rx");
        }
        if (o.ignore_case) {
            arguments.push_back("-i");
        }
        if (o.recursive) {
            arguments.push_back("-b");
        }
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return Ferret(arguments);
    }
    std::string Report() const { return Masked(dir_.ReadFile("report.txt")); }
    std::string Listed(const std::string& lines) const {
        return "File(s):\n   [..] - Items found in the file\n\n" + lines;
    }

    TempDir dir_;
    std::string report_;
};

TEST_F(UnattendedRun, PlainCountsOverlapPatternCountsDoNot) {
    dir_.WriteFile("tree/a.txt", "aaaa");
    dir_.WriteFile("tree/sub/b.txt", "xaax");
    dir_.WriteFile("tree/sub/c.log", "aaaa");  // not in the mask
    Options plain{"aa"};
    const ProgramResult run = Search(plain);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Report(), Header(plain, Tree()) + Listed(" [3]\t.../a.txt\n [1]\t.../sub/b.txt\n") +
                            Footer("Your search string was found 4 times in 2 files out of 2 "
                                   "total files searched."));
    Options pattern{"aa"};
    pattern.regex = true;
    EXPECT_EQ(Search(pattern).exit_code, 0);
    EXPECT_EQ(Report(), Header(pattern, Tree()) + Listed(" [2]\t.../a.txt\n [1]\t.../sub/b.txt\n") +
                            Footer("Your search string was found 3 times in 2 files out of 2 "
                                   "total files searched."));
}

TEST_F(UnattendedRun, CaretPatternAndUnreadableFile) {
    dir_.WriteFile("tree/lines.txt", "x1\nx2\nx3\n");
    Options caret{"^x"};
    caret.regex = true;
    Search(caret);
    EXPECT_NE(Report().find(" [1]\t.../lines.txt\n"), std::string::npos);

    chmod(Tree().c_str(), 0777);
    dir_.WriteFile("tree/locked.txt", "x x x");
    chmod(dir_.Path("tree/locked.txt").c_str(), 0);
    Options plain{"x"};
    const ProgramResult locked = Ferret(
        {"-p", Tree(), "-k", "*.txt", "-s", "x", "-e:search", "-l", report_, "-x", "-b"}, true);
    // The file that could not be read is told, and the run says not everything was done.
    EXPECT_EQ(locked.exit_code, 1) << locked.err;
    EXPECT_NE(locked.err.find("ferret: not done: " + Tree() +
                              "/locked.txt: the file cannot be read (Permission denied)"),
              std::string::npos)
        << locked.err;
    EXPECT_EQ(Report(), Header(plain, Tree()) + Listed(" [3]\t.../lines.txt\n") +
                            Footer("Your search string was found 3 times in 1 files out of 2 "
                                   "total files searched."));
}

// -l, -hits and -diff in a shared sticky folder: another user's link to a folder on the way or
// to a file, a name they made first and a FIFO of theirs are each refused with status 2, and
// leave everything as it was; a new output is ours, with our umask.
TEST_F(UnattendedRun, OutputsGoNowhereAnotherUserLeadsNorIntoTheirFiles) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give files and links to another user";
    }
    dir_.WriteFile("tree/a.txt", "x\n");
    dir_.MakeDir("private");
    ASSERT_EQ(chmod(dir_.Path("private").c_str(), 0700), 0);
    dir_.WriteFile("private/shadow", "secret");
    dir_.MakeDir("shared");
    ASSERT_EQ(chmod(dir_.Path("shared").c_str(), 01777), 0);
    dir_.Symlink(dir_.Path("private"), "shared/reports");
    dir_.Symlink(dir_.Path("private/shadow"), "shared/report.txt");
    dir_.WriteFile("shared/theirs.txt", "their text");
    ASSERT_EQ(chmod(dir_.Path("shared/theirs.txt").c_str(), 0644), 0);
    dir_.MakeFifo("shared/pipe");
    for (const char* name :
         {"shared/reports", "shared/report.txt", "shared/theirs.txt", "shared/pipe"}) {
        ASSERT_EQ(lchown(dir_.Path(name).c_str(), 65534, 65534), 0);
    }
    const int reader = open(dir_.Path("shared/pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    const std::vector<std::string> search = {"-p", Tree(), "-k", "*.txt", "-s", "x", "-e:search"};
    const std::vector<std::string> replace = {"-p", Tree(), "-k", "*.txt",     "-s",
                                              "x",  "-r",   "y",  "-e:replace"};
    const struct {
        const char* option;
        const std::vector<std::string>& run;
    } outputs[] = {{"-l", search}, {"-hits", search}, {"-diff", replace}};
    for (const auto& output : outputs) {
        for (const char* target :
             {"shared/reports/shadow", "shared/report.txt", "shared/theirs.txt", "shared/pipe"}) {
            std::vector<std::string> arguments = output.run;
            arguments.insert(arguments.end(), {output.option, dir_.Path(target), "-x"});
            const ProgramResult run = Ferret(arguments);
            EXPECT_EQ(run.exit_code, 2) << output.option << " " << target << ": " << run.err;
            EXPECT_NE(run.err.find("another user"), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(dir_.ReadFile("private/shadow"), "secret");
    EXPECT_EQ(dir_.ReadFile("shared/theirs.txt"), "their text");
    struct stat info {};
    ASSERT_EQ(stat(dir_.Path("shared/theirs.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    char buffer[64];
    EXPECT_LE(read(reader, buffer, sizeof buffer), 0);
    close(reader);
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "x\n");

    // A new output is ours with our umask, also through our own link; standard output,
    // /dev/stdout and /dev/null are written as ever.
    dir_.MakeDir("ours");
    dir_.Symlink(dir_.Path("ours"), "shared/mine");
    std::vector<std::string> arguments = search;
    arguments.insert(arguments.end(),
                     {"-l", dir_.Path("shared/mine/report.txt"), "-hits", "-", "-x"});
    const mode_t saved = umask(027);
    const ProgramResult run = Ferret(arguments);
    umask(saved);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, Tree() + "/a.txt:1:1: x\n");
    ASSERT_EQ(stat(dir_.Path("ours/report.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, geteuid());
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_NE(dir_.ReadFile("ours/report.txt").find("found 1 times"), std::string::npos);
    arguments = replace;
    arguments.insert(arguments.end(), {"-l", "/dev/stdout", "-diff", "/dev/null", "-x"});
    const ProgramResult shown = Ferret(arguments);
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_NE(shown.out.find("found 1 times"), std::string::npos) << shown.out;
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "x\n");
}

TEST_F(UnattendedRun, EmptySearchListsEveryFileWithoutCounts) {
    dir_.WriteFile("tree/one.txt", "1");
    dir_.WriteFile("tree/deep/two.txt", "2");
    Options none{""};
    EXPECT_EQ(Search(none).exit_code, 0);
    EXPECT_EQ(Report(), Header(none, Tree()) + "File(s):\n.../deep/two.txt\n.../one.txt\n" +
                            Footer("Your search resulted in 2 total files matched."));
}

TEST_F(UnattendedRun, ConfigFileOverridesSwitches) {
    dir_.WriteFile("tree/a.htm", "<b>bold</b> <b>");
    dir_.WriteFile("tree/b.txt", "<b>");
    dir_.WriteFile("saved.frs",
                   "[Search Criteria]\r\nSearch=<b>\r\nReplace=\r\nPath=" + Tree() +
                       "\r\nFileMask=*.htm\r\n[Options]\r\nSubFolders=0\r\nIgnoreCase=0\r\n"
                       "RegEx=0\r\n");
    const ProgramResult run = Ferret({"-config", dir_.Path("saved.frs"), "-s", "zzz", "-k", "*.txt",
                                      "-e:search", "-l", report_, "-x"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    Options from_file{"<b>", "*.htm"};
    from_file.recursive = false;
    EXPECT_EQ(Report(), Header(from_file, Tree()) + Listed(" [2]\t.../a.htm\n") +
                            Footer("Your search string was found 2 times in 1 files out of 1 "
                                   "total files searched."));
}

TEST_F(UnattendedRun, NoRunWithoutTheExactProcessWord) {
    dir_.WriteFile("tree/a.txt", "x");
    const ProgramResult run = Ferret({"-p", Tree(), "-s", "x", "-e:Search", "-l", report_, "-x"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(dir_.ReadFile("report.txt"), "\n");  // the report box stayed empty
}

TEST_F(UnattendedRun, BadInputExitsWithTwoAndSaysWhy) {
    dir_.WriteFile("tree/a.txt", "old");
    dir_.WriteFile("plain-file", "");
    const struct {
        std::vector<std::string> arguments;
        std::string told;
    } cases[] = {
        {{"-config", dir_.Path("nope.frs"), "-e:search"}, "nope.frs"},
        {{"-p", dir_.Path("absent"), "-s", "x", "-e:search"}, "absent"},
        {{"-p", Tree(), "-s", "x", "-e:search", "-l", dir_.Path("plain-file/report.txt")},
         "report.txt"},
        {{"-p", Tree(), "-k", "*.*", "-s", "old", "-e:replace"},
         "A search and replace text must be supplied"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("-x");
        const ProgramResult run = Ferret(arguments);
        EXPECT_EQ(run.exit_code, 2) << c.told;
        EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err;
    }
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "old");
}

// No unattended run waits for a message box nobody can answer: scripts and CI set the offscreen
// platform, which without a display is a headless run; with one (the offscreen platform never
// uses it) the window opens, and a run that ends the program (-x) must not wait for its box.
// A pattern that cannot be used refuses the run before anything is listed, searched or
// written, with or without a window, for a search and a replace alike.
TEST_F(UnattendedRun, InvalidPatternRefusesTheRunWithOrWithoutAWindow) {
    dir_.WriteFile("tree/a.txt", "x (");
    dir_.WriteFile("report.txt", "the last report");
    for (const std::vector<std::string>& environment :
         {std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"},
          std::vector<std::string>{"QT_QPA_PLATFORM=offscreen", "DISPLAY=:99"}}) {
        for (const std::vector<std::string>& process :
             {std::vector<std::string>{"-e:search"},
              std::vector<std::string>{"-e:replace", "-r", "y"}}) {
            SCOPED_TRACE(environment.back() + " " + process.front());
            std::vector<std::string> arguments{"-p", Tree(), "-k", "*.txt", "-s",
                                               "(",  "-rx",  "-l", report_, "-x"};
            arguments.insert(arguments.end(), process.begin(), process.end());
            const ProgramResult run = FerretWithin(30, arguments, false, {}, environment);
            EXPECT_EQ(run.exit_code, 2) << run.err;
            EXPECT_NE(
                run.err.find("ferret: Regular Expression: The regular expression cannot be used"),
                std::string::npos)
                << run.err;
            EXPECT_EQ(Report(), "the last report");
            EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "x (");
        }
    }
    const ProgramResult bare = FerretWithin(30, {}, false, {}, {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(bare.exit_code, 2) << bare.err;
    EXPECT_NE(bare.err.find("no display"), std::string::npos) << bare.err;
    EXPECT_NE(bare.err.find("--help"), std::string::npos) << bare.err;
}

class ReplaceRun : public UnattendedRun {
  protected:
    ProgramResult Replace(const std::string& search, const std::string& replacement,
                          std::vector<std::string> extra = {}, bool unprivileged = false) {
        std::vector<std::string> arguments = {"-p", Tree(),  "-k", "*.*",       "-b",
                                              "-s", search,  "-r", replacement, "-e:replace",
                                              "-l", report_, "-x"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return Ferret(arguments, unprivileged);
    }
    ProgramResult ReplaceWithFileLimit(long bytes, const std::string& search,
                                       const std::string& replacement) {
        return FerretWithin(
            60,
            {"-p", Tree(), "-k", "*.*", "-b", "-s", search, "-r", replacement, "-e:replace", "-x"},
            false, {"--fsize=" + std::to_string(bytes)});
    }
    std::string Tree(const std::string& name) const { return dir_.ReadFile("tree/" + name); }
    using UnattendedRun::Tree;
};

TEST_F(ReplaceRun, RewritesExactlyTheApprovedFilesWithHits) {
    dir_.WriteFile("tree/a.txt", "a.b axb a.b");
    dir_.WriteFile("tree/b.log", "a.b");
    dir_.WriteFile("tree/Makefile", "all: a.b");
    dir_.WriteFile("tree/quiet.htm", "nothing");
    dir_.SetTimes("tree/quiet.htm", 1000000000, 1000000000);
    dir_.WriteFile("tree/sub/script.txt", "#!/bin/sh\necho a.b\n");
    chmod(dir_.Path("tree/sub/script.txt").c_str(), 0755);
    const ProgramResult run = Replace("a.b", "X");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    // The run says where its restore point is, on standard output and in the report.
    const std::string said = "Restore point: ";
    ASSERT_EQ(run.out.rfind(said, 0), 0u) << run.out;
    const std::string restore_point =
        run.out.substr(said.size(), run.out.find(" (undo with: ferret -undo ") - said.size());
    Options shown{"a.b", "*.*"};
    std::string header = Header(shown, Tree());
    header.replace(header.find("Replace string: "), 16, "Replace string: X");
    header.insert(header.rfind(kDashes),
                  "\nRestore point (Tools > Undo Last Replace): \n" + restore_point + "\n");
    EXPECT_EQ(Report(),
              header + Listed(" [2]\t.../a.txt\n [1]\t.../Makefile\n [1]\t.../sub/script.txt\n") +
                  Footer("Your search string was found 4 times in 3 files out of 5 "
                         "total files searched."));
    EXPECT_EQ(Tree("a.txt"), "X axb X");
    EXPECT_EQ(Tree("b.log"), "a.b");
    EXPECT_EQ(Tree("Makefile"), "all: X");
    EXPECT_EQ(Tree("sub/script.txt"), "#!/bin/sh\necho X\n");
    struct stat info {};
    stat(dir_.Path("tree/sub/script.txt").c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    stat(dir_.Path("tree/quiet.htm").c_str(), &info);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
    // The last file rewritten stays in the data folder.
    const char* data = std::getenv("XDG_DATA_HOME");
    ASSERT_NE(data, nullptr);
    std::ifstream kept(std::string(data) + "/ferret/~~temprpl.frr", std::ios::binary);
    std::stringstream content;
    content << kept.rdbuf();
    EXPECT_EQ(content.str(), "#!/bin/sh\necho X\n");
}

TEST_F(ReplaceRun, PatternsEscapesAndReplacementSequences) {
    const struct {
        const char* search;
        const char* replacement;
        std::vector<std::string> extra;
        const char* before;
        const char* after;
    } cases[] = {
        {"a.b", "X", {"-rx"}, "a.b axb", "X X"},
        // A plain text is that text, with "-i" or a "$" in the replacement too.
        {"ab?", "X", {"-i"}, "a ab abc ab? aa a{2}", "a ab abc X aa a{2}"},
        {"ab?", "US$", {}, "a ab abc ab? AB?", "a ab abc US$ AB?"},
        {"x?", "<>", {"-i"}, "x? y X?", "<> y <>"},
        {"ab", "$&$&", {}, "ab-ab", "abab-abab"},
        {"a^^Blankb", "^^Blank", {}, "xaby", "xy"},
        {"abc", "X", {"-i"}, "abc ABC Abc", "X X X"},
        {"(\\w+)@(\\w+)", "$2 at $1", {"-rx"}, "me@home", "home at me"},
        {"x", "y", {}, "", ""},
    };
    for (const auto& c : cases) {
        dir_.WriteFile("tree/f.txt", c.before);
        const ProgramResult run = Replace(c.search, c.replacement, c.extra);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(Tree("f.txt"), c.after) << c.search;
    }
}

TEST_F(ReplaceRun, LinksOtherUsersPlantedAreNotFollowedAndAreTold) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give links to another user";
    }
    dir_.WriteFile("tree/mine.txt", "old");
    ASSERT_EQ(chmod(dir_.Path("tree").c_str(), 01777), 0);
    dir_.WriteFile("private/secret.txt", "old");
    ASSERT_EQ(chmod(dir_.Path("private/secret.txt").c_str(), 0600), 0);
    dir_.Symlink(dir_.Path("private/secret.txt"), "tree/planted.txt");
    dir_.Symlink(dir_.Path("private"), "tree/planted-folder");
    for (const char* link : {"tree/planted.txt", "tree/planted-folder"}) {
        ASSERT_EQ(lchown(dir_.Path(link).c_str(), 65534, 65534), 0);
    }
    const ProgramResult run = Replace("old", "new");
    EXPECT_EQ(run.exit_code, 1) << run.err;
    for (const char* link : {"/planted.txt: it is a link that belongs to another user",
                             "/planted-folder: it is a link that belongs to another user"}) {
        EXPECT_NE(run.err.find("ferret: not done: " + Tree() + link), std::string::npos) << run.err;
    }
    EXPECT_EQ(dir_.ReadFile("private/secret.txt"), "old");
    EXPECT_EQ(Tree("mine.txt"), "new");
    // A search may follow them: it changes nothing.
    ASSERT_EQ(Ferret({"-p", Tree(), "-k", "*.txt", "-b", "-s", "old", "-e:search", "-x"}).exit_code,
              0);
}

// A tree copied with its absolute links (as "cp -a" keeps them) leads out of itself: what they
// lead to is searched, never rewritten, and told; links that stay inside, absolute or not, are
// followed as before, and a patch names only files inside.
TEST_F(ReplaceRun, NoLinkLeadsARewriteOutOfItsFolder) {
    dir_.WriteFile("live/site/page.txt", "old live page");
    dir_.WriteFile("live/site/inc/header.txt", "old live header");
    dir_.WriteFile("tree/own.txt", "old copy");
    dir_.WriteFile("tree/inc/real.txt", "old inside");
    dir_.Symlink(dir_.Path("live/site/page.txt"), "tree/page.txt");
    dir_.Symlink(dir_.Path("live/site/inc"), "tree/linked-inc");
    dir_.Symlink(dir_.Path("tree/inc/real.txt"), "tree/absolute-inside.txt");
    dir_.Symlink("inc/real.txt", "tree/relative-inside.txt");
    for (const bool diff : {true, false}) {
        SCOPED_TRACE(diff ? "-diff" : "replace");
        const ProgramResult run =
            diff ? Replace("old", "new", {"-diff", dir_.Path("out.patch")}) : Replace("old", "new");
        EXPECT_EQ(run.exit_code, 1) << run.err;
        for (const char* told : {"/page.txt: it lies outside the folder ",
                                 "/linked-inc/header.txt: it lies outside the folder "}) {
            EXPECT_NE(run.err.find(told), std::string::npos) << run.err;
        }
        EXPECT_EQ(dir_.ReadFile("live/site/page.txt"), "old live page");
        EXPECT_EQ(dir_.ReadFile("live/site/inc/header.txt"), "old live header");
        if (diff) {
            const std::string patch = dir_.ReadFile("out.patch");
            EXPECT_EQ(patch.find("live"), std::string::npos) << patch;
            EXPECT_NE(patch.find("+++ own.txt"), std::string::npos) << patch;
            EXPECT_NE(patch.find("+++ inc/real.txt"), std::string::npos) << patch;
            EXPECT_EQ(Tree("own.txt"), "old copy");
        }
    }
    EXPECT_EQ(Tree("own.txt"), "new copy");
    EXPECT_EQ(Tree("inc/real.txt"), "new inside");
}

TEST_F(ReplaceRun, AFileAnotherProgramHasOpenForWritingIsLeftAlone) {
    dir_.WriteFile("tree/app.txt", "old record 1\n");
    dir_.WriteFile("tree/quiet.txt", "old");
    const int writer = open(dir_.Path("tree/app.txt").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const ProgramResult run = Replace("old", "new");
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("ferret: not done: " + Tree() +
                           "/app.txt: the file is in use by another program"),
              std::string::npos)
        << run.err;
    // The writer's next record lands in the file that keeps the name.
    ASSERT_EQ(write(writer, "record 2\n", 9), 9);
    close(writer);
    EXPECT_EQ(Tree("app.txt"), "old record 1\nrecord 2\n");
    EXPECT_EQ(Tree("quiet.txt"), "new");
}

TEST_F(ReplaceRun, BytesOutsideTheMatchesSurvive) {
    const std::string original("old\r\n\0\xff\xfe\x80 old\r\n", 16);
    dir_.WriteFile("tree/binary.txt", original);
    dir_.WriteFile("tree/real.txt", "old");
    dir_.Symlink("real.txt", "tree/link.txt");
    dir_.WriteFile("tree/hard.txt", "old");
    ASSERT_EQ(link(dir_.Path("tree/hard.txt").c_str(), dir_.Path("hard-elsewhere").c_str()), 0);
    dir_.MakeFifo("tree/pipe.txt");
    const ProgramResult run = Replace("old", "new");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    // The hard link is split, and the run says so without calling it a failure.
    EXPECT_EQ(run.err, "ferret: note: " + Tree() +
                           "/hard.txt: it has 2 names; this one was rewritten, the others keep "
                           "the old text\n");
    EXPECT_EQ(Tree("binary.txt"), std::string("new\r\n\0\xff\xfe\x80 new\r\n", 16));
    EXPECT_EQ(Tree("real.txt"), "new");
    struct stat info {};
    ASSERT_EQ(lstat(dir_.Path("tree/link.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(Tree("hard.txt"), "new");
    EXPECT_EQ(dir_.ReadFile("hard-elsewhere"), "old");
}

TEST_F(ReplaceRun, FilesThatCannotBeRewrittenKeepTheirBytes) {
    dir_.WriteFile("tree/readonly.txt", "old");
    chmod(dir_.Path("tree/readonly.txt").c_str(), 0444);
    dir_.WriteFile("tree/fine.txt", "old");
    ProgramResult run = Replace("old", "new");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "ferret: not done: " + Tree() + "/readonly.txt: the file is read-only\n");
    EXPECT_EQ(Tree("readonly.txt"), "old");
    EXPECT_EQ(Tree("fine.txt"), "new");
    EXPECT_NE(Report().find("found 1 times in 1 files out of 2"), std::string::npos);

    // A full disk, played by a file size limit: every file stays whole.
    const std::string big(10000, 'o');
    dir_.WriteFile("tree/fine.txt", big);
    run = ReplaceWithFileLimit(5000, "o", "n");
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("ferret: not done: " + Tree() +
                           "/fine.txt: cannot write the new content: File too large"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(Tree("fine.txt"), big);
    EXPECT_EQ(dir_.Names("tree"), (std::vector<std::string>{"fine.txt", "readonly.txt"}));
    // Only files really rewritten count: the run that rewrote none keeps no restore point, so
    // the list holds the first run alone, with its one file.
    // (Runs of other tests in the same process share the data folder: only this tree's count.)
    const ProgramResult list = Ferret({"-undo", "list"});
    std::istringstream lines(list.out);
    std::vector<std::string> ours;
    for (std::string line; std::getline(lines, line);) {
        if (line.size() >= Tree().size() &&
            line.compare(line.size() - Tree().size(), Tree().size(), Tree()) == 0) {
            ours.push_back(line);
        }
    }
    ASSERT_EQ(ours.size(), 1u) << list.out;
    EXPECT_NE(ours[0].find("  1 file(s)  \"old\" -> \"new\""), std::string::npos) << list.out;

    // A folder the user may not write, run as that user.
    chmod(dir_.Path("tree").c_str(), 0777);
    dir_.WriteFile("tree/locked/mine.txt", "old");
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir_.Path("tree/locked").c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(dir_.Path("tree/locked/mine.txt").c_str(), 65534, 65534), 0);
    }
    chmod(dir_.Path("tree/locked").c_str(), 0555);
    // That user keeps restore points where it may write.
    dir_.MakeDir("nobody-data");
    chmod(dir_.Path("nobody-data").c_str(), 0777);
    setenv("FERRET_HOME", dir_.Path("nobody-data").c_str(), 1);
    run = Replace("old", "new", {}, true);
    unsetenv("FERRET_HOME");
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("ferret: not done: " + Tree() + "/locked/mine.txt: cannot create"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(Tree("locked/mine.txt"), "old");
    EXPECT_EQ(dir_.Names("tree/locked"), std::vector<std::string>{"mine.txt"});
}

TEST(FerretBinary, VersionAndHelpAnswerFirst) {
    const auto version = Ferret({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string("ferret ") + FERRET_VERSION + "\n");

    const auto help = Ferret({"-p", "/tmp", "--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* text : {"-e:search", "-e:replace", "-config FILE", "-rx", "Examples:"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    EXPECT_TRUE(help.err.empty());
}

}  // namespace
}  // namespace ferret
