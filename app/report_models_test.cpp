#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QIcon>
#include <QPersistentModelIndex>
#include <map>
#include <string>
#include <vector>

#include "app/file_list_model.h"
#include "app/structured_model.h"
#include "engine/file_records.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using Tester = QAbstractItemModelTester;

ReportBuildInput Input(bool searched, const std::string& start_folder) {
    return {start_folder, searched, nullptr, [](const std::string&) {
                return FileFacts{"Text", false, true, false};
            }};
}

std::vector<QString> Names(const QAbstractItemModel& model) {
    std::vector<QString> texts;
    for (int row = 0; row < model.rowCount(); ++row) {
        texts.push_back(model.index(row, kColumnName).data().toString());
    }
    return texts;
}

class FileListModelTest : public ::testing::Test {
  protected:
    FileListModelTest() {
        files_.Add("b.txt", "/", "2.00 MB", 0)->SetItemsFound(9);
        files_.Add("a.txt", "/etc/", "3.00 KB", 0)->SetItemsFound(10);
        files_.Add("c.txt", "/etc/x/", "", 0)->SetItemsFound(2);
        files_.Add("none.txt", "/etc/", "", 0);
        model_.ResetRows(BuildFileListRows(&files_, Input(true, "/")).rows);
    }

    FileRecords files_;
    FileListModel model_;
    Tester tester_{&model_, Tester::FailureReportingMode::Fatal};
};

TEST_F(FileListModelTest, RowsLeadToTheirRealPaths) {
    ASSERT_EQ(model_.rowCount(), 3);  // the file without hits is left out
    EXPECT_EQ(model_.index(0, kColumnFolder).data().toString(), "(root selected)/");
    EXPECT_EQ(model_.FullPath(0), "/b.txt");
    EXPECT_EQ(model_.FullPath(2), "/etc/x/c.txt");
    EXPECT_EQ(model_.Record(1), files_.Item("/etc/a.txt"));
    EXPECT_EQ(model_.FullPath(3), "");
}

// A row's tool tip names the encoding its file's text is read in, as a search reads it; a binary
// file or one that is gone names none.
TEST(FileListToolTip, NamesTheEncodingOfTheFile) {
    const testing::TempDir dir;
    dir.WriteFile("latin.txt", "caf\xE9 cr\xE8me\n");
    dir.WriteFile("plain.txt", "plain\n");
    dir.WriteFile("wide.txt", std::string("\xFF\xFEh\0i\0", 6));
    dir.WriteFile("binary.bin", std::string("a\0b", 3));
    FileRecords files;
    for (const char* name : {"latin.txt", "plain.txt", "wide.txt", "binary.bin", "gone.txt"}) {
        files.Add(name, dir.path() + "/", "", 0)->SetItemsFound(1);
    }
    FileListModel model;
    model.ResetRows(BuildFileListRows(&files, Input(true, dir.path())).rows);
    std::map<QString, QString> tips;
    for (int row = 0; row < model.rowCount(); ++row) {
        tips[model.index(row, kColumnName).data().toString()] =
            model.index(row, kColumnSize).data(Qt::ToolTipRole).toString();
    }
    const QString preview = QStringLiteral("Double-click file to preview contents");
    EXPECT_EQ(tips["latin.txt"], preview + QStringLiteral("\nText encoding: WINDOWS-1252"));
    EXPECT_EQ(tips["plain.txt"], preview + QStringLiteral("\nText encoding: UTF-8"));
    EXPECT_EQ(tips["wide.txt"], preview + QStringLiteral("\nText encoding: UTF-16LE"));
    EXPECT_EQ(tips["binary.bin"], preview);
    EXPECT_EQ(tips["gone.txt"], preview);
}

TEST_F(FileListModelTest, HeaderClicksSortAndReverseEveryTime) {
    const QPersistentModelIndex a_size(model_.index(1, kColumnSize));
    struct Step {
        int column;
        Qt::SortOrder order;
        std::vector<QString> names;
    };
    const Step steps[] = {
        {kColumnItemsFound, Qt::DescendingOrder, {"a.txt", "b.txt", "c.txt"}},  // 10, 9, 2
        {kColumnItemsFound, Qt::AscendingOrder, {"c.txt", "b.txt", "a.txt"}},
        {kColumnSize, Qt::DescendingOrder, {"b.txt", "a.txt", "c.txt"}},  // MB, KB, empty
        {kColumnFolder, Qt::AscendingOrder, {"b.txt", "a.txt", "c.txt"}},
    };
    for (const Step& step : steps) {
        model_.ColumnClicked(step.column);
        EXPECT_EQ(model_.SortColumn(), step.column);
        EXPECT_EQ(model_.SortOrder(), step.order);
        EXPECT_EQ(Names(model_), step.names) << step.column;
        // Persistent indexes follow their rows.
        EXPECT_EQ(a_size.data().toString(), "3.00 KB");
        EXPECT_EQ(model_.FullPath(a_size.row()), "/etc/a.txt");
    }
    model_.Clear();
    EXPECT_EQ(model_.rowCount(), 0);
}

class StructuredModelTest : public ::testing::Test {
  protected:
    StructuredModelTest() {
        files_.Add("a.txt", "/s/", "1.00 KB", 0)->SetItemsFound(1);
        files_.Add("b.txt", "/s/x/y/", "2.00 KB", 0)->SetItemsFound(3);
        model_.ResetTree(BuildStructuredTree(&files_, Input(true, "/s")));
    }
    // Depth-first search by key.
    QModelIndex Find(const std::string& key, const QModelIndex& parent = {}) const {
        for (int row = 0; row < model_.rowCount(parent); ++row) {
            const QModelIndex child = model_.index(row, 0, parent);
            if (model_.Node(child)->key == key) {
                return child;
            }
            if (const QModelIndex found = Find(key, child); found.isValid()) {
                return found;
            }
        }
        return {};
    }

    FileRecords files_;
    StructuredModel model_;
    Tester tester_{&model_, Tester::FailureReportingMode::Fatal};
};

TEST_F(StructuredModelTest, ShapeAndTexts) {
    ASSERT_EQ(model_.rowCount(), 1);
    EXPECT_EQ(model_.RootIndex().data().toString(), "Results: ");
    const QModelIndex file = Find("file1");
    EXPECT_EQ(file.data().toString(), "b.txt");
    EXPECT_EQ(file.parent().data().toString(), "y");
    EXPECT_EQ(file.parent().parent().parent(), Find("(root selected)"));
    EXPECT_EQ(model_.index(4, 0, file).data().toString(), "Items Found: 3");
}

TEST_F(StructuredModelTest, FolderIconFollowsExpandedStateOnlyForFolders) {
    const QModelIndex folder = Find("(root selected)/x");
    const QModelIndex file = Find("file0");
    const auto icon = [](const QModelIndex& index) {
        return index.data(Qt::DecorationRole).value<QIcon>().cacheKey();
    };
    const qint64 closed = icon(folder);
    const qint64 file_icon = icon(file);
    model_.SetExpanded(folder, true);
    EXPECT_TRUE(model_.IsExpanded(folder));
    EXPECT_NE(icon(folder), closed);
    model_.SetExpanded(file, true);
    EXPECT_FALSE(model_.IsExpanded(file));
    EXPECT_EQ(icon(file), file_icon);
    model_.SetExpanded(folder, false);
    EXPECT_EQ(icon(folder), closed);
    EXPECT_FALSE(model_.index(0, 0, file).data(Qt::DecorationRole).value<QIcon>().isNull());

    model_.SetExpanded(folder, true);
    model_.ResetTree(BuildStructuredTree(&files_, Input(false, "/s")));
    EXPECT_FALSE(model_.IsExpanded(Find("(root selected)/x")));
    EXPECT_EQ(model_.rowCount(Find("file0")), 4);
}

TEST_F(StructuredModelTest, DoubleClickOpensOnlyFileNodes) {
    const std::pair<const char*, const char*> cases[] = {
        {"file0", "/s/a.txt"},
        {"file1", "/s/x/y/b.txt"},
        {"(root selected)/x", ""},
        {"(root selected)", ""},
        {"size0", ""},
        {"Results", ""},
    };
    for (const auto& [key, opens] : cases) {
        const QModelIndex index = Find(key);
        ASSERT_TRUE(index.isValid()) << key;
        EXPECT_EQ(model_.DoubleClickPath(index), opens) << key;
    }
}

}  // namespace
}  // namespace ferret
