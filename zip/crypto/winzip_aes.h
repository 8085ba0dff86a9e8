// winzip_aes.h - AES encryption of ZIP entries in the WinZip AES layout.
//
// An AES entry has compression method 99 and an extra field 0x9901 (vendor
// version 1 = AE-1 or 2 = AE-2, the letters "AE", the key strength 1/2/3 for
// 128/192/256-bit keys, and the real compression method). Its data are:
//
//   salt (8, 12 or 16 bytes) | password verifier (2) | encrypted data | MAC (10)
//
// The keys come from PBKDF2-HMAC-SHA1 over the password and the salt with
// 1000 iterations: the AES key, the HMAC key (both of the key size) and the
// 2-byte verifier, in that order. The data are encrypted with AES in counter
// mode whose 16-byte counter is a little-endian number starting at 1; the
// MAC is the first 10 bytes of HMAC-SHA1 over the encrypted data. AE-2
// entries store 0 as CRC-32 and rely on the MAC alone.
//
// The AES block function, PBKDF2 and HMAC-SHA1 are OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vantrel::zip {

inline constexpr uint16_t kMethodAes = 99;
inline constexpr uint16_t kExtraAes = 0x9901;
inline constexpr size_t kAesExtraDataSize = 7;
inline constexpr size_t kAesVerifierSize = 2;
inline constexpr size_t kAesMacSize = 10;
inline constexpr int kAesStrength256 = 3;

// The whole extra field (id, length, data) of an AES entry.
inline constexpr size_t kAesExtraFieldSize = 4 + kAesExtraDataSize;
inline void PutAesExtraField(uint8_t* p, uint16_t version, uint8_t strength, uint16_t method) {
  const uint8_t field[kAesExtraFieldSize] = {
      0x01, 0x99, kAesExtraDataSize, 0, static_cast<uint8_t>(version), static_cast<uint8_t>(version >> 8),
      'A',  'E',  strength,          static_cast<uint8_t>(method), static_cast<uint8_t>(method >> 8)};
  for (size_t i = 0; i < kAesExtraFieldSize; ++i) p[i] = field[i];
}

// Salt length for strength 1, 2, 3; 0 for any other value.
size_t AesSaltSize(int strength);
// Bytes an AES entry adds to its compressed data (salt, verifier, MAC).
inline size_t AesOverhead(int strength) {
  return AesSaltSize(strength) + kAesVerifierSize + kAesMacSize;
}

// Fills buf with n bytes from the system's cryptographic random source;
// false when it cannot.
bool CryptoRandom(uint8_t* buf, size_t n);

class TAesCipher {
 public:
  TAesCipher();
  ~TAesCipher();
  TAesCipher(const TAesCipher&) = delete;
  TAesCipher& operator=(const TAesCipher&) = delete;

  // Derives the keys from the password and the salt (AesSaltSize(strength)
  // bytes) and stores the password verifier. False for an unknown strength
  // or when the library fails.
  bool Init(std::string_view password, int strength, const uint8_t* salt,
            uint8_t verifier[kAesVerifierSize]);

  // Authenticates then decrypts n bytes in place, continuing the stream.
  void Decrypt(uint8_t* data, size_t n);
  // Encrypts then authenticates n bytes in place, continuing the stream.
  void Encrypt(uint8_t* data, size_t n);
  // The authentication code of every byte so far. Ends the stream.
  void Finish(uint8_t mac[kAesMacSize]);
  // Compares Finish's code with the stored one in constant time.
  bool Verify(const uint8_t storedMac[kAesMacSize]);

 private:
  void ApplyKeyStream(uint8_t* data, size_t n);
  struct TState;
  std::unique_ptr<TState> s_;
};

}  // namespace vantrel::zip
