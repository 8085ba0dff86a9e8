// archive_search.h - looking into archives during a file search.
//
// The search knows archives only through this interface: a format claims
// files by name and opens them into a list of items whose data it streams.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs.h"

namespace vantrel::tools {

struct TArchiveItem {
  std::string path;  // as stored, "/" between the parts (no leading "/")
  uint64_t size = 0;
  platform::FileTime writeTime = 0;
  bool directory = false;
  bool encrypted = false;
};

// Receives an item's data in blocks; false stops the reading.
using TArchiveSink = std::function<bool(const uint8_t* data, size_t n)>;

class TArchiveReader {
 public:
  virtual ~TArchiveReader() = default;
  virtual const std::vector<TArchiveItem>& Items() const = 0;
  // Streams item `index`'s data into `sink`. False with `error` when it
  // cannot be read whole (damaged, needs a password); the sink may have had
  // part of the data. A sink that stops the reading makes it return true.
  virtual bool Read(size_t index, const TArchiveSink& sink, std::string* error) = 0;
};

class TArchiveFormat {
 public:
  virtual ~TArchiveFormat() = default;
  // Whether a file of this name is an archive of the format (by its
  // extension: looking into every file would cost a read of each).
  virtual bool Claims(std::string_view name) const = 0;
  // Null with `error` when the file is no readable archive of the format.
  virtual std::unique_ptr<TArchiveReader> Open(const std::string& path, std::string* error) const = 0;
};

// Tar (plain or compressed), 7z, RAR, ISO images, cpio, Debian and RPM
// packages, cabinets and single compressed files (".gz", ".xz", ...), read
// through libarchive. A damaged archive is reported with the reason; an
// archive damaged part-way is not searched in part.
const TArchiveFormat& OtherArchiveFormat();

// ZIP archives and the formats built on them (.jar, .docx, .odt, .apk,
// .epub...) through the program's own engine. An encrypted entry is reported
// as unreadable (the search asks for no password).
const TArchiveFormat& ZipArchiveFormat();

}  // namespace vantrel::tools
