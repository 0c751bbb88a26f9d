// IgnoreList by example against git's documented rules, IgnoreScope on trees the tests make,
// and both against the real git on generated repositories.
#include "engine/ignore_rules.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/run_program.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;
using Verdict = IgnoreList::Verdict;
using Files = std::vector<std::string>;

constexpr Verdict kIgnored = Verdict::kIgnored;
constexpr Verdict kKept = Verdict::kKept;
constexpr Verdict kNone = Verdict::kNone;

struct MatchCase {
    const char* rules;
    const char* path;
    bool is_folder;
    Verdict verdict;
};

void ExpectVerdicts(const std::vector<MatchCase>& cases, bool ignore_case = false) {
    for (const MatchCase& c : cases) {
        EXPECT_EQ(IgnoreList(c.rules, ignore_case).Match(c.path, c.is_folder), c.verdict)
            << "rules '" << c.rules << "' path '" << c.path << "'"
            << (c.is_folder ? " (folder)" : "");
    }
}

TEST(IgnoreList, AnchoringAndFolders) {
    ExpectVerdicts({
        {"foo", "foo", false, kIgnored},
        {"foo", "a/b/foo", false, kIgnored},  // no slash: the last part, at any depth
        {"foo", "a/foo/b", false, kNone},     // a path is asked about its last part only
        {"foo", "foox", false, kNone},
        {"/foo", "foo", false, kIgnored},
        {"/foo", "a/foo", false, kNone},
        {"a/b", "a/b", false, kIgnored},  // a slash in the middle anchors too
        {"a/b", "x/a/b", false, kNone},
        {"foo/", "foo", true, kIgnored},
        {"foo/", "foo", false, kNone},
        {"foo/", "a/foo", true, kIgnored},
        {"doc/frotz/", "doc/frotz", true, kIgnored},
        {"doc/frotz/", "a/doc/frotz", true, kNone},
        {"/", "a", false, kNone},
        {"a//", "a", true, kNone},
    });
}

TEST(IgnoreList, Wildcards) {
    ExpectVerdicts({
        {"*.o", "x.o", false, kIgnored},
        {"*.o", "a/b/x.o", false, kIgnored},
        {"*.o", "x.obj", false, kNone},
        {"a/*", "a/b", false, kIgnored},
        {"a/*", "a/b/c", false, kNone},  // "*" stops at "/"
        {"a/*/c", "a/b/c", false, kIgnored},
        {"a?c", "abc", false, kIgnored},
        {"x/a?c", "x/a/c", false, kNone},  // so does "?"
        {"a*b*c*d", "aXbYcZd", false, kIgnored},
        {"*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false, kNone},
    });
}

TEST(IgnoreList, DoubleAsterisks) {
    ExpectVerdicts({
        {"**/foo", "foo", false, kIgnored},
        {"**/foo", "a/b/foo", false, kIgnored},
        {"**/foo/bar", "x/foo/bar", false, kIgnored},
        {"**/foo/bar", "foo/x/bar", false, kNone},
        {"abc/**", "abc/x", false, kIgnored},
        {"abc/**", "abc/x/y", false, kIgnored},
        {"abc/**", "abc", true, kNone},  // everything inside, not the folder itself
        {"a/**/b", "a/b", false, kIgnored},
        {"a/**/b", "a/x/b", false, kIgnored},
        {"a/**/b", "a/x/y/b", false, kIgnored},
        {"a/**/b", "a/xb", false, kNone},
        {"a/**b", "a/xb", false, kIgnored},  // not between slashes: a plain "*"
        {"a/**b", "a/x/b", false, kNone},
        {"***/c", "x/y/c", false, kIgnored},
        {"foo/**/", "foo/a", false, kNone},
        {"foo/**/", "foo/a/b", true, kIgnored},
        // Git runs its matcher after a pattern's plain start, so "**" just after it crosses
        // folders as if it stood at the start.
        {"ab**/c", "abx/y/c", false, kIgnored},
        {"ab*/c", "abx/y/c", false, kNone},
    });
}

TEST(IgnoreList, BracketExpressions) {
    ExpectVerdicts({
        {"[a-c]x", "bx", false, kIgnored},
        {"[a-c]x", "dx", false, kNone},
        {"[!a-c]x", "dx", false, kIgnored},
        {"[^a-c]x", "bx", false, kNone},
        {"[]a]", "]", false, kIgnored},  // a "]" first is a member
        {"[!]a]", "b", false, kIgnored},
        {"[a-]", "-", false, kIgnored},
        {"[-a]", "-", false, kIgnored},
        {"[a-c-e]", "-", false, kIgnored},  // after a range "-" is a member again
        {"[a-c-e]", "d", false, kNone},
        {"[\\]]", "]", false, kIgnored},
        {"[[:digit:]]*", "7up", false, kIgnored},
        {"[[:digit:]]*", "up", false, kNone},
        {"[[:alpha:]][[:punct:]]", "a-", false, kIgnored},
        {"a[[:space:]]b", "a b", false, kIgnored},
        {"a[[:space:]]b", "a\vb", false, kNone},  // git's white space has no vertical tab
        {"[[:upper:]]", "Q", false, kIgnored},
        {"[[:x]", ":", false, kIgnored},  // no ":]": an ordinary "["
        {"[[:bogus:]]", "b", false, kNone},
        {"[a", "[a", false, kNone},  // unclosed: matches nothing
        {"x/[!a]", "x/b", false, kIgnored},
    });
}

TEST(IgnoreList, EscapesSpacesAndComments) {
    ExpectVerdicts({
        {"#foo", "#foo", false, kNone},
        {"\\#foo", "#foo", false, kIgnored},
        {"\\!foo", "!foo", false, kIgnored},
        {"\\*", "*", false, kIgnored},
        {"\\*", "a", false, kNone},
        {"foo   ", "foo", false, kIgnored},
        {"foo\\ ", "foo ", false, kIgnored},
        {"foo\\ ", "foo", false, kNone},
        {"foo\\\\ ", "foo\\", false, kIgnored},  // the "\" escapes a "\", not the space
        {"foo\t", "foo\t", false, kIgnored},     // only spaces are dropped
        {"foo\\", "foo", false, kNone},
        {"foo\\", "foo\\", false, kNone},  // a trailing "\" matches nothing
        {"\n\n  \n", "  ", false, kNone},
        {"foo\r\n", "foo", false, kIgnored},  // one CR before the line feed is dropped
        {"foo\r", "foo", false, kIgnored},
        {"foo\r\r\n", "foo\r", false, kIgnored},
        {"\xEF\xBB\xBF"
         "foo",
         "foo", false, kIgnored},
    });
}

TEST(IgnoreList, NegationAndTheLastMatchDecides) {
    ExpectVerdicts({
        {"*.log\n!keep.log", "keep.log", false, kKept},
        {"*.log\n!keep.log", "a.log", false, kIgnored},
        {"!keep.log\n*.log", "keep.log", false, kIgnored},
        {"!x", "x", false, kKept},
        {"!x", "y", false, kNone},
        {"!", "x", false, kNone},
        {"build/\n!build", "build", true, kKept},
    });
}

TEST(IgnoreList, IgnoreCase) {
    ExpectVerdicts(
        {
            {"*.TXT", "a.txt", false, kIgnored},
            {"README", "readme", false, kIgnored},
            {"Doc/*.Md", "doc/x.MD", false, kIgnored},
            {"B*", "b1", false, kIgnored},
            {"**/Build/", "x/BUILD", true, kIgnored},
            {"[a-z]", "Q", false, kIgnored},
            {"[A-Z]", "q", false, kIgnored},
            {"[[:upper:]]", "q", false, kIgnored},
            {"[[:lower:]]", "Q", false, kIgnored},
            {"[a]", "A", false, kIgnored},
            // Git lowers the name's letter but not the class's own: capitals in a class match
            // nothing under core.ignoreCase. Walks leave out what git leaves out.
            {"[A]", "A", false, kNone},
            {"[!A]", "A", false, kIgnored},
        },
        true);
    ExpectVerdicts({{"*.TXT", "a.txt", false, kNone}, {"[A]", "A", false, kIgnored}});
}

TEST(IgnoreList, Empty) {
    EXPECT_TRUE(IgnoreList("# only a comment\n\n   \n", false).empty());
    EXPECT_FALSE(IgnoreList("x", false).empty());
}

// ---- Scopes on trees ------------------------------------------------------------------------

// The last part of a folder path ending in "/".
std::string FolderNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/', path.size() - 2);
    return path.substr(slash + 1, path.size() - slash - 2);
}

// Walks `path` (ending in "/") as the walker does: ignored folders are not entered, nor are
// folders whose names start with "."; the regular files left are added to `kept` under
// `relative`. `tell_rules`: tell Enter whether a folder holds ignore files.
void WalkFolder(const std::string& path, const std::string& relative,
                const std::shared_ptr<const IgnoreScope>& parent, bool tell_rules, Files& kept) {
    DIR* dir = opendir(path.c_str());
    ASSERT_NE(dir, nullptr) << path;
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    bool holds_git = false;
    bool holds_rules = !tell_rules;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat info;
        if (name == "." || name == ".." || fstatat(dirfd(dir), name.c_str(), &info, 0) != 0) {
            continue;
        }
        holds_git = holds_git || name == ".git";
        holds_rules = holds_rules || IgnoreScope::IsRulesFile(name);
        if (S_ISDIR(info.st_mode) || S_ISREG(info.st_mode)) {
            entries.emplace_back(name, S_ISDIR(info.st_mode));
        }
    }
    const auto scope = parent
                           ? parent->Enter(FolderNameOf(path), dirfd(dir), holds_git, holds_rules)
                           : IgnoreScope::ForStart(path);
    closedir(dir);
    for (const auto& [name, is_folder] : entries) {
        if (is_folder && name.front() != '.' && !scope->Ignored(name, true)) {
            WalkFolder(path + name + "/", relative + name + "/", scope, tell_rules, kept);
        } else if (!is_folder && !scope->Ignored(name, false)) {
            kept.push_back(relative + name);
        }
    }
}

Files KeptFiles(const std::string& start, bool tell_rules = false) {
    Files kept;
    WalkFolder(start.back() == '/' ? start : start + "/", "", nullptr, tell_rules, kept);
    std::sort(kept.begin(), kept.end());
    return kept;
}

class IgnoreScopeTest : public ::testing::Test {
  protected:
    // Each test has a home and config folder of its own, for the user's git config; the
    // system's is not read.
    TempDir dir;
    testing::ScopedEnv home{"HOME", dir.Path("home")};
    testing::ScopedEnv config{"XDG_CONFIG_HOME", dir.Path("config")};
    testing::ScopedEnv no_system{"GIT_CONFIG_NOSYSTEM", "1"};

    std::string Tree() const { return dir.Path("tree/"); }
    void Write(const std::string& relative, const std::string& text) const {
        dir.WriteFile("tree/" + relative, text);
    }
    void Touch(const std::vector<std::string>& files) const {
        for (const std::string& file : files) {
            Write(file, "");
        }
    }
    void MakeRepository(const std::string& relative = "") const {
        dir.MakeDir("tree/" + relative + ".git/info");
    }
};

TEST_F(IgnoreScopeTest, GitignoreCountsOnlyInsideARepository) {
    Write(".gitignore", "*.log\n");
    Write(".ignore", "*.tmp\n");
    Touch({"a.log", "a.tmp", "a.txt"});
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", ".ignore", "a.log", "a.txt"}));
    MakeRepository();
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", ".ignore", "a.txt"}));
}

TEST_F(IgnoreScopeTest, DeeperFilesWinAndIgnoreBeatsGitignore) {
    MakeRepository();
    Write(".gitignore", "*.log\n/top.txt\n");
    Write(".ignore", "*.md\n");
    Write("sub/.gitignore", "!keep.log\n*.txt\n!x.md\n");
    Write("sub/.ignore", "!b.txt\n");
    Touch({"a.log", "top.txt", "a.md", "sub/keep.log", "sub/a.log", "sub/b.txt", "sub/c.txt",
           "sub/top.txt", "sub/x.md", "sub/y.md"});
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", ".ignore", "sub/.gitignore", "sub/.ignore",
                                        "sub/b.txt", "sub/keep.log", "sub/x.md"}));
}

// Each file's patterns are anchored to its own folder, however deep.
TEST_F(IgnoreScopeTest, AnchoredPatternsHoldFromTheirOwnFolder) {
    MakeRepository();
    Write(".gitignore", "/a/x\n");
    Write("a/b/.gitignore", "/c\nd/**/e\n");
    Touch({"a/x", "b/a/x", "a/b/c", "a/b/d/c", "a/b/d/e", "a/b/d/f/e", "a/d/e"});
    EXPECT_EQ(KeptFiles(Tree()),
              (Files{".gitignore", "a/b/.gitignore", "a/b/d/c", "a/d/e", "b/a/x"}));
}

// Patterns filed by their last character still meet an entry in their order in the file.
TEST_F(IgnoreScopeTest, TheLastMatchingPatternDecides) {
    MakeRepository();
    Write(".gitignore", "!x*\n*.c\n*\n!*.c\nxx.c\n");
    Touch({"a.c", "xx.c", "xa.h"});
    EXPECT_EQ(KeptFiles(Tree()), (Files{"a.c"}));
}

TEST_F(IgnoreScopeTest, InfoExcludeAndTheExcludesFileComeLast) {
    MakeRepository();
    Write(".git/info/exclude", "*.a\n!*.b\n");
    dir.WriteFile("config/git/ignore", "*.b\n*.c\n*.d\n");
    Write(".gitignore", "!x.c\n");
    Touch({"x.a", "x.b", "x.c", "x.d", "y.c"});
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", "x.b", "x.c"}));
}

TEST_F(IgnoreScopeTest, ExcludesFileFromTheConfig) {
    MakeRepository();
    Touch({"a", "b", "c", "d"});
    dir.WriteFile("config/git/ignore", "a\n");
    dir.WriteFile("home/my ignore", "b\n");
    dir.WriteFile("home/.gitconfig", "[user]\n\tname = x\n[Core]\n\texcludesFile = ~/my ignore\n");
    EXPECT_EQ(KeptFiles(Tree()), (Files{"a", "c", "d"}));
    // The repository's config wins; a relative path is taken from its top.
    Write(".git/config", "[core] # set here\n  ExcludesFile = \"rel.ignore\" ; not \"x\"\n");
    Write("rel.ignore", "c\n");
    EXPECT_EQ(KeptFiles(Tree()), (Files{"a", "b", "d", "rel.ignore"}));
    // Set but empty: no excludes file at all, not even the default one.
    Write(".git/config", "[core]\n\texcludesfile =\n");
    EXPECT_EQ(KeptFiles(Tree()), (Files{"a", "b", "c", "d", "rel.ignore"}));
    // XDG_CONFIG_HOME unset: the default lies in ~/.config.
    Write(".git/config", "");
    dir.WriteFile("home/.gitconfig", "");
    dir.WriteFile("home/.config/git/ignore", "d\n");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(KeptFiles(Tree()), (Files{"a", "b", "c", "rel.ignore"}));
}

TEST_F(IgnoreScopeTest, IgnoreCaseFromTheConfig) {
    MakeRepository();
    Write(".gitignore", "*.LOG\nBuild/\n*.tmp\n");
    Write(".ignore", "b.TXT\n");
    Touch({"a.log", "build/x", "B.txt", "x.TMP"});
    EXPECT_EQ(KeptFiles(Tree()),
              (Files{".gitignore", ".ignore", "B.txt", "a.log", "build/x", "x.TMP"}));
    Write(".git/config", "[core]\n\tbare = false\n\tignoreCase = yes\n");
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", ".ignore"}));
    Write(".git/config", "[core]\n\tignorecase\n");  // no value: true
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", ".ignore"}));
    Write(".git/config", "");
    dir.WriteFile("home/.gitconfig", "[core]\n\tignoreCase = 1\n");
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", ".ignore"}));
    Write(".git/config", "[core]\n\tignoreCase = off\n");
    EXPECT_EQ(KeptFiles(Tree()),
              (Files{".gitignore", ".ignore", "B.txt", "a.log", "build/x", "x.TMP"}));
}

// A linked worktree: ".git" is a file naming its git folder, which names the main one in
// "commondir"; git reads info/exclude and the config from the main one only.
TEST_F(IgnoreScopeTest, GitFileAndCommonFolder) {
    dir.WriteFile("main/.git/info/exclude", "*.main\n");
    dir.WriteFile("main/.git/config", "[core]\n\tignorecase = true\n");
    dir.WriteFile("main/.git/worktrees/w/commondir", "../..\n");
    dir.WriteFile("main/.git/worktrees/w/info/exclude", "*.wt\n");
    Write(".git", "gitdir: ../main/.git/worktrees/w\n");
    Write(".gitignore", "*.GI\n");
    Touch({"x.main", "x.wt", "x.gi"});
    // Git never lists the ".git" file either.
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", "x.wt"}));
    Write(".git", "gitdir: " + dir.Path("main/.git") + "\n");  // absolute, and no commondir
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", "x.wt"}));
    // No repository at all, so no rule of git's: a walk lists the file like any other.
    Write(".git", "not a repository\n");
    EXPECT_EQ(KeptFiles(Tree()), (Files{".git", ".gitignore", "x.gi", "x.main", "x.wt"}));
}

TEST_F(IgnoreScopeTest, NestedRepositoryStartsAfresh) {
    MakeRepository();
    Write(".gitignore", "*.log\n/inner/top\n");
    Write(".ignore", "*.tmp\n");
    Write(".git/info/exclude", "*.x\n");
    MakeRepository("inner/");
    Write("inner/.git/config", "[core]\n\tignorecase = true\n");
    Write("inner/.gitignore", "*.Y\n");
    Touch({"a.log", "a.x", "inner/a.log", "inner/a.tmp", "inner/a.x", "inner/a.y", "inner/top",
           "inner/deeper/a.log", "inner/deeper/b.y"});
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", ".ignore", "inner/.gitignore", "inner/a.log",
                                        "inner/a.x", "inner/deeper/a.log", "inner/top"}));
    // Started inside it, the inner repository is the one found.
    EXPECT_EQ(KeptFiles(Tree() + "inner"),
              (Files{".gitignore", "a.log", "a.tmp", "a.x", "deeper/a.log", "top"}));
}

TEST_F(IgnoreScopeTest, AGitFileThatNamesNoRepositoryStartsNone) {
    MakeRepository();
    Write(".gitignore", "*.log\n");
    Write("inner/.git", "not a repository\n");
    Touch({"inner/a.log", "inner/b"});
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", "inner/b"}));
}

TEST_F(IgnoreScopeTest, StartBelowTheTop) {
    MakeRepository();
    Write(".gitignore", "/sub/deep/*.o\nbuild/\nsub/**/*.c\n");
    Write("sub/.gitignore", "/deep/x\n");
    Write("sub/.ignore", "!deep/keep.c\n");
    Touch({"sub/deep/a.o", "sub/deep/b.c", "sub/deep/keep.c", "sub/deep/x", "sub/deep/y",
           "sub/build/x", "sub/a.o"});
    EXPECT_EQ(KeptFiles(Tree() + "sub"),
              (Files{".gitignore", ".ignore", "a.o", "deep/keep.c", "deep/y"}));
    EXPECT_EQ(KeptFiles(Tree() + "sub/deep/"), (Files{"keep.c", "y"}));
    // Git lists nothing in a folder it ignores; the user named it, so it is searched.
    EXPECT_EQ(KeptFiles(Tree() + "sub/build"), (Files{"x"}));
}

TEST_F(IgnoreScopeTest, StartThroughALink) {
    MakeRepository();
    Write(".gitignore", "/sub/a\n");
    Touch({"sub/a", "sub/b"});
    dir.Symlink(Tree() + "sub", "link");
    EXPECT_EQ(KeptFiles(dir.Path("link")), (Files{"b"}));
}

TEST_F(IgnoreScopeTest, LinkedIgnoreFilesAreNotRead) {
    MakeRepository();
    Write("rules", "x\n");
    Touch({"x", "sub/x"});
    dir.Symlink(Tree() + "rules", "tree/.gitignore");
    dir.Symlink(Tree() + "rules", "tree/sub/.ignore");
    // The links themselves are listed as the files they lead to, as the walker lists them.
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", "rules", "sub/.ignore", "sub/x", "x"}));
}

TEST_F(IgnoreScopeTest, FoldersWithoutRulesShareTheScope) {
    MakeRepository();
    Write(".gitignore", "*.o\nbuild/\n");
    dir.MakeDir("tree/a/b");
    const auto top = IgnoreScope::ForStart(Tree());
    const int folder = open(dir.Path("tree/a").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    const auto below = top->Enter("a", folder, false);
    EXPECT_EQ(below.get(), top.get());
    Write("a/.gitignore", "/b/x\n");
    const auto with_own = top->Enter("a", folder, false);
    EXPECT_NE(with_own.get(), top.get());
    EXPECT_TRUE(with_own->Ignored("x.o", false));
    EXPECT_TRUE(with_own->Ignored("build", true));
    EXPECT_FALSE(with_own->Ignored("build", false));
    close(folder);
    const int inner = open(dir.Path("tree/a/b").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(inner, 0);
    const auto deeper = with_own->Enter("b", inner, false);
    close(inner);
    EXPECT_NE(deeper.get(), with_own.get());  // anchored patterns need the path
    EXPECT_TRUE(deeper->Ignored("x", false));
    EXPECT_FALSE(with_own->Ignored("x", false));
}

// A walk that has read a folder's names may say that none is an ignore file; Enter then looks
// for none.
TEST_F(IgnoreScopeTest, FoldersTheWalkSaysHoldNoRulesAreNotLookedIn) {
    EXPECT_TRUE(IgnoreScope::IsRulesFile(".gitignore"));
    EXPECT_TRUE(IgnoreScope::IsRulesFile(".ignore"));
    EXPECT_FALSE(IgnoreScope::IsRulesFile(".git"));
    EXPECT_FALSE(IgnoreScope::IsRulesFile("x.gitignore"));
    MakeRepository();
    Write("a/.gitignore", "x\n");
    const auto top = IgnoreScope::ForStart(Tree());
    const int folder = open(dir.Path("tree/a").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    EXPECT_TRUE(top->Enter("a", folder, false)->Ignored("x", false));
    EXPECT_FALSE(top->Enter("a", folder, false, false)->Ignored("x", false));
    close(folder);
}

TEST_F(IgnoreScopeTest, LargeIgnoreFilesAreReadUpToALimit) {
    MakeRepository();
    std::string rules = "a\n";
    const std::string comment = "# " + std::string(1000, '-') + "\n";
    while (rules.size() < (9u << 20)) {
        rules += comment;
    }
    Write(".gitignore", rules + "b\n");
    Touch({"a", "b"});
    EXPECT_EQ(KeptFiles(Tree()), (Files{".gitignore", "b"}));
}

// ---- Against git ----------------------------------------------------------------------------

// Clears the variables that would point git elsewhere than the tests' repositories and config,
// and puts them back afterwards. The system's config is left out, by git and by the scopes.
class GitEnvironment {
  public:
    GitEnvironment() {
        for (const char* name :
             {"GIT_DIR", "GIT_WORK_TREE", "GIT_INDEX_FILE", "GIT_COMMON_DIR", "GIT_CONFIG",
              "GIT_CONFIG_GLOBAL", "GIT_CONFIG_SYSTEM", "GIT_CONFIG_NOSYSTEM",
              "GIT_CONFIG_PARAMETERS", "GIT_CONFIG_COUNT", "GIT_CEILING_DIRECTORIES",
              "GIT_OBJECT_DIRECTORY", "GIT_TEMPLATE_DIR"}) {
            if (const char* value = std::getenv(name)) {
                saved_.emplace_back(name, value);
            }
            unsetenv(name);
        }
        setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
    }
    ~GitEnvironment() {
        unsetenv("GIT_CONFIG_NOSYSTEM");
        for (const auto& [name, value] : saved_) {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
    GitEnvironment(const GitEnvironment&) = delete;
    GitEnvironment& operator=(const GitEnvironment&) = delete;

  private:
    std::vector<std::pair<std::string, std::string>> saved_;
};

// Patterns of every kind not made from a tree's names, a comment and blank lines among them.
std::vector<std::string> GenericPatterns() {
    std::vector<std::string> patterns = testing::LinesOf(R"(*
*.o
*.TXT
?
??*
[a-c]*
[!a]*
[^ab]
[[:upper:]]*
*[[:digit:]]
a/**
**/b
a/**/b
**/a/**
*/
*/*
/*
!*
!*.txt
\#*
\!*
#comment
b*/
*.tar.*
doc/**/*.txt
**/build
[A-Z]*
[]a]*
x\ y
-*
*-*
ab**/c
**
/**
*/**/
sub/
/sub/*
B
[aA]
!/b
!**/a.o
*.[oc]
!B*/
[[:lower:]]
\!n.txt
\#n)");
    patterns.insert(patterns.end(), {"", "   "});
    return patterns;
}

// Makes small random repositories: folders, files and ignore files whose patterns are mostly
// made from the tree's own names so that they hit.
class RepositoryMaker {
  public:
    explicit RepositoryMaker(std::uint32_t seed) : random_(seed) {}

    struct Entry {
        std::string path;  // relative to the top
        bool is_folder;
    };

    std::size_t Pick(std::size_t count) { return random_() % count; }
    bool Chance(unsigned percent) { return Pick(100) < percent; }
    template <typename T>
    const T& OneOf(const std::vector<T>& items) {
        return items[Pick(items.size())];
    }

    // The entries of a new tree, folders before what they hold.
    std::vector<Entry> MakeTree() {
        std::vector<Entry> entries;
        AddFolder("", 0, entries);
        return entries;
    }

    // An ignore file for the folder `folder` ("" or "a/b/") of a tree with `entries`.
    std::string MakeRules(const std::string& folder, const std::vector<Entry>& entries) {
        std::vector<Entry> below;
        for (const Entry& entry : entries) {
            if (entry.path.starts_with(folder)) {
                below.push_back({entry.path.substr(folder.size()), entry.is_folder});
            }
        }
        const bool crlf = Chance(10);
        std::string text;
        for (std::size_t lines = 1 + Pick(7); lines > 0; --lines) {
            text += below.empty() || Chance(30) ? OneOf(kGeneric) : PatternFor(OneOf(below));
            text += crlf ? "\r\n" : "\n";
        }
        return text;
    }

  private:
    void AddFolder(const std::string& folder, int depth, std::vector<Entry>& entries) {
        std::set<std::string> used;
        for (std::size_t files = 1 + Pick(4); files > 0; --files) {
            std::string name = OneOf(kFileNames) + OneOf(kExtensions);
            if (used.insert(name).second) {
                entries.push_back({folder + name, false});
            }
        }
        const std::size_t folders = depth == 0 ? 2 + Pick(3) : depth < 3 ? Pick(3) : 0;
        for (std::size_t i = 0; i < folders; ++i) {
            const std::string& name = OneOf(kFolderNames);
            if (used.insert(name).second) {
                entries.push_back({folder + name, true});
                AddFolder(folder + name + "/", depth + 1, entries);
            }
        }
    }

    std::string PatternFor(const Entry& entry) {
        std::vector<std::string> parts;
        std::stringstream split(entry.path);
        for (std::string part; std::getline(split, part, '/');) {
            parts.push_back(part);
        }
        std::string pattern = Shape(parts);
        if (Chance(35)) {
            pattern = Blur(pattern);
        }
        if (Chance(10)) {
            pattern = FlipCase(pattern);
        }
        // Names starting with "#" or "!" and ending in a space need escapes.
        if (pattern.front() == '#' || pattern.front() == '!') {
            pattern.insert(0, "\\");
        }
        if (pattern.back() == ' ') {
            pattern.insert(pattern.size() - 1, "\\");
        }
        if ((entry.is_folder && Chance(40)) || Chance(5)) {
            pattern += "/";
        }
        if (Chance(25)) {
            pattern.insert(0, "!");
        }
        return Chance(10) ? pattern + "  " : pattern;
    }

    // The entry's path or a part of it, in one of the forms git gives a meaning.
    std::string Shape(const std::vector<std::string>& parts) {
        const std::string& last = parts.back();
        const std::size_t dot = last.find('.', 1);
        switch (Pick(10)) {
            case 0:
                return "/" + Join(parts, 0, parts.size());
            case 1:
                return Join(parts, 0, parts.size());
            case 2:
                return "**/" + last;
            case 3:
                return "**/" + Join(parts, parts.size() > 1 ? parts.size() - 2 : 0, parts.size());
            case 4:
                return Join(parts, 0, 1 + Pick(parts.size())) + "/**";
            case 5:
                return parts.size() > 1 ? parts.front() + "/**/" + last : "**/" + last;
            case 6:
                return dot != std::string::npos ? "*" + last.substr(dot) : last;
            case 7:  // "**" after a plain start crosses folders in git too
                return parts.size() > 1
                           ? parts.front().substr(0, 1 + Pick(parts.front().size())) + "**/" + last
                           : last;
            default:
                return last;
        }
    }

    // Puts wildcards in place of some of the pattern's characters.
    std::string Blur(std::string pattern) {
        std::vector<std::size_t> slashes;
        for (std::size_t i = 1; i < pattern.size(); ++i) {
            if (pattern[i] == '/') {
                slashes.push_back(i);
            }
        }
        // Wildcards that must not stand for a "/": "x/a/b" as "x/a?b" or "x/*b", "/a/b" as
        // "/*b" (still anchored).
        if (!slashes.empty() && (slashes.size() >= 2 || pattern.front() == '/') && Chance(50)) {
            const std::size_t at = OneOf(slashes);
            const std::size_t from = pattern.rfind('/', at - 1);
            return Chance(40) || from == std::string::npos
                       ? pattern.replace(at, 1, "?")
                       : pattern.replace(from + 1, at - from, "*");
        }
        const std::size_t at = Pick(pattern.size());
        const char c = pattern[at];
        if (c == '/' || c == '*') {
            return pattern;
        }
        switch (Pick(5)) {
            case 0:
                return pattern.replace(at, 1, "?");
            case 1:
                return pattern.replace(at, 1, std::string("[") + c + "x-z]");
            case 2:
                return pattern.replace(at, 1, std::string("[!") + c + "]");
            case 3: {
                const std::size_t end = pattern.find('/', at);
                return pattern.replace(at, end == std::string::npos ? end : end - at, "*");
            }
            default:
                return pattern.replace(at, 1, Chance(50) ? "[[:alpha:]]" : "[^[:digit:]]");
        }
    }

    std::string FlipCase(std::string pattern) {
        for (char& c : pattern) {
            if (std::isalpha(static_cast<unsigned char>(c)) != 0 && Chance(50)) {
                c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) != 0
                                          ? std::tolower(static_cast<unsigned char>(c))
                                          : std::toupper(static_cast<unsigned char>(c)));
            }
        }
        return pattern;
    }

    static std::string Join(const std::vector<std::string>& parts, std::size_t from,
                            std::size_t to) {
        std::string joined;
        for (std::size_t i = from; i < to; ++i) {
            joined += (i > from ? "/" : "") + parts[i];
        }
        return joined;
    }

    std::mt19937 random_;
    const std::vector<std::string> kFileNames = {"a",  "b",  "x",   "A",   "Readme", "#n",
                                                 "!n", "ab", "a b", "c-d", "t ",     "B1"};
    const std::vector<std::string> kExtensions = {"",     "",     ".o", ".txt",
                                                  ".log", ".TXT", ".c", ".tar.gz"};
    const std::vector<std::string> kFolderNames = {"a",   "b",   "build", "Build", "doc",
                                                   "x y", "a.d", "-c",    "sub",   "B"};
    const std::vector<std::string> kGeneric = GenericPatterns();
};

struct GitCase {
    std::string top;  // the repository, ending in "/"
    std::vector<RepositoryMaker::Entry> entries;
    std::vector<std::pair<std::string, std::string>> rules;  // ignore and config files, text
};

// Writes a repository of `maker`'s making at `top`, with its ignore files, info/exclude, the
// user's excludes file and, at times, core.ignoreCase.
GitCase MakeGitCase(RepositoryMaker& maker, const std::string& git, const std::string& top,
                    const TempDir& root) {
    GitCase c{top + "/", maker.MakeTree(), {}};
    const testing::ProgramResult init =
        testing::RunProgram(git, {"init", "-q", "--template=", top});
    EXPECT_EQ(init.exit_code, 0) << init.err;
    for (const auto& entry : c.entries) {
        if (entry.is_folder) {
            mkdir((c.top + entry.path).c_str(), 0755);
        } else {
            close(open((c.top + entry.path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        }
    }
    const auto add = [&c](const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::app) << text;
        c.rules.emplace_back(path, text);
    };
    if (maker.Chance(80)) {
        add(c.top + ".gitignore", maker.MakeRules("", c.entries));
    }
    for (const auto& entry : c.entries) {
        if (entry.is_folder && maker.Chance(35)) {
            add(c.top + entry.path + "/.gitignore", maker.MakeRules(entry.path + "/", c.entries));
        }
    }
    if (maker.Chance(40)) {
        mkdir((c.top + ".git/info").c_str(), 0755);
        add(c.top + ".git/info/exclude", maker.MakeRules("", c.entries));
    }
    if (maker.Chance(30)) {
        add(root.Path("config/git/ignore"), maker.MakeRules("", c.entries));
    }
    if (maker.Chance(15)) {
        add(root.Path("home/.gitconfig"), "[core]\n\texcludesFile = ~/excludes\n");
        add(root.Path("home/excludes"), maker.MakeRules("", c.entries));
    }
    if (maker.Chance(25)) {
        add(c.top + ".git/config", "[core]\n\tignorecase = true\n");  // after git's own
    }
    return c;
}

std::string Escaped(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        shown += c == '\r' ? "\\r" : c == '\n' ? "\\n\n    " : std::string(1, c);
    }
    return shown;
}

std::set<std::string> GitListing(const std::string& git, const std::string& folder) {
    const testing::ProgramResult listed = testing::RunProgram(
        git, {"-C", folder, "ls-files", "--others", "--exclude-standard", "-z"});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    std::set<std::string> files;
    std::stringstream split(listed.out);
    for (std::string file; std::getline(split, file, '\0');) {
        files.insert(file);
    }
    return files;
}

// Whether our walk from `start` keeps what git lists there; where not, says how.
bool SameAsGit(const GitCase& c, const std::set<std::string>& git_files, const std::string& start,
               bool tell_rules, std::string& report) {
    const Files kept = KeptFiles(start, tell_rules);
    const std::set<std::string> ours(kept.begin(), kept.end());
    if (ours == git_files) {
        return true;
    }
    std::ostringstream out;
    out << "walk from " << start << (tell_rules ? " (told of ignore files)" : "")
        << " differs from git\n";
    for (const auto& [path, text] : c.rules) {
        out << "  " << path << ":\n    " << Escaped(text) << "\n";
    }
    for (const std::string& file : git_files) {
        if (ours.count(file) == 0) {
            out << "  git lists, we leave out: '" << file << "'\n";
        }
    }
    for (const std::string& file : ours) {
        if (git_files.count(file) == 0) {
            out << "  we list, git leaves out: '" << file << "'\n";
        }
    }
    report = out.str();
    return false;
}

// A folder with files git lists, so one it does not ignore: a start to compare from.
std::optional<std::string> ListedFolder(RepositoryMaker& maker, const GitCase& c,
                                        const std::set<std::string>& listed) {
    std::vector<std::string> folders;
    for (const auto& entry : c.entries) {
        const std::string prefix = entry.path + "/";
        if (entry.is_folder && std::any_of(listed.begin(), listed.end(), [&](const auto& file) {
                return file.starts_with(prefix);
            })) {
            folders.push_back(prefix);
        }
    }
    if (folders.empty()) {
        return std::nullopt;
    }
    return maker.OneOf(folders);
}

TEST(IgnoreScopeAgainstGit, GeneratedRepositories) {
    const std::string git = testing::FindProgram("git");
    if (git.empty()) {
        GTEST_SKIP() << "git is not installed";
    }
    const GitEnvironment clean;
    const TempDir root;
    const testing::ScopedEnv home("HOME", root.Path("home"));
    const testing::ScopedEnv config("XDG_CONFIG_HOME", root.Path("config"));
    root.MakeDir("home");
    root.MakeDir("config/git");
    RepositoryMaker maker(20240611);
    int failures = 0;
    std::size_t files = 0;
    std::size_t left_out = 0;
    std::size_t from_folders = 0;
    for (int number = 0; number < 240 && failures < 3; ++number) {
        for (const char* user_file : {"config/git/ignore", "home/.gitconfig", "home/excludes"}) {
            unlink(root.Path(user_file).c_str());
        }
        const GitCase c = MakeGitCase(maker, git, root.Path("r" + std::to_string(number)), root);
        const std::set<std::string> listed = GitListing(git, c.top);
        std::string report;
        const bool tell_rules = number % 2 == 1;
        if (!SameAsGit(c, listed, c.top, tell_rules, report)) {
            ADD_FAILURE() << report;
            ++failures;
            continue;
        }
        for (const auto& entry : c.entries) {
            files += entry.is_folder ? 0 : 1;
        }
        left_out += static_cast<std::size_t>(std::count_if(
            c.entries.begin(), c.entries.end(),
            [&](const auto& entry) { return !entry.is_folder && listed.count(entry.path) == 0; }));
        const std::optional<std::string> folder = ListedFolder(maker, c, listed);
        if (folder && maker.Chance(50)) {
            ++from_folders;
            if (!SameAsGit(c, GitListing(git, c.top + *folder), c.top + *folder, tell_rules,
                           report)) {
                ADD_FAILURE() << report;
                ++failures;
            }
        }
    }
    // Not a comparison of trivia: many files are left out, many kept, some runs start below
    // the top.
    EXPECT_GT(left_out, files / 5);
    EXPECT_LT(left_out, files * 4 / 5);
    EXPECT_GT(from_folders, 40u);
}

}  // namespace
}  // namespace ferret
