#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "app/run_driver.h"

class QTreeWidget;

namespace ferret {

class ResultMenu;

// The files the last run could not do, with the reasons. A row's right-click menu is the one of
// the result files (open, open the folder, properties and the like).
class ProblemsDialog : public QDialog {
  public:
    ProblemsDialog(const std::vector<RunDriver::FileProblem>& problems, ResultMenu* menu,
                   QWidget* parent = nullptr);

    QTreeWidget* List() const { return list_; }

  private:
    QTreeWidget* list_ = nullptr;
};

}  // namespace ferret
