// settings.h - loading and saving "vantrel.ini".
//
// The file is read once while the main window is created and written in full
// when it closes, in one replacement of the file, keys in a fixed order.
// Whatever cannot be read takes its default; a file that cannot be written
// is reported with "Unable to write to <file>" in the general error box and
// stays as it was.
#pragma once

#include <string>

namespace vantrel::platform {
class IniFile;
}

namespace vantrel::app {

class TMainForm;

// Defaults of the settings that have no home in a control's own defaults.
inline constexpr const char* kDefaultEditor = "notepad.exe";
// The viewer built beside the program (build/vnview), in the program directory.
inline constexpr const char* kDefaultViewerName = "vnview";
inline constexpr const char* kDefaultFontName = "MS Sans Serif";
inline constexpr int kDefaultFontSize = 10;

// The command Edit starts for the configured editor: the default
// "notepad.exe" (any case, with or without ".exe") stands for the platform's
// default text editor, so the settings file keeps its portable default.
std::string EditorProgram(const std::string& configured);

// The command View starts for the configured viewer: a default viewer
// "vnview.exe" that does not exist (settings written by a build that named it
// so) stands for the viewer in the program directory.
std::string ViewerProgram(const std::string& configured, const std::string& programDir);

// Reads every setting into the main window and its two panels, in order:
// GENERAL (editor, viewer, language, both directories, window, left width),
// FONT, COLOR, LEFT PANEL, RIGHT PANEL.
void LoadSettings(TMainForm& form, const platform::IniFile& ini);

// Writes every setting from the live state in one replacement of the file
// (inside an update of the caller's, into that update). Returns false after
// reporting that the file could not be written; it then stays as it was.
bool SaveSettings(const TMainForm& form, platform::IniFile& ini);

// How many files Pack compresses, and how many entries Unpack and the ZIP
// window decode, at once (GENERAL ArchiveThreads): 0, the default, one per
// processor; 1 one after the other; at most kMaxArchiveThreads. A value out
// of range reads as the default.
inline constexpr int kMaxArchiveThreads = 64;
int ArchiveThreads(const platform::IniFile& ini);
// Writes the setting (false when the file cannot be written; it then stays
// as it was).
bool SaveArchiveThreads(platform::IniFile& ini, int threads);

// "Unable to write to <file>" in the general error box.
void ReportUnwritable(const platform::IniFile& ini);

// The six colours of both panels from section COLOR of `ini` (a settings or
// colour scheme file), each missing key with its default, in the order Back,
// Cursor, File, Selected, Current, CurSel; the left panel takes each value,
// then the right panel the left panel's.
void LoadColors(TMainForm& form, const platform::IniFile& ini);

// The writes of the settings dialogs. Each writes only its own keys, in one
// replacement of the file; when that fails it reports "Unable to write to
// <file>" in the general error box, leaves the file as it was and returns
// false.
bool SaveEditorAndViewer(const TMainForm& form, platform::IniFile& ini);  // GENERAL
bool SaveFont(const TMainForm& form, platform::IniFile& ini);             // FONT
// COLOR from the left panel; other sections of the file stay as they are, so
// the same call writes a colour scheme file.
bool SaveColors(const TMainForm& form, platform::IniFile& ini);

}  // namespace vantrel::app
