// winzip_aes.cpp - AES encryption of ZIP entries in the WinZip AES layout.
//
// The counter mode of the format counts little-endian, which no library mode
// offers; the key stream is made here by encrypting a run of counter blocks
// with AES in ECB mode (one library call for 256 blocks, so the hardware AES
// instructions stay busy) and XOR-ing it into the data.
#include "zip/crypto/winzip_aes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>

namespace vantrel::zip {

namespace {

constexpr int kIterations = 1000;
constexpr size_t kBlock = 16;
constexpr size_t kStreamBlocks = 256;

size_t KeySize(int strength) { return strength >= 1 && strength <= 3 ? 8 + 8 * strength : 0; }

}  // namespace

size_t AesSaltSize(int strength) { return KeySize(strength) / 2; }

bool CryptoRandom(uint8_t* buf, size_t n) {
  return RAND_bytes(buf, static_cast<int>(n)) == 1;
}

struct TAesCipher::TState {
  EVP_CIPHER_CTX* aes = nullptr;
  EVP_MAC* macAlgorithm = nullptr;
  EVP_MAC_CTX* mac = nullptr;
  uint64_t counterLow = 0, counterHigh = 0;  // the next counter block
  uint8_t stream[kStreamBlocks * kBlock];
  size_t used = sizeof stream;  // key-stream bytes already used
  bool finished = false;

  ~TState() {
    EVP_CIPHER_CTX_free(aes);
    EVP_MAC_CTX_free(mac);
    EVP_MAC_free(macAlgorithm);
  }

  void NextStream() {
    for (size_t i = 0; i < kStreamBlocks; ++i) {
      if (++counterLow == 0) ++counterHigh;
      uint8_t* b = stream + i * kBlock;
      for (int k = 0; k < 8; ++k) {
        b[k] = static_cast<uint8_t>(counterLow >> (8 * k));
        b[8 + k] = static_cast<uint8_t>(counterHigh >> (8 * k));
      }
    }
    int len = 0;
    EVP_EncryptUpdate(aes, stream, &len, stream, static_cast<int>(sizeof stream));
    used = 0;
  }
};

TAesCipher::TAesCipher() = default;
TAesCipher::~TAesCipher() = default;

bool TAesCipher::Init(std::string_view password, int strength, const uint8_t* salt,
                      uint8_t verifier[kAesVerifierSize]) {
  const size_t keySize = KeySize(strength);
  if (!keySize) return false;
  s_ = std::make_unique<TState>();
  uint8_t keys[2 * 32 + kAesVerifierSize];
  const size_t derived = 2 * keySize + kAesVerifierSize;
  const EVP_CIPHER* cipher = strength == 1   ? EVP_aes_128_ecb()
                             : strength == 2 ? EVP_aes_192_ecb()
                                             : EVP_aes_256_ecb();
  bool ok = PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt,
                                   static_cast<int>(AesSaltSize(strength)), kIterations,
                                   static_cast<int>(derived), keys) == 1;
  if (ok) {
    s_->aes = EVP_CIPHER_CTX_new();
    ok = s_->aes && EVP_EncryptInit_ex(s_->aes, cipher, nullptr, keys, nullptr) == 1 &&
         EVP_CIPHER_CTX_set_padding(s_->aes, 0) == 1;
  }
  if (ok) {
    s_->macAlgorithm = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    s_->mac = s_->macAlgorithm ? EVP_MAC_CTX_new(s_->macAlgorithm) : nullptr;
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    ok = s_->mac && EVP_MAC_init(s_->mac, keys + keySize, keySize, params) == 1;
  }
  std::memcpy(verifier, keys + 2 * keySize, kAesVerifierSize);
  OPENSSL_cleanse(keys, sizeof keys);
  if (!ok) s_.reset();
  return ok;
}

void TAesCipher::ApplyKeyStream(uint8_t* data, size_t n) {
  TState& s = *s_;
  while (n > 0) {
    if (s.used == sizeof s.stream) s.NextStream();
    const size_t take = std::min(n, sizeof s.stream - s.used);
    const uint8_t* k = s.stream + s.used;
    for (size_t i = 0; i < take; ++i) data[i] ^= k[i];
    s.used += take;
    data += take;
    n -= take;
  }
}

void TAesCipher::Decrypt(uint8_t* data, size_t n) {
  if (!s_ || s_->finished || n == 0) return;
  EVP_MAC_update(s_->mac, data, n);
  ApplyKeyStream(data, n);
}

void TAesCipher::Encrypt(uint8_t* data, size_t n) {
  if (!s_ || s_->finished || n == 0) return;
  ApplyKeyStream(data, n);
  EVP_MAC_update(s_->mac, data, n);
}

void TAesCipher::Finish(uint8_t mac[kAesMacSize]) {
  uint8_t full[EVP_MAX_MD_SIZE] = {};
  size_t len = 0;
  if (s_ && !s_->finished) {
    s_->finished = true;
    if (EVP_MAC_final(s_->mac, full, &len, sizeof full) != 1 || len < kAesMacSize) {
      // A code that matches nothing: the entry fails instead of passing.
      CryptoRandom(full, kAesMacSize);
    }
  }
  std::memcpy(mac, full, kAesMacSize);
}

bool TAesCipher::Verify(const uint8_t storedMac[kAesMacSize]) {
  if (!s_ || s_->finished) return false;
  uint8_t mac[kAesMacSize];
  Finish(mac);
  return CRYPTO_memcmp(mac, storedMac, kAesMacSize) == 0;
}

}  // namespace vantrel::zip
