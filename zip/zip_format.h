// zip_format.h - the on-disk ZIP records and their in-memory forms.
//
// All multi-byte fields are little-endian and are read and written through
// GetU16/GetU32/PutU16/PutU32 at named offsets. TZipHeaderInfo is one archive
// entry as the central directory (or, when a directory is rebuilt, a local
// header) describes it; TEndCentral is the end-of-central-directory record.
//
// Names: stored names are decoded to UTF-8 (flag bit 11, or valid UTF-8 made on
// a Unix-like host, else IBM code page 437) and "\" becomes "/". The result is
// split at the last "/" into Directory (with its trailing "/") and Filename.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::zip {

class TStream;
class TNameDecoder;

// ------------------------------------------------------------ signatures, sizes

extern const uint32_t CentralFileHeaderSig;  // 0x02014B50
extern const uint32_t LocalFileHeaderSig;    // 0x04034B50
extern const uint32_t EndCentralDirSig;      // 0x06054B50
extern const uint8_t EndCentralFirstByte;    // 0x50, for the backward scan
inline constexpr uint32_t Zip64EndCentralSig = 0x06064B50;
inline constexpr uint32_t Zip64LocatorSig = 0x07064B50;
inline constexpr uint32_t DataDescriptorSig = 0x08074B50;

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndCentralSize = 22;
inline constexpr size_t kDataDescriptorSize = 16;
inline constexpr size_t kZip64DataDescriptorSize = 24;  // with 8-byte sizes
inline constexpr size_t kZip64EndCentralSize = 56;      // without extensible data
inline constexpr size_t kZip64LocatorSize = 20;
// A classic field holding this value says that the real value is in a ZIP64
// record or extra field.
inline constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;
inline constexpr uint16_t kZip64Marker16 = 0xFFFF;
inline constexpr uint16_t kZip64ExtraId = 0x0001;
inline constexpr size_t kLocalZip64ExtraSize = 20;  // id, length, both sizes
// "Version needed to extract" of an entry with ZIP64 fields (4.5).
inline constexpr uint16_t kVersionZip64 = 45;
inline constexpr size_t kEncryptionHeaderSize = 12;

// General purpose flag bits.
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagExplode8k = 0x0002;
inline constexpr uint16_t kFlagExplodeLiteralTree = 0x0004;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagLzmaEndMarker = 0x0002;
inline constexpr uint16_t kFlagStrongEncryption = 0x0040;
inline constexpr uint16_t kFlagUtf8 = 0x0800;

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}
inline void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, static_cast<uint32_t>(v));
  PutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

// ------------------------------------------------------------ DOS date and time

// Clamps the parts of a DOS date/time (time low, date high) into range; returns
// the value bit for bit when nothing was out of range.
uint32_t ValidateDate(uint32_t dosDateTime);
// The DOS date/time as local time (seconds since the epoch), after validation.
// A day that the month does not have rolls over into the next month.
std::time_t DosDateTimeToTime(uint32_t dosDateTime);
// True when the validated value names a real calendar day.
bool IsValidCalendarDate(uint32_t dosDateTime);
// Local time to a DOS date/time (seconds rounded down to even; years clamped
// to 1980..2107).
uint32_t TimeToDosDateTime(std::time_t t);
// A number that orders DOS date/times; 0 for an invalid calendar date.
int64_t DosDateTimeOrdinal(uint32_t dosDateTime);

// ------------------------------------------------------------ exact times
//
// The NTFS field (0x000A: modification, access and creation time in 100 ns
// units since 1601, UTC) and the extended timestamp (0x5455: a flags byte,
// then the times it names as 32-bit unsigned seconds since 1970, UTC; a
// central record holds only the modification time) say the instant itself;
// the DOS time is local time wherever the archive was written.

inline constexpr uint16_t kNtfsExtraId = 0x000A;
inline constexpr uint16_t kExtTimeExtraId = 0x5455;
inline constexpr size_t kExtTimeExtraSize = 9;  // id, length, flags, mtime
// No exact time (nanoseconds since 1970 otherwise).
inline constexpr int64_t kNoExactTime = INT64_MIN;

struct TExtraTimes {
  int64_t modified = kNoExactTime;  // nanoseconds since 1970, UTC
  int64_t accessed = kNoExactTime;
};
// The times of the NTFS and extended timestamp fields of an extra field;
// where both are present the NTFS field's win.
TExtraTimes ReadExtraTimes(const uint8_t* data, size_t size);
// The extended timestamp field with the modification time (flags 1); empty
// for a time the field cannot hold (before 1970 or after 2106).
std::string ExtTimeExtra(int64_t modifiedNs);
// Seconds and nanoseconds of a time in nanoseconds since 1970.
struct timespec NsToTimespec(int64_t ns);

// Compressed size as a per cent of the uncompressed size, rounded, at most 100;
// 0 for an uncompressed size of 0 or less.
int Rate(int64_t uncompressed, int64_t compressed);

// ------------------------------------------------------------ methods

// The usual name of a compression method code ("Deflate", "BZip2", "PPMd");
// nullptr for a code without one.
const char* CompressionMethodName(uint16_t method);
// "unsupported compression method NAME (N)", or "... method N" without a name.
std::string UnsupportedMethodText(uint16_t method);

// ------------------------------------------------------------ names

// The stored name bytes as UTF-8 with "/" separators (see the file comment).
std::string DecodeStoredName(std::string_view raw, uint16_t flags, uint16_t versionMadeBy);
// IBM code page 437 to UTF-8, all 256 byte values.
std::string Cp437ToUtf8(std::string_view raw);
bool IsValidUtf8(std::string_view s);
// Case-insensitive comparison folding only ASCII letters; <0, 0 or >0.
int CompareTextAscii(std::string_view a, std::string_view b);
char FoldAscii(char c);

// ------------------------------------------------------------ objects

// Base of everything a TObjectList holds.
class TObject {
 public:
  virtual ~TObject() = default;
  virtual const char* ClassName() const { return "TObject"; }
};

// Loads the next disk and returns the stream that now stands at its start.
using TNextDiskCallback = std::function<TStream*()>;

// Names of many entries in blocks that never move: a directory of N entries
// costs N small records and a few 64 KiB blocks, not N heap strings.
class TNameArena {
 public:
  TNameArena() = default;
  TNameArena(const TNameArena&) = delete;
  TNameArena& operator=(const TNameArena&) = delete;
  // Room for n bytes at an even address, valid as long as the arena.
  char* Allocate(size_t n);

 private:
  static constexpr size_t kBlockSize = 65536;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
};

class TZipHeaderInfo : public TObject {
 public:
  TZipHeaderInfo() = default;
  TZipHeaderInfo(const TZipHeaderInfo& other) { Assign(other); }
  TZipHeaderInfo& operator=(const TZipHeaderInfo& other) {
    Assign(other);
    return *this;
  }
  ~TZipHeaderInfo() override;
  const char* ClassName() const override { return "TZipHeaderInfo"; }

  // Widest fields first, so that a directory of many entries packs tightly.
  // Sizes and offsets are 64-bit: a ZIP64 extra field carries the values the
  // 32-bit fields of the records cannot hold.
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint64_t LocalHeaderOffset = 0;
  uint64_t CentralEntryOffset = 0;
  // From an NTFS or extended timestamp field (nanoseconds since 1970, UTC);
  // kNoExactTime when the entry has only its DOS time.
  int64_t ExactModTime = kNoExactTime;
  uint32_t LastModDateTime = 0;
  uint32_t CRC32 = 0xFFFFFFFF;
  uint32_t DiskNumberStart = 0;
  uint32_t ExternalAttributes = 0x20;
  uint16_t VersionMadeBy = 20;
  uint16_t VersionNeeded = 20;
  uint16_t GeneralPurposeFlags = 0;
  uint16_t CompressionMethod = 8;
  uint16_t FilenameLength = 0;
  uint16_t CentralExtraLength = 0;
  uint16_t LocalExtraLength = 0;
  uint16_t FileCommentLength = 0;
  uint16_t InternalAttributes = 1;
  // Bytes of the name as stored in the record read (FilenameLength counts
  // the decoded text, which may be longer).
  uint16_t StoredNameLength = 0;
  // From the AES extra field (0x9901): the method of the data inside.
  uint16_t AesMethod = 0;
  uint16_t Selected : 1 = 0;
  uint16_t Marked : 1 = 0;
  // The entry's data overlaps another entry's or the central directory: it is
  // never extracted (set when the directory is read).
  uint16_t DataOverlaps : 1 = 0;
  // From the AES extra field: vendor version (1 = AE-1, 2 = AE-2; a larger
  // value is kept as kAesVersionOther) and key strength (1-3 for 128/192/256
  // bits); AesStrength is 0 when the entry has no such field.
  uint16_t AesVersion : 5 = 0;
  uint16_t AesStrength : 8 = 0;
  static constexpr uint16_t kAesVersionOther = 31;

  std::string_view Filename() const { return Parts().second; }
  std::string_view Directory() const { return Parts().first; }
  // Directory + Filename.
  std::string Path() const { return std::string(PathView()); }
  std::string_view PathView() const;
  // Setting a different value recomputes FilenameLength; a non-empty
  // directory gets a trailing "/".
  void SetFilename(std::string_view name);
  void SetDirectory(std::string_view dir);
  // Splits a "/"-separated path at its last "/" into Directory and Filename.
  // With an arena the name is kept there (the arena must outlive the entry);
  // without one the entry owns a copy.
  void SetPath(std::string_view path, TNameArena* arena = nullptr);

  // The comment once loaded; none otherwise. Loaded comments live in a table
  // beside the entries, so that entries without one pay nothing for it.
  const std::optional<std::string>& FileComment() const;
  // Replaces the comment; FileCommentLength follows its length (0 for none).
  void SetFileComment(std::optional<std::string> comment);

  // Copies every field, the name and the loaded comment (the copy owns its
  // name).
  void Assign(const TZipHeaderInfo& other);

  // Reads one central record at the stream's position. On failure the stream
  // is back where it was. nextDisk (may be empty) is called when the stream
  // ends inside the fixed part of the record; it replaces *stream. The name
  // goes to `names` when given (see SetPath); `decoder` (when given) reads
  // it with the archive's code page and Unicode Path field.
  bool ReadCentral(TStream*& stream, const TNextDiskCallback& nextDisk = {},
                   TNameArena* names = nullptr, TNameDecoder* decoder = nullptr);
  // Reads one local header; the stream then stands right after the name.
  bool ReadLocal(TStream& stream, TNameArena* names = nullptr);

  // Writes the 46-byte record, the stored name and the loaded comment; false
  // on a short write.
  bool WriteCentral(TStream& stream) const;
  // Sets LocalHeaderOffset to the position and writes the 30-byte header and
  // the stored name.
  bool WriteLocal(TStream& stream);

  // Whether the records of this entry need ZIP64 fields: a size or the
  // offset does not fit 32 bits (or the disk 16 bits).
  bool NeedsZip64() const {
    return CompressedSize >= kZip64Marker32 || UncompressedSize >= kZip64Marker32 ||
           LocalHeaderOffset >= kZip64Marker32 || DiskNumberStart >= kZip64Marker16;
  }

  bool IsEncrypted() const { return GeneralPurposeFlags & kFlagEncrypted; }
  // Method 99 with a usable AES extra field.
  bool IsAes() const;
  // Takes what the engine uses from an extra field of a central record or
  // (local) a local header, to be called once the classic fields are set:
  // the AES field (0x9901), the exact modification time (ExactModTime), and from a ZIP64 block (0x0001) the values whose
  // classic field holds the marker (see ApplyZip64Block).
  void ParseExtraField(const uint8_t* data, size_t size, bool local = false);
  bool HasDataDescriptor() const { return GeneralPurposeFlags & kFlagDataDescriptor; }
  bool HasComment() const { return FileCommentLength > 0; }
  // The modification time: the exact one when the entry has it, else the
  // DOS time read as local time.
  struct timespec ModTime() const;
  uint64_t LocalSize() const { return 30u + FilenameLength + LocalExtraLength; }
  uint64_t CentralSize() const {
    return 46u + FilenameLength + CentralExtraLength + FileCommentLength;
  }

 private:
  // The data `p` of a ZIP64 block of `len` bytes: in a central record the
  // uncompressed size, compressed size, local header offset and disk, in
  // that order and only those marked; in a local header both sizes.
  void ApplyZip64Block(const uint8_t* p, size_t len, bool local);
  // The flags as written: bit 11 added when the name is not plain ASCII, so
  // that readers take it as UTF-8.
  uint16_t StoredFlags() const;

  // Directory and filename as views of the name record.
  std::pair<std::string_view, std::string_view> Parts() const;
  // Replaces the name with dir + file, in the arena or in a block of its own.
  void StoreName(std::string_view dir, std::string_view file, TNameArena* arena);
  void FreeName();
  void ForgetComment();

  // The name record: the path's length and the directory's length as
  // variable-length numbers, then the path's bytes. Bit 0 is set when the
  // record is the entry's own heap block (records in an arena are at even
  // addresses); 0 is the empty name.
  uintptr_t name_ = 0;
};

// An entry costs this much in a directory of many entries, beyond its name.
static_assert(sizeof(TZipHeaderInfo) <= 96);


// ------------------------------------------------------------ record encoding

// The fixed 30 bytes of a local header for e with the given flags and
// lengths; with zip64Sizes both size fields hold the marker (the ZIP64 extra
// field that follows the name then holds them).
void EncodeLocalHeader(uint8_t* h, const TZipHeaderInfo& e, uint16_t flags, size_t nameLen,
                       uint16_t extraLen, bool zip64Sizes);
// The fixed 46 bytes of a central record; a size, offset or disk that does
// not fit its field is written as the marker.
void EncodeCentralHeader(uint8_t* h, const TZipHeaderInfo& e, uint16_t flags, size_t nameLen,
                         uint16_t extraLen, uint16_t commentLen);
// The ZIP64 extra block of e's central record: the values that do not fit,
// in the order of the format; empty when every value fits.
std::string CentralZip64Extra(const TZipHeaderInfo& e);
// The ZIP64 extra block of a local header: both sizes.
std::string LocalZip64Extra(const TZipHeaderInfo& e);
// An extra field without its ZIP64 blocks.
std::string WithoutZip64Extra(std::string_view extra);

class TEndCentral {
 public:
  TEndCentral() = default;
  TEndCentral(const TEndCentral& other) { Assign(other); }
  TEndCentral& operator=(const TEndCentral& other) {
    Assign(other);
    return *this;
  }

  // Disks, counts, size and offset are as wide as the ZIP64 end record's
  // fields; the classic record holds them when they fit.
  uint32_t Signature = 0x06054B50;
  uint32_t ThisDisk = 0;
  uint32_t CentralDirDisk = 0;
  uint64_t EntriesThisDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t CentralDirSize = 0;
  uint64_t CentralDirOffset = 0;
  uint16_t ZipCommentLength = 0;
  int64_t ZipCommentPos = 0;  // file offset of the comment
  uint8_t Modified = 0;
  // Read: the values came from a ZIP64 end record, which starts at
  // Zip64RecordPos. Written: a ZIP64 end record and locator go before the
  // classic record (also set by Write when a value does not fit).
  uint8_t Zip64 = 0;
  int64_t Zip64RecordPos = -1;

  const std::optional<std::string>& ZipComment() const { return comment_; }
  // Replaces the comment and sets ZipCommentLength (Modified is the caller's).
  void SetZipComment(std::optional<std::string> comment);

  void Reset();
  void Assign(const TEndCentral& other);
  // The backward scan for the end record over the last 65557 bytes. A ZIP64
  // end record found through the locator before it gives the values; when
  // the classic record is missing or damaged, a locator and ZIP64 record at
  // the end of the stream serve alone (the archive then has no comment).
  bool Find(TStream& stream);
  // Whether a ZIP64 end record is needed: asked for, or a value does not fit
  // its classic field.
  bool NeedsZip64() const {
    return Zip64 || ThisDisk >= kZip64Marker16 || CentralDirDisk >= kZip64Marker16 ||
           EntriesThisDisk >= kZip64Marker16 || TotalEntries >= kZip64Marker16 ||
           CentralDirSize >= kZip64Marker32 || CentralDirOffset >= kZip64Marker32;
  }
  // The end records as they are written at `position` (of the stream or the
  // volume): a ZIP64 end record and its locator when needed, then the
  // classic record with markers in the fields that do not fit, then the
  // loaded comment.
  std::string Encode(int64_t position) const;
  bool Write(TStream& stream) const;
  uint64_t Size() const {
    return (NeedsZip64() ? kZip64EndCentralSize + kZip64LocatorSize : 0) + 22u +
           ZipCommentLength;
  }

 private:
  // Reads the locator at `at` and the ZIP64 end record it leads to; false
  // (nothing changed) unless both are valid.
  bool ReadZip64(TStream& stream, int64_t at);

  std::optional<std::string> comment_;
};

}  // namespace vantrel::zip
