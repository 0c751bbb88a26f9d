#include "preview/find_replace.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <vector>

namespace ferret {
namespace text_find {
namespace {

Qt::CaseSensitivity Sensitivity(int flags) {
    return (flags & kFindMatchCase) != 0 ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

}  // namespace

bool IsWordChar(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
}

bool IsWholeWord(const QString& text, int start, int length) {
    const bool before = start > 0 && IsWordChar(text[start - 1]);
    const int end = start + length;
    const bool after = end < text.size() && IsWordChar(text[end]);
    return !before && !after;
}

std::optional<int> Down(const QString& text, int selection_start, int selection_length,
                        const QString& find, int flags) {
    if (find.isEmpty()) {
        return std::nullopt;
    }
    qsizetype from = selection_start + (selection_length > 0 ? 1 : 0);
    while (from <= text.size()) {
        const qsizetype at = text.indexOf(find, from, Sensitivity(flags));
        if (at < 0) {
            return std::nullopt;
        }
        if ((flags & kFindWholeWord) == 0 ||
            IsWholeWord(text, static_cast<int>(at), static_cast<int>(find.size()))) {
            return static_cast<int>(at);
        }
        from = at + 1;
    }
    return std::nullopt;
}

std::optional<int> Up(const QString& text, int selection_start, const QString& find, int flags) {
    if (find.isEmpty()) {
        return std::nullopt;
    }
    qsizetype last_start = std::min<qsizetype>(selection_start, text.size()) - find.size();
    while (last_start >= 0) {
        const qsizetype at = text.lastIndexOf(find, last_start, Sensitivity(flags));
        if (at < 0) {
            return std::nullopt;
        }
        if ((flags & kFindWholeWord) == 0 ||
            IsWholeWord(text, static_cast<int>(at), static_cast<int>(find.size()))) {
            return static_cast<int>(at);
        }
        last_start = at - 1;
    }
    return std::nullopt;
}

std::vector<int> ReplaceAllStarts(const QString& text, const QString& find,
                                  const QString& replacement, int flags) {
    std::vector<int> starts;
    if (find.isEmpty()) {
        return starts;
    }
    const int n = static_cast<int>(find.size());
    const bool whole_word = (flags & kFindWholeWord) != 0;
    // Each search starts right after the text just put in, so the character before an
    // occurrence found there is the replacement's last one, not the original's.
    int from = 0;
    int shift = 0;  // length the text has gained so far
    std::optional<QChar> before_from;
    while (from <= text.size()) {
        const qsizetype found = text.indexOf(find, from, Sensitivity(flags));
        if (found < 0) {
            break;
        }
        const int at = static_cast<int>(found);
        // The neighbour before the occurrence in the text as it has become.
        const std::optional<QChar> previous =
            at > from ? std::optional<QChar>(text[at - 1]) : before_from;
        if (whole_word) {
            const bool before = previous.has_value() && IsWordChar(*previous);
            const bool after = at + n < text.size() && IsWordChar(text[at + n]);
            if (before || after) {
                from = at + 1;
                before_from = text[at];
                continue;
            }
        }
        starts.push_back(at + shift);
        shift += static_cast<int>(replacement.size()) - n;
        from = at + n;
        before_from = replacement.isEmpty() ? previous : std::optional<QChar>(replacement.back());
    }
    return starts;
}

}  // namespace text_find

QString text_find::BoxText(const QPlainTextEdit& box) {
    QString text = box.document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

bool text_find::SelectNext(QPlainTextEdit& box, const QString& find, int flags, bool down) {
    const QString text = BoxText(box);
    QTextCursor cursor = box.textCursor();
    const int start = cursor.selectionStart();
    const std::optional<int> found =
        down ? Down(text, start, cursor.selectionEnd() - start, find, flags)
             : Up(text, start, find, flags);
    if (!found) {
        return false;
    }
    cursor.setPosition(*found);
    cursor.setPosition(*found + static_cast<int>(find.size()), QTextCursor::KeepAnchor);
    box.setTextCursor(cursor);
    return true;
}

namespace {

constexpr char kTitle[] = "Find/Replace";

}  // namespace

FindReplaceDialog* FindReplaceDialog::Show(QWidget* owner, QPlainTextEdit* box, int flags,
                                           const QString& find_text, bool replace_mode,
                                           const QString& replacement) {
    if (FindReplaceDialog* open = Current(owner)) {
        return open;
    }
    auto* dialog = new FindReplaceDialog(owner, box, flags, find_text, replace_mode, replacement);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

FindReplaceDialog* FindReplaceDialog::Current(const QWidget* owner) {
    if (owner == nullptr) {
        return nullptr;
    }
    // A closed one may wait for its deletion a while; it no longer counts.
    for (FindReplaceDialog* dialog :
         owner->findChildren<FindReplaceDialog*>(Qt::FindDirectChildrenOnly)) {
        if (dialog->isVisible()) {
            return dialog;
        }
    }
    return nullptr;
}

FindReplaceDialog::FindReplaceDialog(QWidget* owner, QPlainTextEdit* box, int flags,
                                     const QString& find_text, bool replace_mode,
                                     const QString& replacement)
    : QDialog(owner), box_(box) {
    setWindowTitle(replace_mode ? QStringLiteral("Replace") : QStringLiteral("Find"));
    find_ = new QLineEdit(find_text.left(255));
    find_->setMaxLength(255);
    whole_word_ = new QCheckBox(QStringLiteral("Match &whole word only"));
    match_case_ = new QCheckBox(QStringLiteral("Match &case"));
    whole_word_->setChecked((flags & kFindWholeWord) != 0);
    match_case_->setChecked((flags & kFindMatchCase) != 0);
    up_ = new QRadioButton(QStringLiteral("&Up"));
    down_ = new QRadioButton(QStringLiteral("&Down"));
    ((flags & kFindDown) != 0 ? down_ : up_)->setChecked(true);

    auto* find_next = new QPushButton(QStringLiteral("&Find Next"));
    find_next->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    connect(find_next, &QPushButton::clicked, this, [this] { FindNext(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);

    auto* grid = new QGridLayout(this);
    auto* find_label = new QLabel(QStringLiteral("Fi&nd what:"));
    find_label->setBuddy(find_);
    grid->addWidget(find_label, 0, 0);
    grid->addWidget(find_, 0, 1);
    grid->addWidget(find_next, 0, 2);
    QPushButton* replace_button = nullptr;
    QPushButton* replace_all = nullptr;
    if (replace_mode) {
        replace_ = new QLineEdit(replacement.left(255));
        replace_->setMaxLength(255);
        auto* replace_label = new QLabel(QStringLiteral("Re&place with:"));
        replace_label->setBuddy(replace_);
        replace_button = new QPushButton(QStringLiteral("&Replace"));
        replace_all = new QPushButton(QStringLiteral("Replace &All"));
        connect(replace_button, &QPushButton::clicked, this, [this] { ReplaceOne(); });
        connect(replace_all, &QPushButton::clicked, this, [this] { ReplaceAll(); });
        grid->addWidget(replace_label, 1, 0);
        grid->addWidget(replace_, 1, 1);
        grid->addWidget(replace_button, 1, 2);
        grid->addWidget(replace_all, 2, 2);
    }
    auto* options = new QVBoxLayout;
    options->addWidget(whole_word_);
    options->addWidget(match_case_);
    // The options and the direction side by side, each as wide as its texts.
    auto* option_row = new QHBoxLayout;
    option_row->addLayout(options);
    option_row->addStretch();
    grid->addLayout(option_row, 3, 0, 1, 2);
    if (!replace_mode) {
        // A replace always works downwards, so only the find dialog asks for a direction.
        auto* direction = new QGroupBox(QStringLiteral("Direction"));
        auto* direction_layout = new QHBoxLayout(direction);
        direction_layout->addWidget(up_);
        direction_layout->addWidget(down_);
        option_row->addWidget(direction, 0, Qt::AlignTop);
    }
    grid->addWidget(cancel, 3, 2, Qt::AlignTop);

    const auto enable = [find_next, replace_button, replace_all](const QString& text) {
        for (QPushButton* button : {find_next, replace_button, replace_all}) {
            if (button != nullptr) {
                button->setEnabled(!text.isEmpty());
            }
        }
    };
    connect(find_, &QLineEdit::textChanged, this, enable);
    enable(find_->text());
    // The dialog goes with the box it searches.
    if (box != nullptr) {
        connect(box, &QObject::destroyed, this, &QDialog::close);
    }
}

int FindReplaceDialog::Flags() const {
    return (down_->isChecked() ? kFindDown : 0) | (whole_word_->isChecked() ? kFindWholeWord : 0) |
           (match_case_->isChecked() ? kFindMatchCase : 0);
}

void FindReplaceDialog::Tell(const QString& text, bool warning) {
    if (message_) {
        message_(text, QString::fromLatin1(kTitle), warning);
        return;
    }
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information,
                    QString::fromLatin1(kTitle), text, QMessageBox::Ok, this);
    box.exec();
}

bool FindReplaceDialog::Search(bool down, bool tell_when_missing) {
    if (box_ == nullptr) {
        return false;
    }
    if (!text_find::SelectNext(*box_, find_->text(), Flags(), down)) {
        if (tell_when_missing) {
            Tell(QStringLiteral("No matches found"), true);
        }
        return false;
    }
    return true;
}

bool FindReplaceDialog::FindNext() {
    return FindAgain(down_->isChecked());
}

bool FindReplaceDialog::FindAgain(bool down) {
    const bool found = Search(down, true);
    if (found && box_ != nullptr) {
        box_->ensureCursorVisible();
    }
    return found;
}

bool FindReplaceDialog::ReplaceOne() {
    if (box_ == nullptr || replace_ == nullptr) {
        return false;
    }
    QTextCursor cursor = box_->textCursor();
    // The selection is what the last Find Next found, so it counts as the text with the same
    // case rule the search used.
    const Qt::CaseSensitivity sensitivity =
        match_case_->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (cursor.hasSelection() && cursor.selectedText().compare(find_->text(), sensitivity) == 0) {
        cursor.insertText(replace_->text());
        box_->setTextCursor(cursor);
    }
    return Search(true, true);
}

int FindReplaceDialog::ReplaceAll() {
    if (box_ == nullptr || replace_ == nullptr) {
        return 0;
    }
    const QString find = find_->text();
    const QString replacement = replace_->text();
    const std::vector<int> starts =
        text_find::ReplaceAllStarts(text_find::BoxText(*box_), find, replacement, Flags());
    if (!starts.empty()) {
        QTextCursor cursor(box_->document());
        cursor.beginEditBlock();
        for (const int start : starts) {
            cursor.setPosition(start);
            cursor.setPosition(start + static_cast<int>(find.size()), QTextCursor::KeepAnchor);
            cursor.insertText(replacement);
        }
        cursor.endEditBlock();
        box_->setTextCursor(cursor);
    }
    const int count = static_cast<int>(starts.size());
    if (count > 0) {
        Tell(QStringLiteral("Text has been searched. %1 replacements were made.").arg(count),
             false);
    } else {
        Tell(QStringLiteral("No matches found"), true);
    }
    return count;
}

}  // namespace ferret
