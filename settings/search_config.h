#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/ini_file.h"
#include "util/file_handle.h"
#include "util/own_folder.h"
#include "util/status.h"

namespace ferret {

// The contents of a search configuration file (".frs"). The options are 1 (on) or 0 (off).
struct SearchSettings {
    std::string search, replace, path, file_mask;
    std::int32_t sub_folders = 0, ignore_case = 0, regex = 0;
    // Newer keys, written only when set, so a search that does not use them is saved as before
    // and a file without them loads as it always did.
    std::string skip_folders;                    // "Search Criteria" SkipFolders
    std::int32_t git_ignore = 0, no_binary = 0;  // "Options" GitIgnore, NoBinary
    std::int32_t whole_word = 0;                 // "Options" WholeWord
    std::int32_t archives = 0;                   // "Options" Archives
};

// Deletes an existing file of that name first, then writes section "Search Criteria" keys Search,
// Replace, Path, FileMask (and SkipFolders when not empty) and section "Options" keys SubFolders,
// IgnoreCase, RegEx (decimal; then GitIgnore, NoBinary, WholeWord and Archives when not 0), in that
// order, so the file holds these keys and nothing else. NULs in the texts are dropped; a text
// holding a line break cannot be stored and fails the save. Stops at the first failed write and
// returns its error (with the path and the reason).
[[nodiscard]] Status SaveSearchSettings(const std::string& file, const SearchSettings& settings);

// Loads the values (a key that is missing loads as empty or 0). A missing file gives an error with
// number ENOENT and leaves `settings` untouched (callers decide: the window clears its fields, the
// command line stops); so does a file that cannot be read. An "Options" value that is missing or
// not a whole number loads as 0, and the rest of the file is still used.
[[nodiscard]] Status LoadSearchSettings(const std::string& file, SearchSettings& settings);

// Writes `text` and one "\n" to `path`, replacing any file of that name: atomically for a regular
// file or a new one (WriteFileAtomically), straight into it when the target is a FIFO of ours, a
// terminal, /dev/null or a file this process has open (/dev/stdout, /dev/fd/N). The path is
// taken as OpenOutputPlace takes it: a link of another user on the way or at the end is not
// followed unless they own what it leads to. Refused: any other device, another user's FIFO, and
// another user's file where others may write or where their link led (IsOthersOutput). A FIFO
// without a reader is an error rather than a wait without end. Errors carry the path and the
// reason.
[[nodiscard]] Status WriteReportFile(const std::string& path, std::string_view text);
// The same with exactly `bytes`.
[[nodiscard]] Status WriteOutputFile(const std::string& path, std::string_view bytes);

// WriteOutputFile a part at a time, for an output as long as a run makes it: a file is put in
// place whole when Finish succeeds (given up, the old file as it was, when a step fails or the
// object goes first); a pipe, a terminal or a file this process has open gets each part as it
// comes.
class OutputStream {
  public:
    [[nodiscard]] Status Open(const std::string& path);
    [[nodiscard]] Status Write(std::string_view bytes);
    [[nodiscard]] Status Finish();

  private:
    std::string path_;
    OutputPlace place_;
    AtomicFile file_;
    bool whole_ = false;  // a file, written through file_
    Fd direct_;           // a FIFO or terminal
    int inherited_ = -1;  // a descriptor this process has open
};

}  // namespace ferret
