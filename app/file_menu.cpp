#include "app/file_menu.h"

#include <errno.h>

#include <QMessageBox>

#include "app/file_dialogs.h"
#include "app/saved_search.h"
#include "reports/summary_report.h"
#include "settings/search_config.h"

namespace ferret {
namespace {

constexpr char kConfigurationFilter[] = "Search Configuration Files (*.frs)|*.frs";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The file the user picks to save into, with `extension` added to a bare name. Empty when
// cancelled.
std::string ChooseSaveFile(QWidget* owner, const char* extension, const char* filter) {
    FileDialogs dialog;
    dialog.SetOwner(owner);
    dialog.SetDialogTitle("Select a file: ");
    dialog.SetDefaultExt(extension);
    dialog.SetFilter(filter);
    dialog.Setflags(FileDialogs::OFN_EXPLORER | FileDialogs::OFN_OVERWRITEPROMPT |
                    FileDialogs::OFN_HIDEREADONLY);
    return dialog.ShowSave() > 0 ? dialog.Filename() : std::string();
}

}  // namespace

bool OpenSavedSearch(QWidget* owner, std::string file, SearchFields& fields) {
    if (file.empty()) {
        FileDialogs dialog;
        dialog.SetOwner(owner);
        dialog.SetDialogTitle("Select a file: ");
        dialog.SetDefaultExt("frs");
        dialog.SetFilter(kConfigurationFilter);
        dialog.Setflags(FileDialogs::OFN_EXPLORER | FileDialogs::OFN_HIDEREADONLY);
        if (dialog.ShowOpen() <= 0) {
            return false;
        }
        file = dialog.Filename();
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
    const std::string file = ChooseSaveFile(owner, "frs", kConfigurationFilter);
    if (file.empty()) {
        return false;
    }
    if (const Status saved = SaveSearchSettings(file, SavedSearchOf(fields)); !saved.ok()) {
        QMessageBox::warning(owner, QStringLiteral("Save Configuration"), Q(saved.description()));
        return false;
    }
    return true;
}

bool SaveReportAs(QWidget* owner, const std::string& report) {
    const std::string file = ChooseSaveFile(owner, "log", "Log files (*.log)|*.log");
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
