// help.h - the help seam: which help file the program names, and showing it.
//
// The program names its help file at start-up and asks for a page by context
// number (0 for the contents). The pages are HTML files in the data folder
// ("<data>/help/<page>.html", platform/install_paths.h) and shown in the
// program's own help window.
#pragma once

#include <QString>

class QTextBrowser;
class QWidget;

namespace vantrel::platform {

void SetHelpFile(const QString& path);
const QString& HelpFile();

// Shows the help window at the topic of `context` (0 = contents; a number
// without a topic of its own shows the contents). Returns false when the
// pages are missing from the data folder.
bool ShowHelp(int context);

// The address of the topic of `context`, e.g. "file:///usr/share/vantrel/help/contents.html".
QString HelpPage(int context);

// The help window, or nullptr before help was first shown.
QTextBrowser* HelpWindow();

}  // namespace vantrel::platform
