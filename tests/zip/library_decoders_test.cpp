// bzip2, LZMA, XZ and Zstandard. The decoders on streams made by the
// libraries' own encoders, whole, cut and damaged. Then archives of every method and key size made by 7-Zip and by our own
// writer: they extract byte for byte; a wrong password, a changed
// authentication code and a truncated stream fail their entry without
// replacing an existing file, and the run goes on.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <lzma.h>
#include <zstd.h>

#include <functional>
#include <map>
#include <optional>

#include "tests/support/test_support.h"
#include "tests/zip/decoders_support.h"
#include "tests/zip/zip_test_util.h"
#include "zip/codec/library_decoders.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

using namespace testing;

TBytes Bzip2(const TBytes& d) {
  TBytes out(d.size() + d.size() / 100 + 600);
  unsigned len = static_cast<unsigned>(out.size());
  char none = 0;  // libbz2 refuses a null source even for no bytes
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                               d.empty() ? &none : const_cast<char*>(reinterpret_cast<const char*>(d.data())),
                               static_cast<unsigned>(d.size()), 9, 0, 0) != BZ_OK)
    throw std::runtime_error("bzip2");
  out.resize(len);
  return out;
}

TBytes Xz(const TBytes& d) {
  TBytes out(lzma_stream_buffer_bound(d.size()));
  size_t pos = 0;
  if (lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, d.data(), d.size(), out.data(), &pos, out.size()) != LZMA_OK)
    throw std::runtime_error("xz");
  out.resize(pos);
  return out;
}

// The ZIP LZMA layout: version 9.20, properties size 5, properties, then the
// raw stream with or without the end marker.
TBytes Lzma(const TBytes& d, bool endMarker) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  opt.dict_size = 1 << 16;
  opt.ext_flags = endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  TBytes out(d.size() + d.size() / 2 + 1024);
  out[0] = 9, out[1] = 20, out[2] = 5, out[3] = 0;
  size_t pos = 9;
  if (lzma_properties_encode(&filters[0], out.data() + 4) != LZMA_OK ||
      lzma_raw_buffer_encode(filters, nullptr, d.data(), d.size(), out.data(), &pos, out.size()) != LZMA_OK)
    throw std::runtime_error("lzma");
  out.resize(pos);
  return out;
}

TBytes Zstd(const TBytes& d) {
  TBytes out(ZSTD_compressBound(d.size()));
  size_t n = ZSTD_compress(out.data(), out.size(), d.data(), d.size(), 9);
  if (ZSTD_isError(n)) throw std::runtime_error("zstd");
  out.resize(n);
  return out;
}

struct TMethod {
  const char* name;
  uint16_t zipMethod, zipFlags;  // as an archive entry
  std::function<TBytes(const TBytes&)> encode;
  std::function<TDecodeResult(TDecodeInput&, TDecodeOutput&, TDecodeBuffers&, uint64_t)> decode;
};

const std::vector<TMethod>& Methods() {
  using TIn = TDecodeInput;
  using TOut = TDecodeOutput;
  static const std::vector<TMethod> methods = {
      {"bzip2", 12, 0, Bzip2, [](TIn& i, TOut& o, TDecodeBuffers& b, uint64_t) { return Bunzip2(i, o, b); }},
      {"lzma+marker", 14, 2, [](const TBytes& d) { return Lzma(d, true); },
       [](TIn& i, TOut& o, TDecodeBuffers& b, uint64_t n) { return UnLzma(i, o, b, n, true); }},
      {"lzma", 14, 0, [](const TBytes& d) { return Lzma(d, false); },
       [](TIn& i, TOut& o, TDecodeBuffers& b, uint64_t n) { return UnLzma(i, o, b, n, false); }},
      {"xz", 95, 0, Xz, UnXz},
      {"zstd", 93, 0, Zstd, UnZstd},
  };
  return methods;
}

std::pair<TDecodeResult, TBytes> Decode(const TMethod& m, const TBytes& stream, uint64_t size,
                                        size_t block = kBlockSize, size_t limit = SIZE_MAX) {
  auto buf = NewBuffers();
  TMemInput in(stream, block);
  TMemOutput sink(limit);
  const TDecodeResult r = m.decode(in, sink, *buf, size);
  EXPECT_FALSE(sink.badBlock) << m.name << ": a block was empty or longer than 32768 bytes";
  return {r, sink.data()};
}

// Byte for byte whatever the input block size. Truncated streams are data
// errors with a true beginning of the data (a stream cut in its trailer may
// have delivered all of it, but still reports the cut). Random damage: bzip2
// and XZ carry their own checksums, so it never decodes as "Ok" with other
// data; LZMA and Zstandard frames without a checksum leave that to the entry's
// CRC, and must merely end within the declared size (the sink throws past it,
// which also frees the decoder).
TEST(LibraryDecodersTest, WholeTruncatedDamagedAndOverlongStreams) {
  std::mt19937 rng(11);
  for (const TMethod& m : Methods()) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{32768}, size_t{150000}}) {
      SCOPED_TRACE(std::string(m.name) + " size " + std::to_string(n));
      const TBytes data = MixedData(n, static_cast<uint32_t>(n)), stream = m.encode(data);
      for (size_t block : {size_t{1}, size_t{13}, kBlockSize}) {
        if (block == 1 && n > 40000) continue;  // byte by byte only on small streams
        EXPECT_TRUE(Decode(m, stream, data.size(), block) == std::make_pair(TDecodeResult::Ok, data)) << block;
      }
      if (n < 150000) continue;
      for (size_t keep : {size_t{0}, size_t{3}, stream.size() / 2, stream.size() - 1}) {
        const auto [r, out] = Decode(m, TBytes(stream.begin(), stream.begin() + static_cast<long>(keep)), n);
        EXPECT_EQ(r, TDecodeResult::DataError) << "cut to " << keep;
        EXPECT_TRUE(out == TBytes(data.begin(), data.begin() + static_cast<long>(std::min(out.size(), n))));
        EXPECT_TRUE(keep <= stream.size() / 2 ? out.size() < n : out.size() <= n) << keep;
      }
      const bool selfChecked = std::string(m.name) == "bzip2" || std::string(m.name) == "xz";
      for (int trial = 0; trial < 40; ++trial) {
        TBytes bad = stream;
        bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
        try {
          const auto [r, out] = Decode(m, bad, n, kBlockSize, n);
          EXPECT_FALSE(selfChecked && r == TDecodeResult::Ok && out != data) << "trial " << trial;
        } catch (const std::length_error&) {
          // more output than declared: stopped by the sink
        }
      }
      EXPECT_THROW(Decode(m, stream, n, kBlockSize, 50000), std::length_error);
    }
  }
}

// LZMA's header must announce five property bytes, and more than it must
// follow; a stream longer than its declared size gives not a byte beyond it;
// one announced with an end marker that has none runs into its end.
// Concatenated XZ streams and Zstandard frames decode whole.
TEST(LibraryDecodersTest, StreamFramingRules) {
  const TBytes a = MixedData(50000, 15), b = MixedData(70000, 16), ab = Concat({a, b});
  TBytes badProps = Lzma(a, true);
  badProps[2] = 4;
  const TMethod &marker = Methods()[1], &plain = Methods()[2], &xz = Methods()[3], &zstd = Methods()[4];
  const struct {
    const TMethod& method;
    TBytes stream;
    uint64_t size;
    TDecodeResult result;
    std::optional<TBytes> out;  // none: whatever came before the error
  } cases[] = {
      {marker, badProps, a.size(), TDecodeResult::DataError, {}},
      {marker, TBytes(badProps.begin(), badProps.begin() + 4), a.size(), TDecodeResult::DataError, {}},
      {plain, Lzma(a, false), 1000, TDecodeResult::DataError, TBytes(a.begin(), a.begin() + 1000)},
      {marker, Lzma(a, false), a.size(), TDecodeResult::DataError, std::nullopt},
      {xz, Concat({Xz(a), Xz(b)}), ab.size(), TDecodeResult::Ok, ab},
      {zstd, Concat({Zstd(a), Zstd(b)}), ab.size(), TDecodeResult::Ok, ab},
  };
  for (const auto& c : cases) {
    const auto [result, out] = Decode(c.method, c.stream, c.size);
    EXPECT_EQ(result, c.result) << c.method.name << " " << c.size;
    EXPECT_TRUE(!c.out || out == *c.out) << c.method.name << " " << c.size;
  }
}

// ---- Archives.

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Every failure the reader reports, by entry name (messages included).
struct TOutcome {
  std::map<std::string, std::string> failed;
  int extracted = 0;
};

TOutcome Extract(const std::string& archive, const std::string& dest, const std::string& password) {
  TZipReader r;
  TOutcome o;
  r.SetZipName(archive);
  r.SetDestDir(dest);
  r.DoAll = r.RecreateDirs = true;
  r.OverwriteMode = TUZOverwriteMode::Always;
  r.Password = password;
  r.OnBadCRC = [&](TZipReader* z, int32_t, int32_t, int i) { o.failed[z->Entry(i).Path()] = "bad CRC"; };
  r.OnSkippingFile = [&](TZipReader*, TSkipReason why, const std::string& name, int, bool&) {
    o.failed[name] = why == skipBadPassword ? "wrong password" : "skipped";
  };
  r.OnEntryError = [&](TZipReader* z, int i, const std::string& m) { o.failed[z->Entry(i).Path()] = m; };
  o.extracted = r.UnZip();
  return o;
}

class MethodsInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeDir(src_);
    test::WriteFile(src_ + "/text.txt", text_);
    test::WriteFile(src_ + "/noise.bin", noise_);
    test::WriteFile(src_ + "/empty.txt", "");
  }
  // Extracts into a fresh directory (or `dest`); expects every file except
  // `failing` to come out byte for byte.
  TOutcome ExpectTree(const std::string& archive, const std::string& password = "", const std::string& failing = "",
                      const std::string& dest = "") {
    const std::string out = dest.empty() ? tmp_ / ("out" + std::to_string(++runs_)) : dest;
    TOutcome o = Extract(archive, out, password);
    for (const char* f : kFiles) {
      if (f == failing) continue;
      EXPECT_EQ(o.failed.count(f), 0u) << archive << " " << f << ": " << o.failed[f];
      EXPECT_TRUE(test::ReadFile(out + "/" + f) == test::ReadFile(src_ + "/" + f)) << archive << " " << f;
    }
    return o;
  }
  std::string OwnArchive(TZipEncryption kind, int level) {
    const std::string archive = tmp_ / ("own" + std::to_string(++runs_) + ".zip");
    test::CurrentDirGuard guard;
    EXPECT_EQ(::chdir(src_.c_str()), 0);
    TZipWriter w;
    w.SetZipName(archive);
    w.PackLevel = level;
    w.Encryption = kind;
    w.Password = kPassword;
    for (const char* f : kFiles) w.AddFile(f);
    EXPECT_EQ(w.Zip(), 3);
    return archive;
  }

  static constexpr const char* kFiles[] = {"text.txt", "noise.bin", "empty.txt"};
  // 7-Zip refuses to write with a password that is not ASCII; it reads one.
  static constexpr const char* kPassword = "p\xC3\xA4ss word";
  static constexpr const char* kAsciiPassword = "pass word";
  test::TempDir tmp_;
  std::string src_ = tmp_ / "src", text_ = Str(MixedData(300000, 21)), noise_ = Str(RandomBytes(70000, 22));
  int runs_ = 0;
};

// Every method and key size once.
TEST_F(MethodsInteropTest, SevenZipEveryMethodAndKeySize) {
  const std::pair<const char*, const char*> cases[] = {{"Copy", "AES128"}, {"BZip2", ""},         {"LZMA", "AES192"},
                                                       {"XZ", "AES256"},   {"Deflate", "AES256"}, {"PPMd", ""},
                                                       {"PPMd", "AES128"}};
  for (const auto& [method, aes] : cases) {
    SCOPED_TRACE(std::string(method) + " " + aes);
    const std::string archive = tmp_ / (std::string(method) + aes + ".zip");
    const std::string enc = *aes ? std::string(" -mem=") + aes + " -p" + Quote(kAsciiPassword) : "";
    ASSERT_EQ(test::RunCommand("cd " + Quote(src_) + " && 7zz a -tzip -mm=" + method + enc + " " + Quote(archive) +
                               " . >/dev/null"),
              0);
    ExpectTree(archive, *aes ? kAsciiPassword : "");
  }
}

// Our own encrypted archives pass 7-Zip and our reader; a wrong password and
// a changed authentication code fail their entries and replace nothing.
TEST_F(MethodsInteropTest, OwnEncryptedArchives) {
  for (TZipEncryption kind : {TZipEncryption::Aes256, TZipEncryption::ZipCrypto}) {
    for (int level : {0, 6}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(kind)) + " level " + std::to_string(level));
      const std::string archive = OwnArchive(kind, level);
      ExpectTree(archive, kPassword);
      std::string out;
      EXPECT_EQ(test::RunCommand("7zz t -p" + Quote(kPassword) + " " + Quote(archive), &out), 0) << out;
      EXPECT_NE(out.find("Everything is Ok"), std::string::npos) << out;
    }
  }
  const std::string archive = OwnArchive(TZipEncryption::Aes256, 6);
  std::string bytes = test::ReadFile(archive);
  // The last byte of the first entry's data is the last byte of its code.
  const auto* h = reinterpret_cast<const uint8_t*>(bytes.data());
  bytes[30 + GetU16(h + 26) + GetU16(h + 28) + GetU32(h + 18) - 1] ^= 0x40;
  test::WriteFile(tmp_ / "changed.zip", bytes);
  const std::string dest = tmp_ / "dest";
  test::MakeDir(dest);
  for (const char* f : kFiles) test::WriteFile(dest + "/" + f, "keep me");
  const TOutcome wrong = Extract(archive, dest, "wrong password");
  EXPECT_EQ(wrong.extracted, 0);
  EXPECT_EQ(wrong.failed, (std::map<std::string, std::string>{
                              {"empty.txt", "wrong password"}, {"noise.bin", "wrong password"}, {"text.txt", "wrong password"}}));
  const TOutcome changed = Extract(tmp_ / "changed.zip", dest, kPassword);
  EXPECT_EQ(changed.extracted, 2);
  EXPECT_EQ(changed.failed, (std::map<std::string, std::string>{
                                {"text.txt", "authentication failed: the encrypted data were damaged or changed"}}));
  EXPECT_EQ(test::ReadFile(dest + "/text.txt"), "keep me");
  EXPECT_TRUE(test::ReadFile(dest + "/noise.bin") == noise_);
}

// Each method's entry extracts whole; cut short it fails without replacing
// the file, and the entry after it still comes out.
TEST_F(MethodsInteropTest, EveryMethodInAnArchiveWholeAndTruncated) {
  for (const TMethod& m : Methods()) {
    SCOPED_TRACE(m.name);
    const std::string stream = Str(m.encode(TBytes(text_.begin(), text_.end())));
    for (size_t keep : {stream.size(), stream.size() - 1}) {
      TEntrySpec e("text.txt", stream.substr(0, keep));
      e.method = m.zipMethod;
      e.flags = m.zipFlags;
      e.rawBody = true;
      e.crc = ZCrc(text_);
      e.usize = static_cast<uint32_t>(text_.size());
      test::WriteFile(tmp_ / "m.zip", BuildZip({e, {"noise.bin", noise_}, {"empty.txt", ""}}));
      const std::string dest = tmp_ / ("m" + std::to_string(++runs_));
      test::MakeDir(dest);
      test::WriteFile(dest + "/text.txt", "keep me");
      const TOutcome o = ExpectTree(tmp_ / "m.zip", "", keep < stream.size() ? "text.txt" : "", dest);
      if (keep < stream.size()) {
        EXPECT_EQ(o.failed.count("text.txt"), 1u) << keep;
        EXPECT_EQ(test::ReadFile(dest + "/text.txt"), "keep me");
      }
    }
  }
}

}  // namespace
}  // namespace vantrel::zip
