// The copy, move and delete engine: order of the work list, what a copy
// keeps, the overwrite question, progress, cancelling, and what a move
// removes.
#include "fileops/fmoperation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/fs.h"
#include "tests/fileops/fileops_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using test::MakeDir;
using test::ReadFile;
using test::WriteFile;
using Answer = TOverwriteAnswer;

// Creates f0, f1, ... in the source directory, one byte each.
std::vector<std::string> SmallFilesIn(const std::string& dir, int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    std::string name = "f";
    name += std::to_string(i);
    WriteFile(dir + "/" + name, "x");
    names.push_back(std::move(name));
  }
  return names;
}

// ---------------------------------------------------------------------------
// Order of the work list

// Which new entry each progress event of a copy found at the destination.
TEST_F(FileOpsTest, CopyCreatesADirectoryBeforeItsSubdirectoriesAndThoseBeforeItsFiles) {
  MakeDir(S("D/S"));
  WriteFile(S("D/S/x"), "x");
  WriteFile(S("D/a"), "a");
  WriteFile(S("D/b"), "b");
  std::set<std::string> seen;
  std::vector<std::string> order;
  onEvent = [&](int) {
    for (const auto& [path, what] : Snapshot(dst)) {
      if (seen.insert(path).second) order.push_back(path);
    }
  };
  op.CopyFiles({"D"}, src, dst);
  ASSERT_EQ(order.size(), 5u);
  EXPECT_EQ(order[0], "D");
  EXPECT_EQ(order[1], "D/S");
  EXPECT_EQ(order[2], "D/S/x");
  EXPECT_EQ(std::set<std::string>(order.begin() + 3, order.end()), (std::set<std::string>{"D/a", "D/b"}));
  EXPECT_TRUE(prompt.log.empty());

  // Deleting the same set goes through the same list backwards.
  std::vector<std::string> removed;
  std::map<std::string, std::string> before = Snapshot(src);
  onEvent = [&](int) {
    const auto now = Snapshot(src);
    for (const auto& [path, what] : before) {
      if (!now.count(path)) removed.push_back(path);
    }
    before = now;
  };
  op.DeleteFiles({"D"}, src);
  std::reverse(order.begin(), order.end());
  EXPECT_EQ(removed, order);
  EXPECT_FALSE(Exists(S("D")));
}

TEST_F(FileOpsTest, NamesAreHandledInTheGivenOrder) {
  WriteFile(S("z"), "1");
  WriteFile(S("a"), "2");
  std::vector<std::string> order;
  onEvent = [&](int) { order.push_back(Exists(D("a")) ? (Exists(D("z")) ? "both" : "a") : "z"); };
  op.CopyFiles({"z", "a"}, src, dst);
  EXPECT_EQ(order, (std::vector<std::string>{"z", "both"}));
}

// ---------------------------------------------------------------------------
// What a copy keeps

TEST_F(FileOpsTest, CopyKeepsContentsPermissionBitsAndModificationTimes) {
  const std::string big = PatternBytes(5 * 1024 * 1024 + 17);
  MakeDir(S("D/E"));
  WriteFile(S("D/big"), big);
  WriteFile(S("D/E/run"), "#!/bin/sh\n");
  WriteFile(S("D/empty"), "");
  ::chmod(S("D/E/run").c_str(), 0751);
  ::chmod(S("D/big").c_str(), 0604);
  test::SetMTime(S("D/big"), 1000000000);
  test::SetMTime(S("D/E/run"), 1100000000);
  ::chmod(S("D/E").c_str(), 0750);
  test::SetMTime(S("D/E"), 1200000000);
  test::SetMTime(S("D"), 1300000000);

  op.CopyFiles({"D"}, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(Snapshot(dst), Snapshot(src));
  EXPECT_EQ(ReadFile(D("D/big")), big);
  EXPECT_EQ(MTimeOf(D("D/big")), 1000000000);
  EXPECT_EQ(MTimeOf(D("D/E/run")), 1100000000);
  // Directories get their times after their contents were written.
  EXPECT_EQ(MTimeOf(D("D/E")), 1200000000);
  EXPECT_EQ(MTimeOf(D("D")), 1300000000);
  EXPECT_TRUE(TemporaryFiles(dst).empty());
}

TEST_F(FileOpsTest, CopyDropsSetUserIdAndSetGroupIdBits) {
  WriteFile(S("tool"), "x");
  ASSERT_EQ(::chmod(S("tool").c_str(), 06755), 0);
  op.CopyFiles({"tool"}, src, dst);
  EXPECT_EQ(ModeOf(D("tool")), 0755u);
}

TEST_F(FileOpsTest, ReadOnlySourceFilesAreCopiedMovedAndDeletedWithoutQuestions) {
  WriteFile(S("ro"), "keep");
  ::chmod(S("ro").c_str(), 0444);
  op.CopyFiles({"ro"}, src, dst);
  EXPECT_EQ(ModeOf(D("ro")), 0444u);
  EXPECT_EQ(ReadFile(D("ro")), "keep");

  op.DeleteFiles({"ro"}, dst);
  EXPECT_FALSE(Exists(D("ro")));
  op.MoveFiles({"ro"}, src, dst);
  EXPECT_FALSE(Exists(S("ro")));
  EXPECT_EQ(ReadFile(D("ro")), "keep");
  EXPECT_TRUE(prompt.log.empty());
}

TEST_F(FileOpsTest, AnExistingDestinationDirectoryIsUsedWithoutAQuestion) {
  MakeDir(S("D"));
  WriteFile(S("D/new"), "n");
  MakeDir(D("D"));
  WriteFile(D("D/old"), "o");
  ::chmod(D("D").c_str(), 0711);
  op.CopyFiles({"D"}, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(ReadFile(D("D/new")), "n");
  EXPECT_EQ(ReadFile(D("D/old")), "o");
  EXPECT_EQ(ModeOf(D("D")), 0711u);  // what was there keeps its attributes
}

// ---------------------------------------------------------------------------
// The overwrite question

TEST_F(FileOpsTest, OverwriteAnsweredYesReplacesTheFile) {
  WriteFile(S("a"), "new");
  WriteFile(D("a"), "old contents");
  prompt.overwriteAnswers = {Answer::Yes};
  op.CopyFiles({"a"}, src, dst);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"?Overwrite file a?"}));
  EXPECT_EQ(ReadFile(D("a")), "new");
  EXPECT_TRUE(TemporaryFiles(dst).empty());
}

TEST_F(FileOpsTest, OverwriteAnsweredNoLeavesTheFileAndSkipsItsProgressEvent) {
  WriteFile(S("a"), std::string(100, 'a'));
  WriteFile(S("b"), std::string(100, 'b'));
  WriteFile(D("a"), "old");
  prompt.overwriteAnswers = {Answer::No};
  op.CopyFiles({"a", "b"}, src, dst);
  EXPECT_EQ(ReadFile(D("a")), "old");
  EXPECT_EQ(ReadFile(D("b")), std::string(100, 'b'));
  // No event for a; the bar jumps over its bytes at b.
  EXPECT_EQ(events, (std::vector<int>{100}));
  EXPECT_FALSE(op.OperationAborted);
}

TEST_F(FileOpsTest, OverwriteAnsweredCancelEndsTheOperationAtOnceWithoutAborting) {
  WriteFile(S("a"), "1");
  WriteFile(S("b"), "2");
  WriteFile(S("c"), "3");
  WriteFile(D("b"), "old");
  prompt.overwriteAnswers = {Answer::Cancel};
  op.CopyFiles({"a", "b", "c"}, src, dst);
  EXPECT_EQ(events.size(), 1u);  // only a's
  EXPECT_TRUE(Exists(D("a")));
  EXPECT_EQ(ReadFile(D("b")), "old");
  EXPECT_FALSE(Exists(D("c")));
  EXPECT_FALSE(op.OperationAborted);
}

TEST_F(FileOpsTest, AllLastsForOneOperationOnly) {
  for (const char* n : {"a", "b", "c"}) {
    WriteFile(S(n), std::string("new ") + n);
    WriteFile(D(n), "old");
  }
  prompt.overwriteAnswers = {Answer::All};
  op.CopyFiles({"a", "b", "c"}, src, dst);
  EXPECT_EQ(prompt.Questions("Overwrite file a?"), 1);
  EXPECT_EQ(prompt.log.size(), 1u);
  EXPECT_EQ(ReadFile(D("c")), "new c");

  prompt.overwriteAnswers = {Answer::No, Answer::Yes, Answer::No};
  WriteFile(S("b"), "newer b");
  op.CopyFiles({"a", "b", "c"}, src, dst);
  EXPECT_EQ(prompt.log.size(), 4u);  // each one asked again
  EXPECT_EQ(ReadFile(D("b")), "newer b");
}

TEST_F(FileOpsTest, WithoutConfirmOverwriteFilesAreReplacedSilently) {
  WriteFile(S("a"), "new");
  WriteFile(D("a"), "old");
  op.ConfirmOverwrite = false;
  op.CopyFiles({"a"}, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(ReadFile(D("a")), "new");
}

TEST_F(FileOpsTest, WithoutAPromptNothingIsOverwritten) {
  WriteFile(S("a"), "new");
  WriteFile(D("a"), "old");
  TFMOperation bare;
  bare.MoveFiles({"a"}, src, dst);
  EXPECT_EQ(ReadFile(D("a")), "old");
  EXPECT_EQ(ReadFile(S("a")), "new");
}

TEST_F(FileOpsTest, AReadOnlyDestinationFileIsNotReplacedAndNotAskedFor) {
  WriteFile(S("a"), "new");
  WriteFile(D("a"), "protected");
  ::chmod(D("a").c_str(), 0444);
  op.CopyFiles({"a"}, src, dst);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"!Could not copy file a"}));
  EXPECT_EQ(ReadFile(D("a")), "protected");
}

TEST_F(FileOpsTest, ADirectoryWhereTheFileMustGoFailsTheCopy) {
  WriteFile(S("a"), "new");
  MakeDir(D("a"));
  WriteFile(D("a/inside"), "x");
  op.MoveFiles({"a"}, src, dst);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"!Could not copy file a"}));
  EXPECT_EQ(ReadFile(D("a/inside")), "x");
  EXPECT_EQ(ReadFile(S("a")), "new");
}

// ---------------------------------------------------------------------------
// Progress

TEST_F(FileOpsTest, ProgressIsTheTruncatedShareOfBytesHandled) {
  WriteFile(S("a"), std::string(100, 'a'));
  WriteFile(S("b"), std::string(200, 'b'));
  WriteFile(S("c"), std::string(1, 'c'));
  op.CopyFiles({"a", "b", "c"}, src, dst);
  EXPECT_EQ(events, (std::vector<int>{33, 99, 100}));
}

TEST_F(FileOpsTest, DirectoriesAddNoBytesButRaiseTheEvent) {
  MakeDir(S("D/E"));
  WriteFile(S("D/f"), std::string(10, 'f'));
  op.CopyFiles({"D"}, src, dst);
  EXPECT_EQ(events, (std::vector<int>{0, 0, 100}));
}

TEST_F(FileOpsTest, EmptyFilesReportZeroPercentThroughout) {
  for (const char* n : {"a", "b", "c"}) WriteFile(S(n), "");
  op.CopyFiles({"a", "b", "c"}, src, dst);
  EXPECT_EQ(events, (std::vector<int>{0, 0, 0}));
  op.DeleteFiles({"a", "b", "c"}, src);
  EXPECT_EQ(events, (std::vector<int>{0, 0, 0, 0, 0, 0}));
}

TEST_F(FileOpsTest, AMoveRunsTheBarTwiceAndADeleteBackwards) {
  WriteFile(S("a"), std::string(100, 'a'));
  WriteFile(S("b"), std::string(300, 'b'));
  op.MoveFiles({"a", "b"}, src, dst);
  EXPECT_EQ(events, (std::vector<int>{25, 100, 75, 100}));
  events.clear();
  op.DeleteFiles({"a", "b"}, dst);
  EXPECT_EQ(events, (std::vector<int>{75, 100}));
}

TEST_F(FileOpsTest, ALargeFileRaisesProgressWhileItIsCopied) {
  const std::string big = PatternBytes(24 * 1024 * 1024, 3);
  WriteFile(S("big"), big);
  op.ProgressInterval = std::chrono::milliseconds(0);
  op.CopyFiles({"big"}, src, dst);
  ASSERT_GE(events.size(), 3u);
  EXPECT_TRUE(std::is_sorted(events.begin(), events.end()));
  EXPECT_LT(events.front(), 100);
  EXPECT_EQ(events.back(), 100);
  EXPECT_EQ(ReadFile(D("big")), big);
}

// ---------------------------------------------------------------------------
// Cancel

TEST_F(FileOpsTest, CancelDuringTheLastOfManySmallFilesAsksNothingAndStaysAborted) {
  const std::vector<std::string> names = SmallFilesIn(src, 50);
  onEvent = [&](int) {
    if (events.size() == names.size()) op.OperationAborted = true;
  };
  op.CopyFiles(names, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_TRUE(op.OperationAborted);
  EXPECT_TRUE(Exists(D("f49")));
}

TEST_F(FileOpsTest, CancelAsksBeforeTheNextItemOnceAndYesStops) {
  const std::vector<std::string> names = SmallFilesIn(src, 30);
  onEvent = [&](int) {
    if (events.size() == 10) {
      op.OperationAborted = true;
      op.OperationAborted = true;  // pressed twice: still one question
    }
  };
  prompt.abortAnswers = {true};
  op.CopyFiles(names, src, dst);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"?Abort operation?"}));
  EXPECT_TRUE(op.OperationAborted);
  EXPECT_EQ(events.size(), 10u);
  EXPECT_TRUE(Exists(D("f9")));
  EXPECT_FALSE(Exists(D("f10")));
}

TEST_F(FileOpsTest, AbortAnsweredNoGoesOnAndClearsTheFlag) {
  const std::vector<std::string> names = SmallFilesIn(src, 20);
  onEvent = [&](int) {
    if (events.size() == 5 || events.size() == 12) op.OperationAborted = true;
  };
  prompt.abortAnswers = {false, false};
  op.CopyFiles(names, src, dst);
  EXPECT_EQ(prompt.Questions("Abort operation?"), 2);
  EXPECT_FALSE(op.OperationAborted);
  EXPECT_EQ(events.size(), 20u);
  EXPECT_TRUE(Exists(D("f19")));
}

TEST_F(FileOpsTest, ANewOperationClearsAPendingCancel) {
  WriteFile(S("a"), "a");
  op.OperationAborted = true;
  op.CopyFiles({"a"}, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_FALSE(op.OperationAborted);
  EXPECT_TRUE(Exists(D("a")));
}

// The partial copy is an unnamed file: nothing of it is ever visible in the
// destination, and the file it replaces stays until the copy is complete.
TEST_F(FileOpsTest, CancelInsideALargeFileAsksAtOnceAndYesRemovesThePartialCopy) {
  const std::string big = PatternBytes(24 * 1024 * 1024, 5);
  WriteFile(S("big"), big);
  WriteFile(S("after"), "later");
  WriteFile(D("big"), "previous");
  prompt.overwriteAnswers = {Answer::Yes};
  op.ProgressInterval = std::chrono::milliseconds(0);
  size_t cancelledAt = 0;  // the first event inside the file (the listing raises 0s)
  onEvent = [&](int percent) {
    if (percent > 0 && cancelledAt == 0) {
      cancelledAt = events.size();
      op.OperationAborted = true;
    }
  };
  bool partialWhileAsked = false;
  size_t eventsWhenAsked = 0;
  prompt.onAbortQuestion = [&] {
    partialWhileAsked = TemporaryFiles(dst).empty() && ReadFile(D("big")) == "previous";
    eventsWhenAsked = events.size();
  };
  prompt.abortAnswers = {true};
  op.CopyFiles({"big", "after"}, src, dst);

  EXPECT_TRUE(partialWhileAsked);   // asked in the middle of the file
  EXPECT_NE(cancelledAt, 0u);
  EXPECT_EQ(eventsWhenAsked, cancelledAt);  // right after the event that cancelled
  EXPECT_TRUE(op.OperationAborted);
  EXPECT_TRUE(TemporaryFiles(dst).empty());
  EXPECT_EQ(ReadFile(D("big")), "previous");
  EXPECT_FALSE(Exists(D("after")));
}

TEST_F(FileOpsTest, CancelWhileALargeTreeIsListedStopsBeforeAnythingIsTouched) {
  for (const char* d : {"D/a", "D/b", "D/c"}) {
    MakeDir(S(d));
    SmallFilesIn(S(d), 20);
  }
  op.ProgressInterval = std::chrono::milliseconds(0);
  onEvent = [&](int) {
    if (events.size() == 3) op.OperationAborted = true;
  };
  prompt.abortAnswers = {true};
  op.MoveFiles({"D"}, src, dst);
  EXPECT_EQ(events, (std::vector<int>{0, 0, 0}));  // listing events only
  EXPECT_EQ(prompt.Questions("Abort operation?"), 1);
  EXPECT_TRUE(op.OperationAborted);
  EXPECT_TRUE(Snapshot(dst).empty());
  EXPECT_EQ(Snapshot(src).size(), 64u);

  // Declined, the listing goes on and the operation with it.
  events.clear();
  prompt.abortAnswers = {false};
  op.DeleteFiles({"D"}, src);
  EXPECT_FALSE(op.OperationAborted);
  EXPECT_TRUE(Snapshot(src).empty());
}

TEST_F(FileOpsTest, CancelInsideALargeFileAnsweredNoFinishesTheFile) {
  const std::string big = PatternBytes(24 * 1024 * 1024, 6);
  WriteFile(S("big"), big);
  op.ProgressInterval = std::chrono::milliseconds(0);
  bool partialWhileAsked = false;
  onEvent = [&](int percent) {
    if (percent > 0 && percent < 100 && !partialWhileAsked) op.OperationAborted = true;
  };
  prompt.onAbortQuestion = [&] { partialWhileAsked = !Exists(D("big")); };
  prompt.abortAnswers = {false};
  op.CopyFiles({"big"}, src, dst);
  EXPECT_TRUE(partialWhileAsked);
  EXPECT_EQ(prompt.Questions("Abort operation?"), 1);
  EXPECT_FALSE(op.OperationAborted);
  EXPECT_EQ(ReadFile(D("big")), big);
}

TEST_F(FileOpsTest, AMoveCancelledInItsCopyPassRemovesNothing) {
  for (const char* n : {"a", "b", "c"}) WriteFile(S(n), n);
  onEvent = [&](int) {
    if (events.size() == 1) op.OperationAborted = true;
  };
  prompt.abortAnswers = {true};
  op.MoveFiles({"a", "b", "c"}, src, dst);
  EXPECT_TRUE(op.OperationAborted);
  EXPECT_TRUE(Exists(S("a")) && Exists(S("b")) && Exists(S("c")));
  EXPECT_TRUE(Exists(D("a")));
  EXPECT_FALSE(Exists(D("b")));
}

TEST_F(FileOpsTest, AMoveCancelledInItsRemovalPassKeepsTheRestInBothPlaces) {
  for (const char* n : {"a", "b", "c"}) WriteFile(S(n), n);
  onEvent = [&](int) {
    if (events.size() == 4) op.OperationAborted = true;  // after c was removed
  };
  prompt.abortAnswers = {true};
  op.MoveFiles({"a", "b", "c"}, src, dst);
  EXPECT_FALSE(Exists(S("c")));
  EXPECT_TRUE(Exists(S("a")) && Exists(S("b")));
  EXPECT_EQ(ReadFile(D("a")) + ReadFile(D("b")) + ReadFile(D("c")), "abc");
}

TEST_F(FileOpsTest, DeleteCanBeCancelled) {
  for (const char* n : {"a", "b", "c"}) WriteFile(S(n), n);
  onEvent = [&](int) { op.OperationAborted = true; };
  prompt.abortAnswers = {true};
  op.DeleteFiles({"a", "b", "c"}, src);
  EXPECT_EQ(events.size(), 1u);
  EXPECT_FALSE(Exists(S("c")));
  EXPECT_TRUE(Exists(S("a")) && Exists(S("b")));
}

TEST_F(FileOpsTest, OperationsStartedFromInsideTheProgressEventAreRefused) {
  // The window serves its messages inside the event; a second command
  // arriving there must not disturb the running one.
  for (const char* n : {"a", "b", "c"}) WriteFile(S(n), std::string(10, *n));
  std::vector<double> sizes;
  onEvent = [&](int) {
    op.DeleteFiles({"a", "b", "c"}, src);
    op.MoveFiles({"a"}, src, tmp.path());
    sizes.push_back(op.GetTotalSize({"a", "b"}, src));  // measuring is fine
  };
  op.CopyFiles({"a", "b", "c"}, src, dst);
  EXPECT_EQ(events, (std::vector<int>{33, 66, 100}));
  EXPECT_EQ(sizes, (std::vector<double>{20, 20, 20}));
  EXPECT_EQ(Snapshot(src, false), Snapshot(dst, false));
  EXPECT_TRUE(prompt.log.empty());
}

// ---------------------------------------------------------------------------
// Move

TEST_F(FileOpsTest, MoveCopiesAndThenRemovesTheWholeTree) {
  MakeDir(S("D/E"));
  WriteFile(S("D/E/x"), "x");
  WriteFile(S("D/y"), "y");
  WriteFile(S("z"), "z");
  const auto before = Snapshot(src);
  op.MoveFiles({"D", "z"}, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(Snapshot(dst), before);
  EXPECT_TRUE(Snapshot(src).empty());
}

TEST_F(FileOpsTest, MoveWithOverwriteAnsweredNoKeepsThatFileAndTheDirectoriesAboveIt) {
  MakeDir(S("D/E"));
  WriteFile(S("D/E/keep"), "mine");
  WriteFile(S("D/E/go"), "go");
  WriteFile(S("D/other"), "other");
  MakeDir(D("D/E"));
  WriteFile(D("D/E/keep"), "theirs");
  prompt.overwriteAnswers = {Answer::No};
  op.MoveFiles({"D"}, src, dst);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"?Overwrite file D/E/keep?"}));  // no delete messages
  EXPECT_EQ(ReadFile(S("D/E/keep")), "mine");
  EXPECT_EQ(ReadFile(D("D/E/keep")), "theirs");
  EXPECT_FALSE(Exists(S("D/E/go")));
  EXPECT_FALSE(Exists(S("D/other")));
  EXPECT_EQ(ReadFile(D("D/E/go")), "go");
  EXPECT_EQ(ReadFile(D("D/other")), "other");
}

TEST_F(FileOpsTest, AMoveOntoAFileWhereADirectoryMustGoKeepsTheSources) {
  MakeDir(S("D"));
  WriteFile(S("D/a"), "a");
  WriteFile(S("D/b"), "b");
  WriteFile(D("D"), "a file");
  op.MoveFiles({"D"}, src, dst);
  const auto texts = prompt.MessageTexts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "Could not create directory D");
  EXPECT_EQ(std::set<std::string>(texts.begin() + 1, texts.end()),
            (std::set<std::string>{"Could not copy file D/a", "Could not copy file D/b"}));
  EXPECT_EQ(ReadFile(D("D")), "a file");
  EXPECT_EQ(ReadFile(S("D/a")), "a");
  EXPECT_EQ(ReadFile(S("D/b")), "b");
}

// ---------------------------------------------------------------------------
// Delete and size

TEST_F(FileOpsTest, DeleteRemovesFilesAndTreesWithoutAsking) {
  MakeDir(S("D/E/F"));
  WriteFile(S("D/E/F/x"), "x");
  WriteFile(S("D/.hidden"), "h");
  MakeDir(S("D/.hiddendir"));
  WriteFile(S("ro"), "r");
  ::chmod(S("ro").c_str(), 0444);
  WriteFile(S("stay"), "s");
  op.DeleteFiles({"D", "ro"}, src);
  EXPECT_TRUE(prompt.log.empty());
  EXPECT_EQ(Snapshot(src, false), (std::map<std::string, std::string>{{"stay", "f s"}}));
}

TEST_F(FileOpsTest, GetTotalSizeSumsFilesAndTreesWithoutTouchingThem) {
  MakeDir(S("D/E"));
  WriteFile(S("D/E/x"), std::string(1000, 'x'));
  WriteFile(S("D/y"), std::string(234, 'y'));
  WriteFile(S("z"), std::string(5, 'z'));
  ::symlink("D/E/x", S("D/link").c_str());  // counts as a link, not as its target
  const auto before = Snapshot(src);
  EXPECT_EQ(op.GetTotalSize({"D", "z"}, src), 1239.0);
  EXPECT_EQ(op.GetTotalSize({"z"}, src), 5.0);
  EXPECT_EQ(Snapshot(src), before);
}

TEST_F(FileOpsTest, GetTotalSizeOfNothingIsTheSmallestNonZeroValue) {
  MakeDir(S("empty"));
  WriteFile(S("zero"), "");
  test::CurrentDirGuard guard;
  ASSERT_TRUE(vantrel::platform::SetCurrentDir(src));
  EXPECT_EQ(op.GetTotalSize({"empty"}), 0.00001);   // the current directory
  EXPECT_EQ(op.GetTotalSize({"empty", "zero"}), 0.00001);
  EXPECT_EQ(op.GetTotalSize({}), 0.00001);
}

}  // namespace
}  // namespace vantrel::fileops::testing
