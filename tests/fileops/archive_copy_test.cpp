// Copying and moving from one archive into another, and from one folder of
// an archive into another folder of it: one rewrite of the destination,
// read back by unzip, 7zz and Python's zipfile; the destination byte for
// byte after a cancel or a failure; a move deletes only after the rewrite.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "fileops/source_copy.h"
#include "platform/process.h"
#include "tests/fileops/fileops_helpers.h"
#include "tests/vfs/vfs_helpers.h"
#include "vfs/archive_source.h"
#include "vfs/local_source.h"
#include "vfs/place.h"
#include "vfs/zip_source.h"

namespace vantrel::fileops {
namespace {

using testing::ScriptedPrompt;
using vantrel::test::Q;
using vantrel::test::Sh;
using vantrel::test::TempDir;

const std::string kBig = vantrel::test::Noise(3 << 20, 7);

// The archive passes every peer's test; the files Python's zipfile reads
// out of it, by name.
std::map<std::string, std::string> ReadByPeers(const std::string& archive) {
  Sh("unzip -tqq " + Q(archive));
  if (!platform::FindProgram("7zz").empty()) Sh("7zz t -bd " + Q(archive) + " >/dev/null");
  const std::string listing = Sh(
      "python3 -c 'import sys, zipfile, hashlib\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "for i in z.infolist():\n"
      "    if not i.is_dir(): print(i.filename, len(z.read(i)), hashlib.sha1(z.read(i)).hexdigest())' " +
      Q(archive));
  std::map<std::string, std::string> files;
  for (size_t at = 0; at < listing.size();) {
    const size_t end = listing.find('\n', at);
    const std::string line = listing.substr(at, end - at);
    at = end == std::string::npos ? listing.size() : end + 1;
    const size_t space = line.find(' ');
    if (space != std::string::npos) files[line.substr(0, space)] = line.substr(space + 1);
  }
  return files;
}

class ArchiveCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::FindProgram("zip").empty() || platform::FindProgram("unzip").empty())
      GTEST_SKIP() << "zip and unzip are needed";
    testing::MakeTree(t / "tree", {"hello.txt=hello", "docs/readme.md=read me", "docs/deep/big.bin=" + kBig,
                                   "docs/empty.txt="});
    Sh("cd " + Q(t / "tree") + " && zip -qr ../a.zip hello.txt docs && tar czf ../a.tar.gz hello.txt docs");
    if (!platform::FindProgram("7zz").empty()) Sh("cd " + Q(t / "tree") + " && 7zz a -bd ../a.7z hello.txt docs >/dev/null");
    testing::MakeTree(t / "other", {"kept.txt=kept"});
    Sh("cd " + Q(t / "other") + " && zip -qr ../b.zip kept.txt");
    copy.SetPrompt(&prompt);
  }
  std::unique_ptr<vfs::TZipSource> Zip(const std::string& name) {
    vfs::TError err;
    auto zip = vfs::TZipSource::Load(t / name, t / name, nullptr, &err);
    EXPECT_TRUE(zip) << err.text;
    return zip;
  }
  // Size and SHA-1 of `data`, as ReadByPeers gives them.
  std::string Digest(const std::string& data) {
    vantrel::test::WriteFile(t / "digest", data);
    const std::string sum = Sh("sha1sum " + Q(t / "digest"));
    return std::to_string(data.size()) + " " + sum.substr(0, sum.find(' '));
  }
  void Fail(const std::string& name) {
    for (const TFMMessage& m : copy.Failures()) ADD_FAILURE() << name << ": " << m.item << ": " << m.text << " / " << m.reason;
  }
  TempDir t;
  ScriptedPrompt prompt;
  TSourceCopy copy;
};

TEST_F(ArchiveCopyTest, BetweenArchivesAndInsideOne) {
  enum class TFrom { Zip, TarGz, SevenZip, Same };
  struct TCase {
    const char* what;
    TFrom from;
    std::string toDir;
    bool move;
    uint64_t memory;  // kept in memory before the private file takes the rest
    std::vector<std::string> left;  // the source's root afterwards (a.zip)
    std::string dest;               // the destination's root
  } cases[] = {
      {"zip -> zip", TFrom::Zip, "", false, 64u << 20, {"docs/", "hello.txt"}, "docs/ hello.txt kept.txt"},
      {"zip -> zip, all through the private file", TFrom::Zip, "", false, 0, {"docs/", "hello.txt"},
       "docs/ hello.txt kept.txt"},
      {"zip -> zip, some in memory", TFrom::Zip, "", false, 1 << 20, {"docs/", "hello.txt"}, "docs/ hello.txt kept.txt"},
      {"tar.gz -> zip", TFrom::TarGz, "", false, 64u << 20, {"docs/", "hello.txt"}, "docs/ hello.txt kept.txt"},
      {"7z -> zip", TFrom::SevenZip, "", false, 64u << 20, {"docs/", "hello.txt"}, "docs/ hello.txt kept.txt"},
      {"zip -> zip, moved", TFrom::Zip, "", true, 64u << 20, {}, "docs/ hello.txt kept.txt"},
      {"zip -> its own folder", TFrom::Same, "docs/deep", false, 64u << 20, {"docs/", "hello.txt"}, "docs/ hello.txt"},
      {"zip -> its own folder, moved", TFrom::Same, "docs/deep", true, 64u << 20, {"docs/"}, "docs/"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.from == TFrom::SevenZip && platform::FindProgram("7zz").empty()) continue;
    Sh("cd " + Q(t.path()) + " && cp a.zip a-work.zip && cp b.zip b-work.zip");
    prompt = ScriptedPrompt();
    copy.ReadAheadMemory = c.memory;
    vfs::TError err;
    std::unique_ptr<vfs::TZipSource> zipFrom = Zip("a-work.zip");
    std::unique_ptr<vfs::TArchiveSource> other;
    if (c.from == TFrom::TarGz) other = vfs::TArchiveSource::Load(t / "a.tar.gz", t / "a.tar.gz", nullptr, &err);
    if (c.from == TFrom::SevenZip) other = vfs::TArchiveSource::Load(t / "a.7z", t / "a.7z", nullptr, &err);
    vfs::TSource& from = other ? static_cast<vfs::TSource&>(*other) : *zipFrom;
    std::unique_ptr<vfs::TZipSource> zipTo = c.from == TFrom::Same ? nullptr : Zip("b-work.zip");
    vfs::TSource& to = zipTo ? *zipTo : *zipFrom;
    const std::string destName = zipTo ? "b-work.zip" : "a-work.zip";
    // In its own folder only the names that are not the folder's parent.
    const std::vector<std::string> names =
        c.from == TFrom::Same ? std::vector<std::string>{"hello.txt"} : std::vector<std::string>{"hello.txt", "docs"};
    if (c.move)
      copy.Move(names, from, "", to, c.toDir);
    else
      copy.Copy(names, from, "", to, c.toDir);
    Fail(c.what);
    EXPECT_TRUE(prompt.log.empty()) << prompt.log.front();
    EXPECT_EQ(copy.Completed(), names);

    // What the peers read out of the destination.
    const std::map<std::string, std::string> got = ReadByPeers(t / destName);
    const std::string at = c.toDir.empty() ? "" : c.toDir + "/";
    EXPECT_EQ(got.at(at + "hello.txt"), Digest("hello"));
    if (names.size() > 1) {
      EXPECT_EQ(got.at(at + "docs/readme.md"), Digest("read me"));
      EXPECT_EQ(got.at(at + "docs/deep/big.bin"), Digest(kBig));
      EXPECT_EQ(got.at(at + "docs/empty.txt"), Digest(""));
      EXPECT_EQ(got.at("kept.txt"), Digest("kept"));
    }
    // The same through a new reading of both archives.
    auto dest = Zip(destName);
    std::string root;
    for (const std::string& n : vantrel::test::ListNames(*dest, "")) root += (root.empty() ? "" : " ") + n;
    EXPECT_EQ(root, c.dest);
    if (zipTo) {
      auto source = Zip("a-work.zip");
      EXPECT_EQ(vantrel::test::ListNames(*source, ""), c.left);
      if (!c.left.empty()) ReadByPeers(t / "a-work.zip");
    } else {
      EXPECT_EQ(vantrel::test::ListNames(*dest, ""), c.left);
      EXPECT_EQ(vantrel::test::ReadAll(*dest, "docs/deep/big.bin"), kBig);
    }
  }
}

// The stored bytes of every file entry (its local header but the name, its
// extra fields and data), by name: what a move inside an archive must keep
// (it renames, never decodes or compresses again).
std::map<std::string, std::string> StoredBytes(const std::string& archive) {
  const std::string listing = Sh(
      "python3 -c 'import sys, zipfile, struct, hashlib\n"
      "f = open(sys.argv[1], \"rb\")\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "    if i.is_dir(): continue\n"
      "    f.seek(i.header_offset)\n"
      "    h = f.read(30)\n"
      "    n, e = struct.unpack(\"<HH\", h[26:30])\n"
      "    f.seek(i.header_offset + 30 + n)\n"
      "    print(i.filename, hashlib.sha1(h[4:26] + f.read(e + i.compress_size)).hexdigest())' " +
      Q(archive));
  std::map<std::string, std::string> out;
  for (size_t at = 0; at < listing.size();) {
    const size_t end = listing.find('\n', at);
    const std::string line = listing.substr(at, end - at);
    at = end == std::string::npos ? listing.size() : end + 1;
    const size_t space = line.find(' ');
    if (space != std::string::npos) out[line.substr(0, space)] = line.substr(space + 1);
  }
  return out;
}

// F6 inside one archive: the entries take their new names in one rewrite
// with their stored bytes; a directory that is there already takes the
// moved one's files (after the question for a file of the same name), and
// what is left of the moved directory goes only when all of it went.
TEST_F(ArchiveCopyTest, MovesInsideAnArchiveRename) {
  testing::MakeTree(t / "tree", {"into/docs/readme.md=an older readme", "into/docs/own.txt=own"});
  Sh("cd " + Q(t / "tree") + " && zip -qr ../a.zip into");  // with into/, into/docs/ of their own
  const std::map<std::string, std::string> before = StoredBytes(t / "a.zip");
  struct TCase {
    const char* what;
    std::vector<std::string> names;
    std::string toDir;
    std::vector<TOverwriteAnswer> answers;
    std::map<std::string, std::string> renamed;  // new name -> old name, stored bytes the same
    std::vector<std::string> root;               // the root afterwards
    std::vector<std::string> questions;
  } cases[] = {
      {"a directory to where none is", {"docs"}, "into/deep", {},
       {{"into/deep/docs/readme.md", "docs/readme.md"}, {"into/deep/docs/deep/big.bin", "docs/deep/big.bin"}},
       {"hello.txt", "into/"}, {}},
      {"merged, the file there replaced", {"docs", "hello.txt"}, "into", {TOverwriteAnswer::Yes},
       {{"into/docs/readme.md", "docs/readme.md"}, {"into/docs/deep/big.bin", "docs/deep/big.bin"},
        {"into/docs/own.txt", "into/docs/own.txt"}, {"into/hello.txt", "hello.txt"}},
       {"into/"}, {"?Overwrite file docs/readme.md?"}},
      {"merged, the file there kept", {"docs"}, "into", {TOverwriteAnswer::No},
       {{"into/docs/readme.md", "into/docs/readme.md"}, {"into/docs/deep/big.bin", "docs/deep/big.bin"},
        {"docs/readme.md", "docs/readme.md"}},
       {"docs/", "hello.txt", "into/"}, {"?Overwrite file docs/readme.md?"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    Sh("cd " + Q(t.path()) + " && cp a.zip a-work.zip");
    prompt = ScriptedPrompt();
    prompt.overwriteAnswers.assign(c.answers.begin(), c.answers.end());
    auto zip = Zip("a-work.zip");
    copy.Move(c.names, *zip, "", *zip, c.toDir);
    Fail(c.what);
    EXPECT_EQ(prompt.log, c.questions);
    EXPECT_EQ(vantrel::test::ListNames(*Zip("a-work.zip"), ""), c.root);
    ReadByPeers(t / "a-work.zip");
    const std::map<std::string, std::string> after = StoredBytes(t / "a-work.zip");
    for (const auto& [now, was] : c.renamed) {
      ASSERT_TRUE(after.count(now)) << now;
      EXPECT_EQ(after.at(now), before.at(was)) << now;
    }
    // Nothing else came or went: every stored file is one it was.
    size_t files = before.size();
    for (const auto& [now, was] : c.renamed)
      if (now != was && before.count(now)) --files;  // replaced
    EXPECT_EQ(after.size(), files);
  }
}

// Questions, Cancel, damaged entries, a destination that changed or cannot
// be changed: the destination is rewritten whole or stays byte for byte,
// and a move deletes nothing of what did not go in.
TEST_F(ArchiveCopyTest, AnswersAndFailures) {
  Sh("cd " + Q(t / "other") + " && printf 'old hello' > hello.txt && zip -qr ../b.zip hello.txt");
  // A copy of a.zip whose big entry is damaged in its data.
  std::string bytes = vantrel::test::ReadFile(t / "a.zip");
  const size_t big = bytes.find("docs/deep/big.bin");
  bytes[big + 17 + 28 + 5000] ^= 0x5a;
  vantrel::test::WriteFile(t / "damaged.zip", bytes);
  const std::string pristine = vantrel::test::ReadFile(t / "b.zip");

  enum class TTrouble { None, Damaged, Stale, ReadOnly, CancelReading };
  struct TCase {
    const char* what;
    TTrouble trouble;
    bool move;
    std::vector<TOverwriteAnswer> overwrite;
    std::vector<TMessageAnswer> messages;
    std::vector<bool> abort;
    bool changed;                       // the destination was rewritten
    std::string hello;                  // hello.txt in the destination afterwards
    std::vector<std::string> left;      // the source's root afterwards
    std::vector<std::string> texts;     // the messages shown
  } cases[] = {
      {"Cancel at the question", TTrouble::None, true, {TOverwriteAnswer::Cancel}, {}, {}, false, "old hello",
       {"docs/", "hello.txt"}, {}},
      {"No keeps the old one, the rest goes in", TTrouble::None, true, {TOverwriteAnswer::No}, {}, {}, true,
       "old hello", {"hello.txt"}, {}},
      {"Yes replaces", TTrouble::None, false, {TOverwriteAnswer::Yes}, {}, {}, true, "hello",
       {"docs/", "hello.txt"}, {}},
      {"a damaged entry skipped", TTrouble::Damaged, true, {TOverwriteAnswer::Yes}, {TMessageAnswer::Ok}, {}, true,
       "hello", {"docs/"}, {"Could not copy file docs/deep/big.bin"}},
      {"a damaged entry, Abort", TTrouble::Damaged, true, {TOverwriteAnswer::Yes}, {TMessageAnswer::Abort}, {},
       false, "old hello", {"docs/", "hello.txt"}, {"Could not copy file docs/deep/big.bin"}},
      {"cancelled while reading", TTrouble::CancelReading, true, {TOverwriteAnswer::Yes}, {}, {true}, false,
       "old hello", {"docs/", "hello.txt"}, {}},
      {"the destination changed on disk", TTrouble::Stale, true, {TOverwriteAnswer::Yes}, {TMessageAnswer::Ok}, {},
       false, "old hello", {"docs/", "hello.txt"}, {"Could not copy file " + (t / "b-work.zip")}},
      {"a destination inside an archive", TTrouble::ReadOnly, true, {}, {TMessageAnswer::Ok}, {}, false, "old hello",
       {"docs/", "hello.txt"}, {"Could not copy file " + (t / "b-work.zip")}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    Sh("cd " + Q(t.path()) + " && cp " + (c.trouble == TTrouble::Damaged ? "damaged.zip" : "a.zip") +
       " a-work.zip && cp b.zip b-work.zip");
    prompt = ScriptedPrompt();
    prompt.overwriteAnswers.assign(c.overwrite.begin(), c.overwrite.end());
    prompt.messageAnswers.assign(c.messages.begin(), c.messages.end());
    prompt.abortAnswers.assign(c.abort.begin(), c.abort.end());
    copy.ReadAheadMemory = 1 << 20;
    copy.ProgressInterval = std::chrono::milliseconds(0);
    copy.OnGlobalDone = {};
    auto from = Zip("a-work.zip");
    auto to = Zip("b-work.zip");
    if (c.trouble == TTrouble::ReadOnly) to->SetReadOnly(vfs::TPlaceOpener::kNestedReadOnly);
    if (c.trouble == TTrouble::Stale) Sh("sleep 0.01; touch " + Q(t / "b-work.zip"));
    const std::string before = vantrel::test::ReadFile(t / "b-work.zip");
    if (c.trouble == TTrouble::CancelReading)
      copy.OnGlobalDone = [](TSourceCopy& cp, int percent) {
        if (percent > 10) cp.OperationAborted = true;
      };
    if (c.move)
      copy.Move({"hello.txt", "docs"}, *from, "", *to, "");
    else
      copy.Copy({"hello.txt", "docs"}, *from, "", *to, "");
    EXPECT_EQ(prompt.MessageTexts(), c.texts);
    if (c.trouble == TTrouble::ReadOnly) {
      ASSERT_EQ(prompt.messages.size(), 1u);
      EXPECT_EQ(prompt.messages[0].reason, vfs::TPlaceOpener::kNestedReadOnly);
    }
    const std::string after = vantrel::test::ReadFile(t / "b-work.zip");
    EXPECT_EQ(after != before, c.changed);
    if (c.changed) ReadByPeers(t / "b-work.zip");
    auto dest = Zip("b-work.zip");
    EXPECT_EQ(vantrel::test::ReadAll(*dest, "hello.txt"), c.hello);
    EXPECT_EQ(vantrel::test::ListNames(*Zip("a-work.zip"), ""), c.left);
    if (c.trouble == TTrouble::Damaged && c.changed) {
      EXPECT_EQ(vantrel::test::ReadAll(*dest, "docs/readme.md"), "read me");
      EXPECT_EQ(vantrel::test::ListNames(*dest, "docs/deep"), std::vector<std::string>{});
      // What did not go in stays in the source.
      EXPECT_EQ(vantrel::test::ListNames(*Zip("a-work.zip"), "docs/deep"), std::vector<std::string>{"big.bin"});
    }
  }
}

// Each file entry of an archive as stored: the SHA-1 of its data (from the
// end of its local header, CompressedSize bytes), whether it is encrypted
// and its method, "<sha1> <encrypted> <method>", by name.
std::map<std::string, std::string> StoredData(const std::string& archive) {
  const std::string listing = Sh(
      "python3 -c 'import sys, zipfile, struct, hashlib\n"
      "f = open(sys.argv[1], \"rb\")\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "    if i.is_dir(): continue\n"
      "    f.seek(i.header_offset)\n"
      "    n, e = struct.unpack(\"<HH\", f.read(30)[26:30])\n"
      "    f.seek(i.header_offset + 30 + n + e)\n"
      "    print(i.filename, hashlib.sha1(f.read(i.compress_size)).hexdigest(), i.flag_bits & 1, i.compress_type)' " +
      Q(archive));
  std::map<std::string, std::string> out;
  for (size_t at = 0; at < listing.size();) {
    const size_t end = listing.find('\n', at);
    const std::string line = listing.substr(at, end - at);
    at = end == std::string::npos ? listing.size() : end + 1;
    const size_t space = line.find(' ');
    if (space != std::string::npos) out[line.substr(0, space)] = line.substr(space + 1);
  }
  return out;
}

// Encrypted entries copied or moved from one archive into another, or to
// another folder of the same one, keep their stored bytes: they stay
// encrypted under the same password, no password is asked, and every peer
// decodes them with it (and refuses a wrong one). Plain entries of the same
// copy go through their data as before. Out to a directory they are
// decoded, the password asked once.
TEST_F(ArchiveCopyTest, EncryptedEntriesStayEncrypted) {
  const bool have7z = !platform::FindProgram("7zz").empty();
  const std::string secret = "the secret text", bigSecret = vantrel::test::Noise(3 << 19, 11);
  testing::MakeTree(t / "enc", {"secret.txt=" + secret, "deep/big.bin=" + bigSecret, "plain.txt=plain",
                                "into/own.txt=own"});
  // Traditional encryption by zip, AES-256 by 7zz; plain.txt and into/ go in
  // without a password.
  Sh("cd " + Q(t / "enc") + " && zip -q -P right ../trad.zip secret.txt deep/big.bin && zip -qr ../trad.zip plain.txt into");
  if (have7z)
    Sh("cd " + Q(t / "enc") + " && 7zz a -bd -tzip -mem=AES256 -pright ../aes.zip secret.txt deep >/dev/null && "
       "7zz a -bd -tzip ../aes.zip plain.txt into >/dev/null");
  enum class TOp { Copy, Move, CopyInside, MoveInside, Rename };
  struct TCase {
    const char* what;
    TOp op;
    uint64_t memory;
    std::map<std::string, std::string> moved;  // the destination's entry -> the source's entry
  };
  const std::vector<TCase> ops = {
      {"copied into another archive", TOp::Copy, 64u << 20,
       {{"secret.txt", "secret.txt"}, {"deep/big.bin", "deep/big.bin"}}},
      {"copied into another archive through the private file", TOp::Copy, 0,
       {{"secret.txt", "secret.txt"}, {"deep/big.bin", "deep/big.bin"}}},
      {"moved into another archive", TOp::Move, 1 << 20,
       {{"secret.txt", "secret.txt"}, {"deep/big.bin", "deep/big.bin"}}},
      {"copied to a folder of the same archive", TOp::CopyInside, 64u << 20,
       {{"into/secret.txt", "secret.txt"}, {"into/deep/big.bin", "deep/big.bin"}}},
      {"moved to a folder of the same archive", TOp::MoveInside, 64u << 20,
       {{"into/secret.txt", "secret.txt"}, {"into/deep/big.bin", "deep/big.bin"}}},
      {"renamed", TOp::Rename, 64u << 20, {{"renamed.txt", "secret.txt"}}},
  };
  for (const char* kind : {"trad", "aes"}) {
    const bool aes = std::string(kind) == "aes";
    if (aes && !have7z) continue;
    const std::string original = t / (std::string(kind) + ".zip");
    const std::map<std::string, std::string> stored = StoredData(original);
    ASSERT_EQ(stored.at("secret.txt").substr(41, 1), "1");
    ASSERT_EQ(stored.at("deep/big.bin").substr(43) == "99", aes);
    for (const TCase& c : ops) {
      SCOPED_TRACE(std::string(kind) + ": " + c.what);
      Sh("cd " + Q(t.path()) + " && cp " + Q(original) + " a-work.zip && cp b.zip b-work.zip");
      prompt = ScriptedPrompt();
      copy.ReadAheadMemory = c.memory;
      vantrel::test::TScriptedPasswords none({});
      vfs::TError err;
      auto from = vfs::TZipSource::Load(t / "a-work.zip", t / "a-work.zip", &none, &err);
      auto other = vfs::TZipSource::Load(t / "b-work.zip", t / "b-work.zip", &none, &err);
      ASSERT_TRUE(from && other) << err.text;
      const bool inside = c.op == TOp::CopyInside || c.op == TOp::MoveInside || c.op == TOp::Rename;
      const std::vector<std::string> names{"secret.txt", "deep", "plain.txt"};
      switch (c.op) {
        case TOp::Copy: copy.Copy(names, *from, "", *other, ""); break;
        case TOp::Move: copy.Move(names, *from, "", *other, ""); break;
        case TOp::CopyInside: copy.Copy(names, *from, "", *from, "into"); break;
        case TOp::MoveInside: copy.Move(names, *from, "", *from, "into"); break;
        case TOp::Rename: EXPECT_TRUE(from->Rename("secret.txt", "renamed.txt", &err)) << err.text; break;
      }
      Fail(c.what);
      EXPECT_TRUE(none.asked.empty()) << none.asked.front();
      const std::string dest = t / (inside ? "a-work.zip" : "b-work.zip");
      // The same stored bytes, still encrypted, under the new names.
      const std::map<std::string, std::string> after = StoredData(dest);
      for (const auto& [now, was] : c.moved) {
        ASSERT_TRUE(after.count(now)) << now;
        EXPECT_EQ(after.at(now), stored.at(was)) << now;
      }
      if (c.op != TOp::Rename) {
        const std::string at = inside ? "into/" : "";
        ASSERT_TRUE(after.count(at + "plain.txt"));
        EXPECT_EQ(after.at(at + "plain.txt").substr(41, 1), "0");
      }
      // Every peer decodes them with the password, and 7zz refuses a wrong one.
      if (!aes) {
        Sh("unzip -tqq -P right " + Q(dest));
        const std::string read = Sh(
            "python3 -c 'import sys, zipfile, hashlib\n"
            "z = zipfile.ZipFile(sys.argv[1])\n"
            "z.setpassword(b\"right\")\n"
            "for n in sys.argv[2:]: print(hashlib.sha1(z.read(n)).hexdigest())' " +
            Q(dest) + " " + Q(c.moved.begin()->first) + " " + Q(std::prev(c.moved.end())->first));
        const std::string first = c.moved.begin()->second == "secret.txt" ? secret : bigSecret;
        const std::string last = std::prev(c.moved.end())->second == "secret.txt" ? secret : bigSecret;
        EXPECT_EQ(read, Digest(first).substr(Digest(first).find(' ') + 1) + "\n" +
                            Digest(last).substr(Digest(last).find(' ') + 1) + "\n");
      }
      if (have7z) {
        Sh("7zz t -bd -pright " + Q(dest) + " >/dev/null");
        EXPECT_NE(vantrel::test::RunCommand("7zz t -bd -pwrong " + Q(dest) + " >/dev/null 2>&1"), 0);
      }
      // And so does this program, asking once.
      vantrel::test::TScriptedPasswords right({"right"});
      auto reread = vfs::TZipSource::Load(dest, dest, &right, &err);
      ASSERT_TRUE(reread) << err.text;
      for (const auto& [now, was] : c.moved)
        EXPECT_EQ(vantrel::test::ReadAll(*reread, now), was == "secret.txt" ? secret : bigSecret) << now;
      EXPECT_EQ(right.asked.size(), 1u);
      // A move took them out of the source only after the rewrite.
      if (c.op == TOp::Move) {
        EXPECT_EQ(vantrel::test::ListNames(*Zip("a-work.zip"), ""), (std::vector<std::string>{"into/"}));
      }
    }
    // From a set of volumes an encrypted entry cannot go as stored: it is
    // refused with the reason, never copied decoded; the plain one goes.
    if (!aes) {
      SCOPED_TRACE("from a set of volumes");
      Sh("cd " + Q(t.path()) + " && rm -f split.z* && zip -q -s 512k " + Q(original) + " --out split.zip && cp b.zip b-work.zip");
      vantrel::test::TScriptedPasswords none({});
      vfs::TError err;
      auto from = vfs::TZipSource::Load(t / "split.zip", t / "split.zip", &none, &err);
      auto other = vfs::TZipSource::Load(t / "b-work.zip", t / "b-work.zip", &none, &err);
      ASSERT_TRUE(from && other) << err.text;
      prompt = ScriptedPrompt();
      copy.Copy({"secret.txt", "plain.txt"}, *from, "", *other, "");
      ASSERT_EQ(prompt.messages.size(), 1u);
      EXPECT_EQ(prompt.messages[0].item, "secret.txt");
      EXPECT_EQ(prompt.messages[0].error, ENOTSUP);
      EXPECT_TRUE(none.asked.empty());
      const std::map<std::string, std::string> after = StoredData(t / "b-work.zip");
      EXPECT_EQ(after.count("secret.txt"), 0u);
      ASSERT_EQ(after.count("plain.txt"), 1u);
    }
    // Out to a directory they are decoded, the password asked once.
    SCOPED_TRACE(std::string(kind) + ": out to a directory");
    const std::string outDir = t / (std::string("out-") + kind);
    vantrel::test::MakeDir(outDir);
    vantrel::test::TScriptedPasswords right({"right"});
    vfs::TError err;
    auto from = vfs::TZipSource::Load(original, original, &right, &err);
    vfs::TLocalSource out(outDir);
    prompt = ScriptedPrompt();
    copy.Copy({"secret.txt", "deep"}, *from, "", out, "");
    Fail("out");
    EXPECT_EQ(vantrel::test::ReadFile(outDir + "/secret.txt"), secret);
    EXPECT_EQ(vantrel::test::ReadFile(outDir + "/deep/big.bin"), bigSecret);
    EXPECT_EQ(right.asked.size(), 1u);
  }
}

// A small file system of its own (tmpfs) at `dir`, for a disk that is too
// small or fills up; Mounted() is false where none can be mounted.
class TSmallDisk {
 public:
  TSmallDisk(const std::string& dir, const std::string& size) : dir_(dir) {
    vantrel::test::MakeDir(dir);
    mounted_ = ::geteuid() == 0 &&
               vantrel::test::RunCommand("mount -t tmpfs -o size=" + size + " tmpfs " + Q(dir) + " 2>/dev/null") == 0;
  }
  ~TSmallDisk() {
    if (mounted_) vantrel::test::RunCommand("umount " + Q(dir_));
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// A source that fills the disk `fill` names when its first file is read:
// after the room was checked, before anything is written.
class TFillingSource final : public vfs::TSource {
 public:
  TFillingSource(vfs::TSource& inner, std::string fill) : inner_(inner), fill_(std::move(fill)) {}
  std::string Root() const override { return inner_.Root(); }
  vfs::TCapabilities Capabilities() const override { return inner_.Capabilities(); }
  bool List(const std::string& inner, std::vector<vfs::TEntry>& out, vfs::TError* err) override {
    return inner_.List(inner, out, err);
  }
  bool Stat(const std::string& inner, vfs::TEntry& out, vfs::TError* err) override { return inner_.Stat(inner, out, err); }
  bool ReadInto(const std::string& inner, vfs::TDataSink& sink, const vfs::TProgress& progress,
                vfs::TError* err) override {
    if (!fill_.empty()) vantrel::test::RunCommand("dd if=/dev/zero of=" + Q(fill_ + "/filler") + " bs=64k 2>/dev/null");
    fill_.clear();
    return inner_.ReadInto(inner, sink, progress, err);
  }
  bool Apply(const vfs::TChangeSet& changes, const vfs::TProgress& progress, vfs::TError* err) override {
    return inner_.Apply(changes, progress, err);
  }

 private:
  vfs::TSource& inner_;
  std::string fill_;
};

// Before a copy from one archive into another the file systems it writes on
// are asked for the room it needs (the data kept aside, the rewritten
// archive): too little is refused with what is needed and what is free.
// A disk that fills up anyway on the way leaves the destination byte for
// byte, says that the disk is full, and a move deletes nothing.
TEST_F(ArchiveCopyTest, RoomIsCheckedAndAFullDiskChangesNothing) {
  const std::string mnt = t / "small";
  const std::string data = vantrel::test::Noise(2 << 20, 5);  // does not compress
  testing::MakeTree(t / "room", {"big.bin=" + data, "small.txt=small"});
  Sh("cd " + Q(t / "room") + " && zip -q ../room.zip big.bin small.txt");
  enum class TWhere { Destination, Spool };
  struct TCase {
    const char* what;
    TWhere where;      // what lies on the small disk
    const char* size;  // of the small disk
    uint64_t memory;
    bool fills;        // the disk fills up after the check
    size_t messages;   // each file kept aside is one (Skip), the room or the rewrite one
    std::vector<std::string> said;  // in each message's reason
  } cases[] = {
      {"the destination's disk is too small", TWhere::Destination, "1m", 64u << 20, false, 1,
       {"Not enough free space in " + mnt + ": the copy needs ", " bytes are free; nothing was changed"}},
      {"the disk of the data kept aside is too small", TWhere::Spool, "1m", 0, false, 1,
       {"Not enough free space in " + mnt + ": the copy needs "}},
      {"the destination's disk fills up on the way", TWhere::Destination, "8m", 64u << 20, true, 1,
       {"The disk is full", "the archive was left as it was"}},
      {"the disk of the data kept aside fills up on the way", TWhere::Spool, "8m", 0, true, 2,
       {"The disk is full: no room left in " + mnt}},
  };
  const char* tmp = std::getenv("TMPDIR");
  const std::string oldTmp = tmp ? tmp : "";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TSmallDisk disk(mnt, c.size);
    if (!disk.Mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root)";
    const std::string dest = c.where == TWhere::Destination ? mnt + "/b.zip" : t / "b-work.zip";
    Sh("cd " + Q(t.path()) + " && cp room.zip a-work.zip && cp b.zip " + Q(dest));
    if (c.where == TWhere::Spool) ::setenv("TMPDIR", mnt.c_str(), 1);
    const std::string before = vantrel::test::ReadFile(dest);
    const std::string source = vantrel::test::ReadFile(t / "a-work.zip");
    prompt = ScriptedPrompt();
    copy.ReadAheadMemory = c.memory;
    auto from = Zip("a-work.zip");
    vfs::TError err;
    auto to = vfs::TZipSource::Load(dest, dest, nullptr, &err);
    ASSERT_TRUE(to) << err.text;
    TFillingSource filling(*from, c.fills ? mnt : std::string());
    copy.Move({"big.bin", "small.txt"}, filling, "", *to, "");
    if (oldTmp.empty())
      ::unsetenv("TMPDIR");
    else
      ::setenv("TMPDIR", oldTmp.c_str(), 1);
    EXPECT_EQ(prompt.messages.size(), c.messages);
    for (const TFMMessage& m : prompt.messages) {
      EXPECT_EQ(m.error, ENOSPC);
      for (const std::string& part : c.said) EXPECT_NE(m.reason.find(part), std::string::npos) << m.reason;
    }
    EXPECT_TRUE(copy.Completed().empty());
    EXPECT_EQ(vantrel::test::ReadFile(dest), before);
    EXPECT_EQ(vantrel::test::ReadFile(t / "a-work.zip"), source);
    // Nothing is left behind on the small disk.
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(mnt)) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected;
    if (c.where == TWhere::Destination) expected.push_back("b.zip");
    if (c.fills) expected.push_back("filler");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
  }
}

}  // namespace
}  // namespace vantrel::fileops
