// bench-links: vantrel_zip ZLIB::ZLIB
// Inflate throughput: our decoder against zlib's raw inflate (windowBits -15)
// on the same deflate streams in the same run. The streams are made by zlib at
// level 6 from each Canterbury corpus file and from a large mixed file (a tar
// of a few shared libraries and /usr/include, built in /tmp at run time).
// Both decoders get their input in 32768-byte blocks and write into 32 KB
// output blocks that are then dropped, as an extraction that tests an archive
// would. Throughput is uncompressed megabytes (10^6 bytes) per second of
// thread processor time, the best of several alternating rounds.
//
//   bench_inflate [CORPUS_DIR] [MIXED_MB]
#include <zlib.h>

#include <algorithm>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "zip/codec/crc32.h"
#include "zip/codec/decode_io.h"

using namespace vantrel::zip;
using TBytes = std::vector<uint8_t>;

namespace {

// Processor time of this thread: on a machine shared with other jobs it
// counts only the time the measured code actually ran.
double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

TBytes ReadFile(const std::string& path, size_t limit = SIZE_MAX) {
  std::ifstream f(path, std::ios::binary);
  TBytes d;
  if (!f) return d;
  f.seekg(0, std::ios::end);
  const size_t size = std::min<size_t>(static_cast<size_t>(f.tellg()), limit);
  f.seekg(0);
  d.resize(size);
  f.read(reinterpret_cast<char*>(d.data()), static_cast<std::streamsize>(size));
  d.resize(static_cast<size_t>(f.gcount()));
  return d;
}

TBytes Deflate(const TBytes& in, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  TBytes out(deflateBound(&z, in.size()) + 64);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

class TBlockInput : public TDecodeInput {
 public:
  explicit TBlockInput(const TBytes& d) : d_(d) {}
  bool Refill() override {
    if (pos_ >= d_.size()) return false;
    const size_t n = std::min(kBlockSize, d_.size() - pos_);
    next = d_.data() + pos_;
    end = next + n;
    pos_ += n;
    return true;
  }

 private:
  const TBytes& d_;
  size_t pos_ = 0;
};

class TCountOutput : public TDecodeOutput {
 public:
  explicit TCountOutput(bool crc) : crc_(crc) {}
  void Write(const uint8_t* data, size_t n) override {
    total += n;
    if (crc_) running = Crc32Update(running, data, n);
  }
  uint64_t total = 0;
  uint32_t running = 0xFFFFFFFFu;

 private:
  bool crc_;
};

uint64_t OursOnce(const TBytes& z, TDecodeBuffers& buf, uint32_t* crc = nullptr) {
  TBlockInput in(z);
  TCountOutput out(crc != nullptr);
  if (Inflate(in, out, buf) != TDecodeResult::Ok) {
    std::fprintf(stderr, "our inflate failed\n");
    std::exit(1);
  }
  if (crc) *crc = ~out.running;
  return out.total;
}

uint64_t ZlibOnce(const TBytes& z, z_stream& s, uint8_t* outBuf, uint32_t* crc = nullptr) {
  inflateReset(&s);
  size_t pos = 0;
  uint64_t total = 0;
  uint32_t running = 0;
  int r = Z_OK;
  while (r != Z_STREAM_END) {
    if (s.avail_in == 0) {
      const size_t n = std::min(kBlockSize, z.size() - pos);
      s.next_in = const_cast<Bytef*>(z.data() + pos);
      s.avail_in = static_cast<uInt>(n);
      pos += n;
    }
    s.next_out = outBuf;
    s.avail_out = static_cast<uInt>(kBlockSize);
    r = inflate(&s, Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END) {
      std::fprintf(stderr, "zlib inflate failed: %d\n", r);
      std::exit(1);
    }
    const size_t got = kBlockSize - s.avail_out;
    if (crc) running = static_cast<uint32_t>(crc32(running, outBuf, static_cast<uInt>(got)));
    total += got;
  }
  if (crc) *crc = running;
  return total;
}

// Seconds per run of each of two functions: each round runs fn enough times
// to take about 0.2 seconds, the two alternate round by round (so both see the
// same machine load), and the best round counts.
template <class F, class G>
std::pair<double, double> BestTimes(F f, G g, int rounds = 5) {
  auto repsFor = [](auto fn) {
    int reps = 1;
    for (;;) {
      const double t0 = CpuNow();
      for (int i = 0; i < reps; ++i) fn();
      const double s = (CpuNow() - t0);
      if (s > 0.05) return std::max(1, static_cast<int>(reps * 0.2 / s));
      reps *= 4;
    }
  };
  auto timeOf = [](auto fn, int reps) {
    const double t0 = CpuNow();
    for (int i = 0; i < reps; ++i) fn();
    return (CpuNow() - t0) / reps;
  };
  const int rf = repsFor(f), rg = repsFor(g);
  double bf = 1e30, bg = 1e30;
  for (int r = 0; r < rounds; ++r) {
    bf = std::min(bf, timeOf(f, rf));
    bg = std::min(bg, timeOf(g, rg));
  }
  return {bf, bg};
}

struct TResult {
  double oursSec = 0, zlibSec = 0;
  uint64_t bytes = 0;
};

TResult Measure(const std::string& name, const TBytes& data, TDecodeBuffers& buf, z_stream& s,
                uint8_t* zout) {
  const TBytes z = Deflate(data, 6);
  uint32_t c1 = 0, c2 = 0;
  const uint64_t n1 = OursOnce(z, buf, &c1);
  const uint64_t n2 = ZlibOnce(z, s, zout, &c2);
  if (n1 != data.size() || n2 != data.size() || c1 != c2) {
    std::fprintf(stderr, "%s: outputs differ\n", name.c_str());
    std::exit(1);
  }
  TResult r;
  r.bytes = data.size();
  std::tie(r.oursSec, r.zlibSec) = BestTimes([&] { OursOnce(z, buf); }, [&] { ZlibOnce(z, s, zout); });
  std::printf("%-14s %10zu -> %9zu  ours %8.1f MB/s  zlib %8.1f MB/s  ratio %.2f\n", name.c_str(),
              data.size(), z.size(), r.bytes / r.oursSec / 1e6, r.bytes / r.zlibSec / 1e6,
              r.zlibSec / r.oursSec);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string corpus = argc > 1 ? argv[1] : "/work/shared/fixtures/corpus/canterbury";
  const size_t mixedMb = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100;

  auto buf = std::make_unique<TDecodeBuffers>();
  z_stream s{};
  inflateInit2(&s, -15);
  std::vector<uint8_t> zout(kBlockSize);

  std::printf("zlib %s; deflate level 6; MB = 10^6 bytes of output\n", zlibVersion());
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(corpus))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  TResult sum;
  for (const auto& f : files) {
    const TBytes data = ReadFile(f);
    if (data.empty()) continue;
    const TResult r = Measure(std::filesystem::path(f).filename().string(), data, *buf, s, zout.data());
    sum.bytes += r.bytes;
    sum.oursSec += r.oursSec;
    sum.zlibSec += r.zlibSec;
  }
  if (sum.bytes)
    std::printf("%-14s %10llu bytes        ours %8.1f MB/s  zlib %8.1f MB/s  ratio %.2f\n",
                "corpus total", static_cast<unsigned long long>(sum.bytes), sum.bytes / sum.oursSec / 1e6,
                sum.bytes / sum.zlibSec / 1e6, sum.zlibSec / sum.oursSec);

  if (mixedMb == 0) {
    inflateEnd(&s);
    return 0;
  }
  // The mixed file: shared libraries first, then headers, cut at MIXED_MB.
  const std::string tar = "/tmp/vantrel-bench-mixed.tar";
  const std::string cmd =
      "tar cf " + tar +
      " -C / --ignore-failed-read usr/lib/x86_64-linux-gnu/libx265.so.199"
      " usr/lib/x86_64-linux-gnu/librsvg-2.so.2.48.0 usr/lib/x86_64-linux-gnu/libstdc++.so.6"
      " usr/lib/x86_64-linux-gnu/libc.so.6 usr/include 2>/dev/null";
  if (std::system(cmd.c_str()) == -1) std::fprintf(stderr, "tar could not run\n");
  const TBytes mixed = ReadFile(tar, mixedMb << 20);
  std::filesystem::remove(tar);
  if (!mixed.empty()) Measure("mixed tar", mixed, *buf, s, zout.data());
  inflateEnd(&s);
  return 0;
}
