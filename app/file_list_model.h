#pragma once

#include <QAbstractTableModel>
#include <memory>
#include <string>
#include <vector>

#include "reports/file_list_rows.h"

namespace ferret {

class FileRecord;
class FileRecords;

// The detailed file list: six columns over rows made by BuildFileListRows. The rows point into
// a run's collection, which the model keeps alive while it shows them (or, for rows given
// without their owner, which the caller keeps alive). Sorting is
// done here (the view's own sorting stays off); ColumnClicked applies the header-click rule.
class FileListModel : public QAbstractTableModel {
  public:
    explicit FileListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Stable; persistent indexes follow their rows.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Replaces all rows, in the given order. The sort state of ColumnClicked is kept.
    void ResetRows(std::vector<FileListRow> rows, std::shared_ptr<FileRecords> owner = nullptr);
    void Clear() { ResetRows({}); }
    // Adds rows at the end, as a run finishes their files; their records are kept alive by the
    // run until its whole list replaces them.
    void AppendRows(std::vector<FileListRow> rows);
    // Drops the rows of these files (moved to the trash, for instance).
    void RemovePaths(const std::vector<std::string>& paths);

    // A header click: reverses the direction (every click, whatever the column) and sorts.
    // The view shows SortColumn/SortOrder as its sort indicator afterwards.
    void ColumnClicked(int column);
    int SortColumn() const { return toggle_.column(); }
    Qt::SortOrder SortOrder() const {
        return toggle_.ascending() ? Qt::AscendingOrder : Qt::DescendingOrder;
    }

    // The record of a row, or nullptr for a row that does not exist.
    FileRecord* Record(int row) const;
    // The real full path of a row, to open on double-click; empty for a row that does not exist.
    std::string FullPath(int row) const;
    const std::vector<FileListRow>& rows() const { return rows_; }

  private:
    // The row's tool tip: how to preview it, and the encoding its text is read in.
    static QString ToolTip(const FileListRow& row);
    std::vector<FileListRow> rows_;
    std::shared_ptr<FileRecords> owner_;  // what rows_ point into
    FileListSortToggle toggle_;
};

}  // namespace ferret
