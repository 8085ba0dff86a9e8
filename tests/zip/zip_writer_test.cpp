// Archive creation and update: the archives the writer makes are checked by
// independent tools and by a parser that does not share the engine's reader;
// update rules, events and every fault leave the old archive intact.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <random>

#include "tests/support/test_support.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using namespace vantrel::test;

void Touch(const std::string& path, const std::string& contents, int64_t mtime) {
  WriteFile(path, contents);
  SetMTime(path, mtime);
}

// A small tree: text, random, empty, zeros and a file in a subdirectory,
// dated 2023-11-14 23:13:20 in Berlin.
struct Tree {
  TempDir dir;
  std::string src = dir / "src";
  Tree() {
    fs::create_directories(src + "/sub");
    std::string text;
    const char* words[] = {"archive ", "entry ", "deflate ", "window ", "header ", "\n"};
    std::mt19937 gen(7);
    while (text.size() < 70000) text += words[gen() % 6];
    text.resize(70000);
    const std::pair<const char*, std::string> files[] = {
        {"text.txt", text}, {"random.bin", RandomBytes(100, 1)}, {"big-random.bin", RandomBytes(200000, 2)},
        {"empty.dat", ""}, {"zeros.dat", std::string(100000, '\0')}, {"sub/one.txt", "x"}};
    for (const auto& [name, data] : files) Touch(src + "/" + name, data, 1700000000);
  }
  std::string archive(const std::string& name = "out.zip") const { return dir / name; }
};

// A writer with the tool's settings (relative paths under `root`) and `files` listed.
void Configure(TZipWriter& w, const std::string& zip, const std::string& root,
               std::initializer_list<std::string> files = {}) {
  w.SetZipName(zip);
  w.SetRootDir(root);
  w.SetRelativePaths(true);
  w.Recurse = true;
  for (const std::string& f : files) w.AddFile(f);
}

std::vector<std::string> Names(const std::string& zip) {
  std::vector<std::string> names;
  for (const auto& e : ParseArchive(zip).entries) names.push_back(e.name);
  return names;
}

TEST(ZipWriterFormat, EveryLevelIsReadBackByThePeersAndOurReader) {
  Tree t;
  for (int level : {0, 1, 6, 9}) {
    SCOPED_TRACE("level " + std::to_string(level));
    const std::string zip = t.archive("level" + std::to_string(level) + ".zip");
    TZipWriter w;
    Configure(w, zip, t.src, {t.src + "/*.*"});
    w.PackLevel = level;
    ASSERT_EQ(w.Zip(), 6);
    // Python's zipfile tests every archive; unzip and 7-Zip the best-compressed one.
    const std::string py = testing::PythonListing(zip);
    EXPECT_NE(py.find("sub/one.txt|1|8cdc1683|2023-11-14 23:13:20"), std::string::npos) << py;
    if (level == 9) {
      EXPECT_EQ(RunCommand("unzip -tqq " + Quote(zip)), 0);
      EXPECT_EQ(RunCommand("7zz t " + Quote(zip) + " >/dev/null"), 0);
    }
    // Both headers agree; every local header starts where the previous
    // entry's data ends, so its rewrite kept its length.
    const TRawArchive a = ParseArchive(zip);
    size_t next = 0;
    for (const auto& e : a.entries) {
      SCOPED_TRACE(e.name);
      EXPECT_EQ(e.offset, next);
      next = e.dataOffset + e.csize;
      EXPECT_EQ(std::tie(e.localName, e.localCrc, e.localCsize, e.localUsize, e.localFlags),
                std::tie(e.name, e.crc, e.csize, e.usize, e.flags));
      EXPECT_EQ(e.flags & 0x0008, 0) << "no data descriptor is written";
      EXPECT_EQ(e.madeBy >> 8, 3) << "Unix host";
      EXPECT_EQ(e.needed, 20);
      EXPECT_EQ(e.method == 0, level == 0 || e.csize == e.usize);
      if (level > 0) {
        EXPECT_EQ(e.flags & 6, level <= 2 ? 4 : level >= 8 ? 2 : 0);
      }
      if (e.name == "random.bin") {
        EXPECT_EQ(std::make_pair(e.method, e.internal), std::make_pair(uint16_t{0}, uint16_t{0})) << "stored, binary";
      } else if (e.name == "text.txt" && level > 0) {
        EXPECT_EQ(e.internal, 1) << "text is marked";
        EXPECT_LT(e.csize, e.usize / 2);
      }
    }
    EXPECT_EQ(next, a.cdOffset);
    TempDir x;
    TZipReader r;
    r.SetZipName(zip);
    r.SetDestDir(x.path());
    r.DoAll = r.RecreateDirs = true;
    EXPECT_EQ(r.UnZip(), 6);
    for (int i = 0; i < r.Count(); ++i)
      EXPECT_EQ(ReadFile(x / r.Entry(i).Path()), ReadFile(t.src + "/" + r.Entry(i).Path())) << r.Entry(i).Path();
  }
}

TEST(ZipWriterFormat, NoCompressListModesAndDirectoriesAreKept) {
  Tree t;
  ::chmod((t.src + "/text.txt").c_str(), 0751);
  ::chmod((t.src + "/random.bin").c_str(), 0444);
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/text.txt", t.src + "/random.bin", t.src + "/zeros.dat", t.src + "/sub/"});
  w.NoCompressList = {"*.TXT"};
  ASSERT_EQ(w.Zip(), 4);
  const TRawArchive a = ParseArchive(t.archive());
  ASSERT_EQ(a.entries.size(), 4u);
  EXPECT_EQ(a.entries[0].method, 0);
  EXPECT_EQ(a.bytes.substr(a.entries[0].dataOffset, 70000), ReadFile(t.src + "/text.txt"));
  EXPECT_EQ(a.entries[0].external, (static_cast<uint32_t>(S_IFREG | 0751) << 16) | 0x20);
  EXPECT_EQ(a.entries[1].external, (static_cast<uint32_t>(S_IFREG | 0444) << 16) | 0x21);
  EXPECT_EQ(a.entries[2].method, 8);
  const auto& dir = a.entries[3];
  EXPECT_EQ(std::tie(dir.name, dir.method, dir.crc), std::make_tuple(std::string("sub/"), uint16_t{0}, 0u));
  EXPECT_EQ(dir.external & 0xFF, 0x10u);
  EXPECT_TRUE(S_ISDIR(dir.external >> 16));
}

TEST(ZipWriterNames, NonAsciiNamesAreUtf8WithFlagAndForeignBytesStayBytes) {
  TempDir d;
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93.txt";  // "Grüße ✓.txt"
  const std::string latin1 = "caf\xE9.txt";                           // not UTF-8
  for (const std::string& f : {utf8, latin1, std::string("plain.txt")}) WriteFile(d / f, f.substr(0, 1));
  TZipWriter w;
  Configure(w, d / "n.zip", d.path(), {d / "plain.txt", d / utf8, d / latin1});
  ASSERT_EQ(w.Zip(), 3);
  const TRawArchive a = ParseArchive(d / "n.zip");
  const std::vector<std::pair<std::string, int>> want = {{"plain.txt", 0}, {utf8, 0x800}, {latin1, 0}};
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_EQ(std::make_pair(a.entries[i].name, a.entries[i].flags & 0x800), want[i]);
  // Python sees the UTF-8 name; unzip restores the foreign bytes exactly.
  EXPECT_NE(testing::PythonListing(d / "n.zip").find(utf8 + "|1|"), std::string::npos);
  TempDir out;
  ASSERT_EQ(RunCommand("cd " + Quote(out.path()) + " && unzip -qq " + Quote(d / "n.zip")), 0);
  EXPECT_EQ(ReadFile(out / latin1) + ReadFile(out / utf8), "cG");
  // An update finds both entries again: equal dates keep them.
  TZipWriter u;
  Configure(u, d / "n.zip", d.path(), {d / utf8, d / latin1});
  int kept = 0;
  u.OnUpdate = [&](TZipWriter*, TUpdateAction a, int) { kept += a == uaKeeping; };
  EXPECT_EQ(u.Zip(), 0);
  EXPECT_EQ(kept, 2);
  EXPECT_EQ(Names(d / "n.zip").size(), 3u);
}

// The archive of a.txt, b.txt and c.txt ("alpha", "bravo", "charlie").
struct Updated {
  Tree t;
  std::string zip = t.archive();
  Updated() {
    TZipWriter w;
    Configure(w, zip, t.src);
    for (const auto& [f, data] : {std::pair{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}}) {
      Touch(t.src + "/" + f, data, 1600000000);
      w.AddFile(t.src + "/" + f);
    }
    if (w.Zip() != 3) throw std::runtime_error("setup");
  }
};

TEST(ZipWriterUpdate, RulesDecideWhatIsReplacedAddedOrKept) {
  using Events = std::vector<std::pair<TUpdateAction, int>>;
  struct Case {
    const char* what;
    TZipAction action;
    std::vector<std::tuple<const char*, const char*, int64_t>> change;  // file, contents, date
    std::vector<const char*> add;
    bool skipAll;  // OnStartZip skips every file
    int added;
    std::vector<std::string> names;
    std::vector<uint32_t> sizes;
    Events events;
  } cases[] = {
      {"equal date keeps the entry", zaUpdate, {}, {"b.txt"}, false, 0, {"a.txt", "b.txt", "c.txt"}, {5, 5, 7},
       {{uaKeeping, 1}}},
      {"newer file replaces its entry in place, new files go last", zaUpdate,
       {{"b.txt", "bravo, changed", 1600000100}, {"d.txt", "delta", 1600000000}}, {"d.txt", "b.txt"}, false, 2,
       {"a.txt", "b.txt", "c.txt", "d.txt"}, {5, 14, 7, 5}, {{uaReplacing, 1}}},
      {"replace re-adds an older file", zaReplace, {{"a.txt", "older but wanted", 1500000000}}, {"a.txt"}, false, 1,
       {"a.txt", "b.txt", "c.txt"}, {16, 5, 7}, {{uaReplacing, 0}}},
      {"freshen never adds a file without entry", zaFreshen,
       {{"c.txt", "charlie 2", 1600000100}, {"new.txt", "new", 1600000100}}, {"*.txt"}, false, 1,
       {"a.txt", "b.txt", "c.txt"}, {5, 5, 9}, {{uaKeeping, 0}, {uaKeeping, 1}, {uaReplacing, 2}}},
      {"a name that differs only in case is another entry", zaUpdate, {{"A.txt", "upper", 1600000000}}, {"A.txt"},
       false, 1, {"a.txt", "b.txt", "c.txt", "A.txt"}, {5, 5, 7, 5}, {}},
      {"a replacement that fails keeps the old entry", zaReplace, {{"b.txt", "newer b", 1600000100}}, {"b.txt"}, true,
       0, {"a.txt", "b.txt", "c.txt"}, {5, 5, 7}, {{uaReplacing, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Updated u;
    const std::string before = ReadFile(u.zip);
    for (const auto& [f, data, date] : c.change) Touch(u.t.src + "/" + f, data, date);
    TZipWriter w;
    Configure(w, u.zip, u.t.src);
    for (const char* f : c.add) w.AddFile(u.t.src + "/" + f);
    w.ZipAction = c.action;
    Events events;
    w.OnUpdate = [&](TZipWriter*, TUpdateAction a, int i) { events.push_back({a, i}); };
    bool infoRaised = false;
    w.OnStartZipInfo = [&](TZipWriter*, int, int64_t, TEndCentral&, bool&) { infoRaised = true; };
    if (c.skipAll) w.OnStartZip = [](TZipWriter*, const std::string&, TZipHeaderInfo&, bool& skip) { skip = true; };
    EXPECT_EQ(w.Zip(), c.added);
    EXPECT_EQ(events, c.events);
    const TRawArchive a = ParseArchive(u.zip);
    std::vector<std::string> names, ours;
    std::vector<uint32_t> sizes;
    for (const auto& e : a.entries) names.push_back(e.name), sizes.push_back(e.usize);
    for (int i = 0; i < w.Count(); ++i) ours.push_back(w.Entry(i).Path());
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(sizes, c.sizes);
    EXPECT_EQ(ours, c.names) << "the component's directory is the new archive's, in physical order";
    EXPECT_TRUE(w.FilesList().empty());
    if (c.added == 0) {
      EXPECT_EQ(ReadFile(u.zip), before) << "copying every entry reproduces the archive";
      EXPECT_FALSE(infoRaised) << "nothing was left to add";
    } else {
      EXPECT_FALSE(testing::PythonListing(u.zip).empty());
    }
  }
}

TEST(ZipWriterUpdate, OneComponentRunsAgainOnItsOwnDirectory) {
  Updated u;
  TZipWriter w;
  Configure(w, u.zip, u.t.src, {u.t.src + "/0.txt"});
  w.SortMode = TZipSortMode::ByName;
  WriteFile(u.t.src + "/0.txt", "zero");
  EXPECT_EQ(w.Zip(), 1);
  EXPECT_EQ(w.Filename(0), "0.txt") << "the view is sorted by name again";
  EXPECT_EQ(w.Entry(0).LocalHeaderOffset, ParseArchive(u.zip).entries[3].offset);
  w.SetFileComment(0, "zero's comment");
  WriteFile(u.t.src + "/e.txt", "echo");
  w.AddFile(u.t.src + "/e.txt");
  EXPECT_EQ(w.Zip(), 1);
  TZipReader r;
  r.SetZipName(u.zip);
  r.SortMode = TZipSortMode::ByName;
  r.ReadZip();
  ASSERT_EQ(r.Count(), 5);
  EXPECT_EQ(r.FileComment(0), "zero's comment");
  EXPECT_EQ(r.Entry(4).Path(), "e.txt");
  EXPECT_EQ(RunCommand("unzip -tqq " + Quote(u.zip)), 0);
}

// The devices of the unnamed files this process has open.
std::vector<dev_t> UnnamedFileDevices() {
  std::vector<dev_t> devices;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    struct stat st;
    if (::stat(e.path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0)
      devices.push_back(st.st_dev);
  }
  return devices;
}

TEST(ZipWriterUpdate, TemporaryDirectoryOnAnotherVolumeIsNotUsed) {
  // The new archive is made beside the old one (unnamed, or under a hidden
  // name) and renamed over it; a cancelled run leaves nothing there either.
  Updated u;
  struct stat shm, here;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(u.t.dir.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev)
    GTEST_SKIP() << "needs /dev/shm on another volume";
  ::chmod(u.zip.c_str(), 0640);
  const std::string before = ReadFile(u.zip);
  const std::vector<std::string> shmBefore = FilesIn("/dev/shm");
  WriteFile(u.t.src + "/e.txt", "echo");
  for (bool cancel : {true, false}) {
    SCOPED_TRACE(cancel);
    TZipWriter w;
    Configure(w, u.zip, u.t.src, {u.t.src + "/e.txt"});
    w.TempPath = "/dev/shm";
    w.FlushFilesOnClose = true;
    std::vector<dev_t> during;
    std::vector<std::string> besideDuring;
    w.OnStartZipInfo = [&](TZipWriter*, int n, int64_t, TEndCentral&, bool& stop) {
      EXPECT_EQ(n, 1);
      during = UnnamedFileDevices();
      besideDuring = FilesIn(u.t.dir.path());
      stop = cancel;
    };
    if (cancel) {
      try {
        w.Zip();
        ADD_FAILURE() << "not cancelled";
      } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User canceled Zip operation");
      }
      EXPECT_EQ(ReadFile(u.zip), before);
      EXPECT_TRUE(w.FilesList().empty());
    } else {
      EXPECT_EQ(w.Zip(), 1);
      EXPECT_EQ(Names(u.zip), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "e.txt"}));
    }
    const bool hiddenBeside = std::any_of(besideDuring.begin(), besideDuring.end(),
                                          [](const std::string& n) { return n.rfind(".RQX", 0) == 0; });
    EXPECT_TRUE(hiddenBeside || std::count(during.begin(), during.end(), here.st_dev) == 1);
    EXPECT_EQ(std::count(during.begin(), during.end(), shm.st_dev), 0);
    EXPECT_EQ(FilesIn("/dev/shm"), shmBefore);
    EXPECT_EQ(FilesIn(u.t.dir.path()), (std::vector<std::string>{"out.zip", "src"}));
  }
  struct stat st;
  ::stat(u.zip.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the archive keeps its permissions";
}

// The descriptors this process has open on the file `file` describes.
int DescriptorsOn(const struct stat& file) {
  int n = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino) ++n;
  }
  return n;
}

TEST(ZipWriterUpdate, TheReplacedArchiveIsLetGoAndAFailedRunKeepsIt) {
  // A large old archive stays open across the rename and is closed on a
  // thread of its own after the run (here every archive counts as large,
  // or none does). Whatever happens no descriptor of it stays, and a run
  // that does not replace it leaves it byte for byte under its name.
  enum class TEnd { Replaced, Stopped, NameTaken };
  struct TCase {
    const char* what;
    uint64_t from;
    TEnd end;
  };
  const TCase cases[] = {
      {"held, replaced", 0, TEnd::Replaced},
      {"not held, replaced", UINT64_MAX, TEnd::Replaced},
      {"held, stopped", 0, TEnd::Stopped},
      {"held, the rename refused", 0, TEnd::NameTaken},
      {"not held, the rename refused", UINT64_MAX, TEnd::NameTaken},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    Updated u;
    WriteFile(u.t.src + "/d.txt", "delta");
    const std::string before = ReadFile(u.zip);
    struct stat old;
    ASSERT_EQ(::stat(u.zip.c_str(), &old), 0);
    const std::string moved = u.t.archive("moved.zip");
    TZipWriter w;
    w.SetZipName(u.zip);
    w.ReleaseOldInBackgroundFrom = c.from;
    TZipWriter::TEdit edit;
    edit.keep = [](const TZipHeaderInfo& e, std::string&) { return e.Path() != "b.txt"; };
    TZipWriter::TNewEntry added;
    added.path = "d.txt";
    added.localFile = u.t.src + "/d.txt";
    edit.added.push_back(added);
    w.OnTotalPercentDone = [&](TZipReader*, int) {
      if (c.end == TEnd::Stopped) w.CancelOperation = true;
      // The archive's name taken by a directory while the run writes: the
      // old archive, moved aside, is what the failed rename leaves.
      if (c.end == TEnd::NameTaken && !fs::exists(moved)) {
        fs::rename(u.zip, moved);
        fs::create_directories(u.zip + "/in-the-way");
      }
    };
    switch (c.end) {
      case TEnd::Replaced: {
        EXPECT_EQ(w.Edit(edit), 1);
        EXPECT_EQ(Names(u.zip), (std::vector<std::string>{"a.txt", "c.txt", "d.txt"}));
        EXPECT_EQ(RunCommand("unzip -tqq " + Quote(u.zip)), 0);
        bool gone = false;
        for (int i = 0; i < 500 && !(gone = DescriptorsOn(old) == 0); ++i) ::usleep(10000);
        EXPECT_TRUE(gone) << "the old archive was never let go";
        break;
      }
      case TEnd::Stopped:
        EXPECT_THROW(w.Edit(edit), EUserCanceled);
        EXPECT_EQ(ReadFile(u.zip), before);
        EXPECT_EQ(DescriptorsOn(old), 0);
        break;
      case TEnd::NameTaken:
        EXPECT_THROW(w.Edit(edit), EZipError);
        EXPECT_EQ(ReadFile(moved), before);
        EXPECT_EQ(DescriptorsOn(old), 0);
        break;
    }
    EXPECT_EQ(FilesIn(u.t.dir.path()), c.end == TEnd::NameTaken ? (std::vector<std::string>{"moved.zip", "out.zip", "src"})
                                                              : (std::vector<std::string>{"out.zip", "src"}));
  }
}

TEST(ZipWriterUpdate, AnEmptyListMakesAnEmptyArchive) {
  TempDir d;
  TZipWriter e;
  e.SetZipName(d / "empty.zip");
  EXPECT_EQ(e.Zip(), 0);
  EXPECT_EQ(ReadFile(d / "empty.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST(ZipWriterEvents, ANameListedTwiceIsAddedOnce) {
  Tree t;
  WriteFile(t.src + "/one.txt", "top");
  const std::string text = t.src + "/text.txt", one = t.src + "/one.txt", subOne = t.src + "/sub/one.txt";
  // The same file twice; without paths, two files of one name.
  const struct {
    bool paths;
    std::vector<std::string> files;
    std::string skipped, name;
  } cases[] = {{true, {text, text}, text, "text.txt"}, {false, {one, subOne}, subOne, "one.txt"}};
  for (const auto& c : cases) {
    TZipWriter w;
    w.SetZipName(t.archive(c.name + ".zip"));
    w.SetRootDir(t.src);
    if (c.paths) w.SetRelativePaths(true);
    for (const std::string& f : c.files) w.AddFile(f);
    std::vector<std::tuple<TSkipReason, std::string, int>> skips;
    w.OnSkippingFile = [&](TZipReader*, TSkipReason r, const std::string& f, int i, bool&) { skips.emplace_back(r, f, i); };
    EXPECT_EQ(w.Zip(), 1);
    EXPECT_EQ(skips, (std::vector<std::tuple<TSkipReason, std::string, int>>{{skipNoOverwrite, c.skipped, -1}}));
    EXPECT_EQ(Names(t.archive(c.name + ".zip")), std::vector<std::string>{c.name});
  }
}

TEST(ZipWriterFaults, UnopenableSourceRaisesSkippingFileReasonTwo) {
  Tree t;
  const std::string fifo = t.src + "/pipe.dat";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  fs::create_directories(t.src + "/adir");
  TZipWriter w;
  Configure(w, t.archive(), t.src, {fifo, t.src + "/text.txt", t.src + "/adir"});  // a directory where a file is expected
  std::vector<std::string> skipped;
  int retries = 0;
  w.OnSkippingFile = [&](TZipReader*, TSkipReason r, const std::string& f, int i, bool& retry) {
    EXPECT_EQ(std::make_pair(r, i), std::make_pair(skipCannotOpen, -1));
    skipped.push_back(f);
    // Ask once to try the pipe again: it is refused again, without blocking.
    if (f == fifo && retries++ == 0) retry = true;
  };
  EXPECT_EQ(w.Zip(), 1);
  EXPECT_EQ(skipped, (std::vector<std::string>{fifo, fifo, t.src + "/adir"}));
  EXPECT_EQ(Names(t.archive()), std::vector<std::string>{"text.txt"});
}

// A file that vanished after the list was made raises no skipping event
// (there is nothing to try again) but is told as left out, so that the
// caller's report does not look complete.
TEST(ZipWriterFaults, SourceVanishingAfterExpansionIsLeftOutAndTold) {
  Tree t;
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/random.bin", t.src + "/zeros.dat"});
  int skips = 0;
  w.OnSkippingFile = [&](TZipReader*, TSkipReason, const std::string&, int, bool&) { ++skips; };
  std::vector<std::string> leftOut;
  w.OnLeftOut = [&](TZipWriter*, const std::string& name, const std::string& why) {
    leftOut.push_back(name + ": " + why);
  };
  w.OnStartZipInfo = [&](TZipWriter*, int n, int64_t, TEndCentral&, bool&) {
    EXPECT_EQ(n, 2);
    fs::remove(t.src + "/random.bin");
  };
  std::vector<int> total;
  w.OnTotalPercentDone = [&](TZipReader*, int p) { total.push_back(p); };
  EXPECT_EQ(w.Zip(), 1);
  EXPECT_EQ(skips, 0);
  EXPECT_EQ(leftOut, std::vector<std::string>{t.src + "/random.bin: No such file or directory"});
  EXPECT_EQ(total.back(), 100) << "the vanished file's size left the total";
  EXPECT_EQ(Names(t.archive()), std::vector<std::string>{"zeros.dat"});
}

TEST(ZipWriterFaults, ArchiveNeverTakesItselfInUnderAnotherSpelling) {
  Tree t;
  const std::string zip = t.src + "/self.zip";
  TZipWriter first;
  Configure(first, zip, t.src, {t.src + "/text.txt"});
  ASSERT_EQ(first.Zip(), 1);
  ::symlink(t.src.c_str(), (t.dir / "alias").c_str());
  TZipWriter w;
  Configure(w, t.dir / "alias/sub/../self.zip", t.src, {t.src + "/*.*", t.src + "/self.zip", t.dir / "alias/self.zip"});
  w.Zip();
  const std::vector<std::string> names = Names(zip);
  EXPECT_EQ(names.size(), 6u);
  EXPECT_EQ(std::count(names.begin(), names.end(), "self.zip"), 0);
}

// A full disk while creating leaves no archive; while updating (temporary
// file beside it or on another volume) the old archive byte for byte.
TEST(ZipWriterFaults, FullDiskLeavesTheOldArchiveOrNoneAndNoTemporaryFile) {
  Updated u;
  TempDir tmp;
  const std::string before = ReadFile(u.zip), fresh = u.t.archive("new.zip");
  for (const auto& [target, temporary] : {std::pair{fresh, std::string()}, {u.zip, tmp.path()}, {u.zip, std::string("/dev/shm")}}) {
    // Named copies: clang before 16 cannot capture a structured binding in a lambda.
    const std::string zip = target, temp = temporary;
    SCOPED_TRACE(zip + " " + temp);
    const int status = RunWithFileSizeLimit(50000, [&]() {
      TZipWriter w;
      Configure(w, zip, u.t.src, {u.t.src + "/*.*"});
      w.TempPath = temp;
      w.Zip();
    });
    EXPECT_EQ(status, 1) << "ENotEnoughRoom";
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(ReadFile(u.zip), before);
    EXPECT_TRUE(FilesIn(tmp.path()).empty());
    EXPECT_EQ(FilesIn(u.t.dir.path()), (std::vector<std::string>{"out.zip", "src"}));
  }
}

TEST(ZipWriterFaults, KilledRunLeavesTheOldArchiveAndNothingElse) {
  Updated u;
  TempDir tmp;
  const std::string before = ReadFile(u.zip);
  WriteFile(u.t.src + "/large.bin", RandomBytes(4 << 20, 9));
  pid_t pid = ::fork();
  if (pid == 0) {
    TZipWriter w;
    Configure(w, u.zip, u.t.src, {u.t.src + "/large.bin"});
    w.TempPath = tmp.path();
    w.PackLevel = 9;
    w.OnTotalPercentDone = [&](TZipReader*, int p) {
      if (p >= 50) ::kill(::getpid(), SIGKILL);
    };
    w.Zip();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ReadFile(u.zip), before);
  EXPECT_TRUE(FilesIn(tmp.path()).empty());
  EXPECT_EQ(FilesIn(u.t.dir.path()), (std::vector<std::string>{"out.zip", "src"}));
}

}  // namespace
}  // namespace vantrel::zip
