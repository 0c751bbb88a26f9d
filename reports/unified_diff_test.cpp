#include "reports/unified_diff.h"

#include <gtest/gtest.h>

#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::FindProgram;
using testing::RunProgram;
using testing::TempDir;

TEST(UnifiedDiff, HunksWithContextAndTheirRanges) {
    std::string text;
    for (int line = 1; line <= 20; ++line) {
        text += "line " + std::to_string(line) + "\n";
    }
    const std::size_t two = text.find("line 2\n");
    const std::size_t twelve = text.find("line 12\n");
    const std::vector<TextEdit> edits = {{two, two + 4, "LINE"}, {twelve, twelve + 4, "row\nrow"}};
    EXPECT_EQ(UnifiedDiff("a/b.txt", text, edits),
              "--- a/b.txt\n+++ a/b.txt\n"
              "@@ -1,5 +1,5 @@\n line 1\n-line 2\n+LINE 2\n line 3\n line 4\n line 5\n"
              "@@ -9,7 +9,8 @@\n line 9\n line 10\n line 11\n-line 12\n+row\n+row 12\n line 13\n"
              " line 14\n line 15\n");
    // Changes closer than twice the context share a hunk; nothing to change gives nothing.
    const std::size_t seven = text.find("line 7\n");
    const std::string joined =
        UnifiedDiff("f", text, {{two, two + 4, "X"}, {seven, seven + 4, "Y"}});
    EXPECT_EQ(joined.find("@@ -1,10 +1,10 @@\n"), 12u) << joined;
    EXPECT_EQ(joined.find("\n@@", 14), std::string::npos) << joined;
    EXPECT_EQ(UnifiedDiff("f", text, {{two, two + 4, "line"}}), "");
    EXPECT_EQ(UnifiedDiff("f", text, {}), "");
}

TEST(UnifiedDiff, LastLinesWithoutALineFeedAreMarked) {
    EXPECT_EQ(UnifiedDiff("f", "a\r\nb", {{3, 4, "c"}}),
              "--- f\n+++ f\n@@ -1,2 +1,2 @@\n a\r\n-b\n\\ No newline at end of file\n+c\n"
              "\\ No newline at end of file\n");
    EXPECT_EQ(UnifiedDiff("f", "", {{0, 0, "new\n"}}), "--- f\n+++ f\n@@ -0,0 +1 @@\n+new\n");
    EXPECT_EQ(UnifiedDiff("f", "gone\n", {{0, 5, ""}}), "--- f\n+++ f\n@@ -1 +0,0 @@\n-gone\n");
    EXPECT_EQ(BinaryDiff("w.txt"), "Binary files w.txt and w.txt differ\n");
}

// Names are written as git writes them: one that holds a control character, a double quote or a
// backslash, or begins with a blank, in C quotes; one with a blank followed by a TAB.
TEST(UnifiedDiff, NamesAreQuotedAsGitQuotesThem) {
    const auto head = [](std::string_view name) {
        const std::string diff = UnifiedDiff(name, "old\n", {{0, 3, "new"}});
        return diff.substr(0, diff.rfind("@@ -1 +1 @@\n-old\n"));
    };
    EXPECT_EQ(head("sub/plain.txt"), "--- sub/plain.txt\n+++ sub/plain.txt\n");
    EXPECT_EQ(head("caf\xC3\xA9.txt"), "--- caf\xC3\xA9.txt\n+++ caf\xC3\xA9.txt\n");
    EXPECT_EQ(head("two words.txt"), "--- two words.txt\t\n+++ two words.txt\t\n");
    EXPECT_EQ(head("a\n+++ .bashrc\n@@ -1 +1 @@\n-x\n+y"),
              "--- \"a\\n+++ .bashrc\\n@@ -1 +1 @@\\n-x\\n+y\"\t\n"
              "+++ \"a\\n+++ .bashrc\\n@@ -1 +1 @@\\n-x\\n+y\"\t\n");
    EXPECT_EQ(head("t\tr\re\x1B[2J\x7F\"q\\b\xC2\x9B.txt"),
              "--- \"t\\tr\\re\\033[2J\\177\\\"q\\\\b\\302\\233.txt\"\n"
              "+++ \"t\\tr\\re\\033[2J\\177\\\"q\\\\b\\302\\233.txt\"\n");
    EXPECT_EQ(head(" lead.txt"), "--- \" lead.txt\"\t\n+++ \" lead.txt\"\t\n");
    EXPECT_EQ(BinaryDiff("w\nx y.txt"),
              "Binary files \"w\\nx y.txt\" and \"w\\nx y.txt\" differ\n");
}

// Random texts (line feeds, CR LF, lone CR, with and without a last line feed) and random
// edits (line ends put in and taken out, empty matches): `patch` makes of the original exactly
// what the edits make.
TEST(UnifiedDiff, PatchMakesWhatTheEditsMake) {
    const std::string patch = FindProgram("patch");
    if (patch.empty()) {
        GTEST_SKIP() << "patch is not installed";
    }
    const TempDir dir;
    std::uint32_t seed = 2024;
    const auto next = [&seed](std::uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    const char* const pieces[] = {"a", "bb", "\n", "\r\n", "\r", "x"};
    for (int round = 0; round < 150; ++round) {
        std::string text;
        const std::uint32_t length = next(60);
        for (std::uint32_t i = 0; i < length; ++i) {
            text += pieces[next(6)];
        }
        std::vector<TextEdit> edits;
        for (std::size_t at = 0; at <= text.size();) {
            if (next(5) == 0) {
                const std::size_t end = std::min(text.size(), at + next(4));
                edits.push_back({at, end, std::string(pieces[next(6)]) + pieces[next(6)]});
                at = end + 1;
            } else {
                ++at;
            }
        }
        const std::string diff = UnifiedDiff("f.txt", text, edits, static_cast<int>(next(4)));
        const std::string wanted = ApplyEdits(text, edits);
        if (diff.empty()) {
            EXPECT_EQ(wanted, text) << round;
            continue;
        }
        dir.WriteFile("f.txt", text);
        dir.WriteFile("p.diff", diff);
        const auto applied =
            RunProgram(patch, {"-s", "-p0", "-d", dir.path(), "-i", dir.Path("p.diff")});
        ASSERT_EQ(applied.exit_code, 0) << round << "\n" << diff << applied.out << applied.err;
        ASSERT_EQ(dir.ReadFile("f.txt"), wanted) << round << "\n" << diff;
    }
}

// The writer fed a stretch at a time, its hunks spilled to a file past a few bytes, writes the
// patch the whole text gives; and it stops with an error when the original cannot be read back.
TEST(UnifiedDiff, AStreamedPatchIsTheWholeTextsPatch) {
    std::uint32_t seed = 7;
    const auto next = [&seed](std::uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    const char* const pieces[] = {"a", "bb", "\n", "\r\n", "x\n\n\n\n", "yy"};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (std::uint32_t i = next(200); i > 0; --i) {
            text += pieces[next(6)];
        }
        std::vector<TextEdit> edits;
        for (std::size_t at = 0; at <= text.size(); at += 1 + next(30)) {
            const std::size_t end = std::min(text.size(), at + next(5));
            edits.push_back({at, end, std::string(pieces[next(6)]).substr(0, next(3))});
            at = end;
        }
        const int context = static_cast<int>(next(4));
        std::string streamed;
        bool readable = true;
        UnifiedDiffWriter writer(
            "f",
            [&](std::uint64_t offset, char* into, std::size_t size) {
                text.copy(into, size, offset);
                return readable;
            },
            [&](std::string_view bytes) {
                streamed.append(bytes);
                return Status();
            },
            context, 1 + next(8));
        // Each stretch cut in two anywhere.
        const auto feed = [&](std::string_view kept) {
            const std::size_t cut = next(static_cast<std::uint32_t>(kept.size() + 1));
            ASSERT_TRUE(writer.Keep(kept.substr(0, cut)).ok());
            ASSERT_TRUE(writer.Keep(kept.substr(cut)).ok());
        };
        std::size_t told = 0;
        for (const TextEdit& edit : edits) {
            feed(std::string_view(text).substr(told, edit.start - told));
            ASSERT_TRUE(
                writer
                    .Change(std::string_view(text).substr(edit.start, edit.end - edit.start),
                            edit.text)
                    .ok());
            told = edit.end;
        }
        feed(std::string_view(text).substr(told));
        ASSERT_TRUE(writer.Finish().ok());
        ASSERT_EQ(streamed, UnifiedDiff("f", text, edits, context)) << round;
    }
    UnifiedDiffWriter unreadable(
        "f", [](std::uint64_t, char*, std::size_t) { return false; },
        [](std::string_view) { return Status(); });
    ASSERT_TRUE(unreadable.Keep("a\nb").ok());
    EXPECT_FALSE(unreadable.Change("b", "c").ok());
}

}  // namespace
}  // namespace ferret
