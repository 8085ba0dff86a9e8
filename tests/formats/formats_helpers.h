// formats_helpers.h - archives made at test time by the tools that make them
// on a Linux system, and the means to read them back.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "formats/stream_archive.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace vantrel::test {

// Skips the test, in one line, when a tool it needs is not installed.
#define VANTREL_NEED_TOOL(tool)                        \
  if (::vantrel::platform::FindProgram(tool).empty()) \
  GTEST_SKIP() << (tool) << " is not installed"

// A path quoted for the shell.
inline std::string Q(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command and fails the test (with its output) when it fails.
inline std::string Sh(const std::string& command) {
  std::string output;
  const int status = RunCommand(command + " 2>&1", &output);
  EXPECT_EQ(status, 0) << command << "\n" << output;
  return output;
}

// Some bytes that do not compress away, the same every run.
inline std::string Noise(size_t n, uint32_t seed) {
  std::string out(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x);
  }
  return out;
}

// The files of the tree every format packs, by path below the tree's root.
inline const std::map<std::string, std::string>& TreeFiles() {
  static const std::map<std::string, std::string> files = {
      {"hello.txt", "hello, world\n"},
      {"empty", ""},
      {"docs/readme.md", "# Read me\n\nSome text.\n"},
      {"docs/space name.txt", "a name with a space\n"},
      {"docs/deep/er/data.bin", Noise(300000, 7)},
  };
  return files;
}
// The time every entry of the tree gets: 2021-05-06 07:08:09 UTC.
inline constexpr int64_t kTreeTime = 1620284889;

// Makes the tree under `root`: the files above (hello.txt with mode 0640),
// their directories, and a symbolic link "link" to "hello.txt" when
// `withLink`.
inline void MakeTree(const std::string& root, bool withLink = true) {
  MakeDir(root);
  for (const auto& [path, data] : TreeFiles()) {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) Sh("mkdir -p " + Q(root + "/" + path.substr(0, slash)));
    WriteFile(root + "/" + path, data);
  }
  ::chmod((root + "/hello.txt").c_str(), 0640);
  if (withLink) { EXPECT_EQ(::symlink("hello.txt", (root + "/link").c_str()), 0); }
  Sh("find " + Q(root) + " -exec touch -h -d @" + std::to_string(kTreeTime) + " {} +");
}

// A stored name without "." components and "/" at its ends.
inline std::string Normal(std::string path) {
  for (size_t at; (at = path.find("/./")) != std::string::npos;) path.erase(at, 2);
  if (path.size() >= 2 && path.compare(path.size() - 2, 2, "/.") == 0) path.resize(path.size() - 2);
  while (path.rfind("./", 0) == 0) path.erase(0, 2);
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

// The members of a listed archive by normal name ("." and the root left out).
inline std::map<std::string, formats::TMember> ByName(const formats::TStreamArchive& archive) {
  std::map<std::string, formats::TMember> out;
  for (const formats::TMember& m : archive.Members()) {
    const std::string name = Normal(m.path);
    if (!name.empty() && name != ".") out[name] = m;
  }
  return out;
}

// Whether two byte strings are equal; says where they part when not
// (without printing megabytes of binary data).
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return ::testing::AssertionFailure() << got.size() << " bytes where " << want.size()
                                       << " were expected, differing from offset " << at;
}

class TStringSink final : public formats::TDataSink {
 public:
  bool Write(const void* data, size_t n) override {
    bytes.append(static_cast<const char*>(data), n);
    return true;
  }
  std::string bytes;
};

// Opens and lists an archive, failing the test when either fails.
inline std::unique_ptr<formats::TStreamArchive> OpenListed(const std::string& path) {
  formats::TArchiveError error;
  auto archive = formats::TStreamArchive::Open(path, &error);
  EXPECT_TRUE(archive) << path << ": " << error.text;
  if (!archive) return nullptr;
  const formats::TListState state = archive->List({});
  EXPECT_EQ(state, formats::TListState::Complete) << path << ": " << archive->Problem();
  return archive;
}

// The index of the member whose normal name is `name` (-1 when none).
inline int IndexOf(const formats::TStreamArchive& archive, const std::string& name) {
  const auto& members = archive.Members();
  for (size_t i = 0; i < members.size(); ++i)
    if (Normal(members[i].path) == name) return static_cast<int>(i);
  return -1;
}

// One member's data (empty with `ok` false when reading fails).
inline std::string ReadMember(formats::TStreamArchive& archive, const std::string& name, bool* ok = nullptr,
                              std::string* why = nullptr) {
  TStringSink sink;
  formats::TArchiveError error;
  const int index = IndexOf(archive, name);
  const bool read = index >= 0 && archive.ReadMember(static_cast<uint32_t>(index), sink, {}, &error);
  if (ok != nullptr) *ok = read;
  if (why != nullptr) *why = error.text;
  return sink.bytes;
}

}  // namespace vantrel::test
