#include "util/user_folders.h"

#include <sys/stat.h>

#include <QStandardPaths>
#include <QString>

#include "util/app_paths.h"

namespace ferret {
namespace {

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string Location(QStandardPaths::StandardLocation location) {
    std::string path = QStandardPaths::writableLocation(location).toStdString();
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::string UserFolders::GetFolderPath(int csidl, std::intptr_t /*owner*/) const {
    std::string path;
    switch (csidl) {
        case kPersonal:
            path = Location(QStandardPaths::DocumentsLocation);
            break;
        case kDesktop:
            path = Location(QStandardPaths::DesktopLocation);
            break;
        case kProgramFiles:
            path = "/usr/bin";
            break;
        case kMyPictures:
            path = Location(QStandardPaths::PicturesLocation);
            break;
        default:
            return {};
    }
    if (path.empty() || IsFolder(path)) {
        return path;
    }
    // Private to the user, as a new user folder should be.
    if (per_user_init_ && MakePath(path, 0700).ok()) {
        return path;
    }
    return dont_verify_ ? path : std::string();
}

}  // namespace ferret
