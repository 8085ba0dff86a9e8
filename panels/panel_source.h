// panel_source.h - a place a panel lists that is not a local directory.
//
// A panel normally lists a directory of the file system. A source lets it
// list places inside something else (an archive, and later other kinds of
// storage) with the same records, so that sorting, marks, quick search and
// the text lines work unchanged. The panel shows such a place by a path that
// continues the file's own: "/home/u/photos.zip/2024/summer" is the place
// "2024/summer" of the source whose root is "/home/u/photos.zip".
//
// The source is read once when it is opened; listing a place afterwards
// costs no more than walking its own records, so moving around inside never
// reads the file again.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "panels/dirmodel.h"

namespace vantrel::panels {

class TPanelSource {
 public:
  virtual ~TPanelSource() = default;

  // The path the places continue: the archive's own path, or for an archive
  // inside another one the outer place's path and its name.
  virtual const std::string& Root() const = 0;
  // The entries directly in `place` ("" for the root, "2024/summer" below
  // it), without ".." and unsorted. False, with `error`, when the source has
  // no such place.
  virtual bool List(const std::string& place, TPanelModel::Entries& entries, std::string* error) = 0;
  // What the panel's last line shows instead of the free space of a volume:
  // the totals of the source and, when nothing can be changed, why.
  virtual std::string SummaryLine() const = 0;
  // The source a nested one was opened from (its root is a parent path of
  // this root), so that leaving needs no second read; null for the outermost.
  virtual std::shared_ptr<TPanelSource> Outer() const { return nullptr; }
  // The file line for `entry` of the place shown, when the source has more
  // to say than its name and size (the Trash: where an item came from);
  // empty for the usual line.
  virtual std::string EntryLine(const TFileEntry& entry) const {
    (void)entry;
    return {};
  }
};

// Whether `path` names a place of no file ("trash:///"): such a path goes to
// the source opener as it is, never joined to the current directory.
bool IsSchemePath(const std::string& path);

// Finds the source for a path that is no local directory: when a leading part
// of `path` is a file that can be shown as a folder, returns its source and
// sets `place` to the rest ("" for its root). Returns null when no part is,
// or with `error` set when one is but cannot be read.
using TSourceOpener =
    std::function<std::shared_ptr<TPanelSource>(const std::string& path, std::string& place, std::string* error)>;
// The program sets its opener once; without one a panel lists directories only.
void SetSourceOpener(TSourceOpener opener);
const TSourceOpener& SourceOpener();

// The place of `path` inside `root`: "" for the root itself, "a/b" for
// "root/a/b" (for a root ending in "/", "root" + "a/b"); false when `path`
// is not at or below `root`.
bool PlaceBelow(const std::string& root, const std::string& path, std::string& place);
// `root` and `place` joined as the panel shows them.
std::string PlacePath(const std::string& root, const std::string& place);

}  // namespace vantrel::panels
