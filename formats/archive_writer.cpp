// archive_writer.cpp - the walk, the libarchive writer and the rename.
#include "formats/archive_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <thread>

#include "formats/utf8_names.h"
#include "platform/fs.h"

namespace vantrel::formats {

namespace {

// Files are read by blocks and handed to libarchive by slices: 7z's and xz's
// compressors take a few milliseconds for a small slice (and a busy machine
// may make that ten times as long), and between two slices the caller is
// asked whether to go on, so a cancel is heard within a tenth of a second.
// gzip and zstd are fast enough to take a whole block at once (small slices
// would cost them a tenth of their speed).
constexpr size_t kBlock = 64 * 1024;
constexpr size_t kSlowSlice = 4 * 1024;

size_t SliceFor(TPackFormat format) {
  return format == TPackFormat::SevenZip || format == TPackFormat::TarXz ? kSlowSlice : kBlock;
}

bool Fail(TArchiveError* error, int code, const std::string& text) {
  if (error != nullptr) error->Set(code, text);
  return false;
}

std::string Joined(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// What was left out goes into the result and out through the event at once.
void LeaveOut(TPackResult& result, const TPackEvents& events, const std::string& name, const std::string& why) {
  result.leftOut.emplace_back(name, why);
  if (events.leftOut) events.leftOut(name, why);
}

// One thing to pack: its stored name and what lstat said.
struct TItem {
  std::string name;
  struct stat st;
};

// The names below rootDir, directories before what they hold, in the
// order given and then by name. The archive being written and the one it
// replaces are not packed into themselves.
class TWalk {
 public:
  TWalk(std::string root, dev_t skipDev, ino_t skipIno, const struct stat* old, const TPackEvents& events)
      : root_(std::move(root)), skipDev_(skipDev), skipIno_(skipIno), events_(events) {
    if (old != nullptr) {
      oldDev_ = old->st_dev;
      oldIno_ = old->st_ino;
      hasOld_ = true;
    }
  }

  void Add(const std::string& name, TPackResult& result) {
    TItem item;
    item.name = name;
    if (::lstat(Joined(root_, name).c_str(), &item.st) != 0) {
      LeaveOut(result, events_, name, platform::ErrorText(errno));
      return;
    }
    if (Skipped(item.st)) return;
    const bool dir = S_ISDIR(item.st.st_mode);
    items.push_back(std::move(item));
    if (dir) AddBelow(name, result);
  }

  std::vector<TItem> items;

 private:
  bool Skipped(const struct stat& st) const {
    if (st.st_dev == skipDev_ && st.st_ino == skipIno_) return true;
    return hasOld_ && st.st_dev == oldDev_ && st.st_ino == oldIno_;
  }

  void AddBelow(const std::string& dir, TPackResult& result) {
    DIR* d = ::opendir(Joined(root_, dir).c_str());
    if (d == nullptr) {
      LeaveOut(result, events_, dir + "/", platform::ErrorText(errno));
      return;
    }
    std::vector<std::string> names;
    while (const struct dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) Add(dir + "/" + n, result);
  }

  std::string root_;
  dev_t skipDev_;
  ino_t skipIno_;
  const TPackEvents& events_;
  dev_t oldDev_ = 0;
  ino_t oldIno_ = 0;
  bool hasOld_ = false;
};

// The temporary file the archive is written to, beside its final place;
// removed unless Keep made it the archive.
class TTemporary {
 public:
  explicit TTemporary(const std::string& target) {
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    const std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
    path_ = Joined(dir, "." + leaf + ".XXXXXX");
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0) path_.clear();
  }
  ~TTemporary() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  int Fd() const { return fd_; }
  // Flushes the file and gives it the archive's name; false with errno.
  bool Keep(const std::string& target, mode_t mode) {
    ::fchmod(fd_, mode);
    if (::fsync(fd_) != 0) return false;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return false;
    if (::rename(path_.c_str(), target.c_str()) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// Whether `s` is UTF-8 (7z stores names as Unicode; bytes that are no
// UTF-8 have no Unicode name).
bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size() || (n == 2 && c < 0xC2)) return false;
    uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += n;
  }
  return true;
}

// The process's umask, read without changing it (other threads may be
// creating files meanwhile).
mode_t CurrentUmask() {
  FILE* f = std::fopen("/proc/self/status", "re");
  mode_t mask = 022;
  if (f == nullptr) return mask;
  char line[256];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    unsigned value = 0;
    if (std::sscanf(line, "Umask: %o", &value) == 1) {
      mask = static_cast<mode_t>(value);
      break;
    }
  }
  std::fclose(f);
  return mask;
}

bool SetUp(struct archive* a, const TPackRequest& r, std::string* why) {
  const int level = r.level < 1 ? 1 : r.level > 9 ? 9 : r.level;
  int rc = ARCHIVE_OK;
  std::string options;
  switch (r.format) {
    case TPackFormat::SevenZip:
      rc = archive_write_set_format_7zip(a);
      options = "7zip:compression=lzma2,7zip:compression-level=" + std::to_string(level);
      break;
    case TPackFormat::TarGz:
      rc = archive_write_set_format_pax_restricted(a);
      if (rc == ARCHIVE_OK) rc = archive_write_add_filter_gzip(a);
      options = "gzip:compression-level=" + std::to_string(level);
      break;
    case TPackFormat::TarXz:
      rc = archive_write_set_format_pax_restricted(a);
      if (rc == ARCHIVE_OK) rc = archive_write_add_filter_xz(a);
      options = "xz:compression-level=" + std::to_string(level);
      break;
    case TPackFormat::TarZst:
      rc = archive_write_set_format_pax_restricted(a);
      if (rc == ARCHIVE_OK) rc = archive_write_add_filter_zstd(a);
      // Levels 1-9 of the dialog go to zstd's 1-19.
      options = "zstd:compression-level=" + std::to_string(level * 2 + (level == 9 ? 1 : 0));
      break;
  }
  if (rc == ARCHIVE_OK) rc = archive_write_set_options(a, options.c_str());
  // No blocking of the last record: the archive ends where its data end.
  if (rc == ARCHIVE_OK && r.format != TPackFormat::SevenZip) rc = archive_write_set_bytes_in_last_block(a, 1);
  if (rc != ARCHIVE_OK) {
    const char* text = archive_error_string(a);
    *why = text != nullptr ? text : "the format cannot be written";
    return false;
  }
  return true;
}

}  // namespace

const char* PackFormatName(TPackFormat format) {
  switch (format) {
    case TPackFormat::TarGz: return "tar.gz";
    case TPackFormat::TarXz: return "tar.xz";
    case TPackFormat::TarZst: return "tar.zst";
    case TPackFormat::SevenZip: return "7z";
  }
  return "";
}

namespace {

// The run's count of bytes and its cancel: every block read or written asks
// the caller whether to go on.
class TTicker {
 public:
  explicit TTicker(const TPackEvents& events) : events_(events) {}
  uint64_t done = 0, total = 0;
  // False once the caller said stop (and from then on).
  bool Tick() {
    if (!cancelled_ && events_.progress && !events_.progress(done, total)) cancelled_ = true;
    return !cancelled_;
  }
  bool Item(const std::string& name, uint64_t itemsDone, uint64_t itemsTotal) {
    if (!cancelled_ && events_.item && !events_.item(name, itemsDone, itemsTotal)) cancelled_ = true;
    return !cancelled_;
  }
  bool Cancelled() const { return cancelled_; }

 private:
  const TPackEvents& events_;
  bool cancelled_ = false;
};

// Where libarchive's output goes: the temporary file, each write asking
// first, so that finishing a 7z (which copies its packed data out at the
// end) is cancelled as fast as packing.
struct TOutput {
  int fd;
  TTicker& ticker;
};

la_ssize_t WriteOut(struct archive* a, void* context, const void* buffer, size_t length) {
  auto* out = static_cast<TOutput*>(context);
  if (!out->ticker.Tick()) {
    archive_set_error(a, ECANCELED, "cancelled");
    return -1;
  }
  const char* p = static_cast<const char*>(buffer);
  size_t left = length;
  while (left > 0) {
    const ssize_t n = ::write(out->fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      archive_set_error(a, errno, "%s", platform::ErrorText(errno).c_str());
      return -1;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return static_cast<la_ssize_t>(length);
}

// Writes one item's header and data; false when the archive itself failed
// or the run was cancelled (the pack is over), the item put in the list of
// those left out when only it could not go in.
class TPacker {
 public:
  TPacker(struct archive* a, const TPackRequest& r, const TPackEvents& events, TPackResult& result,
          TTicker& ticker)
      : a_(a), r_(r), events_(events), result_(result), ticker_(ticker), slice_(SliceFor(r.format)),
        buffer_(new char[kBlock]) {
    resolver_ = archive_entry_linkresolver_new();
    archive_entry_linkresolver_set_strategy(resolver_, archive_format(a));
  }
  ~TPacker() { archive_entry_linkresolver_free(resolver_); }
  TPacker(const TPacker&) = delete;
  TPacker& operator=(const TPacker&) = delete;

  bool Pack(const TItem& item) {
    const std::string path = Joined(r_.rootDir, item.name);
    const mode_t type = item.st.st_mode & S_IFMT;
    int fd = -1;
    std::string target;
    if (type == S_IFREG) {
      // Non-blocking: a FIFO put in the file's place cannot stop the run.
      fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      struct stat now;
      if (fd >= 0 && (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode))) {
        ::close(fd);
        fd = -1;
        LeaveOut(result_, events_, item.name, "it is no longer a regular file");
        return true;
      }
      if (fd < 0) {
        LeaveOut(result_, events_, item.name, platform::ErrorText(errno));
        return true;
      }
    } else if (type == S_IFLNK) {
      std::string buf(4096, '\0');
      const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
      if (n < 0) {
        LeaveOut(result_, events_, item.name, platform::ErrorText(errno));
        return true;
      }
      target.assign(buf.data(), static_cast<size_t>(n));
    }
    if (r_.format == TPackFormat::SevenZip && !IsUtf8(item.name)) {
      if (fd >= 0) ::close(fd);
      LeaveOut(result_, events_, item.name, "the name is not UTF-8, which 7z archives need (a tar keeps it)");
      return true;
    }
    if (type != S_IFREG && type != S_IFLNK && type != S_IFDIR && r_.format == TPackFormat::SevenZip) {
      LeaveOut(result_, events_, item.name, "a device, pipe or socket: 7z archives cannot hold it");
      return true;
    }
    struct archive_entry* entry = archive_entry_new();
    archive_entry_copy_pathname(entry, item.name.c_str());
    archive_entry_copy_stat(entry, &item.st);
    if (type == S_IFLNK) archive_entry_copy_symlink(entry, target.c_str());
    if (type != S_IFREG) archive_entry_set_size(entry, 0);
    struct archive_entry* spare = nullptr;
    if (type == S_IFREG && item.st.st_nlink > 1) archive_entry_linkify(resolver_, &entry, &spare);
    bool ok = true;
    if (entry != nullptr) ok = Write(entry, item, fd);
    if (spare != nullptr) archive_entry_free(spare);
    if (fd >= 0) ::close(fd);
    if (type == S_IFDIR)
      ++result_.directories;
    else if (type == S_IFLNK)
      ++result_.links;
    else
      ++result_.files;
    return ok;
  }

  // The entries of the archive read from `fd` that no name in `replaced`
  // covers, copied as they are; false when the run is over (`why` tells,
  // unless it was cancelled).
  bool CopyEntries(int fd, const std::vector<std::string>& replaced, std::string* why) {
    struct archive* in = archive_read_new();
    archive_read_support_filter_all(in);
    archive_read_support_format_all(in);
    bool ok = archive_read_open_fd(in, fd, kBlock) == ARCHIVE_OK;
    const uint64_t base = ticker_.done;
    struct archive_entry* entry = nullptr;
    while (ok) {
      const int rc = archive_read_next_header(in, &entry);
      if (rc == ARCHIVE_EOF) break;
      if (rc < ARCHIVE_WARN) {
        ok = false;
        break;
      }
      const char* name = archive_entry_pathname(entry);
      if (name != nullptr && Replaced(name, replaced)) continue;
      const int wrc = archive_write_header(a_, entry);
      if (wrc < ARCHIVE_WARN) {
        *why = Problem();
        archive_read_free(in);
        return false;
      }
      for (;;) {
        const la_ssize_t n = archive_read_data(in, buffer_.get(), kBlock);
        if (n == 0) break;
        if (n < 0) {
          ok = false;
          break;
        }
        if (!Feed(static_cast<size_t>(n), nullptr)) {
          if (!ticker_.Cancelled()) *why = Problem();
          archive_read_free(in);
          return false;
        }
        ticker_.done = base + static_cast<uint64_t>(archive_filter_bytes(in, -1));
      }
      if (ok && archive_write_finish_entry(a_) == ARCHIVE_FATAL) {
        *why = Problem();
        archive_read_free(in);
        return false;
      }
    }
    if (!ok) {
      const char* text = archive_error_string(in);
      *why = std::string("the archive cannot be read: ") + (text != nullptr ? text : "unknown format");
    }
    archive_read_free(in);
    return ok;
  }

  std::string Problem() const {
    const char* text = archive_error_string(a_);
    return text != nullptr ? text : "the archive cannot be written";
  }

 private:
  // Whether an entry of the old archive is one of the names packed anew or
  // lies below one.
  static bool Replaced(std::string name, const std::vector<std::string>& replaced) {
    while (!name.empty() && name.back() == '/') name.pop_back();
    for (const std::string& r : replaced)
      if (name == r || (name.size() > r.size() && name.compare(0, r.size(), r) == 0 && name[r.size()] == '/'))
        return true;
    return false;
  }

  // Hands the first `length` bytes of the buffer to libarchive slice by
  // slice, asking between them; counted as done (and into `*counted`) when
  // `counted` is given. False when the archive failed or the run was
  // cancelled.
  bool Feed(size_t length, uint64_t* counted) {
    for (size_t at = 0; at < length;) {
      const size_t n = std::min(slice_, length - at);
      if (archive_write_data(a_, buffer_.get() + at, n) < 0) return false;
      at += n;
      if (counted != nullptr) {
        ticker_.done += n;
        *counted += n;
      }
      if (!ticker_.Tick()) return false;
    }
    return true;
  }

  bool Write(struct archive_entry* entry, const TItem& item, int fd) {
    // A hard link to a name packed before carries no data.
    const bool data = fd >= 0 && archive_entry_size(entry) > 0 && archive_entry_hardlink(entry) == nullptr;
    const int rc = archive_write_header(a_, entry);
    archive_entry_free(entry);
    if (rc == ARCHIVE_FATAL) return false;
    if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) {
      LeaveOut(result_, events_, item.name, Problem());
      return true;
    }
    if (!data) return archive_write_finish_entry(a_) != ARCHIVE_FATAL;
    // As many bytes as the header says: a file that grew meanwhile is cut
    // there, one that shrank is told (the archive keeps zeros for the rest).
    uint64_t left = static_cast<uint64_t>(item.st.st_size);
    while (left > 0) {
      const ssize_t n = ::read(fd, buffer_.get(), static_cast<size_t>(std::min<uint64_t>(left, kBlock)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        LeaveOut(result_, events_, item.name,
                 n < 0 ? platform::ErrorText(errno) : std::string("the file became shorter while it was packed"));
        break;
      }
      if (!Feed(static_cast<size_t>(n), &result_.bytes)) return false;
      left -= static_cast<uint64_t>(n);
    }
    return archive_write_finish_entry(a_) != ARCHIVE_FATAL;
  }

  struct archive* a_;
  const TPackRequest& r_;
  const TPackEvents& events_;
  TPackResult& result_;
  TTicker& ticker_;
  const size_t slice_;
  std::unique_ptr<char[]> buffer_;
  struct archive_entry_linkresolver* resolver_;
};

// The old archive's entries (when added to), then the items; false with
// `why` when the archive could not be made.
bool PackAll(struct archive* a, const TPackRequest& request, const TPackEvents& events, TPackResult& out,
             TTicker& ticker, const std::vector<TItem>& items, int oldFd, std::string* why) {
  TPacker packer(a, request, events, out, ticker);
  if (oldFd >= 0 && !packer.CopyEntries(oldFd, request.names, why)) return false;
  uint64_t itemsDone = 0;
  for (const TItem& item : items) {
    if (!ticker.Item(item.name, itemsDone, items.size())) return false;
    if (!packer.Pack(item)) {
      *why = packer.Problem();
      return false;
    }
    ++itemsDone;
  }
  if (!ticker.Item(std::string(), itemsDone, items.size())) return false;
  return true;
}

// The archive being added to, open for reading; -1 when there is none to
// keep.
int OpenOld(const TPackRequest& request, bool hadOld) {
  if (!request.addToArchive || !hadOld) return -1;
  return ::open(request.archive.c_str(), O_RDONLY | O_CLOEXEC);
}

}  // namespace

bool PackArchive(const TPackRequest& request, const TPackEvents& events, TPackResult* result,
                 TArchiveError* error) {
  TPackResult local;
  TPackResult& out = result != nullptr ? *result : local;
  out = {};
  TTemporary temp(request.archive);
  if (temp.Fd() < 0) return Fail(error, errno, request.archive + ": " + platform::ErrorText(errno));
  struct stat tempSt, oldSt;
  ::fstat(temp.Fd(), &tempSt);
  const bool hadOld = ::stat(request.archive.c_str(), &oldSt) == 0;
  if (hadOld && S_ISDIR(oldSt.st_mode)) return Fail(error, EISDIR, request.archive + " is a directory");
  const int oldFd = OpenOld(request, hadOld);
  if (request.addToArchive && hadOld && oldFd < 0)
    return Fail(error, errno, request.archive + ": " + platform::ErrorText(errno));
  struct TCloser {
    int fd;
    ~TCloser() {
      if (fd >= 0) ::close(fd);
    }
  } closeOld{oldFd};

  TWalk walk(request.rootDir, tempSt.st_dev, tempSt.st_ino, hadOld ? &oldSt : nullptr, events);
  for (const std::string& name : request.names) walk.Add(name, out);
  TTicker ticker(events);
  if (oldFd >= 0) ticker.total = static_cast<uint64_t>(oldSt.st_size);
  for (const TItem& item : walk.items)
    if (S_ISREG(item.st.st_mode)) ticker.total += static_cast<uint64_t>(item.st.st_size);

  const TUtf8Names utf8;  // 7z names are Unicode whatever the user's locale
  struct archive* a = archive_write_new();
  std::string why;
  if (!SetUp(a, request, &why)) {
    archive_write_free(a);
    return Fail(error, EINVAL, why);
  }
  TOutput output{temp.Fd(), ticker};
  if (archive_write_open2(a, &output, nullptr, &WriteOut, nullptr, nullptr) != ARCHIVE_OK) {
    why = archive_error_string(a) != nullptr ? archive_error_string(a) : "cannot write";
    archive_write_free(a);
    return Fail(error, EIO, request.archive + ": " + why);
  }
  bool ok = PackAll(a, request, events, out, ticker, walk.items, oldFd, &why);
  if (ok && archive_write_close(a) != ARCHIVE_OK) {
    ok = false;
    why = archive_error_string(a) != nullptr ? archive_error_string(a) : "cannot finish the archive";
  }
  if (ok) {
    archive_write_free(a);
  } else {
    // Nothing more is written, and freeing it does not finish it. What
    // libarchive holds (a compressor's tables, a 7z's unnamed file of packed
    // data) takes a while to give back: that happens on a thread of its own,
    // so a cancel ends the run at once.
    archive_write_fail(a);
    std::thread([a] { archive_write_free(a); }).detach();
  }
  if (ticker.Cancelled()) return Fail(error, ECANCELED, "stopped: no archive was written");
  if (!ok) return Fail(error, EIO, request.archive + ": " + why);
  const mode_t mode = hadOld ? (oldSt.st_mode & 07777) : 0666 & ~CurrentUmask();
  if (!temp.Keep(request.archive, mode)) return Fail(error, errno, request.archive + ": " + platform::ErrorText(errno));
  return true;
}

}  // namespace vantrel::formats
