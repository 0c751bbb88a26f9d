#include "app/main_window.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTableView>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <chrono>
#include <functional>
#include <thread>

#include "app/command_line.h"
#include "app/explorer_bar.h"
#include "app/file_dialogs.h"
#include "app/file_list_model.h"
#include "app/help_window.h"
#include "app/hit_lines_view.h"
#include "app/options_dialog.h"
#include "app/problems_dialog.h"
#include "app/saved_search.h"
#include "app/structured_model.h"
#include "preview/preview_window.h"
#include "preview/print_document.h"
#include "preview/screen_fit.h"
#include "settings/app_settings.h"
#include "settings/settings.h"
#include "testsupport/made_archive.h"
#include "testsupport/message_recorder.h"
#include "testsupport/qt_wait.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::ProgramResult;
using testing::RunProgram;
using testing::TempDir;
using testing::WaitUntil;

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
        tree_.WriteFile("a.txt", "hit hit");
        tree_.WriteFile("sub/b.txt", "hit");
        tree_.WriteFile("c.txt", "miss");
    }
    SearchFields Search(const std::string& text) const {
        SearchFields fields;
        fields.folder = tree_.path();
        fields.file_mask = "*.txt";
        fields.recursive = true;
        fields.search_text = text;
        return fields;
    }
    // Starts a search of 500 files, "slow/f000.txt" on, with 200 lines each: every "h" looks
    // ahead to its line's end, some seconds of searching in all.
    void StartSlowSearch(MainWindow& window) {
        std::string lines;
        for (int line = 0; line < 200; ++line) {
            lines += std::string(99, 'h') + "\n";
        }
        char name[32];
        for (int i = 0; i < 500; ++i) {
            std::snprintf(name, sizeof name, "slow/f%03d.txt", i);
            tree_.WriteFile(name, lines);
        }
        SearchFields fields = Search("h(?=h*\\n)");
        fields.folder = tree_.Path("slow");
        fields.regex = true;
        window.SetFields(fields);
        ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    }
    // Runs `fields` in `window` to its end and lets the window show the results.
    static void RunToEnd(MainWindow& window, const SearchFields& fields,
                         RunKind kind = RunKind::kSearch) {
        window.SetFields(fields);
        ASSERT_TRUE(window.StartRun(kind));
        window.WaitForRun();
        QApplication::processEvents();
    }
    TempDir tree_;
};

TEST_F(MainWindowTest, SearchFromTheWindowShowsTheReport) {
    MainWindow window;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(window, Search("hit")));
    const QString report = window.ReportTextShown();
    EXPECT_TRUE(report.contains(QStringLiteral(" [2]\t.../a.txt"))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral(" [1]\t.../sub/b.txt")));
    EXPECT_TRUE(window.Bar()->IsExpanded(QStringLiteral("Results")));
}

// A pattern that cannot be read is told in a box before anything is listed, and the window's
// report claims no search.
TEST_F(MainWindowTest, APatternThatCannotBeReadIsToldBeforeAnythingRuns) {
    testing::MessageRecorder recorder;
    MainWindow window;
    SearchFields fields = Search("hit(");
    fields.regex = true;
    window.SetFields(fields);
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    window.WaitForRun();
    ASSERT_TRUE(WaitUntil([&] { return !recorder.messages().empty(); }, 5));
    EXPECT_EQ(recorder.messages().front().title, QStringLiteral("Regular Expression"));
    EXPECT_TRUE(recorder.messages().front().text.startsWith(
        QStringLiteral("The regular expression cannot be used")));
    EXPECT_FALSE(window.ReportTextShown().contains(QStringLiteral("a.txt")));
    EXPECT_NE(window.StatusText(StatusPanel::kMatched), QStringLiteral("Files Matched: 0"));
}

// The walk of the whole machine takes minutes; Stop ends it at once and the window is idle.
TEST_F(MainWindowTest, StopWhileTheFileListIsBuiltReturnsTheWindowToIdle) {
    MainWindow window;
    SearchFields fields = Search("QString");
    fields.folder = "/";
    fields.file_mask = "*";
    window.SetFields(fields);
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    ASSERT_TRUE(WaitUntil(
        [&] {
            // Files found are searched while the walk goes on.
            const QString progress = window.StatusText(StatusPanel::kProgress);
            return progress == QStringLiteral("...building file list") ||
                   progress.endsWith(QStringLiteral(" (still listing)"));
        },
        10));
    const auto pressed = std::chrono::steady_clock::now();
    window.PressStop();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsRunning(); }, 5));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - pressed).count(), 1);
    QApplication::processEvents();
    // With how far the search came, when it had told files already.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Stopped (at file [1-9][0-9]* )?while listing "
                                                  "the files\\. Elapse Process Time: "))
                    .match(window.StatusText(StatusPanel::kProgress))
                    .hasMatch())
        << window.StatusText(StatusPanel::kProgress).toStdString();
    EXPECT_TRUE(window.Driver().Stopped());
}

TEST_F(MainWindowTest, ARunWithFilesNotDoneShowsTheirNumberAndLists) {
    MainWindow window;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(window, Search("hit")));
    EXPECT_TRUE(window.ProblemsButton()->isHidden());

    ASSERT_EQ(chmod(tree_.Path("a.txt").c_str(), 0444), 0);
    SearchFields fields = Search("hit");
    fields.replace_text = "done";
    ASSERT_NO_FATAL_FAILURE(RunToEnd(window, fields, RunKind::kReplace));
    ASSERT_FALSE(window.ProblemsButton()->isHidden());
    EXPECT_EQ(window.ProblemsButton()->text(), QStringLiteral("1 file(s) not done"));
    ProblemsDialog* problems = window.ShowProblems(false);
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->List()->topLevelItemCount(), 1);
    EXPECT_EQ(problems->List()->topLevelItem(0)->text(0).toStdString(), tree_.Path("a.txt"));
    EXPECT_EQ(problems->List()->topLevelItem(0)->text(1), QStringLiteral("the file is read-only"));
    problems->close();
    EXPECT_EQ(tree_.ReadFile("a.txt"), "hit hit");
    EXPECT_EQ(tree_.ReadFile("sub/b.txt"), "done");
}

TEST_F(MainWindowTest, ReportTypesFollowTheMenuAndTheAutoUpdateSetting) {
    MainWindow window;
    window.SetFields(Search("hit"));
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    window.WaitForRun();
    window.ChooseReportType(ReportType::kFileList);
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_EQ(window.FileModel()->rowCount(), 2);
    window.ChooseReportType(ReportType::kStructured);
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_GT(window.TreeModel()->rowCount(), 0);
    // Without automatic updates the views only switch.
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kAutoReportUpdate, "False").ok());
    MainWindow other;
    other.SetFields(Search("hit"));
    ASSERT_TRUE(other.StartRun(RunKind::kSearch));
    other.WaitForRun();
    other.ChooseReportType(ReportType::kFileList);
    other.WaitForRun();
    QApplication::processEvents();
    EXPECT_EQ(other.FileModel()->rowCount(), 0);
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kAutoReportUpdate, "True").ok());
}

TEST_F(MainWindowTest, PauseHoldsTheRunAndStopEndsIt) {
    // Seconds of searching: a quick search could end between the check and the press.
    MainWindow window;
    ASSERT_NO_FATAL_FAILURE(StartSlowSearch(window));
    while (!window.CanPause() && window.IsRunning()) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const auto action = [&window](const char* text) {
        for (const QAction* found : window.findChildren<QAction*>()) {
            if (found->text() == QLatin1String(text)) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(action("Pause"));
    window.PressPause();
    QTest::qWait(100);
    EXPECT_TRUE(window.IsRunning());
    // Paused, the button offers to resume and the status says paused.
    EXPECT_TRUE(action("Resume"));
    EXPECT_FALSE(action("Pause"));
    EXPECT_TRUE(window.StatusText(StatusPanel::kProgress).startsWith(QStringLiteral("Paused: ")))
        << window.StatusText(StatusPanel::kProgress).toStdString();
    // Running: the fields that feed a run are locked, Stop and Pause are not, nor the results
    // shown so far.
    for (const char* name : {"cboFolder", "cboFind", "txtReplace"}) {
        EXPECT_FALSE(window.findChild<QWidget*>(QString::fromLatin1(name))->isEnabled()) << name;
    }
    for (const char* name : {"lvFiles", "tvReport"}) {
        EXPECT_TRUE(window.findChild<QWidget*>(QString::fromLatin1(name))->isEnabled()) << name;
    }
    window.PressStop();
    window.WaitForRun();
    EXPECT_FALSE(window.IsRunning());
    EXPECT_LT(window.Driver().FilesWithHits(), 500);
    EXPECT_FALSE(window.CanPause());
    // Stopped, the run says so and how far it came.
    EXPECT_TRUE(window.StatusText(StatusPanel::kProgress).startsWith(QStringLiteral("Stopped ")))
        << window.StatusText(StatusPanel::kProgress).toStdString();
    EXPECT_TRUE(action("Pause"));
    for (const char* name : {"cboFolder", "cboFind", "txtReplace", "lvFiles", "tvReport"}) {
        EXPECT_TRUE(window.findChild<QWidget*>(QString::fromLatin1(name))->isEnabled()) << name;
    }
}

// The detailed list fills while the run goes, in list order, and ends with each file once.
TEST_F(MainWindowTest, TheListFillsWhileTheRunGoes) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "0").ok());
    MainWindow window;
    ASSERT_NO_FATAL_FAILURE(StartSlowSearch(window));
    char name[32];
    const FileListModel& list = *window.FileModel();
    ASSERT_TRUE(WaitUntil([&] { return list.rowCount() > 0 || !window.IsRunning(); }, 60));
    EXPECT_TRUE(window.IsRunning()) << "no row came before the run ended";
    const int shown = list.rowCount();
    EXPECT_GT(shown, 0);
    for (int row = 0; row < shown; ++row) {
        std::snprintf(name, sizeof name, "f%03d.txt", row);
        EXPECT_EQ(list.data(list.index(row, kColumnName)).toString().toStdString(), name);
    }
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_EQ(list.rowCount(), 500);
}

// A search given on the command line shows its files in the window, which keeps their records
// (a run without a window keeps none it does not write out), and then the search itself.
TEST_F(MainWindowTest, ACommandLineSearchInTheWindowKeepsItsFiles) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "0").ok());
    MainWindow window;
    const CommandLine line(CommandLine::RebuildCommandLine(
        {"-p", tree_.path(), "-k", "*.txt", "-b", "-s", "hit", "-e:search"}));
    std::atomic<int> status{0};
    ASSERT_TRUE(window.RunUnattended(line, status));
    window.WaitForRun();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsRunning(); }, 10));
    QApplication::processEvents();
    ASSERT_NE(window.Driver().Results(), nullptr);
    EXPECT_EQ(window.Driver().Results()->Count(), 2);
    const FileListModel& list = *window.FileModel();
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.data(list.index(0, kColumnName)).toString(), QStringLiteral("a.txt"));
    EXPECT_EQ(list.data(list.index(1, kColumnName)).toString(), QStringLiteral("b.txt"));
    EXPECT_EQ(window.Fields().folder, tree_.path());
    EXPECT_EQ(window.Fields().file_mask, "*.txt");
    EXPECT_EQ(window.Fields().search_text, "hit");
    EXPECT_TRUE(window.Fields().recursive);
}

// The first files show while the walk still lists the rest.
TEST_F(MainWindowTest, TheListFillsWhileTheWalkStillLists) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "0").ok());
    tree_.WriteFile("walk/a/first.txt", "hh\n");
    // Every "h" looks ahead to its line's end: a minute of searching (seconds would be over before
    // Stop on a busy machine) that holds the walk back.
    tree_.MakeManyFiles("walk/m", 4000, std::string(5000, 'h') + "\n");
    MainWindow window;
    SearchFields fields = Search("h(?=h*\\n)");
    fields.folder = tree_.Path("walk");
    fields.regex = true;
    window.SetFields(fields);
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    const FileListModel& list = *window.FileModel();
    ASSERT_TRUE(WaitUntil([&] { return list.rowCount() > 0 || !window.IsRunning(); }, 60));
    // What the walk found is told only once it ends.
    EXPECT_EQ(window.StatusText(StatusPanel::kSearched), QString()) << "the walk ended first";
    EXPECT_EQ(list.data(list.index(0, kColumnName)).toString(), QStringLiteral("first.txt"));
    // The rows may be used while the run goes; only their order is the run's.
    const auto* view = window.findChild<QTableView*>(QStringLiteral("lvFiles"));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isEnabled());
    EXPECT_FALSE(view->horizontalHeader()->sectionsClickable());
    window.PressStop();
    window.WaitForRun();
    QApplication::processEvents();
    ASSERT_GE(list.rowCount(), 1);
    EXPECT_EQ(list.data(list.index(0, kColumnName)).toString(), QStringLiteral("first.txt"));
    EXPECT_TRUE(view->horizontalHeader()->sectionsClickable());
    // How far it came: files were searched and told, though the list was not whole.
    const QString status = window.StatusText(StatusPanel::kProgress);
    EXPECT_TRUE(status.startsWith(QStringLiteral("Stopped at file ")) &&
                status.contains(QStringLiteral(" while listing the files.")))
        << status.toStdString();
}

// So does the tree, each file below its folder once.
TEST_F(MainWindowTest, TheTreeFillsWhileTheRunGoes) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "1").ok());
    MainWindow window;
    ASSERT_NO_FATAL_FAILURE(StartSlowSearch(window));
    const StructuredModel& tree = *window.TreeModel();
    ASSERT_TRUE(
        WaitUntil([&] { return tree.tree().Find("file0") != nullptr || !window.IsRunning(); }, 60));
    EXPECT_TRUE(window.IsRunning()) << "no file came before the run ended";
    const StructuredNode* first = tree.tree().Find("file0");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->text, "f000.txt");
    EXPECT_EQ(tree.tree().node(first->parent).key, "(root selected)");
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_NE(tree.tree().Find("file499"), nullptr);
    EXPECT_EQ(tree.tree().Find("file500"), nullptr);
}

// The hit lines fill while the run goes too, file after file, and end with each line once.
TEST_F(MainWindowTest, TheHitLinesFillWhileTheRunGoes) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "4").ok());
    MainWindow window;
    ASSERT_NO_FATAL_FAILURE(StartSlowSearch(window));
    char name[32];
    const HitLinesModel& model = *window.HitLines()->Model();
    ASSERT_TRUE(WaitUntil([&] { return model.FileCount() > 1 || !window.IsRunning(); }, 60));
    EXPECT_TRUE(window.IsRunning()) << "no line came before the run ended";
    const int files = model.FileCount();
    for (int file = 0; file + 1 < files; ++file) {
        std::snprintf(name, sizeof name, "f%03d.txt", file);
        const QModelIndex row = model.index(model.RowOfFile(file));
        EXPECT_EQ(row.data().toString().toStdString(), name);
        EXPECT_EQ(model.FileAt(file).count, 200u) << name;
    }
    window.WaitForRun();
    QApplication::processEvents();
    ASSERT_EQ(model.FileCount(), 500);
    EXPECT_EQ(model.rowCount(), 500 * 201);
    EXPECT_EQ(model.index(model.RowOfFile(499)).data(HitLinesModel::kHitsRole).toInt(), 19800);
}

TEST_F(MainWindowTest, FieldsRoundTripAndSettingsComeBack) {
    {
        MainWindow window;
        SearchFields fields = Search("x");
        fields.file_mask = "*.htm;*.html";
        fields.size_option = SearchFields::kSizeSpecified;
        fields.size_text = "12.5";
        fields.regex = true;
        window.SetFields(fields);
        const SearchFields back = window.Fields();
        EXPECT_EQ(back.folder, fields.folder);
        EXPECT_EQ(back.file_mask, "*.htm;*.html");
        EXPECT_EQ(back.size_option, SearchFields::kSizeSpecified);
        EXPECT_EQ(back.size_text, "12.5");
        EXPECT_TRUE(back.regex);
        EXPECT_TRUE(back.recursive);
        window.close();
    }
    MainWindow reopened;
    const SearchFields loaded = reopened.Fields();
    EXPECT_EQ(loaded.folder, tree_.path());
    EXPECT_EQ(loaded.file_mask, "*.htm;*.html");
    EXPECT_TRUE(loaded.recursive);
}

// Answers every file dialog with `path` (or cancels when it is empty) while alive.
class DialogAnswer {
  public:
    explicit DialogAnswer(std::string path) {
        previous_ =
            FileDialogs::SetTestHook([path](const FileDialogs::Request&) -> FileDialogs::Answer {
                if (path.empty()) {
                    return std::nullopt;
                }
                return std::vector<std::string>{path};
            });
    }
    ~DialogAnswer() { FileDialogs::SetTestHook(previous_); }

  private:
    FileDialogs::Hook previous_;
};

TEST_F(MainWindowTest, ConfigurationsReportsAndHistory) {
    {
        MainWindow window;
        SearchFields fields = Search("hit");
        fields.regex = true;
        fields.file_mask = "*.htm";
        window.SetFields(fields);
        {
            DialogAnswer answer(tree_.Path("saved.frs"));
            ASSERT_TRUE(window.SaveSearchFile());
        }
        window.SetFields(Search("other"));
        {
            DialogAnswer cancel("");
            EXPECT_FALSE(window.LoadSearchFile(""));
            EXPECT_EQ(window.Fields().search_text, "other");
        }
        {
            DialogAnswer answer(tree_.Path("saved.frs"));
            ASSERT_TRUE(window.LoadSearchFile(""));
        }
        EXPECT_EQ(window.Fields().search_text, "hit");
        EXPECT_EQ(window.Fields().file_mask, "*.htm");
        EXPECT_TRUE(window.Fields().regex);
        // A search puts its text into the history, which comes back after a restart.
        ASSERT_NO_FATAL_FAILURE(RunToEnd(window, Search("hit")));
        {
            DialogAnswer answer(tree_.Path("report.log"));
            ASSERT_TRUE(window.SaveReport());
        }
        EXPECT_NE(tree_.ReadFile("report.log").find(".../a.txt"), std::string::npos);
        EXPECT_EQ(window.History(), std::vector<std::string>{"hit"});
        window.close();
    }
    {
        MainWindow reopened;
        EXPECT_EQ(reopened.History(), std::vector<std::string>{"hit"});
        reopened.ClearHistory();
        EXPECT_TRUE(reopened.History().empty());
        reopened.close();
    }
    MainWindow cleared;
    EXPECT_TRUE(cleared.History().empty());
}

// The skip box and the two skip switches of a window.
struct SkipControls {
    explicit SkipControls(const MainWindow& window)
        : folders(window.findChild<QComboBox*>(QStringLiteral("cboSkipFolders"))),
          git_ignore(window.findChild<QCheckBox*>(QStringLiteral("chkGitIgnore"))),
          no_binary(window.findChild<QCheckBox*>(QStringLiteral("chkNoBinary"))),
          archives(window.findChild<QCheckBox*>(QStringLiteral("chkArchives"))) {}
    bool Found() const { return folders && git_ignore && no_binary && archives; }

    QComboBox* folders;
    QCheckBox* git_ignore;
    QCheckBox* no_binary;
    QCheckBox* archives;
};

// Each test starts with nothing skipped, whatever a window closed before kept.
void StoreNoSkips() {
    ASSERT_TRUE(SaveWindowSettings(AppSettings()).empty());
}

// What the skip controls hold is what a run gets and walks by.
TEST_F(MainWindowTest, TheSkipControlsGiveTheFieldsARunWalksBy) {
    ASSERT_NO_FATAL_FAILURE(StoreNoSkips());
    tree_.WriteFile("node_modules/d.txt", "hit");
    tree_.WriteFile("build/e.txt", "hit");
    tree_.MakeDir(".git");
    tree_.WriteFile(".gitignore", "ignored.txt\n");
    tree_.WriteFile("ignored.txt", "hit");
    tree_.WriteFile("binary.txt", std::string("hit\0hit", 7));
    MainWindow window;
    window.SetFields(Search("hit"));
    const SkipControls skips(window);
    ASSERT_TRUE(skips.Found());
    EXPECT_EQ(window.Fields().skip_folders, "");
    EXPECT_FALSE(window.Fields().use_ignore_files);
    EXPECT_FALSE(window.Fields().skip_binary);

    skips.folders->setEditText(QStringLiteral("node_modules;build"));
    skips.git_ignore->setChecked(true);
    skips.no_binary->setChecked(true);
    const SearchFields fields = window.Fields();
    EXPECT_EQ(fields.skip_folders, "node_modules;build");
    EXPECT_TRUE(fields.use_ignore_files);
    EXPECT_TRUE(fields.skip_binary);

    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    window.WaitForRun();
    QApplication::processEvents();
    // The run's own copy of the fields, which its request is made of.
    const SearchFields& ran = window.Driver().Fields();
    EXPECT_EQ(ran.skip_folders, "node_modules;build");
    EXPECT_TRUE(ran.use_ignore_files);
    EXPECT_TRUE(ran.skip_binary);
    const std::string report = window.ReportTextShown().toStdString();
    EXPECT_NE(report.find(" [2]\t.../a.txt"), std::string::npos) << report;
    EXPECT_NE(report.find(" [1]\t.../sub/b.txt"), std::string::npos) << report;
    for (const char* left_out : {"d.txt", "e.txt", "ignored.txt", "binary.txt"}) {
        EXPECT_EQ(report.find(left_out), std::string::npos) << left_out << "\n" << report;
    }
    // The run's text is offered again; the box keeps what it shows.
    EXPECT_GE(skips.folders->findText(QStringLiteral("node_modules;build")), 0);
    EXPECT_EQ(skips.folders->currentText(), QStringLiteral("node_modules;build"));
}

// The archives box reaches the run: entries are listed by the archive's name and their own, and
// the run's saved search keeps it.
TEST_F(MainWindowTest, TheArchivesBoxSearchesInsideArchives) {
    ASSERT_NO_FATAL_FAILURE(StoreNoSkips());
    std::string error;
    ASSERT_TRUE(testing::WriteArchive(tree_.Path("site.zip"), {{"in/c.txt", "hit hit"}}, &error))
        << error;
    MainWindow window;
    const SkipControls skips(window);
    ASSERT_TRUE(skips.Found());
    window.SetFields(Search("hit"));
    EXPECT_FALSE(skips.archives->isChecked());
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_EQ(window.ReportTextShown().toStdString().find("site.zip"), std::string::npos);

    skips.archives->setChecked(true);
    EXPECT_TRUE(window.Fields().search_inside);
    EXPECT_TRUE(SavedSearchOf(window.Fields()).archives == 1);
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_TRUE(window.Driver().Fields().search_inside);
    const std::string report = window.ReportTextShown().toStdString();
    EXPECT_NE(report.find(" [2]\t.../site.zip//in/c.txt"), std::string::npos) << report;
    EXPECT_NE(report.find(" [2]\t.../a.txt"), std::string::npos) << report;
    StoreNoSkips();
}

// The window's whole-word option reaches the run, its report and the saved search.
TEST_F(MainWindowTest, WholeWordsOnlyCountsWholeWords) {
    tree_.WriteFile("words.txt", "hit shit hits (hit) hit_ hit.");
    MainWindow window;
    auto* whole = window.findChild<QCheckBox*>(QStringLiteral("chkWholeWord"));
    ASSERT_NE(whole, nullptr);
    window.SetFields(Search("hit"));
    EXPECT_FALSE(whole->isChecked());
    whole->setChecked(true);
    EXPECT_TRUE(window.Fields().whole_word);
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_TRUE(window.Driver().Fields().whole_word);
    const std::string report = window.ReportTextShown().toStdString();
    EXPECT_NE(report.find(" [3]\t.../words.txt"), std::string::npos) << report;
    EXPECT_NE(report.find(" [2]\t.../a.txt"), std::string::npos) << report;
    EXPECT_NE(report.find("Whole Words Only:    ON"), std::string::npos) << report;
    SearchFields shown = Search("hit");
    shown.whole_word = true;
    window.SetFields(shown);
    EXPECT_TRUE(whole->isChecked());
    EXPECT_TRUE(SavedSearchOf(window.Fields()).whole_word == 1);
}

// Fields shown in the window, as from a saved search, set the skip controls.
TEST_F(MainWindowTest, ShownFieldsSetTheSkipControls) {
    ASSERT_NO_FATAL_FAILURE(StoreNoSkips());
    MainWindow window;
    const SkipControls skips(window);
    ASSERT_TRUE(skips.Found());
    SearchFields fields = Search("hit");
    fields.skip_folders = "vendor;.venv";
    fields.use_ignore_files = true;
    fields.skip_binary = true;
    window.SetFields(fields);
    EXPECT_EQ(skips.folders->currentText(), QStringLiteral("vendor;.venv"));
    EXPECT_TRUE(skips.git_ignore->isChecked());
    EXPECT_TRUE(skips.no_binary->isChecked());
    {
        DialogAnswer answer(tree_.Path("skips.frs"));
        ASSERT_TRUE(window.SaveSearchFile());
    }

    window.SetFields(Search("hit"));
    EXPECT_EQ(skips.folders->currentText(), QString());
    EXPECT_FALSE(skips.git_ignore->isChecked());
    EXPECT_FALSE(skips.no_binary->isChecked());

    {
        DialogAnswer answer(tree_.Path("skips.frs"));
        ASSERT_TRUE(window.LoadSearchFile(""));
    }
    EXPECT_EQ(skips.folders->currentText(), QStringLiteral("vendor;.venv"));
    EXPECT_TRUE(skips.git_ignore->isChecked());
    EXPECT_TRUE(skips.no_binary->isChecked());
}

// The skip text, the texts of runs and the switches are where the last session left them.
// A pattern that cannot be used is told as it is typed: the reason under the box, which goes
// when the pattern is mended or is no pattern any more.
TEST_F(MainWindowTest, APatternIsCheckedAsItIsTyped) {
    MainWindow window;
    const auto* problem = window.findChild<QLabel*>(QStringLiteral("lblPatternProblem"));
    ASSERT_NE(problem, nullptr);
    SearchFields fields = Search("a(b");
    fields.regex = true;
    window.SetFields(fields);
    EXPECT_FALSE(problem->isHidden());
    EXPECT_TRUE(
        problem->text().startsWith(QStringLiteral("The regular expression cannot be used: ")))
        << problem->text().toStdString();
    auto* find = window.findChild<QComboBox*>(QStringLiteral("cboFind"));
    ASSERT_NE(find, nullptr);
    find->setEditText(QStringLiteral("a(b)"));
    EXPECT_TRUE(problem->isHidden());
    find->setEditText(QStringLiteral("[z-a]"));
    EXPECT_FALSE(problem->isHidden());
    fields.search_text = "[z-a]";
    fields.regex = false;  // plain text: nothing to check
    window.SetFields(fields);
    EXPECT_TRUE(problem->isHidden());
}

// A size and place kept from a larger screen are cut to this one's room: no edge, status bar or
// button lies off screen.
TEST_F(MainWindowTest, WindowsOpenInsideTheScreensRoom) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect room = screen->availableGeometry();
    AppSettings kept;
    kept.ferret_width = 15 * (room.width() + 900);  // in twips, 15 to a pixel at 96 dpi
    kept.ferret_height = 15 * (room.height() + 700);
    kept.ferret_left = 15 * (room.width() - 50);
    kept.ferret_top = 15 * 40;
    ASSERT_TRUE(SaveWindowSettings(kept).empty());
    MainWindow window;
    EXPECT_TRUE(room.contains(window.geometry()))
        << window.x() << "," << window.y() << " " << window.width() << "x" << window.height();
    PreviewWindow preview(&window);
    EXPECT_TRUE(room.contains(preview.geometry()));

    // A window that fits keeps its size and place.
    QWidget small;
    small.resize(room.width() / 2, room.height() / 2);
    small.move(room.left() + 10, room.top() + 20);
    FitOnScreen(small);
    EXPECT_EQ(small.geometry(),
              QRect(room.left() + 10, room.top() + 20, room.width() / 2, room.height() / 2));
    small.resize(room.width() * 3, room.height() / 2);
    FitOnScreen(small);
    EXPECT_EQ(small.width(), room.width());
    EXPECT_EQ(small.x(), room.left());
}

// The Results panel tells how many binary files the run left out.
TEST_F(MainWindowTest, TheResultsTellTheBinaryFilesLeftOut) {
    tree_.WriteFile("data.txt", std::string("hit\0hit", 7));
    MainWindow window;
    SearchFields fields = Search("hit");
    fields.skip_binary = true;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(window, fields));
    const auto* log = window.findChild<QTextEdit*>(QStringLiteral("txtResults"));
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(WaitUntil(
        [&] { return log->toPlainText().contains(QStringLiteral("1 binary file(s) left out")); },
        5))
        << log->toPlainText().toStdString();
}

TEST_F(MainWindowTest, TheSkipsComeBackInTheNextSession) {
    ASSERT_NO_FATAL_FAILURE(StoreNoSkips());
    {
        MainWindow window;
        SearchFields fields = Search("hit");
        fields.skip_folders = "sub";
        window.SetFields(fields);
        ASSERT_TRUE(window.StartRun(RunKind::kSearch));
        window.WaitForRun();
        QApplication::processEvents();
        const SkipControls skips(window);
        ASSERT_TRUE(skips.Found());
        skips.folders->setEditText(QStringLiteral("build"));
        skips.no_binary->setChecked(true);
        skips.archives->setChecked(true);
        window.close();
    }
    {
        MainWindow reopened;
        const SkipControls skips(reopened);
        ASSERT_TRUE(skips.Found());
        EXPECT_EQ(skips.folders->currentText(), QStringLiteral("build"));
        ASSERT_EQ(skips.folders->count(), 1);
        EXPECT_EQ(skips.folders->itemText(0), QStringLiteral("sub"));
        EXPECT_FALSE(skips.git_ignore->isChecked());
        EXPECT_TRUE(skips.no_binary->isChecked());
        EXPECT_TRUE(skips.archives->isChecked());
        EXPECT_EQ(reopened.Fields().skip_folders, "build");
        EXPECT_TRUE(reopened.Fields().skip_binary);
        EXPECT_TRUE(reopened.Fields().search_inside);
    }
    const AppSettings stored = ReadAppSettings();
    EXPECT_EQ(stored.skip_folders, "build");
    EXPECT_EQ(stored.skip_folders_history, std::vector<std::string>{"sub"});
    EXPECT_FALSE(stored.use_ignore_files);
    EXPECT_TRUE(stored.skip_binary);
    StoreNoSkips();
}

TEST_F(MainWindowTest, MissingFolderStopsTheRunBeforeItStarts) {
    MainWindow window;
    SearchFields fields = Search("x");
    fields.folder = tree_.Path("absent");
    window.SetFields(fields);
    testing::MessageRecorder recorder;
    EXPECT_FALSE(window.StartRun(RunKind::kSearch));
    EXPECT_EQ(recorder.messages().size(), 1u);
}

TEST_F(MainWindowTest, TheFolderDropDownOpensByMouseAndKeysAndFollowsTheText) {
    MainWindow window;
    window.SetFields(Search("hit"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* folder = window.findChild<QComboBox*>(QStringLiteral("cboFolder"));
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("ftv"));
    ASSERT_TRUE(folder && tree);
    // Click and F4 open and close the folder tree; Alt+Down opens it too.
    EXPECT_FALSE(tree->isVisible());
    QTest::mouseClick(folder->lineEdit(), Qt::LeftButton);
    EXPECT_TRUE(tree->isVisible());
    QTest::mouseClick(folder, Qt::LeftButton, {}, QPoint(folder->width() - 5, 5));  // the arrow
    EXPECT_FALSE(tree->isVisible());
    QTest::mouseClick(folder->lineEdit(), Qt::RightButton);
    EXPECT_FALSE(tree->isVisible());
    QTest::keyClick(folder, Qt::Key_F4);
    EXPECT_TRUE(tree->isVisible());
    QTest::keyClick(folder, Qt::Key_F4);
    EXPECT_FALSE(tree->isVisible());
    QTest::keyClick(folder, Qt::Key_Down, Qt::AltModifier);
    EXPECT_TRUE(tree->isVisible());
    QTest::keyClick(tree, Qt::Key_Escape);
    EXPECT_FALSE(tree->isVisible());
    QTest::keyClick(folder, Qt::Key_F4);
    // Typing a folder that exists moves the tree there; other text leaves it alone.
    folder->setEditText(QString::fromStdString(tree_.Path("sub")));
    const QString moved =
        static_cast<QFileSystemModel*>(tree->model())->filePath(tree->currentIndex());
    EXPECT_EQ(moved, QString::fromStdString(tree_.Path("sub")));
    folder->setEditText(QString::fromStdString(tree_.Path("nowhere")));
    EXPECT_EQ(static_cast<QFileSystemModel*>(tree->model())->filePath(tree->currentIndex()), moved);
}

QAbstractButton* ButtonWithText(const QWidget& window, const QString& text) {
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        if (button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

TEST_F(MainWindowTest, FieldRules) {
    MainWindow window;
    // The size box keeps only a number: digits with at most one point.
    auto* size = window.findChild<QLineEdit*>(QStringLiteral("txtSize"));
    ASSERT_NE(size, nullptr);
    for (const auto& [typed, kept] : std::vector<std::pair<QString, QString>>{
             {"12.5", "12.5"}, {"100", "100"}, {"1.2.3", ""}, {".", ""}, {"12KB", ""}, {"", ""}}) {
        size->setText(typed);
        EXPECT_EQ(size->text(), kept) << typed.toStdString();
    }
    // Only "Specify size" enables the size box.
    QAbstractButton* specify_size = ButtonWithText(window, QStringLiteral("Specify size (in KB)"));
    QAbstractButton* small = ButtonWithText(window, QStringLiteral("Small (less than 100KB)"));
    ASSERT_TRUE(specify_size && small);
    EXPECT_FALSE(size->isEnabled());
    specify_size->click();
    EXPECT_TRUE(size->isEnabled());
    small->click();
    EXPECT_FALSE(size->isEnabled());
    // Replace needs both texts, whatever order they come in.
    QAction* replace = nullptr;
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text() == QStringLiteral("Replace")) {
            replace = action;
        }
    }
    ASSERT_NE(replace, nullptr);
    auto* find = window.findChild<QComboBox*>(QStringLiteral("cboFind"));
    auto* with = window.findChild<QLineEdit*>(QStringLiteral("txtReplace"));
    find->setEditText(QStringLiteral("old"));
    EXPECT_FALSE(replace->isEnabled());
    with->setText(QStringLiteral("new"));
    EXPECT_TRUE(replace->isEnabled());
    find->setEditText(QString());
    EXPECT_FALSE(replace->isEnabled());
}

TEST_F(MainWindowTest, ListKeysAndDoubleClicksOpenTheRealFile) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "0").ok());
    MainWindow window;
    window.SetFields(Search("hit"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(window.StartRun(RunKind::kSearch));
    window.WaitForRun();
    QApplication::processEvents();
    auto* list = window.findChild<QTableView*>(QStringLiteral("lvFiles"));
    ASSERT_EQ(list->model()->rowCount(), 2);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 0);
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 2);
    // The folder column says "(root selected)"; the double-click opens the real path.
    const QModelIndex sub_row =
        list->model()->index(1, 1).data().toString().contains(QStringLiteral("sub"))
            ? list->model()->index(1, 0)
            : list->model()->index(0, 0);
    EXPECT_TRUE(list->model()
                    ->index(sub_row.row(), 1)
                    .data()
                    .toString()
                    .startsWith(QStringLiteral("(root selected)")));
    const QPoint centre = list->visualRect(sub_row).center();
    // Qt Test's double-click sends only the second press; a user's starts with a click.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
    std::vector<PreviewWindow*> previews;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* preview = dynamic_cast<PreviewWindow*>(widget)) {
            previews.push_back(preview);
        }
    }
    ASSERT_EQ(previews.size(), 1u);
    EXPECT_EQ(previews[0]->Target().path, tree_.Path("sub/b.txt"));
    EXPECT_EQ(previews[0]->Target().marked, "hit");
    // Every selected row gets a previewer of its own.
    list->selectAll();
    const std::vector<PreviewWindow*> both = window.PreviewFiles();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_NE(both[0]->Target().path, both[1]->Target().path);
    EXPECT_EQ(window.OpenFilePreviewer(tree_.Path("sub")), nullptr);  // a folder
    for (PreviewWindow* preview : both) {
        preview->close();
    }
    previews[0]->close();
    EXPECT_EQ(window.OpenFilePreviewer(tree_.Path("absent.txt")), nullptr);
}

TEST_F(MainWindowTest, QuickLinksOnlyWhenSwitchedOnAndHelpPages) {
    for (const char* value : {"False", "true", "1"}) {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kDisplayQuickLinks, value).ok());
        MainWindow window;
        EXPECT_EQ(window.Bar()->Keys().front(), QStringLiteral("Search")) << value;
    }
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kDisplayQuickLinks, "True").ok());
    MainWindow window;
    EXPECT_EQ(window.Bar()->Keys(),
              (QStringList{"Quick Links", "Search", "MODIFIED", "SIZE", "Replace", "Results"}));
    EXPECT_TRUE(window.OpenQuickLink(QStringLiteral("Programs")));
    EXPECT_EQ(window.Fields().folder, "/usr/bin");
    const std::string documents = std::string(std::getenv("HOME")) + "/Documents";
    ASSERT_EQ(mkdir(documents.c_str(), 0700) == 0 || errno == EEXIST, true);
    EXPECT_TRUE(window.OpenQuickLink(QStringLiteral("MyDocuments")));
    EXPECT_EQ(window.Fields().folder, documents);
    // A user folder that does not exist is not made up: the link leads home instead, as the
    // desktops do.
    const std::string pictures = std::string(std::getenv("HOME")) + "/Pictures";
    rmdir(pictures.c_str());
    EXPECT_TRUE(window.OpenQuickLink(QStringLiteral("MyPictures")));
    EXPECT_EQ(window.Fields().folder, std::getenv("HOME"));
    struct stat info {};
    EXPECT_NE(stat(pictures.c_str(), &info), 0);
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kDisplayQuickLinks, "False").ok());

    HelpWindow* help = window.ShowHelp();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->CurrentPage(), QStringLiteral("index.html"));
    EXPECT_TRUE(help->PageText().contains(QStringLiteral("The command line")));
    EXPECT_EQ(window.ShowHelp(), help);  // one help window
}

// Once the window's options dialog is shown (modal, so from inside its loop), `act` answers it.
void AnswerOptions(std::function<void(OptionsDialog&)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* options = dynamic_cast<OptionsDialog*>(widget);
                options && options->isVisible()) {
                act(*options);
            }
        }
    });
}

// With the hit lines shown, Save Report writes them as -hits does, file after file, and Print
// Report prints them with the report's name and "page N of M" on every page.
TEST_F(MainWindowTest, HitLinesAreSavedAndPrintedAsText) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "4").ok());
    tree_.WriteFile("many.txt", std::string(150, '\n') + "hit in line 151\n");
    MainWindow window;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(window, Search("hit")));
    {
        DialogAnswer answer(tree_.Path("lines.txt"));
        ASSERT_TRUE(window.SaveReport());
    }
    const std::string root = tree_.path();
    EXPECT_EQ(tree_.ReadFile("lines.txt"), root + "/a.txt:1:1: hit hit\n" + root +
                                               "/many.txt:151:1: hit in line 151\n" + root +
                                               "/sub/b.txt:1:1: hit\n");
    const std::string pdf = tree_.Path("lines.pdf");
    const PrintDocument::DialogHook previous =
        PrintDocument::SetDialogHook([pdf](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(pdf));
            return true;
        });
    int printed = 0;
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text() == QStringLiteral("&Print Report")) {
            ASSERT_TRUE(action->isEnabled());
            action->trigger();
            ++printed;
        }
    }
    PrintDocument::SetDialogHook(previous);
    ASSERT_EQ(printed, 1);
    const ProgramResult text = RunProgram("/usr/bin/pdftotext", {"-raw", pdf, "-"});
    ASSERT_EQ(text.exit_code, 0) << text.err;
    EXPECT_NE(text.out.find("many.txt:151:1: hit in line 151"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Ferret hit lines: \"hit\" in " + root), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("page 1 of 1"), std::string::npos) << text.out;
}

TEST_F(MainWindowTest, OptionsDialogAndPrintReport) {
    MainWindow window;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(window, Search("hit")));
    ASSERT_TRUE(window.ReportTextShown().contains(QStringLiteral(".../a.txt")));
    // File > Print Report prints the summary; here into a PDF file instead of a printer.
    const std::string pdf = tree_.Path("report.pdf");
    const PrintDocument::DialogHook previous =
        PrintDocument::SetDialogHook([pdf](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(pdf));
            return true;
        });
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text() == QStringLiteral("&Print Report")) {
            ASSERT_TRUE(action->isEnabled());
            action->trigger();
        }
    }
    PrintDocument::SetDialogHook(previous);
    const std::string printed = tree_.ReadFile("report.pdf");
    EXPECT_EQ(printed.rfind("%PDF", 0), 0u);
    // Choosing the detailed list in the options shows the last results in it on OK.
    bool answered = false;
    AnswerOptions([&answered](OptionsDialog& options) {
        options.findChild<QComboBox*>(QStringLiteral("cboReportType"))->setCurrentIndex(0);
        options.findChild<QPushButton*>(QStringLiteral("cmdOk"))->click();
        answered = true;
    });
    window.ShowOptions();
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_TRUE(answered);
    EXPECT_EQ(GetSettingValue(kSettingsKey, kReportType, ""), "0");
    EXPECT_EQ(window.FileModel()->rowCount(), 2);
}

// What the options save is passed on at once (the colour scheme follows it), on Apply as on OK.
TEST_F(MainWindowTest, TheOptionsTellTheWindowsOwnerWhenSaved) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kColorScheme, "0").ok());
    MainWindow window;
    std::vector<std::string> seen;
    window.on_options_saved = [&seen] {
        seen.push_back(GetSettingValue(kSettingsKey, kColorScheme, ""));
    };
    bool answered = false;
    AnswerOptions([&answered](OptionsDialog& options) {
        options.findChild<QComboBox*>(QStringLiteral("cboColorScheme"))->setCurrentIndex(2);
        options.findChild<QPushButton*>(QStringLiteral("cmdApply"))->click();
        options.findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
        answered = true;
    });
    window.ShowOptions();
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_TRUE(answered);
    EXPECT_EQ(seen, std::vector<std::string>{"2"});
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kColorScheme, "0").ok());
}

}  // namespace
}  // namespace ferret
