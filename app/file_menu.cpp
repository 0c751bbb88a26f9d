#include "app/file_menu.h"

#include <errno.h>

#include <QMessageBox>

#include "app/file_dialogs.h"
#include "app/hit_lines_view.h"
#include "app/qt_text.h"
#include "app/saved_search.h"
#include "reports/summary_report.h"
#include "settings/search_config.h"

namespace ferret {

namespace {

constexpr char kConfigurationFilter[] = "Search Configuration Files (*.frs)|*.frs";

constexpr char kTitle[] = "Select a file: ";

}  // namespace

bool OpenSavedSearch(QWidget* owner, std::string file, SearchFields& fields) {
    if (file.empty()) {
        file = FileDialogs::OpenFile(owner, kTitle, kConfigurationFilter);
        if (file.empty()) {
            return false;
        }
    }
    SearchSettings saved;
    const Status loaded = LoadSearchSettings(file, saved);
    if (!loaded.ok() && loaded.number() != ENOENT) {
        QMessageBox::warning(owner, QStringLiteral("Open Configuration"), Q(loaded.description()));
        return false;
    }
    ApplySavedSearch(saved, fields);
    return true;
}

bool SaveSearchAs(QWidget* owner, const SearchFields& fields) {
    const std::string file = FileDialogs::SaveFile(owner, kTitle, kConfigurationFilter, "frs");
    if (file.empty()) {
        return false;
    }
    if (const Status saved = SaveSearchSettings(file, SavedSearchOf(fields)); !saved.ok()) {
        QMessageBox::warning(owner, QStringLiteral("Save Configuration"), Q(saved.description()));
        return false;
    }
    return true;
}

bool SaveHitLinesAs(QWidget* owner, const HitLinesModel& lines) {
    const std::string file = FileDialogs::SaveFile(owner, kTitle, "Hit lines (*.txt)|*.txt", "txt");
    if (file.empty()) {
        return false;
    }
    OutputStream out;
    Status status = out.Open(file);
    if (status.ok()) {
        lines.ForEachQuickfixPiece([&](std::string_view piece) {
            status = out.Write(piece);
            return status.ok();
        });
    }
    if (status.ok()) {
        status = out.Finish();
    }
    if (!status.ok()) {
        QMessageBox::warning(owner, QStringLiteral("Save Report"), Q(status.description()));
        return false;
    }
    return true;
}

bool SaveReportAs(QWidget* owner, const std::string& report) {
    const std::string file = FileDialogs::SaveFile(owner, kTitle, "Log files (*.log)|*.log", "log");
    if (file.empty()) {
        return false;
    }
    if (const Status written = WriteReportFile(file, report); !written.ok()) {
        QMessageBox::warning(owner, QStringLiteral("Save Report"), Q(written.description()));
        return false;
    }
    return true;
}

}  // namespace ferret
