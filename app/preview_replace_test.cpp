#include "app/preview_replace_dialog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest/QTest>
#include <chrono>

#include "app/main_window.h"
#include "preview/preview_window.h"
#include "settings/settings.h"
#include "testsupport/made_archive.h"
#include "testsupport/qt_wait.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;
using testing::WaitUntil;

// The window's preview of "old" to "new" in the text files of `folder`, once it is complete;
// nullptr when it did not complete.
PreviewReplaceDialog* PreviewOldToNew(MainWindow& window, const std::string& folder,
                                      bool inside = false) {
    SearchFields fields;
    fields.folder = folder;
    fields.file_mask = "*.txt";
    fields.search_inside = inside;
    fields.search_text = "old";
    fields.replace_text = "new";
    window.SetFields(fields);
    PreviewReplaceDialog* preview = window.PreviewReplace();
    const QPointer<PreviewReplaceDialog> alive(preview);
    const bool complete = WaitUntil(
        [&] {
            return !window.IsRunning() && alive &&
                   !preview->Totals().contains(QStringLiteral("still"));
        },
        20);
    return complete ? preview : nullptr;
}

// The preview lists every file and change and writes nothing; the choice then writes all the
// changes but one change and one file left out, leaves a file changed since alone and tells of
// it, and its restore point undoes exactly what it wrote.
TEST(PreviewReplace, WritesExactlyWhatIsChosen) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
    const TempDir tree;
    tree.WriteFile("a.txt", "old one\r\nold two\r\n");
    tree.WriteFile("b.txt", "old");
    tree.WriteFile("c.txt", "nothing");
    tree.WriteFile("d.txt", "old here");
    MainWindow window;
    PreviewReplaceDialog* preview = PreviewOldToNew(window, tree.path());
    ASSERT_NE(preview, nullptr);
    PreviewChangesModel& model = *preview->Model();
    ASSERT_EQ(model.FileCount(), 3);
    EXPECT_EQ(model.Changes(), 4);
    EXPECT_EQ(preview->Totals(), QStringLiteral("4 of 4 change(s) in 3 of 3 file(s) chosen"));
    EXPECT_EQ(tree.ReadFile("a.txt"), "old one\r\nold two\r\n");
    EXPECT_EQ(tree.ReadFile("b.txt"), "old");
    // The rows: files in the run's order, each change as its line before and after.
    const QModelIndex a = model.index(0, 0);
    EXPECT_EQ(a.data().toString(), QStringLiteral("a.txt"));
    ASSERT_EQ(model.rowCount(a), 2);
    EXPECT_EQ(model.index(1, 0, a).data().toString(), QStringLiteral("line 2"));
    EXPECT_EQ(model.index(1, 1, a).data().toString(), QStringLiteral("old two"));
    EXPECT_EQ(model.index(1, 2, a).data().toString(), QStringLiteral("new two"));

    // A change opens its file in the previewer there, the text to go selected.
    emit preview->View()->activated(model.index(1, 0, a));
    PreviewWindow* shown = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* found = dynamic_cast<PreviewWindow*>(widget);
                    found && !found->IsLoading()) {
                    shown = found;
                }
            }
            return shown != nullptr;
        },
        10));
    EXPECT_EQ(shown->Target().path, tree.Path("a.txt"));
    EXPECT_EQ(shown->Box()->textCursor().selectionStart(), 8);  // "old one\n" before it
    EXPECT_EQ(shown->Box()->textCursor().selectedText(), QStringLiteral("old"));
    shown->close();

    // Leave out a's second change and all of b; d changes on disk meanwhile.
    ASSERT_TRUE(model.setData(model.index(1, 0, a), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(a.data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    ASSERT_TRUE(model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(preview->Totals(), QStringLiteral("2 of 4 change(s) in 2 of 3 file(s) chosen"));
    tree.WriteFile("d.txt", "old here, and more");
    ASSERT_TRUE(preview->ReplaceButton()->isEnabled());
    preview->ReplaceButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsRunning(); }, 20));
    QApplication::processEvents();
    EXPECT_EQ(tree.ReadFile("a.txt"), "new one\r\nold two\r\n");
    EXPECT_EQ(tree.ReadFile("b.txt"), "old");
    EXPECT_EQ(tree.ReadFile("d.txt"), "old here, and more");
    ASSERT_EQ(window.Driver().FileProblems().size(), 1u);
    EXPECT_NE(window.Driver().FileProblems()[0].text.find("changed after the preview"),
              std::string::npos);
    EXPECT_TRUE(window.ProblemsButton()->isVisibleTo(&window));

    const std::string point = window.Driver().RestorePointFolder();
    ASSERT_FALSE(point.empty());
    ASSERT_TRUE(window.UndoReplace(point, false));
    window.WaitForRun();
    EXPECT_EQ(window.LastUndo().restored, 1);
    EXPECT_EQ(tree.ReadFile("a.txt"), "old one\r\nold two\r\n");
    EXPECT_EQ(tree.ReadFile("d.txt"), "old here, and more");
}

// A large preview works out only the changes of the files it shows: the others are chosen whole
// and written as a replace run writes them, and one changed before it was opened shows why it
// is left out and is not written.
TEST(PreviewReplace, FilesNotOpenedAreWrittenWholeAndChangedOnesLeftOut) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
    const TempDir tree;
    const auto name = [](int i) { return "f" + std::to_string(100 + i) + ".txt"; };
    for (int i = 0; i < 60; ++i) {
        tree.WriteFile(name(i), "old\nx old\n");
    }
    // A large file among the first waits to be opened too; past the longest match set, its
    // changes are not listed when it is.
    const std::string large = "old\nx old\n" + std::string(5 << 20, 'x');
    tree.WriteFile(name(1), large);
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kLongestMatchMb, "4").ok());
    MainWindow window;
    PreviewReplaceDialog* preview = PreviewOldToNew(window, tree.path());
    ASSERT_NE(preview, nullptr);
    PreviewChangesModel& model = *preview->Model();
    ASSERT_EQ(model.FileCount(), 60);
    EXPECT_EQ(preview->Totals(), QStringLiteral("120 of 120 change(s) in 60 of 60 file(s) chosen"));
    // The first files show their changes; the later ones only say how many they have.
    EXPECT_EQ(model.rowCount(model.index(0, 0)), 2);
    EXPECT_EQ(model.rowCount(model.index(1, 0)), 0);
    const QModelIndex late = model.index(55, 0);
    EXPECT_EQ(model.rowCount(late), 0);
    EXPECT_TRUE(model.hasChildren(late));
    EXPECT_EQ(model.index(56, 2).data().toString(), QStringLiteral("2 of 2 change(s) chosen"));

    // One file changes, then is opened: it is left out and says why.
    tree.WriteFile(name(55), "old\nx old\nold\n");
    preview->View()->expand(late);
    QApplication::processEvents();
    EXPECT_EQ(model.rowCount(late), 0);
    EXPECT_EQ(late.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_TRUE(model.index(55, 2).data().toString().contains(QStringLiteral("changed after")));
    EXPECT_FALSE(model.flags(late).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_EQ(preview->Totals(), QStringLiteral("118 of 118 change(s) in 59 of 60 file(s) chosen"));
    // Another is opened as it was: its changes show, one is left out.
    const QModelIndex opened = model.index(57, 0);
    preview->View()->expand(opened);
    QApplication::processEvents();
    ASSERT_EQ(model.rowCount(opened), 2);
    EXPECT_EQ(model.index(1, 1, opened).data().toString(), QStringLiteral("x old"));
    ASSERT_TRUE(model.setData(model.index(1, 0, opened), Qt::Unchecked, Qt::CheckStateRole));
    // The large one, opened, stays chosen as a whole and says why.
    const QModelIndex large_row = model.index(1, 0);
    preview->View()->expand(large_row);
    QApplication::processEvents();
    EXPECT_EQ(model.rowCount(large_row), 0);
    EXPECT_FALSE(model.hasChildren(large_row));
    EXPECT_EQ(large_row.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_TRUE(model.index(1, 2).data().toString().contains(QStringLiteral("as a whole")))
        << model.index(1, 2).data().toString().toStdString();
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kLongestMatchMb, "64").ok());

    preview->ReplaceButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsRunning(); }, 20));
    QApplication::processEvents();
    EXPECT_EQ(tree.ReadFile(name(0)), "new\nx new\n");
    EXPECT_EQ(tree.ReadFile(name(56)), "new\nx new\n");  // never opened, written whole
    EXPECT_EQ(tree.ReadFile(name(1)), "new\nx new\n" + std::string(5 << 20, 'x'));
    EXPECT_EQ(tree.ReadFile(name(57)), "new\nx old\n");
    EXPECT_EQ(tree.ReadFile(name(55)), "old\nx old\nold\n");
    EXPECT_TRUE(window.Driver().FileProblems().empty());
}

// Looking inside archives, the preview lists an entry with hits as left out, and Replace
// Selected writes the plain files only.
TEST(PreviewReplace, EntriesOfArchivesAreListedAsLeftOut) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
    const TempDir tree;
    tree.WriteFile("a.txt", "old\n");
    std::string error;
    ASSERT_TRUE(testing::WriteArchive(tree.Path("site.zip"), {{"b.txt", "old\n"}}, &error))
        << error;
    const std::string zip = tree.ReadFile("site.zip");
    MainWindow window;
    PreviewReplaceDialog* preview = PreviewOldToNew(window, tree.path(), true);
    ASSERT_NE(preview, nullptr);
    PreviewChangesModel& model = *preview->Model();
    ASSERT_EQ(model.FileCount(), 2);
    const QModelIndex entry = model.index(1, 0);
    EXPECT_EQ(model.PathAt(entry), tree.Path("site.zip") + "//b.txt");
    EXPECT_EQ(model.index(1, 2).data().toString(),
              QStringLiteral("Left out: inside an archive; it was not rewritten"));
    EXPECT_FALSE(model.Choosable(entry));
    EXPECT_EQ(preview->Totals(), QStringLiteral("1 of 1 change(s) in 1 of 2 file(s) chosen"));
    preview->ReplaceButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsRunning(); }, 20));
    EXPECT_EQ(tree.ReadFile("a.txt"), "new\n");
    EXPECT_EQ(tree.ReadFile("site.zip"), zip);
}

// The preview names what it previews; a file the replace would leave out is listed with why,
// unticked and not choosable, and is not a file "not done"; the main window's report says
// nothing was written. Select All/None, the menu of a row, and closing after a change of the
// choice asks first.
TEST(PreviewReplace, SaysWhatItIsAndListsWhatItWouldLeaveOut) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
    const TempDir tree;
    const TempDir outside;
    tree.WriteFile("a.txt", "old\nold\n");
    outside.WriteFile("o.txt", "old");
    ASSERT_EQ(symlink(outside.Path("o.txt").c_str(), tree.Path("out.txt").c_str()), 0);
    MainWindow window;
    PreviewReplaceDialog* preview = PreviewOldToNew(window, tree.path());
    ASSERT_NE(preview, nullptr);
    const QString said = preview->Description()->text();
    for (const QString& part :
         {QStringLiteral("\"old\""), QStringLiteral("\"new\""), QString::fromStdString(tree.path()),
          QStringLiteral("*.txt"), QStringLiteral("nothing is written")}) {
        EXPECT_TRUE(said.contains(part)) << said.toStdString() << " lacks " << part.toStdString();
    }
    PreviewChangesModel& model = *preview->Model();
    ASSERT_EQ(model.FileCount(), 2);
    const QModelIndex left_out = model.index(1, 0);
    EXPECT_EQ(left_out.data().toString(), QStringLiteral("out.txt"));
    EXPECT_TRUE(model.index(1, 2).data().toString().startsWith(QStringLiteral("Left out: ")))
        << model.index(1, 2).data().toString().toStdString();
    EXPECT_EQ(left_out.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_FALSE(model.flags(left_out).testFlag(Qt::ItemIsEnabled));
    EXPECT_FALSE(model.setData(left_out, Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(preview->Totals(), QStringLiteral("2 of 2 change(s) in 1 of 2 file(s) chosen"));
    EXPECT_TRUE(window.Driver().FileProblems().empty());
    EXPECT_TRUE(
        window.ReportTextShown().contains(QStringLiteral("A preview: nothing was written.")))
        << window.ReportTextShown().toStdString();

    // None, then all: the file left out stays out.
    preview->findChild<QPushButton*>(QStringLiteral("cmdChooseNone"))->click();
    EXPECT_EQ(preview->Totals(), QStringLiteral("0 of 2 change(s) in 0 of 2 file(s) chosen"));
    preview->findChild<QPushButton*>(QStringLiteral("cmdChooseAll"))->click();
    EXPECT_EQ(preview->Totals(), QStringLiteral("2 of 2 change(s) in 1 of 2 file(s) chosen"));
    QMenu* menu = preview->MenuFor(model.index(0, 0));
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* action : menu->actions()) {
        items << action->text();
    }
    EXPECT_EQ(items,
              (QStringList{QStringLiteral("Open in &Previewer"), QStringLiteral("Open in &Editor"),
                           QStringLiteral("&Copy Path")}));
    menu->actions().back()->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromStdString(tree.Path("a.txt")));

    // The choice was changed: closing asks, and No keeps the window.
    int asked = 0;
    bool answer = false;
    preview->confirm_close = [&] {
        ++asked;
        return answer;
    };
    const QPointer<PreviewReplaceDialog> alive(preview);
    preview->close();
    QApplication::processEvents();
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(alive);
    EXPECT_TRUE(preview->isVisible());
    answer = true;
    preview->close();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(WaitUntil([&] { return alive.isNull(); }, 5));
    EXPECT_EQ(tree.ReadFile("a.txt"), "old\nold\n");
}

}  // namespace
}  // namespace ferret
