// zip_format.cpp - ZIP records, DOS dates, names and code page 437.
#include "zip/zip_format.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/codepages.h"
#include "zip/zip_names.h"
#include "zip/zip_stream.h"

namespace vantrel::zip {

const uint32_t CentralFileHeaderSig = 0x02014B50;
const uint32_t LocalFileHeaderSig = 0x04034B50;
const uint32_t EndCentralDirSig = 0x06054B50;
const uint8_t EndCentralFirstByte = 0x50;

// ------------------------------------------------------------ DOS date and time
//
// Bits 0-4 seconds/2, 5-10 minutes, 11-15 hours, 16-20 day, 21-24 month,
// 25-31 years since 1980.

namespace {

struct DosParts {
  int sec2, min, hour, day, month, year;  // year since 1980
};

DosParts Split(uint32_t v) {
  return DosParts{static_cast<int>(v & 0x1F),         static_cast<int>((v >> 5) & 0x3F),
                  static_cast<int>((v >> 11) & 0x1F), static_cast<int>((v >> 16) & 0x1F),
                  static_cast<int>((v >> 21) & 0x0F), static_cast<int>((v >> 25) & 0x7F)};
}

int DaysInMonth(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

uint32_t ValidateDate(uint32_t v) {
  DosParts p = Split(v);
  bool changed = false;
  if (p.hour > 23) p.hour = 23, changed = true;
  if (p.min > 59) p.min = 59, changed = true;
  if (p.sec2 * 2 > 59) p.sec2 = 29, changed = true;
  if (p.year + 1980 > 2099) p.year = 2099 - 1980, changed = true;
  if (p.month > 12) p.month = 12, changed = true;
  if (p.month == 0) p.month = 1, changed = true;
  if (p.day == 0) p.day = 1, changed = true;
  if (!changed) return v;
  return static_cast<uint32_t>(p.sec2) | (static_cast<uint32_t>(p.min) << 5) |
         (static_cast<uint32_t>(p.hour) << 11) | (static_cast<uint32_t>(p.day) << 16) |
         (static_cast<uint32_t>(p.month) << 21) | (static_cast<uint32_t>(p.year) << 25);
}

namespace {

// Seconds east of UTC at t in the system's time zone. The zone is read once
// per process: localtime_r does not look at it again, where mktime examines
// the zone file at every call (once per extracted file).
long UtcOffset(std::time_t t) {
  static const bool zoneRead = (tzset(), true);
  (void)zoneRead;
  std::tm tm{};
  return localtime_r(&t, &tm) ? tm.tm_gmtoff : 0;
}

}  // namespace

std::time_t DosDateTimeToTime(uint32_t v) {
  DosParts p = Split(ValidateDate(v));
  // The local fields read as UTC (a day past the month's end runs into the
  // next month, as with mktime), then moved by the zone's offset.
  const std::time_t asUtc = static_cast<std::time_t>(
      DaysFromCivil(p.year + 1980, p.month, p.day) * 86400 + p.hour * 3600 + p.min * 60 +
      p.sec2 * 2);
  const long before = UtcOffset(asUtc - 86400), after = UtcOffset(asUtc + 86400);
  if (before == after) return asUtc - before;
  // Near a change of offset, as mktime does: a time that exists twice is
  // the earlier moment, a time skipped over is read with the offset before.
  const std::time_t early = asUtc - std::max(before, after), late = asUtc - std::min(before, after);
  if (UtcOffset(early) == asUtc - early) return early;
  if (UtcOffset(late) == asUtc - late) return late;
  return asUtc - before;
}

bool IsValidCalendarDate(uint32_t v) {
  DosParts p = Split(ValidateDate(v));
  return p.day <= DaysInMonth(p.year + 1980, p.month);
}

uint32_t TimeToDosDateTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  int year = std::clamp(tm.tm_year + 1900, 1980, 2107) - 1980;
  return static_cast<uint32_t>(tm.tm_sec / 2) | (static_cast<uint32_t>(tm.tm_min) << 5) |
         (static_cast<uint32_t>(tm.tm_hour) << 11) | (static_cast<uint32_t>(tm.tm_mday) << 16) |
         (static_cast<uint32_t>(tm.tm_mon + 1) << 21) | (static_cast<uint32_t>(year) << 25);
}

int64_t DosDateTimeOrdinal(uint32_t v) {
  if (!IsValidCalendarDate(v)) return 0;
  DosParts p = Split(ValidateDate(v));
  int64_t days = DaysFromCivil(p.year + 1980, p.month, p.day) - DaysFromCivil(1899, 12, 30);
  return days * 86400 + p.hour * 3600 + p.min * 60 + p.sec2 * 2;
}

// ------------------------------------------------------------ exact times

namespace {

// 100 ns units from 1601-01-01 to 1970-01-01.
constexpr int64_t kFiletimeEpoch = 116444736000000000LL;

}  // namespace

TExtraTimes ReadExtraTimes(const uint8_t* data, size_t size) {
  TExtraTimes ntfs, unix;
  for (size_t at = 0; at + 4 <= size;) {
    const uint16_t id = GetU16(data + at);
    const size_t len = GetU16(data + at + 2);
    const uint8_t* p = data + at + 4;
    if (at + 4 + len > size) break;
    at += 4 + len;
    if (id == kNtfsExtraId) {
      // 4 reserved bytes, then tagged attributes; tag 1 holds the times.
      for (size_t t = 4; t + 4 <= len;) {
        const uint16_t tag = GetU16(p + t);
        const size_t tagLen = GetU16(p + t + 2);
        if (t + 4 + tagLen > len) break;
        if (tag == 1 && tagLen >= 24) {
          auto toNs = [](uint64_t ft) {
            // Out of the range nanoseconds can hold: no exact time.
            const int64_t units = static_cast<int64_t>(ft) - kFiletimeEpoch;
            if (ft > static_cast<uint64_t>(INT64_MAX) || units > INT64_MAX / 100 ||
                units < INT64_MIN / 100 + 1 || ft == 0)
              return kNoExactTime;
            return units * 100;
          };
          ntfs.modified = toNs(GetU64(p + t + 4));
          ntfs.accessed = toNs(GetU64(p + t + 12));
        }
        t += 4 + tagLen;
      }
    } else if (id == kExtTimeExtraId && len >= 1) {
      const uint8_t flags = p[0];
      size_t off = 1;
      if ((flags & 1) && off + 4 <= len) {
        unix.modified = static_cast<int64_t>(GetU32(p + off)) * 1000000000;
        off += 4;
      }
      if ((flags & 2) && off + 4 <= len) unix.accessed = static_cast<int64_t>(GetU32(p + off)) * 1000000000;
    }
  }
  TExtraTimes out = unix;
  if (ntfs.modified != kNoExactTime) out = ntfs;
  return out;
}

std::string ExtTimeExtra(int64_t modifiedNs) {
  if (modifiedNs == kNoExactTime || modifiedNs < 0) return {};
  const int64_t seconds = modifiedNs / 1000000000;
  if (seconds > static_cast<int64_t>(UINT32_MAX)) return {};
  uint8_t b[kExtTimeExtraSize];
  PutU16(b, kExtTimeExtraId);
  PutU16(b + 2, 5);
  b[4] = 1;
  PutU32(b + 5, static_cast<uint32_t>(seconds));
  return std::string(reinterpret_cast<const char*>(b), sizeof b);
}

struct timespec NsToTimespec(int64_t ns) {
  int64_t sec = ns / 1000000000, rest = ns % 1000000000;
  if (rest < 0) rest += 1000000000, --sec;
  return {static_cast<std::time_t>(sec), static_cast<long>(rest)};
}

struct timespec TZipHeaderInfo::ModTime() const {
  if (ExactModTime != kNoExactTime) return NsToTimespec(ExactModTime);
  return {DosDateTimeToTime(LastModDateTime), 0};
}

int Rate(int64_t uncompressed, int64_t compressed) {
  if (uncompressed <= 0) return 0;
  // Round to nearest, halves to even, on the exact quotient.
  int64_t num = (compressed < 0 ? 0 : compressed) * 100;
  int64_t q = num / uncompressed, r = num % uncompressed;
  if (r * 2 > uncompressed || (r * 2 == uncompressed && (q & 1))) ++q;
  return static_cast<int>(std::min<int64_t>(q, 100));
}

// ------------------------------------------------------------ names

namespace {

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

std::string Cp437ToUtf8(std::string_view raw) { return platform::CodePageBytesToUtf8(raw, platform::CodePage::Cp437); }

bool IsValidUtf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) len = 2, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0) len = 3, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0) len = 4, cp = c & 0x07;
    else return false;
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

std::string DecodeStoredName(std::string_view raw, uint16_t flags, uint16_t versionMadeBy) {
  std::string name;
  int host = versionMadeBy >> 8;
  if (IsAscii(raw) || (flags & kFlagUtf8) || ((host == 3 || host == 19) && IsValidUtf8(raw)))
    name.assign(raw);
  else
    name = Cp437ToUtf8(raw);
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

int CompareTextAscii(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(FoldAscii(a[i]));
    unsigned char y = static_cast<unsigned char>(FoldAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// ------------------------------------------------------------ TZipHeaderInfo

namespace {

// Little-endian base-128 numbers: a name record's lengths take one byte each
// for names under 128 bytes.
size_t VarintSize(size_t v) {
  size_t n = 1;
  while (v >= 0x80) v >>= 7, ++n;
  return n;
}

char* PutVarint(char* p, size_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<char>((v & 0x7F) | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<char>(v);
  return p;
}

const char* GetVarint(const char* p, size_t& v) {
  v = 0;
  for (int shift = 0;; shift += 7) {
    const auto b = static_cast<unsigned char>(*p++);
    v |= static_cast<size_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return p;
  }
}

// Loaded entry comments by entry; `count` lets entries skip the lock while
// no comment is loaded anywhere.
struct TCommentTable {
  std::mutex lock;
  std::unordered_map<const TZipHeaderInfo*, std::optional<std::string>> comments;
  std::atomic<size_t> count{0};
};

TCommentTable& Comments() {
  static TCommentTable* table = new TCommentTable;  // outlives static entries
  return *table;
}

}  // namespace

char* TNameArena::Allocate(size_t n) {
  n += n & 1;  // keeps the next record even
  if (n > left_) {
    // A record longer than a block gets a block of its own; the current
    // block's tail is kept for the records that follow.
    if (n > kBlockSize / 4) {
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(n));
      return blocks_.back().get();
    }
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
    next_ = blocks_.back().get();
    left_ = kBlockSize;
  }
  char* p = next_;
  next_ += n;
  left_ -= n;
  return p;
}

TZipHeaderInfo::~TZipHeaderInfo() {
  FreeName();
  ForgetComment();
}

std::pair<std::string_view, std::string_view> TZipHeaderInfo::Parts() const {
  if (!name_) return {};
  const char* p = reinterpret_cast<const char*>(name_ & ~uintptr_t{1});
  size_t pathLen, dirLen;
  p = GetVarint(GetVarint(p, pathLen), dirLen);
  return {std::string_view(p, dirLen), std::string_view(p + dirLen, pathLen - dirLen)};
}

std::string_view TZipHeaderInfo::PathView() const {
  const auto [dir, file] = Parts();
  return std::string_view(dir.data(), dir.size() + file.size());
}

void TZipHeaderInfo::FreeName() {
  if (name_ & 1) delete[] reinterpret_cast<char*>(name_ & ~uintptr_t{1});
  name_ = 0;
}

void TZipHeaderInfo::StoreName(std::string_view dir, std::string_view file, TNameArena* arena) {
  const size_t pathLen = dir.size() + file.size();
  FilenameLength = static_cast<uint16_t>(pathLen);
  if (pathLen == 0) {
    FreeName();
    return;
  }
  const size_t size = VarintSize(pathLen) + VarintSize(dir.size()) + pathLen;
  char* record = arena ? arena->Allocate(size) : new char[size];
  char* p = PutVarint(PutVarint(record, pathLen), dir.size());
  // dir and file may be views of the old record: copy before freeing it.
  std::memcpy(p, dir.data(), dir.size());
  std::memcpy(p + dir.size(), file.data(), file.size());
  FreeName();
  name_ = reinterpret_cast<uintptr_t>(record) | (arena ? 0 : 1);
}

void TZipHeaderInfo::SetFilename(std::string_view name) {
  if (name == Filename()) return;
  StoreName(Directory(), name, nullptr);
}

void TZipHeaderInfo::SetDirectory(std::string_view dir) {
  const bool slash = !dir.empty() && dir.back() != '/';
  if (slash ? Directory().size() == dir.size() + 1 && Directory().starts_with(dir) &&
                  Directory().back() == '/'
            : Directory() == dir)
    return;
  if (!slash) return StoreName(dir, Filename(), nullptr);
  StoreName(std::string(dir) + '/', Filename(), nullptr);
}

void TZipHeaderInfo::SetPath(std::string_view path, TNameArena* arena) {
  const size_t slash = path.rfind('/');
  const size_t cut = slash == std::string_view::npos ? 0 : slash + 1;
  StoreName(path.substr(0, cut), path.substr(cut), arena);
}

const std::optional<std::string>& TZipHeaderInfo::FileComment() const {
  static const std::optional<std::string> kNone;
  TCommentTable& table = Comments();
  if (table.count.load(std::memory_order_acquire) == 0) return kNone;
  std::lock_guard<std::mutex> hold(table.lock);
  auto it = table.comments.find(this);
  // Elements of the table keep their address until erased.
  return it == table.comments.end() ? kNone : it->second;
}

void TZipHeaderInfo::ForgetComment() {
  TCommentTable& table = Comments();
  if (table.count.load(std::memory_order_acquire) == 0) return;
  std::lock_guard<std::mutex> hold(table.lock);
  if (table.comments.erase(this)) table.count.fetch_sub(1, std::memory_order_release);
}

void TZipHeaderInfo::SetFileComment(std::optional<std::string> comment) {
  if (comment && comment->size() > 0xFFFF) comment->resize(0xFFFF);
  FileCommentLength = comment ? static_cast<uint16_t>(comment->size()) : 0;
  if (!FileCommentLength) return ForgetComment();
  TCommentTable& table = Comments();
  std::lock_guard<std::mutex> hold(table.lock);
  auto [it, added] = table.comments.try_emplace(this);
  it->second = std::move(comment);
  if (added) table.count.fetch_add(1, std::memory_order_release);
}

void TZipHeaderInfo::Assign(const TZipHeaderInfo& o) {
  if (this == &o) return;
  VersionMadeBy = o.VersionMadeBy;
  VersionNeeded = o.VersionNeeded;
  GeneralPurposeFlags = o.GeneralPurposeFlags;
  CompressionMethod = o.CompressionMethod;
  LastModDateTime = o.LastModDateTime;
  CRC32 = o.CRC32;
  CompressedSize = o.CompressedSize;
  UncompressedSize = o.UncompressedSize;
  CentralExtraLength = o.CentralExtraLength;
  LocalExtraLength = o.LocalExtraLength;
  DiskNumberStart = o.DiskNumberStart;
  InternalAttributes = o.InternalAttributes;
  ExternalAttributes = o.ExternalAttributes;
  LocalHeaderOffset = o.LocalHeaderOffset;
  CentralEntryOffset = o.CentralEntryOffset;
  ExactModTime = o.ExactModTime;
  Selected = o.Selected;
  Marked = o.Marked;
  StoredNameLength = o.StoredNameLength;
  DataOverlaps = o.DataOverlaps;
  AesVersion = o.AesVersion;
  AesStrength = o.AesStrength;
  AesMethod = o.AesMethod;
  StoreName(o.Directory(), o.Filename(), nullptr);
  FilenameLength = o.FilenameLength;
  const std::optional<std::string>& comment = o.FileComment();
  if (o.FileCommentLength != 0 && comment) {
    SetFileComment(comment);
  } else {
    ForgetComment();
  }
  FileCommentLength = o.FileCommentLength;
}

bool TZipHeaderInfo::IsAes() const {
  return CompressionMethod == 99 && AesStrength >= 1 && AesStrength <= 3 &&
         (AesVersion == 1 || AesVersion == 2);
}

void TZipHeaderInfo::ParseExtraField(const uint8_t* data, size_t size, bool local) {
  ExactModTime = ReadExtraTimes(data, size).modified;
  // Blocks of a 2-byte id, a 2-byte length and that many bytes; a block that
  // runs past the end ends the walk.
  for (size_t at = 0; at + 4 <= size;) {
    const uint16_t id = GetU16(data + at);
    const size_t len = GetU16(data + at + 2);
    const uint8_t* p = data + at + 4;
    if (at + 4 + len > size) break;
    at += 4 + len;
    if (id == 0x9901 && len >= 7 && p[2] == 'A' && p[3] == 'E') {
      AesVersion = std::min<uint16_t>(GetU16(p), kAesVersionOther);
      AesStrength = p[4];
      AesMethod = GetU16(p + 5);
    } else if (id == kZip64ExtraId) {
      ApplyZip64Block(p, len, local);
    }
  }
}

void TZipHeaderInfo::ApplyZip64Block(const uint8_t* p, size_t len, bool local) {
  if (local) {
    // A local header's block holds both sizes; only the marked ones count.
    if (len >= 16) {
      if (UncompressedSize == kZip64Marker32) UncompressedSize = GetU64(p);
      if (CompressedSize == kZip64Marker32) CompressedSize = GetU64(p + 8);
    }
    return;
  }
  // A central record's block holds, in this order, only the fields whose
  // classic value is the marker.
  size_t used = 0;
  auto take = [&](bool marked, size_t width, auto& field) {
    if (!marked) return;
    if (used + width <= len)
      field = static_cast<std::remove_reference_t<decltype(field)>>(
          width == 8 ? GetU64(p + used) : GetU32(p + used));
    used += width;
  };
  take(UncompressedSize == kZip64Marker32, 8, UncompressedSize);
  take(CompressedSize == kZip64Marker32, 8, CompressedSize);
  take(LocalHeaderOffset == kZip64Marker32, 8, LocalHeaderOffset);
  take(DiskNumberStart == kZip64Marker16, 4, DiskNumberStart);
}

bool TZipHeaderInfo::ReadCentral(TStream*& stream, const TNextDiskCallback& nextDisk,
                                 TNameArena* names, TNameDecoder* decoder) {
  int64_t start = stream->Position();
  uint8_t h[kCentralHeaderSize];
  size_t n = stream->Read(h, sizeof h);
  if (n < sizeof h && (n == 0 || (n >= 4 && GetU32(h) == CentralFileHeaderSig)) && nextDisk) {
    TStream* next = nextDisk();
    if (next) {
      stream = next;
      start = 0;  // a record that straddles disks is re-read from the new disk only
      n += stream->Read(h + n, sizeof h - n);
    }
  }
  if (n < sizeof h || GetU32(h) != CentralFileHeaderSig) {
    stream->Seek(start, soBeginning);
    return false;
  }
  uint16_t nameLen = GetU16(h + 28);
  uint16_t extraLen = GetU16(h + 30);
  uint16_t commentLen = GetU16(h + 32);
  // The name and the extra field in one read, on the stack when they are
  // short (as they nearly always are).
  char shortRaw[512];
  std::string longRaw;
  const size_t rawSize = static_cast<size_t>(nameLen) + extraLen;
  char* rawBytes = shortRaw;
  if (rawSize > sizeof shortRaw) {
    longRaw.resize(rawSize);
    rawBytes = longRaw.data();
  }
  const std::string_view raw(rawBytes, rawSize);
  if (rawSize && !stream->ReadExact(rawBytes, rawSize)) {
    stream->Seek(start, soBeginning);
    return false;
  }
  if (commentLen) stream->Seek(commentLen, soCurrent);

  VersionMadeBy = GetU16(h + 4);
  VersionNeeded = GetU16(h + 6);
  GeneralPurposeFlags = GetU16(h + 8);
  CompressionMethod = GetU16(h + 10);
  LastModDateTime = ValidateDate(GetU32(h + 12));
  CRC32 = GetU32(h + 16);
  CompressedSize = GetU32(h + 20);
  UncompressedSize = GetU32(h + 24);
  const auto* extra = reinterpret_cast<const uint8_t*>(raw.data()) + nameLen;
  if (decoder)
    decoder->Decode(*this, std::string_view(raw).substr(0, nameLen), extra, extraLen, names);
  else
    SetPath(DecodeStoredName(std::string_view(raw).substr(0, nameLen), GeneralPurposeFlags,
                             VersionMadeBy),
            names);
  CentralExtraLength = extraLen;
  LocalExtraLength = 0;
  ForgetComment();
  FileCommentLength = commentLen;
  DiskNumberStart = GetU16(h + 34);
  InternalAttributes = GetU16(h + 36);
  ExternalAttributes = GetU32(h + 38);
  LocalHeaderOffset = GetU32(h + 42);
  AesVersion = AesStrength = AesMethod = 0;
  ExactModTime = kNoExactTime;
  if (extraLen)
    ParseExtraField(reinterpret_cast<const uint8_t*>(raw.data()) + nameLen, extraLen, false);
  Selected = Marked = 0;
  StoredNameLength = nameLen;
  DataOverlaps = 0;
  CentralEntryOffset = static_cast<uint64_t>(start);
  return true;
}

bool TZipHeaderInfo::ReadLocal(TStream& stream, TNameArena* names) {
  int64_t start = stream.Position();
  uint8_t h[kLocalHeaderSize];
  if (!stream.ReadExact(h, sizeof h) || GetU32(h) != LocalFileHeaderSig) {
    stream.Seek(start, soBeginning);
    return false;
  }
  uint16_t nameLen = GetU16(h + 26);
  std::string raw(nameLen, '\0');
  if (nameLen && !stream.ReadExact(raw.data(), nameLen)) {
    stream.Seek(start, soBeginning);
    return false;
  }
  VersionMadeBy = 0;
  VersionNeeded = GetU16(h + 4);
  GeneralPurposeFlags = GetU16(h + 6);
  CompressionMethod = GetU16(h + 8);
  LastModDateTime = ValidateDate(GetU32(h + 10));
  CRC32 = GetU32(h + 14);
  CompressedSize = GetU32(h + 18);
  UncompressedSize = GetU32(h + 22);
  SetPath(DecodeStoredName(raw, GeneralPurposeFlags, 0), names);
  LocalExtraLength = GetU16(h + 28);
  AesVersion = AesStrength = AesMethod = 0;
  ExactModTime = kNoExactTime;
  if (LocalExtraLength) {
    // Sizes in a ZIP64 block, the AES field; the stream is left after the
    // name as before.
    std::string extra(LocalExtraLength, '\0');
    const int64_t afterName = stream.Position();
    if (stream.ReadExact(extra.data(), extra.size()))
      ParseExtraField(reinterpret_cast<const uint8_t*>(extra.data()), extra.size(), true);
    stream.Seek(afterName, soBeginning);
  }
  ForgetComment();
  FileCommentLength = 0;
  DiskNumberStart = 0;
  InternalAttributes = 0;
  ExternalAttributes = 0;
  CentralEntryOffset = 0;
  StoredNameLength = nameLen;
  DataOverlaps = 0;
  LocalHeaderOffset = static_cast<uint64_t>(start);
  return true;
}

uint16_t TZipHeaderInfo::StoredFlags() const {
  uint16_t flags = GeneralPurposeFlags;
  if (!IsAscii(PathView())) flags |= kFlagUtf8;
  return flags;
}

namespace {

// A value for a classic field: itself, or the marker when it does not fit.
uint32_t Fit32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, kZip64Marker32)); }
uint16_t Fit16(uint64_t v) { return static_cast<uint16_t>(std::min<uint64_t>(v, kZip64Marker16)); }

}  // namespace

void EncodeLocalHeader(uint8_t* h, const TZipHeaderInfo& e, uint16_t flags, size_t nameLen,
                       uint16_t extraLen, bool zip64Sizes) {
  PutU32(h, LocalFileHeaderSig);
  PutU16(h + 4, e.VersionNeeded);
  PutU16(h + 6, flags);
  PutU16(h + 8, e.CompressionMethod);
  PutU32(h + 10, e.LastModDateTime);
  PutU32(h + 14, e.CRC32);
  PutU32(h + 18, zip64Sizes ? kZip64Marker32 : Fit32(e.CompressedSize));
  PutU32(h + 22, zip64Sizes ? kZip64Marker32 : Fit32(e.UncompressedSize));
  PutU16(h + 26, static_cast<uint16_t>(nameLen));
  PutU16(h + 28, extraLen);
}

void EncodeCentralHeader(uint8_t* h, const TZipHeaderInfo& e, uint16_t flags, size_t nameLen,
                         uint16_t extraLen, uint16_t commentLen) {
  PutU32(h, CentralFileHeaderSig);
  PutU16(h + 4, e.VersionMadeBy);
  PutU16(h + 6, e.VersionNeeded);
  PutU16(h + 8, flags);
  PutU16(h + 10, e.CompressionMethod);
  PutU32(h + 12, e.LastModDateTime);
  PutU32(h + 16, e.CRC32);
  PutU32(h + 20, Fit32(e.CompressedSize));
  PutU32(h + 24, Fit32(e.UncompressedSize));
  PutU16(h + 28, static_cast<uint16_t>(nameLen));
  PutU16(h + 30, extraLen);
  PutU16(h + 32, commentLen);
  PutU16(h + 34, Fit16(e.DiskNumberStart));
  PutU16(h + 36, e.InternalAttributes);
  PutU32(h + 38, e.ExternalAttributes);
  PutU32(h + 42, Fit32(e.LocalHeaderOffset));
}

std::string CentralZip64Extra(const TZipHeaderInfo& e) {
  uint8_t b[4 + 8 + 8 + 8 + 4];
  size_t n = 4;
  for (uint64_t v : {e.UncompressedSize, e.CompressedSize, e.LocalHeaderOffset})
    if (v >= kZip64Marker32) PutU64(b + n, v), n += 8;
  if (e.DiskNumberStart >= kZip64Marker16) PutU32(b + n, e.DiskNumberStart), n += 4;
  if (n == 4) return {};
  PutU16(b, kZip64ExtraId);
  PutU16(b + 2, static_cast<uint16_t>(n - 4));
  return std::string(reinterpret_cast<const char*>(b), n);
}

std::string LocalZip64Extra(const TZipHeaderInfo& e) {
  uint8_t b[kLocalZip64ExtraSize];
  PutU16(b, kZip64ExtraId);
  PutU16(b + 2, 16);
  PutU64(b + 4, e.UncompressedSize);
  PutU64(b + 12, e.CompressedSize);
  return std::string(reinterpret_cast<const char*>(b), sizeof b);
}

std::string WithoutZip64Extra(std::string_view extra) {
  std::string out;
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + at);
    const size_t len = GetU16(p + 2);
    if (at + 4 + len > extra.size()) break;
    if (GetU16(p) != kZip64ExtraId) out.append(extra.substr(at, 4 + len));
    at += 4 + len;
  }
  out.append(extra.substr(at));  // a broken tail is kept as it was
  return out;
}

bool TZipHeaderInfo::WriteCentral(TStream& stream) const {
  const std::string extra = CentralZip64Extra(*this);
  uint8_t h[kCentralHeaderSize];
  EncodeCentralHeader(h, *this, StoredFlags(), FilenameLength,
                      static_cast<uint16_t>(extra.size()), FileCommentLength);
  const std::string_view name = PathView().substr(0, FilenameLength);
  if (stream.Write(h, sizeof h) != sizeof h) return false;
  if (stream.Write(name.data(), name.size()) != name.size()) return false;
  if (stream.Write(extra.data(), extra.size()) != extra.size()) return false;
  const std::optional<std::string>& comment = FileComment();
  if (FileCommentLength && comment) {
    std::string c = *comment;
    c.resize(FileCommentLength);
    if (stream.Write(c.data(), c.size()) != c.size()) return false;
  }
  return true;
}

bool TZipHeaderInfo::WriteLocal(TStream& stream) {
  LocalHeaderOffset = static_cast<uint64_t>(stream.Position());
  uint8_t h[kLocalHeaderSize];
  EncodeLocalHeader(h, *this, StoredFlags(), FilenameLength, LocalExtraLength,
                    CompressedSize >= kZip64Marker32 || UncompressedSize >= kZip64Marker32);
  const std::string_view name = PathView().substr(0, FilenameLength);
  return stream.Write(h, sizeof h) == sizeof h &&
         stream.Write(name.data(), name.size()) == name.size();
}

// ------------------------------------------------------------ methods

const char* CompressionMethodName(uint16_t method) {
  static const struct {
    uint16_t code;
    const char* name;
  } kNames[] = {{0, "Stored"},     {1, "Shrunk"},     {2, "Reduce1"},    {3, "Reduce2"},
                {4, "Reduce3"},    {5, "Reduce4"},    {6, "Implode"},    {7, "Tokenize"},
                {8, "Deflate"},    {9, "Deflate64"},  {10, "PKWARE-DCL"}, {12, "BZip2"},
                {14, "LZMA"},      {16, "IBM-CMPSC"}, {18, "IBM-TERSE"}, {19, "IBM-LZ77"},
                {20, "Zstandard"}, {93, "Zstandard"}, {94, "MP3"},       {95, "XZ"},
                {96, "JPEG"},      {97, "WavPack"},   {98, "PPMd"},      {99, "AES"}};
  for (const auto& n : kNames)
    if (n.code == method) return n.name;
  return nullptr;
}

std::string UnsupportedMethodText(uint16_t method) {
  const char* name = CompressionMethodName(method);
  return name ? "unsupported compression method " + std::string(name) + " (" +
                    std::to_string(method) + ")"
              : "unsupported compression method " + std::to_string(method);
}

// ------------------------------------------------------------ TEndCentral

void TEndCentral::SetZipComment(std::optional<std::string> comment) {
  if (comment && comment->size() > 0xFFFF) comment->resize(0xFFFF);
  ZipCommentLength = comment ? static_cast<uint16_t>(comment->size()) : 0;
  comment_ = ZipCommentLength ? std::move(comment) : std::nullopt;
}

void TEndCentral::Reset() {
  Signature = EndCentralDirSig;
  ThisDisk = CentralDirDisk = 0;
  EntriesThisDisk = TotalEntries = 0;
  CentralDirSize = CentralDirOffset = 0;
  ZipCommentLength = 0;
  ZipCommentPos = 0;
  Modified = 0;
  Zip64 = 0;
  Zip64RecordPos = -1;
  comment_.reset();
}

void TEndCentral::Assign(const TEndCentral& o) {
  if (this == &o) return;
  Signature = o.Signature;
  ThisDisk = o.ThisDisk;
  CentralDirDisk = o.CentralDirDisk;
  EntriesThisDisk = o.EntriesThisDisk;
  TotalEntries = o.TotalEntries;
  CentralDirSize = o.CentralDirSize;
  CentralDirOffset = o.CentralDirOffset;
  ZipCommentLength = o.ZipCommentLength;
  ZipCommentPos = o.ZipCommentPos;
  Modified = o.Modified;
  Zip64 = o.Zip64;
  Zip64RecordPos = o.Zip64RecordPos;
  comment_ = (o.ZipCommentLength != 0 && o.comment_) ? o.comment_ : std::nullopt;
}

bool TEndCentral::ReadZip64(TStream& stream, int64_t at) {
  uint8_t loc[kZip64LocatorSize];
  if (at < 0 || stream.Seek(at, soBeginning) != at || !stream.ReadExact(loc, sizeof loc) ||
      GetU32(loc) != Zip64LocatorSig)
    return false;
  // The record is where the locator says, or (when the archive was moved
  // behind a prefix) right before the locator.
  const uint64_t named = GetU64(loc + 8);
  const int64_t candidates[2] = {
      named <= static_cast<uint64_t>(at) ? static_cast<int64_t>(named) : -1,
      at - static_cast<int64_t>(kZip64EndCentralSize)};
  for (int64_t pos : candidates) {
    uint8_t r[kZip64EndCentralSize];
    if (pos < 0 || pos + static_cast<int64_t>(sizeof r) > at ||
        stream.Seek(pos, soBeginning) != pos || !stream.ReadExact(r, sizeof r) ||
        GetU32(r) != Zip64EndCentralSig || GetU64(r + 4) < kZip64EndCentralSize - 12)
      continue;
    ThisDisk = GetU32(r + 16);
    CentralDirDisk = GetU32(r + 20);
    EntriesThisDisk = GetU64(r + 24);
    TotalEntries = GetU64(r + 32);
    CentralDirSize = GetU64(r + 40);
    CentralDirOffset = GetU64(r + 48);
    Zip64 = 1;
    Zip64RecordPos = pos;
    return true;
  }
  return false;
}

bool TEndCentral::Find(TStream& stream) {
  int64_t size = stream.Size();
  if (size < static_cast<int64_t>(kEndCentralSize)) {
    if (size == 0) {
      Reset();
      return true;
    }
    return false;
  }
  const int64_t n = std::min<int64_t>(65535 + kEndCentralSize + kZip64LocatorSize, size);
  std::vector<uint8_t> buf(static_cast<size_t>(n));
  if (stream.Seek(size - n, soBeginning) != size - n ||
      !stream.ReadExact(buf.data(), buf.size()))
    return false;
  const int64_t base = size - n;
  // The classic record within the last 65557 bytes, nearest the end first.
  const int64_t lowest = std::max<int64_t>(0, n - static_cast<int64_t>(65535 + kEndCentralSize));
  for (int64_t i = n - static_cast<int64_t>(kEndCentralSize); i >= lowest; --i) {
    if (buf[i] != EndCentralFirstByte || GetU32(&buf[i]) != EndCentralDirSig) continue;
    const uint8_t* p = &buf[i];
    const uint8_t modified = Modified;
    Reset();
    Modified = modified;
    ThisDisk = GetU16(p + 4);
    CentralDirDisk = GetU16(p + 6);
    EntriesThisDisk = GetU16(p + 8);
    TotalEntries = GetU16(p + 10);
    CentralDirSize = GetU32(p + 12);
    CentralDirOffset = GetU32(p + 16);
    ZipCommentLength = GetU16(p + 20);
    ZipCommentPos = base + i + static_cast<int64_t>(kEndCentralSize);
    // A ZIP64 end record, when there is one, holds the values whole; the
    // classic fields may be markers or damaged.
    ReadZip64(stream, base + i - static_cast<int64_t>(kZip64LocatorSize));
    return true;
  }
  // No classic record: a locator at the end serves alone.
  for (int64_t i = n - static_cast<int64_t>(kZip64LocatorSize); i >= 0; --i) {
    if (buf[i] != 0x50 || GetU32(&buf[i]) != Zip64LocatorSig) continue;
    TEndCentral found;
    if (!found.ReadZip64(stream, base + i)) continue;
    found.Modified = Modified;
    Assign(found);
    ZipCommentPos = base + i + static_cast<int64_t>(kZip64LocatorSize + kEndCentralSize);
    return true;
  }
  return false;
}

std::string TEndCentral::Encode(int64_t position) const {
  std::string out;
  const bool zip64 = NeedsZip64();
  if (zip64) {
    uint8_t r[kZip64EndCentralSize + kZip64LocatorSize];
    PutU32(r, Zip64EndCentralSig);
    PutU64(r + 4, kZip64EndCentralSize - 12);
    PutU16(r + 12, kVersionZip64);
    PutU16(r + 14, kVersionZip64);
    PutU32(r + 16, ThisDisk);
    PutU32(r + 20, CentralDirDisk);
    PutU64(r + 24, EntriesThisDisk);
    PutU64(r + 32, TotalEntries);
    PutU64(r + 40, CentralDirSize);
    PutU64(r + 48, CentralDirOffset);
    uint8_t* l = r + kZip64EndCentralSize;
    PutU32(l, Zip64LocatorSig);
    PutU32(l + 4, ThisDisk);
    PutU64(l + 8, static_cast<uint64_t>(position));
    PutU32(l + 16, ThisDisk + 1);
    out.assign(reinterpret_cast<const char*>(r), sizeof r);
  }
  uint8_t h[kEndCentralSize];
  PutU32(h, Signature);
  PutU16(h + 4, Fit16(ThisDisk));
  PutU16(h + 6, Fit16(CentralDirDisk));
  PutU16(h + 8, Fit16(EntriesThisDisk));
  PutU16(h + 10, Fit16(TotalEntries));
  PutU32(h + 12, Fit32(CentralDirSize));
  PutU32(h + 16, Fit32(CentralDirOffset));
  const uint16_t commentLen = comment_ ? ZipCommentLength : 0;
  PutU16(h + 20, commentLen);
  out.append(reinterpret_cast<const char*>(h), sizeof h);
  if (commentLen) out.append(*comment_, 0, commentLen);
  return out;
}

bool TEndCentral::Write(TStream& stream) const {
  const std::string bytes = Encode(stream.Position());
  return stream.Write(bytes.data(), bytes.size()) == bytes.size();
}

}  // namespace vantrel::zip
