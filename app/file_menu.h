#pragma once

#include <optional>
#include <string>

#include "engine/search_fields.h"

class QWidget;

namespace ferret {

class HitLinesModel;

// The File menu's work with files, each asking for its file over `owner` and telling the user
// what went wrong there.

// A saved search (".frs") into `fields`: from `file`, or from one the user picks when it is
// empty. A file that does not exist clears the saved fields, as an empty search would. False
// when cancelled or unreadable.
bool OpenSavedSearch(QWidget* owner, std::string file, SearchFields& fields);
// `fields` into a saved search the user picks. False when cancelled or not written.
bool SaveSearchAs(QWidget* owner, const SearchFields& fields);
// The report text into a file the user picks. False when cancelled or not written.
bool SaveReportAs(QWidget* owner, const std::string& report);
// Every hit line of `lines` into a file the user picks, as -hits writes them; the file is put in
// place whole once written. False when cancelled or not written.
bool SaveHitLinesAs(QWidget* owner, const HitLinesModel& lines);

}  // namespace ferret
