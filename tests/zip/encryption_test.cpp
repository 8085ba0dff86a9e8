// Encryption. AES entries: the cipher against entries written by 7-Zip (one
// per key size), chunking that does not change the result, the password
// verifier, authentication codes that catch any change, and unknown key
// sizes. Traditional encryption: known decryption vectors (from an
// independent implementation), the round trip and the key state carried
// across calls.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "zip/crypto/winzip_aes.h"
#include "zip/crypto/zipcrypt.h"

namespace vantrel::zip {
namespace {

using TBytes = std::vector<uint8_t>;

TBytes Hex(const std::string& h) {
  TBytes b;
  for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return b;
}

// The data of a stored entry written by "7zz a -tzip -mem=AESn -mm=Copy -pSecret":
// salt, verifier, encrypted bytes, authentication code.
TEST(WinZipAesTest, DecryptsAndAuthenticatesEntriesOfEveryKeySize) {
  const std::string plain = "Vantrel AES known answer: the quick brown fox jumps over the lazy dog.\n";
  const char* const known[] = {
      "3a2aacafe6bae28d1407cdb1ca518f1639f3c32b58040788c0e8050c15153446ffdb212de3afc72d7059740858"
      "477226794eb57ca48e0a52c72c4317c6e347a3bc0d028e16c3ce4bc3ee5ef58a855953ea3e731042d38af6ffe223",
      "1dfd3925b435be376ce47243365e3f1ea18ef8ec49576685c70c3fcbdabcf7dbdb42f11234a30f160f6f547444"
      "5eeeb6e859f5075092fbfdb72d2fafebe32104346386767d3a366995c079cebbad784762d2d9149a18fcfc58563d2131d5b8",
      "3bdbebfebb9276250eafc0fa187b538b843d2fa9767d9d2bb2e7bb84589ee63680298d458a2db6d2d1f9a6c810cd"
      "19a2498fde0c8ca6cab1e0178b6ecdf57d52cd99f34886b8c6e355eb5f282885d4134fc14618b5903b906a0c17c3b7cef6d562b5c2",
  };
  for (int strength = 1; strength <= 3; ++strength) {
    SCOPED_TRACE(strength);
    const TBytes raw = Hex(known[strength - 1]);
    const long salt = static_cast<long>(AesSaltSize(strength));
    ASSERT_EQ(raw.size(), AesOverhead(strength) + plain.size());
    const uint8_t* mac = raw.data() + raw.size() - kAesMacSize;
    uint8_t verifier[kAesVerifierSize], other[kAesVerifierSize];
    // A wrong password gives another verifier (for this salt), and one
    // changed ciphertext bit fails the authentication.
    TAesCipher wrong;
    ASSERT_TRUE(wrong.Init("secret", strength, raw.data(), other));
    for (int flip : {0, 0x10}) {
      TAesCipher c;
      ASSERT_TRUE(c.Init("Secret", strength, raw.data(), verifier));
      EXPECT_TRUE(std::equal(verifier, verifier + 2, raw.begin() + salt));
      EXPECT_FALSE(std::equal(other, other + 2, verifier));
      TBytes data(raw.begin() + salt + 2, raw.end() - kAesMacSize);
      data[5] ^= static_cast<uint8_t>(flip);
      c.Decrypt(data.data(), data.size());
      EXPECT_EQ(c.Verify(mac), flip == 0);
      EXPECT_TRUE(flip || std::string(data.begin(), data.end()) == plain);
    }
  }
  // Unknown key sizes are refused.
  uint8_t salt[16] = {}, v[2];
  for (int strength : {0, 4, 255}) {
    TAesCipher c;
    EXPECT_EQ(AesSaltSize(strength), 0u);
    EXPECT_FALSE(c.Init("pw", strength, salt, v)) << strength;
    EXPECT_FALSE(c.Verify(salt)) << strength;
  }
}

TEST(WinZipAesTest, ChunkingDoesNotChangeCipherTextOrCode) {
  std::mt19937 rng(5);
  TBytes plain(70000);
  for (auto& b : plain) b = static_cast<uint8_t>(rng());
  const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  for (int strength = 1; strength <= 3; ++strength) {
    uint8_t v[2], mac[kAesMacSize];
    TAesCipher whole;
    ASSERT_TRUE(whole.Init("pw", strength, salt, v));
    TBytes expect = plain;
    whole.Encrypt(expect.data(), expect.size());
    whole.Finish(mac);
    for (size_t piece : {1, 15, 16, 17, 4095, 4097, 32768}) {
      TAesCipher enc, dec;
      ASSERT_TRUE(enc.Init("pw", strength, salt, v) && dec.Init("pw", strength, salt, v));
      TBytes data = plain;
      for (size_t at = 0; at < data.size(); at += piece) enc.Encrypt(data.data() + at, std::min(piece, data.size() - at));
      ASSERT_TRUE(data == expect) << strength << "/" << piece;
      for (size_t at = 0; at < data.size(); at += piece) dec.Decrypt(data.data() + at, std::min(piece, data.size() - at));
      EXPECT_TRUE(data == plain && dec.Verify(mac)) << strength << "/" << piece;
    }
  }
}

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> d(n);
  std::iota(d.begin(), d.end(), uint8_t{0});
  return d;
}

// Bytes 0..31 decrypted with three passwords by CPython's zipfile decrypter.
TEST(ZipCryptTest, KnownVectorsAndRoundTripAcrossPieces) {
  const std::pair<const char*, const char*> vectors[] = {
      {"secret", "c84ed9bdad8b91daa848363543fb3393fa31a885cf176e8c009a441a83c1fd47"},
      {"", "abda457db672ba2dadf6e40828c568e8ba9bad37210f0423be7dfe80fbd3df8e"},
      {"Correct Horse 1989!", "913b20d28cf2fba7086262a3aa51e49aa7b0c71366688b1ca376460c93423590"},
  };
  for (const auto& [password, expect] : vectors) {
    std::vector<uint8_t> data = Counting(32);
    TZipCrypt(password).Decrypt(data.data(), data.size());
    EXPECT_EQ(data, Hex(expect)) << "password '" << password << "'";
  }
  // The key state carries across calls of any size, Init starts over, and
  // only the right password decrypts what Encrypt made.
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
