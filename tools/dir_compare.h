// dir_compare.h - comparing two directories, as Compare directories does.
//
// The entries of the two directories are paired by name (bytes, with case).
// A pair differs when one side lacks it, when the kinds differ (file,
// directory, symbolic link), and, for two files, by the criteria chosen in
// this order: the modification times (the newer side differs; times within
// kTimeTolerance count as equal, since some file systems keep two seconds),
// the sizes, and the data (read once each, side by side, in blocks, without
// changing the access times where the system permits; only for files of the
// same size). Two symbolic links differ when their targets do; they are
// never followed. Without recursion, two directories of the same name are
// equal; with it, they are compared entry by entry and differ when anything
// below them does.
//
// Nothing is skipped silently: a directory that cannot be listed or a file
// that cannot be read for its data is reported (TUnreadable) and counted,
// and the pair is not called different for it.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tools/file_search.h"

namespace vantrel::tools {

struct TCompareOptions {
  bool byDate = true;
  bool bySize = true;
  bool byContent = false;
  bool recursive = false;
};

enum class TDifference : uint8_t {
  OnlyLeft,
  OnlyRight,
  LeftNewer,
  RightNewer,
  Size,
  Content,
  Kind,  // a file on one side, a directory or a link on the other
};

// One difference: the path below both directories ("/" between the parts).
struct TCompareItem {
  std::string path;
  TDifference difference;
};

struct TCompareResult {
  std::vector<TCompareItem> items;  // every difference, a directory's before its subdirectories'
  std::vector<TUnreadable> unreadable;
  // The entries of each directory itself to mark: those that differ, and
  // (with recursion) the subdirectories that hold a difference. A side
  // marks what it has more of or newer; both mark a size, data or kind
  // difference.
  std::set<std::string> leftMarks, rightMarks;
  uint64_t pairs = 0;      // entries compared on both sides
  uint64_t bytesRead = 0;  // data read from both sides
  bool stopped = false;
};

// Times this close (in file-time units of 100 ns) count as equal.
inline constexpr uint64_t kTimeTolerance = 2 * 10000000ULL;

struct TDirCompare {
  // Asked between entries and every few blocks; true stops the comparison.
  std::function<bool()> ShouldStop;

  TCompareResult Compare(const std::string& left, const std::string& right, const TCompareOptions& options);
};

}  // namespace vantrel::tools
