// Changes to a place inside a ZIP archive: every result is read back by
// unzip -t, 7zz t and Python's zipfile, and every entry the change did not
// touch keeps its stored bytes; refused, failed and cancelled changes leave
// the archive byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "tests/vfs/vfs_helpers.h"
#include "vfs/zip_source.h"

namespace vantrel::vfs {
namespace {

using test::Q;
using test::Sh;
using test::TempDir;

// Stored bytes of each entry, by name: "method:digest" (several for a name
// that appears more than once).
// With `local`, the digest covers the local header too.
std::multimap<std::string, std::string> RawEntries(const std::string& archive, bool local = false) {
  std::string out;
  const std::string script = std::string(std::getenv("VANTREL_SOURCE_DIR")) + "/tests/vfs/zip_raw.py";
  EXPECT_EQ(test::RunCommand("python3 " + Q(script) + (local ? " --local " : " ") + Q(archive), &out), 0) << out;
  std::multimap<std::string, std::string> entries;
  size_t at = 0;
  while (at < out.size()) {
    const size_t end = out.find('\n', at);
    const std::string line = out.substr(at, end - at);
    at = end == std::string::npos ? out.size() : end + 1;
    const size_t tab = line.find('\t');
    std::string name;
    for (size_t i = 0; i + 1 < tab; i += 2) name += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    entries.emplace(name, line.substr(tab + 1));
  }
  return entries;
}

void ExpectPeersAccept(const std::string& archive) {
  if (!platform::FindProgram("unzip").empty()) Sh("unzip -tqq " + Q(archive));
  if (!platform::FindProgram("7zz").empty()) Sh("7zz t -bd " + Q(archive) + " >/dev/null");
}

class ZipChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::FindProgram("zip").empty()) GTEST_SKIP() << "zip is not installed";
    test::MakeDir(t / "tree/docs/deep");
    test::MakeDir(t / "tree/empty");
    test::WriteFile(t / "tree/hello.txt", "hello, world\n");
    test::WriteFile(t / "tree/noise.bin", test::Noise(150000, 5));
    test::WriteFile(t / "tree/docs/readme.md", std::string(20000, 'r'));
    test::WriteFile(t / "tree/docs/deep/data.bin", test::Noise(70000, 6));
    test::WriteFile(t / "new.txt", "a new file\n");
    test::WriteFile(t / "big-new.bin", test::Noise(1 << 20, 8));
    Sh("cd " + Q(t / "tree") + " && zip -qr ../a.zip hello.txt noise.bin docs empty && "
       "zip -q -0 ../a.zip hello.txt");  // hello.txt stored, the rest deflated
    archive = t / "a.zip";
    before = RawEntries(archive);
    TError err;
    source = TZipSource::Load(archive, archive, nullptr, &err);
    ASSERT_TRUE(source) << err.text;
  }

  // Every entry of `before` not in `touched` (names as stored, "x" and
  // "x/..." for a directory) is in the archive now with the same bytes,
  // under its name mapped by `renamed`.
  void ExpectUntouchedKept(const std::vector<std::string>& touched,
                           const std::map<std::string, std::string>& renamed = {}) {
    const auto after = RawEntries(archive);
    for (const auto& [name, raw] : before) {
      bool hit = false;
      for (const std::string& p : touched) hit |= name == p || name.rfind(p + "/", 0) == 0;
      if (hit) continue;
      std::string now = name;
      for (const auto& [from, to] : renamed)
        if (name == from || name.rfind(from + "/", 0) == 0) now = to + name.substr(from.size());
      auto it = after.find(now);
      ASSERT_NE(it, after.end()) << name << " as " << now;
      EXPECT_EQ(it->second, raw) << name << ": stored bytes changed";
    }
  }

  TempDir t;
  std::string archive;
  std::multimap<std::string, std::string> before;
  std::unique_ptr<TZipSource> source;
};

TEST_F(ZipChangesTest, EachChangeReadsBackAndKeepsTheRest) {
  struct TCase {
    const char* what;
    std::function<void(TChangeSet&, const std::string& dir)> change;
    std::vector<std::string> touched;
    std::map<std::string, std::string> renamed;
    std::string dir;                   // listed afterwards
    std::vector<std::string> listing;  // of `dir`
  };
  const std::vector<TCase> cases = {
      {"delete a file", [](TChangeSet& c, const std::string&) { c.Delete("noise.bin"); }, {"noise.bin"}, {},
       "", {"docs/", "empty/", "hello.txt"}},
      {"delete a directory with everything below", [](TChangeSet& c, const std::string&) { c.Delete("docs"); },
       {"docs"}, {}, "", {"empty/", "hello.txt", "noise.bin"}},
      {"make a directory", [](TChangeSet& c, const std::string&) { c.MakeDir("docs/new dir"); }, {}, {}, "docs",
       {"deep/", "new dir/", "readme.md"}},
      {"rename a file", [](TChangeSet& c, const std::string&) { c.Rename("hello.txt", "docs/moved.txt"); },
       {}, {{"hello.txt", "docs/moved.txt"}}, "docs", {"deep/", "moved.txt", "readme.md"}},
      {"rename a directory and all below", [](TChangeSet& c, const std::string&) { c.Rename("docs", "papers"); },
       {}, {{"docs", "papers"}}, "papers/deep", {"data.bin"}},
      {"add a file", [](TChangeSet& c, const std::string& dir) { c.PutFile("docs/deep/new.txt", dir + "/new.txt"); },
       {}, {}, "docs/deep", {"data.bin", "new.txt"}},
      {"replace a file", [](TChangeSet& c, const std::string& dir) { c.PutFile("noise.bin", dir + "/new.txt"); },
       {"noise.bin"}, {}, "", {"docs/", "empty/", "hello.txt", "noise.bin"}},
      {"a batch of several", [](TChangeSet& c, const std::string& dir) {
         c.PutFile("in/a.txt", dir + "/new.txt").PutFile("in/b.bin", dir + "/big-new.bin").Delete("empty")
             .PutData("in/made", [](TDataSink& s, TError*) { return s.Write("made", 4); }, 4);
       }, {"empty"}, {}, "in", {"a.txt", "b.bin", "made"}},
  };
  const std::string pristine = test::ReadFile(archive);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFile(archive, pristine);
    TError err;
    ASSERT_TRUE(source->Refresh(&err)) << err.text;
    TChangeSet changes;
    c.change(changes, t.path());
    const int reads = source->Reads();
    ASSERT_TRUE(source->Apply(changes, {}, &err)) << err.text;
    // The directory the engine wrote is the one shown: not read again.
    EXPECT_EQ(source->Reads(), reads);
    EXPECT_EQ(test::ListNames(*source, c.dir), c.listing);
    ExpectPeersAccept(archive);
    ExpectUntouchedKept(c.touched, c.renamed);
    // What the source shows is what a fresh reading shows.
    auto fresh = TZipSource::Load(archive, archive, nullptr, &err);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(test::ListNames(*fresh, c.dir), c.listing);
    EXPECT_FALSE(source->Stale());
  }
  // The data of what was added and renamed read back.
  EXPECT_EQ(test::ReadAll(*source, "in/b.bin"), test::Noise(1 << 20, 8));
  EXPECT_EQ(test::ReadAll(*source, "in/made"), "made");
}

TEST_F(ZipChangesTest, RefusedChangesLeaveTheArchiveByteForByte) {
  const std::string pristine = test::ReadFile(archive);
  struct TCase {
    const char* what;
    std::function<void(TChangeSet&)> change;
    int code;
  } cases[] = {
      {"a directory that exists", [](TChangeSet& c) { c.MakeDir("docs"); }, EEXIST},
      {"a directory implied only", [](TChangeSet& c) { c.MakeDir("docs/deep"); }, EEXIST},
      {"rename onto an entry", [](TChangeSet& c) { c.Rename("hello.txt", "noise.bin"); }, EEXIST},
      {"rename into itself", [](TChangeSet& c) { c.Rename("docs", "docs/deep/x"); }, EINVAL},
      {"delete what is not there", [](TChangeSet& c) { c.Delete("nothing"); }, ENOENT},
      {"a file onto a directory", [this](TChangeSet& c) { c.PutFile("docs", t / "new.txt"); }, EISDIR},
      {"a file below a file", [this](TChangeSet& c) { c.PutFile("hello.txt/x", t / "new.txt"); }, ENOTDIR},
      {"the root", [](TChangeSet& c) { c.Delete(""); }, EINVAL},
      {"a good change before a bad one", [](TChangeSet& c) { c.Delete("hello.txt").Delete("nothing"); }, ENOENT},
      {"a file that cannot be read", [this](TChangeSet& c) { c.PutFile("x", t / "missing"); }, EIO},
      {"a producer that fails", [](TChangeSet& c) {
         c.PutData("x", [](TDataSink&, TError* e) { e->Set(EIO, "broken"); return false; }, 1);
       }, EIO},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TChangeSet changes;
    c.change(changes);
    TError err;
    EXPECT_FALSE(source->Apply(changes, {}, &err));
    EXPECT_EQ(err.code, c.code) << err.text;
    EXPECT_EQ(test::ReadFile(archive), pristine);
    EXPECT_EQ(test::ListNames(*source, ""), (std::vector<std::string>{"docs/", "empty/", "hello.txt", "noise.bin"}));
  }
}

TEST_F(ZipChangesTest, CancelLeavesTheArchiveByteForByteAndNoTemporaryFile) {
  const std::string pristine = test::ReadFile(archive);
  struct stat st0;
  ASSERT_EQ(::stat(archive.c_str(), &st0), 0);
  for (uint64_t stopAt : {uint64_t{0}, uint64_t{100000}, uint64_t{600000}}) {
    SCOPED_TRACE(stopAt);
    TChangeSet changes;
    changes.PutFile("big.bin", t / "big-new.bin").Delete("hello.txt");
    TError err;
    int calls = 0;
    EXPECT_FALSE(source->Apply(changes, [&](uint64_t done, uint64_t) { ++calls; return done < stopAt; }, &err));
    EXPECT_EQ(err.code, ECANCELED) << err.text;
    EXPECT_GT(calls, 0);
    EXPECT_EQ(test::ReadFile(archive), pristine);
    struct stat st;
    ASSERT_EQ(::stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, st0.st_ino);
    EXPECT_EQ(test::ListNames(*source, ""), (std::vector<std::string>{"docs/", "empty/", "hello.txt", "noise.bin"}));
    EXPECT_EQ(test::ReadAll(*source, "hello.txt"), "hello, world\n");
  }
  std::string leftovers;
  test::RunCommand("ls -A " + Q(t.path()), &leftovers);
  EXPECT_EQ(leftovers, "a.zip\nbig-new.bin\nnew.txt\ntree\n");
}

TEST_F(ZipChangesTest, HostileNamesKeepTheirBytesThroughAChange) {
  test::MakeZip(archive, {{"../../evil", "evil"}, {std::string("c\x01tl\xff", 6), "ctl"}, {"keep", "k"}});
  before = RawEntries(archive);
  TError err;
  ASSERT_TRUE(source->Refresh(&err));
  ASSERT_TRUE(source->Delete("keep", &err)) << err.text;
  ExpectPeersAccept(archive);
  ExpectUntouchedKept({"keep"});
  EXPECT_EQ(test::ReadAll(*source, "../../evil"), "evil");
  ASSERT_TRUE(source->Delete("..", &err)) << err.text;
  EXPECT_EQ(test::ListNames(*source, "").size(), 1u);
}

TEST_F(ZipChangesTest, UnchangedEntriesKeepTheirLocalBytesWhateverLiesAround) {
  // Entries the kernel copies (64 KiB and more) and small ones; bytes that
  // belong to no entry; an entry with a data descriptor; a central
  // directory out of the entries' order.
  test::MakeZip(archive, {{"a.bin", test::Noise(100000, 1)},
                          {"b.txt", std::string(3000, 'b'), true},
                          {"c.bin", test::Noise(80000, 2), false, "JUNK-BETWEEN-ENTRIES"},
                          {"d.txt", "sizes after the data", false, "", true},
                          {"e.bin", test::Noise(200000, 3)},
                          {"f.txt", "f", false, "", false, 0},
                          {"g.bin", test::Noise(70000, 4)},
                          {"h.txt", "h"}});
  const std::string pristine = test::ReadFile(archive);
  before = RawEntries(archive);
  const auto localBefore = RawEntries(archive, true);
  struct TCase {
    const char* what;
    std::function<void(TChangeSet&)> change;
    std::vector<std::string> touched;  // entries whose local bytes may differ
    std::map<std::string, std::string> renamed;
  };
  const std::vector<TCase> cases = {
      {"the first entry out", [](TChangeSet& c) { c.Delete("a.bin"); }, {"a.bin"}, {}},
      {"one in the middle out", [](TChangeSet& c) { c.Delete("b.txt"); }, {"b.txt"}, {}},
      {"the last one out", [](TChangeSet& c) { c.Delete("h.txt"); }, {"h.txt"}, {}},
      {"the one after the gap out", [](TChangeSet& c) { c.Delete("c.bin"); }, {"c.bin"}, {}},
      {"one in the middle renamed", [](TChangeSet& c) { c.Rename("e.bin", "e2.bin"); }, {"e.bin"},
       {{"e.bin", "e2.bin"}}},
      {"nothing taken, a file added", [this](TChangeSet& c) { c.PutFile("z/new.txt", t / "new.txt"); }, {}, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFile(archive, pristine);
    TError err;
    ASSERT_TRUE(source->Refresh(&err)) << err.text;
    TChangeSet changes;
    c.change(changes);
    ASSERT_TRUE(source->Apply(changes, {}, &err)) << err.text;
    ExpectPeersAccept(archive);
    ExpectUntouchedKept(c.touched, c.renamed);
    // The descriptor goes (the sizes move into the header); every other
    // entry is its old bytes, header and all.
    const auto localAfter = RawEntries(archive, true);
    for (const auto& [name, raw] : localBefore) {
      if (name == "d.txt" || std::find(c.touched.begin(), c.touched.end(), name) != c.touched.end()) continue;
      auto it = localAfter.find(name);
      ASSERT_NE(it, localAfter.end()) << name;
      EXPECT_EQ(it->second, raw) << name << ": local bytes changed";
    }
    // What belonged to no entry is not carried along.
    EXPECT_EQ(test::ReadFile(archive).find("JUNK-BETWEEN-ENTRIES"), std::string::npos);
    auto fresh = TZipSource::Load(archive, archive, nullptr, &err);
    ASSERT_TRUE(fresh) << err.text;
    EXPECT_EQ(test::ReadAll(*fresh, "g.bin"), test::Noise(70000, 4));
    EXPECT_EQ(test::ReadAll(*fresh, "d.txt"), "sizes after the data");
  }
}

TEST_F(ZipChangesTest, ALongRunOfUnchangedEntriesReportsProgressAndHearsACancel) {
  test::MakeZip(archive, {{"one.bin", test::Noise(4 << 20, 1)},
                          {"two.bin", test::Noise(4 << 20, 2)},
                          {"three.bin", test::Noise(4 << 20, 3)},
                          {"last.txt", "last"}});
  const std::string pristine = test::ReadFile(archive);
  TError err;
  ASSERT_TRUE(source->Refresh(&err)) << err.text;
  struct stat st0;
  ASSERT_EQ(::stat(archive.c_str(), &st0), 0);
  std::vector<uint64_t> seen;
  auto stopPast = [&seen](uint64_t limit) {
    return [&seen, limit](uint64_t done, uint64_t) {
      seen.push_back(done);
      return done <= limit;
    };
  };
  // Stopped within the run: the archive is the old one, byte for byte.
  EXPECT_FALSE(source->Apply(TChangeSet().Delete("last.txt"), stopPast(5 << 20), &err));
  EXPECT_EQ(err.code, ECANCELED) << err.text;
  EXPECT_EQ(test::ReadFile(archive), pristine);
  struct stat st;
  ASSERT_EQ(::stat(archive.c_str(), &st), 0);
  EXPECT_EQ(st.st_ino, st0.st_ino);
  ASSERT_FALSE(seen.empty());
  EXPECT_LT(seen.back(), uint64_t{12} << 20);
  // Through to the end: progress only grows, and reaches the whole.
  seen.clear();
  ASSERT_TRUE(source->Apply(TChangeSet().Delete("last.txt"), stopPast(UINT64_MAX), &err)) << err.text;
  ASSERT_GE(seen.size(), 2u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), uint64_t{12} << 20);
  ExpectPeersAccept(archive);
  EXPECT_EQ(test::ListNames(*source, ""), (std::vector<std::string>{"one.bin", "three.bin", "two.bin"}));
  EXPECT_EQ(test::ReadAll(*source, "three.bin"), test::Noise(4 << 20, 3));
}

}  // namespace
}  // namespace vantrel::vfs
