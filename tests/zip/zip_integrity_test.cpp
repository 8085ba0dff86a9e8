// zip_integrity_test.cpp - archives that must never cost data: damaged
// directories, entry limits, overlapping data, read-only archives, killed
// extractions, hostile names, symbolic links and files that change while they
// are added. Every archive is made here (test builder, Python, byte edits).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

using namespace testing;

class IntegrityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("VANTREL_BINARY_DIR");
    tool_ = std::string(dir ? dir : ".") + "/vantrel-zip";
    if (!std::filesystem::exists(tool_)) GTEST_SKIP() << "vantrel-zip is not built";
  }
  // Runs the tool in the temporary directory; stdout and stderr together.
  int Run(const std::string& args, std::string* out = nullptr) {
    if (out) out->clear();
    return test::RunCommand("cd " + Quote(tmp_.path()) + " && " + Quote(tool_) + " " + args + " </dev/null 2>&1", out);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = tmp_ / name;
    test::WriteFile(path, bytes);
    return path;
  }
  std::string tool_;
  test::TempDir tmp_;
};

// 1. More entries than a classic end record counts (ours without ZIP64
// records, Python's with them): read whole by every command, and an update
// replaces one entry without losing any other.
TEST_F(IntegrityTest, ArchivesBeyondTheClassicEntryLimitWorkEndToEnd) {
  std::vector<TEntrySpec> many;
  for (int i = 0; i < 65535; ++i) many.push_back({std::string("e") += std::to_string(i), ""});
  Write("plain.zip", BuildZip(many));
  ASSERT_EQ(test::RunCommand("cd " + Quote(tmp_.path()) + " && python3 -c " +
                             Quote("import zipfile\nz=zipfile.ZipFile('z64.zip','w')\n"
                                   "for i in range(70000): z.writestr('e%d'%i,'')\nz.close()\n")),
            0);
  test::WriteFile(tmp_ / "e7", "replaced");
  for (const auto& [zip, count] : {std::pair{"plain.zip", 65535}, {"z64.zip", 70000}}) {
    SCOPED_TRACE(zip);
    const std::string n = std::to_string(count), files = "  " + n + " files\n";
    std::string out;
    EXPECT_EQ(Run("list " + std::string(zip), &out), 0);
    EXPECT_NE(out.find(files), std::string::npos) << out.substr(out.size() - 300);
    EXPECT_EQ(Run("test " + std::string(zip), &out), 0);
    EXPECT_NE(out.find(n + " entries OK, 0 failed"), std::string::npos) << out;
    EXPECT_EQ(Run("add -R " + std::string(zip) + " e7", &out), 0) << out;
    EXPECT_EQ(Run("list " + std::string(zip), &out), 0);
    EXPECT_NE(out.find(files), std::string::npos) << out.substr(out.size() - 300);
    // Every entry is still there, in its place, and e7 holds the new bytes.
    const size_t e6 = out.find(" e6\n"), e7 = out.find(" e7\n"), e8 = out.find(" e8\n");
    EXPECT_TRUE(e6 < e7 && e7 < e8) << out.substr(0, 600);
    EXPECT_NE(out.rfind("\n         8          8  Stored", e7), std::string::npos);
    EXPECT_EQ(test::RunCommand("unzip -tqq " + Quote(tmp_ / zip) + " >/dev/null 2>&1"), 0);
  }
}

// 2 and 4. A damaged directory is said by list and test and never written
// back; an archive the user may not write is not replaced either.
TEST_F(IntegrityTest, DamagedOrReadOnlyArchivesAreNeverRewritten) {
  std::vector<TEntrySpec> forty;
  for (int i = 0; i < 40; ++i) forty.push_back({std::string("f") += std::to_string(i) + ".txt", std::string(200, 'a' + i % 26)});
  const std::string good = BuildZip(forty);
  std::string flipped = good;
  flipped[good.find("PK\x01\x02", good.find("PK\x01\x02") + 4) + 1] ^= 0x7F;  // 2nd central record
  std::string counted = good, sized = good, emptied = good;
  counted[counted.size() - 12] = counted[counted.size() - 14] = 30;  // 30 of the 40 entries
  sized[sized.size() - 10] = static_cast<char>(sized[sized.size() - 10] + 8);  // directory size 8 bytes off
  emptied[emptied.size() - 12] = emptied[emptied.size() - 14] = 0;  // no entries at all
  for (int i = 12; i > 4; --i) emptied[emptied.size() - i + 2] = 0;
  const struct {
    std::string name, bytes, damage;
  } cases[] = {
      {"flipped.zip", flipped, "rebuilt from the local headers, 40 of 40 entries found"},
      {"inserted.zip", good.substr(0, good.size() / 2) + std::string(29, 'X') + good.substr(good.size() / 2),
       "archive directory damaged: rebuilt from the local headers"},
      {"counted.zip", counted, "holds more entries than the 30 its end record announces"},
      {"sized.zip", sized, "bytes, the end record says"},
      {"emptied.zip", emptied, "it announces no entries, but the archive holds some"},
      {"ro.zip", good, "Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string zip = Write(c.name, c.bytes);
    const bool readOnly = c.name == "ro.zip";
    ASSERT_TRUE(!readOnly || ::chmod(zip.c_str(), 0444) == 0);
    std::string out;
    EXPECT_EQ(Run("list " + Quote(zip), &out), readOnly ? 0 : 2);
    EXPECT_EQ(out.find(c.damage) != std::string::npos, !readOnly) << out.substr(out.size() - 300);
    EXPECT_EQ(Run("test " + Quote(zip), &out), readOnly ? 0 : 2);
    EXPECT_EQ(out.find("archive directory damaged") != std::string::npos, !readOnly) << out;
    const std::string before = test::ReadFile(zip);
    test::WriteFile(tmp_ / "new.txt", "new");
    for (const char* mode : {"", "-f ", "-R "}) {
      EXPECT_EQ(Run(std::string("add ") + mode + Quote(zip) + " new.txt", &out), 2) << out;
      EXPECT_NE(out.find(c.damage), std::string::npos) << out;
      EXPECT_EQ(test::ReadFile(zip), before);
    }
    struct stat st;
    ASSERT_EQ(::stat(zip.c_str(), &st), 0);
    EXPECT_TRUE(!readOnly || (st.st_mode & 0777) == 0444) << std::oct << st.st_mode;
  }
  // repair writes what can be saved into a new archive the peers accept.
  std::string out;
  EXPECT_EQ(Run("repair flipped.zip fixed.zip", &out), 0) << out;
  EXPECT_NE(out.find("40 of 40 entries written"), std::string::npos) << out;
  EXPECT_EQ(Run("test fixed.zip", &out), 0) << out;
  EXPECT_EQ(test::RunCommand("unzip -tq " + Quote(tmp_ / "fixed.zip")), 0);
  EXPECT_EQ(Run("repair flipped.zip fixed.zip", &out), 2);  // never over an existing file
}

// Damaged archives read and repaired: what the local headers and whatever
// central records still parse say is listed (never fewer entries than
// unzip lists), tested and extracted; repair writes the entries that decode
// right into a new archive that our test, unzip -t and 7-Zip accept, exits
// with 1 when it left any out and with 2 (no file) when none could be saved.
TEST_F(IntegrityTest, DamagedArchivesAreReadAsFarAsTheyGoAndRepaired) {
  ASSERT_EQ(test::RunCommand("cd " + Quote(tmp_.path()) + " && python3 -c " +
                             Quote("import zipfile, io\n"
                                   "def fill(z):\n"
                                   "  for i in range(17):\n"
                                   "    z.writestr('f%02d.txt' % i, ''.join('line %d of %d\\n' % (j, i) for j in range(40 + 9 * i)))\n"
                                   "with zipfile.ZipFile('src.zip', 'w', zipfile.ZIP_DEFLATED) as z: fill(z)\n"
                                   "class Pipe(io.RawIOBase):\n"
                                   "  def __init__(self, f): self.f = f\n"
                                   "  def writable(self): return True\n"
                                   "  def write(self, b): return self.f.write(b)\n"
                                   "with open('stream.zip', 'wb') as f:\n"
                                   "  with zipfile.ZipFile(Pipe(f), 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                   "    for i in range(17):\n"
                                   "      with z.open('f%02d.txt' % i, 'w') as e: e.write(b'streamed %d ' % i * 50)\n")),
            0);
  const std::string src = test::ReadFile(tmp_ / "src.zip");
  const std::string stream = test::ReadFile(tmp_ / "stream.zip");
  const size_t cd = src.find("PK\x01\x02");
  std::string overwritten = src;
  const size_t second = src.find("PK\x03\x04", 4);
  for (size_t i = 0; i < 60; ++i) overwritten[second + 80 + i] = 'X';                // entry 2's data
  for (size_t i = 0; i < 60; ++i) overwritten[cd + (src.size() - cd) / 2 + i] = 'X';  // the directory
  std::string headerLost = src.substr(0, cd);
  size_t fifth = 0;
  for (int i = 0; i < 5; ++i) fifth = headerLost.find("PK\x03\x04", fifth + (i ? 4 : 0));
  headerLost[fifth + 2] = 'x';
  // The second central record overwritten with zeros but its signature: it
  // names the first local header too, with no name and no data.
  std::string zeroed = src;
  const size_t secondRecord = src.find("PK\x01\x02", cd + 4);
  for (size_t i = 4; i < 46; ++i) zeroed[secondRecord + i] = '\0';
  std::vector<TEntrySpec> mixed = {{"plain1.txt", "plain one"}, {"locked.txt", "locked data"}, {"plain2.txt", "two"}};
  mixed[1].password = "pw";
  const std::string encrypted = BuildZip(mixed);
  const struct {
    const char* name;
    std::string bytes;
    int listed;         // entries list shows
    const char* tested; // what test says
    const char* repairArgs;
    int repairStatus;
    const char* written;
  } rows[] = {
      {"truncated.zip", src.substr(0, src.size() - 300), 17, "17 entries OK, 0 failed", "", 0, "17 of 17 entries"},
      {"overwritten.zip", overwritten, 17, "16 entries OK, 1 failed", "", 1, "16 of 17 entries"},
      {"headerlost.zip", headerLost, 16, "16 entries OK, 0 failed", "", 0, "16 of 16 entries"},
      {"zeroed.zip", zeroed, 17, "17 entries OK, 0 failed", "", 0, "17 of 17 entries"},
      {"stream.zip", stream.substr(0, stream.find("PK\x01\x02")), 17, "17 entries OK, 0 failed", "", 0,
       "17 of 17 entries"},
      {"locked.zip", encrypted.substr(0, encrypted.find("PK\x01\x02")), 3, "2 entries OK, 1 failed", "", 1,
       "2 of 3 entries"},
      {"locked.zip", encrypted.substr(0, encrypted.find("PK\x01\x02")), 3, "2 entries OK, 1 failed", "-P pw ", 0,
       "3 of 3 entries"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " " + row.repairArgs);
    Write(row.name, row.bytes);
    std::string out, peers;
    EXPECT_EQ(Run(std::string("list ") + row.name, &out), 2) << out;
    EXPECT_NE(out.find("  " + std::to_string(row.listed) + " files\n"), std::string::npos) << out;
    // Never fewer than unzip finds.
    test::RunCommand("unzip -Z1 " + Quote(tmp_ / row.name) + " 2>/dev/null | wc -l", &peers);
    EXPECT_GE(row.listed, std::atoi(peers.c_str())) << peers;
    EXPECT_EQ(Run(std::string("test ") + row.name, &out), 2) << out;
    EXPECT_NE(out.find(row.tested), std::string::npos) << out;
    std::filesystem::remove(tmp_ / "fixed.zip");
    EXPECT_EQ(Run(std::string("repair ") + row.repairArgs + row.name + " fixed.zip", &out), row.repairStatus) << out;
    EXPECT_NE(out.find(row.written), std::string::npos) << out;
    EXPECT_EQ(Run(std::string("test ") + (*row.repairArgs ? "-P pw " : "") + "fixed.zip", &out), 0) << out;
    EXPECT_EQ(test::RunCommand("unzip -tqq " + std::string(*row.repairArgs ? "-P pw " : "") +
                               Quote(tmp_ / "fixed.zip") + " >/dev/null 2>&1"),
              0);
    EXPECT_EQ(test::RunCommand("7zz t " + std::string(*row.repairArgs ? "-ppw " : "") + Quote(tmp_ / "fixed.zip") +
                               " >/dev/null 2>&1"),
              0);
  }
  // An entry without a name is tested, but no tool could give it a file:
  // repair leaves it out.
  std::string out;
  Write("nameless.zip", BuildZip({{"a.txt", "one"}, {"", "no name"}, {"b.txt", "two"}}));
  EXPECT_EQ(Run("repair nameless.zip fixed2.zip", &out), 1) << out;
  EXPECT_NE(out.find("2 of 3 entries written"), std::string::npos) << out;
  EXPECT_NE(out.find("entry without a name"), std::string::npos) << out;
  EXPECT_EQ(test::RunCommand("unzip -tqq " + Quote(tmp_ / "fixed2.zip") + " >/dev/null 2>&1"), 0);
  // Nothing that can be saved: no new archive.
  Write("noise.zip", RandomBytes(5000, 3));
  EXPECT_EQ(Run("repair noise.zip nothing.zip", &out), 2) << out;
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "nothing.zip"));
  EXPECT_EQ(out.find("written to"), std::string::npos) << out;
}

// The records of an archive: its local part and one central record per
// entry, from a local header already written at `offset` in `body`.
std::string CentralFor(const std::string& body, uint32_t offset, const std::string& name) {
  std::string c;
  PutLe(c, {{0x02014B50, 4}, {20, 2}});
  c += body.substr(offset + 4, 22);  // version needed .. uncompressed size
  PutLe(c, {{static_cast<uint32_t>(name.size()), 2}, {0, 4}, {0, 4}, {0x20, 4}, {offset, 4}});
  return c + name;
}

std::string WithDirectory(const std::string& body, const std::string& central, uint32_t entries) {
  std::string zip = body + central;
  PutLe(zip, {{0x06054B50, 4}, {0, 4}, {entries, 2}, {entries, 2}, {static_cast<uint32_t>(central.size()), 4},
              {static_cast<uint32_t>(body.size()), 4}, {0, 2}});
  return zip;
}

std::string LocalHeader(const std::string& name, uint32_t crc, uint32_t csize, uint32_t usize) {
  std::string h;
  PutLe(h, {{0x04034B50, 4}, {20, 2}, {0, 2}, {8, 2}, {0x1AEF6000, 4}, {crc, 4}, {csize, 4}, {usize, 4},
            {static_cast<uint32_t>(name.size()), 2}, {0, 2}});
  return h + name;
}

// An archive of one good entry and 250 entries b1000..b1249 that share one
// deflate stream of 1 MB: either through stored blocks that quote the next
// local header (each entry decodes to the headers after it plus the 1 MB),
// or as 250 central records of one local header.
std::string OverlapBomb(bool sameOffset) {
  const std::string good = BuildZip({{"good.txt", "still here"}});
  const size_t goodCd = good.find("PK\x01\x02");
  std::string body = good.substr(0, goodCd);
  std::string central = good.substr(goodCd, good.find("PK\x05\x06") - goodCd);
  const int headers = sameOffset ? 1 : 250;
  const std::string kernelData(1 << 20, '\0');
  // From the last header back: the data of header i quotes header i+1 in a
  // stored block and then is the data of header i+1.
  std::vector<std::string> local(headers), data(headers), output(headers), block(headers);
  for (int i = headers - 1; i >= 0; --i) {
    if (i == headers - 1) {
      data[i] = testing::RawDeflate(kernelData);
      output[i] = kernelData;
    } else {
      const uint32_t n = static_cast<uint32_t>(local[i + 1].size());
      block[i].assign(1, '\0');  // a stored block, not the last
      PutLe(block[i], {{n, 2}, {~n & 0xFFFF, 2}});
      data[i] = block[i] + local[i + 1] + data[i + 1];
      output[i] = local[i + 1] + output[i + 1];
    }
    local[i] = LocalHeader(std::string("b") += std::to_string(1000 + i), ZCrc(output[i]),
                           static_cast<uint32_t>(data[i].size()),
                           static_cast<uint32_t>(output[i].size()));
  }
  std::vector<uint32_t> offsets;
  for (int i = 0; i < headers; ++i) {
    offsets.push_back(static_cast<uint32_t>(body.size()));
    body += local[i] + block[i];
  }
  body += data[headers - 1];
  for (int i = 0; i < 250; ++i)
    central += CentralFor(body, offsets[sameOffset ? 0 : i], std::string("b") += std::to_string(1000 + i));
  return WithDirectory(body, central, 251);
}

// 3. Overlapping data is refused; the entries beside it stay extractable.
TEST_F(IntegrityTest, OverlappingEntriesAreRefusedAndTheRestExtracted) {
  for (bool sameOffset : {false, true}) {
    SCOPED_TRACE(sameOffset ? "one local header" : "quoted overlap");
    Write("bomb.zip", OverlapBomb(sameOffset));
    std::string out;
    const std::string dest = tmp_ / (sameOffset ? "same" : "quoted");
    EXPECT_EQ(Run("extract -d " + Quote(dest) + " bomb.zip", &out), 2) << out.substr(0, 400);
    EXPECT_NE(out.find("250 entries overlap the data of other entries"), std::string::npos);
    EXPECT_NE(out.find("b1249: its data overlaps another entry"), std::string::npos);
    EXPECT_EQ(test::ReadFile(dest + "/good.txt"), "still here");
    uint64_t written = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dest))
      if (e.is_regular_file()) written += e.file_size();
    EXPECT_LT(written, 1u << 20);
    EXPECT_EQ(Run("test bomb.zip", &out), 2);
    EXPECT_NE(out.find("1 entries OK, 250 failed"), std::string::npos) << out.substr(out.size() - 200);
  }
}

// 5. A killed extraction leaves no partial file behind.
TEST_F(IntegrityTest, KilledExtractionLeavesNothing) {
  // 512 MiB of zeros, deflated.
  ASSERT_EQ(test::RunCommand("cd " + Quote(tmp_.path()) + " && python3 -c " +
                             Quote("import zipfile\n"
                                   "with zipfile.ZipFile('big.zip','w',zipfile.ZIP_DEFLATED,compresslevel=1) as z:\n"
                                   "  with z.open('big.bin','w') as f:\n"
                                   "    for i in range(512): f.write(bytes(1<<20))\n")),
            0);
  const std::string dest = tmp_ / "dest";
  test::MakeDir(dest);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execl(tool_.c_str(), "vantrel-zip", "extract", "-d", dest.c_str(),
            (tmp_ / "big.zip").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until the child has written data into its output, then kill it.
  bool wrote = false;
  for (int i = 0; i < 5000 && !wrote; ++i) {
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
      struct stat st;
      if (::stat(fd.path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > (1 << 20) &&
          std::filesystem::read_symlink(fd.path(), ec).string().rfind(dest, 0) == 0)
        wrote = true;
    }
    if (!wrote) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(wrote);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(std::filesystem::is_empty(dest));
}

// 7. Names reach the terminal with their control characters escaped; the
// file system gets the bytes.
TEST_F(IntegrityTest, HostileNamesAreEscapedOnTheTerminal) {
  const std::string name = "a\x1b[2Jb\x07\r\nfake.txt\xc2\x9b";  // ends in U+009B (CSI)
  TEntrySpec hostile{name, "x"};
  hostile.flags = 0x0800;  // UTF-8
  Write("n.zip", BuildZip({hostile, {std::string("nul\0.txt", 8), "y"}}));
  std::string out;
  EXPECT_EQ(Run("list n.zip", &out), 0);
  EXPECT_NE(out.find("a\\033[2Jb\\a\\r\\nfake.txt\\u009b\n"), std::string::npos) << out;
  EXPECT_NE(out.find("nul\\x00.txt\n"), std::string::npos) << out;
  for (char c : {'\x1b', '\x07', '\r', '\0'}) EXPECT_EQ(out.find(c), std::string::npos);
  EXPECT_EQ(Run("extract -d out n.zip", &out), 0) << out;
  EXPECT_EQ(test::ReadFile(tmp_ / ("out/" + name)), "x");
}

// Symbolic links are restored as links; nothing is ever written through one.
TEST_F(IntegrityTest, StoredLinksAreRestoredAndNeverFollowed) {
  auto link = [](const std::string& name, const std::string& target) {
    TEntrySpec e{name, target};
    e.versionMadeBy = (3 << 8) | 20;
    e.external = (0120777u << 16) | 0x20;
    return e;
  };
  const std::string outside = tmp_ / "outside";
  test::MakeDir(outside);
  Write("l.zip", BuildZip({{"t.txt", "target"}, link("l.txt", "t.txt"), link("dir", outside),
                           {"dir/evil.txt", "no"}}));
  std::string out;
  EXPECT_EQ(Run("extract -d out l.zip", &out), 1) << out;
  EXPECT_EQ(std::filesystem::read_symlink(tmp_ / "out/l.txt").string(), "t.txt");
  EXPECT_EQ(test::ReadFile(tmp_ / "out/l.txt"), "target");
  EXPECT_TRUE(std::filesystem::is_symlink(tmp_ / "out/dir"));
  EXPECT_TRUE(std::filesystem::is_empty(outside));
  EXPECT_NE(out.find("skipped (cannot create)"), std::string::npos) << out;
  EXPECT_EQ(Run("test l.zip", &out), 0) << out;
}

// 9. A file that grows while it is added is named in a warning; the archive
// describes what was read and stays valid.
TEST_F(IntegrityTest, FileChangedWhileAddedIsReported) {
  const std::string file = tmp_ / "grow.txt";
  test::WriteFile(file, std::string(100000, 'g'));
  TZipWriter w;
  w.PackLevel = 0;
  w.SetZipName(tmp_ / "g.zip");
  w.AddFile(file);
  bool grown = false;
  w.OnFilePercentDone = [&](TZipReader*, int) {
    if (!grown) test::WriteFile(file, std::string(200000, 'h'));
    grown = true;
  };
  std::vector<std::string> warnings;
  w.OnFileChanged = [&](TZipWriter*, const std::string& f, const std::string& what) { warnings.push_back(f + ": " + what); };
  EXPECT_EQ(w.Zip(), 1);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].rfind(file + ": size changed while it was read: 100000 bytes when opened", 0), 0u) << warnings[0];
  EXPECT_EQ(test::RunCommand("unzip -tq " + Quote(tmp_ / "g.zip")), 0);
}

TEST(FindOverlaps, MarksBothSidesOfEveryOverlap) {
  // Each row: ranges of disk 0 (and 1), the directory's start on disk 0, and
  // which ranges are refused. Touching is no overlap; one byte is.
  const struct {
    const char* what;
    std::vector<TDataRange> ranges;
    uint64_t limit;
    std::vector<bool> refused;
  } rows[] = {
      {"contained, touching, past the limit, another disk",
       {{0, 10, 20}, {0, 0, 10}, {0, 5, 8}, {0, 30, 40}, {1, 0, 50}, {1, 50, 60}}, 35,
       {false, true, true, true, false, false}},
      {"adjacent", {{0, 0, 10}, {0, 10, 20}}, 20, {false, false}},
      {"one byte over", {{0, 0, 10}, {0, 9, 20}}, 20, {true, true}},
      {"one byte over a range that is not the last", {{0, 0, 30}, {0, 5, 10}, {0, 29, 40}}, 40,
       {true, true, true}},
      {"ending where the directory starts", {{0, 0, 10}}, 10, {false}},
      {"one byte into the directory", {{0, 0, 11}}, 10, {true}},
  };
  for (const auto& row : rows) EXPECT_EQ(FindOverlaps(row.ranges, 0, row.limit), row.refused) << row.what;
}

// The same bounds in archives: entries whose bytes (header, name, data)
// touch are extracted; one byte shared with the next entry or with the
// directory costs the entries that share it, and only those.
TEST_F(IntegrityTest, OverlapBoundsInArchives) {
  // A stored entry; a data ending in "P" can share that byte with the
  // record after it, whose signature begins with it.
  auto local = [](const std::string& name, const std::string& data) {
    std::string h;
    PutLe(h, {{0x04034B50, 4}, {10, 2}, {0, 2}, {0, 2}, {0x1AEF6000, 4}, {ZCrc(data), 4},
              {static_cast<uint32_t>(data.size()), 4}, {static_cast<uint32_t>(data.size()), 4},
              {static_cast<uint32_t>(name.size()), 2}, {0, 2}});
    return h + name + data;
  };
  const struct {
    const char* what;
    bool firstShares, lastShares;  // a byte with the second entry; with the directory
    int exitStatus;
    const char* says;
  } rows[] = {
      {"adjacent", false, false, 0, "3 entries OK, 0 failed"},
      {"one byte over the next entry", true, false, 2, "1 entries OK, 2 failed"},
      {"one byte into the directory", false, true, 2, "2 entries OK, 1 failed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string one = local("one.txt", row.firstShares ? "first P" : "first");
    const std::string two = local("two.txt", "second");
    const std::string three = local("three.txt", row.lastShares ? "third P" : "third");
    std::string body = row.firstShares ? one.substr(0, one.size() - 1) : one;
    const uint32_t second = static_cast<uint32_t>(body.size());
    body += two;
    const uint32_t third = static_cast<uint32_t>(body.size());
    body += row.lastShares ? three.substr(0, three.size() - 1) : three;
    const std::string central = CentralFor(body, 0, "one.txt") + CentralFor(body, second, "two.txt") +
                                CentralFor(body, third, "three.txt");
    Write("o.zip", WithDirectory(body, central, 3));
    std::string out;
    EXPECT_EQ(Run("test o.zip", &out), row.exitStatus) << out;
    EXPECT_NE(out.find(row.says), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace vantrel::zip
