#pragma once

#include <QMainWindow>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_actions.h"
#include "app/run_driver.h"
#include "app/run_presenter.h"
#include "engine/restore_point.h"
#include "engine/search_fields.h"
#include "settings/app_settings.h"
#include "settings/report_type.h"

class QToolButton;

namespace ferret {

class DateSizePanels;
class ExplorerBar;
class FileListModel;
class FolderBox;
class HelpWindow;
class HitLinesView;
class MainActions;
class PreviewReplaceDialog;
class PreviewWindow;
class ProblemsDialog;
class ReplacePanel;
class ReportViews;
class ResultMenu;
class ResultsLogPanel;
class RunStatusBar;
class SearchCriteriaPanel;
class StructuredModel;

// The main window: a frame that lays out its panels and binds them to the run's presenter. On
// the left the explorer bar with the search criteria, dates and sizes, replace criteria and the
// results log; on the right the folder box and the report views; toolbars, menus and the status
// bar around them. Runs go to the presenter's thread, so the window keeps answering.
class MainWindow : public QMainWindow {
  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The search fields as the panels hold them, and back.
    SearchFields Fields() const;
    void SetFields(const SearchFields& fields);

    // What the toolbar buttons and the Enter key do: checks the folder, then starts a run of
    // `kind` (a search or a replace). Returns false when the run could not start.
    bool StartRun(RunKind kind);
    // Preview Replace: a replace run that writes nothing, its changes shown file by file in a
    // window of their own as they are found; "Replace Selected" there writes the chosen ones.
    // nullptr when it could not start.
    PreviewReplaceDialog* PreviewReplace();
    // A replace run of just `chosen` (a preview's choice), with the preview's fields.
    bool ReplaceChosen(const SearchFields& fields, std::vector<ChosenChange> chosen);
    bool IsRunning() const { return runs_->IsRunning(); }
    // Waits for the current run to end (for tests and closing).
    void WaitForRun() { runs_->Wait(); }
    void PressPause();
    void PressStop();
    // File menu: a saved search into the fields (an empty name asks for one), the fields into
    // a saved search, the report text into a file. False when cancelled or failed.
    bool LoadSearchFile(std::string file);
    bool SaveSearchFile();
    bool SaveReport();
    // Tools > Clear Search History, and the history as the search box holds it.
    void ClearHistory();
    std::vector<std::string> History() const;

    // The Tools > Reporting Type menu: stores the type and shows the last results in it when
    // the settings say so.
    void ChooseReportType(ReportType report);
    // Tools > Options: the options dialog, then the report settings applied.
    void ShowOptions();
    // Called each time the options dialog has saved the settings (OK or Apply).
    std::function<void()> on_options_saved;
    // Tools > Undo Last Replace: asks, then undoes the newest restore point. False when there
    // is none or the user said no.
    bool UndoLastReplace();
    // Tools > Restore Points: the list of replace runs to undo or delete.
    void ShowRestorePoints();
    // The files the last run could not do, in a dialog (the status bar's "N file(s) not done").
    // The dialog is returned open when `modal` is false (for tests), else nullptr after it.
    ProblemsDialog* ShowProblems(bool modal = true);
    // The status bar's button for them; hidden after a run that did every file.
    QToolButton* ProblemsButton() const;
    // Undoes the restore point in `folder` on the run thread (asking first when `ask`), then
    // shows what was restored and what was left alone. False when it did not start.
    bool UndoReplace(const std::string& folder, bool ask);
    // What the last undo did, once it has ended.
    const UndoOutcome& LastUndo() const { return last_undo_; }
    // A Quick Links item ("MyDocuments", "MyPictures", "Desktop", "Programs"): its folder into
    // the folder box and the tree. False (after a message) when the folder does not exist.
    bool OpenQuickLink(const QString& key);
    // About > Help: the help window with its table of contents, or nullptr (after a message)
    // when the pages are not installed.
    HelpWindow* ShowHelp();
    // The archive the result `path` is inside (its path on disk), or nothing for a file on disk.
    std::optional<std::string> ContainerOf(const std::string& path);
    // A previewer for `path` marking the last run's text, or nullptr when `path` is not a file;
    // scrolled to `line` (of `page`, for a PDF's text) with the hit at `column` (characters)
    // selected when they are given. An entry of an archive, a PDF's text and a compressed file's
    // data are read through their file.
    PreviewWindow* OpenFilePreviewer(const std::string& path, std::int64_t line = 0,
                                     std::int64_t column = 0, std::int32_t page = 0);
    // One previewer per selected row of the detailed list, in list order.
    std::vector<PreviewWindow*> PreviewFiles();
    // Whether the Pause button can be pressed (the run is under way).
    bool CanPause() const;

    // The unattended run with this window: fields from the switches, the run, the report file,
    // on the run thread. `status` receives the exit status; the window closes at the end when
    // -x asks for it (its messages then go to standard error as well, and no box waits for an
    // answer). False when it could not start.
    bool RunUnattended(const CommandLine& line, std::atomic<int>& status);

    RunDriver& Driver() { return runs_->Driver(); }
    RunView& View() { return runs_->View(); }
    const QString& ReportTextShown() const;
    QString StatusText(StatusPanel panel) const;
    ExplorerBar* Bar() const { return bar_; }
    FileListModel* FileModel() const;
    StructuredModel* TreeModel() const;
    HitLinesView* HitLines() const;
    ResultMenu* ResultFilesMenu() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildPanels(const AppSettings& settings);
    WindowRunView::Handlers ViewHandlers();
    MainActions::Handlers ActionHandlers();
    // Starts `order`; `after` runs on this thread once it has ended.
    bool StartOrder(RunOrder order, std::function<void()> after = nullptr);
    // Whether the folder box names a folder; tells the user when not.
    bool CheckFolder();
    void PrintReport();
    void LoadSettings(const AppSettings& settings);
    void SaveSettings();
    // Which controls can be used: while a run runs, or when idle.
    void SetRunning(bool running);
    // Reads the report settings again and shows the last results as they say.
    void RefreshSettings();
    void UpdateReplaceButton();
    void RunEnded();
    // Logs an error; the user is told when the entry cannot be written.
    void Log(const std::string& label, const Status& status);
    void TellIfLogFailed(bool failed);

    std::unique_ptr<RunPresenter> runs_;
    bool running_ = false;  // between a run's start and its end reaching the window

    ExplorerBar* bar_ = nullptr;
    SearchCriteriaPanel* criteria_ = nullptr;
    DateSizePanels* dates_and_sizes_ = nullptr;
    ReplacePanel* replace_ = nullptr;
    ResultsLogPanel* results_log_ = nullptr;
    FolderBox* folder_ = nullptr;
    ReportViews* reports_ = nullptr;
    RunStatusBar* status_ = nullptr;
    MainActions* actions_ = nullptr;
    HelpWindow* help_ = nullptr;
    UndoOutcome last_undo_;    // written by the run thread, read after it has ended
    std::string undo_folder_;  // the restore point of the replace run shown, until undone
};

}  // namespace ferret
