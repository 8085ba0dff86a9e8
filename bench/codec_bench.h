// codec_bench.h - what the codec benchmarks share: thread processor time,
// alternating best-of-N timing, the processor's name, and the inputs (the
// Canterbury and Calgary corpora read in place, a mixed file of headers and
// shared libraries built at run time).
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::bench {

using TBytes = std::vector<uint8_t>;

// Processor time of this thread: on a machine shared with other jobs it
// counts only the time the measured code actually ran.
inline double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Seconds per call of each function: every round runs each function `reps`
// times, the functions take turns within the round (so all see the same load
// on the machine), and the best round counts.
template <class... F>
std::vector<double> BestTimes(int rounds, int reps, F... fns) {
  std::vector<double> best(sizeof...(F), 1e30);
  for (int r = 0; r < rounds; ++r) {
    size_t i = 0;
    auto one = [&](auto& fn) {
      const double t0 = CpuNow();
      for (int k = 0; k < reps; ++k) fn();
      best[i] = std::min(best[i], (CpuNow() - t0) / reps);
      ++i;
    };
    (one(fns), ...);
  }
  return best;
}

inline std::string CpuModel() {
  std::ifstream f("/proc/cpuinfo");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown processor";
}

inline TBytes ReadFile(const std::string& path, size_t limit = SIZE_MAX) {
  std::ifstream f(path, std::ios::binary);
  TBytes d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (d.size() > limit) d.resize(limit);
  return d;
}

inline std::string FixturesDir() {
  const char* env = std::getenv("VANTREL_FIXTURES");
  return env ? env : "/work/shared/fixtures";
}

inline uint16_t Le16(const TBytes& b, size_t p) { return static_cast<uint16_t>(b[p] | b[p + 1] << 8); }
inline uint32_t Le32(const TBytes& b, size_t p) { return Le16(b, p) | static_cast<uint32_t>(Le16(b, p + 2)) << 16; }

// The deflated members of a ZIP file, inflated by zlib: enough of the format
// for the two corpus archives (local headers one after another, sizes in the
// headers).
inline std::vector<std::pair<std::string, TBytes>> ZipMembers(const std::string& path) {
  std::vector<std::pair<std::string, TBytes>> out;
  const TBytes zip = ReadFile(path);
  size_t p = 0;
  while (p + 30 <= zip.size() && Le32(zip, p) == 0x04034b50) {
    const uint16_t method = Le16(zip, p + 8);
    const uint32_t csize = Le32(zip, p + 18), usize = Le32(zip, p + 22);
    const size_t nameLen = Le16(zip, p + 26), extraLen = Le16(zip, p + 28);
    const size_t data = p + 30 + nameLen + extraLen;
    if (data + csize > zip.size()) break;
    std::string name(reinterpret_cast<const char*>(zip.data() + p + 30), nameLen);
    TBytes member(usize);
    if (method == 8) {
      z_stream z{};
      inflateInit2(&z, -15);
      z.next_in = const_cast<Bytef*>(zip.data() + data);
      z.avail_in = csize;
      z.next_out = member.data();
      z.avail_out = usize;
      const int r = inflate(&z, Z_FINISH);
      inflateEnd(&z);
      if (r != Z_STREAM_END) member.clear();
    } else if (method == 0) {
      std::memcpy(member.data(), zip.data() + data, usize);
    } else {
      member.clear();
    }
    if (!member.empty()) out.emplace_back(std::move(name), std::move(member));
    p = data + csize;
  }
  return out;
}

// The Canterbury files (a directory) and the Calgary files (inside their
// archive), read in place; empty when the fixtures are not there.
inline std::vector<std::pair<std::string, TBytes>> CorpusFiles() {
  std::vector<std::pair<std::string, TBytes>> files;
  const std::filesystem::path dir = std::filesystem::path(FixturesDir()) / "corpus";
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir / "canterbury", ec))
    if (e.is_regular_file()) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  for (const auto& n : names) files.emplace_back(std::filesystem::path(n).filename().string(), ReadFile(n));
  for (auto& m : ZipMembers((dir / "calgary.zip").string())) files.push_back(std::move(m));
  return files;
}

// About `mb` MB of what archives hold on this kind of system: a tar of
// /usr/include (headers) followed by shared libraries, cached in /tmp.
inline TBytes MixedInput(size_t mb) {
  const std::string path = "/tmp/vantrel-bench-mixed-" + std::to_string(mb) + ".bin";
  if (!std::filesystem::exists(path)) {
    const size_t headers = mb * 1000000 * 3 / 5;
    std::string cmd = "tar cf - -C /usr include 2>/dev/null | head -c " + std::to_string(headers) + " > " + path + ".tmp";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "tar of /usr/include failed\n");
    for (const char* lib : {"libQt6Widgets.so.6", "libQt6Gui.so.6", "libQt6Core.so.6", "libstdc++.so.6", "libc.so.6",
                            "libpython3.11.so.1.0", "libx265.so.199"}) {
      const std::string full = std::string("/usr/lib/x86_64-linux-gnu/") + lib;
      if (!std::filesystem::exists(full)) continue;
      cmd = "cat " + full + " >> " + path + ".tmp";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot append %s\n", full.c_str());
    }
    std::filesystem::rename(path + ".tmp", path);
  }
  return ReadFile(path, mb * 1000000);
}

}  // namespace vantrel::bench
