#include "app/problems_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/result_menu.h"

namespace ferret {

ProblemsDialog::ProblemsDialog(const std::vector<RunDriver::FileProblem>& problems,
                               ResultMenu* menu, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Files Not Done"));
    list_ = new QTreeWidget;
    list_->setObjectName(QStringLiteral("lvProblems"));
    list_->setRootIsDecorated(false);
    list_->setAllColumnsShowFocus(true);
    list_->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Why")});
    for (const RunDriver::FileProblem& problem : problems) {
        auto* item = new QTreeWidgetItem(list_);
        // The text starts with the path; the reason is what follows it.
        std::string why = problem.text;
        if (!problem.path.empty() && why.rfind(problem.path + ": ", 0) == 0) {
            why.erase(0, problem.path.size() + 2);
        }
        item->setText(0, QString::fromStdString(problem.path));
        item->setText(1, QString::fromStdString(why));
        item->setToolTip(1, QString::fromStdString(why));
    }
    list_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this, menu](const QPoint& at) {
        QTreeWidgetItem* item = list_->itemAt(at);
        if (menu == nullptr || item == nullptr || item->text(0).isEmpty()) {
            return;
        }
        menu->Show({item->text(0).toStdString()}, list_->viewport()->mapToGlobal(at));
    });

    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    auto* what =
        new QLabel(QStringLiteral("%1 file(s) could not be done; each was left exactly as it was.")
                       .arg(problems.size()));
    what->setWordWrap(true);
    layout->addWidget(what);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(760, 360);
}

}  // namespace ferret
