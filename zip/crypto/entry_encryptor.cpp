// entry_encryptor.cpp - encryption of one entry as the archive writer writes it.
#include "zip/crypto/entry_encryptor.h"

namespace vantrel::zip {

bool TEntryEncryptor::Begin(TZipEncryption kind, std::string_view password, uint8_t checkByte) {
  kind_ = kind;
  header_.clear();
  aes_.reset();
  switch (kind) {
    case TZipEncryption::None:
      return true;
    case TZipEncryption::ZipCrypto: {
      header_.resize(12);
      if (!CryptoRandom(header_.data(), 11)) return false;
      header_[11] = checkByte;
      zipCrypt_.Init(password);
      zipCrypt_.Encrypt(header_.data(), header_.size());
      return true;
    }
    case TZipEncryption::Aes256: {
      const size_t salt = AesSaltSize(kAesStrength256);
      header_.resize(salt + kAesVerifierSize);
      aes_ = std::make_unique<TAesCipher>();
      return CryptoRandom(header_.data(), salt) &&
             aes_->Init(password, kAesStrength256, header_.data(), header_.data() + salt);
    }
  }
  return false;
}

void TEntryEncryptor::Encrypt(uint8_t* data, size_t n) {
  if (kind_ == TZipEncryption::ZipCrypto) zipCrypt_.Encrypt(data, n);
  if (aes_) aes_->Encrypt(data, n);
}

std::vector<uint8_t> TEntryEncryptor::Trailer() {
  if (!aes_) return {};
  std::vector<uint8_t> mac(kAesMacSize);
  aes_->Finish(mac.data());
  return mac;
}

size_t TEntryEncryptor::Overhead() const {
  return header_.size() + (kind_ == TZipEncryption::Aes256 ? kAesMacSize : 0);
}

}  // namespace vantrel::zip
