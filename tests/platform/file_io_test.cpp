// The file operations of the panel sources: link targets of any length kept
// byte for byte, a link's own time, the identity that tells a changed file,
// and data kept aside in a private spool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/private_file.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(FileIo, LinkTargetsAsStored) {
  TempDir t;
  const struct {
    const char* what;
    std::string target;
  } cases[] = {
      {"short", "target.txt"},
      {"longer than the first buffer", std::string(300, 'a') + "/b"},
      {"near the longest a link holds", "../" + std::string(4000, 'x')},
      {"bytes that are no UTF-8", std::string("caf\xe9/\x01\xff")},
      {"dangling and absolute", "/nowhere/at/all"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string link = t / ("link" + std::to_string(n++));
    ASSERT_EQ(MakeSymlink(c.target, link, 1600000000), 0);
    std::string got;
    ASSERT_TRUE(ReadLinkTarget(link, got));
    EXPECT_EQ(got, c.target);
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1600000000);  // the link's own time, not its target's
  }
  EXPECT_EQ(MakeSymlink("x", t / "link0"), EEXIST);
  std::string none;
  EXPECT_FALSE(ReadLinkTarget(t / "missing", none));
  WriteFile(t / "plain", "not a link");
  EXPECT_FALSE(ReadLinkTarget(t / "plain", none));
  EXPECT_EQ(errno, EINVAL);
}

TEST(FileIo, IdentityTellsAChangedOrReplacedFile) {
  TempDir t;
  WriteFile(t / "a.zip", "first");
  FileIdentity before, now;
  ASSERT_TRUE(GetFileIdentity(t / "a.zip", before));
  ASSERT_TRUE(GetFileIdentity(t / "a.zip", now));
  EXPECT_EQ(now, before);
  EXPECT_EQ(now.size, 5u);
  // Replaced by another file of the same size and time: another inode.
  WriteFile(t / "b.zip", "other");
  const struct timespec times[2] = {{0, UTIME_OMIT}, {before.mtimeNs / 1000000000, before.mtimeNs % 1000000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (t / "b.zip").c_str(), times, 0), 0);
  ASSERT_EQ(RenameReplacing(t / "b.zip", t / "a.zip"), 0);
  ASSERT_TRUE(GetFileIdentity(t / "a.zip", now));
  EXPECT_EQ(now.mtimeNs, before.mtimeNs);
  EXPECT_NE(now, before);
  EXPECT_FALSE(GetFileIdentity(t / "gone.zip", now));
  EXPECT_EQ(now, FileIdentity{});
}

TEST(FileIo, DescriptorsAndTheSpool) {
  const int fd = PrivateTempFile();
  ASSERT_GE(fd, 0);
  const std::string data = std::string(100000, 'x') + "end";
  uint64_t written = 0;
  ASSERT_EQ(WriteAll(fd, data.data(), data.size(), &written), 0);
  EXPECT_EQ(written, data.size());
  ASSERT_EQ(Rewind(fd), 0);
  std::string back(data.size() + 10, '\0');
  size_t got = 0;
  for (int64_t r; (r = ReadSome(fd, back.data() + got, back.size() - got)) > 0;) got += static_cast<size_t>(r);
  EXPECT_EQ(back.substr(0, got), data);
  CloseDescriptor(fd);

  // Pieces appended one after another, read back from the middle.
  PrivateSpool spool;
  EXPECT_EQ(spool.Size(), 0u);
  ASSERT_EQ(spool.Append("alpha", 5), 0);
  ASSERT_EQ(spool.Append(data.data(), data.size()), 0);
  ASSERT_EQ(spool.Append("omega", 5), 0);
  EXPECT_EQ(spool.Size(), 10 + data.size());
  char piece[8] = {};
  ASSERT_EQ(spool.ReadAt(5 + data.size() - 3, piece, 8), 0);
  EXPECT_EQ(std::string(piece, 8), "endomega");
  EXPECT_EQ(spool.ReadAt(spool.Size() - 2, piece, 3), EINVAL);  // past what was kept
}

// The descriptors this process has open on the file `file` describes.
int DescriptorsOn(const struct stat& file) {
  int n = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino) ++n;
  }
  return n;
}

TEST(FileIo, ADescriptorClosedLaterGoesWithItsFile) {
  TempDir t;
  WriteFile(t / "big", std::string(1 << 20, 'b'));
  const int fd = ::open((t / "big").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct stat st;
  ASSERT_EQ(::fstat(fd, &st), 0);
  ASSERT_EQ(::unlink((t / "big").c_str()), 0);
  ASSERT_EQ(DescriptorsOn(st), 1);
  CloseDescriptorLater(fd);
  bool gone = false;
  for (int i = 0; i < 500 && !(gone = DescriptorsOn(st) == 0); ++i) ::usleep(10000);
  EXPECT_TRUE(gone) << "the file's last descriptor was never closed";
}

}  // namespace
}  // namespace vantrel::platform
