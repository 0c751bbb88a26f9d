#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "engine/restore_point.h"

class QPushButton;
class QTreeWidget;

namespace ferret {

// Tools > Restore Points: the replace runs that can be undone, newest first, with their date,
// search and replace texts, files still to restore and start folder. "Undo" closes the dialog
// with the chosen restore point in ChosenFolder; "Delete" removes the chosen one after asking.
class RestorePointsDialog : public QDialog {
  public:
    explicit RestorePointsDialog(std::string base, QWidget* parent = nullptr);

    // The restore point to undo, after the dialog was accepted.
    const std::string& ChosenFolder() const { return chosen_; }
    QTreeWidget* List() const { return list_; }
    // Removes the selected restore point; asks first unless `ask` is false.
    void DeleteSelected(bool ask);
    // Reads the restore points again.
    void Reload();

  private:
    int SelectedRow() const;

    const std::string base_;
    std::vector<RestorePointInfo> points_;  // as the list shows them
    std::string chosen_;
    QTreeWidget* list_ = nullptr;
    QPushButton* undo_ = nullptr;
    QPushButton* delete_ = nullptr;
};

}  // namespace ferret
