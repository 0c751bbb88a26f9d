#include "reports/structured_nodes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "engine/result_records.h"
#include "settings/settings.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

clsFile* AddFile(clsFiles& files, const std::string& name, const std::string& root,
                 std::int32_t hits = 1) {
    clsFile* file = files.Add(name, root, "1.00 KB", 0);
    file->SetItemsFound(hits);
    return file;
}

ReportBuildInput Input(bool searched, const std::string& start_folder = "/s") {
    ReportBuildInput input;
    input.start_folder = start_folder;
    input.searched = searched;
    input.read_facts = [](const std::string&) { return FileFacts{"Text", true, false, false}; };
    return input;
}

// The keys from the root down to `key`, joined by " > ".
std::string Lineage(const StructuredTree& tree, const std::string& key) {
    const StructuredNode* node = tree.Find(key);
    if (node == nullptr) {
        return "(missing)";
    }
    std::string line = node->key;
    while (node != &tree.node(StructuredTree::kRootId)) {
        node = &tree.node(node->parent);
        line = node->key + " > " + line;
    }
    return line;
}

std::vector<std::string> ChildTexts(const StructuredTree& tree, const StructuredNode& node) {
    std::vector<std::string> texts;
    for (const std::uint32_t child : node.children) {
        texts.push_back(tree.node(child).text);
    }
    return texts;
}

std::vector<std::string> KeysWithPrefix(const StructuredTree& tree, const std::string& prefix) {
    std::vector<std::string> keys;
    for (std::uint32_t id = 0; id < tree.size(); ++id) {
        if (tree.node(id).key.starts_with(prefix)) {
            keys.push_back(tree.node(id).key);
        }
    }
    return keys;
}

// Every child knows its parent and position, as the model relies on.
void ExpectConsistent(const StructuredTree& tree) {
    for (std::uint32_t id = 0; id < tree.size(); ++id) {
        const StructuredNode& node = tree.node(id);
        for (std::uint32_t row = 0; row < node.children.size(); ++row) {
            const StructuredNode& child = tree.node(node.children[row]);
            EXPECT_EQ(child.parent, id);
            EXPECT_EQ(child.row, row);
        }
    }
}

TEST(StructuredNodesBuild, RootAloneWithoutFiles) {
    clsFiles empty;
    const clsFiles* const collections[] = {nullptr, &empty};
    for (const clsFiles* files : collections) {
        const StructuredTree tree = BuildStructuredTree(files, Input(true));
        ASSERT_EQ(tree.size(), 1u);
        EXPECT_EQ(tree.node(0).key, "Results");
        EXPECT_EQ(tree.node(0).text, "Results: ");
        EXPECT_EQ(tree.node(0).image, NodeImage::kRoot);
    }
}

TEST(StructuredNodesBuild, FileInTheStartFolderHangsUnderRootSelected) {
    clsFiles files;
    AddFile(files, "a.txt", "/s/");
    const StructuredTree tree = BuildStructuredTree(&files, Input(false, "/s/"));
    EXPECT_EQ(Lineage(tree, "file0"), "Results > (root selected) > file0");
    const StructuredNode& folder = *tree.Find("(root selected)");
    EXPECT_EQ(folder.text, "(root selected)");
    EXPECT_EQ(folder.tag, kFolderTag);
    EXPECT_EQ(folder.image, NodeImage::kFolder);
    const StructuredNode& file = *tree.Find("file0");
    EXPECT_EQ(file.text, "a.txt");
    EXPECT_EQ(file.image, NodeImage::kFile);
    EXPECT_EQ(file.tag, "");
    ExpectConsistent(tree);
}

TEST(StructuredNodesBuild, StartFolderSlashShowsEveryFolderBelowRootSelected) {
    clsFiles files;
    AddFile(files, "passwd", "/etc/");
    AddFile(files, "top", "/");
    const StructuredTree tree = BuildStructuredTree(&files, Input(false, "/"));
    EXPECT_EQ(Lineage(tree, "file0"), "Results > (root selected) > (root selected)/etc > file0");
    EXPECT_EQ(Lineage(tree, "file1"), "Results > (root selected) > file1");
    EXPECT_EQ(tree.Find("(root selected)/etc")->text, "etc");
}

TEST(StructuredNodesBuild, FoldersAreMadeOnceUpperBeforeLower) {
    clsFiles files;
    AddFile(files, "x.txt", "/s/a/b/");
    AddFile(files, "y.txt", "/s/a/b/");
    AddFile(files, "z.txt", "/s/a/");
    const StructuredTree tree = BuildStructuredTree(&files, Input(false));
    EXPECT_EQ(
        KeysWithPrefix(tree, "(root selected)"),
        (std::vector<std::string>{"(root selected)", "(root selected)/a", "(root selected)/a/b"}));
    EXPECT_EQ(Lineage(tree, "file1"),
              "Results > (root selected) > (root selected)/a > (root selected)/a/b > file1");
    EXPECT_EQ(Lineage(tree, "file2"), "Results > (root selected) > (root selected)/a > file2");
    const StructuredNode& a = *tree.Find("(root selected)/a");
    EXPECT_EQ(a.text, "a");
    EXPECT_EQ(ChildTexts(tree, a), (std::vector<std::string>{"b", "z.txt"}));
    ExpectConsistent(tree);
}

TEST(StructuredNodesBuild, SameNamedFoldersInDifferentBranchesStayApart) {
    clsFiles files;
    AddFile(files, "one.txt", "/s/x/common/");
    AddFile(files, "two.txt", "/s/y/common/");
    AddFile(files, "three.txt", "/s/x/common/");
    const StructuredTree tree = BuildStructuredTree(&files, Input(false));
    EXPECT_EQ(ChildTexts(tree, *tree.Find("(root selected)/x/common")),
              (std::vector<std::string>{"one.txt", "three.txt"}));
    EXPECT_EQ(ChildTexts(tree, *tree.Find("(root selected)/y/common")),
              (std::vector<std::string>{"two.txt"}));
}

TEST(StructuredNodesBuild, DetailLinesWithAndWithoutSearchText) {
    struct Case {
        bool searched;
        std::vector<std::string> keys;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {false,
         {"path0", "size0", "type0", "flags0"},
         {"Path: /s/d/", "Size: 1.00 KB", "Type: Text", "Flags: H "}},
        {true,
         {"path0", "size0", "type0", "flags0", "item0"},
         {"Path: /s/d/", "Size: 1.00 KB", "Type: Text", "Flags: H ", "Items Found: 7"}},
    };
    for (const Case& c : cases) {
        clsFiles files;
        clsFile* record = AddFile(files, "f.txt", "/s/d/", 7);
        const StructuredTree tree = BuildStructuredTree(&files, Input(c.searched));
        const StructuredNode& file = *tree.Find("file0");
        std::vector<std::string> keys;
        for (const std::uint32_t child : file.children) {
            keys.push_back(tree.node(child).key);
            EXPECT_EQ(tree.node(child).image, NodeImage::kDetail);
        }
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(ChildTexts(tree, file), c.texts);
        // The path line comes first and carries the full path.
        EXPECT_EQ(tree.node(file.children.front()).tag, "/s/d/f.txt");
        EXPECT_EQ(tree.node(file.children[1]).tag, "");
        EXPECT_EQ(record->Filetype(), "Text");
    }
}

TEST(StructuredNodesBuild, FileNumbersHaveNoGapsWhenFilesAreLeftOut) {
    clsFiles files;
    AddFile(files, "a", "/s/", 2);
    AddFile(files, "b", "/s/", 0);
    AddFile(files, "c", "/s/", -1);
    AddFile(files, "d", "/s/", 5);
    const StructuredTree tree = BuildStructuredTree(&files, Input(true));
    EXPECT_EQ(KeysWithPrefix(tree, "file"), (std::vector<std::string>{"file0", "file1"}));
    EXPECT_EQ(tree.Find("file1")->text, "d");
    EXPECT_EQ(tree.Find("item1")->text, "Items Found: 5");

    const StructuredTree all = BuildStructuredTree(&files, Input(false));
    EXPECT_EQ(KeysWithPrefix(all, "file").size(), 4u);
    EXPECT_EQ(all.Find("file3")->text, "d");
}

TEST(StructuredNodesBuild, StopEndsTheBuildAfterTheCurrentFile) {
    clsFiles files;
    for (int i = 0; i < 4; ++i) {
        AddFile(files, "f" + std::to_string(i), "/s/d" + std::to_string(i) + "/");
    }
    int asked = 0;
    ReportBuildInput input = Input(false);
    input.stop_requested = [&asked] { return ++asked == 2; };
    const StructuredTree tree = BuildStructuredTree(&files, input);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(KeysWithPrefix(tree, "file"), (std::vector<std::string>{"file0", "file1"}));
    EXPECT_EQ(tree.Find("(root selected)/d2"), nullptr);
}

// Settings and log in a private folder so the entry can be read back.
class StructuredNodesLog : public ::testing::Test {
  protected:
    StructuredNodesLog() {
        setenv("XDG_CONFIG_HOME", root_.Path("config").c_str(), 1);
        setenv("FERRET_HOME", root_.Path("data").c_str(), 1);
        EXPECT_TRUE(SaveSettingValue(kSettingsKey, kLogging, "True").ok());
    }
    ~StructuredNodesLog() override {
        setenv("XDG_CONFIG_HOME", saved_config_.c_str(), 1);
        unsetenv("FERRET_HOME");
    }
    std::string Log() const { return root_.ReadFile("data/ferret.log"); }

    const std::string saved_config_ = std::getenv("XDG_CONFIG_HOME");
    testing::TempDir root_;
};

TEST_F(StructuredNodesLog, FolderOutsideTheStartFolderIsLoggedAndLeftOut) {
    clsFiles files;
    AddFile(files, "a", "/s/");
    AddFile(files, "stray", "/other/place/");
    AddFile(files, "b", "/s2/");  // shares the start folder's letters, not its folder
    AddFile(files, "c", "/s/d/");
    const StructuredTree tree = BuildStructuredTree(&files, Input(false));
    EXPECT_EQ(KeysWithPrefix(tree, "file"), (std::vector<std::string>{"file0", "file1"}));
    EXPECT_EQ(tree.Find("file1")->text, "c");
    const std::string log = Log();
    EXPECT_NE(log.find("frmMain: CreateNewNode - /other/place\t"), std::string::npos) << log;
    EXPECT_NE(log.find("frmMain: CreateNewNode - /s2\t"), std::string::npos) << log;
}

#ifdef __SANITIZE_ADDRESS__
constexpr int kSlowdown = 4;  // sanitizer builds run several times slower
#else
constexpr int kSlowdown = 1;
#endif

TEST(StructuredNodesSpeed, HundredThousandFilesWellUnderASecond) {
    int boxes = 0;
    const MessageBoxHandler previous = SetMessageBoxHandler(
        [&boxes](const std::string&, const std::string&, MessageIcon) { ++boxes; });
    clsFiles files;
    constexpr int kFiles = 100000;
    files.Reserve(kFiles);
    for (int i = 0; i < kFiles; ++i) {
        auto record = std::make_unique<clsFile>();
        record->SetFilename("file" + std::to_string(i) + ".txt");
        record->SetRootPath("/nonexistent-ferret-root/d" + std::to_string(i % 300) + "/sub" +
                            std::to_string(i % 7) + "/");
        record->SetSize("1.00 KB");
        record->SetItemsFound(1);
        files.AddUnique(std::move(record));
    }
    ReportBuildInput input = Input(true, "/nonexistent-ferret-root");
    input.read_facts = nullptr;  // the real reader, on files that do not exist
    const auto start = std::chrono::steady_clock::now();
    const StructuredTree tree = BuildStructuredTree(&files, input);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    SetMessageBoxHandler(previous);
    EXPECT_EQ(boxes, 0);
    // Root, root folder, 300 + 2,100 folders, and six nodes per file.
    EXPECT_EQ(tree.size(), 2u + 300u + 2100u + 6u * kFiles);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(),
              kSlowdown * 1000);
}

}  // namespace
}  // namespace ferret
