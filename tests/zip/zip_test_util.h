// zip_test_util.h - builds small ZIP archives in memory for the reader tests,
// so that each test can shape exactly the records it is about.
#pragma once

#include <zlib.h>

#include <cstdint>
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

inline void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
inline void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Local headers with data, central directory, end record (and comment).
inline std::string BuildZip(const std::vector<TEntrySpec>& entries,
                            const std::string& archiveComment = "",
                            const std::string& prefix = "") {
  std::string out = prefix, central;
  for (const TEntrySpec& e : entries) {
    uint32_t crc = e.crc ? *e.crc : ZCrc(e.data);
    uint32_t usize = e.usize ? *e.usize : static_cast<uint32_t>(e.data.size());
    std::string body = e.method == 8 && !e.rawBody ? RawDeflate(e.data) : e.data;
    uint16_t flags = e.flags;
    if (e.writeDescriptor) flags |= 0x0008;
    if (!e.password.empty()) {
      flags |= 0x0001;
      std::string header(12, '\x5A');
      header[11] = static_cast<char>(e.writeDescriptor ? (e.dosDateTime >> 8) & 0xFF : crc >> 24);
      TZipCrypt crypt(e.password);
      std::string all = header + body;
      crypt.Encrypt(reinterpret_cast<uint8_t*>(all.data()), all.size());
      body = all;
    }
    uint32_t offset = static_cast<uint32_t>(out.size() - prefix.size());
    std::string local;
    Put32(local, 0x04034B50);
    Put16(local, 20);
    Put16(local, flags);
    Put16(local, e.method);
    Put32(local, e.dosDateTime);
    Put32(local, e.writeDescriptor ? 0 : crc);
    Put32(local, e.writeDescriptor ? 0 : static_cast<uint32_t>(body.size()));
    Put32(local, e.writeDescriptor ? 0 : usize);
    Put16(local, static_cast<uint16_t>(e.name.size()));
    Put16(local, static_cast<uint16_t>(e.localExtra.size()));
    out += local + e.name + e.localExtra + body;
    if (e.writeDescriptor) {
      Put32(out, 0x08074B50);
      Put32(out, crc);
      Put32(out, static_cast<uint32_t>(body.size()));
      Put32(out, usize);
    }
    Put32(central, 0x02014B50);
    Put16(central, e.versionMadeBy);
    Put16(central, 20);
    Put16(central, flags);
    Put16(central, e.method);
    Put32(central, e.dosDateTime);
    Put32(central, crc);
    Put32(central, static_cast<uint32_t>(body.size()));
    Put32(central, usize);
    Put16(central, static_cast<uint16_t>(e.name.size()));
    Put16(central, static_cast<uint16_t>(e.centralExtra.size()));
    Put16(central, static_cast<uint16_t>(e.comment.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, e.external);
    Put32(central, offset);
    central += e.name + e.centralExtra + e.comment;
  }
  uint32_t cdOffset = static_cast<uint32_t>(out.size() - prefix.size());
  out += central;
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint16_t>(entries.size()));
  Put16(out, static_cast<uint16_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(central.size()));
  Put32(out, cdOffset);
  Put16(out, static_cast<uint16_t>(archiveComment.size()));
  out += archiveComment;
  return out;
}

}  // namespace vantrel::zip::testing
