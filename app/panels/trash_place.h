// trash_place.h - the Trash shown in a panel.
//
// "trash:///" lists every item of the user's trashes (vfs/trash_source.h):
// the Date and Time columns show when an item was deleted, the Size column
// its size, and the file line where it came from. A trashed directory is
// entered as any directory; ".." at the Trash's top goes to the home
// directory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vantrel::panels {
class TFMPanel;
struct TFileEntry;
class TPanelSource;
}  // namespace vantrel::panels
namespace vantrel::vfs {
class TTrashSource;
}

namespace vantrel::app {

// The panel source of a "trash:///..." path, `place` set to the place in
// it; null for any other path.
std::shared_ptr<panels::TPanelSource> OpenTrashPlace(const std::string& path, std::string& place);

// The Trash `panel` shows; null when it shows anything else.
std::shared_ptr<vfs::TTrashSource> TrashSourceOf(const panels::TFMPanel& panel);

// The Trash's line below a panel, in the language chosen: at the top "Trash:
// 3 items, 12,345 bytes | F5 restores, F8 deletes permanently" (or "The Trash
// is empty"), in a trashed directory "3 items: 12,345 bytes | in the Trash";
// each count with the form it takes.
std::string TrashSummaryLine(bool top, uint64_t count, uint64_t bytes);
// The file line of an item at the Trash's top, in the language chosen: the
// entry's line and where it came from (its directory, or the whole
// `original` path when the item's name differs from it): "photos.zip-
// size:1,234 bytes, from /home/u/Pictures".
std::string TrashEntryLine(const panels::TFileEntry& entry, const std::string& original);

// Where a panel goes from the Trash's top: the home directory.
std::string TrashParentDirectory();

// Where a panel that was left at the Trash place `saved` starts: that place
// while it is there, the Trash's top when the trashed directory it showed
// was restored or erased meanwhile, and the home directory when the user has
// no usable trash directory any more. Empty when `saved` is no Trash place.
std::string TrashStartPlace(const std::string& saved);

}  // namespace vantrel::app
