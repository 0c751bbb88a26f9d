#include "engine/text_blocks.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <random>

#include "engine/regex.h"
#include "testsupport/temp_dir.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::TempDir;

// What a walk of a file a window at a time found: the matches' places in the whole text, the
// text handed on, and the text with the matches replaced.
struct Walked {
    std::vector<RegexMatch> matches;
    std::string passed;
    std::string replaced;
    std::int64_t count = 0;
};

// The texts hold bytes that are not UTF-8: they are walked as they are.
const EncodingChoice kAsBytes = EncodingChoice::Exactly("");

Walked Walk(const std::string& path, const RegExp& pattern, std::string_view replacement,
            std::size_t block) {
    Walked walked;
    const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    {
        TextBlocks blocks(fd.get(), kAsBytes, block);
        EXPECT_TRUE(blocks.Next(0) || !blocks.failed());
        const Status status = ForEachWindow(
            blocks, pattern.LookBehind(), 1 << 20,
            [&](std::string_view window, std::size_t from, bool starts_text, bool at_end,
                std::size_t& resume) {
                const std::uint64_t base = blocks.offset();
                return pattern.MatchWindow(
                    window, from, starts_text, at_end,
                    [&](const RegexMatch& match) {
                        walked.matches.push_back({base + match.first_index, match.length});
                        return true;
                    },
                    resume);
            },
            [&](std::string_view text) { walked.passed.append(text); });
        EXPECT_TRUE(status.ok()) << status.description();
    }
    const Fd again(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    TextBlocks blocks(again.get(), kAsBytes, block);
    EXPECT_TRUE(blocks.Next(0) || !blocks.failed());
    const RegExp::Replacement with(pattern, replacement);
    const Status status =
        ForEachWindow(blocks, pattern.LookBehind(), 1 << 20,
                      [&](std::string_view window, std::size_t from, bool starts_text, bool at_end,
                          std::size_t& resume) {
                          return pattern.ReplaceWindow(window, from, starts_text, at_end, with,
                                                       walked.replaced, walked.count, resume);
                      });
    EXPECT_TRUE(status.ok()) << status.description();
    return walked;
}

// A file matched a window at a time, the windows cut anywhere (inside characters, matches, line
// ends and lookbehinds), gives the matches and the replaced text of the whole text, with the
// JIT and with the interpreter.
TEST(TextBlocks, WindowsGiveTheMatchesOfTheWholeText) {
    const std::vector<std::string> patterns = {
        "ab+",           "a[\\s\\S]*?b", "(?<=a)b+", "\\bab\\b",   "^a",      "b$",
        "(a|ab)(c|bcd)", "x*",           "\\n\\n",   "é+",         "[^a]+",   ".b",
        "(a)\\1",        "(?=ab)a",      "a{2,5}",   "\\s+$",      "(?<!b)a", "[ab]{3}",
        "\\Aa",          "b\\z",         "É",        "(?<=é\\n)x", "|a"};
    const std::vector<std::string> pieces = {"a",    "b", "ab", "\n", "\r", "é",
                                             "\xff", " ", "x",  "c",  "d"};
    std::mt19937 random(11);
    const TempDir dir;
    for (const std::string& source : patterns) {
        for (const RegExp::Jit jit : {RegExp::Jit::kWhenAvailable, RegExp::Jit::kOff}) {
            RegExp pattern;
            ASSERT_TRUE(pattern.Compile(source, random() % 2 == 0, jit).ok()) << source;
            for (int round = 0; round < 20; ++round) {
                std::string text;
                const int length = static_cast<int>(random() % 400);
                for (int i = 0; i < length; ++i) {
                    text += pieces[random() % pieces.size()];
                }
                dir.WriteFile("t.txt", text);
                std::vector<RegexMatch> whole;
                ASSERT_TRUE(pattern.Execute(text, whole).ok());
                std::string replaced;
                std::int64_t count = 0;
                ASSERT_TRUE(pattern.Replace(text, "<$&$1>", true, replaced, count).ok());
                const std::size_t block = 1 + random() % 40;
                const Walked walked = Walk(dir.Path("t.txt"), pattern, "<$&$1>", block);
                ASSERT_EQ(walked.matches.size(), whole.size())
                    << source << " round " << round << " block " << block;
                for (std::size_t i = 0; i < whole.size(); ++i) {
                    ASSERT_EQ(walked.matches[i].first_index, whole[i].first_index)
                        << source << " round " << round << " match " << i;
                    ASSERT_EQ(walked.matches[i].length, whole[i].length)
                        << source << " round " << round << " match " << i;
                }
                ASSERT_EQ(walked.passed, text) << source;
                ASSERT_EQ(walked.replaced, replaced) << source << " round " << round;
                ASSERT_EQ(walked.count, count) << source;
            }
        }
    }
}

// A match still going on past the longest one looked for ends the walk with an error, not a
// file held whole.
TEST(TextBlocks, AMatchPastTheLongestIsTold) {
    const TempDir dir;
    dir.WriteFile("long.txt", "a" + std::string(5000, 'x') + "b");
    RegExp pattern;
    ASSERT_TRUE(pattern.Compile("a[\\s\\S]*b", false).ok());
    const Fd fd(open(dir.Path("long.txt").c_str(), O_RDONLY | O_CLOEXEC));
    TextBlocks blocks(fd.get(), kFoundEncodings, 100);
    ASSERT_TRUE(blocks.Next(0));
    std::size_t most = 0;
    const Status status = ForEachWindow(blocks, pattern.LookBehind(), 1000,
                                        [&](std::string_view window, std::size_t from,
                                            bool starts_text, bool at_end, std::size_t& resume) {
                                            most = std::max(most, window.size());
                                            return pattern.MatchWindow(
                                                window, from, starts_text, at_end,
                                                [](const RegexMatch&) { return true; }, resume);
                                        });
    EXPECT_EQ(status.number(), kMatchTooLong);
    EXPECT_LT(most, 1200u);
}

}  // namespace
}  // namespace ferret
