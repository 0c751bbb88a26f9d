#pragma once

#include <QPoint>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/desktop_apps.h"
#include "util/user_message.h"

class QAbstractItemView;
class QMenu;
class QWidget;

namespace ferret {

class FileListModel;

// The rows a right-click on the result list acts on: the clicked row first, then every other
// selected row in list order. None when no row was clicked (`clicked_row` < 0) or no row is
// selected: the menu only opens over a selection.
std::vector<int> ContextMenuRows(int clicked_row, std::vector<int> selected_rows);

// The full paths of ContextMenuRows for a right-click at `pos` on `view`, which shows `model`.
// `pos` is in viewport coordinates, as customContextMenuRequested gives them.
std::vector<std::string> ContextMenuPaths(const QAbstractItemView& view, const FileListModel& model,
                                          const QPoint& pos);

// Starts applications and opens places for the menu. Tests give their own, so nothing starts.
struct DesktopLauncher {
    // Starts the application on the files; why it could not, or an empty text.
    std::function<std::string(const DesktopApp& app, const std::vector<std::string>& paths)> launch;
    // Opens a folder with the desktop's file manager; false when that failed.
    std::function<bool(const std::string& path)> open;
    // Asks which application opens `path`, which none is registered for ("Open With..."); none
    // when the user cancels. Default: a message box that offers the list of applications.
    std::function<std::optional<DesktopApp>(const std::string& path)> choose;

    // The desktop's application registry (GIO), QDesktopServices and the window's dialogs.
    static DesktopLauncher System(QWidget* owner);
};

// The context menu of the result files, in the manner of a Linux file manager: "&Ferret Results
// Previewer" first, then Open (each file with its type's default application; for a type with
// none the user picks one), Open With (the desktop applications for the first file's MIME
// type, the user's default first), Open in Editor, Open Containing Folder, Copy Path, Move to
// Trash and Properties. Each action works on all the paths the menu was built for, except Open
// With's applications list, Open in Editor, Open Containing Folder and Properties, which go by
// the first. Failures are
// told in a message box and logged under "frmMain: ShellContextMenu".
//
// Lives as long as its owner window, which is the parent of its dialogs. GUI thread only.
class ResultMenu {
  public:
    using PathsHandler = std::function<void(const std::vector<std::string>& paths)>;

    explicit ResultMenu(QWidget* owner);

    // What "&Ferret Results Previewer" does with the paths (opening one previewer per path is
    // the handler's business). Without one the item is disabled.
    void SetPreviewHandler(PathsHandler handler) { preview_ = std::move(handler); }
    // What "Open in &Editor" (shown with Ctrl+E, the key of the lists it serves) does with the
    // first path. Without one the item is disabled.
    void SetEditorHandler(std::function<void(const std::string& path)> handler) {
        editor_ = std::move(handler);
    }
    // Told the files that Move to Trash moved, so the list can drop their rows.
    void SetTrashedHandler(PathsHandler handler) { trashed_ = std::move(handler); }
    // Default: DesktopLauncher::System().
    void SetLauncher(DesktopLauncher launcher) { launcher_ = std::move(launcher); }
    // Asks the user a yes-or-no question before files go to the Trash; true for yes.
    // Default: a question box over the owner, "No" preselected.
    void SetConfirm(std::function<bool(const QString& question)> confirm) {
        confirm_ = std::move(confirm);
    }
    // The archive a result is inside (its path on disk), or nothing for a file on disk. What acts
    // on a file (Open, Open With, Open in Editor, Move to Trash, Properties) leaves such results
    // alone, and Open Containing Folder shows the archive's folder. Default: every result is a
    // file on disk.
    void SetContainerOf(std::function<std::optional<std::string>(const std::string& path)> of) {
        container_of_ = std::move(of);
    }
    // Tells the user of a failure. Default: a box over the owner, not waited for.
    void SetTell(std::function<void(const UserMessage& message)> tell) { tell_ = std::move(tell); }
    // The menu for `paths` (the clicked file first); nullptr when there are none. It is a child
    // of the owner and must go before it; its actions call back into this object, which must
    // outlive the menu.
    std::unique_ptr<QMenu> Build(const std::vector<std::string>& paths);
    // Builds the menu and runs it at `global_pos` until an item is chosen or it is dismissed.
    void Show(const std::vector<std::string>& paths, const QPoint& global_pos);

    // What the items do.
    void Open(const std::vector<std::string>& paths);
    // Runs `app` on all `paths`; false after a message when it could not be started.
    bool OpenWith(const DesktopApp& app, const std::vector<std::string>& paths);
    void OpenContainingFolder(const std::string& path);
    void CopyPaths(const std::vector<std::string>& paths);
    // Asks, then moves each file to the Trash; false when not asked to or when any file stayed.
    bool MoveToTrash(const std::vector<std::string>& paths);
    void Properties(const std::string& path);

    // The applications Open With offers for `path`, the default first.
    std::vector<DesktopApp> AppsFor(const std::string& path) const;

  private:
    void Fail(const QString& title, const std::string& number, const std::string& text);
    bool Inside(const std::string& path) const;
    // `paths` without those inside archives.
    std::vector<std::string> OnDisk(const std::vector<std::string>& paths) const;

    QWidget* owner_;
    PathsHandler preview_;
    std::function<void(const std::string&)> editor_;
    PathsHandler trashed_;
    DesktopLauncher launcher_;
    std::function<bool(const QString&)> confirm_;
    std::function<void(const UserMessage&)> tell_;
    std::function<std::optional<std::string>(const std::string&)> container_of_;
};

}  // namespace ferret
