// bench-links: vantrel_zip ZLIB::ZLIB
// deflate.cpp - compression throughput of TDeflateCompressor against zlib's
// deflate at the same level (raw stream, windowBits -15, memLevel 8), memory
// to memory, on the Canterbury corpus (each file compressed on its own, as an
// archive does) and on a large mixed file built at run time: a tar of
// /usr/include cut to a size, followed by some shared libraries.
//
// Usage: bench_deflate [--levels 1,6,9] [--runs N] [--mixed-mb N] [--corpus DIR]
// Each figure is the best of N runs, in thread CPU time, the two engines
// taking turns. Both outputs are checked by inflating
// them with zlib before any figure is printed.
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "zip/codec/deflate_compress.h"

namespace fs = std::filesystem;
using TBytes = std::vector<uint8_t>;
using vantrel::zip::TDeflateCompressor;
using vantrel::zip::TDeflateSink;
using vantrel::zip::TMemoryDeflateSource;

namespace {

TBytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class TBufferSink final : public TDeflateSink {
 public:
  explicit TBufferSink(TBytes& out) : out_(out) {}
  void Write(const uint8_t* data, size_t n) override {
    if (size_ + n > out_.size()) out_.resize((size_ + n) * 2);
    std::memcpy(out_.data() + size_, data, n);
    size_ += n;
  }
  size_t size() const { return size_; }

 private:
  TBytes& out_;
  size_t size_ = 0;
};

size_t VantrelCompress(TDeflateCompressor& c, int level, const TBytes& in, TBytes& out) {
  TMemoryDeflateSource src(in.data(), in.size());
  TBufferSink sink(out);
  c.Deflate(level, src, sink);
  return sink.size();
}

size_t ZlibCompress(int level, const TBytes& in, TBytes& out) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  size_t bound = deflateBound(&z, in.size());
  if (out.size() < bound) out.resize(bound);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  size_t n = z.total_out;
  deflateEnd(&z);
  return n;
}

bool InflatesTo(const uint8_t* comp, size_t n, const TBytes& expected) {
  TBytes back(expected.size() + 1);
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(comp);
  z.avail_in = static_cast<uInt>(n);
  z.next_out = back.data();
  z.avail_out = static_cast<uInt>(back.size());
  int rc = inflate(&z, Z_FINISH);
  size_t got = z.total_out;
  inflateEnd(&z);
  return rc == Z_STREAM_END && got == expected.size() && std::equal(expected.begin(), expected.end(), back.begin());
}

// Thread CPU time: the machine may be shared, and CPU time is what the two
// engines spend; wall time would charge either with other processes' load.
double Now() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct TFigures {
  double seconds = 1e99;
  uint64_t compressed = 0;
};

// One timed pass of an engine over a set of files.
template <typename F>
void TimeOnce(const std::vector<TBytes>& files, TBytes& out, TFigures& best, F compress) {
  uint64_t total = 0;
  double t0 = Now();
  for (const auto& f : files) total += compress(f, out);
  best.seconds = std::min(best.seconds, Now() - t0);
  best.compressed = total;
}

void Verify(const std::vector<TBytes>& files, int level, TDeflateCompressor& c) {
  TBytes out(1 << 20);
  for (const auto& f : files) {
    TMemoryDeflateSource src(f.data(), f.size());
    TBufferSink sink(out);
    auto r = c.Deflate(level, src, sink);
    bool ok = r.CompressionMethod == 0 ? (sink.size() == f.size() && std::equal(f.begin(), f.end(), out.begin()))
                                       : InflatesTo(out.data(), sink.size(), f);
    size_t zn = ZlibCompress(level, f, out);
    if (!ok || !InflatesTo(out.data(), zn, f)) {
      std::fprintf(stderr, "verification failed at level %d\n", level);
      std::exit(1);
    }
  }
}

void RunSet(const char* name, const std::vector<TBytes>& files, const std::vector<int>& levels, int runs) {
  uint64_t inBytes = 0;
  for (const auto& f : files) inBytes += f.size();
  std::printf("\n%s: %zu file(s), %.1f MB\n", name, files.size(), inBytes / 1e6);
  std::printf("%-5s | %12s %8s %7s | %12s %8s %7s | %6s\n", "level", "vantrel", "MB/s", "ratio", "zlib", "MB/s",
              "ratio", "speed");
  TDeflateCompressor c;
  for (int level : levels) {
    Verify(files, level, c);
    // The engines take turns, so a change in the machine's load hits both.
    TFigures v, z;
    TBytes out(1 << 20);
    for (int r = 0; r < runs; r++) {
      TimeOnce(files, out, v, [&](const TBytes& f, TBytes& o) { return VantrelCompress(c, level, f, o); });
      TimeOnce(files, out, z, [&](const TBytes& f, TBytes& o) { return ZlibCompress(level, f, o); });
    }
    double vs = inBytes / v.seconds / 1e6, zs = inBytes / z.seconds / 1e6;
    std::printf("%-5d | %12llu %8.1f %6.2f%% | %12llu %8.1f %6.2f%% | %5.2fx\n", level,
                static_cast<unsigned long long>(v.compressed), vs, 100.0 * v.compressed / inBytes,
                static_cast<unsigned long long>(z.compressed), zs, 100.0 * z.compressed / inBytes, vs / zs);
    std::fflush(stdout);
  }
}

// The mixed file: a tar of /usr/include cut to `includeMb`, then shared libraries.
TBytes BuildMixed(size_t includeMb) {
  const std::string path = "/tmp/vantrel-bench-deflate-mixed-" + std::to_string(includeMb) + ".bin";
  if (!fs::exists(path)) {
    std::string cmd = "tar cf - -C /usr include 2>/dev/null | head -c " + std::to_string(includeMb << 20) + " > " +
                      path + ".tmp";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "tar of /usr/include failed\n");
    const char* libs[] = {"/usr/lib/x86_64-linux-gnu/libQt6Widgets.so.6", "/usr/lib/x86_64-linux-gnu/libstdc++.so.6",
                          "/usr/lib/x86_64-linux-gnu/libc.so.6", "/usr/lib/x86_64-linux-gnu/libpython3.11.so.1.0"};
    for (const char* lib : libs) {
      if (!fs::exists(lib)) continue;
      std::string c2 = std::string("cat ") + lib + " >> " + path + ".tmp";
      if (std::system(c2.c_str()) != 0) std::fprintf(stderr, "cannot append %s\n", lib);
    }
    fs::rename(path + ".tmp", path);
  }
  return ReadFile(path);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> levels = {1, 6, 9};
  int runs = 3;
  size_t mixedMb = 40;
  std::string corpus = "/work/shared/fixtures/corpus/canterbury";
  if (const char* f = std::getenv("VANTREL_FIXTURES")) corpus = std::string(f) + "/corpus/canterbury";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i], v = argv[i + 1];
    if (a == "--levels") {
      levels.clear();
      for (char ch : v)
        if (ch >= '1' && ch <= '9') levels.push_back(ch - '0');
    } else if (a == "--runs") {
      runs = std::max(1, std::atoi(v.c_str()));
    } else if (a == "--mixed-mb") {
      mixedMb = static_cast<size_t>(std::atoi(v.c_str()));
    } else if (a == "--corpus") {
      corpus = v;
    }
  }

  std::printf("deflate throughput (CPU time), best of %d run(s); zlib %s (raw, memLevel 8); speed = vantrel / zlib\n", runs,
              zlibVersion());
  std::vector<TBytes> files;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(corpus))
    if (e.is_regular_file()) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  for (const auto& n : names) files.push_back(ReadFile(n));
  if (!files.empty()) RunSet("Canterbury corpus", files, levels, runs);
  if (mixedMb > 0) RunSet("mixed (tar of /usr/include + shared libraries)", {BuildMixed(mixedMb)}, levels, runs);
  return 0;
}
