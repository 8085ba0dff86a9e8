// Entries of every method and key size, made at test time by 7-Zip, Python's
// zipfile, the zstd tool and our own writer: they extract byte for byte; a
// wrong password, a changed authentication code and a truncated stream of a
// library-decoded method fail their entry without replacing an existing
// file, and the run goes on.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <lzma.h>
#include <zstd.h>

#include <functional>
#include <map>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

using testing::BuildZip;
using testing::TEntrySpec;

bool Have(const char* tool) {
  return test::RunCommand(std::string("command -v ") + tool + " >/dev/null 2>&1") == 0;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Every failure the reader reports, by entry name (messages included).
struct TOutcome {
  std::map<std::string, std::string> failed;
  int extracted = 0;
};

TOutcome Extract(const std::string& archive, const std::string& dest, const std::string& password,
                 TUZOverwriteMode mode = TUZOverwriteMode::Always) {
  TZipReader r;
  TOutcome o;
  r.SetZipName(archive);
  r.SetDestDir(dest);
  r.DoAll = true;
  r.RecreateDirs = true;
  r.OverwriteMode = mode;
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
    for (int i = 0; i < 20000; ++i) text_ += "record " + std::to_string(i * 7919 % 10007) + " of the text\n";
    uint32_t x = 7;
    for (int i = 0; i < 70000; ++i) {
      x = x * 1103515245u + 12345u;
      noise_ += static_cast<char>(x >> 24);
    }
    src_ = tmp_ / "src";
    test::MakeDir(src_);
    test::WriteFile(src_ + "/text.txt", text_);
    test::WriteFile(src_ + "/noise.bin", noise_);
    test::WriteFile(src_ + "/empty.txt", "");
  }

  // Extracts into a fresh directory; expects every file except `failing`
  // to come out byte for byte.
  TOutcome ExpectTree(const std::string& archive, const std::string& password = "",
                      const std::string& failing = "") {
    const std::string dest = tmp_ / ("out" + std::to_string(++runs_));
    TOutcome o = Extract(archive, dest, password);
    for (const char* f : {"text.txt", "noise.bin", "empty.txt"}) {
      if (f == failing) continue;
      EXPECT_EQ(o.failed.count(f), 0u) << archive << " " << f << ": " << o.failed[f];
      EXPECT_TRUE(test::ReadFile(dest + "/" + f) == test::ReadFile(src_ + "/" + f)) << archive << " " << f;
    }
    return o;
  }

  std::string SevenZip(const std::string& method, const std::string& aes) {
    const std::string archive = tmp_ / ("7z-" + method + aes + ".zip");
    const std::string enc = aes.empty() ? "" : " -mem=" + aes + " -p" + Quote(kAsciiPassword);
    EXPECT_EQ(test::RunCommand("cd " + Quote(src_) + " && 7zz a -tzip -mm=" + method + enc + " " +
                               Quote(archive) + " . >/dev/null"),
              0);
    return archive;
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
    for (const char* f : {"text.txt", "noise.bin", "empty.txt"}) w.AddFile(f);
    EXPECT_EQ(w.Zip(), 3);
    return archive;
  }

  // 7-Zip refuses to write with a password that is not ASCII; it reads one.
  static constexpr const char* kPassword = "p\xC3\xA4ss word";
  static constexpr const char* kAsciiPassword = "pass word";
  test::TempDir tmp_;
  std::string src_, text_, noise_;
  int runs_ = 0;
};

TEST_F(MethodsInteropTest, SevenZipEveryMethodAndKeySize) {
  if (!Have("7zz")) GTEST_SKIP() << "7zz is not installed: archives of other methods cannot be made";
  const struct {
    const char* method;
    const char* aes;
  } cases[] = {{"Copy", ""},         {"BZip2", ""},         {"LZMA", ""},
               {"XZ", ""},           {"Copy", "AES128"},    {"Deflate", "AES192"},
               {"BZip2", "AES256"},  {"LZMA", "AES128"},    {"XZ", "AES256"},
               {"Deflate", "AES256"}, {"LZMA", "AES192"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.aes);
    ExpectTree(SevenZip(c.method, c.aes), *c.aes ? kAsciiPassword : "");
  }
}

TEST_F(MethodsInteropTest, PpmdIsRefusedByNameAndNothingElseFails) {
  if (!Have("7zz")) GTEST_SKIP() << "7zz is not installed: no PPMd archive can be made";
  for (const char* aes : {"", "AES256"}) {
    const TOutcome o = ExpectTree(SevenZip("PPMd", aes), *aes ? kAsciiPassword : "", "text.txt");
    EXPECT_EQ(o.failed.at("text.txt"), "unsupported compression method PPMd (98)") << aes;
  }
}

TEST_F(MethodsInteropTest, PythonBzip2AndLzma) {
  const std::string script =
      "import sys, zipfile\n"
      "for name, method in (('bz2', zipfile.ZIP_BZIP2), ('lzma', zipfile.ZIP_LZMA)):\n"
      "  with zipfile.ZipFile(sys.argv[2] + '/' + name + '.zip', 'w', method) as z:\n"
      "    for f in ('text.txt', 'noise.bin', 'empty.txt'): z.write(sys.argv[1] + '/' + f, f)\n";
  test::WriteFile(tmp_ / "make.py", script);
  ASSERT_EQ(test::RunCommand("python3 " + Quote(tmp_ / "make.py") + " " + Quote(src_) + " " +
                             Quote(tmp_.path())),
            0);
  ExpectTree(tmp_ / "bz2.zip");
  ExpectTree(tmp_ / "lzma.zip");  // flag bit 1: streams with an end marker
}

TEST_F(MethodsInteropTest, ZstandardFramesOfTheZstdTool) {
  if (!Have("zstd")) GTEST_SKIP() << "zstd is not installed: no Zstandard stream can be made";
  std::vector<TEntrySpec> entries;
  for (const char* f : {"text.txt", "noise.bin", "empty.txt"}) {
    std::string frame;
    ASSERT_EQ(test::RunCommand("zstd -q -19 -c " + Quote(src_ + "/" + f), &frame), 0);
    const std::string plain = test::ReadFile(src_ + "/" + f);
    TEntrySpec e(f, frame);
    e.method = 93;
    e.crc = testing::ZCrc(plain);
    e.usize = static_cast<uint32_t>(plain.size());
    entries.push_back(e);
  }
  test::WriteFile(tmp_ / "zstd.zip", BuildZip(entries));
  ExpectTree(tmp_ / "zstd.zip");
}

TEST_F(MethodsInteropTest, OwnEncryptedArchivesPassThePeers) {
  const bool sevenZip = Have("7zz"), bsdtar = Have("bsdtar");
  for (TZipEncryption kind : {TZipEncryption::Aes256, TZipEncryption::ZipCrypto}) {
    for (int level : {0, 6}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(kind)) + " level " + std::to_string(level));
      const std::string archive = OwnArchive(kind, level);
      ExpectTree(archive, kPassword);
      if (sevenZip) {
        std::string out;
        EXPECT_EQ(test::RunCommand("7zz t -p" + Quote(kPassword) + " " + Quote(archive), &out), 0) << out;
      }
      const std::string dest = tmp_ / ("peer" + std::to_string(++runs_));
      test::MakeDir(dest);
      // Python reads the traditional encryption only; bsdtar reads both.
      const std::string peer =
          kind == TZipEncryption::ZipCrypto
              ? "python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2], pwd=sys.argv[3].encode())' "
                    + Quote(archive) + " " + Quote(dest) + " " + Quote(kPassword)
              : bsdtar ? "bsdtar -x -C " + Quote(dest) + " --passphrase " + Quote(kPassword) + " -f " + Quote(archive)
                       : "";
      if (peer.empty()) continue;
      ASSERT_EQ(test::RunCommand(peer), 0) << peer;
      for (const char* f : {"text.txt", "noise.bin", "empty.txt"})
        EXPECT_TRUE(test::ReadFile(dest + "/" + f) == test::ReadFile(src_ + "/" + f)) << f;
    }
  }
}

TEST_F(MethodsInteropTest, WrongPasswordAndChangedCodeReplaceNothing) {
  const std::string archive = OwnArchive(TZipEncryption::Aes256, 6);
  std::string bytes = test::ReadFile(archive);
  // The last byte of the first entry's data is the last byte of its code.
  const auto* h = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t dataEnd = 30 + GetU16(h + 26) + GetU16(h + 28) + GetU32(h + 18);
  bytes[dataEnd - 1] ^= 0x40;
  test::WriteFile(tmp_ / "changed.zip", bytes);

  const std::string dest = tmp_ / "dest";
  test::MakeDir(dest);
  for (const char* f : {"text.txt", "noise.bin", "empty.txt"}) test::WriteFile(dest + "/" + f, "keep me");
  TOutcome wrong = Extract(archive, dest, "wrong password");
  EXPECT_EQ(wrong.extracted, 0);
  EXPECT_EQ(wrong.failed.size(), 3u);
  for (const auto& [name, why] : wrong.failed) EXPECT_EQ(why, "wrong password") << name;
  TOutcome changed = Extract(tmp_ / "changed.zip", dest, kPassword);
  EXPECT_EQ(changed.extracted, 2);
  EXPECT_EQ(changed.failed["text.txt"],
            "authentication failed: the encrypted data were damaged or changed");
  EXPECT_EQ(test::ReadFile(dest + "/text.txt"), "keep me");
  EXPECT_TRUE(test::ReadFile(dest + "/noise.bin") == noise_);
}

std::string Bzip2Stream(const std::string& d) {
  std::string out(d.size() + d.size() / 100 + 600, '\0');
  unsigned len = static_cast<unsigned>(out.size());
  BZ2_bzBuffToBuffCompress(out.data(), &len, const_cast<char*>(d.data()), static_cast<unsigned>(d.size()), 9, 0, 0);
  out.resize(len);
  return out;
}

std::string XzStream(const std::string& d) {
  std::string out(lzma_stream_buffer_bound(d.size()), '\0');
  size_t pos = 0;
  lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t*>(d.data()),
                          d.size(), reinterpret_cast<uint8_t*>(out.data()), &pos, out.size());
  out.resize(pos);
  return out;
}

std::string LzmaEntry(const std::string& d) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::string out(d.size() + 1024, '\0');
  out[0] = 9, out[1] = 20, out[2] = 5, out[3] = 0;
  lzma_properties_encode(&filters[0], reinterpret_cast<uint8_t*>(out.data()) + 4);
  size_t pos = 9;
  lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(d.data()), d.size(),
                         reinterpret_cast<uint8_t*>(out.data()), &pos, out.size());
  out.resize(pos);
  return out;
}

std::string ZstdStream(const std::string& d) {
  std::string out(ZSTD_compressBound(d.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), d.data(), d.size(), 3));
  return out;
}

TEST_F(MethodsInteropTest, TruncatedStreamsFailTheirEntryAndTheRunGoesOn) {
  const struct {
    uint16_t method;
    std::function<std::string(const std::string&)> encode;
  } methods[] = {{12, Bzip2Stream}, {14, LzmaEntry}, {93, ZstdStream}, {95, XzStream}};
  for (const auto& m : methods) {
    SCOPED_TRACE(m.method);
    const std::string stream = m.encode(text_);
    for (size_t keep : {stream.size() / 2, stream.size() - 1}) {
      TEntrySpec cut("text.txt", stream.substr(0, keep));
      cut.method = m.method;
      cut.rawBody = true;
      cut.crc = testing::ZCrc(text_);
      cut.usize = static_cast<uint32_t>(text_.size());
      test::WriteFile(tmp_ / "cut.zip", BuildZip({cut, TEntrySpec("noise.bin", noise_)}));
      const std::string dest = tmp_ / ("cut" + std::to_string(++runs_));
      test::MakeDir(dest);
      test::WriteFile(dest + "/text.txt", "keep me");
      TOutcome o = Extract(tmp_ / "cut.zip", dest, "");
      EXPECT_EQ(o.failed.count("text.txt"), 1u) << keep;
      EXPECT_EQ(test::ReadFile(dest + "/text.txt"), "keep me");
      EXPECT_TRUE(test::ReadFile(dest + "/noise.bin") == noise_);
    }
  }
}

}  // namespace
}  // namespace vantrel::zip
