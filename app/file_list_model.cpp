#include "app/file_list_model.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <iterator>
#include <unordered_set>

#include "engine/file_records.h"
#include "settings/app_settings.h"
#include "util/file_handle.h"
#include "util/legacy_text.h"

namespace ferret {

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kFileListColumnCount;
}

QString FileListModel::ToolTip(const FileListRow& row) {
    QString tip = QStringLiteral("Double-click file to preview contents");
    if (row.record == nullptr) {
        return tip;
    }
    // Read when asked: a name for every file listed would cost the list's memory. A FIFO put in
    // a file's place must not hang the window.
    const Fd file(
        open(row.record->FullPath().c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (file.get() < 0 || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return tip;
    }
    const AppSettings settings = ReadAppSettings();
    const std::string encoding =
        FileEncodingName(file.get(), {settings.text_encoding, settings.legacy_encoding});
    if (!encoding.empty()) {
        tip += QStringLiteral("\nText encoding: ") + QString::fromStdString(encoding);
    }
    return tip;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(
                rows_[static_cast<std::size_t>(index.row())].text[index.column()]);
        case Qt::TextAlignmentRole:
            if (index.column() == kColumnItemsFound || index.column() == kColumnFlags) {
                return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
            }
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        case Qt::ToolTipRole:
            return ToolTip(rows_[static_cast<std::size_t>(index.row())]);
        default:
            return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kFileListColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromLatin1(kFileListHeaders[static_cast<std::size_t>(section)]);
    }
    if (role == Qt::TextAlignmentRole) {
        if (section == kColumnItemsFound || section == kColumnFlags) {
            return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
        }
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

void FileListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kFileListColumnCount) {
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<std::size_t> from =
        FileListSortOrder(rows_, column, order == Qt::AscendingOrder);
    std::vector<int> new_row(rows_.size());
    std::vector<FileListRow> sorted;
    sorted.reserve(rows_.size());
    for (std::size_t i = 0; i < from.size(); ++i) {
        new_row[from[i]] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[from[i]]));
    }
    rows_ = std::move(sorted);
    const QModelIndexList old_indexes = persistentIndexList();
    QModelIndexList new_indexes;
    new_indexes.reserve(old_indexes.size());
    for (const QModelIndex& old_index : old_indexes) {
        new_indexes.append(
            index(new_row[static_cast<std::size_t>(old_index.row())], old_index.column()));
    }
    changePersistentIndexList(old_indexes, new_indexes);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileListModel::ResetRows(std::vector<FileListRow> rows, std::shared_ptr<FileRecords> owner) {
    beginResetModel();
    rows_ = std::move(rows);
    owner_ = std::move(owner);
    endResetModel();
}

void FileListModel::AppendRows(std::vector<FileListRow> rows) {
    if (rows.empty()) {
        return;
    }
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
    endInsertRows();
}

void FileListModel::RemovePaths(const std::vector<std::string>& paths) {
    const std::unordered_set<std::string> gone(paths.begin(), paths.end());
    for (int row = rowCount() - 1; row >= 0; --row) {
        if (gone.count(FullPath(row)) != 0) {
            beginRemoveRows(QModelIndex(), row, row);
            rows_.erase(rows_.begin() + row);
            endRemoveRows();
        }
    }
}

void FileListModel::ColumnClicked(int column) {
    if (column < 0 || column >= kFileListColumnCount) {
        return;
    }
    toggle_.Click(column);
    sort(column, SortOrder());
}

FileRecord* FileListModel::Record(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return nullptr;
    }
    return rows_[static_cast<std::size_t>(row)].record;
}

std::string FileListModel::FullPath(int row) const {
    const FileRecord* record = Record(row);
    return record != nullptr ? record->FullPath() : std::string();
}

}  // namespace ferret
