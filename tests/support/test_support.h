// test_support.h - small helpers shared by the engine tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// (write permissions restored first) when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const;

 private:
  std::string path_;
};

// "f12", "d3/": a name with a number, built by appending (GCC 12 misreads
// "f" + std::to_string(i) as an overlapping copy when it inlines it).
inline std::string Numbered(std::string_view prefix, long long n, std::string_view suffix = {}) {
  std::string name(prefix);
  name += std::to_string(n);
  name += suffix;
  return name;
}

void WriteFile(const std::string& path, std::string_view contents);
std::string ReadFile(const std::string& path);
void MakeDir(const std::string& path);
// Sets a file's modification (and access) time, in seconds since 1970.
void SetMTime(const std::string& path, int64_t seconds);

// The shared fixtures: other projects' test data, read in place from the
// folder VANTREL_FIXTURES names (an empty string when unset). A plain clone
// does not have them, so every test that needs them starts with
// VANTREL_NEED_FIXTURES("sub/folder"): it skips the test when the folder is
// missing and counts it, and the program reports the count in one line when
// it ends (see ReportExternalSkips).
std::string FixturesDir();
bool HaveFixtures(const std::string& sub);
#define VANTREL_NEED_FIXTURES(sub)                                                   \
  if (!::vantrel::test::HaveFixtures(sub))                                           \
  GTEST_SKIP() << "external fixtures not found: " << ::vantrel::test::FixturesDir() \
               << "/" << (sub)

// Runs a shell command; returns its exit status and collects its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// Restores the current directory when the test step ends.
class CurrentDirGuard {
 public:
  CurrentDirGuard();
  ~CurrentDirGuard();

 private:
  std::string saved_;
};

}  // namespace vantrel::test
