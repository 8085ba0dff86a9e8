// help.h - the help seam: which help file the program names, and showing it.
//
// The program names its help file at start-up and asks for a page by context
// number (0 for the contents). How the file is shown is the desktop's matter.
#pragma once

#include <QString>

class QWidget;

namespace vantrel::platform {

void SetHelpFile(const QString& path);
const QString& HelpFile();

// Asks the desktop to show the help file (context 0 = contents). Returns false
// when there is no help file or nothing could show it.
bool ShowHelp(int context);

}  // namespace vantrel::platform
