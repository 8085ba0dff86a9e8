// zip_source.h - a place inside a ZIP archive, through our ZIP engine.
//
// The archive's directory is read once when the source is made and kept as
// a tree (path_index.h): listing, entering directories and finding entries
// never read the archive again. Data are decoded entry by entry and checked
// (size, CRC, authentication). Encrypted entries ask the password provider
// once per archive; the answer lives in this source only.
//
// Changes (Apply) rewrite the archive once per batch through the engine's
// edit: untouched entries are copied as their stored bytes (never decoded or
// compressed again), the new archive replaces the old by one rename, and a
// failure or cancel leaves the old archive byte for byte. Damaged,
// multi-volume and nested archives (and files the user may not write) are
// read-only, with the reason.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "vfs/password.h"
#include "vfs/source.h"
#include "vfs/path_index.h"

namespace vantrel::zip {
class TZipWriter;
class TZipHeaderInfo;
}

namespace vantrel::vfs {

// A ZIP entry's record, for its data as stored (ReadStored).
class TZipStoredRecord final : public TStoredRecord {
 public:
  std::shared_ptr<const zip::TZipHeaderInfo> entry;
};

class TZipSource final : public TSource {
 public:
  // Reads the directory of the ZIP archive at `archivePath`. `displayRoot`
  // is the path the panel shows for its root (the archive's own path, or a
  // nested one). Null with `err` when it cannot be read or is no ZIP
  // archive.
  static std::unique_ptr<TZipSource> Load(const std::string& archivePath, const std::string& displayRoot,
                                          TPasswordProvider* passwords, TError* err);
  ~TZipSource() override;

  // A nested archive (or any other the caller wants kept as it is): every
  // change is refused with `reason`.
  void SetReadOnly(std::string reason) { forcedReadOnly_ = std::move(reason); }

  std::string Root() const override { return displayRoot_; }
  TCapabilities Capabilities() const override;
  bool List(const std::string& inner, std::vector<TEntry>& out, TError* err) override;
  bool Stat(const std::string& inner, TEntry& out, TError* err) override;
  bool ReadInto(const std::string& inner, TDataSink& sink, const TProgress& progress,
                TError* err) override;
  bool ReadStored(const std::string& inner, TDataSink& sink, std::shared_ptr<const TStoredRecord>& record,
                  const TProgress& progress, TError* err) override;
  // Another ZIP archive's entries go in as they are stored.
  bool TakesStored(const TSource& from) const override { return dynamic_cast<const TZipSource*>(&from) != nullptr; }
  bool Stale() const override;
  bool Refresh(TError* err) override;
  bool Apply(const TChangeSet& changes, const TProgress& progress, TError* err) override;
  bool BatchesChanges() const override { return true; }
  // A new archive beside the old one on its file system (the old entries,
  // the new data and a record each), and the data handed over, kept in
  // private files until the rewrite takes them.
  std::vector<TSpaceNeed> SpaceToAdd(uint64_t bytes, uint64_t files) const override;
  // Room for an entry's records (two headers, a descriptor) and its name.
  static constexpr uint64_t kRecordRoom = 512;

  // Files stored without a name ("", "."), which no path reaches and List
  // leaves out (the index keeps them with the root), added to `out`: the
  // panel shows them at the root so that what it counts is what the archive
  // holds.
  void Nameless(std::vector<TEntry>& out) const;

  const std::string& ArchivePath() const { return archivePath_; }
  const TPathIndex& Index() const { return index_; }
  // How often the archive's directory was read: once per open and once per
  // refresh of an archive changed on disk. A change does not read it again
  // (the engine keeps the directory it wrote), nor does entering, listing or
  // finding.
  int Reads() const { return reads_; }
  // Bytes of entry data decoded so far. The first encrypted entry read is
  // decoded once: the decoding that proves the password right is what the
  // caller gets (up to kHeldWhileConfirming; a larger one is proved by the
  // smallest encrypted entry instead).
  uint64_t BytesDecoded() const { return bytesDecoded_; }
  static constexpr uint64_t kHeldWhileConfirming = 4u << 20;

  // The code page of names stored without Unicode text (zip_names.h): the
  // page chosen for the archive (ChosenCodePage), else zip::kCodePageAuto.
  // A change (not remembered as the choice) reads the directory again at
  // once, the password kept; false with `err` when it cannot be read (the
  // source then keeps its old page and reading).
  bool SetCodePage(const std::string& page, TError* err);
  const std::string& CodePage() const { return codePage_; }
  // The page automatic found ("CP866"), or the page set; empty when no name
  // needed one.
  std::string CodePageUsed() const;

 private:
  TZipSource(std::string archivePath, std::string displayRoot, TPasswordProvider* passwords);
  class TProgressUi;
  struct TPlan;
  bool ReadDirectory(TError* err);
  TEntry EntryOf(uint32_t node) const;
  void RememberIdentity();
  // Where a run of the engine reports its progress (and hears a cancel).
  void SetRunProgress(TProgress progress);
  // Decodes an encrypted entry once to learn that the password is right;
  // asks again when one given for this read proves wrong on the data.
  // `held`, when given, receives the decoded data (emptied when they grow
  // beyond kHeldWhileConfirming).
  bool ConfirmPassword(int entry, const TProgress& progress, TError* err, std::string* held = nullptr);
  // Proves the password for a read of `entry`; true with `held` filled when
  // the decoding that proved it gave the entry's data.
  bool ConfirmFor(int entry, const TProgress& progress, TError* err, std::string& held, bool& served);
  // Decodes `entry` through the engine, counting the bytes.
  std::string Decode(int entry, const std::function<bool(const uint8_t*, size_t)>& each);
  // Asks the provider; false (and declined_) when no answer came.
  bool Ask(std::string& answer);
  static bool Fail(TError* err, int code, const std::string& text);

  std::string archivePath_;
  std::string displayRoot_;
  TPasswordProvider* passwords_;
  std::unique_ptr<TProgressUi> ui_;
  std::unique_ptr<zip::TZipWriter> zip_;
  TPathIndex index_;
  std::string forcedReadOnly_;
  std::string damage_;
  std::string codePage_;
  bool multiVolume_ = false;
  bool passwordAsked_ = false;
  bool passwordConfirmed_ = false;  // an entry decoded right with it
  bool declined_ = false;           // the last question got no answer
  int answers_ = 0;                 // answers taken so far
  int reads_ = 0;
  uint64_t bytesDecoded_ = 0;
  struct {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
  } identity_;
};

// The code page chosen by hand for the names of the ZIP archive shown as
// `displayRoot`, for as long as the program runs (empty: automatic). Every
// source loaded for that archive afterwards reads its names so, whichever
// thread loads it.
std::string ChosenCodePage(const std::string& displayRoot);
void ChooseCodePage(const std::string& displayRoot, const std::string& page);

// Whether the file holds a ZIP archive, by its content (a local header at
// the start, or an end record near the end): .jar, .docx, .odt, .apk, .epub
// and .xpi files are ZIP archives too.
bool IsZipArchive(const std::string& path);

}  // namespace vantrel::vfs
