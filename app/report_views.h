#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reports/file_list_rows.h"
#include "reports/hit_line_table.h"
#include "reports/structured_nodes.h"
#include "settings/report_type.h"

class QPlainTextEdit;
class QStackedWidget;
class QTableView;
class QTreeView;
class QWidget;

namespace ferret {

class FileListModel;
class HitLinesView;
class ResultMenu;
class StructuredModel;

// The reports of the last run, one view each, one shown at a time: the detailed file list, the
// folder tree, the summary text and the hit lines. A double-click or Enter opens a file; the
// list and the hit lines have the result files' menu, and Ctrl+E opens their current file in
// the user's editor (a hit line at its hit).
class ReportViews : public QObject {
  public:
    // `owner`: the window, parent of the menu's dialogs.
    explicit ReportViews(QWidget* owner);
    ~ReportViews() override;

    // The stack of views, for the window to lay out.
    QWidget* Widget() const;

    // Shows the view of `report`.
    void Show(ReportType report);
    // Empties the list, the tree and the hit lines: their rows point into the results a new
    // run replaces.
    void Clear();
    void ShowFileList(FileListRows rows);
    // Adds `files` to the list, or the tree when it is shown, while a run goes (see
    // RunView::StreamFile).
    void AppendFiles(const std::vector<FileRecord*>& files, const std::string& start_folder,
                     bool searched);
    void ShowStructuredTree(StructuredTree tree);
    void ShowHitLines(std::shared_ptr<const HitLineTable> table);
    // The summary text; it is what "Save Report" writes and "Print Report" prints.
    void SetReportText(const QString& text);
    const QString& ReportText() const { return report_shown_; }
    QPlainTextEdit* TextView() const { return report_text_; }
    // Whether the hit lines are the report shown: then they are what is saved and printed.
    bool HitLinesShown() const;
    // The rows cannot be opened while a run is changing them.
    void SetRunning(bool running);
    // The full paths of the list's selected rows, in list order.
    std::vector<std::string> SelectedPaths() const;

    FileListModel* FileModel() const { return file_model_; }
    StructuredModel* TreeModel() const { return tree_model_; }
    HitLinesView* HitLines() const { return hit_view_; }
    ResultMenu* Menu() const { return menu_.get(); }

    // Opens `path`, at `line` with the hit at `column` (characters) when they are given.
    std::function<void(const std::string& path, std::int64_t line, std::int64_t column,
                       std::int32_t page)>
        on_open;
    // Opens `path` in the user's editor at `line` and `column` (1-based; the column in bytes of
    // the line's UTF-8 text).
    std::function<void(const std::string& path, std::int64_t line, std::int64_t column)> on_edit;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Open(const std::string& path, std::int64_t line = 0, std::int64_t column = 0,
              std::int32_t page = 0);
    void Edit(const std::string& path, std::int64_t line, std::int64_t column);
    // "Open in Editor" of the result files' menu.
    void EditFromMenu(const std::string& path);
    void BuildList(QWidget* owner);
    void BuildTree();

    QStackedWidget* stack_ = nullptr;
    QTableView* list_view_ = nullptr;
    FileListModel* file_model_ = nullptr;
    QTreeView* tree_view_ = nullptr;
    StructuredModel* tree_model_ = nullptr;
    QPlainTextEdit* report_text_ = nullptr;
    QString report_shown_;
    HitLinesView* hit_view_ = nullptr;
    std::unique_ptr<ResultMenu> menu_;
};

}  // namespace ferret
