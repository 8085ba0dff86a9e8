// bench-links: vantrel_zip ZLIB::ZLIB PkgConfig::LIBDEFLATE
// CRC-32 throughput: Crc32Update (and each of its methods this processor
// runs) against zlib's and libdeflate's crc32 over the same data in the same
// rounds: one large buffer, 32 KB pieces (the extraction loop's block) and
// 4 KB pieces. MB = 10^6 bytes; best of N alternating rounds of thread
// processor time.
//
// "ours/this" is our speed divided by that line's.
//
//   bench_crc32 [MiB] [rounds]
#include <libdeflate.h>

#include <random>

#include "bench/codec_bench.h"
#include "zip/codec/crc32.h"

using namespace vantrel::zip;
using namespace vantrel::bench;

namespace {
volatile uint32_t g_sink;
}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
  TBytes data(mib << 20);
  std::mt19937_64 rng(1);
  for (size_t i = 0; i + 8 <= data.size(); i += 8) {
    const uint64_t v = rng();
    std::memcpy(data.data() + i, &v, 8);
  }
  const uint8_t* p = data.data();
  const size_t n = data.size();

  using TFn = uint32_t (*)(uint32_t, const uint8_t*, size_t);  // running value in, out (zlib form)
  struct TPeer {
    std::string name;
    TFn fn;
  };
  static TCrc32Kernel current;
  std::vector<TPeer> peers = {
      {std::string("ours (") + Crc32KernelName(Crc32ChosenKernel()) + ")",
       [](uint32_t c, const uint8_t* d, size_t k) { return ~Crc32Update(~c, d, k); }},
      {"zlib " + std::string(zlibVersion()),
       [](uint32_t c, const uint8_t* d, size_t k) { return static_cast<uint32_t>(crc32(c, d, static_cast<uInt>(k))); }},
      {"libdeflate " LIBDEFLATE_VERSION_STRING, [](uint32_t c, const uint8_t* d, size_t k) { return libdeflate_crc32(c, d, k); }},
  };
  const uint32_t expect = peers[1].fn(0, p, n);
  for (const auto& peer : peers) {
    if (peer.fn(0, p, n) != expect) {
      std::fprintf(stderr, "%s: result differs\n", peer.name.c_str());
      return 1;
    }
  }

  std::printf("%s; %zu MiB of random data; MB = 10^6 bytes; best of %d rounds, thread CPU time\n", CpuModel().c_str(),
              mib, rounds);
  for (size_t piece : {n, size_t{32768}, size_t{4096}}) {
    auto run = [&](TFn fn) {
      return [=] {
        uint32_t c = 0;
        for (size_t off = 0; off < n; off += piece) c = fn(c, p + off, std::min(piece, n - off));
        g_sink = c;
      };
    };
    const std::vector<double> t = BestTimes(rounds, 2, run(peers[0].fn), run(peers[1].fn), run(peers[2].fn));
    std::printf("\npieces of %zu bytes\n", piece);
    for (size_t i = 0; i < peers.size(); ++i)
      std::printf("  %-28s %9.0f MB/s   ours/this %.2f\n", peers[i].name.c_str(), n / t[i] / 1e6, t[i] / t[0]);
    // Each method on its own, for the record.
    for (TCrc32Kernel k : kCrc32Kernels) {
      if (!Crc32KernelSupported(k)) continue;
      current = k;
      const TFn fn = [](uint32_t c, const uint8_t* d, size_t len) { return ~Crc32UpdateWith(current, ~c, d, len); };
      const double tk = BestTimes(rounds, 2, run(fn))[0];
      std::printf("    method %-22s %9.0f MB/s\n", Crc32KernelName(k), n / tk / 1e6);
    }
  }
  return 0;
}
