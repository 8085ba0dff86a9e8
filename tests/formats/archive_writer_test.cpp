// Packing into tar.gz, tar.xz, tar.zst and 7z: what the other tools read
// back (tar, bsdtar, 7zz), names as bytes, links as links, and never a
// partial archive after a failure or a cancel.
#include "formats/archive_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/formats/formats_helpers.h"

namespace vantrel::formats {
namespace {

using test::Q;
using test::Sh;

struct TFormatCase {
  TPackFormat format;
  const char* extension;
  const char* tool;    // the peer that must find it whole
  const char* check;   // its check command, %s the archive
  bool keepsLinks;     // symbolic links stored as links
};

const TFormatCase kFormats[] = {
    {TPackFormat::TarGz, ".tar.gz", "tar", "tar tzf %s >/dev/null && gzip -t %s", true},
    {TPackFormat::TarXz, ".tar.xz", "xz", "tar tJf %s >/dev/null && xz -t %s", true},
    {TPackFormat::TarZst, ".tar.zst", "zstd", "tar --zstd -tf %s >/dev/null && zstd -qt %s", true},
    {TPackFormat::SevenZip, ".7z", "7zz", "7zz t %s >/dev/null", true},
};

std::string Command(const char* pattern, const std::string& archive) {
  std::string out = pattern;
  for (size_t at; (at = out.find("%s")) != std::string::npos;) out.replace(at, 2, Q(archive));
  return out;
}

class ArchiveWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeTree(t / "src");
    // A name that is not UTF-8 and a hard link.
    test::WriteFile(t / "src/docs/caf\xE9.txt", "latin-1 name\n");
    test::WriteFile(t / "src/docs/\xC3\xBC" "ber.txt", "unicode name\n");
    EXPECT_EQ(::link((t / "src/hello.txt").c_str(), (t / "src/docs/hard.txt").c_str()), 0);
  }
  TPackRequest Request(const TFormatCase& c, const std::string& leaf = "out") {
    TPackRequest r;
    r.archive = t / (leaf + c.extension);
    r.rootDir = t / "src";
    r.names = {"docs", "hello.txt", "link", "empty"};
    r.format = c.format;
    r.level = 6;
    return r;
  }
  test::TempDir t;
};

TEST_F(ArchiveWriterTest, EveryFormatIsReadBackWholeByItsPeerAndByUs) {
  for (const TFormatCase& c : kFormats) {
    SCOPED_TRACE(c.extension);
    if (platform::FindProgram(c.tool).empty()) continue;
    const TPackRequest r = Request(c);
    TPackResult result;
    TArchiveError error;
    ASSERT_TRUE(PackArchive(r, {}, &result, &error)) << error.text;
    // A name that is not UTF-8: kept as bytes in a tar, told and left out
    // of a 7z (whose names are Unicode).
    if (c.format == TPackFormat::SevenZip) {
      ASSERT_EQ(result.leftOut.size(), 1u);
      EXPECT_EQ(result.leftOut[0].first, "docs/caf\xE9.txt");
    } else {
      EXPECT_TRUE(result.leftOut.empty());
      EXPECT_EQ(test::ReadMember(*test::OpenListed(r.archive), "docs/caf\xE9.txt"), "latin-1 name\n");
    }
    EXPECT_EQ(result.links, 1u);
    Sh(Command(c.check, r.archive));
    // Every file and its bytes, every directory, the link as a link.
    auto archive = test::OpenListed(r.archive);
    ASSERT_TRUE(archive);
    const auto members = test::ByName(*archive);
    for (const auto& [path, data] : test::TreeFiles()) {
      SCOPED_TRACE(path);
      ASSERT_EQ(members.count(path), 1u);
      EXPECT_TRUE(test::SameBytes(test::ReadMember(*archive, path), data));
    }
    EXPECT_EQ(test::ReadMember(*archive, "docs/hard.txt"), "hello, world\n");
    EXPECT_EQ(test::ReadMember(*archive, "docs/\xC3\xBC" "ber.txt"), "unicode name\n");
    ASSERT_EQ(members.count("docs/deep/er"), 1u);
    EXPECT_EQ(members.at("docs/deep/er").kind, TMemberKind::Directory);
    ASSERT_EQ(members.count("link"), 1u);
    EXPECT_EQ(members.at("link").kind, TMemberKind::Symlink);
    EXPECT_EQ(members.at("link").linkTarget, "hello.txt");
    EXPECT_EQ(members.at("hello.txt").mode, 0640u);
    // No temporary file is left beside it.
    EXPECT_EQ(Sh("ls -A " + Q(t.path()) + " | grep -c '^\\.' || true"), "0\n");
  }
}

TEST_F(ArchiveWriterTest, TarKeepsNameBytesAndHardLinksAsTarSeesThem) {
  const TPackRequest r = Request(kFormats[0]);
  TArchiveError error;
  ASSERT_TRUE(PackArchive(r, {}, nullptr, &error)) << error.text;
  const std::string verbose = Sh("tar tvzf " + Q(r.archive));
  // "docs" is packed before "hello.txt": the second name links to the first.
  EXPECT_NE(verbose.find("hello.txt link to docs/hard.txt"), std::string::npos) << verbose;
  EXPECT_NE(verbose.find("link -> hello.txt"), std::string::npos) << verbose;
  // GNU tar gives the name's bytes back as they were.
  Sh("mkdir " + Q(t / "x") + " && tar xzf " + Q(r.archive) + " -C " + Q(t / "x"));
  EXPECT_EQ(test::ReadFile(t / "x/docs/caf\xE9.txt"), "latin-1 name\n");
  struct stat a, b;
  ASSERT_EQ(::stat((t / "x/hello.txt").c_str(), &a), 0);
  ASSERT_EQ(::stat((t / "x/docs/hard.txt").c_str(), &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
}

TEST_F(ArchiveWriterTest, LevelsChangeTheSize) {
  test::WriteFile(t / "src/text.txt", std::string(200000, 'a') + test::Noise(1000, 3) + std::string(200000, 'b'));
  for (const TFormatCase& c : {kFormats[0], kFormats[1]}) {
    SCOPED_TRACE(c.extension);
    TPackRequest fast = Request(c, "fast"), best = Request(c, "best");
    fast.level = 1;
    best.level = 9;
    fast.names = best.names = {"text.txt", "docs"};
    ASSERT_TRUE(PackArchive(fast, {}, nullptr, nullptr));
    ASSERT_TRUE(PackArchive(best, {}, nullptr, nullptr));
    struct stat f, b;
    ASSERT_EQ(::stat(fast.archive.c_str(), &f), 0);
    ASSERT_EQ(::stat(best.archive.c_str(), &b), 0);
    EXPECT_LT(b.st_size, f.st_size);
  }
}

// A cancel or a failure leaves the archive of that name as it was (or none),
// and no temporary file.
TEST_F(ArchiveWriterTest, NoPartialArchiveAfterCancelOrFailure) {
  for (const TFormatCase& c : kFormats) {
    SCOPED_TRACE(c.extension);
    TPackRequest r = Request(c);
    test::WriteFile(r.archive, "the old archive");
    TPackEvents events;
    int calls = 0;
    events.progress = [&](uint64_t, uint64_t) { return ++calls < 2; };
    TArchiveError error;
    EXPECT_FALSE(PackArchive(r, events, nullptr, &error));
    EXPECT_EQ(error.code, ECANCELED);
    EXPECT_EQ(test::ReadFile(r.archive), "the old archive");
    ::unlink(r.archive.c_str());
    EXPECT_FALSE(PackArchive(r, events, nullptr, &error));
    EXPECT_NE(::access(r.archive.c_str(), F_OK), 0);
  }
  EXPECT_EQ(Sh("ls -A " + Q(t.path())), "src\n");
  // A directory where the archive goes cannot be written.
  TPackRequest r = Request(kFormats[0]);
  test::MakeDir(r.archive);
  TArchiveError error;
  EXPECT_FALSE(PackArchive(r, {}, nullptr, &error));
  EXPECT_EQ(error.code, EISDIR);
  // Nowhere to write: the reason, nothing written.
  r.archive = t / "missing/dir/out.tar.gz";
  EXPECT_FALSE(PackArchive(r, {}, nullptr, &error));
  EXPECT_EQ(error.code, ENOENT);
}

TEST_F(ArchiveWriterTest, WhatCannotBeReadIsLeftOutAndTold) {
  TPackRequest r = Request(kFormats[0]);
  r.names.push_back("gone.txt");  // went away after it was chosen
  const bool root = ::geteuid() == 0;
  if (!root) ::chmod((t / "src/docs/readme.md").c_str(), 0);
  TPackResult result;
  ASSERT_TRUE(PackArchive(r, {}, &result, nullptr));
  std::vector<std::string> left;
  for (const auto& [name, why] : result.leftOut) left.push_back(name);
  std::sort(left.begin(), left.end());
  const std::vector<std::string> want =
      root ? std::vector<std::string>{"gone.txt"} : std::vector<std::string>{"docs/readme.md", "gone.txt"};
  EXPECT_EQ(left, want);
  auto archive = test::OpenListed(r.archive);
  EXPECT_EQ(test::IndexOf(*archive, "docs/readme.md") < 0, !root);
  EXPECT_GE(test::IndexOf(*archive, "hello.txt"), 0);
}

// Packing into the directory being packed never packs the archive into
// itself, nor the one it replaces.
TEST_F(ArchiveWriterTest, TheArchiveIsNotPackedIntoItself) {
  TPackRequest r = Request(kFormats[0]);
  r.archive = t / "src/docs/self.tar.gz";
  test::WriteFile(r.archive, "an older archive");
  ASSERT_TRUE(PackArchive(r, {}, nullptr, nullptr));
  auto archive = test::OpenListed(r.archive);
  EXPECT_EQ(test::IndexOf(*archive, "docs/self.tar.gz"), -1);
  for (const formats::TMember& m : archive->Members()) EXPECT_EQ(m.path.find("self.tar.gz"), std::string::npos) << m.path;
}

// Adding to an archive that exists: its entries stay (as bytes, links as
// links), the new files come after them, a name packed again replaces its
// entry; bsdtar and 7zz find the result whole.
TEST_F(ArchiveWriterTest, AddingKeepsTheEntriesOfTheArchiveThatExists) {
  VANTREL_NEED_TOOL("bsdtar");
  for (const TFormatCase& c : kFormats) {
    SCOPED_TRACE(c.extension);
    if (platform::FindProgram(c.tool).empty()) continue;
    TPackRequest first = Request(c);
    first.names = {"docs", "link"};
    ASSERT_TRUE(PackArchive(first, {}, nullptr, nullptr));
    test::WriteFile(t / "src/docs/readme.md", "read me, changed\n");
    TPackRequest more = first;
    more.addToArchive = true;
    more.names = {"hello.txt", "docs/readme.md"};
    TPackResult result;
    TArchiveError error;
    ASSERT_TRUE(PackArchive(more, {}, &result, &error)) << error.text;
    EXPECT_EQ(result.files, 2u);
    Sh(Command(c.check, more.archive));
    const std::string listing = Sh("bsdtar -tf " + Q(more.archive));
    // Once each: the replaced entry is not there twice.
    for (const char* name : {"docs/readme.md\n", "hello.txt\n", "link\n", "docs/deep/er/data.bin\n"}) {
      const size_t at = listing.find(name);
      ASSERT_NE(at, std::string::npos) << name << listing;
      EXPECT_EQ(listing.find(name, at + 1), std::string::npos) << name << listing;
    }
    auto archive = test::OpenListed(more.archive);
    ASSERT_TRUE(archive);
    EXPECT_EQ(test::ReadMember(*archive, "docs/readme.md"), "read me, changed\n");
    EXPECT_EQ(test::ReadMember(*archive, "hello.txt"), "hello, world\n");
    EXPECT_TRUE(test::SameBytes(test::ReadMember(*archive, "docs/deep/er/data.bin"), test::Noise(300000, 7)));
    const auto members = test::ByName(*archive);
    ASSERT_EQ(members.count("link"), 1u);
    EXPECT_EQ(members.at("link").linkTarget, "hello.txt");
    if (c.format != TPackFormat::SevenZip) {
      EXPECT_EQ(test::ReadMember(*archive, "docs/caf\xE9.txt"), "latin-1 name\n");
    }
  }
  EXPECT_EQ(Sh("ls -A " + Q(t.path()) + " | grep -c '^\\.' || true"), "0\n");
}

// Adding to something that is no archive, or cancelling while the old
// entries are copied: the file stays byte for byte, nothing else is left.
TEST_F(ArchiveWriterTest, AddingToWhatCannotBeReadOrCancelledLeavesItAsItWas) {
  for (const TFormatCase& c : kFormats) {
    SCOPED_TRACE(c.extension);
    TPackRequest r = Request(c);
    r.addToArchive = true;
    r.names = {"hello.txt"};
    test::WriteFile(r.archive, "not an archive at all");
    TArchiveError error;
    EXPECT_FALSE(PackArchive(r, {}, nullptr, &error));
    EXPECT_NE(error.text.find("cannot be read"), std::string::npos) << error.text;
    EXPECT_EQ(test::ReadFile(r.archive), "not an archive at all");
    ::unlink(r.archive.c_str());
    r.names = {"docs"};
    ASSERT_TRUE(PackArchive(r, {}, nullptr, &error)) << error.text;  // none there: packed as new
    const std::string before = test::ReadFile(r.archive);
    r.names = {"hello.txt"};
    TPackEvents events;
    bool sawOldBytes = false;
    events.progress = [&](uint64_t done, uint64_t) {
      sawOldBytes = sawOldBytes || done > 0;
      return done == 0;  // stops at the first block of the old archive
    };
    EXPECT_FALSE(PackArchive(r, events, nullptr, &error));
    EXPECT_EQ(error.code, ECANCELED);
    EXPECT_TRUE(sawOldBytes);
    EXPECT_TRUE(test::ReadFile(r.archive) == before);
    ::unlink(r.archive.c_str());
  }
  EXPECT_EQ(Sh("ls -A " + Q(t.path())), "src\n");
}

// The items are told in the order they go in, what is left out at its
// place among them, and the count ends at all of them.
TEST_F(ArchiveWriterTest, ItemsAndWhatIsLeftOutAreToldInOrder) {
  TPackRequest r = Request(kFormats[0]);
  r.names = {"hello.txt", "gone.txt", "docs/readme.md", "empty"};
  std::vector<std::string> told;
  TPackEvents events;
  events.item = [&](const std::string& name, uint64_t done, uint64_t all) {
    told.push_back(name + " " + std::to_string(done) + "/" + std::to_string(all));
    // The next file goes away between the listing and its reading.
    if (name == "hello.txt") ::unlink((t / "src/docs/readme.md").c_str());
    return true;
  };
  events.leftOut = [&](const std::string& name, const std::string& why) { told.push_back("left out " + name + ": " + why); };
  TPackResult result;
  ASSERT_TRUE(PackArchive(r, events, &result, nullptr));
  const std::vector<std::string> want = {"left out gone.txt: No such file or directory",
                                         "hello.txt 0/3",
                                         "docs/readme.md 1/3",
                                         "left out docs/readme.md: No such file or directory",
                                         "empty 2/3",
                                         " 3/3"};
  EXPECT_EQ(told, want);
  ASSERT_EQ(result.leftOut.size(), 2u);
  EXPECT_EQ(result.files, 2u);
  const std::string listing = Sh("bsdtar -tvf " + Q(r.archive));
  EXPECT_NE(listing.find("hello.txt"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("readme.md"), std::string::npos) << listing;
}

}  // namespace
}  // namespace vantrel::formats
