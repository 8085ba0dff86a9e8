// entry_encryptor.h - encryption of one entry as the archive writer writes it.
//
// The writer puts Header() before the entry's (compressed) data, passes every
// data byte through Encrypt, and puts Trailer() after it:
//
//   * traditional encryption: a 12-byte header of random bytes whose last
//     byte is the check byte (the writer marks the entry with flag bit 3 and
//     uses the high byte of the DOS time, so the header can be written before
//     the CRC is known); no trailer;
//   * AES-256 in the WinZip AE-2 layout: the 16-byte random salt and the
//     2-byte password verifier; the trailer is the 10-byte authentication
//     code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "zip/crypto/winzip_aes.h"
#include "zip/crypto/zipcrypt.h"

namespace vantrel::zip {

enum class TZipEncryption { None, ZipCrypto, Aes256 };

class TEntryEncryptor {
 public:
  // Derives the keys and makes the header. False when the system's random
  // source or the crypto library fails.
  bool Begin(TZipEncryption kind, std::string_view password, uint8_t checkByte);

  const std::vector<uint8_t>& Header() const { return header_; }
  void Encrypt(uint8_t* data, size_t n);
  std::vector<uint8_t> Trailer();
  // Header and trailer together: what encryption adds to the compressed size.
  size_t Overhead() const;

 private:
  TZipEncryption kind_ = TZipEncryption::None;
  std::vector<uint8_t> header_;
  TZipCrypt zipCrypt_;
  std::unique_ptr<TAesCipher> aes_;
};

}  // namespace vantrel::zip
