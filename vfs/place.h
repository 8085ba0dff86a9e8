// place.h - where a panel is: a local directory, or a place inside an
// archive (perhaps inside another archive), and the sources that show them.
//
// A place is shown and typed as one path: "/home/u/photos.zip/2024/summer".
// The part that exists on disk ends at the archive file; what follows is a
// path inside it. A file in the middle of the part inside an archive is an
// archive within it (a nested level): "/data/outer.zip/inner.tar.gz/src".
#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vfs/password.h"
#include "vfs/source.h"

namespace vantrel::vfs {

struct TPlacePath {
  // A local directory, or the outermost archive file when `archive`.
  std::string file;
  bool archive = false;
  // The entry paths of archives inside archives, outermost first.
  std::vector<std::string> nested;
  // The place inside the innermost archive ("" its root).
  std::string inner;

  // "/home/u/photos.zip/2024/summer".
  std::string Display() const;
  // The place above: at an archive's root, the directory (or the archive)
  // that holds it. A local "/" has none (itself).
  TPlacePath Parent() const;
  // The place of the entry `name` of this one (a directory entered).
  TPlacePath Child(const std::string& name) const;
  // The root of the archive `name`, an entry of this place (Enter on an
  // archive): a local archive file, or a nested level.
  TPlacePath IntoArchive(const std::string& name) const;
  // The display path of the innermost archive's root ("" for a local place).
  std::string ArchiveDisplay() const;
  bool operator==(const TPlacePath&) const = default;
};

enum class TArchiveType : uint8_t { None, Zip, Other };
// What the local file holds, by its content.
TArchiveType DetectArchive(const std::string& localFile);

class TPlaceOpener {
 public:
  explicit TPlaceOpener(TPasswordProvider* passwords = nullptr);
  ~TPlaceOpener();

  // Splits a typed or stored display path into a place. Looks at the disk,
  // and at the archives' listings for nested levels. False with `err` when
  // no part of it exists.
  bool Parse(const std::string& display, TPlacePath& out, TError* err);

  // The source that shows `place` (a local directory's, or the innermost
  // archive's), opened on first use and shared while anyone holds it: both
  // panels and every tab in one archive see one source, read once. An
  // archive that changed on disk is read again.
  std::shared_ptr<TSource> Source(const TPlacePath& place, TError* err);

  // Nested archives up to this size are decoded into memory, larger ones
  // into a private temporary file. Nested archives are read-only.
  uint64_t NestedMemoryLimit = 64ull << 20;
  static constexpr const char* kNestedReadOnly =
      "Archives inside archives are read-only here; extract it to change it";
  // The code Source fails with when a file (or an entry) holds no archive
  // that can be opened here: a caller may then show it as the file it is.
  static constexpr int kNoArchive = EMEDIUMTYPE;

 private:
  std::shared_ptr<TSource> OpenArchive(const std::string& localPath, const std::string& display, bool nested,
                                       TError* err);
  std::shared_ptr<TSource> OpenNested(TSource& outer, const std::string& entry, const std::string& display,
                                      TError* err);

  TPasswordProvider* passwords_;
  std::map<std::string, std::weak_ptr<TSource>> open_;  // by display path of the archive
};

}  // namespace vantrel::vfs
