// A place inside an archive that is not ZIP: listings and data equal to what
// the tools packed, read-only with the format's reason, passwords once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/vfs/vfs_helpers.h"
#include "vfs/archive_source.h"

namespace vantrel::vfs {
namespace {

using test::Q;
using test::Sh;
using test::TempDir;

class ArchiveSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeDir(t / "tree/docs/deep");
    test::MakeDir(t / "tree/empty");
    test::WriteFile(t / "tree/hello.txt", "hello, world\n");
    test::WriteFile(t / "tree/docs/readme.md", "# Read me\n");
    test::WriteFile(t / "tree/docs/deep/data.bin", test::Noise(300000, 7));
    ::symlink("hello.txt", (t / "tree/link").c_str());
  }
  std::unique_ptr<TArchiveSource> Load(const std::string& file, TPasswordProvider* passwords = nullptr) {
    TError err;
    auto source = TArchiveSource::Load(t / file, t / file, passwords, &err);
    EXPECT_TRUE(source) << err.text;
    return source;
  }
  TempDir t;
};

TEST_F(ArchiveSourceTest, TarsAndOthersListAndReadAsPacked) {
  struct TCase {
    const char* file;
    const char* tool;
    const char* command;  // run in tree/
    const char* kind;
    bool hasLink;
  } cases[] = {
      {"a.tar", "tar", "tar cf ../a.tar .", "tar", true},
      {"a.tar.gz", "tar", "tar czf ../a.tar.gz .", "tar.gz", true},
      {"a.tar.xz", "xz", "tar cJf ../a.tar.xz .", "tar.xz", true},
      {"a.7z", "7zz", "7zz a -bd -snl ../a.7z . >/dev/null", "7z", true},
      {"a.cpio", "cpio", "find . | cpio -o -H newc --quiet > ../a.cpio", "cpio", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.file);
    if (platform::FindProgram(c.tool).empty()) continue;
    Sh("cd " + Q(t / "tree") + " && " + c.command);
    auto a = Load(c.file);
    ASSERT_TRUE(a);
    EXPECT_EQ(test::ListNames(*a, ""), (std::vector<std::string>{"docs/", "empty/", "hello.txt",
                                                                 c.hasLink ? "link@" : "link"}));
    EXPECT_EQ(test::ListNames(*a, "docs/deep"), (std::vector<std::string>{"data.bin"}));
    EXPECT_EQ(test::ReadAll(*a, "docs/deep/data.bin"), test::Noise(300000, 7));
    EXPECT_EQ(test::ReadAll(*a, "hello.txt"), "hello, world\n");
    TEntry e;
    TError err;
    ASSERT_TRUE(a->Stat("link", e, &err));
    EXPECT_EQ(e.linkTarget, "hello.txt");
    const TCapabilities caps = a->Capabilities();
    EXPECT_FALSE(caps.writable);
    EXPECT_EQ(caps.readOnlyReason, std::string(c.kind) + " archives are read-only here; pack a new one with Alt+F5");
    EXPECT_FALSE(a->MakeDir("x", &err));
    EXPECT_EQ(err.code, EROFS);
    EXPECT_EQ(err.text, caps.readOnlyReason);
  }
}

TEST_F(ArchiveSourceTest, ListingIsKeptAndCanBeStopped) {
  Sh("cd " + Q(t / "tree") + " && tar czf ../a.tar.gz .");
  auto a = Load("a.tar.gz");
  ASSERT_TRUE(a);
  std::vector<std::string> seen;
  TError err;
  // Stopped at the first progress report: what was found is shown, marked
  // partial.
  ASSERT_TRUE(a->ReadListing([](uint64_t, uint64_t) { return false; },
                             [&](const std::string& p) { seen.push_back(p); }, &err));
  EXPECT_TRUE(a->Partial());
  EXPECT_LT(seen.size(), 7u);
  ASSERT_TRUE(a->ReadListing({}, [&](const std::string& p) { seen.push_back(p); }, &err));
  EXPECT_FALSE(a->Partial());
  EXPECT_EQ(test::ListNames(*a, "docs"), (std::vector<std::string>{"deep/", "readme.md"}));
  // Changed on disk: stale, and read again.
  Sh("cd " + Q(t / "tree") + " && echo more > more.txt && tar czf ../a.tar.gz .");
  EXPECT_TRUE(a->Stale());
  ASSERT_TRUE(a->Refresh(&err)) << err.text;
  EXPECT_EQ(test::ListNames(*a, "").size(), 5u);
}

// A listing on a worker thread: the other thread sees the members found so
// far, nothing else of the archive until it ends, then all of it.
TEST_F(ArchiveSourceTest, ListingOnAnotherThreadShowsWhatWasFound) {
  for (int i = 0; i < 6; ++i) test::WriteFile(t / ("tree/docs/big" + std::to_string(i)), test::Noise(400000, i));
  Sh("cd " + Q(t / "tree") + " && tar czf ../a.tar.gz hello.txt docs");
  auto a = Load("a.tar.gz");
  ASSERT_TRUE(a);
  std::mutex m;
  std::condition_variable cv;
  bool paused = false, go = false;
  std::thread worker([&] {
    TError err;
    a->ReadListing(
        [&](uint64_t, uint64_t) {
          std::unique_lock<std::mutex> lock(m);
          if (a->Found() >= 3 && !go) {
            paused = true;
            cv.notify_all();
            cv.wait(lock, [&] { return go; });
          }
          return true;
        },
        {}, &err);
  });
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return paused; }));
  }
  EXPECT_TRUE(a->Listing());
  EXPECT_TRUE(a->Partial());
  EXPECT_GE(a->Found(), 3u);
  EXPECT_LT(a->Found(), 9u);
  EXPECT_GT(a->ReadBytes(), 0u);
  EXPECT_EQ(test::ListNames(*a, ""), (std::vector<std::string>{"docs/", "hello.txt"}));
  const std::vector<std::string> early = test::ListNames(*a, "docs");
  EXPECT_LT(early.size(), 8u);
  TEntry e;
  TError err;
  EXPECT_FALSE(a->Stat("hello.txt", e, &err));
  EXPECT_EQ(err.code, EBUSY);
  EXPECT_EQ(test::ReadAll(*a, "hello.txt", &err), "<failed>");
  EXPECT_EQ(err.code, EBUSY);
  EXPECT_FALSE(a->ReadListing({}, {}, &err));
  EXPECT_EQ(err.code, EBUSY);
  {
    std::lock_guard<std::mutex> lock(m);
    go = true;
  }
  cv.notify_all();
  worker.join();
  EXPECT_FALSE(a->Listing());
  EXPECT_FALSE(a->Partial());
  EXPECT_EQ(test::ListNames(*a, "docs").size(), 8u);  // deep/, readme.md, big0..big5
  EXPECT_EQ(test::ReadAll(*a, "hello.txt"), "hello, world\n");
}

// A copy job's reader shares the panel's listing: it lists nothing again and
// reads its members in one pass; without a whole, current listing there is
// no twin (the job then reads the archive itself).
TEST_F(ArchiveSourceTest, TwinTakesTheListingInsteadOfReadingItAgain) {
  Sh("cd " + Q(t / "tree") + " && tar czf ../a.tar.gz .");
  auto a = Load("a.tar.gz");
  ASSERT_TRUE(a);
  EXPECT_FALSE(a->Twin(nullptr)) << "nothing listed yet";
  TError err;
  ASSERT_TRUE(a->ReadListing([](uint64_t, uint64_t) { return false; }, {}, &err));
  EXPECT_FALSE(a->Twin(nullptr)) << "a stopped listing is not all of the archive";
  ASSERT_TRUE(a->ReadListing({}, {}, &err));
  EXPECT_EQ(a->Listings(), 2);

  std::unique_ptr<TArchiveSource> twin = a->Twin(nullptr);
  ASSERT_TRUE(twin);
  EXPECT_EQ(test::ListNames(*twin, "docs"), test::ListNames(*a, "docs"));
  twin->Expect({"docs/deep/data.bin", "hello.txt"});
  EXPECT_EQ(test::ReadAll(*twin, "docs/deep/data.bin"), test::Noise(300000, 7));
  EXPECT_EQ(test::ReadAll(*twin, "hello.txt"), "hello, world\n");
  EXPECT_EQ(twin->Listings(), 0);
  EXPECT_EQ(twin->Archive().StreamStarts(), 1u);
  EXPECT_EQ(a->Listings(), 2);
  EXPECT_EQ(test::ReadAll(*a, "hello.txt"), "hello, world\n");  // the first reader goes on by itself

  // Changed on disk since it was listed: its listing is no one's to share.
  Sh("cd " + Q(t / "tree") + " && echo more > more.txt && tar czf ../a.tar.gz .");
  EXPECT_FALSE(a->Twin(nullptr));
}

TEST_F(ArchiveSourceTest, EncryptedSevenZipAsksOnce) {
  VANTREL_NEED_TOOL("7zz");
  Sh("cd " + Q(t / "tree") + " && 7zz a -bd -pright ../e.7z hello.txt docs >/dev/null");
  test::TScriptedPasswords passwords({"wrong", "right"});
  auto a = Load("e.7z", &passwords);
  ASSERT_TRUE(a);
  EXPECT_EQ(test::ReadAll(*a, "hello.txt"), "hello, world\n");
  EXPECT_EQ(test::ReadAll(*a, "docs/readme.md"), "# Read me\n");
  const std::string name = t / "e.7z";
  EXPECT_EQ(passwords.asked, (std::vector<std::string>{name, name + " again"}));
}

TEST_F(ArchiveSourceTest, NoArchiveIsRefused) {
  test::WriteFile(t / "plain.txt", "nothing packed here");
  TError err;
  EXPECT_FALSE(TArchiveSource::Load(t / "plain.txt", t / "plain.txt", nullptr, &err));
  EXPECT_NE(err.text.find("plain.txt"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::vfs
