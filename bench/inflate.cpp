// bench-links: vantrel_zip ZLIB::ZLIB PkgConfig::LIBDEFLATE
// Inflate throughput: our decoder against zlib's raw inflate and libdeflate's
// whole-buffer decompressor on the same deflate streams in the same rounds.
// The streams are made by zlib at level 6 from each file of the Canterbury
// and Calgary corpora (read in place; skipped when absent) and from a mixed
// file of headers and shared libraries built at run time, and short entries
// (256 bytes to 8 KB, 4 KB on average, each its own stream) cut from both, as
// an archive of small files holds them.
// Ours and zlib get their input in 32768-byte blocks and hand out 32 KB output
// blocks that are then dropped, as an extraction that tests an archive would;
// libdeflate decodes the whole stream into one buffer, its only mode.
// Throughput is uncompressed MB (10^6 bytes) per second of thread processor
// time, the best of several alternating rounds (taken per group of about
// 1 MB of output); "ratio" is our speed divided by the peer's.
//
//   bench_inflate [MIXED_MB] [ROUNDS]
#include <libdeflate.h>

#include <array>
#include <memory>

#include "bench/codec_bench.h"
#include "zip/codec/crc32.h"
#include "zip/codec/decode_io.h"

using namespace vantrel::zip;
using namespace vantrel::bench;

namespace {

TBytes ZlibDeflate(const TBytes& in, int level) {
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

struct TStream {
  TBytes z;
  size_t size = 0;
  uint32_t crc = 0;
};

struct TPeers {
  TDecodeBuffers* buf;
  z_stream* zs;
  libdeflate_decompressor* ld;
  TBytes zout = TBytes(kBlockSize);
  TBytes ldout;

  uint64_t Ours(const TStream& s, uint32_t* crc = nullptr) {
    TBlockInput in(s.z);
    TCountOutput out(crc != nullptr);
    if (Inflate(in, out, *buf) != TDecodeResult::Ok) Fail("our inflate");
    if (crc) *crc = ~out.running;
    return out.total;
  }
  uint64_t Zlib(const TStream& s, uint32_t* crc = nullptr) {
    inflateReset(zs);
    size_t pos = 0;
    uint64_t total = 0;
    uint32_t running = 0;
    int r = Z_OK;
    while (r != Z_STREAM_END) {
      if (zs->avail_in == 0) {
        const size_t n = std::min(kBlockSize, s.z.size() - pos);
        zs->next_in = const_cast<Bytef*>(s.z.data() + pos);
        zs->avail_in = static_cast<uInt>(n);
        pos += n;
      }
      zs->next_out = zout.data();
      zs->avail_out = static_cast<uInt>(kBlockSize);
      r = inflate(zs, Z_NO_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END) Fail("zlib inflate");
      const size_t got = kBlockSize - zs->avail_out;
      if (crc) running = static_cast<uint32_t>(crc32(running, zout.data(), static_cast<uInt>(got)));
      total += got;
    }
    if (crc) *crc = running;
    return total;
  }
  uint64_t Libdeflate(const TStream& s, uint32_t* crc = nullptr) {
    if (ldout.size() < s.size) ldout.resize(s.size);
    size_t got = 0;
    if (libdeflate_deflate_decompress(ld, s.z.data(), s.z.size(), ldout.data(), s.size, &got) != LIBDEFLATE_SUCCESS)
      Fail("libdeflate");
    if (crc) *crc = libdeflate_crc32(0, ldout.data(), got);
    return got;
  }
  static void Fail(const char* what) {
    std::fprintf(stderr, "%s failed\n", what);
    std::exit(1);
  }
};

// Times the three decoders over a set of streams (each set is one figure).
void Measure(const char* name, const std::vector<TStream>& streams, TPeers& p, int rounds) {
  uint64_t bytes = 0, zbytes = 0;
  for (const auto& s : streams) {
    uint32_t c1 = 0, c2 = 0, c3 = 0;
    const uint64_t n1 = p.Ours(s, &c1), n2 = p.Zlib(s, &c2), n3 = p.Libdeflate(s, &c3);
    if (n1 != s.size || n2 != s.size || n3 != s.size || c1 != s.crc || c2 != s.crc || c3 != s.crc) {
      std::fprintf(stderr, "%s: outputs differ\n", name);
      std::exit(1);
    }
    bytes += s.size;
    zbytes += s.z.size();
  }
  // Timed in groups of about 1 MB of output (a larger stream alone), the
  // three decoders one after another in turns; each figure is the sum over
  // the groups of the decoder's best of `rounds` timings. On a shared
  // machine a short timing more often runs undisturbed.
  std::vector<std::pair<size_t, size_t>> groups;
  for (size_t i = 0; i < streams.size();) {
    size_t j = i, sum = 0;
    while (j < streams.size() && sum < 1000000) sum += streams[j++].size;
    groups.emplace_back(i, j);
    i = j;
  }
  using TFn = uint64_t (TPeers::*)(const TStream&, uint32_t*);
  const TFn fns[3] = {&TPeers::Ours, &TPeers::Zlib, &TPeers::Libdeflate};
  std::vector<std::array<double, 3>> best(groups.size(), {1e30, 1e30, 1e30});
  for (int r = 0; r < rounds; ++r)
    for (size_t g = 0; g < groups.size(); ++g)
      for (int k = 0; k < 3; ++k) {
        const int d = (k + r + static_cast<int>(g)) % 3;
        const double t0 = CpuNow();
        for (size_t i = groups[g].first; i < groups[g].second; ++i) (p.*fns[d])(streams[i], nullptr);
        best[g][d] = std::min(best[g][d], CpuNow() - t0);
      }
  double t[3] = {};
  for (const auto& b : best)
    for (int d = 0; d < 3; ++d) t[d] += b[d];
  std::printf("%-28s %11llu -> %10llu  ours %7.1f  zlib %7.1f  libdeflate %7.1f MB/s  ratio %.2f / %.2f\n", name,
              static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(zbytes), bytes / t[0] / 1e6,
              bytes / t[1] / 1e6, bytes / t[2] / 1e6, t[1] / t[0], t[2] / t[0]);
  std::fflush(stdout);
}

TStream MakeStream(const TBytes& data) {
  TStream s;
  s.z = ZlibDeflate(data, 6);
  s.size = data.size();
  s.crc = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
  return s;
}

// Entries of 256 to 7936 bytes (4 KB on average) cut one after another from
// the inputs, up to about `total` bytes, each deflated on its own.
std::vector<TStream> ShortEntries(const std::vector<const TBytes*>& inputs, size_t total) {
  std::vector<TStream> out;
  uint32_t seed = 27;
  size_t made = 0;
  for (const TBytes* in : inputs) {
    for (size_t p = 0; p < in->size() && made < total;) {
      seed = seed * 1103515245u + 12345u;
      const size_t n = std::min<size_t>(256 + (seed >> 8) % 7681, in->size() - p);
      out.push_back(MakeStream(TBytes(in->begin() + static_cast<long>(p), in->begin() + static_cast<long>(p + n))));
      made += n;
      p += n;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mixedMb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 60;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;

  auto buf = std::make_unique<TDecodeBuffers>();
  z_stream zs{};
  inflateInit2(&zs, -15);
  TPeers peers{buf.get(), &zs, libdeflate_alloc_decompressor(), TBytes(kBlockSize), {}};

  std::printf("%s; zlib %s, libdeflate %s; streams by zlib level 6; best of %d rounds, thread CPU time\n"
              "ratio = our speed / zlib's and / libdeflate's\n",
              CpuModel().c_str(), zlibVersion(), LIBDEFLATE_VERSION_STRING, rounds);
  const auto corpus = CorpusFiles();
  std::vector<const TBytes*> shortSources;
  if (corpus.empty()) {
    std::printf("corpus: skipped (no %s/corpus)\n", FixturesDir().c_str());
  } else {
    std::vector<TStream> all;
    for (const auto& [name, data] : corpus) {
      all.push_back(MakeStream(data));
      shortSources.push_back(&data);
      if (argc > 3) Measure(name.c_str(), {all.back()}, peers, rounds);  // per file on request
    }
    Measure("Canterbury+Calgary", all, peers, rounds);
  }
  TBytes mixed;
  if (mixedMb > 0) {
    mixed = MixedInput(mixedMb);
    Measure(("mixed " + std::to_string(mixed.size() / 1000000) + " MB").c_str(), {MakeStream(mixed)}, peers, rounds);
    shortSources.push_back(&mixed);
  }
  if (!shortSources.empty()) Measure("short entries (mean 4 KB)", ShortEntries(shortSources, 8000000), peers, rounds);
  libdeflate_free_decompressor(peers.ld);
  inflateEnd(&zs);
  return 0;
}
