#include "app/result_menu.h"

#include <QAbstractItemView>
#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

#include "app/file_list_model.h"
#include "app/message_boxes.h"
#include "app/properties_dialog.h"
#include "app/qt_text.h"
#include "settings/error_log.h"

namespace ferret {

namespace {

constexpr char kLabel[] = "frmMain: ShellContextMenu";
// The error numbers the log uses for these failures: "File not found" for a program that does
// not start, "Path/File access error" for a file that cannot be moved.
constexpr char kStartError[] = "53";
constexpr char kAccessError[] = "75";

// The file's MIME type, by its name and content (as the file manager tells it); the registry
// adds the applications of the broader types it belongs to.
std::string MimeTypeOf(const std::string& path) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(Q(path));
    return type.isValid() ? type.name().toStdString() : std::string();
}

QIcon AppIcon(const DesktopApp& app) {
    if (app.icon.empty()) {
        return {};
    }
    return app.icon.front() == '/' ? QIcon(Q(app.icon)) : QIcon::fromTheme(Q(app.icon));
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::vector<int> ContextMenuRows(int clicked_row, std::vector<int> selected_rows) {
    if (clicked_row < 0 || selected_rows.empty()) {
        return {};
    }
    std::sort(selected_rows.begin(), selected_rows.end());
    selected_rows.erase(std::unique(selected_rows.begin(), selected_rows.end()),
                        selected_rows.end());
    std::vector<int> rows = {clicked_row};
    for (int row : selected_rows) {
        if (row != clicked_row) {
            rows.push_back(row);
        }
    }
    return rows;
}

std::vector<std::string> ContextMenuPaths(const QAbstractItemView& view, const FileListModel& model,
                                          const QPoint& pos) {
    const QModelIndex clicked = view.indexAt(pos);
    std::vector<int> selected;
    if (view.selectionModel() != nullptr) {
        for (const QModelIndex& index : view.selectionModel()->selectedIndexes()) {
            selected.push_back(index.row());
        }
    }
    std::vector<std::string> paths;
    for (int row : ContextMenuRows(clicked.isValid() ? clicked.row() : -1, selected)) {
        std::string path = model.FullPath(row);
        if (!path.empty()) {
            paths.push_back(std::move(path));
        }
    }
    return paths;
}

namespace {

// "Open With...": every application the desktop shows, to pick one for a file no application
// is registered for.
std::optional<DesktopApp> ChooseApp(const std::string& path, QWidget* owner) {
    const QString name = Q(path.substr(path.rfind('/') + 1));
    QMessageBox ask(QMessageBox::Information, QStringLiteral("Open"),
                    QStringLiteral("No application is set to open \"%1\".").arg(name),
                    QMessageBox::Cancel, owner);
    QPushButton* choose = ask.addButton(QStringLiteral("Open With..."), QMessageBox::AcceptRole);
    ask.setDefaultButton(choose);
    ask.exec();
    if (ask.clickedButton() != choose) {
        return std::nullopt;
    }
    const std::vector<DesktopApp> apps = AllApps();
    QDialog dialog(owner);
    dialog.setWindowTitle(QStringLiteral("Open With"));
    auto* list = new QListWidget;
    list->setObjectName(QStringLiteral("lbApplications"));
    for (const DesktopApp& app : apps) {
        new QListWidgetItem(AppIcon(app), Q(app.name), list);
    }
    list->setCurrentRow(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemActivated, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Open \"%1\" with:").arg(name)));
    layout->addWidget(list);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0 ||
        list->currentRow() >= static_cast<int>(apps.size())) {
        return std::nullopt;
    }
    return apps[static_cast<std::size_t>(list->currentRow())];
}

}  // namespace

DesktopLauncher DesktopLauncher::System(QWidget* owner) {
    DesktopLauncher launcher;
    launcher.launch = [](const DesktopApp& app, const std::vector<std::string>& paths) {
        return LaunchApp(app.id, paths);
    };
    launcher.open = [](const std::string& path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
    };
    launcher.choose = [owner](const std::string& path) { return ChooseApp(path, owner); };
    return launcher;
}

ResultMenu::ResultMenu(QWidget* owner) : owner_(owner), launcher_(DesktopLauncher::System(owner)) {
    confirm_ = [this](const QString& question) {
        return QMessageBox::question(owner_, QStringLiteral("Move to Trash"), question,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    tell_ = [this](const UserMessage& message) { OpenMessageBox(owner_, message); };
}

std::vector<DesktopApp> ResultMenu::AppsFor(const std::string& path) const {
    return AppsForType(MimeTypeOf(path));
}

bool ResultMenu::Inside(const std::string& path) const {
    return container_of_ && container_of_(path).has_value();
}

std::vector<std::string> ResultMenu::OnDisk(const std::vector<std::string>& paths) const {
    std::vector<std::string> on_disk;
    for (const std::string& path : paths) {
        if (!Inside(path)) {
            on_disk.push_back(path);
        }
    }
    return on_disk;
}

std::unique_ptr<QMenu> ResultMenu::Build(const std::vector<std::string>& paths) {
    if (paths.empty()) {
        return nullptr;
    }
    // An entry of an archive is no file of its own: nothing may open, move or show it by its
    // name.
    const bool any_inside = std::any_of(paths.begin(), paths.end(),
                                        [this](const std::string& path) { return Inside(path); });
    auto menu = std::make_unique<QMenu>(owner_);
    QAction* preview = menu->addAction(QStringLiteral("&Ferret Results Previewer"));
    preview->setEnabled(static_cast<bool>(preview_) && !any_inside);
    QObject::connect(preview, &QAction::triggered, [this, paths] {
        if (preview_) {
            preview_(paths);
        }
    });
    menu->addSeparator();

    QAction* open = menu->addAction(QStringLiteral("&Open"));
    open->setEnabled(!any_inside);
    QObject::connect(open, &QAction::triggered, [this, paths] { Open(paths); });
    QMenu* open_with = menu->addMenu(QStringLiteral("Open &With"));
    const std::vector<DesktopApp> apps =
        any_inside ? std::vector<DesktopApp>() : AppsFor(paths.front());
    for (const DesktopApp& app : apps) {
        QObject::connect(open_with->addAction(AppIcon(app), Q(app.name)), &QAction::triggered,
                         [this, app, paths] { OpenWith(app, paths); });
    }
    open_with->menuAction()->setEnabled(!apps.empty());
    QAction* editor = menu->addAction(QStringLiteral("Open in &Editor"));
    editor->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    editor->setShortcutContext(Qt::WidgetShortcut);  // the lists' own action answers the key
    editor->setEnabled(static_cast<bool>(editor_) && !any_inside);
    QObject::connect(editor, &QAction::triggered, [this, first = paths.front()] {
        if (editor_) {
            editor_(first);
        }
    });
    QObject::connect(menu->addAction(QStringLiteral("Open Containing Fol&der")),
                     &QAction::triggered,
                     [this, first = paths.front()] { OpenContainingFolder(first); });
    menu->addSeparator();
    QObject::connect(menu->addAction(QStringLiteral("&Copy Path")), &QAction::triggered,
                     [this, paths] { CopyPaths(paths); });
    menu->addSeparator();
    QAction* trash = menu->addAction(QIcon::fromTheme(QStringLiteral("user-trash")),
                                     QStringLiteral("Move to &Trash"));
    trash->setEnabled(!any_inside);
    QObject::connect(trash, &QAction::triggered, [this, paths] { MoveToTrash(paths); });
    menu->addSeparator();
    QAction* properties = menu->addAction(QStringLiteral("P&roperties"));
    properties->setEnabled(!any_inside);
    QObject::connect(properties, &QAction::triggered,
                     [this, first = paths.front()] { Properties(first); });
    return menu;
}

void ResultMenu::Show(const std::vector<std::string>& paths, const QPoint& global_pos) {
    if (const std::unique_ptr<QMenu> menu = Build(paths)) {
        menu->exec(global_pos);
    }
}

void ResultMenu::Open(const std::vector<std::string>& all_paths) {
    const std::vector<std::string> paths = OnDisk(all_paths);
    // Each file goes to its own type's default application; one that takes several files gets
    // them all at once, as a file manager does.
    std::map<std::string, std::vector<DesktopApp>> apps_of_type;  // asked once a type
    std::vector<std::pair<DesktopApp, std::vector<std::string>>> groups;
    for (const std::string& path : paths) {
        const std::string type = MimeTypeOf(path);
        auto known = apps_of_type.find(type);
        if (known == apps_of_type.end()) {
            known = apps_of_type.emplace(type, AppsForType(type)).first;
        }
        std::optional<DesktopApp> app;
        if (!known->second.empty()) {
            app = known->second.front();
        } else if (launcher_.choose) {
            app = launcher_.choose(path);
            if (!app) {
                continue;  // the user chose none
            }
        } else {
            Fail(QStringLiteral("Open"), kStartError,
                 "No application is set to open " + path + ".");
            continue;
        }
        const auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& entry) {
            return entry.first.id == app->id;
        });
        if (group != groups.end()) {
            group->second.push_back(path);
        } else {
            groups.push_back({*app, {path}});
        }
    }
    for (const auto& [app, files] : groups) {
        OpenWith(app, files);
    }
}

bool ResultMenu::OpenWith(const DesktopApp& app, const std::vector<std::string>& all_paths) {
    const std::vector<std::string> paths = OnDisk(all_paths);
    if (paths.empty()) {
        return false;
    }
    if (const std::string why = launcher_.launch(app, paths); !why.empty()) {
        Fail(QStringLiteral("Open With"), kStartError,
             app.name + " could not be started: " + why + ".");
        return false;
    }
    return true;
}

void ResultMenu::OpenContainingFolder(const std::string& path) {
    const std::optional<std::string> container = container_of_ ? container_of_(path) : std::nullopt;
    const std::string folder = FolderOf(container.value_or(path));
    if (!launcher_.open(folder)) {
        Fail(QStringLiteral("Open Containing Folder"), kStartError,
             "The folder " + folder + " could not be opened.");
    }
}

void ResultMenu::CopyPaths(const std::vector<std::string>& paths) {
    QStringList lines;
    for (const std::string& path : paths) {
        lines << Q(path);
    }
    QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

bool ResultMenu::MoveToTrash(const std::vector<std::string>& all_paths) {
    const std::vector<std::string> paths = OnDisk(all_paths);
    if (paths.empty()) {
        return false;
    }
    const QString question =
        paths.size() == 1
            ? QStringLiteral("Are you sure you want to move \"%1\" to the Trash?")
                  .arg(Q(paths.front().substr(paths.front().rfind('/') + 1)))
            : QStringLiteral("Are you sure you want to move these %1 files to the Trash?")
                  .arg(paths.size());
    if (!confirm_(question)) {
        return false;
    }
    // Without the data folder Qt cannot make the home trash and moves the files into "files"
    // below the current folder instead.
    const QString data_home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const bool trash_ready = !data_home.isEmpty() && QDir().mkpath(data_home);
    std::vector<std::string> moved;
    std::string failures;
    for (const std::string& path : paths) {
        QFile file(Q(path));
        if (!trash_ready) {
            failures += "\n" + path + ": the folder " + data_home.toStdString() +
                        " that holds the Trash cannot be made";
        } else if (file.moveToTrash()) {
            moved.push_back(path);
        } else {
            failures += "\n" + path + ": " + file.errorString().toStdString();
        }
    }
    if (!moved.empty() && trashed_) {
        trashed_(moved);
    }
    if (!failures.empty()) {
        Fail(QStringLiteral("Move to Trash"), kAccessError,
             "These files could not be moved to the Trash:\n" + failures);
        return false;
    }
    return true;
}

void ResultMenu::Properties(const std::string& path) {
    if (Inside(path)) {
        return;
    }
    ShowProperties(path, owner_);
}

void ResultMenu::Fail(const QString& title, const std::string& number, const std::string& text) {
    if (!LogError(kLabel, number, text)) {
        tell_(LogFailureMessage());
    }
    tell_({text, title.toStdString(), MessageIcon::kWarning});
}

}  // namespace ferret
