#include "app/file_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
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

TEST(FileDialogFilters, PairsBecomeQtNameFilters) {
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
    }
}

TEST(FileDialogs, RequestsAndAnswers) {
    {
        DialogAnswer answer(Paths{"/home/u/docs/a.frs"});
        EXPECT_EQ(FileDialogs::OpenFile(
                      nullptr, "Select a file: ", "Search Configuration Files (*.frs)|*.frs"),
                  "/home/u/docs/a.frs");
        ASSERT_EQ(answer.requests().size(), 1u);
        EXPECT_EQ(answer.requests()[0].kind, Kind::kOpen);
        EXPECT_EQ(answer.requests()[0].title, "Select a file: ");
        EXPECT_EQ(answer.requests()[0].name_filters, Paths{"Search Configuration Files (*.frs)"});
    }
    {
        DialogAnswer answer(Paths{"/var/undo/"});
        EXPECT_EQ(FileDialogs::ChooseFolder(nullptr, "Undo Folder", "/var"), "/var/undo");
        ASSERT_EQ(answer.requests().size(), 1u);
        EXPECT_EQ(answer.requests()[0].kind, Kind::kFolder);
        EXPECT_EQ(answer.requests()[0].folder, "/var");
    }
    for (const FileDialogs::Answer& cancel :
         {FileDialogs::Answer(), FileDialogs::Answer(Paths{})}) {
        DialogAnswer answer(cancel);
        EXPECT_EQ(FileDialogs::OpenFile(nullptr, "t", ""), "");
        EXPECT_EQ(FileDialogs::SaveFile(nullptr, "t", "", "frs"), "") << "no suffix on nothing";
        EXPECT_EQ(FileDialogs::ChooseFolder(nullptr, "t", "/"), "");
    }
}

TEST(FileDialogs, SaveAddsTheSuffixToABareName) {
    const struct {
        const char* chosen;
        const char* suffix;
        const char* path;
    } cases[] = {
        {"/d/name", "frs", "/d/name.frs"},
        {"/d/name.txt", "frs", "/d/name.txt"},
        {"/d.x/name", "log", "/d.x/name.log"},
        {"/d/name", "", "/d/name"},
    };
    for (const auto& c : cases) {
        DialogAnswer answer(Paths{c.chosen});
        EXPECT_EQ(FileDialogs::SaveFile(nullptr, "t", "", c.suffix), c.path);
        ASSERT_EQ(answer.requests().size(), 1u);
        EXPECT_EQ(answer.requests()[0].kind, Kind::kSave);
        EXPECT_EQ(answer.requests()[0].default_suffix, c.suffix);
    }
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

TEST(FileDialogsShown, OpenDialogIsSetUpAndAnswers) {
    testing::TempDir dir;
    dir.WriteFile("a.frs", "x");
    dir.WriteFile("b.frs", "y");
    bool seen = false;
    WhenShown([&](QFileDialog& shown) {
        seen = true;
        EXPECT_EQ(shown.windowTitle().toStdString(), "Select a file: ");
        EXPECT_EQ(shown.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(shown.fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(shown.nameFilters(),
                  QStringList({"Search Configuration Files (*.frs)", "All Files (*)"}));
        // Typed, as a user would: a selection in the list would need the folder read first,
        // which the dialog does on a thread of its own.
        auto* name = shown.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(dir.Path("a.frs")));
        shown.QDialog::accept();  // QFileDialog::accept waits for the folder to be read
    });
    EXPECT_EQ(FileDialogs::OpenFile(nullptr, "Select a file: ",
                                    "Search Configuration Files (*.frs)|*.frs|All Files (*.*)|*.*"),
              dir.Path("a.frs"));
    EXPECT_TRUE(seen);
}

TEST(FileDialogsShown, SaveDialogCancelled) {
    WhenShown([](QFileDialog& shown) {
        EXPECT_EQ(shown.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(shown.defaultSuffix().toStdString(), "frs");
        EXPECT_FALSE(shown.testOption(QFileDialog::DontConfirmOverwrite));
        shown.reject();
    });
    EXPECT_EQ(FileDialogs::SaveFile(nullptr, "Select a file: ", "", "frs"), "");
}

TEST(FileDialogsShown, FolderBrowser) {
    testing::TempDir dir;
    dir.MakeDir("chosen");
    WhenShown([&](QFileDialog& shown) {
        EXPECT_EQ(shown.fileMode(), QFileDialog::Directory);
        // Opened, as a user would before pressing Choose.
        shown.setDirectory(QString::fromStdString(dir.Path("chosen")));
        shown.QDialog::accept();  // QFileDialog::accept waits for the folder to be read
    });
    EXPECT_EQ(FileDialogs::ChooseFolder(nullptr, "Undo Folder", dir.path()), dir.Path("chosen"));
}

}  // namespace
}  // namespace ferret
