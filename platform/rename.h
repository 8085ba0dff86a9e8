// rename.h - creating and renaming single entries for the small dialogs.
#pragma once

#include <string>
#include <string_view>

namespace vantrel::platform {

// Creates an empty file readable and writable by its owner (and by others as
// the umask allows), failing when anything of that name exists. Returns 0 or
// an errno value.
int CreateNewFile(const std::string& name);

// Creates one directory; its parent must exist. Returns 0 or an errno value.
int MakeDirectory(const std::string& name);

// Creates the directory `name` with every missing directory above it ("a/b/c"
// makes a, a/b and a/b/c as needed). Directories on the way that exist are
// used as they are (through links too); a file on the way gives ENOTDIR, and
// an existing `name` itself EEXIST. Levels made before a failure stay.
// Returns 0 or an errno value.
int MakeDirectoryPath(const std::string& name);

// True when `a` and `b` name the same directory entry: the same last name in
// the same directory, however the directory is spelled ("x", "./x",
// "../here/x"). Hard links are different entries.
bool SameEntryName(const std::string& a, const std::string& b);

// Moves `from` to `to` without ever replacing an existing `to`. Within one
// volume this is an atomic rename of a file, link or directory. Across
// volumes a file or link is copied (through a temporary file, with its
// permission bits and times) and the original removed only once the copy is
// complete; a directory cannot cross volumes (EXDEV). Returns 0 or an errno value.
int RenameNoReplace(const std::string& from, const std::string& to);

// Writes `data` as the file `path` (mode 0600 when new), whole: into
// "<path>.new" first, then renamed over `path`, so that no reader ever finds
// half of it. Returns 0 or an errno value (the ".new" file is gone then).
int WriteWholeFile(const std::string& path, std::string_view data);

}  // namespace vantrel::platform
