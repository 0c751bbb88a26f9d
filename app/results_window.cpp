#include "app/results_window.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include "office/excel_results.h"

namespace ferret {

frmResultsExcel::frmResultsExcel(QWidget* owner) : QWidget(owner, Qt::Tool) {
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

void frmResultsExcel::SetExcelResults(const cExcelResults* results) {
    list_->clear();
    if (results == nullptr) {
        return;
    }
    for (const cExcelResult& hit : *results) {
        list_->addTopLevelItem(new QTreeWidgetItem(
            {QString::fromStdString(hit.SheetName()), QString::fromStdString(hit.Cell())}));
    }
}

void frmResultsExcel::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Space) {
        close();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

bool frmResultsExcel::eventFilter(QObject* watched, QEvent* event) {
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
