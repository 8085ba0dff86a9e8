// archive_writer.h - packing files into a new tar.gz, tar.xz, tar.zst or 7z
// archive through libarchive.
//
// The archive is written to a temporary file beside it and takes its name
// by one rename when it is complete, so a failure, a cancel or a crash never
// leaves a partial archive, and an archive of that name that existed stays
// as it was until the new one replaces it whole. Names are stored as the
// bytes they are; symbolic links as links (never followed); hard links of a
// tar as links to the first name packed. Directories are stored with
// everything below them. A file that cannot be read is left out and told;
// the rest goes on.
//
// Files can also be added to an archive that exists: the new one is then
// written from the old one's entries (less those the new names replace) and
// the new files, through the same temporary file and rename.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/stream_archive.h"

namespace vantrel::formats {

enum class TPackFormat : uint8_t { TarGz, TarXz, TarZst, SevenZip };

// "tar.gz", "tar.xz", "tar.zst", "7z": the name and the extension (with a
// dot in front).
const char* PackFormatName(TPackFormat format);

struct TPackRequest {
  std::string archive;             // the archive to write (replaced whole when it exists)
  std::string rootDir;             // the names are relative to it and stored so
  std::vector<std::string> names;  // entries of rootDir: files, links, directories (with all below)
  TPackFormat format = TPackFormat::TarGz;
  int level = 6;                   // 1 fastest to 9 best
  // The entries of the archive that exists stay in the new one (before the
  // names packed, which replace an entry of the same name or below it);
  // without an archive there it is packed as new.
  bool addToArchive = false;
};

// Every event that returns bool cancels the run with false (no archive is
// written). They run on the packing thread; `progress` also while the archive
// is finished and written out, so a cancel is heard within a block's time.
struct TPackEvents {
  // Bytes of file data packed of all (when an archive is added to, its
  // bytes read count too).
  std::function<bool(uint64_t done, uint64_t total)> progress;
  // The next item to pack: its stored name, how many were packed before it
  // and how many there are; once more with an empty name when all were.
  std::function<bool(const std::string& name, uint64_t itemsDone, uint64_t itemsTotal)> item;
  // An item left out (as it is added to the result's list), at once.
  std::function<void(const std::string& name, const std::string& why)> leftOut;
};

struct TPackResult {
  uint64_t files = 0, directories = 0, links = 0, bytes = 0;
  // What was left out (a relative name) and why.
  std::vector<std::pair<std::string, std::string>> leftOut;
};

// Packs the request's names into a new archive. False with `error` when no
// archive was written (the old one, if any, is untouched): ECANCELED after a
// cancel, else the reason. True when it was written, `result` then telling
// what went in and what was left out.
bool PackArchive(const TPackRequest& request, const TPackEvents& events, TPackResult* result,
                 TArchiveError* error);

}  // namespace vantrel::formats
