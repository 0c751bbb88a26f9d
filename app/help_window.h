#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace ferret {

// The help pages that ship with the program, in a window of their own that stays open beside
// the main window. Links between pages stay in the window; links to the web go to the browser.
class HelpWindow : public QDialog {
  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows the table of contents. False (after a message) when the pages are not installed.
    bool ShowContents();
    // The page on show, for tests.
    QString CurrentPage() const;
    QString PageText() const;

  private:
    QTextBrowser* browser_;
};

}  // namespace ferret
