// archive_entries.h - the file commands on archives shown as folders.
//
// When the active panel shows a place inside an archive (or, for copy and
// move, when either panel does), the commands work on archive entries: F3
// views an entry through a private temporary copy, Enter opens one with the
// desktop's program, F5 and F6 copy and move between the archive and a
// directory or another archive place (another archive, another folder of the
// same one), F8 deletes entries, F7 makes a directory and Shift+F6 renames.
// Every change of an archive is one rewrite that replaces it whole or leaves
// it as it was; an archive that cannot be changed says why.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "fileops/job.h"

namespace vantrel::panels {
class TFMPanel;
}
namespace vantrel::vfs {
class TPasswordProvider;
struct TEntry;
}

namespace vantrel::app {

class TMainForm;

enum class TArchiveCommand { View, Edit, Copy, Move, Delete, MakeDir, Rename };

// Runs `command` on archive entries when a panel it concerns shows an
// archive; false, doing nothing, when both are directories.
bool RunInArchive(TMainForm& form, TArchiveCommand command);

// The commands that need files on disk say so inside an archive: "<what>
// is not available inside an archive." (with `hint` after it) when `panel`
// shows an archive; true then, and nothing else happens.
bool RefusedInArchive(TMainForm& form, const panels::TFMPanel* panel, const QString& what, const QString& hint = {});

// The directory on disk that stands for what `panel` shows: its directory,
// or inside an archive the directory that holds the archive (where a
// terminal or a command line runs).
std::string DiskDirectoryOf(const panels::TFMPanel& panel);

// Ctrl+G inside an archive: the size of the entry under the cursor (a
// directory with everything below it) on the panel's file line. False when
// the panel shows a directory.
bool ArchiveEntrySize(panels::TFMPanel& panel);

// Alt+F9 inside an archive: the whole archive shown, unpacked. A ZIP archive
// of the disk goes to the unpack command as from its directory; any other
// (another format, one inside an archive) is copied out whole, every entry
// of its root, to the directory confirmed in "Unpack files to directory:".
// False when the active panel shows a directory.
bool UnpackShownArchive(TMainForm& form);

// "Properties" of an archive entry: its name, sizes, time and whether it
// is encrypted, in a message.
void ShowArchiveEntryInfo(TMainForm& form, panels::TFMPanel& panel);

// Files dropped from another program on `target`, a panel inside an
// archive: added at its place through the copy job, one job per directory
// they come from.
void CopyPathsIntoArchive(TMainForm& form, const std::vector<std::string>& paths, panels::TFMPanel& target);

// Enter on a file inside an archive: a temporary copy handed to the desktop's
// program for it. The desktop's launcher returns at once, so the copies are
// removed when Vantrel ends rather than when that program does.
bool OpenArchiveEntry(TMainForm& form, panels::TFMPanel& panel);

// Writes the entry `name` of the place shown in `panel` into the new file
// `target`; false with `error` when it cannot be read (a cancelled password
// question leaves `error` empty).
bool ExtractArchiveEntry(panels::TFMPanel& panel, const std::string& name, const std::string& target,
                         std::string* error);

// F3 on a file a search found inside an archive, listed in a panel by its
// path through the archive: viewed through a private copy. F4 (`edit`) says
// where it can be edited. False when the cursor is on no such entry.
bool ViewFoundArchiveEntry(TMainForm& form, panels::TFMPanel& panel, bool edit);

// The password question of a reader a job opened: the password this run
// has for the archive, else the window's question, asked on the window's
// thread (through `post`) while the job waits.
std::unique_ptr<vfs::TPasswordProvider> JobPasswords(fileops::TJob& job, fileops::TJobPrompt::TPost post);

// Delete in an archive panel asks: "Delete \"a.txt\" from x.zip?", or for
// several entries "Delete 3 entries from x.zip?" with the form of the count.
QString ArchiveDeleteQuestion(const std::vector<std::string>& names, const QString& archive);

// The Properties message of an archive entry `name` in the panel directory
// `dir`: name, place, size and packed size (a directory: the bytes of
// everything in it, `sizeBelow`), link target, time, whether it is
// encrypted, and why the archive cannot be changed (empty: it can). Each
// count of bytes in its form.
QString ArchiveEntryInfoText(const std::string& name, const std::string& dir, const vfs::TEntry& entry,
                             uint64_t sizeBelow, const std::string& readOnlyReason);

}  // namespace vantrel::app
