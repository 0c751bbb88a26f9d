#include "reports/structured_nodes.h"

#include <exception>
#include <functional>
#include <unordered_map>

#include "engine/file_records.h"
#include "settings/error_log.h"

namespace ferret {
namespace {

struct PathHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
        return std::hash<std::string_view>()(text);
    }
};

// Folder nodes by their path below the start folder ("" for the start folder itself, "a/b"),
// so that folders of the same name in different branches stay apart.
using FolderIndex = std::unordered_map<std::string, std::uint32_t, PathHash, std::equal_to<>>;

}  // namespace

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
    nodes_.push_back(
        StructuredNode{std::move(key), std::move(text), image, std::move(tag), parent, row, {}});
    nodes_[parent].children.push_back(id);
    return id;
}

StructuredTree BuildStructuredTree(const FileRecords* files, const ReportBuildInput& input) {
    StructuredTree tree;
    if (files == nullptr) {
        return tree;
    }
    const FileFactsReader read_facts =
        input.read_facts ? input.read_facts : SystemFileFactsReader();
    std::string prefix = input.start_folder;
    while (!prefix.empty() && prefix.back() == '/') {
        prefix.pop_back();
    }
    prefix.push_back('/');

    // Six nodes per file at most, plus folders; reserving untouched memory costs little, while
    // regrowing a vector of hundreds of thousands of nodes shows.
    tree.nodes_.reserve(static_cast<std::size_t>(files->Count()) * 6 + 2);
    FolderIndex folders;
    // Makes the folder node of `relative` and any missing ancestor, upper ones first.
    const auto folder_node = [&tree, &folders](std::string_view relative) {
        if (const auto found = folders.find(relative); found != folders.end()) {
            return found->second;
        }
        auto top = folders.find(std::string_view());
        if (top == folders.end()) {
            const std::uint32_t id = tree.Add(StructuredTree::kRootId, kRootSelected, kRootSelected,
                                              NodeImage::kFolder, kFolderTag);
            top = folders.emplace(std::string(), id).first;
        }
        std::uint32_t parent = top->second;
        std::size_t start = 0;
        while (start < relative.size()) {
            std::size_t slash = relative.find('/', start);
            if (slash == std::string_view::npos) {
                slash = relative.size();
            }
            const std::string_view upto = relative.substr(0, slash);
            if (const auto found = folders.find(upto); found != folders.end()) {
                parent = found->second;
            } else {
                parent = tree.Add(parent, kRootSelected + ("/" + std::string(upto)),
                                  std::string(relative.substr(start, slash - start)),
                                  NodeImage::kFolder, kFolderTag);
                folders.emplace(std::string(upto), parent);
            }
            start = slash + 1;
        }
        return parent;
    };

    try {
        std::uint32_t k = 0;
        for (FileRecord& file : *files) {
            if (input.searched && file.ItemsFound() < 1) {
                continue;
            }
            const std::string full_path = file.FullPath();
            FileFacts facts = read_facts(full_path);
            file.SetFiletype(facts.type);
            const std::string_view folder =
                std::string_view(full_path).substr(0, full_path.size() - file.Filename().size());
            if (!folder.starts_with(prefix)) {
                // The old build ended here with the file's parent missing; one stray record
                // should not cost the rest of the report, so it is only left out.
                if (!LogError("frmMain: CreateNewNode - " +
                                  std::string(folder.substr(0, folder.size() - 1)),
                              "9", "The folder is not below the start folder") &&
                    input.log_failed) {
                    input.log_failed();
                }
            } else {
                std::string_view relative = folder.substr(prefix.size());
                if (!relative.empty()) {
                    relative.remove_suffix(1);
                }
                const std::uint32_t parent = folder_node(relative);
                const std::string number = std::to_string(k);
                const std::uint32_t node =
                    tree.Add(parent, "file" + number, file.Filename(), NodeImage::kFile);
                tree.Add(node, "path" + number, "Path: " + file.RootPath(), NodeImage::kDetail,
                         full_path);
                tree.Add(node, "size" + number, "Size: " + file.Size(), NodeImage::kDetail);
                tree.Add(node, "type" + number, "Type: " + facts.type, NodeImage::kDetail);
                tree.Add(node, "flags" + number, "Flags: " + FlagsText(facts), NodeImage::kDetail);
                if (input.searched) {
                    tree.Add(node, "item" + number,
                             "Items Found: " + std::to_string(file.ItemsFound()),
                             NodeImage::kDetail);
                }
                ++k;
            }
            if (input.stop_requested && input.stop_requested()) {
                break;
            }
        }
    } catch (const std::exception& error) {
        if (!LogError("frmMain: DisplayStructuredList", kLogNumberUnexpected, error.what()) &&
            input.log_failed) {
            input.log_failed();
        }
    }
    return tree;
}

}  // namespace ferret
