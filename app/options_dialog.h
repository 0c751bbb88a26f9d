#pragma once

#include <QDialog>
#include <functional>

#include "settings/app_settings.h"
#include "util/extension_list.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSpinBox;

namespace ferret {

// The options dialog: report type, automatic report update, error logging, quick links, the
// colour scheme, where replace runs keep their restore points and how many, the editor "Open in
// Editor" starts, the approved extension list of replace runs and the two special file handlers.
// It reads the settings once, when built, and writes them back on OK and Apply only; Cancel loses
// what changed since the last Apply. Show it with exec(); afterwards the caller reads the settings
// from the store again, whatever the dialog's result.
//
// Widgets carry the object names of their controls (cbLogging, cboReportType, lbExt, cmdOk, ...).
class OptionsDialog : public QDialog {
  public:
    // Item data of lbFileHandler's items, as given to `handler_available`.
    static constexpr int kWordHandler = 0;
    static constexpr int kExcelHandler = 1;

    // `handler_available` answers whether a handler's office application can be used; it is asked
    // only when the user checks that handler. An empty function means none can.
    explicit OptionsDialog(QWidget* parent = nullptr,
                           std::function<bool(int handler)> handler_available = {});

    // Writes every setting from the controls, as OK and Apply do. On the first value that cannot
    // be written: logs it, tells the user and returns false, leaving the dialog as it was.
    bool SaveAllSettings();

    // Called after each save that succeeded (OK or Apply), while the dialog is still open, so
    // that what shows at once (the colour scheme) can follow.
    std::function<void()> on_saved;

    // What the "Add", "Delete" and "default" buttons do. Deleting refuses (with a message) when
    // no custom extension is selected, even though the button is disabled then.
    void cmdAddExt_Click();
    void cmdDelete_Click();
    void cmdDefault_Click();
    // The "..." button: the folder browser "Undo Folder" into the restore folder box.
    void cmdBrowse_Click();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* BuildGeneralTab();
    QWidget* BuildRestorePointFrame();
    QWidget* BuildEditorFrame();
    QWidget* BuildExtensionTab();
    QWidget* BuildHandlerTab();
    QWidget* BuildEncodingTab();
    void Load();
    void Connect();
    void LoadDefaultExt();
    void LoadCustomExt();
    void ShowExtensions();
    int SelectedExtension() const;
    void HandlerChanged(QListWidgetItem* item);
    void Inform(const QString& text, const QString& title);

    std::function<bool(int)> handler_available_;
    AppSettings settings_;      // as read when the dialog opened, then as last applied
    ExtensionList extensions_;  // what lbExt shows, entry for entry

    QCheckBox* cbLogging_ = nullptr;
    QCheckBox* cbQuickLinks_ = nullptr;
    QCheckBox* cbAutoUpdate_ = nullptr;
    QComboBox* cboColorScheme_ = nullptr;
    QComboBox* cboReportType_ = nullptr;
    QLabel* lblReportType_ = nullptr;
    QSpinBox* spnHitContext_ = nullptr;
    QLineEdit* txtUndoFolder_ = nullptr;
    QLineEdit* txtUndoQuantity_ = nullptr;
    QPushButton* cmdBrowse_ = nullptr;
    QLineEdit* txtEditor_ = nullptr;
    QListWidget* lbExt_ = nullptr;
    QLineEdit* txtExtension_ = nullptr;
    QPushButton* cmdAddExt_ = nullptr;
    QPushButton* cmdDefault_ = nullptr;
    QPushButton* cmdDelete_ = nullptr;
    QListWidget* lbFileHandler_ = nullptr;
    QComboBox* cboTextEncoding_ = nullptr;    // "TextEncoding"; the first item: each file's own
    QComboBox* cboLegacyEncoding_ = nullptr;  // "LegacyEncoding"
    QPushButton* cmdOk_ = nullptr;
    QPushButton* cmdApply_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
};

}  // namespace ferret
