// entry_record.h - the panel's row for an entry of a panel source (an
// archive, the Trash): its kind as attributes, sizes and times. No Qt, so a
// benchmark lists a source the way the panels do.
#pragma once

#include <memory>

#include "panels/dirmodel.h"
#include "platform/fs.h"
#include "vfs/source.h"

namespace vantrel::app {

// The row for `e`, whose name is moved into it. `packed`: the source packs
// its files, so a file's row shows its packed size too. No time (a
// directory known only from the paths below it): none shown.
inline std::unique_ptr<panels::TFileEntry> EntryRecord(vfs::TEntry& e, bool packed) {
  auto r = std::make_unique<panels::TFileEntry>();
  switch (e.kind) {
    case vfs::TEntryKind::Directory:
      r->FileAttributes = platform::kAttrDirectory;
      break;
    case vfs::TEntryKind::Link:
      r->FileAttributes = platform::kAttrReparsePoint | (e.linkToDirectory ? platform::kAttrDirectory : 0);
      break;
    default:
      r->FileAttributes = platform::kAttrArchive;
      break;
  }
  r->FileSize = e.size;
  r->HasPackedSize = packed && !r->IsDirectory();
  if (packed) r->PackedSize = e.packedSize;
  const platform::FileTime t = e.mtime != 0 ? platform::FileTimeFromUnix(e.mtime, 0) : 0;
  r->CreationTime = r->LastAccessTime = r->LastWriteTime = t;
  r->FileName = std::move(e.name);
  return r;
}

}  // namespace vantrel::app
