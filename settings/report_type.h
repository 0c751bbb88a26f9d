#pragma once

#include <optional>

namespace ferret {

// The report a run shows, by the code "ReportType" stores.
enum class ReportType {
    kFileList = 0,             // the detailed file list
    kStructured = 1,           // the folder tree
    kSummary = 2,              // the summary text
    kSummaryWithFileList = 3,  // the summary text with every file
    kHitLines = 4,             // each hit's line
};
inline constexpr int kReportTypeCount = 5;

// The type of a stored code; none for a code no report has.
inline std::optional<ReportType> ReportTypeOfCode(int code) {
    if (code < 0 || code >= kReportTypeCount) {
        return std::nullopt;
    }
    return static_cast<ReportType>(code);
}

inline int ReportCode(ReportType type) {
    return static_cast<int>(type);
}

// The summary reports show in the text box, the others in views of their own.
inline bool IsSummary(ReportType type) {
    return type == ReportType::kSummary || type == ReportType::kSummaryWithFileList;
}

}  // namespace ferret
