// desktop_requests.h - what the command line and the desktop ask the main
// window to show: paths given at start, a later start's paths (new tabs),
// and the file manager interface's folders, items and item properties.
#pragma once

#include <string>
#include <vector>

#include "platform/qt/desktop_session.h"

namespace vantrel::app {

class TMainForm;

// The paths of the command line as absolute local paths, taken from the
// current directory; a URI naming no local file is said on stderr and left out.
std::vector<std::string> StartPaths(const std::vector<std::string>& args);

// At start: the first path in the left panel, the second in the right one,
// further ones as new tabs of the left panel. A directory is entered; an
// archive or any other file shows its directory with the cursor on it.
void OpenStartPaths(TMainForm& form, const std::vector<std::string>& paths);

// A later start's paths open in new tabs (the first on the left, the second
// on the right, further ones on the left); ShowFolders opens each folder in
// a new tab of the active side, ShowItems each item's folder with the cursor
// on the item, ShowItemProperties as well, with the item's Properties. Then
// the window comes to the front.
void HandleDesktopRequest(TMainForm& form, const platform::TDesktopRequest& request);

}  // namespace vantrel::app
