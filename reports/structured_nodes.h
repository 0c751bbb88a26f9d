#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "reports/file_list_rows.h"

namespace ferret {

class FileRecords;

// The picture a node shows; a view maps these to icons.
enum class NodeImage { kRoot, kDetail, kFile, kFolder };

// The tag of folder nodes (root folder included).
inline constexpr char kFolderTag[] = "Folder";

struct StructuredNode {
    // Unique within the tree: "Results", "(root selected)", "(root selected)/a/b" for folders
    // (their path below the start folder), "file" k, and "path", "size", "type", "flags",
    // "item" followed by k for the detail lines of file k.
    std::string key;
    std::string text;
    NodeImage image = NodeImage::kDetail;
    // The full file path on path lines, kFolderTag on folders, empty otherwise.
    std::string tag;
    std::uint32_t parent = 0;  // node id; the root is its own parent
    std::uint32_t row = 0;     // position among the parent's children
    std::vector<std::uint32_t> children;
};

// The structured report as plain nodes: the root "Results: ", below it "(root selected)" and the
// folder hierarchy below the start folder, each folder's files, and each file's detail lines.
// Nodes are addressed by id (their index); the root is id 0 and always present. Not thread-safe.
class StructuredTree {
  public:
    static constexpr std::uint32_t kRootId = 0;

    StructuredTree();

    const StructuredNode& node(std::uint32_t id) const { return nodes_[id]; }
    std::size_t size() const { return nodes_.size(); }

    // The node with `key`, or nullptr. Walks all nodes: for tests and occasional use.
    const StructuredNode* Find(std::string_view key) const;

    // A new last child of `parent`; returns its id.
    std::uint32_t Add(std::uint32_t parent, std::string key, std::string text, NodeImage image,
                      std::string tag = {});
    void Reserve(std::size_t nodes) { nodes_.reserve(nodes); }

    // Told around each Add, when set: the parent and the row the new node takes (a view of a
    // tree that grows while it is shown).
    std::function<void(std::uint32_t parent, std::uint32_t row)> adding;
    std::function<void()> added;

  private:
    std::vector<StructuredNode> nodes_;
};

// Builds the tree from the records in collection order: files with at least one hit when a
// search text was given, every file otherwise; the "Items Found: " line only when searched. File
// numbers k run from 0 without gaps over the files put in the tree. Each file's type is stored in
// its record (SetFiletype). A record whose folder is not below the start folder is logged under
// "frmMain: CreateNewNode - " followed by its folder and left out. Any other error ends the
// build, is logged under "frmMain: DisplayStructuredList" and keeps the nodes made so far.
// `files` may be null (no run yet): the tree is then the root alone.
StructuredTree BuildStructuredTree(const FileRecords* files, const ReportBuildInput& input);

// Puts files into a tree one at a time, as BuildStructuredTree does: for a tree that grows while
// the run goes. `tree` must outlive it. Not thread-safe.
class StructuredTreeGrower {
  public:
    StructuredTreeGrower(StructuredTree& tree, ReportBuildInput input);
    ~StructuredTreeGrower();
    StructuredTreeGrower(const StructuredTreeGrower&) = delete;
    StructuredTreeGrower& operator=(const StructuredTreeGrower&) = delete;

    // Adds `file` below its folders (made as needed); nothing for a file without hits after a
    // search, or (logged) one whose folder is not below the start folder. Stores its type.
    void Add(FileRecord& file);

  private:
    class Builder;
    ReportBuildInput input_;
    FileFactsReader read_facts_;
    std::string prefix_;  // the start folder, with one "/" at its end
    std::unique_ptr<Builder> builder_;
};
inline StructuredTree BuildStructuredTree(const std::shared_ptr<FileRecords>& files,
                                          const ReportBuildInput& input) {
    return BuildStructuredTree(files.get(), input);  // the tree holds copies of what it shows
}

}  // namespace ferret
