// Text files with a byte-order mark are searched and replaced as text in their own encoding.
#include <gtest/gtest.h>

#include <atomic>

#include "engine/content_replace.h"
#include "engine/content_search.h"
#include "engine/regex.h"
#include "engine/restore_point.h"
#include "engine/run.h"
#include "testsupport/temp_dir.h"
#include "util/text_encoding.h"

namespace ferret {
namespace {

using testing::TempDir;

// A registry export, as the system's editor writes it (UTF-16 little endian with its mark).
const std::string kRegistryText =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Mallo\\Ferret]\r\n"
    "\"StartupPath\"=\"C:\\\\old\\\\site\"\r\n"
    "\"Title\"=\"Old caf\xC3\xA9 \xF0\x9F\x98\x80 old\"\r\n";

struct Encoded {
    const char* name;
    std::string bytes;
};

std::vector<Encoded> EveryForm(const std::string& utf8) {
    std::string little;
    std::string big;
    EXPECT_TRUE(EncodeUtf16(utf8, false, little));
    EXPECT_TRUE(EncodeUtf16(utf8, true, big));
    return {{"plain.reg", utf8},
            {"marked.reg", "\xEF\xBB\xBF" + utf8},
            {"little.reg", "\xFF\xFE" + little},
            {"big.reg", "\xFE\xFF" + big}};
}

std::int32_t PatternCount(const std::string& path, const std::string& pattern, bool ignore_case) {
    RegExp regex;
    EXPECT_TRUE(regex.Compile(pattern, ignore_case).ok());
    return SearchFilePattern(path, regex, nullptr, {}, nullptr);
}

TEST(EncodedText, CountsAreThoseOfTheSameTextInUtf8) {
    TempDir dir;
    const std::atomic<bool> stop{false};
    for (const Encoded& form : EveryForm(kRegistryText)) {
        dir.WriteFile(form.name, form.bytes);
        const std::string path = dir.Path(form.name);
        EXPECT_EQ(SearchFileText(path, PlainMatcher("old", false), stop), 2) << form.name;
        EXPECT_EQ(SearchFileText(path, PlainMatcher("OLD", true), stop), 3) << form.name;
        EXPECT_EQ(SearchFileText(path, PlainMatcher("caf\xC3\xA9 \xF0\x9F\x98\x80", false), stop),
                  1)
            << form.name;
        EXPECT_EQ(PatternCount(path, "o[a-z]d", false), 2) << form.name;
        EXPECT_EQ(PatternCount(path, "\\\\\\\\\\w+", false), 2) << form.name;  // \\old, \\site
        // The mark is not text: the pattern's start is the text's start.
        EXPECT_EQ(PatternCount(path, "^Windows", false), 1) << form.name;
        EXPECT_EQ(PatternCount(path, "\xF0\x9F\x98\x80 old\"\\r\\n$", false), 1) << form.name;
    }
}

TEST(EncodedText, ReplacingKeepsTheEncodingTheMarkAndEveryOtherByte) {
    TempDir dir;
    RegExp plain;
    ASSERT_TRUE(plain.Compile(RegExEncodeString("old"), true).ok());
    RegExp grouped;
    ASSERT_TRUE(grouped.Compile("(caf)\xC3\xA9", false).ok());
    std::string expected = kRegistryText;
    for (const char* from : {"old", "Old", "old"}) {
        expected.replace(expected.find(from), 3, "n\xC3\xAA\xF0\x9F\x98\x80w");
    }
    std::string expected_grouped = expected;
    expected_grouped.replace(expected_grouped.find("caf\xC3\xA9"), 5, "[caf]");
    const std::vector<Encoded> before = EveryForm(kRegistryText);
    const std::vector<Encoded> after = EveryForm(expected);
    const std::vector<Encoded> after_grouped = EveryForm(expected_grouped);
    for (std::size_t i = 0; i < before.size(); ++i) {
        dir.WriteFile(before[i].name, before[i].bytes);
        const std::string path = dir.Path(before[i].name);
        RewriteResult result = ReplaceFilePattern(path, plain, "n\xC3\xAA\xF0\x9F\x98\x80w");
        EXPECT_EQ(result.count, 3) << before[i].name << ": " << result.error;
        EXPECT_EQ(dir.ReadFile(before[i].name), after[i].bytes) << before[i].name;
        result = ReplaceFilePattern(path, grouped, "[$1]");
        EXPECT_EQ(result.count, 1) << before[i].name;
        EXPECT_EQ(dir.ReadFile(before[i].name), after_grouped[i].bytes) << before[i].name;
    }
}

TEST(EncodedText, WhatTheEncodingCannotHoldLeavesTheFileAlone) {
    TempDir dir;
    RegExp old;
    ASSERT_TRUE(old.Compile("old", false).ok());
    for (const Encoded& form : EveryForm(kRegistryText)) {
        dir.WriteFile(form.name, form.bytes);
        const RewriteResult result = ReplaceFilePattern(dir.Path(form.name), old, "caf\xE9");
        if (std::string(form.name) == "plain.reg") {
            EXPECT_EQ(result.count, 2);  // bytes without a mark are bytes: anything goes
            continue;
        }
        EXPECT_EQ(result.count, kNotSearched) << form.name;
        EXPECT_NE(result.error.find("cannot be written in"), std::string::npos) << result.error;
        EXPECT_EQ(dir.ReadFile(form.name), form.bytes) << form.name;
    }

    // Damaged UTF-16 (a lone surrogate) is searched, but not rewritten: its damage would not
    // survive the round trip.
    const std::string damaged = std::string("\xFF\xFEo\0l\0d\0\x3D\xD8 \0", 12);
    dir.WriteFile("damaged.reg", damaged);
    const std::atomic<bool> stop{false};
    EXPECT_EQ(SearchFileText(dir.Path("damaged.reg"), PlainMatcher("old", false), stop), 1);
    const RewriteResult result = ReplaceFilePattern(dir.Path("damaged.reg"), old, "new");
    EXPECT_EQ(result.count, kNotSearched);
    EXPECT_NE(result.error.find("not valid UTF-16LE"), std::string::npos) << result.error;
    EXPECT_EQ(dir.ReadFile("damaged.reg"), damaged);
    // A file without a hit is not a failure, whatever its state.
    EXPECT_EQ(ReplaceFilePattern(dir.Path("damaged.reg"), old, "caf\xE9").count, kNotSearched);
    RegExp absent;
    ASSERT_TRUE(absent.Compile("absent", false).ok());
    EXPECT_EQ(ReplaceFilePattern(dir.Path("damaged.reg"), absent, "x").count, 0);
}

// A UTF-16 file of many blocks, characters outside the basic plane wherever a block may end,
// is searched and replaced as it is read: the counts, hit lines and new bytes of its text.
TEST(EncodedText, Utf16ThroughManyBlocks) {
    TempDir dir;
    std::string text;
    for (int line = 0; text.size() < 400000; ++line) {
        text += "line " + std::to_string(line) + (line % 7 == 0 ? " old \xF0\x9F\x98\x80" : "") +
                (line % 5 == 0 ? " caf\xC3\xA9" : "") + "\r\n";
    }
    std::size_t olds = 0;
    for (std::size_t at = text.find("old"); at != std::string::npos;
         at = text.find("old", at + 1)) {
        ++olds;
    }
    std::string replaced = text;
    for (std::size_t at = replaced.find("old"); at != std::string::npos;
         at = replaced.find("old", at + 4)) {
        replaced.replace(at, 3, "n\xF0\x9F\x98\x80w");
    }
    const std::atomic<bool> stop{false};
    RegExp old;
    ASSERT_TRUE(old.Compile("old \xF0\x9F\x98\x80", false).ok());
    for (const Encoded& form : EveryForm(text)) {
        if (form.bytes.rfind("\xFF\xFE", 0) != 0 && form.bytes.rfind("\xFE\xFF", 0) != 0) {
            continue;
        }
        dir.WriteFile(form.name, form.bytes);
        const std::string path = dir.Path(form.name);
        EXPECT_EQ(SearchFileText(path, PlainMatcher("old", false), stop), olds) << form.name;
        EXPECT_EQ(SearchFilePattern(path, old), olds) << form.name;
        FileHits hits;
        const std::int32_t cafes = SearchFileHitLines(
            AT_FDCWD, path, PlainMatcher("caf\xC3\xA9", false), nullptr, nullptr, 0, {}, hits);
        EXPECT_EQ(cafes, static_cast<std::int32_t>(hits.lines.size()));
        ASSERT_FALSE(hits.lines.empty());
        EXPECT_EQ(hits.text_from, -1) << "its lines are not where its bytes are";
        const HitLine& last = hits.lines.back();
        EXPECT_EQ(last.text.substr(last.text.size() - 5), "caf\xC3\xA9");
        EXPECT_EQ(last.column, static_cast<std::int64_t>(last.text.size()) - 4);
        RegExp plain;
        ASSERT_TRUE(plain.Compile("old", false).ok());
        const RewriteResult result = ReplaceFilePattern(path, plain, "n\xF0\x9F\x98\x80w");
        EXPECT_EQ(result.count, static_cast<std::int32_t>(olds)) << result.error;
        const std::vector<Encoded> after = EveryForm(replaced);
        for (const Encoded& wanted : after) {
            if (std::string(wanted.name) == form.name) {
                EXPECT_TRUE(dir.ReadFile(form.name) == wanted.bytes) << form.name;
            }
        }
    }
}

// A replace run keeps a UTF-16 file's way back, its checksums those of its bytes: undone, it is
// as it was.
TEST(EncodedText, AUtf16FileReplacedInARunIsUndoneExactly) {
    TempDir dir;
    std::string text;
    for (int line = 0; text.size() < 200000; ++line) {
        text += "line " + std::to_string(line) + " old \xF0\x9F\x98\x80\n";
    }
    std::string little;
    ASSERT_TRUE(EncodeUtf16(text, false, little));
    const std::string before = "\xFF\xFE" + little;
    dir.MakeDir("tree");
    dir.WriteFile("tree/wide.txt", before);
    RunRequest request;
    request.kind = RunKind::kReplace;
    request.fields.folder = dir.Path("tree");
    request.fields.file_mask = "*.txt";
    request.fields.search_text = "old";
    request.fields.replace_text = "new";
    request.approved_extensions = ".txt";
    request.restore_folder = dir.Path("restore");
    request.restore_quantity = 1;
    RunSink sink;
    RunControl control;
    EXPECT_GT(ExecuteRun(request, sink, control).strings_found, 1000);
    EXPECT_NE(dir.ReadFile("tree/wide.txt"), before);
    const std::vector<RestorePointInfo> points = ListRestorePoints(dir.Path("restore"));
    ASSERT_EQ(points.size(), 1u);
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(points[0].folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    EXPECT_TRUE(outcome.refused.empty());
    EXPECT_TRUE(dir.ReadFile("tree/wide.txt") == before);
}

}  // namespace
}  // namespace ferret
