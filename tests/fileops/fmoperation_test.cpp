// The copy, move and delete engine: order of the work list, what a copy
// keeps, the overwrite question, progress, cancelling, and what a move
// removes.
#include "fileops/fmoperation.h"

#include <sys/stat.h>
#include <unistd.h>

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
    names.push_back(std::to_string(i));
    names.back().insert(names.back().begin(), 'f');  // not "f" + ...: a false -Wrestrict in GCC 12
    WriteFile(dir + "/" + names.back(), "x");
  }
  return names;
}

// Contents, permission bits (without set-user-ID and set-group-ID) and times,
// directories' times set after their contents were written; read-only files
// are copied, deleted and moved without a question, and an existing
// directory is used as it is.
TEST_F(FileOpsTest, CopyKeepsContentsPermissionBitsAndModificationTimes) {
  MakeTree(src, {"D/E/run=#!/bin/sh\n", "D/empty=", "tool=x", "ro=keep"});
  MakeTree(dst, {"D/old=o"});
  WriteFile(S("D/big"), PatternBytes(5 * 1024 * 1024 + 17));
  for (const auto& [path, mode] :
       {std::pair{"tool", 06755}, {"D/E/run", 0751}, {"D/big", 0604}, {"D/E", 0750}, {"ro", 0444}})
    ::chmod(S(path).c_str(), mode);
  ::chmod(D("D").c_str(), 0711);
  ::chmod(D("D/old").c_str(), 0600);
  test::SetMTime(S("D/big"), 1000000000);
  test::SetMTime(S("D/E"), 1200000000);
  op.CopyFiles({"D", "tool", "ro"}, src, dst);
  EXPECT_TRUE(prompt.log.empty());
  auto expected = Snapshot(src);
  expected["tool"] = "f 755 x";
  expected["D"] = "d 711";  // what was there keeps its attributes
  expected["D/old"] = "f 600 o";
  EXPECT_EQ(Snapshot(dst), expected);
  EXPECT_EQ(MTimeOf(D("D/big")), 1000000000);
  EXPECT_EQ(MTimeOf(D("D/E")), 1200000000);
  EXPECT_TRUE(TemporaryFiles(dst).empty());
  op.DeleteFiles({"ro"}, dst);
  op.MoveFiles({"ro"}, src, dst);
  EXPECT_FALSE(Exists(S("ro")));
  EXPECT_EQ(ReadFile(D("ro")), "keep");
  EXPECT_TRUE(prompt.log.empty());
}

// a, b and c are copied onto a destination that holds some of them already;
// the answers decide what each holds afterwards (N new, O old, - nothing),
// and a file left alone raises no progress event. "All" lasts for one
// operation only: the last case asks again.
TEST_F(FileOpsTest, OverwriteAnswers) {
  const struct {
    const char* existing;
    std::deque<Answer> answers;
    const char* result;
    std::vector<int> events;
  } cases[] = {
      {"a", {Answer::Yes}, "NNN", {33, 66, 100}},
      {"a", {Answer::No}, "ONN", {66, 100}},
      {"b", {Answer::Cancel}, "NO-", {33}},
      {"abc", {Answer::All}, "NNN", {33, 66, 100}},
      {"abc", {Answer::No, Answer::Yes, Answer::No}, "ONO", {66}},
  };
  for (const char* n : {"a", "b", "c"}) WriteFile(S(n), "new");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    fs::remove_all(dst);
    MakeDir(dst);
    for (const char* n = c.existing; *n; ++n) WriteFile(D(std::string(1, *n)), "old");
    prompt.overwriteAnswers = c.answers;
    prompt.log.clear();
    events.clear();
    op.CopyFiles({"a", "b", "c"}, src, dst);
    EXPECT_EQ(prompt.log.size(), c.answers.size());
    std::string result;
    for (const char* n : {"a", "b", "c"})
      result += !Exists(D(n)) ? '-' : ReadFile(D(n)) == "new" ? 'N' : 'O';
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(events, c.events);
    EXPECT_FALSE(op.OperationAborted);
    EXPECT_TRUE(TemporaryFiles(dst).empty());
  }
}

// Without the question, files are replaced silently; without anyone to ask,
// nothing is. A read-only file or a directory in the way is never replaced,
// and a move keeps its source then.
TEST_F(FileOpsTest, DestinationsReplacedWithoutAQuestionOrNever) {
  MakeTree(src, {"a=new", "b=new"});
  MakeTree(dst, {"a=old"});
  TFMOperation bare;
  bare.MoveFiles({"a"}, src, dst);
  EXPECT_EQ(ReadFile(D("a")) + ReadFile(S("a")), "oldnew");
  op.ConfirmOverwrite = false;
  op.CopyFiles({"a"}, src, dst);
  EXPECT_EQ(ReadFile(D("a")), "new");
  EXPECT_TRUE(prompt.log.empty());

  MakeTree(dst, {"a=protected", "b/inside=x"});
  ::chmod(D("a").c_str(), 0444);
  op.MoveFiles({"a", "b"}, src, dst);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"!Could not copy file a", "!Could not copy file b"}));
  EXPECT_EQ(ReadFile(D("a")) + ReadFile(D("b/inside")), "protectedx");
  EXPECT_EQ(ReadFile(S("a")) + ReadFile(S("b")), "newnew");
}

// The share of bytes handled, truncated, in the order the names are given;
// directories add no bytes but raise the event; a move runs the bar twice
// and a delete backwards.
TEST_F(FileOpsTest, ProgressIsTheTruncatedShareOfBytesHandled) {
  WriteFile(S("a"), std::string(100, 'a'));
  WriteFile(S("b"), std::string(200, 'b'));
  WriteFile(S("c"), std::string(1, 'c'));
  op.CopyFiles({"b", "a", "c"}, src, dst);
  EXPECT_EQ(events, (std::vector<int>{66, 99, 100}));

  events.clear();
  op.MoveFiles({"a", "b"}, src, tmp.path());
  EXPECT_EQ(events, (std::vector<int>{33, 100, 66, 100}));
  events.clear();
  op.DeleteFiles({"a", "b"}, tmp.path());
  EXPECT_EQ(events, (std::vector<int>{66, 100}));

  events.clear();
  MakeTree(src, {"D/E/", "D/f=0123456789"});
  op.CopyFiles({"D"}, src, dst);
  EXPECT_EQ(events, (std::vector<int>{0, 0, 100}));

  events.clear();
  for (const char* n : {"x", "y"}) WriteFile(S(n), "");
  op.CopyFiles({"x", "y"}, src, dst);
  op.DeleteFiles({"x", "y"}, src);
  EXPECT_EQ(events, (std::vector<int>{0, 0, 0, 0}));
}

// Cancel between items: after the last one nothing is asked; otherwise one
// question before the next item; Yes stops there, No goes on and clears the flag.
TEST_F(FileOpsTest, CancelBetweenItems) {
  const std::vector<std::string> names = SmallFilesIn(src, 20);
  const struct {
    std::set<size_t> at;
    std::deque<bool> answers;
    bool aborted;
    size_t copied;
  } cases[] = {
      {{20}, {}, true, 20},
      {{10}, {true}, true, 10},
      {{5, 12}, {false, false}, false, 20},
  };
  for (const auto& c : cases) {
    fs::remove_all(dst);
    MakeDir(dst);
    events.clear();
    prompt.log.clear();
    onEvent = [&](int) {
      if (c.at.count(events.size())) op.OperationAborted = true;
    };
    prompt.abortAnswers = c.answers;
    op.CopyFiles(names, src, dst);
    EXPECT_EQ(prompt.Questions("Abort operation?"), static_cast<int>(c.answers.size()));
    EXPECT_EQ(op.OperationAborted, c.aborted);
    EXPECT_EQ(Snapshot(dst).size(), c.copied);
  }
  // A new operation clears a pending cancel.
  onEvent = nullptr;
  op.OperationAborted = true;
  op.CopyFiles({"f0"}, src, tmp.path());
  EXPECT_FALSE(op.OperationAborted);
  EXPECT_TRUE(Exists(tmp / "f0"));
}

// Cancel inside a large file asks at once, right after the event that
// cancelled. The partial copy is an unnamed file: nothing of it is ever
// visible, and the file it replaces stays until the copy is complete. Yes
// drops it and ends the operation; No finishes the file, with rising
// progress to 100.
TEST_F(FileOpsTest, CancelInsideALargeFile) {
  const std::string big = PatternBytes(24 * 1024 * 1024, 5);
  WriteFile(S("big"), big);
  WriteFile(S("after"), "later");
  op.ProgressInterval = std::chrono::milliseconds(0);
  for (const bool yes : {true, false}) {
    SCOPED_TRACE(yes);
    WriteFile(D("big"), "previous");
    fs::remove(D("after"));
    events.clear();
    prompt.overwriteAnswers = {Answer::Yes};
    size_t cancelledAt = 0;  // the first event inside the file (the listing raises 0s)
    onEvent = [&](int percent) {
      if (percent > 0 && cancelledAt == 0) {
        cancelledAt = events.size();
        op.OperationAborted = true;
      }
    };
    bool partialHidden = false;
    size_t eventsWhenAsked = 0;
    prompt.onAbortQuestion = [&] {
      partialHidden = TemporaryFiles(dst).empty() && ReadFile(D("big")) == "previous";
      eventsWhenAsked = events.size();
    };
    prompt.abortAnswers = {yes};
    op.CopyFiles({"big", "after"}, src, dst);
    EXPECT_TRUE(partialHidden);
    EXPECT_NE(cancelledAt, 0u);
    EXPECT_EQ(eventsWhenAsked, cancelledAt);
    EXPECT_EQ(op.OperationAborted, yes);
    EXPECT_TRUE(TemporaryFiles(dst).empty());
    EXPECT_EQ(ReadFile(D("big")) == big, !yes);
    EXPECT_EQ(Exists(D("after")), !yes);
    EXPECT_TRUE(std::is_sorted(events.begin(), events.end()));
    EXPECT_EQ(events.back() == 100, !yes);
  }
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
  EXPECT_TRUE(op.OperationAborted);
  EXPECT_TRUE(Snapshot(dst).empty());
  EXPECT_EQ(Snapshot(src).size(), 64u);

  // Declined, the listing goes on and the operation with it.
  prompt.abortAnswers = {false};
  op.DeleteFiles({"D"}, src);
  EXPECT_FALSE(op.OperationAborted);
  EXPECT_TRUE(Snapshot(src).empty());
}

// Cancelled at the given event and answered Yes: what is left in the source
// and what reached the destination.
TEST_F(FileOpsTest, CancelledMovesAndDeletesKeepWhatIsNotDone) {
  const struct {
    bool move;
    size_t at;
    const char* source;
    const char* dest;
  } cases[] = {
      {true, 1, "abc", "a"},   // in the copy pass: nothing is removed
      {true, 4, "ab", "abc"},  // in the removal pass, which runs backwards
      {false, 1, "ab", ""},
  };
  for (const auto& c : cases) {
    fs::remove_all(dst);
    MakeDir(dst);
    for (const char* n : {"a", "b", "c"}) WriteFile(S(n), n);
    events.clear();
    onEvent = [&](int) {
      if (events.size() == c.at) op.OperationAborted = true;
    };
    prompt.abortAnswers = {true};
    if (c.move)
      op.MoveFiles({"a", "b", "c"}, src, dst);
    else
      op.DeleteFiles({"a", "b", "c"}, src);
    std::string source, dest;
    for (const char* n : {"a", "b", "c"}) {
      if (Exists(S(n))) source += n;
      if (Exists(D(n))) dest += n;
    }
    EXPECT_EQ(source, c.source);
    EXPECT_EQ(dest, c.dest);
    EXPECT_TRUE(op.OperationAborted);
  }
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

TEST_F(FileOpsTest, MoveWithOverwriteAnsweredNoKeepsThatFileAndTheDirectoriesAboveIt) {
  MakeTree(src, {"D/E/keep=mine", "D/E/go=go", "D/other=other"});
  MakeTree(dst, {"D/E/keep=theirs"});
  prompt.overwriteAnswers = {Answer::No};
  op.MoveFiles({"D"}, src, dst);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"?Overwrite file D/E/keep?"}));  // no delete messages
  EXPECT_EQ(ReadFile(S("D/E/keep")) + ReadFile(D("D/E/keep")), "minetheirs");
  EXPECT_FALSE(Exists(S("D/E/go")) || Exists(S("D/other")));
  EXPECT_EQ(ReadFile(D("D/E/go")) + ReadFile(D("D/other")), "goother");
}

// Files and trees are summed without being touched, a link as a link; the
// total of nothing is the smallest value above zero, so that shares of it
// never divide by zero.
TEST_F(FileOpsTest, GetTotalSize) {
  MakeTree(src, {"D/y=" + std::string(1234, 'y'), "z=12345", "empty/", "zero="});
  ::symlink("y", S("D/link").c_str());
  const auto before = Snapshot(src);
  EXPECT_EQ(op.GetTotalSize({"D", "z"}, src), 1239.0);
  EXPECT_EQ(Snapshot(src), before);
  test::CurrentDirGuard guard;
  ASSERT_TRUE(vantrel::platform::SetCurrentDir(src));
  EXPECT_EQ(op.GetTotalSize({"z"}), 5.0);  // in the current directory
  EXPECT_EQ(op.GetTotalSize({"empty", "zero"}), 0.00001);
  EXPECT_EQ(op.GetTotalSize({}), 0.00001);
}

}  // namespace
}  // namespace vantrel::fileops::testing
