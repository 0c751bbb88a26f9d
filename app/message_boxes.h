#pragma once

#include <QMessageBox>

#include "util/user_message.h"

class QWidget;

namespace ferret {

QMessageBox::Icon MessageBoxIcon(MessageIcon icon);

// Shows `message` in a box over `parent` without waiting for an answer, so no caller is held up
// by it; the box goes away when it is closed. From the window's thread only.
void OpenMessageBox(QWidget* parent, const UserMessage& message);

}  // namespace ferret
