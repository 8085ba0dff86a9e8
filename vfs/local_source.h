// local_source.h - a local directory tree as a source.
//
// Inner paths are below the root directory; a component ".." or one that
// would lead elsewhere is refused, so that a name taken from an archive
// cannot point outside. Changes are made at once, one by one: a directory
// is deleted with everything below it (links are removed, never followed),
// a file is written under a hidden name beside its place and renamed over
// it only when complete.
#pragma once

#include "vfs/source.h"

namespace vantrel::vfs {

class TLocalSource final : public TSource {
 public:
  explicit TLocalSource(std::string root);

  std::string Root() const override { return root_; }
  TCapabilities Capabilities() const override;
  bool List(const std::string& inner, std::vector<TEntry>& out, TError* err) override;
  bool Stat(const std::string& inner, TEntry& out, TError* err) override;
  bool ReadInto(const std::string& inner, TDataSink& sink, const TProgress& progress,
                TError* err) override;
  bool Apply(const TChangeSet& changes, const TProgress& progress, TError* err) override;

  // The local path of an inner path; false when it would leave the root.
  bool LocalPath(const std::string& inner, std::string& path) const;

 private:
  bool ApplyOne(const TChange& change, const TProgress& progress, TError* err);
  bool LinkOne(const TChange& change, const std::string& path, TError* err);
  bool PutOne(const TChange& change, const std::string& path, const TProgress& progress, TError* err);
  std::string root_;
  // The process's file-creation mask, read at the first file written: a new
  // file whose mode it leaves whole needs no change of its permissions.
  uint32_t creationMask_ = 0;
  bool maskKnown_ = false;
};

}  // namespace vantrel::vfs
