#pragma once

#include <QMainWindow>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/command_line.h"

#include "app/run_driver.h"
#include "engine/restore_point.h"
#include "engine/search_fields.h"
#include "util/message_box.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QProgressBar;
class QDateTimeEdit;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QRadioButton;
class QStackedWidget;
class QTableView;
class QPlainTextEdit;
class QTextEdit;
class QToolButton;
class QTreeView;

namespace ferret {

class ExplorerBar;
class HelpWindow;
class ResultMenu;
class ProblemsDialog;
class PreviewWindow;
class FileListModel;
class PreviewReplaceDialog;
class HitLinesView;
class StructuredModel;
class WindowRunView;
class TaskProgress;

// The main window: the search fields in the explorer bar on the left, the folder box with its
// drop-down folder tree and the report views on the right, toolbars, menus and status bar. Runs
// go to a thread of their own so the window keeps answering; Pause and Stop reach them at once.
class MainWindow : public QMainWindow {
  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The search fields as the widgets hold them, and back.
    SearchFields Fields() const;
    void SetFields(const SearchFields& fields);

    // What the toolbar buttons and the Enter key do: checks the folder, then starts the run.
    // Returns false when the run could not start.
    bool StartRun(const QString& mode);
    // Preview Replace: a replace run that writes nothing, its changes shown file by file in a
    // window of their own as they are found; "Replace Selected" there writes the chosen ones.
    // nullptr when it could not start.
    PreviewReplaceDialog* PreviewReplace();
    // A replace run of just `chosen` (a preview's choice), with the preview's fields.
    bool ReplaceChosen(const SearchFields& fields, std::vector<ChosenChange> chosen);
    bool IsRunning() const { return run_thread_.joinable(); }
    // Waits for the current run to end (for tests and closing).
    void WaitForRun();
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
    void ChooseReportType(int code);
    // Tools > Options: the options dialog, then the report settings applied.
    void ShowOptions();
    // Tools > Undo Last Replace: asks, then undoes the newest restore point. False when there
    // is none or the user said no.
    bool UndoLastReplace();
    // Tools > Restore Points: the list of replace runs to undo or delete.
    void ShowRestorePoints();
    // The files the last run could not do, in a dialog (the status bar's "N file(s) not done").
    // The dialog is returned open when `modal` is false (for tests), else nullptr after it.
    ProblemsDialog* ShowProblems(bool modal = true);
    // The status bar's button for them; hidden after a run that did every file.
    QToolButton* ProblemsButton() const { return problems_button_; }
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
    // A previewer for `path` marking the last run's text, or nullptr when `path` is not a file;
    // scrolled to `line` with the hit at `column` (characters) selected when they are given.
    PreviewWindow* OpenFilePreviewer(const std::string& path, std::int64_t line = 0,
                                     std::int64_t column = 0);
    // One previewer per selected row of the detailed list, in list order.
    std::vector<PreviewWindow*> PreviewFiles();
    // Whether the Pause button can be pressed (the run is under way).
    bool CanPause() const;

    // The unattended run with this window: fields from the switches, the run, the report file.
    // Runs on the returned thread; `status` receives the exit status, and the window closes
    // at the end when -x asks for it (its messages then go to standard error as well, and no
    // box waits for an answer).
    std::thread RunUnattended(const CommandLine& line, std::atomic<int>& status);

    RunDriver& Driver() { return *driver_; }
    RunView& View();
    const QString& ReportTextShown() const;
    QString StatusText(int panel) const;
    ExplorerBar* Bar() const { return bar_; }
    FileListModel* FileModel() const { return file_model_; }
    StructuredModel* TreeModel() const { return tree_model_; }
    HitLinesView* HitLines() const { return hit_view_; }
    ResultMenu* ResultFilesMenu() const { return result_menu_.get(); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowProblemCount();
    // Starts a run of `kind` ("Search", "Replace") over `fields`; `after` runs on this thread
    // once it has ended.
    bool StartRunWith(const std::string& kind, const SearchFields& fields,
                      std::function<void()> after = nullptr);
    void BuildWidgets();
    void BuildMenus();
    void BuildPopups();
    void BuildQuickLinks();
    void ShowAbout();
    void LoadSettings();
    void SaveSettings();
    void EnableForm(bool running);
    void ShowReportView(int code);
    // Reads the report settings again and shows the last results as they say.
    void RefreshSettings();
    void ToggleFolderTree(bool focus_tree);
    void PlaceFolderTree();
    void UpdateReplaceButton();
    void OnRunFinished();
    void ShowUndoOutcome(const Status& status);
    // Empties the list and the tree: their rows point into the results a new run replaces.
    void ClearReportModels();

    std::unique_ptr<WindowRunView> view_;
    std::unique_ptr<RunDriver> driver_;
    std::thread run_thread_;

    ExplorerBar* bar_ = nullptr;
    QComboBox* folder_ = nullptr;
    QTreeView* folder_tree_ = nullptr;
    QWidget* report_area_ = nullptr;
    QFileSystemModel* folder_model_ = nullptr;
    bool folder_guard_ = false;
    bool running_ = false;
    QMetaObject::Connection focus_watch_;  // closes the folder tree when the focus leaves it  //
                                           // between a run's start and its end reaching the window
    QComboBox* mask_ = nullptr;
    QRadioButton* include_ = nullptr;
    QRadioButton* exclude_ = nullptr;
    QComboBox* find_ = nullptr;
    QCheckBox* regex_ = nullptr;
    QCheckBox* ignore_case_ = nullptr;
    QCheckBox* recursive_ = nullptr;
    QButtonGroup* date_options_ = nullptr;
    QComboBox* date_kind_ = nullptr;
    QDateTimeEdit* date_from_ = nullptr;
    QDateTimeEdit* date_to_ = nullptr;
    QButtonGroup* size_options_ = nullptr;
    QComboBox* size_compare_ = nullptr;
    QLineEdit* size_text_ = nullptr;
    QLineEdit* replace_ = nullptr;
    QTextEdit* run_log_ = nullptr;
    QStackedWidget* reports_ = nullptr;
    QTableView* list_view_ = nullptr;
    FileListModel* file_model_ = nullptr;
    QTreeView* tree_view_ = nullptr;
    StructuredModel* tree_model_ = nullptr;
    HitLinesView* hit_view_ = nullptr;
    QPlainTextEdit* report_text_ = nullptr;
    QString report_shown_;
    QLabel* status_[3] = {};
    QToolButton* problems_button_ = nullptr;
    QProgressBar* progress_ = nullptr;             // files done of files listed, while a run runs
    std::unique_ptr<TaskProgress> task_progress_;  // the same on the task bar entry
    QAction* search_action_ = nullptr;
    QAction* replace_action_ = nullptr;
    QAction* preview_action_ = nullptr;
    std::function<void()> run_end_;  // what StartRunWith's caller asked for at the run's end
    QAction* pause_action_ = nullptr;
    QAction* stop_action_ = nullptr;
    QAction* save_report_ = nullptr;
    QAction* print_report_ = nullptr;
    QAction* report_types_[5] = {};
    HelpWindow* help_ = nullptr;
    std::unique_ptr<ResultMenu> result_menu_;
    UndoOutcome last_undo_;  // written by the run thread, read after it is joined
};

}  // namespace ferret
