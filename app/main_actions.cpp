#include "app/main_actions.h"

#include <QAction>
#include <QDesktopServices>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QStyle>
#include <QToolBar>
#include <QUrl>

#include "reports/summary_report.h"

namespace ferret {

MainActions::MainActions(QMainWindow& window, Handlers handlers)
    : QObject(&window), window_(&window), handlers_(std::move(handlers)) {
    BuildToolbars(window);
    BuildMenus(window);
}

void MainActions::Wire(QAction* action, const std::function<void()>& handler) {
    connect(action, &QAction::triggered, this, [&handler] {
        if (handler) {
            handler();
        }
    });
}

void MainActions::BuildToolbars(QMainWindow& window) {
    QStyle* style = window.style();
    QToolBar* search_bar = window.addToolBar(QStringLiteral("Search"));
    search_bar->setObjectName(QStringLiteral("tbSearch"));
    search_bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    search_ = search_bar->addAction(style->standardIcon(QStyle::SP_FileDialogContentsView),
                                    QStringLiteral("Search"));
    search_->setToolTip(QStringLiteral("Start search process"));
    replace_ = search_bar->addAction(style->standardIcon(QStyle::SP_BrowserReload),
                                     QStringLiteral("Replace"));
    replace_->setToolTip(QStringLiteral("Start replace process"));
    preview_ = search_bar->addAction(style->standardIcon(QStyle::SP_FileDialogDetailedView),
                                     QStringLiteral("&Preview"));
    preview_->setObjectName(QStringLiteral("cmdPreviewReplace"));
    preview_->setToolTip(
        QStringLiteral("See every change a replace would make and choose which to make"));
    preview_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+R")));
    Wire(preview_, handlers_.preview);
    Wire(search_, handlers_.search);
    Wire(replace_, handlers_.replace);
    QToolBar* run_bar = window.addToolBar(QStringLiteral("Run"));
    run_bar->setObjectName(QStringLiteral("tbMain"));
    run_bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    stop_ = run_bar->addAction(style->standardIcon(QStyle::SP_MediaStop), QStringLiteral("Stop"));
    stop_->setToolTip(QStringLiteral("Stop the current search"));
    pause_ =
        run_bar->addAction(style->standardIcon(QStyle::SP_MediaPause), QStringLiteral("Pause"));
    pause_->setToolTip(QStringLiteral("Pause the current search"));
    Wire(stop_, handlers_.stop);
    Wire(pause_, handlers_.pause);
}

void MainActions::BuildMenus(QMainWindow& window) {
    QMenu* file = window.menuBar()->addMenu(QStringLiteral("F&ile"));
    QAction* open = file->addAction(QStringLiteral("&Open Configuration"));
    open->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    Wire(open, handlers_.open_configuration);
    QAction* save = file->addAction(QStringLiteral("&Save Configuration"));
    save->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    Wire(save, handlers_.save_configuration);
    file->addSeparator();
    save_report_ = file->addAction(QStringLiteral("Save &Report"));
    Wire(save_report_, handlers_.save_report);
    print_report_ = file->addAction(QStringLiteral("&Print Report"));
    print_report_->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    Wire(print_report_, handlers_.print_report);
    EnableReportMenus(false);
    file->addSeparator();
    connect(file->addAction(QStringLiteral("E&xit")), &QAction::triggered, &window,
            &QWidget::close);

    QMenu* tools = window.menuBar()->addMenu(QStringLiteral("&Tools"));
    QMenu* types = tools->addMenu(QStringLiteral("&Reporting Type"));
    const QStringList type_texts = {
        QStringLiteral("&Detailed file list"), QStringLiteral("S&tructured report"),
        QStringLiteral("&Summary report"), QStringLiteral("Summary report with &file list"),
        QStringLiteral("&Hit lines")};
    for (int code = 0; code < kReportTypeCount; ++code) {
        report_types_[code] = types->addAction(type_texts[code]);
        report_types_[code]->setCheckable(true);
        const ReportType report = static_cast<ReportType>(code);
        connect(report_types_[code], &QAction::triggered, this, [this, report] {
            if (handlers_.report_type) {
                handlers_.report_type(report);
            }
        });
    }
    tools->addSeparator();
    tools->addAction(preview_);
    tools->addSeparator();
    Wire(tools->addAction(QStringLiteral("&Clear Search History")), handlers_.clear_history);
    tools->addSeparator();
    QAction* undo = tools->addAction(QStringLiteral("&Undo Last Replace"));
    undo->setObjectName(QStringLiteral("mnuUndoLastReplace"));
    Wire(undo, handlers_.undo_last_replace);
    QAction* points = tools->addAction(QStringLiteral("Restore Po&ints..."));
    points->setObjectName(QStringLiteral("mnuRestorePoints"));
    Wire(points, handlers_.restore_points);
    tools->addSeparator();
    Wire(tools->addAction(QStringLiteral("&Options")), handlers_.options);

    QMenu* about = window.menuBar()->addMenu(QStringLiteral("&About"));
    QAction* help = about->addAction(QStringLiteral("&Help"));
    help->setShortcut(QKeySequence(Qt::Key_F1));
    Wire(help, handlers_.help);
    about->addSeparator();
    connect(about->addAction(QStringLiteral("&Mallo's Website")), &QAction::triggered, this,
            [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebAddress))); });
    about->addSeparator();
    Wire(about->addAction(QStringLiteral("&About Ferret")), handlers_.about);

    // F10 opens the first menu, as it does in the desktop's other programs.
    auto* menu_key = new QShortcut(QKeySequence(Qt::Key_F10), &window);
    connect(menu_key, &QShortcut::activated, &window,
            [&window, file] { window.menuBar()->setActiveAction(file->menuAction()); });
}

void MainActions::SetRunning(bool running) {
    SetPauseAndStopEnabled(running);
    search_->setEnabled(!running);
}

void MainActions::SetSearchEnabled(bool enabled) {
    search_->setEnabled(enabled);
}

void MainActions::SetPauseAndStopEnabled(bool enabled) {
    pause_->setEnabled(enabled);
    stop_->setEnabled(enabled);
}

void MainActions::SetReplaceEnabled(bool enabled) {
    replace_->setEnabled(enabled);
    preview_->setEnabled(enabled);
}

void MainActions::ShowPaused(bool paused) {
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    pause_->setToolTip(paused ? QStringLiteral("Resume the current search")
                              : QStringLiteral("Pause the current search"));
    pause_->setIcon(
        window_->style()->standardIcon(paused ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
}

bool MainActions::CanPause() const {
    return pause_->isEnabled();
}

void MainActions::CheckReportType(std::optional<ReportType> report) {
    for (int code = 0; code < kReportTypeCount; ++code) {
        report_types_[code]->setChecked(report && code == ReportCode(*report));
    }
}

void MainActions::EnableReportMenus(bool enabled) {
    save_report_->setEnabled(enabled);
    print_report_->setEnabled(enabled);
}

}  // namespace ferret
