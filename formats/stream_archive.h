// stream_archive.h - an archive of another format than ZIP, listed once and
// read member by member, through libarchive.
//
// Most of these formats are streams: a compressed tar has no directory, so
// the only way to learn what it holds is to decompress it from its start.
// The archive is therefore listed once, incrementally (each member is told
// as it is found, progress follows the bytes read, and the listing can be
// stopped, keeping what was found), and the list is kept: browsing never
// reads the archive again. An uncompressed tar is listed by seeking from
// header to header, without reading the members' data.
//
// Reading members makes one pass over the stream for all the members asked
// for, whatever order they are asked in; a member of an uncompressed tar is
// read on its own by seeking to its header. Every read is checked: a member
// that gives more data than its header says, or less (a truncated stream),
// fails with a clear message and the pass goes on with the next member where
// the stream allows; a total output above the caller's limit (the free space
// of the destination) stops the pass, so that a small archive that expands
// without end cannot fill the disk.
//
// Hard links: a member that names another member's data (tar, cpio, ISO) is
// a file with that member's data; one that names a member the archive does
// not hold, or an absolute or climbing path, is listed but fails to read.
//
// Encrypted 7z and RAR data (and archives whose very listing is encrypted)
// are read by the 7-Zip program with the password the caller's query gives,
// asked for once per archive: libarchive cannot decrypt them.
//
// Not thread-safe: one thread at a time (the caller locks).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/archive_input.h"
#include "formats/archive_kind.h"
#include "platform/fs.h"

namespace vantrel::formats {

enum class TMemberKind : uint8_t {
  File,
  Directory,
  Symlink,
  Special,  // device, FIFO, socket: listed, never read
};

struct TMember {
  std::string path;  // as stored (bytes; a part's prefix before it)
  TMemberKind kind = TMemberKind::File;
  bool sizeKnown = true;
  bool encrypted = false;
  uint8_t part = 0;  // which stream of the file holds it (TArchiveKind::parts)
  uint32_t mode = 0;  // permission bits (07777)
  uint64_t size = 0;
  platform::FileTime writeTime = 0;
  platform::FileTime accessTime = 0;
  platform::FileTime creationTime = 0;
  // A symbolic link's target; for a hard link, the stored name it names.
  std::string linkTarget;
  bool hardLink = false;
  // The member whose data this one has: itself, the member a hard link
  // names, or -1 when a hard link names nothing the archive holds.
  int64_t dataFrom = -1;
  // Its place in its part's stream (the n-th header read), and where its
  // header starts in an uncompressed tar (-1 elsewhere).
  uint32_t ordinal = 0;
  int64_t headerOffset = -1;
  // 7-Zip's CRC-32 of the data, when the archive is read by 7-Zip.
  uint32_t crc = 0;
  bool crcKnown = false;
};

struct TArchiveError {
  int code = 0;
  std::string text;
  void Set(int c, std::string t) {
    code = c;
    text = std::move(t);
  }
};

// Receives data in blocks; false stops the reading.
class TDataSink {
 public:
  virtual ~TDataSink() = default;
  virtual bool Write(const void* data, size_t n) = 0;
};

// The data of one member during a pass. Read may be called once; a member
// whose data are not read is skipped.
class TMemberData {
 public:
  virtual ~TMemberData() = default;
  // Sends the data to `sink`: false with `error` when the archive fails, the
  // data disagree with the header, or the sink stopped (ECANCELED).
  virtual bool Read(TDataSink& sink, TArchiveError* error) = 0;
};

// Asks for the archive's password: `again` after a wrong one. False when the
// user gives none.
using TPasswordQuery = std::function<bool(bool again, std::string& password)>;

enum class TListState : uint8_t {
  NotListed,
  Listing,
  Complete,
  Stopped,  // the user stopped it: the members found so far
  Damaged,  // the archive failed part-way: the members before the damage
};

class TStreamArchive final {
 public:
  // Opens the archive at `path` (kept open until the object goes). Null with
  // `error` when the file cannot be read or holds no archive of ours.
  static std::unique_ptr<TStreamArchive> Open(const std::string& path, TArchiveError* error);
  // The same with a probe made already.
  static std::unique_ptr<TStreamArchive> Open(const std::string& path, const TArchiveKind& kind,
                                              TArchiveError* error);
  ~TStreamArchive();
  // Another reader of the same file that starts with this one's listing and
  // password (nothing is listed again): for a reader on another thread. Null
  // with `error` when the file cannot be opened.
  std::unique_ptr<TStreamArchive> Twin(TArchiveError* error) const;
  TStreamArchive(const TStreamArchive&) = delete;
  TStreamArchive& operator=(const TStreamArchive&) = delete;

  const TArchiveKind& Kind() const { return kind_; }
  const std::string& Path() const { return path_; }

  // ---------------------------------------------------------------- listing
  struct TListEvents {
    // Each member as it is found (its index in Members()).
    std::function<void(uint32_t index, const TMember& member)> onMember;
    // Bytes of the file read so far; false stops the listing.
    TByteProgress progress;
    // For an archive whose listing is encrypted.
    TPasswordQuery password;
  };
  // Lists the archive from its start (a second call lists it anew). Returns
  // the state it ended in; Problem() says what went wrong for Damaged.
  TListState List(const TListEvents& events);
  TListState State() const { return state_; }
  const std::string& Problem() const { return problem_; }
  // Headers the listing found damaged and passed over.
  size_t DamagedHeaders() const { return damagedHeaders_; }
  const std::vector<TMember>& Members() const { return members_; }
  // The compressed bytes the listing read, of the file's size.
  uint64_t ListedBytes() const { return listedBytes_; }

  // ---------------------------------------------------------------- reading
  struct TReadOptions {
    // The most bytes the pass may put out in all; more stops it (ENOSPC).
    uint64_t outputLimit = UINT64_MAX;
    // Bytes of the file read during the pass; false stops it (ECANCELED).
    TByteProgress progress;
    // For encrypted members.
    TPasswordQuery password;
  };
  // Called for each member asked for, in the archive's order; `data` is
  // valid during the call only. Returning false stops the pass.
  using TEachMember = std::function<bool(uint32_t index, TMemberData& data)>;
  // Reads the members `indices` (in any order) in one pass. A member that
  // fails alone is told through its data and the pass goes on; members the
  // pass can no longer reach (the stream ends early) get data that fail with
  // the reason. Every member asked for is called exactly once, unless the
  // pass stops: the caller's false ends it quietly (true), a cancel through
  // the progress or the output limit with false and `error`.
  bool ReadMembers(const std::vector<uint32_t>& indices, const TEachMember& each, const TReadOptions& options,
                   TArchiveError* error);
  // One member into `sink`.
  bool ReadMember(uint32_t index, TDataSink& sink, const TReadOptions& options, TArchiveError* error);

  // The state of one reading pass (stream_archive.cpp).
  class TPass;

  // ------------------------------------------------------- one at a time
  // Members asked for one call at a time, in whatever order a caller walks
  // them (a copy engine goes directory by directory), still make one pass
  // over a stream: the reader stays after the last member it gave and goes
  // on from there, and members the caller said it will ask for (Expect)
  // that the reader goes past first are kept in a temporary file until they
  // are asked for. Only a member behind the reader that was neither expected
  // nor kept starts the stream again. Other members (an uncompressed tar,
  // data 7-Zip decodes) are read as ReadMember reads them.
  void Expect(const std::vector<uint32_t>& indices);
  bool ReadNext(uint32_t index, TDataSink& sink, const TReadOptions& options, TArchiveError* error);
  // Closes the reader and drops what was kept.
  void EndReading();
  // How often ReadNext started a stream from its beginning.
  size_t StreamStarts() const { return streamStarts_; }

  // The password that proved right (empty when none was needed).
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password) { password_ = password; passwordChecked_ = !password.empty(); }
  bool PasswordKnown() const { return passwordChecked_; }

 private:
  TStreamArchive(std::string path, int fd, TArchiveKind kind);

  // Listing.
  TListState ListPart(size_t part, const TListEvents& events);
  TListState ListWithSevenZip(const TListEvents& events);
  void AddMember(TMember&& member, const TListEvents& events);
  void ResolveHardLinks();

  // Reading.
  bool ReadStreamed(size_t part, std::vector<uint32_t> dataMembers,
                    std::unordered_map<uint32_t, std::vector<uint32_t>>& readers, const TEachMember& each,
                    TPass& pass, TArchiveError* error);
  bool ReadBySeeking(std::vector<uint32_t> dataMembers,
                     std::unordered_map<uint32_t, std::vector<uint32_t>>& readers, const TEachMember& each,
                     TPass& pass, TArchiveError* error);
  bool ReadWithSevenZip(std::vector<uint32_t> dataMembers,
                        std::unordered_map<uint32_t, std::vector<uint32_t>>& readers, const TEachMember& each,
                        TPass& pass, TArchiveError* error);
  bool ServeMember(uint32_t dataMember, const std::vector<uint32_t>& readers, TMemberData& data,
                   const TEachMember& each, TPass& pass, bool* stop);
  bool EnsurePassword(const TPasswordQuery& query, TArchiveError* error);
  bool UsesSevenZip() const { return sevenZipListing_; }
  // Whether ReadNext reads the member's data from a stream of its own.
  bool ReadsStreamed(const TMember& m) const;
  bool KeptData(uint32_t dataMember, TDataSink& sink, TPass& pass, TArchiveError* error);
  bool OpenCursor(size_t part, TArchiveError* error);

  const std::string path_;
  const int fd_;
  const TArchiveKind kind_;
  std::vector<TMember> members_;
  TListState state_ = TListState::NotListed;
  std::string problem_;
  size_t damagedHeaders_ = 0;
  uint64_t listedBytes_ = 0;
  // Members listed by 7-Zip (encrypted listing or encrypted data).
  bool sevenZipListing_ = false;
  std::string password_;
  bool passwordChecked_ = false;
  // ReadNext's reader and what it keeps (stream_archive.cpp).
  struct TCursor;
  std::unique_ptr<TCursor> cursor_;
  size_t streamStarts_ = 0;
};

}  // namespace vantrel::formats
