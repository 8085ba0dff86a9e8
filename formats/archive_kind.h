// archive_kind.h - what kind of archive a file holds, by its content.
//
// The formats a Linux user meets besides ZIP: tar (plain or compressed by
// gzip, bzip2, xz, lzma, zstd, lz4, lzip or compress), 7z, RAR 4 and 5, ISO
// 9660 images (Rock Ridge and Joliet names), cpio, ar, Debian packages (their
// data archive, the control archive beside it), RPM packages (their cpio
// payload), cabinets, and a single compressed file (shown as one entry).
// ZIP is not among them: the program's own engine reads ZIP archives.
//
// Recognition reads the start of the file (libarchive's bidding) and, for
// a tar, the first header; a file that is only compressed data with no
// archive inside is a single compressed file; anything else is no archive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct archive;

namespace vantrel::formats {

enum class TLayout : uint8_t {
  None,          // not an archive of ours
  Archive,       // one archive stream
  DebianPackage, // an ar archive whose data and control archives are shown
  SingleFile,    // compressed data without an archive inside: one entry
};

// One archive stream of the file: the whole file, or a member of a package.
struct TStreamPart {
  uint64_t start = 0;
  uint64_t length = 0;
  // Put before every name of the part ("DEBIAN/" for a package's control
  // archive); empty for the main part.
  std::string prefix;
};

struct TArchiveKind {
  TLayout layout = TLayout::None;
  int format = 0;            // ARCHIVE_FORMAT_* of the (first) part, base code
  std::vector<int> filters;  // ARCHIVE_FILTER_* codes, outermost first, none left out
  std::string name;          // "tar.gz", "7z", "RAR", "ISO 9660", "deb", "gz", ...
  std::vector<TStreamPart> parts;
  uint64_t fileSize = 0;
  // The header of the first member is encrypted (7z, RAR): libarchive cannot
  // list it, 7-Zip can with the password.
  bool encryptedHeaders = false;

  bool Recognised() const { return layout != TLayout::None; }
  // An uncompressed tar: its members can be read on their own, by seeking
  // to their headers.
  bool SeekableTar() const;
  // The text that tells why nothing can be changed inside.
  std::string ReadOnlyText() const;
};

// Examines the file at `path` by its content.
TArchiveKind ProbeArchive(const std::string& path);
// The same for an open descriptor (read with pread; the offset is kept).
TArchiveKind ProbeArchive(int fd);

// A new libarchive reader that knows the formats and compressions above (and
// no other: no ZIP, no text formats that any file could resemble). With
// `raw`, data that is compressed but holds no archive are one entry.
struct archive* NewArchiveReader(bool raw);

// The display name of a format with its compressions ("tar.xz", "cpio.gz").
std::string KindName(int format, const std::vector<int>& filters, bool rpm);

// The name of the one entry of a single compressed file: its file name
// without the compression's suffix ("notes.txt.gz" gives "notes.txt",
// "drawing.svgz" gives "drawing.svg").
std::string SingleEntryName(const std::string& fileName);

// Whether a file's name says it is an archive of these formats ("src.tar.gz",
// "backup.tzst", "disk.iso", "pkg.deb"), so that Enter goes into it. A name
// of a single compressed file ("notes.txt.gz") is not one: Enter opens such
// a file, Ctrl+PgDn still shows it as one entry. Case is ignored.
bool HasArchiveName(std::string_view name);

}  // namespace vantrel::formats
