// command_hooks.h - where navigation hands work to other parts of the program:
// the copy and delete commands, the ZIP window, the desktop's default
// application and the editor for a new file.
//
// Each hand-over is a replaceable function, so that the widget tests can see
// what would have been started without starting programs or other windows.
// The defaults call the real commands.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QDrag;

namespace vantrel::app {

class TMainForm;

struct TNavHooks {
  // Copy (F5) with its destination prompt, on the active panel's entries.
  std::function<void(TMainForm&)> CopyCommand;
  // Delete (F8: to the Trash; Shift+F8: permanently) with its confirmation.
  std::function<void(TMainForm&, bool permanent)> DeleteCommand;
  // Copies absolute paths dropped from another application into a directory.
  std::function<void(TMainForm&, const std::vector<std::string>&, const std::string&)> CopyPathsInto;
  // The ZIP window on an archive; false when it could not be shown.
  std::function<bool(TMainForm&, const std::string&)> OpenZipWindow;
  // Any other file: the desktop's default application, detached.
  std::function<bool(const std::string& path)> OpenDocument;
  // A newly created file in the platform's default editor, detached.
  std::function<bool(const std::string& path)> StartEditor;
  // Runs a drag started from a panel until it ends; returns the action the
  // drop target took (Qt::IgnoreAction when nothing took it).
  std::function<int(QDrag&)> ExecDrag;
};

// The hooks in use (process-wide; the defaults until a test replaces them).
TNavHooks& NavHooks();
// The hooks as the program starts with them.
TNavHooks DefaultNavHooks();

}  // namespace vantrel::app
