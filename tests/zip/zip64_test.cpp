// zip64_test.cpp - archives past the classic limits: more than 65,535 entries,
// sizes and offsets of 4 GiB and more, and the ZIP64 records that describe
// them, written here and by the peers; and the guarantee that archives within
// the limits keep exactly the bytes they had before ZIP64 was written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>

#include "tests/support/test_support.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;
using vantrel::test::ReadFile;
using vantrel::test::SetMTime;
using vantrel::test::TempDir;
using vantrel::test::WriteFile;

uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// A file with fixed contents, mode and date, so that the archive's bytes are
// fixed too.
void Fixed(const std::string& path, const std::string& contents) {
  WriteFile(path, contents);
  ::chmod(path.c_str(), 0644);
  SetMTime(path, 1700000000);
}

std::string Text(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of text\n";
  s.resize(n);
  return s;
}

// The bytes of small archives as they were written before ZIP64 existed here:
// size and CRC-32 of the whole file. A change in the writer that alters any
// byte of an archive within the classic limits fails here.
TEST(SmallArchives, KeepTheBytesTheyHadBeforeZip64) {
  struct Case {
    const char* name;
    int level;
    bool update;  // add b.txt to the archive of a.txt, with comments
    size_t size;
    uint32_t crc;
  } cases[] = {
      {"stored", 0, false, 5767, 993273684u},
      {"deflated", 6, false, 1244, 3095972344u},
      {"best", 9, false, 1249, 3603093966u},
      {"updated", 6, true, 920, 1858037972u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir d;
    fs::create_directories(d / "src/sub");
    Fixed(d / "src/a.txt", Text(5000));
    Fixed(d / "src/sub/b.txt", "b");
    Fixed(d / "src/\xc3\xa9t\xc3\xa9.txt", Text(300));
    Fixed(d / "src/empty", "");
    ::chmod((d / "src/sub").c_str(), 0755);
    SetMTime(d / "src/sub", 1700000000);
    const std::string zip = d / "out.zip";
    TZipWriter w;
    w.SetZipName(zip);
    w.SetRootDir(d / "src");
    w.SetRelativePaths(true);
    w.AddDirEntriesOnRecurse = true;
    w.PackLevel = c.level;
    if (c.update) {
      w.AddFile(d / "src/a.txt");
      ASSERT_EQ(w.Zip(), 1);
      w.SetZipComment("archive comment");
      w.SetFileComment(0, "entry comment");
      w.AddFile(d / "src/sub/b.txt");
      ASSERT_EQ(w.Zip(), 1);
    } else {
      w.AddFile(d / "src/*.*");
      ASSERT_EQ(w.Zip(), 5);
    }
    const std::string bytes = ReadFile(zip);
    EXPECT_EQ(bytes.size(), c.size);
    EXPECT_EQ(Crc(bytes), c.crc);
  }
}

}  // namespace
}  // namespace vantrel::zip
