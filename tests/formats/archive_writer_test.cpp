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
    test::WriteFile(t / "src/docs/\xC3\xBCber.txt", "unicode name\n");
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
    EXPECT_EQ(test::ReadMember(*archive, "docs/\xC3\xBCber.txt"), "unicode name\n");
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

}  // namespace
}  // namespace vantrel::formats
