// The operating system's side: file times, volumes, names and texts, entry
// details and permissions, creating and renaming without replacing, and
// starting programs without a shell.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "platform/copyfile.h"
#include "platform/file_details.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/rename.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Words = std::vector<std::string>;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Waits up to two seconds for a file a started program writes.
bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 200 && access(path.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return access(path.c_str(), F_OK) == 0;
}

TEST(FileTimes, UnixEpochRoundTripAndLocalTime) {
  EXPECT_EQ(FileTimeFromUnix(0, 0), kUnixEpochAsFileTime);
  EXPECT_EQ(FileTimeFromUnix(1, 500), kUnixEpochAsFileTime + 10000005);
  EXPECT_EQ(UnixSecondsFromFileTime(FileTimeFromUnix(1770105900, 0)), 1770105900);
  EXPECT_EQ(FileTimeFromUnix(-20000000000LL, 0), 0u);  // before 1601 clamps
  // Summer time in Europe/Berlin (the tests' zone): 2026-07-01T10:00:00Z is 12:00 local.
  const LocalTime lt = ToLocalTime(FileTimeFromUnix(1782900000, 0));
  EXPECT_EQ(std::vector<int>({lt.year, lt.month, lt.day, lt.hour}), std::vector<int>({2026, 7, 1, 12}));
  // A file's times, size and attributes; a dot name is no hidden file here.
  TempDir tmp;
  WriteFile(tmp / ".f", "abc");
  test::SetMTime(tmp / ".f", 1000000000);
  FindData fd;
  ASSERT_TRUE(StatPath(tmp / ".f", fd));
  EXPECT_EQ(fd.size, 3u);
  EXPECT_EQ(fd.lastWriteTime, FileTimeFromUnix(1000000000, 0));
  EXPECT_EQ(fd.attributes & (kAttrArchive | kAttrHidden | kAttrSystem | kAttrDirectory), kAttrArchive);
}

// A path belongs to the volume with the longest mount-point prefix.
// Every entry as one Next after another reports it.
std::map<std::string, std::tuple<uint32_t, uint64_t, FileTime>> OneByOne(const std::string& dir) {
  std::map<std::string, std::tuple<uint32_t, uint64_t, FileTime>> out;
  TDirReader reader;
  EXPECT_TRUE(reader.Open(dir));
  FindData fd;
  while (reader.Next(fd)) out[fd.name] = {fd.attributes, fd.size, fd.lastWriteTime};
  return out;
}

// Names read in batches and examined on several threads report what one
// entry at a time does: links to directories, dangling links, read-only
// files, sizes, times.
TEST(DirReaderBatches, ExaminedOnThreadsAsOneByOne) {
  TempDir tmp;
  for (int i = 0; i < 700; ++i) WriteFile(tmp / test::Numbered("f", i), std::string(static_cast<size_t>(i % 37), 'x'));
  test::MakeDir(tmp / "sub");
  ASSERT_EQ(symlink("sub", (tmp / "to-sub").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (tmp / "dangling").c_str()), 0);
  ASSERT_EQ(chmod((tmp / "f5").c_str(), 0444), 0);
  test::SetMTime(tmp / "f6", 1000000000);
  auto expected = OneByOne(tmp.path());
  ASSERT_EQ(expected.size(), 705u);  // with "." and ".."
  // ".." is the shared temporary directory, whose time moves while other
  // tests run beside this one.
  expected.erase("..");
  const std::pair<size_t, int> cases[] = {{1, 1}, {64, 2}, {100, 4}, {5000, 3}, {4096, 16}};
  for (const auto& [most, threads] : cases) {
    SCOPED_TRACE(std::to_string(most) + " at a time on " + std::to_string(threads) + " threads");
    TDirReader reader;
    ASSERT_TRUE(reader.Open(tmp.path()));
    std::vector<FindData> all, batch;
    int batches = 0;
    while (reader.NextNames(batch, most)) {
      EXPECT_LE(batch.size(), most);
      ++batches;
      for (FindData& fd : batch) {
        EXPECT_EQ(fd.size, 0u) << "not examined yet";
        all.push_back(std::move(fd));
      }
    }
    EXPECT_TRUE(batch.empty());
    EXPECT_EQ(static_cast<size_t>(batches), (all.size() + most - 1) / most);
    std::atomic<size_t> next{0};
    std::vector<std::thread> examiners;
    for (int t = 0; t < threads; ++t)
      examiners.emplace_back([&] {
        for (size_t i = next++; i < all.size(); i = next++) EXPECT_TRUE(reader.Examine(all[i])) << all[i].name;
      });
    for (std::thread& t : examiners) t.join();
    std::map<std::string, std::tuple<uint32_t, uint64_t, FileTime>> got;
    for (const FindData& fd : all) got[fd.name] = {fd.attributes, fd.size, fd.lastWriteTime};
    EXPECT_EQ(got.erase(".."), 1u);
    EXPECT_EQ(got, expected);
  }
}

// Names listed and deleted before they are examined are left out instead
// of being reported with made-up details; the listing's own word on
// directories and files stays for what cannot be examined.
TEST(DirReaderBatches, EntriesThatVanishAreLeftOut) {
  TempDir tmp;
  for (int i = 0; i < 300; ++i) WriteFile(tmp / test::Numbered("g", i), "y");
  test::MakeDir(tmp / "d");
  TDirReader reader;
  ASSERT_TRUE(reader.Open(tmp.path()));
  std::vector<FindData> all, batch;
  while (reader.NextNames(batch, 64))
    for (FindData& fd : batch) all.push_back(std::move(fd));
  ASSERT_EQ(all.size(), 303u);
  int kept = 0;
  for (FindData& fd : all) {
    if (fd.name == "d") {
      EXPECT_EQ(fd.attributes, platform::kAttrDirectory) << "as listed";
    }
    const bool gone = fd.name[0] == 'g' && std::stoi(fd.name.substr(1)) % 3 == 0;
    if (gone) {
      ASSERT_EQ(unlink((tmp / fd.name).c_str()), 0);
    }
    if (reader.Examine(fd)) {
      ++kept;
      EXPECT_FALSE(gone) << fd.name << " was deleted";
    }
  }
  EXPECT_EQ(kept, 303 - 100);
}

// How many of the file's pages are in the page cache.
size_t CachedPages(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) return fd >= 0 ? (close(fd), 0) : 0;
  void* map = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return 0;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((static_cast<size_t>(st.st_size) + page - 1) / page);
  size_t cached = 0;
  if (mincore(map, static_cast<size_t>(st.st_size), resident.data()) == 0)
    for (unsigned char r : resident) cached += r & 1;
  munmap(map, static_cast<size_t>(st.st_size));
  return cached;
}

// Reading ahead is a request that never waits: a FIFO nobody writes, a
// directory or a missing name return at once; a file put out of the page
// cache comes back into it.
TEST(ReadAhead, AsksForTheFileWithoutWaiting) {
  TempDir dir;
  const std::string file = dir.path() + "/data", fifo = dir.path() + "/fifo";
  WriteFile(file, std::string(4 << 20, 'r'));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, dir.path(), dir.path() + "/missing"}) {
    const auto start = std::chrono::steady_clock::now();
    ReadAheadFile(path, 1 << 20);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << path;
  }
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fdatasync(fd), 0);  // only clean pages can be dropped
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
  if (CachedPages(file) > 0) GTEST_SKIP() << "the file system keeps the pages cached";
  ReadAheadFile(file, 2 << 20);
  const size_t wanted = (2 << 20) / static_cast<size_t>(sysconf(_SC_PAGESIZE));
  for (int i = 0; i < 300 && CachedPages(file) < wanted; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(CachedPages(file), wanted);
}

// A file longer than the copy's read-ahead window copies whole and in order
// (the window moves along with the copy, up to the end and not beyond it).
TEST(ReadAhead, CopyBeyondTheWindowIsExact) {
  TempDir dir;
  // Every 4 KiB block numbered: a block out of place shows.
  std::string data(kReadAheadWindow + kReadAheadWindow / 2 + 12345, 'x');
  for (size_t at = 0; at + 8 <= data.size(); at += 4096) std::memcpy(&data[at], &at, sizeof at);
  WriteFile(dir.path() + "/big", data);
  uint64_t last = 0;
  bool ordered = true;
  const CopyResult result = CopyRegularFile(dir.path() + "/big", dir.path() + "/copy", false, [&](uint64_t done) {
    ordered = ordered && done > last;
    last = done;
    return true;
  });
  ASSERT_EQ(result.status, CopyStatus::Done);
  EXPECT_TRUE(ordered);
  EXPECT_EQ(last, data.size());
  EXPECT_TRUE(ReadFile(dir.path() + "/copy") == data);
}

TEST(Paths, VolumesAndJoin) {
  const std::vector<Volume> fake = {{"/", "", "", ""}, {"/media/usb", "", "", ""}, {"/media/usb2", "", "", ""}};
  EXPECT_EQ(Words({MountPointOf("/media/usb/docs", fake), MountPointOf("/media/usb2", fake),
                   MountPointOf("/media/usb22/x", fake), MountPointOf("/home", fake)}),
            Words({"/media/usb", "/media/usb2", "/", "/"}));
  EXPECT_EQ(Words({JoinPath("/", "a"), JoinPath("/x/", "a"), JoinPath("/x", "a")}), Words({"/a", "/x/a", "/x/a"}));
}

// Thousands separators; names compare without case (the sort keys are
// checked by the panel's sort orders); display names replace invalid bytes only (an overlong "/"
// among them); names for a terminal get escapes, names for a window visible
// symbols, and text without control characters passes unchanged.
TEST(Text, NumbersCollationAndNames) {
  const std::pair<uint64_t, const char*> thousands[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"},
      {18446744073709551615ULL, "18,446,744,073,709,551,615"}};
  for (const auto& [value, text] : thousands) EXPECT_EQ(FormatThousands(value), text);
  EXPECT_EQ(Words({FormatFixed(1234.564, 2), FormatFixed(0.0, 2)}), Words({"1,234.56", "0.00"}));
  EXPECT_TRUE(CompareNames("README", "readme") == 0 && CompareNames("apple", "Banana") < 0 &&
              CompareNames("b", "A") > 0);
  EXPECT_TRUE(CompareNoCaseAscii(".TXT", ".txt") == 0 && CompareNoCaseAscii("", ".bat") < 0);
  struct Case {
    std::string name, display, terminal, visible;
  } cases[] = {
      {"gr\xC3\xBC\xC3\x9F.txt", "gr\xC3\xBC\xC3\x9F.txt", "gr\xC3\xBC\xC3\x9F.txt", "gr\xC3\xBC\xC3\x9F.txt"},
      {"a\x1B[2Jb", "a\x1B[2Jb", "a\\033[2Jb", "a\xE2\x90\x9B[2Jb"},
      {std::string("x\0\n\r\t\a", 6), std::string("x\0\n\r\t\a", 6), "x\\x00\\n\\r\\t\\a",
       "x\xE2\x90\x80\xE2\x90\x8A\xE2\x90\x8D\xE2\x90\x89\xE2\x90\x87"},
      {"del\x7F csi\xC2\x9B", "del\x7F csi\xC2\x9B", "del\\x7f csi\\u009b", "del\xE2\x90\xA1 csi\xEF\xBF\xBD"},
      {"caf\xE9", "caf\xEF\xBF\xBD", "caf\\xe9", "caf\xEF\xBF\xBD"},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", "\\xc0\\xaf", "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Words({DisplayName(c.name), TerminalName(c.name), VisibleName(c.name)}),
              Words({c.display, c.terminal, c.visible}));
}

// Permission texts; a read-only file's permissions change; a link is
// examined but never changed, nor is a file swapped for a link after it was
// examined.
TEST(FileDetails, PermissionsChangeOnTheEntryItselfOnly) {
  const std::pair<uint32_t, const char*> texts[] = {{0644, "rw-r--r--"}, {0755, "rwxr-xr-x"}, {04755, "rwsr-xr-x"},
                                                    {02644, "rw-r-Sr--"}, {01777, "rwxrwxrwt"}, {0, "---------"}};
  for (const auto& [mode, text] : texts) EXPECT_EQ(PermissionText(mode), text) << std::oct << mode;
  TempDir tmp;
  const std::string file = tmp / "ro.txt", target = tmp / "target", link = tmp / "link";
  WriteFile(file, "12345");
  chmod(file.c_str(), 0444);
  FileDetails d;
  ASSERT_TRUE(GetFileDetails(file, d));
  EXPECT_EQ(std::make_tuple(d.mode & 07777, d.size, d.isLink, CanChangePermissions(d)),
            std::make_tuple(0444u, uint64_t{5}, false, true));
  ASSERT_TRUE(SetPermissions(file, 0644, d));
  EXPECT_EQ(ModeOf(file), 0644u);

  WriteFile(target, "x");
  chmod(target.c_str(), 0600);
  ASSERT_EQ(symlink("target", link.c_str()), 0);
  ASSERT_TRUE(GetFileDetails(link, d));
  EXPECT_EQ(std::make_tuple(d.isLink, d.linkTarget, CanChangePermissions(d)), std::make_tuple(true, "target", false));
  std::string error;
  EXPECT_FALSE(SetPermissions(link, 0777, d, &error));
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(GetFileDetails(file, d));
  unlink(file.c_str());
  ASSERT_EQ(symlink("target", file.c_str()), 0);
  EXPECT_FALSE(SetPermissions(file, 0777, d));
  EXPECT_EQ(ModeOf(target), 0600u);
}

// A tree's totals count hard links once and never follow links; a FIFO's
// head is never read.
TEST(FileDetails, MeasureTreeAndReadFileHead) {
  TempDir tmp;
  test::MakeDir(tmp / "d/sub/deeper");
  WriteFile(tmp / "d/a", std::string(100, 'a'));
  WriteFile(tmp / "d/sub/b", std::string(20, 'b'));
  WriteFile(tmp / "d/sub/deeper/c", std::string(3, 'c'));
  ASSERT_EQ(link((tmp / "d/a").c_str(), (tmp / "d/sub/a2").c_str()), 0);
  ASSERT_EQ(symlink("/usr", (tmp / "d/usr").c_str()), 0);
  std::atomic<bool> stop{false};
  int reports = 0;
  const TreeTotals t = MeasureTree(tmp / "d", stop, [&](const TreeTotals&) { ++reports; });
  // a, a2, b, c and the link itself; a once, the link's own size.
  EXPECT_EQ(std::vector<uint64_t>({t.directories, t.files, t.bytes}), std::vector<uint64_t>({2, 5, 100 + 20 + 3 + 4}));
  EXPECT_GE(reports, 1);
  stop = true;
  EXPECT_EQ(MeasureTree(tmp / "d", stop).files, 0u);
  ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadFileHead(tmp / "fifo", 10), "");
  EXPECT_EQ(ReadFileHead(tmp / "d/a", 5), "aaaaa");
}

// A new empty file or one directory level is made, files and directories
// are renamed, also into another directory; nothing existing is replaced
// (not even an empty directory, which a plain rename would replace) and no
// missing parent is made.
TEST(RenameNoReplace, CreatesAndRenamesButNeverReplaces) {
  TempDir tmp;
  WriteFile(tmp / "b", "B");
  EXPECT_EQ(std::vector<int>({CreateNewFile(tmp / "a"), CreateNewFile(tmp / "b"), MakeDirectory(tmp / "dir"),
                              MakeDirectory(tmp / "dir"), MakeDirectory(tmp / "x/y")}),
            std::vector<int>({0, EEXIST, 0, EEXIST, ENOENT}));
  EXPECT_TRUE(CreateNewFile("") != 0 && CreateNewFile(tmp / "missing/c.txt") != 0);
  test::MakeDir(tmp / "dir/inner");
  test::MakeDir(tmp / "d2");
  EXPECT_EQ(std::vector<int>({RenameNoReplace(tmp / "a", tmp / "b"), RenameNoReplace(tmp / "dir", tmp / "d2"),
                              RenameNoReplace(tmp / "missing", tmp / "c")}),
            std::vector<int>({EEXIST, EEXIST, ENOENT}));
  EXPECT_EQ(ReadFile(tmp / "a") + ReadFile(tmp / "b"), "B");
  EXPECT_EQ(RenameNoReplace(tmp / "b", tmp / "d2/b2") + RenameNoReplace(tmp / "dir", tmp / "dir2"), 0);
  EXPECT_EQ(ReadFile(tmp / "d2/b2"), "B");
  EXPECT_TRUE(ModeOf(tmp / "dir2/inner") != 0 && ModeOf(tmp / "x") == 0);
}

// Nested names make every missing level; existing levels are used, also
// through a link; the error says what stood in the way.
TEST(MakeDirectoryPath, MakesEveryMissingLevel) {
  TempDir tmp;
  WriteFile(tmp / "file", "x");
  test::MakeDir(tmp / "real");
  ASSERT_EQ(symlink("real", (tmp / "link").c_str()), 0);
  const struct {
    std::string name;
    int error;
    const char* made;  // a directory that must exist afterwards, or ""
  } cases[] = {
      {tmp / "a/b/c", 0, "a/b/c"},     {tmp / "a/b/c", EEXIST, ""},   {tmp / "a/b/c/", EEXIST, ""},
      {tmp / "a//d/", 0, "a/d"},        {tmp / "file/x", ENOTDIR, ""}, {tmp / "file", EEXIST, ""},
      {tmp / "link/new/deeper", 0, "real/new/deeper"},                {"", ENOENT, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MakeDirectoryPath(c.name), c.error) << c.name;
    if (*c.made) { EXPECT_EQ(ModeOf(tmp / c.made) & 0700, 0700u) << c.name; }
  }
  if (geteuid() != 0) {  // root may write anywhere
    test::MakeDir(tmp / "ro");
    chmod((tmp / "ro").c_str(), 0555);
    EXPECT_EQ(MakeDirectoryPath(tmp / "ro/x/y"), EACCES);
    chmod((tmp / "ro").c_str(), 0755);
  }
}

// The entry's own name, however its directory is spelled, is the same entry;
// another name, another directory or a hard link is not.
TEST(SameEntryName, SpellingsOfOneDirectoryEntry) {
  TempDir tmp;
  test::MakeDir(tmp / "d");
  WriteFile(tmp / "d/x", "x");
  ASSERT_EQ(link((tmp / "d/x").c_str(), (tmp / "d/y").c_str()), 0);
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {
      {tmp / "d/x", tmp / "d/x", true},       {tmp / "d/x", tmp / "d/./x", true},
      {tmp / "d/x", tmp / "d/../d/x", true},  {tmp / "d", tmp / "d/", true},
      {tmp / "d/x", tmp / "d/X", false},      {tmp / "d/x", tmp / "d/y", false},
      {tmp / "d/x", tmp / "x", false},        {tmp / "d/new", tmp / "d/./new", true},
      {"", "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(SameEntryName(c.a, c.b), c.same) << c.a << " / " << c.b;
}

// /dev/shm is a separate tmpfs on most Linux systems; when it is on the same
// volume as the temporary directory, the cross-volume path is not reached and
// the test only checks the plain move.
TEST(RenameNoReplace, FileCrossesVolumesDirectoryDoesNot) {
  struct stat shm, tmpst;
  TempDir tmp;
  if (stat("/dev/shm", &shm) != 0 || access("/dev/shm", W_OK) != 0) GTEST_SKIP() << "no /dev/shm";
  stat(tmp.path().c_str(), &tmpst);
  const std::string other = "/dev/shm/vantrel-rename-" + std::to_string(getpid());
  unlink(other.c_str());
  WriteFile(tmp / "f", "payload");
  chmod((tmp / "f").c_str(), 0640);
  ASSERT_EQ(RenameNoReplace(tmp / "f", other), 0);
  EXPECT_EQ(ReadFile(other), "payload");
  EXPECT_EQ(std::make_pair(ModeOf(tmp / "f"), ModeOf(other)), std::make_pair(mode_t{0}, mode_t{0640}));
  unlink(other.c_str());
  if (shm.st_dev != tmpst.st_dev) {
    test::MakeDir(tmp / "d");
    EXPECT_EQ(RenameNoReplace(tmp / "d", other + "-d"), EXDEV);
    EXPECT_NE(ModeOf(tmp / "d"), 0u);
  }
}

// Blanks separate, quotes group; backslashes are literal unless quotes follow
// them: an odd count makes a literal quote, an even one a quote that groups.
TEST(Process, SplitCommandLine) {
  const std::pair<const char*, Words> cases[] = {
      {"vi", {"vi"}}, {"  vi  -R\tfile ", {"vi", "-R", "file"}},
      {"\"/opt/my editor/ed\" -x", {"/opt/my editor/ed", "-x"}},
      {"a\"b c\"d", {"ab cd"}}, {"\"\"", {""}}, {"", {}}, {R"(a\\b)", {R"(a\\b)"}}, {R"(a\"b)", {R"(a"b)"}},
      {R"("a\\" b)", {R"(a\)", "b"}}, {R"("say ""hi""")", {R"(say "hi")"}}};
  for (const auto& [line, words] : cases) EXPECT_EQ(SplitCommandLine(line), words) << line;
}

// Programs are found on PATH when executable; a started program gets the
// name as one word, without a shell; a shell command runs in the given
// directory.
TEST(Process, FindAndStartPrograms) {
  TempDir tmp;
  WriteFile(tmp / "plain", "data");
  chmod((tmp / "plain").c_str(), 0644);
  EXPECT_FALSE(FindProgram("sh").empty());
  for (const std::string& none : {std::string("no-such-program-vantrel"), tmp / "plain", tmp.path(), std::string()})
    EXPECT_EQ(FindProgram(none), "") << none;
  const std::string editor = DefaultEditor();
  EXPECT_TRUE(editor == "xdg-open" || !FindProgram(editor).empty()) << editor;

  const std::string script = tmp / "record.sh";
  WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$0.out.tmp\"\nmv \"$0.out.tmp\" \"$0.out\"\n");
  chmod(script.c_str(), 0755);
  const std::string name = "my notes; $(touch pwned) 'x'.txt";
  std::string error;
  ASSERT_TRUE(StartCommand("\"" + script + "\" -R", {name}, tmp.path(), &error)) << error;
  ASSERT_TRUE(WaitForFile(script + ".out"));
  EXPECT_EQ(ReadFile(script + ".out"), "2\n-R\n" + name + "\n");
  EXPECT_NE(access((tmp / "pwned").c_str(), F_OK), 0);
  EXPECT_FALSE(StartCommand("no-such-viewer-vantrel", {"x"}, {}, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(StartCommand("", {}, {}, &error));
  ASSERT_TRUE(StartShellCommand("echo hello | tr a-z A-Z > out.tmp && mv out.tmp out", tmp.path()));
  ASSERT_TRUE(WaitForFile(tmp / "out"));
  EXPECT_EQ(ReadFile(tmp / "out"), "HELLO\n");
}

}  // namespace
}  // namespace vantrel::platform
