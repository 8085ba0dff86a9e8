// UnZip: selection, events and progress, overwrite rules, passwords, damaged
// and unsupported entries, size limits, cancellation and the destination's safety.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <memory>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_reader.h"

namespace vantrel::zip {
namespace {

using testing::BuildZip;
using testing::TEntrySpec;

// Records what the engine asks the user.
struct RecordingUI : TZipUserInterface {
  void ShowMessage(const std::string& text, const std::string& caption) override {
    messages.push_back(caption + "|" + text);
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    questions.push_back(caption + "|" + text);
    return answer;
  }
  std::vector<std::string> messages, questions;
  bool answer = false;
};

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

constexpr uint32_t kJuly2020 = (40u << 25) | (7u << 21) | (1u << 16) | (12u << 11);  // 12:00 local
constexpr int64_t kJuly2020Time = 1593597600;

class ZipExtractTest : public ::testing::Test {
 protected:
  // A reader over the entries with every entry chosen and every event logged
  // as one line ("skip REASON INDEX NAME", "error INDEX MESSAGE", ...).
  TZipReader& Reader(const std::vector<TEntrySpec>& entries, TZipUserInterface* ui = nullptr) {
    return Reader(BuildZip(entries), ui);
  }
  TZipReader& Reader(const std::string& zip, TZipUserInterface* ui = nullptr) {
    test::WriteFile(tmp_ / "a.zip", zip);
    r_ = std::make_unique<TZipReader>(ui);
    TZipReader& r = *r_;
    r.SetZipName(tmp_ / "a.zip");
    r.SetDestDir(dest_);
    r.DoAll = true;
    auto log = [this](std::string line) { lines_.push_back(std::move(line)); };
    r.OnStartUnZipInfo = [=](TZipReader*, int n, int64_t total, bool&) {
      log("info " + std::to_string(n) + " " + std::to_string(total));
    };
    r.OnStartUnZip = [=](TZipReader*, int i, std::string& name, bool&) { log("start " + std::to_string(i) + " " + name); };
    r.OnSkippingFile = [=](TZipReader*, TSkipReason why, const std::string& name, int i, bool&) {
      log("skip " + std::to_string(why) + " " + std::to_string(i) + " " + name);
    };
    r.OnBadCRC = [=](TZipReader*, int32_t, int32_t, int i) { log("badcrc " + std::to_string(i)); };
    r.OnEntryError = [=](TZipReader*, int i, const std::string& m) { log("error " + std::to_string(i) + " " + m); };
    r.OnEndUnZip = [=](TZipReader*, int i, const std::string& name) { log("end " + std::to_string(i) + " " + name); };
    r.OnUnZipComplete = [=](TZipReader*, int n) { log("complete " + std::to_string(n)); };
    r.OnFilePercentDone = [this](TZipReader*, int p) { file_.push_back(p); };
    r.OnTotalPercentDone = [this](TZipReader*, int p) { total_.push_back(p); };
    return r;
  }
  bool Logged(const std::string& line) const { return std::find(lines_.begin(), lines_.end(), line) != lines_.end(); }
  std::string Dest(const std::string& name) const { return dest_ + "/" + name; }
  void Existing(const std::string& name, const std::string& contents) {
    test::MakeDir(dest_);
    test::WriteFile(Dest(name), contents);
  }
  int TempFilesLeft() const {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dest_))
      n += e.path().filename().string().rfind(".vantrel-", 0) == 0;
    return n;
  }

  test::TempDir tmp_;
  std::string dest_ = tmp_ / "out";
  std::unique_ptr<TZipReader> r_;
  std::vector<std::string> lines_;
  std::vector<int> file_, total_;
};

TEST_F(ZipExtractTest, MasksSelectAcrossDirectoriesAndNothingChosenRunsEmpty) {
  TZipReader& r = Reader({{"readme.txt", "1"}, {"docs/readme.txt", "22"}, {"a.c", "333"}});
  r.DoAll = false;
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_EQ(lines_, (std::vector<std::string>{"info 0 0", "complete 0"}));
  r.RecreateDirs = true;
  r.AddFile("*.TXT");
  r.OnStartUnZip = [](TZipReader*, int i, std::string&, bool& skip) { skip = i == 0; };  // as the program chooses
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_TRUE(Logged("info 2 3"));
  EXPECT_EQ(test::ReadFile(Dest("docs/readme.txt")), "22");
  EXPECT_FALSE(Exists(Dest("readme.txt")) || Exists(Dest("a.c")));
  EXPECT_TRUE(r.FilesList().empty());
}

TEST_F(ZipExtractTest, EventsAndProgressPerBlock) {
  TEntrySpec b{"b.bin", std::string(40000, 'b')}, emptyDeflated{"e.txt", ""};
  b.method = emptyDeflated.method = 8;
  TZipReader& r = Reader({{"d/", ""}, {"a.bin", std::string(40000, 'a')}, b, emptyDeflated});
  r.RecreateDirs = true;
  EXPECT_EQ(r.UnZip(), 4);  // the directory entry counts, the info's file count does not include it
  EXPECT_EQ(lines_, (std::vector<std::string>{"info 3 80000", "start 1 " + Dest("a.bin"), "end 1 " + Dest("a.bin"),
                                              "start 2 " + Dest("b.bin"), "end 2 " + Dest("b.bin"),
                                              "start 3 " + Dest("e.txt"), "end 3 " + Dest("e.txt"), "complete 4"}));
  // 32768/40000 = 81.92%; totals 40.96, 50, 90.96, 100 (half rounds to even); no bytes, no progress.
  EXPECT_EQ(file_, (std::vector<int>{82, 100, 82, 100}));
  EXPECT_EQ(total_, (std::vector<int>{41, 50, 91, 100}));
  EXPECT_EQ(test::ReadFile(Dest("b.bin")), b.data);
  EXPECT_EQ(test::ReadFile(Dest("e.txt")), "");
  EXPECT_TRUE(std::filesystem::is_directory(Dest("d")));
}

TEST_F(ZipExtractTest, NeverOverwriteSkipsAndSameNamesWithoutDirectoriesMeetTheRule) {
  TZipReader& r = Reader({{"one", std::string(1000, '1')}, {"a/x.txt", "first"}, {"b/x.txt", "second"}, {"two", "2"}});
  r.OverwriteMode = TUZOverwriteMode::Never;
  Existing("one", "keep me");
  EXPECT_EQ(r.UnZip(), 2);
  EXPECT_TRUE(Logged("skip 1 0 " + Dest("one")));
  EXPECT_TRUE(Logged("skip 1 2 " + Dest("x.txt")));
  EXPECT_EQ(total_.back(), 100);
  EXPECT_EQ(test::ReadFile(Dest("one")), "keep me");
  EXPECT_EQ(test::ReadFile(Dest("x.txt")), "first");
  EXPECT_FALSE(Exists(Dest("a")));
}

TEST_F(ZipExtractTest, NothingIsWrittenOutsideTheDestination) {
  TZipReader& r = Reader({{"../evil1.txt", "1"}, {"sub/../../evil2.txt", "2"}, {"/tmp/evil3.txt", "3"},
                          {"..\\evil4.txt", "4"}, {"C:\\tmp\\f.txt", "5"}, {"a/..", "6"}, {"../", ""}});
  r.RecreateDirs = true;
  EXPECT_EQ(r.UnZip(), 5);
  for (const auto& [file, contents] : std::vector<std::pair<std::string, std::string>>{
           {"evil1.txt", "1"}, {"sub/evil2.txt", "2"}, {"tmp/evil3.txt", "3"}, {"evil4.txt", "4"}, {"tmp/f.txt", "5"}})
    EXPECT_EQ(test::ReadFile(Dest(file)), contents);
  EXPECT_FALSE(Exists(tmp_ / "evil1.txt"));
  EXPECT_FALSE(Exists(tmp_ / "evil2.txt"));
  // "a/.." and "../" name nothing below the destination.
  EXPECT_TRUE(Logged("skip 3 5 " + Dest("a/")));
  EXPECT_TRUE(Logged("skip 3 6 " + Dest("")));
}

TEST_F(ZipExtractTest, SymbolicLinksInTheDestinationAreNotFollowed) {
  const std::string outside = tmp_ / "outside";
  test::MakeDir(outside);
  test::MakeDir(dest_);
  test::WriteFile(outside + "/victim.txt", "precious");
  ASSERT_EQ(::symlink(outside.c_str(), Dest("link").c_str()), 0);
  ASSERT_EQ(::symlink((outside + "/victim.txt").c_str(), Dest("f.txt").c_str()), 0);
  TZipReader& r = Reader({{"link/evil.txt", "evil"}, {"f.txt", "new"}});
  r.RecreateDirs = true;
  r.OverwriteMode = TUZOverwriteMode::Always;
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_TRUE(Logged("skip 3 0 " + Dest("link/evil.txt")));
  EXPECT_FALSE(Exists(outside + "/evil.txt"));
  // The link itself is replaced; its target is untouched.
  EXPECT_EQ(test::ReadFile(outside + "/victim.txt"), "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(Dest("f.txt")));
  EXPECT_EQ(test::ReadFile(Dest("f.txt")), "new");
}

TEST_F(ZipExtractTest, FilesLandInTheirDirectoriesWhateverTheOrder) {
  // Directories are kept open from one entry to the next: interleaved,
  // nested, and deeper than the levels held open.
  std::string deep, deeper;
  for (int i = 0; i < 70; ++i) deep += "d/";
  deeper = deep.substr(0, 2 * 66) + "e/";
  const std::vector<TEntrySpec> entries = {
      {"x/a", "1"},       {"y/b", "2"},       {"x/c", "3"},        {"x/s/t/d", "4"}, {"x/e", "5"},
      {deep + "f", "6"},  {deep + "g", "7"},  {deeper + "h", "8"}, {deep + "i", "9"}, {"top", "10"}};
  TZipReader& r = Reader(entries);
  r.RecreateDirs = true;
  EXPECT_EQ(r.UnZip(), static_cast<int>(entries.size()));
  for (const TEntrySpec& e : entries) EXPECT_EQ(test::ReadFile(Dest(e.name)), e.data) << e.name;
}

// In a directory the run makes, a name is not looked up before its first
// file is made; an earlier entry of the run under that name is still met as
// an existing file or directory, on one thread and on several.
TEST_F(ZipExtractTest, EntriesMeetWhatEarlierEntriesMadeInNewDirectories) {
  struct TCase {
    const char* name;
    std::vector<TEntrySpec> entries;
    TUZOverwriteMode mode;
    std::vector<std::pair<std::string, std::string>> files;  // expected contents
    std::vector<std::string> logged;                         // among the events
  };
  const std::vector<TCase> cases = {
      {"a name twice, never overwritten",
       {{"n/same", "first"}, {"n/other", "o"}, {"n/same", "second"}},
       TUZOverwriteMode::Never,
       {{"n/same", "first"}, {"n/other", "o"}},
       {"skip 1 2 DEST/n/same"}},
      {"a name twice, always overwritten",
       {{"n/same", "first"}, {"n/same", "second"}},
       TUZOverwriteMode::Always,
       {{"n/same", "second"}},
       {"end 1 DEST/n/same"}},
      {"a file where a directory entry made a directory",
       {{"n/d/", ""}, {"n/d", "file"}, {"n/f", "f"}},
       TUZOverwriteMode::Always,
       {{"n/f", "f"}},
       {"skip 3 1 DEST/n/d"}},
      {"a file where a later entry's directory was made",
       {{"n/d/inner", "in"}, {"n/d", "file"}},
       TUZOverwriteMode::Always,
       {{"n/d/inner", "in"}},
       {"skip 3 1 DEST/n/d"}},
  };
  for (int threads : {1, 2}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
      std::filesystem::remove_all(dest_);
      lines_.clear();
      TZipReader& r = Reader(c.entries);
      r.RecreateDirs = true;
      r.OverwriteMode = c.mode;
      r.Threads = threads;
      r.UnZip();
      for (const auto& [name, contents] : c.files) EXPECT_EQ(test::ReadFile(Dest(name)), contents) << name;
      for (std::string line : c.logged) {
        line.replace(line.find("DEST"), 4, dest_);
        EXPECT_TRUE(Logged(line)) << line;
      }
      EXPECT_EQ(TempFilesLeft(), 0);
    }
  }
}

TEST_F(ZipExtractTest, ADirectoryRemovedDuringTheRunIsWalkedAgain) {
  // After the first file the user removes its directory (or puts a link to
  // another place there): the next files of that directory go to a new one,
  // never through the link.
  const std::string outside = tmp_ / "outside";
  test::MakeDir(outside);
  for (bool link : {false, true}) {
    SCOPED_TRACE(link);
    std::filesystem::remove_all(dest_);
    TZipReader& r = Reader({{"d/s/a", "1"}, {"d/s/b", "2"}, {"d/c", "3"}});
    r.RecreateDirs = true;
    r.OnEndUnZip = [&](TZipReader*, int index, const std::string&) {
      if (index != 0) return;
      std::filesystem::remove_all(Dest("d"));
      ASSERT_TRUE(!link || ::symlink(outside.c_str(), Dest("d").c_str()) == 0);
    };
    EXPECT_EQ(r.UnZip(), link ? 1 : 3);
    EXPECT_EQ(Exists(Dest("d/s/b")), !link);
    EXPECT_EQ(Exists(Dest("d/c")), !link);
    EXPECT_TRUE(std::filesystem::is_empty(outside));
  }
}

TEST_F(ZipExtractTest, PromptModeAsksTheUser) {
  RecordingUI ui;
  TZipReader& r = Reader({{"dir/f.txt", "new"}}, &ui);
  Existing("f.txt", "old");
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"File Exists Alert|Replace existing file f.txt?"}));
  EXPECT_EQ(test::ReadFile(Dest("f.txt")), "old");
  ui.answer = r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_EQ(test::ReadFile(Dest("f.txt")), "new");
}

TEST_F(ZipExtractTest, IfNewerIfOlderAndReadOnlyFiles) {
  TEntrySpec sample{"f.txt", "entry"};
  sample.dosDateTime = kJuly2020;
  TZipReader& r = Reader({sample});
  const struct {
    TUZOverwriteMode mode;
    int64_t fileTime;
    const char* result;
  } cases[] = {{TUZOverwriteMode::ifNewer, kJuly2020Time, "file"},  // equal dates keep
               {TUZOverwriteMode::ifNewer, kJuly2020Time - 60, "entry"},
               {TUZOverwriteMode::ifNewer, kJuly2020Time + 60, "file"},
               {TUZOverwriteMode::ifOlder, kJuly2020Time, "file"},
               {TUZOverwriteMode::ifOlder, kJuly2020Time + 60, "entry"},
               {TUZOverwriteMode::Always, kJuly2020Time + 60, "entry"}};
  for (const auto& c : cases) {
    Existing("f.txt", "file");
    test::SetMTime(Dest("f.txt"), c.fileTime);
    r.OverwriteMode = c.mode;
    r.DoAll = true;
    r.UnZip();
    EXPECT_EQ(test::ReadFile(Dest("f.txt")), c.result) << static_cast<int>(c.mode) << " " << c.fileTime;
  }
  if (::geteuid() == 0) return;  // root writes read-only files anyway
  test::WriteFile(Dest("f.txt"), "old");
  ::chmod(Dest("f.txt").c_str(), 0444);
  r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_TRUE(Logged("skip 3 0 " + Dest("f.txt")));
  r.ReplaceReadOnly = r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_EQ(test::ReadFile(Dest("f.txt")), "entry");
}

TEST_F(ZipExtractTest, DatesAndAttributesAreRestored) {
  // Unix modes as stored (more than the umask lets a new file have, none at
  // all), set-id bits dropped, the DOS read-only bit; the date to 2 seconds.
  const struct {
    const char* name;
    uint32_t external;
    mode_t mode, mask;
  } cases[] = {{"u.sh", 0100750u << 16, 0750, 07777}, {"s", 0104755u << 16, 0755, 07777},
               {"g.txt", 0100666u << 16, 0666, 07777}, {"n.txt", 0100000u << 16, 0, 07777},
               {"r.txt", 0x21, 0, 0222}};
  std::vector<TEntrySpec> entries;
  for (const auto& c : cases) {
    entries.push_back({c.name, "x"});
    entries.back().external = c.external;
    entries.back().versionMadeBy = c.external > 0xFFFF ? 3 << 8 : 0;
  }
  entries[0].dosDateTime = kJuly2020 | 1;  // +2 s
  const mode_t umask = ::umask(022);
  EXPECT_EQ(Reader(entries).UnZip(), 5);
  ::umask(umask);
  struct stat st;
  for (const auto& c : cases) {
    ASSERT_EQ(::stat(Dest(c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & c.mask, c.mode) << c.name;
  }
  ASSERT_EQ(::stat(Dest("u.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kJuly2020Time + 2);
}

TEST_F(ZipExtractTest, PasswordsAndTheirEvents) {
  // An empty entry has no data to fail on: only its header's check byte
  // tells a wrong password.
  TEntrySpec secret{"secret.txt", "top secret text"}, dd{"dd.txt", "with descriptor"}, empty{"empty.txt", ""};
  secret.password = empty.password = "right";
  secret.method = 8;
  // With a descriptor the check byte is the time's high byte (0x6A), not the CRC's.
  dd.password = "right";
  dd.writeDescriptor = true;
  dd.dosDateTime = 0x1AEF6A00;
  ASSERT_NE(testing::ZCrc(dd.data) >> 24, 0x6Au);
  TZipReader& r = Reader({secret, dd, empty});
  Existing("secret.txt", "existing");
  r.Password = "wrong";
  r.OverwriteMode = TUZOverwriteMode::Always;
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_TRUE(Logged("skip 0 0 secret.txt"));  // the stored name, not the path
  EXPECT_TRUE(Logged("skip 0 2 empty.txt"));
  EXPECT_EQ(test::ReadFile(Dest("secret.txt")), "existing");
  EXPECT_FALSE(Exists(Dest("empty.txt")));
  // A handler supplies the password; the check is repeated.
  std::vector<std::string> offered;
  r.OnBadPassword = [&](TZipReader*, int, std::string& pw) {
    offered.push_back(pw);
    pw = "right";
  };
  r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 3);
  EXPECT_EQ(offered, (std::vector<std::string>{"wrong"}));
  EXPECT_EQ(test::ReadFile(Dest("secret.txt")), "top secret text");
  EXPECT_EQ(test::ReadFile(Dest("dd.txt")), "with descriptor");
  EXPECT_EQ(r.Password, "right");
}

TEST_F(ZipExtractTest, UnknownMethodIsRefusedWithoutTouchingFiles) {
  TEntrySpec e{"m7.bin", "whatever"}, aes{"aes.bin", ""};
  e.method = 7;
  aes.method = 99;
  aes.flags = 1;
  aes.crc = 0;
  RecordingUI ui;
  TZipReader& r = Reader({e, aes}, &ui);
  r.OverwriteMode = TUZOverwriteMode::Always;
  Existing("m7.bin", "mine");
  int badPassword = 0;
  r.OnBadPassword = [&](TZipReader*, int, std::string&) { ++badPassword; };
  EXPECT_EQ(r.UnZip(), 0);
  // Each says what it is; neither is a bad CRC nor a password problem.
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(Logged("error 0 unsupported compression method Tokenize (7)"));
  EXPECT_TRUE(Logged("error 1 unsupported encryption (AES entry without a valid 0x9901 extra field)"));
  EXPECT_FALSE(Logged("badcrc 0") || Logged("badcrc 1"));
  EXPECT_EQ(badPassword, 0);
  EXPECT_EQ(test::ReadFile(Dest("m7.bin")), "mine");
  EXPECT_FALSE(Exists(Dest("aes.bin")));
}

// A damaged entry is reported with what happened and left out, never
// replacing the file it was to replace; the entries after it still come out.
TEST_F(ZipExtractTest, DamagedEntriesAreReportedKeepTheOldFileAndTheRunGoesOn) {
  TEntrySpec longer{"long.txt", std::string(5000, 'z')}, shorter{"short.txt", std::string(1000, 's')},
      crc{"crc.txt", "contents"};
  longer.method = 8;
  longer.usize = 100;
  shorter.usize = 2000;
  crc.crc = 0x12345678;
  TZipReader& r = Reader({longer, shorter, crc, {"next.txt", "fine"}});
  r.OverwriteMode = TUZOverwriteMode::Always;
  Existing("long.txt", "precious");
  Existing("crc.txt", "also precious");
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_TRUE(Logged("error 0 size mismatch: more than 100 bytes, 100 declared"));
  EXPECT_TRUE(Logged("error 1 size mismatch: 1000 bytes, 2000 declared"));
  EXPECT_TRUE(Logged("badcrc 2"));
  EXPECT_FALSE(Logged("end 2 " + Dest("crc.txt")));
  EXPECT_TRUE(Logged("complete 1"));
  EXPECT_EQ(test::ReadFile(Dest("next.txt")), "fine");
  EXPECT_EQ(test::ReadFile(Dest("long.txt")), "precious");
  EXPECT_EQ(test::ReadFile(Dest("crc.txt")), "also precious");
  EXPECT_FALSE(Exists(Dest("short.txt")));
  EXPECT_EQ(TempFilesLeft(), 0);
}

TEST_F(ZipExtractTest, DataReachingIntoTheDirectoryIsRefused) {
  std::string data;
  for (int i = 0; i < 20000; ++i) data += std::to_string(i);
  TEntrySpec e{"t.txt", data};
  e.method = 8;
  std::string zip = BuildZip({e});
  // Keep the directory, lose the second half of the data.
  const size_t cd = zip.find("PK\x01\x02");
  std::string cut = zip.substr(0, cd / 2), tail = zip.substr(cd);
  const size_t endPos = tail.find("PK\x05\x06");
  for (int i = 0; i < 4; ++i) tail[endPos + 16 + i] = static_cast<char>(cut.size() >> (8 * i));
  TZipReader& r = Reader(cut + tail);
  r.ReadZip();
  EXPECT_EQ(r.DirectoryReport().overlapping, 1);
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_TRUE(Logged("error 0 its data overlaps another entry or the archive directory; refused"));
}

// Entries that declare more than the destination can hold: the user is asked
// before anything is written, and No ends the run.
TEST_F(ZipExtractTest, DeclaredSizesBeyondTheFreeSpaceAskFirst) {
  std::vector<TEntrySpec> huge;
  for (int i = 0; i < 200; ++i) {
    huge.push_back({std::string("h") += std::to_string(i), "tiny"});
    huge.back().usize = 0xFFFFFFFF;  // 200 x 4 GiB: more than any test machine has free
  }
  RecordingUI ui;
  TZipReader& r = Reader(huge, &ui);
  try {
    r.UnZip();
    FAIL();
  } catch (const ENotEnoughRoom& e) {
    EXPECT_NE(std::string(e.what()).find("858993459000 bytes needed"), std::string::npos) << e.what();
  }
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0].rfind("Not enough room|The entries to extract need 858993459000 bytes", 0), 0u);
  EXPECT_FALSE(Exists(Dest("h0")));
}

TEST_F(ZipExtractTest, RefusedWriteAndCancelRaiseTheirErrors) {
  TZipReader& r = Reader({{"big", std::string(300000, 'w')}});
  // A file size limit makes the device refuse the rest of the file.
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  const struct rlimit small = {100000, old.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string what;
  try {
    r.UnZip();
  } catch (const ECantWriteUCF& e) {
    what = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(what, "Cant write uncompressed file");
  EXPECT_FALSE(Exists(Dest("big")));
  // Cancel stops at the next refill.
  r.DoAll = true;
  r.OnFilePercentDone = [](TZipReader* z, int) { z->CancelOperation = true; };
  try {
    r.UnZip();
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  EXPECT_FALSE(r.CancelOperation);
  EXPECT_EQ(TempFilesLeft(), 0);
}

}  // namespace
}  // namespace vantrel::zip
