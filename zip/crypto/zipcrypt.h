// zipcrypt.h - the traditional PKWARE encryption (decryption and encryption).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel::zip {

class TZipCrypt {
 public:
  // Initialises the three keys from the password's bytes, in order. An empty
  // password leaves the initial keys.
  explicit TZipCrypt(std::string_view password = {});
  void Init(std::string_view password);

  // Decrypts n bytes in place, continuing the key state.
  void Decrypt(uint8_t* data, size_t n);
  // Encrypts n bytes in place, continuing the key state.
  void Encrypt(uint8_t* data, size_t n);

  uint8_t DecryptByte(uint8_t c);
  uint8_t EncryptByte(uint8_t p);

 private:
  uint8_t KeyStreamByte() const;
  void UpdateKeys(uint8_t plain);
  uint32_t key0_, key1_, key2_;
};

}  // namespace vantrel::zip
