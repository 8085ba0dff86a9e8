// trash.h - the desktop Trash: moving items into it, listing, restoring and
// erasing them, in the layout every desktop shares.
//
// A trash directory holds `files/` (the trashed items under unique names) and
// `info/` (one "NAME.trashinfo" per item with its original path, percent-
// encoded, and its deletion date), and may hold `directorysizes`, a cache of
// the disk usage of the trashed directories. Which trash directory an item
// goes to depends on its volume:
//
// - on the volume of the home trash ($XDG_DATA_HOME/Trash, by default
//   ~/.local/share/Trash): the home trash, with absolute original paths;
// - elsewhere, with $topdir the top directory of the item's volume:
//   $topdir/.Trash/$uid when $topdir/.Trash is a real directory (no link)
//   with the sticky bit, else $topdir/.Trash-$uid, made when missing; both
//   must be real directories owned by the user. Their original paths are
//   relative to $topdir.
//
// Nothing is ever copied into a trash: an item is renamed into it, so a
// volume without a usable trash (read-only, no room for .Trash-$uid, a
// trash directory that is a link or someone else's) has none, and the caller
// deletes permanently after saying so. The info file is made first and
// exclusively, so two programs trashing at once never share a name; the
// item then moves with a rename that never replaces anything, so a crash
// leaves at worst an info file without its item, which listing ignores.
//
// Names are bytes: the percent-encoding keeps every byte of a name that is
// not valid UTF-8.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::platform {

// What the trash rules depend on. FromProcess reads the environment; tests
// give a private home trash and may name the top directory of a volume.
struct TrashEnv {
  std::string homeTrash;  // $XDG_DATA_HOME/Trash
  uid_t uid = 0;
  // The top directory of the volume holding the directory `dir`; by default
  // the highest directory above it on the same device.
  std::function<std::string(const std::string& dir)> topdirOf;
  // Whether the item at `path` is on the home trash's volume; by default the
  // devices are compared.
  std::function<bool(const std::string& path)> onHomeVolume;

  static TrashEnv FromProcess();
};

// One trash directory.
struct TrashDir {
  std::string path;    // holds files/ and info/
  std::string topdir;  // original paths in it are relative to this; empty for the home trash
};

// One item in a trash.
struct TrashedItem {
  TrashDir trash;
  std::string name;          // its name in files/ (and info/ without ".trashinfo")
  std::string originalPath;  // absolute, decoded
  time_t deletionDate = 0;   // 0 when the info file has none that can be read
  bool directory = false;    // as it is in files/ (a link counts as a file)
  uint64_t size = 0;         // bytes of a file; the disk usage of a directory
};

// RFC 2396 escaping as the info files use it: every byte but letters, digits,
// "-_.!~*'()" and "/" becomes %XX. Decoding turns every valid %XX back into
// its byte and leaves anything else as it is.
std::string TrashEncodePath(const std::string& path);
std::string TrashDecodePath(const std::string& text);
// "YYYY-MM-DDThh:mm:ss" in local time, and back (-1 when it cannot be read).
std::string TrashFormatDate(time_t t);
time_t TrashParseDate(const std::string& text);

// The contents of an info file for an item, and the reading of one: false
// when it is not an info file (no [Trash Info] group or no Path).
std::string TrashInfoText(const std::string& storedPath, time_t deletionDate);
bool ParseTrashInfo(const std::string& text, std::string& storedPath, time_t& deletionDate);

// Moves items into their volumes' trashes. Keeps the trash directories it
// found per device and the directorysizes entries it has to add, which it
// writes in one replacement per trash at Flush (and at destruction).
class TrashSession {
 public:
  explicit TrashSession(TrashEnv env = TrashEnv::FromProcess());
  ~TrashSession();
  TrashSession(const TrashSession&) = delete;
  TrashSession& operator=(const TrashSession&) = delete;

  // The trash the item at `path` would go to; with `create` the trash
  // directory and its files/ and info/ are made when missing. Returns 0 or
  // an errno value: EROFS for a read-only volume, ENOTSUP where no trash can
  // be used, EXDEV for an item inside a trash (it can only be erased).
  int TrashFor(const std::string& path, bool create, TrashDir& out);
  // Whether every item can go to a trash (nothing is made on disk).
  bool CanTrash(const std::vector<std::string>& paths);

  // Moves `path` into its trash. Returns 0 or an errno value; on failure
  // nothing was changed. `out`, when given, describes the trashed item.
  int Trash(const std::string& path, TrashedItem* out = nullptr);

  // Writes the directorysizes of every trash that got a directory.
  void Flush();

 private:
  struct Cached;
  TrashEnv env_;
  std::map<std::string, std::shared_ptr<Cached>> byDir_;  // source directory -> its trash
  std::map<std::string, std::vector<std::string>> pendingSizes_;  // trash path -> dir names
  time_t dateSecond_ = -1;
  std::string dateText_;
};

// Every trash directory of the user that exists: the home trash, then those
// at the top of each mounted volume in `topdirs`.
std::vector<TrashDir> ExistingTrashDirs(const TrashEnv& env, const std::vector<std::string>& topdirs);

// The items of one trash, in no particular order; info files without an item
// and items without an info file are left out.
std::vector<TrashedItem> ListTrash(const TrashDir& trash);

// Puts `item` back at `target` (its original path when empty), making the
// directories above it that are missing. Never replaces anything: EEXIST
// when the name is taken. Returns 0 or an errno value.
int RestoreFromTrash(const TrashedItem& item, const std::string& target = {});

// Removes `item` from its trash for good (the item first, then its info
// file). Returns 0 or the first errno value met; what could be removed is.
int EraseFromTrash(const TrashedItem& item);

// Rewrites the directorysizes of `trash`: entries of directories that are no
// longer in it go, `added` (names in files/) get their sizes measured now.
void UpdateDirectorySizes(const TrashDir& trash, const std::vector<std::string>& added);
// Reads the directorysizes of `trash`: name -> disk usage, for entries whose
// info file still has the recorded modification time.
std::map<std::string, uint64_t> ReadDirectorySizes(const TrashDir& trash);

// The disk usage of a tree in bytes (allocated blocks, as du -B1 counts),
// never following links.
uint64_t DiskUsage(const std::string& path);

// Removes the tree at `path` (a file, link or directory, never what a link
// points to), giving its directories owner access where they lack it.
// Returns 0 or the first errno value met.
int RemoveTree(const std::string& path);

}  // namespace vantrel::platform
