// The copy engine against awkward trees and failing systems: links and link
// loops, FIFOs, copies onto or into themselves, vanishing items, names that
// are not UTF-8 or carry shell characters, large trees, a full disk and
// missing permissions; and the platform's single-entry copy steps under it.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "fileops/fmoperation.h"
#include "platform/copyfile.h"
#include "tests/fileops/fileops_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using test::MakeDir;
using test::ReadFile;
using test::WriteFile;
using Answer = TOverwriteAnswer;
using Texts = std::vector<std::string>;

// A tree with a link loop, a link up, a link to a file, a dangling link, a
// link out of the tree, and names that are not UTF-8 or carry shell
// characters: it is copied, moved and deleted whole, links as links, and
// nothing the links point to is ever touched.
TEST_F(FileOpsTest, LinksAndOddNamesSurviveEveryOperation) {
  MakeTree(tmp.path(), {"outside/precious=precious", "src/D/sub/", "src/D/f=f"});
  for (const auto& [target, link] : {std::pair<std::string, std::string>{".", "D/loop"}, {"..", "D/sub/up"},
                                     {"f", "D/lf"}, {"nowhere\xff", "D/dangling"}, {tmp / "outside", "D/out"},
                                     {tmp / "outside", "toout"}})
    ASSERT_EQ(::symlink(target.c_str(), S(link).c_str()), 0);
  Texts all = {"D", "toout", "dir\x80"};
  for (const std::string n : {".hidden", "bad\xff\xfe", "\xc3(", "a;rm -rf x", "$(touch pwned)", "`id`",
                              "q'\"uote", "new\nline", " lead", "-dash", "*?[", "tab\there"}) {
    MakeTree(src, {n + "=data " + n, "dir\x80/" + n + "=" + n});
    all.push_back(n);
  }
  const auto before = Snapshot(src, false);
  const auto outside = Snapshot(tmp / "outside");
  EXPECT_EQ(op.GetTotalSize({"toout"}, src), 0.00001);
  op.CopyFiles(all, src, dst);
  EXPECT_EQ(Snapshot(dst, false), before);
  EXPECT_EQ(before.size(), 34u);
  fs::remove_all(dst);
  MakeDir(dst);
  op.MoveFiles(all, src, dst);
  EXPECT_EQ(Snapshot(dst, false), before);
  EXPECT_TRUE(Snapshot(src).empty());
  op.DeleteFiles(all, dst);
  EXPECT_TRUE(Snapshot(dst).empty());
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(Snapshot(tmp / "outside"), outside);
  EXPECT_FALSE(Exists(tmp / "pwned") || Exists(src + "/pwned") || Exists("pwned"));
}

// A FIFO is reported by its raw bytes and never read; a move leaves it, and
// the directory holding it, where they were; a delete removes it.
TEST_F(FileOpsTest, AFifoInsideATreeIsReportedAndNeverRead) {
  MakeTree(src, {"D\xff/f=f"});
  ASSERT_EQ(::mkfifo(S("D\xff/p\xfe").c_str(), 0644), 0);
  op.CopyFiles({"D\xff"}, src, dst);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].item + "|" + prompt.messages[0].text, "D\xff/p\xfe|Could not copy file D\xff/p\xfe");
  EXPECT_EQ(Snapshot(dst, false), (std::map<std::string, std::string>{{"D\xff", "d"}, {"D\xff/f", "f f"}}));
  op.ConfirmOverwrite = false;
  op.MoveFiles({"D\xff"}, src, dst);
  EXPECT_EQ(Snapshot(src, false), (std::map<std::string, std::string>{{"D\xff", "d"}, {"D\xff/p\xfe", "p"}}));
  op.DeleteFiles({"D\xff"}, src);
  EXPECT_TRUE(prompt.messages.size() == 2u && !Exists(S("D\xff")));
}

// A file onto itself (also through a hard link) and a directory onto itself
// or into its own subtree (also through a link) are refused; the other items
// of the set are still handled.
TEST_F(FileOpsTest, NothingIsCopiedOrMovedOntoOrIntoItself) {
  MakeTree(src, {"a=only copy", "h=shared", "D/sub/deeper/", "D/x=x"});
  ASSERT_EQ(::link(S("h").c_str(), D("h").c_str()), 0);
  ASSERT_EQ(::symlink(S("D/sub").c_str(), (tmp / "alias").c_str()), 0);
  op.CopyFiles({"a"}, src, src);
  op.MoveFiles({"a", "D"}, src, src);
  op.MoveFiles({"h"}, src, dst);
  op.CopyFiles({"D"}, src, S("D/sub/deeper"));
  op.CopyFiles({"D"}, src, tmp / "alias");
  EXPECT_EQ(prompt.MessageTexts(),
            (Texts{"Could not copy file a onto itself", "Could not copy file a onto itself",
                   "Could not copy directory D into itself", "Could not copy file h onto itself",
                   "Could not copy directory D into itself", "Could not copy directory D into itself"}));
  EXPECT_EQ(ReadFile(S("a")) + ReadFile(S("h")) + ReadFile(D("h")), "only copysharedshared");
  EXPECT_EQ(Snapshot(S("D/sub"), false), (std::map<std::string, std::string>{{"deeper", "d"}}));

  op.MoveFiles({"D", "a"}, src, S("D/sub"));
  EXPECT_EQ(prompt.messages.size(), 7u);
  EXPECT_EQ(ReadFile(S("D/sub/a")), "only copy");
  EXPECT_FALSE(Exists(S("a")));
}

// Items that vanish between listing and handling, names that were never
// there and a destination that is missing are reported; the rest is done.
TEST_F(FileOpsTest, VanishedAndMissingItemsAreReportedAndSkipped) {
  MakeTree(src, {"a=a", "b=b", "c=c", "D/S/x=x", "D/z=D/z"});
  onEvent = [&](int) {
    if (events.size() == 1) {
      ::unlink(S("b").c_str());
      fs::remove_all(S("D/S"));
    }
  };
  op.MoveFiles({"a", "ghost", "b", "c", "D"}, src, dst);
  EXPECT_EQ(prompt.MessageTexts(),
            (Texts{"Could not find file ghost", "Could not find file b", "Could not find file D/S"}));
  EXPECT_EQ(ReadFile(D("a")) + ReadFile(D("c")) + ReadFile(D("D/z")), "acD/z");
  // The directory with a failed item stays.
  EXPECT_EQ(Snapshot(src, false), (std::map<std::string, std::string>{{"D", "d"}}));

  prompt.messages.clear();
  events.clear();
  onEvent = [&](int) { ::unlink(D("a").c_str()); };
  op.DeleteFiles({"a", "c"}, dst);
  EXPECT_EQ(prompt.MessageTexts(), (Texts{"Could not find file a"}));
  EXPECT_EQ(events.size(), 2u);

  prompt.messages.clear();
  onEvent = nullptr;
  op.MoveFiles({"D"}, dst, tmp / "missing");
  EXPECT_EQ(prompt.MessageTexts(), (Texts{"Could not create directory D", "Could not copy file D/z"}));
  EXPECT_EQ(ReadFile(D("D/z")), "D/z");
}

TEST_F(FileOpsTest, NamesThatReachOutsideTheDirectoryAreRefused) {
  MakeTree(tmp.path(), {"victim=v", "src/sub/inner=i"});
  op.DeleteFiles({"..", ".", "", "../victim", "sub/inner", std::string("a\0b", 3)}, src);
  ASSERT_EQ(prompt.messages.size(), 6u);
  for (const auto& message : prompt.messages) EXPECT_EQ(message.kind, TFMMessageKind::InvalidName);
  EXPECT_EQ(prompt.messages[0].text, "Invalid file name ..");
  EXPECT_EQ(ReadFile(tmp / "victim") + ReadFile(S("sub/inner")), "vi");
}

// A wide tree with one deep branch. Cancelled while it is listed (each step
// of the listing raises an event here), nothing is touched; declined, the
// listing goes on. Moved: one event per entry, every byte there.
TEST_F(FileOpsTest, ALargeTree) {
  std::string deep = "T/deep";
  for (int i = 0; i < 200; ++i) deep += "/n";
  MakeTree(src, {deep + "/leaf=leaf"});
  double bytes = 4;
  for (int d = 0; d < 50; ++d)
    for (int f = 0; f < 100; ++f) {
      const std::string body = std::to_string(d * 1000 + f);
      MakeTree(src, {std::string("T/d") += std::to_string(d) + "/f" + std::to_string(f) + "=" + body});
      bytes += static_cast<double>(body.size());
    }
  EXPECT_EQ(op.GetTotalSize({"T"}, src), bytes);
  const auto before = Snapshot(src);
  const auto cancelAtThird = [&](int) {
    if (events.size() == 3) op.OperationAborted = true;
  };
  op.ProgressInterval = std::chrono::milliseconds(0);
  onEvent = cancelAtThird;
  prompt.abortAnswers = {true};
  op.MoveFiles({"T"}, src, dst);
  EXPECT_EQ(events, (std::vector<int>{0, 0, 0}));
  EXPECT_TRUE(op.OperationAborted && Snapshot(dst).empty());
  EXPECT_EQ(Snapshot(src), before);

  op.ProgressInterval = std::chrono::hours(1);
  events.clear();
  onEvent = nullptr;
  op.MoveFiles({"T"}, src, dst);
  EXPECT_EQ(events.size(), 2 * before.size());
  EXPECT_EQ(events.back(), 100);
  EXPECT_EQ(Snapshot(dst), before);
  EXPECT_TRUE(Snapshot(src).empty());

  op.ProgressInterval = std::chrono::milliseconds(0);
  events.clear();
  onEvent = cancelAtThird;
  prompt.abortAnswers = {false};
  op.DeleteFiles({"T"}, dst);
  EXPECT_FALSE(op.OperationAborted);
  EXPECT_TRUE(Snapshot(dst).empty());
  EXPECT_EQ(prompt.log, (Texts{"?Abort operation?", "?Abort operation?"}));
}

// A full disk (a file-size limit in a child process) keeps the previous
// destination and the source of the failed move, and leaves no partial file.
TEST_F(FileOpsTest, AFullDisk) {
  const std::string big = PatternBytes(3 * 1024 * 1024, 9);
  MakeTree(src, {"big=" + big, "small=small", "fresh=" + big});
  MakeTree(dst, {"big=previous"});
  Run([&](TFMOperation& engine, ScriptedPrompt& p) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1024 * 1024, 1024 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    p.overwriteAnswers = {Answer::Yes};
    engine.MoveFiles({"big", "small", "fresh"}, src, dst);
    EXPECT_EQ(p.MessageTexts(), (Texts{"Could not copy file big", "Could not copy file fresh"}));
    EXPECT_TRUE(p.messages[0].error == EFBIG || p.messages[0].error == ENOSPC) << p.messages[0].error;
    // Nothing half copied, the previous destination and the failed sources kept, no temporary file.
    EXPECT_EQ(Snapshot(dst, false), (std::map<std::string, std::string>{{"big", "f previous"}, {"small", "f small"}}));
    EXPECT_EQ(ReadFile(S("big")) + ReadFile(S("fresh")), big + big);
    EXPECT_FALSE(Exists(S("small")));
  }, false);
}

// As an ordinary user (so is the next test): deleting a tree gives its
// directories owner access first; moving out of a read-only tree keeps the
// directories' modes; the directory the chosen names are in is never
// changed. Unreadable sources are reported and kept by a move, without a
// question for what is in their place.
TEST_F(FileOpsTest, ReadOnlyTreesAndUnreadableSources) {
  MakeTree(src, {"T/ro/inner/f=f", "T/locked/x/h=h", "M/E/x=x", "U/locked/in=in", "U/secret=s", "U/open=o"});
  MakeTree(tmp.path(), {"fixed/a=a", "dst/U/secret=theirs"});
  for (const char* d : {"T/ro/inner", "T/ro", "T", "M/E", "M"}) ::chmod(S(d).c_str(), 0555);
  for (const char* d : {"T/locked/x", "T/locked", "U/secret", "U/locked"}) ::chmod(S(d).c_str(), 0);
  ::chmod((tmp / "fixed").c_str(), 0555);
  Run([&](TFMOperation& engine, ScriptedPrompt& p) {
    engine.DeleteFiles({"T"}, src);
    engine.MoveFiles({"M"}, src, dst);
    EXPECT_EQ(p.log, Texts{});
    EXPECT_FALSE(Exists(S("T")) || Exists(S("M")));
    EXPECT_EQ(std::make_tuple(ReadFile(D("M/E/x")), ModeOf(D("M/E")), ModeOf(D("M"))),
              std::make_tuple("x", 0555u, 0555u));
    engine.DeleteFiles({"a"}, tmp / "fixed");
    EXPECT_EQ(p.log, Texts{"!Could not delete file a"});
    EXPECT_EQ(p.messages[0].error, EACCES);
    EXPECT_TRUE(ModeOf(tmp / "fixed") == 0555 && Exists(tmp / "fixed/a"));
    p.log.clear();
    engine.MoveFiles({"U"}, src, dst);  // the order of the two messages is the directory's
    EXPECT_EQ(std::set<std::string>(p.log.begin(), p.log.end()),
              (std::set<std::string>{"!Could not copy file U/locked", "!Could not copy file U/secret"}));
    EXPECT_EQ(ReadFile(D("U/secret")) + ReadFile(D("U/open")), "theirso");
    EXPECT_TRUE(Exists(S("U/secret")) && Exists(S("U/locked")) && !Exists(S("U/open")));
  }, true);
}

// Into a read-only directory: every item fails and a move keeps them all;
// "Skip all" at the first message shows no other, "Abort" ends the copy
// there; either way every failure is kept with the system's reason.
TEST_F(FileOpsTest, CopyingIntoAReadOnlyDirectory) {
  Texts names;
  for (int i = 0; i < 30; ++i) names.push_back(std::string("f") += std::to_string(i));
  for (const auto& n : names) WriteFile(S(n), "x");
  MakeTree(src, {"D/b=b"});
  ::chmod(dst.c_str(), 0555);
  Run([&](TFMOperation& engine, ScriptedPrompt& p) {
    engine.MoveFiles({"f0", "D"}, src, dst);
    EXPECT_EQ(p.MessageTexts(),
              (Texts{"Could not copy file f0", "Could not create directory D", "Could not copy file D/b"}));
    EXPECT_TRUE(Exists(S("f0")) && Exists(S("D/b")));
    const struct {
      TMessageAnswer answer;
      size_t failures;
      int skipped;
      bool aborted;
    } cases[] = {{TMessageAnswer::SkipAll, 30, 29, false}, {TMessageAnswer::Abort, 1, 0, true}};
    for (const auto& k : cases) {
      p.log.clear();
      p.messageAnswers = {k.answer};
      engine.CopyFiles(names, src, dst);
      EXPECT_EQ(p.log, Texts{"!Could not copy file f0"});
      EXPECT_EQ(std::make_tuple(engine.Failures().size(), engine.SkippedCount(), engine.OperationAborted.load()),
                std::make_tuple(k.failures, k.skipped, k.aborted));
      for (const TFMMessage& m : engine.Failures()) EXPECT_EQ(m.reason, "Permission denied");
    }
    EXPECT_TRUE(Snapshot(dst).empty());
  }, true);
}

// The platform's single-entry copy steps: the temporary file and its
// cleanup, links and permissions.

// Every byte with rising block counts; a stopped copy, or one onto a name
// that appeared meanwhile without replace, leaves what was there; so does a
// copy that replaces a file and is killed halfway: the partial copy was an
// unnamed file.
TEST(CopyRegularFile, CopiesEveryByteOrLeavesTheDestinationAsItWas) {
  test::TempDir tmp;
  const std::string data = PatternBytes(9 * 1024 * 1024 + 3, 11);
  WriteFile(tmp / "a", data);
  std::vector<uint64_t> seen;
  platform::CopyResult r =
      platform::CopyRegularFile(tmp / "a", tmp / "b", false, [&](uint64_t n) { return seen.push_back(n), true; });
  ASSERT_EQ(r.status, platform::CopyStatus::Done) << r.error;
  EXPECT_EQ(ReadFile(tmp / "b"), data);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), data.size());

  WriteFile(tmp / "b", "old");
  r = platform::CopyRegularFile(tmp / "a", tmp / "b", true, [](uint64_t) { return false; });
  EXPECT_EQ(r.status, platform::CopyStatus::Stopped);
  r = platform::CopyRegularFile(tmp / "a", tmp / "b", false, nullptr);
  EXPECT_EQ(std::make_pair(r.status, r.error), std::make_pair(platform::CopyStatus::Failed, EEXIST));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    platform::CopyRegularFile(tmp / "a", tmp / "b", true, [&](uint64_t) {
      (void)!::write(ready[1], "x", 1);  // data is written: the parent may kill
      ::pause();
      return true;
    });
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ReadFile(tmp / "b"), "old");
  EXPECT_TRUE(TemporaryFiles(tmp.path()).empty());

  // Files under /proc report a size of 0 but have contents.
  r = platform::CopyRegularFile("/proc/self/status", tmp / "status", false, nullptr);
  ASSERT_EQ(r.status, platform::CopyStatus::Done) << r.error;
  EXPECT_NE(ReadFile(tmp / "status").find("Name:"), std::string::npos);
}

// A file that changed after it was examined (through the open descriptor)
// and before its data was copied is copied as it is by then, whole: a block
// that ends where the file ended when examined is taken for its end only
// when it is shorter than asked for. Both ways of writing a copy.
TEST(CopyRegularFile, CopiesAFileChangedAfterItWasExaminedWhole) {
  struct Change {
    const char* name;
    size_t before, after;
  };
  for (const Change& c : {Change{"unchanged", 4096, 4096}, Change{"grown_by_a_byte", 4096, 4097},
                          Change{"grown_past_a_block", 4096, 3 * 1024 * 1024 + 5},
                          Change{"empty_grown", 0, 10}, Change{"shrunk", 4096, 1000}}) {
    for (const bool pooled : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (pooled ? ", unnamed in a directory" : ", in place"));
      test::TempDir tmp;
      WriteFile(tmp / "a", PatternBytes(c.before, 5));
      platform::SourceFile source;
      ASSERT_EQ(source.Open(tmp / "a"), 0);
      ASSERT_EQ(source.info().size, c.before);
      const std::string now = PatternBytes(c.after, 6);
      {
        // Rewritten in place, so that the open descriptor sees it.
        std::FILE* f = std::fopen((tmp / "a").c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(now.data(), 1, now.size(), f), now.size());
        std::fclose(f);
        ASSERT_EQ(::truncate((tmp / "a").c_str(), static_cast<off_t>(c.after)), 0);
      }
      if (pooled) {
        platform::DirectoryHandle dir;
        ASSERT_EQ(dir.Open(tmp.path(), true), 0);
        int fd = -1;
        ASSERT_EQ(platform::CopyToUnnamedAt(source, dir.fd(), nullptr, platform::kUnknownMask, fd).status,
                  platform::CopyStatus::Done);
        ASSERT_EQ(platform::NameUnnamedCopyAt(fd, dir.fd(), "b").status, platform::CopyStatus::Done);
      } else {
        ASSERT_EQ(platform::CopyOpenFile(source, tmp / "b", false, nullptr).status, platform::CopyStatus::Done);
      }
      EXPECT_EQ(ReadFile(tmp / "b"), now);
    }
  }
}

// A link's target bytes are copied as they are; without replace an existing
// entry stays, with it the link takes its place. Owner access is added to a
// directory, never through a link.
TEST(CopySymlink, CopiesTheTargetBytesAndGrantOwnerAccessNeverFollows) {
  test::TempDir tmp;
  const std::string target = std::string("../some\xff/where ") + std::string(300, 'x');
  ASSERT_EQ(::symlink(target.c_str(), (tmp / "l").c_str()), 0);
  ASSERT_EQ(platform::CopySymlink(tmp / "l", tmp / "m", false).status, platform::CopyStatus::Done);
  EXPECT_EQ(fs::read_symlink(tmp / "m").native(), target);
  WriteFile(tmp / "n", "file");
  EXPECT_EQ(platform::CopySymlink(tmp / "l", tmp / "n", false).error, EEXIST);
  EXPECT_EQ(ReadFile(tmp / "n"), "file");
  EXPECT_EQ(platform::CopySymlink(tmp / "l", tmp / "n", true).status, platform::CopyStatus::Done);
  EXPECT_EQ(fs::read_symlink(tmp / "n").native(), target);
  EXPECT_TRUE(TemporaryFiles(tmp.path()).empty());

  test::MakeDir(tmp / "d");
  ::chmod((tmp / "d").c_str(), 0500);
  EXPECT_EQ(platform::GrantOwnerAccess(tmp / "d", S_IWUSR), 0);
  EXPECT_EQ(ModeOf(tmp / "d"), 0700u);
  ::chmod((tmp / "d").c_str(), 0555);
  ASSERT_EQ(::symlink("d", (tmp / "dl").c_str()), 0);
  EXPECT_EQ(platform::GrantOwnerAccess(tmp / "dl", S_IWUSR), EPERM);
  EXPECT_EQ(ModeOf(tmp / "d"), 0555u);
}

}  // namespace
}  // namespace vantrel::fileops::testing
