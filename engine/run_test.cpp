#include "engine/run.h"

#include "engine/change_finder.h"
#include "engine/content_search.h"
#include "engine/regex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/limited.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;

std::string Numbered(int i) {
    return std::string("f") + (i < 10 ? "0" : "") + std::to_string(i) + ".txt";
}

// A text's changes as they stream by: the text, and each change as an edit of it.
struct RecordedChanges : ChangeListener {
    Status Keep(std::string_view kept) override {
        text += kept;
        return {};
    }
    Status Change(std::string_view taken_out, std::string_view put_in) override {
        edits.push_back({text.size(), text.size() + taken_out.size(), std::string(put_in)});
        text += taken_out;
        return {};
    }
    std::string text;
    std::vector<TextEdit> edits;
};

// Writes what the run reports, one line per call, and lets a test act on a call.
class RecordingSink : public RunSink {
  public:
    void ContentWhileListing(RunKind /*kind*/) override { Add("while listing"); }
    void Listing() override {
        Add("listing");
        if (on_listing) {
            on_listing();
        }
    }
    void Listed(const ListTotals& totals) override {
        Add("listed " + std::to_string(totals.matched));
        listed.store(true);
    }
    void ContentStage(RunKind kind, std::size_t files) override {
        Add(std::string(Replaces(kind) ? "replace " : "search ") + std::to_string(files));
    }
    void FileDone(std::size_t index, std::size_t total, std::int32_t count,
                  FileRecord& /*file*/) override {
        Add("file " + std::to_string(index) + "/" + std::to_string(total) + " " +
            std::to_string(count));
        if (on_file) {
            on_file(index);
        }
    }
    void HitLines(std::size_t index, const FileRecord& /*file*/, FileHits hits) override {
        std::string call = "lines " + std::to_string(index);
        for (const HitLine& line : hits.lines) {
            call += " " + std::to_string(line.number) + ":" + std::to_string(line.column) + ":" +
                    line.text;
        }
        Add(call);
    }
    void Problem(const RunProblem& problem) override {
        Add("problem " + std::to_string(static_cast<int>(problem.kind)) + " " +
            std::to_string(problem.status.number()));
    }
    void Totals(std::int32_t strings_found, std::int32_t files_with_hits) override {
        Add("totals " + std::to_string(strings_found) + " " + std::to_string(files_with_hits));
    }
    void Previewed(std::size_t /*index*/, const FileRecord& file, FilePreview preview) override {
        seen.push_back({file.FullPath(), std::move(preview)});
    }

    std::vector<std::string> calls;
    std::thread::id thread;  // every call must come on the run's thread
    bool other_thread = false;
    std::function<void(std::size_t)> on_file;
    std::function<void()> on_listing;
    std::atomic<bool> listed{false};  // for a look from another thread during the run
    std::vector<std::pair<std::string, FilePreview>> seen;  // path and preview

  private:
    void Add(std::string call) {
        if (calls.empty()) {
            thread = std::this_thread::get_id();
        } else if (thread != std::this_thread::get_id()) {
            other_thread = true;
        }
        calls.push_back(std::move(call));
    }
};

// The calls of a run as if every file were told after the walk: "listing", "listed N" and
// "search N" first, then the rest with each file's total N, once it is checked that files told
// while the walk listed (total 0) came between "while listing" and "listed", the others after
// "search N".
std::vector<std::string> AsAfterTheWalk(const std::vector<std::string>& calls) {
    enum class Phase { kStart, kListing, kEarly, kListed, kStage } phase = Phase::kStart;
    std::vector<std::string> head;
    std::vector<std::string> rest;
    std::string total;
    const auto starts = [](const std::string& call, const char* word) {
        return call.rfind(word, 0) == 0;
    };
    for (const std::string& call : calls) {
        if (call == "listing") {
            EXPECT_EQ(phase, Phase::kStart);
            phase = Phase::kListing;
            head.push_back(call);
        } else if (call == "while listing") {
            EXPECT_EQ(phase, Phase::kListing);
            phase = Phase::kEarly;
        } else if (starts(call, "listed ")) {
            EXPECT_TRUE(phase == Phase::kListing || phase == Phase::kEarly);
            phase = Phase::kListed;
            head.push_back(call);
        } else if (starts(call, "search ") || starts(call, "replace ")) {
            EXPECT_EQ(phase, Phase::kListed);
            phase = Phase::kStage;
            total = call.substr(call.find(' ') + 1);
            head.push_back(call);
        } else {
            rest.push_back(call);
        }
        if (starts(call, "file ")) {
            const std::size_t slash = call.find('/');
            const std::string told = call.substr(slash + 1, call.find(' ', slash) - slash - 1);
            EXPECT_EQ(phase, told == "0" ? Phase::kEarly : Phase::kStage) << call;
        }
    }
    for (std::string& call : rest) {
        if (starts(call, "file ")) {
            const std::size_t slash = call.find('/');
            call.replace(slash + 1, call.find(' ', slash) - slash - 1, total);
        }
    }
    head.insert(head.end(), rest.begin(), rest.end());
    return head;
}

class RunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // f00 .. f11, every fourth with two hits; many workers, so the order is the run's doing.
        for (int i = 0; i < 12; ++i) {
            dir_.WriteFile(Numbered(i), i % 4 == 0 ? "hit and hit" : "nothing");
        }
        request_.kind = RunKind::kSearch;
        request_.fields.folder = dir_.path();
        request_.fields.file_mask = "*.txt";
        request_.fields.search_text = "hit";
        request_.workers = 4;
    }
    RunResult Run() {
        control_.Reset(request_.fields.regex);
        return ExecuteRun(request_, sink_, control_);
    }

    TempDir dir_;
    RunRequest request_;
    RecordingSink sink_;
    RunControl control_;
};

TEST_F(RunTest, ReportsEveryStepInListOrderOnTheRunsThread) {
    const RunResult result = Run();
    std::vector<std::string> expected = {"listing", "listed 12", "search 12"};
    for (int i = 0; i < 12; ++i) {
        expected.push_back("file " + std::to_string(i) + "/12 " + (i % 4 == 0 ? "2" : "0"));
    }
    expected.push_back("totals 6 3");
    EXPECT_EQ(AsAfterTheWalk(sink_.calls), expected);
    EXPECT_FALSE(sink_.other_thread);
    EXPECT_EQ(sink_.thread, std::this_thread::get_id());
    ASSERT_TRUE(result.files);
    // A search keeps the records of the files with hits; it counts all.
    EXPECT_EQ(result.files->Count(), 3);
    EXPECT_EQ(result.files->Total(), 12);
    EXPECT_EQ(result.strings_found, 6);
    EXPECT_EQ(result.files_with_hits, 3);
    EXPECT_TRUE(result.content_stage);
    EXPECT_FALSE(result.stopped);

    // A run whose caller reads no record after it keeps none, and counts the same.
    request_.keep_records = false;
    sink_.calls.clear();
    const RunResult counted = Run();
    EXPECT_EQ(AsAfterTheWalk(sink_.calls), expected);
    EXPECT_EQ(counted.files->Count(), 0);
    EXPECT_EQ(counted.files->Total(), 12);
    EXPECT_EQ(counted.strings_found, 6);
    request_.keep_records = true;

    // Without its texts a run only lists; the caller tells the user.
    request_.kind = RunKind::kReplace;
    sink_.calls.clear();
    const RunResult listed = Run();
    EXPECT_EQ(sink_.calls, (std::vector<std::string>{"listing", "listed 12"}));
    EXPECT_FALSE(listed.content_stage);
}

// While a long walk goes on, the files it has put in order are searched and told, in order,
// with their hit lines; the rest follow once the list is whole, as if all came after it.
TEST_F(RunTest, FilesAreToldInOrderWhileTheWalkStillLists) {
    TempDir tree;
    tree.WriteFile("a/first.txt", "hit\n");
    tree.WriteFile("a/second.txt", "no\n");
    tree.WriteFile("b.txt", "hit hit\n");
    tree.MakeManyFiles("m", 4000);
    tree.WriteFile("z.txt", "hit\n");
    request_.fields.folder = tree.path();
    request_.hit_lines = 0;
    const RunResult result = Run();
    EXPECT_EQ(result.strings_found, 4);
    // The walk is held to the pace of the search: it cannot end before the first file is told.
    const auto listed = std::find(sink_.calls.begin(), sink_.calls.end(), "listed 4004");
    ASSERT_NE(listed, sink_.calls.end());
    EXPECT_NE(std::find(sink_.calls.begin(), listed, "file 0/0 1"), listed)
        << "nothing was told before the walk ended";
    std::vector<std::string> expected = {
        "listing",       "listed 4004",   "search 4004",         "lines 0 1:1:hit",
        "file 0/4004 1", "file 1/4004 0", "lines 2 1:1:hit hit", "file 2/4004 2"};
    for (int i = 3; i < 4003; ++i) {
        expected.push_back("file " + std::to_string(i) + "/4004 0");
    }
    expected.insert(expected.end(), {"lines 4003 1:1:hit", "file 4003/4004 1", "totals 4 3"});
    EXPECT_EQ(AsAfterTheWalk(sink_.calls), expected);
    EXPECT_FALSE(sink_.other_thread);
}

TEST_F(RunTest, AFilesProblemComesJustBeforeItsResult) {
    // The pattern switch turned on once the run has started (as the window's check box may):
    // the run was not refused, and the first file to need the pattern finds it unusable. Workers
    // run ahead, so any file may compile it first; the run tells it with file 0 all the same.
    request_.fields.search_text = "(unclosed";
    request_.fields.replace_text = "done";
    request_.approved_extensions = ".txt";
    sink_.on_listing = [this] { control_.SetUseRegex(true); };
    for (const RunKind kind : {RunKind::kSearch, RunKind::kReplace}) {
        request_.kind = kind;
        control_.SetUseRegex(false);
        sink_.calls.clear();
        const RunResult result = Run();
        const std::vector<std::string> calls = AsAfterTheWalk(sink_.calls);
        ASSERT_GE(calls.size(), 5u);
        EXPECT_EQ(calls[3].rfind("problem 1 ", 0), 0u) << calls[3];  // kBadPattern
        // Told once, for the file that found it; every file is "not searched".
        EXPECT_EQ(
            std::count_if(calls.begin(), calls.end(),
                          [](const std::string& call) { return call.rfind("problem", 0) == 0; }),
            1);
        EXPECT_EQ(calls[4], "file 0/12 -1");
        EXPECT_EQ(calls.back(), "totals 0 0");
        EXPECT_TRUE(result.pattern_failed);
    }
    EXPECT_EQ(dir_.ReadFile("f00.txt"), "hit and hit");
}

TEST_F(RunTest, StopDuringTheSearchKeepsWhatWasDone) {
    sink_.on_file = [this](std::size_t index) {
        if (index == 4) {
            control_.Stop();
        }
    };
    const RunResult result = Run();
    EXPECT_TRUE(result.stopped);
    // Every file searched by then (f00 and f04, and any the workers running ahead had done) is
    // told once, in list order, and counted in the totals; no other file has a count.
    std::int32_t strings = 0;
    std::int32_t files = 0;
    std::size_t told = 0;
    long last = -1;
    for (const std::string& call : sink_.calls) {
        if (call.rfind("file ", 0) == 0) {
            const long index = std::stol(call.substr(5));
            EXPECT_GT(index, last) << call;
            last = index;
            ++told;
        }
    }
    for (const FileRecord& file : *result.files) {
        if (file.ItemsFound() > 0) {
            strings += file.ItemsFound();
            ++files;
        }
    }
    EXPECT_GE(told, 5u);
    EXPECT_GE(files, 2);
    EXPECT_EQ(sink_.calls.back(),
              "totals " + std::to_string(strings) + " " + std::to_string(files));
}

// Pause holds the walk itself, and Stop ends a held walk at once with what it listed; each run
// has a time and memory limit, so a walk that ignored them would fail rather than hang.
TEST_F(RunTest, PauseHoldsTheWalkAndStopEndsItAtOnce) {
    for (int i = 0; i < 200; ++i) {
        dir_.WriteFile("many/d" + std::to_string(i) + "/x.txt", "hit");
    }
    request_.fields.recursive = true;
    for (const bool resume : {true, false}) {
        SCOPED_TRACE(resume ? "resumed" : "stopped while paused");
        const std::string failure = testing::RunLimited(20, 256, [&] {
            control_.Reset(false);
            control_.TogglePause();
            RunResult result;
            std::atomic<bool> done{false};
            std::thread runner([&] {
                result = ExecuteRun(request_, sink_, control_);
                done = true;
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const bool held = !done.load() && !sink_.listed.load();
            const auto released = std::chrono::steady_clock::now();
            if (resume) {
                control_.TogglePause();
            } else {
                control_.Stop();
            }
            runner.join();
            const bool prompt = resume || std::chrono::steady_clock::now() - released <
                                              std::chrono::milliseconds(200);
            const int listed = result.files ? result.files->Total() : -1;
            return held && prompt && result.stopped != resume &&
                   (resume ? listed == 212 && result.strings_found == 206 : listed == 0);
        });
        EXPECT_EQ(failure, "");
    }
}

// A plain text file named like a document never reaches the office handler (here one that
// cannot even start): it is replaced as the text it is, every other byte kept, no mark added.
TEST_F(RunTest, ATextFileNamedLikeADocumentIsReplacedAsText) {
    dir_.WriteFile("notes.doc", "hit one\r\nhit two\r\n");
    request_.kind = RunKind::kReplace;
    request_.fields.file_mask = "*.doc";
    request_.fields.replace_text = "done";
    request_.approved_extensions = ".doc";
    request_.office_extensions = ".doc";
    request_.office_setup =
        OfficeSetup{"/nonexistent/python3", "/nonexistent/bridge.py", "/nonexistent/soffice"};
    const RunResult result = Run();
    EXPECT_EQ(result.strings_found, 2);
    EXPECT_EQ(dir_.ReadFile("notes.doc"), "done one\r\ndone two\r\n");
}

// How far a match is followed, and how large a file that must be matched whole may be, is the
// request's: a file past it is told as a problem and left as it is.
TEST_F(RunTest, TheLongestMatchFollowedIsTheRequests) {
    const std::string long_match = "a" + std::string(3 << 20, 'b') + "z\n";
    dir_.WriteFile("long.txt", long_match);
    std::string wide = "\xFF\xFE";
    for (int i = 0; i < (1 << 20); ++i) {
        wide += std::string("a\0z\0", 4);
    }
    dir_.WriteFile("wide.txt", wide);
    request_.fields.search_text = "a[^z]*z";
    request_.fields.regex = true;
    request_.workers = 1;
    const auto problems = [this] {
        return std::count_if(sink_.calls.begin(), sink_.calls.end(),
                             [](const std::string& call) { return call.rfind("problem", 0) == 0; });
    };
    EXPECT_EQ(Run().files_with_hits, 2);
    EXPECT_EQ(problems(), 0);

    request_.longest_match = 1 << 20;
    sink_.calls.clear();
    EXPECT_EQ(Run().files_with_hits, 1) << "the wide file's matches are short";
    EXPECT_EQ(problems(), 1);

    request_.kind = RunKind::kReplace;
    request_.fields.search_text = "z";
    request_.fields.replace_text = "$'";
    request_.approved_extensions = ".txt";
    sink_.calls.clear();
    EXPECT_EQ(Run().files_with_hits, 0);
    EXPECT_EQ(problems(), 2);
    EXPECT_TRUE(dir_.ReadFile("long.txt") == long_match);
    EXPECT_TRUE(dir_.ReadFile("wide.txt") == wide);
}

// Each file's hit lines come just before its result, in list order, whichever worker searched
// it; a replace run gives the lines of the new text.
TEST_F(RunTest, HitLinesComeBeforeTheirFilesInListOrder) {
    dir_.WriteFile("f04.txt", "first\nhit and hit\nlast hit");
    request_.hit_lines = 0;
    Run();
    std::vector<std::string> expected = {"listing", "listed 12", "search 12"};
    for (int i = 0; i < 12; ++i) {
        if (i == 4) {
            expected.push_back("lines 4 2:1:hit and hit 3:6:last hit");
        } else if (i % 4 == 0) {
            expected.push_back("lines " + std::to_string(i) + " 1:1:hit and hit");
        }
        // f04 has three hits.
        const char* const count = i == 4 ? "3" : i % 4 == 0 ? "2" : "0";
        expected.push_back("file " + std::to_string(i) + "/12 " + count);
    }
    expected.push_back("totals 7 3");
    EXPECT_EQ(AsAfterTheWalk(sink_.calls), expected);

    const TempDir restore;
    request_.kind = RunKind::kReplace;
    request_.fields.replace_text = "HIT";
    request_.approved_extensions = ".txt";
    request_.restore_folder = restore.path();
    request_.restore_quantity = 1;
    request_.hit_lines = 1;
    sink_.calls.clear();
    Run();
    EXPECT_NE(std::find(sink_.calls.begin(), sink_.calls.end(),
                        "lines 4 1:0:first 2:1:HIT and HIT 3:6:last HIT"),
              sink_.calls.end());
    EXPECT_EQ(dir_.ReadFile("f04.txt"), "first\nHIT and HIT\nlast HIT");
}

// A preview run tells each file's changes and writes nothing; a run of the changes chosen from
// it writes exactly those, the same bytes as a plain replace run for the same choice, and
// leaves a file changed since the preview alone.
TEST_F(RunTest, APreviewWritesNothingAndItsChoiceIsWrittenExactly) {
    const TempDir plain_copy;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"crlf.txt", "hit one\r\nno\r\nhit hit"},
        {"bom.txt", "\xEF\xBB\xBFhit \xC3\xA9"},
        {"wide.txt", std::string("\xFF\xFEh\0i\0t\0 \0x\0", 12)},
        // windows-1252: its changes are where they are in its decoded text, not its bytes.
        {"latin.txt", "caf\xE9 hit \xE9t\xE9 hit\n"},
        {"f01.txt", "nothing"},
    };
    for (const auto& [name, content] : files) {
        dir_.WriteFile(name, content);
        plain_copy.WriteFile(name, content);
    }
    for (int i = 0; i < 12; ++i) {
        plain_copy.WriteFile(Numbered(i), dir_.ReadFile(Numbered(i)));
    }
    const TempDir restore;
    request_.fields.replace_text = "HIT";
    request_.approved_extensions = ".txt";
    request_.restore_folder = restore.path();
    request_.restore_quantity = 1;
    request_.kind = RunKind::kPreview;
    request_.preview_changes = true;
    RecordingSink previews;
    control_.Reset(false);
    const RunResult previewed = ExecuteRun(request_, previews, control_);
    EXPECT_TRUE(previewed.restore_point.empty());
    EXPECT_TRUE(restore.Names().empty());
    for (const auto& [name, content] : files) {
        EXPECT_EQ(dir_.ReadFile(name), content) << name;
    }
    std::map<std::string, FilePreview> by_name;
    for (auto& [path, preview] : previews.seen) {
        by_name[path.substr(path.rfind('/') + 1)] = preview;
    }
    ASSERT_EQ(by_name.size(), 7u);  // crlf, bom, wide, latin and f00, f04, f08
    // A patch's changes are found again as the file is read.
    const auto changes_of = [](const FilePreview& preview) {
        RecordedChanges changes;
        Fd file;
        EXPECT_TRUE(OpenPreviewed(preview.target, preview.plan.seen, file).ok());
        EXPECT_TRUE(StreamChanges(file.get(), *preview.finder, changes).ok());
        return changes;
    };
    EXPECT_EQ(changes_of(by_name["crlf.txt"]).edits,
              (std::vector<TextEdit>{{0, 3, "HIT"}, {13, 16, "HIT"}, {17, 20, "HIT"}}));
    EXPECT_EQ(by_name["bom.txt"].plan.mark, ByteOrderMark::kUtf8);
    EXPECT_EQ(changes_of(by_name["bom.txt"]).text, "\xEF\xBB\xBFhit \xC3\xA9");
    EXPECT_EQ(by_name["wide.txt"].plan.mark, ByteOrderMark::kUtf16LE);
    EXPECT_EQ(changes_of(by_name["wide.txt"]).text, "hit x");
    EXPECT_FALSE(by_name["latin.txt"].plan.legacy.empty());  // a guess of a few words

    // A preview for the window only counts, and keeps each file's identity; its changes, found
    // again when shown, are the same, with the same digest.
    request_.preview_changes = false;
    RecordingSink counted;
    control_.Reset(false);
    ExecuteRun(request_, counted, control_);
    ASSERT_EQ(counted.seen.size(), previews.seen.size());
    const ChangeFinder finder("hit", "HIT", false, false, false);
    std::vector<RewritePlan> shown_plans;
    for (std::size_t i = 0; i < counted.seen.size(); ++i) {
        const auto& [path, preview] = counted.seen[i];
        EXPECT_EQ(path, previews.seen[i].first);
        EXPECT_TRUE(preview.plan.edits.empty()) << path;
        EXPECT_TRUE(preview.plan.seen == previews.seen[i].second.plan.seen) << path;
        RewritePlan shown;
        ASSERT_TRUE(
            PreviewChanges(preview.target, preview.plan.seen, finder, preview.plan.legacy, shown)
                .ok())
            << path;
        EXPECT_EQ(shown.edits.size(), changes_of(previews.seen[i].second).edits.size()) << path;
        EXPECT_EQ(shown.lines.size(), shown.edits.size()) << path;
        EXPECT_EQ(shown.digest, FileDigest(preview.target)) << path;
        shown_plans.push_back(std::move(shown));
    }
    RewritePlan stale;
    EXPECT_FALSE(PreviewChanges(dir_.Path("crlf.txt"), FileIdentity{}, finder, {}, stale).ok());

    // Everything chosen, some files change by change and the others whole: the bytes of a
    // plain replace run.
    auto all = std::make_shared<std::vector<ChosenChange>>();
    for (const auto& [path, preview] : previews.seen) {
        const RewritePlan& shown = shown_plans[all->size()];
        const bool whole = all->size() % 2 == 1;
        all->push_back({path, shown.digest, whole ? std::vector<TextEdit>() : shown.edits, false,
                        whole, preview.plan.seen, preview.plan.legacy});
    }
    request_.kind = RunKind::kChosenChanges;
    request_.chosen = all;
    RecordingSink chosen_sink;
    control_.Reset(false);
    const RunResult written = ExecuteRun(request_, chosen_sink, control_);
    EXPECT_FALSE(written.restore_point.empty());
    EXPECT_EQ(written.strings_found, 13);
    request_.kind = RunKind::kReplace;
    request_.chosen.reset();
    request_.fields.folder = plain_copy.path();
    control_.Reset(false);
    ExecuteRun(request_, sink_, control_);
    for (const std::string& name : plain_copy.Names()) {
        EXPECT_EQ(dir_.ReadFile(name), plain_copy.ReadFile(name)) << name;
    }

    // Part of a file chosen, and a file changed since its preview.
    request_.fields.folder = dir_.path();
    dir_.WriteFile("crlf.txt", "hit one\r\nno\r\nhit hit");
    dir_.WriteFile("f00.txt", "hit and hit");
    const std::uint64_t crlf = ContentDigest("hit one\r\nno\r\nhit hit");
    const std::uint64_t f00 = ContentDigest("hit and hit");
    dir_.WriteFile("f00.txt", "hit and hit, changed");
    // A file never opened is known by its identity.
    dir_.WriteFile("f04.txt", "hit");
    struct stat f04 {};
    ASSERT_EQ(stat(dir_.Path("f04.txt").c_str(), &f04), 0);
    dir_.WriteFile("f04.txt", "hot!");
    // The preview's identity of each file: the same file is written, not one in its place.
    struct stat crlf_seen {};
    struct stat f00_seen {};
    ASSERT_EQ(stat(dir_.Path("crlf.txt").c_str(), &crlf_seen), 0);
    ASSERT_EQ(stat(dir_.Path("f00.txt").c_str(), &f00_seen), 0);
    request_.kind = RunKind::kChosenChanges;
    request_.chosen = std::make_shared<std::vector<ChosenChange>>(std::vector<ChosenChange>{
        {dir_.Path("crlf.txt"), crlf, {{13, 16, "HIT"}}, false, false, IdentityOf(crlf_seen), {}},
        {dir_.Path("f00.txt"), f00, {{0, 3, "HIT"}}, false, false, IdentityOf(f00_seen), {}},
        {dir_.Path("f04.txt"), 0, {}, false, true, IdentityOf(f04), {}}});
    RecordingSink part;
    control_.Reset(false);
    const RunResult partly = ExecuteRun(request_, part, control_);
    EXPECT_EQ(dir_.ReadFile("crlf.txt"), "hit one\r\nno\r\nHIT hit");
    EXPECT_EQ(dir_.ReadFile("f00.txt"), "hit and hit, changed");
    EXPECT_EQ(dir_.ReadFile("f04.txt"), "hot!");
    EXPECT_EQ(partly.strings_found, 1);
    // Both files changed since are told.
    EXPECT_EQ(std::count(part.calls.begin(), part.calls.end(), "problem 0 75"), 2)
        << ::testing::PrintToString(part.calls);

    // Chosen changes that never came write nothing, not every hit.
    request_.chosen.reset();
    control_.Reset(false);
    EXPECT_EQ(ExecuteRun(request_, sink_, control_).strings_found, 0);
    EXPECT_EQ(dir_.ReadFile("f00.txt"), "hit and hit, changed");
}

// A preview names each file by its real path, and a file reached by a second name (a link to
// it, or a folder link) is told once, as it would be rewritten once; a read-only file is left
// out and told.
TEST_F(RunTest, APreviewTellsEachFileOnceByItsRealPath) {
    const TempDir tree;
    tree.WriteFile("real/a.txt", "hit");
    tree.WriteFile("real/b.txt", "hit hit");
    tree.Symlink("real/a.txt", "link-to-a.txt");
    tree.Symlink("real", "folder-link");
    // The walk lists "real" itself long before it reaches this link, deep down but first in
    // the tree's order, whose visit of the folder then takes the place of the first: the
    // files previewed in the visit dropped must not take their one preview with them.
    tree.Symlink("../../../../../../real", "a/b/c/d/e/f/deep-link");
    // Names the mask leaves out, which keep the walk on its way down busy.
    std::string level = "a";
    for (const char* below : {"/b", "/c", "/d", "/e", "/f", ""}) {
        for (int i = 0; i < 1000; ++i) {
            tree.WriteFile(level + "/x" + std::to_string(i) + ".dat", "");
        }
        level += below;
    }
    tree.WriteFile("locked.txt", "hit");
    chmod(tree.Path("locked.txt").c_str(), 0444);
    request_.fields.folder = tree.path();
    request_.fields.recursive = true;
    request_.fields.replace_text = "HIT";
    request_.approved_extensions = ".txt";
    request_.kind = RunKind::kPreview;
    char* resolved = realpath(tree.path().c_str(), nullptr);
    ASSERT_NE(resolved, nullptr);
    const std::string root = resolved;
    free(resolved);
    for (int round = 0; round < 5; ++round) {
        RecordingSink previews;
        control_.Reset(false);
        ExecuteRun(request_, previews, control_);
        std::vector<std::string> targets;
        for (const auto& [path, preview] : previews.seen) {
            targets.push_back(preview.target);
        }
        std::sort(targets.begin(), targets.end());
        ASSERT_EQ(targets, (std::vector<std::string>{root + "/real/a.txt", root + "/real/b.txt"}))
            << "round " << round;
        // Read-only means the owner may not write it, whoever runs the preview.
        ASSERT_EQ(std::count(previews.calls.begin(), previews.calls.end(), "problem 0 75"), 1)
            << ::testing::PrintToString(previews.calls);
    }
    EXPECT_EQ(tree.ReadFile("real/a.txt"), "hit");
}

// Replace Selected opens what the preview saw: a folder swapped since for a link to a copy
// elsewhere, whose file holds the same bytes, is not followed there, whether the change was
// chosen one by one or with its whole file.
TEST_F(RunTest, AChoiceIsNotWrittenThroughAFolderSwappedSinceThePreview) {
    const TempDir tree;
    const TempDir elsewhere;
    tree.WriteFile("shared/notes.txt", "hit here");
    elsewhere.WriteFile("private/notes.txt", "hit here");
    request_.fields.folder = tree.path();
    request_.fields.recursive = true;
    request_.fields.replace_text = "HIT";
    request_.approved_extensions = ".txt";
    request_.kind = RunKind::kPreview;
    request_.preview_changes = true;
    RecordingSink previews;
    control_.Reset(false);
    ExecuteRun(request_, previews, control_);
    ASSERT_EQ(previews.seen.size(), 1u);
    const FilePreview& preview = previews.seen.front().second;
    ASSERT_EQ(rename(tree.Path("shared").c_str(), tree.Path("shared-old").c_str()), 0);
    tree.Symlink(elsewhere.Path("private"), "shared");
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "whole file" : "change by change");
        ChosenChange change;
        change.path = preview.target;
        change.digest = preview.plan.digest;
        change.edits = preview.plan.edits;
        change.seen = preview.plan.seen;
        change.all = whole;
        request_.kind = RunKind::kChosenChanges;
        request_.preview_changes = false;
        request_.chosen = std::make_shared<const std::vector<ChosenChange>>(1, change);
        sink_.calls.clear();
        const RunResult result = Run();
        EXPECT_EQ(result.strings_found, 0);
        EXPECT_EQ(elsewhere.ReadFile("private/notes.txt"), "hit here");
        EXPECT_EQ(std::count(sink_.calls.begin(), sink_.calls.end(), "problem 0 75"), 1)
            << ::testing::PrintToString(sink_.calls);
    }
    EXPECT_EQ(tree.ReadFile("shared-old/notes.txt"), "hit here");
}

// A pattern that cannot be used ends a search or a replace before the walk, told once.
TEST_F(RunTest, APatternThatCannotBeUsedRefusesTheRunBeforeTheWalk) {
    request_.fields.search_text = "hit(";
    request_.fields.regex = true;
    for (const RunKind kind : {RunKind::kSearch, RunKind::kReplace}) {
        request_.kind = kind;
        request_.fields.replace_text = "done";
        request_.approved_extensions = ".txt";
        sink_.calls.clear();
        const RunResult result = Run();
        EXPECT_TRUE(result.pattern_refused);
        EXPECT_FALSE(result.content_stage);
        EXPECT_EQ(sink_.calls,
                  std::vector<std::string>{"problem 1 " + std::to_string(kRegexErrorSyntax)});
    }
    EXPECT_EQ(dir_.ReadFile("f00.txt"), "hit and hit");
}

// A plain text is that text in every path: searched, replaced plainly, replaced ignoring case or
// with "$" sequences in the replacement (which go through the pattern engine), and previewed.
// Held against a literal count and a literal replace for every ASCII punctuation character.
TEST_F(RunTest, APlainTextIsThatTextInEveryPath) {
    const auto fold = [](std::string text, bool ignore_case) {
        if (ignore_case) {
            std::transform(text.begin(), text.end(), text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        }
        return text;
    };
    const auto count_overlapping = [&](const std::string& body, const std::string& text,
                                       bool ignore_case) {
        const std::string folded = fold(body, ignore_case);
        const std::string needle = fold(text, ignore_case);
        std::int32_t count = 0;
        for (std::size_t at = folded.find(needle); at != std::string::npos;
             at = folded.find(needle, at + 1)) {
            ++count;
        }
        return count;
    };
    // "$&" stands for the hit itself; a "$" before nothing it could name is a "$".
    const auto replace_all = [&](const std::string& body, const std::string& text,
                                 const std::string& replacement, bool ignore_case,
                                 std::int32_t& count) {
        const std::string folded = fold(body, ignore_case);
        const std::string needle = fold(text, ignore_case);
        std::string out;
        std::size_t from = 0;
        count = 0;
        for (std::size_t at = folded.find(needle); at != std::string::npos;
             at = folded.find(needle, at + needle.size())) {
            out.append(body, from, at - from);
            std::string put = replacement;
            for (std::size_t amp = put.find("$&"); amp != std::string::npos;
                 amp = put.find("$&", amp + text.size())) {
                put.replace(amp, 2, body.substr(at, text.size()));
            }
            out += put;
            from = at + needle.size();
            ++count;
        }
        return out + body.substr(from);
    };
    const std::string punctuation = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
    request_.fields.file_mask = "case.txt";
    request_.approved_extensions = ".txt";
    request_.workers = 2;
    int cases = 0;
    for (const char p : punctuation) {
        const std::string c(1, p);
        const std::string body = "a ab abc A" + c + "B a" + c + "b " + c + c + c + " x" + c +
                                 "{2} xx" + c + "{2}} X" + c + "{2} aa a{2} \\E " + c + "\n" + "b" +
                                 c + " " + c + "$& end";
        for (const std::string& text : {c, "a" + c, c + c, "x" + c + "{2}", "a" + c + "b"}) {
            for (const bool ignore_case : {false, true}) {
                SCOPED_TRACE("text '" + text + "'" + (ignore_case ? " ignoring case" : ""));
                dir_.WriteFile("case.txt", body);
                request_.kind = RunKind::kSearch;
                request_.fields.search_text = text;
                request_.fields.replace_text.clear();
                request_.fields.ignore_case = ignore_case;
                EXPECT_EQ(Run().strings_found, count_overlapping(body, text, ignore_case));
                for (const std::string replacement : {"<>", "US$", "[$&]"}) {
                    SCOPED_TRACE("replacement '" + replacement + "'");
                    std::int32_t expected_count = 0;
                    const std::string expected =
                        replace_all(body, text, replacement, ignore_case, expected_count);
                    request_.fields.replace_text = replacement;
                    dir_.WriteFile("case.txt", body);
                    request_.kind = RunKind::kPreview;
                    EXPECT_EQ(Run().strings_found, expected_count);
                    request_.kind = RunKind::kReplace;
                    EXPECT_EQ(Run().strings_found, expected_count);
                    EXPECT_EQ(dir_.ReadFile("case.txt"), expected);
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(cases, 32 * 5 * 2 * 3);
}

// Whole words are what "\b" on both sides finds: ECMAScript's own regular expressions are the
// judge, for a plain text and a pattern, in a search, its hit lines, a preview and a replace.
TEST_F(RunTest, WholeWordsAreWhatWordBoundsOnBothSidesFind) {
    const std::string body =
        "cat concat cats cat_ _cat cat. (cat) CAT Cat-cat\ncat\r\ncatcat x.cat.y $cat$ cat$ "
        "cat9 9cat caf\xC3\xA9 \xC3\xA9"
        "cat a.b a.bc ab a+b cat.dog\n";
    request_.fields.file_mask = "words.txt";
    request_.approved_extensions = ".txt";
    request_.workers = 2;
    request_.fields.whole_word = true;
    const std::pair<std::string, bool> cases[] = {
        {"cat", false}, {"cat.", false}, {".cat", false},   {"a.b", false},     {"a+b", false},
        {"caf", false}, {"c.t", true},   {"cat|dog", true}, {"a\\.b|ab", true}, {"\\$cat", true}};
    for (const auto& [text, regex] : cases) {
        for (const bool ignore_case : {false, true}) {
            SCOPED_TRACE("text '" + text + "'" + (regex ? " as a pattern" : "") +
                         (ignore_case ? " ignoring case" : ""));
            const std::regex judge(
                "\\b(?:" + (regex ? text : RegExEncodeString(text)) + ")\\b",
                ignore_case ? std::regex::ECMAScript | std::regex::icase : std::regex::ECMAScript);
            const auto expected = static_cast<std::int32_t>(std::distance(
                std::sregex_iterator(body.begin(), body.end(), judge), std::sregex_iterator()));
            request_.fields.search_text = text;
            request_.fields.regex = regex;
            request_.fields.ignore_case = ignore_case;
            request_.fields.replace_text.clear();
            dir_.WriteFile("words.txt", body);
            request_.kind = RunKind::kSearch;
            EXPECT_EQ(Run().strings_found, expected);
            request_.hit_lines = 0;
            EXPECT_EQ(Run().strings_found, expected) << "hit lines";
            request_.hit_lines.reset();
            request_.fields.replace_text = "[$&]";
            request_.kind = RunKind::kPreview;
            EXPECT_EQ(Run().strings_found, expected) << "preview";
            request_.kind = RunKind::kReplace;
            EXPECT_EQ(Run().strings_found, expected) << "replace";
            EXPECT_EQ(dir_.ReadFile("words.txt"), std::regex_replace(body, judge, "[$&]"));
        }
    }
    // Off, the same text is found inside words too.
    request_.fields.whole_word = false;
    request_.fields.regex = false;
    request_.fields.ignore_case = false;
    request_.fields.search_text = "cat";
    request_.fields.replace_text.clear();
    request_.kind = RunKind::kSearch;
    dir_.WriteFile("words.txt", body);
    std::int32_t inside_words = 0;
    for (std::size_t at = body.find("cat"); at != std::string::npos;
         at = body.find("cat", at + 1)) {
        ++inside_words;
    }
    EXPECT_EQ(Run().strings_found, inside_words);
}

TEST_F(RunTest, BinaryFilesAreLeftOutOfEveryKindOfRunWhenAsked) {
    const std::string late_nul = std::string(70 * 1024, 'x') + '\0' + " hit\n";
    const std::map<std::string, std::string> files = {
        {"text.txt", "a hit\nhit\n"},
        {"nul.txt", std::string("hit\0hit\n", 8)},
        {"marked8.txt", std::string("\xEF\xBB\xBFhit hit\0\n", 12)},
        {"late.txt", late_nul},                                   // NUL past the first block
        {"utf16.txt", std::string("\xFF\xFEh\0i\0t\0\n\0", 10)},  // NULs, but marked text
    };
    const auto write_all = [&] {
        for (const auto& [name, bytes] : files) {
            dir_.WriteFile("mixed/" + name, bytes);
        }
    };
    request_.fields.folder = dir_.Path("mixed");
    request_.fields.file_mask = "*.txt";
    request_.approved_extensions = ".txt";
    request_.fields.replace_text = "HIT";
    struct Case {
        RunKind kind;
        std::string text;
        bool regex;
        std::optional<int> hit_lines;
        bool want_details;
    };
    const std::vector<Case> cases = {
        {RunKind::kSearch, "hit", false, std::nullopt, true},
        {RunKind::kSearch, "hit", false, std::nullopt, false},
        {RunKind::kSearch, "h.t", true, std::nullopt, true},          // within lines
        {RunKind::kSearch, "hi(?:t|\\n)", true, std::nullopt, true},  // may cross lines
        {RunKind::kSearch, "[h]it", true, std::nullopt, true},        // nothing required
        {RunKind::kSearch, "hit", false, 0, true},
        {RunKind::kSearch, "h.t", true, 1, false},
        {RunKind::kPreview, "hit", false, std::nullopt, true},
        {RunKind::kPreview, "[h]it", true, 0, true},
        {RunKind::kReplace, "hit", false, std::nullopt, true},
        {RunKind::kReplace, "[h]it", true, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " kind " + std::to_string(static_cast<int>(c.kind)));
        write_all();
        request_.kind = c.kind;
        request_.fields.search_text = c.text;
        request_.fields.regex = c.regex;
        request_.hit_lines = c.hit_lines;
        request_.want_details = c.want_details;
        request_.fields.skip_binary = false;
        const RunResult all = Run();
        write_all();
        request_.fields.skip_binary = true;
        const RunResult text_only = Run();
        EXPECT_EQ(all.binary_left_out, 0);
        EXPECT_EQ(text_only.binary_left_out, 2);
        // text.txt 2, late.txt 1, utf16.txt 1; the binary ones 2 each
        EXPECT_EQ(text_only.strings_found, 4);
        EXPECT_EQ(all.strings_found, 8);
        for (const std::string name : {"nul.txt", "marked8.txt"}) {
            EXPECT_EQ(text_only.files->Item(dir_.Path("mixed/" + name))->ItemsFound(),
                      kLeftOutBinary);
            EXPECT_EQ(dir_.ReadFile("mixed/" + name), files.at(name));  // never rewritten
        }
        if (c.kind == RunKind::kReplace) {
            EXPECT_EQ(dir_.ReadFile("mixed/text.txt"), "a HIT\nHIT\n");
        }
    }
    // A run that only lists opens the files to tell, and leaves the binary ones out of its list.
    write_all();
    request_.kind = RunKind::kList;
    request_.fields.search_text.clear();
    request_.fields.skip_binary = true;
    const RunResult listed = Run();
    EXPECT_EQ(listed.files->Count(), 3);
    EXPECT_EQ(listed.binary_left_out, 2);
    EXPECT_EQ(listed.files->Item(dir_.Path("mixed/nul.txt")), nullptr);
}

}  // namespace
}  // namespace ferret
