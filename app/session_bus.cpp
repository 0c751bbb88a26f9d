#include "app/session_bus.h"

#include <sys/stat.h>

#include <QString>
#include <cstdlib>
#include <string>

namespace ferret {
namespace {

bool HasSessionBus() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        address != nullptr && address[0] != '\0') {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat bus {};
    return runtime != nullptr && runtime[0] == '/' &&
           stat((std::string(runtime) + "/bus").c_str(), &bus) == 0 && S_ISSOCK(bus.st_mode);
}

}  // namespace

QDBusConnection DesktopSessionBus() {
    static const bool has_bus = HasSessionBus();
    if (!has_bus) {
        return QDBusConnection(QStringLiteral("ferret-no-session-bus"));
    }
    return QDBusConnection::sessionBus();
}

}  // namespace ferret
