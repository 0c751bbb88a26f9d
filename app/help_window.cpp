#include "app/help_window.h"

#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "util/app_paths.h"

namespace ferret {

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent), browser_(new QTextBrowser) {
    setWindowTitle(QStringLiteral("Ferret Help"));
    resize(760, 600);
    browser_->setOpenLinks(false);
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.isRelative() || url.isLocalFile()) {
            browser_->setSource(browser_->source().resolved(url));
        } else {
            QDesktopServices::openUrl(url);
        }
    });
    auto* back = new QPushButton(QStringLiteral("&Back"));
    auto* forward = new QPushButton(QStringLiteral("&Forward"));
    auto* contents = new QPushButton(QStringLiteral("&Contents"));
    auto* close = new QPushButton(QStringLiteral("Close"));
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QWidget::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QWidget::setEnabled);
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    connect(contents, &QPushButton::clicked, this, [this] { ShowContents(); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(forward);
    buttons->addWidget(contents);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_, 1);
}

bool HelpWindow::ShowContents() {
    const QString folder = QString::fromStdString(ShippedFolder("help"));
    const QString index = QDir(folder).filePath(QStringLiteral("index.html"));
    if (folder.isEmpty() || !QFileInfo::exists(index)) {
        QMessageBox::information(parentWidget(), QStringLiteral("Ferret Help"),
                                 QStringLiteral("The help pages are not installed."));
        return false;
    }
    browser_->setSource(QUrl::fromLocalFile(index));
    show();
    raise();
    activateWindow();
    return true;
}

QString HelpWindow::CurrentPage() const {
    return browser_->source().fileName();
}

QString HelpWindow::PageText() const {
    return browser_->toPlainText();
}

}  // namespace ferret
