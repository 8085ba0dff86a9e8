// notification.h - a desktop notification through the session's
// notification service (org.freedesktop.Notifications on the D-Bus session
// bus), where there is one.
#pragma once

#include <QString>

namespace vantrel::platform {

// Sends `summary` and `body` as a notification of this program, without
// waiting for the service. False, and nothing happens, where there is no
// session bus or no notification service on it.
bool SendDesktopNotification(const QString& summary, const QString& body);

}  // namespace vantrel::platform
