// The copy engine against awkward trees and failing systems: links and link
// loops, FIFOs, copies onto or into themselves, vanishing items, names that
// are not UTF-8 or carry shell characters, large trees, a full disk and
// missing permissions.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "fileops/fmoperation.h"
#include "tests/fileops/fileops_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using test::MakeDir;
using test::ReadFile;
using test::WriteFile;
using Answer = TOverwriteAnswer;

// ---------------------------------------------------------------------------
// Symbolic links

class LinkTree : public FileOpsTest {
 protected:
  void SetUp() override {
    FileOpsTest::SetUp();
    MakeDir(tmp / "outside");
    WriteFile(tmp / "outside/precious", "precious");
    MakeDir(S("D/sub"));
    WriteFile(S("D/f"), "f");
    ASSERT_EQ(::symlink(".", S("D/loop").c_str()), 0);
    ASSERT_EQ(::symlink("..", S("D/sub/up").c_str()), 0);
    ASSERT_EQ(::symlink("f", S("D/lf").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere\xff", S("D/dangling").c_str()), 0);
    ASSERT_EQ(::symlink((tmp / "outside").c_str(), S("D/out").c_str()), 0);
  }
};

TEST_F(LinkTree, CopyCopiesLinksAsLinksAndNeverDescendsThroughThem) {
  const auto before = Snapshot(src, false);
  op.CopyFiles({"D"}, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(Snapshot(dst, false), before);
  EXPECT_EQ(Snapshot(dst, false).size(), 8u);  // D, sub, f, loop, up, lf, dangling, out
}

TEST_F(LinkTree, MoveMovesLinksAsLinks) {
  const auto before = Snapshot(src, false);
  op.MoveFiles({"D"}, src, dst);
  EXPECT_EQ(Snapshot(dst, false), before);
  EXPECT_FALSE(Exists(S("D")));
  EXPECT_EQ(ReadFile(tmp / "outside/precious"), "precious");
}

TEST_F(LinkTree, DeleteRemovesTheLinksAndNothingTheyPointTo) {
  op.DeleteFiles({"D"}, src);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_FALSE(Exists(S("D")));
  EXPECT_EQ(ReadFile(tmp / "outside/precious"), "precious");
}

TEST_F(LinkTree, AChosenLinkToADirectoryIsCopiedAndDeletedAsALink) {
  ASSERT_EQ(::symlink((tmp / "outside").c_str(), S("toout").c_str()), 0);
  EXPECT_EQ(op.GetTotalSize({"toout"}, src), 0.00001);
  op.CopyFiles({"toout"}, src, dst);
  EXPECT_EQ(fs::read_symlink(D("toout")).native(), tmp / "outside");
  op.DeleteFiles({"toout"}, src);
  EXPECT_FALSE(Exists(S("toout")));
  EXPECT_EQ(ReadFile(tmp / "outside/precious"), "precious");
}

TEST_F(LinkTree, ALinkAtTheDestinationIsReplacedNotWrittenThrough) {
  WriteFile(S("name"), "new");
  ASSERT_EQ(::symlink((tmp / "outside/precious").c_str(), D("name").c_str()), 0);
  prompt.overwriteAnswers = {Answer::Yes};
  op.CopyFiles({"name"}, src, dst);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"?Overwrite file name?"}));
  EXPECT_EQ(ReadFile(D("name")), "new");
  EXPECT_FALSE(fs::is_symlink(D("name")));
  EXPECT_EQ(ReadFile(tmp / "outside/precious"), "precious");
}

TEST_F(LinkTree, ALinkAtTheDestinationIsNoDirectoryToCopyInto) {
  ASSERT_EQ(::symlink((tmp / "outside").c_str(), D("D").c_str()), 0);
  op.CopyFiles({"D"}, src, dst);
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(prompt.messages[0].text, "Could not create directory D");
  EXPECT_EQ(Snapshot(tmp / "outside", false),
            (std::map<std::string, std::string>{{"precious", "f precious"}}));
}

// ---------------------------------------------------------------------------
// Special files

TEST_F(FileOpsTest, AFifoInsideACopiedTreeIsReportedAndNeverRead) {
  MakeDir(S("D"));
  ASSERT_EQ(::mkfifo(S("D/fifo").c_str(), 0644), 0);
  WriteFile(S("D/f"), "f");
  op.CopyFiles({"D"}, src, dst);
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not copy file D/fifo"}));
  EXPECT_EQ(ReadFile(D("D/f")), "f");
  EXPECT_FALSE(Exists(D("D/fifo")));
  EXPECT_TRUE(TemporaryFiles(dst).empty());

  // A move leaves it, and the directory holding it, where they were.
  prompt.messages.clear();
  op.ConfirmOverwrite = false;
  op.MoveFiles({"D"}, src, dst);
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not copy file D/fifo"}));
  EXPECT_TRUE(Exists(S("D/fifo")));
  EXPECT_FALSE(Exists(S("D/f")));

  // A delete removes it like any file.
  prompt.messages.clear();
  op.DeleteFiles({"D"}, src);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_FALSE(Exists(S("D")));
}

// ---------------------------------------------------------------------------
// Copies onto and into themselves

TEST_F(FileOpsTest, AFileIsNeverCopiedOrMovedOntoItself) {
  WriteFile(S("a"), "only copy");
  op.CopyFiles({"a"}, src, src);
  op.MoveFiles({"a"}, src, src);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"!Could not copy file a onto itself",
                                                  "!Could not copy file a onto itself"}));
  EXPECT_EQ(ReadFile(S("a")), "only copy");
}

TEST_F(FileOpsTest, AHardLinkCountsAsTheSameFile) {
  WriteFile(S("a"), "shared");
  ASSERT_EQ(::link(S("a").c_str(), D("a").c_str()), 0);
  op.MoveFiles({"a"}, src, dst);
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not copy file a onto itself"}));
  EXPECT_EQ(ReadFile(S("a")), "shared");
  EXPECT_EQ(ReadFile(D("a")), "shared");
}

TEST_F(FileOpsTest, ADirectoryIsNeverCopiedOrMovedOntoItself) {
  MakeDir(S("D"));
  WriteFile(S("D/x"), "x");
  op.MoveFiles({"D"}, src, src);
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not copy directory D into itself"}));
  EXPECT_EQ(ReadFile(S("D/x")), "x");
}

TEST_F(FileOpsTest, ADirectoryIsNeverCopiedIntoItsOwnSubtree) {
  MakeDir(S("D/sub/deeper"));
  WriteFile(S("D/x"), "x");
  const auto before = Snapshot(src);
  op.CopyFiles({"D"}, src, S("D/sub/deeper"));
  op.MoveFiles({"D"}, src, S("D/sub"));
  // Through a link to the tree as well.
  ASSERT_EQ(::symlink(S("D/sub").c_str(), (tmp / "alias").c_str()), 0);
  op.CopyFiles({"D"}, src, tmp / "alias");
  EXPECT_EQ(prompt.MessageTexts(), std::vector<std::string>(3, "Could not copy directory D into itself"));
  EXPECT_EQ(Snapshot(src), before);
}

TEST_F(FileOpsTest, AnotherItemOfTheSameSetStillGoesIntoTheSubtree) {
  MakeDir(S("D/sub"));
  WriteFile(S("f"), "f");
  op.MoveFiles({"D", "f"}, src, S("D/sub"));
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not copy directory D into itself"}));
  EXPECT_EQ(ReadFile(S("D/sub/f")), "f");
  EXPECT_FALSE(Exists(S("f")));
}

// ---------------------------------------------------------------------------
// Items that vanish between listing and handling

TEST_F(FileOpsTest, AVanishedFileIsReportedAndSkipped) {
  for (const char* n : {"a", "b", "c"}) WriteFile(S(n), n);
  onEvent = [&](int) {
    if (events.size() == 1) ::unlink(S("b").c_str());
  };
  op.MoveFiles({"a", "b", "c"}, src, dst);
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not find file b"}));
  EXPECT_EQ(ReadFile(D("a")) + ReadFile(D("c")), "ac");
  EXPECT_FALSE(Exists(S("a")) || Exists(S("c")));
}

TEST_F(FileOpsTest, AVanishedDirectoryIsReportedOnceAndItsTreeSkipped) {
  MakeDir(S("D/S"));
  for (const char* n : {"S/x", "S/y", "z"}) WriteFile(S(std::string("D/") + n), n);
  onEvent = [&](int) {
    if (events.size() == 1) fs::remove_all(S("D/S"));
  };
  op.CopyFiles({"D"}, src, dst);
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not find file D/S"}));
  EXPECT_EQ(ReadFile(D("D/z")), "z");
  EXPECT_FALSE(Exists(D("D/S")));
}

TEST_F(FileOpsTest, AnItemThatVanishedBeforeItsDeleteIsReported) {
  for (const char* n : {"a", "b"}) WriteFile(S(n), n);
  onEvent = [&](int) { ::unlink(S("a").c_str()); };
  op.DeleteFiles({"a", "b"}, src);
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not find file a"}));
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(FileOpsTest, AMissingNameIsReportedAndTheRestDone) {
  WriteFile(S("a"), "a");
  op.CopyFiles({"ghost", "a"}, src, dst);
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not find file ghost"}));
  EXPECT_TRUE(Exists(D("a")));
}

TEST_F(FileOpsTest, AMissingDestinationDirectoryFailsEveryItemAndAMoveKeepsThem) {
  WriteFile(S("a"), "a");
  MakeDir(S("D"));
  WriteFile(S("D/b"), "b");
  op.MoveFiles({"a", "D"}, src, tmp / "missing");
  EXPECT_EQ(prompt.MessageTexts(), (std::vector<std::string>{"Could not copy file a", "Could not create directory D",
                                                             "Could not copy file D/b"}));
  EXPECT_FALSE(Exists(tmp / "missing"));
  EXPECT_EQ(ReadFile(S("a")) + ReadFile(S("D/b")), "ab");
}

// ---------------------------------------------------------------------------
// Names

TEST_F(FileOpsTest, NamesThatReachOutsideTheDirectoryAreRefused) {
  WriteFile(tmp / "victim", "v");
  MakeDir(S("sub"));
  WriteFile(S("sub/inner"), "i");
  op.DeleteFiles({"..", ".", "", "../victim", "sub/inner", std::string("a\0b", 3)}, src);
  const auto& m = prompt.messages;
  ASSERT_EQ(m.size(), 6u);
  for (const auto& message : m) EXPECT_EQ(message.kind, TFMMessageKind::InvalidName);
  EXPECT_EQ(m[0].text, "Invalid file name ..");
  EXPECT_EQ(ReadFile(tmp / "victim"), "v");
  EXPECT_EQ(ReadFile(S("sub/inner")), "i");
}

TEST_F(FileOpsTest, NamesWithInvalidUtf8AndShellCharactersSurviveEveryOperation) {
  const std::vector<std::string> names = {"bad\xff\xfe", "\xc3(", "a;rm -rf x", "$(touch pwned)",
                                          "`id`", "q'\"uote", "new\nline", " lead", "-dash", "*?[",
                                          "tab\there"};
  MakeDir(S("dir\x80"));
  for (const auto& n : names) {
    WriteFile(S(n), "data " + n);
    WriteFile(S("dir\x80/" + n), n);
  }
  std::vector<std::string> all = names;
  all.push_back("dir\x80");
  const auto before = Snapshot(src);

  op.CopyFiles(all, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(Snapshot(dst), before);

  fs::remove_all(dst);
  MakeDir(dst);
  op.MoveFiles(all, src, dst);
  EXPECT_EQ(Snapshot(dst), before);
  EXPECT_TRUE(Snapshot(src).empty());

  op.DeleteFiles(all, dst);
  EXPECT_TRUE(Snapshot(dst).empty());
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_FALSE(Exists(tmp / "pwned") || Exists(src + "/pwned") || Exists("pwned"));
}

TEST_F(FileOpsTest, MessagesCarryTheRawBytesOfTheItem) {
  MakeDir(S("d\xff"));
  ASSERT_EQ(::mkfifo(S("d\xff/p\xfe").c_str(), 0600), 0);
  op.CopyFiles({"d\xff"}, src, dst);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].item, "d\xff/p\xfe");
  EXPECT_EQ(prompt.messages[0].text, "Could not copy file d\xff/p\xfe");
}

// ---------------------------------------------------------------------------
// Large trees

TEST_F(FileOpsTest, TenThousandEntryTree) {
  MakeDir(S("T"));
  double bytes = 0;
  for (int d = 0; d < 100; ++d) {
    const std::string dir = S("T/d" + std::to_string(d));
    MakeDir(dir);
    for (int f = 0; f < 100; ++f) {
      const std::string body = std::to_string(d * 1000 + f);
      WriteFile(dir + "/f" + std::to_string(f), body);
      bytes += static_cast<double>(body.size());
    }
  }
  EXPECT_EQ(op.GetTotalSize({"T"}, src), bytes);
  op.CopyFiles({"T"}, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(events.size(), 10101u);
  EXPECT_EQ(events.back(), 100);
  EXPECT_EQ(Snapshot(dst), Snapshot(src));

  events.clear();
  op.DeleteFiles({"T"}, dst);
  EXPECT_EQ(events.size(), 10101u);
  EXPECT_TRUE(Snapshot(dst).empty());
  EXPECT_TRUE(prompt.log.empty());
}

TEST_F(FileOpsTest, ADeepTree) {
  std::string rel = "deep";
  for (int i = 0; i < 200; ++i) rel += "/n";
  MakeDir(S(rel));
  WriteFile(S(rel + "/leaf"), "leaf");
  op.MoveFiles({"deep"}, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(ReadFile(D(rel + "/leaf")), "leaf");
  EXPECT_FALSE(Exists(S("deep")));
}

// ---------------------------------------------------------------------------
// A full disk: a file-size limit in a child process

TEST_F(FileOpsTest, AFullDiskKeepsThePreviousDestinationAndLeavesNoPartialFile) {
  const std::string big = PatternBytes(3 * 1024 * 1024, 9);
  WriteFile(S("big"), big);
  WriteFile(S("small"), "small");
  WriteFile(S("fresh"), big);
  WriteFile(D("big"), "previous");
  const ChildResult r = RunInChild([&] {
    ChildChecks c;
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1024 * 1024, 1024 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ScriptedPrompt p;
    p.overwriteAnswers = {Answer::Yes};
    TFMOperation engine;
    engine.SetPrompt(&p);
    engine.MoveFiles({"big", "small", "fresh"}, src, dst);
    c.Check(p.MessageTexts() ==
                std::vector<std::string>{"Could not copy file big", "Could not copy file fresh"},
            "messages: " + (p.log.empty() ? std::string("none") : p.log.back()));
    c.Check(!Exists(D("fresh")) && ReadFile(S("fresh")) == big, "fresh file half copied or lost");
    c.Check(!p.messages.empty() && (p.messages[0].error == EFBIG || p.messages[0].error == ENOSPC),
            "error is not EFBIG");
    c.Check(ReadFile(D("big")) == "previous", "previous destination lost");
    c.Check(ReadFile(S("big")) == big, "source of the failed move lost");
    c.Check(ReadFile(D("small")) == "small" && !Exists(S("small")), "small file not moved");
    c.Check(TemporaryFiles(dst).empty(), "temporary file left behind");
    return c.failures;
  });
  EXPECT_EQ(r.failures, "");
}

// ---------------------------------------------------------------------------
// Permissions, as an ordinary user (a child of root becomes "nobody")

class PermissionTest : public FileOpsTest {
 protected:
  void Run(const std::function<std::string()>& body) {
    const ChildResult r = RunInChild(body, true, tmp.path());
    if (r.skipped) GTEST_SKIP() << "cannot run as an ordinary user here";
    EXPECT_EQ(r.failures, "");
  }
};

TEST_F(PermissionTest, DeletingATreeGivesItsDirectoriesOwnerAccessFirst) {
  MakeDir(S("T/ro/inner"));
  MakeDir(S("T/locked/x"));
  WriteFile(S("T/ro/inner/f"), "f");
  WriteFile(S("T/ro/g"), "g");
  WriteFile(S("T/locked/x/h"), "h");
  ::chmod(S("T/ro/inner").c_str(), 0555);
  ::chmod(S("T/ro").c_str(), 0555);
  ::chmod(S("T/locked/x").c_str(), 0);
  ::chmod(S("T/locked").c_str(), 0);
  ::chmod(S("T").c_str(), 0555);
  Run([&] {
    ChildChecks c;
    ScriptedPrompt p;
    TFMOperation engine;
    engine.SetPrompt(&p);
    engine.DeleteFiles({"T"}, src);
    c.Check(p.log.empty(), "messages: " + (p.log.empty() ? std::string() : p.log.front()));
    c.Check(!Exists(S("T")), "tree still there");
    return c.failures;
  });
}

TEST_F(PermissionTest, TheDirectoryTheNamesAreInIsNotChanged) {
  WriteFile(S("a"), "a");
  ::chmod(src.c_str(), 0555);
  Run([&] {
    ChildChecks c;
    ScriptedPrompt p;
    TFMOperation engine;
    engine.SetPrompt(&p);
    engine.DeleteFiles({"a"}, src);
    c.Check(p.MessageTexts() == std::vector<std::string>{"Could not delete file a"}, "no message");
    c.Check(p.messages.size() == 1 && p.messages[0].error == EACCES, "not EACCES");
    c.Check(ModeOf(src) == 0555, "mode changed");
    c.Check(Exists(S("a")), "deleted anyway");
    return c.failures;
  });
}

TEST_F(PermissionTest, CopyingIntoAReadOnlyDirectoryFailsCleanly) {
  WriteFile(S("a"), "a");
  MakeDir(S("D"));
  WriteFile(S("D/b"), "b");
  ::chmod(dst.c_str(), 0555);
  Run([&] {
    ChildChecks c;
    ScriptedPrompt p;
    TFMOperation engine;
    engine.SetPrompt(&p);
    engine.MoveFiles({"a", "D"}, src, dst);
    c.Check(p.MessageTexts() ==
                std::vector<std::string>{"Could not copy file a", "Could not create directory D",
                                         "Could not copy file D/b"},
            "messages differ");
    c.Check(Snapshot(dst).empty(), "something was written");
    c.Check(Exists(S("a")) && Exists(S("D/b")), "a source was removed");
    return c.failures;
  });
}

// Thirty files into a read-only directory: "Skip all" at the first message
// shows no other, "Abort" ends the copy there; either way every failure is
// kept with the system's reason for the summary.
TEST_F(PermissionTest, SkipAllAndAbortAtTheFirstFailure) {
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) {
    std::string name = std::to_string(i);
    name.insert(name.begin(), 'f');
    WriteFile(S(name), "x");
    names.push_back(std::move(name));
  }
  ::chmod(dst.c_str(), 0555);
  Run([&] {
    ChildChecks c;
    struct Case {
      TMessageAnswer answer;
      size_t failures;
      int skipped;
      bool aborted;
    };
    for (const Case& k : {Case{TMessageAnswer::SkipAll, 30, 29, false}, Case{TMessageAnswer::Abort, 1, 0, true}}) {
      ScriptedPrompt p;
      p.messageAnswers = {k.answer};
      TFMOperation engine;
      engine.SetPrompt(&p);
      engine.CopyFiles(names, src, dst);
      c.Check(p.log == std::vector<std::string>{"!Could not copy file f0"}, "asked more than once");
      c.Check(engine.Failures().size() == k.failures, "wrong number of failures kept");
      c.Check(engine.SkippedCount() == k.skipped, "wrong number of failures skipped");
      c.Check(engine.OperationAborted == k.aborted, "aborted flag");
      for (const TFMMessage& m : engine.Failures())
        c.Check(m.reason == "Permission denied", "reason: " + m.reason);
    }
    c.Check(Snapshot(dst).empty(), "something was written");
    return c.failures;
  });
}

TEST_F(PermissionTest, UnreadableSourcesAreReportedAndKeptByAMove) {
  MakeDir(S("D/locked"));
  WriteFile(S("D/locked/in"), "in");
  WriteFile(S("D/secret"), "s");
  WriteFile(S("D/open"), "o");
  MakeDir(D("D"));
  WriteFile(D("D/secret"), "theirs");  // no question for a file that cannot be read
  ::chmod(S("D/secret").c_str(), 0);
  ::chmod(S("D/locked").c_str(), 0);
  Run([&] {
    ChildChecks c;
    ScriptedPrompt p;
    TFMOperation engine;
    engine.SetPrompt(&p);
    engine.MoveFiles({"D"}, src, dst);
    std::set<std::string> texts;
    for (const auto& t : p.MessageTexts()) texts.insert(t);
    c.Check(texts == std::set<std::string>{"Could not copy file D/locked", "Could not copy file D/secret"},
            "messages differ");
    c.Check(p.log.size() == 2, "a question was asked");
    c.Check(ReadFile(D("D/secret")) == "theirs", "destination touched");
    c.Check(Exists(S("D/secret")) && Exists(S("D/locked")), "unreadable source removed");
    c.Check(!Exists(S("D/open")) && ReadFile(D("D/open")) == "o", "readable file not moved");
    return c.failures;
  });
}

TEST_F(PermissionTest, MovingOutOfAReadOnlyTree) {
  MakeDir(S("D/E"));
  WriteFile(S("D/E/x"), "x");
  ::chmod(S("D/E").c_str(), 0555);
  ::chmod(S("D").c_str(), 0555);
  Run([&] {
    ChildChecks c;
    ScriptedPrompt p;
    TFMOperation engine;
    engine.SetPrompt(&p);
    engine.MoveFiles({"D"}, src, dst);
    c.Check(p.log.empty(), "messages: " + (p.log.empty() ? std::string() : p.log.front()));
    c.Check(!Exists(S("D")), "source tree still there");
    c.Check(ReadFile(D("D/E/x")) == "x", "copy missing");
    c.Check(ModeOf(D("D/E")) == 0555 && ModeOf(D("D")) == 0555, "directory modes not kept");
    return c.failures;
  });
}

}  // namespace
}  // namespace vantrel::fileops::testing
