#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTextDocument>
#include <QThreadPool>
#include <QVBoxLayout>

#include "app/about_dialog.h"
#include "app/command_process.h"
#include "app/date_size_panels.h"
#include "app/editor_launcher.h"
#include "app/explorer_bar.h"
#include "app/file_menu.h"
#include "app/folder_box.h"
#include "app/help_window.h"
#include "app/hit_lines_view.h"
#include "app/message_boxes.h"
#include "app/options_dialog.h"
#include "app/preview_replace_dialog.h"
#include "app/problems_dialog.h"
#include "app/qt_text.h"
#include "app/quick_links_panel.h"
#include "app/replace_panel.h"
#include "app/report_views.h"
#include "app/restore_points_dialog.h"
#include "app/result_menu.h"
#include "app/results_log_panel.h"
#include "app/run_status_bar.h"
#include "app/search_criteria_panel.h"
#include "app/spreadsheet_hits_window.h"
#include "app/undo_dialogs.h"
#include "engine/inner_files.h"
#include "ferret_version.h"
#include "office/office_handlers.h"
#include "preview/preview_window.h"
#include "preview/print_document.h"
#include "preview/screen_fit.h"
#include "reports/quoted_name.h"
#include "settings/app_settings.h"
#include "settings/error_log.h"
#include "settings/search_history.h"
#include "util/app_paths.h"
#include "util/archive_reader.h"
#include "util/file_info.h"

namespace ferret {

namespace {

// Twips are 1/1440 inch; at 96 dots per inch 15 twips make a pixel.
int TwipsToPixels(int twips, const QWidget* widget) {
    const qreal dpi = widget->screen() != nullptr ? widget->screen()->logicalDotsPerInch() : 96;
    return static_cast<int>(twips * dpi / 1440.0 + 0.5);
}
int PixelsToTwips(int pixels, const QWidget* widget) {
    const qreal dpi = widget->screen() != nullptr ? widget->screen()->logicalDotsPerInch() : 96;
    return static_cast<int>(pixels * 1440.0 / dpi + 0.5);
}

void Tell(QWidget* owner, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, owner);
    box.exec();
}

constexpr char kNoFolder[] = "The folder you have selected does not exist";

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Ferret v%1.%2.0.%3")
                       .arg(FERRET_VERSION_MAJOR)
                       .arg(FERRET_VERSION_MINOR)
                       .arg(FERRET_VERSION_PATCH));
    const AppSettings settings = ReadAppSettings();
    BuildPanels(settings);
    actions_ = new MainActions(*this, ActionHandlers());
    runs_ = std::make_unique<RunPresenter>(this, ViewHandlers());
    LoadSettings(settings);
    SetRunning(false);
    // The first rows of a run need the type names: loaded meanwhile, the window does not wait.
    QThreadPool::globalInstance()->start([] { LoadTypeNames(); });
}

MainWindow::~MainWindow() {
    runs_->StopAndJoin();
}

void MainWindow::BuildPanels(const AppSettings& settings) {
    bar_ = new ExplorerBar;
    bar_->setMinimumWidth(300);
    if (settings.display_quick_links) {
        auto* links = new QuickLinksPanel(*bar_, this);
        links->on_open = [this](const QString& key) { OpenQuickLink(key); };
    }
    criteria_ = new SearchCriteriaPanel(*bar_, this);
    criteria_->on_regex_changed = [this](bool on) {
        if (runs_) {
            runs_->Driver().SetUseRegex(on);
        }
    };
    criteria_->on_search_text_changed = [this] { UpdateReplaceButton(); };
    dates_and_sizes_ = new DateSizePanels(*bar_, this);
    replace_ = new ReplacePanel(*bar_, this);
    replace_->on_text_changed = [this] { UpdateReplaceButton(); };
    results_log_ = new ResultsLogPanel(*bar_, this);

    // Right side: the folder box, its drop-down tree, the report views.
    auto* right = new QWidget;
    right->setObjectName(QStringLiteral("reportArea"));
    folder_ = new FolderBox(right);
    reports_ = new ReportViews(this);
    reports_->on_open = [this](const std::string& path, std::int64_t line, std::int64_t column,
                               std::int32_t page) { OpenFilePreviewer(path, line, column, page); };
    reports_->on_edit = [this](const std::string& path, std::int64_t line, std::int64_t column) {
        if (ferret::ContainerOf(path) == Container::kPdf) {
            reports_->Menu()->Open({path});  // its own application, not a text editor
        } else if (!ContainerOf(path)) {
            OpenInEditor(this, {path, line, column});
        }
    };
    reports_->Menu()->SetContainerOf([this](const std::string& path) { return ContainerOf(path); });
    auto* right_layout = new QVBoxLayout(right);
    // The folder box and the reports end 175 twips short of the window's right edge.
    right_layout->setContentsMargins(0, 0, TwipsToPixels(175, this), 0);
    right_layout->addWidget(folder_->Box());
    right_layout->addWidget(reports_->Widget(), 1);

    auto* splitter = new QSplitter;
    splitter->addWidget(bar_);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);

    status_ = new RunStatusBar(*statusBar());
    status_->on_show_not_done = [this] { ShowProblems(); };
    status_->on_undo = [this] {
        if (!undo_folder_.empty()) {
            UndoReplace(undo_folder_, true);
        }
    };
}

WindowRunView::Handlers MainWindow::ViewHandlers() {
    WindowRunView::Handlers handlers;
    handlers.status = [this](StatusPanel panel, const QString& text) {
        status_->SetText(panel, text);
    };
    handlers.run_log = [this](const QString& text, bool append) {
        if (append) {
            results_log_->Append(text);
        } else {
            results_log_->SetText(text);
        }
    };
    handlers.running = [this](bool running) { SetRunning(running); };
    handlers.progress = [this](std::size_t done, std::size_t total) {
        status_->ShowProgress(done, total);
    };
    handlers.busy = [](bool busy) {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    };
    handlers.message = [this](const QString& text, const QString& title, MessageIcon icon) {
        QMessageBox box(MessageBoxIcon(icon), title, text, QMessageBox::Ok, this);
        box.exec();
    };
    handlers.notice = [this](const QString& text, const QString& title, MessageIcon icon) {
        auto* box = new QMessageBox(MessageBoxIcon(icon), title, text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    };
    handlers.mask_to_list = [this](const QString& text) { criteria_->AddMaskToList(text); };
    handlers.skip_folders_to_list = [this](const QString& text) {
        criteria_->AddSkipFoldersToList(text);
    };
    handlers.search_to_list = [this](const QString& text) { criteria_->AddSearchToList(text); };
    handlers.report_text = [this](const QString& text) { reports_->SetReportText(text); };
    handlers.report_menus = [this](bool enabled) { actions_->EnableReportMenus(enabled); };
    handlers.report_view = [this](ReportType report) { reports_->Show(report); };
    handlers.results_group = [this] { bar_->SetExpanded(QStringLiteral("Results"), true); };
    handlers.stream_files = [this](std::vector<FileRecord*> files, const std::string& folder,
                                   bool searched) {
        reports_->AppendFiles(files, folder, searched);
    };
    handlers.file_list = [this](std::shared_ptr<FileListRows> rows) {
        reports_->ShowFileList(std::move(*rows));
    };
    handlers.hit_lines_grew = [this] { reports_->HitLines()->Model()->TableGrew(); };
    handlers.hit_lines = [this](std::shared_ptr<const HitLineTable> table) {
        reports_->ShowHitLines(std::move(table));
    };
    handlers.structured_tree = [this](std::shared_ptr<StructuredTree> tree) {
        reports_->ShowStructuredTree(std::move(*tree));
    };
    return handlers;
}

MainActions::Handlers MainWindow::ActionHandlers() {
    MainActions::Handlers handlers;
    handlers.search = [this] { StartRun(RunKind::kSearch); };
    handlers.replace = [this] { StartRun(RunKind::kReplace); };
    handlers.preview = [this] { PreviewReplace(); };
    handlers.stop = [this] { PressStop(); };
    handlers.pause = [this] { PressPause(); };
    handlers.open_configuration = [this] { LoadSearchFile(std::string()); };
    handlers.save_configuration = [this] { SaveSearchFile(); };
    handlers.save_report = [this] { SaveReport(); };
    handlers.print_report = [this] { PrintReport(); };
    handlers.report_type = [this](ReportType report) { ChooseReportType(report); };
    handlers.clear_history = [this] { ClearHistory(); };
    handlers.undo_last_replace = [this] { UndoLastReplace(); };
    handlers.restore_points = [this] { ShowRestorePoints(); };
    handlers.options = [this] { ShowOptions(); };
    handlers.help = [this] { ShowHelp(); };
    handlers.about = [this] { ShowAboutDialog(this); };
    return handlers;
}

bool MainWindow::OpenQuickLink(const QString& key) {
    const QString path = QuickLinksPanel::FolderOf(key);
    if (!IsFolder(S(path))) {
        Tell(this, QStringLiteral("Folder Error"), QString::fromLatin1(kNoFolder));
        return false;
    }
    folder_->SetFolder(path);
    return true;
}

std::optional<std::string> MainWindow::ContainerOf(const std::string& path) {
    const std::shared_ptr<FileRecords>& results = Driver().Results();
    const FileRecord* record = results ? results->Item(path) : nullptr;
    if (record == nullptr || record->Inside() == nullptr) {
        return std::nullopt;
    }
    return record->Inside()->container;
}

PreviewWindow* MainWindow::OpenFilePreviewer(const std::string& path, std::int64_t line,
                                             std::int64_t column, std::int32_t page) {
    const std::shared_ptr<FileRecords>& results = Driver().Results();
    const FileRecord* found = results ? results->Item(path) : nullptr;
    // An entry of an archive is no file of its own: it is read through its archive, never
    // opened by its name.
    const InsideFile* inside = found != nullptr ? found->Inside() : nullptr;
    const QFileInfo info(Q(inside != nullptr ? inside->container : path));
    if (path.empty() || !info.exists() || info.isDir()) {
        return nullptr;
    }
    PreviewTarget target{inside != nullptr ? inside->container : path,
                         Driver().HasHighlight() ? Driver().HighlightText() : std::string(),
                         criteria_->IgnoreCase(),
                         criteria_->Regex(),
                         line,
                         column,
                         criteria_->WholeWord()};
    const bool pdf = ferret::ContainerOf(path) == Container::kPdf;
    if (inside != nullptr) {
        target.unpack = true;
        target.inside = inside->names;
        target.caption = QuotedName(path, inside->Strays());
    } else if (Driver().Fields().search_inside && found != nullptr &&
               (pdf || (LooksLikeArchive(path) && found->ItemsFound() > 0))) {
        // What the run searched: the text of a PDF, the data of a compressed file.
        target.unpack = true;
        target.page = page;
        target.caption = pdf ? path + " (its text, page by page)" : path + " (unpacked)";
    }
    // Office files are not text: spreadsheets list their hit cells, documents open in their own
    // application.
    if (UseSpecialFileHandler(path, CurrentHandlerExtensions(ReadAppSettings()))) {
        if (IsSpreadsheetName(path)) {
            auto* cells = new SpreadsheetHitsWindow(this);
            FileRecord* record = results ? results->Item(path) : nullptr;
            cells->SetSheetHits(record != nullptr && record->HasSheetHits() ? &record->SheetHits()
                                                                            : nullptr);
            // At the pointer, inside the screen.
            QRect place(QCursor::pos(), cells->size());
            if (const QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) {
                const QRect room = screen->availableGeometry();
                place.moveRight(std::min(place.right(), room.right()));
                place.moveBottom(std::min(place.bottom(), room.bottom()));
            }
            cells->move(place.topLeft());
            cells->show();
        } else {
            // Through the application registry, which says so when nothing can open it.
            reports_->Menu()->Open({path});
        }
        return nullptr;
    }
    auto* preview = new PreviewWindow(this);
    if (!target.unpack) {
        preview->SetEditorHandler(
            [preview](const std::string& file, std::int64_t at_line, std::int64_t at_column) {
                OpenInEditor(preview, {file, at_line, at_column});
            });
    } else if (pdf) {
        // A PDF's own application shows it; an entry or compressed data has nothing to edit.
        preview->SetEditorHandler([this](const std::string& file, std::int64_t, std::int64_t) {
            reports_->Menu()->Open({file});
        });
    }
    preview->show();
    preview->Load(std::move(target));
    return preview;
}

std::vector<PreviewWindow*> MainWindow::PreviewFiles() {
    std::vector<PreviewWindow*> opened;
    for (const std::string& path : reports_->SelectedPaths()) {
        if (PreviewWindow* preview = OpenFilePreviewer(path)) {
            opened.push_back(preview);
        }
    }
    return opened;
}

HelpWindow* MainWindow::ShowHelp() {
    if (help_ == nullptr) {
        help_ = new HelpWindow(this);
    }
    return help_->ShowContents() ? help_ : nullptr;
}

void MainWindow::PrintReport() {
    try {
        const SearchFields& ran = Driver().Fields();
        const bool hit_lines = reports_->HitLinesShown();
        // Each page names the report, its text and its folder.
        const QString title =
            QStringLiteral("Ferret %1: %2 in %3")
                .arg(hit_lines ? QStringLiteral("hit lines") : QStringLiteral("report"),
                     Q(EscapedText("\"" + ran.search_text + "\"")), Q(QuotedName(ran.folder)));
        if (!hit_lines) {
            PrintDocument::Print(*reports_->TextView()->document(), 1440, 1440, 1440, 1440, this,
                                 title);
            return;
        }
        QString text;
        reports_->HitLines()->Model()->ForEachQuickfixPiece([&text](std::string_view piece) {
            text += QString::fromUtf8(piece.data(), static_cast<qsizetype>(piece.size()));
            return true;
        });
        QTextDocument document;
        document.setDefaultFont(reports_->TextView()->document()->defaultFont());
        document.setPlainText(text);
        PrintDocument::Print(document, 1440, 1440, 1440, 1440, this, title);
    } catch (const std::exception& error) {
        TellIfLogFailed(!LogError("frmMain: mnuPrint_Click", kLogNumberPrintFailed, error.what()));
    }
}

SearchFields MainWindow::Fields() const {
    SearchFields fields;
    fields.folder = S(folder_->Folder());
    criteria_->ReadInto(fields);
    dates_and_sizes_->ReadInto(fields);
    replace_->ReadInto(fields);
    return fields;
}

void MainWindow::SetFields(const SearchFields& fields) {
    folder_->SetFolder(Q(fields.folder));
    criteria_->Show(fields);
    dates_and_sizes_->Show(fields);
    replace_->Show(fields);
}

bool MainWindow::CheckFolder() {
    if (IsFolder(S(folder_->Folder()))) {
        return true;
    }
    Tell(this, QStringLiteral("Folder Error"), QString::fromLatin1(kNoFolder));
    return false;
}

bool MainWindow::StartRun(RunKind kind) {
    if (IsRunning() || !CheckFolder()) {
        return false;
    }
    return StartOrder({kind, Fields()});
}

bool MainWindow::StartOrder(RunOrder order, std::function<void()> after) {
    if (IsRunning()) {
        return false;
    }
    reports_->Clear();
    undo_folder_.clear();  // the Undo offered is that of the run shown
    status_->ShowUndo(false);
    // Pause and Stop come on when the run has reset its flags and says it is running.
    actions_->SetSearchEnabled(false);
    running_ = true;
    UpdateReplaceButton();
    return runs_->Start(std::move(order), [this, after = std::move(after)] {
        if (after) {
            after();
        }
        undo_folder_ = Driver().RestorePointFolder();
        RunEnded();
    });
}

bool MainWindow::RunUnattended(const CommandLine& line, std::atomic<int>& status) {
    SetRunning(true);
    // The window shows the search the command line asked for once it has run, as if it had been
    // typed in: its previewer marks what the run found.
    auto fields = std::make_shared<SearchFields>(Fields());
    runs_->View().SetUnattended(line.ExitOnComplete());
    return runs_->StartWork(
        [this, &line, &status, fields] {
            status.store(CommandProcess(line, runs_->Driver(), runs_->View(), *fields));
        },
        [this, fields, exit = line.ExitOnComplete()] {
            runs_->View().SetUnattended(false);
            SetFields(*fields);
            RunEnded();
            if (exit) {
                close();
                QApplication::quit();
            }
        });
}

void MainWindow::RunEnded() {
    actions_->ShowPaused(false);
    SetRunning(false);
    status_->ShowNotDone(Driver().FileProblems().size());
    status_->ShowUndo(!undo_folder_.empty());
}

ProblemsDialog* MainWindow::ShowProblems(bool modal) {
    auto* dialog = new ProblemsDialog(Driver().FileProblems(), reports_->Menu(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (!modal) {
        dialog->show();
        return dialog;
    }
    dialog->exec();
    return nullptr;
}

QToolButton* MainWindow::ProblemsButton() const {
    return status_->NotDoneButton();
}

void MainWindow::PressPause() {
    const bool paused = runs_->PressPause();
    actions_->ShowPaused(paused);
    status_->SetPaused(paused);
    if (paused) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void MainWindow::PressStop() {
    runs_->PressStop();
}

bool MainWindow::CanPause() const {
    return actions_->CanPause();
}

void MainWindow::SetRunning(bool running) {
    running_ = running;
    UpdateReplaceButton();
    status_->SetRunning(running);
    actions_->SetRunning(running);
    folder_->SetRunning(running);
    criteria_->SetRunning(running);
    replace_->SetRunning(running);
    reports_->SetRunning(running);
}

void MainWindow::UpdateReplaceButton() {
    if (actions_ != nullptr) {
        actions_->SetReplaceEnabled(!running_ && !criteria_->SearchText().isEmpty() &&
                                    !replace_->Text().isEmpty());
    }
}

PreviewReplaceDialog* MainWindow::PreviewReplace() {
    if (IsRunning() || criteria_->SearchText().isEmpty() || replace_->Text().isEmpty() ||
        !CheckFolder()) {
        return nullptr;
    }
    const SearchFields fields = Fields();
    auto* dialog = new PreviewReplaceDialog(
        std::make_shared<const ChangeFinder>(
            fields.search_text, fields.replace_text, fields.regex, fields.ignore_case,
            fields.whole_word,
            static_cast<std::uint64_t>(ReadAppSettings().longest_match_mb) << 20),
        this);
    dialog->on_replace = [this, fields](std::vector<ChosenChange> chosen) {
        return ReplaceChosen(fields, std::move(chosen));
    };
    dialog->on_open = [this](const std::string& path, std::int64_t line, std::int64_t column) {
        OpenFilePreviewer(path, line, column);
    };
    RunOrder order{RunKind::kPreview, fields};
    order.previewed = dialog->FoundTaker();
    order.not_previewed = dialog->LeftOutTaker();
    dialog->Describe(fields);
    dialog->show();
    const QPointer<PreviewReplaceDialog> shown(dialog);
    if (!StartOrder(std::move(order), [this, shown] {
            if (shown != nullptr) {
                shown->Finish(Driver().Stopped());
            }
        })) {
        dialog->close();
        return nullptr;
    }
    return dialog;
}

bool MainWindow::ReplaceChosen(const SearchFields& fields, std::vector<ChosenChange> chosen) {
    RunOrder order{RunKind::kChosenChanges, fields};
    order.chosen = std::make_shared<const std::vector<ChosenChange>>(std::move(chosen));
    return StartOrder(std::move(order));
}

void MainWindow::ChooseReportType(ReportType report) {
    Log("frmMain: barMenu_ItemClick", SaveReportType(report));
    RefreshSettings();
}

void MainWindow::ShowOptions() {
    // Both handlers go through LibreOffice: either can be used exactly when it can be started.
    OptionsDialog options(this, [](int) { return FindOfficeSetup().has_value(); });
    options.on_saved = [this] {
        if (on_options_saved) {
            on_options_saved();
        }
    };
    options.exec();
    RefreshSettings();
}

void MainWindow::RefreshSettings() {
    const AppSettings settings = ReadAppSettings();
    actions_->CheckReportType(settings.report_type);
    if (IsRunning()) {
        return;  // the run shows its report in the type stored now
    }
    // Drawing the last results again may take a while: it goes to the run thread too. The
    // report shows the fields the last run used, whatever the boxes hold now.
    actions_->SetSearchEnabled(false);
    runs_->StartWork([this, settings] { Driver().RefreshSettings(settings, false); },
                     [this] { RunEnded(); });
}

bool MainWindow::UndoLastReplace() {
    const std::string newest = NewestRestorePoint(this, ReadAppSettings().restore_folder);
    return !newest.empty() && UndoReplace(newest, true);
}

void MainWindow::ShowRestorePoints() {
    RestorePointsDialog dialog(ReadAppSettings().restore_folder, this);
    if (dialog.exec() == QDialog::Accepted && !dialog.ChosenFolder().empty()) {
        UndoReplace(dialog.ChosenFolder(), true);
    }
}

bool MainWindow::UndoReplace(const std::string& folder, bool ask) {
    if (IsRunning() || !ConfirmUndo(this, folder, ask)) {
        return false;
    }
    SetRunning(true);
    actions_->SetPauseAndStopEnabled(false);
    actions_->SetReplaceEnabled(false);
    status_->SetText(StatusPanel::kProgress, QStringLiteral("...undoing the replace run"));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto status = std::make_shared<Status>();
    return runs_->StartWork(
        [this, folder, status] {
            UndoOutcome outcome;
            *status = UndoRestorePoint(folder, outcome);
            last_undo_ = std::move(outcome);
        },
        [this, status, folder] {
            QApplication::restoreOverrideCursor();
            if (folder == undo_folder_ && status->ok()) {
                undo_folder_.clear();  // that run is undone: nothing more to offer
                Driver().NoteUndone();
            }
            RunEnded();
            status_->SetText(StatusPanel::kProgress, ShowUndoOutcome(this, *status, last_undo_));
        });
}

const QString& MainWindow::ReportTextShown() const {
    return reports_->ReportText();
}

QString MainWindow::StatusText(StatusPanel panel) const {
    return status_->Text(panel);
}

FileListModel* MainWindow::FileModel() const {
    return reports_->FileModel();
}

StructuredModel* MainWindow::TreeModel() const {
    return reports_->TreeModel();
}

HitLinesView* MainWindow::HitLines() const {
    return reports_->HitLines();
}

ResultMenu* MainWindow::ResultFilesMenu() const {
    return reports_->Menu();
}

bool MainWindow::LoadSearchFile(std::string file) {
    SearchFields fields = Fields();
    if (!OpenSavedSearch(this, std::move(file), fields)) {
        return false;
    }
    SetFields(fields);
    return true;
}

bool MainWindow::SaveSearchFile() {
    return SaveSearchAs(this, Fields());
}

bool MainWindow::SaveReport() {
    if (reports_->HitLinesShown()) {
        return SaveHitLinesAs(this, *reports_->HitLines()->Model());
    }
    return SaveReportAs(this, S(ReportTextShown()));
}

void MainWindow::ClearHistory() {
    criteria_->ClearHistory();
    bool log_failed = false;
    ClearSearchList(&log_failed);
    TellIfLogFailed(log_failed);
}

void MainWindow::Log(const std::string& label, const Status& status) {
    TellIfLogFailed(!LogError(label, status));
}

void MainWindow::TellIfLogFailed(bool failed) {
    if (failed) {
        OpenMessageBox(this, LogFailureMessage());
    }
}

std::vector<std::string> MainWindow::History() const {
    return criteria_->History();
}

void MainWindow::LoadSettings(const AppSettings& settings) {
    Driver().RefreshSettings(settings, false);
    folder_->SetFolder(Q(settings.startup_folder));
    criteria_->SetStoredMask(settings.file_filter_mask);
    actions_->CheckReportType(settings.report_type);
    resize(settings.ferret_width > -1 ? TwipsToPixels(settings.ferret_width, this) : 1100,
           settings.ferret_height > -1 ? TwipsToPixels(settings.ferret_height, this) : 720);
    if (settings.ferret_top > -1 || settings.ferret_left > -1) {
        move(settings.ferret_left > -1 ? TwipsToPixels(settings.ferret_left, this) : x(),
             settings.ferret_top > -1 ? TwipsToPixels(settings.ferret_top, this) : y());
    }
    // A size kept from a larger screen or a smaller scale factor is cut to this screen's room.
    FitOnScreen(*this);
    criteria_->SetRecursive(settings.search_subfolders);
    criteria_->SetStoredSkips(settings);
    bool log_failed = false;
    criteria_->SetHistory(GetSearchList(&log_failed));
    TellIfLogFailed(log_failed);
}

void MainWindow::SaveSettings() {
    AppSettings settings;
    settings.startup_folder = S(folder_->Folder());
    settings.ferret_height = PixelsToTwips(height(), this);
    settings.ferret_width = PixelsToTwips(width(), this);
    settings.ferret_top = PixelsToTwips(y(), this);
    settings.ferret_left = PixelsToTwips(x(), this);
    settings.file_filter_mask = S(criteria_->Mask());
    settings.search_size_option = dates_and_sizes_->SizeOption();
    settings.search_date_option = dates_and_sizes_->DateOption();
    settings.search_subfolders = criteria_->Recursive();
    criteria_->StoreSkipsInto(settings);
    for (const Status& failure : SaveWindowSettings(settings)) {
        Log("frmMain: Form_Unload", failure);
    }
    bool log_failed = false;
    SaveSearchList(History(), &log_failed);
    TellIfLogFailed(log_failed);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A run of this window, or an unattended one, ends at the next file.
    runs_->StopAndJoin();
    SaveSettings();
    event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !IsRunning()) {
        StartRun(RunKind::kSearch);
        return;
    }
    QMainWindow::keyPressEvent(event);
}

}  // namespace ferret
