// archive_kind.cpp - recognising archives by content.
#include "formats/archive_kind.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>

#include "formats/archive_input.h"

namespace vantrel::formats {

namespace {

// ------------------------------------------------------------ ar members

// An ar member header: name[16] mtime[12] uid[6] gid[6] mode[8] size[10] "`\n".
constexpr size_t kArMagicSize = 8;
constexpr size_t kArHeaderSize = 60;
constexpr size_t kArSizeOffset = 48;
constexpr size_t kArSizeLength = 10;

bool ReadAt(int fd, void* buffer, size_t n, uint64_t offset) {
  char* p = static_cast<char*>(buffer);
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(offset));
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return true;
}

struct TArMember {
  std::string name;
  uint64_t start = 0;
  uint64_t length = 0;
};

// The members of an ar archive (names as stored, without GNU's "/"), at most
// `limit` of them; empty when the headers are damaged.
std::vector<TArMember> ArMembers(int fd, uint64_t fileSize, size_t limit) {
  std::vector<TArMember> members;
  uint64_t at = kArMagicSize;
  while (at + kArHeaderSize <= fileSize && members.size() < limit) {
    char header[kArHeaderSize];
    if (!ReadAt(fd, header, sizeof header, at) || header[58] != '`' || header[59] != '\n') break;
    uint64_t size = 0;
    bool digits = false;
    for (size_t i = kArSizeOffset; i < kArSizeOffset + kArSizeLength && header[i] != ' '; ++i) {
      if (header[i] < '0' || header[i] > '9') return {};
      size = size * 10 + static_cast<uint64_t>(header[i] - '0');
      digits = true;
    }
    if (!digits) return {};
    TArMember m;
    m.name.assign(header, 16);
    while (!m.name.empty() && m.name.back() == ' ') m.name.pop_back();
    if (!m.name.empty() && m.name.back() == '/') m.name.pop_back();
    m.start = at + kArHeaderSize;
    m.length = std::min(size, fileSize - m.start);
    members.push_back(m);
    at = m.start + size + (size & 1);
  }
  return members;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// ------------------------------------------------------------ bidding

struct TBid {
  int format = 0;
  std::vector<int> filters;  // outermost first
  bool rpm = false;
  int result = ARCHIVE_FATAL;
  bool opened = false;
  bool encryptedHeaders = false;
};

TBid Bid(int fd, uint64_t start, uint64_t length) {
  TBid bid;
  struct archive* a = NewArchiveReader(true);
  TArchiveInput input(fd, start, length);
  if (input.Open(a) == ARCHIVE_OK) {
    bid.opened = true;
    struct archive_entry* entry = nullptr;
    bid.result = archive_read_next_header(a, &entry);
    bid.format = archive_format(a) & ARCHIVE_FORMAT_BASE_MASK;
    for (int i = archive_filter_count(a) - 1; i >= 0; --i) {
      const int code = archive_filter_code(a, i);
      if (code == ARCHIVE_FILTER_RPM)
        bid.rpm = true;
      else if (code != ARCHIVE_FILTER_NONE)
        bid.filters.push_back(code);
    }
    if (bid.result == ARCHIVE_FATAL && (bid.format == ARCHIVE_FORMAT_7ZIP || bid.format == ARCHIVE_FORMAT_RAR ||
                                        bid.format == ARCHIVE_FORMAT_RAR_V5)) {
      const char* why = archive_error_string(a);
      bid.encryptedHeaders = why != nullptr && std::strstr(why, "ncrypt") != nullptr;
    }
  }
  archive_read_free(a);
  return bid;
}

const char* FilterSuffix(int code) {
  switch (code) {
    case ARCHIVE_FILTER_GZIP: return "gz";
    case ARCHIVE_FILTER_BZIP2: return "bz2";
    case ARCHIVE_FILTER_COMPRESS: return "Z";
    case ARCHIVE_FILTER_LZMA: return "lzma";
    case ARCHIVE_FILTER_XZ: return "xz";
    case ARCHIVE_FILTER_LZIP: return "lz";
    case ARCHIVE_FILTER_LZ4: return "lz4";
    case ARCHIVE_FILTER_ZSTD: return "zst";
    default: return nullptr;
  }
}

TArchiveKind Probe(int fd, uint64_t size) {
  TArchiveKind kind;
  kind.fileSize = size;
  if (size == 0) return kind;

  char magic[kArMagicSize + 16];
  if (size >= sizeof magic && ReadAt(fd, magic, sizeof magic, 0) && std::memcmp(magic, "!<arch>\n", 8) == 0 &&
      std::memcmp(magic + 8, "debian-binary", 13) == 0) {
    // A Debian package: its data archive first, its control archive under "DEBIAN".
    TStreamPart data, control;
    for (const TArMember& m : ArMembers(fd, size, 16)) {
      if (StartsWith(m.name, "data.tar") && data.length == 0) data = TStreamPart{m.start, m.length, {}};
      if (StartsWith(m.name, "control.tar") && control.length == 0)
        control = TStreamPart{m.start, m.length, "DEBIAN/"};
    }
    if (data.length > 0) {
      const TBid bid = Bid(fd, data.start, data.length);
      if (bid.opened && bid.format == ARCHIVE_FORMAT_TAR) {
        kind.layout = TLayout::DebianPackage;
        kind.format = bid.format;
        kind.filters = bid.filters;
        kind.name = "deb";
        kind.parts.push_back(data);
        if (control.length > 0) kind.parts.push_back(control);
        return kind;
      }
    }
  }

  const TBid bid = Bid(fd, 0, size);
  if (!bid.opened || bid.format == 0) return kind;
  kind.format = bid.format;
  kind.filters = bid.filters;
  kind.encryptedHeaders = bid.encryptedHeaders;
  kind.parts.push_back(TStreamPart{0, size, {}});
  if (bid.format == ARCHIVE_FORMAT_RAW) {
    // Compressed data without an archive inside; plain data is no archive.
    if (bid.filters.empty() || bid.rpm) return TArchiveKind{};
    kind.layout = TLayout::SingleFile;
  } else {
    kind.layout = TLayout::Archive;
  }
  kind.name = KindName(bid.format, bid.filters, bid.rpm);
  return kind;
}

}  // namespace

struct archive* NewArchiveReader(bool raw) {
  struct archive* a = archive_read_new();
  archive_read_support_filter_gzip(a);
  archive_read_support_filter_bzip2(a);
  archive_read_support_filter_xz(a);
  archive_read_support_filter_lzma(a);
  archive_read_support_filter_lzip(a);
  archive_read_support_filter_zstd(a);
  archive_read_support_filter_lz4(a);
  archive_read_support_filter_compress(a);
  archive_read_support_filter_rpm(a);
  archive_read_support_format_tar(a);
  archive_read_support_format_gnutar(a);
  archive_read_support_format_cpio(a);
  archive_read_support_format_ar(a);
  archive_read_support_format_iso9660(a);
  archive_read_support_format_7zip(a);
  archive_read_support_format_rar(a);
  archive_read_support_format_rar5(a);
  archive_read_support_format_cab(a);
  if (raw) archive_read_support_format_raw(a);
  return a;
}

bool TArchiveKind::SeekableTar() const {
  return layout == TLayout::Archive && format == ARCHIVE_FORMAT_TAR && filters.empty();
}

std::string TArchiveKind::ReadOnlyText() const {
  const std::string what = layout == TLayout::SingleFile ? "." + name + " files" : name + " archives";
  return what + " are read-only here; pack a new one with Alt+F5";
}

std::string KindName(int format, const std::vector<int>& filters, bool rpm) {
  if (rpm) return "rpm";
  std::string name;
  switch (format & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_TAR: name = "tar"; break;
    case ARCHIVE_FORMAT_CPIO: name = "cpio"; break;
    case ARCHIVE_FORMAT_AR: name = "ar"; break;
    case ARCHIVE_FORMAT_ISO9660: name = "ISO 9660"; break;
    case ARCHIVE_FORMAT_7ZIP: name = "7z"; break;
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_RAR_V5: name = "RAR"; break;
    case ARCHIVE_FORMAT_CAB: name = "cab"; break;
    case ARCHIVE_FORMAT_RAW: break;
    default: name = "archive"; break;
  }
  for (int code : filters) {
    const char* suffix = FilterSuffix(code);
    if (suffix == nullptr) continue;
    if (!name.empty()) name += '.';
    name += suffix;
  }
  return name;
}

std::string SingleEntryName(const std::string& fileName) {
  const size_t slash = fileName.rfind('/');
  std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  static const std::array<std::pair<const char*, const char*>, 11> kSuffixes = {{
      {".gz", ""}, {".bz2", ""}, {".xz", ""}, {".zst", ""}, {".lz4", ""}, {".lz", ""},
      {".lzma", ""}, {".Z", ""}, {".svgz", ".svg"}, {".z", ""}, {".zstd", ""},
  }};
  for (const auto& [suffix, replacement] : kSuffixes) {
    const size_t n = std::strlen(suffix);
    if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0)
      return name.substr(0, name.size() - n) + replacement;
  }
  return name;
}

bool HasArchiveName(std::string_view name) {
  static const char* const kSuffixes[] = {
      ".tar",     ".tar.gz", ".tgz",   ".taz",  ".tar.bz2", ".tbz",  ".tbz2",  ".tb2",   ".tar.xz",
      ".txz",     ".tar.zst", ".tzst", ".tar.lz4", ".tar.lz", ".tar.lzma", ".tlz", ".tar.z", ".7z",
      ".rar",     ".iso",    ".cpio",  ".deb",  ".udeb",    ".rpm",  ".cab",
  };
  std::string lower(name.substr(name.size() > 12 ? name.size() - 12 : 0));
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const char* suffix : kSuffixes) {
    const size_t n = std::strlen(suffix);
    if (lower.size() > n && lower.compare(lower.size() - n, n, suffix) == 0) return true;
  }
  return false;
}

TArchiveKind ProbeArchive(int fd) {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return Probe(fd, static_cast<uint64_t>(st.st_size));
}

TArchiveKind ProbeArchive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  TArchiveKind kind = ProbeArchive(fd);
  ::close(fd);
  return kind;
}

}  // namespace vantrel::formats
