// desktop_requests.cpp - showing paths from the command line and the desktop
// in the panels.
#include "app/window/desktop_requests.h"


#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "app/dialogs/messages.h"
#include "app/dialogs/propertiesform.h"
#include "app/panels/panel_tabs.h"
#include "app/window/mainform.h"
#include "panels/panel_source.h"
#include "panels/qt/fmpanel.h"
#include "platform/file_uri.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

using panels::TFMPanel;
using TKind = platform::TDesktopRequest::TKind;

namespace {

// Where a path is shown: the directory to list and the entry to put the
// cursor on (empty: the first entry).
struct TPlace {
  std::string Directory;
  std::string Name;
};

TPlace ParentAndName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (path == "/" || slash == std::string::npos) return {path, ""};
  return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

// A directory is entered; anything else is shown in its directory (an
// archive is entered before, by ShowAsFolder). With `selectItself` a
// directory is shown in its parent as well.
TPlace PlaceOf(const std::string& path, bool selectItself) {
  if (!selectItself && platform::IsDirectory(path)) return {path, ""};
  return ParentAndName(path);
}

const TPanelSide& SideOf(TMainForm& form, const TFMPanel& panel) {
  return &panel == form.LeftFMPanel() ? form.Left() : form.Right();
}

void OpenTabFor(TMainForm& form, TFMPanel& panel) {
  if (auto* tabs = form.findChild<TPanelTabs*>(SideOf(form, panel).Panel->objectName() + QStringLiteral("Tabs")))
    tabs->NewTab();
}

// An archive, or a place inside one, shown as a folder; false when `path`
// names no archive.
bool ShowAsFolder(TMainForm& form, TFMPanel& panel, const std::string& path, bool newTab) {
  const panels::TSourceOpener& open = panels::SourceOpener();
  if (!open || platform::IsDirectory(path)) return false;
  std::string place;
  std::string error;
  std::shared_ptr<panels::TPanelSource> source = open(path, place, &error);
  if (source == nullptr) return false;
  if (newTab) OpenTabFor(form, panel);
  if (!panel.Model().ReadPlace(std::move(source), place, &error)) return false;
  panel.SetCursor(0);
  return true;
}

// Shows `path` in `panel`, in a new tab when asked; false after a message
// when it cannot be shown.
bool ShowPath(TMainForm& form, TFMPanel& panel, const std::string& path, bool newTab, bool selectItself) {
  if (!selectItself && ShowAsFolder(form, panel, path, newTab)) return true;
  struct stat st;
  std::string error;
  if (lstat(path.c_str(), &st) != 0) {
    error = platform::ErrorText(errno);
  } else {
    const TPlace place = PlaceOf(path, selectItself);
    if (newTab) OpenTabFor(form, panel);
    if (panel.ReadDirectory(place.Directory, &error)) {
      panel.SetCursor(place.Name.empty() ? 0 : panel.IndexOfName(place.Name));
      return true;
    }
  }
  ShowMessage(&form, MessageKind::Warning, QString::fromLatin1(kMainCaption),
              platform::Worded("Cannot go to %1: %2").arg(platform::ToDisplay(path), platform::ToDisplay(error)));
  return false;
}

// The side a path of a start goes to: the first on the left, the second on
// the right, any further one on the left.
TFMPanel& PanelFor(TMainForm& form, size_t index) {
  return *(index == 1 ? form.RightFMPanel() : form.LeftFMPanel());
}

void BringToFront(TMainForm& form, TFMPanel& panel) {
  if (form.isMinimized()) form.showNormal();
  form.show();
  form.raise();
  form.activateWindow();
  panel.setFocus(Qt::OtherFocusReason);
  if (!panel.Model().InSource()) platform::SetCurrentDir(panel.Directory());
}

}  // namespace

std::vector<std::string> StartPaths(const std::vector<std::string>& args) {
  const std::string base = platform::GetCurrentDir();
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (auto path = platform::ArgumentPath(arg, base))
      paths.push_back(std::move(*path));
    else
      std::fprintf(stderr, "vantrel: not a local file: %s\n", platform::TerminalName(arg).c_str());
  }
  return paths;
}

void OpenStartPaths(TMainForm& form, const std::vector<std::string>& paths) {
  for (size_t i = 0; i < paths.size(); ++i) ShowPath(form, PanelFor(form, i), paths[i], i >= 2, false);
  if (!paths.empty()) form.LeftFMPanel()->setFocus(Qt::OtherFocusReason);
}

void HandleDesktopRequest(TMainForm& form, const platform::TDesktopRequest& request) {
  TFMPanel* shown = form.LastActivePanel();
  for (size_t i = 0; i < request.Paths.size(); ++i) {
    const std::string& path = request.Paths[i];
    if (request.Kind == TKind::Open) {
      TFMPanel& panel = PanelFor(form, i);
      if (ShowPath(form, panel, path, true, false) && i == 0) shown = &panel;
      continue;
    }
    TFMPanel& panel = *form.LastActivePanel();
    const bool item = request.Kind != TKind::ShowFolders;
    if (!ShowPath(form, panel, path, true, item)) continue;
    shown = &panel;
    if (request.Kind == TKind::ShowItemProperties) {
      BringToFront(form, panel);
      auto* dialog = new TPropertiesForm(path, &form);
      dialog->setAttribute(Qt::WA_DeleteOnClose);
      dialog->show();
      return;
    }
  }
  BringToFront(form, *shown);
}

}  // namespace vantrel::app
