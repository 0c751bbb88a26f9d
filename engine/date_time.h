#pragma once

#include <cstdint>
#include <ctime>

namespace ferret {

// A point in time as the program's dialogs and filters use it: days since 30 December 1899
// 00:00 with the time of day as the fraction, in local time. Negative values count back from
// that day linearly (days before it are never written to a file, so nothing relies on another
// form). 0 is the "zero date".
using DateTime = double;

inline constexpr double kSecondsPerDay = 86400.0;

DateTime DateTimeFromCivil(int year, int month, int day, int hour = 0, int minute = 0,
                           int second = 0);

struct CivilDate {
    int year;
    int month;  // 1..12
    int day;    // 1..31
};
CivilDate CivilFromDateTime(DateTime when);

// Whole days since 30 December 1899 (the day the time falls on).
std::int64_t DayNumber(DateTime when);

// Day of the week of the day `when` falls on: 0 Sunday .. 6 Saturday.
int DayOfWeek(DateTime when);

// A file time (seconds and nanoseconds since 1970 in universal time) as local time, rounded to
// the nearest second.
DateTime LocalDateTimeFromFileTime(const timespec& file_time);

// The local clock now.
DateTime CurrentLocalDateTime();

// Calendar boundaries crossed from `from` to `to`, counted by calendar dates only (times of day
// play no part); negative when `to` is earlier.
// Weeks: the Sundays after `from` up to and including `to`.
std::int64_t SundaysBetween(DateTime from, DateTime to);
// Months: year difference times 12 plus month difference.
std::int64_t MonthsBetween(DateTime from, DateTime to);
std::int64_t YearsBetween(DateTime from, DateTime to);

}  // namespace ferret
