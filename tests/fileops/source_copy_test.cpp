// Copying and moving between sources: out of an archive, into one, with the
// same questions, messages, Skip all and Abort as the local copy; an archive
// written once per copy and left byte for byte by a cancel; names that are
// not names never written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "fileops/source_copy.h"
#include "tests/fileops/fileops_helpers.h"
#include "tests/vfs/vfs_helpers.h"
#include "vfs/archive_source.h"
#include "vfs/local_source.h"
#include "vfs/zip_source.h"

namespace vantrel::fileops {
namespace {

using testing::ScriptedPrompt;
using testing::Snapshot;
using vantrel::test::MakeZip;
using vantrel::test::Q;
using vantrel::test::Sh;
using vantrel::test::TempDir;

class SourceCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrel::test::MakeDir(t / "out");
    MakeZip(t / "a.zip", {{"docs/", ""},
                          {"docs/readme.md", "read me", true},
                          {"docs/deep/data.bin", std::string(100000, 'd'), true},
                          {"hello.txt", "hello"},
                          {"empty/", ""}});
    Load();
    copy.SetPrompt(&prompt);
  }
  void Load() {
    vfs::TError err;
    zip = vfs::TZipSource::Load(t / "a.zip", t / "a.zip", nullptr, &err);
    ASSERT_TRUE(zip) << err.text;
  }
  TempDir t;
  std::unique_ptr<vfs::TZipSource> zip;
  vfs::TLocalSource out{t / "out"};
  ScriptedPrompt prompt;
  TSourceCopy copy;
};

TEST_F(SourceCopyTest, OutOfAnArchiveIntoADirectory) {
  copy.Copy({"docs", "hello.txt", "empty"}, *zip, "", out, "");
  EXPECT_TRUE(prompt.log.empty()) << prompt.log.front();
  const auto snap = Snapshot(t / "out", false);
  EXPECT_EQ(snap.at("docs/readme.md"), "f read me");
  EXPECT_EQ(snap.at("docs/deep/data.bin"), "f " + std::string(100000, 'd'));
  EXPECT_EQ(snap.at("hello.txt"), "f hello");
  EXPECT_EQ(snap.at("empty"), "d");
  EXPECT_EQ(copy.Completed(), (std::vector<std::string>{"docs", "hello.txt", "empty"}));
  EXPECT_TRUE(testing::TemporaryFiles(t / "out").empty());
}

TEST_F(SourceCopyTest, IntoAnArchiveAsOneChange) {
  testing::MakeTree(t / "src", {"one.txt=1", "sub/two.txt=22", "sub/deeper/three.txt=333"});
  vfs::TLocalSource src(t / "src");
  int events = 0;
  copy.OnGlobalDone = [&](TSourceCopy&, int) { ++events; };
  copy.Copy({"one.txt", "sub"}, src, "", *zip, "docs");
  EXPECT_TRUE(copy.Failures().empty());
  EXPECT_GT(events, 0);
  EXPECT_EQ(vantrel::test::ListNames(*zip, "docs"),
            (std::vector<std::string>{"deep/", "one.txt", "readme.md", "sub/"}));
  EXPECT_EQ(vantrel::test::ReadAll(*zip, "docs/sub/deeper/three.txt"), "333");
  Sh("unzip -tqq " + Q(t / "a.zip"));
  // From one archive into another, through the data of each entry.
  MakeZip(t / "b.zip", {{"x", "x"}});
  vfs::TError err;
  auto b = vfs::TZipSource::Load(t / "b.zip", t / "b.zip", nullptr, &err);
  copy.Copy({"docs"}, *zip, "", *b, "");
  EXPECT_TRUE(copy.Failures().empty());
  EXPECT_EQ(vantrel::test::ReadAll(*b, "docs/deep/data.bin"), std::string(100000, 'd'));
  EXPECT_EQ(vantrel::test::ReadAll(*b, "docs/sub/two.txt"), "22");
}

TEST_F(SourceCopyTest, OverwriteAnswers) {
  struct TCase {
    const char* what;
    std::vector<TOverwriteAnswer> answers;
    std::string hello, readme;  // afterwards
    int questions;
  } cases[] = {
      {"No keeps, Yes replaces", {TOverwriteAnswer::No, TOverwriteAnswer::Yes}, "old hello", "read me", 2},
      {"All replaces without asking again", {TOverwriteAnswer::All}, "hello", "read me", 1},
      {"None keeps without asking again", {TOverwriteAnswer::None}, "old hello", "old readme", 1},
      {"Cancel stops", {TOverwriteAnswer::Cancel}, "old hello", "old readme", 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    vantrel::test::WriteFile(t / "out/hello.txt", "old hello");
    vantrel::test::MakeDir(t / "out/docs");
    vantrel::test::WriteFile(t / "out/docs/readme.md", "old readme");
    prompt = ScriptedPrompt();
    prompt.overwriteAnswers.assign(c.answers.begin(), c.answers.end());
    copy.Copy({"hello.txt", "docs"}, *zip, "", out, "");
    EXPECT_EQ(prompt.log.size(), static_cast<size_t>(c.questions));
    EXPECT_EQ(vantrel::test::ReadFile(t / "out/hello.txt"), c.hello);
    EXPECT_EQ(vantrel::test::ReadFile(t / "out/docs/readme.md"), c.readme);
  }
}

TEST_F(SourceCopyTest, CancelIntoAnArchiveLeavesItByteForByte) {
  testing::MakeTree(t / "src", {"hello.txt=new hello", "big.bin=" + testing::PatternBytes(3 << 20)});
  vfs::TLocalSource src(t / "src");
  const std::string pristine = vantrel::test::ReadFile(t / "a.zip");
  // Cancel at the question: nothing of the copy goes in.
  prompt.overwriteAnswers = {TOverwriteAnswer::Cancel};
  copy.Copy({"big.bin", "hello.txt"}, src, "", *zip, "");
  EXPECT_EQ(vantrel::test::ReadFile(t / "a.zip"), pristine);
  // Cancel in the middle of the writing, "Abort operation?" answered Yes.
  prompt = ScriptedPrompt();
  prompt.overwriteAnswers = {TOverwriteAnswer::Yes};
  prompt.abortAnswers = {true};
  copy.ProgressInterval = std::chrono::milliseconds(0);
  copy.OnGlobalDone = [&](TSourceCopy& c, int percent) {
    if (percent > 0 && percent < 100) c.OperationAborted = true;
  };
  copy.Copy({"big.bin", "hello.txt"}, src, "", *zip, "");
  EXPECT_TRUE(copy.AbortChosen());
  EXPECT_EQ(vantrel::test::ReadFile(t / "a.zip"), pristine);
  EXPECT_TRUE(copy.Completed().empty());
  EXPECT_EQ(vantrel::test::ReadAll(*zip, "hello.txt"), "hello");
}

// A job's gate that lets `passes` checks through and then says the job was
// cancelled.
struct TCountedGate final : TFMGate {
  int passes = 0;
  int seen = 0;
  bool Pass() override { return seen++ < passes; }
};

// A cancelled job ends the copy at its next check without "Abort
// operation?": into an archive nothing goes in (byte for byte, also when
// the cancel comes inside the rewrite), out of one only whole files stay.
TEST_F(SourceCopyTest, CancelledJobStopsAtItsGateWithoutAQuestion) {
  testing::MakeTree(t / "src", {"a.txt=alpha", "big.bin=" + testing::PatternBytes(3 << 20)});
  vfs::TLocalSource src(t / "src");
  const std::string pristine = vantrel::test::ReadFile(t / "a.zip");
  struct TCase {
    const char* what;
    bool into;   // into the archive, else out of it into out/
    int passes;  // checks let through before the cancel
  } cases[] = {
      {"into, before the first item", true, 0},
      {"into, inside the rewrite", true, 6},
      {"out, before the first item", false, 0},
      {"out, inside the large entry", false, 4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(t / "out");
    vantrel::test::MakeDir(t / "out");
    prompt = ScriptedPrompt();
    TCountedGate gate;
    gate.passes = c.passes;
    copy.SetGate(&gate);
    if (c.into) {
      copy.Copy({"a.txt", "big.bin"}, src, "", *zip, "");
    } else {
      copy.Copy({"hello.txt", "docs"}, *zip, "", out, "");
    }
    copy.SetGate(nullptr);
    EXPECT_TRUE(prompt.log.empty()) << prompt.log.front();
    EXPECT_FALSE(copy.AbortChosen());
    EXPECT_TRUE(copy.OperationAborted);
    EXPECT_GT(gate.seen, c.passes);
    EXPECT_LT(copy.ItemsDone(), copy.ItemCount());
    EXPECT_EQ(vantrel::test::ReadFile(t / "a.zip"), pristine);
    EXPECT_TRUE(testing::TemporaryFiles(t / "out").empty());
    for (const auto& [path, what] : Snapshot(t / "out", false))
      if (what[0] == 'f') { EXPECT_EQ(what, "f " + vantrel::test::ReadAll(*zip, path)) << path; }
  }
  // Let through, the same copy reaches every item.
  std::filesystem::remove_all(t / "out");
  vantrel::test::MakeDir(t / "out");
  TCountedGate open;
  open.passes = 1 << 30;
  copy.SetGate(&open);
  copy.Copy({"hello.txt", "docs"}, *zip, "", out, "");
  EXPECT_EQ(copy.ItemsDone(), copy.ItemCount());
  EXPECT_EQ(copy.Completed(), (std::vector<std::string>{"hello.txt", "docs"}));
}

TEST_F(SourceCopyTest, NamesThatAreNotNamesAreNeverWritten) {
  MakeZip(t / "h.zip", {{"../evil", "evil"}, {"ok/../../up", "up"}, {"ok/fine", "fine"}});
  vfs::TError err;
  auto h = vfs::TZipSource::Load(t / "h.zip", t / "h.zip", nullptr, &err);
  copy.Copy({"..", "ok"}, *h, "", out, "");
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Invalid file name ..", "Invalid file name ok/.."}));
  EXPECT_EQ(Snapshot(t.path(), false).count("evil"), 0u);
  EXPECT_EQ(Snapshot(t / "out", false), (std::map<std::string, std::string>{{"ok", "d"}, {"ok/fine", "f fine"}}));
  EXPECT_TRUE(copy.Completed().empty());
}

// Paths below the source place: the missing directories above them are
// made, paths that are not names joined by slashes are refused, and the
// paths copied whole are the completed ones; into an archive, one change.
TEST_F(SourceCopyTest, PathsWithTheirParentsMade) {
  copy.CopyPaths({"docs/deep/data.bin", "hello.txt", "docs//readme.md", "docs/../hello.txt", "/hello.txt"}, *zip, "",
                 out, "");
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Invalid file name docs//readme.md",
                                                             "Invalid file name docs/../hello.txt",
                                                             "Invalid file name /hello.txt"}));
  EXPECT_EQ(Snapshot(t / "out", false),
            (std::map<std::string, std::string>{{"docs", "d"},
                                                {"docs/deep", "d"},
                                                {"docs/deep/data.bin", "f " + std::string(100000, 'd')},
                                                {"hello.txt", "f hello"}}));
  EXPECT_EQ(copy.Completed(), (std::vector<std::string>{"docs/deep/data.bin", "hello.txt"}));
  // Back into a new level of the archive: the levels come with the files.
  testing::MakeTree(t / "src", {"n/e/w.txt=w", "n/x.txt=x"});
  vfs::TLocalSource src(t / "src");
  prompt = ScriptedPrompt();
  int replaced = 0;
  copy.ReplaceUnasked = [&](const std::string& path, const vfs::TEntry&) { return ++replaced, path == "n/x.txt"; };
  copy.CopyPaths({"n/e/w.txt", "n/x.txt"}, src, "", *zip, "docs");
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(replaced, 0);  // nothing was there to replace
  EXPECT_EQ(vantrel::test::ReadAll(*zip, "docs/n/e/w.txt"), "w");
  EXPECT_EQ(vantrel::test::ReadAll(*zip, "docs/n/x.txt"), "x");
  // Again: x.txt is replaced unasked, w.txt only after the question.
  testing::MakeTree(t / "src", {"n/e/w.txt=w2", "n/x.txt=x2"});
  prompt.overwriteAnswers = {TOverwriteAnswer::No};
  copy.CopyPaths({"n/e/w.txt", "n/x.txt"}, src, "", *zip, "docs");
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"?Overwrite file n/e/w.txt?"}));
  EXPECT_EQ(vantrel::test::ReadAll(*zip, "docs/n/e/w.txt"), "w");
  EXPECT_EQ(vantrel::test::ReadAll(*zip, "docs/n/x.txt"), "x2");
  Sh("unzip -tqq " + Q(t / "a.zip"));
}

TEST_F(SourceCopyTest, SkipAllAndReadOnlyDestinations) {
  vantrel::test::WriteFile(t / "out/docs", "a file where a directory goes");
  vantrel::test::WriteFile(t / "out/empty", "another one");
  prompt.messageAnswers = {TMessageAnswer::SkipAll};
  copy.Copy({"docs", "empty", "hello.txt"}, *zip, "", out, "");
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not create directory docs"}));
  EXPECT_EQ(copy.SkippedCount(), 1);
  EXPECT_EQ(copy.Failures().size(), 2u);
  EXPECT_EQ(vantrel::test::ReadFile(t / "out/hello.txt"), "hello");
  EXPECT_EQ(copy.Completed(), (std::vector<std::string>{"hello.txt"}));

  vfs::TError err;
  Sh("cd " + Q(t / "out") + " && tar czf ../r.tar.gz hello.txt");
  auto tar = vfs::TArchiveSource::Load(t / "r.tar.gz", t / "r.tar.gz", nullptr, &err);
  ASSERT_TRUE(tar);
  prompt = ScriptedPrompt();
  copy.Copy({"hello.txt"}, *zip, "", *tar, "");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].reason, "tar.gz archives are read-only here; pack a new one with Alt+F5");
}

// Out of a tar.gz the copy goes directory by directory, which is not the
// stream's order: still one pass over the stream for every file.
TEST_F(SourceCopyTest, OutOfACompressedTarInOnePass) {
  vantrel::test::MakeDir(t / "src/a/b/c");
  for (const char* name : {"src/a/x", "src/a/b/y", "src/a/b/c/w", "src/a/z", "src/top.txt"})
    vantrel::test::WriteFile(t / name, std::string(name) + vantrel::test::Noise(200000, name[5]));
  // Stored a/, a/b/, a/b/c/, a/b/c/w, a/b/y, a/x, a/z, top.txt; copied
  // a/x, a/z, a/b/y, a/b/c/w, top.txt.
  Sh("cd " + Q(t / "src") + " && tar --sort=name -czf ../s.tar.gz a top.txt");
  vfs::TError err;
  auto tar = vfs::TArchiveSource::Load(t / "s.tar.gz", t / "s.tar.gz", nullptr, &err);
  ASSERT_TRUE(tar) << err.text;
  copy.Copy({"a", "top.txt"}, *tar, "", out, "");
  for (const TFMMessage& m : copy.Failures()) ADD_FAILURE() << m.item << ": " << m.text << " / " << m.reason;
  for (const char* name : {"a/x", "a/b/y", "a/b/c/w", "a/z", "top.txt"})
    EXPECT_EQ(vantrel::test::ReadFile(t / ("out/" + std::string(name))),
              vantrel::test::ReadFile(t / ("src/" + std::string(name))))
        << name;
  EXPECT_EQ(tar->Archive().StreamStarts(), 1u);
  EXPECT_EQ(copy.Completed(), (std::vector<std::string>{"a", "top.txt"}));
}

TEST_F(SourceCopyTest, MoveOutDeletesOnlyWhatWasWrittenAfterAllOfIt) {
  vantrel::test::MakeDir(t / "out/docs");
  vantrel::test::WriteFile(t / "out/docs/readme.md", "keep this");
  prompt.overwriteAnswers = {TOverwriteAnswer::No};
  copy.Move({"docs", "hello.txt"}, *zip, "", out, "");
  EXPECT_EQ(copy.Completed(), (std::vector<std::string>{"hello.txt"}));
  EXPECT_EQ(vantrel::test::ListNames(*zip, ""), (std::vector<std::string>{"docs/", "empty/"}));
  EXPECT_EQ(vantrel::test::ReadFile(t / "out/hello.txt"), "hello");
  EXPECT_EQ(vantrel::test::ReadFile(t / "out/docs/deep/data.bin"), std::string(100000, 'd'));
  Sh("unzip -tqq " + Q(t / "a.zip"));
}

TEST_F(SourceCopyTest, DamagedEntryLeavesNoPartialFile) {
  MakeZip(t / "d.zip", {{"bad.bin", std::string(200000, 'b'), true}, {"good", "g"}});
  std::string bytes = vantrel::test::ReadFile(t / "d.zip");
  bytes[bytes.find("bad.bin") + 7 + 40] ^= 0x5a;
  vantrel::test::WriteFile(t / "d.zip", bytes);
  vfs::TError err;
  auto d = vfs::TZipSource::Load(t / "d.zip", t / "d.zip", nullptr, &err);
  vantrel::test::WriteFile(t / "out/bad.bin", "the old one");
  prompt.overwriteAnswers = {TOverwriteAnswer::Yes};
  copy.Copy({"bad.bin", "good"}, *d, "", out, "");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, "Could not copy file bad.bin");
  EXPECT_EQ(vantrel::test::ReadFile(t / "out/bad.bin"), "the old one");
  EXPECT_EQ(vantrel::test::ReadFile(t / "out/good"), "g");
  EXPECT_TRUE(testing::TemporaryFiles(t / "out").empty());
}

// A link keeps its target wherever it is copied: read out of a ZIP archive
// (whose listing does not carry targets), a tar or a directory, written into
// a directory or into a ZIP archive. What `unzip` makes of a ZIP source is
// what the copy must make too.
TEST_F(SourceCopyTest, LinksKeepTheirTargets) {
  testing::MakeTree(t / "src", {"dir/target.txt=aimed at", "dir/sub/deep.txt=deep"});
  Sh("cd " + Q(t / "src/dir") + " && ln -s target.txt link && ln -s ../nowhere/else dangling && ln -s sub/deep.txt sub-link");
  Sh("cd " + Q(t / "src") + " && zip -qyr ../links.zip dir && tar cf ../links.tar dir && tar czf ../links.tar.gz dir");
  Sh("mkdir " + Q(t / "unzipped") + " && unzip -qq " + Q(t / "links.zip") + " -d " + Q(t / "unzipped"));
  const std::map<std::string, std::string> want = Snapshot(t / "src/dir", false);
  ASSERT_EQ(want.at("link"), "l -> target.txt");
  ASSERT_EQ(Snapshot(t / "unzipped/dir", false), want);

  enum class TFrom { Zip, Tar, TarGz, Local };
  struct TCase {
    const char* what;
    TFrom from;
    bool intoZip;  // else into a directory
  } cases[] = {
      {"zip -> directory", TFrom::Zip, false}, {"tar -> directory", TFrom::Tar, false},
      {"tar.gz -> directory", TFrom::TarGz, false}, {"zip -> zip", TFrom::Zip, true},
      {"tar -> zip", TFrom::Tar, true},          {"directory -> zip", TFrom::Local, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(t / "out");
    std::filesystem::remove_all(t / "check");
    vantrel::test::MakeDir(t / "out");
    prompt = ScriptedPrompt();
    vfs::TError err;
    std::unique_ptr<vfs::TSource> from;
    if (c.from == TFrom::Zip) from = vfs::TZipSource::Load(t / "links.zip", t / "links.zip", nullptr, &err);
    if (c.from == TFrom::Tar) from = vfs::TArchiveSource::Load(t / "links.tar", t / "links.tar", nullptr, &err);
    if (c.from == TFrom::TarGz)
      from = vfs::TArchiveSource::Load(t / "links.tar.gz", t / "links.tar.gz", nullptr, &err);
    if (c.from == TFrom::Local) from = std::make_unique<vfs::TLocalSource>(t / "src");
    ASSERT_TRUE(from) << err.text;
    if (c.intoZip) {
      MakeZip(t / "d.zip", {{"keep.txt", "kept"}});
      auto d = vfs::TZipSource::Load(t / "d.zip", t / "d.zip", nullptr, &err);
      ASSERT_TRUE(d) << err.text;
      copy.Copy({"dir"}, *from, "", *d, "");
      Sh("unzip -tqq " + Q(t / "d.zip"));
      Sh("mkdir " + Q(t / "check") + " && unzip -qq " + Q(t / "d.zip") + " -d " + Q(t / "check"));
    } else {
      copy.Copy({"dir"}, *from, "", out, "");
      std::filesystem::rename(t / "out", t / "check");
    }
    EXPECT_TRUE(prompt.log.empty()) << prompt.log.front();
    for (const TFMMessage& m : copy.Failures()) ADD_FAILURE() << m.item << ": " << m.text << " / " << m.reason;
    EXPECT_EQ(Snapshot(t / "check/dir", false), want);
    EXPECT_EQ(copy.Completed(), (std::vector<std::string>{"dir"}));
  }
}

}  // namespace
}  // namespace vantrel::fileops
