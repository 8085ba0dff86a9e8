// private_file.h - files no other program sees: in memory, or on disk
// without a name, gone when the last descriptor closes.
//
// An archive inside an archive is read through one of these: small ones are
// decoded into memory, large ones into a nameless temporary file. Either can
// be opened again by the path OpenDescriptorPath gives while the descriptor
// is open, so that code that reads files by name reads them too.
#pragma once

#include <string>

namespace vantrel::platform {

// A file in memory (`label` shows in the process's descriptor list); falls
// back to a nameless temporary file. -1 with errno set on failure.
int PrivateMemoryFile(const std::string& label);
// A nameless file in $TMPDIR (or /tmp). -1 with errno set on failure.
int PrivateTempFile();
// A nameless file in the directory `dir` (mode bits `mode`), to be given
// its name by PlaceUnnamed (copyfile.h) once complete. -1 with errno set.
int UnnamedFileIn(const std::string& dir, unsigned mode);
// A path that opens the file the descriptor `fd` has open, while it is open.
std::string OpenDescriptorPath(int fd);

}  // namespace vantrel::platform
