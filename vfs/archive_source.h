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
//
// Threads: ReadListing may run on a worker thread while another thread (the
// window's) calls List, which then gives what was found so far, and
// Listing(), Found(), ReadBytes(), Partial() and Capabilities(). Every other
// call fails with EBUSY until the listing ends; a password is asked only on
// the thread that loaded the source.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "formats/stream_archive.h"
#include "vfs/found_listing.h"
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

  // Another reader of the archive for another thread (a copy job's), with
  // this one's listing: it reads no listing again, so a compressed tar is
  // decompressed once more only for the data taken. Null when there is no
  // whole listing to share (under way, stopped, damaged) or the file changed
  // since; the caller then loads the archive anew. It asks `passwords`.
  std::unique_ptr<TArchiveSource> Twin(TPasswordProvider* passwords) const;
  // How often the archive was listed by this reader.
  int Listings() const { return listings_; }
  // Who is asked for a password from now on (a twin's thread's own).
  void SetPasswords(TPasswordProvider* passwords) { passwords_ = passwords; }

  // Lists the archive, telling each member found (its name as stored) and
  // the compressed bytes read; `progress` returning false stops it with the
  // members found so far. List and Stat call it when nothing is listed yet.
  bool ReadListing(const TProgress& progress, const std::function<void(const std::string& path)>& onMember,
                   TError* err);
  // The listing was stopped or the archive is damaged part-way: what is
  // shown is not all.
  bool Partial() const;
  // A listing is under way (on some thread).
  bool Listing() const { return listing_.load(std::memory_order_acquire); }
  // The archive has been listed (whole, or as far as it was read).
  bool Listed() const { return listed_.load(std::memory_order_acquire); }
  // Members found by the listing under way or the last one, and the
  // compressed bytes it has read of the file's size.
  size_t Found() const { return found_.load(std::memory_order_relaxed); }
  uint64_t ReadBytes() const { return readBytes_.load(std::memory_order_relaxed); }
  uint64_t FileBytes() const { return archive_->Kind().fileSize; }
  // The listing itself is encrypted: it asks for the password, so it runs on
  // the thread that may ask.
  bool ListingAsksPassword() const;
  // The members the caller will read one by one (inner paths of files):
  // one pass over a compressed stream serves them all.
  void Expect(const std::vector<std::string>& inners) override;

  std::string Root() const override { return displayRoot_; }
  // The file read (the archive, or a private copy of a nested one).
  const std::string& ArchivePath() const { return archivePath_; }
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
  void IndexMembers();
  bool Busy(TError* err) const;
  TEntry EntryOf(uint32_t node) const;
  formats::TPasswordQuery PasswordQuery();
  void RememberIdentity();

  std::string archivePath_;
  std::string displayRoot_;
  TPasswordProvider* passwords_;
  std::unique_ptr<formats::TStreamArchive> archive_;
  TPathIndex index_;
  std::atomic<bool> listed_{false};
  int listings_ = 0;
  // While a listing runs: what it found, for List on another thread.
  mutable std::mutex foundMutex_;
  TFoundListing foundSoFar_;
  std::atomic<bool> listing_{false};
  std::atomic<size_t> found_{0};
  std::atomic<uint64_t> readBytes_{0};
  // The last listing stopped for want of a password it could not ask.
  std::atomic<bool> passwordWanted_{false};
  const std::thread::id askingThread_ = std::this_thread::get_id();
  struct {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
  } identity_;
};

}  // namespace vantrel::vfs
