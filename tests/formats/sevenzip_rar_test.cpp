// 7z and RAR: encrypted 7z archives (their data, or their listing too) read
// through 7-Zip with a password asked for once, hostile 7z members, and RAR
// 4 and 5 archives built here byte by byte (no free tool writes RAR) and
// checked by 7-Zip before we read them.
#include <gtest/gtest.h>

#include "tests/formats/formats_helpers.h"
#include "zip/codec/crc32.h"

namespace vantrel::test {
namespace {

using formats::TArchiveError;
using formats::TListState;
using formats::TMemberData;
using formats::TMemberKind;
using formats::TStreamArchive;

// A password query that answers from a list and counts the questions.
struct TAnswers {
  std::vector<std::string> answers;
  std::vector<bool> agains;
  formats::TPasswordQuery Query() {
    return [this](bool again, std::string& password) {
      agains.push_back(again);
      if (agains.size() > answers.size()) return false;
      password = answers[agains.size() - 1];
      return true;
    };
  }
};

// plain.txt without encryption, two files with the password "s3cret".
std::string MakeMixed7z(const TempDir& dir) {
  MakeDir(dir / "m");
  WriteFile(dir / "m/plain.txt", "not secret\n");
  WriteFile(dir / "m/one.txt", "first secret\n");
  WriteFile(dir / "m/a*b [c].txt", Noise(100000, 5));
  const std::string archive = dir / "mixed.7z";
  Sh("cd " + Q(dir / "m") + " && 7zz a " + Q(archive) + " plain.txt >/dev/null && 7zz a -ps3cret " + Q(archive) +
     " one.txt 'a*b [c].txt' >/dev/null");
  return archive;
}

TEST(Encrypted7z, AsksForThePasswordOnceAndReadsThroughSevenZip) {
  VANTREL_NEED_TOOL("7zz");
  TempDir dir;
  const std::string archive = MakeMixed7z(dir);
  auto a = OpenListed(archive);
  ASSERT_TRUE(a);
  EXPECT_FALSE(ByName(*a).at("plain.txt").encrypted);
  EXPECT_TRUE(ByName(*a).at("one.txt").encrypted);
  TAnswers answers{{"wrong", "s3cret"}, {}};
  TStreamArchive::TReadOptions options;
  options.password = answers.Query();
  std::vector<uint32_t> all;
  for (const char* name : {"plain.txt", "one.txt", "a*b [c].txt"}) all.push_back(static_cast<uint32_t>(IndexOf(*a, name)));
  std::map<std::string, std::string> got;
  TArchiveError error;
  ASSERT_TRUE(a->ReadMembers(all, [&](uint32_t index, TMemberData& data) {
    TStringSink sink;
    TArchiveError why;
    EXPECT_TRUE(data.Read(sink, &why)) << why.text;
    got[a->Members()[index].path] = sink.bytes;
    return true;
  }, options, &error)) << error.text;
  EXPECT_EQ(got["plain.txt"], "not secret\n");
  EXPECT_EQ(got["one.txt"], "first secret\n");
  EXPECT_TRUE(SameBytes(got["a*b [c].txt"], Noise(100000, 5)));
  EXPECT_EQ(answers.agains, (std::vector<bool>{false, true}));
  EXPECT_TRUE(a->PasswordKnown());
  // Known now: no more questions.
  TStringSink sink;
  EXPECT_TRUE(a->ReadMember(static_cast<uint32_t>(IndexOf(*a, "one.txt")), sink, options, &error));
  EXPECT_EQ(sink.bytes, "first secret\n");
  EXPECT_EQ(answers.agains.size(), 2u);
}

TEST(Encrypted7z, WithoutAPasswordOnlyTheEncryptedMembersFail) {
  VANTREL_NEED_TOOL("7zz");
  TempDir dir;
  auto a = OpenListed(MakeMixed7z(dir));
  ASSERT_TRUE(a);
  TAnswers none;
  TStreamArchive::TReadOptions options;
  options.password = none.Query();
  std::map<std::string, bool> ok;
  std::map<std::string, std::string> why;
  std::vector<uint32_t> all;
  for (const char* name : {"plain.txt", "one.txt"}) all.push_back(static_cast<uint32_t>(IndexOf(*a, name)));
  EXPECT_TRUE(a->ReadMembers(all, [&](uint32_t index, TMemberData& data) {
    TStringSink sink;
    TArchiveError error;
    ok[a->Members()[index].path] = data.Read(sink, &error);
    why[a->Members()[index].path] = error.text;
    return true;
  }, options, nullptr));
  EXPECT_TRUE(ok["plain.txt"]);
  EXPECT_FALSE(ok["one.txt"]);
  EXPECT_EQ(why["one.txt"], "encrypted: no password was given");
}

TEST(Encrypted7z, AnEncryptedListingIsListedWithThePassword) {
  VANTREL_NEED_TOOL("7zz");
  TempDir dir;
  MakeTree(dir / "src", false);
  const std::string archive = dir / "hidden.7z";
  Sh("cd " + Q(dir / "src") + " && 7zz a -mhe=on -pp4ss " + Q(archive) + " . >/dev/null");
  const formats::TArchiveKind kind = formats::ProbeArchive(archive);
  EXPECT_EQ(kind.name, "7z");
  EXPECT_TRUE(kind.encryptedHeaders);
  auto a = TStreamArchive::Open(archive, nullptr);
  ASSERT_TRUE(a);
  TAnswers answers{{"nope", "p4ss"}, {}};
  TStreamArchive::TListEvents events;
  events.password = answers.Query();
  ASSERT_EQ(a->List(events), TListState::Complete) << a->Problem();
  EXPECT_EQ(answers.agains, (std::vector<bool>{false, true}));
  const auto members = ByName(*a);
  for (const auto& [path, data] : TreeFiles()) {
    ASSERT_TRUE(members.count(path)) << path;
    EXPECT_EQ(members.at(path).size, data.size());
    EXPECT_TRUE(SameBytes(ReadMember(*a, path), data)) << path;
  }
  EXPECT_EQ(members.at("docs").kind, TMemberKind::Directory);
  EXPECT_EQ(members.at("hello.txt").mode, 0640u);
  EXPECT_EQ(members.at("hello.txt").writeTime, platform::FileTimeFromUnix(kTreeTime, 0));
  EXPECT_EQ(answers.agains.size(), 2u) << "asked once per archive";

  // Without the password nothing is listed, and that is said.
  auto b = TStreamArchive::Open(archive, nullptr);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->List({}), TListState::Damaged);
  EXPECT_EQ(b->Problem(), "the archive's listing is encrypted: no password was given");
}

TEST(Hostile7z, NamesAreToldAsStoredAndATruncatedArchiveSaysSo) {
  VANTREL_NEED_TOOL("7zz");
  TempDir dir;
  MakeDir(dir / "a/sub");
  MakeDir(dir / "b/evil");
  WriteFile(dir / "abs.txt", "absolute\n");
  WriteFile(dir / "a/outside.txt", "outside\n");
  WriteFile(dir / "b/evil/passwd", "through the link\n");
  ASSERT_EQ(::symlink("/tmp", (dir / "a/evil").c_str()), 0);
  const std::string archive = dir / "x.7z";
  Sh("cd " + Q(dir / "a/sub") + " && 7zz a -spf " + Q(archive) + " " + Q(dir / "abs.txt") +
     " ../outside.txt >/dev/null && cd .. && 7zz a -snl " + Q(archive) + " evil >/dev/null && cd " +
     Q(dir / "b") + " && 7zz a " + Q(archive) + " evil/passwd >/dev/null");
  auto a = OpenListed(archive);
  ASSERT_TRUE(a);
  std::vector<std::string> paths;
  for (const auto& m : a->Members()) paths.push_back(m.path);
  EXPECT_EQ(paths, (std::vector<std::string>{dir / "abs.txt", "../outside.txt", "evil", "evil/passwd"}));
  EXPECT_EQ(a->Members()[2].kind, TMemberKind::Symlink);
  EXPECT_EQ(a->Members()[2].linkTarget, "/tmp");
  EXPECT_EQ(ReadMember(*a, "evil/passwd"), "through the link\n");

  const std::string data = ReadFile(archive);
  WriteFile(dir / "cut.7z", data.substr(0, data.size() - 40));
  auto cut = TStreamArchive::Open(dir / "cut.7z", nullptr);
  ASSERT_TRUE(cut) << "still a 7z archive by its start";
  EXPECT_EQ(cut->List({}), TListState::Damaged);
  EXPECT_FALSE(cut->Problem().empty());
}

// ------------------------------------------------------------ RAR

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
void PutVint(std::string& s, uint64_t v) {
  do {
    uint8_t b = v & 0x7F;
    v >>= 7;
    if (v != 0) b |= 0x80;
    s += static_cast<char>(b);
  } while (v != 0);
}
uint32_t Crc(const std::string& s) { return zip::Crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

struct TRarFile {
  std::string name;  // "/"-separated
  std::string data;
  bool directory;
};
const std::vector<TRarFile> kRarFiles = {
    {"docs", "", true},
    {"docs/inner.txt", "inside the directory\n", false},
    {"hello.txt", "hello from rar\n", false},
};

// A RAR 4 archive with stored (uncompressed) files.
std::string Rar4(const std::vector<TRarFile>& files) {
  auto block = [](const std::string& body) {  // body: from HEAD_TYPE on
    std::string out;
    Put16(out, Crc(body) & 0xFFFF);
    return out + body;
  };
  std::string out("Rar!\x1a\x07\x00", 7);
  std::string main;
  main += '\x73';
  Put16(main, 0);
  Put16(main, 13);
  Put16(main, 0);
  Put32(main, 0);
  out += block(main);
  for (const TRarFile& f : files) {
    std::string name = f.name;
    for (char& c : name)
      if (c == '/') c = '\\';
    std::string h;
    h += '\x74';
    Put16(h, 0x8000 | (f.directory ? 0x00E0 : 0));
    Put16(h, static_cast<uint32_t>(32 + name.size()));
    Put32(h, static_cast<uint32_t>(f.data.size()));
    Put32(h, static_cast<uint32_t>(f.data.size()));
    h += '\x03';  // Unix
    Put32(h, f.directory ? 0 : Crc(f.data));
    Put32(h, (41u << 25) | (5u << 21) | (6u << 16) | (7u << 11) | (8u << 5) | 4u);  // 2021-05-06 07:08:08
    h += '\x14';
    h += '\x30';  // stored
    Put16(h, static_cast<uint32_t>(name.size()));
    Put32(h, f.directory ? 040755 : 0100644);
    h += name;
    out += block(h) + f.data;
  }
  std::string end;
  end += '\x7b';
  Put16(end, 0x4000);
  Put16(end, 7);
  return out + block(end);
}

// A RAR 5 archive with stored files.
std::string Rar5(const std::vector<TRarFile>& files) {
  auto block = [](const std::string& body) {
    std::string sized;
    PutVint(sized, body.size());
    sized += body;
    std::string out;
    Put32(out, Crc(sized));
    return out + sized;
  };
  std::string out("Rar!\x1a\x07\x01\x00", 8);
  std::string main;
  PutVint(main, 1);  // main archive header
  PutVint(main, 0);
  PutVint(main, 0);
  out += block(main);
  for (const TRarFile& f : files) {
    std::string h;
    PutVint(h, 2);  // file header
    PutVint(h, 0x0002);  // a data area (empty for a directory)
    PutVint(h, f.data.size());
    PutVint(h, (f.directory ? 0x0001 : 0) | 0x0002 | (f.directory ? 0 : 0x0004));  // dir, mtime, crc
    PutVint(h, f.data.size());
    PutVint(h, f.directory ? 040755 : 0100644);
    Put32(h, static_cast<uint32_t>(kTreeTime));
    if (!f.directory) Put32(h, Crc(f.data));
    PutVint(h, 0);  // stored
    PutVint(h, 1);  // Unix
    PutVint(h, f.name.size());
    h += f.name;
    out += block(h) + f.data;
  }
  std::string end;
  PutVint(end, 5);
  PutVint(end, 0);
  PutVint(end, 0);
  return out + block(end);
}

bool SevenZipReadsRar() {
  std::string formats;
  return !platform::FindProgram("7zz").empty() && RunCommand("7zz i", &formats) == 0 &&
         formats.find(" Rar5 ") != std::string::npos;
}

TEST(RarArchive, Version4And5AreListedAndRead) {
  TempDir dir;
  const std::pair<const char*, std::string> archives[] = {{"v4.rar", Rar4(kRarFiles)}, {"v5.rar", Rar5(kRarFiles)}};
  for (const auto& [name, bytes] : archives) {
    SCOPED_TRACE(name);
    const std::string path = dir / name;
    WriteFile(path, bytes);
    // 7-Zip, an independent reader, takes them for sound RAR archives (where
    // it was built with RAR support: Debian's is not).
    if (SevenZipReadsRar()) {
      std::string output;
      EXPECT_EQ(RunCommand("7zz t " + Q(path) + " 2>&1", &output), 0) << output;
    }
    EXPECT_EQ(formats::ProbeArchive(path).name, "RAR");
    auto a = OpenListed(path);
    ASSERT_TRUE(a);
    const auto members = ByName(*a);
    ASSERT_EQ(members.size(), kRarFiles.size());
    for (const TRarFile& f : kRarFiles) {
      ASSERT_TRUE(members.count(f.name)) << f.name;
      EXPECT_EQ(members.at(f.name).kind, f.directory ? TMemberKind::Directory : TMemberKind::File) << f.name;
      if (!f.directory) { EXPECT_EQ(ReadMember(*a, f.name), f.data) << f.name; }
    }
  }
}

}  // namespace
}  // namespace vantrel::test
