// bench-links: vantrel_zip ZLIB::ZLIB
// CRC-32 throughput: Crc32Update against zlib's crc32 over the same data in
// the same run, on one large buffer and in 32768-byte pieces (the extraction
// loop's block size), plus the per-byte update the encryption keys use.
// MB = 10^6 bytes; best of several alternating rounds of
// thread processor time.
//
//   bench_crc32 [MB]
#include <zlib.h>

#include <algorithm>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "zip/codec/crc32.h"

using namespace vantrel::zip;

namespace {

// Processor time of this thread: on a machine shared with other jobs it
// counts only the time the measured code actually ran.
double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

template <class F>
double TimeOf(F fn, int reps) {
  const double t0 = CpuNow();
  for (int i = 0; i < reps; ++i) fn();
  return (CpuNow() - t0) / reps;
}

volatile uint32_t g_sink;

}  // namespace

int main(int argc, char** argv) {
  const size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  std::vector<uint8_t> data(mb << 20);
  std::mt19937_64 rng(1);
  for (size_t i = 0; i + 8 <= data.size(); i += 8) {
    const uint64_t v = rng();
    std::copy(reinterpret_cast<const uint8_t*>(&v), reinterpret_cast<const uint8_t*>(&v) + 8, data.begin() + i);
  }
  const uint8_t* p = data.data();
  const size_t n = data.size();

  if (~Crc32Update(0xFFFFFFFFu, p, n) != crc32(0L, p, static_cast<uInt>(n))) {
    std::fprintf(stderr, "results differ\n");
    return 1;
  }

  auto oursWhole = [&] { g_sink = Crc32Update(0xFFFFFFFFu, p, n); };
  auto zlibWhole = [&] { g_sink = static_cast<uint32_t>(crc32(0L, p, static_cast<uInt>(n))); };
  auto oursBlocks = [&] {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t off = 0; off < n; off += 32768) c = Crc32Update(c, p + off, std::min<size_t>(32768, n - off));
    g_sink = c;
  };
  auto zlibBlocks = [&] {
    uLong c = 0;
    for (size_t off = 0; off < n; off += 32768)
      c = crc32(c, p + off, static_cast<uInt>(std::min<size_t>(32768, n - off)));
    g_sink = static_cast<uint32_t>(c);
  };
  auto bytewise = [&] {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) c = Crc32Byte(c, p[i]);
    g_sink = c;
  };

  double ow = 1e30, zw = 1e30, ob = 1e30, zb = 1e30, bw = 1e30;
  for (int round = 0; round < 15; ++round) {
    ow = std::min(ow, TimeOf(oursWhole, 2));
    zw = std::min(zw, TimeOf(zlibWhole, 2));
    ob = std::min(ob, TimeOf(oursBlocks, 2));
    zb = std::min(zb, TimeOf(zlibBlocks, 2));
  }
  for (int round = 0; round < 2; ++round) bw = std::min(bw, TimeOf(bytewise, 1));
  const double bytes = static_cast<double>(n);
  std::printf("zlib %s, %zu MB of random data, MB = 10^6 bytes\n", zlibVersion(), mb);
  std::printf("whole buffer    ours %8.1f MB/s  zlib %8.1f MB/s  ratio %.2f\n", bytes / ow / 1e6, bytes / zw / 1e6, zw / ow);
  std::printf("32 KB pieces    ours %8.1f MB/s  zlib %8.1f MB/s  ratio %.2f\n", bytes / ob / 1e6, bytes / zb / 1e6, zb / ob);
  std::printf("per-byte table  ours %8.1f MB/s (the form the encryption keys use)\n", bytes / bw / 1e6);
  return 0;
}
