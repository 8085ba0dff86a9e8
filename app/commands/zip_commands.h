// zip_commands.h - ZIP archives in the file manager: the ZIP window, Pack
// (Alt+F5) and Unpack (Alt+F9).
//
// The main window owns one archive component, a TZipWriter, through which
// every archive command runs: the ZIP window reads an archive's directory with
// it, Unpack and the ZIP window's extract commands share UnpackArchive, and
// Pack adds the marked entries with Zip. Both operations run behind the Info
// window, whose gauges follow the engine's per-file and total percentages and
// whose Escape key (or closing it) cancels; engine errors go to the general
// error box; every command ends with both panels refreshed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QString>

class QWidget;

namespace vantrel::zip {
class TZipReader;
class TZipWriter;
}
namespace vantrel::zipui {
class TPackForm;
class TQtZipUserInterface;
class TZIPpanel;
}  // namespace vantrel::zipui

namespace vantrel::app {

class TMainForm;

// Opens the ZIP window on `archivePath` (absolute, or relative to the current
// directory) and runs it modally. Its extract commands unpack to the other
// panel's directory; F3 views an entry through a private temporary copy. When the archive cannot be read, reports the
// engine's error and returns false without showing the window.
bool OpenZipWindow(TMainForm& form, const std::string& archivePath);

// What UnpackArchive extracts, and how.
struct TUnpackRequest {
  // Directory + Filename of each entry to extract; empty: every entry.
  std::vector<std::string> names;
  // Recreate the stored directories under the destination; false puts every
  // file straight into it.
  bool keepPaths = true;
  // The destination proposed in the prompt; empty: the current directory.
  std::string proposedDir;
};

// Extracts from the archive `archivePath`: asks "Unpack files to directory:"
// preset to the proposed directory, then extracts what `request` names. Does
// nothing for a directory or a name without the extension ".zip". Returns
// false when it did nothing at all (no prompt shown).
bool UnpackArchive(TMainForm& form, const std::string& archivePath, bool isDirectory,
                   const TUnpackRequest& request);

// Asks "This archive is damaged: N entries could be read. Show them?" for
// the damaged archive `reader` has read; true for Yes. Every view of an
// archive asks it before showing a damaged one.
bool ConfirmDamagedArchive(QWidget* parent, const zip::TZipReader& reader);

// "Repair archive": asks where the new archive goes (preset to
// "<name>-repaired.zip" beside it) and, when the archive holds encrypted
// entries, for their password; then writes the entries of `archivePath` that
// can be read and decode right into it as a job (the operation window with
// Cancel and Background; the old archive is never touched, a cancelled run
// leaves nothing at the new place) and at its end says how many were written
// and which were left out. False when the questions were cancelled.
bool RepairArchive(TMainForm& form, const std::string& archivePath);

// The main window's archive component and the ZIP windows (tests).
zip::TZipWriter& ArchiveComponent(TMainForm& form);
zipui::TQtZipUserInterface& ZipUserInterface(TMainForm& form);
zipui::TZIPpanel& ZipWindow(TMainForm& form);
zipui::TPackForm& PackForm(TMainForm& form);

// The note after a repair: "12 entries were written to x.zip.", in the
// form of the count.
QString WrittenEntriesText(uint64_t written, const QString& archive);

}  // namespace vantrel::app
