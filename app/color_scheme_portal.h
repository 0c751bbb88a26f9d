#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

class QDBusVariant;
class QVariant;

namespace ferret {

// The desktop's colour-scheme preference, numbered as the portal numbers it.
enum class DesktopColorScheme { kNoPreference = 0, kDark = 1, kLight = 2 };

// A client of the desktop portal's appearance setting: "color-scheme" in the namespace
// "org.freedesktop.appearance" of org.freedesktop.portal.Settings, at
// org.freedesktop.portal.Desktop on a session bus. It reads what the setting is now and tells when
// the portal announces a change (SettingChanged). Portals older than the Settings interface's
// ReadOne have only Read, which wraps the value in one more variant; both are understood.
//
// Lives on the thread that made it, whose event loop delivers the changes; not thread-safe.
class ColorSchemePortal : public QObject {
    Q_OBJECT

  public:
    static constexpr int kDefaultTimeoutMs = 300;

    // `bus`: where the portal is asked; a connection that is not connected means there is no
    // bus. A read waits at most `timeout_ms` for the portal in all.
    explicit ColorSchemePortal(QDBusConnection bus, int timeout_ms = kDefaultTimeoutMs,
                               QObject* parent = nullptr);

    // What the portal says now. kNoPreference when there is no bus or no portal, when it does not
    // answer within the timeout, or when its answer is no known value. Blocks, briefly.
    DesktopColorScheme Read() const;

    // From now on `changed` is called with each value the portal announces; an empty function
    // stops it. Changes arrive through this thread's event loop.
    void Watch(std::function<void(DesktopColorScheme)> changed);

    // The value in a reply or a signal: a number inside as many variants as there are.
    static DesktopColorScheme SchemeOf(const QVariant& value);

  private Q_SLOTS:
    void SettingChanged(const QString& name_space, const QString& key, const QDBusVariant& value);

  private:
    QDBusConnection bus_;
    const int timeout_ms_;
    std::function<void(DesktopColorScheme)> changed_;
    bool subscribed_ = false;
};

}  // namespace ferret
