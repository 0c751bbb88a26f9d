#include "app/task_progress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <algorithm>
#include <cmath>

#include "app/session_bus.h"

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

void TaskProgress::Send(double fraction, bool visible) {
    QDBusConnection bus = DesktopSessionBus();
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
