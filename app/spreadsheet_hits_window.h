#pragma once

#include <QWidget>

class QTreeWidget;

namespace ferret {

class SpreadsheetHits;

// The hit cells of one spreadsheet: sheet name and cell, one row each. Escape or Space closes
// it; it can be dragged by its list.
class SpreadsheetHitsWindow : public QWidget {
  public:
    explicit SpreadsheetHitsWindow(QWidget* owner = nullptr);

    // The hits to show; null shows an empty list. Copied: the window may outlive the run.
    void SetSheetHits(const SpreadsheetHits* results);
    QTreeWidget* List() const { return list_; }

  protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QTreeWidget* list_;
};

}  // namespace ferret
