#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "engine/search_fields.h"

class QLineEdit;
class QPoint;

namespace ferret {

class ExplorerBar;

// The "Replace Criteria" panel of the explorer bar: the replacement text, with a menu of the
// markers for what a one-line box cannot hold (a line break, a tab, nothing).
class ReplacePanel : public QObject {
  public:
    ReplacePanel(ExplorerBar& bar, QObject* owner);

    void ReadInto(SearchFields& fields) const;
    void Show(const SearchFields& fields);
    QString Text() const;
    // The text cannot be changed while a run uses it.
    void SetRunning(bool running);

    // Called when the text changes.
    std::function<void()> on_text_changed;

  private:
    void ShowMenu(const QPoint& at);

    QLineEdit* replace_ = nullptr;
};

}  // namespace ferret
