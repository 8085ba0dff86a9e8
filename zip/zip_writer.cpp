// zip_writer.cpp - Zip: creating and updating archives.
//
// A run writes a complete new archive into a temporary file and only then
// puts it in place:
//
//   * The temporary file is unnamed where the file system allows it
//     (O_TMPFILE), so a process that is killed leaves nothing behind; elsewhere
//     it is a named "RQX" file from mkstemp that every failure removes (hidden,
//     ".RQX", beside the archive). An update makes it in the temporary
//     directory (TempPath, $TMPDIR, /tmp) when that is on the archive's volume,
//     else beside ZipName; a new archive makes it beside ZipName.
//   * When it is complete (and, with FlushFilesOnClose, on disk), it gets a
//     name beside the archive (linked there, or copied there first when it
//     could not be made on the archive's volume) and that name is renamed
//     over ZipName in one step. Until that rename the old archive is untouched; after it the new
//     one is complete.
//
// Output goes through TOutputFile: a large buffer written with pwrite at known
// offsets, so that the local header of a finished file is patched in place
// (in the buffer when it is still there) without seeking the stream.
#include "zip/zip_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <bit>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <unordered_map>

#include "platform/codepages.h"
#include "zip/codec/crc32.h"
#include "zip/codec/deflate_compress.h"
#include "zip/zip_pack_pool.h"
#include "zip/zip_names.h"
#include "platform/file_io.h"
#include "platform/fs.h"

namespace vantrel::zip {

namespace {

// A file at least this large when it is opened gets a ZIP64 extra field in
// its local header, written before the data: its sizes may not fit 32 bits
// (the margin covers deflate's growth on incompressible data, 5 bytes per
// 64 KB block, and an encryption header). A smaller file is read up to this
// size at most, so that its sizes always fit the header written for it: a
// file that grows past it while it is read is stored as far as this size and
// reported as changed.
constexpr uint64_t kLocalZip64Threshold = kZip64Marker32 - (kZip64Marker32 >> 13) - 1024;
constexpr size_t kStoreChunk = 32768;
constexpr size_t kOutputBuffer = 1 << 20;
constexpr size_t kCopyChunk = 1 << 20;

std::string ErrnoText(int err) { return std::strerror(err); }

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LastComponent(const std::string& s) {
  size_t slash = s.rfind('/');
  return slash == std::string::npos ? s : s.substr(slash + 1);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The DOS attribute bits of a file as the platform layer maps them.
uint32_t DosAttributes(mode_t mode) {
  uint32_t a = S_ISDIR(mode) ? 0x10 : 0x20;
  if (!(mode & S_IWUSR)) a |= 0x01;
  return a;
}

// Linux: the DOS bits in the low byte, the file's mode in the upper 16 bits.
uint32_t ExternalAttributesOf(mode_t mode) {
  return DosAttributes(mode) | (static_cast<uint32_t>(mode & 0xFFFF) << 16);
}

// Percentages are rounded to the nearest whole number, halves to even.
int Percent(int64_t done, int64_t total) {
  if (total <= 0) return 0;
  if (done >= total) return 100;
  int64_t num = (done < 0 ? 0 : done) * 100;
  int64_t q = num / total, r = num % total;
  if (r * 2 > total || (r * 2 == total && (q & 1))) ++q;
  return static_cast<int>(std::min<int64_t>(q, 100));
}

[[noreturn]] void ThrowWriteError(int err) {
  if (err == ENOSPC || err == EFBIG || err == EDQUOT || err == 0)
    throw ENotEnoughRoom(kTextNotEnoughRoom);
  throw ENotEnoughRoom(std::string(kTextNotEnoughRoom) + " (" + ErrnoText(err) + ")");
}

void PWriteAll(int fd, const void* data, size_t n, int64_t at) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) ThrowWriteError(w < 0 ? errno : 0);
    p += w;
    n -= static_cast<size_t>(w);
    at += w;
  }
}

size_t PReadFull(int fd, void* data, size_t n, int64_t at) {
  char* p = static_cast<char*>(data);
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::pread(fd, p + got, n - got, at + static_cast<int64_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  return got;
}

// Entries whose stored data are at least this large are copied by the
// kernel, file to file.
constexpr uint64_t kKernelCopyFrom = 64 * 1024;
// What is read of the old archive for the local header of such an entry:
// the header with the name and extra field the central record announces,
// and a margin for a local extra field larger than the central one (a
// larger one still is read on its own).
constexpr size_t kLocalMargin = 128;

// Reads the old archive through a large window: entries are copied in
// physical order, so one read serves many small entries.
class TReadWindow {
 public:
  TReadWindow() : buf_(new uint8_t[kCopyChunk]) {}
  void SetFile(int fd) {
    fd_ = fd;
    len_ = 0;
  }
  int File() const { return fd_; }
  // Reads n bytes at `at`; returns how many there were. A new window reads
  // `ahead` bytes (at least n): little before data the kernel copies, so
  // that reading a header does not read the data behind it too.
  size_t Read(void* data, size_t n, int64_t at, size_t ahead = kCopyChunk) {
    if (at >= start_ && at + static_cast<int64_t>(n) <= start_ + static_cast<int64_t>(len_)) {
      std::memcpy(data, buf_.get() + (at - start_), n);
      return n;
    }
    if (n >= kCopyChunk / 2) return PReadFull(fd_, data, n, at);
    start_ = at;
    len_ = PReadFull(fd_, buf_.get(), std::clamp(ahead, n, kCopyChunk), at);
    size_t got = std::min(n, len_);
    std::memcpy(data, buf_.get(), got);
    return got;
  }

 private:
  int fd_ = -1;
  std::unique_ptr<uint8_t[]> buf_;
  int64_t start_ = 0;
  size_t len_ = 0;
};

// The archive being written: bytes collect in a buffer that goes to the file
// at its own offset when full. Every failure to write is ENotEnoughRoom.
class TOutputFile {
 public:
  explicit TOutputFile(int fd) : fd_(fd), buf_(new uint8_t[kOutputBuffer]) {}

  int64_t Position() const { return base_ + static_cast<int64_t>(used_); }

  void Write(const void* data, size_t n) {
    if (n == 0) return;  // an empty piece may have no address (an empty trailer)
    if (used_ + n > kOutputBuffer) Flush();
    if (n >= kOutputBuffer) {
      PWriteAll(fd_, data, n, base_);
      base_ += static_cast<int64_t>(n);
      return;
    }
    std::memcpy(buf_.get() + used_, data, n);
    used_ += n;
  }

  // Copies n bytes of the file `from` at `at` to the end of the output, in
  // the kernel where the file systems allow (no pass through user memory).
  // False when the file had fewer bytes.
  bool CopyFrom(int from, int64_t at, uint64_t n) {
    Flush();
    loff_t in = at, out = base_;
    while (n > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(n, 1u << 30));
      const ssize_t got = ::copy_file_range(from, &in, fd_, &out, want, 0);
      if (got > 0) {
        n -= static_cast<uint64_t>(got);
        continue;
      }
      if (got == 0) return false;
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
      ThrowWriteError(errno);
    }
    base_ = out;
    // The plain way, from wherever the kernel copy stopped.
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kCopyChunk]);
    while (n > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(n, kCopyChunk));
      const size_t got = PReadFull(from, chunk.get(), want, in);
      if (got != want) return false;
      PWriteAll(fd_, chunk.get(), got, base_);
      base_ += static_cast<int64_t>(got);
      in += static_cast<loff_t>(got);
      n -= got;
    }
    return true;
  }

  // Overwrites bytes already written (a local header after its data).
  void Patch(int64_t at, const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (at < base_) {
      size_t inFile = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), base_ - at));
      PWriteAll(fd_, p, inFile, at);
      p += inFile;
      n -= inFile;
      at += static_cast<int64_t>(inFile);
    }
    if (n) std::memcpy(buf_.get() + (at - base_), p, n);
  }

  void Flush() {
    if (!used_) return;
    PWriteAll(fd_, buf_.get(), used_, base_);
    base_ += static_cast<int64_t>(used_);
    used_ = 0;
  }

 private:
  int fd_;
  std::unique_ptr<uint8_t[]> buf_;
  size_t used_ = 0;
  int64_t base_ = 0;  // file offset of buf_[0]
};

// A temporary file: unnamed (O_TMPFILE) when the file system allows it, else
// a named "RQX" file that is removed unless it was put in place.
struct TTempFile {
  int fd = -1;
  std::string path;  // empty for an unnamed file

  TTempFile() = default;
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  ~TTempFile() { Discard(); }

  void Discard() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!path.empty()) ::unlink(path.c_str());
    path.clear();
  }
};

mode_t CurrentUmask() {
  mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

// The prefix of a temporary archive's name: hidden in the user's own
// directories, plain in the temporary directory.
constexpr const char* kHiddenPrefix = ".RQX";
constexpr const char* kTempDirPrefix = "RQX";

void CreateTemp(TTempFile& t, const std::string& dir, bool allowUnnamed,
                const char* prefix = kHiddenPrefix) {
  if (allowUnnamed) {
    t.fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (t.fd >= 0) return;
  }
  std::string tmpl = (dir.back() == '/' ? dir : dir + "/") + prefix + "XXXXXX";
  t.fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (t.fd < 0)
    throw EFOpenError("Cannot create a temporary file in \"" + dir + "\". " + ErrnoText(errno));
  t.path = tmpl;
  ::fchmod(t.fd, 0666 & ~CurrentUmask());
}

std::string RandomSuffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 gen(std::random_device{}());
  std::string s;
  for (int i = 0; i < 6; ++i) s += kChars[gen() % (sizeof kChars - 1)];
  return s;
}

// With FlushFilesOnClose the data reaches the disk before the file takes the
// archive's name: the new archive then survives a power failure, and a
// device that reports a full disk only when it writes back says so here,
// while the old archive is still in place.
void SyncFile(int fd, bool flush) {
  if (flush && ::fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) ThrowWriteError(errno);
}

[[noreturn]] void ThrowReplaceError(const std::string& target, int err) {
  throw EZipError("Cannot replace \"" + target + "\": " + ErrnoText(err));
}

// Gives the complete temporary file the name `target` in one rename. The file
// must lie on the target's volume. False when an unnamed file cannot be given
// a name here (no /proc, or a file system that refuses).
bool PlaceFile(TTempFile& t, const std::string& dir, const std::string& target) {
  if (!t.path.empty()) {
    if (::rename(t.path.c_str(), target.c_str()) != 0) ThrowReplaceError(target, errno);
    t.path.clear();
    return true;
  }
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", t.fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = dir + "/" + kHiddenPrefix + RandomSuffix();
    if (::linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      if (::rename(name.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(name.c_str());
        ThrowReplaceError(target, err);
      }
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

void CopyFileData(int from, int to) {
  if (::lseek(from, 0, SEEK_SET) != 0) ThrowWriteError(errno);
  for (;;) {
    ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, kCopyChunk, 0);
    if (n == 0) return;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
    ThrowWriteError(errno);
  }
  // The plain way, from wherever copy_file_range stopped.
  off_t at = ::lseek(to, 0, SEEK_CUR);
  if (at < 0 || ::lseek(from, at, SEEK_SET) != at) ThrowWriteError(errno);
  std::unique_ptr<char[]> buf(new char[kCopyChunk]);
  for (;;) {
    size_t n = PReadFull(from, buf.get(), kCopyChunk, at);
    if (n == 0) return;
    PWriteAll(to, buf.get(), n, at);
    at += static_cast<off_t>(n);
  }
}

void GiveMode(int fd, const struct stat* old) {
  if (!old) return;
  // The new archive keeps the old one's permissions (and owner, where allowed).
  if (::fchown(fd, old->st_uid, old->st_gid) != 0) { /* not allowed: keep ours */ }
  ::fchmod(fd, old->st_mode & 07777);
}

// Puts the complete temporary archive in place of `target`; returns the
// final file's modification time.
struct timespec CommitArchive(TTempFile& t, const std::string& target, const struct stat* old,
                              bool flush) {
  GiveMode(t.fd, old);
  SyncFile(t.fd, flush);
  std::string dir = DirName(target);
  struct stat tst, dst;
  if (::fstat(t.fd, &tst) != 0 || ::stat(dir.c_str(), &dst) != 0) ThrowReplaceError(target, errno);
  if (tst.st_dev == dst.st_dev && PlaceFile(t, dir, target)) return tst.st_mtim;

  // Another volume: copy to a new temporary file beside the archive first.
  TTempFile beside;
  CreateTemp(beside, dir, tst.st_dev != dst.st_dev);
  CopyFileData(t.fd, beside.fd);
  GiveMode(beside.fd, old);
  SyncFile(beside.fd, flush);
  struct stat bst;
  ::fstat(beside.fd, &bst);
  if (!PlaceFile(beside, dir, target)) {
    // The unnamed copy cannot be linked either: copy once more, to a named file.
    TTempFile named;
    CreateTemp(named, dir, false);
    CopyFileData(beside.fd, named.fd);
    GiveMode(named.fd, old);
    SyncFile(named.fd, flush);
    ::fstat(named.fd, &bst);
    PlaceFile(named, dir, target);
  }
  return bst.st_mtim;
}

// ------------------------------------------------------------ records

// An entry of the archive being written, with the bytes its name is stored as.
class TWriterEntry : public TZipHeaderInfo {
 public:
  std::string RawName;
};

// An entry with ZIP64 fields needs version 4.5 to be extracted.
void MarkZip64(TZipHeaderInfo& e) {
  e.VersionNeeded = std::max(e.VersionNeeded, kVersionZip64);
  if ((e.VersionMadeBy & 0xFF) < kVersionZip64)
    e.VersionMadeBy = static_cast<uint16_t>((e.VersionMadeBy & 0xFF00) | kVersionZip64);
}

// The data descriptor after e's data: 8-byte sizes when the local header has
// a ZIP64 block.
std::string DataDescriptor(const TZipHeaderInfo& e, bool zip64Sizes) {
  uint8_t d[kZip64DataDescriptorSize];
  PutU32(d, DataDescriptorSig);
  PutU32(d + 4, e.CRC32);
  if (!zip64Sizes) {
    PutU32(d + 8, static_cast<uint32_t>(e.CompressedSize));
    PutU32(d + 12, static_cast<uint32_t>(e.UncompressedSize));
    return std::string(reinterpret_cast<const char*>(d), kDataDescriptorSize);
  }
  PutU64(d + 8, e.CompressedSize);
  PutU64(d + 16, e.UncompressedSize);
  return std::string(reinterpret_cast<const char*>(d), kZip64DataDescriptorSize);
}

bool IsAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// The Unicode Path field of a UTF-8 name that is not plain ASCII, when
// asked for.
std::string UnicodePathFieldOf(const TWriterEntry& e, bool wanted) {
  if (!wanted || IsAscii(e.RawName) || !(e.GeneralPurposeFlags & kFlagUtf8)) return {};
  return UnicodePathExtra(e.RawName, e.RawName);
}

void SetNameBytes(TWriterEntry& e, const TStoredNameBytes& enc) {
  e.RawName = enc.raw;
  e.GeneralPurposeFlags = static_cast<uint16_t>((e.GeneralPurposeFlags & ~kFlagUtf8) | enc.flags);
  e.FilenameLength = static_cast<uint16_t>(std::min<size_t>(enc.raw.size(), 0xFFFF));
}

// Removes "." and ".." components and doubled separators from a directory
// part, so that no stored name can climb out of the directory it is
// extracted to.
std::string CleanDirectory(const std::string& d) {
  std::string out;
  bool absolute = !d.empty() && d[0] == '/';
  size_t i = 0;
  while (i < d.size()) {
    size_t j = d.find('/', i);
    if (j == std::string::npos) j = d.size();
    std::string part = d.substr(i, j - i);
    if (!part.empty() && part != "." && part != "..") out += part + "/";
    i = j + 1;
  }
  return absolute ? "/" + out : out;
}

}  // namespace

TStoredNameBytes EncodeStoredName(const std::string& name) {
  TStoredNameBytes r;
  r.raw = name;
  if (!IsAscii(name) && IsValidUtf8(name)) r.flags = kFlagUtf8;
  return r;
}

// ------------------------------------------------------------ the run state

// The stored names of the entries written so far, for the check that a new
// file does not take a name twice. An open-addressing table of name hashes
// and entries (names are compared only when hashes meet), so that copying the
// entries of a large archive costs no allocation per entry.
class TNameIndex {
 public:
  void Reserve(size_t n) {
    if (n * 2 > slots_.size()) Grow(std::bit_ceil(std::max<size_t>(n * 2, 64)));
  }
  void Insert(const TZipHeaderInfo* e) {
    if ((used_ + 1) * 2 > slots_.size()) Grow(std::max<size_t>(slots_.size() * 2, 64));
    Place({std::hash<std::string_view>{}(e->PathView()), e});
    ++used_;
  }
  bool Contains(const std::string& path) const {
    if (slots_.empty()) return false;
    const size_t h = std::hash<std::string_view>{}(path), mask = slots_.size() - 1;
    for (size_t i = h & mask; slots_[i].entry; i = (i + 1) & mask)
      if (slots_[i].hash == h && slots_[i].entry->PathView() == path) return true;
    return false;
  }

 private:
  struct TSlot {
    size_t hash = 0;
    const TZipHeaderInfo* entry = nullptr;
  };
  void Place(const TSlot& slot) {
    const size_t mask = slots_.size() - 1;
    size_t i = slot.hash & mask;
    while (slots_[i].entry) i = (i + 1) & mask;
    slots_[i] = slot;
  }
  void Grow(size_t size) {
    std::vector<TSlot> old(size);
    old.swap(slots_);
    for (const TSlot& slot : old)
      if (slot.entry) Place(slot);
  }
  std::vector<TSlot> slots_;  // a power of two in size, at most half full
  size_t used_ = 0;
};

struct TZipRun {
  TTempFile temp;
  std::unique_ptr<TOutputFile> out;
  TReadWindow oldArchive;
  std::unique_ptr<TDeflateCompressor> compressor;
  // The stored names of the new archive's entries. Linux names differ by
  // case (README and readme are two files), so names are compared exactly.
  TNameIndex newNames;
  std::unique_ptr<TSortedZip> newInOrder;  // owning, physical order
  TEndCentral newEnd;
  bool archiveExisted = false;
  struct stat archiveStat {};
  std::vector<bool> lineDone;  // FilesList lines dealt with by ProcessExisting
  std::unordered_map<std::string, std::vector<size_t>> linesByName;
  std::vector<std::string> disposeList;
  uint64_t tempDev = 0, tempIno = 0;
  int count = 0;
  bool volumes = false;  // MultiZipInfo asks for several volumes
  std::string tempDir;   // where the temporary archive was made
  // Declared last, so that its workers stop before anything they could see
  // goes away.
  std::unique_ptr<TPackPool> pool;

  void AddEntry(TWriterEntry* e, bool nameIndex) {
    if (newInOrder->Count() == std::numeric_limits<int>::max()) {
      delete e;
      throw EZipTooLarge("Too many entries: an archive written here holds at most " +
                         std::to_string(std::numeric_limits<int>::max()) + " entries");
    }
    newInOrder->Add(e);
    if (nameIndex) newNames.Insert(e);
    ++newEnd.EntriesThisDisk;
    ++newEnd.TotalEntries;
  }
};

// Input of one file for the compressor: reads, updates the CRC and reports
// progress; can start over for the compressor's whole-file stored fallback.
class TFileSource final : public TDeflateSource {
 public:
  // limit: the most bytes read (the rest of a file that grew is left out).
  TFileSource(TZipWriter& w, int fd, const std::string& name, uint64_t limit)
      : w_(w), fd_(fd), name_(name), limit_(limit) {}

  size_t Read(uint8_t* buf, size_t n) override {
    n = static_cast<size_t>(std::min<uint64_t>(n, limit_ - static_cast<uint64_t>(total)));
    if (n == 0) return 0;
    // Events and a cancel between reads too: at the highest levels the
    // output, after which they are seen, may come seconds apart.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastCheck_ >= kEventInterval) {
      w_.ProcessMessagesAndCheckCancel();
      lastCheck_ = now;
    }
    for (;;) {
      ssize_t r = ::read(fd_, buf, n);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) throw EZipError("Cannot read \"" + name_ + "\": " + ErrnoText(errno));
      total += r;
      if (r > 0) w_.ReportRead(static_cast<size_t>(r), crc, buf);
      return static_cast<size_t>(r);
    }
  }

  bool Rewind() override {
    if (::lseek(fd_, 0, SEEK_SET) != 0) return false;
    crc = 0xFFFFFFFF;
    total = 0;
    w_.bytesDone_ -= w_.fileBytesDone_;
    w_.fileBytesDone_ = 0;
    return true;
  }

  uint32_t crc = 0xFFFFFFFF;
  int64_t total = 0;

 private:
  TZipWriter& w_;
  int fd_;
  std::string name_;
  uint64_t limit_;
  std::chrono::steady_clock::time_point lastCheck_ = std::chrono::steady_clock::now();
};

namespace {
// The entry's data on their way into the archive, encrypted when the entry
// is.
class TOutputSink final : public TDeflateSink {
 public:
  TOutputSink(TOutputFile& out, TEntryEncryptor* encryptor, std::function<void()> afterWrite)
      : out_(out), encryptor_(encryptor), after_(std::move(afterWrite)) {}
  void Write(const uint8_t* data, size_t n) override {
    if (encryptor_) {
      scratch_.assign(data, data + n);
      encryptor_->Encrypt(scratch_.data(), n);
      data = scratch_.data();
    }
    out_.Write(data, n);
    written += n;
    after_();
  }
  uint64_t written = 0;

 private:
  TOutputFile& out_;
  TEntryEncryptor* encryptor_;
  std::vector<uint8_t> scratch_;
  std::function<void()> after_;
};

// Marks a new entry as encrypted and makes its encryption header. The
// traditional check byte is the high byte of the DOS time, with flag bit 3,
// since the CRC is not known before the data are written.
void BeginEncryption(TZipHeaderInfo& e, TZipEncryption kind, const std::string& password,
                     TEntryEncryptor& encryptor) {
  if (password.empty()) throw EZipError("A password is needed to encrypt");
  e.GeneralPurposeFlags |= kFlagEncrypted;
  if (kind == TZipEncryption::ZipCrypto) {
    e.GeneralPurposeFlags |= kFlagDataDescriptor;
  } else {
    e.VersionNeeded = 51;
    e.AesVersion = 2;
    e.AesStrength = kAesStrength256;
    e.LocalExtraLength = e.CentralExtraLength = kAesExtraFieldSize;
  }
  if (!encryptor.Begin(kind, password, static_cast<uint8_t>(e.LastModDateTime >> 8)))
    throw EZipError("The system's random source or crypto library failed");
}
}  // namespace

// ------------------------------------------------------------ the component

TZipWriter::TZipWriter(TZipUserInterface* ui) : TZipReader(ui) {}
TZipWriter::~TZipWriter() = default;

void TZipWriter::SetStorePaths(bool value) {
  storePaths_ = value;
  if (!value) storeVolumes_ = relativePaths_ = false;
}

void TZipWriter::SetRelativePaths(bool value) {
  relativePaths_ = value;
  if (value) storePaths_ = Recurse = true;
}

void TZipWriter::SetStoreVolumes(bool value) {
  storeVolumes_ = value;
  if (value) storePaths_ = true;
}

void TZipWriter::AddRelativeTo(const std::string& root, bool recurse, bool dirEntries) {
  SetRootDir(root);
  SetRelativePaths(true);  // (which also turns Recurse on)
  Recurse = recurse;
  AddDirEntriesOnRecurse = recurse && dirEntries;
  WriteEmptyArchive = false;
}

void TZipWriter::SetZipName(const std::string& name) {
  if (name == zipName_) return;
  if (endRecord_.Modified && dirList_ && !busy_) {
    // Comments were changed through the component: write them first.
    filesList_.clear();
    Zip();
    endRecord_.Modified = 0;
  }
  TZipReader::SetZipName(name);
}

std::string TZipWriter::TempDirectory() const {
  if (!TempPath.empty() && IsDirectory(TempPath)) return TempPath;
  const char* env = std::getenv("TMPDIR");
  if (env && *env && IsDirectory(env)) return env;
  return "/tmp";
}

std::string TZipWriter::StoredDirectory(const std::string& F) const {
  if (!storePaths_) return {};
  size_t slash = F.rfind('/');
  std::string d = slash == std::string::npos ? std::string() : F.substr(0, slash + 1);
  d = CleanDirectory(d);
  if (relativePaths_ && !rootDir_.empty()) {
    std::string root = CleanDirectory(rootDir_);
    if (d.compare(0, root.size(), root) == 0) d.erase(0, root.size());
  }
  if (!storeVolumes_)
    while (!d.empty() && d[0] == '/') d.erase(0, 1);
  return d;
}

// The name for F before it is encoded: the stored directory and the file name
// (or, for a directory line, the directory itself).
std::string TZipWriter::PlainStoredName(const std::string& F) const {
  std::string name;
  if (!F.empty() && F.back() == '/') {
    name = StoredDirectory(F);
    if (name.empty()) {
      // Without stored paths a directory entry keeps its own name.
      std::string d = CleanDirectory(F);
      while (!d.empty() && d.back() == '/') d.pop_back();
      name = LastComponent(d);
      if (!name.empty()) name += '/';
    }
  } else {
    name = StoredDirectory(F) + LastComponent(F);
  }
  return name;
}

std::string TZipWriter::StoredName(const std::string& F) const {
  TStoredNameBytes enc = EncodeStoredName(PlainStoredName(F));
  return NameOfBytes(enc.raw, enc.flags, kVersionMadeByUnix);
}

void TZipWriter::ReportRead(size_t n, uint32_t& crc, const uint8_t* data) {
  fileBytesDone_ += static_cast<int64_t>(n);
  bytesDone_ += static_cast<int64_t>(n);
  if (OnFilePercentDone) OnFilePercentDone(this, Percent(fileBytesDone_, fileSize_));
  if (OnTotalPercentDone) OnTotalPercentDone(this, Percent(bytesDone_, totalBytes_));
  crc = Crc32Update(crc, data, n);
}

int TZipWriter::Zip() {
  std::string trimmed = zipName_;
  trimmed.erase(0, trimmed.find_first_not_of(' '));
  if (trimmed.find_last_not_of(' ') != std::string::npos)
    trimmed.erase(trimmed.find_last_not_of(' ') + 1);
  else
    trimmed.clear();
  if (trimmed.empty()) {
    filesList_.clear();
    lineSizes_.clear();
    return 0;
  }
  if (busy_) throw EZipError("The archive component is busy");

  busy_ = true;
  CancelOperation = false;
  const TZipSortMode savedSort = SortMode;
  const bool savedKeep = KeepZipOpen;
  KeepZipOpen = true;
  SortMode = TZipSortMode::ByNone;
  auto cleanup = [&]() {
    SortMode = savedSort;
    KeepZipOpen = savedKeep;
    if (!KeepZipOpen) CloseArchive();
    if (dirList_) BuildView();
    busy_ = false;
    filesList_.clear();
    lineSizes_.clear();
    archiveKnown_ = false;
  };
  int count;
  try {
    count = RunZip();
  } catch (...) {
    cleanup();
    throw;
  }
  cleanup();
  if (OnZipComplete) OnZipComplete(this, count);
  return count;
}

// Refuses to replace an archive the user may not write: the file's own
// permission bits (which the superuser's access check ignores) and the access
// check itself.
static void CheckWritable(const std::string& name, const std::string& target, const struct stat& st) {
  if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)
    throw EFOpenError("Cannot open file \"" + name + "\" for writing. " + ErrnoText(EACCES));
}

int TZipWriter::RunZip() {
  currentDisk_ = 0;
  CheckMultiZipInfo(MultiZipInfo);
  const bool volumes = MultiZipInfo.MultiMode != TMultiMode::mmNone;

  // A symbolic link names the archive: the file it points to is replaced.
  std::string target = zipName_;
  {
    struct stat lst;
    char resolved[PATH_MAX];
    if (::lstat(target.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) &&
        ::realpath(target.c_str(), resolved))
      target = resolved;
  }

  volumes_ = {};
  // What an earlier run on the set that was stopped left is finished first.
  if (volumes) FinishStoppedRuns(target);
  TZipRun run;
  run.volumes = volumes;
  run.archiveExisted = ::stat(target.c_str(), &run.archiveStat) == 0;
  if (run.archiveExisted) {
    if (!S_ISREG(run.archiveStat.st_mode))
      throw EFOpenError("Cannot open file \"" + zipName_ + "\". It is not a file.");
    CheckWritable(zipName_, target, run.archiveStat);
    OpenExistingForUpdate();
  }

  if (!filesList_.empty()) {
    ExpandFileList();
  } else {
    totalBytes_ = bytesDone_ = 0;
    lineSizes_.clear();
    struct stat ast;
    archiveKnown_ = ::stat(zipName_.c_str(), &ast) == 0;
    archiveDev_ = ast.st_dev;
    archiveIno_ = ast.st_ino;
  }
  lineSizes_.resize(filesList_.size(), 0);
  // Nothing to add to no archive (or to an empty one): nothing is written.
  if (!WriteEmptyArchive && filesList_.empty() &&
      !(run.archiveExisted && dirList_ && dirList_->Count() > 0))
    throw ENothingToAdd(kTextNothingToAdd);
  // Volumes: each file is read once and its data copied once more.
  if (volumes) totalBytes_ *= 2;

  if (volumes) {
    // The archive is written whole before volumes are made of it: in the
    // temporary directory, not on the medium it is split onto.
    run.tempDir = TempDirectory();
    CreateTemp(run.temp, run.tempDir, true, kTempDirPrefix);
  } else if (run.archiveExisted) {
    // On another volume than the archive the new archive would have to be
    // copied back whole: it is made beside the archive instead, so that
    // putting it in place is one rename.
    const std::string temp = TempDirectory(), beside = DirName(target);
    struct stat tst, ast;
    if (::stat(temp.c_str(), &tst) == 0 && ::stat(beside.c_str(), &ast) == 0 &&
        tst.st_dev != ast.st_dev) {
      run.tempDir = beside;
      CreateTemp(run.temp, beside, true);
    } else {
      run.tempDir = temp;
      CreateTemp(run.temp, temp, true, kTempDirPrefix);
    }
  } else {
    try {
      run.tempDir = DirName(target);
      CreateTemp(run.temp, run.tempDir, true);
    } catch (const EFOpenError&) {
      throw EFOpenError("Cannot create file \"" + zipName_ + "\". " + ErrnoText(errno));
    }
  }
  StartOutput(run, run.archiveExisted || endRecord_.Modified);

  run.lineDone.assign(filesList_.size(), false);
  run.newNames.Reserve(static_cast<size_t>(dirList_ ? dirList_->Count() : 0) + filesList_.size());
  if (run.archiveExisted && dirList_ && dirList_->Count() > 0) {
    for (size_t i = 0; i < filesList_.size(); ++i)
      run.linesByName[StoredName(filesList_[i])].push_back(i);
    ProcessExisting(run);
  }

  int remaining = 0;
  for (size_t i = 0; i < filesList_.size(); ++i) remaining += run.lineDone[i] ? 0 : 1;
  if (remaining > 0 && OnStartZipInfo) {
    bool stop = false;
    OnStartZipInfo(this, remaining, totalBytes_, run.newEnd, stop);
    if (stop) throw EUserCanceled(kTextCanceledZip);
  }
  StartPool(run);
  for (size_t i = 0; i < filesList_.size(); ++i)
    if (!run.lineDone[i]) ZipOneFile(run, i);
  run.pool.reset();

  // Every file left out after all: the old archive, or none, stays.
  if (!WriteEmptyArchive && run.newInOrder->Count() == 0) throw ENothingToAdd(kTextNothingToAdd);
  // Put the new archive in place of the old one.
  struct timespec date =
      FinishOutput(run, target, run.archiveExisted ? &run.archiveStat : nullptr);

  if (Dispose) {
    for (const std::string& f : run.disposeList) {
      bool skip = false;
      if (OnDisposeFile) OnDisposeFile(this, f, skip);
      if (!skip) ::unlink(f.c_str());  // a file that cannot be deleted stays
    }
  }

  FreeDirectory();
  CloseArchive();
  if (volumes) {
    // The set is read afresh by the next operation, from its last volume.
    endRecord_.Reset();
    archiveDate_ = {};
    numberOfDisks_ = 1;
    currentDisk_ = 0;
    rebuilt_ = false;
    report_ = {};
    multiMode_ = TMultiMode::mmNone;
    return run.count;
  }
  AdoptNewDirectory(run, date);
  return run.count;
}

void TZipWriter::AdoptNewDirectory(TZipRun& run, const struct timespec& date) {
  // The new archive's entries are the component's directory now.
  dirList_ = std::move(run.newInOrder);
  view_ = dirList_.get();
  ReadPageNamesAfresh();
  endRecord_.Assign(run.newEnd);
  archiveDate_ = date;
  numberOfDisks_ = 1;
  currentDisk_ = 0;
  rebuilt_ = false;
  report_ = {};
  report_.announced = report_.read = dirList_->Count();
  multiMode_ = TMultiMode::mmNone;
}

void TZipWriter::OpenExistingForUpdate() {
  OpenIfNeeded();
  if (endRecord_.ThisDisk > 0 || multiMode_ != TMultiMode::mmNone)
    throw EZipError("An archive over several volumes cannot be updated; write a new one");
  // A rewrite from a partial reading would drop every entry not read.
  const std::string damage = report_.Damage();
  if (!damage.empty()) throw EBadZipFile(damage + "; the archive was left as it is");
  // Offsets written from the archive's start would no longer fit the
  // program in front of it.
  if (stubSize_ > 0)
    throw EZipError("The archive is self-extracting (" + std::to_string(stubSize_) +
                    " bytes of a program before it) and is not updated; extract it and make "
                    "a new archive");
}

void TZipWriter::StartOutput(TZipRun& run, bool keepEndRecord) {
  {
    struct stat tst;
    ::fstat(run.temp.fd, &tst);
    run.tempDev = tst.st_dev;
    run.tempIno = tst.st_ino;
  }
  run.compressor = std::make_unique<TDeflateCompressor>();
  run.out = std::make_unique<TOutputFile>(run.temp.fd);
  run.newInOrder = std::make_unique<TSortedZip>(dupError, true, TZipSortMode::ByNone);
  if (keepEndRecord) {
    if (endRecord_.ZipCommentLength && !endRecord_.ZipComment()) ZipComment();
    run.newEnd.Assign(endRecord_);
  } else {
    run.newEnd.Reset();
  }
  run.newEnd.Signature = EndCentralDirSig;
  run.newEnd.EntriesThisDisk = run.newEnd.TotalEntries = 0;
  run.newEnd.Modified = 0;
}

namespace {

// The old archive, still open while the new one takes its name: the file is
// freed at the last close, not by the rename.
class TOldArchiveHold {
 public:
  TOldArchiveHold(int fd, const struct stat* old, uint64_t from) {
    if (fd < 0 || !old || static_cast<uint64_t>(old->st_size) < from) return;
    fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    struct stat st;
    // Only the file the rename replaces is worth holding.
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || st.st_dev != old->st_dev || st.st_ino != old->st_ino)) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  TOldArchiveHold(const TOldArchiveHold&) = delete;
  TOldArchiveHold& operator=(const TOldArchiveHold&) = delete;
  // Not replaced after all: the file keeps its name, the close costs nothing.
  ~TOldArchiveHold() {
    if (fd_ >= 0) ::close(fd_);
  }
  void Release() {
    platform::CloseDescriptorLater(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace

struct timespec TZipWriter::FinishOutput(TZipRun& run, const std::string& target,
                                         const struct stat* old) {
  WriteCentralDirectory(run);
  run.out->Flush();
  run.compressor.reset();
  TOldArchiveHold hold(run.volumes || !archive_ ? -1 : archive_->Handle(), old, ReleaseOldInBackgroundFrom);
  CloseArchive();
  if (run.volumes) {
    PutInVolumes(run, target);
    run.temp.Discard();
    return {};
  }
  struct timespec date = CommitArchive(run.temp, target, old, FlushFilesOnClose);
  run.temp.Discard();
  hold.Release();
  return date;
}

void TZipWriter::PutInVolumes(TZipRun& run, const std::string& target) {
  TVolumeSource source;
  source.fd = run.temp.fd;
  source.entryOffsets.reserve(static_cast<size_t>(run.newInOrder->Count()));
  for (int i = 0; i < run.newInOrder->Count(); ++i)
    source.entryOffsets.push_back(run.newInOrder->Entry(i)->LocalHeaderOffset);
  source.centralOffset = run.newEnd.CentralDirOffset;
  source.centralSize = run.newEnd.CentralDirSize;
  if (run.newEnd.ZipComment()) source.comment = *run.newEnd.ZipComment();

  TVolumeHooks hooks;
  hooks.NextDisk = [this](int disk, const std::string& previous) {
    // No handler: the run cannot move to a new medium, which is a cancel.
    std::string name;
    if (!OnGetNextDisk) return name;
    name = previous;
    // The built-in handler asks for the medium when the set is spanned.
    const TMultiMode saved = multiMode_;
    multiMode_ = TMultiMode::mmSpan;
    try {
      OnGetNextDisk(this, disk, name);
    } catch (...) {
      multiMode_ = saved;
      throw;
    }
    multiMode_ = saved;
    return name;
  };
  hooks.FreeSpace = [this](const std::string& dir) { return VolumeFreeSpace(dir); };
  const int64_t half = totalBytes_ / 2;
  hooks.Progress = [this, half](int64_t copied, int64_t total) {
    bytesDone_ = half + (total > 0 ? static_cast<int64_t>(static_cast<double>(half) * copied / total) : half);
    if (OnTotalPercentDone) OnTotalPercentDone(this, Percent(bytesDone_, totalBytes_));
    ProcessMessagesAndCheckCancel();
  };
  hooks.Message = [this](const std::string& text) { ui_->ShowMessage(text, ""); };
  hooks.Placed = [this](int volume) {
    if (OnVolumePlaced) OnVolumePlaced(this, volume);
  };
  volumes_ = WriteVolumes(source, MultiZipInfo, target, hooks, FlushFilesOnClose);
}

int64_t TZipWriter::VolumeFreeSpace(const std::string& dir) const {
  platform::VolumeSpace space;
  if (!platform::GetVolumeSpace(dir, space)) return 0;
  return static_cast<int64_t>(std::min<uint64_t>(space.free, INT64_MAX));
}

int TZipWriter::Repair(const std::string& destination) {
  if (busy_) throw EZipError("The archive component is busy");
  struct stat dst;
  if (::lstat(destination.c_str(), &dst) == 0)
    throw EFOpenError("Cannot create file \"" + destination + "\". It exists already.");
  busy_ = true;
  const TZipSortMode savedSort = SortMode;
  const TIncompleteZipMode savedMode = IncompleteZipMode;
  const bool savedKeep = KeepZipOpen;
  auto restore = [&]() {
    SortMode = savedSort;
    IncompleteZipMode = savedMode;
    KeepZipOpen = savedKeep;
    CloseArchive();
    busy_ = false;
  };
  try {
    SortMode = TZipSortMode::ByNone;
    IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
    KeepZipOpen = true;
    ReadDirectoryOf(zipName_);
    const std::vector<bool> keep = VerifiedEntries();
    const size_t kept = static_cast<size_t>(std::count(keep.begin(), keep.end(), true));
    if (kept == 0)
      throw EBadZipFile("No entry of the archive could be saved; \"" + destination +
                        "\" was not written");
    OpenIfNeeded();
    TZipRun run;
    try {
      CreateTemp(run.temp, DirName(destination), true);
    } catch (const EFOpenError&) {
      throw EFOpenError("Cannot create file \"" + destination + "\". " + ErrnoText(errno));
    }
    StartOutput(run, report_.announced >= 0);
    run.oldArchive.SetFile(archive_->Handle());
    for (int i = 0; i < dirList_->Count(); ++i)
      if (keep[static_cast<size_t>(i)]) RepairEntry(run, *dirList_->Entry(i));
    FinishOutput(run, destination, nullptr);
    restore();
    return static_cast<int>(run.newEnd.TotalEntries);
  } catch (...) {
    restore();
    throw;
  }
}

void TZipWriter::ReadDirectoryOf(const std::string& name) {
  TZipReader::SetZipName(name);
  ReadZip();
}

std::vector<bool> TZipWriter::VerifiedEntries() {
  // Every file entry is decoded (with Password where one is encrypted); only
  // those whose size, CRC (or authentication code) come out right are kept.
  // A directory entry has nothing to decode. The caller's handlers still
  // hear why each entry is left out.
  const int count = dirList_ ? dirList_->Count() : 0;
  std::vector<bool> keep(static_cast<size_t>(count), false);
  for (int i = 0; i < count; ++i)
    keep[static_cast<size_t>(i)] =
        dirList_->Entry(i)->Filename().empty() && !dirList_->Entry(i)->Directory().empty();
  const TEndUnZipEvent savedEnd = OnEndUnZip;
  const TBadPasswordEvent savedPassword = OnBadPassword;
  const bool savedTest = TestOnly, savedAll = DoAll, savedDirs = RecreateDirs;
  auto restore = [&]() {
    OnEndUnZip = savedEnd;
    OnBadPassword = savedPassword;
    TestOnly = savedTest;
    DoAll = savedAll;
    RecreateDirs = savedDirs;
  };
  OnEndUnZip = [&](TZipReader*, int index, const std::string&) {
    if (index >= 0 && index < count) keep[static_cast<size_t>(index)] = true;
  };
  OnBadPassword = nullptr;  // the password given is the only one tried
  TestOnly = DoAll = RecreateDirs = true;
  filesList_.clear();
  try {
    UnZip();
  } catch (...) {
    restore();
    throw;
  }
  restore();
  for (int i = 0; i < count; ++i) {
    const TZipHeaderInfo& e = *dirList_->Entry(i);
    if (e.DataOverlaps) keep[static_cast<size_t>(i)] = false;
    // A test checks the data of an entry without a name, but such an
    // entry cannot be written again: no tool could give it a file.
    if (e.Path().empty() && keep[static_cast<size_t>(i)]) {
      keep[static_cast<size_t>(i)] = false;
      if (OnEntryError) OnEntryError(this, i, "entry without a name");
    }
  }
  return keep;
}

namespace {

// The version needed to extract what an entry's record says: its method,
// its encryption, ZIP64 fields.
uint16_t VersionNeededFor(const TZipHeaderInfo& e) {
  uint16_t v = e.Filename().empty() ? 20 : 10;
  switch (e.IsAes() ? e.AesMethod : e.CompressionMethod) {
    case 8: v = std::max<uint16_t>(v, 20); break;
    case 9: v = std::max<uint16_t>(v, 21); break;
    case 12: v = std::max<uint16_t>(v, 46); break;
    case 14:
    case 20:
    case 93:
    case 95:
    case 98: v = std::max<uint16_t>(v, 63); break;
    default: break;
  }
  if (e.IsEncrypted()) v = std::max<uint16_t>(v, 20);
  if (e.IsAes()) v = std::max<uint16_t>(v, 51);
  if (e.NeedsZip64()) v = std::max(v, kVersionZip64);
  return v;
}

}  // namespace

TZipWriter::TOldLocal TZipWriter::ReadOldLocal(TZipRun& run, const TZipHeaderInfo& entry) {
  TReadWindow& old = run.oldArchive;
  const int64_t at = static_cast<int64_t>(entry.LocalHeaderOffset);
  // Data the kernel copies are not read here: just the header.
  const size_t ahead = entry.CompressedSize >= kKernelCopyFrom
                           ? kLocalHeaderSize + entry.FilenameLength + entry.CentralExtraLength + kLocalMargin
                           : kCopyChunk;
  TOldLocal l;
  uint8_t* h = l.head;
  if (old.Read(h, kLocalHeaderSize, at, ahead) != kLocalHeaderSize || GetU32(h) != LocalFileHeaderSig)
    throw EBadZipFile(kTextNotAZip);
  l.flags = GetU16(h + 6);
  const uint16_t nameLen = GetU16(h + 26);
  const uint16_t extraLen = GetU16(h + 28);
  l.rawName.assign(nameLen, '\0');
  l.extra.assign(extraLen, '\0');
  if (old.Read(l.rawName.data(), nameLen, at + 30, ahead) != nameLen ||
      old.Read(l.extra.data(), extraLen, at + 30 + nameLen, ahead) != extraLen)
    throw EBadZipFile(kTextNotAZip);
  l.dataStart = at + 30 + nameLen + extraLen;
  return l;
}

void TZipWriter::WriteOldData(TZipRun& run, int64_t from, uint64_t size) {
  // Large data go file to file in the kernel; small ones through the read
  // window, which serves many small entries with one read.
  if (size >= kKernelCopyFrom) {
    while (size > 0) {
      const uint64_t piece = std::min<uint64_t>(size, 8u << 20);
      if (!run.out->CopyFrom(run.oldArchive.File(), from, piece)) throw EBadZipFile(kTextNotAZip);
      from += static_cast<int64_t>(piece);
      size -= piece;
      ProcessMessagesAndCheckCancel();
    }
    return;
  }
  uint8_t chunk[16384];
  while (size > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size, sizeof chunk));
    const size_t got = run.oldArchive.Read(chunk, want, from);
    if (got != want) throw EBadZipFile(kTextNotAZip);
    run.out->Write(chunk, got);
    from += static_cast<int64_t>(got);
    size -= got;
  }
}

// An extra field without its blocks of type `id`.
static std::string WithoutExtraBlock(std::string_view extra, uint16_t id) {
  std::string out;
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + at);
    const size_t len = GetU16(p + 2);
    if (at + 4 + len > extra.size()) break;
    if (GetU16(p) != id) out.append(extra.substr(at, 4 + len));
    at += 4 + len;
  }
  out.append(extra.substr(at));
  return out;
}

void TZipWriter::ReadPageNamesAfresh() {
  // The names stored in a code page, as a new reading of the archive gives
  // them: the page is chosen from all of them, old and new.
  TNameDecoder names(codePage_, platform::LocaleNameCodePage());
  for (int i = 0; i < dirList_->Count(); ++i) {
    auto& e = static_cast<TWriterEntry&>(*dirList_->Entry(i));
    if ((e.GeneralPurposeFlags & kFlagUtf8) || IsAscii(e.RawName)) continue;
    names.Decode(e, e.RawName, nullptr, 0, nullptr);
  }
  names.Finish(nullptr);
  codePageUsed_ = names.UsedPage() ? names.PageUsed() : std::string();
}

std::string TZipWriter::NameOfBytes(const std::string& raw, uint16_t flags,
                                    uint16_t versionMadeBy) const {
  // As the reader reads them: bytes in a code page through the page the
  // archive's names were read in.
  if ((flags & kFlagUtf8) || IsAscii(raw) || CodePageUsed().empty())
    return DecodeStoredName(raw, flags, versionMadeBy);
  return NameFromPage(raw, CodePageUsed());
}

template <class E>
void TZipWriter::KeepNameBytes(E& entry, const std::string& raw, uint16_t localFlags,
                               uint16_t versionMadeBy) const {
  if (NameOfBytes(raw, localFlags, versionMadeBy) == entry.Path())
    SetNameBytes(entry, TStoredNameBytes{raw, static_cast<uint16_t>(localFlags & kFlagUtf8)});
  else
    SetNameBytes(entry, EncodeStoredName(entry.Path()));
}

// The local header of an entry whose data are copied as stored: its name,
// the ZIP64 sizes when they need them, the AES field and the time field,
// written where the output stands. Says whether the sizes went into the
// ZIP64 field (the data descriptor repeats them in that width).
static bool WriteStoredLocalHeader(TOutputFile& out, TWriterEntry& e, bool extraTimes) {
  const bool zip64Sizes = e.CompressedSize >= kZip64Marker32 || e.UncompressedSize >= kZip64Marker32;
  std::string extra = zip64Sizes ? LocalZip64Extra(e) : std::string();
  if (e.IsAes()) {
    uint8_t aes[kAesExtraFieldSize];
    PutAesExtraField(aes, e.AesVersion, e.AesStrength, e.AesMethod);
    extra.append(reinterpret_cast<const char*>(aes), sizeof aes);
  }
  if (extraTimes) extra += ExtTimeExtra(e.ExactModTime);
  e.LocalExtraLength = static_cast<uint16_t>(extra.size());
  e.LocalHeaderOffset = static_cast<uint64_t>(out.Position());
  e.DiskNumberStart = 0;
  e.VersionNeeded = VersionNeededFor(e);
  if (e.NeedsZip64()) MarkZip64(e);
  uint8_t h[kLocalHeaderSize];
  EncodeLocalHeader(h, e, e.GeneralPurposeFlags, e.RawName.size(), e.LocalExtraLength, zip64Sizes);
  out.Write(h, sizeof h);
  out.Write(e.RawName.data(), e.RawName.size());
  out.Write(extra.data(), extra.size());
  return zip64Sizes;
}

void TZipWriter::RepairEntry(TZipRun& run, TZipHeaderInfo& src) {
  // Nothing of the old records is copied but what decoding confirmed (the
  // method, sizes and CRC, the encryption) and what describes the file (its
  // name, date, attributes and comment).
  auto entry = std::make_unique<TWriterEntry>();
  TWriterEntry& e = *entry;
  const bool isDir = src.Filename().empty();
  e.SetPath(src.Path());
  e.LastModDateTime = src.LastModDateTime;
  e.ExactModTime = src.ExactModTime;
  e.ExternalAttributes = src.ExternalAttributes;
  e.InternalAttributes = src.InternalAttributes & 1;  // the text bit
  e.VersionMadeBy = static_cast<uint16_t>((src.VersionMadeBy & 0xFF00) | 20);
  if (isDir) {
    e.CompressionMethod = 0;
    e.CRC32 = 0;
    e.CompressedSize = e.UncompressedSize = 0;
  } else {
    e.CompressionMethod = src.CompressionMethod;
    e.CRC32 = src.CRC32;
    e.CompressedSize = src.CompressedSize;
    e.UncompressedSize = src.UncompressedSize;
    // Encryption, the method's own bits (deflate's level, implode's tables,
    // LZMA's end marker) and, for the traditional encryption, the
    // descriptor its check byte depends on.
    uint16_t flags = src.GeneralPurposeFlags & (kFlagEncrypted | 0x0006);
    if (src.IsEncrypted() && !src.IsAes()) flags |= src.GeneralPurposeFlags & kFlagDataDescriptor;
    e.GeneralPurposeFlags = flags;
    if (src.IsAes()) {
      e.AesVersion = src.AesVersion;
      e.AesStrength = src.AesStrength;
      e.AesMethod = src.AesMethod;
    }
  }
  if (src.HasComment() && !src.FileComment()) LoadEntryComment(src, *archive_);
  if (src.FileComment()) e.SetFileComment(src.FileComment());

  const TOldLocal old = ReadOldLocal(run, src);
  KeepNameBytes(e, old.rawName, old.flags, src.VersionMadeBy);
  const bool zip64Sizes = WriteStoredLocalHeader(*run.out, e, ExtraTimes);
  if (!isDir) WriteOldData(run, old.dataStart, e.CompressedSize);
  if (e.HasDataDescriptor()) {
    const std::string d = DataDescriptor(e, zip64Sizes);
    run.out->Write(d.data(), d.size());
  }
  run.AddEntry(entry.release(), false);
}

void TZipWriter::ProcessExisting(TZipRun& run) {
  run.oldArchive.SetFile(archive_->Handle());
  for (int k = 0; k < dirList_->Count(); ++k) {
    TZipHeaderInfo* src = dirList_->Entry(k);
    if (src->HasComment() && !src->FileComment()) LoadEntryComment(*src, *archive_);

    // The first line of FilesList that names this entry.
    long line = -1;
    auto it = run.linesByName.find(src->Path());
    if (it != run.linesByName.end())
      for (size_t i : it->second)
        if (!run.lineDone[i]) {
          line = static_cast<long>(i);
          break;
        }

    bool replace = false;
    if (line >= 0) {
      const std::string& f = filesList_[line];
      if (ZipAction == zaReplace) {
        replace = true;
      } else {
        struct stat st;
        std::string path = f;
        if (path.size() > 1 && path.back() == '/') path.pop_back();
        if (::stat(path.c_str(), &st) == 0) {
          uint32_t fileDate = ValidateDate(TimeToDosDateTime(st.st_mtime));
          replace = DosDateTimeOrdinal(src->LastModDateTime) < DosDateTimeOrdinal(fileDate);
        }
      }
      run.lineDone[line] = true;
      if (!replace) totalBytes_ -= lineSizes_[line];
    }

    if (replace) {
      if (OnUpdate) OnUpdate(this, uaReplacing, k);
      // The new data goes here, at the old entry's place in the sequence. A
      // file that cannot be added after all leaves the old entry in place.
      if (ZipOneFile(run, static_cast<size_t>(line))) continue;
    } else if (line >= 0 && OnUpdate) {
      OnUpdate(this, uaKeeping, k);
    }
    auto entry = std::make_unique<TWriterEntry>();
    entry->Assign(*src);
    CopyEntry(run, *entry);
    // Old archives may hold two entries of one name: both are kept.
    run.AddEntry(entry.release(), true);
  }
}

void TZipWriter::CopyEntry(TZipRun& run, TZipHeaderInfo& e) {
  TOldRange none;
  CopyEntry(run, e, none, false);
}

bool TZipWriter::CopyEntry(TZipRun& run, TZipHeaderInfo& e, TOldRange& verbatim, bool join) {
  TWriterEntry& entry = static_cast<TWriterEntry&>(e);
  const TOldLocal old = ReadOldLocal(run, entry);
  const int64_t oldAt = static_cast<int64_t>(entry.LocalHeaderOffset);
  KeepNameBytes(entry, old.rawName, old.flags, entry.VersionMadeBy);

  // The sizes are in the new local header and no descriptor follows, so
  // bit 3 goes; an encrypted entry keeps it (its password check depends on
  // it) and gets its descriptor written again.
  const bool descriptor = entry.HasDataDescriptor() && entry.IsEncrypted();
  if (!entry.IsEncrypted()) entry.GeneralPurposeFlags &= ~kFlagDataDescriptor;

  // The old local extra field goes along without its ZIP64 block; a new one
  // follows when the sizes need it.
  const bool zip64Sizes =
      entry.CompressedSize >= kZip64Marker32 || entry.UncompressedSize >= kZip64Marker32;
  std::string extra = WithoutZip64Extra(old.extra);
  // An entry stored under a new name (an edit renamed it) loses the Unicode
  // path field, which names the old one.
  if (NameOfBytes(old.rawName, old.flags, entry.VersionMadeBy) != entry.Path())
    extra = WithoutExtraBlock(extra, kUnicodePathExtraId);
  if (zip64Sizes) extra += LocalZip64Extra(entry);
  if (extra.size() > 0xFFFF) throw EBadZipFile(kTextNotAZip);
  entry.LocalExtraLength = static_cast<uint16_t>(extra.size());

  // Where the entry lands: after what is written and what waits to be.
  entry.LocalHeaderOffset = static_cast<uint64_t>(run.out->Position() + (verbatim.to - verbatim.from));
  entry.DiskNumberStart = 0;
  if (entry.NeedsZip64()) MarkZip64(entry);
  uint8_t nh[kLocalHeaderSize];
  EncodeLocalHeader(nh, entry, entry.GeneralPurposeFlags, entry.RawName.size(),
                    entry.LocalExtraLength, zip64Sizes);

  // A header that comes out as it was, with no descriptor behind the data:
  // the entry's bytes in the old archive are the new ones, and they join the
  // range copied in one piece when they follow it.
  if (join && !descriptor && std::memcmp(nh, old.head, sizeof nh) == 0 && entry.RawName == old.rawName &&
      extra == old.extra) {
    if (verbatim.to != oldAt) {
      FlushOldRange(run, verbatim);
      verbatim.from = verbatim.to = oldAt;
    }
    verbatim.to = old.dataStart + static_cast<int64_t>(entry.CompressedSize);
    return true;
  }
  FlushOldRange(run, verbatim);
  run.out->Write(nh, sizeof nh);
  run.out->Write(entry.RawName.data(), entry.RawName.size());
  run.out->Write(extra.data(), extra.size());

  // The compressed data, byte for byte.
  WriteOldData(run, old.dataStart, entry.CompressedSize);
  if (descriptor) {
    const std::string d = DataDescriptor(entry, zip64Sizes);
    run.out->Write(d.data(), d.size());
  }
  return false;
}

void TZipWriter::FlushOldRange(TZipRun& run, TOldRange& range) {
  // In pieces, so that progress moves and a cancel is heard within one.
  constexpr int64_t kPiece = 8 << 20;
  while (range.from < range.to) {
    const int64_t piece = std::min(kPiece, range.to - range.from);
    WriteOldData(run, range.from, static_cast<uint64_t>(piece));
    range.from += piece;
    bytesDone_ = std::min(totalBytes_, bytesDone_ + piece);
    if (OnTotalPercentDone) OnTotalPercentDone(this, Percent(bytesDone_, totalBytes_));
    ProcessMessagesAndCheckCancel();
  }
  range = {};
}

// The source of one new entry: an open file, a directory, or a symbolic link
// stored as a link.
struct TZipWriter::TSource {
  int fd = -1;
  struct stat st {};
  bool isDir = false;
  bool isLink = false;
  std::string linkTarget;
  TSource() = default;
  TSource(const TSource&) = delete;
  TSource& operator=(const TSource&) = delete;
  ~TSource() { Close(); }
  bool pooled = false;  // read and compressed by a worker of the pool: no fd here
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

TZipWriter::TOpenResult TZipWriter::OpenSource(TZipRun& run, const std::string& F,
                                               TSource& src) {
  if (StoreLinks && ::lstat(F.c_str(), &src.st) == 0 && S_ISLNK(src.st.st_mode)) {
    std::string target(static_cast<size_t>(src.st.st_size) + 1, '\0');
    ssize_t n = ::readlink(F.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return TOpenResult::Gone;
    target.resize(static_cast<size_t>(n));
    src.isLink = true;
    src.linkTarget = std::move(target);
    return TOpenResult::Opened;
  }
  for (;;) {
    // Non-blocking, so that a pipe with no writer cannot stop the run.
    src.fd = ::open(F.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int err = errno;
    if (src.fd >= 0) {
      if (::fstat(src.fd, &src.st) == 0 && S_ISREG(src.st.st_mode)) break;
      src.Close();
      err = EISDIR;
    } else if (err == ENOENT || err == ENOTDIR) {
      // The file has gone since the list was made: told, not added.
      if (OnLeftOut) OnLeftOut(this, F, ErrnoText(err));
      return TOpenResult::Gone;
    }
    bool retry = false;
    if (OnSkippingFile) OnSkippingFile(this, skipCannotOpen, F, -1, retry);
    if (!retry) return TOpenResult::Gone;
  }
  const bool isArchive = archiveKnown_ && static_cast<uint64_t>(src.st.st_dev) == archiveDev_ &&
                         static_cast<uint64_t>(src.st.st_ino) == archiveIno_;
  const bool isOutput = static_cast<uint64_t>(src.st.st_dev) == run.tempDev &&
                        static_cast<uint64_t>(src.st.st_ino) == run.tempIno;
  if (isArchive || isOutput) return TOpenResult::Gone;
  ::fcntl(src.fd, F_SETFL, ::fcntl(src.fd, F_GETFL) & ~O_NONBLOCK);
  return TOpenResult::Opened;
}

namespace {
// Lets the pool go on to the next file however ZipOneFile leaves.
struct TPopHead {
  TPackPool* pool;
  ~TPopHead() {
    if (pool) pool->PopHead();
  }
};
}  // namespace

bool TZipWriter::ZipOneFile(TZipRun& run, size_t line) {
  run.lineDone[line] = true;
  const bool pooled = run.pool && run.pool->IsHead(line);
  TPopHead popHead{pooled ? run.pool.get() : nullptr};
  const std::string F = filesList_[line];
  const int64_t lineSize = lineSizes_[line];
  fileBytesDone_ = 0;
  fileSize_ = 0;
  auto entry = std::make_unique<TWriterEntry>();
  entry->VersionMadeBy = kVersionMadeByUnix;
  auto leaveOut = [&]() {
    totalBytes_ -= run.volumes ? 2 * lineSize : lineSize;
    return false;
  };

  TSource src;
  src.isDir = !F.empty() && F.back() == '/';
  if (src.isDir) {
    std::string d = F.size() > 1 ? F.substr(0, F.size() - 1) : F;
    struct stat st;
    bool found = ::stat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entry->LastModDateTime = TimeToDosDateTime(found ? st.st_mtime : std::time(nullptr));
    if (ExtraTimes && found)
      entry->ExactModTime = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    entry->ExternalAttributes = ExternalAttributesOf(found ? st.st_mode : (S_IFDIR | 0755));
    entry->CRC32 = 0;
    entry->CompressionMethod = 0;
  } else {
    // A file of the pool was opened by its worker; whatever the worker could
    // not open is opened here, as without the pool, with the same events.
    TPackOpen how = TPackOpen::Elsewhere;
    if (pooled) how = run.pool->WaitOpened(src.st, [this] { ProcessMessagesAndCheckCancel(); });
    if (how == TPackOpen::Refused) return leaveOut();
    src.pooled = how == TPackOpen::Opened;
    if (!src.pooled && OpenSource(run, F, src) != TOpenResult::Opened) return leaveOut();
    entry->ExternalAttributes = ExternalAttributesOf(src.st.st_mode);
    entry->LastModDateTime = TimeToDosDateTime(src.st.st_mtime);
    if (ExtraTimes)
      entry->ExactModTime = src.st.st_mtim.tv_sec * 1000000000LL + src.st.st_mtim.tv_nsec;
    entry->UncompressedSize =
        static_cast<uint64_t>(src.isLink ? src.linkTarget.size() : src.st.st_size);
    fileSize_ = static_cast<int64_t>(entry->UncompressedSize);
  }

  // The stored name, and what a reader will make of it.
  {
    TStoredNameBytes enc = EncodeStoredName(PlainStoredName(F));
    entry->SetPath(NameOfBytes(enc.raw, enc.flags, kVersionMadeByUnix));
    SetNameBytes(*entry, enc);
  }
  entry->InternalAttributes = src.isDir ? 0 : 2;
  entry->DiskNumberStart = 0;
  entry->LocalHeaderOffset = static_cast<uint64_t>(run.out->Position());

  if (run.newNames.Contains(entry->Path())) {
    bool retry = false;  // not used: the name stays taken
    if (OnSkippingFile) OnSkippingFile(this, skipNoOverwrite, F, -1, retry);
    return leaveOut();
  }
  const std::string before = entry->Path();
  if (OnStartZip) {
    bool skip = false;
    OnStartZip(this, F, *entry, skip);
    if (skip) return leaveOut();
    if (entry->Path() != before) SetNameBytes(*entry, EncodeStoredName(entry->Path()));
  }
  if (entry->RawName.size() > 0xFFFF)
    throw EZipTooLarge("The name \"" + F + "\" is too long for this archive format");

  WriteNewEntry(run, F, src, *entry);
  run.AddEntry(entry.release(), true);
  ++run.count;
  return true;
}

void TZipWriter::WriteNewEntry(TZipRun& run, const std::string& F, TSource& src,
                               TZipHeaderInfo& newEntry) {
  TWriterEntry& entry = static_cast<TWriterEntry&>(newEntry);
  TEntryEncryptor encryptor;
  const bool encrypt = !src.isDir && Encryption != TZipEncryption::None;
  if (encrypt) BeginEncryption(entry, Encryption, Password, encryptor);

  const int64_t at = run.out->Position();
  entry.LocalHeaderOffset = static_cast<uint64_t>(at);
  // Whether the local header carries the sizes in a ZIP64 extra field is
  // decided now, from the size the file has when it is opened.
  const bool zip64Sizes = !src.isDir && fileSize_ >= static_cast<int64_t>(kLocalZip64Threshold);
  // The local extra field: the ZIP64 block (its sizes written again once
  // known), then the AES field that BeginEncryption counted (its method
  // written again once known).
  std::string zip64Block = zip64Sizes ? LocalZip64Extra(entry) : std::string();
  const bool aesField = encrypt && entry.LocalExtraLength != 0;
  const std::string timeField = (ExtraTimes ? ExtTimeExtra(entry.ExactModTime) : std::string()) +
                                UnicodePathFieldOf(entry, UnicodePathField);
  entry.LocalExtraLength = static_cast<uint16_t>(
      zip64Block.size() + (aesField ? kAesExtraFieldSize : 0) + timeField.size());
  if (zip64Sizes || entry.NeedsZip64()) MarkZip64(entry);
  uint8_t h[kLocalHeaderSize];
  uint8_t aes[kAesExtraFieldSize];
  const int64_t zip64At = at + static_cast<int64_t>(kLocalHeaderSize + entry.RawName.size());
  const int64_t aesAt = zip64At + static_cast<int64_t>(zip64Block.size());
  EncodeLocalHeader(h, entry, entry.GeneralPurposeFlags, entry.RawName.size(),
                    entry.LocalExtraLength, zip64Sizes);
  run.out->Write(h, sizeof h);
  run.out->Write(entry.RawName.data(), entry.RawName.size());
  run.out->Write(zip64Block.data(), zip64Block.size());
  if (aesField) {
    PutAesExtraField(aes, entry.AesVersion, entry.AesStrength, 0);
    run.out->Write(aes, kAesExtraFieldSize);
  }
  run.out->Write(timeField.data(), timeField.size());
  if (encrypt) run.out->Write(encryptor.Header().data(), encryptor.Header().size());

  if (src.isDir) {
    if (OnEndZip) OnEndZip(this, F, 0, 0, 0);
  } else {
    if (src.pooled)
      WritePooledData(run, F, src, entry, encrypt ? &encryptor : nullptr);
    else
      WriteEntryData(run, F, src, entry, encrypt ? &encryptor : nullptr,
                     zip64Sizes ? UINT64_MAX : kLocalZip64Threshold);
    if (encrypt) {
      const std::vector<uint8_t> trailer = encryptor.Trailer();
      run.out->Write(trailer.data(), trailer.size());
      entry.CompressedSize += encryptor.Overhead();
      if (entry.AesStrength) {
        // AE-2: the authentication code protects the data; no CRC is stored.
        entry.AesMethod = entry.CompressionMethod;
        entry.CompressionMethod = kMethodAes;
        entry.CRC32 = 0;
        PutAesExtraField(aes, entry.AesVersion, entry.AesStrength, entry.AesMethod);
        run.out->Patch(aesAt, aes, sizeof aes);
      }
      if (entry.HasDataDescriptor()) {
        const std::string d = DataDescriptor(entry, zip64Sizes);
        run.out->Write(d.data(), d.size());
      }
    }
    // Unreachable while the read limit holds: the header has no room for
    // larger sizes.
    if (!zip64Sizes && (entry.CompressedSize >= kZip64Marker32 ||
                        entry.UncompressedSize >= kZip64Marker32))
      throw EZipTooLarge("\"" + F + "\" grew beyond what its header can describe");
    EncodeLocalHeader(h, entry, entry.GeneralPurposeFlags, entry.RawName.size(),
                      entry.LocalExtraLength, zip64Sizes);
    run.out->Patch(at, h, sizeof h);
    if (zip64Sizes) {
      zip64Block = LocalZip64Extra(entry);
      run.out->Patch(zip64At, zip64Block.data(), zip64Block.size());
    }
    src.Close();
    if (OnEndZip)
      OnEndZip(this, F, static_cast<int64_t>(entry.UncompressedSize),
               static_cast<int64_t>(entry.CompressedSize), run.out->Position());
    if (Dispose) run.disposeList.push_back(F);
  }
}

void TZipWriter::WriteEntryData(TZipRun& run, const std::string& F, TSource& src,
                                TZipHeaderInfo& entry, TEntryEncryptor* encryptor,
                                uint64_t limit) {
  int64_t compressed = 0;
  int64_t read = 0;
  uint32_t crc = 0xFFFFFFFF;
  auto afterWrite = [this]() { ProcessMessagesAndCheckCancel(); };
  TOutputSink sink(*run.out, encryptor, afterWrite);
  if (src.isLink) {
    // The link's target, stored.
    const auto* p = reinterpret_cast<const uint8_t*>(src.linkTarget.data());
    sink.Write(p, src.linkTarget.size());
    ReportRead(src.linkTarget.size(), crc, p);
    compressed = read = static_cast<int64_t>(src.linkTarget.size());
    entry.CompressionMethod = 0;
    entry.InternalAttributes = 0;
  } else {
    TFileSource source(*this, src.fd, F, limit);
    if (PackLevel <= 0 || MatchesPatternList(NoCompressList, F)) {
      std::unique_ptr<uint8_t[]> buf(new uint8_t[kStoreChunk]);
      for (;;) {
        size_t n = source.Read(buf.get(), kStoreChunk);
        if (n == 0) break;
        sink.Write(buf.get(), n);
      }
      compressed = source.total;
      entry.CompressionMethod = 0;
      entry.InternalAttributes = 0;
    } else {
      const int level = std::min(PackLevel, 9);
      const bool split = SplitDeflate && static_cast<uint64_t>(src.st.st_size) >= kSplitFileLeast;
      const TDeflateResult r = split ? DeflateSplit(*run.compressor, level, source, sink)
                                     : run.compressor->Deflate(level, source, sink);
      compressed = static_cast<int64_t>(r.CompressedSize);
      entry.CompressionMethod = r.CompressionMethod;
      entry.InternalAttributes = r.InternalAttributes;
      entry.GeneralPurposeFlags |= r.FlagBits;
    }
    read = source.total;
    crc = source.crc;
    struct stat now;
    if (::fstat(src.fd, &now) == 0) ReportChange(F, src.st, now, read);
  }
  entry.CompressedSize = static_cast<uint64_t>(compressed);
  // The size actually read: a file that changed while it was read is
  // described as it was read.
  entry.UncompressedSize = static_cast<uint64_t>(read);
  entry.CRC32 = ~crc;
}

void TZipWriter::StartPool(TZipRun& run) {
  const int threads = Threads <= 0 ? AvailableProcessors() : Threads;
  if (threads <= 1) return;
  std::vector<TPackRequest> requests;
  for (size_t i = 0; i < filesList_.size(); ++i) {
    const std::string& F = filesList_[i];
    if (run.lineDone[i] || F.empty() || F.back() == '/') continue;
    requests.push_back({i, F, PackLevel <= 0 || MatchesPatternList(NoCompressList, F),
                        i < lineSizes_.size() ? static_cast<uint64_t>(lineSizes_[i]) : UINT64_MAX});
  }
  if (requests.empty()) return;
  TPackOptions options;
  options.threads = threads;
  options.level = std::clamp(PackLevel, 1, 9);
  options.splitDeflate = SplitDeflate;
  // Enough files ahead that a large file at the head does not hold up the
  // other workers, and that the writer, faster than the workers, finds
  // finished files waiting (memoryTotal bounds what they hold).
  options.window = 16 * static_cast<size_t>(threads);
  options.scratchDirectory = run.tempDir;
  options.storeLinks = StoreLinks;
  options.zip64Threshold = kLocalZip64Threshold;
  options.refused.emplace_back(run.tempDev, run.tempIno);
  if (archiveKnown_) options.refused.emplace_back(archiveDev_, archiveIno_);
  run.pool = std::make_unique<TPackPool>(std::move(requests), std::move(options));
}

void TZipWriter::WritePooledData(TZipRun& run, const std::string& F, TSource& src,
                                 TZipHeaderInfo& entry, TEntryEncryptor* encryptor) {
  TOutputSink sink(*run.out, encryptor, [] {});
  const int64_t base = bytesDone_ - fileBytesDone_;
  const TPackResult r = run.pool->Drain(
      [&](const uint8_t* data, size_t n) { sink.Write(data, n); },
      [&](int64_t read) {
        fileBytesDone_ = read;
        bytesDone_ = base + read;
        if (OnFilePercentDone) OnFilePercentDone(this, Percent(fileBytesDone_, fileSize_));
        if (OnTotalPercentDone) OnTotalPercentDone(this, Percent(bytesDone_, totalBytes_));
      },
      [this] { ProcessMessagesAndCheckCancel(); });
  entry.CompressionMethod = r.deflate.CompressionMethod;
  entry.InternalAttributes = r.deflate.InternalAttributes;
  entry.GeneralPurposeFlags |= r.deflate.FlagBits;
  entry.CompressedSize = r.deflate.CompressedSize;
  entry.UncompressedSize = static_cast<uint64_t>(r.read);
  entry.CRC32 = r.crc;
  if (r.afterValid) ReportChange(F, src.st, r.after, r.read);
}

void TZipWriter::ReportChange(const std::string& F, const struct stat& opened,
                              const struct stat& now, int64_t read) {
  if (!OnFileChanged) return;
  std::string what;
  if (read != opened.st_size || now.st_size != opened.st_size) {
    what = "size changed while it was read: " + std::to_string(opened.st_size) +
           " bytes when opened, " + std::to_string(read) + " read";
    if (now.st_size != read) what += ", " + std::to_string(now.st_size) + " now";
  } else if (now.st_mtim.tv_sec != opened.st_mtim.tv_sec ||
             now.st_mtim.tv_nsec != opened.st_mtim.tv_nsec) {
    what = "modification time changed while it was read";
  }
  if (!what.empty()) OnFileChanged(this, F, what);
}

void TZipWriter::WriteCentralDirectory(TZipRun& run) {
  const int64_t start = run.out->Position();
  run.newEnd.CentralDirOffset = static_cast<uint64_t>(start);
  run.newEnd.CentralDirDisk = 0;
  for (int i = 0; i < run.newInOrder->Count(); ++i) {
    auto& e = static_cast<TWriterEntry&>(*run.newInOrder->Entry(i));
    const auto& comment = e.FileComment();
    uint16_t commentLen = comment ? e.FileCommentLength : 0;
    uint8_t h[kCentralHeaderSize];
    e.CentralEntryOffset = static_cast<uint64_t>(run.out->Position());
    // The ZIP64 block where a value needs it, and the AES field, without
    // which an AES entry cannot be read.
    std::string extra = CentralZip64Extra(e);
    if (!extra.empty()) MarkZip64(e);
    if (e.IsAes()) {
      uint8_t aes[kAesExtraFieldSize];
      PutAesExtraField(aes, e.AesVersion, e.AesStrength, e.AesMethod);
      extra.append(reinterpret_cast<const char*>(aes), sizeof aes);
    }
    // The exact time, read from the old records or taken from the file.
    if (ExtraTimes) extra += ExtTimeExtra(e.ExactModTime);
    extra += UnicodePathFieldOf(e, UnicodePathField);
    EncodeCentralHeader(h, e, e.GeneralPurposeFlags, e.RawName.size(),
                        static_cast<uint16_t>(extra.size()), commentLen);
    run.out->Write(h, sizeof h);
    run.out->Write(e.RawName.data(), e.RawName.size());
    run.out->Write(extra.data(), extra.size());
    if (commentLen) {
      std::string c = *comment;
      c.resize(commentLen);
      run.out->Write(c.data(), c.size());
    }
    e.CentralExtraLength = static_cast<uint16_t>(extra.size());
    e.FileCommentLength = commentLen;
  }
  run.newEnd.CentralDirSize = static_cast<uint64_t>(run.out->Position() - start);
  run.newEnd.ThisDisk = 0;
  run.newEnd.Zip64 = 0;
  // The ZIP64 end record and its locator go first when a value needs them.
  const int64_t at = run.out->Position();
  const std::string end = run.newEnd.Encode(at);
  run.newEnd.Zip64 = run.newEnd.NeedsZip64() ? 1 : 0;
  run.newEnd.Zip64RecordPos = run.newEnd.Zip64 ? at : -1;
  run.newEnd.ZipCommentPos = at + static_cast<int64_t>(end.size()) -
                             (run.newEnd.ZipComment() ? run.newEnd.ZipCommentLength : 0);
  run.out->Write(end.data(), end.size());
}

// ------------------------------------------------------------ editing

int TZipWriter::Edit(const TEdit& edit) {
  if (busy_) throw EZipError("The archive component is busy");
  busy_ = true;
  CancelOperation = false;
  const TZipSortMode savedSort = SortMode;
  const bool savedKeep = KeepZipOpen;
  KeepZipOpen = true;
  SortMode = TZipSortMode::ByNone;
  auto cleanup = [&]() {
    SortMode = savedSort;
    KeepZipOpen = savedKeep;
    if (!KeepZipOpen) CloseArchive();
    if (dirList_) BuildView();
    busy_ = false;
    archiveKnown_ = false;
    CancelOperation = false;
  };
  int count;
  try {
    count = RunEdit(edit);
  } catch (...) {
    // A run cut short leaves the directory of the old archive, which is
    // still the archive on disk.
    cleanup();
    throw;
  }
  cleanup();
  if (OnZipComplete) OnZipComplete(this, count);
  return count;
}

int TZipWriter::RunEdit(const TEdit& edit) {
  currentDisk_ = 0;
  std::string target = zipName_;
  {
    struct stat lst;
    char resolved[PATH_MAX];
    if (::lstat(target.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) &&
        ::realpath(target.c_str(), resolved))
      target = resolved;
  }
  TZipRun run;
  run.archiveExisted = ::stat(target.c_str(), &run.archiveStat) == 0;
  if (!run.archiveExisted || !S_ISREG(run.archiveStat.st_mode))
    throw EFOpenError("Cannot open file \"" + zipName_ + "\". It is not a file.");
  CheckWritable(zipName_, target, run.archiveStat);
  OpenExistingForUpdate();
  // The archive itself is never added to itself.
  archiveKnown_ = true;
  archiveDev_ = run.archiveStat.st_dev;
  archiveIno_ = run.archiveStat.st_ino;

  // What is kept, decided before anything is written.
  std::vector<std::pair<int, std::string>> kept;
  totalBytes_ = bytesDone_ = 0;
  for (int k = 0; k < dirList_->Count(); ++k) {
    std::string newPath;
    if (!edit.keep || edit.keep(*dirList_->Entry(k), newPath)) {
      kept.emplace_back(k, std::move(newPath));
      totalBytes_ += static_cast<int64_t>(dirList_->Entry(k)->CompressedSize);
    }
  }
  for (const TNewEntry& added : edit.added) {
    struct stat st;
    if (!added.localFile.empty() && ::stat(added.localFile.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      totalBytes_ += st.st_size;
  }

  const std::string temp = TempDirectory(), beside = DirName(target);
  struct stat tst, ast;
  if (::stat(temp.c_str(), &tst) == 0 && ::stat(beside.c_str(), &ast) == 0 && tst.st_dev != ast.st_dev)
    CreateTemp(run.temp, beside, true);
  else
    CreateTemp(run.temp, temp, true, kTempDirPrefix);
  StartOutput(run, true);
  run.newNames.Reserve(kept.size() + edit.added.size());
  run.oldArchive.SetFile(archive_->Handle());

  // Entries that stay as they were and lie one after the other are copied
  // as one range of the old archive (by the kernel, file to file).
  TOldRange verbatim;
  for (auto& [k, newPath] : kept) {
    TZipHeaderInfo* src = dirList_->Entry(k);
    if (src->HasComment() && !src->FileComment()) LoadEntryComment(*src, *archive_);
    auto entry = std::make_unique<TWriterEntry>();
    entry->Assign(*src);
    if (!newPath.empty() && newPath != src->Path()) entry->SetPath(newPath);
    if (!CopyEntry(run, *entry, verbatim, true)) {
      bytesDone_ = std::min(totalBytes_, bytesDone_ + static_cast<int64_t>(src->CompressedSize));
      if (OnTotalPercentDone) OnTotalPercentDone(this, Percent(bytesDone_, totalBytes_));
    }
    ProcessMessagesAndCheckCancel();
    run.AddEntry(entry.release(), true);
  }
  FlushOldRange(run, verbatim);
  for (const TNewEntry& added : edit.added)
    if (AddEditEntry(run, added)) ++run.count;

  const struct timespec date = FinishOutput(run, target, &run.archiveStat);
  FreeDirectory();
  CloseArchive();
  AdoptNewDirectory(run, date);
  return run.count;
}

bool TZipWriter::AddEditEntry(TZipRun& run, const TNewEntry& added) {
  fileBytesDone_ = 0;
  fileSize_ = 0;
  if (added.stored) {
    AddStoredEntry(run, added);
    return true;
  }
  auto entry = std::make_unique<TWriterEntry>();
  entry->VersionMadeBy = kVersionMadeByUnix;
  TSource src;
  src.isDir = !added.path.empty() && added.path.back() == '/';
  if (src.isDir) {
    struct stat st;
    const bool found = !added.localFile.empty() && ::stat(added.localFile.c_str(), &st) == 0 &&
                       S_ISDIR(st.st_mode);
    entry->LastModDateTime = TimeToDosDateTime(found ? st.st_mtime : std::time(nullptr));
    entry->ExternalAttributes = ExternalAttributesOf(found ? st.st_mode : (S_IFDIR | 0755));
    entry->CRC32 = 0;
    entry->CompressionMethod = 0;
  } else {
    // All or nothing: a file that cannot be read fails the whole edit.
    const bool savedLinks = StoreLinks;
    StoreLinks = added.storeLink;
    const TOpenResult opened = OpenSource(run, added.localFile, src);
    StoreLinks = savedLinks;
    if (opened != TOpenResult::Opened)
      throw EFOpenError("Cannot open file \"" + added.localFile + "\" to add it");
    entry->ExternalAttributes = ExternalAttributesOf(src.st.st_mode);
    entry->LastModDateTime = TimeToDosDateTime(src.st.st_mtime);
    entry->UncompressedSize =
        static_cast<uint64_t>(src.isLink ? src.linkTarget.size() : src.st.st_size);
    fileSize_ = static_cast<int64_t>(entry->UncompressedSize);
  }
  {
    TStoredNameBytes enc = EncodeStoredName(added.path);
    entry->SetPath(DecodeStoredName(enc.raw, enc.flags, kVersionMadeByUnix));
    SetNameBytes(*entry, enc);
  }
  if (entry->RawName.size() > 0xFFFF)
    throw EZipTooLarge("The name \"" + added.path + "\" is too long for this archive format");
  if (run.newNames.Contains(entry->Path()))
    throw EZipError("\"" + added.path + "\" is in the archive already");
  entry->InternalAttributes = src.isDir ? 0 : 2;
  entry->DiskNumberStart = 0;
  WriteNewEntry(run, added.localFile.empty() ? added.path : added.localFile, src, *entry);
  run.AddEntry(entry.release(), true);
  return true;
}

void TZipWriter::AddStoredEntry(TZipRun& run, const TNewEntry& added) {
  const TZipHeaderInfo& src = *added.stored;
  const int fd = ::open(added.localFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EFOpenError("Cannot open file \"" + added.localFile + "\" to add it");
  struct TCloser {
    int fd;
    ~TCloser() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) != src.CompressedSize)
    throw EFOpenError("The stored data of \"" + added.path + "\" are not whole");

  // Only what the data need and what describes the file goes along: the
  // method and its bits, the encryption (and, for the traditional one, the
  // descriptor its check byte depends on), the CRC and the sizes; the
  // records are written anew as for an entry of this archive.
  auto entry = std::make_unique<TWriterEntry>();
  TWriterEntry& e = *entry;
  e.LastModDateTime = src.LastModDateTime;
  e.ExactModTime = src.ExactModTime;
  e.ExternalAttributes = src.ExternalAttributes;
  e.InternalAttributes = src.InternalAttributes & 1;  // the text bit
  e.VersionMadeBy = static_cast<uint16_t>((src.VersionMadeBy & 0xFF00) | 20);
  e.CompressionMethod = src.CompressionMethod;
  e.CRC32 = src.CRC32;
  e.CompressedSize = src.CompressedSize;
  e.UncompressedSize = src.UncompressedSize;
  uint16_t flags = src.GeneralPurposeFlags & (kFlagEncrypted | 0x0006);
  if (src.IsEncrypted() && !src.IsAes()) flags |= src.GeneralPurposeFlags & kFlagDataDescriptor;
  if (src.IsAes()) {
    e.AesVersion = src.AesVersion;
    e.AesStrength = src.AesStrength;
    e.AesMethod = src.AesMethod;
  }
  if (src.FileComment()) e.SetFileComment(src.FileComment());
  {
    TStoredNameBytes enc = EncodeStoredName(added.path);
    e.SetPath(DecodeStoredName(enc.raw, enc.flags, kVersionMadeByUnix));
    SetNameBytes(e, enc);
  }
  e.GeneralPurposeFlags = static_cast<uint16_t>((e.GeneralPurposeFlags & kFlagUtf8) | flags);
  if (e.RawName.size() > 0xFFFF)
    throw EZipTooLarge("The name \"" + added.path + "\" is too long for this archive format");
  if (run.newNames.Contains(e.Path())) throw EZipError("\"" + added.path + "\" is in the archive already");

  const bool zip64Sizes = WriteStoredLocalHeader(*run.out, e, ExtraTimes);
  // In pieces, so that progress moves and a cancel is heard within one.
  constexpr uint64_t kPiece = 8u << 20;
  for (uint64_t at = 0; at < e.CompressedSize;) {
    const uint64_t piece = std::min(kPiece, e.CompressedSize - at);
    if (!run.out->CopyFrom(fd, static_cast<int64_t>(at), piece))
      throw EFOpenError("The stored data of \"" + added.path + "\" are not whole");
    at += piece;
    bytesDone_ = std::min(totalBytes_, bytesDone_ + static_cast<int64_t>(piece));
    if (OnTotalPercentDone) OnTotalPercentDone(this, Percent(bytesDone_, totalBytes_));
    ProcessMessagesAndCheckCancel();
  }
  if (e.HasDataDescriptor()) {
    const std::string d = DataDescriptor(e, zip64Sizes);
    run.out->Write(d.data(), d.size());
  }
  run.AddEntry(entry.release(), true);
}

}  // namespace vantrel::zip
