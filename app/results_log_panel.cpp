#include "app/results_log_panel.h"

#include <QLayout>
#include <QTextEdit>

#include "app/explorer_bar.h"

namespace ferret {

ResultsLogPanel::ResultsLogPanel(ExplorerBar& bar, QObject* owner) : QObject(owner) {
    QWidget* results = bar.AddPanel(QStringLiteral("Results"), QStringLiteral("R&esults"), false);
    log_ = new QTextEdit;
    log_->setObjectName(QStringLiteral("txtResults"));
    log_->setReadOnly(true);
    log_->setTabChangesFocus(true);
    log_->setMinimumHeight(120);
    results->layout()->addWidget(log_);
}

void ResultsLogPanel::SetText(const QString& text) {
    log_->setPlainText(text);
}

void ResultsLogPanel::Append(const QString& text) {
    log_->moveCursor(QTextCursor::End);
    log_->insertPlainText(text);
}

}  // namespace ferret
