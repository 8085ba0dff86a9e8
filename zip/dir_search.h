// dir_search.h - TDirSearch, the recursive directory walker of the writer.
//
// A walk starts in one directory with a file mask and returns, one call at a
// time, every file whose name matches the mask, depth first in the order the
// file system lists the entries (nothing is sorted). With recursion, every
// subdirectory is returned as its path followed by "/" before anything inside
// it. One directory stream is open per level of the walk.
//
// Linux choices: every subdirectory but "." and ".." is entered (names that
// begin with a dot are ordinary names here); a symbolic link to a directory is
// followed like the directory, except into a directory the walk is already
// inside (a link that points back up the tree cannot make it loop); a
// symbolic link to a file is returned as that file; a link whose target is
// gone is passed over. The walk goes at most kMaxDepth levels below its start
// directory. With storeLinks, a symbolic link is returned as itself (a file
// item whose mode says link), whatever it points to, and never followed.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::zip {

// One match of a walk.
struct TDirItem {
  std::string name;      // the start directory as given, then the path below it
  bool isDirectory = false;
  int64_t size = 0;
  uint64_t dev = 0;      // identity of the file (symbolic links followed)
  uint64_t ino = 0;
  uint32_t mode = 0;
};

// One open directory of a walk.
struct TSearchData {
  std::string path;      // always ends with "/"
  DIR* dir = nullptr;
  int status = 0;        // 0 while items remain; else why it cannot be read (errno)
  bool told = false;     // that it cannot be read was said
  uint64_t dev = 0;      // identity of the directory, to recognise loops
  uint64_t ino = 0;
};

class TDirSearch {
 public:
  static constexpr int kMaxDepth = 255;

  TDirSearch(const std::string& startDir, bool recurse, const std::string& mask,
             bool storeLinks = false);
  ~TDirSearch();
  TDirSearch(const TDirSearch&) = delete;
  TDirSearch& operator=(const TDirSearch&) = delete;

  // The next match, or an empty name when the walk is over.
  std::string NextFile(int64_t& size);
  // The same with everything the walk knows about the match; false at the end.
  bool Next(TDirItem& item);

  // Told about what the walk passes over that the caller asked for: a
  // symbolic link whose target is gone or that loops (when its name matches
  // the mask), a link back into a directory the walk is inside, a directory
  // that cannot be read or lies too deep. Path, and why.
  std::function<void(const std::string& path, const std::string& why)> OnLeftOut;

 private:
  void Open(const std::string& path);
  bool Matches(std::string_view name) const;
  void LeftOut(const std::string& path, const std::string& why) const {
    if (OnLeftOut) OnLeftOut(path, why);
  }
  void CloseTop();

  std::vector<TSearchData> levels_;
  std::string mask_;
  bool recurse_;
  bool storeLinks_;
};

}  // namespace vantrel::zip
