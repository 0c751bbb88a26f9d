#include "app/task_progress.h"

#include <sys/stat.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace ferret {

TaskProgress::TaskProgress(QString desktop_id)
    : uri_(QStringLiteral("application://") + desktop_id) {}

void TaskProgress::Show(double fraction) {
    const int thousandths = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 1000.0));
    if (thousandths != shown_) {  // a dock redraws for every signal
        shown_ = thousandths;
        Send(thousandths / 1000.0, true);
    }
}

void TaskProgress::Hide() {
    if (shown_ >= 0) {
        shown_ = -1;
        Send(0, false);
    }
}

namespace {

// Whether the desktop session has a bus: one named in the environment, or the user's in the
// runtime folder. Without one the bus library would try to start one (autolaunch), which a
// progress signal is not worth.
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

void TaskProgress::Send(double fraction, bool visible) {
    static const bool has_bus = HasSessionBus();
    if (!has_bus) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/mallo/Ferret"), QStringLiteral("com.canonical.Unity.LauncherEntry"),
        QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), fraction);
    properties.insert(QStringLiteral("progress-visible"), visible);
    signal << uri_ << properties;
    bus.send(signal);
}

}  // namespace ferret
