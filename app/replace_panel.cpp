#include "app/replace_panel.h"

#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>

#include "app/explorer_bar.h"

namespace ferret {

ReplacePanel::ReplacePanel(ExplorerBar& bar, QObject* owner) : QObject(owner) {
    QWidget* panel =
        bar.AddPanel(QStringLiteral("Replace"), QStringLiteral("&Replace Criteria"), false);
    auto* label = new QLabel(QStringLiteral("Text t&o replace in the file:"));
    panel->layout()->addWidget(label);
    replace_ = new QLineEdit;
    label->setBuddy(replace_);
    replace_->setObjectName(QStringLiteral("txtReplace"));
    replace_->setToolTip(
        QStringLiteral("This is the text that will be used to replace the search string"));
    panel->layout()->addWidget(replace_);
    connect(replace_, &QLineEdit::textChanged, this, [this] {
        if (on_text_changed) {
            on_text_changed();
        }
    });
    replace_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(replace_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ShowMenu(at); });
}

void ReplacePanel::ShowMenu(const QPoint& at) {
    QMenu menu(replace_);
    QMenu* special = menu.addMenu(QStringLiteral("Special"));
    const std::pair<const char*, const char*> markers[] = {
        {"New Line (CrLf)", "^^CrLf"}, {"Tab", "^^Tab"}, {"Blank (empty string)", "^^Blank"}};
    for (const auto& [caption, marker] : markers) {
        const QString text = QString::fromLatin1(marker);
        connect(special->addAction(QString::fromLatin1(caption)), &QAction::triggered, this,
                [this, text] { replace_->setText(text); });
    }
    menu.addSeparator();
    connect(menu.addAction(QStringLiteral("Cut")), &QAction::triggered, replace_, &QLineEdit::cut);
    connect(menu.addAction(QStringLiteral("Copy")), &QAction::triggered, replace_,
            &QLineEdit::copy);
    connect(menu.addAction(QStringLiteral("Paste")), &QAction::triggered, replace_,
            &QLineEdit::paste);
    menu.exec(replace_->mapToGlobal(at));
}

void ReplacePanel::ReadInto(SearchFields& fields) const {
    fields.replace_text = replace_->text().toStdString();
}

void ReplacePanel::Show(const SearchFields& fields) {
    replace_->setText(QString::fromStdString(fields.replace_text));
}

QString ReplacePanel::Text() const {
    return replace_->text();
}

void ReplacePanel::SetRunning(bool running) {
    replace_->setEnabled(!running);
}

}  // namespace ferret
