#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/content_replace.h"
#include "engine/file_data.h"
#include "util/status.h"

namespace ferret {

// A restore point is one folder per replace run under the restore-point folder: a "journal" and
// a "files" folder keeping every file the run rewrote, as it was before (a hard link to the old
// file where the file system allows, else a clone or a copy). The journal is a text file of
// tab-separated lines (tabs, line ends and backslashes escaped with "\"):
//   ferret restore point 2
//   created <seconds.nanoseconds since 1970>
//   search <text> / replace <text> / folder <start folder>
//   file <n> <path> <old checksum> <new checksum or -> <size> <mode> <uid> <gid> <atime> <mtime>
//        <name of the new file beside it, made only after this line is on disk>
//   settled <n> <new checksum>    the new checksum of a file an office program rewrote in place
//                                 (older runs: their file lines had "-" for it)
//   dropped <n>                   the file was not rewritten after all; the copy is gone
//   restored <n>                  undone
//   end                           the run ended with everything on disk
//   cleaned                       a later run removed the new files this one left
// ("ferret restore point 1" journals, without the new file's name, are read too.)
// Checksums are BLAKE2b-256 in hexadecimal (as "b2sum -l 256" prints them): several times faster
// than SHA-256 here, and a run hashes every rewritten file twice. Kept originals and journal
// lines are on disk before the file they keep is replaced, so after a crash at any moment each
// file is either as it was or has its copy.

// How what is written is made durable: `file` flushes one file's data (fdatasync), `file_system`
// a whole file system (syncfs). Both return 0 or -1 with errno set. A restore point and the
// rewrite batches that use it flush through these, so a test can make one fail and see that no
// name is switched unless its way back is on disk.
struct DiskFlush {
    int (*file)(int fd) = ::fdatasync;
    int (*file_system)(int fd) = ::syncfs;
};

// One file of a restore point.
struct RestoreEntry {
    std::uint64_t number = 0;  // the copy's name under "files"
    std::string path;          // the file that was rewritten (links resolved)
    std::string old_checksum;
    std::string new_checksum;  // empty while an office handler had the file
    std::uint64_t size = 0;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    timespec access_time{};
    timespec modify_time{};
    std::string temporary;  // the name of the run's new file beside it, until switched in
    bool dropped = false;   // kept for a handler that then changed nothing
    bool restored = false;  // undone already
};

// What a restore point's journal says.
struct RestorePointInfo {
    std::string id;      // the folder's name
    std::string folder;  // its full path
    timespec created{};
    std::string search_text;
    std::string replace_text;
    std::string start_folder;
    std::vector<RestoreEntry> entries;  // in journal order, dropped ones left out
    bool ended = false;                 // the run ended normally, or what it left was cleared since

    // Files still to be restored.
    int Pending() const;
};

// The restore point a replace run writes. Thread-safe: the run's workers keep their files at the
// same time.
class RestorePoint {
  public:
    // Makes a new restore point under `base` (created, private, when missing). Fails, with
    // nothing made, when the folder cannot be written or is not the user's own (see
    // CheckRestoreFolder).
    static Status Create(const std::string& base, const std::string& search_text,
                         const std::string& replace_text, const std::string& start_folder,
                         std::unique_ptr<RestorePoint>& made);
    ~RestorePoint();
    RestorePoint(const RestorePoint&) = delete;
    RestorePoint& operator=(const RestorePoint&) = delete;

    // Keeps `original`, the content of `target` in the state `before`, and notes that it will
    // hold `replaced`. Returns only when both are on disk.
    Status Keep(const std::string& target, const struct stat& before, std::string_view original,
                std::string_view replaced);

    // A replace run keeps its originals in batches: KeepOriginal for each file as it is worked
    // out, then, for the batch, one flush of the restore point's file system (FileSystem, with
    // syncfs) and Record, before any of the batch's names is switched.
    struct Kept {
        std::uint64_t number = 0;
        std::string line;  // the journal line, without the new file's name
    };
    // Keeps the original of `rewrite` (the file as read, its checksums worked out) without
    // flushing it: a hard link to the old file itself where the file system allows (a rewrite
    // never writes to it), else a clone of it, else a copy with its holes. `rewrite.before` is
    // brought up to date (a link changes the file's status time); a file changed since it was
    // read is refused.
    Status KeepOriginal(PreparedRewrite& rewrite, Kept& kept);
    // Forgets a kept original whose rewrite was given up.
    void Drop(const Kept& kept);
    // The same after its journal line was recorded: the journal then says it was not rewritten,
    // so lists and undo count only the files the run really rewrote.
    void Forget(const Kept& kept);
    // Appends the journal lines of a batch, each `kept.line` with the name of its new file, and
    // flushes the journal once.
    Status Record(const std::vector<std::string>& lines);
    // A descriptor on the restore point's file system.
    int FileSystem() const { return point_; }
    // How the journal, the kept copies and the batches that keep originals here are flushed
    // (fdatasync and syncfs unless changed). Set before the first file is kept; read-only after.
    void SetDiskFlush(const DiskFlush& flush) { flush_ = flush; }
    const DiskFlush& Flush() const { return flush_; }
    // Notes that the run ended with everything it did on disk; a later run need not look for
    // its temporary files.
    Status End();

    // Ends the run's restore point: removes it when it keeps no file. Returns whether it stays.
    bool Finish();

    const std::string& Folder() const { return folder_; }
    const std::string& Id() const { return id_; }
    int Files() const { return kept_.load(); }

  private:
    RestorePoint(std::string folder, std::string id, int base, int point, int journal,
                 int files_folder);
    Status WriteCopy(std::uint64_t number, std::string_view bytes);
    // The copy and its journal line, both on disk when it returns.
    Status KeepCopy(std::uint64_t number, const std::string& target, const struct stat& before,
                    std::string_view original, const std::string& new_checksum);
    Status AppendJournal(const std::string& line);
    static std::string EntryLine(std::uint64_t number, const std::string& target,
                                 const struct stat& before, const std::string& old_checksum,
                                 std::uint64_t old_size, const std::string& new_checksum);

    const std::string folder_;
    const std::string id_;
    // Everything in the restore point is reached through these, never by its path again.
    const int base_;
    const int point_;
    std::mutex journal_mutex_;
    const int journal_;       // appended under journal_mutex_
    const int files_folder_;  // flushed after each new copy
    std::atomic<std::uint64_t> next_number_{1};
    std::atomic<int> kept_{0};
    DiskFlush flush_;
};

// Whether a path lies in the restore-point folder `base`, as given or with its links resolved: a
// replace run leaves the kept copies alone even when that folder is inside the searched tree.
class RestoreFolderGuard {
  public:
    explicit RestoreFolderGuard(const std::string& base);
    bool Contains(const std::string& path) const;

  private:
    std::vector<std::string> prefixes_;  // each ends in "/"
};

// The restore points under `base` that still have files to restore, newest first. Folders that
// are not restore points are left out.
std::vector<RestorePointInfo> ListRestorePoints(const std::string& base);

// Reads one restore point's journal.
Status ReadRestorePoint(const std::string& folder, RestorePointInfo& info);

// What an undo did.
struct UndoOutcome {
    int restored = 0;  // files put back (not those that were as before already)
    struct Refusal {
        std::string path;
        std::string reason;
    };
    std::vector<Refusal> refused;  // left as they are
    bool removed = false;          // every file was restored and the restore point is gone
};

// Puts back every file of the restore point in `folder` that still holds what the run wrote:
// its old bytes, permissions and times, in one rename each. A file changed since the run is
// not touched and is listed with the reason, as is one that could not be put back for any other
// reason (running out of memory included). Memory stays bounded by a block whatever the files'
// sizes: the file is checked and its kept original copied into a new file beside it a block at
// a time before the switch. A fully restored restore point is removed, and so is the last
// rewrite's content (LastRewritePath) when it is what this run wrote into a file now put back.
Status UndoRestorePoint(const std::string& folder, UndoOutcome& outcome);

// Removes the oldest restore points under `base` beyond `keep` (-1 keeps all).
void PruneRestorePoints(const std::string& base, int keep);

// Removes one restore point (only a folder with a restore-point journal).
Status RemoveRestorePoint(const std::string& folder);

// Removes the new files that replace runs under `base` killed before they ended left beside
// the files they were rewriting: only those their journals name, and only while each is still a
// file of the user's that the run could have made. Returns their paths.
std::vector<std::string> RemoveLeftovers(const std::string& base);

// Whether `base` can hold restore points: a folder of the user's own that nobody else may write
// to, reached without a link another user owns. ENOENT when it does not exist (yet). Every
// function here refuses a folder that fails this: a list is then empty.
Status CheckRestoreFolder(const std::string& base);

}  // namespace ferret
