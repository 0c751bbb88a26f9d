// Files far larger than the memory a run may take, searched, replaced and put back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/content_replace.h"
#include "engine/content_search.h"
#include "engine/regex.h"
#include "engine/restore_point.h"
#include "engine/run.h"
#include "testsupport/limited.h"
#include "testsupport/temp_dir.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::TempDir;

// Counts what a run tells without keeping it.
class CountingSink : public RunSink {
  public:
    void HitLines(std::size_t /*index*/, const FileRecord& /*file*/, FileHits hits) override {
        for (const HitLine& line : hits.lines) {
            in_order = in_order && line.number > last_number;
            last_number = line.number;
            lines += 1;
        }
    }
    void Problem(const RunProblem& /*problem*/) override { ++problems; }

    std::int64_t lines = 0;
    std::int64_t last_number = 0;
    bool in_order = true;
    int problems = 0;
};

// Line `i` of the test text: a hit in every sixteenth.
std::string LineOf(std::int64_t i, bool replaced) {
    std::string line = "line " + std::to_string(i) + " of a long text";
    if (i % 16 == 0) {
        line += replaced ? " with a pin in it" : " with a needle in it";
    }
    return line + "\n";
}

// Writes the test text (`replaced`: as a replace leaves it): `lines` lines, or, when 0, as many
// as make `size` bytes. The number of lines.
std::int64_t WriteText(const std::string& path, std::uint64_t size, bool replaced,
                       std::int64_t lines = 0) {
    const Fd out(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    std::string chunk;
    std::uint64_t written = 0;
    std::int64_t line = 0;
    while (lines > 0 ? line < lines : written < size) {
        chunk.clear();
        while (chunk.size() < (1 << 20) && (lines == 0 || line < lines)) {
            chunk += LineOf(line++, replaced);
        }
        EXPECT_TRUE(WriteAll(out.get(), chunk));
        written += chunk.size();
    }
    return line;
}

// Whether two files hold the same bytes, read a block at a time.
bool SameBytes(const std::string& a, const std::string& b) {
    const Fd left(open(a.c_str(), O_RDONLY | O_CLOEXEC));
    const Fd right(open(b.c_str(), O_RDONLY | O_CLOEXEC));
    std::string one(1 << 20, '\0');
    std::string two(1 << 20, '\0');
    for (;;) {
        const ReadResult x = ReadFull(left.get(), one.data(), one.size());
        const ReadResult y = ReadFull(right.get(), two.data(), two.size());
        if (x.failed() || y.failed() || x.bytes != y.bytes ||
            one.compare(0, x.bytes, two, 0, y.bytes) != 0) {
            return false;
        }
        if (x.bytes == 0) {
            return true;
        }
    }
}

RunRequest RequestFor(const std::string& folder, RunKind kind) {
    RunRequest request;
    request.kind = kind;
    request.fields.folder = folder;
    request.fields.file_mask = "*.txt";
    request.fields.search_text = "needle";
    request.fields.replace_text = "pin";
    request.approved_extensions = ".txt";
    request.workers = 2;
    return request;
}

// A search and a replace with hit lines, the replace with a restore point, and its undo of a file
// eight times larger than the memory each may take: the file is never held, nor are its lines.
TEST(LargeFile, SearchReplaceAndUndoTakeNoMoreMemoryThanASmallFile) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own memory is not the run's";
#endif
    constexpr long kLimitMib = 32;
    const TempDir dir;
    dir.MakeDir("tree");
    const std::int64_t lines =
        WriteText(dir.Path("tree/big.txt"), std::uint64_t{8 * kLimitMib} << 20, false);
    WriteText(dir.Path("before.txt"), 0, false, lines);
    WriteText(dir.Path("after.txt"), 0, true, lines);
    const std::int64_t hits = (lines + 15) / 16;

    EXPECT_EQ(testing::RunLimited(120, kLimitMib,
                                  [&] {
                                      RunRequest request =
                                          RequestFor(dir.Path("tree"), RunKind::kSearch);
                                      request.hit_lines = 0;
                                      CountingSink sink;
                                      RunControl control;
                                      const RunResult result = ExecuteRun(request, sink, control);
                                      return result.strings_found == hits && sink.lines == hits &&
                                             sink.in_order && sink.problems == 0;
                                  }),
              "");

    EXPECT_EQ(testing::RunLimited(120, kLimitMib,
                                  [&] {
                                      RunRequest request =
                                          RequestFor(dir.Path("tree"), RunKind::kReplace);
                                      request.restore_folder = dir.Path("restore");
                                      request.restore_quantity = 2;
                                      request.hit_lines = 0;
                                      CountingSink sink;
                                      RunControl control;
                                      const RunResult result = ExecuteRun(request, sink, control);
                                      return result.strings_found == hits && sink.lines == hits &&
                                             sink.in_order && sink.problems == 0;
                                  }),
              "");
    EXPECT_TRUE(SameBytes(dir.Path("tree/big.txt"), dir.Path("after.txt")));
    const std::vector<RestorePointInfo> points = ListRestorePoints(dir.Path("restore"));
    ASSERT_EQ(points.size(), 1u);

    EXPECT_EQ(testing::RunLimited(120, kLimitMib,
                                  [&] {
                                      UndoOutcome outcome;
                                      return UndoRestorePoint(points[0].folder, outcome).ok() &&
                                             outcome.restored == 1 && outcome.refused.empty();
                                  }),
              "");
    EXPECT_TRUE(SameBytes(dir.Path("tree/big.txt"), dir.Path("before.txt")));
    EXPECT_EQ(dir.Names("tree"), std::vector<std::string>{"big.txt"});
}

// The bytes a file takes on disk.
std::uint64_t OnDisk(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_blocks) * 512 : 0;
}

// A sparse file keeps its holes when it is replaced, and so do its kept original and its undo.
TEST(LargeFile, ASparseFileKeepsItsHoles) {
    const TempDir dir;
    const std::string path = dir.Path("tree/sparse.txt");
    // Past the longest match a pattern may take (64 MB), small enough for the sanitizer build.
    constexpr off_t kHole = off_t{80} << 20;
    {
        dir.WriteFile("tree/sparse.txt", "a needle at the start\n");
        const Fd file(open(path.c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_EQ(pwrite(file.get(), "a needle at the end\n", 20, kHole), 20);
    }
    if (OnDisk(path) > (1 << 20)) {
        GTEST_SKIP() << "this file system does not keep holes";
    }
    RunRequest request = RequestFor(dir.Path("tree"), RunKind::kReplace);
    request.restore_folder = dir.Path("restore");
    request.restore_quantity = 2;
    CountingSink sink;
    RunControl control;
    const RunResult result = ExecuteRun(request, sink, control);
    EXPECT_EQ(result.strings_found, 2);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, kHole + 14);  // each "needle" became "pin"
    EXPECT_LT(OnDisk(path), std::uint64_t{1} << 20);
    EXPECT_LT(OnDisk(LastRewritePath()), std::uint64_t{1} << 20);
    const std::vector<RestorePointInfo> points = ListRestorePoints(dir.Path("restore"));
    ASSERT_EQ(points.size(), 1u);
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(points[0].folder, outcome).ok());
    EXPECT_EQ(outcome.restored, 1);
    EXPECT_LT(OnDisk(path), std::uint64_t{1} << 20);
    const Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char end[20] = {};
    ASSERT_EQ(pread(file.get(), end, sizeof end, kHole), 20);
    EXPECT_EQ(std::string(end, 20), "a needle at the end\n");
}

// A pattern that stays within lines is run line by line, but a line too long to hold is matched
// a window at a time from its start on: the count, the hit lines and the replace are those of
// the whole text.
TEST(LargeFile, ALineTooLongToHoldIsMatchedInWindows) {
    const TempDir dir;
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "short needle1 line " + std::to_string(i) + "\n";
    }
    for (int i = 0; text.size() < (std::size_t{5} << 20); ++i) {
        text += i % 1000 == 0 ? "neeedle" + std::to_string(i % 10) + " " : "some words ";
    }
    text += "\nend needle2\nlast needle3";
    dir.WriteFile("long.txt", text);
    RegExp pattern;
    ASSERT_TRUE(pattern.Compile("ne+dle\\d", false).ok());
    const auto shortcut = MakePatternShortcut("ne+dle\\d", false);
    ASSERT_NE(shortcut, nullptr);
    ASSERT_TRUE(shortcut->within_lines);

    std::vector<RegexMatch> matches;
    ASSERT_TRUE(pattern.Execute(text, matches).ok());
    std::vector<std::size_t> starts;
    for (const RegexMatch& match : matches) {
        starts.push_back(match.first_index);
    }
    EXPECT_EQ(SearchFilePattern(dir.Path("long.txt"), pattern, shortcut.get()),
              static_cast<std::int32_t>(matches.size()));
    FileHits hits;
    EXPECT_EQ(SearchFileHitLines(AT_FDCWD, dir.Path("long.txt"), PlainMatcher("x", false), &pattern,
                                 shortcut.get(), 1, {}, hits),
              static_cast<std::int32_t>(matches.size()));
    const std::vector<HitLine> whole = LinesOfHits(text, starts, 1);
    ASSERT_EQ(hits.lines.size(), whole.size());
    for (std::size_t i = 0; i < whole.size(); ++i) {
        EXPECT_EQ(hits.lines[i].number, whole[i].number) << i;
        EXPECT_EQ(hits.lines[i].column, whole[i].column) << i;
        EXPECT_EQ(hits.lines[i].hits, whole[i].hits) << i;
        EXPECT_EQ(hits.lines[i].text, whole[i].text) << i;
    }

    std::string replaced;
    std::int64_t count = 0;
    ASSERT_TRUE(pattern.Replace(text, "<$&>", true, replaced, count).ok());
    EXPECT_EQ(ReplaceFilePattern(dir.Path("long.txt"), pattern, "<$&>", shortcut.get()).count,
              count);
    EXPECT_TRUE(dir.ReadFile("long.txt") == replaced);
}

}  // namespace
}  // namespace ferret
