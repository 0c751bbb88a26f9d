#include "app/file_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using Paths = std::vector<std::string>;
using Kind = FileDialogs::Request::Kind;

// Answers every dialog with `answer` and keeps the request it was given.
class DialogAnswer {
  public:
    explicit DialogAnswer(FileDialogs::Answer answer) {
        previous_ = FileDialogs::SetTestHook([this, answer](const FileDialogs::Request& request) {
            requests_.push_back(request);
            return answer;
        });
    }
    ~DialogAnswer() { FileDialogs::SetTestHook(previous_); }
    const std::vector<FileDialogs::Request>& requests() const { return requests_; }

  private:
    FileDialogs::Hook previous_;
    std::vector<FileDialogs::Request> requests_;
};

TEST(CommonDialogFilter, PairsBecomeQtNameFilters) {
    const struct {
        const char* filter;
        Paths expected;
    } cases[] = {
        {"", {}},
        {"Search Configuration Files (*.frs)|*.frs", {"Search Configuration Files (*.frs)"}},
        {"Log files (*.log)|*.log|All Files (*.*)|*.*", {"Log files (*.log)", "All Files (*)"}},
        {"Text|*.txt; *.log ;*.md", {"Text (*.txt *.log *.md)"}},
        {"Text (*.txt)|*.txt;*.log", {"Text (*.txt *.log)"}},
        {"Reports (plain)|*.rpt", {"Reports (plain) (*.rpt)"}},
        {"Anything|", {"Anything (*)"}},
        {"|*.frs", {"(*.frs)"}},
        {"Dangling description", {}},
        {"One|*.1|Two", {"One (*.1)"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileDialogs::NameFilters(c.filter), c.expected) << c.filter;
        FileDialogs dialog;
        dialog.SetFilter(c.filter);
        EXPECT_EQ(dialog.Filter(), c.filter) << "read back as set";
        EXPECT_EQ(dialog.NameFilters(), c.expected);
    }
}

TEST(CommonDialog, RequestCarriesTheProperties) {
    const struct {
        Kind kind;
        std::int32_t flags;
        int filter_index;
        int selected;
        bool multiple;
        bool confirm;
    } cases[] = {
        {Kind::kOpen, 0, 0, 0, false, false},
        {Kind::kOpen, FileDialogs::OFN_OVERWRITEPROMPT, 3, 0, false, false},
        {Kind::kSave, FileDialogs::OFN_OVERWRITEPROMPT | FileDialogs::OFN_HIDEREADONLY, 1, 0, false,
         true},
        {Kind::kSave, FileDialogs::OFN_EXPLORER, -1, 0, false, false},
    };
    for (const auto& c : cases) {
        DialogAnswer answer(std::nullopt);
        FileDialogs dialog;
        dialog.SetInitDir("/srv/configs");
        dialog.SetFilename("start.frs");
        dialog.SetFilter("Search Configuration Files (*.frs)|*.frs|All Files (*.*)|*.*");
        dialog.SetFilterIndex(c.filter_index);
        dialog.SetDefaultExt(".frs");
        dialog.Setflags(c.flags);
        EXPECT_EQ(c.kind == Kind::kOpen ? dialog.ShowOpen() : dialog.ShowSave(), 0);
        ASSERT_EQ(answer.requests().size(), 1u);
        const FileDialogs::Request& request = answer.requests()[0];
        EXPECT_EQ(request.kind, c.kind);
        EXPECT_EQ(request.folder, "/srv/configs");
        EXPECT_EQ(request.file_name, "start.frs");
        EXPECT_EQ(request.selected_filter, c.selected) << c.filter_index;
        EXPECT_EQ(request.default_suffix, "frs");
        EXPECT_EQ(request.multiple, c.multiple) << c.flags;
        EXPECT_EQ(request.confirm_overwrite, c.confirm) << c.flags;
    }
}

TEST(CommonDialog, CancelKeepsEveryProperty) {
    for (const FileDialogs::Answer& cancel :
         {FileDialogs::Answer(), FileDialogs::Answer(Paths{})}) {
        DialogAnswer answer(cancel);
        FileDialogs dialog;
        dialog.SetFilename("/keep/this.frs");
        EXPECT_EQ(dialog.ShowOpen(), 0);
        EXPECT_EQ(dialog.ShowSave(), 0);
        EXPECT_EQ(dialog.Browse(), 0);
        EXPECT_EQ(dialog.Filename(), "/keep/this.frs");
        EXPECT_EQ(dialog.FileTitle(), "");
        EXPECT_EQ(dialog.Path(), "");
    }
}

// (Several files at once are asked for nowhere.)
TEST(CommonDialog, ChosenFile) {
    for (const char* chosen : {"/home/u/docs/a.frs", "/a.frs"}) {
        DialogAnswer answer(Paths{chosen});
        FileDialogs dialog;
        EXPECT_EQ(dialog.ShowOpen(), 1);
        EXPECT_EQ(dialog.Filename(), chosen);
        EXPECT_EQ(dialog.FileTitle(), "a.frs");
        const std::string path = chosen;
        EXPECT_EQ(dialog.Path(), path.substr(0, path.rfind('/') + 1));
    }
}

TEST(CommonDialog, SaveAddsTheDefaultExtension) {
    const struct {
        const char* chosen;
        const char* default_ext;
        const char* filename;
    } cases[] = {
        {"/d/name", "frs", "/d/name.frs"},
        {"/d/name.txt", "frs", "/d/name.txt"},
        {"/d.x/name", "log", "/d.x/name.log"},
        {"/d/name", ".log", "/d/name.log"},
    };
    for (const auto& c : cases) {
        DialogAnswer answer(Paths{c.chosen});
        FileDialogs dialog;
        dialog.SetDefaultExt(c.default_ext);
        EXPECT_EQ(dialog.ShowSave(), 1);
        EXPECT_EQ(dialog.Filename(), c.filename);
    }
    DialogAnswer answer(Paths{"/d/name"});
    FileDialogs open;
    open.SetDefaultExt("frs");
    EXPECT_EQ(open.ShowOpen(), 1);
    EXPECT_EQ(open.Filename(), "/d/name") << "an opened file is taken as it is";
}

TEST(CommonDialog, BrowseSetsThePath) {
    DialogAnswer answer(Paths{"/var/undo/"});
    FileDialogs dialog;
    dialog.SetDialogTitle("Undo Folder");
    dialog.SetFilename("/untouched");
    EXPECT_EQ(dialog.Browse(), 1);
    EXPECT_EQ(dialog.Path(), "/var/undo");
    EXPECT_EQ(dialog.Filename(), "/untouched");
    ASSERT_EQ(answer.requests().size(), 1u);
    EXPECT_EQ(answer.requests()[0].kind, Kind::kFolder);
    EXPECT_EQ(answer.requests()[0].title, "Undo Folder");
}

// ---- The real dialogs, answered from inside their event loop. ----

// Runs `act` on the file dialog once it is shown.
void WhenShown(std::function<void(QFileDialog&)> act) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        // The visible file dialog, whichever window is active (another test's window may be).
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (dialog != nullptr && dialog->isVisible()) {
                timer->stop();
                timer->deleteLater();
                act(*dialog);
                return;
            }
        }
    });
    timer->start(10);
}

TEST(CommonDialogShown, OpenDialogIsSetUpAndAnswers) {
    testing::TempDir dir;
    dir.WriteFile("a.frs", "x");
    dir.WriteFile("b.frs", "y");
    FileDialogs dialog;
    dialog.SetDialogTitle("Select a file: ");
    dialog.SetInitDir(dir.path());
    dialog.SetFilter("Search Configuration Files (*.frs)|*.frs|All Files (*.*)|*.*");
    dialog.SetFilterIndex(2);
    bool seen = false;
    WhenShown([&](QFileDialog& shown) {
        seen = true;
        EXPECT_EQ(shown.windowTitle().toStdString(), "Select a file: ");
        EXPECT_EQ(shown.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(shown.fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(shown.nameFilters(),
                  QStringList({"Search Configuration Files (*.frs)", "All Files (*)"}));
        EXPECT_EQ(shown.selectedNameFilter().toStdString(), "All Files (*)");
        shown.selectFile(QString::fromStdString(dir.Path("a.frs")));
        shown.QDialog::accept();  // QFileDialog::accept waits for the folder to be read
    });
    EXPECT_EQ(dialog.ShowOpen(), 1);
    EXPECT_TRUE(seen);
    EXPECT_EQ(dialog.Filename(), dir.Path("a.frs"));
    EXPECT_EQ(dialog.Path(), dir.path() + "/");
}

TEST(CommonDialogShown, SaveDialogCancelled) {
    FileDialogs dialog;
    dialog.SetFilename("kept.frs");
    dialog.SetDefaultExt("frs");
    dialog.Setflags(FileDialogs::OFN_OVERWRITEPROMPT);
    WhenShown([](QFileDialog& shown) {
        EXPECT_EQ(shown.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(shown.defaultSuffix().toStdString(), "frs");
        EXPECT_FALSE(shown.testOption(QFileDialog::DontConfirmOverwrite));
        shown.reject();
    });
    EXPECT_EQ(dialog.ShowSave(), 0);
    EXPECT_EQ(dialog.Filename(), "kept.frs");
}

TEST(CommonDialogShown, FolderBrowser) {
    testing::TempDir dir;
    dir.MakeDir("chosen");
    FileDialogs dialog;
    dialog.SetInitDir(dir.path());
    WhenShown([&](QFileDialog& shown) {
        EXPECT_EQ(shown.fileMode(), QFileDialog::Directory);
        // Opened, as a user would before pressing Choose.
        shown.setDirectory(QString::fromStdString(dir.Path("chosen")));
        shown.QDialog::accept();  // QFileDialog::accept waits for the folder to be read
    });
    EXPECT_EQ(dialog.Browse(), 1);
    EXPECT_EQ(dialog.Path(), dir.Path("chosen"));
}

}  // namespace
}  // namespace ferret
