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
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::zip {

class TStream;

// ------------------------------------------------------------ signatures, sizes

extern const uint32_t CentralFileHeaderSig;  // 0x02014B50
extern const uint32_t LocalFileHeaderSig;    // 0x04034B50
extern const uint32_t EndCentralDirSig;      // 0x06054B50
extern const uint8_t EndCentralFirstByte;    // 0x50, for the backward scan

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndCentralSize = 22;
inline constexpr size_t kDataDescriptorSize = 16;
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

class TZipHeaderInfo : public TObject {
 public:
  TZipHeaderInfo() = default;
  TZipHeaderInfo(const TZipHeaderInfo& other) { Assign(other); }
  TZipHeaderInfo& operator=(const TZipHeaderInfo& other) {
    Assign(other);
    return *this;
  }
  const char* ClassName() const override { return "TZipHeaderInfo"; }

  uint16_t VersionMadeBy = 20;
  uint16_t VersionNeeded = 20;
  uint16_t GeneralPurposeFlags = 0;
  uint16_t CompressionMethod = 8;
  uint32_t LastModDateTime = 0;
  uint32_t CRC32 = 0xFFFFFFFF;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FilenameLength = 0;
  uint16_t CentralExtraLength = 0;
  uint16_t LocalExtraLength = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 1;
  uint32_t ExternalAttributes = 0x20;
  uint32_t LocalHeaderOffset = 0;
  uint32_t CentralEntryOffset = 0;
  uint8_t Selected = 0;
  uint8_t Marked = 0;
  // Bytes of the name as stored in the record read (FilenameLength counts
  // the decoded text, which may be longer).
  uint16_t StoredNameLength = 0;
  // The entry's data overlaps another entry's or the central directory: it is
  // never extracted (set when the directory is read).
  uint8_t DataOverlaps = 0;
  // From the AES extra field (0x9901): vendor version (1 = AE-1, 2 = AE-2),
  // key strength (1-3 for 128/192/256 bits) and the method of the data
  // inside; AesStrength is 0 when the entry has no such field.
  uint16_t AesVersion = 0;
  uint8_t AesStrength = 0;
  uint16_t AesMethod = 0;

  const std::string& Filename() const { return filename_; }
  const std::string& Directory() const { return directory_; }
  // Directory + Filename.
  std::string Path() const { return directory_ + filename_; }
  // Setting a different value recomputes FilenameLength; a non-empty
  // directory gets a trailing "/".
  void SetFilename(const std::string& name);
  void SetDirectory(const std::string& dir);
  // Splits a "/"-separated path at its last "/" into Directory and Filename.
  void SetPath(const std::string& path);

  // The comment once loaded; none otherwise.
  const std::optional<std::string>& FileComment() const { return comment_; }
  // Replaces the comment; FileCommentLength follows its length (0 for none).
  void SetFileComment(std::optional<std::string> comment);

  void Assign(const TZipHeaderInfo& other);

  // Reads one central record at the stream's position. On failure the stream
  // is back where it was. nextDisk (may be empty) is called when the stream
  // ends inside the fixed part of the record; it replaces *stream.
  bool ReadCentral(TStream*& stream, const TNextDiskCallback& nextDisk = {});
  // Reads one local header; the stream then stands right after the name.
  bool ReadLocal(TStream& stream);
  // Writes the 46-byte record, the stored name and the loaded comment; false
  // on a short write.
  bool WriteCentral(TStream& stream) const;
  // Sets LocalHeaderOffset to the position and writes the 30-byte header and
  // the stored name.
  bool WriteLocal(TStream& stream);

  bool IsEncrypted() const { return GeneralPurposeFlags & kFlagEncrypted; }
  // Method 99 with a usable AES extra field.
  bool IsAes() const;
  // Takes what the engine uses from an extra field (central or local).
  void ParseExtraField(const uint8_t* data, size_t size);
  bool HasDataDescriptor() const { return GeneralPurposeFlags & kFlagDataDescriptor; }
  bool HasComment() const { return FileCommentLength > 0; }
  uint32_t LocalSize() const { return 30u + FilenameLength + LocalExtraLength; }
  uint32_t CentralSize() const {
    return 46u + FilenameLength + CentralExtraLength + FileCommentLength;
  }

 private:
  // The flags as written: bit 11 added when the name is not plain ASCII, so
  // that readers take it as UTF-8.
  uint16_t StoredFlags() const;

  std::string filename_;
  std::string directory_;
  std::optional<std::string> comment_;
};

class TEndCentral {
 public:
  TEndCentral() = default;
  TEndCentral(const TEndCentral& other) { Assign(other); }
  TEndCentral& operator=(const TEndCentral& other) {
    Assign(other);
    return *this;
  }

  uint32_t Signature = 0x06054B50;
  uint16_t ThisDisk = 0;
  uint16_t CentralDirDisk = 0;
  uint16_t EntriesThisDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t CentralDirSize = 0;
  uint32_t CentralDirOffset = 0;
  uint16_t ZipCommentLength = 0;
  int64_t ZipCommentPos = 0;  // file offset of the comment
  uint8_t Modified = 0;

  const std::optional<std::string>& ZipComment() const { return comment_; }
  // Replaces the comment and sets ZipCommentLength (Modified is the caller's).
  void SetZipComment(std::optional<std::string> comment);

  void Reset();
  void Assign(const TEndCentral& other);
  // The backward scan for the end record over the last 65557 bytes.
  bool Find(TStream& stream);
  bool Write(TStream& stream) const;
  uint32_t Size() const { return 22u + ZipCommentLength; }

 private:
  std::optional<std::string> comment_;
};

}  // namespace vantrel::zip
