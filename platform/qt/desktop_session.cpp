// desktop_session.cpp - claiming the desktop session on the D-Bus session bus
// or a local socket, handing a start's paths over, and the file manager
// interface.
#include "platform/qt/desktop_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStringList>

#include "platform/file_uri.h"

namespace vantrel::platform {

namespace {

constexpr char kService[] = "org.vantrel.Vantrel";
constexpr char kObject[] = "/org/vantrel/Vantrel";
constexpr char kFileManagerService[] = "org.freedesktop.FileManager1";
constexpr char kFileManagerObject[] = "/org/freedesktop/FileManager1";
// How long a start waits for the running window to take its paths.
constexpr int kHandOffTimeoutMs = 10000;
// A request on the socket is one line; more than this is no request of ours.
constexpr qint64 kMaxSocketRequest = 1 << 20;

QStringList UrisOf(const std::vector<std::string>& paths) {
  QStringList uris;
  for (const std::string& path : paths) uris << QString::fromStdString(FileUriOf(path));
  return uris;
}

std::vector<std::string> PathsOf(const QStringList& uris) {
  std::vector<std::string> paths;
  for (const QString& uri : uris)
    if (auto path = LocalPathOfUri(uri.toStdString())) paths.push_back(std::move(*path));
  return paths;
}

// A startup id or URI on the socket's line: no tabs or line ends inside.
QByteArray Field(const QString& text) {
  QByteArray bytes = text.toUtf8();
  bytes.replace('\t', ' ').replace('\n', ' ').replace('\r', ' ');
  return bytes;
}

using TKind = TDesktopRequest::TKind;

}  // namespace

// The instance's own interface: later starts call Open.
class TInstanceObject final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.vantrel.Vantrel")

 public:
  explicit TInstanceObject(TDesktopSession& session) : QObject(&session), session_(session) {}

 public slots:
  Q_SCRIPTABLE void Open(const QStringList& uris, const QString& startupId) {
    session_.Post({TKind::Open, PathsOf(uris), startupId.toStdString()});
  }

 private:
  TDesktopSession& session_;
};

// The desktop's file manager interface.
class TFileManagerObject final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

 public:
  explicit TFileManagerObject(TDesktopSession& session) : QObject(&session), session_(session) {}

 public slots:
  Q_SCRIPTABLE void ShowFolders(const QStringList& uris, const QString& startupId) {
    session_.Post({TKind::ShowFolders, PathsOf(uris), startupId.toStdString()});
  }
  Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString& startupId) {
    session_.Post({TKind::ShowItems, PathsOf(uris), startupId.toStdString()});
  }
  Q_SCRIPTABLE void ShowItemProperties(const QStringList& uris, const QString& startupId) {
    session_.Post({TKind::ShowItemProperties, PathsOf(uris), startupId.toStdString()});
  }

 private:
  TDesktopSession& session_;
};

TDesktopSession::TDesktopSession(QObject* parent) : QObject(parent) {}

TDesktopSession::~TDesktopSession() {
  if (server_ != nullptr) server_->close();  // removes the socket file
}

void TDesktopSession::Post(const TDesktopRequest& request) {
  QMetaObject::invokeMethod(this, [this, request] { emit requested(request); }, Qt::QueuedConnection);
}

TDesktopSession::TClaim TDesktopSession::Claim(bool handOff, const std::vector<std::string>& paths,
                                               const std::string& startupId) {
  if (QDBusConnection::sessionBus().isConnected()) return ClaimOnBus(handOff, paths, startupId);
  return ClaimSocket(handOff, paths, startupId);
}

TDesktopSession::TClaim TDesktopSession::ClaimOnBus(bool handOff, const std::vector<std::string>& paths,
                                                    const std::string& startupId) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  QDBusConnectionInterface* names = bus.interface();
  // The object comes first: a call may arrive as soon as the name is ours.
  bus.registerObject(QLatin1String(kObject), new TInstanceObject(*this), QDBusConnection::ExportScriptableSlots);
  const auto instance = names->registerService(QLatin1String(kService), QDBusConnectionInterface::DontQueueService,
                                               QDBusConnectionInterface::DontAllowReplacement);
  const bool serving = instance.isValid() && instance.value() == QDBusConnectionInterface::ServiceRegistered;
  if (!serving && handOff) {
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kObject),
                                                      QLatin1String(kService), QStringLiteral("Open"));
    call << UrisOf(paths) << QString::fromStdString(startupId);
    // A window that does not answer keeps the session; this start opens its own.
    if (bus.call(call, QDBus::Block, kHandOffTimeoutMs).type() == QDBusMessage::ReplyMessage)
      return TClaim::HandedOff;
  }
  bus.registerObject(QLatin1String(kFileManagerObject), new TFileManagerObject(*this),
                     QDBusConnection::ExportScriptableSlots);
  const auto fileManager =
      names->registerService(QLatin1String(kFileManagerService), QDBusConnectionInterface::DontQueueService,
                             QDBusConnectionInterface::DontAllowReplacement);
  fileManager_ = fileManager.isValid() && fileManager.value() == QDBusConnectionInterface::ServiceRegistered;
  if (!serving) return TClaim::Alone;
  channel_ = QStringLiteral("session bus");
  return TClaim::Serving;
}

QString TDesktopSession::SocketPath() {
  QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
  if (display.isEmpty()) display = qEnvironmentVariable("DISPLAY");
  if (display.isEmpty()) display = QStringLiteral("none");
  for (QChar& c : display)
    if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-')) c = QLatin1Char('_');
  QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
    // A folder of the user's own in the temporary folder, which nobody else
    // may have put there first.
    dir = QDir::tempPath() + QStringLiteral("/vantrel-") + QString::number(getuid());
    const QByteArray name = QFile::encodeName(dir);
    mkdir(name.constData(), 0700);
    struct stat st;
    if (lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0)
      return {};
  }
  return dir + QStringLiteral("/vantrel-") + display + QStringLiteral(".socket");
}

TDesktopSession::TClaim TDesktopSession::ClaimSocket(bool handOff, const std::vector<std::string>& paths,
                                                     const std::string& startupId) {
  const QString path = SocketPath();
  if (path.isEmpty()) return TClaim::Alone;
  // Two starts at once: the second waits until the first listens.
  QLockFile lock(path + QStringLiteral(".lock"));
  lock.tryLock(3000);
  QLocalSocket socket;
  socket.connectToServer(path);
  if (socket.waitForConnected(1000)) {
    if (!handOff) return TClaim::Alone;
    QByteArray line = "open\t" + Field(QString::fromStdString(startupId));
    for (const QString& uri : UrisOf(paths)) line += '\t' + Field(uri);
    socket.write(line + '\n');
    socket.waitForBytesWritten(kHandOffTimeoutMs);
    while (!socket.canReadLine() && socket.waitForReadyRead(kHandOffTimeoutMs)) {
    }
    return socket.readLine().trimmed() == "ok" ? TClaim::HandedOff : TClaim::Alone;
  }
  // Nobody listens: a socket left by a window that ended goes.
  QLocalServer::removeServer(path);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(path)) {
    delete server_;
    server_ = nullptr;
    return TClaim::Alone;
  }
  connect(server_, &QLocalServer::newConnection, this, &TDesktopSession::ReadSocketRequest);
  channel_ = QStringLiteral("local socket");
  return TClaim::Serving;
}

void TDesktopSession::ReadSocketRequest() {
  while (QLocalSocket* client = server_->nextPendingConnection()) {
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QLocalSocket::readyRead, this, [this, client] {
      if (!client->canReadLine()) {
        if (client->bytesAvailable() > kMaxSocketRequest) client->abort();
        return;
      }
      const QList<QByteArray> fields = client->readLine(kMaxSocketRequest).chopped(1).split('\t');
      if (fields.size() < 2 || fields[0] != "open") {
        client->abort();
        return;
      }
      QStringList uris;
      for (qsizetype i = 2; i < fields.size(); ++i) uris << QString::fromUtf8(fields[i]);
      client->write("ok\n");
      client->flush();
      client->disconnectFromServer();
      Post({TKind::Open, PathsOf(uris), fields[1].toStdString()});
    });
  }
}

}  // namespace vantrel::platform

#include "desktop_session.moc"
