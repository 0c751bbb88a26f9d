#pragma once

#include <QString>
#include <string>

#include "engine/restore_point.h"
#include "util/status.h"

class QWidget;

namespace ferret {

// The questions and answers around undoing a replace run from the window.

// The restore point Tools > Undo Last Replace undoes: the newest in `base`. Empty, after telling
// the user, when there is none or the folder cannot be used.
std::string NewestRestorePoint(QWidget* owner, const std::string& base);
// Whether the restore point in `folder` is to be undone: false, after telling the user, when it
// cannot be read; when `ask`, the user is shown the run and says yes or no.
bool ConfirmUndo(QWidget* owner, const std::string& folder, bool ask);
// What an undo did (`status` its failure), in a box that does not block the window. Returns the
// status bar's text for it.
QString ShowUndoOutcome(QWidget* owner, const Status& status, const UndoOutcome& outcome);

}  // namespace ferret
