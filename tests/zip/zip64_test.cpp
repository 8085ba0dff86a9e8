// zip64_test.cpp - archives past the classic limits: more than 65,535 entries,
// sizes and offsets of 4 GiB and more, and the ZIP64 records that describe
// them, written here and by the peers.
#include <gtest/gtest.h>


#include <filesystem>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using namespace vantrel::test;

std::string Text(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of text\n";
  s.resize(n);
  return s;
}

// Only the values that do not fit their classic field go into the ZIP64 extra
// field, in the order of the format, and they read back whole.
TEST(Zip64Records, CentralExtraHoldsExactlyTheFieldsThatDoNotFit) {
  const uint64_t big = 5ull << 30;
  const struct {
    uint64_t usize, csize, offset;
    uint32_t disk;
    size_t extra;  // bytes of the ZIP64 block, 0 for none
  } cases[] = {
      {0xFFFFFFFE, 0xFFFFFFFE, 0xFFFFFFFE, 0xFFFE, 0},
      {0xFFFFFFFF, 10, 20, 0, 4 + 8},
      {10, big, 20, 0, 4 + 8},
      {10, 20, big, 0, 4 + 8},
      {big, big, big, 0xFFFF, 4 + 8 + 8 + 8 + 4},
      {1, 2, 3, 70000, 4 + 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra);
    TZipHeaderInfo e;
    e.SetPath("dir/name.bin");
    e.UncompressedSize = c.usize;
    e.CompressedSize = c.csize;
    e.LocalHeaderOffset = c.offset;
    e.DiskNumberStart = c.disk;
    EXPECT_EQ(CentralZip64Extra(e).size(), c.extra);
    EXPECT_EQ(e.NeedsZip64(), c.extra != 0);
    TMemoryStream out;
    ASSERT_TRUE(e.WriteCentral(out));
    TMemoryStream in(out.Bytes());
    TStream* s = &in;
    TZipHeaderInfo r;
    ASSERT_TRUE(r.ReadCentral(s));
    EXPECT_EQ(std::make_tuple(r.UncompressedSize, r.CompressedSize, r.LocalHeaderOffset, r.DiskNumberStart, r.Path()),
              std::make_tuple(c.usize, c.csize, c.offset, c.disk, std::string("dir/name.bin")));
  }
}

// Local headers whose sizes are in a ZIP64 block of exactly 16 bytes (the
// classic fields hold the marker), as streaming writers and Python's
// force_zip64 make them: with the directory lost, the entries are read from
// those headers, found end to end by those sizes and decoded whole.
TEST(Zip64Records, RebuiltEntriesTakeTheirSizesFromA16ByteLocalBlock) {
  TempDir dir;
  auto entry = [](const std::string& name, const std::string& data) {
    const uint32_t n = static_cast<uint32_t>(data.size());
    std::string extra;
    PutLe(extra, {{0x0001, 2}, {16, 2}, {n, 4}, {0, 4}, {n, 4}, {0, 4}});
    std::string h;
    PutLe(h, {{0x04034B50, 4}, {45, 2}, {0, 2}, {0, 2}, {0x1AEF6000, 4}, {ZCrc(data), 4}, {0xFFFFFFFF, 4},
              {0xFFFFFFFF, 4}, {static_cast<uint32_t>(name.size()), 2}, {16 + 4, 2}});
    return h + name + extra + data;
  };
  WriteFile(dir / "hand.zip", entry("a.txt", "alpha") + entry("b.txt", "bravo bravo"));
  ASSERT_EQ(RunCommand("cd " + Quote(dir.path()) + " && python3 -c " +
                       Quote("import zipfile\n"
                             "with zipfile.ZipFile('py.zip', 'w') as z:\n"
                             "  for n, d in (('a.txt', b'alpha'), ('b.txt', b'bravo bravo')):\n"
                             "    with z.open(n, 'w', force_zip64=True) as f: f.write(d)\n")),
            0);
  std::string py = ReadFile(dir / "py.zip");
  ASSERT_EQ(py.substr(py.find("a.txt") + 5, 4), std::string("\x01\x00\x10\x00", 4));
  WriteFile(dir / "py.zip", py.substr(0, py.find("PK\x01\x02")));  // the directory lost
  for (const char* name : {"hand.zip", "py.zip"}) {
    SCOPED_TRACE(name);
    TZipReader r;
    r.SetZipName(dir / name);
    r.ReadZip();
    EXPECT_TRUE(r.Rebuilt());
    ASSERT_EQ(r.Count(), 2);
    EXPECT_EQ(r.Entry(1).UncompressedSize, 11u);
    const std::string out = dir / (std::string(name) + ".out");
    r.SetDestDir(out);
    r.DoAll = true;
    EXPECT_EQ(r.UnZip(), 2);
    EXPECT_EQ(ReadFile(out + "/a.txt"), "alpha");
    EXPECT_EQ(ReadFile(out + "/b.txt"), "bravo bravo");
  }
}

// The end record needs its ZIP64 form from 65,535 entries and from a
// directory that starts or ends at 4 GiB; Find takes the ZIP64 values.
TEST(Zip64Records, EndRecordNeedsZip64ExactlyAtTheLimits) {
  const struct {
    uint64_t entries, size, offset;
    bool zip64;
  } cases[] = {
      {65534, 100, 200, false},
      {65535, 100, 200, true},
      {70000, 3500000, 200, true},
      {1, 0xFFFFFFFE, 0, false},
      {1, 100, 0xFFFFFFFF, true},
      {1, 100, 6ull << 30, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entries);
    TEndCentral end;
    end.TotalEntries = end.EntriesThisDisk = c.entries;
    end.CentralDirSize = c.size;
    end.CentralDirOffset = c.offset;
    end.SetZipComment(std::string("note"));
    const std::string bytes = std::string(100, 'x') + end.Encode(100);
    EXPECT_EQ(bytes.size(), 100 + end.Size());
    EXPECT_EQ(bytes.find(std::string("PK\x06\x06", 4)) != std::string::npos, c.zip64);
    TMemoryStream in(bytes);
    TEndCentral found;
    ASSERT_TRUE(found.Find(in));
    EXPECT_EQ(std::make_tuple(found.TotalEntries, found.CentralDirSize, found.CentralDirOffset, found.Zip64 != 0),
              std::make_tuple(c.entries, c.size, c.offset, c.zip64));
    EXPECT_EQ(bytes.substr(static_cast<size_t>(found.ZipCommentPos), found.ZipCommentLength), "note");
  }
}

// Archives with ZIP64 records written by Info-ZIP read back byte for byte:
// forced ZIP64 fields (zip -fz) and streamed output with 8-byte data
// descriptors. The classic end record in front of a valid ZIP64 end record
// may be damaged or hold markers: the ZIP64 values serve. Markers without a
// ZIP64 record are refused with a message that says so.
TEST(Zip64Peers, InfoZipArchivesReadBackAndOutliveADamagedClassicEndRecord) {
  TempDir d;
  const std::string text = Text(150000), bin(70000, '\x7f');
  WriteFile(d / "a.txt", text);
  WriteFile(d / "b.bin", bin);
  ASSERT_EQ(RunCommand("cd " + Quote(d.path()) +
                       " && echo kept | zip -q -fz -z z.zip a.txt b.bin && cat a.txt | zip -q -fz - - > pipe.zip"),
            0);
  const std::string good = ReadFile(d / "z.zip");
  const size_t end = good.rfind("PK\x05\x06"), locator = good.rfind("PK\x06\x07");
  ASSERT_EQ(locator + 20, end);
  auto patched = [&](size_t at, const std::string& bytes) {
    std::string b = good;
    b.replace(at, bytes.size(), bytes);
    return b;
  };
  const struct {
    const char* name;
    std::string bytes;
    const char* comment;  // null: refused
  } cases[] = {
      {"as written", good, "kept"},
      {"streamed", ReadFile(d / "pipe.zip"), ""},
      {"signature destroyed", patched(end, "XXXX"), ""},
      {"fields damaged", patched(end + 4, std::string("\x03\x00\x01\x00\x07\x00\x09\x00\x10\x00\x00\x00\x20\x00\x00\x00", 16)),
       "kept"},
      {"locator destroyed", patched(locator, "XXXX" + std::string(16, '\0') + "PK\x05\x06\xff\xff"), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(d / "c.zip", c.bytes);
    TZipReader r;
    r.SetZipName(d / "c.zip");
    if (!c.comment) {
      try {
        r.ReadZip();
        ADD_FAILURE() << "opened";
      } catch (const EBadZipFile& e) {
        EXPECT_STREQ(e.what(), kTextZip64Lost);
      }
      continue;
    }
    r.ReadZip();
    EXPECT_TRUE(r.DirectoryReport().Whole()) << r.DirectoryReport().Damage();
    EXPECT_EQ(r.ZipComment(), c.comment);
    const std::string out = d / "out";
    fs::remove_all(out);
    r.SetDestDir(out);
    r.DoAll = true;
    int failed = 0;
    r.OnEntryError = [&](TZipReader*, int, const std::string&) { ++failed; };
    r.OnBadCRC = [&](TZipReader*, int32_t, int32_t, int) { ++failed; };
    EXPECT_EQ(r.UnZip(), r.Count());
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(ReadFile(out + (r.Count() == 1 ? "/-" : "/a.txt")), text);
    EXPECT_EQ(r.Count() == 2 ? ReadFile(out + "/b.bin") : bin, bin);
  }
}

// 70,000 entries: a ZIP64 end record; unzip, 7-Zip, bsdtar and Python
// accept the archive, Python lists the entries in the order they were added.
TEST(Zip64Written, SeventyThousandEntriesPassThePeersInOrder) {
  TempDir d;
  const int n = 70000;
  const std::string zip = d / "n.zip";
  TZipWriter w;
  w.SetZipName(zip);
  w.SetRootDir(d.path());
  w.SetStorePaths(true);
  for (int i = 0; i < n; ++i) w.AddFile(std::to_string(i) + "/");
  ASSERT_EQ(w.Zip(), n);
  EXPECT_NE(ReadFile(zip).find(std::string("PK\x06\x06", 4)), std::string::npos);
  for (const char* peer : {"unzip -tqq", "7zz t", "bsdtar -tf"}) {
    std::string out;
    EXPECT_EQ(RunCommand(std::string(peer) + " " + Quote(zip) + " 2>&1", &out), 0) << peer << out.substr(0, 2000);
  }
  std::string names, expected;
  EXPECT_EQ(RunCommand("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); z.testzip(); "
                       "print(\"\\n\".join(z.namelist()))' " + Quote(zip), &names), 0);
  for (int i = 0; i < n; ++i) expected += std::to_string(i) + "/\n";
  EXPECT_TRUE(names == expected) << names.substr(0, 200);
  TZipReader r;
  r.SetZipName(zip);
  r.ReadZip();
  ASSERT_EQ(r.Count(), n);
  EXPECT_EQ(r.Entry(n - 1).Path(), std::to_string(n - 1) + "/");
}

// A sparse file of 5 GiB deflated: ZIP64 sizes in its local header and
// central record, version 4.5 for it alone, and a round trip through our
// reader and the peers. About two minutes: it runs as the ctest entry
// zip_tests_slow, which sets VANTREL_SLOW_TESTS.
TEST(Zip64Written, FiveGigabyteFileRoundTrips) {
  if (!std::getenv("VANTREL_SLOW_TESTS")) GTEST_SKIP() << "slow test: set VANTREL_SLOW_TESTS=1";
  TempDir d;
  const uint64_t size = 5ull << 30;
  WriteFile(d / "small.txt", "small");
  WriteFile(d / "huge.bin", "end");
  fs::resize_file(d / "huge.bin", size);  // sparse: zeros, then nothing written
  const std::string zip = d / "big.zip";
  TZipWriter w;
  w.SetZipName(zip);
  w.SetRootDir(d.path());
  w.SetRelativePaths(true);
  w.PackLevel = 1;
  w.AddFile(d / "small.txt");
  w.AddFile(d / "huge.bin");
  ASSERT_EQ(w.Zip(), 2);
  const testing::TRawArchive a = testing::ParseArchive(zip);
  ASSERT_EQ(a.entries.size(), 2u);
  EXPECT_EQ(a.entries[0].needed, 20);
  EXPECT_EQ(a.entries[1].needed, 45);
  EXPECT_EQ(a.entries[1].usize, 0xFFFFFFFFu);
  EXPECT_EQ(a.entries[1].localUsize, 0xFFFFFFFFu);
  EXPECT_EQ(RunCommand("unzip -tqq " + Quote(zip)), 0);
  TZipReader r;
  r.SetZipName(zip);
  r.ReadZip();
  EXPECT_EQ(r.UncompressedSize(1), size);
  r.DoAll = true;
  r.TestOnly = true;
  EXPECT_EQ(r.UnZip(), 2);
}

}  // namespace
}  // namespace vantrel::zip
