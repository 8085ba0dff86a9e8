// What a destination typed for Copy and Move means, and the engine copying
// and moving one item under a new name.
#include "fileops/copy_target.h"

#include <unistd.h>

#include "tests/fileops/fileops_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using Kind = TCopyTarget::TKind;
using test::MakeDir;
using test::ReadFile;
using test::WriteFile;

// One item or several, onto every kind of destination: an existing directory
// (also through a link, and "." or ".."), a new name, an existing file, a
// trailing "/" (made when missing), a missing parent, and absolute names.
TEST_F(FileOpsTest, TypedDestinationRules) {
  MakeTree(dst, {"sub/", "file.txt=x"});
  ASSERT_EQ(::symlink("sub", D("link").c_str()), 0);
  const struct {
    size_t items;
    std::string typed;
    Kind kind;
    std::string dir;  // relative to dst, "" for dst itself
    std::string name;
    bool create;
  } cases[] = {
      {1, "sub", Kind::Into, "sub", "", false},
      {3, "sub/", Kind::Into, "sub", "", false},
      {2, "link", Kind::Into, "link", "", false},
      {2, ".", Kind::Into, ".", "", false},
      {1, "sub/..", Kind::Into, "sub/..", "", false},
      {1, "a_copy.txt", Kind::AsName, "", "a_copy.txt", false},
      {1, "sub/renamed", Kind::AsName, "sub", "renamed", false},
      {1, "file.txt", Kind::AsName, "", "file.txt", false},  // replaced after the question
      {1, "new/", Kind::Into, "new", "", true},
      {4, "new/deeper//", Kind::Into, "new/deeper", "", true},
      {2, "a_copy.txt", Kind::Refused, "", "", false},       // two items cannot become one file
      {2, "file.txt", Kind::Refused, "", "", false},
      {1, "file.txt/", Kind::Refused, "", "", false},         // a file is no directory
      {1, "missing/name", Kind::Refused, "", "", false},      // its directory must exist
      {1, "file.txt/x", Kind::Refused, "", "", false},
      {1, "", Kind::Refused, "", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.items) + " onto \"" + c.typed + "\"");
    const TCopyTarget t = ResolveCopyTarget(c.items, c.typed, dst, false);
    EXPECT_EQ(t.kind, c.kind);
    if (c.kind == Kind::Refused) {
      EXPECT_FALSE(t.message.empty());
      continue;
    }
    EXPECT_EQ(t.dir, c.dir.empty() ? dst : D(c.dir));
    EXPECT_EQ(t.name, c.name);
    EXPECT_EQ(t.createDir, c.create);
  }
  // An absolute name does not depend on the directory it was typed in.
  const TCopyTarget absolute = ResolveCopyTarget(1, D("sub/x"), "/nonexistent", true);
  EXPECT_EQ(std::make_tuple(absolute.kind, absolute.dir, absolute.name),
            std::make_tuple(Kind::AsName, D("sub"), std::string("x")));
  // The refusal names the count, the name and the verb.
  EXPECT_EQ(ResolveCopyTarget(3, "one", dst, true).message,
            "Cannot move 3 items onto the one name \"one\".\n"
            "To put them into a new directory, end the name with \"/\".");
  EXPECT_TRUE(prompt.log.empty() && !Exists(D("new")) && !Exists(D("a_copy.txt")));  // nothing happened
}

// A file and a tree copied under new names, into the source directory and
// elsewhere; an existing file of the new name is asked about by that name.
TEST_F(FileOpsTest, CopyUnderANewName) {
  MakeTree(src, {"a.txt=alpha", "D/E/f=eff", "D/g=gee"});
  op.CopyFiles({"a.txt"}, src, src, "a_copy.txt");
  op.CopyFiles({"D"}, src, dst, "D2");
  EXPECT_EQ(ReadFile(S("a_copy.txt")), "alpha");
  EXPECT_EQ(Snapshot(D("D2"), false), Snapshot(S("D"), false));
  EXPECT_FALSE(Exists(D("D")));
  WriteFile(D("b.txt"), "old");
  prompt.overwriteAnswers = {TOverwriteAnswer::No};
  op.CopyFiles({"a.txt"}, src, dst, "b.txt");
  EXPECT_EQ(prompt.log, std::vector<std::string>({"?Overwrite file b.txt?"}));
  EXPECT_EQ(ReadFile(D("b.txt")), "old");
  // Onto itself, or a directory into itself under another name: refused.
  op.CopyFiles({"a.txt"}, src, src, "a.txt");
  op.CopyFiles({"D"}, src, S("D/E"), "copy");
  EXPECT_EQ(prompt.MessageTexts(), std::vector<std::string>({"Could not copy file a.txt onto itself",
                                                            "Could not copy directory D into itself"}));
  EXPECT_FALSE(Exists(S("D/E/copy")));
  // A new name must be a bare name, and only one item can take it.
  op.CopyFiles({"a.txt"}, src, dst, "../escape");
  op.CopyFiles({"a.txt", "D"}, src, dst, "both");
  EXPECT_EQ(op.Failures().size(), 1u);
  EXPECT_EQ(op.Failures()[0].text, "Invalid file name both");
  EXPECT_FALSE(Exists(tmp / "escape") || Exists(D("both")));
}

// Move under a new name (rename across directories): the source goes only
// when its copy is in place; a declined overwrite keeps it.
TEST_F(FileOpsTest, MoveUnderANewName) {
  MakeTree(src, {"a.txt=alpha", "D/f=eff", "keep=k"});
  WriteFile(D("taken"), "old");
  op.MoveFiles({"a.txt"}, src, dst, "moved.txt");
  op.MoveFiles({"D"}, src, dst, "tree");
  prompt.overwriteAnswers = {TOverwriteAnswer::No};
  op.MoveFiles({"keep"}, src, dst, "taken");
  EXPECT_EQ(Snapshot(src, false), (std::map<std::string, std::string>{{"keep", "f k"}}));
  EXPECT_EQ(Snapshot(dst, false), (std::map<std::string, std::string>{
                                      {"moved.txt", "f alpha"}, {"taken", "f old"}, {"tree", "d"}, {"tree/f", "f eff"}}));
}

}  // namespace
}  // namespace vantrel::fileops::testing
