#pragma once

#include <cstdio>
#include <string>

namespace ferret {

// Exit statuses of "-undo" beyond kExitDone (every file restored).
inline constexpr int kExitUndoPartly = 1;   // some files had changed and were left as they are
inline constexpr int kExitUndoNothing = 2;  // no such restore point, or it could not be read

// The "-undo" command line, without a window: "list" lists the restore points that can be
// undone, newest first; an empty target undoes the newest; any other text names one by its id.
// Results go to `out`, files left alone and errors to `err`. Returns the exit status.
int UndoCommand(const std::string& target, std::FILE* out, std::FILE* err);

// A restore point's time for people: local date and time, "yyyy-MM-dd HH:mm:ss".
std::string RestorePointTime(long long seconds);

}  // namespace ferret
