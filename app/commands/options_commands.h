// options_commands.h - the Options menu and the panels' "Settings...": the
// settings dialogs, the font, colour schemes and the interface language.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <QStringList>

#include "panels/dirmodel.h"

namespace vantrel::app {

class TLanguage;
class TMainForm;

// The property paths the main window's translation component translates, in
// order: every caption and hint of the windows, "Select language" included.
// PackForm.Label2 is listed twice.
const QStringList& TranslatedProperties();

// The main window's translation component, "Language".
TLanguage& Language(TMainForm& form);

// Where a language file named in the settings lives: a path as it is, a bare
// name in the data folder's "Language/" (platform/install_paths.h).
std::string LanguagePath(const std::string& name);

// Translates the windows with the form's language file and rebuilds the
// messages table and the panels' lines; runs when the main window is first
// shown and after Select language.
void ApplyLanguage(TMainForm& form);

// The wording of the panels' information lines from the language file's
// section "Panel texts" (keys DirectoryLine "[%1]:  DIRECTORY", FileLine,
// SizeLine, SpaceLine "%1 of %2 free", Megabytes, Bytes, MarkedLine,
// MarkedCount, PackedFileLine, PackedPart, Reading); English for a missing key, and for a
// text that drops or adds a placeholder.
void ApplyPanelTexts(TMainForm& form, const TLanguage& language);

// Each key of that section and the text it words.
using TPanelTextKey = std::pair<const char*, std::string panels::TPanelTexts::*>;
const std::vector<TPanelTextKey>& PanelTextKeys();

}  // namespace vantrel::app
