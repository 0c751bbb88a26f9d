#include "reports/structured_nodes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "engine/file_records.h"
#include "settings/settings.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using Texts = std::vector<std::string>;

// Builds from (file name, folder, hits) triples.
StructuredTree Build(const std::vector<std::tuple<std::string, std::string, int>>& records,
                     bool searched, const std::string& start_folder = "/s",
                     std::function<void()> log_failed = nullptr) {
    FileRecords files;
    for (const auto& [name, root, hits] : records) {
        files.Add(name, root, "1.00 KB", 0)->SetItemsFound(hits);
    }
    ReportBuildInput input{start_folder, searched, nullptr, [](const std::string&) {
                               return FileFacts{"Text", true, false, false};
                           }};
    input.log_failed = std::move(log_failed);
    return BuildStructuredTree(&files, input);
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

Texts Children(const StructuredTree& tree, const std::string& key) {
    Texts texts;
    for (const std::uint32_t child : tree.Find(key)->children) {
        texts.push_back(tree.node(child).text);
    }
    return texts;
}

Texts KeysStartingWith(const StructuredTree& tree, const std::string& prefix) {
    Texts keys;
    for (std::uint32_t id = 0; id < tree.size(); ++id) {
        if (tree.node(id).key.starts_with(prefix)) {
            keys.push_back(tree.node(id).key);
        }
    }
    return keys;
}

TEST(StructuredNodesBuild, RootAloneWithoutFiles) {
    const StructuredTree tree = BuildStructuredTree(nullptr, {});
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree.node(0).key, "Results");
    EXPECT_EQ(tree.node(0).text, "Results: ");
    EXPECT_EQ(Build({}, false).size(), 1u);
}

TEST(StructuredNodesBuild, FoldersBelowRootSelected) {
    const char* const cases[][4] = {
        // folder, start folder, lineage of file0
        {"/s/", "/s/", "Results > (root selected) > file0"},
        {"/s/a/", "/s", "Results > (root selected) > (root selected)/a > file0"},
        {"/", "/", "Results > (root selected) > file0"},
        {"/etc/", "/", "Results > (root selected) > (root selected)/etc > file0"},
    };
    for (const auto& c : cases) {
        const StructuredTree tree = Build({{"f", c[0], 1}}, false, c[1]);
        EXPECT_EQ(Lineage(tree, "file0"), c[2]) << c[0] << " in " << c[1];
        EXPECT_EQ(tree.Find("(root selected)")->tag, kFolderTag);
        EXPECT_EQ(tree.Find("file0")->image, NodeImage::kFile);
    }
}

TEST(StructuredNodesBuild, FoldersAreMadeOnceUpperBeforeLowerAndKeptApartByPath) {
    const StructuredTree tree = Build(
        {{"x", "/s/a/b/", 1}, {"y", "/s/a/b/", 1}, {"z", "/s/a/", 1}, {"w", "/s/c/b/", 1}}, false);
    EXPECT_EQ(KeysStartingWith(tree, "(root selected)"),
              (Texts{"(root selected)", "(root selected)/a", "(root selected)/a/b",
                     "(root selected)/c", "(root selected)/c/b"}));
    EXPECT_EQ(Children(tree, "(root selected)/a"), (Texts{"b", "z"}));
    EXPECT_EQ(Children(tree, "(root selected)/a/b"), (Texts{"x", "y"}));
    EXPECT_EQ(Children(tree, "(root selected)/c/b"), (Texts{"w"}));
    EXPECT_EQ(tree.Find("(root selected)/c/b")->text, "b");
}

TEST(StructuredNodesBuild, DetailLinesWithAndWithoutSearchText) {
    for (const bool searched : {false, true}) {
        const StructuredTree tree = Build({{"f.txt", "/s/d/", 7}}, searched);
        Texts expected = {"Path: /s/d/", "Size: 1.00 KB", "Type: Text", "Flags: H "};
        if (searched) {
            expected.push_back("Items Found: 7");
        }
        EXPECT_EQ(Children(tree, "file0"), expected);
        EXPECT_EQ(tree.Find("path0")->tag, "/s/d/f.txt");  // first child: what a double-click opens
        EXPECT_EQ(tree.Find("size0")->tag, "");
        EXPECT_EQ(tree.Find("item0") != nullptr, searched);
    }
}

TEST(StructuredNodesBuild, FileNumbersHaveNoGapsWhenFilesAreLeftOut) {
    const StructuredTree tree =
        Build({{"a", "/s/", 2}, {"b", "/s/", 0}, {"c", "/s/", -1}, {"d", "/s/", 5}}, true);
    EXPECT_EQ(KeysStartingWith(tree, "file"), (Texts{"file0", "file1"}));
    EXPECT_EQ(tree.Find("file1")->text, "d");
    EXPECT_EQ(tree.Find("item1")->text, "Items Found: 5");
}

TEST(StructuredNodesBuild, StopEndsTheBuildAfterTheCurrentFile) {
    FileRecords files;
    for (int i = 0; i < 4; ++i) {
        files.Add("f" + std::to_string(i), "/s/", "", 0);
    }
    int asked = 0;
    ReportBuildInput input;
    input.start_folder = "/s";
    input.stop_requested = [&asked] { return ++asked == 2; };
    input.read_facts = [](const std::string&) { return FileFacts{}; };
    EXPECT_EQ(KeysStartingWith(BuildStructuredTree(&files, input), "file"),
              (Texts{"file0", "file1"}));
}

TEST(StructuredNodesBuild, FolderOutsideTheStartFolderIsLoggedAndLeftOut) {
    // Settings and log in a private folder so the entry can be read back.
    testing::TempDir root;
    const std::string saved_config = std::getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", root.Path("config").c_str(), 1);
    setenv("FERRET_HOME", root.Path("data").c_str(), 1);
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kLogging, "True").ok());
    const StructuredTree tree =
        Build({{"a", "/s/", 1}, {"stray", "/other/place/", 1}, {"b", "/s2/", 1}, {"c", "/s/d/", 1}},
              false);
    const std::string log = root.ReadFile("data/ferret.log");
    setenv("XDG_CONFIG_HOME", saved_config.c_str(), 1);
    unsetenv("FERRET_HOME");
    EXPECT_EQ(KeysStartingWith(tree, "file"), (Texts{"file0", "file1"}));
    EXPECT_EQ(tree.Find("file1")->text, "c");
    EXPECT_NE(log.find("frmMain: CreateNewNode - /other/place\t"), std::string::npos) << log;
    EXPECT_NE(log.find("frmMain: CreateNewNode - /s2\t"), std::string::npos) << log;
}

// The presenter tells the user of each entry the log could not take.
TEST(StructuredNodesBuild, AnEntryTheLogCannotTakeIsPassedOn) {
    testing::TempDir root;
    const std::string saved_config = std::getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", root.Path("config").c_str(), 1);
    root.WriteFile("blocker", "a regular file where the data folder belongs");
    setenv("FERRET_HOME", root.Path("blocker/data").c_str(), 1);
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kLogging, "True").ok());
    int told = 0;
    const StructuredTree tree = Build({{"a", "/s/", 1}, {"stray", "/other/", 1}, {"b", "/s2/", 1}},
                                      false, "/s", [&told] { ++told; });
    setenv("XDG_CONFIG_HOME", saved_config.c_str(), 1);
    unsetenv("FERRET_HOME");
    EXPECT_EQ(told, 2);
    EXPECT_EQ(KeysStartingWith(tree, "file"), (Texts{"file0"}));
}

}  // namespace
}  // namespace ferret
