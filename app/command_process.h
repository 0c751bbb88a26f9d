#pragma once

#include "app/command_line.h"
#include "app/run_driver.h"
#include "engine/search_fields.h"

namespace ferret {

// Exit statuses of an unattended run.
inline constexpr int kExitDone = 0;
inline constexpr int kExitNotDone = 1;   // the run ended, but some files could not be done
inline constexpr int kExitBadInput = 2;  // a saved search, folder or report file failed

// The search fields as the window starts with them: the start folder, mask and subfolder
// option from the settings.
SearchFields LoadStartupFields();

// The unattended run: fills `fields` from the switches or from the saved search that -config
// names, runs the search that -e asks for and writes the report file that -l names (the summary
// with the file list, whatever report type the user has chosen, which is left as it was).
// Problems are told on standard error through the view. Returns the exit status.
int CommandProcess(const CommandLine& line, RunDriver& driver, RunView& view, SearchFields& fields);

}  // namespace ferret
