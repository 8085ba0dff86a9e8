// The file search walk and the wildcard masks it uses.
#include "tools/file_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/wait.h>

#include <map>

#include "platform/wildcard.h"
#include "tests/support/test_support.h"
#include "tools/archive_search.h"
#include "tools/content_match.h"

namespace vantrel::tools {
namespace {

using platform::MatchWildcard;
using test::MakeDir;
using test::TempDir;
using test::WriteFile;

// "*" any run, "?" one character, the rest itself and with case; "*.*"
// matches every name, with or without a dot; many stars stay fast.
TEST(Wildcard, StarQuestionAndLiterals) {
  const struct {
    const char *mask, *name;
    bool match;
  } cases[] = {
      {"*.txt", "a.txt", true}, {"*.txt", ".txt", true}, {"*.txt", "a.txt.bak", false},
      {"*.txt", "a.TXT", false}, {"a?c", "abc", true},   {"a?c", "ac", false},
      {"*a*b*", "xxaxxbxx", true}, {"", "", true},      {"", "a", false},
      {"*.*", "README", true},  {"*", "", true},         {"a*", "a*b", true},
      {"ab*", "ab", true},      {"a*b**", "ab", true},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchWildcard(c.mask, c.name), c.match) << c.mask << " / " << c.name;
  EXPECT_FALSE(MatchWildcard("*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}

std::vector<std::string> Find(const std::string& mask, const std::string& start) {
  std::vector<std::string> out;
  TFileSearch s;
  s.OnFound = [&](TFoundFile&& f) { out.push_back(f.Path()); };
  EXPECT_TRUE(s.Search(mask, start));
  return out;
}

// A directory's own matches come before its subdirectories'; directories
// are searched, never listed; a match carries its size and time; link loops
// end and linked directories are not entered.
TEST(FileSearch, OwnMatchesBeforeSubdirectoriesAndDirectoriesNeverListed) {
  TempDir tmp;
  for (const char* d : {"sub", "x.txt", "a/b"}) MakeDir(tmp / d);
  for (const char* f : {"sub/b.txt", "x.txt/inner.txt", "skip.dat", "a/b/hit.txt"}) WriteFile(tmp / f, "bb");
  WriteFile(tmp / "a.txt", std::string(1234, 'x'));
  test::SetMTime(tmp / "a.txt", 1600000000);
  ASSERT_EQ(symlink("..", (tmp / "a/b/up").c_str()), 0);
  ASSERT_EQ(symlink(tmp.path().c_str(), (tmp / "a/root").c_str()), 0);
  TFileSearch s;
  std::vector<TFoundFile> found;
  s.OnFound = [&](TFoundFile&& f) { found.push_back(std::move(f)); };
  ASSERT_TRUE(s.Search("*.txt", tmp.path()));
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].Directory, tmp.path() + "/");
  EXPECT_EQ(found[0].Name, "a.txt");
  EXPECT_EQ(found[0].Size, 1234u);
  EXPECT_EQ(found[0].LastWriteTime, platform::FileTimeFromUnix(1600000000, 0));
  std::vector<std::string> rest = {found[1].Path(), found[2].Path(), found[3].Path()};
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ(rest, (std::vector<std::string>{tmp / "a/b/hit.txt", tmp / "sub/b.txt", tmp / "x.txt/inner.txt"}));
}

// A missing start searches the current directory, a relative one starts
// there; the current directory is kept; a directory that cannot be entered
// is skipped (root enters every directory).
TEST(FileSearch, StartDirectoriesAndUnenterableDirectories) {
  TempDir tmp;
  WriteFile(tmp / "here.txt", "");
  MakeDir(tmp / "rel");
  WriteFile(tmp / "rel/r.txt", "");
  test::CurrentDirGuard guard;
  ASSERT_TRUE(platform::SetCurrentDir(tmp.path()));
  EXPECT_EQ(Find("here.txt", tmp / "does-not-exist"), std::vector<std::string>{tmp / "here.txt"});
  EXPECT_EQ(platform::GetCurrentDir(), tmp.path());
  EXPECT_EQ(Find("r.txt", "rel"), std::vector<std::string>{tmp / "rel/r.txt"});
  if (geteuid() == 0) return;
  ::chmod((tmp / "rel").c_str(), 0);
  EXPECT_EQ(Find("*.txt", tmp.path()), std::vector<std::string>{tmp / "here.txt"});
}

// Stop ends the search; from the root, paths have one separator.
TEST(FileSearch, StopEndsTheSearch) {
  TempDir tmp;
  for (int i = 0; i < 20; ++i) MakeDir(tmp / std::to_string(i)), WriteFile(tmp / std::to_string(i) + "/f.txt", "");
  TFileSearch s;
  int found = 0;
  s.OnFound = [&](TFoundFile&&) { ++found; };
  s.ShouldStop = [&] { return found >= 3; };
  EXPECT_FALSE(s.Search("*.txt", tmp.path()));
  EXPECT_EQ(found, 3);
  std::string first;
  s.OnFound = [&](TFoundFile&& f) { first = f.Path(); };
  s.ShouldStop = [&] { return !first.empty(); };
  s.Search("*", "/");
  EXPECT_TRUE(first.size() > 1 && first[0] == '/' && first[1] != '/') << first;
}

struct TOutcome {
  std::vector<std::string> found;  // paths relative to the start, sorted
  std::map<std::string, std::string> lines;
  std::vector<std::string> unreadable;  // relative, sorted
};

TOutcome SearchTree(const std::string& root, TSearchCriteria criteria,
                    std::vector<const TArchiveFormat*> formats = {}) {
  TOutcome out;
  TFileSearch s;
  s.ArchiveFormats = std::move(formats);
  auto relative = [&](const std::string& path) { return path.substr(root.size() + 1); };
  s.OnFound = [&](TFoundFile&& f) {
    out.found.push_back(relative(f.Path()));
    out.lines[relative(f.Path())] = f.Line;
  };
  s.OnUnreadable = [&](TUnreadable&& u) { out.unreadable.push_back(relative(u.Path) + ": " + u.Reason); };
  EXPECT_TRUE(s.Search(criteria, root));
  EXPECT_EQ(s.Counts().unreadable, out.unreadable.size());
  std::sort(out.found.begin(), out.found.end());
  std::sort(out.unreadable.begin(), out.unreadable.end());
  return out;
}

std::string Utf16LE(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) out += static_cast<char>(u & 0xFF), out += static_cast<char>(u >> 8);
  return out;
}

// Content, size and date limits together with the mask; the first matching
// line comes with each file.
TEST(FileSearch, ContentSizeAndDateLimits) {
  TempDir tmp;
  MakeDir(tmp / "sub");
  WriteFile(tmp / "a.txt", "first line\nsay Hello world\nlast");
  WriteFile(tmp / "b.bin", std::string("\0\x01", 2) + Utf16LE(u"hello there") + std::string(100, '\0'));
  WriteFile(tmp / "c.txt", "nothing here");
  WriteFile(tmp / "sub/d.txt", std::string(200000, '.') + "HELLO");  // beyond the first blocks
  WriteFile(tmp / "sub/e.log", "hello");
  test::SetMTime(tmp / "a.txt", 1500000000);
  test::SetMTime(tmp / "sub/e.log", 1700000000);

  TContentQuery query;
  query.text = "hello";
  auto matcher = TContentMatcher::Compile(query, nullptr);
  TSearchCriteria criteria;
  criteria.content = matcher.get();
  TOutcome r = SearchTree(tmp.path(), criteria);
  EXPECT_EQ(r.found, (std::vector<std::string>{"a.txt", "sub/d.txt", "sub/e.log"}));
  EXPECT_EQ(r.lines["a.txt"], "say Hello world");

  query.encodings = kEncUtf8 | kEncUtf16LE;
  auto both = TContentMatcher::Compile(query, nullptr);
  criteria.content = both.get();
  criteria.mask = "*.bin";
  EXPECT_EQ(SearchTree(tmp.path(), criteria).found, std::vector<std::string>{"b.bin"});

  criteria.mask = "*";
  criteria.minSize = 10;
  criteria.maxSize = 1000;
  EXPECT_EQ(SearchTree(tmp.path(), criteria).found, (std::vector<std::string>{"a.txt", "b.bin"}));
  criteria.minSize = 0;
  criteria.maxSize = UINT64_MAX;
  criteria.content = nullptr;
  criteria.modifiedFrom = platform::FileTimeFromUnix(1400000000, 0);
  criteria.modifiedTo = platform::FileTimeFromUnix(1600000000, 0);
  EXPECT_EQ(SearchTree(tmp.path(), criteria).found, std::vector<std::string>{"a.txt"});
}

// A name written decomposed (as macOS writes it) is found by a mask typed
// composed, and the other way round; bytes that are no UTF-8 match as bytes.
TEST(FileSearch, ComposedAndDecomposedNames) {
  TempDir tmp;
  WriteFile(tmp / "cafe\xCC\x81.txt", "");     // "café" decomposed
  WriteFile(tmp / "na\xC3\xAFve.txt", "");     // "naïve" composed
  WriteFile(tmp / "bad\xFF.txt", "");
  const struct {
    const char* mask;
    std::vector<std::string> found;
  } cases[] = {
      {"caf\xC3\xA9*", {"cafe\xCC\x81.txt"}},
      {"nai\xCC\x88ve.txt", {"na\xC3\xAFve.txt"}},
      {"bad\xFF*", {"bad\xFF.txt"}},
      {"CAF*", {}},
  };
  for (const auto& c : cases) {
    TSearchCriteria criteria;
    criteria.mask = c.mask;
    EXPECT_EQ(SearchTree(tmp.path(), criteria).found, c.found) << c.mask;
  }
}

// Reading for content leaves the access time as it was.
TEST(FileSearch, ContentSearchKeepsTheAccessTime) {
  TempDir tmp;
  WriteFile(tmp / "f.txt", "some text with a needle");
  const timespec times[2] = {{1000000000, 0}, {1600000000, 0}};  // accessed long before modified
  ASSERT_EQ(utimensat(AT_FDCWD, (tmp / "f.txt").c_str(), times, 0), 0);
  TContentQuery query;
  query.text = "needle";
  auto matcher = TContentMatcher::Compile(query, nullptr);
  TSearchCriteria criteria;
  criteria.content = matcher.get();
  EXPECT_EQ(SearchTree(tmp.path(), criteria).found, std::vector<std::string>{"f.txt"});
  struct stat st;
  ASSERT_EQ(stat((tmp / "f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_atime, 1000000000);
}

// Runs `work` as the user "nobody" in a child process (as root; as anyone
// else in this process) and returns what it returns.
std::string AsOrdinaryUser(const std::function<std::string()>& work) {
  if (geteuid() != 0) return work();
  int pipes[2];
  if (pipe(pipes) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(pipes[0]);
    std::string result = setgid(65534) == 0 && setuid(65534) == 0 ? work() : "cannot become nobody";
    if (write(pipes[1], result.data(), result.size()) < 0) _exit(2);
    _exit(0);
  }
  close(pipes[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; (n = read(pipes[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<size_t>(n));
  close(pipes[0]);
  waitpid(child, nullptr, 0);
  return result;
}

// Directories and files that cannot be read are reported with the reason
// and counted, and the search goes on past them.
TEST(FileSearch, UnreadableItemsAreReportedAndCounted) {
  TempDir tmp;
  MakeDir(tmp / "closed");
  MakeDir(tmp / "open");
  WriteFile(tmp / "closed/hidden.txt", "needle");
  WriteFile(tmp / "secret.txt", "needle");
  WriteFile(tmp / "open/plain.txt", "needle");
  ASSERT_EQ(symlink("does-not-exist", (tmp / "dangling.txt").c_str()), 0);
  ASSERT_EQ(chmod((tmp / "closed").c_str(), 0), 0);
  ASSERT_EQ(chmod((tmp / "secret.txt").c_str(), 0), 0);
  ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
  const std::string report = AsOrdinaryUser([&] {
    TContentQuery query;
    query.text = "needle";
    auto matcher = TContentMatcher::Compile(query, nullptr);
    TSearchCriteria criteria;
    criteria.content = matcher.get();
    const TOutcome r = SearchTree(tmp.path(), criteria);
    std::string out;
    for (const auto& f : r.found) out += "found " + f + "\n";
    for (const auto& u : r.unreadable) out += "unreadable " + u + "\n";
    return out;
  });
  EXPECT_EQ(report,
            "found open/plain.txt\n"
            "unreadable closed/: Permission denied\n"
            "unreadable dangling.txt: No such file or directory\n"
            "unreadable secret.txt: Permission denied\n");
  chmod((tmp / "closed").c_str(), 0755);
}


// Archives made by bsdtar and 7zz are searched like folders: their entries
// by name and by content, in one pass over a compressed stream; an archive
// that cannot be read is reported, not passed over; without "in archives"
// an archive is one file of bytes.
TEST(FileSearch, InsideArchivesOfOtherFormats) {
  TempDir tmp;
  MakeDir(tmp / "src/docs");
  WriteFile(tmp / "src/docs/a.txt", "alpha\nthe needle is here\n");
  WriteFile(tmp / "src/b.txt", "nothing to see");
  WriteFile(tmp / "src/big.log", std::string(300000, 'z') + "needle");
  MakeDir(tmp / "tree");
  auto run = [](const std::string& cmd) { return std::system(cmd.c_str()) == 0; };
  ASSERT_TRUE(run("cd '" + tmp / "src" + "' && bsdtar -czf '" + tmp / "tree/pack.tar.gz" + "' docs b.txt big.log"));
  const bool sevenZip = run("command -v 7zz >/dev/null");
  if (sevenZip) {
    ASSERT_TRUE(run("cd '" + tmp / "src" + "' && 7zz a -bso0 -bsp0 '" + tmp / "tree/pack.7z" + "' docs b.txt >/dev/null"));
  }
  WriteFile(tmp / "tree/broken.tar.xz", "\xFD" "7zXZ\0 then nothing that decodes");
  WriteFile(tmp / "tree/plain.txt", "a needle outside");

  TContentQuery query;
  query.text = "NEEDLE";
  auto matcher = TContentMatcher::Compile(query, nullptr);
  TSearchCriteria criteria;
  criteria.content = matcher.get();
  criteria.inArchives = true;
  const std::string root = tmp / "tree";
  TOutcome r = SearchTree(root, criteria, {&OtherArchiveFormat()});
  std::vector<std::string> expected = {"pack.tar.gz/big.log", "pack.tar.gz/docs/a.txt", "plain.txt"};
  if (sevenZip) expected.insert(expected.begin(), "pack.7z/docs/a.txt");
  EXPECT_EQ(r.found, expected);
  EXPECT_EQ(r.lines["pack.tar.gz/docs/a.txt"], "the needle is here");
  ASSERT_EQ(r.unreadable.size(), 1u);
  EXPECT_EQ(r.unreadable[0].rfind("broken.tar.xz: ", 0), 0u) << r.unreadable[0];

  // By name alone, with the archive's entry found as its own path; the
  // archive itself is a file that matches the mask too.
  criteria.content = nullptr;
  criteria.mask = "*.txt";
  r = SearchTree(root, criteria, {&OtherArchiveFormat()});
  EXPECT_NE(std::find(r.found.begin(), r.found.end(), "pack.tar.gz/b.txt"), r.found.end());
  EXPECT_NE(std::find(r.found.begin(), r.found.end(), "pack.tar.gz/docs/a.txt"), r.found.end());

  // Not in archives: the gzip-compressed bytes hold no needle (7-Zip may
  // leave so short a text readable), and no entry is found.
  criteria.mask = "*.gz";
  criteria.content = nullptr;
  criteria.inArchives = false;
  EXPECT_EQ(SearchTree(root, criteria, {&OtherArchiveFormat()}).found, std::vector<std::string>{"pack.tar.gz"});
  criteria.mask = "*";
  criteria.content = matcher.get();
  r = SearchTree(root, criteria, {&OtherArchiveFormat()});
  EXPECT_EQ(std::find(r.found.begin(), r.found.end(), "pack.tar.gz"), r.found.end());
  EXPECT_NE(std::find(r.found.begin(), r.found.end(), "plain.txt"), r.found.end());
}


// ZIP archives through the program's own engine, also under the names of
// the formats built on ZIP; an encrypted entry and a damaged archive are
// counted as unreadable with their reasons, never silently passed over.
TEST(FileSearch, InsideZipArchives) {
  TempDir tmp;
  MakeDir(tmp / "src/docs");
  WriteFile(tmp / "src/docs/a.txt", "alpha\nthe needle is here\n");
  WriteFile(tmp / "src/b.txt", "nothing to see");
  WriteFile(tmp / "src/big.log", std::string(300000, 'z') + "needle");
  WriteFile(tmp / "src/secret.txt", "a needle under a password");
  MakeDir(tmp / "tree");
  auto run = [](const std::string& cmd) { return std::system(cmd.c_str()) == 0; };
  ASSERT_TRUE(run("cd '" + tmp / "src" + "' && zip -qr '" + tmp / "tree/pack.zip" + "' docs b.txt big.log"));
  ASSERT_TRUE(run("cd '" + tmp / "src" + "' && zip -q '" + tmp / "tree/Book.EPUB" + "' docs/a.txt"));
  ASSERT_TRUE(run("cd '" + tmp / "src" + "' && zip -qP pw '" + tmp / "tree/locked.zip" + "' secret.txt"));
  WriteFile(tmp / "tree/broken.zip", "PK\x03\x04 and then nothing a reader can use");

  TContentQuery query;
  query.text = "NEEDLE";
  auto matcher = TContentMatcher::Compile(query, nullptr);
  TSearchCriteria criteria;
  criteria.content = matcher.get();
  criteria.inArchives = true;
  const std::string root = tmp / "tree";
  const std::vector<const TArchiveFormat*> formats = {&ZipArchiveFormat(), &OtherArchiveFormat()};
  TOutcome r = SearchTree(root, criteria, formats);
  EXPECT_EQ(r.found, (std::vector<std::string>{"Book.EPUB/docs/a.txt", "pack.zip/big.log", "pack.zip/docs/a.txt"}));
  EXPECT_EQ(r.lines["pack.zip/docs/a.txt"], "the needle is here");
  ASSERT_EQ(r.unreadable.size(), 2u) << ::testing::PrintToString(r.unreadable);
  std::sort(r.unreadable.begin(), r.unreadable.end());
  EXPECT_EQ(r.unreadable[0].rfind("broken.zip: ", 0), 0u) << r.unreadable[0];
  EXPECT_EQ(r.unreadable[1].rfind("locked.zip/secret.txt: ", 0), 0u) << r.unreadable[1];

  // By name: the entries are found by their own names, directories too.
  criteria.content = nullptr;
  criteria.mask = "a.txt";
  r = SearchTree(root, criteria, formats);
  EXPECT_EQ(r.found, (std::vector<std::string>{"Book.EPUB/docs/a.txt", "pack.zip/docs/a.txt"}));
}

}  // namespace
}  // namespace vantrel::tools
