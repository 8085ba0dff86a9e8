// dir_summary.h - what a directory holds, counted: files, directories,
// symbolic links and the files' bytes, everything below it.
//
// Links are counted as links and never followed, so a link to a parent or a
// loop of links cannot make the count run forever, and a file reached through
// a link is not counted twice. A directory that cannot be listed is counted
// as unreadable, never skipped silently. The count may run on a thread of its
// own: it touches nothing but the file system and its own result, and it asks
// `shouldStop` between entries.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vantrel::vfs {
class TSource;
}

namespace vantrel::tools {

struct TDirSummary {
  uint64_t files = 0;
  uint64_t directories = 0;  // below the directory, not counting itself
  uint64_t links = 0;
  uint64_t bytes = 0;        // the files' sizes
  uint64_t unreadable = 0;   // directories that could not be listed (itself included)
  std::string firstError;    // why the first of them could not be
  bool stopped = false;
};

// Counts what `path` holds. `progress`, when given, hears the running count
// after every directory.
TDirSummary SummariseDirectory(const std::string& path, const std::function<bool()>& shouldStop = {},
                               const std::function<void(const TDirSummary&)>& progress = {});

// The same for the place `inner` of a panel source (a directory inside an
// archive), through its listings.
TDirSummary SummarisePlace(vfs::TSource& source, const std::string& inner,
                           const std::function<bool()>& shouldStop = {});

}  // namespace vantrel::tools
