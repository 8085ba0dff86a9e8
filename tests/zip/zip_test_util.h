// zip_test_util.h - builds small ZIP archives in memory for the reader tests,
// so that each test can shape exactly the records it is about.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "zip/zip_format.h"
#include "zip/crypto/zipcrypt.h"

namespace vantrel::zip::testing {

struct TEntrySpec {
  TEntrySpec(std::string n = {}, std::string d = {}) : name(std::move(n)), data(std::move(d)) {}
  std::string name;  // stored name bytes
  std::string data;  // uncompressed contents
  uint16_t method = 0;  // 0 stored, 8 deflated by zlib; anything else: data stored as given
  uint16_t flags = 0;
  uint32_t dosDateTime = 0x1AEF6000;  // 1993-07-15 12:00:00
  uint16_t versionMadeBy = 20;
  uint32_t external = 0x20;
  std::string centralExtra;
  std::string localExtra;
  std::string comment;
  std::string password;  // set: traditional encryption (flag bit 0)
  std::string encryptionHeader;  // its first 11 bytes (else 0x5A each)
  std::optional<uint32_t> crc;    // overrides the true CRC
  std::optional<uint32_t> usize;  // overrides the true size
  bool writeDescriptor = false;   // flag bit 3: zero sizes locally, descriptor after the data
  bool rawBody = false;           // data are the entry's stored bytes whatever the method
};

inline std::string RawDeflate(const std::string& in, int level = 6) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, in.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline uint32_t ZCrc(const std::string& s) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Appends each value little-endian in its byte width (1 to 4): {value, bytes}.
inline void PutLe(std::string& s, std::initializer_list<std::pair<uint32_t, int>> fields) {
  for (const auto& [v, n] : fields)
    for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Put16(std::string& s, uint16_t v) { PutLe(s, {{v, 2}}); }
inline void Put32(std::string& s, uint32_t v) { PutLe(s, {{v, 4}}); }

// Local headers with data, central directory, end record (and comment).
inline std::string BuildZip(const std::vector<TEntrySpec>& entries,
                            const std::string& archiveComment = "",
                            const std::string& prefix = "") {
  std::string out = prefix, central;
  for (const TEntrySpec& e : entries) {
    const uint32_t crc = e.crc ? *e.crc : ZCrc(e.data);
    const uint32_t usize = e.usize ? *e.usize : static_cast<uint32_t>(e.data.size());
    std::string body = e.method == 8 && !e.rawBody ? RawDeflate(e.data) : e.data;
    const uint16_t flags = e.flags | (e.writeDescriptor ? 0x0008 : 0) | (e.password.empty() ? 0 : 0x0001);
    if (!e.password.empty()) {
      std::string header(12, '\x5A');
      header.replace(0, std::min<size_t>(11, e.encryptionHeader.size()), e.encryptionHeader, 0, 11);
      header[11] = static_cast<char>(e.writeDescriptor ? (e.dosDateTime >> 8) & 0xFF : crc >> 24);
      body = header + body;
      TZipCrypt(e.password).Encrypt(reinterpret_cast<uint8_t*>(body.data()), body.size());
    }
    const uint32_t offset = static_cast<uint32_t>(out.size() - prefix.size());
    const uint32_t csize = static_cast<uint32_t>(body.size());
    const uint32_t nameLen = static_cast<uint32_t>(e.name.size());
    const bool dd = e.writeDescriptor;
    PutLe(out, {{0x04034B50, 4}, {20, 2}, {flags, 2}, {e.method, 2}, {e.dosDateTime, 4}, {dd ? 0 : crc, 4},
                {dd ? 0 : csize, 4}, {dd ? 0 : usize, 4}, {nameLen, 2}, {static_cast<uint32_t>(e.localExtra.size()), 2}});
    out += e.name + e.localExtra + body;
    if (dd) PutLe(out, {{0x08074B50, 4}, {crc, 4}, {csize, 4}, {usize, 4}});
    PutLe(central, {{0x02014B50, 4}, {e.versionMadeBy, 2}, {20, 2}, {flags, 2}, {e.method, 2}, {e.dosDateTime, 4},
                    {crc, 4}, {csize, 4}, {usize, 4}, {nameLen, 2}, {static_cast<uint32_t>(e.centralExtra.size()), 2},
                    {static_cast<uint32_t>(e.comment.size()), 2}, {0, 2}, {0, 2}, {e.external, 4}, {offset, 4}});
    central += e.name + e.centralExtra + e.comment;
  }
  const uint32_t count = static_cast<uint32_t>(entries.size());
  const uint32_t cdOffset = static_cast<uint32_t>(out.size() - prefix.size());
  out += central;
  PutLe(out, {{0x06054B50, 4}, {0, 2}, {0, 2}, {count, 2}, {count, 2}, {static_cast<uint32_t>(central.size()), 4},
              {cdOffset, 4}, {static_cast<uint32_t>(archiveComment.size()), 2}});
  return out + archiveComment;
}

}  // namespace vantrel::zip::testing
