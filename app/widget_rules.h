#pragma once

class QComboBox;
class QWidget;

namespace ferret {

// Typed text is the user's: the box's list is offered in a popup as the user types, matched
// with case, and goes into the box only when the user picks an entry. Enter runs what the box
// shows.
void OfferListWithoutTakingIt(QComboBox* box);

// The wheel changes `control`'s value only while it has the focus; otherwise the wheel goes on
// to what holds it (a panel that scrolls), and the control does not take the focus from it.
void TakeWheelOnlyWhenFocused(QWidget* control);

}  // namespace ferret
