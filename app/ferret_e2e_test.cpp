// Runs the real ferret binary on folders the tests make, and compares whole reports.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "ferret_version.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::ProgramResult;
using testing::RunProgram;
using testing::TempDir;

const std::string kDashes(80, '-');

ProgramResult Ferret(const std::vector<std::string>& arguments, bool unprivileged = false) {
    return RunProgram(FERRET_BINARY, arguments, unprivileged);
}

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

TEST_F(UnattendedRun, HitsAcrossBlockBoundariesIgnoreCaseAndEscapeWords) {
    std::string big(70000, '.');
    big.replace(4094, 5, "HeLLo");
    big.replace(65534, 5, "hello");
    dir_.WriteFile("tree/big.txt", big);
    dir_.WriteFile("tree/tabs.txt", "a\tb a\tb ab");
    Options exact{"hello"};
    Search(exact);
    EXPECT_EQ(Report(), Header(exact, Tree()) + Listed(" [1]\t.../big.txt\n") +
                            Footer("Your search string was found 1 times in 1 files out of 2 "
                                   "total files searched."));
    Options folded{"hello"};
    folded.ignore_case = true;
    Search(folded);
    EXPECT_NE(Report().find(" [2]\t.../big.txt\n"), std::string::npos);
    Options tab{"a^^Tabb"};
    Search(tab);
    EXPECT_NE(Report().find(" [2]\t.../tabs.txt\n"), std::string::npos) << Report();
    Options blank{"a^^Blankb"};
    Search(blank);
    EXPECT_NE(Report().find(" [1]\t.../tabs.txt\n"), std::string::npos);
}

TEST_F(UnattendedRun, CaretPatternInvalidPatternAndUnreadableFile) {
    dir_.WriteFile("tree/lines.txt", "x1\nx2\nx3\n");
    Options caret{"^x"};
    caret.regex = true;
    Search(caret);
    EXPECT_NE(Report().find(" [1]\t.../lines.txt\n"), std::string::npos);

    Options invalid{"(x"};
    invalid.regex = true;
    const ProgramResult run = Search(invalid);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.err.find("regular expression"), std::string::npos) << run.err;
    EXPECT_EQ(Report(), Header(invalid, Tree()) + Listed("") +
                            Footer("Your search string was found 0 times in 0 files out of 1 "
                                   "total files searched."));

    chmod(Tree().c_str(), 0777);
    dir_.WriteFile("tree/locked.txt", "x x x");
    chmod(dir_.Path("tree/locked.txt").c_str(), 0);
    Options plain{"x"};
    const ProgramResult locked = Ferret(
        {"-p", Tree(), "-k", "*.txt", "-s", "x", "-e:search", "-l", report_, "-x", "-b"}, true);
    EXPECT_EQ(locked.exit_code, 0) << locked.err;
    EXPECT_EQ(Report(), Header(plain, Tree()) + Listed(" [3]\t.../lines.txt\n") +
                            Footer("Your search string was found 3 times in 1 files out of 2 "
                                   "total files searched."));
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
    dir_.WriteFile("tree/a.txt", "x");
    const ProgramResult missing_config =
        Ferret({"-config", dir_.Path("nope.frs"), "-e:search", "-x"});
    EXPECT_EQ(missing_config.exit_code, 2);
    EXPECT_NE(missing_config.err.find("nope.frs"), std::string::npos);
    const ProgramResult missing_folder =
        Ferret({"-p", dir_.Path("absent"), "-s", "x", "-e:search", "-x"});
    EXPECT_EQ(missing_folder.exit_code, 2);
    EXPECT_NE(missing_folder.err.find("absent"), std::string::npos);
    dir_.WriteFile("plain-file", "");
    const ProgramResult bad_report = Ferret(
        {"-p", Tree(), "-s", "x", "-e:search", "-l", dir_.Path("plain-file/report.txt"), "-x"});
    EXPECT_EQ(bad_report.exit_code, 2);
    EXPECT_NE(bad_report.err.find("report.txt"), std::string::npos);
}

TEST(FerretBinary, VersionAndHelpAnswerFirst) {
    const auto version = RunProgram(FERRET_BINARY, {"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string("ferret ") + FERRET_VERSION + "\n");

    const auto help = RunProgram(FERRET_BINARY, {"-p", "/tmp", "--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* text : {"-e:search", "-e:replace", "-config FILE", "-rx", "Examples:"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    EXPECT_TRUE(help.err.empty());
}

TEST(FerretBinary, WithoutArgumentsSaysThereIsNoWindowYet) {
    const auto bare = RunProgram(FERRET_BINARY, {});
    EXPECT_EQ(bare.exit_code, 2);
    EXPECT_NE(bare.err.find("--help"), std::string::npos);
}

}  // namespace
}  // namespace ferret
