#include "engine/content_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/regex.h"
#include "testsupport/temp_dir.h"
#include "testsupport/unprivileged.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::TempDir;

std::int32_t Plain(const TempDir& dir, const std::string& name, const std::string& text,
                   bool ignore_case = false) {
    const std::atomic<bool> stop{false};
    return SearchFileText(dir.Path(name), PlainMatcher(text, ignore_case), stop);
}

std::int32_t Pattern(const TempDir& dir, const std::string& name, const std::string& pattern,
                     const PatternShortcut* shortcut = nullptr) {
    RegExp regex;
    EXPECT_TRUE(regex.Compile(pattern, false).ok());
    return SearchFilePattern(dir.Path(name), regex, shortcut);
}

TEST(ContentSearch, EscapeWordsAndPatternEscaping) {
    EXPECT_EQ(ConvertSpecialChars("a^^Tabb^^CrLfc^^Blankd"), "a\tb\r\ncd");
    EXPECT_EQ(ConvertSpecialChars("^^tab stays"), "^^tab stays");  // case-sensitive
    EXPECT_EQ(ConvertSpecialChars("^^^^Tab"), "^^\t");
    // Escape words first, then the quoting: the tab they stand for is a tab, not "\t".
    EXPECT_EQ(SearchPattern("a?^^Tab$", false), "a\\?\t\\$");
    EXPECT_EQ(SearchPattern("a?^^Tab$", true), "a?\t$");
}

TEST(ContentSearch, HitsAcrossBlockSeamsCountOnce) {
    TempDir dir;
    // Hits straddling 4 KiB, 64 KiB and the reader's own 256 KiB blocks, and one at the end.
    std::string text(600 * 1024, '.');
    for (const std::size_t seam : {4096u, 65536u, 262144u, 524288u}) {
        text.replace(seam - 3, 6, "needle");
    }
    text.replace(text.size() - 6, 6, "needle");
    dir.WriteFile("big.txt", text);
    EXPECT_EQ(Plain(dir, "big.txt", "needle"), 5);
    EXPECT_EQ(Plain(dir, "big.txt", "NEEDLE", true), 5);
    EXPECT_EQ(Pattern(dir, "big.txt", "ne+dle"), 5);
}

TEST(ContentSearch, StopDuringAScanGivesZero) {
    TempDir dir;
    dir.WriteSizedFile("zeros.bin", 64 << 20);
    const std::atomic<bool> stop{true};
    EXPECT_EQ(
        SearchFileText(dir.Path("zeros.bin"), PlainMatcher(std::string(1, '\0'), false), stop), 0);
}

TEST(ContentSearch, FilesThatCannotBeReadGiveMinusOne) {
    TempDir dir;
    dir.MakeFifo("pipe");  // must not block
    dir.MakeDir("folder");
    const std::atomic<bool> stop{false};
    const PlainMatcher matcher("x", false);
    EXPECT_EQ(SearchFileText(dir.Path("missing"), matcher, stop), kNotSearched);
    EXPECT_EQ(SearchFileText(dir.Path("pipe"), matcher, stop), kNotSearched);
    EXPECT_EQ(SearchFileText(dir.Path("folder"), matcher, stop), kNotSearched);
    EXPECT_EQ(Pattern(dir, "pipe", "x"), kNotSearched);

    chmod(dir.path().c_str(), 0755);
    dir.WriteFile("secret.txt", "x");
    chmod(dir.Path("secret.txt").c_str(), 0);
    EXPECT_EQ(testing::RunUnprivileged([&] {
                  return SearchFileText(dir.Path("secret.txt"), matcher, stop) == kNotSearched;
              }),
              0);
}

TEST(ContentSearch, ShortcutsGiveTheSameCountsAsAFullMatch) {
    const struct {
        const char* pattern;
        const char* literal;
        const char* text;
    } cases[] = {
        {"[A-Z_]+_MAX\\b", "_MAX", "#define PATH_MAX 4096\n#define NAME_MAX 255\nX_MAXY\n"},
        {"[A-Z_]+_MAX\\b", "_MAX", "no such thing\n"},
        {"^ab", "ab", "ab\nab\n"},  // "^" only at the very start
        {"ab$", "ab", "ab\nab"},    // "$" only at the very end
        {"ab$", "ab", "ab\nab\n"},
        {"\\bword\\b", "word", "word\nsword\nword words word"},
        {"x\\d+y", "y", "x1y x22y\nx3y\n\nxy"},
        {"a.c", "c", "abc\na\nc\nac\n"},  // "." never takes the line feed
        {"a[ -~]c", "c", "a c\na\nc"},
    };
    for (const auto& c : cases) {
        RegExp regex;
        ASSERT_TRUE(regex.Compile(c.pattern, false).ok()) << c.pattern;
        std::int64_t full = 0;
        ASSERT_TRUE(regex.Count(c.text, full).ok());
        for (const bool within_lines : {false, true}) {
            const PatternShortcut shortcut{PlainMatcher(c.literal, false), within_lines};
            std::int64_t fast = -1;
            ASSERT_TRUE(CountPattern(c.text, regex, &shortcut, fast).ok());
            EXPECT_EQ(fast, full) << c.pattern << " within lines " << within_lines;
        }
    }
}

// A pattern that stays within lines reads a file a block of lines at a time; the counts are
// those of the whole text, however the blocks fall: "^" and "$" only at the file's ends, lines
// longer than a block, a UTF-8 mark, and UTF-16 (searched whole).
TEST(ContentSearch, PatternsByBlocksOfLinesCountAsTheWholeFile) {
    TempDir dir;
    std::string text = "ab start\n";
    for (int i = 0; i < 20000; ++i) {
        text += "ab line " + std::to_string(i) + " ab\n";
    }
    text += std::string(200000, 'x') + " ab " + std::string(100000, 'y') + "\n";  // one long line
    text += "last ab";
    const struct {
        const char* pattern;
        const char* literal;
    } cases[] = {{"^ab", "ab"}, {"ab$", "ab"}, {"\\bab\\b", "ab"}, {"x ab y", "ab"}};
    for (const std::string& file : {text, "\xEF\xBB\xBF" + text}) {
        dir.WriteFile("big.txt", file);
        for (const auto& c : cases) {
            RegExp regex;
            ASSERT_TRUE(regex.Compile(c.pattern, false).ok());
            std::int64_t full = 0;
            ASSERT_TRUE(regex.Count(text, full).ok());
            const PatternShortcut shortcut{PlainMatcher(c.literal, false), true};
            EXPECT_EQ(Pattern(dir, "big.txt", c.pattern, &shortcut), full)
                << c.pattern << (file.size() > text.size() ? " with a UTF-8 mark" : "");
        }
    }
    std::string utf16 = "\xFF\xFE";
    for (const char c : std::string("ab\nab\n")) {
        utf16 += c;
        utf16 += '\0';
    }
    dir.WriteFile("wide.txt", utf16);
    const PatternShortcut shortcut{PlainMatcher("ab", false), true};
    EXPECT_EQ(Pattern(dir, "wide.txt", "^ab", &shortcut), 1);
    EXPECT_EQ(Pattern(dir, "wide.txt", "ab", &shortcut), 2);
}

// A file the walk saw as a regular file is opened by name in its open folder without a look at
// its details; whatever was put in its place since must not be searched or hang the run.
TEST(ContentSearch, AWalkedFileIsOpenedInItsFolderAndNothingPutInItsPlaceIsSearched) {
    TempDir dir;
    dir.WriteFile("hits.txt", "abcabc");
    dir.WriteFile("empty.txt", "");
    dir.WriteFile("elsewhere.txt", "abc");
    ASSERT_EQ(symlink(dir.Path("elsewhere.txt").c_str(), dir.Path("link.txt").c_str()), 0);
    dir.MakeFifo("pipe.txt");
    dir.MakeDir("folder.txt");
    const Fd folder(open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_GE(folder.get(), 0);
    const std::atomic<bool> stop{false};
    const PlainMatcher matcher("abc", false);
    const auto walked = [&](const std::string& name) {
        return SearchFileText(folder.get(), name, matcher, stop, {}, true);
    };
    EXPECT_EQ(walked("hits.txt"), 2);
    EXPECT_EQ(walked("empty.txt"), 0);
    EXPECT_EQ(walked("link.txt"), kNotSearched);
    EXPECT_EQ(walked("pipe.txt"), kNotSearched);
    EXPECT_EQ(walked("folder.txt"), kNotSearched);
    EXPECT_EQ(walked("missing.txt"), kNotSearched);
    // Without the walk's word a link is followed, as the walk lists links to files.
    EXPECT_EQ(SearchFileText(folder.get(), "link.txt", matcher, stop), 1);
    RegExp regex;
    ASSERT_TRUE(regex.Compile("a.c", false).ok());
    EXPECT_EQ(SearchFilePattern(folder.get(), "hits.txt", regex), 2);
}

}  // namespace
}  // namespace ferret
