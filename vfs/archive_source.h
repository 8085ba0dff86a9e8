// archive_source.h - a place inside a tar, 7z, RAR, ISO, cpio, package or
// other archive that is not ZIP, through formats/ (libarchive).
//
// Read-only, with the reason the format gives ("tar.gz archives are
// read-only here; pack a new one with Alt+F5"). A compressed tar has no
// directory: it is listed once, while decompressing (ReadListing tells each
// member as it is found and can be stopped, keeping what was found), and the
// listing is kept, so that browsing never decompresses again. Members read
// one call at a time still make one pass over a stream when the caller says
// which it will ask for (Expect).
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "formats/stream_archive.h"
#include "vfs/password.h"
#include "vfs/path_index.h"
#include "vfs/source.h"

namespace vantrel::vfs {

class TArchiveSource final : public TSource {
 public:
  // Opens the archive (its kind by content); nothing is listed yet. Null
  // with `err` when the file holds no archive of these formats.
  static std::unique_ptr<TArchiveSource> Load(const std::string& archivePath, const std::string& displayRoot,
                                              TPasswordProvider* passwords, TError* err);
  ~TArchiveSource() override;

  // Lists the archive, telling each member found (its name as stored) and
  // the compressed bytes read; `progress` returning false stops it with the
  // members found so far. List and Stat call it when nothing is listed yet.
  bool ReadListing(const TProgress& progress, const std::function<void(const std::string& path)>& onMember,
                   TError* err);
  // The listing was stopped or the archive is damaged part-way: what is
  // shown is not all.
  bool Partial() const;
  // The members the caller will read one by one (inner paths of files):
  // one pass over a compressed stream serves them all.
  void Expect(const std::vector<std::string>& inners);

  std::string Root() const override { return displayRoot_; }
  TCapabilities Capabilities() const override;
  bool List(const std::string& inner, std::vector<TEntry>& out, TError* err) override;
  bool Stat(const std::string& inner, TEntry& out, TError* err) override;
  bool ReadInto(const std::string& inner, TDataSink& sink, const TProgress& progress,
                TError* err) override;
  bool Stale() const override;
  bool Refresh(TError* err) override;

  const formats::TStreamArchive& Archive() const { return *archive_; }

 private:
  TArchiveSource(std::string archivePath, std::string displayRoot, TPasswordProvider* passwords);
  bool EnsureListed(TError* err);
  TEntry EntryOf(uint32_t node) const;
  formats::TPasswordQuery PasswordQuery();
  void RememberIdentity();

  std::string archivePath_;
  std::string displayRoot_;
  TPasswordProvider* passwords_;
  std::unique_ptr<formats::TStreamArchive> archive_;
  TPathIndex index_;
  bool listed_ = false;
  struct {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
  } identity_;
};

}  // namespace vantrel::vfs
