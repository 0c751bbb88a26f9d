#pragma once

#include <QDBusConnection>

namespace ferret {

// The desktop session's bus when it has one: the one named in the environment, or the user's in
// the runtime folder. Otherwise a connection that is not connected: asked for a bus that does not
// exist, the bus library would start one of its own (autolaunch), which nothing here is worth.
// Whether there is one is looked up once a process. Call on the window's thread.
QDBusConnection DesktopSessionBus();

}  // namespace ferret
