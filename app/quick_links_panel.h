#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace ferret {

class ExplorerBar;

// The "Quick Links" panel of the explorer bar: the user's documents, pictures and desktop
// folders and the programs folder, each a link that puts its folder in the folder box.
class QuickLinksPanel : public QObject {
  public:
    QuickLinksPanel(ExplorerBar& bar, QObject* owner);

    // The folder of a link ("MyDocuments", "MyPictures", "Desktop", "Programs"). A user folder
    // the desktop never made is the home folder, as the desktops' own rule for these folders
    // says; empty for an unknown key.
    static QString FolderOf(const QString& key);

    // A link was clicked.
    std::function<void(const QString& key)> on_open;
};

}  // namespace ferret
