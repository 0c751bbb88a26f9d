#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <memory>
#include <string>
#include <vector>

#include "reports/structured_nodes.h"

namespace ferret {

// The structured report: one column over a StructuredTree, with the icons of the node images.
// A folder node shows the open folder while the view reports it expanded (SetExpanded from the
// view's expanded/collapsed signals), the closed one otherwise. Needs a QApplication.
class StructuredModel : public QAbstractItemModel {
  public:
    explicit StructuredModel(QObject* parent = nullptr);

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Replaces the whole tree; every folder starts collapsed.
    void ResetTree(StructuredTree tree);
    // Adds `files` to the tree shown, as a run finishes them; the first call after a reset
    // starts the tree over `input`'s folder.
    void AddFiles(const std::vector<FileRecord*>& files, const ReportBuildInput& input);
    void Clear() { ResetTree(StructuredTree()); }
    const StructuredTree& tree() const { return tree_; }

    // The node of an index, or nullptr for the invalid index.
    const StructuredNode* Node(const QModelIndex& index) const;
    // The index of the root node "Results: ".
    QModelIndex RootIndex() const;

    // Only folder nodes keep the state; other nodes are left alone.
    void SetExpanded(const QModelIndex& index, bool expanded);
    bool IsExpanded(const QModelIndex& index) const;

    // What a double-click on `index` opens: the tag of its first child when that is a file path
    // (a file node's path line), otherwise empty (folders, detail lines, the root).
    std::string DoubleClickPath(const QModelIndex& index) const;

  private:
    QModelIndex IndexOf(std::uint32_t id) const;

    StructuredTree tree_;
    std::unique_ptr<StructuredTreeGrower> grower_;  // while the tree grows with a run
    std::vector<bool> expanded_;                    // by node id
    QIcon root_icon_;
    QIcon detail_icon_;
    QIcon file_icon_;
    QIcon folder_closed_icon_;
    QIcon folder_open_icon_;
};

}  // namespace ferret
