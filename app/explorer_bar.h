#pragma once

#include <QScrollArea>
#include <QString>
#include <map>

class QToolButton;
class QVBoxLayout;
class QWidget;

namespace ferret {

// The left column of the main window: titled panels, each opened and closed by a click on its
// title, stacked in a scroll area.
class ExplorerBar : public QScrollArea {
  public:
    explicit ExplorerBar(QWidget* parent = nullptr);

    // Adds a panel at the bottom and returns the widget that holds its items. An access key in
    // `title` ("&") opens the panel and goes to its first control.
    QWidget* AddPanel(const QString& key, const QString& title, bool expanded = true);
    void SetExpanded(const QString& key, bool expanded);
    bool IsExpanded(const QString& key) const;
    // Panel keys in order, for tests.
    QStringList Keys() const;

  private:
    struct Panel {
        QToolButton* title;
        QWidget* body;
    };
    QVBoxLayout* column_;
    std::map<QString, Panel> panels_;
    QStringList order_;
};

}  // namespace ferret
