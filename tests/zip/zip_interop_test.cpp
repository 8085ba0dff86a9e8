// zip_interop_test.cpp - archives made on the fly by Info-ZIP zip, by Python's
// zipfile and by 7-Zip (Deflate64) list and extract byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/test_support.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/zip_reader.h"

namespace vantrel::zip {
namespace {

const std::string kUtf8Name = "\xC3\xA4\xC3\xB6\xC3\xBC \xE2\x82\xAC.txt";  // "äöü €.txt"

class InteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string text;
    for (int i = 0; i < 12000; ++i) text += "line " + std::to_string(i * 37 % 1013) + " of text\n";
    src_ = tmp_ / "src";
    std::filesystem::create_directories(src_ + "/sub/deeper");
    std::filesystem::create_directories(src_ + "/emptydir");
    for (const auto& [name, data] : {std::pair{std::string("empty.txt"), std::string()}, {"one.txt", "1"}, {"text.txt", text},
                                     {"noise.bin", testing::RandomBytes(300000, 42)},
                                     {"sub/deeper/nested.txt", text.substr(0, 5000)}, {kUtf8Name, "unicode name"}})
      test::WriteFile(src_ + "/" + name, data);
  }

  // Extracts everything and compares the tree with the source.
  void ExpectSameTree(const std::string& archive, const std::string& password = "") {
    std::string dest = tmp_ / ("out" + std::to_string(++runs_));
    TZipReader r;
    r.SetZipName(archive);
    r.SetDestDir(dest);
    r.DoAll = r.RecreateDirs = true;
    r.Password = password;
    int bad = 0;
    r.OnBadCRC = [&](TZipReader*, int32_t, int32_t, int) { ++bad; };
    r.OnSkippingFile = [&](TZipReader*, TSkipReason, const std::string&, int, bool&) { ++bad; };
    r.UnZip();
    EXPECT_EQ(bad, 0);
    std::string diff;
    EXPECT_EQ(test::RunCommand("diff -r '" + src_ + "' '" + dest + "' 2>&1", &diff), 0) << diff;
  }

  test::TempDir tmp_;
  std::string src_;
  int runs_ = 0;
};

// Info-ZIP stored, best and encrypted; written to a pipe (zip cannot seek
// back: every entry gets a descriptor, and the password check uses the time
// byte); Python's zipfile stored and to a stream that cannot seek.
TEST_F(InteropTest, ArchivesOfInfoZipAndPythonExtractAsTheTree) {
  test::WriteFile(tmp_ / "make.py",
                  "import sys, zipfile, os\n"
                  "class Pipe:\n"
                  "  def __init__(self, f): self.f, self.n = f, 0\n"
                  "  def write(self, b): self.n += len(b); return self.f.write(b)\n"
                  "  def tell(self): return self.n\n"
                  "  def flush(self): self.f.flush()\n"
                  "for name, method in (('py-stored.zip', zipfile.ZIP_STORED), ('py-dd.zip', zipfile.ZIP_DEFLATED)):\n"
                  "  with open('../' + name, 'wb') as f:\n"
                  "    with zipfile.ZipFile(Pipe(f) if method else f, 'w', method) as z:\n"
                  "      for root, dirs, files in os.walk('.'):\n"
                  "        for n in dirs + files:\n"
                  "          p = os.path.join(root, n)\n"
                  "          z.write(p, os.path.relpath(p) + ('/' if n in dirs else ''))\n");
  const struct {
    const char *name, *command, *password;
    bool descriptors;
  } cases[] = {
      {"level0.zip", "zip -q -r -0 ../level0.zip .", "", false},
      {"level9.zip", "zip -q -r -9 ../level9.zip .", "", false},
      {"enc.zip", "zip -q -r -e -P 'pass word' ../enc.zip .", "pass word", true},
      {"pipe.zip", "zip -q -r - . | cat > ../pipe.zip", "", true},
      {"pipe-enc.zip", "zip -q -r -e -P pw - . | cat > ../pipe-enc.zip", "pw", true},
      {"py-stored.zip", "python3 ../make.py", "", false},
      {"py-dd.zip", "true", "", true},  // made with py-stored.zip
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    ASSERT_EQ(test::RunCommand("cd '" + src_ + "' && " + c.command + " 2>&1", &out), 0) << out;
    ExpectSameTree(tmp_ / c.name, c.password);
    TZipReader r;
    r.SetZipName(tmp_ / c.name);
    r.ReadZip();
    int withDescriptor = 0;
    for (int i = 0; i < r.Count(); ++i) withDescriptor += r.Entry(i).HasDataDescriptor();
    EXPECT_EQ(withDescriptor > 3, c.descriptors) << withDescriptor;
  }
}

// Deflate64 (method 9) archives made by 7-Zip: beside the tree, a file longer
// than 64 KB whose repeats lie more than 32 KB back; the extraction agrees
// with the source.
TEST_F(InteropTest, SevenZipDeflate64) {
  const std::string r1 = testing::RandomBytes(40000, 7), r2 = testing::RandomBytes(20000, 8);
  test::WriteFile(src_ + "/far.bin", r1 + r2 + r1 + r2.substr(0, 5000) + r1);
  const std::string zip = tmp_ / "d64.zip";
  std::string out;
  ASSERT_EQ(test::RunCommand("cd '" + src_ + "' && 7zz a -tzip -mm=Deflate64 -r '" + zip + "' . 2>&1", &out), 0)
      << out;
  testing::TRawArchive raw = testing::ParseArchive(zip);
  const auto far = std::find_if(raw.entries.begin(), raw.entries.end(), [](const auto& e) { return e.name == "far.bin"; });
  ASSERT_NE(far, raw.entries.end());
  EXPECT_EQ(far->method, 9);
  EXPECT_LT(far->csize, 100000u) << "the repeats were not found";
  ExpectSameTree(zip);
}

}  // namespace
}  // namespace vantrel::zip
