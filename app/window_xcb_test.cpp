// The window as a user meets it in a real X server: typed text, popups, focus, the wheel and
// the mouse.
#include <gtest/gtest.h>
#include <signal.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCompleter>
#include <QDateTimeEdit>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QWheelEvent>
#include <QtTest/QTest>

#include "app/editor_command.h"
#include "app/hit_lines_view.h"
#include "app/main_window.h"
#include "app/options_dialog.h"
#include "app/preview_replace_dialog.h"
#include "app/run_view.h"
#include "preview/find_replace.h"
#include "preview/preview_window.h"
#include "settings/app_settings.h"
#include "settings/search_history.h"
#include "settings/settings.h"
#include "testsupport/message_recorder.h"
#include "testsupport/qt_wait.h"
#include "testsupport/stand_in_editor.h"
#include "testsupport/temp_dir.h"
#include "util/app_locale.h"

// Texts in failures as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace ferret {
namespace {

using testing::TempDir;

class WindowOnX : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
        tree_.WriteFile("a.txt", "HELLO hello hello PATH_MAX PATH");
        tree_.WriteFile("b.h", "hello");
        tree_.WriteFile("c.txt", "hello");
    }
    // The window on screen with the focus, the fields set to search the tree.
    void Show(MainWindow& window) {
        SearchFields fields;
        fields.folder = tree_.path();
        fields.file_mask = "*.*";
        window.SetFields(fields);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    static void Run(MainWindow& window) {
        window.WaitForRun();
        QApplication::processEvents();
    }
    // Searches the tree for `text` as typed in the search box, to the run's end.
    static void SearchFor(MainWindow& window, const QString& text) {
        window.findChild<QComboBox*>(QStringLiteral("cboFind"))->setEditText(text);
        ASSERT_TRUE(window.StartRun(RunKind::kSearch));
        Run(window);
    }
    static void Type(QWidget* box, const QString& text) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
    }
    TempDir tree_;
};

// The texts of the popup menu a right click at `at` (in the window) brings up, closing it.
QStringList MenuAfterRightClick(QWidget& window, QPoint at) {
    QStringList shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                shown.push_back(action->text());
            }
            menu->close();
            watch.stop();
        }
    });
    watch.start(20);
    // Through the window, as the X server delivers it: the press makes the context menu event.
    QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, at);
    for (int wait = 0; wait < 250 && shown.isEmpty(); ++wait) {
        QTest::qWait(20);
    }
    return shown;
}

// What the user typed is searched, and stays in the box and in the report, whatever the
// history holds.
TEST_F(WindowOnX, TypedTextIsSearchedAsTyped) {
    SaveSearchList({"hello", "PATH_MAX"});
    MainWindow window;
    Show(window);
    auto* find = window.findChild<QComboBox*>(QStringLiteral("cboFind"));
    auto* mask = window.findChild<QComboBox*>(QStringLiteral("cboFilterMask"));
    ASSERT_TRUE(find && mask);

    Type(find->lineEdit(), QStringLiteral("HELLO"));
    QTest::keyClick(find->lineEdit(), Qt::Key_Return);
    Run(window);
    EXPECT_EQ(find->currentText(), QStringLiteral("HELLO"));
    EXPECT_TRUE(window.ReportTextShown().contains(QStringLiteral("Search string: HELLO\n")))
        << window.ReportTextShown().toStdString();
    EXPECT_TRUE(window.ReportTextShown().contains(QStringLiteral("found 1 times in 1 files")))
        << window.ReportTextShown().toStdString();

    // A history entry that starts with the text is offered, not taken: one Enter searches what
    // the box shows.
    Type(find->lineEdit(), QStringLiteral("PATH"));
    EXPECT_EQ(find->lineEdit()->text(), QStringLiteral("PATH"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    Run(window);
    EXPECT_EQ(find->currentText(), QStringLiteral("PATH"));
    EXPECT_TRUE(window.ReportTextShown().contains(QStringLiteral("Search string: PATH\n")))
        << window.ReportTextShown().toStdString();
    // The history keeps both spellings.
    const std::vector<std::string> history = window.History();
    EXPECT_NE(std::find(history.begin(), history.end(), "HELLO"), history.end());
    EXPECT_NE(std::find(history.begin(), history.end(), "hello"), history.end());

    // The mask box keeps "*.h" when the focus leaves it.
    Type(mask->lineEdit(), QStringLiteral("*.h"));
    find->lineEdit()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(mask->currentText(), QStringLiteral("*.h"));
    EXPECT_EQ(window.Fields().file_mask, "*.h");
}

// Keys as the X server delivers them, to whichever control has the focus.
void Press(MainWindow& window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(window.windowHandle(), key, modifiers);
    QApplication::processEvents();
}
void TypeInto(MainWindow& window, const QString& text) {
    for (const QChar c : text) {
        QTest::keyClick(window.windowHandle(), c.toLatin1());
    }
    QApplication::processEvents();
}

// Whether `box`, or the line it is edited in, has the focus.
bool HasFocus(const QComboBox* box) {
    return QApplication::focusWidget() == box || QApplication::focusWidget() == box->lineEdit();
}

// The skip box and both skip switches are reached and used from the keyboard, by their
// mnemonics and in Tab order, and the box offers the text of an earlier run.
TEST_F(WindowOnX, TheSkipControlsAnswerTheKeyboardAndOfferEarlierTexts) {
    ASSERT_TRUE(SaveWindowSettings(AppSettings()).empty());
    tree_.WriteFile("vendor/d.txt", "hello");
    MainWindow window;
    Show(window);
    auto* find = window.findChild<QComboBox*>(QStringLiteral("cboFind"));
    auto* skip = window.findChild<QComboBox*>(QStringLiteral("cboSkipFolders"));
    auto* git_ignore = window.findChild<QCheckBox*>(QStringLiteral("chkGitIgnore"));
    auto* no_binary = window.findChild<QCheckBox*>(QStringLiteral("chkNoBinary"));
    ASSERT_TRUE(find && skip && git_ignore && no_binary);
    find->setEditText(QStringLiteral("hello"));
    find->lineEdit()->setFocus();
    QApplication::processEvents();

    Press(window, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(HasFocus(skip));
    TypeInto(window, QStringLiteral("vendor"));
    EXPECT_EQ(skip->currentText(), QStringLiteral("vendor"));
    Press(window, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), git_ignore);
    Press(window, Qt::Key_Space);
    EXPECT_TRUE(git_ignore->isChecked());
    Press(window, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), no_binary);
    Press(window, Qt::Key_Space);
    EXPECT_TRUE(no_binary->isChecked());
    // The mnemonics switch them from anywhere (a button's mnemonic clicks it a moment later).
    find->lineEdit()->setFocus();
    Press(window, Qt::Key_G, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !git_ignore->isChecked(); }, 2000));
    EXPECT_EQ(QApplication::focusWidget(), git_ignore);
    Press(window, Qt::Key_B, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !no_binary->isChecked(); }, 2000));
    EXPECT_EQ(QApplication::focusWidget(), no_binary);
    const SearchFields fields = window.Fields();
    EXPECT_EQ(fields.skip_folders, "vendor");
    EXPECT_FALSE(fields.use_ignore_files);
    EXPECT_FALSE(fields.skip_binary);

    // Enter in the skip box runs the search, which does not enter "vendor".
    Press(window, Qt::Key_S, Qt::AltModifier);
    Press(window, Qt::Key_Return);
    Run(window);
    EXPECT_TRUE(window.ReportTextShown().contains(QStringLiteral("found 4 times in 3 files")))
        << window.ReportTextShown().toStdString();
    EXPECT_FALSE(window.ReportTextShown().contains(QStringLiteral("d.txt")));

    // Emptied, the box's list (F4) offers the run's text, and the keys pick it.
    Press(window, Qt::Key_S, Qt::AltModifier);
    Press(window, Qt::Key_A, Qt::ControlModifier);
    Press(window, Qt::Key_Delete);
    ASSERT_EQ(skip->currentText(), QString());
    Press(window, Qt::Key_F4);
    ASSERT_TRUE(skip->view()->isVisible());
    EXPECT_EQ(skip->view()->model()->rowCount(), 1);
    EXPECT_EQ(skip->view()->model()->index(0, 0).data().toString(), QStringLiteral("vendor"));
    Press(window, Qt::Key_Down);
    QTest::keyClick(skip->view(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_FALSE(skip->view()->isVisible());
    EXPECT_EQ(skip->currentText(), QStringLiteral("vendor"));

    // Typing the start of it offers it below the box, without taking the typed text.
    Press(window, Qt::Key_A, Qt::ControlModifier);
    TypeInto(window, QStringLiteral("ven"));
    QAbstractItemView* offered = skip->completer()->popup();
    ASSERT_TRUE(offered->isVisible());
    EXPECT_EQ(offered->model()->index(0, 0).data().toString(), QStringLiteral("vendor"));
    EXPECT_EQ(skip->currentText(), QStringLiteral("ven"));
    Press(window, Qt::Key_Escape);
}

// The folder tree below the folder box closes when its job is done.
TEST_F(WindowOnX, TheFolderDropDownClosesOnEnterEscapeAndFocusLeaving) {
    MainWindow window;
    Show(window);
    auto* folder = window.findChild<QComboBox*>(QStringLiteral("cboFolder"));
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("ftv"));
    auto* find = window.findChild<QComboBox*>(QStringLiteral("cboFind"));
    ASSERT_TRUE(folder && tree && find);
    find->setEditText(QStringLiteral("hello"));

    QTest::mouseClick(folder->lineEdit(), Qt::LeftButton);
    ASSERT_TRUE(tree->isVisible());
    Type(folder->lineEdit(), QString::fromStdString(tree_.path()));
    QTest::keyClick(folder->lineEdit(), Qt::Key_Return);
    EXPECT_FALSE(tree->isVisible());
    Run(window);

    QTest::mouseClick(folder->lineEdit(), Qt::LeftButton);
    ASSERT_TRUE(tree->isVisible());
    QTest::keyClick(folder->lineEdit(), Qt::Key_Escape);
    EXPECT_FALSE(tree->isVisible());

    QTest::mouseClick(folder->lineEdit(), Qt::LeftButton);
    ASSERT_TRUE(tree->isVisible());
    QTest::mouseClick(find->lineEdit(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(tree->isVisible());
}

// Turning the wheel over the left panel scrolls it; only a control with the focus takes the
// wheel as a change of its value.
TEST_F(WindowOnX, TheWheelChangesOnlyAFocusedControl) {
    MainWindow window;
    Show(window);
    for (QRadioButton* option : window.findChildren<QRadioButton*>()) {
        if (option->text() == QStringLiteral("Specify Dates") ||
            option->text() == QStringLiteral("Specify size (in KB)")) {
            option->click();
        }
    }
    auto* find = window.findChild<QComboBox*>(QStringLiteral("cboFind"));
    const QList<QDateTimeEdit*> dates = window.findChildren<QDateTimeEdit*>();
    ASSERT_EQ(dates.size(), 2);
    QList<QWidget*> controls = {dates[0], dates[1],
                                window.findChild<QComboBox*>(QStringLiteral("cboDateType")),
                                window.findChild<QComboBox*>(QStringLiteral("cboSize"))};
    const auto value = [](QWidget* control) {
        if (auto* date = qobject_cast<QDateTimeEdit*>(control)) {
            return date->dateTime().toString(Qt::ISODate);
        }
        return qobject_cast<QComboBox*>(control)->currentText();
    };
    const auto wheel = [](QWidget* control, int delta) {
        const QPointF at(control->width() / 2.0, control->height() / 2.0);
        QWheelEvent event(at, control->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(control, &event);
    };
    for (QWidget* control : controls) {
        ASSERT_NE(control, nullptr);
        ASSERT_TRUE(control->isEnabled());
        find->lineEdit()->setFocus();
        const QString before = value(control);
        wheel(control, -120);
        wheel(control, -120);
        EXPECT_EQ(value(control), before) << control->objectName().toStdString();
    }
    // The pickers show dates as the reports write them.
    EXPECT_EQ(dates[0]->text().toStdString(), FormatGeneralDateTime(dates[0]->dateTime()));
    // With the focus, the wheel is the control's.
    dates[0]->setFocus();
    QApplication::processEvents();
    const QString before = value(dates[0]);
    wheel(dates[0], -120);
    EXPECT_NE(value(dates[0]), before);
}

// A right-click on a row that is not selected selects it too, so the menu acts on what the
// list shows selected: the clicked file first, then the others.
TEST_F(WindowOnX, RightClickSelectsTheRowUnderThePointer) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "0").ok());
    MainWindow window;
    Show(window);
    window.findChild<QComboBox*>(QStringLiteral("cboFind"))->setEditText(QStringLiteral("hello"));
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    Run(window);
    auto* list = window.findChild<QTableView*>(QStringLiteral("lvFiles"));
    ASSERT_EQ(list->model()->rowCount(), 3);
    list->selectionModel()->select(list->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(list->model()->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QStringList shown = MenuAfterRightClick(
        window,
        list->viewport()->mapTo(&window, list->visualRect(list->model()->index(2, 0)).center()));
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.front(), QStringLiteral("&Ferret Results Previewer"));
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 3);
    EXPECT_TRUE(list->selectionModel()->isRowSelected(2, QModelIndex()));
}

// A search's first rows show while the walk still lists the rest, and answer the mouse while
// the run goes (some seconds of searching after the walk, held by Pause meanwhile).
TEST_F(WindowOnX, RowsShowWhileTheWalkListsAndAnswerTheMouse) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "0").ok());
    tree_.WriteFile("walk/a/first.txt", "hh\n");
    tree_.MakeManyFiles("walk/m", 4000, std::string(1000, 'h') + "\n");
    MainWindow window;
    Show(window);
    SearchFields fields = window.Fields();
    fields.folder = tree_.Path("walk");
    fields.search_text = "h(?=h*\\n)";  // every "h" looks ahead to its line's end
    fields.regex = true;
    window.SetFields(fields);
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    auto* list = window.findChild<QTableView*>(QStringLiteral("lvFiles"));
    ASSERT_TRUE(testing::WaitUntil(
        [&] { return list->model()->rowCount() > 0 || !window.IsRunning(); }, 60));
    window.PressPause();
    EXPECT_TRUE(window.IsRunning());
    EXPECT_EQ(window.StatusText(StatusPanel::kSearched), QString()) << "the walk ended first";
    const QStringList shown = MenuAfterRightClick(
        window,
        list->viewport()->mapTo(&window, list->visualRect(list->model()->index(0, 0)).center()));
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.front(), QStringLiteral("&Ferret Results Previewer"));
    EXPECT_TRUE(list->selectionModel()->isRowSelected(0, QModelIndex()));
    window.PressStop();
    Run(window);
    EXPECT_GE(list->model()->rowCount(), 1);
}

// The hit-lines report as the X server delivers the user's input: a click gives the list the
// focus, so Ctrl+C copies the line for an editor, and the right button on a file gives the file
// menu. (What the keys do once the list has them is the offscreen tests'.)
TEST_F(WindowOnX, HitLinesAnswerTheKeyboardAndTheMouse) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "4").ok());
    tree_.WriteFile("d.txt", "first\nsecond hello\n");
    MainWindow window;
    Show(window);
    ASSERT_NO_FATAL_FAILURE(SearchFor(window, QStringLiteral("second")));
    HitLinesModel& model = *window.HitLines()->Model();
    QListView* list = window.HitLines()->List();
    ASSERT_EQ(model.rowCount(), 2);  // d.txt and its line 2
    const auto at = [&](int row) {
        return list->viewport()->mapTo(&window, list->visualRect(model.index(row)).center());
    };
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at(1));
    EXPECT_EQ(QApplication::focusWidget(), list);
    QTest::keyClick(window.windowHandle(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              tree_.Path("d.txt") + ":2:1: second hello\n");
    const QStringList shown = MenuAfterRightClick(window, at(0));
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.front(), QStringLiteral("&Ferret Results Previewer"));
}

// Controls are enabled only when they can act.
TEST_F(WindowOnX, ControlsAreEnabledOnlyWhenTheyCanAct) {
    for (int i = 0; i < 3000; ++i) {
        tree_.WriteFile("many/f" + std::to_string(i) + ".txt", "hello");
    }
    MainWindow window;
    Show(window);
    window.findChild<QComboBox*>(QStringLiteral("cboFind"))->setEditText(QStringLiteral("hello"));
    window.findChild<QLineEdit*>(QStringLiteral("txtReplace"))->setText(QStringLiteral("bye"));
    QAction* replace = nullptr;
    for (QAction* action : window.findChild<QToolBar*>(QStringLiteral("tbSearch"))->actions()) {
        if (action->text() == QStringLiteral("Replace")) {
            replace = action;
        }
    }
    ASSERT_NE(replace, nullptr);
    EXPECT_TRUE(replace->isEnabled());
    // The run's end reaches the window only through its events, so it runs here.
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    EXPECT_FALSE(replace->isEnabled());
    window.PressStop();
    Run(window);
    EXPECT_TRUE(replace->isEnabled());
    // The status bar's progress bar counts the files done while a run runs, and goes with it.
    auto* progress = window.findChild<QProgressBar*>(QStringLiteral("runProgress"));
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(progress->isVisible());
    QTest::qWait(200);  // the stopped run's last progress text has come and gone
    window.View().SetRunning(true);
    window.View().ShowProgressCount(250, 1000);
    window.View().ShowProgress("...searching in file 250 of 1000");
    for (int wait = 0; wait < 100 && progress->maximum() != 1000; ++wait) {
        QTest::qWait(10);
    }
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->maximum(), 1000);
    EXPECT_EQ(progress->value(), 250);
    window.View().SetRunning(false);
    QTest::qWait(50);
    EXPECT_FALSE(progress->isVisible());

    // After a deletion the next entry is selected, and Delete can delete it.
    OptionsDialog options(&window);
    options.show();
    auto* extension = options.findChild<QLineEdit*>(QStringLiteral("txtExtension"));
    auto* add = options.findChild<QPushButton*>(QStringLiteral("cmdAddExt"));
    auto* remove = options.findChild<QPushButton*>(QStringLiteral("cmdDelete"));
    auto* list = options.findChild<QListWidget*>(QStringLiteral("lbExt"));
    ASSERT_TRUE(extension && add && remove && list);
    for (const char* text : {".abc", ".abd"}) {
        extension->setText(QString::fromLatin1(text));
        add->click();
    }
    const QList<QListWidgetItem*> found = list->findItems(QStringLiteral(".abc"), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    list->setCurrentItem(found[0]);
    ASSERT_TRUE(remove->isEnabled());
    remove->click();
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems()[0]->text(), QStringLiteral(".abd"));
    EXPECT_TRUE(remove->isEnabled());
    options.close();
}

// A document no application on this computer is registered for is not dropped in silence: the
// user is told and offered the list of applications ("Open With...").
TEST_F(WindowOnX, ADocumentNothingCanOpenOffersOpenWith) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kFileHandlerWord, "True").ok());
    tree_.WriteFile("letter.docx", std::string("PK\x03\x04") + " not much of a document");
    // The tests' desktop has no application for documents, only "Notes", which takes no type.
    MainWindow window;
    Show(window);
    QString told;
    QStringList buttons;
    QStringList offered;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            told = box->text();
            for (QAbstractButton* button : box->buttons()) {
                buttons << button->text();
                if (button->text() == QStringLiteral("Open With...")) {
                    button->click();
                    return;
                }
            }
            box->reject();
        } else if (modal != nullptr) {
            if (auto* list = modal->findChild<QListWidget*>(QStringLiteral("lbApplications"))) {
                for (int row = 0; row < list->count(); ++row) {
                    offered << list->item(row)->text();
                }
                static_cast<QDialog*>(modal)->reject();
            }
        }
    });
    watch.start(20);
    EXPECT_EQ(window.OpenFilePreviewer(tree_.Path("letter.docx")), nullptr);
    watch.stop();
    EXPECT_TRUE(told.contains(QStringLiteral("letter.docx"))) << told.toStdString();
    EXPECT_TRUE(buttons.contains(QStringLiteral("Open With..."))) << told.toStdString();
    EXPECT_TRUE(offered.contains(QStringLiteral("Notes")));
    (void)SaveSettingValue(kSettingsKey, kFileHandlerWord, "False");
}

// Ctrl+E opens the current hit line in the user's editor at its hit (the column in bytes), the
// previewer's cursor place likewise and a file of the detailed list at its start; the file's
// name reaches the editor as it is, quotes, blanks and shell signs in it. A command that cannot
// start is told.
TEST_F(WindowOnX, OpenInEditorStartsTheEditorAtTheHit) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "4").ok());
    const std::string name = "it's a \"note\" $(echo gone); ls.txt";
    tree_.WriteFile(name, "first\nD\xC3\xA9 the second hello\n");
    const std::string path = tree_.Path(name);
    const testing::StandInEditor editor;
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kEditorCommand,
                                 QuotedCommandWord(editor.Script()) + " " +
                                     QuotedCommandWord(editor.Record()) +
                                     " --line=%l --column=%c %f")
                    .ok());
    MainWindow window;
    Show(window);
    ASSERT_NO_FATAL_FAILURE(SearchFor(window, QStringLiteral("second")));
    HitLinesModel& model = *window.HitLines()->Model();
    QListView* list = window.HitLines()->List();
    ASSERT_EQ(model.rowCount(), 2);  // the file and its line 2
    const QPoint line = list->viewport()->mapTo(&window, list->visualRect(model.index(1)).center());
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, line);
    ASSERT_EQ(QApplication::focusWidget(), list);
    Press(window, Qt::Key_E, Qt::ControlModifier);
    // "Dé the " is 8 bytes.
    EXPECT_EQ(editor.Arguments(), (std::vector<std::string>{"--line=2", "--column=9", path}));
    EXPECT_TRUE(MenuAfterRightClick(window, line).contains(QStringLiteral("Open in &Editor")));

    // In the previewer: the hit it opened at, then where the cursor was put.
    Press(window, Qt::Key_Return);
    PreviewWindow* preview = window.findChild<PreviewWindow*>();
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(testing::WaitUntil([preview] { return !preview->IsLoading(); }, 10));
    preview->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(preview));
    QTest::keyClick(preview->windowHandle(), Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(editor.Arguments(), (std::vector<std::string>{"--line=2", "--column=9", path}));
    QTextCursor cursor = preview->Box()->textCursor();
    cursor.setPosition(20);  // before "hello"
    preview->Box()->setTextCursor(cursor);
    QTest::keyClick(preview->windowHandle(), Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(editor.Arguments(), (std::vector<std::string>{"--line=2", "--column=16", path}));
    preview->close();

    // The detailed list knows no line.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.ChooseReportType(ReportType::kFileList);
    Run(window);
    auto* files = window.findChild<QTableView*>(QStringLiteral("lvFiles"));
    ASSERT_EQ(files->model()->rowCount(), 1);
    QTest::mouseClick(
        window.windowHandle(), Qt::LeftButton, {},
        files->viewport()->mapTo(&window, files->visualRect(files->model()->index(0, 0)).center()));
    ASSERT_EQ(QApplication::focusWidget(), files);
    Press(window, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(editor.Arguments(), (std::vector<std::string>{"--line=1", "--column=1", path}));

    // An editor that is not there.
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kEditorCommand, "/nonexistent/editor +%l %f").ok());
    testing::MessageRecorder messages;
    Press(window, Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(testing::WaitUntil([&] { return !messages.messages().empty(); }, 10));
    EXPECT_EQ(messages.messages()[0].title, QStringLiteral("Open in Editor"));
    EXPECT_TRUE(messages.messages()[0].text.contains(
        QStringLiteral("\"/nonexistent/editor\" could not be started")))
        << messages.messages()[0].text.toStdString();
    (void)SaveSettingValue(kSettingsKey, kEditorCommand, "");
}

// The task bar entry shows the run's progress through the launcher-entry signal, and loses it
// when the run ends.
TEST_F(WindowOnX, TheTaskBarEntryShowsTheRunsProgress) {
    const std::string log = tree_.Path("signals.txt");
    const std::string monitor =
        "dbus-monitor --address \"$DBUS_SESSION_BUS_ADDRESS\" "
        "\"type='signal',interface='com.canonical.Unity.LauncherEntry'\" > '" +
        log + "' 2>/dev/null & echo $!";
    FILE* started = popen(monitor.c_str(), "r");
    ASSERT_NE(started, nullptr);
    long monitor_pid = -1;
    ASSERT_EQ(std::fscanf(started, "%ld", &monitor_pid), 1);
    pclose(started);
    QTest::qWait(500);  // subscribed
    MainWindow window;
    Show(window);
    window.View().SetRunning(true);
    window.View().ShowProgressCount(250, 1000);
    window.View().ShowProgress("...searching in file 250 of 1000");
    QTest::qWait(200);
    window.View().SetRunning(false);
    std::string seen;
    for (int wait = 0; wait < 100 && seen.find("boolean false") == std::string::npos; ++wait) {
        QTest::qWait(20);
        seen = tree_.ReadFile("signals.txt");
    }
    kill(static_cast<pid_t>(monitor_pid), SIGTERM);
    EXPECT_NE(seen.find("application://org.mallo.Ferret.desktop"), std::string::npos) << seen;
    const std::size_t shown = seen.find("double 0.25");
    const std::size_t hidden = seen.find("boolean false");
    EXPECT_NE(shown, std::string::npos) << seen;
    EXPECT_NE(hidden, std::string::npos) << seen;
    EXPECT_LT(shown, hidden) << seen;
}

// Saves a picture of `widget` when FERRET_SHOTS names a folder (for looking at the window at
// other scales: QT_SCALE_FACTOR=1.5).
void Shot(QWidget& widget, const char* name) {
    if (const char* folder = std::getenv("FERRET_SHOTS"); folder != nullptr) {
        QApplication::processEvents();
        widget.grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QLatin1String(name) +
                           QStringLiteral(".png"));
    }
}

// Texts fit their places at the default font and scaled (the test runs again under
// QT_SCALE_FACTOR=1.5): nothing covers a control, captions are not cut, and the list's
// horizontal scroll bar runs the usual way.
TEST_F(WindowOnX, LayoutsFitTheirTexts) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "0").ok());
    MainWindow window;
    Show(window);
    window.resize(700, 600);
    window.findChild<QComboBox*>(QStringLiteral("cboFind"))->setEditText(QStringLiteral("hello"));
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    Run(window);
    auto* list = window.findChild<QTableView*>(QStringLiteral("lvFiles"));
    ASSERT_EQ(list->model()->rowCount(), 3);
    QHeaderView* header = list->horizontalHeader();
    header->setSortIndicator(2, Qt::DescendingOrder);  // the arrow beside "Items Found"
    for (int column = 0; column + 1 < header->count(); ++column) {
        EXPECT_GE(header->sectionSize(column), header->sectionSizeHint(column)) << column;
        EXPECT_GE(header->sectionSize(column),
                  static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column))
            << column;
    }
    // Scrolled to its left edge, the scroll bar's handle is at its left end; moving it right
    // shows the columns further right.
    QScrollBar* across = list->horizontalScrollBar();
    ASSERT_GT(across->maximum(), across->minimum());
    EXPECT_EQ(across->value(), across->minimum());
    EXPECT_EQ(header->offset(), 0);
    EXPECT_FALSE(across->invertedAppearance());
    EXPECT_EQ(across->layoutDirection(), Qt::LeftToRight);
    across->setValue(across->maximum());
    EXPECT_GT(header->offset(), 0);
    Shot(window, "main-window");

    OptionsDialog options(&window);
    options.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&options));
    auto* handlers = options.findChild<QListWidget*>(QStringLiteral("lbFileHandler"));
    ASSERT_NE(handlers, nullptr);
    EXPECT_TRUE(handlers->item(0)->text().endsWith(QStringLiteral("LibreOffice Writer")));
    EXPECT_TRUE(handlers->item(1)->text().endsWith(QStringLiteral("LibreOffice Calc")));
    EXPECT_GE(handlers->viewport()->width(), handlers->sizeHintForColumn(0));
    // Wrapped texts get the height they need at their width.
    for (const QLabel* label : options.findChildren<QLabel*>()) {
        if (label->wordWrap() && label->isVisible()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                << label->text().toStdString();
        }
    }
    Shot(options, "options");
    options.close();

    QPlainTextEdit box;
    box.setPlainText(QStringLiteral("hello"));
    FindReplaceDialog* find =
        FindReplaceDialog::Show(&window, &box, kFindDown, QStringLiteral("x"));
    ASSERT_NE(find, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(find));
    const QGroupBox* direction = find->findChild<QGroupBox*>();
    ASSERT_NE(direction, nullptr);
    for (const QCheckBox* option : {find->WholeWordBox(), find->MatchCaseBox()}) {
        const QRect at(option->mapTo(find, QPoint(0, 0)), option->size());
        const QRect group(direction->mapTo(find, QPoint(0, 0)), direction->size());
        EXPECT_FALSE(at.intersects(group)) << option->text().toStdString();
        EXPECT_GE(option->width(), option->sizeHint().width()) << option->text().toStdString();
    }
    Shot(*find, "find");
    find->close();

    // The previewer with its hits marked.
    PreviewWindow preview;
    preview.show();
    preview.Load({tree_.Path("a.txt"), "hello", false, false, 0, 0});
    for (int wait = 0; wait < 500 && preview.IsLoading(); ++wait) {
        QTest::qWait(10);
    }
    ASSERT_FALSE(preview.IsLoading());
    Shot(preview, "previewer");
}

// The previewer opens with the chosen hit in the middle of its view, however far down the file
// it is and whatever the lines before it wrap to.
TEST_F(WindowOnX, ThePreviewerOpensWithTheHitInView) {
    std::string text;
    for (int line = 1; line <= 1200; ++line) {
        text +=
            line == 483 ? "    char needle[PATH_MAX];" : "int line" + std::to_string(line) + ";";
        if (line % 7 == 0) {
            text += std::string(400, 'x');  // wraps in the view
        }
        text += "\n";
    }
    tree_.WriteFile("long.h", text);
    for (const std::int64_t line : {std::int64_t{483}, std::int64_t{1190}, std::int64_t{3}}) {
        SCOPED_TRACE(line);
        PreviewWindow preview;
        preview.show();
        preview.Load({tree_.Path("long.h"), line == 483 ? "needle" : "line", false, false, line,
                      line == 483 ? 10 : 5});
        for (int wait = 0; wait < 500 && preview.IsLoading(); ++wait) {
            QTest::qWait(10);
        }
        ASSERT_FALSE(preview.IsLoading());
        QTest::qWait(50);
        const QPlainTextEdit* box = preview.Box();
        const QRect cursor = box->cursorRect();
        const QRect view = box->viewport()->rect();
        EXPECT_TRUE(view.contains(cursor)) << cursor.y() << " in " << view.height();

        if (line == 483) {
            EXPECT_EQ(box->textCursor().selectedText(), QStringLiteral("needle"));
            // In the middle, give or take a few lines.
            EXPECT_LT(std::abs(cursor.center().y() - view.center().y()), view.height() / 4);
        }
    }
}

// F3 and Shift+F3 go to the next and the previous occurrence: of the hit text, with the run's
// case rule, or of what the open Find dialog looks for.
// The menus and the panels are reached from the keyboard: F10 opens the first menu, a menu's
// or a panel's access key opens it (a panel's goes to its first control and never closes it),
// and Tab leaves each report for the next control.
TEST_F(WindowOnX, MenusPanelsAndReportsAnswerTheKeyboard) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "0").ok());
    MainWindow window;
    Show(window);
    const auto popup_title = [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu != nullptr ? menu->title() : QString();
    };
    const auto close_popups = [&] {
        while (QApplication::activePopupWidget() != nullptr) {
            QApplication::activePopupWidget()->close();
            QApplication::processEvents();
        }
    };
    Press(window, Qt::Key_F10);
    EXPECT_TRUE(testing::WaitUntil([&] { return popup_title() == QStringLiteral("F&ile"); }, 5))
        << popup_title().toStdString();
    close_popups();
    Press(window, Qt::Key_I, Qt::AltModifier);
    EXPECT_TRUE(testing::WaitUntil([&] { return popup_title() == QStringLiteral("F&ile"); }, 5))
        << popup_title().toStdString();
    close_popups();
    Press(window, Qt::Key_T, Qt::AltModifier);
    EXPECT_TRUE(testing::WaitUntil([&] { return popup_title() == QStringLiteral("&Tools"); }, 5))
        << popup_title().toStdString();
    close_popups();

    auto* modified = window.findChild<QToolButton*>(QStringLiteral("panel_MODIFIED"));
    ASSERT_NE(modified, nullptr);
    ASSERT_FALSE(modified->isChecked());
    for (int press = 0; press < 2; ++press) {
        Press(window, Qt::Key_M, Qt::AltModifier);
        EXPECT_TRUE(modified->isChecked()) << "press " << press;
        auto* option = qobject_cast<QRadioButton*>(QApplication::focusWidget());
        ASSERT_NE(option, nullptr) << "press " << press;
        EXPECT_EQ(option->text(), QStringLiteral("Don't Remember"));
    }
    // A label's key goes to its box.
    Press(window, Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(HasFocus(window.findChild<QComboBox*>(QStringLiteral("cboFind"))));

    SearchFields fields = window.Fields();
    fields.search_text = "hello";
    window.SetFields(fields);
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    Run(window);
    for (QAbstractScrollArea* report :
         {static_cast<QAbstractScrollArea*>(window.findChild<QTableView*>()),
          static_cast<QAbstractScrollArea*>(window.findChild<QPlainTextEdit*>())}) {
        ASSERT_NE(report, nullptr);
        report->setVisible(true);
        report->setFocus();
        ASSERT_TRUE(testing::WaitUntil([&] { return report->hasFocus(); }, 5));
        Press(window, Qt::Key_Tab);
        QWidget* next = QApplication::focusWidget();
        EXPECT_TRUE(next != nullptr && next != report && !report->isAncestorOf(next))
            << report->metaObject()->className();
    }
}

// In the preview's list Space ticks or clears every selected row at once, and Escape closes
// the window, asking first when the choice was changed.
TEST_F(WindowOnX, SpaceTogglesTheSelectedChangesAndEscapeAsks) {
    tree_.WriteFile("p.txt", "old 1\nold 2\nold 3\n");
    MainWindow window;
    Show(window);
    SearchFields fields = window.Fields();
    fields.file_mask = "p.txt";
    fields.search_text = "old";
    fields.replace_text = "new";
    window.SetFields(fields);
    PreviewReplaceDialog* preview = window.PreviewReplace();
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(testing::WaitUntil(
        [&] { return !window.IsRunning() && preview->Model()->FileCount() == 1; }, 20));
    PreviewChangesModel& model = *preview->Model();
    const QModelIndex file = model.index(0, 0);
    preview->View()->expand(file);
    ASSERT_TRUE(testing::WaitUntil([&] { return model.rowCount(file) == 3; }, 5));
    preview->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(preview));
    QItemSelectionModel* selection = preview->View()->selectionModel();
    selection->select(model.index(0, 0, file),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(model.index(2, 0, file),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    preview->View()->setFocus();
    QTest::keyClick(preview->View(), Qt::Key_Space);
    const auto ticked = [&](int row) {
        return model.index(row, 0, file).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    };
    EXPECT_FALSE(ticked(0));
    EXPECT_TRUE(ticked(1));
    EXPECT_FALSE(ticked(2));
    QTest::keyClick(preview->View(), Qt::Key_Space);
    EXPECT_TRUE(ticked(0) && ticked(1) && ticked(2));

    int asked = 0;
    preview->confirm_close = [&] {
        ++asked;
        return false;
    };
    QTest::keyClick(preview->windowHandle(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(preview->isVisible());
    preview->confirm_close = [] { return true; };
    const QPointer<PreviewReplaceDialog> alive(preview);  // it deletes itself on closing
    QTest::keyClick(preview->windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(testing::WaitUntil([&] { return alive.isNull(); }, 5));
}

TEST_F(WindowOnX, F3FindsTheNextAndShiftF3ThePreviousHit) {
    tree_.WriteFile("hits.txt", "needle one\nneedle two\nNEEDLE three\nneedle four\n");
    PreviewWindow preview;
    preview.show();
    preview.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&preview));
    preview.Load({tree_.Path("hits.txt"), "needle", true, false, 1, 1});
    for (int wait = 0; wait < 500 && preview.IsLoading(); ++wait) {
        QTest::qWait(10);
    }
    ASSERT_FALSE(preview.IsLoading());
    EXPECT_EQ(preview.Box()->textCursor().selectionStart(), 0);
    QTest::keyClick(preview.Box(), Qt::Key_F3);
    EXPECT_EQ(preview.Box()->textCursor().selectionStart(), 11);
    QTest::keyClick(preview.Box(), Qt::Key_F3);
    EXPECT_EQ(preview.Box()->textCursor().selectedText(), QStringLiteral("NEEDLE"));
    QTest::keyClick(preview.Box(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(preview.Box()->textCursor().selectionStart(), 11);
    // With the Find dialog open, its text is looked for.
    preview.OpenFind();
    FindReplaceDialog* find = FindReplaceDialog::Current(&preview);
    ASSERT_NE(find, nullptr);
    find->FindField()->setText(QStringLiteral("four"));
    EXPECT_TRUE(preview.FindAgain(true));
    EXPECT_EQ(preview.Box()->textCursor().selectedText(), QStringLiteral("four"));
    find->close();
}

}  // namespace
}  // namespace ferret
