#include "engine/date_time.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace ferret {
namespace {

TEST(DateTime, CivilRoundTripAndWeekday) {
    EXPECT_DOUBLE_EQ(DateTimeFromCivil(1899, 12, 30), 0);
    EXPECT_DOUBLE_EQ(DateTimeFromCivil(1900, 1, 1), 2);
    EXPECT_DOUBLE_EQ(DateTimeFromCivil(2026, 12, 6, 18, 0, 0), 46362.75);
    const CivilDate date = CivilFromDateTime(DateTimeFromCivil(2024, 2, 29, 23, 59, 59));
    EXPECT_EQ(date.year, 2024);
    EXPECT_EQ(date.month, 2);
    EXPECT_EQ(date.day, 29);
    EXPECT_EQ(DayOfWeek(DateTimeFromCivil(2026, 12, 6)), 0);  // a Sunday
    EXPECT_EQ(DayOfWeek(DateTimeFromCivil(2026, 12, 12)), 6);
}

TEST(DateTime, FileTimesBecomeLocalTimeRoundedToTheSecond) {
    const char* saved = std::getenv("TZ");
    const std::string old = saved != nullptr ? saved : "";
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);  // no zone database needed
    tzset();
    // 2026-07-01 12:00:00 UTC is 08:00:00 in New York (daylight time).
    const timespec noon_utc{1782907200, 600'000'000};
    EXPECT_DOUBLE_EQ(LocalDateTimeFromFileTime(noon_utc), DateTimeFromCivil(2026, 7, 1, 8, 0, 1));
    setenv("TZ", old.c_str(), 1);
    tzset();
}

}  // namespace
}  // namespace ferret
