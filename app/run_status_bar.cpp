#include "app/run_status_bar.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <limits>

#include "app/task_progress.h"

namespace ferret {

RunStatusBar::RunStatusBar(QStatusBar& bar) : QObject(&bar) {
    for (QLabel*& text : texts_) {
        text = new QLabel;
        bar.addWidget(text, 1);
    }
    // A flat button beside the texts, hidden until it has something to offer; `pressed` is
    // the callback it calls.
    const auto add_button = [&](const char* name, QStyle::StandardPixmap icon, const char* tip,
                                std::function<void()>& pressed) {
        auto* button = new QToolButton;
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoRaise(true);
        button->setIcon(bar.style()->standardIcon(icon));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setToolTip(QString::fromLatin1(tip));
        button->hide();
        bar.addPermanentWidget(button);
        connect(button, &QToolButton::clicked, this, [&pressed] {
            if (pressed) {
                pressed();
            }
        });
        return button;
    };
    not_done_ = add_button("cmdProblems", QStyle::SP_MessageBoxWarning,
                           "Show the files that could not be done", on_show_not_done);
    undo_ = add_button("cmdUndoRun", QStyle::SP_ArrowBack,
                       "Put back the files this replace run changed", on_undo);
    undo_->setText(QStringLiteral("&Undo This Replace"));
    task_progress_ = std::make_unique<TaskProgress>(QStringLiteral("org.mallo.Ferret.desktop"));
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("runProgress"));
    progress_->setMaximumWidth(bar.fontMetrics().averageCharWidth() * 24);
    progress_->hide();
    bar.addPermanentWidget(progress_);
}

RunStatusBar::~RunStatusBar() = default;

void RunStatusBar::SetText(StatusPanel panel, const QString& text) {
    if (panel == StatusPanel::kProgress) {
        progress_text_ = text;
        ShowProgressText();
        return;
    }
    texts_[static_cast<int>(panel)]->setText(text);
}

void RunStatusBar::SetPaused(bool paused) {
    paused_ = paused;
    progress_->setFormat(paused ? QStringLiteral("Paused") : QStringLiteral("%p%"));
    ShowProgressText();
}

void RunStatusBar::ShowProgressText() {
    texts_[static_cast<int>(StatusPanel::kProgress)]->setText(
        paused_ ? QStringLiteral("Paused: ") + progress_text_ : progress_text_);
}

QString RunStatusBar::Text(StatusPanel panel) const {
    return texts_[static_cast<int>(panel)]->text();
}

void RunStatusBar::ShowProgress(std::size_t done, std::size_t total) {
    // Counts beyond an int are shown in thousandths.
    const bool huge = total > static_cast<std::size_t>(std::numeric_limits<int>::max());
    progress_->setRange(0, huge ? 1000 : static_cast<int>(total));
    progress_->setValue(huge ? static_cast<int>(done * 1000 / total) : static_cast<int>(done));
    task_progress_->Show(static_cast<double>(done) / static_cast<double>(total));
}

void RunStatusBar::SetRunning(bool running) {
    // Busy while the files are listed; the count of files done once the search has them all.
    progress_->setRange(0, 0);
    progress_->setVisible(running);
    if (!running) {
        task_progress_->Hide();
        SetPaused(false);
    }
}

void RunStatusBar::ShowUndo(bool shown) {
    undo_->setVisible(shown);
}

void RunStatusBar::ShowNotDone(std::size_t not_done) {
    not_done_->setText(QStringLiteral("%1 file(s) not done").arg(not_done));
    not_done_->setVisible(not_done > 0);
}

}  // namespace ferret
