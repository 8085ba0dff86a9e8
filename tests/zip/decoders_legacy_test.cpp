// The legacy decoders (unshrink, unreduce, explode) and inflate over real and
// generated archives: every entry listed in the fixtures' MANIFEST.tsv is
// pulled out of its archive, decrypted with its password when it is
// encrypted, decoded, and checked against the recorded size and CRC-32.
// Corrupt and truncated legacy streams must end cleanly.
#include <algorithm>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "tests/zip/decoders_support.h"
#include "zip/codec/crc32.h"
#include "zip/crypto/zipcrypt.h"

namespace vantrel::zip {
namespace {

using testing::NewBuffers;
using testing::TBytes;
using testing::TMemInput;
using testing::TMemOutput;
using testing::TRawEntry;

struct TManifestRow {
  std::string path, password, entry, method;
  uint64_t size = 0, csize = 0;
  uint32_t crc = 0;
};

std::string LegacyDir() { return testing::FixturesRoot() + "/legacy"; }

std::vector<TManifestRow> ReadManifest() {
  std::vector<TManifestRow> rows;
  std::ifstream f(LegacyDir() + "/MANIFEST.tsv");
  std::string line;
  std::getline(f, line);  // header
  while (std::getline(f, line)) {
    std::vector<std::string> col;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, '\t')) col.push_back(c);
    if (col.size() < 7) continue;
    TManifestRow r;
    r.path = col[0];
    r.password = col[1];
    r.entry = col[2];
    r.method = col[3];
    r.size = std::stoull(col[4]);
    r.csize = std::stoull(col[5]);
    r.crc = static_cast<uint32_t>(std::stoul(col[6], nullptr, 16));
    rows.push_back(r);
  }
  return rows;
}

// Decodes one entry's data (already decrypted) with the decoder its method
// names; stored data are copied as the extraction loop would.
TDecodeResult Decode(const TRawEntry& e, const TBytes& data, TBytes* out, size_t block = kBlockSize) {
  auto buf = NewBuffers();
  TMemInput in(data, block);
  TMemOutput sink;
  TDecodeResult r = TDecodeResult::DataError;
  switch (e.method) {
    case 0:
      sink.Write(data.data(), 0);  // nothing to decode
      *out = data;
      return data.size() == e.size ? TDecodeResult::Ok : TDecodeResult::DataError;
    case 1: r = Unshrink(in, sink, *buf, e.size); break;
    case 2: case 3: case 4: case 5: r = Unreduce(in, sink, *buf, e.method - 1, e.size); break;
    case 6:
      r = Explode(in, sink, *buf, (e.flags & 2) != 0, (e.flags & 4) != 0, e.compressedSize, e.size);
      break;
    case 8: r = Inflate(in, sink, *buf); break;
    default: break;
  }
  EXPECT_FALSE(sink.badBlock);
  *out = sink.data();
  return r;
}

// Removes and checks the 12-byte encryption header; false on a wrong password.
bool Decrypt(const TRawEntry& e, const std::string& password, TBytes* data) {
  if (data->size() < 12) return false;
  TZipCrypt crypt(password);
  crypt.Decrypt(data->data(), data->size());
  const uint8_t check = (e.flags & 8) ? static_cast<uint8_t>(e.modTime >> 8)
                                      : static_cast<uint8_t>(e.crc >> 24);
  if ((*data)[11] != check) return false;
  data->erase(data->begin(), data->begin() + 12);
  return true;
}

const TRawEntry* FindEntry(const std::vector<TRawEntry>& entries, const TManifestRow& row) {
  for (const auto& e : entries)
    if (e.name == row.entry) return &e;
  // Names in other code pages: fall back to the recorded sizes and CRC.
  for (const auto& e : entries)
    if (e.size == row.size && e.compressedSize == row.csize && e.crc == row.crc) return &e;
  return nullptr;
}

class LegacyFixtures : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(LegacyDir() + "/MANIFEST.tsv")) GTEST_SKIP() << "no fixtures";
    rows_ = ReadManifest();
  }
  const std::vector<TRawEntry>& Archive(const std::string& path) {
    auto it = archives_.find(path);
    if (it == archives_.end())
      it = archives_.emplace(path, testing::ReadArchiveEntries(testing::ReadAll(LegacyDir() + "/" + path)))
               .first;
    return it->second;
  }
  std::vector<TManifestRow> rows_;
  std::map<std::string, std::vector<TRawEntry>> archives_;
};

TEST_F(LegacyFixtures, EveryManifestEntryDecodesToItsSizeAndCrc) {
  std::map<int, int> perMethod;
  int encrypted = 0;
  for (const auto& row : rows_) {
    SCOPED_TRACE(row.path + " : " + row.entry + " (" + row.method + ")");
    const TRawEntry* e = FindEntry(Archive(row.path), row);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->size, row.size);
    TBytes data = e->data;
    if (e->flags & 1) {
      ASSERT_FALSE(row.password.empty());
      ASSERT_TRUE(Decrypt(*e, row.password, &data)) << "password check byte";
      ++encrypted;
    }
    TBytes out;
    EXPECT_EQ(Decode(*e, data, &out), TDecodeResult::Ok);
    EXPECT_EQ(out.size(), row.size);
    EXPECT_EQ(Crc32(out.data(), out.size()), row.crc);
    ++perMethod[e->method];
  }
  // Every method is covered, encrypted entries included.
  for (int m : {0, 1, 2, 3, 4, 5, 6, 8}) EXPECT_GT(perMethod[m], 0) << "method " << m;
  EXPECT_GT(encrypted, 40);
}

TEST_F(LegacyFixtures, TinyInputBlocksGiveTheSameOutput) {
  for (const std::string path : {"generated/hw_shrink.zip", "generated/hw_reduce3.zip",
                                 "generated/hw_implode4k3.zip", "generated/hw_implode8k2.zip",
                                 "sharpcompress/Zip.implode.zip"}) {
    for (const auto& e : Archive(path)) {
      if (e.method == 0 || e.size > 60000) continue;
      TBytes whole, tiny;
      ASSERT_EQ(Decode(e, e.data, &whole), TDecodeResult::Ok) << path << " " << e.name;
      ASSERT_EQ(Decode(e, e.data, &tiny, 3), TDecodeResult::Ok) << path << " " << e.name;
      EXPECT_TRUE(whole == tiny) << path << " " << e.name;
      EXPECT_EQ(Crc32(tiny.data(), tiny.size()), e.crc);
    }
  }
}

TEST_F(LegacyFixtures, WrongPasswordFailsTheCheckOrTheCrc) {
  int rejectedByCheck = 0, total = 0;
  for (const auto& row : rows_) {
    if (row.password.empty()) continue;
    const TRawEntry* e = FindEntry(Archive(row.path), row);
    ASSERT_NE(e, nullptr);
    if (!(e->flags & 1)) continue;
    ++total;
    TBytes data = e->data;
    if (!Decrypt(*e, row.password + "x", &data)) {
      ++rejectedByCheck;
      continue;
    }
    // One in 256 wrong passwords passes the check byte; the data then fail.
    TBytes out;
    Decode(*e, data, &out);
    EXPECT_FALSE(out.size() == row.size && Crc32(out.data(), out.size()) == row.crc) << row.entry;
  }
  EXPECT_GT(total, 40);
  EXPECT_GE(rejectedByCheck, total - 3);
}

TEST_F(LegacyFixtures, FlagBit3ChecksAgainstTheTimeNotTheCrc) {
  // Archives written from a stream carry flag bit 3; their check byte is the
  // time's high byte. At least one fixture must exercise that branch.
  int withDescriptor = 0;
  for (const auto& row : rows_) {
    if (row.password.empty()) continue;
    const TRawEntry* e = FindEntry(Archive(row.path), row);
    if (!e || !(e->flags & 1) || !(e->flags & 8)) continue;
    ++withDescriptor;
    TBytes data = e->data;
    TZipCrypt crypt(row.password);
    crypt.Decrypt(data.data(), 12);
    EXPECT_EQ(data[11], static_cast<uint8_t>(e->modTime >> 8)) << row.path << " " << row.entry;
  }
  if (withDescriptor == 0) GTEST_SKIP() << "no encrypted fixture with a data descriptor";
}

// Truncations and random damage of legacy streams: each decoder stops with Ok
// or DataError, writes at most the declared size, and never crashes.
TEST_F(LegacyFixtures, DamagedLegacyStreamsEndCleanly) {
  std::mt19937 rng(123);
  int runs = 0;
  for (const std::string path : {"generated/hw_shrink.zip", "generated/hw_reduce1.zip",
                                 "generated/hw_reduce4.zip", "generated/hw_implode4k2.zip",
                                 "generated/hw_implode8k3.zip"}) {
    for (const auto& e : Archive(path)) {
      if (e.method == 0 || e.size > 40000) continue;
      for (int round = 0; round < 30; ++round) {
        TRawEntry bad = e;
        if (round % 2 == 0) {
          bad.data.resize(rng() % bad.data.size());
        } else {
          for (int f = 0; f < 3; ++f) bad.data[rng() % bad.data.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
        }
        TBytes out;
        const TDecodeResult r = Decode(bad, bad.data, &out, 1 + rng() % 3000);
        EXPECT_TRUE(r == TDecodeResult::Ok || r == TDecodeResult::DataError);
        EXPECT_LE(out.size(), e.size);
        if (round % 2 == 0 && r == TDecodeResult::Ok) {
          // A cut stream cannot produce the whole entry... unless only padding was cut.
          EXPECT_EQ(out.size(), e.size);
        }
        ++runs;
      }
    }
  }
  EXPECT_GT(runs, 100);
}

TEST(LegacyDecoders, ZeroSizeEntriesProduceNothing) {
  auto buf = NewBuffers();
  const TBytes none;
  TMemInput in(none);
  TMemOutput out;
  EXPECT_EQ(Unshrink(in, out, *buf, 0), TDecodeResult::Ok);
  EXPECT_EQ(Unreduce(in, out, *buf, 2, 0), TDecodeResult::Ok);
  EXPECT_EQ(Explode(in, out, *buf, true, true, 0, 0), TDecodeResult::Ok);
  EXPECT_TRUE(out.data().empty());
}

TEST(LegacyDecoders, EmptyInputWithADeclaredSizeIsADataError) {
  auto buf = NewBuffers();
  const TBytes none;
  for (int which = 0; which < 3; ++which) {
    TMemInput in(none);
    TMemOutput out;
    TDecodeResult r = which == 0   ? Unshrink(in, out, *buf, 10)
                      : which == 1 ? Unreduce(in, out, *buf, 1, 10)
                                   : Explode(in, out, *buf, false, false, 0, 10);
    EXPECT_EQ(r, TDecodeResult::DataError) << which;
    EXPECT_TRUE(out.data().empty());
  }
}

TEST(LegacyDecoders, UnreduceRejectsABadFactor) {
  auto buf = NewBuffers();
  const TBytes data(100, 0);
  for (int factor : {0, 5, -1}) {
    TMemInput in(data);
    TMemOutput out;
    EXPECT_EQ(Unreduce(in, out, *buf, factor, 10), TDecodeResult::DataError);
  }
}

// Reduce streams built by hand: empty follower sets (256 six-bit zero
// counts), then every byte as 8 plain bits.
TBytes ReducePlain(std::initializer_list<uint8_t> bytes) {
  TBytes b(192 + bytes.size(), 0);  // 256 x 6 bits, then the bytes
  std::copy(bytes.begin(), bytes.end(), b.begin() + 192);
  return b;
}

std::pair<TDecodeResult, TBytes> RunUnreduce(const TBytes& data, int factor, uint64_t size) {
  auto buf = NewBuffers();
  TMemInput in(data);
  TMemOutput out;
  const TDecodeResult r = Unreduce(in, out, *buf, factor, size);
  return {r, out.data()};
}

TEST(LegacyDecoders, UnreduceEscapesMatchesAndZerosBeforeTheStart) {
  // 'a', DLE 0 (a literal 144), 'b', then a match: length 1 + 3, distance 1.
  auto [r, out] = RunUnreduce(ReducePlain({'a', 144, 0, 'b', 144, 0x01, 0}), 1, 7);
  EXPECT_EQ(r, TDecodeResult::Ok);
  EXPECT_EQ(out, (TBytes{'a', 144, 'b', 'b', 'b', 'b', 'b'}));
  // Declared one byte longer than the data give: the input runs out.
  auto [rShort, outShort] = RunUnreduce(ReducePlain({'a', 144, 0, 'b', 144, 0x01, 0}), 1, 8);
  EXPECT_EQ(rShort, TDecodeResult::DataError);
  EXPECT_EQ(outShort.size(), 7u);
  // A match reaching before the start copies zeros (never stale buffer bytes).
  auto [r2, out2] = RunUnreduce(ReducePlain({'x', 144, 0x02, 9}), 1, 6);
  EXPECT_EQ(r2, TDecodeResult::Ok);
  EXPECT_EQ(out2, (TBytes{'x', 0, 0, 0, 0, 0}));
  // Factor 4: the low 4 bits all ones take one more length byte; the high 4
  // bits are the distance's upper byte.
  auto [r3, out3] = RunUnreduce(ReducePlain({'q', 144, 0x1F, 10, 0x00}), 4, 1 + 15 + 10 + 3);
  EXPECT_EQ(r3, TDecodeResult::Ok);
  ASSERT_EQ(out3.size(), 29u);
  EXPECT_EQ(out3[0], 'q');
  // Distance 256 + 0 + 1 reaches before the start: zeros.
  EXPECT_TRUE(std::all_of(out3.begin() + 1, out3.end(), [](uint8_t b) { return b == 0; }));
}

// Shrink streams built by hand (9-bit codes, least significant bit first).
TBytes Codes9(std::initializer_list<unsigned> codes, unsigned width = 9) {
  TBytes b;
  uint64_t acc = 0;
  int n = 0;
  for (unsigned c : codes) {
    acc |= static_cast<uint64_t>(c) << n;
    n += static_cast<int>(width);
    while (n >= 8) {
      b.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      n -= 8;
    }
  }
  if (n) b.push_back(static_cast<uint8_t>(acc));
  return b;
}

std::pair<TDecodeResult, std::string> RunUnshrink(const TBytes& data, uint64_t size) {
  auto buf = NewBuffers();
  TMemInput in(data);
  TMemOutput out;
  const TDecodeResult r = Unshrink(in, out, *buf, size);
  return {r, std::string(out.data().begin(), out.data().end())};
}

TEST(LegacyDecoders, UnshrinkCodesAndTheKwKwKCase) {
  // a b 257(=ab) 259(=ab+a, defined by its own use)
  auto [r, s] = RunUnshrink(Codes9({'a', 'b', 257, 259}), 7);
  EXPECT_EQ(r, TDecodeResult::Ok);
  EXPECT_EQ(s, "ababab" "a");
  // A code that is neither defined nor the next one is corrupt.
  auto [r2, s2] = RunUnshrink(Codes9({'a', 'b', 300}), 10);
  EXPECT_EQ(r2, TDecodeResult::DataError);
  EXPECT_EQ(s2, "ab");
  // The first code must be a byte.
  EXPECT_EQ(RunUnshrink(Codes9({257}), 3).first, TDecodeResult::DataError);
  // Unknown escape, and widening past 13 bits.
  EXPECT_EQ(RunUnshrink(Codes9({'a', 256, 7, 'b'}), 2).first, TDecodeResult::DataError);
}

TEST(LegacyDecoders, UnshrinkPartialClearFreesLeavesOnly) {
  // 'a' 'b' 'c' 257 define 257=ab, 258=bc, 259=ca; none is a prefix, so the
  // partial clear frees all three. 'x' then defines 257 as the previous code
  // (257) plus 'x': a chain onto itself, which must end with DataError.
  auto [r, s] = RunUnshrink(Codes9({'a', 'b', 'c', 257, 256, 2, 'x', 257}), 10);
  EXPECT_EQ(r, TDecodeResult::DataError);  // 257 now chains through the freed 257
  // With a prefix kept alive: 'a' 'b' 257 'c' -> 257=ab, 258=ba, 259=abc
  // (prefix 257); clearing keeps 257 (it is 259's prefix) and frees 258, 259.
  auto [r2, s2] = RunUnshrink(Codes9({'a', 'b', 257, 'c', 256, 2, 'd', 257}), 8);
  EXPECT_EQ(r2, TDecodeResult::Ok);
  EXPECT_EQ(s2, "ababcdab");
}

TEST(LegacyDecoders, UnshrinkPartialClearsCostWhatTheyFree) {
  // A million partial clears, each after one new code: a clear that scanned
  // the whole code table would take minutes here.
  constexpr int kClears = 1000000;
  std::vector<unsigned> codes = {'a', 'b'};
  codes.reserve(2 + 3 * kClears);
  for (int i = 0; i < kClears; ++i) {
    codes.push_back(256);
    codes.push_back(2);
    codes.push_back('c');
  }
  TBytes data;
  uint64_t acc = 0;
  int n = 0;
  for (unsigned c : codes) {
    acc |= static_cast<uint64_t>(c) << n;
    n += 9;
    while (n >= 8) {
      data.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      n -= 8;
    }
  }
  if (n) data.push_back(static_cast<uint8_t>(acc));
  const auto t0 = std::chrono::steady_clock::now();
  auto [r, s] = RunUnshrink(data, 2 + kClears);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r, TDecodeResult::Ok);
  ASSERT_EQ(s.size(), 2u + kClears);
  EXPECT_EQ(s.substr(0, 4), "abcc");
  EXPECT_LT(secs, 30.0);
}

}  // namespace
}  // namespace vantrel::zip
