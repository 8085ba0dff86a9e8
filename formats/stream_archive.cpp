// stream_archive.cpp - listing and reading archives through libarchive.
#include "formats/stream_archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <set>
#include <unordered_set>

#include "formats/sevenzip_program.h"
#include "formats/utf8_names.h"
#include "zip/codec/crc32.h"

namespace vantrel::formats {

namespace {

constexpr size_t kDataBlock = 256 * 1024;
// Damaged headers passed over in a row before a listing gives up.
constexpr size_t kMaxRetries = 1u << 20;

void Fail(TArchiveError* error, int code, const std::string& text) {
  if (error != nullptr) error->Set(code, text);
}

std::string ErrorOf(struct archive* a, const char* fallback) {
  const char* text = archive_error_string(a);
  return text != nullptr && *text != '\0' ? std::string(text) : std::string(fallback);
}

// ------------------------------------------------------------ members

platform::FileTime TimeOf(bool set, time_t seconds, long nanoseconds) {
  return set ? platform::FileTimeFromUnix(seconds, nanoseconds) : 0;
}

std::string Utf8OfWide(const wchar_t* w) {
  std::string out;
  for (; *w != 0; ++w) {
    const uint32_t c = static_cast<uint32_t>(*w);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// A name as the archive stores it: the bytes for formats that store bytes
// (tar, cpio, ar), UTF-8 for those that store Unicode (7z, Joliet, RAR).
std::string NameOf(const char* bytes, const char* utf8, const wchar_t* wide) {
  if (bytes != nullptr) return bytes;
  if (utf8 != nullptr) return utf8;
  if (wide != nullptr) return Utf8OfWide(wide);
  return {};
}

TMember MemberOf(struct archive_entry* e) {
  TMember m;
  m.path = NameOf(archive_entry_pathname(e), archive_entry_pathname_utf8(e), archive_entry_pathname_w(e));
  m.mode = static_cast<uint32_t>(archive_entry_perm(e)) & 07777;
  m.sizeKnown = archive_entry_size_is_set(e) != 0;
  m.size = m.sizeKnown && archive_entry_size(e) > 0 ? static_cast<uint64_t>(archive_entry_size(e)) : 0;
  m.writeTime = TimeOf(archive_entry_mtime_is_set(e), archive_entry_mtime(e), archive_entry_mtime_nsec(e));
  m.accessTime = TimeOf(archive_entry_atime_is_set(e), archive_entry_atime(e), archive_entry_atime_nsec(e));
  m.creationTime = TimeOf(archive_entry_birthtime_is_set(e), archive_entry_birthtime(e),
                          archive_entry_birthtime_nsec(e));
  if (m.creationTime == 0) m.creationTime = m.writeTime;
  m.encrypted = archive_entry_is_data_encrypted(e) > 0;
  const char* hard = archive_entry_hardlink(e);
  const char* hardUtf8 = hard == nullptr ? archive_entry_hardlink_utf8(e) : nullptr;
  if (hard != nullptr || hardUtf8 != nullptr) {
    m.hardLink = true;
    m.kind = TMemberKind::File;
    m.linkTarget = NameOf(hard, hardUtf8, nullptr);
    return m;
  }
  switch (archive_entry_filetype(e)) {
    case AE_IFDIR: m.kind = TMemberKind::Directory; break;
    case AE_IFLNK:
      m.kind = TMemberKind::Symlink;
      m.linkTarget = NameOf(archive_entry_symlink(e), archive_entry_symlink_utf8(e), archive_entry_symlink_w(e));
      m.size = m.linkTarget.size();
      m.sizeKnown = true;
      break;
    case AE_IFREG:
    case 0: m.kind = TMemberKind::File; break;
    default: m.kind = TMemberKind::Special; break;
  }
  if (m.kind != TMemberKind::File) m.size = m.kind == TMemberKind::Symlink ? m.size : 0;
  return m;
}

// A stored name without "./" starts and trailing slashes, for matching a
// hard link's target with the member it names.
std::string LinkKey(std::string_view path) {
  while (path.size() >= 2 && path[0] == '.' && path[1] == '/') path.remove_prefix(2);
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

// ------------------------------------------------------------ data

// Data that fail at once.
class TFailedData final : public TMemberData {
 public:
  TFailedData(int code, std::string text) : code_(code), text_(std::move(text)) {}
  bool Read(TDataSink&, TArchiveError* error) override {
    Fail(error, code_, text_);
    return false;
  }

 private:
  int code_;
  std::string text_;
};

// Data held in memory (a link's target, an empty file).
class TMemoryData final : public TMemberData {
 public:
  explicit TMemoryData(std::string bytes) : bytes_(std::move(bytes)) {}
  bool Read(TDataSink& sink, TArchiveError* error) override {
    if (!bytes_.empty() && !sink.Write(bytes_.data(), bytes_.size())) {
      Fail(error, ECANCELED, "stopped");
      return false;
    }
    return true;
  }

 private:
  std::string bytes_;
};

}  // namespace

// The state of one reading pass: the caller's options and what was put out.
class TStreamArchive::TPass {
 public:
  explicit TPass(const TReadOptions& o) : options(o) {}
  const TReadOptions& options;
  uint64_t output = 0;
  bool stop = false;  // no further member is served
  TArchiveError error;
  std::unordered_set<uint32_t> served;

  // Counts `n` more bytes out; false (and the pass stops) above the limit.
  bool Count(size_t n, TArchiveError* memberError) {
    if (options.outputLimit - output < n) {
      const std::string text = "the data would expand beyond the free space of the destination (" +
                               std::to_string(options.outputLimit) + " bytes): extraction stopped";
      error.Set(ENOSPC, text);
      Fail(memberError, ENOSPC, text);
      stop = true;
      return false;
    }
    output += n;
    return true;
  }
};

namespace {

// The data of the member at the archive's current header.
class TLiveData final : public TMemberData {
 public:
  TLiveData(struct archive* a, const TMember& member, TArchiveInput& input, TStreamArchive::TPass& pass,
            char* buffer)
      : a_(a), member_(member), input_(input), pass_(pass), buffer_(buffer) {}

  bool Read(TDataSink& sink, TArchiveError* error) override {
    if (used_) {
      Fail(error, EINVAL, "the data were read already");
      return false;
    }
    used_ = true;
    uint64_t got = 0;
    for (;;) {
      const la_ssize_t n = archive_read_data(a_, buffer_, kDataBlock);
      if (n < 0) {
        if (input_.Stopped()) {
          Fail(error, ECANCELED, "stopped");
          pass_.stop = true;
          pass_.error.Set(ECANCELED, "stopped");
        } else {
          fatal_ = n == ARCHIVE_FATAL;
          Fail(error, EIO, ErrorOf(a_, "the data cannot be read"));
        }
        return false;
      }
      if (n == 0) break;
      got += static_cast<uint64_t>(n);
      if (member_.sizeKnown && got > member_.size) {
        Fail(error, EIO, "the data are longer than the archive says (" + std::to_string(member_.size) + " bytes)");
        return false;
      }
      if (!pass_.Count(static_cast<size_t>(n), error)) return false;
      if (!sink.Write(buffer_, static_cast<size_t>(n))) {
        Fail(error, ECANCELED, "stopped");
        return false;
      }
    }
    if (member_.sizeKnown && got < member_.size) {
      Fail(error, EIO, "the data end early: the archive is truncated");
      return false;
    }
    complete_ = true;
    size_ = got;
    return true;
  }

  bool Fatal() const { return fatal_; }
  bool Complete() const { return complete_; }
  uint64_t Size() const { return size_; }

 private:
  struct archive* a_;
  const TMember& member_;
  TArchiveInput& input_;
  TStreamArchive::TPass& pass_;
  char* buffer_;
  bool used_ = false;
  bool fatal_ = false;
  bool complete_ = false;
  uint64_t size_ = 0;
};

// A copy of some data in an unnamed temporary file, for the hard links that
// share them: each reader gets them once more.
class TSpool final : public TDataSink {
 public:
  TSpool() {
    fd_ = ::memfd_create("vantrel-spool", MFD_CLOEXEC);
    if (fd_ < 0) {
      const char* env = std::getenv("TMPDIR");
      fd_ = ::open(env != nullptr && *env != '\0' ? env : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    }
  }
  ~TSpool() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Write(const void* data, size_t n) override {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      const ssize_t w = ::write(fd_, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      p += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }
  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

class TSpoolData final : public TMemberData {
 public:
  TSpoolData(const TSpool& spool, TStreamArchive::TPass& pass) : spool_(spool), pass_(pass) {}
  bool Read(TDataSink& sink, TArchiveError* error) override {
    std::unique_ptr<char[]> buffer(new char[kDataBlock]);
    uint64_t at = 0;
    for (;;) {
      const ssize_t n = ::pread(spool_.Fd(), buffer.get(), kDataBlock, static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        Fail(error, errno, platform::ErrorText(errno));
        return false;
      }
      if (n == 0) return true;
      at += static_cast<uint64_t>(n);
      if (!pass_.Count(static_cast<size_t>(n), error)) return false;
      if (!sink.Write(buffer.get(), static_cast<size_t>(n))) {
        Fail(error, ECANCELED, "stopped");
        return false;
      }
    }
  }

 private:
  const TSpool& spool_;
  TStreamArchive::TPass& pass_;
};

}  // namespace

// ReadNext's reader, where the last member it gave ended, and the data of
// members it went past that are wanted later.
struct TStreamArchive::TCursor {
  struct archive* a = nullptr;
  std::unique_ptr<TArchiveInput> input;
  size_t part = 0;
  uint32_t next = 0;  // the ordinal of the next header
  std::unique_ptr<char[]> buffer{new char[kDataBlock]};
  // The progress of the call being served, which the input reports to.
  const TByteProgress* progress = nullptr;
  // The members of each part by their place in its stream.
  std::vector<std::vector<uint32_t>> byOrdinal;
  // Data members still to be asked for, with the count of readers.
  std::unordered_map<uint32_t, uint32_t> expected;
  // Data kept for later: an unnamed file, and where each member is in it.
  std::unique_ptr<TSpool> spool;
  uint64_t spoolEnd = 0;
  std::unordered_map<uint32_t, std::pair<uint64_t, uint64_t>> kept;
  // Expected members the reader went past whose data failed.
  std::unordered_map<uint32_t, TArchiveError> failed;

  ~TCursor() { Close(); }
  void Close() {
    if (a != nullptr) archive_read_free(a);
    a = nullptr;
    input.reset();
  }
  // Appends to the spool; false when there is no room.
  class TKeeper final : public TDataSink {
   public:
    explicit TKeeper(TCursor& c) : c_(c) {}
    bool Write(const void* data, size_t n) override {
      if (!ok_) return true;
      if (!c_.spool) c_.spool = std::make_unique<TSpool>();
      ok_ = c_.spool->Valid() && c_.spool->Write(data, n);
      if (ok_) written_ += n;
      return true;  // a full spool costs a second pass later, nothing now
    }
    bool Ok() const { return ok_; }
    // Records the data written as the member's, or drops them.
    void Finish(uint32_t member, bool complete) {
      if (ok_ && complete) c_.kept[member] = {c_.spoolEnd, written_};
      c_.spoolEnd += written_;
    }

   private:
    TCursor& c_;
    bool ok_ = true;
    uint64_t written_ = 0;
  };
  // The caller's sink and the spool at once.
  class TTee final : public TDataSink {
   public:
    TTee(TDataSink& out, TKeeper& keeper) : out_(out), keeper_(keeper) {}
    bool Write(const void* data, size_t n) override { return keeper_.Write(data, n) && out_.Write(data, n); }

   private:
    TDataSink& out_;
    TKeeper& keeper_;
  };
};

// ---------------------------------------------------------------------------
// Opening

TStreamArchive::TStreamArchive(std::string path, int fd, TArchiveKind kind)
    : path_(std::move(path)), fd_(fd), kind_(std::move(kind)) {}

TStreamArchive::~TStreamArchive() {
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<TStreamArchive> TStreamArchive::Open(const std::string& path, TArchiveError* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail(error, errno, platform::ErrorText(errno));
    return nullptr;
  }
  TArchiveKind kind = ProbeArchive(fd);
  if (!kind.Recognised()) {
    ::close(fd);
    Fail(error, EINVAL, "not an archive");
    return nullptr;
  }
  return std::unique_ptr<TStreamArchive>(new TStreamArchive(path, fd, std::move(kind)));
}

std::unique_ptr<TStreamArchive> TStreamArchive::Open(const std::string& path, const TArchiveKind& kind,
                                                     TArchiveError* error) {
  if (!kind.Recognised()) {
    Fail(error, EINVAL, "not an archive");
    return nullptr;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail(error, errno, platform::ErrorText(errno));
    return nullptr;
  }
  return std::unique_ptr<TStreamArchive>(new TStreamArchive(path, fd, kind));
}

std::unique_ptr<TStreamArchive> TStreamArchive::Twin(TArchiveError* error) const {
  std::unique_ptr<TStreamArchive> twin = Open(path_, kind_, error);
  if (!twin) return nullptr;
  twin->members_ = members_;
  twin->state_ = state_ == TListState::Listing ? TListState::NotListed : state_;
  twin->problem_ = problem_;
  twin->damagedHeaders_ = damagedHeaders_;
  twin->listedBytes_ = listedBytes_;
  twin->sevenZipListing_ = sevenZipListing_;
  twin->password_ = password_;
  twin->passwordChecked_ = passwordChecked_;
  return twin;
}

// ---------------------------------------------------------------------------
// Listing

void TStreamArchive::AddMember(TMember&& member, const TListEvents& events) {
  const uint32_t index = static_cast<uint32_t>(members_.size());
  members_.push_back(std::move(member));
  if (events.onMember) events.onMember(index, members_.back());
}

TListState TStreamArchive::List(const TListEvents& events) {
  const TUtf8Names utf8;
  members_.clear();
  problem_.clear();
  damagedHeaders_ = 0;
  listedBytes_ = 0;
  sevenZipListing_ = false;
  cursor_.reset();
  state_ = TListState::Listing;
  if (kind_.encryptedHeaders) {
    state_ = ListWithSevenZip(events);
    return state_;
  }
  if (kind_.layout == TLayout::SingleFile) {
    // One entry, whose size only decompressing tells.
    TMember m;
    m.path = SingleEntryName(path_);
    m.sizeKnown = false;
    struct stat st;
    if (::fstat(fd_, &st) == 0) {
      m.writeTime = platform::FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
      m.accessTime = m.writeTime;
      m.creationTime = m.writeTime;
      m.mode = st.st_mode & 0666;
    }
    m.dataFrom = 0;
    AddMember(std::move(m), events);
    state_ = TListState::Complete;
    return state_;
  }
  TListState result = TListState::Complete;
  for (size_t part = 0; part < kind_.parts.size() && result == TListState::Complete; ++part)
    result = ListPart(part, events);
  ResolveHardLinks();
  state_ = result;
  return state_;
}

TListState TStreamArchive::ListPart(size_t part, const TListEvents& events) {
  const TStreamPart& range = kind_.parts[part];
  struct archive* a = NewArchiveReader(false);
  TArchiveInput input(fd_, range.start, range.length);
  const uint64_t before = listedBytes_;
  const uint64_t total = kind_.fileSize;
  if (events.progress)
    input.SetProgress([&](uint64_t done, uint64_t) { return events.progress(before + done, total); });
  TListState result = TListState::Complete;
  if (input.Open(a) != ARCHIVE_OK) {
    problem_ = ErrorOf(a, "the archive cannot be opened");
    result = input.Stopped() ? TListState::Stopped : TListState::Damaged;
    archive_read_free(a);
    return result;
  }
  const bool offsets = kind_.SeekableTar();
  uint32_t ordinal = 0;
  size_t retries = 0;
  for (;;) {
    struct archive_entry* entry = nullptr;
    const int r = archive_read_next_header(a, &entry);
    if (r == ARCHIVE_EOF) break;
    if (r == ARCHIVE_RETRY) {
      // A damaged header: libarchive looks for the next good one.
      ++damagedHeaders_;
      if (problem_.empty()) problem_ = ErrorOf(a, "damaged header");
      if (++retries > kMaxRetries) {
        result = TListState::Damaged;
        break;
      }
      continue;
    }
    if (r == ARCHIVE_FATAL || entry == nullptr) {
      if (input.Stopped()) {
        result = TListState::Stopped;
      } else {
        const std::string why = ErrorOf(a, "the archive cannot be read");
        if ((kind_.format == ARCHIVE_FORMAT_7ZIP || kind_.format == ARCHIVE_FORMAT_RAR ||
             kind_.format == ARCHIVE_FORMAT_RAR_V5) &&
            why.find("ncrypt") != std::string::npos && members_.empty()) {
          archive_read_free(a);
          return ListWithSevenZip(events);
        }
        problem_ = why;
        result = TListState::Damaged;
      }
      break;
    }
    retries = 0;
    TMember m = MemberOf(entry);
    if (!range.prefix.empty()) {
      m.path = range.prefix + m.path;
      if (m.hardLink) m.linkTarget = range.prefix + m.linkTarget;
    }
    m.part = static_cast<uint8_t>(part);
    m.ordinal = ordinal++;
    if (offsets) m.headerOffset = archive_read_header_position(a);
    // A hard link's data are settled once the listing is complete.
    m.dataFrom = m.hardLink ? -1 : static_cast<int64_t>(members_.size());
    AddMember(std::move(m), events);
  }
  listedBytes_ = before + std::min(input.Furthest(), range.length);
  archive_read_free(a);
  return result;
}

void TStreamArchive::ResolveHardLinks() {
  // A hard link that carries the data (cpio writes them with the last name
  // of a file) gives them to the empty member it names.
  std::unordered_map<std::string, uint32_t> byName;
  for (uint32_t i = 0; i < members_.size(); ++i) {
    TMember& m = members_[i];
    if (m.hardLink && m.sizeKnown && m.size > 0) {
      m.dataFrom = i;
      const auto found = byName.find(LinkKey(m.linkTarget));
      if (found != byName.end()) {
        TMember& named = members_[found->second];
        if (named.kind == TMemberKind::File && !named.hardLink && named.size == 0) {
          named.dataFrom = i;
          named.size = m.size;
        }
      }
    }
    byName[LinkKey(m.path)] = i;
  }
  // Every other hard link has the data of the member it names, which must
  // come before it.
  byName.clear();
  for (uint32_t i = 0; i < members_.size(); ++i) {
    TMember& m = members_[i];
    if (m.hardLink && m.dataFrom < 0) {
      const auto found = byName.find(LinkKey(m.linkTarget));
      if (found != byName.end() && members_[found->second].kind == TMemberKind::File &&
          members_[found->second].dataFrom >= 0) {
        const TMember& named = members_[found->second];
        m.dataFrom = named.dataFrom;
        m.size = members_[static_cast<size_t>(named.dataFrom)].size;
        m.sizeKnown = members_[static_cast<size_t>(named.dataFrom)].sizeKnown;
      } else {
        m.dataFrom = -1;
      }
    }
    byName[LinkKey(m.path)] = i;
  }
}

TListState TStreamArchive::ListWithSevenZip(const TListEvents& events) {
  std::vector<TSevenZipEntry> entries;
  bool again = false;
  for (;;) {
    std::string password = password_;
    if (!passwordChecked_) {
      if (!events.password || !events.password(again, password)) {
        problem_ = "the archive's listing is encrypted: no password was given";
        return TListState::Damaged;
      }
    }
    std::string why;
    const TSevenZipResult result = SevenZipList(path_, password, entries, &why);
    if (result == TSevenZipResult::Ok) {
      password_ = password;
      passwordChecked_ = true;
      break;
    }
    if (result != TSevenZipResult::WrongPassword) {
      problem_ = why;
      return TListState::Damaged;
    }
    passwordChecked_ = false;
    again = true;
  }
  sevenZipListing_ = true;
  listedBytes_ = kind_.fileSize;
  uint32_t ordinal = 0;
  for (const TSevenZipEntry& e : entries) {
    TMember m;
    m.path = e.path;
    m.kind = e.directory ? TMemberKind::Directory : e.symlink ? TMemberKind::Symlink : TMemberKind::File;
    m.size = e.directory ? 0 : e.size;
    m.sizeKnown = e.sizeKnown || e.directory;
    m.mode = e.mode;
    m.writeTime = m.accessTime = m.creationTime = e.writeTime;
    m.encrypted = e.encrypted;
    m.crc = e.crc;
    m.crcKnown = e.crcKnown;
    m.ordinal = ordinal++;
    m.dataFrom = static_cast<int64_t>(members_.size());
    AddMember(std::move(m), events);
  }
  return TListState::Complete;
}

// ---------------------------------------------------------------------------
// Reading

bool TStreamArchive::ReadMember(uint32_t index, TDataSink& sink, const TReadOptions& options,
                                TArchiveError* error) {
  bool ok = false;
  TArchiveError memberError;
  const bool passed = ReadMembers({index}, [&](uint32_t, TMemberData& data) {
    ok = data.Read(sink, &memberError);
    return true;
  }, options, error);
  if (!passed) return false;
  if (!ok && error != nullptr) *error = memberError;
  return ok;
}

bool TStreamArchive::ReadMembers(const std::vector<uint32_t>& indices, const TEachMember& each,
                                 const TReadOptions& options, TArchiveError* error) {
  const TUtf8Names utf8;
  TPass pass(options);
  // The members whose data are read, and who wants each one's data.
  std::unordered_map<uint32_t, std::vector<uint32_t>> readers;
  std::vector<uint32_t> sevenZip, seeking;
  std::vector<std::vector<uint32_t>> streamed(std::max<size_t>(kind_.parts.size(), 1));
  std::set<uint32_t> wanted(indices.begin(), indices.end());
  for (uint32_t index : wanted) {
    if (pass.stop) break;
    if (index >= members_.size()) {
      TFailedData data(ENOENT, "no such member");
      if (!each(index, data)) return true;
      continue;
    }
    const TMember& m = members_[index];
    if (m.kind == TMemberKind::Directory || (m.kind == TMemberKind::File && m.sizeKnown && m.size == 0 &&
                                             !m.hardLink && !m.encrypted)) {
      TMemoryData data{std::string()};
      if (!each(index, data)) return true;
      continue;
    }
    if (m.kind == TMemberKind::Special) {
      TFailedData data(EINVAL, "a device, pipe or socket: not extracted");
      if (!each(index, data)) return true;
      continue;
    }
    if (m.kind == TMemberKind::Symlink && !UsesSevenZip()) {
      TMemoryData data(m.linkTarget);
      if (!each(index, data)) return true;
      continue;
    }
    if (m.dataFrom < 0) {
      TFailedData data(ENOENT, "a hard link to " + m.linkTarget + ", which the archive does not hold");
      if (!each(index, data)) return true;
      continue;
    }
    const uint32_t from = static_cast<uint32_t>(m.dataFrom);
    auto& list = readers[from];
    if (list.empty()) {
      const TMember& source = members_[from];
      if (UsesSevenZip() || (source.encrypted && (kind_.format == ARCHIVE_FORMAT_7ZIP ||
                                                  kind_.format == ARCHIVE_FORMAT_RAR ||
                                                  kind_.format == ARCHIVE_FORMAT_RAR_V5)))
        sevenZip.push_back(from);
      else if (kind_.SeekableTar() && source.headerOffset >= 0)
        seeking.push_back(from);
      else
        streamed[source.part].push_back(from);
    }
    list.push_back(index);
  }
  bool ok = true;
  if (!pass.stop && !seeking.empty()) ok = ReadBySeeking(std::move(seeking), readers, each, pass, error);
  for (size_t part = 0; ok && !pass.stop && part < streamed.size(); ++part)
    if (!streamed[part].empty()) ok = ReadStreamed(part, std::move(streamed[part]), readers, each, pass, error);
  if (ok && !pass.stop && !sevenZip.empty()) ok = ReadWithSevenZip(std::move(sevenZip), readers, each, pass, error);
  if (!ok) return false;
  if (pass.stop) {
    if (error != nullptr) *error = pass.error;
    return pass.error.code == 0;
  }
  return true;
}

// Serves the data at the current header to every member that wants them:
// directly to one, through a spool to several. False when the caller
// stopped the pass (`stop` then set too).
bool TStreamArchive::ServeMember(uint32_t dataMember, const std::vector<uint32_t>& wanting, TMemberData& data,
                                 const TEachMember& each, TPass& pass, bool* stop) {
  (void)dataMember;
  if (wanting.size() == 1) {
    pass.served.insert(wanting[0]);
    if (!each(wanting[0], data)) {
      *stop = true;
      return false;
    }
    return true;
  }
  TSpool spool;
  TArchiveError spoolError;
  const bool spooled = spool.Valid() && data.Read(spool, &spoolError);
  // What goes into the spool counts towards the limit as well, so a bomb
  // cannot hide in it; each reader counts what it takes out.
  for (uint32_t reader : wanting) {
    pass.served.insert(reader);
    bool more;
    if (spooled) {
      TSpoolData copy(spool, pass);
      more = each(reader, copy);
    } else {
      TFailedData failed(spoolError.code != 0 ? spoolError.code : EIO,
                         spoolError.text.empty() ? "no room for a temporary copy" : spoolError.text);
      more = each(reader, failed);
    }
    if (!more) {
      *stop = true;
      return false;
    }
  }
  return true;
}

bool TStreamArchive::ReadStreamed(size_t part, std::vector<uint32_t> dataMembers,
                                  std::unordered_map<uint32_t, std::vector<uint32_t>>& readers,
                                  const TEachMember& each, TPass& pass, TArchiveError* error) {
  std::sort(dataMembers.begin(), dataMembers.end(),
            [&](uint32_t x, uint32_t y) { return members_[x].ordinal < members_[y].ordinal; });
  const TStreamPart& range = kind_.parts[part];
  struct archive* a = NewArchiveReader(kind_.layout == TLayout::SingleFile);
  TArchiveInput input(fd_, range.start, range.length);
  if (pass.options.progress)
    input.SetProgress([&](uint64_t done, uint64_t) { return pass.options.progress(range.start + done, kind_.fileSize); });
  std::unique_ptr<char[]> buffer(new char[kDataBlock]);
  std::string failure;
  size_t next = 0;
  bool callerStopped = false;
  if (input.Open(a) != ARCHIVE_OK) {
    failure = ErrorOf(a, "the archive cannot be opened");
  } else {
    uint32_t ordinal = 0;
    size_t retries = 0;
    while (next < dataMembers.size() && !pass.stop) {
      struct archive_entry* entry = nullptr;
      const int r = archive_read_next_header(a, &entry);
      if (r == ARCHIVE_RETRY && ++retries <= kMaxRetries) continue;
      if (r == ARCHIVE_EOF) {
        failure = "the archive ends before this member";
        break;
      }
      if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
        failure = ErrorOf(a, "the archive cannot be read");
        break;
      }
      retries = 0;
      const uint32_t here = ordinal++;
      const uint32_t target = dataMembers[next];
      if (here != members_[target].ordinal) continue;
      ++next;
      TLiveData data(a, members_[target], input, pass, buffer.get());
      if (!ServeMember(target, readers[target], data, each, pass, &callerStopped)) break;
      if (data.Complete() && kind_.layout == TLayout::SingleFile && !members_[target].sizeKnown) {
        members_[target].size = data.Size();
        members_[target].sizeKnown = true;
      }
      if (data.Fatal()) {
        failure = ErrorOf(a, "the archive cannot be read");
        break;
      }
    }
  }
  if (input.Stopped()) {
    pass.stop = true;
    pass.error.Set(ECANCELED, "stopped");
  }
  archive_read_free(a);
  if (callerStopped) {
    pass.stop = true;
    return true;
  }
  // What the pass could no longer reach fails with the reason.
  for (size_t i = next; i < dataMembers.size() && !pass.stop; ++i) {
    for (uint32_t reader : readers[dataMembers[i]]) {
      if (pass.served.count(reader)) continue;
      pass.served.insert(reader);
      TFailedData data(EIO, failure.empty() ? std::string("the archive cannot be read") : failure);
      if (!each(reader, data)) {
        pass.stop = true;
        return true;
      }
    }
  }
  (void)error;
  return true;
}

bool TStreamArchive::ReadBySeeking(std::vector<uint32_t> dataMembers,
                                   std::unordered_map<uint32_t, std::vector<uint32_t>>& readers,
                                   const TEachMember& each, TPass& pass, TArchiveError* error) {
  std::sort(dataMembers.begin(), dataMembers.end(),
            [&](uint32_t x, uint32_t y) { return members_[x].headerOffset < members_[y].headerOffset; });
  const TStreamPart& range = kind_.parts[0];
  std::unique_ptr<char[]> buffer(new char[kDataBlock]);
  bool callerStopped = false;
  for (uint32_t target : dataMembers) {
    if (pass.stop) break;
    const TMember& m = members_[target];
    struct archive* a = archive_read_new();
    archive_read_support_format_tar(a);
    archive_read_support_format_gnutar(a);
    TArchiveInput input(fd_, range.start, range.length);
    input.StartAt(static_cast<uint64_t>(m.headerOffset));
    if (pass.options.progress)
      input.SetProgress([&](uint64_t done, uint64_t) { return pass.options.progress(done, kind_.fileSize); });
    struct archive_entry* entry = nullptr;
    std::string failure;
    if (input.Open(a) != ARCHIVE_OK) {
      failure = ErrorOf(a, "the archive cannot be opened");
    } else {
      const int r = archive_read_next_header(a, &entry);
      if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
        failure = ErrorOf(a, "the member's header cannot be read");
      } else if (NameOf(archive_entry_pathname(entry), archive_entry_pathname_utf8(entry),
                        archive_entry_pathname_w(entry)) != m.path) {
        failure = "the archive changed since it was listed";
      }
    }
    if (!failure.empty()) {
      for (uint32_t reader : readers[target]) {
        pass.served.insert(reader);
        TFailedData data(EIO, failure);
        if (!each(reader, data)) {
          callerStopped = true;
          break;
        }
      }
    } else {
      TLiveData data(a, m, input, pass, buffer.get());
      ServeMember(target, readers[target], data, each, pass, &callerStopped);
    }
    if (input.Stopped()) {
      pass.stop = true;
      pass.error.Set(ECANCELED, "stopped");
    }
    archive_read_free(a);
    if (callerStopped) {
      pass.stop = true;
      break;
    }
  }
  (void)error;
  return true;
}

bool TStreamArchive::EnsurePassword(const TPasswordQuery& query, TArchiveError* error) {
  if (passwordChecked_) return true;
  // The smallest encrypted member proves a password right or wrong.
  int64_t probe = -1;
  for (size_t i = 0; i < members_.size(); ++i)
    if (members_[i].encrypted && members_[i].kind == TMemberKind::File &&
        (probe < 0 || members_[i].size < members_[static_cast<size_t>(probe)].size))
      probe = static_cast<int64_t>(i);
  if (probe < 0) return true;
  bool again = false;
  for (;;) {
    std::string password;
    if (!query || !query(again, password)) {
      Fail(error, ECANCELED, "no password was given");
      return false;
    }
    std::string why;
    const TSevenZipResult result = SevenZipTest(path_, password, members_[static_cast<size_t>(probe)].path, &why);
    if (result == TSevenZipResult::Ok) {
      password_ = password;
      passwordChecked_ = true;
      return true;
    }
    if (result != TSevenZipResult::WrongPassword) {
      Fail(error, EIO, why);
      return false;
    }
    again = true;
  }
}

bool TStreamArchive::ReadWithSevenZip(std::vector<uint32_t> dataMembers,
                                      std::unordered_map<uint32_t, std::vector<uint32_t>>& readers,
                                      const TEachMember& each, TPass& pass, TArchiveError* error) {
  std::sort(dataMembers.begin(), dataMembers.end(),
            [&](uint32_t x, uint32_t y) { return members_[x].ordinal < members_[y].ordinal; });
  TArchiveError why;
  bool ready = EnsurePassword(pass.options.password, &why);
  // The CRC-32 of every member, which libarchive's listing does not give.
  if (ready && !sevenZipListing_ && std::none_of(members_.begin(), members_.end(), [](const TMember& m) {
        return m.crcKnown;
      })) {
    std::vector<TSevenZipEntry> entries;
    std::string text;
    if (SevenZipList(path_, password_, entries, &text) != TSevenZipResult::Ok) {
      why.Set(EIO, text);
      ready = false;
    } else {
      for (size_t i = 0, j = 0; i < members_.size() && j < entries.size(); ++i, ++j) {
        if (entries[j].path != members_[i].path) continue;
        members_[i].crc = entries[j].crc;
        members_[i].crcKnown = entries[j].crcKnown;
      }
    }
  }
  if (!ready) {
    if (why.code == ECANCELED) {
      // No password: the encrypted members fail, the pass goes on.
      why.text = "encrypted: no password was given";
    }
    for (uint32_t target : dataMembers)
      for (uint32_t reader : readers[target]) {
        pass.served.insert(reader);
        TFailedData data(why.code != 0 ? why.code : EIO, why.text);
        if (!each(reader, data)) {
          pass.stop = true;
          return true;
        }
      }
    return true;
  }

  // The program writes every member of a name asked for, in the archive's
  // order: those not wanted are read past.
  std::vector<std::string> names;
  std::unordered_set<std::string> nameSet;
  for (uint32_t target : dataMembers)
    if (nameSet.insert(members_[target].path).second) names.push_back(members_[target].path);
  std::vector<uint32_t> stream;
  for (uint32_t i = 0; i < members_.size(); ++i)
    if (members_[i].kind != TMemberKind::Directory && nameSet.count(members_[i].path)) stream.push_back(i);
  std::sort(stream.begin(), stream.end(),
            [&](uint32_t x, uint32_t y) { return members_[x].ordinal < members_[y].ordinal; });
  std::unordered_set<uint32_t> wantedData(dataMembers.begin(), dataMembers.end());

  TSevenZipExtraction run;
  std::string startError;
  if (!run.Start(path_, password_, names, &startError)) {
    Fail(error, EIO, startError);
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[kDataBlock]);
  bool ended = false;     // the program's output ended
  bool callerStopped = false;

  // The next `size` bytes of the program's output, checked against the CRC.
  class TChildData final : public TMemberData {
   public:
    TChildData(TSevenZipExtraction& run, const TMember& m, TPass& pass, char* buffer, bool& ended)
        : run_(run), m_(m), pass_(pass), buffer_(buffer), ended_(ended) {}
    bool Read(TDataSink& sink, TArchiveError* error) override {
      used_ = true;
      return Pump(&sink, error);
    }
    // Reads what is left of the member, for nobody.
    void Drain() {
      if (!used_) Pump(nullptr, nullptr);
    }

   private:
    bool Pump(TDataSink* sink, TArchiveError* error) {
      uint32_t crc = 0xFFFFFFFF;
      uint64_t left = m_.size;
      while (left > 0) {
        const ssize_t n = run_.Read(buffer_, static_cast<size_t>(std::min<uint64_t>(left, kDataBlock)));
        if (n <= 0) {
          ended_ = true;
          Fail(error, EIO, "the data end early (a wrong password or a damaged archive)");
          return false;
        }
        left -= static_cast<uint64_t>(n);
        crc = zip::Crc32Update(crc, reinterpret_cast<const uint8_t*>(buffer_), static_cast<size_t>(n));
        if (sink == nullptr) continue;
        if (!pass_.Count(static_cast<size_t>(n), error)) return false;
        if (!sink->Write(buffer_, static_cast<size_t>(n))) {
          Fail(error, ECANCELED, "stopped");
          return false;
        }
      }
      if (m_.crcKnown && ~crc != m_.crc) {
        Fail(error, EIO, "the data are damaged or the password is wrong (CRC-32 mismatch)");
        return false;
      }
      return true;
    }
    TSevenZipExtraction& run_;
    const TMember& m_;
    TPass& pass_;
    char* buffer_;
    bool& ended_;
    bool used_ = false;
  };

  size_t at = 0;
  for (; at < stream.size() && !ended && !pass.stop; ++at) {
    const uint32_t member = stream[at];
    TChildData data(run, members_[member], pass, buffer.get(), ended);
    if (wantedData.count(member) != 0) {
      if (!ServeMember(member, readers[member], data, each, pass, &callerStopped)) break;
    }
    data.Drain();
  }
  std::string finishError;
  const int status = run.Finish(callerStopped || pass.stop || at < stream.size(), &finishError);
  if (callerStopped) {
    pass.stop = true;
    return true;
  }
  for (uint32_t target : dataMembers)
    for (uint32_t reader : readers[target]) {
      if (pass.served.count(reader) || pass.stop) continue;
      pass.served.insert(reader);
      TFailedData data(EIO, status != 0 && !finishError.empty() ? finishError : "7-Zip did not give the data");
      if (!each(reader, data)) {
        pass.stop = true;
        return true;
      }
    }
  return true;
}

// ---------------------------------------------------------------------------
// One at a time

bool TStreamArchive::ReadsStreamed(const TMember& m) const {
  if (UsesSevenZip() || m.kind != TMemberKind::File || m.dataFrom < 0) return false;
  if (m.sizeKnown && m.size == 0 && !m.hardLink && !m.encrypted) return false;
  const TMember& source = members_[static_cast<size_t>(m.dataFrom)];
  if (source.encrypted && (kind_.format == ARCHIVE_FORMAT_7ZIP || kind_.format == ARCHIVE_FORMAT_RAR ||
                           kind_.format == ARCHIVE_FORMAT_RAR_V5))
    return false;
  return !(kind_.SeekableTar() && source.headerOffset >= 0);
}

void TStreamArchive::Expect(const std::vector<uint32_t>& indices) {
  if (!cursor_) cursor_ = std::make_unique<TCursor>();
  for (uint32_t index : indices)
    if (index < members_.size() && ReadsStreamed(members_[index]))
      ++cursor_->expected[static_cast<uint32_t>(members_[index].dataFrom)];
}

void TStreamArchive::EndReading() { cursor_.reset(); }

bool TStreamArchive::OpenCursor(size_t part, TArchiveError* error) {
  TCursor& c = *cursor_;
  c.Close();
  if (c.byOrdinal.size() != kind_.parts.size()) {
    c.byOrdinal.assign(kind_.parts.size(), {});
    for (uint32_t i = 0; i < members_.size(); ++i) {
      auto& list = c.byOrdinal[members_[i].part];
      if (list.size() <= members_[i].ordinal) list.resize(members_[i].ordinal + 1, UINT32_MAX);
      list[members_[i].ordinal] = i;
    }
  }
  const TStreamPart& range = kind_.parts[part];
  c.a = NewArchiveReader(kind_.layout == TLayout::SingleFile);
  c.input = std::make_unique<TArchiveInput>(fd_, range.start, range.length);
  const uint64_t start = range.start, total = kind_.fileSize;
  TCursor* cursor = &c;
  c.input->SetProgress([cursor, start, total](uint64_t done, uint64_t) {
    const TByteProgress* p = cursor->progress;
    return p == nullptr || !*p || (*p)(start + done, total);
  });
  c.part = part;
  c.next = 0;
  ++streamStarts_;
  if (c.input->Open(c.a) != ARCHIVE_OK) {
    Fail(error, EIO, ErrorOf(c.a, "the archive cannot be opened"));
    c.Close();
    return false;
  }
  return true;
}

bool TStreamArchive::KeptData(uint32_t dataMember, TDataSink& sink, TPass& pass, TArchiveError* error) {
  TCursor& c = *cursor_;
  const auto [offset, length] = c.kept[dataMember];
  uint64_t at = 0;
  bool ok = true;
  while (ok && at < length) {
    const ssize_t n = ::pread(c.spool->Fd(), c.buffer.get(), std::min<uint64_t>(kDataBlock, length - at),
                              static_cast<off_t>(offset + at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail(error, n < 0 ? errno : EIO, n < 0 ? platform::ErrorText(errno) : std::string("the kept copy is short"));
      return false;
    }
    at += static_cast<uint64_t>(n);
    ok = pass.Count(static_cast<size_t>(n), error);
    if (ok && !sink.Write(c.buffer.get(), static_cast<size_t>(n))) {
      Fail(error, ECANCELED, "stopped");
      ok = false;
    }
  }
  return ok;
}

bool TStreamArchive::ReadNext(uint32_t index, TDataSink& sink, const TReadOptions& options, TArchiveError* error) {
  const TUtf8Names utf8;
  if (index >= members_.size() || !ReadsStreamed(members_[index])) return ReadMember(index, sink, options, error);
  if (!cursor_) cursor_ = std::make_unique<TCursor>();
  TCursor& c = *cursor_;
  const uint32_t from = static_cast<uint32_t>(members_[index].dataFrom);
  // Readers that will still ask for these data after this one.
  uint32_t later = 0;
  if (auto want = c.expected.find(from); want != c.expected.end()) {
    later = want->second > 0 ? want->second - 1 : 0;
    if (later == 0)
      c.expected.erase(want);
    else
      want->second = later;
  }
  TPass pass(options);
  if (auto failed = c.failed.find(from); failed != c.failed.end()) {
    if (error != nullptr) *error = failed->second;
    if (later == 0) c.failed.erase(failed);
    return false;
  }
  if (auto kept = c.kept.find(from); kept != c.kept.end()) {
    const bool ok = KeptData(from, sink, pass, error);
    if (later == 0) {
      // Give the space back at once: a long extraction keeps little.
      ::fallocate(c.spool->Fd(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(kept->second.first),
                  static_cast<off_t>(kept->second.second));
      c.kept.erase(kept);
    }
    return ok;
  }
  const TMember& target = members_[from];
  if ((c.a == nullptr || c.part != target.part || c.next > target.ordinal) && !OpenCursor(target.part, error))
    return false;
  c.progress = &options.progress;
  struct TUnset {
    TCursor& c;
    ~TUnset() { c.progress = nullptr; }
  } unset{c};
  size_t retries = 0;
  for (;;) {
    struct archive_entry* entry = nullptr;
    const int r = archive_read_next_header(c.a, &entry);
    if (r == ARCHIVE_RETRY && ++retries <= kMaxRetries) continue;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
      if (c.input->Stopped())
        Fail(error, ECANCELED, "stopped");
      else
        Fail(error, EIO, r == ARCHIVE_EOF ? std::string("the archive ends before this member")
                                          : ErrorOf(c.a, "the archive cannot be read"));
      c.Close();
      return false;
    }
    retries = 0;
    const uint32_t here = c.next++;
    const auto& order = c.byOrdinal[c.part];
    const uint32_t member = here < order.size() ? order[here] : UINT32_MAX;
    if (here < target.ordinal) {
      // Going past a member asked for later: keep its data.
      if (member == UINT32_MAX || !c.expected.count(member) || c.kept.count(member) || c.failed.count(member))
        continue;
      TReadOptions keepOptions;
      keepOptions.progress = options.progress;
      TPass keepPass(keepOptions);
      TLiveData data(c.a, members_[member], *c.input, keepPass, c.buffer.get());
      TCursor::TKeeper keeper(c);
      TArchiveError why;
      const bool ok = data.Read(keeper, &why);
      keeper.Finish(member, ok);
      if (!ok && !c.input->Stopped()) c.failed[member] = why;
      if (c.input->Stopped()) {
        Fail(error, ECANCELED, "stopped");
        c.Close();
        return false;
      }
      if (data.Fatal()) {
        Fail(error, EIO, ErrorOf(c.a, "the archive cannot be read"));
        c.Close();
        return false;
      }
      continue;
    }
    TLiveData data(c.a, target, *c.input, pass, c.buffer.get());
    bool ok;
    if (later > 0) {
      TCursor::TKeeper keeper(c);
      TCursor::TTee tee(sink, keeper);
      ok = data.Read(tee, error);
      keeper.Finish(from, ok);
      if (!ok && error != nullptr && error->code != ECANCELED) c.failed[from] = *error;
    } else {
      ok = data.Read(sink, error);
    }
    if (data.Complete() && kind_.layout == TLayout::SingleFile && !members_[from].sizeKnown) {
      members_[from].size = data.Size();
      members_[from].sizeKnown = true;
    }
    if (data.Fatal() || c.input->Stopped()) c.Close();
    return ok;
  }
}

}  // namespace vantrel::formats
