// Replace runs with restore points, through the engine's own entry point: the order in which a
// rewrite becomes durable, how originals are kept and what a killed run leaves behind.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/content_replace.h"
#include "engine/restore_point.h"
#include "engine/rewrite_batch.h"
#include "engine/run.h"
#include "testsupport/temp_dir.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

using testing::TempDir;

// Keeps only the problems the run tells.
class QuietSink : public RunSink {
  public:
    void Problem(const RunProblem& problem) override {
        problems.push_back(problem.status.description());
    }
    std::vector<std::string> problems;
};

std::string ReadPath(const std::string& path) {
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string bytes;
    EXPECT_GE(fd.get(), 0) << path;
    EXPECT_TRUE(ReadAll(fd.get(), bytes));
    return bytes;
}

std::vector<std::string> Split(const std::string& text, char by) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(by, start)) != std::string::npos; start = at + 1) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

class ReplaceWithRestorePoints : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < kFiles; ++i) {
            dir_.WriteFile(Name(i), Old(i));
        }
        request_.kind = RunKind::kReplace;
        request_.fields.folder = dir_.Path("tree");
        request_.fields.file_mask = "*.txt";
        request_.fields.search_text = "old";
        request_.fields.replace_text = "new";
        request_.approved_extensions = ".txt";
        request_.restore_folder = dir_.Path("restore");
        request_.restore_quantity = 10;
        request_.workers = 3;
    }
    static constexpr int kFiles = 300;  // more than one batch
    static std::string Name(int i) {
        return "tree/d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt";
    }
    static std::string Old(int i) { return "old " + std::to_string(i) + " old\n"; }
    static std::string New(int i) { return "new " + std::to_string(i) + " new\n"; }
    RunResult Run() {
        control_.Reset(false);
        return ExecuteRun(request_, sink_, control_);
    }

    TempDir dir_;
    RunRequest request_;
    RunControl control_;
    QuietSink sink_;
};

// At the moment a name is switched, the journal line that undoes it (naming the new file) is in
// the journal and the kept original holds the old bytes: a run that wrote the journal after the
// switch, or made the new file before its name was journaled, fails every time.
TEST_F(ReplaceWithRestorePoints, EveryFileIsJournaledAndKeptBeforeItsNameIsSwitched) {
    int checked = 0;
    std::vector<std::string> wrong;
    request_.before_switch = [&](const SwitchMoment& moment) {
        ++checked;
        const std::string journal = ReadPath(moment.restore_point + "/journal");
        bool found = false;
        for (const std::string& line : Split(journal, '\n')) {
            const std::vector<std::string> fields = Split(line, '\t');
            if (fields.size() == 12 && fields[0] == "file" && fields[2] == moment.target &&
                fields[1] == std::to_string(moment.entry) && fields[11] == moment.temporary) {
                found = true;
            }
        }
        char copy[32];
        snprintf(copy, sizeof copy, "/files/%06llu", static_cast<unsigned long long>(moment.entry));
        const std::string folder = moment.target.substr(0, moment.target.rfind('/') + 1);
        if (!found || ReadPath(moment.restore_point + copy) != ReadPath(moment.target) ||
            ReadPath(folder + moment.temporary).rfind("new ", 0) != 0) {
            wrong.push_back(moment.target);
        }
    };
    const RunResult result = Run();
    EXPECT_EQ(checked, kFiles);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " files, the first " << wrong.front();
    EXPECT_EQ(result.strings_found, 2 * kFiles);
    ASSERT_FALSE(result.restore_point.empty());
    const std::string journal = ReadPath(result.restore_point + "/journal");
    EXPECT_EQ(journal.substr(journal.size() - 4), "end\n");
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_EQ(dir_.ReadFile(Name(i)), New(i));
    }
}

TEST_F(ReplaceWithRestorePoints, OriginalsAreKeptAsHardLinksAndPutBackByteForByte) {
    std::map<int, ino_t> inodes;
    for (int i = 0; i < kFiles; i += 37) {
        struct stat info {};
        ASSERT_EQ(stat(dir_.Path(Name(i)).c_str(), &info), 0);
        inodes[i] = info.st_ino;
    }
    const RunResult result = Run();
    ASSERT_FALSE(result.restore_point.empty());
    RestorePointInfo info;
    ASSERT_TRUE(ReadRestorePoint(result.restore_point, info).ok());
    ASSERT_EQ(info.entries.size(), static_cast<std::size_t>(kFiles));
    int linked = 0;
    for (const RestoreEntry& entry : info.entries) {
        char copy[32];
        snprintf(copy, sizeof copy, "/files/%06llu", static_cast<unsigned long long>(entry.number));
        struct stat kept {};
        ASSERT_EQ(stat((result.restore_point + copy).c_str(), &kept), 0);
        for (const auto& [i, inode] : inodes) {
            if (entry.path == dir_.Path(Name(i)) && kept.st_ino == inode) {
                ++linked;  // the old file itself, no byte copied
            }
        }
    }
    EXPECT_EQ(linked, static_cast<int>(inodes.size()));
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(result.restore_point, outcome).ok());
    EXPECT_EQ(outcome.restored, kFiles);
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_EQ(dir_.ReadFile(Name(i)), Old(i));
    }
    EXPECT_EQ(dir_.Names("restore"), std::vector<std::string>{});
}

TEST_F(ReplaceWithRestorePoints, ARestoreFolderOnAnotherFileSystemGetsCopies) {
    char shm[] = "/dev/shm/ferret-test-XXXXXX";
    if (mkdtemp(shm) == nullptr) {
        GTEST_SKIP() << "no /dev/shm here";
    }
    struct stat tree {};
    struct stat other {};
    ASSERT_EQ(stat(dir_.path().c_str(), &tree), 0);
    ASSERT_EQ(stat(shm, &other), 0);
    if (tree.st_dev == other.st_dev) {
        testing::RemoveTree(shm);
        GTEST_SKIP() << "/dev/shm is the test folder's file system";
    }
    request_.restore_folder = std::string(shm) + "/restore";
    const RunResult result = Run();
    ASSERT_FALSE(result.restore_point.empty());
    EXPECT_TRUE(sink_.problems.empty()) << sink_.problems.front();
    UndoOutcome outcome;
    ASSERT_TRUE(UndoRestorePoint(result.restore_point, outcome).ok());
    EXPECT_EQ(outcome.restored, kFiles);
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_EQ(dir_.ReadFile(Name(i)), Old(i));
    }
    testing::RemoveTree(shm);
}

// A run killed after its journal named a new file, with the file made: the next run removes it
// (only it), says so, and marks the restore point so that it is not searched again.
TEST_F(ReplaceWithRestorePoints, ANewFileAKilledRunLeftIsRemovedByTheNextRun) {
    std::string left;
    std::string bystander;
    {
        std::unique_ptr<RestorePoint> point;
        ASSERT_TRUE(
            RestorePoint::Create(dir_.Path("restore"), "old", "new", dir_.Path("tree"), point)
                .ok());
        RestoreEntry entry;
        const std::string target = dir_.Path(Name(0));
        left = dir_.Path("tree/d0/.f0.txt.ferret-AbCdEf");
        bystander = dir_.Path("tree/d0/.f7.txt.ferret-XyZxYz");
        const std::string line =
            "file\t1\t" + target + "\t0\t0\t4\t644\t0\t0\t1.0\t1.0\t" + ".f0.txt.ferret-AbCdEf";
        ASSERT_TRUE(
            point
                ->Record({line, "file\t2\t" + dir_.Path(Name(7)) +
                                    "\t0\t0\t4\t644\t0\t0\t1.0\t1.0\t.f7.txt.ferret-XyZxYz"})
                .ok());
        dir_.WriteFile("tree/d0/.f0.txt.ferret-AbCdEf", "new 0");
        // Not the run's file: another name links to it.
        dir_.WriteFile("tree/d0/.f7.txt.ferret-XyZxYz", "someone's");
        ASSERT_EQ(link(bystander.c_str(), dir_.Path("tree/keep").c_str()), 0);
        // While the run is alive its files are its own.
        EXPECT_TRUE(RemoveLeftovers(dir_.Path("restore")).empty());
    }  // killed: no "end"
    const RunResult result = Run();
    EXPECT_EQ(result.leftovers_removed, std::vector<std::string>{left});
    EXPECT_EQ(access(left.c_str(), F_OK), -1);
    EXPECT_EQ(access(bystander.c_str(), F_OK), 0);
    EXPECT_TRUE(RemoveLeftovers(dir_.Path("restore")).empty());
}

// A batch whose flush fails leaves every file as it was and tells it: the journal's flush, the
// kept originals' and the new files' are each needed before any name is switched.
int restore_file_system = -1;  // the restore point's descriptor, for the flushes below

int FlushFails(int) {
    errno = EIO;
    return -1;
}
int FlushFailsOnTheRestorePoint(int fd) {
    return fd == restore_file_system ? FlushFails(fd) : ::syncfs(fd);
}
int FlushFailsElsewhere(int fd) {
    return fd == restore_file_system ? ::syncfs(fd) : FlushFails(fd);
}

struct FlushCase {
    const char* name;
    DiskFlush flush;
    const char* told;  // in every file's error; nullptr when the batch goes through
};

class FailedFlush : public ::testing::TestWithParam<FlushCase> {};

std::string FlushCaseName(const ::testing::TestParamInfo<FlushCase>& param) {
    return param.param.name;
}

TEST_P(FailedFlush, LeavesEveryFileAsItWasAndTellsIt) {
    const FlushCase& flush = GetParam();
    constexpr int kFiles = 5;
    TempDir dir;
    for (int i = 0; i < kFiles; ++i) {
        dir.WriteFile("tree/f" + std::to_string(i) + ".txt", "old " + std::to_string(i));
    }
    std::unique_ptr<RestorePoint> point;
    ASSERT_TRUE(
        RestorePoint::Create(dir.Path("restore"), "old", "new", dir.Path("tree"), point).ok());
    point->SetDiskFlush(flush.flush);
    restore_file_system = point->FileSystem();
    std::vector<RewriteBatch::Outcome> outcomes;
    {
        RewriteBatch batch(point.get(), {});
        for (int i = 0; i < kFiles; ++i) {
            auto item = std::make_unique<RewriteBatch::Item>();
            item->index = static_cast<std::size_t>(i);
            item->count = 1;
            std::string original;
            ASSERT_EQ(OpenForRewrite(dir.Path("tree/f" + std::to_string(i) + ".txt"), item->rewrite,
                                     original),
                      "");
            item->rewrite.content = "new " + std::to_string(i);
            item->rewrite.old_checksum = ContentChecksum(original);
            item->rewrite.old_size = original.size();
            item->rewrite.new_checksum = ContentChecksum(item->rewrite.content);
            ASSERT_TRUE(point->KeepOriginal(item->rewrite, item->kept).ok());
            batch.Add(std::move(item));
        }
        outcomes = batch.Commit();
    }
    ASSERT_EQ(outcomes.size(), static_cast<std::size_t>(kFiles));
    for (int i = 0; i < kFiles; ++i) {
        const std::string text = dir.ReadFile("tree/f" + std::to_string(i) + ".txt");
        if (flush.told == nullptr) {
            EXPECT_TRUE(outcomes[i].rewritten);
            EXPECT_EQ(text, "new " + std::to_string(i));
            continue;
        }
        EXPECT_FALSE(outcomes[i].rewritten) << i;
        EXPECT_EQ(outcomes[i].count, kNotSearched) << i;
        EXPECT_NE(outcomes[i].error.find(flush.told), std::string::npos) << outcomes[i].error;
        EXPECT_EQ(text, "old " + std::to_string(i));
    }
    if (flush.told != nullptr) {
        // Nothing beside the files, and no copy kept of a file that was not rewritten.
        EXPECT_EQ(dir.Names("tree").size(), static_cast<std::size_t>(kFiles));
        EXPECT_TRUE(dir.Names("restore/" + point->Id() + "/files").empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    RewriteBatch, FailedFlush,
    ::testing::Values(FlushCase{"NoFailure", DiskFlush(), nullptr},
                      FlushCase{"Journal", DiskFlush{FlushFails, ::syncfs},
                                "cannot write the restore point's journal: Input/output error"},
                      FlushCase{"KeptOriginals",
                                DiskFlush{::fdatasync, FlushFailsOnTheRestorePoint},
                                "cannot flush the kept originals to disk: Input/output error"},
                      FlushCase{"NewFiles", DiskFlush{::fdatasync, FlushFailsElsewhere},
                                "the new content could not be flushed to disk"}),
    FlushCaseName);

}  // namespace
}  // namespace ferret
