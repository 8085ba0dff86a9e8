// Place paths and the opener: display paths split at the archive, ".." out
// of each level, nested archives from memory and from a temporary file,
// one source shared by everyone who shows the same archive.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/vfs/vfs_helpers.h"
#include "vfs/place.h"

namespace vantrel::vfs {
namespace {

using test::Q;
using test::Sh;
using test::TempDir;

TPlacePath Local(std::string dir) {
  TPlacePath p;
  p.file = std::move(dir);
  return p;
}

TPlacePath In(std::string archive, std::vector<std::string> nested, std::string inner) {
  TPlacePath p;
  p.file = std::move(archive);
  p.archive = true;
  p.nested = std::move(nested);
  p.inner = std::move(inner);
  return p;
}

TEST(PlacePath, DisplayAndWalking) {
  struct {
    const char* what;
    TPlacePath place;
    std::string display;
    TPlacePath parent;
  } cases[] = {
      {"a local directory", Local("/home/u"), "/home/u", Local("/home")},
      {"the local root", Local("/"), "/", Local("/")},
      {"an archive's root leaves to its directory", In("/home/u/photos.zip", {}, ""), "/home/u/photos.zip",
       Local("/home/u")},
      {"inside an archive", In("/home/u/photos.zip", {}, "2024/summer"), "/home/u/photos.zip/2024/summer",
       In("/home/u/photos.zip", {}, "2024")},
      {"a nested root leaves to its place in the outer archive", In("/d/o.zip", {"x/in.tar"}, ""),
       "/d/o.zip/x/in.tar", In("/d/o.zip", {}, "x")},
      {"inside a nested archive", In("/d/o.zip", {"in.zip", "deep.zip"}, "a"), "/d/o.zip/in.zip/deep.zip/a",
       In("/d/o.zip", {"in.zip", "deep.zip"}, "")},
      {"a name that is dot-dot stays a name", In("/d/o.zip", {}, "../x"), "/d/o.zip/../x",
       In("/d/o.zip", {}, "..")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.place.Display(), c.display);
    EXPECT_EQ(c.place.Parent(), c.parent);
  }
  EXPECT_EQ(Local("/home").Child("u"), Local("/home/u"));
  EXPECT_EQ(In("/a.zip", {}, "").Child("d"), In("/a.zip", {}, "d"));
  EXPECT_EQ(Local("/home").IntoArchive("a.zip"), In("/home/a.zip", {}, ""));
  EXPECT_EQ(In("/a.zip", {}, "d").IntoArchive("in.tar"), In("/a.zip", {"d/in.tar"}, ""));
  EXPECT_EQ(In("/a.zip", {"d/in.tar"}, "x").ArchiveDisplay(), "/a.zip/d/in.tar");
}

class PlaceOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::FindProgram("zip").empty()) GTEST_SKIP() << "zip is not installed";
    test::MakeDir(t / "inner/src");
    test::WriteFile(t / "inner/src/main.c", "int main() { return 0; }\n");
    Sh("cd " + Q(t / "inner") + " && zip -qr ../in.zip src && tar czf ../in.tar.gz src");
    test::MakeDir(t / "outer/sub");
    Sh("cp " + Q(t / "in.zip") + " " + Q(t / "outer/sub/in.zip") + " && cp " + Q(t / "in.tar.gz") + " " +
       Q(t / "outer/in.tar.gz") + " && cd " + Q(t / "outer") + " && zip -qr ../outer.zip sub in.tar.gz");
  }
  TempDir t;
};

TEST_F(PlaceOpenerTest, ParsesPathsThroughArchivesAndNestedOnes) {
  TPlaceOpener opener;
  struct {
    std::string display;
    TPlacePath place;
  } cases[] = {
      {t.path(), Local(t.path())},
      {t / "outer.zip", In(t / "outer.zip", {}, "")},
      {t / "outer.zip/sub/", In(t / "outer.zip", {}, "sub")},
      {t / "outer.zip/sub/in.zip", In(t / "outer.zip", {"sub/in.zip"}, "")},
      {t / "outer.zip/sub/in.zip/src", In(t / "outer.zip", {"sub/in.zip"}, "src")},
      {t / "outer.zip/in.tar.gz/src", In(t / "outer.zip", {"in.tar.gz"}, "src")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.display);
    TPlacePath got;
    TError err;
    ASSERT_TRUE(opener.Parse(c.display, got, &err)) << err.text;
    EXPECT_EQ(got, c.place);
  }
  for (const std::string& bad : {t / "missing/x", t / "outer.zip/nothing", std::string("relative")}) {
    SCOPED_TRACE(bad);
    TPlacePath got;
    TError err;
    EXPECT_FALSE(opener.Parse(bad, got, &err));
    EXPECT_FALSE(err.text.empty());
  }
}

TEST_F(PlaceOpenerTest, NestedArchivesReadFromMemoryOrATemporaryFileAndStayReadOnly) {
  const std::string pristine = test::ReadFile(t / "outer.zip");
  for (uint64_t limit : {uint64_t{64} << 20, uint64_t{0}}) {
    SCOPED_TRACE(limit);
    TPlaceOpener opener;
    opener.NestedMemoryLimit = limit;
    for (const TPlacePath& place : {In(t / "outer.zip", {"sub/in.zip"}, "src"),
                                    In(t / "outer.zip", {"in.tar.gz"}, "src")}) {
      SCOPED_TRACE(place.Display());
      TError err;
      auto source = opener.Source(place, &err);
      ASSERT_TRUE(source) << err.text;
      EXPECT_EQ(test::ListNames(*source, place.inner), (std::vector<std::string>{"main.c"}));
      EXPECT_EQ(test::ReadAll(*source, "src/main.c"), "int main() { return 0; }\n");
      EXPECT_FALSE(source->Capabilities().writable);
      EXPECT_FALSE(source->Delete("src/main.c", &err));
      EXPECT_EQ(err.code, EROFS);
      EXPECT_EQ(source->Root(), place.ArchiveDisplay());
    }
  }
  // The outer archive stays writable and unchanged.
  TPlaceOpener opener;
  TError err;
  auto outer = opener.Source(In(t / "outer.zip", {}, ""), &err);
  ASSERT_TRUE(outer);
  EXPECT_TRUE(outer->Capabilities().writable);
  EXPECT_EQ(test::ReadFile(t / "outer.zip"), pristine);
}

TEST_F(PlaceOpenerTest, OneSourcePerArchiveAndReadAgainWhenItChanges) {
  TPlaceOpener opener;
  TError err;
  auto a = opener.Source(In(t / "outer.zip", {}, "sub"), &err);
  auto b = opener.Source(In(t / "outer.zip", {}, ""), &err);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a.get(), b.get());
  auto n1 = opener.Source(In(t / "outer.zip", {"sub/in.zip"}, ""), &err);
  auto n2 = opener.Source(In(t / "outer.zip", {"sub/in.zip"}, "src"), &err);
  ASSERT_TRUE(n1 && n2);
  EXPECT_EQ(n1.get(), n2.get());
  // The outer archive changes: the nested one is read from it again.
  test::WriteFile(t / "outer/sub/added.txt", "new");
  Sh("cd " + Q(t / "outer") + " && zip -q ../outer.zip sub/added.txt");
  auto n3 = opener.Source(In(t / "outer.zip", {"sub/in.zip"}, ""), &err);
  ASSERT_TRUE(n3) << err.text;
  EXPECT_NE(n3.get(), n1.get());
  EXPECT_EQ(test::ListNames(*a, "sub"), (std::vector<std::string>{"added.txt", "in.zip"}));
}

TEST_F(PlaceOpenerTest, ArchivesRecognisedByContent) {
  test::WriteFile(t / "plain.zip", "not an archive at all, whatever the name says");
  Sh("cp " + Q(t / "in.zip") + " " + Q(t / "book.epub"));
  struct {
    std::string file;
    TArchiveType type;
  } cases[] = {{t / "in.zip", TArchiveType::Zip}, {t / "book.epub", TArchiveType::Zip},
               {t / "in.tar.gz", TArchiveType::Other}, {t / "plain.zip", TArchiveType::None}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(DetectArchive(c.file), c.type);
  }
  TPlaceOpener opener;
  TError err;
  EXPECT_FALSE(opener.Source(In(t / "plain.zip", {}, ""), &err));
  EXPECT_NE(err.text.find("no archive"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::vfs
