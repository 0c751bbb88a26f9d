#pragma once

#include <string>

#include "util/status.h"
#include "util/user_message.h"

namespace ferret {

// The log's numbers for errors that have no system number of their own.
inline constexpr char kLogNumberUnexpected[] = "7";     // an exception nothing expected
inline constexpr char kLogNumberTypeMismatch[] = "13";  // a typed value that is no number
inline constexpr char kLogNumberPrintFailed[] = "1";    // printing failed

// Appends one entry to DataFilePath("ferret.log") while the setting "logging" is on (looked at
// on every call, so a change takes effect at once); otherwise does nothing. An entry is one line of
// four TAB-separated fields: the local general date and time, `label` ("frmMain: StartProcess"),
// `number` and `description`; CR, LF and TAB inside a field become blanks. The file is opened and
// closed for each entry, created private to the user, and only ever grows. Its folder is reached as
// an output's (OpenOutputPlace); a link at its name, a file that is not regular, or another user's
// file where others may write (IsOthersOutput) is not written.
//
// Returns false when the entry was due and could not be written (it never throws): the user is
// then to be told LogFailureMessage(), once per entry, by whoever shows messages; the error being
// logged goes no further. Thread-safe: entries of different threads never interleave.
bool LogError(const std::string& label, const std::string& number, const std::string& description);

// The same for an error Status (its number as decimal text); a success logs nothing.
bool LogError(const std::string& label, const Status& status);

// What the user is told of an entry the log could not take.
UserMessage LogFailureMessage();

}  // namespace ferret
