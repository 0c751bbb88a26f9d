#include "app/structured_model.h"

#include <QApplication>
#include <QStyle>

namespace ferret {

StructuredModel::StructuredModel(QObject* parent)
    : QAbstractItemModel(parent), expanded_(tree_.size(), false) {
    if (QStyle* style = QApplication::style()) {
        root_icon_ = style->standardIcon(QStyle::SP_ComputerIcon);
        detail_icon_ = style->standardIcon(QStyle::SP_FileDialogInfoView);
        file_icon_ = style->standardIcon(QStyle::SP_FileIcon);
        folder_closed_icon_ = style->standardIcon(QStyle::SP_DirClosedIcon);
        folder_open_icon_ = style->standardIcon(QStyle::SP_DirOpenIcon);
    }
}

QModelIndex StructuredModel::IndexOf(std::uint32_t id) const {
    const StructuredNode& node = tree_.node(id);
    return createIndex(static_cast<int>(node.row), 0, static_cast<quintptr>(id));
}

const StructuredNode* StructuredModel::Node(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.internalId() >= tree_.size()) {
        return nullptr;
    }
    return &tree_.node(static_cast<std::uint32_t>(index.internalId()));
}

QModelIndex StructuredModel::RootIndex() const {
    return IndexOf(StructuredTree::kRootId);
}

QModelIndex StructuredModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) {
        return {};
    }
    if (!parent.isValid()) {
        return row == 0 ? RootIndex() : QModelIndex();
    }
    const StructuredNode* node = Node(parent);
    if (node == nullptr || static_cast<std::size_t>(row) >= node->children.size()) {
        return {};
    }
    return IndexOf(node->children[static_cast<std::size_t>(row)]);
}

QModelIndex StructuredModel::parent(const QModelIndex& child) const {
    const StructuredNode* node = Node(child);
    if (node == nullptr || child.internalId() == StructuredTree::kRootId) {
        return {};
    }
    return IndexOf(node->parent);
}

int StructuredModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return 1;
    }
    if (parent.column() != 0) {
        return 0;
    }
    const StructuredNode* node = Node(parent);
    return node != nullptr ? static_cast<int>(node->children.size()) : 0;
}

int StructuredModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant StructuredModel::data(const QModelIndex& index, int role) const {
    const StructuredNode* node = Node(index);
    if (node == nullptr) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromStdString(node->text);
    }
    if (role == Qt::DecorationRole) {
        switch (node->image) {
            case NodeImage::kRoot:
                return root_icon_;
            case NodeImage::kDetail:
                return detail_icon_;
            case NodeImage::kFile:
                return file_icon_;
            case NodeImage::kFolder:
                return expanded_[index.internalId()] ? folder_open_icon_ : folder_closed_icon_;
        }
    }
    return {};
}

void StructuredModel::AddFiles(const std::vector<FileRecord*>& files,
                               const ReportBuildInput& input) {
    if (!grower_) {
        grower_ = std::make_unique<StructuredTreeGrower>(tree_, input);
        // Each node is a row inserted under its parent, which the view may show open.
        tree_.adding = [this](std::uint32_t parent, std::uint32_t row) {
            beginInsertRows(IndexOf(parent), static_cast<int>(row), static_cast<int>(row));
        };
        tree_.added = [this] {
            expanded_.push_back(false);
            endInsertRows();
        };
    }
    for (FileRecord* file : files) {
        grower_->Add(*file);
    }
}

void StructuredModel::ResetTree(StructuredTree tree) {
    beginResetModel();
    grower_.reset();
    tree_ = std::move(tree);
    expanded_.assign(tree_.size(), false);
    endResetModel();
}

void StructuredModel::SetExpanded(const QModelIndex& index, bool expanded) {
    const StructuredNode* node = Node(index);
    if (node == nullptr || node->tag != kFolderTag || expanded_[index.internalId()] == expanded) {
        return;
    }
    expanded_[index.internalId()] = expanded;
    emit dataChanged(index, index, {Qt::DecorationRole});
}

bool StructuredModel::IsExpanded(const QModelIndex& index) const {
    const StructuredNode* node = Node(index);
    return node != nullptr && expanded_[index.internalId()];
}

std::string StructuredModel::DoubleClickPath(const QModelIndex& index) const {
    const StructuredNode* node = Node(index);
    if (node == nullptr || node->children.empty()) {
        return {};
    }
    const std::string& tag = tree_.node(node->children.front()).tag;
    return tag == kFolderTag ? std::string() : tag;
}

}  // namespace ferret
