// Compare directories: every kind of difference, the marks on each side,
// recursion, the criteria switched off one by one, links and unreadable data.
#include "tools/dir_compare.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/support/test_support.h"

namespace vantrel::tools {
namespace {

using test::MakeDir;
using test::TempDir;
using test::WriteFile;

const char* Name(TDifference d) {
  switch (d) {
    case TDifference::OnlyLeft: return "only-left";
    case TDifference::OnlyRight: return "only-right";
    case TDifference::LeftNewer: return "left-newer";
    case TDifference::RightNewer: return "right-newer";
    case TDifference::Size: return "size";
    case TDifference::Content: return "content";
    case TDifference::Kind: return "kind";
  }
  return "?";
}

std::string Describe(const TCompareResult& r) {
  std::vector<std::string> lines;
  for (const TCompareItem& item : r.items) lines.push_back(item.path + " " + Name(item.difference));
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  out += "L:";
  for (const std::string& m : r.leftMarks) out += " " + m;
  out += "\nR:";
  for (const std::string& m : r.rightMarks) out += " " + m;
  return out;
}

// Two trees with one difference of every kind; `t0` is the base time.
struct TTrees {
  TempDir tmp;
  std::string left = tmp / "left", right = tmp / "right";
  TTrees() {
    const int64_t t0 = 1600000000;
    for (const std::string& side : {left, right}) {
      MakeDir(side + "/same-dir/inner");
      WriteFile(side + "/same.txt", "equal");
      test::SetMTime(side + "/same.txt", t0);
      WriteFile(side + "/same-dir/inner/deep.txt", "x");
      test::SetMTime(side + "/same-dir/inner/deep.txt", t0);
    }
    WriteFile(left + "/only-left.txt", "l");
    WriteFile(right + "/only-right.txt", "r");
    MakeDir(left + "/only-left-dir");
    WriteFile(left + "/newer.txt", "new");
    test::SetMTime(left + "/newer.txt", t0 + 3600);
    WriteFile(right + "/newer.txt", "old");
    test::SetMTime(right + "/newer.txt", t0);
    WriteFile(left + "/size.txt", "short");
    WriteFile(right + "/size.txt", "longer text");
    WriteFile(left + "/content.txt", std::string(600000, 'a') + "1");  // past the first blocks
    WriteFile(right + "/content.txt", std::string(600000, 'a') + "2");
    WriteFile(left + "/one-second.txt", "abc");
    WriteFile(right + "/one-second.txt", "abc");
    for (const char* f : {"/size.txt", "/content.txt"}) {
      test::SetMTime(left + f, t0);
      test::SetMTime(right + f, t0);
    }
    test::SetMTime(left + "/one-second.txt", t0);
    test::SetMTime(right + "/one-second.txt", t0 + 1);  // within the tolerance of two seconds
    WriteFile(left + "/kind", "file");
    MakeDir(right + "/kind");
    // Below a directory of the same name: a newer file on the right.
    WriteFile(left + "/same-dir/inner/changed.txt", "v1");
    test::SetMTime(left + "/same-dir/inner/changed.txt", t0);
    WriteFile(right + "/same-dir/inner/changed.txt", "v2");
    test::SetMTime(right + "/same-dir/inner/changed.txt", t0 + 60);
  }
};

TEST(DirCompare, EveryKindOfDifferenceAndTheMarks) {
  TTrees trees;
  const struct {
    const char* what;
    TCompareOptions options;
    const char* expected;
  } cases[] = {
      {"name, date and size (the default), flat",
       {},
       "kind kind\nnewer.txt left-newer\nonly-left-dir only-left\nonly-left.txt only-left\n"
       "only-right.txt only-right\nsize.txt size\n"
       "L: kind newer.txt only-left-dir only-left.txt size.txt\nR: kind only-right.txt size.txt"},
      {"recursive: the directory that holds a newer file is marked on both sides",
       {true, true, false, true},
       "kind kind\nnewer.txt left-newer\nonly-left-dir only-left\nonly-left.txt only-left\n"
       "only-right.txt only-right\nsame-dir/inner/changed.txt right-newer\nsize.txt size\n"
       "L: kind newer.txt only-left-dir only-left.txt same-dir size.txt\n"
       "R: kind only-right.txt same-dir size.txt"},
      {"by content too: the same size, other data",
       {true, true, true, false},
       "content.txt content\nkind kind\nnewer.txt left-newer\nonly-left-dir only-left\nonly-left.txt only-left\n"
       "only-right.txt only-right\nsize.txt size\n"
       "L: content.txt kind newer.txt only-left-dir only-left.txt size.txt\n"
       "R: content.txt kind only-right.txt size.txt"},
      {"by content alone: the newer file's data differ, the size file's too",
       {false, false, true, false},
       "content.txt content\nkind kind\nnewer.txt content\nonly-left-dir only-left\nonly-left.txt only-left\n"
       "only-right.txt only-right\nsize.txt content\n"
       "L: content.txt kind newer.txt only-left-dir only-left.txt size.txt\n"
       "R: content.txt kind newer.txt only-right.txt size.txt"},
      {"by name alone",
       {false, false, false, false},
       "kind kind\nonly-left-dir only-left\nonly-left.txt only-left\nonly-right.txt only-right\n"
       "L: kind only-left-dir only-left.txt\nR: kind only-right.txt"},
  };
  for (const auto& c : cases) {
    TDirCompare compare;
    const TCompareResult r = compare.Compare(trees.left, trees.right + "/", c.options);
    EXPECT_EQ(Describe(r), c.expected) << c.what;
    EXPECT_TRUE(r.unreadable.empty()) << c.what;
  }
}

// Data are read only for files of the same size, each once, side by side.
TEST(DirCompare, ContentReadsEachFileOnce) {
  TTrees trees;
  TDirCompare compare;
  const TCompareResult r = compare.Compare(trees.left, trees.right, {false, false, true, true});
  // content.txt differs at its last byte: both read whole; the others are
  // a few bytes each.
  EXPECT_GE(r.bytesRead, 2u * 600001u);
  EXPECT_LT(r.bytesRead, 2u * 600001u + 100u);
}

// Trees on two devices are read side by side on two threads: the verdicts
// are those of one device, and data are still read once.
TEST(DirCompare, TreesOnTwoDevicesGiveTheSameVerdicts) {
  TTrees trees;
  char shm[] = "/dev/shm/vantrel-compare-XXXXXX";
  struct stat here, there;
  if (::mkdtemp(shm) == nullptr) GTEST_SKIP() << "no /dev/shm";
  const std::string other = std::string(shm) + "/right";
  const bool apart = ::stat(trees.left.c_str(), &here) == 0 && ::stat(shm, &there) == 0 && here.st_dev != there.st_dev;
  ASSERT_EQ(test::RunCommand("cp -a '" + trees.right + "' '" + other + "'"), 0);
  for (const TCompareOptions& options : {TCompareOptions{true, true, true, true}, TCompareOptions{false, false, true, true}}) {
    TDirCompare one, two;
    const TCompareResult oneDevice = one.Compare(trees.left, trees.right, options);
    const TCompareResult twoDevices = two.Compare(trees.left, other, options);
    EXPECT_EQ(Describe(twoDevices), Describe(oneDevice));
    EXPECT_EQ(twoDevices.bytesRead, oneDevice.bytesRead);
    EXPECT_TRUE(twoDevices.unreadable.empty());
  }
  test::RunCommand("rm -rf '" + std::string(shm) + "'");
  if (!apart) GTEST_SKIP() << "/dev/shm is on the same device here";
}

// Links are compared by their targets and never followed; a file that
// cannot be read is reported and not called different.
TEST(DirCompare, LinksAndUnreadableFiles) {
  TempDir tmp;
  const std::string left = tmp / "l", right = tmp / "r";
  MakeDir(left);
  MakeDir(right);
  MakeDir(tmp / "target");
  WriteFile(tmp / "target/big", std::string(1000, 'x'));
  ASSERT_EQ(symlink("../target", (left + "/same-link").c_str()), 0);
  ASSERT_EQ(symlink("../target", (right + "/same-link").c_str()), 0);
  ASSERT_EQ(symlink("a", (left + "/other-link").c_str()), 0);
  ASSERT_EQ(symlink("b", (right + "/other-link").c_str()), 0);
  ASSERT_EQ(symlink("../target", (left + "/link-or-dir").c_str()), 0);
  MakeDir(right + "/link-or-dir");
  TDirCompare compare;
  TCompareResult r = compare.Compare(left, right, {false, false, true, true});
  EXPECT_EQ(Describe(r), "link-or-dir kind\nother-link content\nL: link-or-dir other-link\nR: link-or-dir other-link");

  // A fifo where the data would be read: same kind "other", never opened.
  ASSERT_EQ(mkfifo((left + "/pipe").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((right + "/pipe").c_str(), 0644), 0);
  r = compare.Compare(left, right, {false, false, true, true});
  EXPECT_EQ(r.items.size(), 2u);

  // A directory that cannot be listed (as an ordinary user) is reported.
  if (geteuid() != 0) {
    MakeDir(left + "/closed");
    MakeDir(right + "/closed");
    ASSERT_EQ(chmod((left + "/closed").c_str(), 0), 0);
    r = compare.Compare(left, right, {true, true, false, true});
    ASSERT_EQ(r.unreadable.size(), 1u);
    EXPECT_EQ(r.unreadable[0].Path, left + "/closed/");
    chmod((left + "/closed").c_str(), 0755);
  }
}

TEST(DirCompare, StopEndsTheComparison) {
  TTrees trees;
  TDirCompare compare;
  int asked = 0;
  compare.ShouldStop = [&] { return ++asked > 2; };
  const TCompareResult r = compare.Compare(trees.left, trees.right, {});
  EXPECT_TRUE(r.stopped);
  EXPECT_LE(r.items.size(), 2u);
}

}  // namespace
}  // namespace vantrel::tools
