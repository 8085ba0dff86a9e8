// zip_writer_support.h - helpers for the writer tests: an archive parser that
// does not use the engine's reader (so the two check each other), and the
// external oracles (unzip, 7-Zip, Python's zipfile).
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "zip/zip_errors.h"

namespace vantrel::zip::testing {

inline uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) | (static_cast<uint8_t>(b.at(at + 1)) << 8));
}
inline uint32_t Le32(const std::string& b, size_t at) {
  return Le16(b, at) | (static_cast<uint32_t>(Le16(b, at + 2)) << 16);
}

// One entry as both of its headers give it.
struct TRawEntry {
  uint16_t madeBy = 0, needed = 0, flags = 0, method = 0, internal = 0;
  uint16_t localFlags = 0;
  uint32_t crc = 0, csize = 0, usize = 0, external = 0, offset = 0;
  uint32_t localCrc = 0, localCsize = 0, localUsize = 0;
  std::string name, localName;
  size_t dataOffset = 0;  // first byte of the compressed data
};

struct TRawArchive {
  std::string bytes;
  std::vector<TRawEntry> entries;
  uint16_t totalEntries = 0;
  uint32_t cdOffset = 0, cdSize = 0;
};

// Parses an archive written without a comment: end record in the last 22
// bytes, central records from its offset, each local header from theirs.
inline TRawArchive ParseArchive(const std::string& path) {
  TRawArchive a;
  std::ifstream in(path, std::ios::binary);
  a.bytes.assign(std::istreambuf_iterator<char>(in), {});
  const std::string& b = a.bytes;
  size_t end = b.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) throw std::runtime_error("no end record");
  a.totalEntries = Le16(b, end + 10);
  a.cdSize = Le32(b, end + 12);
  a.cdOffset = Le32(b, end + 16);
  size_t p = a.cdOffset;
  for (int i = 0; i < a.totalEntries; ++i) {
    if (Le32(b, p) != 0x02014B50) throw std::runtime_error("bad central record");
    TRawEntry e;
    e.madeBy = Le16(b, p + 4), e.needed = Le16(b, p + 6), e.flags = Le16(b, p + 8), e.method = Le16(b, p + 10);
    e.crc = Le32(b, p + 16), e.csize = Le32(b, p + 20), e.usize = Le32(b, p + 24);
    e.internal = Le16(b, p + 36), e.external = Le32(b, p + 38), e.offset = Le32(b, p + 42);
    e.name = b.substr(p + 46, Le16(b, p + 28));
    p += 46 + Le16(b, p + 28) + Le16(b, p + 30) + Le16(b, p + 32);
    const size_t l = e.offset;
    if (Le32(b, l) != 0x04034B50) throw std::runtime_error("bad local header");
    e.localFlags = Le16(b, l + 6), e.localCrc = Le32(b, l + 14), e.localCsize = Le32(b, l + 18), e.localUsize = Le32(b, l + 22);
    e.localName = b.substr(l + 30, Le16(b, l + 26));
    e.dataOffset = l + 30 + Le16(b, l + 26) + Le16(b, l + 28);
    a.entries.push_back(e);
  }
  if (p != a.cdOffset + a.cdSize) throw std::runtime_error("central directory size mismatch");
  return a;
}

// n bytes that do not compress, the same for the same seed.
inline std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

inline std::string Quote(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

// "name|size|crc|yyyy-mm-dd hh:mm:ss" per file entry, sorted, from Python's
// zipfile after testzip() found nothing wrong; empty on failure.
inline std::string PythonListing(const std::string& archive) {
  std::string out;
  std::string script =
      "import sys,zipfile\n"
      "z=zipfile.ZipFile(sys.argv[1])\n"
      "bad=z.testzip()\n"
      "if bad: sys.exit('bad entry '+bad)\n"
      "rows=[]\n"
      "for i in z.infolist():\n"
      "  if i.is_dir(): continue\n"
      "  d=i.date_time\n"
      "  rows.append('%s|%d|%08x|%04d-%02d-%02d %02d:%02d:%02d'%((i.filename,i.file_size,i.CRC)+d))\n"
      "print('\\n'.join(sorted(rows)))\n";
  // The system interpreter starts fastest; any python3 will do.
  std::string python = std::ifstream("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  int rc = vantrel::test::RunCommand(python + " -c " + Quote(script) + " " + Quote(archive), &out);
  return rc == 0 ? out : std::string();
}

// Runs `body` in a child process whose files may not grow beyond `limit`
// bytes; returns the child's exit status (0 ok, 1 ENotEnoughRoom, 2 other).
inline int RunWithFileSizeLimit(rlim_t limit, const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl {limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    try {
      body();
    } catch (const ENotEnoughRoom&) {
      ::_exit(1);
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Writes `data` to `path` (making its directories) with a fixed modification
// time, so that archives of the same tree are the same bytes.
inline void Put(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  vantrel::test::WriteFile(path, data);
  vantrel::test::SetMTime(path, 1700000000);
}

// The names in `dir`, sorted.
inline std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace vantrel::zip::testing
