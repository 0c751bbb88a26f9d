#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/date_time.h"
#include "engine/file_records.h"

namespace ferret {

// The date filter kinds of DateType.
enum : std::int32_t {
    kDateWithinWeek = 0,
    kDateWithinMonth = 1,
    kDateWithinYear = 2,
    kDateBetween = 3,
    kDateAny = 4,
};
// Which file time the "between" filter tests (FileDateType).
enum : std::int32_t { kFileDateModified = 0, kFileDateAccessed = 1, kFileDateCreated = 2 };

struct FileTimes {
    DateTime modified = 0;
    DateTime accessed = 0;
    DateTime created = 0;
};

// The date filter on its own, all times local. Week, month and year count calendar boundaries
// from the file's modified date to `today` and accept at most one; "between" compares the chosen
// time with both inclusive bounds; an unknown filter accepts nothing.
bool PassesDateTest(std::int32_t date_type, DateTime from, DateTime to, std::int32_t file_date_type,
                    const FileTimes& times, DateTime today);

// What lets a walk be stopped or paused from another thread; either may be null. Both are
// looked at before each folder is read.
struct WalkControl {
    const std::atomic<bool>* stop = nullptr;   // set: the walk ends with what it has listed
    const std::atomic<bool>* pause = nullptr;  // set: the walk waits (its time stands still)
    // How many of the records told as ordered (WalkWatcher::ordered) their taker is done with.
    // Given, the walk keeps about `ahead` records beyond those (twice that and a few folders'
    // worth at most), so memory stays the same however many files it lists; at the largest
    // value it goes on freely.
    const std::atomic<std::size_t>* taken = nullptr;
    std::size_t ahead = 0;
};

// Told of the files a walk lists while it walks, so that work on them can start before the walk
// ends. `listed` gets each folder's accepted files as soon as the folder is read, on the walk's
// own threads, in no fixed order; `ending` comes once after the last `listed`, however the walk
// ends. A record is valid until `ending` returns; only those of the final list (Files()) live on
// after it. Either may be empty.
// A folder by device and inode.
struct FolderId {
    dev_t device = 0;
    ino_t inode = 0;
};

struct WalkWatcher {
    std::function<void(const std::vector<FileRecord*>& records)> listed;
    std::function<void()> ending;
    // The list's files in their order, handed over a part at a time as soon as every folder
    // before them is read, so they can be worked on in order while the walk goes on: the
    // watcher owns them, and Files() holds those not handed over, which follow them. On the
    // walk's threads, one call at a time, before `ending`.
    std::function<void(std::vector<std::unique_ptr<FileRecord>>& records)> ordered;
    // What the walk could not list, with the reason: a folder (its path ends in "/") that could
    // not be read, a link it would not follow. On the walk's threads, before `ending`.
    std::function<void(const std::string& path, const std::string& reason)> not_listed;
};

// Walks a folder tree and collects the regular files whose names, dates and sizes pass the
// filters, depth first, each folder's entries in name order (ignoring case, then by bytes).
// Folders whose names start with "." are never entered; links to folders are followed, but each
// folder (device and inode) is entered once, at its first place in the walk's order, so link
// cycles end and links cannot multiply the walk. The kernel's own file systems (proc, sysfs,
// devtmpfs and the like) are not entered unless the walk starts inside one. FIFOs, sockets and
// devices are counted as entries and never listed or opened. Files are never opened.
//
// One finder serves one run; it is used from one thread at a time (the walk itself reads
// folders on a few threads of its own and returns when they are done). Property changes during
// PerformSearch do not affect that walk. Without date and size filters the files' sizes and
// times are read when first asked for (FileRecord::SetDetailsPending).
class FileFinder {
  public:
    FileFinder();
    ~FileFinder();
    FileFinder(const FileFinder&) = delete;
    FileFinder& operator=(const FileFinder&) = delete;

    // Where accepted files are added. After TakeFiles a fresh empty collection is made, with
    // this finder as its Parent.
    FileRecords& Files();
    // Hands the collection over (to become the run's result set).
    std::unique_ptr<FileRecords> TakeFiles();

    // Root of the walk, kept with a trailing "/". Default "/".
    const std::string& StartDirectory() const { return start_directory_; }
    void SetStartDirectory(std::string folder);

    // 1 lists names that match FilterMask, 0 names that do not; other values list nothing.
    std::int32_t SearchType() const { return search_type_; }
    void SetSearchType(std::int32_t type) { search_type_ = type; }

    // kDateWithinWeek .. kDateAny (default); other values list nothing.
    std::int32_t DateType() const { return date_type_; }
    void SetDateType(std::int32_t type) { date_type_ = type; }
    DateTime DateFrom() const { return date_from_; }
    void SetDateFrom(DateTime when) { date_from_ = when; }
    DateTime DateTo() const { return date_to_; }
    void SetDateTo(DateTime when) { date_to_ = when; }
    std::int32_t FileDateType() const { return file_date_type_; }
    void SetFileDateType(std::int32_t type) { file_date_type_ = type; }

    // Default "*.txt".
    const std::string& FilterMask() const { return filter_mask_; }
    void SetFilterMask(std::string mask) { filter_mask_ = std::move(mask); }

    // In bytes; exactly -1 (the default) means no size filter. Both bounds are inclusive.
    double FileSizeLimit() const { return file_size_limit_; }
    void SetFileSizeLimit(double bytes) { file_size_limit_ = bytes; }
    bool GreaterThanSize() const { return greater_than_size_; }
    void SetGreaterThanSize(bool at_least) { greater_than_size_ = at_least; }

    // Default true.
    bool Recursive() const { return recursive_; }
    void SetRecursive(bool recursive) { recursive_ = recursive; }

    // Results of the last completed walk: "0.25  seconds", entries seen ("." and ".."
    // included), names that passed the mask before the date and size filters.
    const std::string& SearchTime() const { return search_time_; }
    std::int32_t Searched() const { return searched_; }
    std::int32_t Matched() const { return matched_; }

    // A folder the walk never enters, by device and inode, however it is reached (the restore
    // folder: the way back of earlier runs). Default: none.
    void SetExcludedFolder(std::optional<FolderId> folder) { excluded_ = folder; }

    // Follows only links that are the user's or belong to the owner of what they point to, as
    // the kernel does in shared sticky folders (for a run that rewrites files); the others are
    // told through the watcher. Default: every link is followed.
    void SetOwnLinksOnly(bool own) { own_links_only_ = own; }

    // Folder names the walk never enters, in the mask's syntax (";"-separated, "*" and "?",
    // case ignored). Default: empty, none.
    void SetSkipFolders(std::string mask) { skip_folders_ = std::move(mask); }
    // Leaves out what the ignore files leave out (IgnoreScope): ignored folders are not entered,
    // ignored files not listed. Default: off.
    void SetIgnoreFiles(bool on) { ignore_files_ = on; }
    // Opens each file that passes the filters and leaves it out when its first block marks it
    // as binary (LeftOutAsBinary). For a run that only lists; a search tells binary files from
    // the block it reads anyway. `office_handlers` (GetHandlerExtensions' list): documents a
    // search would hand to the office suite are kept, as a search keeps them. Default: off.
    void SetSkipBinary(bool on, std::string office_handlers = {}) {
        skip_binary_ = on;
        office_handlers_ = std::move(office_handlers);
    }
    // Lists archives and compressed files (LooksLikeArchive) whatever the mask and the size
    // filter say: a search applies those to what is inside them. Default: off.
    void SetArchivesListed(bool on) { archives_listed_ = on; }
    // Files the last walk left out as binary.
    std::int32_t BinaryLeftOut() const { return binary_left_out_; }

    // Stop and pause for the next walks. Default: neither.
    void SetControl(WalkControl control) { control_ = control; }
    // Who is told of files as they are listed, for the next walks. Default: nobody.
    void SetWatcher(WalkWatcher watcher) { watcher_ = std::move(watcher); }
    // True when the last walk was stopped: the files listed before the stop stay.
    bool Stopped() const { return stopped_; }

    // Runs one walk, then raises SearchCompleted. A failure ends the walk early: the files found
    // so far stay, the counts and time keep their earlier values.
    void PerformSearch();
    std::function<void()> SearchCompleted;

  private:
    void Completed();

    std::unique_ptr<FileRecords> files_;
    std::string start_directory_ = "/";
    std::int32_t search_type_ = 1;
    std::int32_t date_type_ = kDateAny;
    DateTime date_from_ = 0;
    DateTime date_to_ = 0;
    std::int32_t file_date_type_ = kFileDateModified;
    std::string filter_mask_ = "*.txt";
    double file_size_limit_ = -1;
    bool greater_than_size_ = false;
    bool recursive_ = true;
    std::string search_time_;
    std::int32_t searched_ = 0;
    std::int32_t matched_ = 0;
    WalkControl control_;
    WalkWatcher watcher_;
    std::optional<FolderId> excluded_;
    bool own_links_only_ = false;
    std::string skip_folders_;
    bool archives_listed_ = false;
    bool ignore_files_ = false;
    bool skip_binary_ = false;
    std::string office_handlers_;
    std::int32_t binary_left_out_ = 0;
    bool stopped_ = false;
};

}  // namespace ferret
