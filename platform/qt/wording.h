// wording.h - the program's own words made while it runs (a state, a menu
// item built when it opens, a key's label), in the language chosen: the
// translation file's "Messages" section keyed by the English text, else the
// English text itself. Windows showing such words hear QEvent::LanguageChange
// when the language changes.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace vantrel::platform {

inline constexpr const char* kWordingContext = "Vantrel";

inline QString Worded(const char* english) { return QCoreApplication::translate(kWordingContext, english); }

}  // namespace vantrel::platform
