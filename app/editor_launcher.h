#pragma once

#include <string>

#include "app/editor_command.h"
#include "settings/app_settings.h"

class QWidget;

namespace ferret {

// The editor command "Open in Editor" uses: the "EditorCommand" setting, or when that is empty
// the command for the desktop's default application for text/plain (DefaultEditorCommand).
std::string EditorCommand(const AppSettings& settings);

// Starts `command` (see EditorArguments) on `place`, detached: the editor outlives Ferret and is
// never waited for. Returns why it could not be started (a sentence without its full stop), or
// an empty text.
std::string StartEditor(const std::string& command, const EditorPlace& place);

// What "Open in Editor" does: starts the user's editor on `place`. When it cannot, says why in a
// box over `owner` (not waited for), logs it under "frmMain: OpenInEditor" and returns false.
// GUI thread only.
bool OpenInEditor(QWidget* owner, const EditorPlace& place);

}  // namespace ferret
