#pragma once

#include <QAbstractListModel>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/hit_line_table.h"

class QAction;
class QHeaderView;
class QListView;

namespace ferret {

// The rows of the hit-lines report: each file (name, hits, folder) followed, while it is open,
// by its hit lines and their context lines. One flat list, so that a million lines cost the
// view no more than their number: nothing is laid out per row, and opening or closing a file
// moves only the rows after it.
class HitLinesModel : public QAbstractListModel {
  public:
    enum class Kind { kFile, kHit, kContext, kNote };
    enum Role {
        kKindRole = Qt::UserRole + 1,  // Kind as an int
        kNumberRole,                   // a line's number
        kHitsRole,                     // a file's hits
        kFolderRole,                   // a file's folder
        kOpenRole,                     // whether a file's lines are shown
        kPageRole,                     // "page N" for a line of a PDF's text
    };

    explicit HitLinesModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Shows `table` with every file open; without one, `note` alone (or nothing).
    void SetTable(std::shared_ptr<const HitLineTable> table, const QString& note = QString());
    const HitLineTable* Table() const { return table_.get(); }
    // The table shown has more files or lines at its end (it fills while the run goes).
    void TableGrew();

    // Where a row is: the file (in display order) and its line (-1: the file's own row; the
    // line of a binary file or one without lines is its note); file -1: the report's note.
    struct Place {
        int file = -1;
        int line = -1;
    };
    Place PlaceOf(int row) const;
    int FileCount() const { return static_cast<int>(order_.size()); }
    int RowOfFile(int file) const;
    const FileHitLines& FileAt(int file) const;
    // The hit or context line of a row, its text read again from its file; none for other rows.
    // A line that cannot be read again says so as its text.
    std::optional<HitLine> LineAt(int row) const;
    // The file a row belongs to; empty for the note.
    std::string FullPath(int row) const;

    bool IsOpen(int file) const { return open_[static_cast<std::size_t>(file)] != 0; }
    void SetOpen(int file, bool open);
    void SetAllOpen(bool open);

    // By column (0 name, 1 hits, 2 folder) in `order`; -1 goes back to the order of the run.
    void SortBy(int column, Qt::SortOrder order);

    // "PATH:LINE:COLUMN: TEXT" lines of the hit lines among `rows`, in row order; a file's row
    // stands for all its hit lines.
    std::string QuickfixText(std::vector<int> rows) const;
    // Every hit line as QuickfixText gives it, file after file in display order (binary files
    // have none), handed to `take` in pieces of some 64 KiB, so that millions of lines need no
    // more memory than a piece. Stops, returning false, when `take` does.
    bool ForEachQuickfixPiece(const std::function<bool(std::string_view)>& take) const;

  private:
    // The rows below a file's own row.
    int LinesShown(int file) const;
    void Recount();

    // The line `line` of `file`, with its text when `text`.
    std::optional<HitLine> Line(const Place& place, bool text) const;

    std::shared_ptr<const HitLineTable> table_;
    mutable HitLineReader reader_;
    QString note_;
    std::vector<int> order_;      // display position -> entry of the table
    std::vector<char> open_;      // by display position
    std::vector<int> first_row_;  // by display position: the row of the file
    int rows_ = 0;
};

// The hit-lines report: a header of columns to sort the files by, over the list of files and
// their lines, each hit marked as the previewer marks it and context lines greyed. Enter or a
// double click on a line opens it; on a file, Enter, a click on its arrow, Left and Right open
// and close its lines. Ctrl+C copies the selected lines as quickfix lines; Ctrl+E opens the
// current line in the user's editor.
class HitLinesView : public QWidget {
  public:
    explicit HitLinesView(QWidget* parent = nullptr);

    // The last run's lines; null shows why there are none.
    void ShowTable(std::shared_ptr<const HitLineTable> table);
    void Clear();

    // Opens a file at a line and column (characters; 0: none to select).
    std::function<void(const std::string& path, std::int64_t line, std::int64_t column,
                       std::int32_t page)>
        on_open;
    // The context menu of files, at a point on the screen.
    std::function<void(const std::vector<std::string>& paths, const QPoint& global)> on_menu;
    // Opens a file in the user's editor at a line and column (1-based; the column in bytes, as
    // HitLine counts it).
    std::function<void(const std::string& path, std::int64_t line, std::int64_t column)> on_edit;

    // What Enter does on the current row.
    void ActivateCurrent();
    // "Open in Editor" (Ctrl+E) on the current row: a line at its first hit (a context line at
    // its start), a file at its first hit, a file without known lines at its start.
    void EditCurrent();
    QAction* EditAction() const { return edit_; }
    // Ctrl+C: the selected rows as quickfix lines on the clipboard.
    void CopySelection();
    // The files of the selected rows, the current row's first.
    std::vector<std::string> SelectedPaths() const;
    // The file of the current row; empty when there is none.
    std::string CurrentPath() const;

    HitLinesModel* Model() const { return model_; }
    QListView* List() const { return list_; }
    QHeaderView* Header() const { return header_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Where a row opens: its file and line and column (0 when not known).
    struct Target {
        std::string path;
        std::int64_t line = 0;
        std::int64_t column = 0;
        std::int32_t page = 0;  // of a PDF's text, whose lines count by page
    };
    std::optional<Target> TargetOf(int row) const;
    void Activate(int row);

    HitLinesModel* model_ = nullptr;
    QHeaderView* header_ = nullptr;
    QListView* list_ = nullptr;
    QAction* edit_ = nullptr;
};

}  // namespace ferret
