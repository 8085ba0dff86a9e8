// zip_volumes.cpp - copying a finished archive onto block files or removable
// media (see zip_volumes.h for the rules).
#include "zip/zip_volumes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/copyfile.h"
#include "zip/zip_errors.h"
#include "zip/zip_format.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {

namespace {

constexpr size_t kPieceWithProgress = 16384;  // steps short enough for a progress bar
constexpr size_t kPiece = 1 << 20;
constexpr int kMaxVolumes = 0xFFFF;  // disk numbers are 16-bit, counted from 0

std::string DirOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string WithExtension(const std::string& name, const std::string& ext) {
  const size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = name.size();
  return name.substr(0, dot) + ext;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string LeafOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Hidden names of a set's temporaries: ".x.zip.vtmp-..." beside x.zip.
std::string TempPrefix(const std::string& zipName) {
  std::string prefix(1, '.');
  prefix += LeafOf(zipName);
  return prefix += ".vtmp-";
}

// The journal of a commit in a run directory: a record per volume to move
// ("P", the file in the run directory, its final name beside the run
// directory), every field ended by
// a NUL byte (names may hold any other byte). Once it is there, the set is
// complete and a run that was stopped is finished by the next one.
constexpr const char* kJournal = "commit";
constexpr const char* kJournalTemp = "commit.part";

// Empties and removes a run directory; closes fd (its descriptor, or -1).
void RemoveRunDirectory(const std::string& path, int fd) {
  if (DIR* d = ::opendir(path.c_str())) {
    while (const struct dirent* e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        ::unlinkat(::dirfd(d), e->d_name, 0);
    ::closedir(d);
  }
  ::rmdir(path.c_str());
  if (fd >= 0) ::close(fd);
}

// Finishes (journal there) or undoes (no journal) the run directory `dir`
// of a run that was stopped.
void FinishRun(const std::string& dir, int fd) {
  const int jfd = ::openat(fd, kJournal, O_RDONLY | O_CLOEXEC);
  if (jfd >= 0) {
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(jfd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    ::close(jfd);
    std::vector<std::string> fields;
    for (size_t at = 0, nul; (nul = text.find('\0', at)) != std::string::npos; at = nul + 1)
      fields.push_back(text.substr(at, nul - at));
    for (size_t i = 0; i < fields.size();) {
      if (fields[i] != "P" || i + 2 >= fields.size()) break;
      // Moved already, or still to move; beside the run directory.
      ::renameat(fd, fields[i + 1].c_str(), AT_FDCWD, (DirOf(dir) + "/" + fields[i + 2]).c_str());
      i += 3;
    }
  }
  RemoveRunDirectory(dir, fd);
}

bool IsDir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

[[noreturn]] void WriteFailed(int err) {
  if (err == ENOSPC || err == EFBIG || err == EDQUOT || err == 0)
    throw ENotEnoughRoom(kTextNotEnoughRoom);
  throw ENotEnoughRoom(std::string(kTextNotEnoughRoom) + " (" + std::strerror(err) + ")");
}

void WriteAll(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) WriteFailed(w < 0 ? errno : 0);
    p += w;
    n -= static_cast<size_t>(w);
  }
}

void ReadAt(int fd, void* data, size_t n, uint64_t at) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(at));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) throw EZipError("Cannot read the temporary archive: " +
                                std::string(r < 0 ? std::strerror(errno) : "it is too short"));
    p += r;
    n -= static_cast<size_t>(r);
    at += static_cast<uint64_t>(r);
  }
}

void PutU64At(uint8_t* p, uint64_t v) {
  PutU32(p, static_cast<uint32_t>(v));
  PutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Sets the local header offset of a central record. A record whose offset
// field holds the ZIP64 marker keeps it there and gets the value in its
// ZIP64 extra field, where the uncompressed and compressed sizes come first
// when their fields hold the marker too.
void PatchCentralRecord(std::string& rec, int disk, uint32_t offset) {
  auto* h = reinterpret_cast<uint8_t*>(rec.data());
  PutU16(h + 34, static_cast<uint16_t>(disk));
  if (GetU32(h + 42) != 0xFFFFFFFF) {
    PutU32(h + 42, offset);
    return;
  }
  size_t at = kCentralHeaderSize + GetU16(h + 28);
  const size_t end = at + GetU16(h + 30);
  while (at + 4 <= end) {
    const uint16_t id = GetU16(h + at), len = GetU16(h + at + 2);
    if (id == 0x0001) {
      size_t field = at + 4 + (GetU32(h + 24) == 0xFFFFFFFF ? 8 : 0) +
                     (GetU32(h + 20) == 0xFFFFFFFF ? 8 : 0);
      if (field + 8 > at + 4 + len) break;
      PutU64At(h + field, offset);
      return;
    }
    at += 4 + len;
  }
  throw EBadZipFile("A central record's ZIP64 field is missing its offset");
}

class TSplitter {
 public:
  TSplitter(const TVolumeSource& src, const TMultiZipInfo& info, const std::string& zipName,
            const TVolumeHooks& hooks, bool flush)
      : src_(src), info_(info), zipName_(zipName), hooks_(hooks), flush_(flush),
        span_(info.MultiMode == TMultiMode::mmSpan),
        piece_(hooks.Progress ? kPieceWithProgress : kPiece) {}

  ~TSplitter() {
    if (!done_) Abandon();
  }

  TVolumeSet Run();

 private:
  struct TVolume {
    std::string temp;   // the name it is written under
    std::string final;  // the name it takes when complete
    bool placed = false;
    bool replacing = false;  // a file of the final name existed before the run
  };

  // The most room one record needs on a volume: a local header with one byte
  // of data after it, a central record or the end record.
  int64_t LargestRecord(uint64_t endSize) const;
  void StartVolume(const std::string& final, int64_t room);
  void FinishVolume();
  void NextVolume();
  // Starts the next volume unless `need` bytes fit the room left (a local
  // header also needs one byte of data after it: `header`).
  void MakeRoom(int64_t need, bool header);
  // Volume output goes through a buffer, flushed when full and when the
  // volume is finished: small entries would otherwise cost a call each.
  void Write(const void* data, size_t n);
  void Flush();
  void Copy(uint64_t from, uint64_t n);
  void Place(TVolume& v);
  std::string AskDisk(int disk, const std::string& previous);
  // mmBlocks: a hidden, locked directory beside the archive that holds the
  // volumes until they are complete.
  void MakeRunDirectory();
  void WriteJournal();
  void Commit();
  void WriteConfigFile(const std::string& name);
  void Abandon();

  const TVolumeSource& src_;
  const TMultiZipInfo& info_;
  const std::string& zipName_;
  const TVolumeHooks& hooks_;
  const bool flush_;
  const bool span_;
  const size_t piece_;

  std::vector<TVolume> volumes_;
  std::string runDir_;
  int runDirFd_ = -1;
  std::unique_ptr<uint8_t[]> copyBuffer_{new uint8_t[kPiece]};
  std::vector<uint8_t> out_;
  int fd_ = -1;
  int64_t spaceLeft_ = 0;
  uint64_t position_ = 0;  // bytes on the current volume
  int64_t copied_ = 0;
  int64_t total_ = 0;
  int entriesThisDisk_ = 0;
  std::string central_;  // the records as written, for the ".zfc" file
  std::string end_;
  bool done_ = false;
  TVolumeSet set_;
};

TVolumeSet TSplitter::Run() {
  const size_t count = src_.entryOffsets.size();
  if (count > 0xFFFF)
    throw EZipTooLarge("An archive over several volumes holds at most 65535 entries");
  if (src_.comment.size() > 0xFFFF) throw EZipError("The archive comment is too long");
  const uint64_t endSize = kEndCentralSize + src_.comment.size();
  total_ = static_cast<int64_t>(src_.centralOffset + src_.centralSize + endSize);

  int64_t room = info_.FirstBlockSize;
  if (!span_) {
    // Checked first: too small a volume would otherwise be found out only
    // after thousands of volume files.
    const int64_t need = LargestRecord(endSize);
    if (info_.BlockSize < need)
      throw EZipError("Volumes of " + std::to_string(info_.BlockSize) +
                      " bytes cannot hold a record of " + std::to_string(need) +
                      " bytes; choose larger volumes");
  } else {
    room = hooks_.FreeSpace(DirOf(zipName_)) - info_.SaveOnFirstDisk;
    // The ".zfc" file, when asked for, goes on the first medium at the end.
    if (info_.SaveZipInfoOnFirstDisk) room -= static_cast<int64_t>(src_.centralSize + endSize);
  }
  if (!span_) MakeRunDirectory();
  StartVolume(zipName_, std::min(room, kMaxVolumeSize));

  // Local headers and data.
  std::vector<std::pair<int, uint32_t>> places(count);
  for (size_t i = 0; i < count; ++i) {
    const uint64_t at = src_.entryOffsets[i];
    const uint64_t next = i + 1 < count ? src_.entryOffsets[i + 1] : src_.centralOffset;
    uint8_t h[kLocalHeaderSize];
    if (next < at + sizeof h) throw EBadZipFile("The temporary archive's entries are out of order");
    ReadAt(src_.fd, h, sizeof h, at);
    const uint64_t headerSize = kLocalHeaderSize + GetU16(h + 26) + GetU16(h + 28);
    if (GetU32(h) != LocalFileHeaderSig || next < at + headerSize)
      throw EBadZipFile("The temporary archive's local header is damaged");
    MakeRoom(static_cast<int64_t>(headerSize), true);
    places[i] = {static_cast<int>(volumes_.size()) - 1, static_cast<uint32_t>(position_)};
    Copy(at, headerSize);
    uint64_t left = next - at - headerSize;
    while (left > 0) {
      const uint64_t piece = std::min<uint64_t>(left, static_cast<uint64_t>(spaceLeft_));
      Copy(at + (next - at - left), piece);
      left -= piece;
      if (left > 0 || spaceLeft_ == 0) NextVolume();
    }
  }

  // Central records with their volumes and offsets.
  uint64_t at = src_.centralOffset;
  uint64_t centralSize = 0;
  std::string rec;
  for (size_t i = 0; i < count; ++i) {
    uint8_t h[kCentralHeaderSize];
    ReadAt(src_.fd, h, sizeof h, at);
    if (GetU32(h) != CentralFileHeaderSig)
      throw EBadZipFile("The temporary archive's central directory is damaged");
    rec.resize(kCentralHeaderSize + GetU16(h + 28) + GetU16(h + 30) + GetU16(h + 32));
    ReadAt(src_.fd, rec.data(), rec.size(), at);
    PatchCentralRecord(rec, places[i].first, places[i].second);
    MakeRoom(static_cast<int64_t>(rec.size()), false);
    if (i == 0) {
      set_.centralDirDisk = static_cast<int>(volumes_.size()) - 1;
      set_.centralDirOffset = static_cast<uint32_t>(position_);
    }
    Write(rec.data(), rec.size());
    ++entriesThisDisk_;
    if (info_.SaveZipInfoOnFirstDisk) central_ += rec;
    at += rec.size();
    centralSize += rec.size();
    copied_ += static_cast<int64_t>(rec.size());
  }

  // The end record.
  MakeRoom(static_cast<int64_t>(endSize), false);
  if (count == 0) {
    set_.centralDirDisk = static_cast<int>(volumes_.size()) - 1;
    set_.centralDirOffset = static_cast<uint32_t>(position_);
  }
  set_.thisDisk = static_cast<int>(volumes_.size()) - 1;
  set_.entriesThisDisk = entriesThisDisk_;
  end_.assign(kEndCentralSize, '\0');
  auto* e = reinterpret_cast<uint8_t*>(end_.data());
  PutU32(e, EndCentralDirSig);
  PutU16(e + 4, static_cast<uint16_t>(set_.thisDisk));
  PutU16(e + 6, static_cast<uint16_t>(set_.centralDirDisk));
  PutU16(e + 8, static_cast<uint16_t>(entriesThisDisk_));
  PutU16(e + 10, static_cast<uint16_t>(count));
  PutU32(e + 12, static_cast<uint32_t>(centralSize));
  PutU32(e + 16, set_.centralDirOffset);
  PutU16(e + 20, static_cast<uint16_t>(src_.comment.size()));
  end_ += src_.comment;
  Write(end_.data(), end_.size());
  copied_ = total_;
  if (hooks_.Progress) hooks_.Progress(copied_, total_);
  FinishVolume();
  Commit();
  done_ = true;
  for (const TVolume& v : volumes_) set_.files.push_back(v.final);
  return set_;
}

int64_t TSplitter::LargestRecord(uint64_t endSize) const {
  uint64_t need = endSize;
  uint8_t h[kCentralHeaderSize];
  uint64_t at = src_.centralOffset;
  for (uint64_t offset : src_.entryOffsets) {
    ReadAt(src_.fd, h, kLocalHeaderSize, offset);
    need = std::max<uint64_t>(need, kLocalHeaderSize + GetU16(h + 26) + GetU16(h + 28) + 1);
    ReadAt(src_.fd, h, kCentralHeaderSize, at);
    const uint64_t size = kCentralHeaderSize + GetU16(h + 28) + GetU16(h + 30) + GetU16(h + 32);
    need = std::max(need, size);
    at += size;
  }
  return static_cast<int64_t>(need);
}

void TSplitter::StartVolume(const std::string& final, int64_t room) {
  if (volumes_.size() >= static_cast<size_t>(kMaxVolumes))
    throw EZipTooLarge("An archive over several volumes has at most 65535 of them");
  TVolume v;
  v.final = final;
  v.replacing = Exists(final);
  // Block volumes wait in the run directory; a medium's volume under a
  // hidden name beside its final one.
  if (!span_) {
    char leaf[16];
    std::snprintf(leaf, sizeof leaf, "%03zu", volumes_.size() + 1);
    v.temp = runDir_ + "/" + leaf;
    fd_ = ::openat(runDirFd_, leaf, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } else {
    v.temp = DirOf(final) + "/" + TempPrefix(final) + "XXXXXX";
    fd_ = ::mkostemp(v.temp.data(), O_CLOEXEC);
    if (fd_ >= 0) {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ::fchmod(fd_, 0666 & ~mask);
    }
  }
  if (fd_ < 0)
    throw EFOpenError("Cannot create file \"" + final + "\". " + std::strerror(errno));
  volumes_.push_back(std::move(v));
  spaceLeft_ = room;
  position_ = 0;
  entriesThisDisk_ = 0;
}

void TSplitter::FinishVolume() {
  if (fd_ < 0) return;
  Flush();
  const int fd = fd_;
  fd_ = -1;
  const bool synced = !flush_ || ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int err = errno;
  if (::close(fd) != 0 && errno != EINTR) WriteFailed(errno);
  if (!synced) WriteFailed(err);
  // A medium is taken out after its volume: the volume takes its name now,
  // except the first one when it replaces an older archive, which stays
  // under its temporary name until the whole set is written.
  TVolume& v = volumes_.back();
  if (span_ && !(volumes_.size() == 1 && v.replacing)) Place(v);
}

void TSplitter::NextVolume() {
  const std::string previous = volumes_.back().final;
  FinishVolume();
  const int disk = static_cast<int>(volumes_.size()) + 1;
  if (!span_) {
    StartVolume(BlockVolumeName(zipName_, disk), info_.BlockSize);
    return;
  }
  const std::string name = AskDisk(disk, previous);
  // A volume's offsets must fit the classic 32-bit fields.
  const int64_t room = std::min(hooks_.FreeSpace(DirOf(name)), kMaxVolumeSize);
  if (room <= 0) throw ENotEnoughRoom(kTextNotEnoughRoom);
  StartVolume(name, room);
}

std::string TSplitter::AskDisk(int disk, const std::string& previous) {
  std::string last;
  for (;;) {
    const std::string name = hooks_.NextDisk ? hooks_.NextDisk(disk, previous) : std::string();
    if (name.empty()) throw EUserCanceled(kTextCanceledZip);
    if (IsDir(DirOf(name))) return name;
    // The medium is not in (its directory is missing): ask again, unless
    // the same name comes back, which asking again would not change.
    if (name == last)
      throw EFOpenError("Cannot create file \"" + name + "\". Its directory does not exist.");
    last = name;
  }
}

void TSplitter::MakeRoom(int64_t need, bool header) {
  const bool fits = header ? spaceLeft_ > need : spaceLeft_ >= need;
  if (fits) return;
  const bool empty = position_ == 0 && volumes_.size() > 1;
  if (!empty) NextVolume();
  const bool fitsNow = header ? spaceLeft_ > need : spaceLeft_ >= need;
  if (!fitsNow)
    throw EZipError("A volume of " + std::to_string(spaceLeft_) + " bytes cannot hold a record of " +
                    std::to_string(need) + " bytes; choose larger volumes");
}

void TSplitter::Write(const void* data, size_t n) {
  if (out_.size() + n > kPiece) Flush();
  if (n >= kPiece) {
    WriteAll(fd_, data, n);
  } else {
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
  }
  position_ += n;
  spaceLeft_ -= static_cast<int64_t>(n);
}

void TSplitter::Flush() {
  WriteAll(fd_, out_.data(), out_.size());
  out_.clear();
}

void TSplitter::Copy(uint64_t from, uint64_t n) {
  while (n > 0) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(n, piece_));
    ReadAt(src_.fd, copyBuffer_.get(), step, from);
    Write(copyBuffer_.get(), step);
    from += step;
    n -= step;
    copied_ += static_cast<int64_t>(step);
    if (hooks_.Progress) hooks_.Progress(copied_, total_);
  }
}

void TSplitter::Place(TVolume& v) {
  if (::rename(v.temp.c_str(), v.final.c_str()) != 0)
    throw EZipError("Cannot create \"" + v.final + "\": " + std::strerror(errno));
  v.placed = true;
}

void TSplitter::MakeRunDirectory() {
  runDir_ = DirOf(zipName_) + "/" + TempPrefix(zipName_) + "XXXXXX";
  if (!::mkdtemp(runDir_.data())) {
    const int err = errno;
    runDir_.clear();
    throw EFOpenError("Cannot create file \"" + zipName_ + "\". " + std::strerror(err));
  }
  runDirFd_ = ::open(runDir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Held for the whole run: the next run on the set tells a live run's
  // directory from one whose run was stopped by the lock.
  if (runDirFd_ < 0 || ::flock(runDirFd_, LOCK_EX | LOCK_NB) != 0)
    throw EFOpenError("Cannot create file \"" + zipName_ + "\". " + std::strerror(errno));
}

void TSplitter::WriteJournal() {
  std::string text;
  auto field = [&text](const std::string& f) {
    text += f;
    text += '\0';
  };
  for (const TVolume& v : volumes_) {
    field("P");
    field(LeafOf(v.temp));
    field(LeafOf(v.final));
  }
  const int fd = ::openat(runDirFd_, kJournalTemp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) WriteFailed(errno);
  try {
    WriteAll(fd, text.data(), text.size());
  } catch (...) {
    ::close(fd);
    throw;
  }
  const bool synced = !flush_ || ::fsync(fd) == 0;
  if (::close(fd) != 0 || !synced) WriteFailed(errno);
  if (::renameat(runDirFd_, kJournalTemp, runDirFd_, kJournal) != 0) WriteFailed(errno);
  if (flush_) ::fsync(runDirFd_);
}

void TSplitter::Commit() {
  const size_t n = volumes_.size();
  if (!span_) {
    for (size_t i = 0; i < n; ++i) {
      volumes_[i].final = i + 1 == n ? zipName_ : BlockVolumeName(zipName_, static_cast<int>(i) + 1);
      if (i + 1 < n && volumes_[i].final == zipName_)
        throw EZipError("The archive's name \"" + zipName_ + "\" is also the name of its volume " +
                        std::to_string(i + 1) + "; choose another extension");
    }
    // The set is complete once the journal is written: from then on a run
    // that is stopped is finished by the next run on the set. The archive's
    // own name last: until then an older archive is untouched.
    WriteJournal();
    for (size_t i = 0; i < n; ++i) {
      Place(volumes_[i]);
      if (hooks_.Placed) hooks_.Placed(static_cast<int>(i) + 1);
    }
    RemoveRunDirectory(runDir_, runDirFd_);
    runDir_.clear();
    runDirFd_ = -1;
  }
  std::string first = volumes_.front().final;
  const bool deferred = !volumes_.front().placed;
  const bool config = info_.SaveZipInfoOnFirstDisk && n > 1;
  if (span_ && n > 1 && (deferred || config)) {
    // The first medium again, for its volume's name and the ".zfc" file.
    for (;;) {
      std::string answer;
      try {
        answer = AskDisk(1, volumes_.back().final);
      } catch (const EUserCanceled&) {
        if (deferred) throw;
        if (hooks_.Message) hooks_.Message(kTextCantCreateZfc);
        return;
      }
      if (!deferred || Exists(volumes_.front().temp)) {
        first = answer;
        break;
      }
    }
  }
  if (deferred) Place(volumes_.front());
  if (config) WriteConfigFile(WithExtension(first, ".zfc"));
}

void TSplitter::WriteConfigFile(const std::string& name) {
  // The configuration file is a convenience: failing to write it is said,
  // and the archive stands. It is written unnamed (or under a hidden name)
  // and takes its name complete, so a stopped run leaves no half of it.
  const std::string dir = DirOf(name);
  std::string temp;
  int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    temp = dir + "/" + TempPrefix(name) + "XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
      if (hooks_.Message) hooks_.Message(kTextCantCreateZfc);
      return;
    }
  }
  bool ok = true;
  try {
    WriteAll(fd, central_.data(), central_.size());
    WriteAll(fd, end_.data(), end_.size());
  } catch (const EZipError&) {
    ok = false;
  }
  if (ok) ok = temp.empty() ? platform::PlaceUnnamed(fd, dir, name, true) == 0
                            : ::rename(temp.c_str(), name.c_str()) == 0;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    if (!temp.empty()) ::unlink(temp.c_str());
    if (hooks_.Message) hooks_.Message(kTextCantSaveZfc);
    return;
  }
  set_.configFile = name;
}

void TSplitter::Abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  // Every volume this run made goes, where it can still be reached.
  for (const TVolume& v : volumes_) ::unlink((v.placed ? v.final : v.temp).c_str());
  if (!runDir_.empty()) RemoveRunDirectory(runDir_, runDirFd_);
  runDir_.clear();
  runDirFd_ = -1;
}

}  // namespace

void FinishStoppedRuns(const std::string& zipName) {
  const std::string dir = DirOf(zipName);
  const std::string prefix = TempPrefix(zipName);
  std::vector<std::string> found;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const struct dirent* e = ::readdir(d))
      if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) found.push_back(e->d_name);
    ::closedir(d);
  }
  for (const std::string& name : found) {
    const std::string path = dir + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      // A medium's volume left under its hidden name: it never became part
      // of a set.
      struct stat st;
      if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
      continue;
    }
    // A live run holds its directory's lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;
    }
    FinishRun(path, fd);
  }
}

void CheckMultiZipInfo(const TMultiZipInfo& info) {
  if (info.MultiMode == TMultiMode::mmNone) return;
  auto inRange = [](int64_t v) { return v >= 1 && v <= kMaxVolumeSize; };
  if (info.MultiMode == TMultiMode::mmBlocks &&
      (!inRange(info.BlockSize) || !inRange(info.FirstBlockSize)))
    throw EZipError("Volume sizes must lie between 1 byte and 4 GiB - 1 (" +
                    std::to_string(info.FirstBlockSize) + " and " + std::to_string(info.BlockSize) +
                    " given)");
  if (info.SaveOnFirstDisk < 0) throw EZipError("SaveOnFirstDisk cannot be negative");
}

std::string BlockVolumeName(const std::string& zipName, int disk) {
  char ext[16];
  std::snprintf(ext, sizeof ext, ".%3.3d", disk);
  return WithExtension(zipName, ext);
}

TVolumeSet WriteVolumes(const TVolumeSource& source, const TMultiZipInfo& info,
                        const std::string& zipName, const TVolumeHooks& hooks, bool flush) {
  TSplitter splitter(source, info, zipName, hooks, flush);
  return splitter.Run();
}

}  // namespace vantrel::zip
