#include "reports/structured_nodes.h"

#include <exception>
#include <functional>
#include <unordered_map>

#include "engine/file_records.h"
#include "settings/error_log.h"

namespace ferret {
StructuredTree::StructuredTree() {
    nodes_.push_back(StructuredNode{"Results", "Results: ", NodeImage::kRoot, {}, 0, 0, {}});
}

const StructuredNode* StructuredTree::Find(std::string_view key) const {
    for (const StructuredNode& node : nodes_) {
        if (node.key == key) {
            return &node;
        }
    }
    return nullptr;
}

std::uint32_t StructuredTree::Add(std::uint32_t parent, std::string key, std::string text,
                                  NodeImage image, std::string tag) {
    const auto id = static_cast<std::uint32_t>(nodes_.size());
    const auto row = static_cast<std::uint32_t>(nodes_[parent].children.size());
    if (adding) {
        adding(parent, row);
    }
    nodes_.push_back(
        StructuredNode{std::move(key), std::move(text), image, std::move(tag), parent, row, {}});
    nodes_[parent].children.push_back(id);
    if (added) {
        added();
    }
    return id;
}

// Adds the nodes of one file to a structured tree, its folders made as they are first needed.
class StructuredTreeGrower::Builder {
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>()(text);
        }
    };
    // Folder nodes by their path below the start folder ("" for the start folder itself,
    // "a/b"), so that folders of the same name in different branches stay apart.
    using FolderIndex = std::unordered_map<std::string, std::uint32_t, PathHash, std::equal_to<>>;

  public:
    Builder(StructuredTree& tree, const ReportBuildInput& input) : tree_(tree), input_(input) {}

    // Makes the folder node of `relative` and any missing ancestor, upper ones first.
    std::uint32_t FolderNode(std::string_view relative) {
        if (const auto found = folders_.find(relative); found != folders_.end()) {
            return found->second;
        }
        auto top = folders_.find(std::string_view());
        if (top == folders_.end()) {
            const std::uint32_t id = tree_.Add(StructuredTree::kRootId, kRootSelected,
                                               kRootSelected, NodeImage::kFolder, kFolderTag);
            top = folders_.emplace(std::string(), id).first;
        }
        std::uint32_t parent = top->second;
        std::size_t start = 0;
        while (start < relative.size()) {
            std::size_t slash = relative.find('/', start);
            if (slash == std::string_view::npos) {
                slash = relative.size();
            }
            const std::string_view upto = relative.substr(0, slash);
            if (const auto found = folders_.find(upto); found != folders_.end()) {
                parent = found->second;
            } else {
                parent = tree_.Add(parent, kRootSelected + ("/" + std::string(upto)),
                                   std::string(relative.substr(start, slash - start)),
                                   NodeImage::kFolder, kFolderTag);
                folders_.emplace(std::string(upto), parent);
            }
            start = slash + 1;
        }
        return parent;
    }

    // The file's node with its detail lines, below its folder's.
    void AddFile(std::uint32_t parent, const FileRecord& file, const FileFacts& facts,
                 const std::string& full_path) {
        const std::string number = std::to_string(files_++);
        const std::uint32_t node =
            tree_.Add(parent, "file" + number, file.Filename(), NodeImage::kFile);
        tree_.Add(node, "path" + number, "Path: " + file.RootPath(), NodeImage::kDetail, full_path);
        tree_.Add(node, "size" + number, "Size: " + file.Size(), NodeImage::kDetail);
        tree_.Add(node, "type" + number, "Type: " + facts.type, NodeImage::kDetail);
        tree_.Add(node, "flags" + number, "Flags: " + FlagsText(facts), NodeImage::kDetail);
        if (input_.searched) {
            tree_.Add(node, "item" + number, "Items Found: " + std::to_string(file.ItemsFound()),
                      NodeImage::kDetail);
        }
    }

  private:
    StructuredTree& tree_;
    const ReportBuildInput& input_;
    FolderIndex folders_;
    std::uint32_t files_ = 0;
};

namespace {

void LogFailure(const ReportBuildInput& input, const std::string& where, const std::string& number,
                const std::string& text) {
    if (!LogError(where, number, text) && input.log_failed) {
        input.log_failed();
    }
}

}  // namespace

StructuredTreeGrower::StructuredTreeGrower(StructuredTree& tree, ReportBuildInput input)
    : input_(std::move(input)),
      read_facts_(input_.read_facts ? input_.read_facts : SystemFileFactsReader()),
      prefix_(input_.start_folder) {
    while (!prefix_.empty() && prefix_.back() == '/') {
        prefix_.pop_back();
    }
    prefix_.push_back('/');
    builder_ = std::make_unique<Builder>(tree, input_);
}

StructuredTreeGrower::~StructuredTreeGrower() = default;

void StructuredTreeGrower::Add(FileRecord& file) {
    if (input_.searched && file.ItemsFound() < 1) {
        return;
    }
    const std::string full_path = file.FullPath();
    FileFacts facts = read_facts_(full_path);
    file.SetFiletype(facts.type);
    const std::string_view folder =
        std::string_view(full_path).substr(0, full_path.size() - file.Filename().size());
    if (!folder.starts_with(prefix_)) {
        // The old build ended here with the file's parent missing; one stray record should not
        // cost the rest of the report, so it is only left out.
        LogFailure(input_,
                   "frmMain: CreateNewNode - " + std::string(folder.substr(0, folder.size() - 1)),
                   "9", "The folder is not below the start folder");
        return;
    }
    std::string_view relative = folder.substr(prefix_.size());
    if (!relative.empty()) {
        relative.remove_suffix(1);
    }
    builder_->AddFile(builder_->FolderNode(relative), file, facts, full_path);
}

StructuredTree BuildStructuredTree(const FileRecords* files, const ReportBuildInput& input) {
    StructuredTree tree;
    if (files == nullptr) {
        return tree;
    }
    // Six nodes per file at most, plus folders; reserving untouched memory costs little, while
    // regrowing a vector of hundreds of thousands of nodes shows.
    tree.Reserve(static_cast<std::size_t>(files->Count()) * 6 + 2);
    StructuredTreeGrower grower(tree, input);
    try {
        for (FileRecord& file : *files) {
            grower.Add(file);
            if (input.stop_requested && input.stop_requested()) {
                break;
            }
        }
    } catch (const std::exception& error) {
        LogFailure(input, "frmMain: DisplayStructuredList", kLogNumberUnexpected, error.what());
    }
    return tree;
}

}  // namespace ferret
