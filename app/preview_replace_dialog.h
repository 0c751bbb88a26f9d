#pragma once

#include <QAbstractItemModel>
#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/change_finder.h"
#include "engine/change_lines.h"
#include "engine/run.h"
#include "engine/search_fields.h"

class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QTreeView;

namespace ferret {

// The files a replace run would change, each with its changes as lines before and after, every
// file and every change with a check box (all on). A file's box is partly on when only some of
// its changes are. A file's changes are found again in it (`finder`, while it is as it was seen)
// when they are first shown: most files of a large preview are never opened.
class PreviewChangesModel : public QAbstractItemModel {
  public:
    explicit PreviewChangesModel(std::shared_ptr<const ChangeFinder> finder,
                                 QObject* parent = nullptr);

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // Works out the changes of the file in row `file`, unless they are known.
    void Fetch(int file);

    // Files the preview found, added at the end.
    struct Found {
        std::string path;
        std::int32_t hits = 0;
        FilePreview preview;
        // Not empty: the file would not be written, for this reason. It is listed, never chosen.
        std::string left_out;
    };
    void AddFiles(std::vector<Found> found);
    void Clear();

    int FileCount() const { return static_cast<int>(files_.size()); }
    // The size of the file in row `file` when the preview read it.
    off_t FileSize(int file) const { return files_[static_cast<std::size_t>(file)].seen.size; }
    // Changes in all, and those chosen; files with any chosen.
    std::int64_t Changes() const { return changes_; }
    std::int64_t ChosenChanges() const { return chosen_changes_; }
    int ChosenFiles() const { return chosen_files_; }

    // What is chosen, file by file in the preview's order.
    std::vector<ChosenChange> Chosen() const;
    // Chooses every change of every file that can be written, or none.
    void ChooseAll(bool on);
    // Whether the choice was changed (setData, ChooseAll) since the files came.
    bool Touched() const { return touched_; }
    // Whether the row of `index` can be chosen (a file left out cannot).
    bool Choosable(const QModelIndex& index) const;
    // The file of a row, a change's or a file's own.
    std::string PathAt(const QModelIndex& index) const;
    // The file and the line of a change's row; false for a file's row.
    bool ChangeAt(const QModelIndex& index, std::string& path, std::int64_t& line,
                  std::int64_t& column) const;

    // Called whenever the choice or the files change.
    std::function<void()> on_changed;

  private:
    struct File {
        std::string path;
        std::uint64_t digest = 0;  // of the bytes its changes were found in (a document's)
        FileIdentity seen;         // the file as the preview saw it
        std::string legacy;        // the legacy encoding the preview read it in; empty: none
        bool office = false;
        std::int32_t hits = 0;  // its changes (a document's hits)
        // A text file's changes are worked out: `edits` and `lines` hold them. Until then the
        // file is chosen as a whole, as a document is.
        bool fetched = false;
        std::string not_shown;   // why its changes could not be worked out: it is left out
        std::string whole_only;  // why its changes are not listed: it is chosen as a whole
        std::vector<TextEdit> edits;
        ChangeLines lines;  // where the edits are; their lines are cut when shown
        // By change; a document's or a file's not worked out, one entry for the whole file.
        std::vector<char> chosen;
        std::int64_t chosen_count = 0;
    };
    // Changes each entry of a file's `chosen` stands for.
    static std::int64_t Weight(const File& file) {
        return file.office || !file.fetched ? file.hits : 1;
    }
    void Append(Found& found, FilePreview preview);
    // The file of a valid index, a change's or a file's own row.
    const File& FileOf(const QModelIndex& index) const;
    Qt::CheckState FileState(const File& file) const;
    void Choose(File& file, std::size_t change, bool on);
    void Changed();
    // Change `change` of file `file` as its lines, the last one asked for kept: a row is drawn
    // from both of its texts.
    const ChangeLine& Shown(std::size_t file, std::size_t change) const;

    const std::shared_ptr<const ChangeFinder> finder_;
    std::vector<File> files_;
    bool touched_ = false;
    std::int64_t changes_ = 0;
    std::int64_t chosen_changes_ = 0;
    int chosen_files_ = 0;
    mutable ChangeLine shown_;
    mutable std::size_t shown_file_ = static_cast<std::size_t>(-1);
    mutable std::size_t shown_change_ = 0;
};

// The window of Preview Replace: fills while the preview runs; "Replace Selected" then writes
// exactly the chosen changes, through the same safe swap and restore point as a replace run.
class PreviewReplaceDialog : public QMainWindow {
  public:
    // `finder` works out a file's changes when they are shown, as the preview found them.
    explicit PreviewReplaceDialog(std::shared_ptr<const ChangeFinder> finder,
                                  QWidget* owner = nullptr);

    // From the preview run, on the window's thread.
    void AddFiles(std::vector<PreviewChangesModel::Found> found);
    // What a preview run hands each file that would change to, from any thread: the files reach
    // AddFiles together on this window's thread (one hand-off per file would keep it busy when
    // files come thousands a second), and are dropped once the window is gone.
    std::function<void(const FileRecord& file, FilePreview& preview)> FoundTaker();
    // The preview run has ended; `stopped` when it ended early.
    void Finish(bool stopped);

    // Opens a file at a line and column (characters): Enter or a double click on a change.
    std::function<void(const std::string& path, std::int64_t line, std::int64_t column)> on_open;
    // What "Replace Selected" does with the chosen changes; false when they could not be handed
    // on (the window stays open).
    std::function<bool(std::vector<ChosenChange> chosen)> on_replace;

    // Each file the preview could not do, with why; from any thread, as FoundTaker. The file
    // is listed as left out: unticked, and it cannot be ticked.
    std::function<void(const std::string& path, const std::string& why)> LeftOutTaker();
    // Names what is previewed: the texts, the folder and the options of the run.
    void Describe(const SearchFields& fields);

    // Asked before the window closes on a choice the user changed; true closes it. Default: a
    // question box.
    std::function<bool()> confirm_close;

    PreviewChangesModel* Model() const { return model_; }
    QTreeView* View() const { return view_; }
    QPushButton* ReplaceButton() const { return replace_; }
    QLabel* Description() const { return description_; }
    QString Totals() const;
    // Space on the list: every selected row takes the state the first choosable one does not
    // have.
    void ToggleSelected();
    // The list's context menu for the row at `index`, built (tests run its actions).
    QMenu* MenuFor(const QModelIndex& index);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowTotals();
    void AddWaiting();
    std::function<void(PreviewChangesModel::Found)> Taker();

    PreviewChangesModel* model_ = nullptr;
    QTreeView* view_ = nullptr;
    QLabel* totals_ = nullptr;
    QLabel* description_ = nullptr;
    QPushButton* replace_ = nullptr;
    QMenu* menu_ = nullptr;
    bool replaced_ = false;  // the choice was handed on: closing loses nothing
    bool finished_ = false;
    bool stopped_ = false;
    std::vector<PreviewChangesModel::Found> waiting_;  // found, not yet in the list
    QTimer* batch_timer_ = nullptr;
};

}  // namespace ferret
