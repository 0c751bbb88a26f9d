#pragma once

#include <QColor>
#include <QMainWindow>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "preview/text_marks.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTextDocument;

namespace ferret {

// What a previewer shows: a file, the text marked in it, and where its cursor goes: a line
// (1-based; 0 the start) and the column of a hit in it (characters, 1-based), which is then
// selected. Lines end as the run counts them.
struct PreviewTarget {
    std::string path;
    std::string marked;  // empty: nothing is marked
    bool ignore_case = false;
    bool regex = false;
    std::int64_t line = 0;
    std::int64_t column = 0;
    bool whole_word = false;
    // The text is read through the file rather than being its bytes: the entry of the archive
    // `path` that `inside` names (outermost first; none: a compressed file's data), or the text
    // of the PDF `path`, its pages one after another, each after a line holding a form feed.
    bool unpack = false;
    std::vector<std::string> inside = {};
    std::int32_t page = 0;     // of a PDF: the page `line` counts in (1-based)
    std::string caption = {};  // the name shown for the text; the path when empty
};

// Shows one file's text with every hit marked in bold and the hit colour of the palette's
// background (see MarkColors), the number of hits in the caption. Reading, decoding and marking run
// on a thread of their own, so a large file never stops the window; the text appears when it is
// ready.
class PreviewWindow : public QMainWindow {
  public:
    explicit PreviewWindow(QWidget* owner = nullptr);
    ~PreviewWindow() override;

    // Reads `target`'s file and marks its hits; returns at once. A file that cannot be read
    // shows "...File Could Not be Displayed".
    void Load(PreviewTarget target);
    const PreviewTarget& Target() const { return target_; }
    bool IsLoading() const { return loading_; }
    // Called each time a text has been put in place (tests wait for it).
    void SetLoadedCallback(std::function<void()> callback) { loaded_ = std::move(callback); }

    // Where the cursor is (the start of the selection) in the file: the line and the column,
    // 1-based, counted as the run counts a hit's place (lines end at a line feed; the column in
    // bytes of the line's UTF-8 text). Before the text is shown, the target's place.
    struct FilePlace {
        std::int64_t line = 1;
        std::int64_t column = 1;
    };
    FilePlace CursorPlace() const;
    // What "Open in Editor" (Ctrl+E) does with the file and the cursor's place. Without one the
    // item is disabled.
    using EditorHandler =
        std::function<void(const std::string& path, std::int64_t line, std::int64_t column)>;
    void SetEditorHandler(EditorHandler handler);

    // The pop-up menu's commands.
    void OpenInEditor();
    void SetHighlighting(bool on);
    bool Highlighting() const;
    void SetMarkSize(int points);  // 10 ("Normal") or 14 ("Large")
    int MarkSize() const { return mark_size_; }
    void OpenFind();
    // F3 and Shift+F3: the open Find dialog's search again, else the selected text's, else the
    // run's plain search text's; with none of them the Find dialog opens. False when nothing
    // more is found.
    bool FindAgain(bool down);
    void CopySelection();
    int Print();

    int MarkCount() const { return mark_count_; }
    QPlainTextEdit* Box() const { return box_; }
    QMenu* PopupMenu() const { return menu_; }

    // Files larger than this are not shown: the whole text is held in memory several times.
    static constexpr qint64 kMaxPreviewBytes = 512ll << 20;

  protected:
    void closeEvent(QCloseEvent* event) override;
    // A new palette (another colour scheme) recolours the marks.
    void changeEvent(QEvent* event) override;

  private:
    // Builds the document for `text` (or for the file when `text` is null) with or without
    // marks on the worker thread, then puts it in place.
    void Start(std::shared_ptr<const QString> text, bool mark);
    // The characters the box shows as line ends that do not end a line of the file, by their
    // place in the text: lone carriage returns (one byte each) and line and paragraph separators
    // of the file's own (three bytes each). Sorted; mostly none.
    struct FalseLineEnds {
        std::vector<int> returns;
        std::vector<int> separators;

        bool Contains(int position) const;
        // How many lie before `position`.
        std::int64_t Before(int position) const;
        // The bytes in the file of the one at `position`.
        int Bytes(int position) const;
    };
    // `select_from` (-1: the start) and `select_length`: what to select and show. `false_ends`:
    // those of a text read from the file; null when the text is the one shown before.
    void Finish(std::shared_ptr<QTextDocument> document, int count, bool marked,
                const QString& error, int select_from, int select_length,
                std::shared_ptr<const FalseLineEnds> false_ends, const QString& encoding);
    void StopWorker();
    // Gives the marks shown the hit colour of the window's palette now.
    void MatchMarksToPalette();
    QString CurrentText() const;
    // An entry the error log could not take, as a box over this window (not waited for).
    void TellLogFailure();

    QPlainTextEdit* box_ = nullptr;
    QLabel* path_label_ = nullptr;
    QLabel* encoding_label_ = nullptr;  // the encoding of the text shown
    QMenu* menu_ = nullptr;
    QAction* highlight_ = nullptr;
    QAction* normal_size_ = nullptr;
    QAction* large_size_ = nullptr;
    QAction* editor_ = nullptr;
    EditorHandler edit_;
    PreviewTarget target_;
    int mark_size_ = 10;
    QColor mark_color_;  // of the marks in the document shown, or being built
    int mark_count_ = 0;
    bool loading_ = false;
    bool text_shown_ = false;  // the file's text is in the box, not a note about it
    std::shared_ptr<const FalseLineEnds> false_ends_;
    std::function<void()> loaded_;
    std::shared_ptr<QTextDocument> document_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::thread worker_;
};

}  // namespace ferret
