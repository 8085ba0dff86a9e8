// Listing and reading archives that are streams: incremental listing with
// progress and a stop, one pass for many members, seeking in an uncompressed
// tar, hard links, and members that misbehave.
#include <gtest/gtest.h>
#include <fcntl.h>

#include <fstream>
#include <set>

#include "tests/formats/formats_helpers.h"

namespace vantrel::test {
namespace {

using formats::TArchiveError;
using formats::TListState;
using formats::TMemberData;
using formats::TMemberKind;
using formats::TStreamArchive;

// A tree of `count` files of `size` bytes each, named f000 ... in `dir`.
void MakeFiles(const std::string& dir, int count, size_t size) {
  MakeDir(dir);
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%03d", i);
    WriteFile(dir + "/" + name, Noise(size, static_cast<uint32_t>(i + 1)));
  }
}

std::string FileName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "f%03d", i);
  return name;
}

// The bytes this process has read through system calls so far.
uint64_t BytesReadByProcess() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return 0;
}

void MakeHostile(const TempDir& dir, const std::string& name) {
  const char* source = std::getenv("VANTREL_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  Sh("python3 " + Q(std::string(source) + "/tests/formats/hostile_archives.py") + " " + Q(dir.path()) + " " + name);
}

TEST(StreamListing, TellsMembersAsFoundWithProgressByCompressedBytes) {
  VANTREL_NEED_TOOL("tar");
  TempDir dir;
  MakeFiles(dir / "src", 60, 40000);
  const std::string archive = dir / "a.tar.gz";
  Sh("tar --sort=name -C " + Q(dir / "src") + " -czf " + Q(archive) + " .");
  TArchiveError error;
  auto a = TStreamArchive::Open(archive, &error);
  ASSERT_TRUE(a) << error.text;
  const uint64_t size = a->Kind().fileSize;
  uint64_t lastDone = 0, doneAtFirstMember = UINT64_MAX;
  bool monotonic = true;
  std::vector<uint32_t> told;
  TStreamArchive::TListEvents events;
  events.onMember = [&](uint32_t index, const formats::TMember&) {
    if (told.empty()) doneAtFirstMember = lastDone;
    told.push_back(index);
  };
  events.progress = [&](uint64_t done, uint64_t total) {
    EXPECT_EQ(total, size);
    monotonic = monotonic && done >= lastDone;
    lastDone = done;
    return true;
  };
  EXPECT_EQ(a->List(events), TListState::Complete);
  EXPECT_TRUE(monotonic);
  EXPECT_LT(doneAtFirstMember, size / 2) << "the first member is told long before the end";
  EXPECT_EQ(told.size(), a->Members().size());
  for (size_t i = 0; i < told.size(); ++i) EXPECT_EQ(told[i], i);
  EXPECT_EQ(a->ListedBytes(), size);
}

TEST(StreamListing, StopsWhenAskedAndKeepsWhatWasFound) {
  VANTREL_NEED_TOOL("tar");
  TempDir dir;
  MakeFiles(dir / "src", 120, 20000);
  const std::string archive = dir / "a.tar.gz";
  Sh("tar --sort=name -C " + Q(dir / "src") + " -czf " + Q(archive) + " .");
  auto a = TStreamArchive::Open(archive, nullptr);
  ASSERT_TRUE(a);
  TStreamArchive::TListEvents events;
  size_t found = 0;
  events.onMember = [&](uint32_t, const formats::TMember&) { ++found; };
  events.progress = [&](uint64_t, uint64_t) { return found < 30; };
  EXPECT_EQ(a->List(events), TListState::Stopped);
  EXPECT_GE(a->Members().size(), 30u);
  EXPECT_LT(a->Members().size(), 121u);
  // What was found can be read.
  const std::string name = Normal(a->Members()[5].path);
  EXPECT_TRUE(SameBytes(ReadMember(*a, name), Noise(20000, static_cast<uint32_t>(std::stoi(name.substr(1)) + 1))));
  // Listing again lists it all.
  EXPECT_EQ(a->List({}), TListState::Complete);
  EXPECT_EQ(a->Members().size(), 121u);
}

TEST(StreamReading, ReadsManyMembersInOnePassInTheArchivesOrder) {
  VANTREL_NEED_TOOL("tar");
  TempDir dir;
  MakeFiles(dir / "src", 50, 60000);
  const std::string archive = dir / "a.tar.gz";
  Sh("tar --sort=name -C " + Q(dir / "src") + " -czf " + Q(archive) + " .");
  auto a = OpenListed(archive);
  ASSERT_TRUE(a);
  std::vector<uint32_t> wanted;
  for (int i : {40, 3, 20, 41})
    wanted.push_back(static_cast<uint32_t>(IndexOf(*a, FileName(i))));
  uint64_t last = 0;
  int restarts = 0;
  TStreamArchive::TReadOptions options;
  options.progress = [&](uint64_t done, uint64_t) {
    if (done < last) ++restarts;
    last = done;
    return true;
  };
  std::vector<std::string> order;
  TArchiveError error;
  ASSERT_TRUE(a->ReadMembers(wanted, [&](uint32_t index, TMemberData& data) {
    const std::string name = Normal(a->Members()[index].path);
    order.push_back(name);
    TStringSink sink;
    TArchiveError why;
    EXPECT_TRUE(data.Read(sink, &why)) << why.text;
    EXPECT_TRUE(SameBytes(sink.bytes, Noise(60000, static_cast<uint32_t>(std::stoi(name.substr(1)) + 1)))) << name;
    return true;
  }, options, &error)) << error.text;
  EXPECT_EQ(restarts, 0) << "one pass over the stream";
  std::vector<std::string> expected;
  for (const auto& m : a->Members())
    for (uint32_t w : wanted)
      if (&m == &a->Members()[w]) expected.push_back(Normal(m.path));
  EXPECT_EQ(order, expected);
  EXPECT_LT(last, a->Kind().fileSize) << "the pass ends after the last member asked for";
}

// Members asked for one call at a time, in the orders a caller may walk
// them: the stream is started again only for a member behind the reader
// that was not announced.
TEST(StreamReading, OneAtATimeMakesOnePassForAnnouncedMembersInAnyOrder) {
  VANTREL_NEED_TOOL("tar");
  TempDir dir;
  MakeFiles(dir / "src", 12, 50000);
  const std::string archive = dir / "a.tar.gz";
  Sh("tar --sort=name -C " + Q(dir / "src") + " -czf " + Q(archive) + " .");
  struct TCase {
    const char* label;
    std::vector<int> order;
    bool announce;
    size_t starts;
  };
  const TCase cases[] = {
      {"forward, unannounced", {0, 1, 2, 5, 9, 11}, false, 1},
      {"backward, announced", {11, 9, 5, 2, 1, 0}, true, 1},
      {"by directory, announced", {3, 7, 0, 10, 4, 1, 11}, true, 1},
      {"backward, unannounced", {11, 9, 5, 2}, false, 4},
      {"a member twice, announced twice", {6, 2, 6}, true, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    auto a = OpenListed(archive);
    ASSERT_TRUE(a);
    std::vector<uint32_t> indices;
    for (int i : c.order) indices.push_back(static_cast<uint32_t>(IndexOf(*a, FileName(i))));
    if (c.announce) a->Expect(indices);
    for (size_t k = 0; k < indices.size(); ++k) {
      TStringSink sink;
      TArchiveError error;
      EXPECT_TRUE(a->ReadNext(indices[k], sink, {}, &error)) << c.order[k] << ": " << error.text;
      EXPECT_TRUE(SameBytes(sink.bytes, Noise(50000, static_cast<uint32_t>(c.order[k] + 1)))) << c.order[k];
    }
    EXPECT_EQ(a->StreamStarts(), c.starts);
  }
}

// Announced members that the reader went past on a truncated stream are
// given from what was kept; those at and after the damage fail with the
// reason, without the stream being read again for each.
TEST(HostileTar, OneAtATimeOnATruncatedStreamFailsFromWhereItEnds) {
  TempDir dir;
  MakeHostile(dir, "truncated.tar.gz");
  auto a = TStreamArchive::Open(dir / "truncated.tar.gz", nullptr);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->List({}), TListState::Damaged);
  const int first = IndexOf(*a, "first.txt"), second = IndexOf(*a, "second.bin");
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  const std::vector<uint32_t> order = {static_cast<uint32_t>(second), static_cast<uint32_t>(first)};
  a->Expect(order);
  TStringSink late, early;
  TArchiveError lateError, earlyError;
  EXPECT_FALSE(a->ReadNext(order[0], late, {}, &lateError));
  EXPECT_NE(lateError.text.find("runcated"), std::string::npos) << lateError.text;
  EXPECT_TRUE(a->ReadNext(order[1], early, {}, &earlyError)) << earlyError.text;
  EXPECT_EQ(early.bytes, "first\n");
  EXPECT_EQ(a->StreamStarts(), 1u);
}

TEST(StreamReading, SeeksInAnUncompressedTarInsteadOfReadingIt) {
  VANTREL_NEED_TOOL("tar");
  TempDir dir;
  MakeFiles(dir / "src", 24, 1 << 20);
  const std::string archive = dir / "a.tar";
  Sh("tar -C " + Q(dir / "src") + " -cf " + Q(archive) + " .");
  auto a = TStreamArchive::Open(archive, nullptr);
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->Kind().SeekableTar());
  const uint64_t before = BytesReadByProcess();
  EXPECT_EQ(a->List({}), TListState::Complete);
  const uint64_t listing = BytesReadByProcess() - before;
  EXPECT_LT(listing, 512u * 1024) << "24 MiB listed by reading their headers";
  const uint64_t beforeRead = BytesReadByProcess();
  EXPECT_TRUE(SameBytes(ReadMember(*a, FileName(17)), Noise(1 << 20, 18)));
  EXPECT_LT(BytesReadByProcess() - beforeRead, (1u << 20) + 512u * 1024) << "one member read alone";
}

TEST(StreamReading, GivesHardLinksTheDataTheyName) {
  VANTREL_NEED_TOOL("tar");
  VANTREL_NEED_TOOL("cpio");
  TempDir dir;
  MakeDir(dir / "src");
  WriteFile(dir / "src/first", "shared data\n");
  ASSERT_EQ(::link((dir / "src/first").c_str(), (dir / "src/second").c_str()), 0);
  ASSERT_EQ(::link((dir / "src/first").c_str(), (dir / "src/third").c_str()), 0);
  Sh("cd " + Q(dir / "src") + " && tar -cf ../l.tar first second third && tar -czf ../l.tgz first second third"
     " && printf 'first\\nsecond\\nthird\\n' | cpio --quiet -o -H newc > ../l.cpio");
  for (const char* name : {"l.tar", "l.tgz", "l.cpio"}) {
    SCOPED_TRACE(name);
    auto a = OpenListed(dir / name);
    ASSERT_TRUE(a);
    std::vector<uint32_t> all;
    for (const char* member : {"first", "second", "third"}) {
      const int index = IndexOf(*a, member);
      ASSERT_GE(index, 0) << member;
      EXPECT_EQ(a->Members()[static_cast<size_t>(index)].size, 12u) << member;
      all.push_back(static_cast<uint32_t>(index));
      EXPECT_EQ(ReadMember(*a, member), "shared data\n") << member;
    }
    // All three in one pass: each gets the data.
    std::set<uint32_t> seen;
    ASSERT_TRUE(a->ReadMembers(all, [&](uint32_t index, TMemberData& data) {
      TStringSink sink;
      EXPECT_TRUE(data.Read(sink, nullptr));
      EXPECT_EQ(sink.bytes, "shared data\n");
      seen.insert(index);
      return true;
    }, {}, nullptr));
    EXPECT_EQ(seen.size(), 3u);
  }
}

TEST(HostileTar, MembersThatCannotBeReadSafelyFailAndTheRestIsRead) {
  TempDir dir;
  MakeHostile(dir, "hostile.tar");
  auto a = OpenListed(dir / "hostile.tar");
  ASSERT_TRUE(a);
  const auto members = ByName(*a);
  // The names are told as stored; the panel's index makes them safe.
  EXPECT_TRUE(members.count("tmp/vantrel-absolute.txt"));
  EXPECT_EQ(a->Members()[static_cast<size_t>(IndexOf(*a, "tmp/vantrel-absolute.txt"))].path,
            "/tmp/vantrel-absolute.txt");
  EXPECT_TRUE(members.count("../escape.txt"));
  ASSERT_TRUE(members.count("evil"));
  EXPECT_EQ(members.at("evil").kind, TMemberKind::Symlink);
  EXPECT_EQ(members.at("evil").linkTarget, "/tmp");
  struct TCase {
    const char* name;
    bool readable;
    const char* data;
    const char* why;
  } cases[] = {
      {"hard-outside", false, "", "a hard link to /etc/passwd, which the archive does not hold"},
      {"hard-climb", false, "", "a hard link to ../outside.txt, which the archive does not hold"},
      {"device", false, "", "a device, pipe or socket: not extracted"},
      {"fifo", false, "", "a device, pipe or socket: not extracted"},
      {"evil/through-link.txt", true, "through the link\n", ""},
      {"good.txt", true, "good\n", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    bool ok = true;
    std::string why;
    const std::string data = ReadMember(*a, c.name, &ok, &why);
    EXPECT_EQ(ok, c.readable);
    EXPECT_EQ(data, c.data);
    EXPECT_EQ(why, c.why);
  }
  EXPECT_EQ(members.at("device").kind, TMemberKind::Special);
  EXPECT_EQ(members.at("hard-outside").dataFrom, -1);
}

TEST(HostileTar, AMemberLongerThanItsHeaderIsReportedAndTheRestGoesOn) {
  TempDir dir;
  MakeHostile(dir, "longer.tar");
  auto a = TStreamArchive::Open(dir / "longer.tar", nullptr);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->List({}), TListState::Complete);
  EXPECT_GT(a->DamagedHeaders(), 0u);
  EXPECT_EQ(a->Problem(), "Damaged tar archive");
  EXPECT_EQ(ReadMember(*a, "short.txt"), "0123456789");
  EXPECT_EQ(ReadMember(*a, "after.txt"), "after\n");
  // The same through one streamed pass over a compressed copy.
  Sh("gzip -k " + Q(dir / "longer.tar"));
  auto z = TStreamArchive::Open(dir / "longer.tar.gz", nullptr);
  ASSERT_TRUE(z);
  EXPECT_EQ(z->List({}), TListState::Complete);
  std::vector<uint32_t> both = {static_cast<uint32_t>(IndexOf(*z, "short.txt")),
                                static_cast<uint32_t>(IndexOf(*z, "after.txt"))};
  std::vector<std::string> got;
  EXPECT_TRUE(z->ReadMembers(both, [&](uint32_t, TMemberData& data) {
    TStringSink sink;
    EXPECT_TRUE(data.Read(sink, nullptr));
    got.push_back(sink.bytes);
    return true;
  }, {}, nullptr));
  EXPECT_EQ(got, (std::vector<std::string>{"0123456789", "after\n"}));
}

TEST(HostileTar, ATruncatedStreamFailsFromWhereItEnds) {
  TempDir dir;
  MakeHostile(dir, "truncated.tar.gz");
  auto a = TStreamArchive::Open(dir / "truncated.tar.gz", nullptr);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->List({}), TListState::Damaged);
  EXPECT_FALSE(a->Problem().empty());
  ASSERT_EQ(IndexOf(*a, "third.txt"), -1) << "nothing after the end is made up";
  std::vector<uint32_t> all = {static_cast<uint32_t>(IndexOf(*a, "first.txt")),
                               static_cast<uint32_t>(IndexOf(*a, "second.bin"))};
  std::vector<bool> results;
  std::vector<std::string> why;
  EXPECT_TRUE(a->ReadMembers(all, [&](uint32_t, TMemberData& data) {
    TStringSink sink;
    TArchiveError error;
    results.push_back(data.Read(sink, &error));
    why.push_back(error.text);
    return true;
  }, {}, nullptr));
  EXPECT_EQ(results, (std::vector<bool>{true, false}));
  EXPECT_NE(why[1].find("runcated"), std::string::npos) << why[1];
}

TEST(HostileTar, ABombStopsAtTheOutputLimit) {
  TempDir dir;
  MakeHostile(dir, "bomb.tar.gz");
  auto a = OpenListed(dir / "bomb.tar.gz");
  ASSERT_TRUE(a);
  TStreamArchive::TReadOptions options;
  options.outputLimit = 8 << 20;
  uint64_t written = 0;
  TArchiveError memberError, error;
  const bool passed = a->ReadMembers({0}, [&](uint32_t, TMemberData& data) {
    struct TCount final : formats::TDataSink {
      uint64_t& n;
      explicit TCount(uint64_t& c) : n(c) {}
      bool Write(const void*, size_t size) override {
        n += size;
        return true;
      }
    } sink(written);
    EXPECT_FALSE(data.Read(sink, &memberError));
    return true;
  }, options, &error);
  EXPECT_FALSE(passed);
  EXPECT_EQ(error.code, ENOSPC);
  EXPECT_EQ(memberError.code, ENOSPC);
  EXPECT_LE(written, options.outputLimit);
  // A single compressed file, whose size nobody states, stops the same way.
  // (Not zeros: a stream of zeros is an empty tar archive.)
  Sh("yes | head -c 25165824 | gzip -1 > " + Q(dir / "lines.gz"));
  auto z = OpenListed(dir / "lines.gz");
  ASSERT_TRUE(z);
  TStringSink sink;
  EXPECT_FALSE(z->ReadMember(0, sink, options, &error));
  EXPECT_EQ(error.code, ENOSPC);
  EXPECT_LE(sink.bytes.size(), options.outputLimit);
}

TEST(StreamReading, ACancelThroughTheProgressStopsThePass) {
  VANTREL_NEED_TOOL("tar");
  TempDir dir;
  MakeFiles(dir / "src", 40, 50000);
  const std::string archive = dir / "a.tar.gz";
  Sh("tar --sort=name -C " + Q(dir / "src") + " -czf " + Q(archive) + " .");
  auto a = OpenListed(archive);
  ASSERT_TRUE(a);
  TStreamArchive::TReadOptions options;
  options.progress = [](uint64_t done, uint64_t total) { return done < total / 3; };
  int called = 0;
  TArchiveError error;
  EXPECT_FALSE(a->ReadMembers({static_cast<uint32_t>(IndexOf(*a, FileName(39)))},
                              [&](uint32_t, TMemberData&) {
                                ++called;
                                return true;
                              },
                              options, &error));
  EXPECT_EQ(error.code, ECANCELED);
  EXPECT_EQ(called, 0);
}

}  // namespace
}  // namespace vantrel::test
