#include "app/undo_dialogs.h"

#include <errno.h>

#include <QMessageBox>
#include <vector>

#include "app/qt_text.h"
#include "app/undo_command.h"
#include "settings/error_log.h"

namespace ferret {

std::string NewestRestorePoint(QWidget* owner, const std::string& base) {
    if (const Status trusted = CheckRestoreFolder(base);
        !trusted.ok() && trusted.number() != ENOENT) {
        QMessageBox::warning(
            owner, QStringLiteral("Undo Last Replace"),
            QStringLiteral("The restore points cannot be used: ") + Q(trusted.description()));
        return std::string();
    }
    const std::vector<RestorePointInfo> points = ListRestorePoints(base);
    if (points.empty()) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Undo Last Replace"),
                        QStringLiteral("There is no replace run to undo in ") + Q(base),
                        QMessageBox::Ok, owner);
        box.exec();
        return std::string();
    }
    return points.front().folder;
}

bool ConfirmUndo(QWidget* owner, const std::string& folder, bool ask) {
    RestorePointInfo info;
    if (const Status read = ReadRestorePoint(folder, info); !read.ok()) {
        QMessageBox::warning(owner, QStringLiteral("Undo"), Q(read.description()));
        return false;
    }
    if (!ask) {
        return true;
    }
    const QString question =
        QStringLiteral(
            "Undo the replace run of %1?\n\nSearch: %2\nReplace: %3\nFolder: "
            "%4\nFiles to put back: %5\n\nFiles changed since the run are left "
            "as they are.")
            .arg(Q(RestorePointTime(info.created.tv_sec)), Q(info.search_text),
                 Q(info.replace_text), Q(info.start_folder))
            .arg(info.Pending());
    return QMessageBox::question(owner, QStringLiteral("Undo"), question) == QMessageBox::Yes;
}

QString ShowUndoOutcome(QWidget* owner, const Status& status, const UndoOutcome& outcome) {
    QString text;
    QMessageBox::Icon icon = QMessageBox::Information;
    if (!status.ok()) {
        LogError("frmMain: UndoReplace", status);
        icon = QMessageBox::Warning;
        text = QStringLiteral("The replace run could not be undone: ") + Q(status.description());
    } else {
        text = QStringLiteral("%1 file(s) restored.").arg(outcome.restored);
        if (!outcome.refused.empty()) {
            icon = QMessageBox::Warning;
            text +=
                QStringLiteral("\n\n%1 file(s) were left as they are:").arg(outcome.refused.size());
            constexpr std::size_t kShown = 10;
            for (std::size_t i = 0; i < outcome.refused.size() && i < kShown; ++i) {
                text += QStringLiteral("\n") + Q(outcome.refused[i].path) + QStringLiteral(": ") +
                        Q(outcome.refused[i].reason);
            }
            if (outcome.refused.size() > kShown) {
                text += QStringLiteral("\n...and %1 more").arg(outcome.refused.size() - kShown);
            }
        }
    }
    auto* box = new QMessageBox(icon, QStringLiteral("Undo"), text, QMessageBox::Ok, owner);
    box->setObjectName(QStringLiteral("undoOutcome"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return QStringLiteral("...%1 file(s) restored").arg(outcome.restored);
}

}  // namespace ferret
