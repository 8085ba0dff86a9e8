// Times as the instant they stand for (NTFS and extended timestamp fields,
// read and written), self-extracting archives, and a test that creates
// nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

using testing::BuildZip;
using testing::TEntrySpec;

// 2021-03-04 05:06:07 UTC.
constexpr int64_t kInstant = 1614834367;

std::string ExtTime(uint8_t flags, std::vector<uint32_t> times) {
  std::string f;
  testing::Put16(f, kExtTimeExtraId);
  testing::Put16(f, static_cast<uint16_t>(1 + 4 * times.size()));
  f += static_cast<char>(flags);
  for (uint32_t t : times) testing::Put32(f, t);
  return f;
}

std::string Ntfs(int64_t modifiedNs, int64_t accessedNs) {
  auto filetime = [](int64_t ns) { return static_cast<uint64_t>(ns / 100 + 116444736000000000LL); };
  std::string f;
  testing::Put16(f, kNtfsExtraId);
  testing::Put16(f, 32);
  testing::Put32(f, 0);
  testing::Put16(f, 1);
  testing::Put16(f, 24);
  for (uint64_t v : {filetime(modifiedNs), filetime(accessedNs), filetime(modifiedNs)}) {
    testing::Put32(f, static_cast<uint32_t>(v));
    testing::Put32(f, static_cast<uint32_t>(v >> 32));
  }
  return f;
}

TEST(ExtraTimes, ParsedFromEitherFieldAndNtfsWins) {
  const int64_t s = 1000000000;
  const struct {
    const char* what;
    std::string extra;
    int64_t modified, accessed;
  } cases[] = {
      {"none", "", kNoExactTime, kNoExactTime},
      {"UT modification only", ExtTime(1, {kInstant}), kInstant * s, kNoExactTime},
      {"UT both (local header)", ExtTime(3, {kInstant, kInstant + 60}), kInstant * s, (kInstant + 60) * s},
      {"UT flags name a time the field lacks", ExtTime(3, {kInstant}), kInstant * s, kNoExactTime},
      {"UT access only", ExtTime(2, {kInstant}), kNoExactTime, kInstant * s},
      {"UT past 2038 (unsigned)", ExtTime(1, {0x90000000u}), int64_t{0x90000000} * s, kNoExactTime},
      {"NTFS to 100 ns", Ntfs(kInstant * s + 123456700, kInstant * s), kInstant * s + 123456700, kInstant * s},
      {"NTFS wins over UT either way round", ExtTime(1, {1}) + Ntfs(kInstant * s, kInstant * s), kInstant * s,
       kInstant * s},
      {"NTFS before UT", Ntfs(kInstant * s, kInstant * s) + ExtTime(1, {1}), kInstant * s, kInstant * s},
      {"a field running past the end", ExtTime(1, {kInstant}).substr(0, 7), kNoExactTime, kNoExactTime},
  };
  for (const auto& c : cases) {
    const TExtraTimes t = ReadExtraTimes(reinterpret_cast<const uint8_t*>(c.extra.data()), c.extra.size());
    EXPECT_EQ(t.modified, c.modified) << c.what;
    EXPECT_EQ(t.accessed, c.accessed) << c.what;
  }
  EXPECT_EQ(ExtTimeExtra(-1), "");
  EXPECT_EQ(ExtTimeExtra(int64_t{0x100000000} * s), "");
  EXPECT_EQ(ExtTimeExtra(kInstant * s + 5), ExtTime(1, {kInstant}));
}

class ZipTimesTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = tmp_ / name;
    test::WriteFile(path, bytes);
    return path;
  }
  // Extracts everything of `zip` into `dir`; the number extracted.
  int Extract(const std::string& zip, const std::string& dir) {
    TZipReader r;
    r.SetZipName(zip);
    r.SetDestDir(dir);
    r.DoAll = r.RecreateDirs = true;
    r.OverwriteMode = TUZOverwriteMode::Always;
    return r.UnZip();
  }
  static struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
  }
  test::TempDir tmp_;
};

TEST_F(ZipTimesTest, ExtractionRestoresTheInstantOfTheFields) {
  // The DOS time says 1993, local: every field gives the same 2021 instant
  // whatever the zone, the local header's access time where it has one.
  std::vector<TEntrySpec> entries(4);
  entries[0] = {"ut.txt", "u"};
  entries[0].centralExtra = ExtTime(3, {kInstant});
  entries[0].localExtra = ExtTime(3, {kInstant, kInstant - 3600});
  entries[1] = {"ntfs.txt", "n"};
  entries[1].centralExtra = entries[1].localExtra = Ntfs(kInstant * 1000000000 + 500000000, kInstant * 1000000000);
  entries[2] = {"local-only.txt", "l"};
  entries[2].localExtra = ExtTime(1, {kInstant});
  entries[3] = {"dos.txt", "d"};
  const std::string zip = Write("t.zip", BuildZip(entries));
  ASSERT_EQ(Extract(zip, tmp_ / "out"), 4);
  const struct {
    const char* name;
    int64_t mtime, mtimeNs, atime;
  } want[] = {{"ut.txt", kInstant, 0, kInstant - 3600},
              {"ntfs.txt", kInstant, 500000000, kInstant},
              {"local-only.txt", kInstant, 0, kInstant},
              {"dos.txt", DosDateTimeToTime(0x1AEF6000), 0, DosDateTimeToTime(0x1AEF6000)}};
  for (const auto& w : want) {
    const struct stat st = Stat(tmp_ / ("out/" + std::string(w.name)));
    EXPECT_EQ(st.st_mtim.tv_sec, w.mtime) << w.name;
    EXPECT_EQ(st.st_mtim.tv_nsec, w.mtimeNs) << w.name;
    EXPECT_EQ(st.st_atim.tv_sec, w.atime) << w.name;
  }
  // The listing shows the same instant.
  TZipReader r;
  r.SetZipName(zip);
  r.ReadZip();
  EXPECT_EQ(r.DateTime(0), kInstant);
  EXPECT_EQ(r.DateTime(1), kInstant);
}

TEST_F(ZipTimesTest, WorkerThreadsRestoreTheSameTimesAsOneThread) {
  // Enough entries of each kind that the workers get some of every kind;
  // deflated, so each one is really decoded on a worker.
  const int64_t s = 1000000000;
  std::vector<TEntrySpec> entries;
  for (int i = 0; i < 6; ++i) {
    const std::string n = std::to_string(i);
    TEntrySpec ut{"ut" + n + ".txt", std::string(3000 + i, 'u')};
    ut.method = 8;
    ut.centralExtra = ExtTime(3, {static_cast<uint32_t>(kInstant + i)});
    ut.localExtra = ExtTime(3, {static_cast<uint32_t>(kInstant + i), static_cast<uint32_t>(kInstant - 3600 - i)});
    TEntrySpec ntfs{"ntfs" + n + ".txt", std::string(3000 + i, 'n')};
    ntfs.method = 8;
    ntfs.centralExtra = ntfs.localExtra = Ntfs((kInstant + i) * s + 250000000, (kInstant - 7200) * s);
    TEntrySpec dos{"dos" + n + ".txt", std::string(3000 + i, 'd')};
    dos.method = 8;
    entries.push_back(ut);
    entries.push_back(ntfs);
    entries.push_back(dos);
  }
  const std::string zip = Write("many.zip", BuildZip(entries));
  const int64_t dos = DosDateTimeToTime(0x1AEF6000);
  for (const int threads : {1, 2, 4, 0}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    const std::string out = tmp_ / ("out" + std::to_string(threads));
    TZipReader r;
    r.SetZipName(zip);
    r.SetDestDir(out);
    r.DoAll = r.RecreateDirs = true;
    r.Threads = threads;
    ASSERT_EQ(r.UnZip(), static_cast<int>(entries.size()));
    for (int i = 0; i < 6; ++i) {
      const std::string n = std::to_string(i);
      const struct {
        std::string name;
        int64_t mtime, mtimeNs, atime;
      } want[] = {{"ut" + n + ".txt", kInstant + i, 0, kInstant - 3600 - i},
                  {"ntfs" + n + ".txt", kInstant + i, 250000000, kInstant - 7200},
                  {"dos" + n + ".txt", dos, 0, dos}};
      for (const auto& w : want) {
        const struct stat st = Stat(out + "/" + w.name);
        EXPECT_EQ(st.st_mtim.tv_sec, w.mtime) << w.name;
        EXPECT_EQ(st.st_mtim.tv_nsec, w.mtimeNs) << w.name;
        EXPECT_EQ(st.st_atim.tv_sec, w.atime) << w.name;
      }
    }
  }
}

TEST_F(ZipTimesTest, SevenZipsNtfsTimesAreRestoredAsSevenZipRestoresThem) {
  const std::string src = tmp_ / "src";
  test::MakeDir(src);
  test::WriteFile(src + "/a.txt", "a");
  const std::string cmd = "cd '" + src + "' && touch -d '2020-02-03 04:05:06.789 UTC' a.txt && "
                          "TZ=Asia/Shanghai 7zz a -tzip -mtc=on x.zip a.txt >/dev/null && "
                          "TZ=America/New_York 7zz x -o../peer x.zip >/dev/null";
  ASSERT_EQ(test::RunCommand(cmd), 0);
  ASSERT_EQ(Extract(src + "/x.zip", tmp_ / "ours"), 1);
  const struct stat ours = Stat(tmp_ / "ours/a.txt"), peer = Stat(tmp_ / "peer/a.txt");
  EXPECT_EQ(ours.st_mtim.tv_sec, peer.st_mtim.tv_sec);
  EXPECT_EQ(ours.st_mtim.tv_nsec, peer.st_mtim.tv_nsec);
}

// Archives whose exact times come from the NTFS field (7-Zip) or the
// extended timestamp (Info-ZIP zip, Python): made in one zone, extracted in
// another, each file gets the time the peer gives it: 7zz x, and unzip for a
// field in the local header alone (7zz then restores the DOS time; unzip and
// we the field's instant, which is the time the archive's maker meant).
TEST_F(ZipTimesTest, ModificationTimesEqualThePeersInAnotherZone) {
  const std::string src = tmp_ / "src";
  test::MakeDir(src);
  test::WriteFile(src + "/a.txt", "a");
  test::WriteFile(src + "/b.txt", "b");
  ASSERT_EQ(test::RunCommand("cd '" + src + "' && touch -d '2020-02-03 04:05:07.25 UTC' a.txt && "
                             "touch -d '1999-12-31 23:59:59 UTC' b.txt"),
            0);
  // Both entries with a field; in the central record too unless told.
  const auto python = [](bool central) {
    return std::string("python3 -c \"import struct, zipfile\n"
                       "with zipfile.ZipFile('x.zip', 'w') as z:\n"
                       "  for n, t in (('a.txt', 1614834367), ('b.txt', 946684799)):\n"
                       "    i = zipfile.ZipInfo(n, (1993, 7, 15, 12, 0, 0)); i.create_system = 0\n"
                       "    i.extra = struct.pack('<HHBI', 0x5455, 5, 1, t)\n"
                       "    z.writestr(i, n)\n") +
           (central ? "" : "    i.extra = b''\n") + "\"";
  };
  const std::string sevenZip = "7zz x -y -o'%s' x.zip >/dev/null", unzip = "unzip -qo x.zip -d '%s'";
  const struct {
    const char* what;
    std::string make;  // run in src, writes x.zip
    std::string peer;  // run in src, extracts into %s
  } cases[] = {
      {"7zz NTFS times", "7zz a -tzip -mtc=on x.zip a.txt b.txt >/dev/null", sevenZip},
      {"Info-ZIP extended timestamp", "zip -q x.zip a.txt b.txt", sevenZip},
      {"Python, extended timestamp in both records", python(true), sevenZip},
      {"Python, extended timestamp in the local header alone", python(false), unzip},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(src + "/x.zip");
    ASSERT_EQ(test::RunCommand("cd '" + src + "' && TZ=Asia/Shanghai " + c.make), 0);
    const std::string peer = tmp_ / "peer", ours = tmp_ / "ours";
    std::filesystem::remove_all(peer);
    std::filesystem::remove_all(ours);
    std::string extract = c.peer;
    extract.replace(extract.find("%s"), 2, peer);
    ASSERT_EQ(test::RunCommand("cd '" + src + "' && TZ=America/New_York " + extract), 0);
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    ::setenv("TZ", "America/New_York", 1);
    ::tzset();
    const int extracted = Extract(src + "/x.zip", ours);
    if (zone) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
    ASSERT_EQ(extracted, 2);
    for (const char* name : {"a.txt", "b.txt"}) {
      const struct stat o = Stat(ours + "/" + name), p = Stat(peer + "/" + name);
      EXPECT_EQ(o.st_mtim.tv_sec, p.st_mtim.tv_sec) << name;
      EXPECT_EQ(o.st_mtim.tv_nsec, p.st_mtim.tv_nsec) << name;
      EXPECT_NE(o.st_mtime, DosDateTimeToTime(0x1AEF6000)) << name << ": the field's time, not the DOS time";
    }
  }
}

TEST_F(ZipTimesTest, OurArchivesCarryUtcSoOtherZonesRestoreTheSameInstant) {
  const std::string src = tmp_ / "src";
  test::MakeDir(src);
  test::WriteFile(src + "/a.txt", "a");
  test::SetMTime(src + "/a.txt", kInstant + 1);  // odd: DOS time cannot hold it
  const char* zone = std::getenv("TZ");
  const std::string saved = zone ? zone : "";
  for (const bool extraTimes : {true, false}) {
    SCOPED_TRACE(extraTimes ? "default" : "-X");
    const std::string zip = tmp_ / (extraTimes ? "utc.zip" : "dos.zip");
    ::setenv("TZ", "Asia/Shanghai", 1);
    ::tzset();
    {
      TZipWriter w;
      w.SetZipName(zip);
      w.SetRootDir(src);
      w.SetRelativePaths(true);
      w.ExtraTimes = extraTimes;
      w.AddFile(src + "/a.txt");
      ASSERT_EQ(w.Zip(), 1);
    }
    std::string info;
    test::RunCommand("zipinfo -v '" + zip + "'", &info);
    EXPECT_EQ(info.find("UT extra field") != std::string::npos, extraTimes);
    // Info-ZIP unzip in another zone: the same instant only with the field.
    const std::string peer = tmp_ / (extraTimes ? "peer-utc" : "peer-dos");
    ASSERT_EQ(test::RunCommand("TZ=America/New_York unzip -qq -o '" + zip + "' -d '" + peer + "'"), 0);
    EXPECT_EQ(Stat(peer + "/a.txt").st_mtime == kInstant + 1, extraTimes);
    ::setenv("TZ", "America/New_York", 1);
    ::tzset();
    const std::string ours = tmp_ / (extraTimes ? "ours-utc" : "ours-dos");
    EXPECT_EQ(Extract(zip, ours), 1);
    EXPECT_EQ(Stat(ours + "/a.txt").st_mtime == kInstant + 1, extraTimes);
  }
  if (zone) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
  ::tzset();
}

TEST_F(ZipTimesTest, SelfExtractingArchivesAreReadAndNotUpdated) {
  const std::string body = BuildZip({{"one.txt", "first"}, {"two.txt", "second"}});
  const std::string stub = "MZ" + std::string(4998, '\x90');
  // zip -A style: the offsets count the stub. Plain concatenation: they
  // do not, and the reader finds the shift from where the directory is.
  const std::string sfx =
      std::filesystem::exists("/usr/bin/unzipsfx") ? test::ReadFile("/usr/bin/unzipsfx") : std::string();
  const std::string adjusted = tmp_ / "adjusted.zip";
  test::WriteFile(adjusted, stub + body);
  ASSERT_EQ(test::RunCommand("zip -qA '" + adjusted + "'"), 0);
  const struct {
    const char* name;
    std::string path;
    int64_t stub;
  } cases[] = {
      {"plain", Write("plain.zip", body), 0},
      {"shifted", Write("setup.exe", stub + body), 5000},
      {"adjusted by zip -A", adjusted, 0},
      // Info-ZIP's own self-extractor program as the stub, where installed.
      {"after unzipsfx", Write("unzipsfx.exe", sfx + body), static_cast<int64_t>(sfx.size())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (sfx.empty() && c.name == std::string("after unzipsfx")) continue;  // not installed
    TZipReader r;
    r.SetZipName(c.path);
    r.ReadZip();
    EXPECT_FALSE(r.Rebuilt());
    EXPECT_TRUE(r.DirectoryReport().Whole()) << r.DirectoryReport().Damage();
    EXPECT_EQ(r.StubSize(), c.stub);
    EXPECT_EQ(r.StubNote().empty(), c.stub == 0);
    const std::string out = tmp_ / (std::string("out-") + c.name);
    EXPECT_EQ(Extract(c.path, out), 2);
    EXPECT_EQ(test::ReadFile(out + "/two.txt"), "second");
  }
  // An update would have to move every offset: the archive is left alone.
  test::WriteFile(tmp_ / "new.txt", "new");
  const std::string before = test::ReadFile(tmp_ / "setup.exe");
  TZipWriter w;
  w.SetZipName(tmp_ / "setup.exe");
  w.SetRootDir(tmp_.path());
  w.SetRelativePaths(true);
  w.AddFile(tmp_ / "new.txt");
  EXPECT_THROW(w.Zip(), EZipError);
  EXPECT_EQ(test::ReadFile(tmp_ / "setup.exe"), before);
}

TEST_F(ZipTimesTest, ATestChecksEntriesThatNoFileCouldBeMadeOf) {
  // An empty name, a name that is only a root, one that climbs out: a test
  // decodes each one (and finds the bad CRC); extraction refuses them.
  std::vector<TEntrySpec> entries = {{"", "nameless data"}, {"/", ""}, {"..", "up"}, {"ok.txt", "fine"}};
  entries[2].crc = 0x12345678;
  const std::string zip = Write("odd.zip", BuildZip(entries));
  for (const bool test : {true, false}) {
    SCOPED_TRACE(test ? "test" : "extract");
    TZipReader r;
    r.SetZipName(zip);
    r.SetDestDir(tmp_ / (test ? "t" : "x"));
    r.DoAll = true;
    r.TestOnly = test;
    std::vector<std::string> events;
    r.OnSkippingFile = [&](TZipReader*, TSkipReason why, const std::string&, int i, bool&) {
      events.push_back("skip " + std::to_string(i) + " " + std::to_string(why));
    };
    r.OnBadCRC = [&](TZipReader*, int32_t, int32_t, int i) { events.push_back("crc " + std::to_string(i)); };
    r.OnEntryError = [&](TZipReader*, int i, const std::string&) { events.push_back("error " + std::to_string(i)); };
    const int done = r.UnZip();
    if (test) {
      EXPECT_EQ(events, std::vector<std::string>{"crc 2"});
      EXPECT_EQ(done, 2);  // the nameless entry and ok.txt; "/" has no data to check
      EXPECT_FALSE(std::filesystem::exists(tmp_ / "t"));
    } else {
      EXPECT_EQ(events.size(), 3u);
      EXPECT_TRUE(std::filesystem::exists(tmp_ / "x/ok.txt"));
    }
  }
}

}  // namespace
}  // namespace vantrel::zip
