#pragma once

#include <string>

#include "util/status.h"

namespace ferret {

// Appends one entry to DataFilePath("ferret.log") while the setting "logging" is exactly "True"
// (read on every call); otherwise does nothing. An entry is one line of four TAB-separated
// fields: the local general date and time, `label` ("frmMain: StartProcess"), `number` and
// `description`; CR, LF and TAB inside a field become blanks. The file is opened and closed for
// each entry, created private to the user, and only ever grows. Its folder is reached as an
// output's (OpenOutputPlace); a link at its name, a file that is not regular, or another user's
// file where others may write (IsOthersOutput) is not written.
//
// Never fails towards the caller: when the entry cannot be written, the user is told with a
// message box ("Log Error") once per entry, and the error being logged goes no further.
// Thread-safe: entries of different threads never interleave.
void LogError(const std::string& label, const std::string& number, const std::string& description);

// The same for an error Status (its number as decimal text); a success logs nothing.
void LogError(const std::string& label, const Status& status);

}  // namespace ferret
