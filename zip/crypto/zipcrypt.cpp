// zipcrypt.cpp - the traditional PKWARE stream cipher.
//
// Three 32-bit keys start at fixed values and are stirred by every plaintext
// byte; the key stream byte comes from the third key. The same key update
// serves both directions, always fed with the plaintext byte.
#include "zip/crypto/zipcrypt.h"

#include "zip/codec/crc32.h"

namespace vantrel::zip {

TZipCrypt::TZipCrypt(std::string_view password) { Init(password); }

void TZipCrypt::Init(std::string_view password) {
  key0_ = 0x12345678u;
  key1_ = 0x23456789u;
  key2_ = 0x34567890u;
  for (char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

uint8_t TZipCrypt::KeyStreamByte() const {
  const uint32_t temp = (key2_ | 2u) & 0xFFFFu;
  return static_cast<uint8_t>((temp * (temp ^ 1u)) >> 8);
}

void TZipCrypt::UpdateKeys(uint8_t plain) {
  key0_ = Crc32Byte(key0_, plain);
  key1_ = (key1_ + (key0_ & 0xFFu)) * 134775813u + 1u;
  key2_ = Crc32Byte(key2_, static_cast<uint8_t>(key1_ >> 24));
}

uint8_t TZipCrypt::DecryptByte(uint8_t c) {
  const uint8_t p = c ^ KeyStreamByte();
  UpdateKeys(p);
  return p;
}

uint8_t TZipCrypt::EncryptByte(uint8_t p) {
  const uint8_t c = p ^ KeyStreamByte();
  UpdateKeys(p);
  return c;
}

void TZipCrypt::Decrypt(uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) data[i] = DecryptByte(data[i]);
}

void TZipCrypt::Encrypt(uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) data[i] = EncryptByte(data[i]);
}

}  // namespace vantrel::zip
