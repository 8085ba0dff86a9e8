// nav_hooks.cpp - the real hand-overs.
#include "app/nav_hooks.h"

#include <QDrag>

#include "platform/process.h"

namespace vantrel::app {

// The commands of the other groups. They are declared weak so that
// navigation links (and its keys simply do nothing) in a build where a group
// is missing; in the full program they are all present.
void RunCopyCommand(TMainForm& form, bool move) __attribute__((weak));
void CopyPathsInto(TMainForm& form, const std::vector<std::string>& sourcePaths,
                   const std::string& destDir) __attribute__((weak));
void RunDeleteCommand(TMainForm& form) __attribute__((weak));
bool OpenZipWindow(TMainForm& form, const std::string& archivePath) __attribute__((weak));

TNavHooks DefaultNavHooks() {
  TNavHooks hooks;
  hooks.CopyCommand = [](TMainForm& form) {
    if (&RunCopyCommand != nullptr) RunCopyCommand(form, false);
  };
  hooks.DeleteCommand = [](TMainForm& form) {
    if (&RunDeleteCommand != nullptr) RunDeleteCommand(form);
  };
  hooks.CopyPathsInto = [](TMainForm& form, const std::vector<std::string>& paths,
                           const std::string& dest) {
    if (&CopyPathsInto != nullptr) CopyPathsInto(form, paths, dest);
  };
  hooks.OpenZipWindow = [](TMainForm& form, const std::string& path) {
    return &OpenZipWindow != nullptr && OpenZipWindow(form, path);
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
