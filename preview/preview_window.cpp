#include "preview/preview_window.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <span>

#include "engine/content_search.h"
#include "engine/inner_files.h"
#include "preview/find_replace.h"
#include "preview/mark_colors.h"
#include "preview/print_document.h"
#include "preview/screen_fit.h"
#include "settings/app_settings.h"
#include "settings/error_log.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

constexpr char kCaption[] = "File Preview (Text Mode)";
constexpr char kCannotDisplay[] = "...File Could Not be Displayed";

// The box keeps one character per line end: CR LF and a lone CR become LF, in the text and in
// what is looked for, so the marks land where the box shows the hits.
QString OneCharacterLineEnds(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// Lines go into the box in paragraphs of many lines each, ended by line separators within:
// a document of a million paragraphs takes many seconds to build, one of fifteen thousand
// does not. Positions stay the same, one character per line end.
QString GroupedLines(QString text) {
    constexpr int kLinesPerParagraph = 64;
    int lines = 0;
    for (QChar& c : text) {
        if (c == QLatin1Char('\n') && ++lines % kLinesPerParagraph != 0) {
            c = QChar::LineSeparator;
        }
    }
    return text;
}

// Appends what is left of `fd` to `bytes`: false when a read fails or the text passes what a
// preview may show, `too_large` telling which.
bool AppendAll(int fd, std::string& bytes, bool& too_large) {
    char buffer[1 << 16];
    for (;;) {
        const ReadResult got = ReadSome(fd, buffer, sizeof buffer);
        if (got.failed()) {
            return false;
        }
        if (got.bytes == 0) {
            return true;
        }
        bytes.append(buffer, got.bytes);
        if (static_cast<qint64>(bytes.size()) > PreviewWindow::kMaxPreviewBytes) {
            too_large = true;
            return false;
        }
    }
}

// Reads a whole file, refusing one too large to show, and decodes it as `choice` says;
// `encoding` gets the name of the encoding it was read in.
QString ReadText(const std::string& path, const EncodingChoice& choice, QString& error,
                 QString& encoding) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = QString::fromLatin1(kCannotDisplay);
        return {};
    }
    struct stat info {};
    std::string bytes;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && info.st_size > PreviewWindow::kMaxPreviewBytes) {
        close(fd);
        error = QStringLiteral("%1\n\nThe file is %2 MB; files up to %3 MB can be previewed.")
                    .arg(QString::fromLatin1(kCannotDisplay))
                    .arg(info.st_size >> 20)
                    .arg(PreviewWindow::kMaxPreviewBytes >> 20);
        return {};
    }
    if (ok) {
        bytes.reserve(static_cast<std::size_t>(info.st_size));
        bool grew = false;  // past the size while being read
        ok = AppendAll(fd, bytes, grew);
    }
    close(fd);
    if (!ok) {
        error = QString::fromLatin1(kCannotDisplay);
        return {};
    }
    return DecodeFileText(bytes, choice, &encoding);
}

// What `target` names inside its file, read through it (PreviewTarget::unpack); the first line of
// each of a PDF's pages goes into `page_lines`. Empty with `error` set when nothing can be shown.
std::string ReadInnerBytes(const PreviewTarget& target, const std::atomic<bool>& cancel,
                           std::vector<std::int64_t>& page_lines, QString& error) {
    const Fd fd(open(target.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = QString::fromLatin1(kCannotDisplay);
        return {};
    }
    std::string bytes;
    std::int64_t line_feeds = 0;
    bool found = false;
    bool too_large = false;
    const InnerRead read = ReadInnerFiles(
        fd.get(), ContainerOf(target.path), ArchiveLimits{}, &cancel,
        [&](const InnerFile& file) { return file.page > 0 || file.names == target.inside; },
        [&](const InnerFile& file, int inner_fd) {
            found = true;
            if (file.page > 0) {
                if (!bytes.empty()) {
                    const std::string_view between = bytes.back() == '\n' ? "\f\n" : "\n\f\n";
                    bytes += between;
                    line_feeds += std::count(between.begin(), between.end(), '\n');
                }
                page_lines.push_back(line_feeds + 1);
            }
            const std::size_t from = bytes.size();
            AppendAll(inner_fd, bytes, too_large);  // a failed read ends what can be shown
            if (too_large) {
                return false;
            }
            line_feeds +=
                std::count(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), '\n');
            return file.page > 0 && !cancel.load();  // an entry is read once
        });
    if (too_large) {
        error = QStringLiteral("%1\n\nIts text is more than %2 MB; up to %2 MB can be previewed.")
                    .arg(QString::fromLatin1(kCannotDisplay))
                    .arg(PreviewWindow::kMaxPreviewBytes >> 20);
        return {};
    }
    if (!found || (!read.status.ok() && bytes.empty())) {
        error = QString::fromLatin1(kCannotDisplay);
        if (!read.status.ok()) {
            error += QStringLiteral("\n\n") + QString::fromStdString(read.status.description());
        } else if (!found) {
            error += QStringLiteral("\n\nThe file no longer holds it.");
        }
        return {};
    }
    return bytes;
}

// The place of `line` and `column` in `text`, whose lines end at "\n" (a lone "\r" is a
// character, as for editors), the column counting the bytes of the line's UTF-8 text; and the
// length of the mark that starts there (0 when none does, or no column is given).
void SelectionAt(const QString& text, const std::vector<TextMark>& marks, std::int64_t line,
                 std::int64_t column, int& from, int& length) {
    qsizetype at = 0;
    for (std::int64_t passed = 1; passed < line; ++passed) {
        const qsizetype end = text.indexOf(QLatin1Char('\n'), at);
        if (end < 0) {
            return;  // the file has fewer lines now
        }
        at = end + 1;
    }
    for (std::int64_t bytes = 0; at < text.size() && text[at] != QLatin1Char('\n');) {
        const bool pair = text[at].isHighSurrogate() && at + 1 < text.size();
        const char16_t unit = text[at].unicode();
        const int width = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (bytes + width > column - 1) {
            break;
        }
        bytes += width;
        at += pair ? 2 : 1;
    }
    from = static_cast<int>(at);
    length = 0;
    if (column > 0) {
        const auto mark =
            std::lower_bound(marks.begin(), marks.end(), from,
                             [](const TextMark& m, int position) { return m.start < position; });
        if (mark != marks.end() && mark->start == from) {
            length = mark->length;
        }
    }
}

QTextCharFormat MarkFormat(int size, const QColor& color) {
    QTextCharFormat format;
    format.setForeground(color);
    format.setFontWeight(QFont::Bold);
    format.setFontPointSize(size);
    return format;
}

// The marks of `find` in `content`; false when the pattern cannot be used, which is logged
// (`log_failed` when that failed too).
bool FindMarks(const QString& content, const QString& find, bool use_regex, bool ignore_case,
               bool whole_word, std::vector<TextMark>& marks, bool& log_failed) {
    if (const Status found = FindRunMarks(content, find, use_regex, ignore_case, whole_word, marks);
        !found.ok()) {
        log_failed = !LogError("frmPreview: HighlightWordsRegEx", found);
        return false;
    }
    return true;
}

// A document of `shown` with `marks` in the mark format; null when `cancel` was set meanwhile.
std::unique_ptr<QTextDocument> MarkedDocument(const QString& shown, std::span<const TextMark> marks,
                                              const QFont& font, int size, const QColor& color,
                                              const std::atomic<bool>& cancel) {
    auto document = std::make_unique<QTextDocument>();
    document->setUndoRedoEnabled(false);
    document->setDefaultFont(font);
    QTextCursor cursor(document.get());
    // Inside an edit block the cursor does not lay text out to find its place on screen, which
    // would otherwise happen for every mark.
    cursor.beginEditBlock();
    constexpr qsizetype kPiece = 1 << 20;
    for (qsizetype at = 0; at < shown.size() && !cancel.load(); at += kPiece) {
        cursor.insertText(shown.mid(at, kPiece));
    }
    const QTextCharFormat format = MarkFormat(size, color);
    for (std::size_t i = 0; i < marks.size(); ++i) {
        if ((i & 4095) == 0 && cancel.load()) {
            return nullptr;
        }
        if (marks[i].length > 0) {
            cursor.setPosition(marks[i].start);
            cursor.setPosition(marks[i].start + marks[i].length, QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(format);
        }
    }
    cursor.endEditBlock();
    if (cancel.load()) {
        return nullptr;
    }
    return document;
}

}  // namespace

PreviewWindow::PreviewWindow(QWidget* owner) : QMainWindow(owner) {
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromLatin1(kCaption));
    resize(800, 600);
    FitOnScreen(*this);
    box_ = new QPlainTextEdit;
    box_->setReadOnly(true);
    box_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(10);
    box_->setFont(font);
    box_->setLineWrapMode(QPlainTextEdit::NoWrap);
    box_->setContextMenuPolicy(Qt::CustomContextMenu);
    setCentralWidget(box_);
    path_label_ = new QLabel;
    statusBar()->addWidget(path_label_, 1);
    encoding_label_ = new QLabel;
    encoding_label_->setToolTip(QStringLiteral("The encoding the file's text is read in"));
    statusBar()->addPermanentWidget(encoding_label_);

    menu_ = new QMenu(QStringLiteral("MyPopUp"), this);
    QAction* find = menu_->addAction(QStringLiteral("&Find"));
    find->setShortcut(QKeySequence(QStringLiteral("Ctrl+F")));
    connect(find, &QAction::triggered, this, [this] { OpenFind(); });
    menu_->addSeparator();
    highlight_ = menu_->addAction(QStringLiteral("&Highlighting"));
    highlight_->setCheckable(true);
    highlight_->setChecked(true);
    connect(highlight_, &QAction::triggered, this, [this](bool on) { SetHighlighting(on); });
    QMenu* sizes = menu_->addMenu(QStringLiteral("Font &Size"));
    normal_size_ = sizes->addAction(QStringLiteral("&Normal"));
    large_size_ = sizes->addAction(QStringLiteral("&Large"));
    normal_size_->setCheckable(true);
    large_size_->setCheckable(true);
    connect(normal_size_, &QAction::triggered, this, [this] { SetMarkSize(10); });
    connect(large_size_, &QAction::triggered, this, [this] { SetMarkSize(14); });
    menu_->addSeparator();
    QAction* find_next = menu_->addAction(QStringLiteral("Find &Next"));
    find_next->setShortcut(QKeySequence::FindNext);
    connect(find_next, &QAction::triggered, this, [this] { FindAgain(true); });
    QAction* find_previous = menu_->addAction(QStringLiteral("Find Pre&vious"));
    find_previous->setShortcut(QKeySequence::FindPrevious);
    connect(find_previous, &QAction::triggered, this, [this] { FindAgain(false); });
    menu_->addSeparator();
    QAction* copy = menu_->addAction(QStringLiteral("&Copy"));
    copy->setShortcut(QKeySequence(QStringLiteral("Ctrl+C")));
    connect(copy, &QAction::triggered, this, [this] { CopySelection(); });
    menu_->addSeparator();
    editor_ = menu_->addAction(QStringLiteral("Open in &Editor"));
    editor_->setObjectName(QStringLiteral("mnuOpenInEditor"));
    editor_->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    editor_->setEnabled(false);  // until there is an editor to open
    connect(editor_, &QAction::triggered, this, [this] { OpenInEditor(); });
    menu_->addSeparator();
    QAction* print = menu_->addAction(QStringLiteral("&Print"));
    print->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    connect(print, &QAction::triggered, this, [this] { Print(); });
    // The shortcuts work without opening the menu.
    for (QAction* action : {find, find_next, find_previous, copy, editor_, print}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(box_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { menu_->popup(box_->viewport()->mapToGlobal(at)); });

    mark_size_ = ReadAppSettings().preview_font_size;
    normal_size_->setChecked(mark_size_ == 10);
    large_size_->setChecked(mark_size_ == 14);
}

PreviewWindow::~PreviewWindow() {
    StopWorker();
    box_->setDocument(nullptr);  // the box lets go of the document before it is freed
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    StopWorker();
    QMainWindow::closeEvent(event);
}

void PreviewWindow::StopWorker() {
    if (cancel_) {
        cancel_->store(true);
    }
    if (worker_.joinable()) {
        worker_.join();
    }
}

void PreviewWindow::Load(PreviewTarget target) {
    target_ = std::move(target);
    text_shown_ = false;
    path_label_->setText(
        QString::fromStdString(target_.caption.empty() ? target_.path : target_.caption));
    box_->setPlaceholderText(QStringLiteral("...loading"));
    Start(nullptr, true);
}

bool PreviewWindow::Highlighting() const {
    return highlight_->isChecked();
}

QString PreviewWindow::CurrentText() const {
    QString text = box_->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

void PreviewWindow::SetHighlighting(bool on) {
    highlight_->setChecked(on);
    if (!on) {
        setWindowTitle(QString::fromLatin1(kCaption));
    }
    Start(std::make_shared<const QString>(CurrentText()), on);
}

void PreviewWindow::SetMarkSize(int points) {
    mark_size_ = points == 10 ? 10 : 14;
    if (!LogError("frmPreview: mnuFont_Click", SavePreviewFontSize(mark_size_))) {
        TellLogFailure();
    }
    normal_size_->setChecked(mark_size_ == 10);
    large_size_->setChecked(mark_size_ == 14);
    if (highlight_->isChecked()) {
        Start(std::make_shared<const QString>(CurrentText()), true);
    }
}

void PreviewWindow::Start(std::shared_ptr<const QString> text, bool mark) {
    StopWorker();
    loading_ = true;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    cancel_ = cancel;
    QPointer<PreviewWindow> self(this);
    QThread* gui = thread();
    const PreviewTarget target = target_;
    const QString find =
        OneCharacterLineEnds(QString::fromStdString(ConvertSpecialChars(target_.marked)));
    const bool use_regex = target_.regex;
    const bool ignore_case = target_.ignore_case;
    const bool whole_word = target_.whole_word;
    // Only a load goes to the line asked for; marking again keeps to the start, as before.
    std::int64_t start_line = text ? 0 : target_.line;
    const std::int64_t start_column = target_.column;
    const QFont font = box_->font();
    const int size = mark_size_;
    mark_color_ = MarkColorsFor(palette()).hit;
    const QColor color = mark_color_;
    const AppSettings settings = ReadAppSettings();
    const EncodingChoice encodings{settings.text_encoding, settings.legacy_encoding};
    worker_ = std::thread([=]() mutable {
        QString error;
        QString encoding;
        // Lines and columns are found where only CR LF is one character: a lone CR is part of
        // its line there, as for the editors the places are given for, and takes the same room.
        std::vector<std::int64_t> page_lines;
        QString by_line_feeds;
        if (!text && target.unpack) {
            const std::string bytes = ReadInnerBytes(target, *cancel, page_lines, error);
            if (error.isEmpty()) {
                by_line_feeds = DecodeFileText(bytes, encodings, &encoding);
            }
        } else if (!text) {
            by_line_feeds = ReadText(target.path, encodings, error, encoding);
        }
        by_line_feeds.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        std::shared_ptr<FalseLineEnds> false_ends;
        if (!text) {
            false_ends = std::make_shared<FalseLineEnds>();
            for (qsizetype at = 0; at < by_line_feeds.size(); ++at) {
                const QChar c = by_line_feeds[at];
                if (c == QLatin1Char('\r')) {
                    false_ends->returns.push_back(static_cast<int>(at));
                } else if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
                    false_ends->separators.push_back(static_cast<int>(at));
                }
            }
        }
        const QString content = text ? *text : OneCharacterLineEnds(by_line_feeds);
        std::vector<TextMark> marks;
        bool marked = false;
        if (mark && !find.isEmpty() && error.isEmpty()) {
            bool log_failed = false;
            marked =
                FindMarks(content, find, use_regex, ignore_case, whole_word, marks, log_failed);
            if (log_failed) {
                QMetaObject::invokeMethod(
                    self.data(),
                    [self] {
                        if (self != nullptr) {
                            self->TellLogFailure();
                        }
                    },
                    Qt::QueuedConnection);
            }
        }
        int select_from = -1;
        int select_length = 0;
        if (target.page > 0 && start_line > 0) {
            // A PDF's lines are counted by page.
            start_line =
                static_cast<std::size_t>(target.page) <= page_lines.size()
                    ? page_lines[static_cast<std::size_t>(target.page) - 1] + start_line - 1
                    : 0;
        }
        if (start_line > 0 && error.isEmpty()) {
            SelectionAt(by_line_feeds, marks, start_line, start_column, select_from, select_length);
        }
        std::unique_ptr<QTextDocument> document =
            MarkedDocument(error.isEmpty() ? GroupedLines(content) : error,
                           marked ? std::span<const TextMark>(marks) : std::span<const TextMark>(),
                           font, size, color, *cancel);
        if (document == nullptr) {
            return;
        }
        document->moveToThread(gui);
        // Shared so the document is freed wherever the call ends up, run or dropped.
        std::shared_ptr<QTextDocument> ready(document.release());
        const int count = static_cast<int>(marks.size());
        QMetaObject::invokeMethod(
            self.data(),
            [self, ready, count, marked, error, select_from, select_length, false_ends, encoding] {
                if (self != nullptr) {
                    self->Finish(ready, count, marked, error, select_from, select_length,
                                 false_ends, encoding);
                }
            },
            Qt::QueuedConnection);
    });
}

}  // namespace ferret

namespace ferret {

void PreviewWindow::Finish(std::shared_ptr<QTextDocument> document, int count, bool marked,
                           const QString& error, int select_from, int select_length,
                           std::shared_ptr<const FalseLineEnds> false_ends,
                           const QString& encoding) {
    loading_ = false;
    if (false_ends) {
        false_ends_ = std::move(false_ends);
        text_shown_ = error.isEmpty();
        encoding_label_->setText(encoding);
    }
    document->setDocumentLayout(new QPlainTextDocumentLayout(document.get()));
    box_->setDocument(document.get());
    document_ = std::move(document);  // the one shown before goes now
    box_->setPlaceholderText(QString());
    QTextCursor start(document_.get());
    if (select_from >= 0) {
        start.setPosition(select_from);
        start.setPosition(select_from + select_length, QTextCursor::KeepAnchor);
    }
    box_->setTextCursor(start);
    if (select_from >= 0) {
        box_->centerCursor();
        // The view scrolls by laid-out lines: once the new document has its final width and
        // the lines before the hit are laid out, the centre is where it belongs.
        QTimer::singleShot(0, box_, [box = box_] { box->centerCursor(); });
    }
    mark_count_ = marked && error.isEmpty() ? count : 0;
    QString caption = QString::fromLatin1(kCaption);
    if (marked && error.isEmpty()) {
        caption += QStringLiteral(" [%1 found]").arg(count);
    }
    setWindowTitle(caption);
    // The colours may have changed while the text was being marked.
    MatchMarksToPalette();
    if (loaded_) {
        loaded_();
    }
}

void PreviewWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        MatchMarksToPalette();
    }
    QMainWindow::changeEvent(event);
}

void PreviewWindow::MatchMarksToPalette() {
    const QColor wanted = MarkColorsFor(palette()).hit;
    if (wanted != mark_color_ && document_ != nullptr && !loading_) {
        RecolorMarks(*document_, mark_color_, wanted);
        mark_color_ = wanted;
    }
}

void PreviewWindow::OpenFind() {
    const QTextCursor cursor = box_->textCursor();
    const QString text =
        cursor.hasSelection() ? cursor.selectedText() : QString::fromStdString(target_.marked);
    FindReplaceDialog::Show(this, box_, kFindDown, text);
}

bool PreviewWindow::FindAgain(bool down) {
    if (FindReplaceDialog* open = FindReplaceDialog::Current(this)) {
        return open->FindAgain(down);
    }
    const QTextCursor cursor = box_->textCursor();
    QString find = cursor.selectedText();
    const int flags = target_.ignore_case ? 0 : kFindMatchCase;
    if (find.isEmpty() || find.contains(QChar::ParagraphSeparator)) {
        // The run's text when it is plain: a pattern's hits need the Find dialog's own text.
        find =
            target_.regex
                ? QString()
                : OneCharacterLineEnds(QString::fromStdString(ConvertSpecialChars(target_.marked)));
    }
    if (find.isEmpty()) {
        OpenFind();
        return false;
    }
    if (!text_find::SelectNext(*box_, find, flags, down)) {
        QApplication::beep();
        return false;
    }
    box_->ensureCursorVisible();
    return true;
}

bool PreviewWindow::FalseLineEnds::Contains(int position) const {
    return std::binary_search(returns.begin(), returns.end(), position) ||
           std::binary_search(separators.begin(), separators.end(), position);
}

std::int64_t PreviewWindow::FalseLineEnds::Before(int position) const {
    return (std::lower_bound(returns.begin(), returns.end(), position) - returns.begin()) +
           (std::lower_bound(separators.begin(), separators.end(), position) - separators.begin());
}

int PreviewWindow::FalseLineEnds::Bytes(int position) const {
    return std::binary_search(returns.begin(), returns.end(), position) ? 1 : 3;
}

PreviewWindow::FilePlace PreviewWindow::CursorPlace() const {
    if (!text_shown_ || !false_ends_) {
        return {std::max<std::int64_t>(target_.line, 1), std::max<std::int64_t>(target_.column, 1)};
    }
    const FalseLineEnds& false_ends = *false_ends_;
    const QTextDocument* document = box_->document();
    const int position = box_->textCursor().selectionStart();
    const QTextBlock here = document->findBlock(position);
    // The box's line ends before the cursor, a block's end and the line separators within, less
    // those that end no line of the file. Counted when asked, so the text costs nothing more.
    std::int64_t ends = here.text().left(position - here.position()).count(QChar::LineSeparator);
    for (QTextBlock block = document->begin(); block.isValid() && block != here;
         block = block.next()) {
        ends += 1 + block.text().count(QChar::LineSeparator);
    }
    FilePlace place;
    place.line = 1 + ends - false_ends.Before(position);

    // Back to the start of the file's line, which may lie blocks before.
    QTextBlock block = here;
    int at = position - here.position();
    while (true) {
        const QString text = block.text();
        while (at > 0 && !(text[at - 1] == QChar::LineSeparator &&
                           !false_ends.Contains(block.position() + at - 1))) {
            --at;
        }
        if (at > 0 || block.position() == 0 || !false_ends.Contains(block.position() - 1)) {
            break;
        }
        block = block.previous();
        at = block.length() - 1;
    }
    // Then forward to the cursor, counting bytes as the run counts them (SelectionAt): the line
    // ends passed on the way are false ones.
    std::int64_t bytes = 0;
    for (int from = block.position() + at; from < position;) {
        if (from == block.position() + block.length() - 1) {
            bytes += false_ends.Bytes(from);
            block = block.next();
            ++from;
            continue;
        }
        const QString text = block.text();
        for (int i = from - block.position(); i < text.size() && from < position; ++i, ++from) {
            const char16_t unit = text[i].unicode();
            if (text[i].isHighSurrogate() && i + 1 < text.size()) {
                bytes += 4;
                ++i;
                ++from;
            } else if (unit == QChar::LineSeparator) {
                bytes += false_ends.Bytes(from);
            } else {
                bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
            }
        }
    }
    place.column = 1 + bytes;
    return place;
}

void PreviewWindow::SetEditorHandler(EditorHandler handler) {
    edit_ = std::move(handler);
    editor_->setEnabled(static_cast<bool>(edit_));
}

void PreviewWindow::OpenInEditor() {
    if (edit_ && !target_.path.empty()) {
        const FilePlace place = CursorPlace();
        edit_(target_.path, place.line, place.column);
    }
}

void PreviewWindow::CopySelection() {
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setText(
        box_->textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
}

int PreviewWindow::Print() {
    try {
        // Each page names its file; a control character in the name would break the line.
        QString title =
            QString::fromStdString(target_.caption.empty() ? target_.path : target_.caption);
        for (QChar& c : title) {
            if (c.category() == QChar::Other_Control) {
                c = QChar::ReplacementCharacter;
            }
        }
        // Paper is white, whatever the screen's colours: the marks print in the colour chosen
        // for it.
        const QColor paper_color = MarkColorsOn(Qt::white).hit;
        if (mark_color_ == paper_color) {
            return PrintDocument::Print(*box_->document(), 1440, 1440, 1440, 1440, this, title);
        }
        const std::unique_ptr<QTextDocument> paper(box_->document()->clone());
        RecolorMarks(*paper, mark_color_, paper_color);
        return PrintDocument::Print(*paper, 1440, 1440, 1440, 1440, this, title);
    } catch (const std::exception& error) {
        if (!LogError("frmPreview: mnuPrint_Click", kLogNumberPrintFailed, error.what())) {
            TellLogFailure();
        }
    }
    return 0;
}

void PreviewWindow::TellLogFailure() {
    const UserMessage message = LogFailureMessage();
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(message.title),
                                QString::fromStdString(message.text), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace ferret
