// file_search.h - the search behind the Find file dialog, without any window.
//
// Search walks a directory tree depth first: a directory's own matches come
// before those of its subdirectories, each in the order the system lists
// them. It never follows a symbolic link into a directory and never enters a
// directory twice (device and inode), so link loops and bind-mount cycles end;
// a directory that cannot be entered is skipped silently.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/fs.h"

namespace vantrel::app {

struct TFoundFile {
  std::string Directory;  // ends in "/"
  std::string Name;
  uint64_t Size = 0;
  platform::FileTime LastWriteTime = 0;

  std::string Path() const { return Directory + Name; }
};

struct TFileSearch {
  // Called for each match, in order.
  std::function<void(TFoundFile&&)> OnFound;
  // Asked between directories and every few thousand entries; returning true
  // stops the search (Close or Escape while it runs). It is also where the
  // window serves pending events.
  std::function<bool()> ShouldStop;

  // Searches `start` (relative names are relative to the current directory;
  // one that cannot be entered makes the search run in the current directory)
  // for names matching `mask`. Returns false when it was stopped. The process's
  // current directory is the same afterwards.
  bool Search(const std::string& mask, const std::string& start);
};

}  // namespace vantrel::app
