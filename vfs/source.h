// source.h - what a panel lists: a source of entries.
//
// A panel shows one place of one source: a local directory, a directory
// inside a ZIP archive, inside another kind of archive, or (later) on another
// machine. Every source answers the same questions: the entries of a place,
// one entry's facts, its data, what it can change and why not. Where a
// source can change things it takes a batch of changes at once (TChangeSet),
// so that an archive is rewritten once for a whole copy of many files, and
// the batch succeeds whole or leaves everything as it was.
//
// Inner paths name a place below the source's root: "" is the root, "a/b" a
// directory two levels down. Their components are looked up literally: a
// stored entry named ".." is an entry of that name, never the way up, so a
// hostile archive cannot lead a panel outside it. Names are bytes and are
// never converted; only the display escapes what it cannot show.
//
// A source is used by one thread at a time; the caller locks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::vfs {

enum class TEntryKind : uint8_t { File, Directory, Link, Special };

struct TEntry {
  std::string name;  // one component, raw bytes
  TEntryKind kind = TEntryKind::File;
  uint64_t size = 0;
  uint64_t packedSize = 0;  // the stored (compressed) size in archives; size elsewhere
  int64_t mtime = 0;        // seconds since 1970-01-01 UTC
  uint32_t mode = 0;        // permission bits (07777); 0 when unknown
  std::string linkTarget;   // Link only; a ZIP listing leaves it empty (Stat fills it)
  bool linkToDirectory = false;  // a Link whose target is a directory
  bool implied = false;     // a directory known only from the paths below it
  bool encrypted = false;
};

// What went wrong: an errno-like code (ECANCELED when the user stopped it,
// EROFS for a read-only source) and the text to show.
struct TError {
  int code = 0;
  std::string text;
  void Set(int c, std::string t) {
    code = c;
    text = std::move(t);
  }
};

struct TCapabilities {
  bool writable = false;
  // Why not, for the info line and the refusal message.
  std::string readOnlyReason;
};

// Room a change needs on one file system, the one `path` is on.
struct TSpaceNeed {
  std::string path;
  uint64_t bytes = 0;
};

// Progress of long work: bytes done of the total; false asks to stop.
using TProgress = std::function<bool(uint64_t done, uint64_t total)>;

// Receives data in blocks; false stops the reading.
class TDataSink {
 public:
  virtual ~TDataSink() = default;
  virtual bool Write(const void* data, size_t n) = 0;
};

// Writes to an open descriptor, whole or not at all: `error` tells why it
// stopped (ENOSPC when the file system took nothing more).
class TDescriptorSink final : public TDataSink {
 public:
  explicit TDescriptorSink(int fd) : fd_(fd) {}
  bool Write(const void* data, size_t n) override;
  int error = 0;
  uint64_t written = 0;

 private:
  int fd_;
};

// TDescriptorSink through a buffer of the caller's: the small pieces a
// source hands over (a ZIP entry comes in its decoder's blocks) go to the
// file in few large writes. Finish() writes what is left; `error` tells why
// a Write or Finish failed.
class TBufferedDescriptorSink final : public TDataSink {
 public:
  TBufferedDescriptorSink(int fd, char* buffer, size_t capacity) : out_(fd), buf_(buffer), cap_(capacity) {}
  bool Write(const void* data, size_t n) override;
  bool Finish();
  int error = 0;

 private:
  TDescriptorSink out_;
  char* buf_;
  size_t cap_;
  size_t used_ = 0;
};

// One entry's data, read from its start.
class TReadStream {
 public:
  virtual ~TReadStream() = default;
  // Up to n bytes; 0 at the end; -1 with `err` on failure.
  virtual int64_t Read(void* buffer, size_t n, TError* err) = 0;
  virtual uint64_t Size() const = 0;
};

// An entry's record as its source stores it (ReadStored): what a source of
// the same kind needs to store the entry's data as they are.
class TStoredRecord {
 public:
  virtual ~TStoredRecord() = default;
};

// One change of a batch.
struct TChange {
  enum class TKind : uint8_t { MakeDir, Delete, Rename, Put, Link };
  TKind kind = TKind::Put;
  std::string path;  // inner path of the entry
  std::string to;    // Rename: the new inner path (a directory moves everything below it)
  // Put: the data, from a local file or from `produce`. Link: `to` is the
  // link's target.
  std::string localFile;
  std::function<bool(TDataSink& sink, TError* err)> produce;
  // Put: `produce` gives an entry of another source as that source stores
  // it (compressed, perhaps encrypted), and this is its record.
  std::shared_ptr<const TStoredRecord> stored;
  uint64_t size = 0;
  int64_t mtime = 0;
  uint32_t mode = 0644;
};

struct TChangeSet {
  std::vector<TChange> changes;
  TChangeSet& MakeDir(std::string path);
  TChangeSet& Delete(std::string path);
  TChangeSet& Rename(std::string from, std::string to);
  // A local file (or, for a link, its target is read) stored as `path`.
  TChangeSet& PutFile(std::string path, std::string localFile, int64_t mtime = 0,
                      uint32_t mode = 0644);
  TChangeSet& PutData(std::string path, std::function<bool(TDataSink&, TError*)> produce,
                      uint64_t size, int64_t mtime = 0, uint32_t mode = 0644);
  // Data as another source stores them, with their record (ReadStored),
  // for a destination that TakesStored them.
  TChangeSet& PutStored(std::string path, std::shared_ptr<const TStoredRecord> record,
                        std::function<bool(TDataSink&, TError*)> produce, uint64_t size);
  // A symbolic link `path` to `target`.
  TChangeSet& PutLink(std::string path, std::string target, int64_t mtime = 0);
  bool empty() const { return changes.empty(); }
};

class TSource {
 public:
  virtual ~TSource() = default;

  // The display path of the source's root ("/home/u/photos.zip").
  virtual std::string Root() const = 0;
  virtual TCapabilities Capabilities() const = 0;

  // The entries of the directory `inner`, in no particular order.
  virtual bool List(const std::string& inner, std::vector<TEntry>& out, TError* err) = 0;
  // The facts of one entry ("" is the root, a directory).
  virtual bool Stat(const std::string& inner, TEntry& out, TError* err) = 0;
  // Sends the data of the file `inner` into `sink`, checked (an archive's
  // CRC); on failure the sink had data that must be thrown away.
  virtual bool ReadInto(const std::string& inner, TDataSink& sink, const TProgress& progress,
                        TError* err) = 0;
  // The same as a stream to pull from: the data are decoded into memory up
  // to MemoryLimit, else into a private temporary file no one else sees.
  virtual std::unique_ptr<TReadStream> Open(const std::string& inner, TError* err);
  uint64_t MemoryLimit = 16u << 20;
  // The files the caller is about to read one by one, in whatever order: a
  // source whose data are one compressed stream then makes one pass for
  // all of them instead of one per file read out of the stream's order.
  virtual void Expect(const std::vector<std::string>& inners) { (void)inners; }
  // Sends the data of the file `inner` as the source stores them, neither
  // decoded nor checked, and their record to `record`: a destination that
  // TakesStored them keeps them as they are, so that an encrypted entry
  // stays encrypted under its password and none is asked. False with
  // ENOTSUP where the source has no stored form of its own.
  virtual bool ReadStored(const std::string& inner, TDataSink& sink, std::shared_ptr<const TStoredRecord>& record,
                          const TProgress& progress, TError* err);
  // Whether Apply takes the stored form (ReadStored) of the entries of `from`.
  virtual bool TakesStored(const TSource& from) const {
    (void)from;
    return false;
  }

  // What is listed no longer matches the disk (the archive changed since
  // it was read): the panel lists again.
  virtual bool Stale() const { return false; }
  // Reads the source again when it is stale.
  virtual bool Refresh(TError* err) {
    (void)err;
    return true;
  }

  // Applies the changes in order, all or nothing: a source that cannot
  // change anything refuses with its read-only reason (EROFS).
  virtual bool Apply(const TChangeSet& changes, const TProgress& progress, TError* err);
  // Whether many changes cost about what one costs (an archive is rewritten
  // once per Apply): a copy then hands over all of its changes at once.
  virtual bool BatchesChanges() const { return false; }
  // The room a batch adding `files` files of `bytes` in all, handed over as
  // data (PutData, PutStored), takes on the file systems it writes on
  // before it is done; empty when it takes no more than the data themselves.
  virtual std::vector<TSpaceNeed> SpaceToAdd(uint64_t bytes, uint64_t files) const {
    (void)bytes;
    (void)files;
    return {};
  }

  bool MakeDir(const std::string& inner, TError* err);
  // A directory goes with everything below it.
  bool Delete(const std::string& inner, TError* err);
  bool Rename(const std::string& from, const std::string& to, TError* err);
};

// ------------------------------------------------------------ inner paths

// The components of an inner path; empty components are dropped.
std::vector<std::string> SplitInner(const std::string& inner);
// `dir` and `name` joined with one "/" ("" + "a" is "a").
std::string JoinInner(const std::string& dir, const std::string& name);
// The directory above `inner` ("a/b" gives "a", "a" gives "").
std::string ParentInner(const std::string& inner);
// The last component of `inner`.
std::string LeafInner(const std::string& inner);

}  // namespace vantrel::vfs
