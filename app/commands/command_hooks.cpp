// command_hooks.cpp - the real hand-overs.
#include "app/commands/command_hooks.h"

#include <QDrag>

#include "app/commands/file_commands.h"
#include "app/commands/trash_commands.h"
#include "app/commands/zip_commands.h"
#include "platform/process.h"

namespace vantrel::app {

TNavHooks DefaultNavHooks() {
  TNavHooks hooks;
  hooks.CopyCommand = [](TMainForm& form) { RunCopyCommand(form, false); };
  hooks.DeleteCommand = [](TMainForm& form, bool permanent) { RunDeleteCommand(form, permanent); };
  hooks.CopyPathsInto = [](TMainForm& form, const std::vector<std::string>& paths,
                           const std::string& dest) { CopyPathsInto(form, paths, dest); };
  hooks.OpenZipWindow = [](TMainForm& form, const std::string& path) {
    return OpenZipWindow(form, path);
  };
  // xdg-open reports its own failures (no associated program) to the user.
  hooks.OpenDocument = [](const std::string& path) {
    return platform::OpenWithDefaultApplication(path);
  };
  hooks.StartEditor = [](const std::string& path) {
    return platform::StartCommand(platform::DefaultEditor(), {path});
  };
  hooks.ExecDrag = [](QDrag& drag) { return static_cast<int>(drag.exec(Qt::CopyAction)); };
  return hooks;
}

TNavHooks& NavHooks() {
  static TNavHooks hooks = DefaultNavHooks();
  return hooks;
}

}  // namespace vantrel::app
