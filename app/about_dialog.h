#pragma once

class QWidget;

namespace ferret {

// "About Ferret": the version and the credits scrolling upwards, until OK.
void ShowAboutDialog(QWidget* owner);

}  // namespace ferret
