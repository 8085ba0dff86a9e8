// notification.cpp - the desktop notification call.
#include "platform/qt/notification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

namespace vantrel::platform {

namespace {
constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr int kShownMilliseconds = 5000;
}  // namespace

bool SendDesktopNotification(const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusConnectionInterface* names = bus.interface();
  if (names == nullptr || !names->isServiceRegistered(QString::fromLatin1(kService)).value()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                     QString::fromLatin1(kService), QStringLiteral("Notify"));
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
  call << QCoreApplication::applicationName() << 0u << QStringLiteral("system-file-manager") << summary << body
       << QStringList() << QVariantMap() << kShownMilliseconds;
  return bus.send(call);
}

}  // namespace vantrel::platform
