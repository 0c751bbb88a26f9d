#include "app/folder_box.h"

#include <QApplication>
#include <QComboBox>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTreeView>

#include "app/qt_text.h"
#include "app/widget_rules.h"
#include "util/app_paths.h"

namespace ferret {

FolderBox::FolderBox(QWidget* area) : QObject(area), area_(area) {
    box_ = new QComboBox;
    box_->setObjectName(QStringLiteral("cboFolder"));
    box_->setEditable(true);
    box_->lineEdit()->setPlaceholderText(QStringLiteral("...select a folder to search"));
    box_->installEventFilter(this);
    box_->lineEdit()->installEventFilter(this);  // most clicks land on the text
    OfferListWithoutTakingIt(box_);
    TakeWheelOnlyWhenFocused(box_);
    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath(QStringLiteral("/"));
    // The tree drops down over the area, as a combo box's list would.
    tree_ = new QTreeView(area);
    tree_->setObjectName(QStringLiteral("ftv"));
    tree_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) {
        tree_->hideColumn(column);
    }
    tree_->setHeaderHidden(true);
    tree_->hide();
    const auto pick = [this](const QModelIndex& index) {
        guard_ = true;
        box_->setEditText(model_->filePath(index));
        tree_->hide();
        guard_ = false;
    };
    connect(tree_, &QTreeView::clicked, this, pick);
    connect(tree_, &QTreeView::activated, this, pick);  // Enter
    // Folders load in the background: keep the current one in sight as its parents arrive.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this] {
        if (tree_->isVisible()) {
            tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
        }
    });
    focus_watch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (tree_->isVisible() && now != nullptr && now != box_ && now != box_->lineEdit() &&
            now != tree_ && !tree_->isAncestorOf(now)) {
            tree_->hide();
        }
    });
    tree_->installEventFilter(this);  // Escape closes it
    area_->installEventFilter(this);  // it follows the area's size
    connect(box_, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (!guard_ && IsFolder(S(text))) {
            tree_->setCurrentIndex(model_->index(text));
        }
    });
}

FolderBox::~FolderBox() {
    // Children going away move the focus, and the tree it looks at may be gone already.
    disconnect(focus_watch_);
}

QString FolderBox::Folder() const {
    return box_->currentText();
}

void FolderBox::SetFolder(const QString& folder) {
    guard_ = true;
    box_->setEditText(folder);
    guard_ = false;
    if (IsFolder(S(folder))) {
        tree_->setCurrentIndex(model_->index(folder));
    }
}

void FolderBox::SetRunning(bool running) {
    box_->setEnabled(!running);
}

void FolderBox::Toggle(bool focus_tree) {
    if (tree_->isVisible()) {
        tree_->hide();
        return;
    }
    Place();
    tree_->show();
    tree_->raise();
    if (focus_tree) {
        tree_->setFocus();
    }
    tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
}

void FolderBox::Place() {
    const int top = box_->y() + box_->height() + 1;
    tree_->setGeometry(box_->x(), top, box_->width(), std::max(0, area_->height() - top));
}

bool FolderBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == area_ && event->type() == QEvent::Resize && tree_->isVisible()) {
        Place();
    }
    if (watched == tree_ && event->type() == QEvent::KeyPress &&
        (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape ||
         static_cast<QKeyEvent*>(event)->key() == Qt::Key_F4)) {
        tree_->hide();
        box_->setFocus();
        return true;
    }
    if (watched == box_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F4 ||
            (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier))) {
            Toggle(true);
            return true;
        }
    }
    // Enter (which then runs the search) and Escape in the box end the tree's job.
    if (event->type() == QEvent::KeyPress && tree_->isVisible() && watched == box_->lineEdit()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
            tree_->hide();
            return key == Qt::Key_Escape;
        }
    }
    if ((watched == box_ || watched == box_->lineEdit()) &&
        event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Toggle(false);  // the text stays ready for typing
        return false;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace ferret
