#pragma once

#include <QObject>
#include <QString>

class QTextEdit;

namespace ferret {

class ExplorerBar;

// The "Results" panel of the explorer bar: what the last run counted and did, as text.
class ResultsLogPanel : public QObject {
  public:
    ResultsLogPanel(ExplorerBar& bar, QObject* owner);

    void SetText(const QString& text);
    void Append(const QString& text);

  private:
    QTextEdit* log_ = nullptr;
};

}  // namespace ferret
