#include "reports/summary_report.h"

#include <exception>

#include "engine/file_records.h"
#include "office/office_handlers.h"
#include "reports/quoted_name.h"
#include "settings/error_log.h"
#include "util/text_fold.h"

namespace ferret {
namespace {

const std::string kDashes(80, '-');

const char* OnOff(bool on) {
    return on ? "ON" : "OFF";
}

void AppendSheetLines(std::string& out, FileRecord& file) {
    std::string previous_sheet;
    for (const SpreadsheetHit& hit : file.SheetHits()) {
        if (!EqualsIgnoringCase(hit.SheetName(), previous_sheet)) {
            out.append("\n\t\tSheet: " + EscapedText(hit.SheetName()) + "\n");
        }
        out.append("\t\t\t" + EscapedText(hit.Cell()) + "\n");
        previous_sheet = hit.SheetName();
    }
}

}  // namespace

std::string ShortenedFolder(const std::string& root_path, const std::string& folder) {
    std::string trimmed = folder;
    while (!trimmed.empty() && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    if (trimmed.empty()) {
        return folder.empty() ? root_path : "..." + root_path;
    }
    std::string out;
    std::size_t start = 0;
    for (std::size_t at = root_path.find(trimmed); at != std::string::npos;
         at = root_path.find(trimmed, start)) {
        out.append(root_path, start, at - start).append("...");
        start = at + trimmed.size();
    }
    return out.append(root_path, start);
}

std::string BuildSummaryReport(const FileRecords* files, const SummaryHeader& header,
                               const SummaryTotals& totals, bool with_file_list,
                               const SummaryHooks& hooks) {
    const bool searched = !header.search_text.empty();
    std::string out;
    out.append(
        kDashes + "\n" + "Ferret v" + std::to_string(header.version_major) + "." +
        std::to_string(header.version_minor) + ".0." + std::to_string(header.version_revision) +
        " Results\n" + kDashes + "\n" + "Search string: " + header.search_text + "\n" +
        "Replace string: " + header.replace_text + "\n\n" + "File Mask: " + header.file_mask +
        "\n\n" + "Use Regular Expressions:  " + OnOff(header.regex) + "\n" +
        "Include subfolders:  " + OnOff(header.recursive) + "\n" + "Ignore Case:         " +
        OnOff(header.ignore_case) + "\n" + (header.whole_word ? "Whole Words Only:    ON\n" : "") +
        "\n" + "Root Search Directory: \n" + QuotedName(header.folder) + "\n" +
        "(this will be replaced by .../ in the report section)\n");
    if (!header.skip_folders.empty() || header.use_ignore_files || header.skip_binary) {
        out.append("\n");
        if (!header.skip_folders.empty()) {
            out.append("Folders skipped:     " + EscapedText(header.skip_folders) + "\n");
        }
        if (header.use_ignore_files) {
            out.append("Skip files that .gitignore skips:  ON\n");
        }
        if (header.skip_binary) {
            out.append("Skip binary files:   ON\n");
        }
    }
    if (header.preview) {
        out.append("\nA preview: nothing was written.\n");
    }
    if (header.undone) {
        out.append("\nUndone: the files this replace run changed were put back.\n");
    }
    if (!header.restore_point.empty()) {
        out.append("\nRestore point (Tools > Undo Last Replace): \n" +
                   QuotedName(header.restore_point) + "\n");
    }
    out.append(kDashes + "\n\n");
    // A search keeps the files it left out as binary in its list, uncounted.
    const std::int32_t total_files =
        (files != nullptr ? files->Total() : 0) - (searched ? header.binary_left_out : 0);
    if (with_file_list) {
        out.append("File(s):\n");
        if (searched) {
            out.append("   [..] - Items found in the file\n\n");
        }
        try {
            if (files != nullptr) {
                for (FileRecord& file : *files) {
                    const std::int32_t hits = file.ItemsFound();
                    if (hits >= 1 || !searched) {
                        if (hits >= 1) {
                            out.append(" [" + std::to_string(hits) + "]\t");
                        }
                        // One line a file, whatever its name holds.
                        out.append(QuotedName(
                            ShortenedFolder(file.RootPath(), header.folder) + file.Filename(),
                            file.Inside() != nullptr && file.Inside()->Strays()));
                        if (IsSpreadsheetName(file.Filename()) && hooks.handled_by_office &&
                            hooks.handled_by_office(file.Filename())) {
                            AppendSheetLines(out, file);
                        }
                        out.append("\n");
                    }
                    if (hooks.stop_requested && hooks.stop_requested()) {
                        break;
                    }
                }
            }
        } catch (const std::exception& error) {
            if (!LogError("frmMain: DisplaySummary", kLogNumberUnexpected, error.what()) &&
                hooks.log_failed) {
                hooks.log_failed();
            }
        }
    }
    out.append("\n" + kDashes + "\n");
    if (searched) {
        out.append("Your search string was found " + std::to_string(totals.strings_found) +
                   " times in " + std::to_string(totals.files_with_hits) + " files out of " +
                   std::to_string(total_files) + " total files searched.");
    } else {
        out.append("Your search resulted in " + std::to_string(total_files) +
                   " total files matched.");
    }
    if (header.binary_left_out > 0) {
        out.append(" " + std::to_string(header.binary_left_out) +
                   (header.binary_left_out == 1 ? " binary file was" : " binary files were") +
                   " left out.");
    }
    out.append("\n\nReport generated: " + hooks.generated_at + "\n" + kDashes + "\n" + kMakerName +
               " - " + kMakerWebAddress);
    return out;
}

}  // namespace ferret
