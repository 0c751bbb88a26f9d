#include "app/explorer_bar.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace ferret {

ExplorerBar::ExplorerBar(QWidget* parent) : QScrollArea(parent) {
    auto* inner = new QWidget;
    column_ = new QVBoxLayout(inner);
    column_->setContentsMargins(6, 6, 6, 6);
    column_->setSpacing(4);
    column_->addStretch(1);
    setWidget(inner);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

QWidget* ExplorerBar::AddPanel(const QString& key, const QString& title, bool expanded) {
    auto* button = new QToolButton;
    button->setText(title);
    button->setObjectName(QStringLiteral("panel_") + key);
    button->setCheckable(true);
    button->setChecked(expanded);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont bold = button->font();
    bold.setBold(true);
    button->setFont(bold);
    auto* body = new QWidget;
    body->setLayout(new QVBoxLayout);
    body->layout()->setContentsMargins(8, 2, 2, 6);
    body->setVisible(expanded);
    // Insert above the closing stretch.
    column_->insertWidget(column_->count() - 1, button);
    column_->insertWidget(column_->count() - 1, body);
    connect(button, &QToolButton::toggled, this, [this, key](bool on) { SetExpanded(key, on); });
    panels_[key] = {button, body};
    order_.push_back(key);
    return body;
}

void ExplorerBar::SetExpanded(const QString& key, bool expanded) {
    const auto it = panels_.find(key);
    if (it == panels_.end()) {
        return;
    }
    it->second.body->setVisible(expanded);
    it->second.title->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    if (it->second.title->isChecked() != expanded) {
        it->second.title->setChecked(expanded);
    }
}

bool ExplorerBar::IsExpanded(const QString& key) const {
    const auto it = panels_.find(key);
    return it != panels_.end() && !it->second.body->isHidden();
}

QStringList ExplorerBar::Keys() const {
    return order_;
}

}  // namespace ferret
