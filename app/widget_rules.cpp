#include "app/widget_rules.h"

#include <QComboBox>
#include <QCompleter>
#include <QEvent>
#include <QWidget>

namespace ferret {
namespace {

class WheelGuard : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel && watched->isWidgetType() &&
            !static_cast<QWidget*>(watched)->hasFocus()) {
            event->ignore();  // on to the parent, which scrolls
            return true;
        }
        return false;
    }
};

}  // namespace

void OfferListWithoutTakingIt(QComboBox* box) {
    auto* completer = new QCompleter(box->model(), box);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    // Also what the box matches on Enter and focus out: a history entry in other case must
    // not take the typed text's place.
    completer->setCaseSensitivity(Qt::CaseSensitive);
    box->setCompleter(completer);
}

void TakeWheelOnlyWhenFocused(QWidget* control) {
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(new WheelGuard(control));
}

}  // namespace ferret
