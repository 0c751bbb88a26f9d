// A search run that looks inside archives and PDFs: entries are files of the list, named by the
// archive's path and their path inside; the mask and the size filter apply to them.

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/run.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;

// Records each file told, by its path, with its count and hit lines, and the problems.
class PathSink : public RunSink {
  public:
    void FileDone(std::size_t, std::size_t, std::int32_t count, FileRecord& file) override {
        told.emplace_back(file.FullPath(), count);
        inside[file.FullPath()] = file.Inside() != nullptr;
    }
    void HitLines(std::size_t, const FileRecord& file, FileHits hits) override {
        for (const HitLine& line : hits.lines) {
            lines.push_back(file.FullPath() + ":" + std::to_string(line.number) + ":" + line.text);
        }
    }
    void Problem(const RunProblem& problem) override {
        problems.push_back(problem.status.description());
    }

    std::vector<std::pair<std::string, std::int32_t>> told;
    std::map<std::string, bool> inside;
    std::vector<std::string> lines;
    std::vector<std::string> problems;
};

class SearchInside : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_.WriteFile("notes.txt", "hit\n");
        const testing::ProgramResult made =
            testing::RunProgram(testing::FindProgram("python3"), {"-c", R"(
import gzip, io, sys, tarfile, zipfile
d = sys.argv[1]
inner = io.BytesIO()
with tarfile.open(fileobj=inner, mode="w:gz") as t:
    info = tarfile.TarInfo("c.txt"); info.size = 4; t.addfile(info, io.BytesIO(b"hit\n"))
with zipfile.ZipFile(d + "/site.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("index.html", "<p>a hit</p>\n")
    z.writestr("docs/a.txt", "hit\nno\nhit hit\n")
    z.writestr("docs/big.txt", "hit\n" + "x" * 300000)
    z.writestr("img.png", "hit")
    z.writestr("inner.tar.gz", inner.getvalue())
    z.writestr("none.txt", "nothing")
import os
os.makedirs(d + "/logs")
open(d + "/logs/app.log.gz", "wb").write(gzip.compress(b"hit one\nhit two\n"))
open(d + "/cut.zip", "wb").write(open(d + "/site.zip", "rb").read()[:40])
)",
                                                                  dir_.path()});
        ASSERT_EQ(made.exit_code, 0) << made.err;
        request_.kind = RunKind::kSearch;
        request_.fields.folder = dir_.path();
        request_.fields.file_mask = "*.txt;*.html;*.log";
        request_.fields.search_text = "hit";
        request_.fields.search_inside = true;
        request_.workers = 2;
    }
    RunResult Run() {
        control_.Reset(request_.fields.regex);
        sink_.told.clear();
        sink_.inside.clear();
        sink_.lines.clear();
        sink_.problems.clear();
        return ExecuteRun(request_, sink_, control_);
    }
    std::string At(const std::string& relative) const { return dir_.Path(relative); }

    TempDir dir_;
    RunRequest request_;
    PathSink sink_;
    RunControl control_;
};

// Entries are told and kept as files of their own; the archive itself, without hits of its own,
// is not kept; a compressed file's hits are its own; a damaged archive is told.
TEST_F(SearchInside, EntriesAreFilesOfTheList) {
    const RunResult result = Run();
    std::map<std::string, std::int32_t> counts;
    for (const auto& [path, count] : sink_.told) {
        counts[path] = count;
    }
    const std::string zip = At("site.zip");
    EXPECT_EQ(counts[zip + "//index.html"], 1);
    EXPECT_EQ(counts[zip + "//docs/a.txt"], 3);
    EXPECT_EQ(counts[zip + "//docs/big.txt"], 1);
    EXPECT_EQ(counts[zip + "//inner.tar.gz//c.txt"], 1);
    EXPECT_EQ(counts[zip + "//none.txt"], 0);
    EXPECT_EQ(counts.count(zip + "//img.png"), 0u) << "the mask applies to entries";
    EXPECT_EQ(counts[At("logs/app.log.gz")], 2);
    EXPECT_EQ(counts[At("notes.txt")], 1);
    EXPECT_TRUE(sink_.inside[zip + "//docs/a.txt"]);
    EXPECT_FALSE(sink_.inside[At("logs/app.log.gz")]);
    ASSERT_EQ(sink_.problems.size(), 1u);
    EXPECT_EQ(sink_.problems[0].rfind(At("cut.zip") + ": ", 0), 0u) << sink_.problems[0];
    EXPECT_EQ(result.strings_found, 1 + 3 + 1 + 1 + 2 + 1);
    EXPECT_EQ(result.files_with_hits, 6);

    // The list: each entry with hits in its archive's place, the archive let go.
    std::vector<std::string> kept;
    for (const FileRecord& record : *result.files) {
        kept.push_back(record.FullPath());
    }
    const std::vector<std::string> entries = {zip + "//index.html", zip + "//docs/a.txt",
                                              zip + "//docs/big.txt",
                                              zip + "//inner.tar.gz//c.txt"};
    const auto first = std::find(kept.begin(), kept.end(), entries.front());
    ASSERT_NE(first, kept.end());
    EXPECT_EQ(std::vector<std::string>(first, first + 4), entries);
    EXPECT_EQ(std::count(kept.begin(), kept.end(), zip), 0);
    EXPECT_EQ(result.files->Item(zip + "//docs/a.txt")->Filename(), "a.txt");
    EXPECT_EQ(result.files->Item(zip + "//docs/a.txt")->RootPath(), zip + "//docs/");
}

// A link the walk lists is read as what it points to, inside too, as a file is.
TEST_F(SearchInside, ALinkedArchiveIsReadAsTheFileItPointsTo) {
    dir_.Symlink("logs/app.log.gz", "latest.log.gz");
    Run();
    std::map<std::string, std::int32_t> counts(sink_.told.begin(), sink_.told.end());
    EXPECT_EQ(counts[At("latest.log.gz")], 2);
    EXPECT_EQ(sink_.problems.size(), 1u) << "only the damaged archive";
}

// Hit lines of entries carry their own texts; the size filter applies to entries; without the
// switch an archive is a file like any other.
TEST_F(SearchInside, HitLinesSizesAndTheSwitch) {
    request_.hit_lines = 0;
    Run();
    EXPECT_NE(std::find(sink_.lines.begin(), sink_.lines.end(),
                        At("site.zip") + "//docs/a.txt:3:hit hit"),
              sink_.lines.end());
    EXPECT_NE(
        std::find(sink_.lines.begin(), sink_.lines.end(), At("logs/app.log.gz") + ":2:hit two"),
        sink_.lines.end());

    request_.hit_lines.reset();
    request_.fields.size_option = SearchFields::kSizeSmall;  // at most 100 KB
    Run();
    std::map<std::string, std::int32_t> counts(sink_.told.begin(), sink_.told.end());
    EXPECT_EQ(counts.count(At("site.zip") + "//docs/big.txt"), 0u);
    EXPECT_EQ(counts[At("site.zip") + "//docs/a.txt"], 3);

    request_.fields.size_option = SearchFields::kSizeAny;
    request_.fields.search_inside = false;
    Run();
    for (const auto& [path, count] : sink_.told) {
        EXPECT_EQ(path.find("//"), std::string::npos) << path;
    }
    EXPECT_TRUE(sink_.problems.empty());
}

// A file listed for its archive's name that holds no archive is a file like any other: the mask
// decides whether it is searched.
TEST_F(SearchInside, AFileNamedAsAnArchiveIsSearchedOnlyWhenTheMaskTakesIt) {
    dir_.WriteFile("fake.zip", "hit\n");
    Run();
    std::map<std::string, std::int32_t> counts(sink_.told.begin(), sink_.told.end());
    EXPECT_EQ(counts[At("fake.zip")], 0);
    request_.fields.file_mask = "*.zip";
    Run();
    counts = {sink_.told.begin(), sink_.told.end()};
    EXPECT_EQ(counts[At("fake.zip")], 1);
}

// Pause holds the search inside a large archive, not only what is told, and Stop ends it there.
TEST_F(SearchInside, PauseAndStopHoldInsideALargeArchive) {
    const TempDir big;
    const testing::ProgramResult made =
        testing::RunProgram(testing::FindProgram("python3"), {"-c", R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1] + "/big.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(400):
        z.writestr("f%d.txt" % i, "h" * 6000 + "\n")
)",
                                                              big.path()});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    request_.fields.folder = big.path();
    // Every "h" looks ahead to its line's end: seconds of searching.
    request_.fields.search_text = "h(?=h*\\n)";
    request_.fields.regex = true;
    control_.Reset(true);
    RunResult result;
    std::thread run([&] { result = ExecuteRun(request_, sink_, control_); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    control_.TogglePause();
    // The entry under way ends; then nothing works while paused.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto cpu = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    };
    const auto before = cpu();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto spent = cpu() - before;
    EXPECT_LT(spent, std::chrono::milliseconds(100))
        << std::chrono::duration_cast<std::chrono::milliseconds>(spent).count() << " ms";
    control_.Stop();
    run.join();
    EXPECT_TRUE(result.stopped);
    EXPECT_LT(sink_.told.size(), 400u);
}

}  // namespace
}  // namespace ferret
