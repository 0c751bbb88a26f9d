#include "app/hit_lines_view.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QtTest/QTest>
#include <chrono>

#include "app/main_window.h"
#include "app/result_menu.h"
#include "preview/preview_window.h"
#include "settings/settings.h"
#include "testsupport/made_archive.h"
#include "testsupport/made_pdf.h"
#include "testsupport/qt_wait.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;
using testing::WaitUntil;

// What the list shows, row by row: a file as "NAME [HITS]", a line as "NUMBER: TEXT" (a
// context line with "-" after its number), a note as "(TEXT)".
std::vector<std::string> Rows(const HitLinesModel& model) {
    std::vector<std::string> rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row);
        const auto kind =
            static_cast<HitLinesModel::Kind>(index.data(HitLinesModel::kKindRole).toInt());
        const std::string text = index.data().toString().toStdString();
        switch (kind) {
            case HitLinesModel::Kind::kFile:
                rows.push_back(text + " [" +
                               index.data(HitLinesModel::kHitsRole).toString().toStdString() + "]");
                break;
            case HitLinesModel::Kind::kHit:
            case HitLinesModel::Kind::kContext:
                rows.push_back(index.data(HitLinesModel::kNumberRole).toString().toStdString() +
                               (kind == HitLinesModel::Kind::kHit ? ": " : "- ") + text);
                break;
            case HitLinesModel::Kind::kNote:
                rows.push_back("(" + text + ")");
                break;
        }
    }
    return rows;
}

std::vector<PreviewWindow*> Previews() {
    std::vector<PreviewWindow*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* preview = dynamic_cast<PreviewWindow*>(widget); preview && preview->isVisible()) {
            found.push_back(preview);
        }
    }
    return found;
}

class HitLinesReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "4").ok());
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kHitLineContext, "1").ok());
        tree_.WriteFile("b.txt", "one\ntwo hit\nthree\n\nfive hit hit\n");
        tree_.WriteFile("a.txt", "hit first\r\nsecond\r\n");
        tree_.WriteFile("sub/c.txt", std::string("bin\0hit", 7));
        tree_.WriteFile("d.txt", "miss");
    }
    void TearDown() override {
        for (PreviewWindow* preview : Previews()) {
            preview->close();
        }
    }
    SearchFields Fields(const std::string& text) const {
        SearchFields fields;
        fields.folder = tree_.path();
        fields.file_mask = "*.txt";
        fields.recursive = true;
        fields.search_text = text;
        return fields;
    }
    void Run(MainWindow& window, RunKind kind) {
        ASSERT_TRUE(window.StartRun(kind));
        window.WaitForRun();
        QApplication::processEvents();
    }
    // The row of the line `number` of the file `name`.
    static int RowOf(const HitLinesModel& model, const std::string& name, std::int64_t number) {
        const std::vector<std::string> rows = Rows(model);
        bool in_file = false;
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            if (model.PlaceOf(row).line < 0) {
                in_file = rows[static_cast<std::size_t>(row)].rfind(name + " [", 0) == 0;
            } else if (in_file &&
                       model.index(row).data(HitLinesModel::kNumberRole).toLongLong() == number) {
                return row;
            }
        }
        return -1;
    }

    TempDir tree_;
};

// The view fills with the files in the run's order, each with its lines and their context; a
// click on a column sorts the files, a second click turns the order round; a file's lines close
// and open again.
TEST_F(HitLinesReportTest, FillsInRunOrderSortsAndClosesFiles) {
    MainWindow window;
    window.SetFields(Fields("hit"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    Run(window, RunKind::kSearch);
    HitLinesView* view = window.HitLines();
    auto* reports = window.findChild<QStackedWidget*>();
    ASSERT_NE(reports, nullptr);
    EXPECT_EQ(reports->currentWidget(), view);
    HitLinesModel& model = *view->Model();
    const std::vector<std::string> in_run_order = {
        "a.txt [1]",
        "1: hit first",
        "2- second",
        "b.txt [3]",
        "1- one",
        "2: two hit",
        "3- three",
        "4- ",
        "5: five hit hit",
        "c.txt [1]",
        "(Binary file: 1 hit(s), its bytes not shown)",
    };
    EXPECT_EQ(Rows(model), in_run_order);

    QHeaderView* header = view->Header();
    const auto click = [header](int column) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    click(1);  // hits, fewest first; ties keep the run's order
    std::vector<std::string> files;
    for (int file = 0; file < model.FileCount(); ++file) {
        files.push_back(model.FileAt(file).file->Filename());
    }
    EXPECT_EQ(files, (std::vector<std::string>{"a.txt", "c.txt", "b.txt"}));
    click(0);
    click(0);  // names, last first
    EXPECT_EQ(Rows(model).front(), "c.txt [1]");
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(header->sortIndicatorSection(), 0);

    // Left on a line goes to its file, Left again closes it, Right opens it.
    QListView* list = view->List();
    const int line = RowOf(model, "b.txt", 3);
    list->setCurrentIndex(model.index(line));
    QTest::keyClick(list, Qt::Key_Left);
    EXPECT_EQ(model.PlaceOf(list->currentIndex().row()).line, -1);
    const int rows = model.rowCount();
    QTest::keyClick(list, Qt::Key_Left);
    EXPECT_EQ(model.rowCount(), rows - 5);
    EXPECT_EQ(RowOf(model, "b.txt", 5), -1);
    QTest::keyClick(list, Qt::Key_Right);
    EXPECT_EQ(model.rowCount(), rows);
    EXPECT_EQ(Rows(model)[static_cast<std::size_t>(RowOf(model, "b.txt", 5))], "5: five hit hit");

    // A run with another report gathers no lines; this one then says how to get them.
    window.ChooseReportType(ReportType::kSummaryWithFileList);
    window.WaitForRun();
    Run(window, RunKind::kSearch);
    window.ChooseReportType(ReportType::kHitLines);
    EXPECT_TRUE(WaitUntil([&] { return !window.IsRunning() && model.rowCount() == 1; }, 10));
    EXPECT_EQ(model.index(0).data().toString().left(24),
              QStringLiteral("The hit lines are gather"));
}

// Enter or a double click on a line opens the previewer there with the hit selected; Ctrl+C
// copies the selected lines as quickfix lines, a file's row standing for all its lines.
TEST_F(HitLinesReportTest, OpensThePreviewerAtTheHitAndCopiesQuickfixLines) {
    MainWindow window;
    window.SetFields(Fields("hit"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    Run(window, RunKind::kSearch);
    HitLinesView* view = window.HitLines();
    HitLinesModel& model = *view->Model();
    QListView* list = view->List();

    const int five = RowOf(model, "b.txt", 5);
    ASSERT_GE(five, 0);
    list->scrollTo(model.index(five));
    const QPoint centre = list->visualRect(model.index(five)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
    ASSERT_EQ(Previews().size(), 1u);
    PreviewWindow* preview = Previews()[0];
    ASSERT_TRUE(WaitUntil([preview] { return !preview->IsLoading(); }, 10));
    EXPECT_EQ(preview->Target().path, tree_.Path("b.txt"));
    // Line 5 starts after 4 + 8 + 6 + 1 characters; its first hit is its sixth character.
    QTextCursor at = preview->Box()->textCursor();
    EXPECT_EQ(at.selectionStart(), 24);
    EXPECT_EQ(at.selectedText(), QStringLiteral("hit"));
    preview->close();

    // Enter on the line after a CR LF line end.
    list->setCurrentIndex(model.index(RowOf(model, "a.txt", 1)));
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_EQ(Previews().size(), 1u);
    preview = Previews()[0];
    ASSERT_TRUE(WaitUntil([preview] { return !preview->IsLoading(); }, 10));
    EXPECT_EQ(preview->Box()->textCursor().selectionStart(), 0);
    EXPECT_EQ(preview->Box()->textCursor().selectedText(), QStringLiteral("hit"));
    preview->close();
    window.activateWindow();

    list->clearSelection();
    list->selectionModel()->select(model.index(RowOf(model, "b.txt", 2)),
                                   QItemSelectionModel::Select);
    list->selectionModel()->select(model.index(RowOf(model, "b.txt", 3)),  // context: left out
                                   QItemSelectionModel::Select);
    list->selectionModel()->select(model.index(model.RowOfFile(0)), QItemSelectionModel::Select);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    const std::string a = tree_.Path("a.txt");
    const std::string b = tree_.Path("b.txt");
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              a + ":1:1: hit first\n" + b + ":2:5: two hit\n");
    EXPECT_EQ(view->SelectedPaths().size(), 2u);
}

// Lines found inside archives and PDFs: a PDF's lines show their page and open the previewer on
// the PDF's text at that page's line; an entry's line opens its text, read through its archive
// and named by both.
TEST_F(HitLinesReportTest, LinesInsideArchivesAndPdfsShowTheirPageAndOpenTheirText) {
    std::string error;
    ASSERT_TRUE(
        testing::WritePdf(tree_.Path("manual.pdf"), {{"first hit"}, {"none", "the hit"}}, &error))
        << error;
    ASSERT_TRUE(
        testing::WriteArchive(tree_.Path("site.zip"), {{"in/e.txt", "x\nan entry hit\n"}}, &error))
        << error;
    MainWindow window;
    SearchFields fields = Fields("hit");
    fields.file_mask = "*.txt;*.pdf";
    fields.search_inside = true;
    window.SetFields(fields);
    Run(window, RunKind::kSearch);
    HitLinesView* view = window.HitLines();
    HitLinesModel& model = *view->Model();
    int on_second_page = -1;
    int in_entry = -1;
    std::vector<std::string> pages;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row);
        if (model.PlaceOf(row).line < 0) {
            continue;
        }
        const std::string page = index.data(HitLinesModel::kPageRole).toString().toStdString();
        pages.push_back(page);
        if (page == "page 2") {
            on_second_page = row;
        }
        if (index.data().toString() == QStringLiteral("an entry hit")) {
            in_entry = row;
        }
    }
    ASSERT_GE(on_second_page, 0) << ::testing::PrintToString(Rows(model));
    ASSERT_GE(in_entry, 0) << ::testing::PrintToString(Rows(model));
    EXPECT_EQ(model.index(on_second_page).data(HitLinesModel::kNumberRole).toInt(), 2);
    EXPECT_EQ(std::count(pages.begin(), pages.end(), "page 1"), 1);
    EXPECT_EQ(model.index(in_entry).data(HitLinesModel::kPageRole).toString(), QString());

    view->List()->setCurrentIndex(model.index(on_second_page));
    view->ActivateCurrent();
    ASSERT_EQ(Previews().size(), 1u);
    PreviewWindow* preview = Previews()[0];
    ASSERT_TRUE(WaitUntil([preview] { return !preview->IsLoading(); }, 10));
    EXPECT_TRUE(preview->Target().unpack);
    EXPECT_EQ(preview->Target().page, 2);
    EXPECT_EQ(preview->MarkCount(), 2);
    EXPECT_EQ(preview->Box()->textCursor().selectedText(), QStringLiteral("hit"));
    EXPECT_EQ(preview->Box()->textCursor().selectionStart(),
              preview->Box()->toPlainText().indexOf(QStringLiteral("the hit")) + 4);
    preview->close();

    view->List()->setCurrentIndex(model.index(in_entry));
    view->ActivateCurrent();
    ASSERT_EQ(Previews().size(), 1u);
    preview = Previews()[0];
    ASSERT_TRUE(WaitUntil([preview] { return !preview->IsLoading(); }, 10));
    EXPECT_EQ(preview->Target().path, tree_.Path("site.zip"));
    EXPECT_EQ(preview->Target().caption, tree_.Path("site.zip") + "//in/e.txt");
    EXPECT_EQ(preview->Box()->toPlainText(), QStringLiteral("x\nan entry hit\n"));
    EXPECT_EQ(preview->Box()->textCursor().selectionStart(), 11);
}

// "Open in Editor" hands on where a row is: a hit line at its first hit (its column in bytes),
// a context line at its start, a file at its first hit, a binary file at its start; the file
// menu of a file's row does as its key does. Nothing is started here.
TEST_F(HitLinesReportTest, OpenInEditorTellsTheRowsPlace) {
    tree_.WriteFile("utf8.txt", "ça hit\n");
    MainWindow window;
    window.SetFields(Fields("hit"));
    Run(window, RunKind::kSearch);
    HitLinesView* view = window.HitLines();
    HitLinesModel& model = *view->Model();
    struct Opened {
        std::string path;
        std::int64_t line;
        std::int64_t column;
        bool operator==(const Opened&) const = default;
    };
    std::vector<Opened> edited;
    view->on_edit = [&edited](const std::string& path, std::int64_t line, std::int64_t column) {
        edited.push_back({path, line, column});
    };
    const auto file_row = [&model](const std::string& name) {
        for (int file = 0; file < model.FileCount(); ++file) {
            if (model.FileAt(file).file->Filename() == name) {
                return model.RowOfFile(file);
            }
        }
        return -1;
    };
    const auto edit = [&](int row) {
        EXPECT_GE(row, 0);
        view->List()->setCurrentIndex(model.index(row));
        view->EditAction()->trigger();
    };
    edit(RowOf(model, "b.txt", 5));
    edit(RowOf(model, "b.txt", 3));
    edit(file_row("b.txt"));
    edit(RowOf(model, "utf8.txt", 1));
    edit(file_row("c.txt"));
    edit(file_row("c.txt") + 1);  // its note
    const std::string b = tree_.Path("b.txt");
    const std::string c = tree_.Path("sub/c.txt");
    EXPECT_EQ(edited, (std::vector<Opened>{{b, 5, 6},
                                           {b, 3, 1},
                                           {b, 2, 5},
                                           {tree_.Path("utf8.txt"), 1, 5},
                                           {c, 1, 1},
                                           {c, 1, 1}}));
    EXPECT_EQ(view->EditAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+E")));

    edited.clear();
    view->List()->setCurrentIndex(model.index(file_row("b.txt")));
    const std::unique_ptr<QMenu> menu = window.ResultFilesMenu()->Build(view->SelectedPaths());
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions()) {
        if (action->text() == QStringLiteral("Open in &Editor")) {
            action->trigger();
        }
    }
    EXPECT_EQ(edited, (std::vector<Opened>{{b, 2, 5}}));
}

// A replace run lists the lines of the new text, its replacement marked.
TEST_F(HitLinesReportTest, AReplaceRunListsTheNewText) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kHitLineContext, "0").ok());
    MainWindow window;
    SearchFields fields = Fields("hit");
    fields.replace_text = "HIT";
    window.SetFields(fields);
    Run(window, RunKind::kReplace);
    HitLinesModel& model = *window.HitLines()->Model();
    EXPECT_EQ(Rows(model),
              (std::vector<std::string>{"a.txt [1]", "1: HIT first", "b.txt [3]", "2: two HIT",
                                        "5: five HIT HIT", "c.txt [1]",
                                        "(Binary file: 1 hit(s), its bytes not shown)"}));
    ASSERT_NE(model.Table(), nullptr);
    EXPECT_EQ(model.Table()->marked, "HIT");
    EXPECT_EQ(tree_.ReadFile("b.txt"), "one\ntwo HIT\nthree\n\nfive HIT HIT\n");
}

}  // namespace
}  // namespace ferret
