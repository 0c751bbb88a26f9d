#include "app/options_dialog.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "app/editor_launcher.h"
#include "app/file_dialogs.h"
#include "app/message_boxes.h"
#include "settings/error_log.h"
#include "util/legacy_text.h"

namespace ferret {
namespace {

// Error number of the log entries for failures that are not a settings Status (out of memory).

// What the encoding boxes offer; any other name iconv knows may be typed.
const char* const kLegacyEncodings[] = {
    "WINDOWS-1252", "ISO-8859-1", "ISO-8859-15",  "WINDOWS-1250", "ISO-8859-2",
    "WINDOWS-1251", "KOI8-R",     "KOI8-U",       "ISO-8859-7",   "WINDOWS-1253",
    "WINDOWS-1254", "ISO-8859-9", "WINDOWS-1255", "WINDOWS-1256", "SHIFT_JIS",
    "EUC-JP",       "GB18030",    "BIG5",         "EUC-KR",       "UTF-8"};
constexpr char kEachOwn[] = "Each file's own (found from its start)";

const char* const kReportTypes[] = {"Detailed file list", "Structured report", "Summary report",
                                    "Summary report with file list", "Hit lines"};

// An entry the error log cannot take is told over the dialog.
template <typename... Args>
void Log(QWidget* dialog, const Args&... args) {
    if (!LogError(args...)) {
        OpenMessageBox(dialog, LogFailureMessage());
    }
}

QLabel* WrappedLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

}  // namespace

OptionsDialog::OptionsDialog(QWidget* parent, std::function<bool(int handler)> handler_available)
    : QDialog(parent), handler_available_(std::move(handler_available)) {
    setWindowTitle(QStringLiteral("Options"));
    auto* tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("tabOptions"));
    tabs->addTab(BuildGeneralTab(), QStringLiteral("&General"));
    tabs->addTab(BuildExtensionTab(), QStringLiteral("A&pproved File List"));
    tabs->addTab(BuildHandlerTab(), QStringLiteral("&Special File Handlers"));
    tabs->addTab(BuildEncodingTab(), QStringLiteral("Text E&ncodings"));

    cmdOk_ = new QPushButton(QStringLiteral("OK"));
    cmdOk_->setObjectName(QStringLiteral("cmdOk"));
    cmdOk_->setDefault(true);
    cmdApply_ = new QPushButton(QStringLiteral("&Apply"));
    cmdApply_->setObjectName(QStringLiteral("cmdApply"));
    cmdCancel_ = new QPushButton(QStringLiteral("Cancel"));
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk_);
    buttons->addWidget(cmdApply_);
    buttons->addWidget(cmdCancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addLayout(buttons);

    Load();
    // Wrapped texts on tab pages do not tell the dialog how tall they are: each gets a width of
    // its own and the height it needs there, so the dialog fits them at any font size.
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->wordWrap()) {
            const int width = label->fontMetrics().averageCharWidth() * 60;
            label->setMinimumWidth(width);
            label->setMinimumHeight(label->heightForWidth(width));
        }
    }
    // Connected only now: filling the controls is not a change by the user.
    Connect();
}

QWidget* OptionsDialog::BuildGeneralTab() {
    cbLogging_ = new QCheckBox(QStringLiteral("Enable &logging"));
    cbLogging_->setObjectName(QStringLiteral("cbLogging"));
    cbQuickLinks_ = new QCheckBox(QStringLiteral("Display Quic&k Links"));
    cbQuickLinks_->setObjectName(QStringLiteral("cbQuickLinks"));
    cboColorScheme_ = new QComboBox;
    cboColorScheme_->setObjectName(QStringLiteral("cboColorScheme"));
    cboColorScheme_->setToolTip(
        QStringLiteral("Following the desktop, Ferret is dark when the desktop prefers dark"));
    auto* scheme_label = new QLabel(QStringLiteral("&Color scheme:"));
    scheme_label->setBuddy(cboColorScheme_);
    auto* scheme_row = new QHBoxLayout;
    scheme_row->addWidget(scheme_label);
    scheme_row->addWidget(cboColorScheme_);
    scheme_row->addStretch();

    auto* reporting = new QGroupBox(QStringLiteral("Reporting Type"));
    cbAutoUpdate_ = new QCheckBox(QStringLiteral("Auto &update results on report change"));
    cbAutoUpdate_->setObjectName(QStringLiteral("cbAutoUpdate"));
    cboReportType_ = new QComboBox;
    cboReportType_->setObjectName(QStringLiteral("cboReportType"));
    lblReportType_ = WrappedLabel(QString());
    lblReportType_->setObjectName(QStringLiteral("lblReportType"));
    auto* type_row = new QHBoxLayout;
    auto* type_label = new QLabel(QStringLiteral("Report T&ype:"));
    type_label->setBuddy(cboReportType_);
    type_row->addWidget(type_label);
    type_row->addWidget(cboReportType_, 1);
    spnHitContext_ = new QSpinBox;
    spnHitContext_->setObjectName(QStringLiteral("spnHitContext"));
    spnHitContext_->setRange(0, 3);
    auto* context_label = new QLabel(QStringLiteral("Lines shown around each &hit line:"));
    context_label->setBuddy(spnHitContext_);
    auto* context_row = new QHBoxLayout;
    context_row->addWidget(context_label);
    context_row->addWidget(spnHitContext_);
    context_row->addStretch();
    auto* reporting_layout = new QVBoxLayout(reporting);
    reporting_layout->addWidget(cbAutoUpdate_);
    reporting_layout->addLayout(type_row);
    reporting_layout->addWidget(lblReportType_);
    reporting_layout->addLayout(context_row);

    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(cbLogging_);
    layout->addWidget(cbQuickLinks_);
    layout->addLayout(scheme_row);
    layout->addWidget(reporting);
    layout->addWidget(BuildRestorePointFrame());
    layout->addWidget(BuildEditorFrame());
    layout->addStretch();
    return page;
}

QWidget* OptionsDialog::BuildRestorePointFrame() {
    auto* frame = new QGroupBox(QStringLiteral("Restore Point "));
    txtUndoFolder_ = new QLineEdit;
    txtUndoFolder_->setObjectName(QStringLiteral("txtUndoFolder"));
    cmdBrowse_ = new QPushButton(QStringLiteral("..."));
    cmdBrowse_->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse_->setToolTip(QStringLiteral("Browse for a directory"));
    cmdBrowse_->setMaximumWidth(cmdBrowse_->fontMetrics().horizontalAdvance(QStringLiteral("...")) +
                                24);
    txtUndoQuantity_ = new QLineEdit;
    txtUndoQuantity_->setObjectName(QStringLiteral("txtUndoQuantity"));
    txtUndoQuantity_->setMaximumWidth(
        txtUndoQuantity_->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    auto* folder_row = new QHBoxLayout;
    auto* folder_label = new QLabel(QStringLiteral("File Di&rectory:"));
    folder_label->setBuddy(txtUndoFolder_);
    folder_row->addWidget(folder_label);
    folder_row->addWidget(txtUndoFolder_, 1);
    folder_row->addWidget(cmdBrowse_);
    auto* quantity_row = new QHBoxLayout;
    auto* quantity_label = new QLabel(QStringLiteral("&Quantity of files to store:"));
    quantity_label->setBuddy(txtUndoQuantity_);
    quantity_row->addWidget(quantity_label);
    quantity_row->addWidget(txtUndoQuantity_);
    quantity_row->addWidget(new QLabel(QStringLiteral("(enter -1 for ALL files)")));
    quantity_row->addStretch();
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(WrappedLabel(QStringLiteral(
        "Before a replace run rewrites a file, its original is kept here, so that the run can "
        "be undone with Tools > Undo Last Replace. The quantity is the number of replace runs "
        "kept; the oldest are removed beyond it, and 0 keeps none.")));
    layout->addLayout(folder_row);
    layout->addLayout(quantity_row);
    return frame;
}

QWidget* OptionsDialog::BuildEditorFrame() {
    auto* frame = new QGroupBox(QStringLiteral("Open in Editor"));
    txtEditor_ = new QLineEdit;
    txtEditor_->setObjectName(QStringLiteral("txtEditor"));
    // What an empty box stands for on this desktop.
    txtEditor_->setPlaceholderText(QString::fromStdString(EditorCommand(AppSettings())));
    auto* label = new QLabel(QStringLiteral("&Editor command:"));
    label->setBuddy(txtEditor_);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(txtEditor_, 1);
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(WrappedLabel(QStringLiteral(
        "The program that opens a file at a hit: %f stands for the file, %l for the line, %c for "
        "the column and %% for a percent sign. Empty: your desktop's text editor.")));
    layout->addLayout(row);
    return frame;
}

QWidget* OptionsDialog::BuildEncodingTab() {
    cboTextEncoding_ = new QComboBox;
    cboTextEncoding_->setObjectName(QStringLiteral("cboTextEncoding"));
    cboTextEncoding_->setEditable(true);
    cboTextEncoding_->addItem(QString::fromLatin1(kEachOwn));
    cboLegacyEncoding_ = new QComboBox;
    cboLegacyEncoding_->setObjectName(QStringLiteral("cboLegacyEncoding"));
    cboLegacyEncoding_->setEditable(true);
    for (const char* name : kLegacyEncodings) {
        cboTextEncoding_->addItem(QString::fromLatin1(name));
        if (std::string_view(name) != "UTF-8") {
            cboLegacyEncoding_->addItem(QString::fromLatin1(name));
        }
    }
    auto* read_label = new QLabel(QStringLiteral("Read files &in:"));
    read_label->setBuddy(cboTextEncoding_);
    auto* unsure_label = new QLabel(QStringLiteral("&When unsure:"));
    unsure_label->setBuddy(cboLegacyEncoding_);
    auto* grid = new QGridLayout;
    grid->addWidget(read_label, 0, 0);
    grid->addWidget(cboTextEncoding_, 0, 1);
    grid->addWidget(unsure_label, 1, 0);
    grid->addWidget(cboLegacyEncoding_, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(WrappedLabel(QStringLiteral(
        "A file that starts with a byte-order mark is read in the encoding the mark names, and one "
        "whose start is UTF-8 (or plain ASCII) as UTF-8. Any other file is read in the encoding "
        "its start shows (windows-1252, ISO-8859-2, KOI8-R, Shift_JIS, GB18030, ...), found "
        "file by file, or when that is not sure in the encoding chosen for that. A replace writes "
        "each file in the encoding it was read in.")));
    layout->addLayout(grid);
    layout->addWidget(WrappedLabel(QStringLiteral(
        "Choose one encoding to read every file without a mark in it instead. Any name that "
        "\"iconv -l\" lists may be typed.")));
    layout->addStretch();
    return page;
}

QWidget* OptionsDialog::BuildExtensionTab() {
    lbExt_ = new QListWidget;
    lbExt_->setObjectName(QStringLiteral("lbExt"));
    lbExt_->setSelectionMode(QAbstractItemView::SingleSelection);
    txtExtension_ = new QLineEdit;
    txtExtension_->setObjectName(QStringLiteral("txtExtension"));
    txtExtension_->installEventFilter(this);
    cmdAddExt_ = new QPushButton(QStringLiteral("A&dd"));
    cmdAddExt_->setObjectName(QStringLiteral("cmdAddExt"));
    cmdAddExt_->setToolTip(QStringLiteral("Add custom format"));
    cmdDefault_ = new QPushButton(QStringLiteral("de&fault"));
    cmdDefault_->setObjectName(QStringLiteral("cmdDefault"));
    cmdDefault_->setToolTip(QStringLiteral("Reset to default list"));
    cmdDelete_ = new QPushButton(QStringLiteral("Dele&te"));
    cmdDelete_->setObjectName(QStringLiteral("cmdDelete"));
    cmdDelete_->setEnabled(false);  // nothing is selected yet

    auto* side = new QVBoxLayout;
    auto* add_label = new QLabel(QStringLiteral("Add custo&m formats:"));
    add_label->setBuddy(txtExtension_);
    side->addWidget(add_label);
    side->addWidget(txtExtension_);
    side->addWidget(cmdAddExt_);
    side->addWidget(cmdDefault_);
    side->addWidget(cmdDelete_);
    side->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(lbExt_, 1);
    row->addLayout(side);

    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(
        WrappedLabel(QStringLiteral("Valid file formats which can be used in the Replace mode.  "
                                    "This does should not include extensions covered by the "
                                    "Special File Handlers.")));
    layout->addLayout(row, 1);
    return page;
}

QWidget* OptionsDialog::BuildHandlerTab() {
    lbFileHandler_ = new QListWidget;
    lbFileHandler_->setObjectName(QStringLiteral("lbFileHandler"));
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(WrappedLabel(QStringLiteral(
        "Special file handlers are files (extensions) which will be handled in a special way.  "
        "Most of the time the files native application will be used to perform a search and/or "
        "replace.")));
    layout->addWidget(lbFileHandler_, 1);
    layout->addWidget(WrappedLabel(QStringLiteral(
        "Warning: Special file handlers will decrease the performance of a search and/or "
        "replace.")));
    return page;
}

void OptionsDialog::Load() {
    for (int code = 0; code < 5; ++code) {
        cboReportType_->addItem(QString::fromLatin1(kReportTypes[code]), code);
    }
    // Item data: the stored codes.
    cboColorScheme_->addItem(QStringLiteral("Follow the desktop"),
                             static_cast<int>(ColorSchemeChoice::kDesktop));
    cboColorScheme_->addItem(QStringLiteral("Light"), static_cast<int>(ColorSchemeChoice::kLight));
    cboColorScheme_->addItem(QStringLiteral("Dark"), static_cast<int>(ColorSchemeChoice::kDark));
    settings_ = ReadAppSettings();
    cboColorScheme_->setCurrentIndex(
        cboColorScheme_->findData(static_cast<int>(settings_.color_scheme)));
    // A code that names no report (a hand-edited or damaged setting) shows the first type.
    cboReportType_->setCurrentIndex(
        ReportCode(settings_.report_type.value_or(ReportType::kFileList)));
    lblReportType_->setText(
        QStringLiteral("Determine the report that is generated by Ferret. The fastest report type "
                       "is ") +
        QStringLiteral("Summary Report and the slowest report is Detailed File List."));

    txtUndoFolder_->setText(QString::fromStdString(settings_.restore_folder));
    spnHitContext_->setValue(settings_.hit_line_context);
    txtUndoQuantity_->setText(QString::number(settings_.restore_quantity));
    txtEditor_->setText(QString::fromStdString(settings_.editor_command));
    cboTextEncoding_->setCurrentText(settings_.text_encoding.empty()
                                         ? QString::fromLatin1(kEachOwn)
                                         : QString::fromStdString(settings_.text_encoding));
    cboLegacyEncoding_->setCurrentText(QString::fromStdString(settings_.legacy_encoding));

    cbLogging_->setChecked(settings_.logging);
    cbQuickLinks_->setChecked(settings_.display_quick_links);
    cbAutoUpdate_->setChecked(settings_.auto_report_update);

    const struct {
        const char* text;
        int handler;
    } handlers[] = {
        // The programs that do the work here (the original captions named others).
        {"Word document files (*.doc, *.dot, *.docx, *.odt) -> LibreOffice Writer", kWordHandler},
        {"Excel spreadsheet files (*.xls, *.xlt, *.xlsx, *.ods) -> LibreOffice Calc",
         kExcelHandler}};
    for (const auto& handler : handlers) {
        auto* item = new QListWidgetItem(QString::fromLatin1(handler.text), lbFileHandler_);
        item->setData(Qt::UserRole, handler.handler);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    if (settings_.file_handler_excel) {
        lbFileHandler_->item(kExcelHandler)->setCheckState(Qt::Checked);
    }
    if (settings_.file_handler_word) {
        lbFileHandler_->item(kWordHandler)->setCheckState(Qt::Checked);
    }

    LoadDefaultExt();
    LoadCustomExt();
    cmdApply_->setEnabled(false);
}

void OptionsDialog::Connect() {
    const auto enable_apply = [this] { cmdApply_->setEnabled(true); };
    connect(cboReportType_, &QComboBox::currentIndexChanged, this, enable_apply);
    connect(cboColorScheme_, &QComboBox::currentIndexChanged, this, enable_apply);
    connect(spnHitContext_, &QSpinBox::valueChanged, this, enable_apply);
    connect(txtUndoFolder_, &QLineEdit::textEdited, this, enable_apply);
    connect(txtUndoQuantity_, &QLineEdit::textEdited, this, enable_apply);
    connect(txtEditor_, &QLineEdit::textEdited, this, enable_apply);
    connect(cboTextEncoding_, &QComboBox::currentTextChanged, this, enable_apply);
    connect(cboLegacyEncoding_, &QComboBox::currentTextChanged, this, enable_apply);
    connect(cmdBrowse_, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });
    connect(cbQuickLinks_, &QCheckBox::toggled, this, [this] {
        // The quick-links panel is built once, when the main window opens.
        Inform(QStringLiteral("Changes to this setting will take place the next time Ferret is "
                              "started"),
               QStringLiteral("Ferret"));
    });
    connect(lbFileHandler_, &QListWidget::itemChanged, this,
            [this](QListWidgetItem* item) { HandlerChanged(item); });
    connect(lbExt_, &QListWidget::itemSelectionChanged, this,
            [this] { cmdDelete_->setEnabled(extensions_.IsDeletable(SelectedExtension())); });
    connect(cmdAddExt_, &QPushButton::clicked, this, [this] { cmdAddExt_Click(); });
    connect(cmdDelete_, &QPushButton::clicked, this, [this] { cmdDelete_Click(); });
    connect(cmdDefault_, &QPushButton::clicked, this, [this] { cmdDefault_Click(); });
    connect(cmdApply_, &QPushButton::clicked, this, [this] {
        if (SaveAllSettings()) {
            cmdApply_->setEnabled(false);
        }
    });
    connect(cmdOk_, &QPushButton::clicked, this, [this] {
        if (SaveAllSettings()) {
            accept();
        }
    });
    connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void OptionsDialog::HandlerChanged(QListWidgetItem* item) {
    if (item->checkState() == Qt::Checked) {
        const int handler = item->data(Qt::UserRole).toInt();
        // Finding out may mean starting the office application.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool available = handler_available_ && handler_available_(handler);
        QApplication::restoreOverrideCursor();
        if (!available) {
            {
                const QSignalBlocker blocker(lbFileHandler_);
                item->setCheckState(Qt::Unchecked);
            }
            Inform(handler == kWordHandler
                       ? QStringLiteral("Word must be installed for this handler")
                       : QStringLiteral("Excel must be installed for this handler"),
                   QStringLiteral("Ferret"));
            return;
        }
    }
    cmdApply_->setEnabled(true);
}

bool OptionsDialog::SaveAllSettings() {
    static constexpr char kLabel[] = "frmOptions: SaveAllSettings";
    bool failed = false;
    std::string failure;
    // Checked before anything is written, so a refused number changes no setting.
    bool whole = false;
    const int quantity = txtUndoQuantity_->text().trimmed().toInt(&whole);
    if (!whole || quantity < -1) {
        Inform(QStringLiteral("The quantity of restore points to store must be a whole number: "
                              "-1 for all, 0 for none."),
               QStringLiteral("Options"));
        txtUndoQuantity_->setFocus();
        return false;
    }
    QString text_encoding = cboTextEncoding_->currentText().trimmed();
    if (text_encoding == QString::fromLatin1(kEachOwn)) {
        text_encoding.clear();
    }
    const QString legacy_encoding = cboLegacyEncoding_->currentText().trimmed();
    for (const auto& [box, name] : {std::pair{cboTextEncoding_, text_encoding},
                                    std::pair{cboLegacyEncoding_, legacy_encoding}}) {
        if ((!name.isEmpty() || box == cboLegacyEncoding_) && !KnownEncoding(name.toStdString())) {
            Inform(QStringLiteral("The encoding \"%1\" is not known to this system; \"iconv -l\" "
                                  "lists those it knows.")
                       .arg(name),
                   QStringLiteral("Options"));
            box->setFocus();
            return false;
        }
    }
    QString restore_folder = txtUndoFolder_->text().trimmed();
    if (restore_folder.isEmpty()) {
        restore_folder = QString::fromStdString(AppSettings().restore_folder);
        txtUndoFolder_->setText(restore_folder);
    }
    try {
        AppSettings chosen = settings_;
        chosen.restore_folder = restore_folder.toStdString();
        chosen.restore_quantity = quantity;
        chosen.report_type = ReportTypeOfCode(cboReportType_->currentData().toInt());
        chosen.hit_line_context = spnHitContext_->value();
        chosen.color_scheme =
            static_cast<ColorSchemeChoice>(cboColorScheme_->currentData().toInt());
        chosen.logging = cbLogging_->isChecked();
        chosen.display_quick_links = cbQuickLinks_->isChecked();
        chosen.auto_report_update = cbAutoUpdate_->isChecked();
        chosen.file_handler_word = lbFileHandler_->item(kWordHandler)->checkState() == Qt::Checked;
        chosen.file_handler_excel =
            lbFileHandler_->item(kExcelHandler)->checkState() == Qt::Checked;
        chosen.extension_list = extensions_.StoredText();
        chosen.editor_command = txtEditor_->text().trimmed().toStdString();
        chosen.text_encoding = text_encoding.toStdString();
        chosen.legacy_encoding = legacy_encoding.toStdString();
        if (const Status saved = SaveOptionSettings(chosen); !saved.ok()) {
            Log(this, kLabel, saved);
            failed = true;
            failure = saved.description();
        } else {
            settings_ = std::move(chosen);
        }
    } catch (const std::exception& error) {
        Log(this, kLabel, kLogNumberUnexpected, error.what());
        failed = true;
        failure = error.what();
    }
    if (!failed) {
        if (on_saved) {
            on_saved();
        }
        return true;
    }
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("Options"),
        QStringLiteral("The settings could not be saved: ") + QString::fromStdString(failure),
        QMessageBox::Ok, this);
    box.exec();
    return false;
}

void OptionsDialog::cmdAddExt_Click() {
    try {
        if (extensions_.Add(txtExtension_->text().toStdString())) {
            lbExt_->addItem(QString::fromStdString(extensions_.Entries().back()));
            cmdApply_->setEnabled(true);
        }
        txtExtension_->clear();
    } catch (const std::exception& error) {
        Log(this, "frmOptions: cmdAddExt_Click", kLogNumberUnexpected, error.what());
    }
}

void OptionsDialog::cmdDelete_Click() {
    try {
        const int position = SelectedExtension();
        if (!extensions_.Delete(position)) {
            Inform(QStringLiteral("Default extensions can not be deleted"),
                   QStringLiteral("Delete Error"));
            return;
        }
        delete lbExt_->takeItem(position);
        // The next entry takes the deleted one's place in the selection, ready for another
        // Delete.
        if (lbExt_->count() > 0) {
            lbExt_->setCurrentRow(std::min(position, lbExt_->count() - 1));
        }
        cmdDelete_->setEnabled(extensions_.IsDeletable(SelectedExtension()));
        cmdApply_->setEnabled(true);
    } catch (const std::exception& error) {
        Log(this, "frmOptions: cmdDelete_Click", kLogNumberUnexpected, error.what());
    }
}

void OptionsDialog::cmdDefault_Click() {
    LoadDefaultExt();
    cmdApply_->setEnabled(true);
}

void OptionsDialog::cmdBrowse_Click() {
    const std::string folder =
        FileDialogs::ChooseFolder(this, "Undo Folder", txtUndoFolder_->text().toStdString());
    if (!folder.empty()) {
        txtUndoFolder_->setText(QString::fromStdString(folder));
        cmdApply_->setEnabled(true);
    }
}

void OptionsDialog::LoadDefaultExt() {
    try {
        extensions_.ResetToDefaults();
        ShowExtensions();
    } catch (const std::exception& error) {
        Log(this, "frmOptions: LoadDefaultExt", kLogNumberUnexpected, error.what());
    }
}

void OptionsDialog::LoadCustomExt() {
    try {
        extensions_.AppendStored(settings_.extension_list);
        ShowExtensions();
    } catch (const std::exception& error) {
        Log(this, "frmOptions: LoadCustomExt", kLogNumberUnexpected, error.what());
    }
}

void OptionsDialog::ShowExtensions() {
    lbExt_->clear();
    for (const std::string& extension : extensions_.Entries()) {
        lbExt_->addItem(QString::fromStdString(extension));
    }
}

int OptionsDialog::SelectedExtension() const {
    const QList<QListWidgetItem*> selected = lbExt_->selectedItems();
    return selected.isEmpty() ? -1 : lbExt_->row(selected.front());
}

void OptionsDialog::Inform(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box.exec();
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the extension box adds the extension rather than pressing OK.
    if (watched == txtExtension_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            cmdAddExt_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace ferret
