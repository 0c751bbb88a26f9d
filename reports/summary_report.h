#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ferret {

class FileRecords;

// The maker's name and web address, for the report's credit line and the about box.
inline constexpr char kMakerName[] = "Mallo";
inline constexpr char kMakerWebAddress[] = "https://mallo.org/ferret";

// What the summary report states about the search, as the window's fields held it.
struct SummaryHeader {
    std::string search_text;
    std::string replace_text;
    std::string file_mask;
    std::string folder;  // the start folder; replaced by "..." in the listed paths
    bool regex = false;
    bool recursive = false;
    bool ignore_case = false;
    bool whole_word = false;    // named only when on
    bool preview = false;       // a preview's report: its counts are of what would change
    bool undone = false;        // the replace run was undone since: its files are as before
    std::string restore_point;  // where the replace run kept the files' originals, if anywhere
    // What the walk left out; named only when used, so other reports read as they always did.
    std::string skip_folders;
    bool use_ignore_files = false;
    bool skip_binary = false;
    std::int32_t binary_left_out = 0;  // files left out as binary
    int version_major = 0;
    int version_minor = 0;
    int version_revision = 0;
};

struct SummaryTotals {
    std::int32_t strings_found = 0;
    std::int32_t files_with_hits = 0;
};

struct SummaryHooks {
    // Asked after each listed file; true ends the list early (the footer is still written).
    std::function<bool()> stop_requested;
    // True for a file the spreadsheet handler searched, whose hit cells are then listed.
    std::function<bool(const std::string& file_name)> handled_by_office;
    // The "Report generated: " time text.
    std::string generated_at;
    // Called for each error-log entry of the build that could not be written (LogError), so the
    // caller can tell the user; may be empty.
    std::function<void()> log_failed = nullptr;
};

// The summary report: header, the file list when `with_file_list` is set (files with hits, or
// every file when there was no search text), the closing sentence and the credit line. Lines end
// in "\n"; each listed file is one line, its path written as QuotedName writes names, and so are
// the start folder and the restore point. `files` may be null (no run yet).
std::string BuildSummaryReport(const FileRecords* files, const SummaryHeader& header,
                               const SummaryTotals& totals, bool with_file_list,
                               const SummaryHooks& hooks);

// The folder part of a listed path: `root_path` with every occurrence of `folder` replaced by
// "...". The root folder "/" shows as "..." in front of the path.
std::string ShortenedFolder(const std::string& root_path, const std::string& folder);

}  // namespace ferret
