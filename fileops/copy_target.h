// copy_target.h - what the destination typed for Copy (F5) or Move (F6)
// means for the items being copied.
//
// The rules, as users of two-panel file managers and of cp know them:
// - a destination that is an existing directory (also through a link), or
//   that ends in "/", takes the items into it; a missing directory typed
//   with a trailing "/" is made first, with every missing level above it;
// - one item onto any other name is copied (moved) under that name, into
//   the directory the name is in, which must exist; an existing file of
//   that name is replaced only after the overwrite question;
// - several items onto one name that is not a directory are refused before
//   anything happens: they cannot all become that one file.
#pragma once

#include <cstddef>
#include <string>

namespace vantrel::fileops {

struct TCopyTarget {
  enum class TKind {
    Into,     // the items go into `dir`, keeping their names
    AsName,   // the one item goes into `dir` as `name`
    Refused,  // nothing happens; `message` says why
  };
  TKind kind = TKind::Refused;
  std::string dir;         // Into, AsName: the destination directory
  std::string name;        // AsName: the item's new name, one entry of `dir`
  bool createDir = false;  // Into: `dir` does not exist yet and must be made first
  std::string message;     // Refused: the text to show
};

// Reads `typed` (bytes, absolute or relative to `baseDir`) as the destination
// of `itemCount` items. `move` only changes the verb of a refusal. Looks at
// the file system (whether names exist and are directories) but changes
// nothing.
TCopyTarget ResolveCopyTarget(size_t itemCount, const std::string& typed, const std::string& baseDir,
                              bool move);

}  // namespace vantrel::fileops
