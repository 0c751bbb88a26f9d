#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>

class QComboBox;
class QFileSystemModel;
class QTreeView;
class QWidget;

namespace ferret {

// The folder to search: an editable box whose drop-down is the folder tree. A click in the
// box, F4 or Alt+Down opens the tree over `area` (the box is at its top); a click or Enter in
// the tree picks a folder, and Escape, F4 or the focus going elsewhere closes it.
class FolderBox : public QObject {
  public:
    explicit FolderBox(QWidget* area);
    ~FolderBox() override;

    QComboBox* Box() const { return box_; }
    QString Folder() const;
    // Shows `folder` in the box and, when it exists, selects it in the tree.
    void SetFolder(const QString& folder);
    void SetRunning(bool running);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Toggle(bool focus_tree);
    void Place();

    QWidget* area_;
    QComboBox* box_ = nullptr;
    QTreeView* tree_ = nullptr;
    QFileSystemModel* model_ = nullptr;
    bool guard_ = false;  // the box's text is being set from the tree or the fields
    QMetaObject::Connection focus_watch_;
};

}  // namespace ferret
