#include "preview/find_replace.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextCursor>
#include <utility>

namespace ferret {
namespace {

using text_find::Down;
using text_find::Up;

const QString kText = QStringLiteral("word sword word. Word");

TEST(TextFind, DownWithWholeWordAndCase) {
    EXPECT_EQ(Down(kText, 0, 0, QStringLiteral("word"), kFindMatchCase), 0);
    // A selection is not found again; the next one may overlap its end.
    EXPECT_EQ(Down(kText, 0, 4, QStringLiteral("word"), kFindMatchCase), 6);
    EXPECT_EQ(Down(kText, 0, 4, QStringLiteral("word"), kFindMatchCase | kFindWholeWord), 11);
    // At the very end of the text, with and without case.
    EXPECT_EQ(Down(kText, 12, 0, QStringLiteral("word"), kFindWholeWord), 17);
    EXPECT_EQ(Down(kText, 12, 0, QStringLiteral("word"), kFindWholeWord | kFindMatchCase),
              std::nullopt);
    EXPECT_EQ(Down(kText, 0, 0, QString(), 0), std::nullopt);
    // Only ASCII letters and digits make words: "_" and "é" are boundaries.
    EXPECT_EQ(Down(QStringLiteral("_ab éab"), 0, 0, QStringLiteral("ab"), kFindWholeWord), 1);
    EXPECT_EQ(Down(QStringLiteral("xab éab"), 0, 0, QStringLiteral("ab"), kFindWholeWord), 5);
}

TEST(TextFind, UpFindsTheNearestOccurrenceBeforeTheSelection) {
    EXPECT_EQ(Up(kText, static_cast<int>(kText.size()), QStringLiteral("word"), kFindWholeWord),
              17);
    // An occurrence that ends right where the selection starts is found.
    EXPECT_EQ(Up(QStringLiteral("abab"), 2, QStringLiteral("ab"), 0), 0);
    EXPECT_EQ(Up(kText, 11, QStringLiteral("word"), kFindWholeWord), 0);  // skips "sword"
    EXPECT_EQ(Up(kText, 11, QStringLiteral("word"), 0), 6);
    EXPECT_EQ(Up(kText, 3, QStringLiteral("word"), 0), std::nullopt);
    EXPECT_EQ(Up(QStringLiteral("word"), 4, QStringLiteral("word"), kFindWholeWord), 0);
}

TEST(TextFind, ReplaceAllGoesOnAfterEachReplacement) {
    // A replacement that holds the find text ends, one replacement per original occurrence.
    EXPECT_EQ(text_find::ReplaceAllStarts(QStringLiteral("a a a"), QStringLiteral("a"),
                                          QStringLiteral("aa"), 0),
              (std::vector<int>{0, 3, 6}));
    EXPECT_TRUE(text_find::ReplaceAllStarts(QStringLiteral("abc"), QStringLiteral("x"),
                                            QStringLiteral("y"), 0)
                    .empty());
    // Whole words see the text as it becomes: after "-b" turns into "zz" the next "-b" follows
    // a letter and is no longer a word of its own.
    EXPECT_EQ(text_find::ReplaceAllStarts(QStringLiteral("-b-b"), QStringLiteral("-b"),
                                          QStringLiteral("zz"), kFindWholeWord),
              (std::vector<int>{0}));
    EXPECT_EQ(text_find::ReplaceAllStarts(QStringLiteral("-b-b"), QStringLiteral("-b"),
                                          QStringLiteral("z-"), kFindWholeWord),
              (std::vector<int>{0, 2}));
}

class FindReplaceDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        owner_ = new QMainWindow;
        box_ = new QPlainTextEdit(owner_);
        box_->setPlainText(QStringLiteral("one two one\nthree one"));
        owner_->setCentralWidget(box_);
    }
    void TearDown() override {
        delete owner_;
        QApplication::processEvents();
    }
    // Show, with the dialog's messages recorded.
    template <typename... Args>
    FindReplaceDialog* Show(Args&&... args) {
        FindReplaceDialog* dialog = FindReplaceDialog::Show(std::forward<Args>(args)...);
        dialog->SetMessageFunction([this](const QString& text, const QString& title, bool warning) {
            messages_.push_back(text);
            EXPECT_EQ(title, QStringLiteral("Find/Replace"));
            (void)warning;
        });
        return dialog;
    }
    QMainWindow* owner_ = nullptr;
    QPlainTextEdit* box_ = nullptr;
    std::vector<QString> messages_;
};

TEST_F(FindReplaceDialogTest, FindNextBothWaysAndOneDialogAtATime) {
    FindReplaceDialog* dialog = Show(owner_, box_, kFindDown, QStringLiteral("one"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Show(owner_, box_, kFindDown, QStringLiteral("two")), dialog);
    EXPECT_EQ(dialog->FindField()->text(), QStringLiteral("one"));
    ASSERT_TRUE(dialog->FindNext());
    EXPECT_EQ(box_->textCursor().selectionStart(), 0);
    ASSERT_TRUE(dialog->FindNext());
    EXPECT_EQ(box_->textCursor().selectionStart(), 8);
    ASSERT_TRUE(dialog->FindNext());
    EXPECT_EQ(box_->textCursor().selectionStart(), 18);
    EXPECT_FALSE(dialog->FindNext());
    EXPECT_EQ(messages_, std::vector<QString>{QStringLiteral("No matches found")});
    dialog->UpButton()->setChecked(true);
    ASSERT_TRUE(dialog->FindNext());
    EXPECT_EQ(box_->textCursor().selectionStart(), 8);
    EXPECT_EQ(box_->textCursor().selectedText(), QStringLiteral("one"));
}

TEST_F(FindReplaceDialogTest, ReplaceAndReplaceAllWithTheirMessages) {
    FindReplaceDialog* dialog =
        Show(owner_, box_, kFindDown, QStringLiteral("ONE"), true, QStringLiteral("one one"));
    // Replace first finds, then replaces what it found (the case rule is the search's).
    ASSERT_TRUE(dialog->ReplaceOne());
    EXPECT_EQ(box_->textCursor().selectionStart(), 0);
    ASSERT_TRUE(dialog->ReplaceOne());
    EXPECT_TRUE(box_->toPlainText().startsWith(QStringLiteral("one one two one")));
    messages_.clear();
    EXPECT_EQ(dialog->ReplaceAll(), 4);
    EXPECT_EQ(box_->toPlainText(), QStringLiteral("one one one one two one one\nthree one one"));
    EXPECT_EQ(messages_, std::vector<QString>{
                             QStringLiteral("Text has been searched. 4 replacements were made.")});
    dialog->FindField()->setText(QStringLiteral("absent"));
    messages_.clear();
    EXPECT_EQ(dialog->ReplaceAll(), 0);
    EXPECT_EQ(messages_, std::vector<QString>{QStringLiteral("No matches found")});
}

TEST_F(FindReplaceDialogTest, ClosingTheOwnerClosesTheDialog) {
    QPointer<FindReplaceDialog> dialog = Show(owner_, box_, kFindDown, QStringLiteral("one"));
    ASSERT_FALSE(dialog.isNull());
    delete owner_;
    owner_ = nullptr;
    QApplication::processEvents();
    EXPECT_TRUE(dialog.isNull());
    // A new one can be opened afterwards.
    owner_ = new QMainWindow;
    box_ = new QPlainTextEdit(owner_);
    EXPECT_EQ(FindReplaceDialog::Current(owner_), nullptr);
    EXPECT_NE(Show(owner_, box_, kFindDown, QStringLiteral("x")), nullptr);
}

}  // namespace
}  // namespace ferret
