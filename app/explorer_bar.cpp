#include "app/explorer_bar.h"

#include <QEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>
#include <utility>

namespace ferret {

namespace {

// A panel title's access key opens the panel and goes to its first control, where a click on
// the title opens or closes it: the key never hides what the user asked to reach.
class TitleKey : public QObject {
  public:
    TitleKey(QWidget* body, std::function<void()> open, QObject* parent)
        : QObject(parent), body_(body), open_(std::move(open)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Shortcut) {
            return QObject::eventFilter(watched, event);
        }
        open_();
        // The first control Tab would reach in the panel.
        for (QWidget* next = body_->nextInFocusChain(); next != body_ && next != nullptr;
             next = next->nextInFocusChain()) {
            if (body_->isAncestorOf(next) && next->isVisibleTo(body_) && next->isEnabled() &&
                (next->focusPolicy() & Qt::TabFocus) != 0) {
                next->setFocus(Qt::ShortcutFocusReason);
                break;
            }
        }
        return true;
    }

  private:
    QWidget* body_;
    std::function<void()> open_;
};

}  // namespace

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
    button->installEventFilter(new TitleKey(
        body, [this, key] { SetExpanded(key, true); }, button));
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
