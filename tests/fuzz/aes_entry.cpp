// aes_entry.cpp - fuzz target: one AES entry (method 99 with its 0x9901
// field) tested through the reader with the password "pw".
//
// Input: a control byte, a 2-byte declared size, a 4-byte CRC, then the
// payload.
//   bits 0-1  key strength (0 is invalid)     bit 2  AE-1 instead of AE-2
//   bit 3     the payload is the plain compressed data: it is encrypted here
//             with the right keys, so the decoders behind the AES layer see
//             the fuzzer's bytes; otherwise it is the entry's raw data
//             (salt, verifier, encrypted data, authentication code)
//   bit 4     with bit 3: one byte of the authentication code is changed
//   bits 5-7  the method inside: stored, deflate, bzip2, LZMA, Zstandard,
//             XZ, PPMd, implode
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "zip/crypto/winzip_aes.h"
#include "zip/zip_reader.h"

namespace {

struct OutputCap {};

void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v);
  s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, static_cast<uint16_t>(v));
  Put16(s, static_cast<uint16_t>(v >> 16));
}

// A one-entry archive: local header, data, central header, end record.
std::string Archive(const std::string& data, uint16_t aeVersion, uint8_t strength,
                    uint16_t method, uint32_t crc, uint32_t size) {
  uint8_t extra[vantrel::zip::kAesExtraFieldSize];
  vantrel::zip::PutAesExtraField(extra, aeVersion, strength, method);
  const std::string ex(reinterpret_cast<const char*>(extra), sizeof extra);
  const std::string name = "f";
  std::string local, central, end;
  Put32(local, 0x04034B50);
  Put16(local, 51);
  Put16(local, 1);
  Put16(local, 99);
  Put32(local, 0x58210000);
  Put32(local, crc);
  Put32(local, static_cast<uint32_t>(data.size()));
  Put32(local, size);
  Put16(local, 1);
  Put16(local, static_cast<uint16_t>(ex.size()));
  local += name + ex;
  Put32(central, 0x02014B50);
  Put16(central, 51);
  Put16(central, 51);
  Put16(central, 1);
  Put16(central, 99);
  Put32(central, 0x58210000);
  Put32(central, crc);
  Put32(central, static_cast<uint32_t>(data.size()));
  Put32(central, size);
  Put16(central, 1);
  Put16(central, static_cast<uint16_t>(ex.size()));
  for (int i = 0; i < 4; ++i) Put16(central, 0);
  Put32(central, 0);
  Put32(central, 0);
  central += name + ex;
  Put32(end, 0x06054B50);
  Put32(end, 0);
  Put16(end, 1);
  Put16(end, 1);
  Put32(end, static_cast<uint32_t>(central.size()));
  Put32(end, static_cast<uint32_t>(local.size() + data.size()));
  Put16(end, 0);
  return local + data + central + end;
}

int MemoryFile() {
  static int fd = ::memfd_create("aes-entry-fuzz", 0);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel::zip;
  if (size < 7) return 0;
  static const uint16_t kMethods[8] = {0, 8, 12, 14, 93, 95, 98, 6};
  const uint8_t control = data[0];
  const uint8_t strength = control & 3;
  const uint16_t version = control & 4 ? 1 : 2;
  const uint16_t method = kMethods[control >> 5];
  const uint32_t declared = static_cast<uint32_t>(data[1] | data[2] << 8);
  const uint32_t crc = static_cast<uint32_t>(data[3] | data[4] << 8 | data[5] << 16) |
                       static_cast<uint32_t>(data[6]) << 24;
  std::string payload(reinterpret_cast<const char*>(data + 7), size - 7);

  if ((control & 8) && AesSaltSize(strength)) {
    // salt | verifier | encrypted payload | code
    std::string salt(AesSaltSize(strength), '\x11');
    uint8_t verifier[kAesVerifierSize];
    TAesCipher cipher;
    if (!cipher.Init("pw", strength, reinterpret_cast<const uint8_t*>(salt.data()), verifier))
      return 0;
    cipher.Encrypt(reinterpret_cast<uint8_t*>(payload.data()), payload.size());
    uint8_t mac[kAesMacSize];
    cipher.Finish(mac);
    if (control & 16) mac[payload.size() % kAesMacSize] ^= 0x01;
    payload = salt + std::string(reinterpret_cast<const char*>(verifier), sizeof verifier) +
              payload + std::string(reinterpret_cast<const char*>(mac), sizeof mac);
  }
  const std::string zip = Archive(payload, version, strength, method, crc, declared);

  const int fd = MemoryFile();
  if (fd < 0 || ::ftruncate(fd, 0) != 0) return 0;
  if (::pwrite(fd, zip.data(), zip.size(), 0) != static_cast<ssize_t>(zip.size())) return 0;
  TZipReader r;
  r.DoAll = true;
  r.TestOnly = true;
  r.Password = "pw";
  int blocks = 0;
  r.OnFilePercentDone = [&](TZipReader*, int) {
    if (++blocks > 256) throw OutputCap();
  };
  try {
    r.SetZipName("/proc/self/fd/" + std::to_string(fd));
    r.UnZip();
  } catch (const EZipError&) {
  } catch (const OutputCap&) {
  }
  return 0;
}
