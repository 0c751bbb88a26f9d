#include "engine/date_time.h"

#include <cmath>

namespace ferret {
namespace {

// Day 0 of DateTime is 30 December 1899, 25,569 days before 1 January 1970.
constexpr std::int64_t kEpochOffsetDays = 25569;

// Days since 1 January 1970 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

CivilDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

DateTime LocalDateTimeFromUnix(std::time_t seconds) {
    tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        return static_cast<double>(seconds) / kSecondsPerDay + kEpochOffsetDays;
    }
    return DateTimeFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec);
}

}  // namespace

DateTime DateTimeFromCivil(int year, int month, int day, int hour, int minute, int second) {
    const std::int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kEpochOffsetDays;
    return static_cast<double>(days) + (hour * 3600.0 + minute * 60.0 + second) / kSecondsPerDay;
}

std::int64_t DayNumber(DateTime when) {
    return static_cast<std::int64_t>(std::floor(when));
}

CivilDate CivilFromDateTime(DateTime when) {
    return CivilFromDays(DayNumber(when) - kEpochOffsetDays);
}

int DayOfWeek(DateTime when) {
    // Day 0 (30 December 1899) was a Saturday.
    const std::int64_t weekday = (DayNumber(when) + 6) % 7;
    return static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
}

DateTime LocalDateTimeFromFileTime(const timespec& file_time) {
    std::time_t seconds = file_time.tv_sec;
    if (file_time.tv_nsec >= 500'000'000) {
        ++seconds;
    }
    return LocalDateTimeFromUnix(seconds);
}

DateTime CurrentLocalDateTime() {
    return LocalDateTimeFromUnix(std::time(nullptr));
}

std::int64_t SundaysBetween(DateTime from, DateTime to) {
    // Count whole weeks between the Sundays that start each date's week.
    const std::int64_t from_sunday = DayNumber(from) - DayOfWeek(from);
    const std::int64_t to_sunday = DayNumber(to) - DayOfWeek(to);
    return (to_sunday - from_sunday) / 7;
}

std::int64_t MonthsBetween(DateTime from, DateTime to) {
    const CivilDate a = CivilFromDateTime(from);
    const CivilDate b = CivilFromDateTime(to);
    return (static_cast<std::int64_t>(b.year) - a.year) * 12 + (b.month - a.month);
}

std::int64_t YearsBetween(DateTime from, DateTime to) {
    return static_cast<std::int64_t>(CivilFromDateTime(to).year) - CivilFromDateTime(from).year;
}

}  // namespace ferret
