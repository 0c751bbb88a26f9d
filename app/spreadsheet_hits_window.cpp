#include "app/spreadsheet_hits_window.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include "office/spreadsheet_hits.h"

namespace ferret {

SpreadsheetHitsWindow::SpreadsheetHitsWindow(QWidget* owner) : QWidget(owner, Qt::Tool) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Excel Search Results"));
    resize(320, 240);
    list_ = new QTreeWidget;
    list_->setObjectName(QStringLiteral("lvResults"));
    list_->setColumnCount(2);
    list_->setHeaderLabels({QStringLiteral("Sheet Name"), QStringLiteral("Cell")});
    list_->setRootIsDecorated(false);
    list_->setToolTip(QStringLiteral("Press 'Escape' to close this window"));
    list_->viewport()->installEventFilter(this);
    list_->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
}

void SpreadsheetHitsWindow::SetSheetHits(const SpreadsheetHits* results) {
    list_->clear();
    if (results == nullptr) {
        return;
    }
    for (const SpreadsheetHit& hit : *results) {
        list_->addTopLevelItem(new QTreeWidgetItem(
            {QString::fromStdString(hit.SheetName()), QString::fromStdString(hit.Cell())}));
    }
}

void SpreadsheetHitsWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Space) {
        close();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

bool SpreadsheetHitsWindow::eventFilter(QObject* watched, QEvent* event) {
    // The list's keys close the window too; a press on the list moves it, as on a title bar.
    if (event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Space) {
            close();
            return true;
        }
    }
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && windowHandle() != nullptr) {
        windowHandle()->startSystemMove();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace ferret
