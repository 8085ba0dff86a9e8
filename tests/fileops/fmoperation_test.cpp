// The copy, move and delete engine: what a copy keeps, the overwrite
// question, progress, cancelling, and what a move removes.
#include "fileops/fmoperation.h"

#include <set>

#include "tests/fileops/fileops_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using test::MakeDir;
using test::ReadFile;
using test::WriteFile;
using Answer = TOverwriteAnswer;

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
  EXPECT_EQ(LStat(D("D/big")).st_mtime, 1000000000);
  EXPECT_EQ(LStat(D("D/E")).st_mtime, 1200000000);
  EXPECT_TRUE(TemporaryFiles(dst).empty());
  op.DeleteFiles({"ro"}, dst);
  op.MoveFiles({"ro"}, src, dst);
  EXPECT_FALSE(Exists(S("ro")));
  EXPECT_EQ(ReadFile(D("ro")), "keep");
  EXPECT_TRUE(prompt.log.empty());
}

// a, b and c are copied onto a destination that holds some of them already;
// the answers decide what each holds afterwards (N new, O old, - nothing),
// and a file left alone raises no progress event. "All" and "None" last for
// one operation only: each next case asks again.
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
      {"ac", {Answer::None}, "ONO", {66}},  // c is left without a question
      {"abc", {Answer::Yes, Answer::None}, "NOO", {33}},
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
// and a move keeps its source then. A link at the destination is replaced,
// never written through, and is no directory to copy into.
TEST_F(FileOpsTest, WhatIsAtTheDestination) {
  MakeTree(tmp.path(),
           {"outside/precious=precious", "src/name=new", "src/D/x=x", "src/a=new", "src/b=new", "dst/a=old"});
  ASSERT_EQ(::symlink((tmp / "outside/precious").c_str(), D("name").c_str()), 0);
  ASSERT_EQ(::symlink((tmp / "outside").c_str(), D("D").c_str()), 0);
  prompt.overwriteAnswers = {Answer::Yes};
  op.CopyFiles({"name", "D"}, src, dst);
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"?Overwrite file name?", "!Could not create directory D",
                                                  "!Could not copy file D/x"}));
  EXPECT_EQ(Snapshot(dst, false).at("name"), "f new");  // a file, no longer a link
  EXPECT_EQ(Snapshot(tmp / "outside", false), (std::map<std::string, std::string>{{"precious", "f precious"}}));
  prompt.log.clear();
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
  MakeTree(src, {"a=" + std::string(100, 'a'), "b=" + std::string(200, 'b'), "c=c", "D/E/", "D/f=0123456789",
                 "x=", "y="});
  const std::function<void()> steps[] = {
      [&] { op.CopyFiles({"b", "a", "c"}, src, dst); }, [&] { op.MoveFiles({"a", "b"}, src, tmp.path()); },
      [&] { op.DeleteFiles({"a", "b"}, tmp.path()); }, [&] { op.CopyFiles({"D"}, src, dst); },
      [&] { op.CopyFiles({"x", "y"}, src, dst), op.DeleteFiles({"x", "y"}, src); }};
  const std::vector<int> expected[] = {{66, 99, 100}, {33, 100, 66, 100}, {66, 100}, {0, 0, 100}, {0, 0, 0, 0}};
  for (size_t i = 0; i < std::size(steps); ++i) {
    events.clear();
    steps[i]();
    EXPECT_EQ(events, expected[i]) << i;
  }
}

// Cancelled at the given events with the given answers to "Abort
// operation?": after the last item nothing is asked; Yes stops there, No goes
// on and clears the flag. A move removes nothing in its copy pass and runs
// its removal pass backwards, as a delete does. What is left in the source
// and what reached the destination.
TEST_F(FileOpsTest, CancelBetweenItems) {
  enum Op { Copy, Move, Delete };
  const struct {
    Op op;
    std::set<size_t> at;
    std::deque<bool> answers;
    bool aborted;
    const char *source, *dest;
  } cases[] = {
      {Copy, {3}, {}, true, "abc", "abc"},          {Copy, {1}, {true}, true, "abc", "a"},
      {Copy, {1, 2}, {false, false}, false, "abc", "abc"}, {Move, {1}, {true}, true, "abc", "a"},
      {Move, {4}, {true}, true, "ab", "abc"},       {Delete, {1}, {true}, true, "ab", ""},
  };
  for (const auto& c : cases) {
    fs::remove_all(dst);
    MakeDir(dst);
    MakeTree(src, {"a=a", "b=b", "c=c"});
    events.clear();
    prompt.log.clear();
    onEvent = [&](int) {
      if (c.at.count(events.size())) op.OperationAborted = true;
    };
    prompt.abortAnswers = c.answers;
    if (c.op == Delete) op.DeleteFiles({"a", "b", "c"}, src);
    else if (c.op == Move) op.MoveFiles({"a", "b", "c"}, src, dst);
    else op.CopyFiles({"a", "b", "c"}, src, dst);
    std::string source, dest;
    for (const char* n : {"a", "b", "c"}) {
      if (Exists(S(n))) source += n;
      if (Exists(D(n))) dest += n;
    }
    EXPECT_EQ(source + "|" + dest, std::string(c.source) + "|" + c.dest) << c.op << *c.at.begin();
    EXPECT_EQ(prompt.Questions("Abort operation?"), static_cast<int>(c.answers.size()));
    EXPECT_EQ(op.OperationAborted, c.aborted);
  }
  // A new operation clears a pending cancel.
  onEvent = nullptr;
  op.OperationAborted = true;
  op.CopyFiles({"a"}, src, tmp.path());
  EXPECT_FALSE(op.OperationAborted);
  EXPECT_TRUE(Exists(tmp / "a"));
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
    std::vector<bool> whenAsked;  // the partial copy hidden, the old file there, asked at once
    prompt.onAbortQuestion = [&] {
      whenAsked = {TemporaryFiles(dst).empty(), ReadFile(D("big")) == "previous", events.size() == cancelledAt};
    };
    prompt.abortAnswers = {yes};
    op.CopyFiles({"big", "after"}, src, dst);
    EXPECT_NE(cancelledAt, 0u);
    EXPECT_EQ(whenAsked, std::vector<bool>(3, true));
    EXPECT_TRUE(TemporaryFiles(dst).empty() && std::is_sorted(events.begin(), events.end()));
    // Aborted, new contents, "after" copied, progress at 100.
    EXPECT_EQ(std::vector<bool>(
                  {op.OperationAborted, ReadFile(D("big")) == big, Exists(D("after")), events.back() == 100}),
              std::vector<bool>({yes, !yes, !yes, !yes}));
  }
}

// The window serves its messages inside the event; a second command
// arriving there must not disturb the running one.
TEST_F(FileOpsTest, OperationsStartedFromInsideTheProgressEventAreRefused) {
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

// What each operation reports as handled whole: a name with a failure
// anywhere below it, a declined overwrite, a name that is not there or an
// operation ended early leave the name out.
TEST_F(FileOpsTest, CompletedNamesAreThoseHandledWhole) {
  const std::vector<std::string> names = {"a", "b", "c", "missing"};
  const auto fresh = [&] {
    fs::remove_all(src), fs::remove_all(dst);
    MakeTree(src, {"a=a", "b/x=x", "b/y=y", "c=c"});
    MakeTree(dst, {"b/y/", "c=old"});  // b/y cannot replace a directory; c is declined
  };
  const struct {
    const char* what;
    std::function<void()> run;
    std::vector<std::string> completed;
  } cases[] = {
      {"copy", [&] { op.CopyFiles(names, src, dst); }, {"a"}},
      {"move", [&] { op.MoveFiles(names, src, dst); }, {"a"}},
      {"delete", [&] { op.DeleteFiles({"a", "b", "missing"}, src); }, {"a", "b"}},
  };
  for (const auto& c : cases) {
    fresh();
    prompt.overwriteAnswers = {TOverwriteAnswer::No};
    c.run();
    EXPECT_EQ(op.Completed(), c.completed) << c.what;
    EXPECT_FALSE(op.AbortChosen()) << c.what;
    prompt.overwriteAnswers.clear();
  }
  EXPECT_FALSE(Exists(S("a")) || Exists(S("b")));  // the delete
  // "Abort" in the first message: nothing after it is complete, and the user chose it.
  fresh();
  prompt.messageAnswers = {TMessageAnswer::Abort};
  op.CopyFiles({"b", "a"}, src, dst);
  EXPECT_TRUE(op.Completed().empty());
  EXPECT_TRUE(op.AbortChosen() && op.OperationAborted);
  EXPECT_FALSE(Exists(D("a")));
}

// "Retry" tries the item again: once what stood in the way is gone, it is
// copied, counted as done, and not listed among the failures.
TEST_F(FileOpsTest, RetryCopiesTheItemAgain) {
  MakeTree(src, {"b/x=x", "b/y=y"});
  MakeTree(dst, {"b/y/"});
  prompt.messageAnswers = {TMessageAnswer::Retry};
  prompt.onMessage = [&] { fs::remove_all(D("b/y")); };
  op.CopyFiles({"b"}, src, dst);
  EXPECT_EQ(prompt.MessageTexts(), std::vector<std::string>{"Could not copy file b/y"});
  EXPECT_EQ(ReadFile(D("b/y")), "y");
  EXPECT_TRUE(op.Failures().empty());
  EXPECT_EQ(op.Completed(), std::vector<std::string>{"b"});
  EXPECT_EQ(events.back(), 100);
}

}  // namespace
}  // namespace vantrel::fileops::testing
