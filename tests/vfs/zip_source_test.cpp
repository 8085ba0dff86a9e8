// A place inside a ZIP archive: listings of archives the peers and our own
// test writer make, data read back and checked, passwords, damage, change
// on disk, content recognition.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "platform/process.h"
#include "tests/vfs/vfs_helpers.h"
#include "tests/zip/zip_test_util.h"
#include "vfs/zip_source.h"

namespace vantrel::vfs {
namespace {

using test::MakeZip;
using test::Q;
using test::Sh;
using test::TempDir;

std::unique_ptr<TZipSource> LoadOk(const std::string& path, TPasswordProvider* passwords = nullptr) {
  TError err;
  auto source = TZipSource::Load(path, path, passwords, &err);
  EXPECT_TRUE(source) << err.text;
  return source;
}

TEST(ZipSource, ACodePageChosenReadsTheNamesAgainAtOnce) {
  // CP866 bytes, no UTF-8 flag: "Привет.txt" and "Мир/Дом.txt".
  const std::string hello = "\x8f\xe0\xa8\xa2\xa5\xe2.txt", home = "\x8c\xa8\xe0/\x84\xae\xac.txt";
  TempDir t;
  MakeZip(t / "ru.zip", {{hello, "hello"}, {home, "home", true}});
  auto z = LoadOk(t / "ru.zip");
  ASSERT_TRUE(z);
  EXPECT_EQ(z->CodePage(), "");
  EXPECT_FALSE(z->CodePageUsed().empty());
  const std::vector<std::string> automatic = test::ListNames(*z, "");
  ASSERT_EQ(automatic.size(), 2u);
  std::string automaticHome;  // the path of the entry inside the directory
  for (const std::string& n : automatic)
    if (n.back() == '/') automaticHome = n + test::ListNames(*z, n.substr(0, n.size() - 1)).at(0);
  const struct {
    const char* page;
    std::vector<std::string> root;
    std::string homePath;  // the second entry under this page's names
  } cases[] = {
      {"CP437", {"\xc3\x85\xce\xb1\xc2\xbf\xc3\xb3\xc3\x91\xce\x93.txt", "\xc3\xae\xc2\xbf\xce\xb1/"},
       "\xc3\xae\xc2\xbf\xce\xb1/\xc3\xa4\xc2\xab\xc2\xbc.txt"},
      {"CP866", {"\xd0\x9c\xd0\xb8\xd1\x80/", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82.txt"},
       "\xd0\x9c\xd0\xb8\xd1\x80/\xd0\x94\xd0\xbe\xd0\xbc.txt"},
      // Automatic again: the names of the first reading.
      {"", automatic, automaticHome},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    const int reads = z->Reads();
    TError err;
    ASSERT_TRUE(z->SetCodePage(c.page, &err)) << err.text;
    EXPECT_EQ(z->Reads(), reads + 1);
    EXPECT_EQ(z->CodePage(), c.page);
    EXPECT_EQ(test::ListNames(*z, ""), c.root);
    EXPECT_EQ(test::ReadAll(*z, c.homePath), "home");
    // The same page again reads nothing.
    ASSERT_TRUE(z->SetCodePage(c.page, &err));
    EXPECT_EQ(z->Reads(), reads + 1);
  }
  // A file that went away: the old reading stays, and says why.
  ASSERT_TRUE(z->SetCodePage("CP866", nullptr));
  ASSERT_EQ(::unlink((t / "ru.zip").c_str()), 0);
  TError err;
  EXPECT_FALSE(z->SetCodePage("CP437", &err));
  EXPECT_FALSE(err.text.empty());
  EXPECT_EQ(z->CodePage(), "CP866");

  // A page chosen for an archive: every source loaded for it afterwards reads
  // its names so at once (a job's reader too), until Automatic is chosen.
  MakeZip(t / "again.zip", {{hello, "hello"}, {home, "home", true}});
  const struct {
    const char* chosen;
    std::string hello;
  } loads[] = {{"CP437", "\xc3\x85\xce\xb1\xc2\xbf\xc3\xb3\xc3\x91\xce\x93.txt"},
               {"CP866", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82.txt"},
               {"", automatic[0].back() == '/' ? automatic[1] : automatic[0]}};
  for (const auto& l : loads) {
    SCOPED_TRACE(l.chosen);
    ChooseCodePage(t / "again.zip", l.chosen);
    EXPECT_EQ(ChosenCodePage(t / "again.zip"), l.chosen);
    auto again = LoadOk(t / "again.zip");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Reads(), 1);
    EXPECT_EQ(again->CodePage(), l.chosen);
    EXPECT_EQ(test::ReadAll(*again, l.hello), "hello");
  }
}

TEST(ZipSource, ListsWhatInfoZipPacked) {
  VANTREL_NEED_TOOL("zip");
  TempDir t;
  test::MakeDir(t / "tree");
  test::MakeDir(t / "tree/docs/deep");
  test::MakeDir(t / "tree/empty dir");
  test::WriteFile(t / "tree/hello.txt", "hello, world\n");
  test::WriteFile(t / "tree/docs/readme.md", "# Read me\n");
  test::WriteFile(t / "tree/docs/deep/data.bin", test::Noise(200000, 3));
  ::symlink("hello.txt", (t / "tree/link").c_str());
  Sh("cd " + Q(t / "tree") + " && zip -qry ../a.zip .");
  auto z = LoadOk(t / "a.zip");
  ASSERT_TRUE(z);
  struct {
    const char* dir;
    std::vector<std::string> names;
  } cases[] = {
      {"", {"docs/", "empty dir/", "hello.txt", "link@"}},
      {"docs", {"deep/", "readme.md"}},
      {"docs/deep", {"data.bin"}},
      {"empty dir", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir);
    EXPECT_EQ(test::ListNames(*z, c.dir), c.names);
  }
  EXPECT_EQ(test::ReadAll(*z, "docs/deep/data.bin"), test::Noise(200000, 3));
  EXPECT_EQ(test::ReadAll(*z, "hello.txt"), "hello, world\n");
  TEntry e;
  TError err;
  ASSERT_TRUE(z->Stat("docs/deep/data.bin", e, &err));
  EXPECT_EQ(e.size, 200000u);
  EXPECT_GT(e.packedSize, 0u);
  EXPECT_EQ(e.mode & 0777, 0644u);
  ASSERT_TRUE(z->Stat("link", e, &err));
  EXPECT_EQ(e.kind, TEntryKind::Link);
  EXPECT_EQ(e.linkTarget, "hello.txt");
  // Walking every directory read the archive once.
  EXPECT_EQ(z->Reads(), 1);
  EXPECT_TRUE(z->Capabilities().writable) << z->Capabilities().readOnlyReason;
}

TEST(ZipSource, ImpliedDirectoriesDuplicatesAndHostileNames) {
  TempDir t;
  MakeZip(t / "h.zip", {{"a/b/c.txt", "c"},
                        {"x.txt", "first"},
                        {"x.txt", "second", true},
                        {"d", "file d"},
                        {"d/inner", "in d"},
                        {"../../evil", "evil"},
                        {"/etc/passwd", "root"},
                        {std::string("t\x01\x1b[2J", 6), "ctl"},
                        {"ok/", ""}});
  auto z = LoadOk(t / "h.zip");
  ASSERT_TRUE(z);
  EXPECT_EQ(test::ListNames(*z, ""),
            (std::vector<std::string>{"../", "a/", "d/", "etc/", "ok/", std::string("t\x01\x1b[2J", 6),
                                      "x.txt", "x.txt"}));
  EXPECT_EQ(test::ListNames(*z, ".."), (std::vector<std::string>{"../"}));
  EXPECT_EQ(test::ListNames(*z, "../.."), (std::vector<std::string>{"evil"}));
  EXPECT_EQ(test::ReadAll(*z, "../../evil"), "evil");
  EXPECT_EQ(test::ListNames(*z, "d"), (std::vector<std::string>{"inner"}));
  EXPECT_EQ(test::ReadAll(*z, "x.txt"), "first");
  std::vector<TEntry> root;
  TError err;
  ASSERT_TRUE(z->List("", root, &err));
  for (const TEntry& e : root) {
    if (e.name == "a" || e.name == "..") {
      EXPECT_TRUE(e.implied) << e.name;
    }
    if (e.name == "ok") {
      EXPECT_FALSE(e.implied);
    }
  }
  // A directory cannot be read as a file, nor a file listed.
  EXPECT_EQ(test::ReadAll(*z, "a", &err), "<failed>");
  EXPECT_EQ(err.code, EISDIR);
  std::vector<TEntry> none;
  EXPECT_FALSE(z->List("x.txt", none, &err));
  EXPECT_FALSE(z->List("nothing", none, &err));
}

TEST(ZipSource, DamagedDataIsReportedNotReturnedAsGood) {
  TempDir t;
  MakeZip(t / "d.zip", {{"good.txt", "all good"}, {"bad.txt", std::string(5000, 'z'), true}});
  // Flip a byte of bad.txt's compressed data (it follows its local header).
  std::string bytes = test::ReadFile(t / "d.zip");
  const size_t at = bytes.find("bad.txt") + 7 + 3;
  bytes[at] = static_cast<char>(bytes[at] ^ 0x55);
  test::WriteFile(t / "d.zip", bytes);
  auto z = LoadOk(t / "d.zip");
  ASSERT_TRUE(z);
  TError err;
  EXPECT_EQ(test::ReadAll(*z, "good.txt"), "all good");
  EXPECT_EQ(test::ReadAll(*z, "bad.txt", &err), "<failed>");
  EXPECT_EQ(err.code, EIO);
  EXPECT_NE(err.text.find("bad.txt"), std::string::npos) << err.text;
}

TEST(ZipSource, PasswordAskedOncePerArchiveAndAgainAfterAWrongOne) {
  VANTREL_NEED_TOOL("zip");
  TempDir t;
  test::WriteFile(t / "one.txt", "first secret");
  test::WriteFile(t / "two.txt", "second secret");
  // The encryption header is random: one time in 256 per entry a wrong
  // password passes its check byte and fails only on the data. Made again
  // until unzip turns "wrong" away at the check byte of both entries.
  Sh("cd " + Q(t.path()) + " && for i in $(seq 20); do rm -f enc.zip; zip -q -P right enc.zip one.txt two.txt;"
     " [ \"$(unzip -t -P wrong enc.zip 2>&1 | grep -c 'incorrect password$')\" = 2 ] && break; done");
  test::TScriptedPasswords passwords({"wrong", "right"});
  auto z = LoadOk(t / "enc.zip", &passwords);
  ASSERT_TRUE(z);
  TEntry e;
  TError err;
  ASSERT_TRUE(z->Stat("one.txt", e, &err));
  EXPECT_TRUE(e.encrypted);
  EXPECT_EQ(test::ReadAll(*z, "one.txt"), "first secret");
  EXPECT_EQ(test::ReadAll(*z, "two.txt"), "second secret");
  EXPECT_EQ(test::ReadAll(*z, "one.txt"), "first secret");
  const std::string name = t / "enc.zip";
  EXPECT_EQ(passwords.asked, (std::vector<std::string>{name, name + " again"}));

  // Another archive (another source) has a password of its own.
  test::TScriptedPasswords none({});
  auto other = LoadOk(t / "enc.zip", &none);
  EXPECT_EQ(test::ReadAll(*other, "one.txt", &err), "<failed>");
  EXPECT_EQ(none.asked.size(), 1u);
}

// The first 11 bytes of an encryption header under which `other` passes
// the check byte of an entry encrypted with "right" whose CRC is `crc`.
std::string HeaderPassing(uint32_t crc, const std::string& other) {
  for (uint32_t seed = 1;; ++seed) {
    std::mt19937 rng(seed);
    std::string plain(12, '\0');
    for (int i = 0; i < 11; ++i) plain[static_cast<size_t>(i)] = static_cast<char>(rng());
    plain[11] = static_cast<char>(crc >> 24);
    std::string h = plain;
    zip::TZipCrypt("right").Encrypt(reinterpret_cast<uint8_t*>(h.data()), h.size());
    zip::TZipCrypt(other).Decrypt(reinterpret_cast<uint8_t*>(h.data()), h.size());
    if (h[11] == plain[11]) return plain.substr(0, 11);
  }
}

// A traditionally encrypted entry whose data fail under a password that
// passed its check byte: the password is forgotten and asked for again when
// it was given for this read (or nobody was asked: the empty one passed),
// stands when the user gives it again or an entry decoded right with it
// (then the data are damaged), and a question without an answer stops the
// read. unzip, where installed, lets each chosen wrong password pass the
// check byte too.
TEST(ZipSource, AWrongPasswordThatPassesTheCheckByteIsAskedForAgain) {
  const std::string one = "first secret", two = std::string(3000, 's') + "second secret";
  struct TRead {
    const char* name;
    const char* data;  // nullptr: the read fails with `code`
    int code = 0;
  };
  struct {
    const char* what;
    const char* passer;  // a password other than "right" that passes one.txt's check byte
    uint16_t method;     // of one.txt
    bool damageOne, damageTwo;
    std::vector<std::string> answers;
    std::vector<TRead> reads;
    std::vector<std::string> asked;  // "" first question, " again" after a wrong answer
  } cases[] = {
      {"a wrong password passing the check byte", "wrong", 0, false, false, {"wrong", "right"},
       {{"one.txt", "first secret"}, {"two.txt", two.c_str()}, {"one.txt", "first secret"}}, {"", " again"}},
      {"the same, on deflated data", "wrong", 8, false, false, {"wrong", "right"},
       {{"one.txt", "first secret"}, {"two.txt", two.c_str()}}, {"", " again"}},
      {"the empty password passing the check byte", "", 0, false, false, {"right"},
       {{"one.txt", "first secret"}}, {""}},
      {"the same password given again: damage", nullptr, 0, true, false, {"right", "right"},
       {{"one.txt", nullptr, EIO}, {"two.txt", two.c_str()}}, {"", " again"}},
      {"a confirmed password stays: damage", nullptr, 0, false, true, {"right"},
       {{"one.txt", "first secret"}, {"two.txt", nullptr, EIO}, {"one.txt", "first secret"}}, {""}},
      {"no answer to the first question", nullptr, 0, false, false, {}, {{"one.txt", nullptr, ECANCELED}}, {""}},
      {"no answer after a wrong password", "wrong", 0, false, false, {"wrong"},
       {{"one.txt", nullptr, ECANCELED}, {"one.txt", nullptr, ECANCELED}}, {"", " again", " again"}},
  };
  const bool haveUnzip = !platform::FindProgram("unzip").empty();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir t;
    zip::testing::TEntrySpec a("one.txt", one), b("two.txt", two);
    a.password = b.password = "right";
    a.method = c.method;
    b.method = 8;
    if (c.passer) a.encryptionHeader = HeaderPassing(zip::testing::ZCrc(one), c.passer);
    if (c.damageOne) a.crc = zip::testing::ZCrc(one) ^ 1;  // the check byte (the top byte) holds
    if (c.damageTwo) b.crc = zip::testing::ZCrc(two) ^ 1;
    const std::string path = t / "enc.zip";
    test::WriteFile(path, zip::testing::BuildZip({a, b}));
    if (haveUnzip && c.passer && *c.passer) {
      std::string out;
      // A wrong check byte: "skipping: one.txt   incorrect password".
      test::RunCommand("unzip -t -P " + Q(c.passer) + " " + Q(path) + " one.txt 2>&1", &out);
      EXPECT_EQ(out.find("incorrect password\n"), std::string::npos) << out;
      EXPECT_NE(out.find("one.txt"), std::string::npos) << out;
    }
    test::TScriptedPasswords passwords(c.answers);
    auto z = LoadOk(path, &passwords);
    ASSERT_TRUE(z);
    for (const TRead& r : c.reads) {
      TError err;
      EXPECT_EQ(test::ReadAll(*z, r.name, &err), r.data ? r.data : "<failed>") << r.name << ": " << err.text;
      if (!r.data) { EXPECT_EQ(err.code, r.code) << r.name << ": " << err.text; }
    }
    std::vector<std::string> asked;
    for (const std::string& suffix : c.asked) asked.push_back(path + suffix);
    EXPECT_EQ(passwords.asked, asked);
  }
}

// The decoding that proves a password right is the one the caller gets: a
// first encrypted entry is decoded once, also when a wrong password is asked
// again. A large one is proved by the smallest encrypted entry instead
// (twice only when it is the only one, or that one cannot prove it).
TEST(ZipSource, TheFirstEncryptedEntryReadIsDecodedOnce) {
  const uint64_t large = TZipSource::kHeldWhileConfirming + 1;
  const std::string small = "first secret";
  struct {
    const char* what;
    bool withSmall, withLarge, damageSmall;
    const char* passer;  // a wrong password passing the small entry's check byte
    std::vector<std::string> answers;
    const char* read;    // the entry read first
    uint64_t decoded;    // bytes decoded by that read
  } cases[] = {
      {"a small entry", true, false, false, nullptr, {"right"}, "small.txt", small.size()},
      {"after a wrong password that passed the check byte", true, false, false, "wrong", {"wrong", "right"},
       "small.txt", 2 * small.size()},
      {"a large entry proved by a small one", true, true, false, nullptr, {"right"}, "large.bin",
       large + small.size()},
      {"a large entry alone", false, true, false, nullptr, {"right"}, "large.bin", 2 * large},
      {"a large entry whose small one is damaged", true, true, true, nullptr, {"right", "right"}, "large.bin",
       small.size() + 2 * large},  // the same password given again stands: not decoded again
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir t;
    std::vector<zip::testing::TEntrySpec> specs;
    if (c.withSmall) {
      zip::testing::TEntrySpec s("small.txt", small);
      s.password = "right";
      if (c.passer) s.encryptionHeader = HeaderPassing(zip::testing::ZCrc(small), c.passer);
      if (c.damageSmall) s.crc = zip::testing::ZCrc(small) ^ 1;
      specs.push_back(s);
    }
    if (c.withLarge) {
      zip::testing::TEntrySpec l("large.bin", std::string(large, 'L'));
      l.password = "right";
      specs.push_back(l);
    }
    test::WriteFile(t / "enc.zip", zip::testing::BuildZip(specs));
    test::TScriptedPasswords passwords(c.answers);
    auto z = LoadOk(t / "enc.zip", &passwords);
    ASSERT_TRUE(z);
    const std::string data = test::ReadAll(*z, c.read);
    EXPECT_EQ(data.size(), std::string(c.read) == "small.txt" ? small.size() : large);
    EXPECT_EQ(data, std::string(c.read) == "small.txt" ? small : std::string(large, 'L'));
    EXPECT_EQ(z->BytesDecoded(), c.decoded);
    // Proved: the next read decodes its entry once, asking nobody.
    const size_t asked = passwords.asked.size();
    EXPECT_EQ(test::ReadAll(*z, c.read), data);
    EXPECT_EQ(z->BytesDecoded(), c.decoded + data.size());
    EXPECT_EQ(passwords.asked.size(), asked);
  }
}

TEST(ZipSource, ReadOnlyReasons) {
  VANTREL_NEED_TOOL("zip");
  TempDir t;
  test::WriteFile(t / "f.txt", test::Noise(100000, 1));
  Sh("cd " + Q(t.path()) + " && zip -q good.zip f.txt && cp good.zip ro.zip && chmod a-w ro.zip");
  // Cut in the middle of the central directory: readable in part, damaged.
  std::string bytes = test::ReadFile(t / "good.zip");
  test::WriteFile(t / "cut.zip", bytes.substr(0, bytes.size() - 30));
  struct {
    const char* file;
    bool writable;
    const char* reasonHas;
  } cases[] = {{"good.zip", true, ""}, {"cut.zip", false, "damaged"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto z = LoadOk(t / c.file);
    ASSERT_TRUE(z);
    const TCapabilities caps = z->Capabilities();
    EXPECT_EQ(caps.writable, c.writable);
    EXPECT_NE(caps.readOnlyReason.find(c.reasonHas), std::string::npos) << caps.readOnlyReason;
  }
  if (::geteuid() != 0) {
    auto ro = LoadOk(t / "ro.zip");
    EXPECT_FALSE(ro->Capabilities().writable);
  }
  auto nested = LoadOk(t / "good.zip");
  nested->SetReadOnly("Archives inside archives are read-only");
  EXPECT_FALSE(nested->Capabilities().writable);
  EXPECT_EQ(nested->Capabilities().readOnlyReason, "Archives inside archives are read-only");
  TError err;
  EXPECT_FALSE(nested->MakeDir("new", &err));
  EXPECT_EQ(err.code, EROFS);
  EXPECT_EQ(err.text, "Archives inside archives are read-only");
}

TEST(ZipSource, NotAZipArchiveIsRefused) {
  TempDir t;
  test::WriteFile(t / "text.zip", "just some text, long enough to be looked at properly");
  TError err;
  EXPECT_FALSE(TZipSource::Load(t / "text.zip", t / "text.zip", nullptr, &err));
  EXPECT_NE(err.text.find("text.zip"), std::string::npos);
  EXPECT_FALSE(TZipSource::Load(t / "missing.zip", t / "missing.zip", nullptr, &err));
}

TEST(ZipSource, StaleAfterAChangeOnDiskAndRefreshReadsAgain) {
  TempDir t;
  MakeZip(t / "s.zip", {{"one", "1"}});
  auto z = LoadOk(t / "s.zip");
  ASSERT_TRUE(z);
  EXPECT_FALSE(z->Stale());
  MakeZip(t / "s2.zip", {{"one", "1"}, {"two", "2"}});
  ASSERT_EQ(::rename((t / "s2.zip").c_str(), (t / "s.zip").c_str()), 0);
  EXPECT_TRUE(z->Stale());
  TError err;
  ASSERT_TRUE(z->Refresh(&err)) << err.text;
  EXPECT_FALSE(z->Stale());
  EXPECT_EQ(test::ListNames(*z, ""), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(z->Reads(), 2);
  ::unlink((t / "s.zip").c_str());
  EXPECT_TRUE(z->Stale());
}

TEST(ZipSource, StreamsFromMemoryAndFromAPrivateFile) {
  TempDir t;
  const std::string big = test::Noise(300000, 9);
  MakeZip(t / "m.zip", {{"small", "tiny"}, {"big", big, true}});
  auto z = LoadOk(t / "m.zip");
  ASSERT_TRUE(z);
  z->MemoryLimit = 1000;  // big goes through a temporary file
  for (const auto& [name, expected] : std::vector<std::pair<std::string, std::string>>{
           {"small", "tiny"}, {"big", big}}) {
    SCOPED_TRACE(name);
    TError err;
    auto s = z->Open(name, &err);
    ASSERT_TRUE(s) << err.text;
    EXPECT_EQ(s->Size(), expected.size());
    std::string got;
    char buf[7000];
    for (int64_t n; (n = s->Read(buf, sizeof buf, &err)) > 0;) got.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(got, expected);
  }
  TError err;
  EXPECT_FALSE(z->Open("", &err));
}

TEST(ZipSource, ProgressCanStopAReading) {
  TempDir t;
  MakeZip(t / "p.zip", {{"big", test::Noise(2000000, 4), true}});
  auto z = LoadOk(t / "p.zip");
  ASSERT_TRUE(z);
  struct TCount : TDataSink {
    bool Write(const void*, size_t n) override {
      bytes += n;
      return true;
    }
    size_t bytes = 0;
  } sink;
  TError err;
  EXPECT_FALSE(z->ReadInto("big", sink, [](uint64_t done, uint64_t) { return done < 100000; }, &err));
  EXPECT_EQ(err.code, ECANCELED);
  EXPECT_LT(sink.bytes, 2000000u);
}

TEST(ZipSource, RecognisedByContent) {
  VANTREL_NEED_TOOL("zip");
  TempDir t;
  test::WriteFile(t / "f", "data data data");
  Sh("cd " + Q(t.path()) + " && zip -q z.zip f && cp z.zip doc.docx && cp z.zip app.jar && "
     "(printf '#!/bin/sh\\nexit 0\\n'; cat z.zip) > sfx.bin && tar cf t.tar f && : > empty && mkfifo pipe.zip");
  test::WriteFile(t / "text.zip", "PK is not enough to be an archive, says this text");
  struct {
    const char* file;
    bool zip;
  } cases[] = {{"z.zip", true},   {"doc.docx", true}, {"app.jar", true}, {"sfx.bin", true},
               {"t.tar", false},  {"empty", false},   {"text.zip", false}, {"missing", false},
               {"", false},       {"pipe.zip", false}};  // a FIFO without a writer: no wait
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(IsZipArchive(t / c.file), c.zip);
  }
}

}  // namespace
}  // namespace vantrel::vfs
