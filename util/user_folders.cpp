#include "util/user_folders.h"

#include <QStandardPaths>
#include <QString>

#include "util/app_paths.h"

namespace ferret {
namespace {

std::string Location(QStandardPaths::StandardLocation location) {
    std::string path = QStandardPaths::writableLocation(location).toStdString();
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::string UserFolderPath(UserFolder folder) {
    std::string path;
    switch (folder) {
        case UserFolder::kDocuments:
            path = Location(QStandardPaths::DocumentsLocation);
            break;
        case UserFolder::kDesktop:
            path = Location(QStandardPaths::DesktopLocation);
            break;
        case UserFolder::kPictures:
            path = Location(QStandardPaths::PicturesLocation);
            break;
        case UserFolder::kPrograms:
            path = "/usr/bin";
            break;
    }
    return path.empty() || IsFolder(path) ? path : std::string();
}

}  // namespace ferret
