// Archives over several volumes: block files and spanned media written by the
// writer, checked by a parser of their own and read back by the reader.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "tests/support/test_support.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using namespace vantrel::test;

// A set read without the engine: the volumes one after the other, the end
// record at the end of the last, every offset relative to its volume.
struct TParsedSet {
  std::vector<size_t> sizes;
  int thisDisk = 0, cdDisk = 0, entriesThisDisk = 0, total = 0;
  uint32_t cdOffset = 0, cdSize = 0;
  std::vector<std::pair<int, uint32_t>> places;  // disk and offset of each entry
  std::string central, end;                      // the records' bytes
};

TParsedSet ParseSet(const std::vector<std::string>& volumes) {
  TParsedSet p;
  std::string all;
  std::vector<size_t> base;
  for (const std::string& v : volumes) {
    base.push_back(all.size());
    all += ReadFile(v);
    p.sizes.push_back(all.size() - base.back());
  }
  const size_t e = all.rfind(std::string("PK\x05\x06", 4));
  EXPECT_GE(e, base.back()) << "end record not on the last volume";
  p.end = all.substr(e);
  p.thisDisk = Le16(all, e + 4), p.cdDisk = Le16(all, e + 6), p.entriesThisDisk = Le16(all, e + 8);
  p.total = Le16(all, e + 10), p.cdSize = Le32(all, e + 12), p.cdOffset = Le32(all, e + 16);
  size_t at = base.at(static_cast<size_t>(p.cdDisk)) + p.cdOffset;
  p.central = all.substr(at, p.cdSize);
  for (int i = 0; i < p.total; ++i) {
    EXPECT_EQ(Le32(all, at), 0x02014B50u);
    const int disk = Le16(all, at + 34);
    const uint32_t off = Le32(all, at + 42);
    p.places.emplace_back(disk, off);
    EXPECT_EQ(Le32(all, base.at(static_cast<size_t>(disk)) + off), 0x04034B50u) << "entry " << i;
    at += 46 + Le16(all, at + 28) + Le16(all, at + 30) + Le16(all, at + 32);
  }
  return p;
}

// A writer whose media have the free space the test gives them.
class TMediaWriter : public TZipWriter {
 public:
  std::map<std::string, int64_t> free;
  int64_t VolumeFreeSpace(const std::string& dir) const override { return free.at(dir); }
};

// Source files a, b, ... of the given sizes in dir/src; stored without
// compression, so that every size below is exact.
void Prepare(TZipWriter& w, const TempDir& dir, const std::vector<size_t>& sizes) {
  fs::create_directories(dir / "src");
  w.SetZipName(dir / "x.zip");
  w.SetRootDir(dir / "src");
  w.SetRelativePaths(true);
  w.PackLevel = 0;
  w.ExtraTimes = false;  // the sizes below are those of records without extra fields
  for (size_t i = 0; i < sizes.size(); ++i) {
    const std::string name = std::string(1, static_cast<char>('a' + i));
    WriteFile(dir / ("src/" + name), RandomBytes(sizes[i], static_cast<unsigned>(i)));
    w.AddFile(dir / ("src/" + name));
  }
}

// Decodes every entry of the set named by `zip` (a volume of it) and compares
// it with its source.
void CheckReadBack(const TempDir& dir, const std::string& zip, size_t entries) {
  TZipReader r;
  r.SetZipName(zip);
  r.ReadZip();
  EXPECT_EQ(static_cast<size_t>(r.Count()), entries);
  const std::string out = dir / "out";
  fs::remove_all(out);
  r.SetDestDir(out);
  r.DoAll = true;
  EXPECT_EQ(static_cast<size_t>(r.UnZip()), entries);
  for (int i = 0; i < r.Count(); ++i)
    EXPECT_EQ(ReadFile(out + "/" + r.Entry(i).Path()), ReadFile(dir / ("src/" + r.Entry(i).Path())));
}

// Every file below dir, relative to it, sorted; the sources left out.
std::vector<std::string> FilesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir.path()))
    if (e.is_regular_file()) {
      const std::string rel = fs::relative(e.path(), dir.path()).string();
      if (rel.rfind("src/", 0) != 0) names.push_back(rel);
    }
  std::sort(names.begin(), names.end());
  return names;
}

using Places = std::vector<std::pair<int, uint32_t>>;

// Block volumes. A header (31 bytes here) moves on when the room left is not
// larger than it; data pieces fill volumes; a central record (47 bytes) or the
// end record (22) moves on when it does not fit.
TEST(ZipVolumes, BlockVolumesFollowTheRoomLeft) {
  struct Case {
    const char* what;
    std::vector<size_t> files;
    int64_t first, block;
    std::vector<size_t> sizes;  // of the volumes
    Places places;
    int cdDisk;
    uint32_t cdOffset;
    int entriesThisDisk;
  } cases[] = {
      {"data over three volumes", {90000, 80000}, 100000, 50000, {100000, 50000, 20178},
       {{0, 0}, {0, 90031}}, 2, 20062, 2},
      {"one volume", {1000}, 100000, 50000, {1100}, {{0, 0}}, 0, 1031, 1},
      {"central record starts the next volume", {1000}, 1041, 1000, {1031, 69}, {{0, 0}}, 1, 0, 1},
      {"header as large as the room left moves", {1000, 10}, 1062, 1000, {1031, 157},
       {{0, 0}, {1, 0}}, 1, 41, 2},
      {"data filling a volume exactly", {969}, 1000, 1000, {1000, 69}, {{0, 0}}, 1, 0, 1},
      {"end record moves alone", {1000}, 1088, 1000, {1078, 22}, {{0, 0}}, 0, 1031, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    TZipWriter w;
    Prepare(w, dir, c.files);
    w.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
    w.MultiZipInfo.FirstBlockSize = c.first;
    w.MultiZipInfo.BlockSize = c.block;
    w.MultiZipInfo.SaveZipInfoOnFirstDisk = true;
    ASSERT_EQ(w.Zip(), static_cast<int>(c.files.size()));

    // .001, .002, ... and the last one under the archive's own name.
    std::vector<std::string> expected;
    for (size_t i = 1; i < c.sizes.size(); ++i) expected.push_back(BlockVolumeName("x.zip", static_cast<int>(i)));
    expected.push_back("x.zip");
    if (c.sizes.size() > 1) expected.push_back("x.zfc");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesIn(dir), expected);
    ASSERT_EQ(w.Volumes().size(), c.sizes.size());
    const TParsedSet p = ParseSet(w.Volumes());
    EXPECT_EQ(p.sizes, c.sizes);
    EXPECT_EQ(p.places, c.places);
    EXPECT_EQ(std::tie(p.thisDisk, p.total, p.entriesThisDisk, p.cdDisk, p.cdOffset),
              std::make_tuple(static_cast<int>(c.sizes.size()) - 1, static_cast<int>(c.files.size()),
                              c.entriesThisDisk, c.cdDisk, c.cdOffset));
    // The configuration file: every central record, then the end record.
    EXPECT_EQ(c.sizes.size() > 1 ? ReadFile(w.ConfigFile()) : p.central + p.end, p.central + p.end);
    CheckReadBack(dir, dir / "x.zip", c.files.size());
  }
}

// A set of three volumes with its .zfc file: read from the first volume (which
// has no end record) through the .zfc; then without the middle volume.
TEST(ZipVolumes, ASetReadsFromItsFirstVolumeAndStopsAtAMissingOne) {
  TempDir dir;
  TZipWriter w;
  Prepare(w, dir, {90000, 80000});
  w.MultiZipInfo = {50000, 100000, 0, true, TMultiMode::mmBlocks};
  w.Zip();
  CheckReadBack(dir, dir / "x.001", 2);
  fs::remove(dir / "x.002");
  TZipReader r;
  r.SetZipName(dir / "x.zip");
  r.SetDestDir(dir / "stop");
  r.DoAll = true;
  std::vector<std::string> errors;
  r.OnEntryError = [&](TZipReader* z, int i, const std::string& m) { errors.push_back(z->Entry(i).Path() + ": " + m); };
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_EQ(errors, std::vector<std::string>{"b: needs volume 2 of 3, x.002, which is missing"});
  EXPECT_EQ(r.MissingVolumes(), std::vector<std::string>{"x.002"});
  // a (whole on the first volume) is out; b (needing the missing one) is not,
  // not even in part.
  EXPECT_EQ(ReadFile(dir / "stop/a"), ReadFile(dir / "src/a"));
  EXPECT_FALSE(fs::exists(dir / "stop/b"));
}

// A run that fails removes every volume it made and leaves the older archive
// of the same name as it was.
TEST(ZipVolumes, AFailedRunLeavesNothingBehind) {
  struct Case {
    const char* what;
    TMultiZipInfo info;
    std::function<void(TMediaWriter&)> setup;
    const char* message;
  } cases[] = {
      {"next disk refused", {0, 0, 0, false, TMultiMode::mmSpan},
       [](TMediaWriter& w) { w.OnGetNextDisk = [](TZipReader*, int, std::string& f) { f.clear(); }; },
       "User canceled Zip operation"},
      {"cancelled while volumes are written", {50000, 50000, 0, true, TMultiMode::mmBlocks},
       [](TMediaWriter& w) {
         w.OnTotalPercentDone = [&w](TZipReader*, int p) { w.CancelOperation = p > 75; };
       },
       "User Aborted Operation"},
      {"volumes too small for a header", {20, 50000, 0, false, TMultiMode::mmBlocks}, nullptr, "cannot hold a record"},
      {"volume size out of range", {0, 100, 0, false, TMultiMode::mmBlocks}, nullptr, "Volume sizes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    TMediaWriter w;
    w.free[dir.path()] = 60000;
    Prepare(w, dir, {49000});
    w.Zip();  // the older archive: one volume
    const std::string old = ReadFile(dir / "x.zip");
    Prepare(w, dir, {49000, 80000, 30000});
    w.MultiZipInfo = c.info;
    if (c.setup) c.setup(w);
    try {
      w.Zip();
      ADD_FAILURE() << "the run did not fail";
    } catch (const EZipError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"x.zip"});
    EXPECT_EQ(ReadFile(dir / "x.zip"), old);
  }
}

// Sets written by vantrel-zip add --split and by Info-ZIP zip -s, listed,
// tested and extracted by vantrel-zip; a missing volume is named.
TEST(ZipVolumes, ToolReadsOurVolumesAndInfoZipSplitArchives) {
  const char* bin = std::getenv("VANTREL_BINARY_DIR");
  const std::string tool = std::string(bin ? bin : ".") + "/vantrel-zip";
  if (!fs::exists(tool)) GTEST_SKIP() << "vantrel-zip is not built";
  TempDir dir;
  WriteFile(dir / "a", RandomBytes(90000, 1));
  WriteFile(dir / "b", RandomBytes(80000, 2));
  auto run = [&](const std::string& command, std::string* out = nullptr) {
    if (out) out->clear();
    return RunCommand("cd " + Quote(dir.path()) + " && " + command + " 2>&1", out);
  };
  const std::string vz = Quote(tool);
  std::string out;
  for (const char* bad : {"--split 0", "--split 5x", "--split 4g", "--first-split 1k"})
    EXPECT_EQ(run(vz + " add " + bad + " bad.zip a"), 2) << bad;
  EXPECT_FALSE(fs::exists(dir / "bad.zip"));

  // The command, what it printed, the archive, the volume taken away at the end.
  const std::string sets[][4] = {
      {vz + " add -0 --split 50k --first-split 100k x.zip a b", "3 volumes: x.001 x.002 x.zip", "x.zip", "x.002"},
      {"zip -q -0 -s 64k s.zip a b", "", "s.zip", "s.z02"},
  };
  for (const auto& [make, says, zip, middle] : sets) {
    SCOPED_TRACE(make);
    ASSERT_EQ(run(make, &out), 0) << out;
    EXPECT_NE(out.find(says), std::string::npos) << out;
    EXPECT_EQ(run(vz + " list " + zip, &out), 0) << out;
    EXPECT_NE(out.find("170000     170000  2 files"), std::string::npos) << out;
    EXPECT_EQ(run(vz + " test " + zip, &out), 0) << out;
    fs::remove_all(dir / "out");
    ASSERT_EQ(run(vz + " extract -d out " + zip, &out), 0) << out;
    for (const char* f : {"a", "b"})
      EXPECT_EQ(ReadFile(dir / ("out/" + std::string(f))), ReadFile(dir / f));
    fs::remove(dir / middle);
    EXPECT_EQ(run(vz + " test " + zip, &out), 2);
    EXPECT_NE(out.find(middle), std::string::npos) << out;
  }
}

// One volume missing (ours and zip -s sets; the first, a middle one, the
// last): every entry wholly on the volumes that are there comes out, every
// entry that needs the missing one is named with the volume's own file, and
// test and extract end with a summary and exit status 2.
TEST(ZipVolumes, AMissingVolumeCostsOnlyTheEntriesThatNeedIt) {
  const char* bin = std::getenv("VANTREL_BINARY_DIR");
  const std::string tool = std::string(bin ? bin : ".") + "/vantrel-zip";
  if (!fs::exists(tool)) GTEST_SKIP() << "vantrel-zip is not built";
  TempDir dir;
  // a on the first volume, b from the first to the second, c from the
  // second to the third, d on the third (volumes of 64 KiB).
  const std::map<std::string, size_t> sizes = {{"a", 1000}, {"b", 90000}, {"c", 80000}, {"d", 1000}};
  for (const auto& [name, size] : sizes) WriteFile(dir / name, RandomBytes(size, static_cast<unsigned>(size)));
  auto run = [&](const std::string& command, std::string* out) {
    out->clear();
    return RunCommand("cd " + Quote(dir.path()) + " && " + command + " 2>&1", out);
  };
  const std::string vz = Quote(tool);
  const struct {
    const char* make;      // the command that writes the set
    const char* zip;       // its last volume
    const char* missing;   // the volume taken away
    const char* needs;     // what each entry that needs it says
    std::vector<std::string> out;  // the files that come out
  } rows[] = {
      {"add -0 --split 64k x.zip a b c d", "x.zip", "x.001", "needs volume 1 of 3, x.001, which is missing", {"c", "d"}},
      {"add -0 --split 64k x.zip a b c d", "x.zip", "x.002", "needs volume 2 of 3, x.002, which is missing", {"a", "d"}},
      {"zip -q -0 -s 64k s.zip a b c d", "s.zip", "s.z01", "needs volume 1 of 3, s.z01, which is missing", {"c", "d"}},
      {"zip -q -0 -s 64k s.zip a b c d", "s.zip", "s.z02", "needs volume 2 of 3, s.z02, which is missing", {"a", "d"}},
      // Two volumes: the first missing leaves no other volume to tell the
      // set's naming by.
      {"add -0 --split 64k y.zip a b", "y.zip", "y.001", "needs volume 1 of 2, y.001, which is missing", {}},
      {"zip -q -0 -s 64k t.zip a b", "t.zip", "t.z01", "needs volume 1 of 2, t.z01, which is missing", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.make) + " without " + row.missing);
    std::string out;
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename().string().size() > 1) fs::remove_all(e.path());
    const std::string make = std::string(row.make).rfind("add", 0) == 0 ? vz + " " + row.make : row.make;
    ASSERT_EQ(run(make, &out), 0) << out;
    fs::remove(dir / row.missing);
    const size_t failed = std::string(row.make).find(" c d") != std::string::npos ? 2 : 2 - row.out.size();
    EXPECT_EQ(run(vz + " test " + row.zip, &out), 2) << out;
    EXPECT_NE(out.find(std::to_string(row.out.size()) + " entries OK, " + std::to_string(failed) +
                       " failed, missing volume " + row.missing),
              std::string::npos)
        << out;
    EXPECT_EQ(run(vz + " extract -d out " + row.zip, &out), 2) << out;
    EXPECT_NE(out.find(std::string(": ") + row.needs), std::string::npos) << out;
    for (const auto& [name, size] : sizes) {
      const bool expected = std::find(row.out.begin(), row.out.end(), name) != row.out.end();
      EXPECT_EQ(fs::exists(dir / ("out/" + name)), expected) << name;
      if (expected) { EXPECT_EQ(ReadFile(dir / ("out/" + name)), ReadFile(dir / name)); }
    }
  }
  // The last volume is the archive: without it there is nothing to read
  // under its name, and another volume read on its own says what is gone and
  // gives the entries it holds whole.
  std::string out;
  EXPECT_EQ(run(vz + " add -0 --split 64k z.zip a b c d", &out), 0) << out;
  fs::remove(dir / "z.zip");
  EXPECT_EQ(run(vz + " test z.zip", &out), 2);
  EXPECT_NE(out.find("z.zip"), std::string::npos) << out;
  const struct {
    const char* volume;
    const char* says;
  } alone[] = {
      {"z.001", "1 entries OK, 1 failed"},  // a whole, b running off its end
      {"z.002", "0 entries OK, 1 failed"},  // c running off its end
  };
  for (const auto& row : alone) {
    SCOPED_TRACE(row.volume);
    EXPECT_EQ(run(vz + " test " + row.volume, &out), 2);
    EXPECT_NE(out.find("a volume of a split archive whose last volume, \"z.zip\", is missing"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(row.says), std::string::npos) << out;
  }
}

// The files of a directory that anyone sees (names not starting with "."),
// and the hidden ones.
std::vector<std::string> VisibleFiles(const std::string& dir, bool hidden = false) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if ((n[0] == '.') == hidden) names.push_back(n);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A split run killed at any moment leaves the old archive (none, or a single
// file) or the complete new set under the set's names, never a part of it
// and never a visible temporary; what it left hidden goes with the next run.
TEST(ZipVolumes, AKilledSplitRunLeavesTheOldOrTheNewSet) {
  const char* bin = std::getenv("VANTREL_BINARY_DIR");
  const std::string tool = std::string(bin ? bin : ".") + "/vantrel-zip";
  if (!fs::exists(tool)) GTEST_SKIP() << "vantrel-zip is not built";
  TempDir dir;
  fs::create_directories(dir / "work");
  fs::create_directories(dir / "data");
  for (int i = 0; i < 8; ++i)
    WriteFile(dir / ("data/f" + std::to_string(i)), RandomBytes(1 << 20, static_cast<unsigned>(i)));
  WriteFile(dir / "old.txt", "the old archive");
  const std::string work = dir / "work";
  auto run = [&](const std::string& args) {
    return RunCommand("cd " + Quote(work) + " && " + Quote(tool) + " " + args + " >/dev/null 2>&1");
  };
  auto start = [&]() {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(work.c_str()) != 0) ::_exit(126);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(tool.c_str(), "vantrel-zip", "add", "-0", "--split", "512k", "k.zip", "../data",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  };
  // How long a whole run takes here.
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(run("add -0 --split 512k k.zip ../data"), 0);
  const auto whole = std::chrono::steady_clock::now() - t0;
  const std::vector<std::string> newSet = VisibleFiles(work);
  ASSERT_GT(newSet.size(), 10u);  // k.001 ... and k.zip
  for (int moment = 0; moment < 20; ++moment) {
    const bool withOld = moment % 2 == 1;
    SCOPED_TRACE("moment " + std::to_string(moment) + (withOld ? " over an old archive" : ""));
    for (const std::string& n : VisibleFiles(work)) fs::remove(work + "/" + n);
    if (withOld) { ASSERT_EQ(run("add k.zip ../old.txt"), 0); }
    const std::string old = withOld ? ReadFile(work + "/k.zip") : std::string();
    const pid_t pid = start();
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(whole * (moment / 2 + 1) / 11);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::vector<std::string> seen = VisibleFiles(work);
    const std::vector<std::string> oldNames = withOld ? std::vector<std::string>{"k.zip"} : std::vector<std::string>{};
    if (seen != newSet && seen != oldNames) {
      // Killed while the complete volumes took their names: only the run's
      // journal can finish that, as the next run on the set does.
      FinishStoppedRuns(work + "/k.zip");
      seen = VisibleFiles(work);
    }
    if (seen == newSet) {
      EXPECT_EQ(run("test k.zip"), 0);
    } else if (withOld) {
      EXPECT_EQ(seen, std::vector<std::string>{"k.zip"});
      EXPECT_EQ(ReadFile(work + "/k.zip"), old);
    } else {
      EXPECT_EQ(seen, std::vector<std::string>{});
    }
  }
  // The next run on the set clears what the killed ones left hidden.
  for (const std::string& n : VisibleFiles(work)) fs::remove(work + "/" + n);
  ASSERT_EQ(run("add -0 --split 512k k.zip ../data"), 0);
  EXPECT_EQ(VisibleFiles(work, true), std::vector<std::string>{});
  EXPECT_EQ(VisibleFiles(work), newSet);
}

// Killed while the complete volumes take their names, one by one (the old
// archive, a single file, still under the set's last name): the next run on
// the set finishes the renames its journal lists, so the set is whole.
TEST(ZipVolumes, ASetStoppedWhileTakingItsNamesIsFinishedByTheNextRun) {
  for (int stopAfter = 1; stopAfter <= 3; ++stopAfter) {
    SCOPED_TRACE(stopAfter);
    TempDir dir;
    {
      TZipWriter w;
      Prepare(w, dir, {1000});
      ASSERT_EQ(w.Zip(), 1);
    }
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      TZipWriter w;
      Prepare(w, dir, {120000});
      w.ZipAction = zaReplace;
      w.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
      w.MultiZipInfo.BlockSize = w.MultiZipInfo.FirstBlockSize = 50000;
      w.OnVolumePlaced = [stopAfter](TZipWriter*, int volume) {
        if (volume == stopAfter) ::raise(SIGKILL);
      };
      try {
        w.Zip();
      } catch (...) {
      }
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(VisibleFiles(dir.path(), true).empty());  // the run's hidden directory
    FinishStoppedRuns(dir / "x.zip");
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"x.001", "x.002", "x.zip"}));
    EXPECT_EQ(VisibleFiles(dir.path(), true), std::vector<std::string>{});
    CheckReadBack(dir, dir / "x.zip", 1);
  }
}

}  // namespace
}  // namespace vantrel::zip
