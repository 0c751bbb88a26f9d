// Restore points in the window: the options frame, the Tools menu, the list dialog and undo.
#include <gtest/gtest.h>

#include <QTextEdit>
#include <QToolButton>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest/QTest>

#include "app/file_dialogs.h"
#include "app/main_window.h"
#include "app/options_dialog.h"
#include "app/restore_points_dialog.h"
#include "engine/restore_point.h"
#include "settings/settings.h"
#include "testsupport/message_recorder.h"
#include "testsupport/qt_wait.h"
#include "testsupport/temp_dir.h"
#include "util/app_paths.h"

namespace ferret {
namespace {

using testing::MessageRecorder;
using testing::TempDir;
using testing::WaitUntil;

class RestorePointWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kReportType, "3").ok());
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreFolder, dir_.Path("restore")).ok());
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreQuantity, "").ok());
        dir_.WriteFile("tree/a.txt", "red red");
        dir_.WriteFile("tree/sub/b.txt", "red");
    }
    void TearDown() override {
        (void)SaveSettingValue(kSettingsKey, kRestoreFolder, "");
        (void)SaveSettingValue(kSettingsKey, kReportType, "0");
    }
    void Replace(MainWindow& window, const std::string& search, const std::string& replacement) {
        SearchFields fields;
        fields.folder = dir_.Path("tree");
        fields.file_mask = "*.txt";
        fields.search_text = search;
        fields.replace_text = replacement;
        window.SetFields(fields);
        ASSERT_TRUE(window.StartRun(RunKind::kReplace));
        window.WaitForRun();
        QApplication::processEvents();
    }
    TempDir dir_;
};

TEST_F(RestorePointWindowTest, OptionsFrameStoresTheFolderAndARefusedQuantityChangesNothing) {
    ASSERT_TRUE(SaveSettingValue(kSettingsKey, kRestoreFolder, "").ok());
    MessageRecorder messages;
    OptionsDialog options;
    auto* folder = options.findChild<QLineEdit*>(QStringLiteral("txtUndoFolder"));
    auto* quantity = options.findChild<QLineEdit*>(QStringLiteral("txtUndoQuantity"));
    auto* browse = options.findChild<QPushButton*>(QStringLiteral("cmdBrowse"));
    ASSERT_TRUE(folder && quantity && browse);
    EXPECT_EQ(folder->text().toStdString(), DataFilePath("restore"));
    EXPECT_EQ(quantity->text(), QStringLiteral("10"));

    std::string asked_title;
    const FileDialogs::Hook previous =
        FileDialogs::SetTestHook([&](const FileDialogs::Request& request) {
            asked_title = request.title;
            return FileDialogs::Answer(std::vector<std::string>{dir_.Path("undo")});
        });
    browse->click();
    FileDialogs::SetTestHook(previous);
    EXPECT_EQ(asked_title, "Undo Folder");
    EXPECT_EQ(folder->text().toStdString(), dir_.Path("undo"));

    for (const char* bad : {"-2", "many", "1.5", ""}) {
        quantity->setText(QString::fromLatin1(bad));
        EXPECT_FALSE(options.SaveAllSettings()) << bad;
    }
    ASSERT_EQ(messages.messages().size(), 4u);
    EXPECT_TRUE(messages.Texts().front().startsWith(
        QStringLiteral("The quantity of restore points to store must be a whole number")));
    // Nothing at all was written by the refused saves.
    EXPECT_EQ(GetSettingValue(kSettingsKey, kRestoreFolder, "unset"), "unset");

    quantity->setText(QStringLiteral(" -1 "));
    ASSERT_TRUE(options.SaveAllSettings());
    EXPECT_EQ(GetSettingValue(kSettingsKey, kRestoreFolder, ""), dir_.Path("undo"));
    EXPECT_EQ(GetSettingValue(kSettingsKey, kRestoreQuantity, ""), "-1");
    EXPECT_EQ(RestoreQuantitySetting(), -1);
    folder->clear();
    ASSERT_TRUE(options.SaveAllSettings());
    EXPECT_EQ(GetSettingValue(kSettingsKey, kRestoreFolder, ""), DataFilePath("restore"));
}

TEST_F(RestorePointWindowTest, ToolsMenuUndoesTheLastReplaceRun) {
    MessageRecorder messages;
    MainWindow window;
    EXPECT_FALSE(window.UndoLastReplace());
    QApplication::processEvents();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.Texts()[0], QStringLiteral("There is no replace run to undo in ") +
                                       QString::fromStdString(dir_.Path("restore")));
    messages.Clear();

    Replace(window, "red", "blue");
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "blue blue");
    const std::string folder = window.Driver().RestorePointFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(window.ReportTextShown().contains(QString::fromStdString(folder)));

    // The status bar offers to undo this run, asking first.
    const QToolButton* offered = window.findChild<QToolButton*>(QStringLiteral("cmdUndoRun"));
    ASSERT_NE(offered, nullptr);
    EXPECT_FALSE(offered->isHidden());
    ASSERT_TRUE(window.UndoReplace(folder, false));
    EXPECT_TRUE(window.IsRunning() || window.LastUndo().restored == 2);
    window.WaitForRun();
    QApplication::processEvents();
    EXPECT_TRUE(offered->isHidden());
    // The run's log says it was undone, as its report no longer shows the files as they are.
    const auto* log = window.findChild<QTextEdit*>(QStringLiteral("txtResults"));
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(
        WaitUntil([&] { return log->toPlainText().contains(QStringLiteral("Undone: ")); }, 5))
        << log->toPlainText().toStdString();
    // So does the summary shown.
    EXPECT_TRUE(window.ReportTextShown().contains(
        QStringLiteral("Undone: the files this replace run changed were put back.")))
        << window.ReportTextShown().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return messages.messages().size() == 1; }, 5))
        << messages.messages().size();
    EXPECT_EQ(messages.Texts()[0], QStringLiteral("2 file(s) restored."));
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "red red");
    EXPECT_EQ(dir_.ReadFile("tree/sub/b.txt"), "red");
    EXPECT_TRUE(window.StartRun(RunKind::kSearch));  // the window is free again
    window.WaitForRun();
}

TEST_F(RestorePointWindowTest, RestorePointListUndoesOrDeletesTheChosenRun) {
    MessageRecorder messages;
    MainWindow window;
    Replace(window, "red", "green");
    const std::string first = window.Driver().RestorePointFolder();
    Replace(window, "green", "blue");
    const std::string second = window.Driver().RestorePointFolder();
    ASSERT_NE(first, second);

    RestorePointsDialog dialog(dir_.Path("restore"));
    QTreeWidget* list = dialog.List();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("green"));  // newest first
    EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("blue"));
    EXPECT_EQ(list->topLevelItem(0)->text(3), QStringLiteral("2"));
    EXPECT_EQ(list->topLevelItem(0)->text(4), QString::fromStdString(dir_.Path("tree")));

    // Deleting the newest leaves the older one, which can no longer be undone over the files'
    // current text: its files are reported and left alone.
    list->setCurrentItem(list->topLevelItem(0));
    dialog.DeleteSelected(false);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    list->setCurrentItem(list->topLevelItem(0));
    dialog.findChild<QPushButton*>(QStringLiteral("cmdUndo"))->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ChosenFolder(), first);

    ASSERT_TRUE(window.UndoReplace(first, false));
    window.WaitForRun();
    ASSERT_TRUE(WaitUntil([&] { return messages.messages().size() == 1; }, 5))
        << messages.messages().size();
    EXPECT_TRUE(messages.Texts()[0].startsWith(
        QStringLiteral("0 file(s) restored.\n\n2 file(s) were left as they are:\n")))
        << messages.Texts()[0].toStdString();
    EXPECT_EQ(messages.messages()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(dir_.ReadFile("tree/a.txt"), "blue blue");
}

}  // namespace
}  // namespace ferret
