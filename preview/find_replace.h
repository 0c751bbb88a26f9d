#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace ferret {

// The flag values callers pass, as the find dialogs of the original platform numbered them.
enum FindFlags : int {
    kFindDown = 1,
    kFindWholeWord = 2,
    kFindMatchCase = 4,
};

// Searching a text the way the find dialog does. Positions are 0-based.
namespace text_find {

// The box's characters with one character per cursor position (line ends as "\n").
QString BoxText(const QPlainTextEdit& box);
// Finds `find` from the box's selection (Down or Up) and selects it; false when it is not
// there. The view is not scrolled.
bool SelectNext(QPlainTextEdit& box, const QString& find, int flags, bool down);

// Letters a-z in either case and the digits; anything else ends a word.
bool IsWordChar(QChar c);
// Whether `text` has no word character directly before `start` nor directly after the
// `length` characters from there (the ends of the text count as boundaries).
bool IsWholeWord(const QString& text, int start, int length);

// The next occurrence after the selection's start: an occurrence starting at the start of a
// selection that is not empty is not found again.
std::optional<int> Down(const QString& text, int selection_start, int selection_length,
                        const QString& find, int flags);
// The nearest occurrence that ends at or before the selection's start.
std::optional<int> Up(const QString& text, int selection_start, const QString& find, int flags);

// Where Replace All puts its replacements, as positions in the text as it becomes (apply them
// in order): every occurrence from the start, each search going on after the last replacement.
std::vector<int> ReplaceAllStarts(const QString& text, const QString& find,
                                  const QString& replacement, int flags);

}  // namespace text_find

// The modeless Find (or Replace) dialog over a text box. A window has one open at a time; it
// closes with that window. Messages show as boxes unless SetMessageFunction replaces them.
class FindReplaceDialog : public QDialog {
  public:
    // Opens the dialog for `owner` and `box`, unless `owner` has one open already (then nothing
    // happens and the open one is returned).
    static FindReplaceDialog* Show(QWidget* owner, QPlainTextEdit* box, int flags,
                                   const QString& find_text, bool replace_mode = false,
                                   const QString& replacement = QString());
    // The dialog `owner` has open, or nullptr.
    static FindReplaceDialog* Current(const QWidget* owner);

    // What the buttons do; public for tests.
    bool FindNext();
    // Find Next in the given direction, whichever the dialog's is (F3 and Shift+F3).
    bool FindAgain(bool down);
    bool ReplaceOne();
    int ReplaceAll();

    QLineEdit* FindField() const { return find_; }
    QLineEdit* ReplaceField() const { return replace_; }
    QCheckBox* WholeWordBox() const { return whole_word_; }
    QCheckBox* MatchCaseBox() const { return match_case_; }
    QRadioButton* UpButton() const { return up_; }
    QRadioButton* DownButton() const { return down_; }

    // Shows a message: text, title, whether it is a warning. A message box unless replaced.
    using MessageFunction = std::function<void(const QString&, const QString&, bool warning)>;
    void SetMessageFunction(MessageFunction function) { message_ = std::move(function); }

  private:
    FindReplaceDialog(QWidget* owner, QPlainTextEdit* box, int flags, const QString& find_text,
                      bool replace_mode, const QString& replacement);
    int Flags() const;
    bool Search(bool down, bool tell_when_missing);
    void Tell(const QString& text, bool warning);

    QPointer<QPlainTextEdit> box_;
    QLineEdit* find_ = nullptr;
    QLineEdit* replace_ = nullptr;
    QCheckBox* whole_word_ = nullptr;
    QCheckBox* match_case_ = nullptr;
    QRadioButton* up_ = nullptr;
    QRadioButton* down_ = nullptr;
    MessageFunction message_;
};

}  // namespace ferret
