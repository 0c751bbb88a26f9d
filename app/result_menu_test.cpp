#include "app/result_menu.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QTableView>
#include <cstdlib>
#include <filesystem>

#include "app/file_list_model.h"
#include "app/properties_dialog.h"
#include "engine/file_records.h"
#include "testsupport/message_recorder.h"
#include "testsupport/qt_wait.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using testing::TempDir;
using Paths = std::vector<std::string>;

TEST(ResultMenuPathsTest, PathsComeFromTheRowsUnderAndBesideTheClick) {
    std::vector<FileRecord> files(4);
    std::vector<FileListRow> rows;
    for (std::size_t i = 0; i < files.size(); ++i) {
        files[i].SetRootPath("/data/site/");
        files[i].SetFilename("f" + std::to_string(i) + ".txt");
        FileListRow row;
        row.record = &files[i];
        row.text[kColumnName] = files[i].Filename();
        row.text[kColumnFolder] = kRootSelected;
        rows.push_back(row);
    }
    FileListModel model;
    model.ResetRows(rows);
    QTableView view;
    view.setModel(&model);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.resize(600, 400);
    view.show();
    const auto select = [&](int row) {
        view.selectionModel()->select(model.index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    select(0);
    select(3);
    const auto at_row = [&](int row) { return view.visualRect(model.index(row, 1)).center(); };

    // An unselected row with two others selected: three files, the clicked one first.
    EXPECT_EQ(ContextMenuPaths(view, model, at_row(2)),
              (Paths{"/data/site/f2.txt", "/data/site/f0.txt", "/data/site/f3.txt"}));
    EXPECT_EQ(ContextMenuPaths(view, model, at_row(3)),
              (Paths{"/data/site/f3.txt", "/data/site/f0.txt"}));
    // Below the last row nothing is under the click.
    const QPoint below(10, view.visualRect(model.index(3, 0)).bottom() + 20);
    ASSERT_FALSE(view.indexAt(below).isValid());
    EXPECT_TRUE(ContextMenuPaths(view, model, below).empty());
    view.clearSelection();
    EXPECT_TRUE(ContextMenuPaths(view, model, at_row(2)).empty());
}

// A result menu over files in a temporary folder, with two desktop applications for text files
// and a launcher that only records what it is asked to start.
class ResultMenuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree_.WriteFile("files/a.txt", "hello");
        tree_.WriteFile("files/my notes.txt", "notes");
        tree_.WriteFile("files/data.zzz", std::string("\x01\x02\x00\x03", 4));
        // Two applications for text files in the user's data folder, indexed as installers do,
        // the editor the user's default. The registry reads them once a process: each test runs
        // in a process of its own.
        const std::string data = std::getenv("XDG_DATA_HOME");
        const std::string config = std::getenv("XDG_CONFIG_HOME");
        std::filesystem::create_directories(data + "/applications");
        std::filesystem::create_directories(config);
        WriteText(data + "/applications/ferret-test-viewer.desktop",
                  "[Desktop Entry]\nType=Application\nName=Viewer\nExec=true --new %F\n"
                  "MimeType=text/plain;\n");
        WriteText(data + "/applications/ferret-test-editor.desktop",
                  "[Desktop Entry]\nType=Application\nName=Editor\nExec=true %f\n"
                  "MimeType=text/plain;\n");
        WriteText(data + "/applications/mimeinfo.cache",
                  "[MIME Cache]\ntext/plain=ferret-test-viewer.desktop;"
                  "ferret-test-editor.desktop;\n");
        WriteText(config + "/mimeapps.list",
                  "[Default Applications]\ntext/plain=ferret-test-editor.desktop\n");
        menu_.SetLauncher({[this](const DesktopApp& app, const Paths& paths) {
                               Paths launch = {app.id};
                               launch.insert(launch.end(), paths.begin(), paths.end());
                               runs_.push_back(launch);
                               return launch_error_;
                           },
                           [this](const std::string& path) {
                               opened_.push_back(path);
                               return true;
                           },
                           [this](const std::string& path) -> std::optional<DesktopApp> {
                               asked_.push_back(path);
                               return std::nullopt;
                           }});
        menu_.SetPreviewHandler([this](const Paths& paths) { previewed_.push_back(paths); });
        menu_.SetTrashedHandler([this](const Paths& paths) { trashed_.push_back(paths); });
        menu_.SetConfirm([this](const QString& question) {
            questions_.push_back(question);
            return answer_;
        });
        menu_.SetTell([this](const UserMessage& message) { messages_.push_back(message.text); });
    }

    std::string File(const std::string& name) const { return tree_.Path("files/" + name); }
    Paths TwoFiles() const { return {File("a.txt"), File("my notes.txt")}; }

    static QStringList Texts(const QMenu& menu) {
        QStringList texts;
        for (const QAction* action : menu.actions()) {
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return texts;
    }
    static QAction* Find(const QMenu& menu, const QString& text) {
        for (QAction* action : menu.actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        ADD_FAILURE() << "no action " << text.toStdString();
        return nullptr;
    }

    TempDir tree_;
    QWidget owner_;
    ResultMenu menu_{&owner_};
    static void WriteText(const std::string& path, const std::string& text) {
        FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }

    std::vector<Paths> runs_;
    Paths opened_;
    Paths asked_;
    std::string launch_error_;
    std::vector<Paths> previewed_;
    std::vector<Paths> trashed_;
    QStringList questions_;
    bool answer_ = true;
    Paths messages_;
};

TEST_F(ResultMenuTest, PreviewerComesFirstAndStartsNothing) {
    EXPECT_EQ(menu_.Build({}), nullptr);
    const std::unique_ptr<QMenu> menu = menu_.Build(TwoFiles());
    ASSERT_NE(menu, nullptr);
    QAction* preview = menu->actions().front();
    EXPECT_EQ(preview->text(), QStringLiteral("&Ferret Results Previewer"));
    EXPECT_TRUE(preview->isEnabled());
    preview->trigger();
    EXPECT_EQ(previewed_, (std::vector<Paths>{TwoFiles()}));
    EXPECT_TRUE(runs_.empty());
    EXPECT_TRUE(opened_.empty());

    // Without a previewer the item stays but cannot be chosen.
    ResultMenu bare(&owner_);
    EXPECT_FALSE(bare.Build(TwoFiles())->actions().front()->isEnabled());
}

TEST_F(ResultMenuTest, OpenAndOpenWithStartTheDesktopApplications) {
    const std::unique_ptr<QMenu> menu = menu_.Build(TwoFiles());
    // Open: the default application, which takes one file per start.
    Find(*menu, QStringLiteral("&Open"))->trigger();
    EXPECT_EQ(
        runs_,
        (std::vector<Paths>{{"ferret-test-editor.desktop", File("a.txt"), File("my notes.txt")}}));
    runs_.clear();

    // The default first, then the others the desktop registers for the type (the computer's
    // own among them).
    QMenu* open_with = Find(*menu, QStringLiteral("Open &With"))->menu();
    ASSERT_NE(open_with, nullptr);
    const QStringList offered = Texts(*open_with);
    ASSERT_FALSE(offered.isEmpty());
    EXPECT_EQ(offered.front(), QStringLiteral("Editor"));
    EXPECT_TRUE(offered.contains(QStringLiteral("Viewer")));
    Find(*open_with, QStringLiteral("Viewer"))->trigger();
    EXPECT_EQ(
        runs_,
        (std::vector<Paths>{{"ferret-test-viewer.desktop", File("a.txt"), File("my notes.txt")}}));
    runs_.clear();

    Find(*menu, QStringLiteral("Open Containing Fol&der"))->trigger();
    EXPECT_EQ(opened_, (Paths{tree_.Path("files")}));
    EXPECT_TRUE(messages_.empty());

    // For a file no application is registered for the user is asked which one (here: none);
    // the text file still goes to its application.
    menu_.Open({File("data.zzz"), File("a.txt")});
    EXPECT_EQ(asked_, (Paths{File("data.zzz")}));
    EXPECT_EQ(runs_, (std::vector<Paths>{{"ferret-test-editor.desktop", File("a.txt")}}));
    EXPECT_TRUE(messages_.empty());
    const std::unique_ptr<QMenu> other = menu_.Build({File("data.zzz")});
    EXPECT_FALSE(Find(*other, QStringLiteral("Open &With"))->isEnabled());

    // An application that does not start is reported with the reason.
    launch_error_ = "no such program";
    Find(*open_with, QStringLiteral("Viewer"))->trigger();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("Viewer could not be started: no such program"), std::string::npos);
}

// Open in Editor goes by the clicked file; without an editor to hand it to it cannot be chosen.
// Each item's access key is its own.
TEST_F(ResultMenuTest, OpenInEditorTakesTheFirstFile) {
    ResultMenu bare(&owner_);
    const std::unique_ptr<QMenu> without = bare.Build(TwoFiles());
    EXPECT_FALSE(Find(*without, QStringLiteral("Open in &Editor"))->isEnabled());

    Paths edited;
    menu_.SetEditorHandler([&edited](const std::string& path) { edited.push_back(path); });
    const std::unique_ptr<QMenu> menu = menu_.Build(TwoFiles());
    QAction* editor = Find(*menu, QStringLiteral("Open in &Editor"));
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isEnabled());
    EXPECT_EQ(editor->shortcut(), QKeySequence(QStringLiteral("Ctrl+E")));
    editor->trigger();
    EXPECT_EQ(edited, (Paths{File("a.txt")}));
    EXPECT_TRUE(runs_.empty());

    QStringList keys;
    for (const QString& text : Texts(*menu)) {
        if (const qsizetype amp = text.indexOf(QLatin1Char('&')); amp >= 0) {
            keys << text.mid(amp + 1, 1).toLower();
        }
    }
    EXPECT_EQ(keys.removeDuplicates(), 0) << keys.join(',').toStdString();
}

TEST_F(ResultMenuTest, CopyPathPutsEveryPathOnTheClipboard) {
    const std::unique_ptr<QMenu> menu = menu_.Build(TwoFiles());
    Find(*menu, QStringLiteral("&Copy Path"))->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              File("a.txt") + "\n" + File("my notes.txt"));
}

TEST_F(ResultMenuTest, MoveToTrashAsksFirst) {
    namespace fs = std::filesystem;
    // Should the home trash ever be missed, Qt puts the files below the current folder: keep
    // that inside the test's folder.
    const fs::path previous_folder = fs::current_path();
    fs::current_path(tree_.path());
    struct Restore {
        fs::path folder;
        ~Restore() { fs::current_path(folder); }
    } restore{previous_folder};
    const std::string trash = std::string(std::getenv("XDG_DATA_HOME")) + "/Trash/files/";
    tree_.WriteFile("files/trash-me.txt", "bye");
    tree_.WriteFile("files/trash-me-too.txt", "bye");
    const Paths both = {File("trash-me.txt"), File("trash-me-too.txt")};

    answer_ = false;
    EXPECT_FALSE(menu_.MoveToTrash(both));
    EXPECT_EQ(questions_.size(), 1);
    EXPECT_TRUE(fs::exists(both[0]));
    EXPECT_TRUE(fs::exists(both[1]));
    EXPECT_TRUE(trashed_.empty());

    answer_ = true;
    const std::unique_ptr<QMenu> menu = menu_.Build(both);
    Find(*menu, QStringLiteral("Move to &Trash"))->trigger();
    EXPECT_FALSE(fs::exists(both[0]));
    EXPECT_FALSE(fs::exists(both[1]));
    EXPECT_TRUE(fs::exists(trash + "trash-me.txt"));
    EXPECT_TRUE(fs::exists(trash + "trash-me-too.txt"));
    EXPECT_EQ(trashed_, (std::vector<Paths>{both}));
    EXPECT_TRUE(messages_.empty());

    // One file is named; a file that cannot be moved is listed and the others still go.
    tree_.WriteFile("files/last.txt", "bye");
    trashed_.clear();
    EXPECT_FALSE(menu_.MoveToTrash({File("missing.txt"), File("last.txt")}));
    EXPECT_TRUE(fs::exists(trash + "last.txt"));
    EXPECT_EQ(trashed_, (std::vector<Paths>{{File("last.txt")}}));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find(File("missing.txt")), std::string::npos);
    EXPECT_EQ(messages_[0].find(File("last.txt")), std::string::npos);
}

// An entry of an archive is no file: nothing acts on it by its name, even one that would name a
// real file once its "//" and ".." were cleaned away; its folder is the archive's.
TEST_F(ResultMenuTest, EntriesOfArchivesAreLeftAlone) {
    namespace fs = std::filesystem;
    const std::string archive = File("site.zip");
    const std::string entry = archive + "//../a.txt";
    menu_.SetContainerOf([&](const std::string& path) -> std::optional<std::string> {
        if (path.rfind(archive + "//", 0) == 0) {
            return archive;
        }
        return std::nullopt;
    });
    const std::unique_ptr<QMenu> menu = menu_.Build({entry, File("a.txt")});
    for (const char* text : {"&Ferret Results Previewer", "&Open", "Open in &Editor",
                             "Move to &Trash", "P&roperties"}) {
        EXPECT_FALSE(Find(*menu, QString::fromUtf8(text))->isEnabled()) << text;
    }
    EXPECT_TRUE(Find(*menu, QStringLiteral("&Copy Path"))->isEnabled());
    answer_ = true;
    EXPECT_FALSE(menu_.MoveToTrash({entry}));
    EXPECT_TRUE(questions_.empty());
    EXPECT_TRUE(fs::exists(File("a.txt")));
    menu_.Open({entry});
    EXPECT_TRUE(runs_.empty() && opened_.empty() && asked_.empty());
    menu_.OpenContainingFolder(entry);
    EXPECT_EQ(opened_, Paths{tree_.Path("files")});
}

TEST_F(ResultMenuTest, PropertiesShowTheFirstFile) {
    const std::unique_ptr<QMenu> menu = menu_.Build(TwoFiles());
    Find(*menu, QStringLiteral("P&roperties"))->trigger();
    const auto dialogs = owner_.findChildren<PropertiesDialog*>();
    ASSERT_EQ(dialogs.size(), 1);
    PropertiesDialog* dialog = dialogs.front();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->Loaded());
    EXPECT_EQ(dialog->FieldText(QStringLiteral("Name:")), QStringLiteral("a.txt"));
    dialog->close();
}

// Without a handler of its own a failure shows as a box over the owner, not waited for.
TEST(ResultMenuBoxTest, FailuresShowAsBoxesOverTheOwner) {
    testing::MessageRecorder recorder;
    TempDir tree;
    QWidget owner;
    ResultMenu menu(&owner);
    menu.SetConfirm([](const QString&) { return true; });
    EXPECT_FALSE(menu.MoveToTrash({tree.Path("missing.txt")}));
    ASSERT_TRUE(testing::WaitUntil([&] { return !recorder.messages().empty(); }, 5));
    ASSERT_EQ(recorder.messages().size(), 1u);
    EXPECT_EQ(recorder.messages()[0].title, QStringLiteral("Move to Trash"));
    EXPECT_TRUE(
        recorder.messages()[0].text.contains(QString::fromStdString(tree.Path("missing.txt"))));
    EXPECT_EQ(recorder.messages()[0].icon, QMessageBox::Warning);
}

TEST(PropertiesDialogTest, SizesAttributesAndMissingFiles) {
    TempDir tree;
    tree.WriteFile(".hidden.bin", std::string(2048, 'x'));
    PropertiesDialog dialog(tree.Path(".hidden.bin"));
    EXPECT_EQ(dialog.FieldText(QStringLiteral("Size:")), QStringLiteral("2.00 KB (2,048 bytes)"));
    EXPECT_EQ(dialog.FieldText(QStringLiteral("Hidden")), QStringLiteral("checked"));

    testing::MessageRecorder messages;
    PropertiesDialog missing(tree.Path("missing.txt"));
    EXPECT_FALSE(missing.Loaded());
    EXPECT_EQ(missing.FieldText(QStringLiteral("Name:")), QStringLiteral("missing.txt"));
    QApplication::processEvents();
    EXPECT_TRUE(messages.messages().empty());
    QWidget owner;
    EXPECT_EQ(ShowProperties(tree.Path("missing.txt"), &owner), nullptr);
    ASSERT_TRUE(testing::WaitUntil([&] { return !messages.messages().empty(); }, 5));
    EXPECT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].title, QStringLiteral("  File Not Found"));
    EXPECT_TRUE(owner.findChildren<PropertiesDialog*>().isEmpty());
}

}  // namespace
}  // namespace ferret
