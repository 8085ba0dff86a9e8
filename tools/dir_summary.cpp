// dir_summary.cpp - counting what a directory holds, depth first, with an
// explicit stack (deep trees cost no call depth).
#include "tools/dir_summary.h"

#include "vfs/source.h"

#include <vector>

#include "platform/fs.h"

namespace vantrel::tools {

TDirSummary SummariseDirectory(const std::string& path, const std::function<bool()>& shouldStop,
                               const std::function<void(const TDirSummary&)>& progress) {
  TDirSummary sum;
  std::vector<std::string> pending{path};
  while (!pending.empty()) {
    if (shouldStop && shouldStop()) {
      sum.stopped = true;
      break;
    }
    const std::string dir = std::move(pending.back());
    pending.pop_back();
    std::string error;
    const bool listed = platform::EnumerateDirectory(
        dir,
        [&](platform::FindData&& e) {
          if (e.name == "." || e.name == "..") return;
          if ((e.attributes & platform::kAttrReparsePoint) != 0) {
            ++sum.links;
          } else if ((e.attributes & platform::kAttrDirectory) != 0) {
            ++sum.directories;
            pending.push_back(platform::JoinPath(dir, e.name));
          } else {
            ++sum.files;
            sum.bytes += e.size;
          }
        },
        &error);
    if (!listed) {
      ++sum.unreadable;
      if (sum.firstError.empty()) sum.firstError = dir + ": " + error;
    }
    if (progress) progress(sum);
  }
  return sum;
}

TDirSummary SummarisePlace(vfs::TSource& source, const std::string& inner, const std::function<bool()>& shouldStop) {
  TDirSummary sum;
  std::vector<std::string> pending{inner};
  std::vector<vfs::TEntry> entries;
  while (!pending.empty()) {
    if (shouldStop && shouldStop()) {
      sum.stopped = true;
      break;
    }
    const std::string place = std::move(pending.back());
    pending.pop_back();
    vfs::TError err;
    if (!source.List(place, entries, &err)) {
      ++sum.unreadable;
      if (sum.firstError.empty()) sum.firstError = source.Root() + "/" + place + ": " + err.text;
      continue;
    }
    for (const vfs::TEntry& e : entries) {
      switch (e.kind) {
        case vfs::TEntryKind::Link: ++sum.links; break;
        case vfs::TEntryKind::Directory:
          ++sum.directories;
          pending.push_back(vfs::JoinInner(place, e.name));
          break;
        default:
          ++sum.files;
          sum.bytes += e.size;
          break;
      }
    }
  }
  return sum;
}

}  // namespace vantrel::tools
