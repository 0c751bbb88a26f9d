#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QIcon>
#include <QPersistentModelIndex>
#include <string>
#include <vector>

#include "app/file_list_model.h"
#include "app/structured_model.h"
#include "engine/result_records.h"

namespace ferret {
namespace {

ReportBuildInput Input(bool searched, const std::string& start_folder) {
    ReportBuildInput input;
    input.start_folder = start_folder;
    input.searched = searched;
    input.read_facts = [](const std::string&) { return FileFacts{"Text", false, true, false}; };
    return input;
}

std::vector<QString> ColumnTexts(const QAbstractItemModel& model, int column) {
    std::vector<QString> texts;
    for (int row = 0; row < model.rowCount(); ++row) {
        texts.push_back(model.data(model.index(row, column)).toString());
    }
    return texts;
}

class FileListModelTest : public ::testing::Test {
  protected:
    FileListModelTest() {
        Add("b.txt", "/", 9, "2.00 MB");
        Add("a.txt", "/etc/", 10, "3.00 KB");
        Add("c.txt", "/etc/x/", 2, "");
        Add("none.txt", "/etc/", 0, "1 bytes");
        model_.ResetRows(BuildFileListRows(&files_, Input(true, "/")).rows);
    }
    void Add(const std::string& name, const std::string& root, int hits, const std::string& size) {
        files_.Add(name, root, size, 0)->SetItemsFound(hits);
    }

    clsFiles files_;
    FileListModel model_;
    QAbstractItemModelTester tester_{&model_,
                                     QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(FileListModelTest, HeadersCellsAlignmentAndToolTip) {
    std::vector<QString> headers;
    for (int column = 0; column < model_.columnCount(); ++column) {
        headers.push_back(model_.headerData(column, Qt::Horizontal).toString());
    }
    EXPECT_EQ(headers,
              (std::vector<QString>{"Name", "Folder", "Items Found", "Type", "Size", "Flags"}));
    ASSERT_EQ(model_.rowCount(), 3);  // the file without hits is left out
    EXPECT_EQ(ColumnTexts(model_, kColumnFolder),
              (std::vector<QString>{"(root selected)/", "(root selected)/etc/",
                                    "(root selected)/etc/x/"}));
    EXPECT_EQ(model_.data(model_.index(0, kColumnFlags)).toString(), "R ");
    for (int column = 0; column < kFileListColumnCount; ++column) {
        const auto alignment =
            model_.data(model_.index(0, column), Qt::TextAlignmentRole).value<Qt::Alignment>();
        const bool centred = column == kColumnItemsFound || column == kColumnFlags;
        EXPECT_EQ(bool(alignment & Qt::AlignHCenter), centred) << column;
        EXPECT_EQ(bool(alignment & Qt::AlignLeft), !centred) << column;
    }
    EXPECT_EQ(model_.data(model_.index(1, kColumnName), Qt::ToolTipRole).toString(),
              "Double-click file to preview contents");
}

TEST_F(FileListModelTest, FullPathIsTheRealPathOfTheRow) {
    EXPECT_EQ(model_.FullPath(0), "/b.txt");
    EXPECT_EQ(model_.FullPath(2), "/etc/x/c.txt");
    EXPECT_EQ(model_.Record(1), files_.Item("/etc/a.txt"));
    EXPECT_EQ(model_.FullPath(3), "");
    EXPECT_EQ(model_.Record(-1), nullptr);
}

TEST_F(FileListModelTest, HeaderClicksSortAndReverseEveryTime) {
    struct Step {
        int column;
        Qt::SortOrder order;
        std::vector<QString> names;
    };
    const Step steps[] = {
        {kColumnItemsFound, Qt::DescendingOrder, {"a.txt", "b.txt", "c.txt"}},  // 10, 9, 2
        {kColumnItemsFound, Qt::AscendingOrder, {"c.txt", "b.txt", "a.txt"}},
        {kColumnSize, Qt::DescendingOrder, {"b.txt", "a.txt", "c.txt"}},  // MB, KB, empty
        {kColumnName, Qt::AscendingOrder, {"a.txt", "b.txt", "c.txt"}},
        {kColumnFolder, Qt::DescendingOrder, {"c.txt", "a.txt", "b.txt"}},
    };
    for (const Step& step : steps) {
        model_.ColumnClicked(step.column);
        EXPECT_EQ(model_.SortColumn(), step.column);
        EXPECT_EQ(model_.SortOrder(), step.order);
        EXPECT_EQ(ColumnTexts(model_, kColumnName), step.names) << step.column;
    }
}

TEST_F(FileListModelTest, PersistentIndexesFollowTheirRowsAndPathsStayRight) {
    const QPersistentModelIndex a(model_.index(1, kColumnSize));
    model_.sort(kColumnItemsFound, Qt::AscendingOrder);
    ASSERT_TRUE(a.isValid());
    EXPECT_EQ(a.row(), 2);
    EXPECT_EQ(a.column(), kColumnSize);
    EXPECT_EQ(a.data().toString(), "3.00 KB");
    EXPECT_EQ(model_.FullPath(a.row()), "/etc/a.txt");
}

TEST_F(FileListModelTest, ResetAndClear) {
    model_.Clear();
    EXPECT_EQ(model_.rowCount(), 0);
    model_.ResetRows(BuildFileListRows(&files_, Input(false, "/")).rows);
    EXPECT_EQ(model_.rowCount(), 4);
}

class StructuredModelTest : public ::testing::Test {
  protected:
    StructuredModelTest() {
        files_.Add("a.txt", "/s/", "1.00 KB", 0)->SetItemsFound(1);
        files_.Add("b.txt", "/s/x/y/", "2.00 KB", 0)->SetItemsFound(3);
        model_.ResetTree(BuildStructuredTree(&files_, Input(true, "/s")));
    }
    QModelIndex Child(const QModelIndex& parent, int row) const {
        return model_.index(row, 0, parent);
    }
    QModelIndex IndexOfKey(const QModelIndex& parent, const std::string& key) const {
        for (int row = 0; row < model_.rowCount(parent); ++row) {
            const QModelIndex child = Child(parent, row);
            if (model_.Node(child)->key == key) {
                return child;
            }
            if (const QModelIndex found = IndexOfKey(child, key); found.isValid()) {
                return found;
            }
        }
        return {};
    }

    clsFiles files_;
    StructuredModel model_;
    QAbstractItemModelTester tester_{&model_,
                                     QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(StructuredModelTest, ShapeTextsAndParents) {
    ASSERT_EQ(model_.rowCount(), 1);
    const QModelIndex root = model_.RootIndex();
    EXPECT_EQ(root.data().toString(), "Results: ");
    const QModelIndex top = Child(root, 0);
    EXPECT_EQ(top.data().toString(), "(root selected)");
    EXPECT_EQ(model_.rowCount(top), 2);  // a.txt, then folder x
    const QModelIndex file = IndexOfKey(root, "file1");
    ASSERT_TRUE(file.isValid());
    EXPECT_EQ(file.data().toString(), "b.txt");
    EXPECT_EQ(model_.parent(file).data().toString(), "y");
    EXPECT_EQ(model_.parent(model_.parent(model_.parent(file))), top);
    EXPECT_EQ(model_.rowCount(file), 5);
    EXPECT_EQ(Child(file, 4).data().toString(), "Items Found: 3");
}

TEST_F(StructuredModelTest, FolderIconFollowsExpandedStateOnlyForFolders) {
    const QModelIndex folder = IndexOfKey(model_.RootIndex(), "(root selected)/x");
    const QModelIndex file = IndexOfKey(model_.RootIndex(), "file0");
    ASSERT_TRUE(folder.isValid() && file.isValid());
    const auto icon_key = [](const QModelIndex& index) {
        return index.data(Qt::DecorationRole).value<QIcon>().cacheKey();
    };
    const qint64 closed = icon_key(folder);
    const qint64 file_icon = icon_key(file);
    model_.SetExpanded(folder, true);
    EXPECT_TRUE(model_.IsExpanded(folder));
    const qint64 open = icon_key(folder);
    EXPECT_NE(open, closed);
    model_.SetExpanded(file, true);
    EXPECT_FALSE(model_.IsExpanded(file));
    EXPECT_EQ(icon_key(file), file_icon);
    model_.SetExpanded(folder, false);
    EXPECT_EQ(icon_key(folder), closed);
    EXPECT_FALSE(model_.RootIndex().data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_FALSE(Child(file, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
}

TEST_F(StructuredModelTest, DoubleClickOpensOnlyFileNodes) {
    struct Case {
        std::string key;
        std::string opens;
    };
    const Case cases[] = {
        {"file0", "/s/a.txt"},
        {"file1", "/s/x/y/b.txt"},
        {"(root selected)/x", ""},
        {"(root selected)", ""},
        {"size0", ""},
        {"path1", ""},
        {"Results", ""},
    };
    for (const Case& c : cases) {
        const QModelIndex index =
            c.key == "Results" ? model_.RootIndex() : IndexOfKey(model_.RootIndex(), c.key);
        ASSERT_TRUE(index.isValid()) << c.key;
        EXPECT_EQ(model_.DoubleClickPath(index), c.opens) << c.key;
    }
    EXPECT_EQ(model_.DoubleClickPath(QModelIndex()), "");
}

TEST_F(StructuredModelTest, ResetStartsCollapsed) {
    const QModelIndex folder = IndexOfKey(model_.RootIndex(), "(root selected)");
    model_.SetExpanded(folder, true);
    model_.ResetTree(BuildStructuredTree(&files_, Input(false, "/s")));
    const QModelIndex again = IndexOfKey(model_.RootIndex(), "(root selected)");
    EXPECT_FALSE(model_.IsExpanded(again));
    EXPECT_EQ(model_.rowCount(IndexOfKey(model_.RootIndex(), "file0")), 4);
    model_.Clear();
    EXPECT_EQ(model_.rowCount(model_.RootIndex()), 0);
}

}  // namespace
}  // namespace ferret
