// zip_extract_test.cpp - UnZip: selection, events, overwrite modes, progress,
// passwords, methods, size limits, cancellation and the destination's safety.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

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

// Logs every extraction event as one line.
struct EventLog {
  explicit EventLog(TZipReader& r) {
    r.OnStartUnZipInfo = [this](TZipReader*, int n, int64_t total, bool&) {
      lines.push_back("info " + std::to_string(n) + " " + std::to_string(total));
    };
    r.OnStartUnZip = [this](TZipReader*, int i, std::string& name, bool&) {
      lines.push_back("start " + std::to_string(i) + " " + name);
    };
    r.OnSkippingFile = [this](TZipReader*, TSkipReason why, const std::string& name, int i, bool&) {
      lines.push_back("skip " + std::to_string(why) + " " + std::to_string(i) + " " + name);
    };
    r.OnBadCRC = [this](TZipReader*, int32_t, int32_t, int i) {
      lines.push_back("badcrc " + std::to_string(i));
    };
    r.OnEntryError = [this](TZipReader*, int i, const std::string& message) {
      lines.push_back("error " + std::to_string(i) + " " + message);
    };
    r.OnEndUnZip = [this](TZipReader*, int i, const std::string& name) {
      lines.push_back("end " + std::to_string(i) + " " + name);
    };
    r.OnUnZipComplete = [this](TZipReader*, int n) { lines.push_back("complete " + std::to_string(n)); };
    r.OnFilePercentDone = [this](TZipReader*, int p) { file.push_back(p); };
    r.OnTotalPercentDone = [this](TZipReader*, int p) { total.push_back(p); };
  }
  bool Has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::vector<std::string> lines;
  std::vector<int> file, total;
};

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

class ZipExtractTest : public ::testing::Test {
 protected:
  void Open(TZipReader& r, const std::string& zip) {
    std::string path = tmp_ / "a.zip";
    test::WriteFile(path, zip);
    r.SetZipName(path);
    r.SetDestDir(dest_);
  }
  std::string Dest(const std::string& name) const { return dest_ + "/" + name; }

  test::TempDir tmp_;
  std::string dest_ = tmp_ / "out";
};

// Counts the extraction's temporary files left in a directory.
int TempFilesIn(const std::string& dir) {
  int n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().filename().string().rfind(".vantrel-", 0) == 0) ++n;
  return n;
}

TEST_F(ZipExtractTest, NothingChosenRunsEmpty) {
  TZipReader r;
  EventLog log(r);
  Open(r, BuildZip({{"a.txt", "x"}}));
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"info 0 0", "complete 0"}));
  EXPECT_FALSE(Exists(Dest("a.txt")));
}

TEST_F(ZipExtractTest, MasksSelectAcrossDirectoriesAndFilesListIsCleared) {
  TZipReader r;
  r.RecreateDirs = true;
  Open(r, BuildZip({{"readme.txt", "1"}, {"docs/readme.txt", "22"}, {"a.c", "333"}}));
  r.AddFile("*.TXT");
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 2);
  EXPECT_TRUE(log.Has("info 2 3"));
  EXPECT_EQ(test::ReadFile(Dest("docs/readme.txt")), "22");
  EXPECT_FALSE(Exists(Dest("a.c")));
  EXPECT_TRUE(r.FilesList().empty());
}

TEST_F(ZipExtractTest, EventsAndTheirParameters) {
  TZipReader r;
  r.RecreateDirs = true;
  r.DoAll = true;
  Open(r, BuildZip({{"d/", ""}, {"d/f.txt", "hello"}}));
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 2);  // the directory entry counts, NumFiles does not include it
  EXPECT_EQ(log.lines, (std::vector<std::string>{"info 1 5", "start 1 " + Dest("d/f.txt"),
                                                 "end 1 " + Dest("d/f.txt"), "complete 2"}));
  EXPECT_EQ(log.file, (std::vector<int>{100}));
  EXPECT_EQ(log.total, (std::vector<int>{100}));
}

TEST_F(ZipExtractTest, ProgressPerBlockRoundsHalfToEven) {
  TZipReader r;
  r.DoAll = true;
  std::string big(40000, 'a'), big2(40000, 'b');
  TEntrySpec a{"a.bin", big}, b{"b.bin", big2};
  b.method = 8;
  Open(r, BuildZip({a, b}));
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 2);
  // 32768/40000 = 81.92%; totals 40.96, 50, 90.96, 100.
  EXPECT_EQ(log.file, (std::vector<int>{82, 100, 82, 100}));
  EXPECT_EQ(log.total, (std::vector<int>{41, 50, 91, 100}));
  EXPECT_EQ(test::ReadFile(Dest("b.bin")), big2);
}

TEST_F(ZipExtractTest, SkippedEntryLeavesTotalAbleToReach100) {
  TZipReader r;
  r.DoAll = true;
  r.OverwriteMode = TUZOverwriteMode::Never;
  Open(r, BuildZip({{"one", std::string(1000, '1')}, {"two", std::string(1000, '2')}}));
  test::MakeDir(dest_);
  test::WriteFile(Dest("one"), "keep me");
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_TRUE(log.Has("skip 1 0 " + Dest("one")));
  EXPECT_EQ(log.total.back(), 100);
  EXPECT_EQ(test::ReadFile(Dest("one")), "keep me");
}

TEST_F(ZipExtractTest, WithoutRecreateDirsSameNamesMeetTheOverwriteRule) {
  TZipReader r;
  r.DoAll = true;
  r.OverwriteMode = TUZOverwriteMode::Never;
  Open(r, BuildZip({{"a/", ""}, {"a/x.txt", "first"}, {"b/x.txt", "second"}}));
  EventLog log(r);
  r.UnZip();
  EXPECT_EQ(test::ReadFile(Dest("x.txt")), "first");
  EXPECT_TRUE(log.Has("skip 1 2 " + Dest("x.txt")));
  EXPECT_FALSE(Exists(Dest("a")));
}

TEST_F(ZipExtractTest, RootDirIsRemovedFromStoredDirectories) {
  TZipReader r;
  r.DoAll = true;
  r.RecreateDirs = true;
  r.SetRootDir("DATA");
  EXPECT_EQ(r.RootDir(), "DATA/");
  Open(r, BuildZip({{"data/sub/f.txt", "f"}, {"other/g.txt", "g"}}));
  r.UnZip();
  EXPECT_EQ(test::ReadFile(Dest("sub/f.txt")), "f");
  EXPECT_EQ(test::ReadFile(Dest("other/g.txt")), "g");
}

TEST_F(ZipExtractTest, NothingIsWrittenOutsideTheDestination) {
  TZipReader r;
  r.DoAll = true;
  r.RecreateDirs = true;
  Open(r, BuildZip({{"../evil1.txt", "1"},
                    {"sub/../../evil2.txt", "2"},
                    {"/tmp/evil3.txt", "3"},
                    {"..\\evil4.txt", "4"},
                    {"C:\\tmp\\f.txt", "5"},
                    {"a/..", "6"},
                    {"../", ""}}));
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 5);
  EXPECT_EQ(test::ReadFile(Dest("evil1.txt")), "1");
  EXPECT_EQ(test::ReadFile(Dest("sub/evil2.txt")), "2");
  EXPECT_EQ(test::ReadFile(Dest("tmp/evil3.txt")), "3");
  EXPECT_EQ(test::ReadFile(Dest("evil4.txt")), "4");
  EXPECT_EQ(test::ReadFile(Dest("tmp/f.txt")), "5");
  EXPECT_FALSE(Exists(tmp_ / "evil1.txt"));
  EXPECT_FALSE(Exists(tmp_ / "evil2.txt"));
  // "a/.." and "../" name nothing below the destination.
  EXPECT_TRUE(log.Has("skip 3 5 " + Dest("a/")));
  EXPECT_TRUE(log.Has("skip 3 6 " + Dest("")));
}

TEST_F(ZipExtractTest, SymbolicLinksInTheDestinationAreNotFollowed) {
  std::string outside = tmp_ / "outside";
  test::MakeDir(outside);
  test::MakeDir(dest_);
  ASSERT_EQ(::symlink(outside.c_str(), Dest("link").c_str()), 0);
  test::WriteFile(outside + "/victim.txt", "precious");
  ASSERT_EQ(::symlink((outside + "/victim.txt").c_str(), Dest("f.txt").c_str()), 0);
  TZipReader r;
  r.DoAll = true;
  r.RecreateDirs = true;
  r.OverwriteMode = TUZOverwriteMode::Always;
  Open(r, BuildZip({{"link/evil.txt", "evil"}, {"f.txt", "new"}}));
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_TRUE(log.Has("skip 3 0 " + Dest("link/evil.txt")));
  EXPECT_FALSE(Exists(outside + "/evil.txt"));
  // The link itself is replaced; its target is untouched.
  EXPECT_EQ(test::ReadFile(outside + "/victim.txt"), "precious");
  struct stat st;
  ASSERT_EQ(::lstat(Dest("f.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(test::ReadFile(Dest("f.txt")), "new");
}

TEST_F(ZipExtractTest, PromptModeAsksTheHandlerOrTheUser) {
  RecordingUI ui;
  TZipReader r(&ui);
  r.DoAll = true;
  Open(r, BuildZip({{"dir/f.txt", "new"}}));
  test::MakeDir(dest_);
  test::WriteFile(Dest("f.txt"), "old");
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"File Exists Alert|Replace existing file f.txt?"}));
  EXPECT_EQ(test::ReadFile(Dest("f.txt")), "old");

  ui.answer = true;
  r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_EQ(test::ReadFile(Dest("f.txt")), "new");

  // A handler answers instead, and may choose another name.
  test::WriteFile(Dest("f.txt"), "old");
  r.OnPromptForOverwrite = [&](TZipReader*, bool& overwrite, int, std::string& name) {
    EXPECT_FALSE(overwrite);
    overwrite = true;
    name = Dest("renamed/f2.txt");
  };
  r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_EQ(test::ReadFile(Dest("f.txt")), "old");
  EXPECT_EQ(test::ReadFile(Dest("renamed/f2.txt")), "new");
  EXPECT_EQ(ui.questions.size(), 2u);
}

TEST_F(ZipExtractTest, IfNewerAndIfOlderCompareDates) {
  TEntrySpec sample{"f.txt", "entry"};
  sample.dosDateTime = (40u << 25) | (7u << 21) | (1u << 16) | (12u << 11);  // 2020-07-01 12:00
  const int64_t entryTime = 1593597600;
  TZipReader r;
  Open(r, BuildZip({sample}));
  test::MakeDir(dest_);
  auto run = [&](TUZOverwriteMode mode, int64_t fileTime) {
    test::WriteFile(Dest("f.txt"), "file");
    test::SetMTime(Dest("f.txt"), fileTime);
    r.OverwriteMode = mode;
    r.DoAll = true;
    r.UnZip();
    return test::ReadFile(Dest("f.txt"));
  };
  EXPECT_EQ(run(TUZOverwriteMode::ifNewer, entryTime), "file");  // equal dates keep
  EXPECT_EQ(run(TUZOverwriteMode::ifNewer, entryTime - 60), "entry");
  EXPECT_EQ(run(TUZOverwriteMode::ifNewer, entryTime + 60), "file");
  EXPECT_EQ(run(TUZOverwriteMode::ifOlder, entryTime), "file");
  EXPECT_EQ(run(TUZOverwriteMode::ifOlder, entryTime + 60), "entry");
  EXPECT_EQ(run(TUZOverwriteMode::Always, entryTime + 60), "entry");
}

TEST_F(ZipExtractTest, DatesAndAttributesAreRestored) {
  TEntrySpec unixFile{"u.sh", "#!"}, dosReadOnly{"r.txt", "r"}, setuid{"s", "s"};
  unixFile.versionMadeBy = 3 << 8;
  unixFile.external = 0100750u << 16;
  setuid.versionMadeBy = 3 << 8;
  setuid.external = 0104755u << 16;
  dosReadOnly.external = 0x21;
  unixFile.dosDateTime = (40u << 25) | (7u << 21) | (1u << 16) | (12u << 11) | 1;  // +2 s
  TZipReader r;
  r.DoAll = true;
  Open(r, BuildZip({unixFile, dosReadOnly, setuid}));
  EXPECT_EQ(r.UnZip(), 3);
  struct stat st;
  ASSERT_EQ(::stat(Dest("u.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(st.st_mtime, 1593597602);
  ASSERT_EQ(::stat(Dest("s").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat(Dest("r.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
}

TEST_F(ZipExtractTest, BadCrcLeavesNoFileAndIsNotCounted) {
  TEntrySpec bad{"bad.txt", "content"};
  bad.crc = 0x12345678;
  TZipReader r;
  r.DoAll = true;
  Open(r, BuildZip({bad, {"good.txt", "ok"}}));
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_TRUE(log.Has("badcrc 0"));
  EXPECT_FALSE(log.Has("end 0 " + Dest("bad.txt")));
  EXPECT_FALSE(Exists(Dest("bad.txt")));
}

TEST_F(ZipExtractTest, SkipAndStopNow) {
  TZipReader r;
  r.DoAll = true;
  Open(r, BuildZip({{"a", "1"}, {"b", "2"}}));
  r.OnStartUnZip = [](TZipReader*, int i, std::string&, bool& skip) { skip = i == 0; };
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_FALSE(Exists(Dest("a")));
  r.DoAll = true;
  r.OnStartUnZipInfo = [](TZipReader*, int, int64_t, bool& stop) { stop = true; };
  int complete = -1;
  r.OnUnZipComplete = [&](TZipReader*, int n) { complete = n; };
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_EQ(complete, 0);
}

TEST_F(ZipExtractTest, PasswordsAndTheirEvents) {
  TEntrySpec secret{"secret.txt", "top secret text"};
  secret.password = "right";
  secret.method = 8;
  TZipReader r;
  Open(r, BuildZip({secret}));
  test::MakeDir(dest_);
  test::WriteFile(Dest("secret.txt"), "existing");

  EventLog log(r);
  r.DoAll = true;
  r.Password = "wrong";
  r.OverwriteMode = TUZOverwriteMode::Always;
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_TRUE(log.Has("skip 0 0 secret.txt"));  // the stored name, not the path
  EXPECT_EQ(test::ReadFile(Dest("secret.txt")), "existing");

  // A handler supplies the password; the check is repeated.
  std::vector<std::string> offered;
  r.OnBadPassword = [&](TZipReader*, int, std::string& pw) {
    offered.push_back(pw);
    pw = "right";
  };
  r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_EQ(offered, (std::vector<std::string>{"wrong"}));
  EXPECT_EQ(test::ReadFile(Dest("secret.txt")), "top secret text");
  EXPECT_EQ(r.Password, "right");
}

TEST_F(ZipExtractTest, DataDescriptorEntriesCheckTheTimeByte) {
  TEntrySpec e{"dd.txt", "with descriptor"};
  e.password = "pw";
  e.writeDescriptor = true;
  e.dosDateTime = 0x1AEF6A00;  // time high byte 0x6A, CRC high byte differs
  ASSERT_NE(testing::ZCrc(e.data) >> 24, 0x6Au);
  TZipReader r;
  r.DoAll = true;
  r.Password = "pw";
  Open(r, BuildZip({e}));
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_EQ(test::ReadFile(Dest("dd.txt")), "with descriptor");
}

TEST_F(ZipExtractTest, UnknownMethodIsRefusedWithoutTouchingFiles) {
  TEntrySpec e{"m7.bin", "whatever"};
  e.method = 7;
  TEntrySpec aes{"aes.bin", ""};
  aes.method = 99;
  aes.flags = 1;
  aes.crc = 0;
  RecordingUI ui;
  TZipReader r(&ui);
  r.DoAll = true;
  r.OverwriteMode = TUZOverwriteMode::Always;
  Open(r, BuildZip({e, aes}));
  test::MakeDir(dest_);
  test::WriteFile(Dest("m7.bin"), "mine");
  EventLog log(r);
  int badPassword = 0;
  r.OnBadPassword = [&](TZipReader*, int, std::string&) { ++badPassword; };
  EXPECT_EQ(r.UnZip(), 0);
  // Each says what it is; neither is a bad CRC nor a password problem.
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(log.Has("error 0 unsupported compression method Tokenize (7)"));
  EXPECT_TRUE(log.Has("error 1 unsupported encryption (AES entry without a valid 0x9901 extra field)"));
  EXPECT_FALSE(log.Has("badcrc 0"));
  EXPECT_FALSE(log.Has("badcrc 1"));
  EXPECT_EQ(badPassword, 0);
  EXPECT_EQ(test::ReadFile(Dest("m7.bin")), "mine");
  EXPECT_FALSE(Exists(Dest("aes.bin")));
}

// A damaged entry is reported with what happened and left out; the entries
// after it are still extracted.
TEST_F(ZipExtractTest, DamagedEntriesAreReportedAndTheRunGoesOn) {
  TEntrySpec longer{"long.txt", std::string(5000, 'z')};
  longer.method = 8;
  longer.usize = 100;
  TEntrySpec shorter{"short.txt", std::string(1000, 's')};
  shorter.usize = 2000;
  TEntrySpec crc{"crc.txt", "contents"};
  crc.crc = 0x12345678;
  TZipReader r;
  r.DoAll = true;
  Open(r, BuildZip({longer, shorter, crc, {"next.txt", "fine"}}));
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_TRUE(log.Has("error 0 size mismatch: more than 100 bytes, 100 declared"));
  EXPECT_TRUE(log.Has("error 1 size mismatch: 1000 bytes, 2000 declared"));
  EXPECT_TRUE(log.Has("badcrc 2"));
  EXPECT_TRUE(log.Has("complete 1"));
  EXPECT_EQ(test::ReadFile(Dest("next.txt")), "fine");
  for (const char* gone : {"long.txt", "short.txt", "crc.txt"}) EXPECT_FALSE(Exists(Dest(gone)));
  EXPECT_EQ(TempFilesIn(dest_), 0);
}

// Entries that declare more than the destination can hold: the user is asked
// before anything is written, and No ends the run.
TEST_F(ZipExtractTest, DeclaredSizesBeyondTheFreeSpaceAskFirst) {
  std::vector<TEntrySpec> huge;
  for (int i = 0; i < 200; ++i) {
    TEntrySpec e{"h" + std::to_string(i), "tiny"};
    e.usize = 0xFFFFFFFF;  // 200 x 4 GiB: more than any test machine has free
    huge.push_back(e);
  }
  RecordingUI ui;
  TZipReader r(&ui);
  r.DoAll = true;
  Open(r, BuildZip(huge));
  try {
    r.UnZip();
    FAIL();
  } catch (const ENotEnoughRoom& e) {
    EXPECT_NE(std::string(e.what()).find("858993459000 bytes needed"), std::string::npos) << e.what();
  }
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0].rfind("Not enough room|The entries to extract need 858993459000 bytes", 0), 0u)
      << ui.questions[0];
  EXPECT_FALSE(Exists(Dest("h0")));
}

// An entry that fails (bad CRC, size beyond the declared one, a cancelled
// run) never destroys the file it was to replace.
TEST_F(ZipExtractTest, FailedEntryKeepsTheFileItWouldHaveReplaced) {
  TEntrySpec bad{"keep.txt", "new contents"};
  bad.crc = 0x12345678;
  TEntrySpec big{"big.txt", std::string(5000, 'z')};
  big.method = 8;
  big.usize = 100;
  test::MakeDir(dest_);
  test::WriteFile(Dest("keep.txt"), "precious");
  test::WriteFile(Dest("big.txt"), "also precious");
  {
    TZipReader r;
    r.DoAll = true;
    r.OverwriteMode = TUZOverwriteMode::Always;
    Open(r, BuildZip({bad}));
    EXPECT_EQ(r.UnZip(), 0);
  }
  EXPECT_EQ(test::ReadFile(Dest("keep.txt")), "precious");
  {
    TZipReader r;
    r.DoAll = true;
    r.OverwriteMode = TUZOverwriteMode::Always;
    Open(r, BuildZip({big}));
    EXPECT_EQ(r.UnZip(), 0);
  }
  EXPECT_EQ(test::ReadFile(Dest("big.txt")), "also precious");
  EXPECT_EQ(TempFilesIn(dest_), 0);
}

TEST_F(ZipExtractTest, TruncatedEntryIsAPrematureEnd) {
  std::string data;
  for (int i = 0; i < 20000; ++i) data += std::to_string(i);
  TEntrySpec e{"t.txt", data};
  e.method = 8;
  std::string zip = BuildZip({e});
  size_t cd = zip.find("PK\x01\x02");
  // Keep the directory, lose the second half of the data.
  std::string cut = zip.substr(0, cd / 2);
  std::string tail = zip.substr(cd);
  uint32_t newOffset = static_cast<uint32_t>(cut.size());
  size_t endPos = tail.find("PK\x05\x06");
  for (int i = 0; i < 4; ++i) tail[endPos + 16 + i] = static_cast<char>(newOffset >> (8 * i));
  TZipReader r;
  r.DoAll = true;
  Open(r, cut + tail);
  r.ReadZip();
  // The data reaches into the (moved) directory: refused before decoding.
  EXPECT_EQ(r.DirectoryReport().overlapping, 1);
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_TRUE(log.Has("error 0 its data overlaps another entry or the archive directory; refused"))
      << log.lines[1];
}

TEST_F(ZipExtractTest, RefusedWriteIsCantWriteUCF) {
  TZipReader r;
  r.DoAll = true;
  Open(r, BuildZip({{"big", std::string(300000, 'w')}}));
  // A file size limit makes the device refuse the rest of the file.
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100000;
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
}

TEST_F(ZipExtractTest, CancelStopsAtTheNextRefill) {
  TZipReader r;
  r.DoAll = true;
  Open(r, BuildZip({{"big", std::string(100000, 'q')}}));
  r.OnFilePercentDone = [](TZipReader* z, int) { z->CancelOperation = true; };
  try {
    r.UnZip();
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  EXPECT_FALSE(r.CancelOperation);
}

TEST_F(ZipExtractTest, EmptyEntriesAndDirectoryEntries) {
  TEntrySpec emptyDeflated{"e2.txt", ""};
  emptyDeflated.method = 8;
  TZipReader r;
  r.DoAll = true;
  r.RecreateDirs = true;
  Open(r, BuildZip({{"e1.txt", ""}, emptyDeflated, {"dir/sub/", ""}}));
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 3);
  EXPECT_EQ(test::ReadFile(Dest("e1.txt")), "");
  EXPECT_EQ(test::ReadFile(Dest("e2.txt")), "");
  struct stat st;
  ASSERT_EQ(::stat(Dest("dir/sub").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(log.file.empty());  // no output bytes, no progress
}

TEST_F(ZipExtractTest, DestDirQuestionMarkAsksAndTrailingSlashGoes) {
  TZipReader r;
  try {
    r.SetDestDir("?");
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled Set Desination Directory");
  }
  r.SetDestDir("/x/y//");
  EXPECT_EQ(r.DestDir(), "/x/y");
  r.SetDestDir("/");
  EXPECT_EQ(r.DestDir(), "/");
}

TEST_F(ZipExtractTest, ReplaceReadOnlyClearsTheBlockingAttribute) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes read-only files anyway";
  TZipReader r;
  r.DoAll = true;
  r.OverwriteMode = TUZOverwriteMode::Always;
  Open(r, BuildZip({{"ro.txt", "new"}}));
  test::MakeDir(dest_);
  test::WriteFile(Dest("ro.txt"), "old");
  ::chmod(Dest("ro.txt").c_str(), 0444);
  EventLog log(r);
  EXPECT_EQ(r.UnZip(), 0);
  EXPECT_TRUE(log.Has("skip 3 0 " + Dest("ro.txt")));
  r.ReplaceReadOnly = true;
  r.DoAll = true;
  EXPECT_EQ(r.UnZip(), 1);
  EXPECT_EQ(test::ReadFile(Dest("ro.txt")), "new");
}

}  // namespace
}  // namespace vantrel::zip
