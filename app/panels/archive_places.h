// archive_places.h - archives shown as folders in the panels.
//
// The panels list places of a source (panels/panel_source.h); here the
// program's archive readers become such sources: ZIP archives through the
// program's own engine, the other formats through the formats library, and
// archives inside archives level by level. One opener serves both panels and
// every tab, so an archive shown twice is read once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vantrel::panels {
class TFMPanel;
}
namespace vantrel::vfs {
class TSource;
class TPasswordProvider;
}  // namespace vantrel::vfs

namespace vantrel::app {

class TArchiveListing;

// Makes the panels show archives as folders; `passwords` is asked when an
// encrypted entry is first read (kept alive by the caller). Without one, a
// box asks: "Password for <archive>:", after a wrong one "Wrong password
// for <archive>. Password:".
void InstallArchivePlaces(vfs::TPasswordProvider* passwords);
void InstallArchivePlaces();

// The archive source a panel shows and the place in it ("" for its root);
// null when the panel shows a directory.
std::shared_ptr<vfs::TSource> ArchiveSourceOf(const panels::TFMPanel& panel);

// How to read the archive a panel shows once more, by another reader of its
// own (a job's, on another thread: a reader is used by one thread only).
struct TArchiveOrigin {
  std::string file;     // the file read: the archive, or the private copy of a nested one
  std::string display;  // its root as the panel shows it
  std::string readOnly; // why it cannot be changed, when it is forced so
  std::shared_ptr<const void> keep;  // keeps a nested one's private copy while held
  // A reader made on the window's thread that takes the panel's listing, for
  // the one job that reads `origin` (ArchiveToRead); null: read anew.
  std::shared_ptr<vfs::TSource> listed;
  bool Valid() const { return !file.empty(); }
};
TArchiveOrigin ArchiveOriginOf(const panels::TFMPanel& panel);
// The same for a job that reads from the archive: a tar.gz (any archive read
// through libarchive) listed whole is not decompressed again to list it.
TArchiveOrigin ArchiveToRead(const panels::TFMPanel& panel);
// A new reader of `origin`, asking `passwords`; null with `error`. The
// `listed` reader when there is one (each job is given its own).
std::shared_ptr<vfs::TSource> OpenArchiveAgain(const TArchiveOrigin& origin, vfs::TPasswordProvider* passwords,
                                               std::string* error);

// The place inside an archive a typed path names ("/home/u/a.zip/docs"):
// the reader the panels share, the place in it (not checked) and how to
// read it again. False when no leading part of `path` is an archive
// (`error` empty) or when the archive cannot be read (`error` says why).
struct TArchivePlace {
  std::shared_ptr<vfs::TSource> source;
  std::string inner;
  TArchiveOrigin origin;
};
bool OpenArchivePlace(const std::string& path, TArchivePlace& out, std::string* error);

// The passwords given this run, by archive display path, in memory only: a
// second reader of an archive (a job's) takes the one given for the first.
// Safe from any thread.
bool KnownPassword(const std::string& archive, std::string& password);
// The provider the panels' readers ask (the window's thread only): it
// remembers each answer for KnownPassword.
vfs::TPasswordProvider& ArchivePasswords();

// The listing of the archive `panel` shows when it is read on a worker
// thread (tar and the other formats read through libarchive); null else.
std::shared_ptr<TArchiveListing> ArchiveListingOf(const panels::TFMPanel& panel);
// Ctrl+R in an archive whose listing was stopped: reads it again to its end.
// False when the panel shows no such archive.
bool ContinueArchiveListing(panels::TFMPanel& panel);

// Archives inside archives up to this size are read from memory, larger
// ones from a nameless temporary file; neither is seen by other programs,
// and both go when the panels and jobs reading them are done.
uint64_t& NestedMemoryLimit();

// Keeps `panel` current while it shows an archive: when the file changes on
// disk (another program, a command of the other panel) it is read again and
// the cursor and the marks stay on their names; when it goes away the panel
// shows the directory it was in. Checked every kArchiveCheckMs. Also shows
// the rows of a listing under way as they are found (FollowArchiveListing).
inline constexpr int kArchiveCheckMs = 500;
void FollowArchiveChanges(panels::TFMPanel& panel);

// Reads the names of the ZIP archive `panel` shows again in `page` (empty:
// automatic), remembers the choice (vfs::ChooseCodePage: the ZIP window and
// every later reading of the archive use it too) and lists the panel again (at the
// archive's root when its place no longer exists under the new names).
// False, saying why, when the panel shows no ZIP archive of its own or the
// archive cannot be read.
bool SetPanelCodePage(panels::TFMPanel& panel, const std::string& page, std::string* error);
// The page the panel's ZIP archive is read in: the choice ("" automatic) and
// the page automatic found ("CP866"; empty when no name needed one); false
// when the panel shows no ZIP archive.
bool PanelCodePage(const panels::TFMPanel& panel, std::string& chosen, std::string& used);

// The path inside the archive of what the panel shows as `shown` (a place,
// or a place and a name): names that would move the panel ("", ".", "..")
// are shown behind an open box, "\u2423..", and so is a name that begins
// with one; this gives the names as stored back.
std::string EntryPathOf(const std::string& shown);

// Writes the entry `inner` of `source` into the new file `target` (made
// for the user only); false with `error` when it cannot be read (a cancelled
// password question leaves `error` empty) and no file is left.
bool WriteEntryToFile(vfs::TSource& source, const std::string& inner, const std::string& target, std::string* error);

// The line below an archive panel in the language chosen, each count with
// its form: "3 files: 1,234 bytes, packed 567 bytes", after "Partial
// listing: N entries found, Ctrl+R reads the rest | " when the listing was
// stopped early (`partial`), and " | " and why the archive cannot be changed
// (`readOnlyReason`, kept as its bytes). While the archive is read: "Reading
// the archive: N entries found (P%); Esc stops".
std::string ArchiveSummaryLine(uint64_t files, uint64_t bytes, uint64_t packed, std::optional<uint64_t> partial,
                               const std::string& readOnlyReason);
std::string ArchiveReadingLine(uint64_t found, int percent);

}  // namespace vantrel::app
