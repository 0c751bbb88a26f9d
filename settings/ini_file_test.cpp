#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using namespace std::string_literals;

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

class IniFileTest : public ::testing::Test {
  protected:
    IniFile At(const std::string& section, const std::string& key,
               const std::string& file = "a.ini") const {
        IniFile ini;
        ini.SetPath(dir_.Path(file));
        ini.SetSection(section);
        ini.SetKey(key);
        return ini;
    }

    testing::TempDir dir_;
};

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault) {
    IniFile ini = At("s", "k");
    ini.SetDefault("fallback");
    EXPECT_EQ(ini.Value(), "fallback") << "no file";
    dir_.WriteFile("a.ini", "[other]\nk=1\n[s]\nj=2\n");
    EXPECT_EQ(ini.Value(), "fallback") << "key only in another section, or another key";
    ini.SetSection("missing");
    EXPECT_EQ(ini.Value(), "fallback");
    EXPECT_TRUE(ini.Sections().find("missing") == std::string::npos) << "reading creates nothing";
}

TEST_F(IniFileTest, WritesCrlfAndMatchesNamesIgnoringCase) {
    IniFile writer = At("Search Criteria", "Search");
    writer.SetValue("needle");
    EXPECT_EQ(writer.LastReturnCode(), 1);
    EXPECT_TRUE(writer.LastStatus().ok());
    EXPECT_EQ(dir_.ReadFile("a.ini"), "[Search Criteria]\r\nSearch=needle\r\n");

    for (const char* section : {"search criteria", "SEARCH CRITERIA", "  Search Criteria "}) {
        SCOPED_TRACE(section);
        EXPECT_EQ(At(section, "sEaRcH").Value(), "needle");
    }
    IniFile unicode = At("Größe", "Ärger");
    unicode.SetValue("1");
    EXPECT_EQ(At("GRÖßE", "äRGER").Value(), "1");
    IniFile again = At("SEARCH criteria", "SEARCH");
    again.SetValue("other");
    EXPECT_EQ(dir_.ReadFile("a.ini"), "[Search Criteria]\r\nSearch=other\r\n[Größe]\r\nÄrger=1\r\n")
        << "the stored spelling is kept";
}

TEST_F(IniFileTest, ReadingRules) {
    const struct {
        const char* line;
        const char* value;  // nullptr: not found
    } cases[] = {{"k=v", "v"},
                 {"  k  =  v  ", "v"},
                 {"k=\t v w \t", "v w"},
                 {"k=\"v\"", "v"},
                 {"k='v'", "v"},
                 {"k=  \" v \"  ", " v "},
                 {"k=\"\"v\"\"", "\"v\""},
                 {"k=\"v'", "\"v'"},
                 {"k=\"", "\""},
                 {"k=a=b", "a=b"},
                 {"k=", ""},
                 {"K=upper", "upper"},
                 {"k=first\nk=second", "first"},
                 {"; k=comment", nullptr},
                 {"  ;k=comment", nullptr},
                 {"k", nullptr},
                 {"=v", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        dir_.WriteFile("a.ini", "[s]\n"s + c.line + "\n");
        IniFile ini = At("s", "k");
        ini.SetDefault("<none>");
        EXPECT_EQ(ini.Value(), c.value != nullptr ? c.value : "<none>");
    }
}

TEST_F(IniFileTest, LineEndsByteOrderMarkAndWindows1252) {
    const struct {
        const char* name;
        std::string bytes;
        const char* k;
    } cases[] = {{"LF", "[s]\nk=v\nk2=w\n", "v"},
                 {"CRLF", "[s]\r\nk=v\r\nk2=w\r\n", "v"},
                 {"mixed, no final line end", "[s]\r\nk=v\nk2=w", "v"},
                 {"BOM", "\xEF\xBB\xBF[s]\r\nk=v\r\nk2=w\r\n", "v"},
                 {"UTF-8", "[s]\nk=café €\nk2=w\n", "café €"},
                 {"Windows-1252", "[s]\nk=caf\xE9 \x80\x9F\nk2=w\n", "café €Ÿ"},
                 {"Windows-1252 with BOM", "\xEF\xBB\xBF[s]\nk=\xE9\nk2=w\n", "é"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir_.WriteFile("a.ini", c.bytes);
        EXPECT_EQ(At("s", "k").Value(), c.k);
        EXPECT_EQ(At("s", "k2").Value(), "w");
        std::string text;
        ASSERT_TRUE(ReadProfileText(dir_.Path("a.ini"), text).ok());
        EXPECT_EQ(text.substr(0, 3), "[s]");
    }
    dir_.WriteFile("a.ini", "[s]\nk=caf\xE9\n");
    At("s", "k2").SetValue("x");
    EXPECT_EQ(dir_.ReadFile("a.ini"), "[s]\r\nk=café\r\nk2=x\r\n") << "rewritten as UTF-8";
    dir_.WriteFile("a.ini", "\xEF\xBB\xBF[s]\nk=v\n");
    At("s", "k").SetValue("w");
    EXPECT_EQ(dir_.ReadFile("a.ini"), "\xEF\xBB\xBF[s]\r\nk=w\r\n") << "the mark is kept";
}

TEST_F(IniFileTest, RewriteKeepsEveryOtherLine) {
    dir_.WriteFile("a.ini",
                   "; header comment\n"
                   "orphan=1\n"
                   "[One]\n"
                   "  Alpha = 1 \n"
                   "no equals sign\n"
                   "; comment in One\n"
                   "\n"
                   "[Two]\n"
                   "beta=2\n");
    At("one", "alpha").SetValue("new");
    At("ONE", "gamma").SetValue("3");
    At("Three", "delta").SetValue("4");
    EXPECT_EQ(dir_.ReadFile("a.ini"),
              "; header comment\r\n"
              "orphan=1\r\n"
              "[One]\r\n"
              "Alpha=new\r\n"
              "no equals sign\r\n"
              "; comment in One\r\n"
              "gamma=3\r\n"
              "\r\n"
              "[Two]\r\n"
              "beta=2\r\n"
              "[Three]\r\n"
              "delta=4\r\n");
}

TEST_F(IniFileTest, ValuesRoundTripExactly) {
    const std::string long_value(300, 'x');
    const struct {
        std::string value;
        std::string line;  // as written
    } cases[] = {{"plain", "k=plain"},
                 {"", "k="},
                 {long_value, "k=" + long_value},
                 {" lead", "k=\" lead\""},
                 {"trail\t", "k=\"trail\t\""},
                 {"  both  ", "k=\"  both  \""},
                 {"\"quoted\"", "k=\"\"quoted\"\""},
                 {"'single'", "k=\"'single'\""},
                 {"\"", "k=\""},
                 {"\"mixed'", "k=\"mixed'"},
                 {"a \"b\" c", "k=a \"b\" c"},
                 {"= ; [x]", "k== ; [x]"},
                 {"ünïcödé", "k=ünïcödé"},
                 {"a\0b"s, "k=ab"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        IniFile ini = At("s", "k");
        ini.SetValue(c.value);
        ASSERT_TRUE(ini.Success());
        EXPECT_EQ(dir_.ReadFile("a.ini"), "[s]\r\n" + c.line + "\r\n");
        std::string expected = c.value;
        std::erase(expected, '\0');
        EXPECT_EQ(ini.Value(), expected);
    }
}

TEST_F(IniFileTest, RefusesWhatALineCannotHold) {
    const struct {
        const char* section;
        const char* key;
        std::string value;
    } cases[] = {{"s", "k", "a\nb"}, {"s", "k", "a\r\nb"}, {"s", "k", "\r"}, {"", "k", "v"},
                 {"a]b", "k", "v"},  {"s\n", "k", "v"},    {"s", "", "v"},   {"s", "a=b", "v"},
                 {"s", ";c", "v"},   {"s", "[d", "v"},     {"s", "k\r", "v"}};
    const std::string before = "[s]\nk=old\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + "/" + c.value);
        dir_.WriteFile("a.ini", before);
        IniFile ini = At(c.section, c.key);
        ini.SetValue(c.value);
        EXPECT_EQ(ini.LastReturnCode(), 0);
        EXPECT_EQ(ini.LastStatus().number(), EINVAL);
        EXPECT_NE(ini.LastStatus().description().find(dir_.Path("a.ini")), std::string::npos);
        EXPECT_EQ(dir_.ReadFile("a.ini"), before) << "not even rewritten";

        ini.SetPath(dir_.Path("new.ini"));
        ini.SetValue(c.value);
        EXPECT_EQ(ini.LastReturnCode(), 0);
        EXPECT_FALSE(Exists(dir_.Path("new.ini")));
    }
}

TEST_F(IniFileTest, EnumerationsListNamesOnceInFileOrder) {
    IniFile ini = At("one", "");
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(ini.EnumerateAllSections(names), 0) << "no file";
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(ini.Sections(), "");

    dir_.WriteFile("a.ini",
                   "top=0\n[One]\nb=1\n;c=x\na=2\nB=3\n[Two]\nz=4\n[ ]\ne=5\n[one]\nc=6\na=7\n"
                   "[Empty]\n");
    EXPECT_EQ(ini.EnumerateAllSections(names), 3);
    EXPECT_EQ(names, (std::vector<std::string>{"One", "Two", "Empty"}));
    EXPECT_EQ(ini.Sections(), "One\0Two\0Empty"s);
    EXPECT_EQ(ini.EnumerateCurrentSection(names), 3);
    EXPECT_EQ(names, (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(ini.INISection(), "b\0a\0c"s);
    ini.SetKey("c");
    EXPECT_EQ(ini.Value(), "6") << "a repeated section is one section";
    ini.SetKey("A");
    EXPECT_EQ(ini.Value(), "2") << "the first key wins";
    ini.SetKey("e");
    EXPECT_EQ(ini.Value(), "") << "an empty section name closes the section before it";
    ini.SetSection("Empty");
    EXPECT_EQ(ini.EnumerateCurrentSection(names), 0);
    EXPECT_EQ(ini.INISection(), "");
}

TEST_F(IniFileTest, DeleteKeyAndDeleteSection) {
    const std::string text = "[One]\na=1\nb=2\nA=3\n[Two]\n; two's\nc=4\n[one]\na=5\nd=6\n";
    dir_.WriteFile("a.ini", text);
    IniFile ini = At("ONE", "a");
    ini.DeleteKey();
    EXPECT_EQ(ini.LastReturnCode(), 1);
    EXPECT_EQ(dir_.ReadFile("a.ini"),
              "[One]\r\nb=2\r\n[Two]\r\n; two's\r\nc=4\r\n[one]\r\nd=6\r\n");
    ini.SetKey("missing");
    ini.DeleteKey();
    EXPECT_EQ(ini.LastReturnCode(), 1);

    dir_.WriteFile("a.ini", text);
    ini.DeleteSection();
    EXPECT_EQ(ini.LastReturnCode(), 1);
    EXPECT_EQ(dir_.ReadFile("a.ini"), "[Two]\r\n; two's\r\nc=4\r\n");
    ini.SetSection("two");
    ini.SetINISection("ignored");
    EXPECT_EQ(ini.LastReturnCode(), 1);
    EXPECT_EQ(dir_.ReadFile("a.ini"), "");

    IniFile absent = At("s", "k", "absent.ini");
    absent.DeleteKey();
    EXPECT_EQ(absent.LastReturnCode(), 1);
    absent.DeleteSection();
    EXPECT_EQ(absent.LastReturnCode(), 1);
    EXPECT_FALSE(Exists(dir_.Path("absent.ini"))) << "deleting creates nothing";
}

TEST_F(IniFileTest, FilesThatCannotBeReadAreNeverWritten) {
    dir_.MakeDir("folder.ini");
    dir_.MakeFifo("fifo.ini");
    for (const char* name : {"folder.ini", "fifo.ini"}) {
        SCOPED_TRACE(name);
        IniFile ini = At("s", "k", name);
        ini.SetDefault("d");
        EXPECT_EQ(ini.Value(), "d");
        std::vector<std::string> names;
        EXPECT_EQ(ini.EnumerateAllSections(names), 0);
        ini.SetValue("v");
        EXPECT_EQ(ini.LastReturnCode(), 0);
        ini.DeleteSection();
        EXPECT_EQ(ini.LastReturnCode(), 0);
        std::string text;
        EXPECT_FALSE(ReadProfileText(dir_.Path(name), text).ok());
    }
    std::string text;
    EXPECT_EQ(ReadProfileText(dir_.Path("none.ini"), text).number(), ENOENT);
    EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"fifo.ini", "folder.ini"}));
}

TEST_F(IniFileTest, FailedWriteLeavesNoTemporaryFile) {
    dir_.WriteFile("plain", "x");
    IniFile ini = At("s", "k", "plain/a.ini");
    ini.SetValue("v");
    EXPECT_EQ(ini.LastReturnCode(), 0);
    EXPECT_EQ(ini.LastStatus().number(), ENOTDIR);
    EXPECT_NE(ini.LastStatus().description().find(dir_.Path("plain/a.ini")), std::string::npos);

    dir_.MakeDir("folder");
    const Status status = WriteFileAtomically(dir_.Path("folder"), "x");
    EXPECT_EQ(status.number(), EISDIR);
    EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"folder", "plain"}));
}

// A file size limit makes the write itself fail, even for root.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, old_handler_);
    }

  private:
    rlimit saved_{};
    void (*old_handler_)(int) = nullptr;
};

TEST_F(IniFileTest, FailedWriteKeepsTheOldFile) {
    dir_.WriteFile("a.ini", "[s]\nk=old\n");
    IniFile ini = At("s", "k");
    {
        FileSizeLimit limit(64);
        ini.SetValue(std::string(1000, 'n'));
    }
    EXPECT_EQ(ini.LastReturnCode(), 0);
    EXPECT_EQ(ini.LastStatus().number(), EFBIG);
    EXPECT_EQ(dir_.ReadFile("a.ini"), "[s]\nk=old\n");
    EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"a.ini"}));
}

TEST_F(IniFileTest, AtomicWriteKeepsModeAndLinks) {
    dir_.WriteFile("kept", "old");
    ASSERT_EQ(chmod(dir_.Path("kept").c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(dir_.Path("kept"), "new").ok());
    struct stat info {};
    ASSERT_EQ(stat(dir_.Path("kept").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(dir_.ReadFile("kept"), "new");

    const mode_t saved = umask(022);
    ASSERT_TRUE(WriteFileAtomically(dir_.Path("fresh"), "").ok());
    umask(saved);
    ASSERT_EQ(stat(dir_.Path("fresh").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(info.st_size, 0);

    dir_.Symlink(dir_.Path("kept"), "link");
    ASSERT_TRUE(WriteFileAtomically(dir_.Path("link"), "through").ok());
    ASSERT_EQ(lstat(dir_.Path("link").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(dir_.ReadFile("kept"), "through");
    EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"fresh", "kept", "link"}));
}

TEST_F(IniFileTest, AtomicWriteNeverLandsWhereAnotherUserLeadsOrInTheirFile) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give files and links to another user";
    }
    dir_.MakeDir("private");
    ASSERT_EQ(chmod(dir_.Path("private").c_str(), 0700), 0);
    dir_.WriteFile("private/a.ini", "[s]\r\nk=ours\r\n");
    dir_.MakeDir("shared");
    ASSERT_EQ(chmod(dir_.Path("shared").c_str(), 01777), 0);
    dir_.Symlink(dir_.Path("private"), "shared/settings");
    ASSERT_EQ(lchown(dir_.Path("shared/settings").c_str(), 65534, 65534), 0);
    IniFile ini = At("s", "k", "shared/settings/a.ini");
    ini.SetValue("theirs");
    EXPECT_EQ(ini.LastReturnCode(), 0);
    EXPECT_EQ(ini.LastStatus().number(), EPERM);
    EXPECT_EQ(dir_.ReadFile("private/a.ini"), "[s]\r\nk=ours\r\n");
    EXPECT_EQ(dir_.Names("private"), (std::vector<std::string>{"a.ini"}));

    dir_.WriteFile("shared/b.ini", "[s]\r\nk=theirs\r\n");
    ASSERT_EQ(lchown(dir_.Path("shared/b.ini").c_str(), 65534, 65534), 0);
    EXPECT_EQ(WriteFileAtomically(dir_.Path("shared/b.ini"), "ours").number(), EPERM);
    EXPECT_EQ(dir_.ReadFile("shared/b.ini"), "[s]\r\nk=theirs\r\n");
    EXPECT_EQ(dir_.Names("shared"), (std::vector<std::string>{"b.ini", "settings"}));

    // In a folder only its owner may write, their file is rewritten and stays theirs, as before.
    dir_.WriteFile("c.ini", "old");
    ASSERT_EQ(lchown(dir_.Path("c.ini").c_str(), 65534, 65534), 0);
    ASSERT_TRUE(WriteFileAtomically(dir_.Path("c.ini"), "new").ok());
    struct stat info {};
    ASSERT_EQ(lstat(dir_.Path("c.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(dir_.ReadFile("c.ini"), "new");
}

TEST(CLngDefaultTest, WholeNumbersOrTheFallback) {
    const struct {
        const char* text;
        std::int32_t expected;
    } numbers[] = {{"0", 0},
                   {" 42 ", 42},
                   {"-7", -7},
                   {"+7", 7},
                   {"007", 7},
                   {"2147483647", 2147483647},
                   {"-2147483648", -2147483647 - 1}};
    for (const auto& c : numbers) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IniFile::CLngDefault(c.text, -99), c.expected);
    }
    for (const char* text : {"2147483648", "-2147483649", "99999999999999999999", "", " ", "-",
                             "1.5", "1,000", "abc", "12abc", "0x10", "- 1", "True"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(IniFile::CLngDefault(text, -99), -99);
    }
}

}  // namespace
}  // namespace ferret
