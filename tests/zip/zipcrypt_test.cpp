// Traditional encryption: known decryption vectors (from an independent
// implementation), the round trip, key state carried across calls, and the
// check byte of a header made here.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "zip/codec/crc32.h"
#include "zip/crypto/zipcrypt.h"

namespace vantrel::zip {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(i);
  return d;
}

// Bytes 0..31 decrypted with three passwords by CPython's zipfile decrypter.
TEST(ZipCryptTest, KnownDecryptionVectors) {
  const struct {
    const char* password;
    const char* expect;
  } vectors[] = {
      {"secret", "c84ed9bdad8b91daa848363543fb3393fa31a885cf176e8c009a441a83c1fd47"},
      {"", "abda457db672ba2dadf6e40828c568e8ba9bad37210f0423be7dfe80fbd3df8e"},
      {"Correct Horse 1989!", "913b20d28cf2fba7086262a3aa51e49aa7b0c71366688b1ca376460c93423590"},
  };
  for (const auto& v : vectors) {
    std::vector<uint8_t> data = Counting(32);
    TZipCrypt crypt(v.password);
    crypt.Decrypt(data.data(), data.size());
    EXPECT_EQ(data, FromHex(v.expect)) << "password '" << v.password << "'";
  }
}

TEST(ZipCryptTest, EncryptThenDecryptRestoresTheData) {
  std::mt19937 rng(3);
  std::vector<uint8_t> plain(5000);
  for (auto& b : plain) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> data = plain;
  TZipCrypt enc("pässwörd");
  enc.Encrypt(data.data(), data.size());
  EXPECT_NE(data, plain);
  std::vector<uint8_t> copy = data;
  TZipCrypt dec("pässwörd");
  dec.Decrypt(data.data(), data.size());
  EXPECT_EQ(data, plain);
  TZipCrypt wrong("passwörd");
  wrong.Decrypt(copy.data(), copy.size());
  EXPECT_NE(copy, plain);
}

TEST(ZipCryptTest, KeyStateContinuesAcrossCallsAndInitResets) {
  std::vector<uint8_t> whole = Counting(1000);
  TZipCrypt a("k");
  a.Decrypt(whole.data(), whole.size());

  std::vector<uint8_t> pieces = Counting(1000);
  TZipCrypt b("k");
  b.Decrypt(pieces.data(), 12);
  for (size_t i = 12; i < 500; ++i) pieces[i] = b.DecryptByte(pieces[i]);
  b.Decrypt(pieces.data() + 500, 500);
  EXPECT_EQ(pieces, whole);

  // Init starts over with a new password as if freshly made.
  std::vector<uint8_t> again = Counting(1000);
  b.Init("k");
  b.Decrypt(again.data(), again.size());
  EXPECT_EQ(again, whole);
}

// An encryption header as a writer makes it: 11 random bytes and the CRC's
// high byte, encrypted; the reader's check decrypts it back.
TEST(ZipCryptTest, HeaderCheckByteRoundTrip) {
  const uint32_t crc = 0x4F618664;
  std::vector<uint8_t> header = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, static_cast<uint8_t>(crc >> 24)};
  TZipCrypt enc("secret");
  enc.Encrypt(header.data(), header.size());
  TZipCrypt dec("secret");
  dec.Decrypt(header.data(), header.size());
  EXPECT_EQ(header[11], 0x4F);
  EXPECT_EQ(header[0], 1);
}

}  // namespace
}  // namespace vantrel::zip
