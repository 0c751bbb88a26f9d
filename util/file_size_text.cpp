#include "util/file_size_text.h"

#include "util/app_locale.h"

namespace ferret {

std::string FormatFileSize(std::uint64_t size) {
    constexpr double kKiB = 1024.0;
    constexpr double kMiB = 1048576.0;
    const std::uint64_t kb = size / 1024;
    const double bytes = static_cast<double>(size);
    if (size < 1024) {
        return FormatNumber(bytes, 0, true) + " bytes";
    }
    if (kb < 10) {
        return FormatNumber(bytes / kKiB, 2, false) + " KB";
    }
    if (kb < 1000) {
        return FormatNumber(bytes / kKiB, 1, false) + " KB";
    }
    if (kb < 10000) {
        return FormatNumber(bytes / kMiB, 2, false) + " MB";
    }
    if (kb < 1000000) {
        return FormatNumber(bytes / kMiB, 1, false) + " MB";
    }
    if (kb < 10000000) {
        return FormatNumber(bytes / kMiB / 1024, 2, false) + " GB";
    }
    return FormatNumber(bytes / kMiB / 1024, 1, true) + " GB";
}

}  // namespace ferret
