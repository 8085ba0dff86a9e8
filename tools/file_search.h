// file_search.h - the search behind the Find file dialog, without any window.
//
// Search walks a directory tree depth first: a directory's own matches come
// before those of its subdirectories, each in the order the system lists
// them. It never follows a symbolic link into a directory and never enters a
// directory twice (device and inode), so link loops and bind-mount cycles
// end. A file matches when its name matches the mask (compared as written
// and, for Unicode names, in composed form, so a name stored decomposed is
// found by a mask typed composed and the other way round), its size and
// modification time are within the limits, and, with a content matcher, its
// data hold a match. Data are read in blocks of kScanBlock bytes without
// changing the file's access time where the system permits (O_NOATIME), and
// reading stops at the first match. With `inArchives`, archives of the known
// formats are searched like directories (their entries by name, size, time
// and content); nested archives are not opened.
//
// Nothing is skipped silently: a directory that cannot be listed, a file
// that cannot be read for its content and an archive or an archive entry
// that cannot be read are each reported through OnUnreadable with the
// reason, and counted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace vantrel::tools {

class TArchiveFormat;
class TContentMatcher;

struct TFoundFile {
  std::string Directory;  // ends in "/"; inside an archive: the archive's path, "/", the entry's directory
  std::string Name;
  uint64_t Size = 0;
  platform::FileTime LastWriteTime = 0;
  std::string Archive;    // the archive file's path when the file is an entry of it
  std::string Line;       // a content search's first matching line (UTF-8 for display)
  size_t MatchStart = 0;  // the match within Line
  size_t MatchLength = 0;

  std::string Path() const { return Directory + Name; }
  bool InArchive() const { return !Archive.empty(); }
  // The entry's path inside its archive.
  std::string PathInArchive() const { return Path().substr(Archive.size() + 1); }
};

// Something the search could not look at.
struct TUnreadable {
  std::string Path;    // a directory's ends in "/"
  std::string Reason;  // the system's text ("Permission denied"), or the archive engine's
};

struct TSearchCriteria {
  std::string mask = "*.*";
  // With one, only files whose data hold a match are found.
  const TContentMatcher* content = nullptr;
  uint64_t minSize = 0;
  uint64_t maxSize = UINT64_MAX;
  platform::FileTime modifiedFrom = 0;           // at or after
  platform::FileTime modifiedTo = UINT64_MAX;    // before
  bool inArchives = false;
};

struct TSearchCounts {
  uint64_t directories = 0;
  uint64_t files = 0;       // files and archive entries looked at
  uint64_t bytesRead = 0;   // data read for content
  uint64_t unreadable = 0;
};

struct TFileSearch {
  // Called for each match, in order.
  std::function<void(TFoundFile&&)> OnFound;
  // Called for each item that could not be looked at.
  std::function<void(TUnreadable&&)> OnUnreadable;
  // Asked between directories, every few thousand entries and every few
  // blocks of a large file; returning true stops the search.
  std::function<bool()> ShouldStop;
  // The archive formats looked into when the criteria ask for it.
  std::vector<const TArchiveFormat*> ArchiveFormats;

  // Searches `start` (relative names are relative to the current directory;
  // one that cannot be entered makes the search run in the current directory).
  // Returns false when it was stopped. The process's current directory is
  // never changed, so an absolute `start` may be searched on any thread.
  bool Search(const TSearchCriteria& criteria, const std::string& start);
  // By name alone.
  bool Search(const std::string& mask, const std::string& start);

  const TSearchCounts& Counts() const { return counts_; }

 private:
  TSearchCounts counts_;
};

// Whether `name` matches the wildcard `mask` as written or with both in
// composed Unicode form.
bool MatchName(const std::string& mask, const std::string& name);

}  // namespace vantrel::tools
