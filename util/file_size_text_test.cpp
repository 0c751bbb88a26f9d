#include "util/file_size_text.h"

#include <gtest/gtest.h>

#include "util/app_locale.h"

namespace ferret {
namespace {

TEST(FormatFileSize, Rows) {
    const std::pair<std::uint64_t, const char*> rows[] = {
        {0, "0 bytes"},
        {1023, "1,023 bytes"},
        {1024, "1.00 KB"},
        {10239, "10.00 KB"},  // KB count 9: two decimals, rounded
        {10240, "10.0 KB"},
        {1023999, "1000.0 KB"},  // KB count 999
        {1024000, "0.98 MB"},    // KB count 1000 switches to MB
        {1048576, "1.00 MB"},
        {10240000, "9.8 MB"},  // KB count 10000
        {1024000000, "0.95 GB"},
        {3221225472ull, "3.00 GB"},
        {10240000000ull, "9.5 GB"},  // past the GB rows: still a size
        {2000ull << 30, "2,000.0 GB"},
    };
    for (const auto& [size, text] : rows) {
        EXPECT_EQ(FormatFileSize(size), text) << size;
    }
}

TEST(FormatFileSize, FollowsTheLocale) {
    const QLocale saved = AppLocale();
    SetAppLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatFileSize(1023), "1.023 bytes");
    EXPECT_EQ(FormatFileSize(1536), "1,50 KB");
    SetAppLocale(saved);
}

}  // namespace
}  // namespace ferret
