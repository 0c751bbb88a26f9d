#pragma once

class QWidget;

namespace ferret {

// Shrinks `window` to the available room of the screen it opens on (without panels and docks)
// and moves it inside that room, so that no edge, title or button lies off screen at any scale
// factor. A window that already fits keeps its size and place.
void FitOnScreen(QWidget& window);

}  // namespace ferret
