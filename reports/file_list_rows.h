#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ferret {

class FileRecord;
class FileRecords;

// Stands for the start folder in the folder texts of the list and the tree.
inline constexpr char kRootSelected[] = "(root selected)";

// `root_path` with every occurrence of `start_folder` (its trailing "/" ignored) replaced by
// "(root selected)", case-sensitive. A start folder of "/" puts "(root selected)" in front of the
// path; an empty start folder changes nothing.
std::string RootSelectedFolder(const std::string& root_path, const std::string& start_folder);

// What the reports show of a file beyond its record.
struct FileFacts {
    std::string type;  // the type description, as "Plain text document"
    bool hidden = false;
    bool read_only = false;
    bool system = false;
};

// "H " when hidden, then "R " when read-only, then "S " when system; empty when none.
std::string FlagsText(const FileFacts& facts);

// Gives the facts of the file at a full path. A file that cannot be read gets empty facts.
using FileFactsReader = std::function<FileFacts(const std::string& full_path)>;

// Reads through one FileInfo shared by the calls, without telling the user about files that
// cannot be read. Each returned reader is for one thread.
FileFactsReader SystemFileFactsReader();

// Collections larger than this are not shown at all. The list control the program was first
// written for could not show more than 32,675 rows; the model-based list shows far more, so only
// memory bounds it now (each row costs a few hundred bytes beside its record).
inline constexpr std::int32_t kFileListDisplayLimit = 1000000;

// What the list and the tree are built from besides the records.
struct ReportBuildInput {
    // The folder that was searched, as the folder box holds it ("/data/site" or "/data/site/").
    std::string start_folder;
    // A search text was given: files without hits are left out.
    bool searched = false;
    // Asked after each file shown; true ends the build and keeps what was made so far.
    std::function<bool()> stop_requested;
    // Empty: SystemFileFactsReader().
    FileFactsReader read_facts;
    // Larger collections make no rows (FileListRows::too_many).
    std::int32_t display_limit = kFileListDisplayLimit;
    // Called for each error-log entry of the build that could not be written (LogError), so the
    // caller can tell the user; may be empty.
    std::function<void()> log_failed = nullptr;
};

enum FileListColumn : int {
    kColumnName = 0,
    kColumnFolder = 1,
    kColumnItemsFound = 2,
    kColumnType = 3,
    kColumnSize = 4,
    kColumnFlags = 5,
    kFileListColumnCount = 6,
};

// The column headers, in column order.
extern const std::array<const char*, kFileListColumnCount> kFileListHeaders;

inline constexpr char kTooManyItemsText[] =
    "Too many items to be displayed properly.  Please modify report for results";
inline constexpr char kTooManyItemsTitle[] = "Max Results Exceeded";

// One row of the detailed file list.
struct FileListRow {
    // Owned by the collection the rows were built from (FileListRows::owner keeps it).
    FileRecord* record = nullptr;
    std::array<std::string, kFileListColumnCount> text;
    // Sort keys of the number columns.
    std::int32_t items_found = 0;
    double size_bytes = 0;
};

struct FileListRows {
    std::vector<FileListRow> rows;
    // The collection the rows point into, kept alive for as long as the rows are shown.
    std::shared_ptr<FileRecords> owner;
    // The collection holds more than the display limit's records: no rows were made and the
    // caller shows kTooManyItemsText.
    bool too_many = false;
};

class SizeTextReader;

// Makes the detailed list's row of one file, as BuildFileListRows does for each: for a list
// that fills while the run goes. Stores the file's type in its record. Use on one thread.
class FileListRowMaker {
  public:
    explicit FileListRowMaker(const ReportBuildInput& input);
    ~FileListRowMaker();
    FileListRowMaker(const FileListRowMaker&) = delete;
    FileListRowMaker& operator=(const FileListRowMaker&) = delete;

    // False, making nothing, for a file the list leaves out (no hits after a search).
    bool Make(FileRecord& file, FileListRow& row) const;

  private:
    std::string start_folder_;
    bool searched_;
    FileFactsReader read_facts_;
    std::unique_ptr<SizeTextReader> sizes_;
};

// The rows of the detailed file list, in collection order: files with at least one hit when a
// search text was given, every file otherwise. Stores each file's type in its record
// (SetFiletype). `files` may be null (no run yet). An error ends the build, is logged under
// "frmMain: DisplayFileList" and keeps the rows made so far.
FileListRows BuildFileListRows(const FileRecords* files, const ReportBuildInput& input);
// The same over a run's shared results, which the rows then keep.
FileListRows BuildFileListRows(const std::shared_ptr<FileRecords>& files,
                               const ReportBuildInput& input);

// The number of bytes a size text stands for: "1,023 bytes", "1.00 KB", "512.0 KB", "1.00 MB",
// "3.00 GB", with AppLocale()'s separators; units in any letter case, the blank before them
// optional. An empty or unreadable text is 0.
double SizeTextBytes(const std::string& text);

// Compares texts in case-insensitive natural order ("file9" before "file10"); texts that differ
// only in case or leading zeros are ordered by their bytes. Negative, zero or positive.
int CompareNatural(const std::string& a, const std::string& b);

// The order `rows` take when sorted by `column` (kColumnName..kColumnFlags): entry i is the
// current position of the row that goes to position i. Stable: rows with equal keys keep their
// relative order in both directions. Number columns sort by number, Size by bytes, the others
// by CompareNatural.
std::vector<std::size_t> FileListSortOrder(const std::vector<FileListRow>& rows, int column,
                                           bool ascending);
void SortFileListRows(std::vector<FileListRow>& rows, int column, bool ascending);

// The column-header click rule: every click reverses the direction, also when another column
// than the last one is clicked, so the first click of all sorts descending. The clicked column
// shows the direction arrow, the others none. Lives as long as the window.
class FileListSortToggle {
  public:
    void Click(int column) {
        column_ = column;
        ascending_ = !ascending_;
    }
    // -1 before the first click.
    int column() const { return column_; }
    bool ascending() const { return ascending_; }

  private:
    int column_ = -1;
    bool ascending_ = true;
};

}  // namespace ferret
