// desktop_session.h - one file manager window per desktop session, and the
// desktop's file manager interface.
//
// The first window claims the session: on the D-Bus session bus it owns the
// name "org.vantrel.Vantrel" (object /org/vantrel/Vantrel, method
// Open(as uris, s startupId)) and, when no other file manager holds it,
// "org.freedesktop.FileManager1" (ShowFolders, ShowItems, ShowItemProperties)
// that browsers call for "Show in folder". Where there is no session bus the
// window listens on a local socket of the user's display instead
// ($XDG_RUNTIME_DIR/vantrel-<display>.socket, else a private folder in /tmp),
// which later starts reach the same way. A later start hands its paths to
// the window that holds the session and ends.
#pragma once

#include <string>
#include <vector>

#include <QObject>
#include <QString>

class QLocalServer;

namespace vantrel::platform {

struct TDesktopRequest {
  enum class TKind { Open, ShowFolders, ShowItems, ShowItemProperties };
  TKind Kind = TKind::Open;
  std::vector<std::string> Paths;  // absolute local paths; URIs of other machines are left out
  std::string StartupId;           // the desktop's startup notification id, may be empty
};

class TDesktopSession final : public QObject {
  Q_OBJECT

 public:
  enum class TClaim {
    Serving,    // this window holds the session: later starts come here
    HandedOff,  // another window took the paths: this start is over
    Alone,      // another window holds the session (--new-window), or nothing works
  };

  explicit TDesktopSession(QObject* parent = nullptr);
  ~TDesktopSession() override;

  // Claims the session for the window about to open. When another window
  // holds it and `handOff` is set, that window gets `paths` (absolute) and
  // the result is HandedOff.
  TClaim Claim(bool handOff, const std::vector<std::string>& paths, const std::string& startupId);

  // How later starts reach this window: "session bus", "local socket", or
  // empty while it serves none.
  QString Channel() const { return channel_; }
  // Whether this window answers org.freedesktop.FileManager1.
  bool ServesFileManager() const { return fileManager_; }

  // The local socket of this user and display.
  static QString SocketPath();

  // Queues a request as if it had come from outside (the channels use it).
  void Post(const TDesktopRequest& request);

 signals:
  // A later start's paths, or a call of the file manager interface; emitted
  // from the event loop, never inside the call, so a caller never waits for
  // a dialog the request opens.
  void requested(const vantrel::platform::TDesktopRequest& request);

 private:
  TClaim ClaimOnBus(bool handOff, const std::vector<std::string>& paths, const std::string& startupId);
  TClaim ClaimSocket(bool handOff, const std::vector<std::string>& paths, const std::string& startupId);
  void ReadSocketRequest();

  QString channel_;
  bool fileManager_ = false;
  QLocalServer* server_ = nullptr;
};

}  // namespace vantrel::platform
