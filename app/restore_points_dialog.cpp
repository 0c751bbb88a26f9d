#include "app/restore_points_dialog.h"

#include <errno.h>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/message_boxes.h"
#include "app/undo_command.h"
#include "settings/error_log.h"

namespace ferret {

RestorePointsDialog::RestorePointsDialog(std::string base, QWidget* parent)
    : QDialog(parent), base_(std::move(base)) {
    setWindowTitle(QStringLiteral("Restore Points"));
    list_ = new QTreeWidget;
    list_->setObjectName(QStringLiteral("lvRestorePoints"));
    list_->setRootIsDecorated(false);
    list_->setAllColumnsShowFocus(true);
    list_->setHeaderLabels({QStringLiteral("Date"), QStringLiteral("Search"),
                            QStringLiteral("Replace"), QStringLiteral("Files"),
                            QStringLiteral("Folder")});
    undo_ = new QPushButton(QStringLiteral("&Undo"));
    undo_->setObjectName(QStringLiteral("cmdUndo"));
    undo_->setDefault(true);
    delete_ = new QPushButton(QStringLiteral("&Delete"));
    delete_->setObjectName(QStringLiteral("cmdDelete"));
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("cmdClose"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(undo_);
    buttons->addWidget(delete_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    QString where_text = QStringLiteral("Replace runs that can be undone, newest first, kept in ") +
                         QString::fromStdString(base_);
    if (const Status trusted = CheckRestoreFolder(base_);
        !trusted.ok() && trusted.number() != ENOENT) {
        where_text = QStringLiteral("The restore points cannot be used: ") +
                     QString::fromStdString(trusted.description());
    }
    auto* where = new QLabel(where_text);
    where->setObjectName(QStringLiteral("lblWhere"));
    where->setWordWrap(true);
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(where);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(720, 360);

    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        undo_->setEnabled(SelectedRow() >= 0);
        delete_->setEnabled(SelectedRow() >= 0);
    });
    connect(list_, &QTreeWidget::itemDoubleClicked, undo_, &QPushButton::click);
    connect(undo_, &QPushButton::clicked, this, [this] {
        if (const int row = SelectedRow(); row >= 0) {
            chosen_ = points_[static_cast<std::size_t>(row)].folder;
            accept();
        }
    });
    connect(delete_, &QPushButton::clicked, this, [this] { DeleteSelected(true); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    Reload();
}

void RestorePointsDialog::Reload() {
    points_ = ListRestorePoints(base_);
    list_->clear();
    for (const RestorePointInfo& point : points_) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(RestorePointTime(point.created.tv_sec)));
        item->setText(1, QString::fromStdString(point.search_text));
        item->setText(2, QString::fromStdString(point.replace_text));
        item->setText(3, QString::number(point.Pending()));
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(4, QString::fromStdString(point.start_folder));
        item->setToolTip(0, QString::fromStdString(point.folder));
    }
    for (int column = 0; column < 4; ++column) {
        list_->resizeColumnToContents(column);
    }
    if (!points_.empty()) {
        list_->setCurrentItem(list_->topLevelItem(0));
    }
    undo_->setEnabled(!points_.empty());
    delete_->setEnabled(!points_.empty());
}

int RestorePointsDialog::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

void RestorePointsDialog::DeleteSelected(bool ask) {
    const int row = SelectedRow();
    if (row < 0) {
        return;
    }
    const RestorePointInfo& point = points_[static_cast<std::size_t>(row)];
    if (ask && QMessageBox::question(
                   this, QStringLiteral("Delete Restore Point"),
                   QStringLiteral("Delete the restore point of %1? Its %2 file(s) can then no "
                                  "longer be put back.")
                       .arg(QString::fromStdString(RestorePointTime(point.created.tv_sec)))
                       .arg(point.Pending())) != QMessageBox::Yes) {
        return;
    }
    if (const Status removed = RemoveRestorePoint(point.folder); !removed.ok()) {
        if (!LogError("frmRestorePoints: DeleteSelected", removed)) {
            OpenMessageBox(this, LogFailureMessage());
        }
        QMessageBox::warning(this, QStringLiteral("Delete Restore Point"),
                             QString::fromStdString(removed.description()));
    }
    Reload();
}

}  // namespace ferret
