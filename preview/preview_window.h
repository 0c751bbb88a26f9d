#pragma once

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
};

// Shows one file's text with every hit marked in blue and bold, the number of hits in the
// caption. Reading, decoding and marking run on a thread of their own, so a large file never
// stops the window; the text appears when it is ready.
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

    // The pop-up menu's commands.
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

  private:
    // Builds the document for `text` (or for the file when `text` is null) with or without
    // marks on the worker thread, then puts it in place.
    void Start(std::shared_ptr<const QString> text, bool mark);
    // `select_from` (-1: the start) and `select_length`: what to select and show.
    void Finish(std::shared_ptr<QTextDocument> document, int count, bool marked,
                const QString& error, int select_from, int select_length);
    void StopWorker();
    QString CurrentText() const;
    // An entry the error log could not take, as a box over this window (not waited for).
    void TellLogFailure();

    QPlainTextEdit* box_ = nullptr;
    QLabel* path_label_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* highlight_ = nullptr;
    QAction* normal_size_ = nullptr;
    QAction* large_size_ = nullptr;
    PreviewTarget target_;
    int mark_size_ = 10;
    int mark_count_ = 0;
    bool loading_ = false;
    std::function<void()> loaded_;
    std::shared_ptr<QTextDocument> document_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::thread worker_;
};

}  // namespace ferret
