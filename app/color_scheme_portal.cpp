#include "app/color_scheme_portal.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QVariant>
#include <utility>

namespace ferret {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

QDBusMessage ReadCall(const QString& method) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call << kNamespace << kKey;
    return call;
}

// Errors after which asking with Read cannot help: nobody owns the name, or it did not answer.
bool PortalIsAway(const QDBusMessage& reply) {
    const QString error = reply.errorName();
    return error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           error == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           error == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
           error == QLatin1String("org.freedesktop.DBus.Error.Disconnected");
}

}  // namespace

ColorSchemePortal::ColorSchemePortal(QDBusConnection bus, int timeout_ms, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), timeout_ms_(timeout_ms) {
    // The bus finds the slot's parameter types by name: until a QDBusVariant has been made,
    // its name is unknown and the connection fails.
    qRegisterMetaType<QDBusVariant>();
}

DesktopColorScheme ColorSchemePortal::Read() const {
    if (!bus_.isConnected()) {
        return DesktopColorScheme::kNoPreference;
    }
    QElapsedTimer clock;
    clock.start();
    QDBusMessage reply = bus_.call(ReadCall(QStringLiteral("ReadOne")), QDBus::Block, timeout_ms_);
    if (reply.type() == QDBusMessage::ErrorMessage && !PortalIsAway(reply)) {
        // An older portal: ReadOne is unknown to it.
        const int left = timeout_ms_ - static_cast<int>(clock.elapsed());
        if (left <= 0) {
            return DesktopColorScheme::kNoPreference;
        }
        reply = bus_.call(ReadCall(QStringLiteral("Read")), QDBus::Block, left);
    }
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return DesktopColorScheme::kNoPreference;
    }
    return SchemeOf(reply.arguments().constFirst());
}

void ColorSchemePortal::Watch(std::function<void(DesktopColorScheme)> changed) {
    changed_ = std::move(changed);
    if (!subscribed_ && changed_ && bus_.isConnected()) {
        subscribed_ = bus_.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"),
                                   this, SLOT(SettingChanged(QString, QString, QDBusVariant)));
    }
}

DesktopColorScheme ColorSchemePortal::SchemeOf(const QVariant& value) {
    QVariant inner = value;
    // Read's answer is a variant in a variant; a third would be a portal's mistake.
    for (int depth = 0; depth < 3 && inner.metaType() == QMetaType::fromType<QDBusVariant>();
         ++depth) {
        inner = qvariant_cast<QDBusVariant>(inner).variant();
    }
    const QMetaType type = inner.metaType();
    if (type != QMetaType::fromType<uint>() && type != QMetaType::fromType<int>()) {
        return DesktopColorScheme::kNoPreference;
    }
    switch (inner.toLongLong()) {
        case 1:
            return DesktopColorScheme::kDark;
        case 2:
            return DesktopColorScheme::kLight;
        default:
            return DesktopColorScheme::kNoPreference;
    }
}

void ColorSchemePortal::SettingChanged(const QString& name_space, const QString& key,
                                       const QDBusVariant& value) {
    if (name_space == kNamespace && key == kKey && changed_) {
        changed_(SchemeOf(value.variant()));
    }
}

}  // namespace ferret
