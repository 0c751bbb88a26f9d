#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <string>

namespace ferret {

// The locale used for every number and date the program shows or writes: the user's locale, or
// English (United States) when the process runs in the C/POSIX locale, so that "#,##0" still
// gives "1,023". Thread-safe to read; SetAppLocale is for tests and must not race with readers.
const QLocale& AppLocale();
void SetAppLocale(const QLocale& locale);

// `value` rounded to `decimals` places with the locale's decimal point; digit groups only when
// `grouping` is set ("#,##0.00" versus "0.00").
std::string FormatNumber(double value, int decimals, bool grouping);

// The general date-and-time text: the locale's short date with a four-digit year followed by the
// time with seconds, as "12/6/2026 5:55:37 AM".
std::string FormatGeneralDateTime(const QDateTime& when);
// Its format, for controls that show and take dates the same way.
QString GeneralDateTimeFormat();

}  // namespace ferret
