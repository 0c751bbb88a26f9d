#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/status.h"

namespace ferret {

// The search texts of earlier runs, kept in DataFilePath("ferret.dat"), section "Search List",
// keys "item_0", "item_1", ... in list order. Errors go to the error log; each function sets
// `log_failed`, when given, to whether an entry of its own could not be written there (see
// LogError), for the caller to tell the user.

// The stored history in file order, empty values left out. A missing file gives an empty list.
std::vector<std::string> GetSearchList(bool* log_failed = nullptr);

// Replaces the stored history with `entries`, numbered afresh from item_0, in one atomic
// rewrite of the file that keeps its other sections. Empty entries are left out; an entry with a
// line break cannot be stored in a profile line and is left out with an entry in the error log.
Status WriteSearchList(const std::vector<std::string>& entries, bool* log_failed = nullptr);

// Saves the list of the search box; an empty list leaves the stored history as it is.
void SaveSearchList(const std::vector<std::string>& entries, bool* log_failed = nullptr);

// Deletes the stored history.
void ClearSearchList(bool* log_failed = nullptr);

// The index of the entry of `items` that equals `text` (exact) or begins with it, letters
// compared ignoring case; -1 when there is none.
int FindComboItem(const std::vector<std::string>& items, std::string_view text, bool exact);

}  // namespace ferret
