// The decoders over bzip2, LZMA, XZ and Zstandard: streams made by the
// libraries' own encoders decode byte for byte whatever the input block size;
// truncated and damaged streams end as data errors (never a crash, a hang or
// more output than the stream holds); a throwing output frees the decoder.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <lzma.h>
#include <zstd.h>

#include <functional>
#include <random>

#include "tests/zip/decoders_support.h"
#include "zip/codec/library_decoders.h"

namespace vantrel::zip {
namespace {

using testing::NewBuffers;
using testing::TBytes;
using testing::TMemInput;
using testing::TMemOutput;

// Text with repeats, then random bytes, then a long run: every kind of block.
TBytes SampleData(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  static const char* words[] = {"archive ", "entry ", "window\n", "stream ", "block, ", "data. "};
  TBytes d;
  while (d.size() < n / 2) {
    const char* w = words[rng() % 6];
    d.insert(d.end(), w, w + std::strlen(w));
  }
  while (d.size() < n * 3 / 4) d.push_back(static_cast<uint8_t>(rng()));
  d.resize(n, 'z');
  return d;
}

TBytes Bzip2(const TBytes& d) {
  TBytes out(d.size() + d.size() / 100 + 600);
  unsigned len = static_cast<unsigned>(out.size());
  char none = 0;  // libbz2 refuses a null source even for no bytes
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                               d.empty() ? &none : const_cast<char*>(reinterpret_cast<const char*>(d.data())),
                               static_cast<unsigned>(d.size()), 9, 0, 0) != BZ_OK)
    throw std::runtime_error("bzip2");
  out.resize(len);
  return out;
}

TBytes Xz(const TBytes& d) {
  TBytes out(lzma_stream_buffer_bound(d.size()));
  size_t pos = 0;
  if (lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, d.data(), d.size(), out.data(), &pos,
                              out.size()) != LZMA_OK)
    throw std::runtime_error("xz");
  out.resize(pos);
  return out;
}

// The ZIP LZMA layout: version 9.20, properties size 5, properties, then the
// raw stream with or without the end marker.
TBytes Lzma(const TBytes& d, bool endMarker) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  opt.dict_size = 1 << 16;
  opt.ext_flags = endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  TBytes out(d.size() + d.size() / 2 + 1024);
  out[0] = 9;
  out[1] = 20;
  out[2] = 5;
  out[3] = 0;
  if (lzma_properties_encode(&filters[0], out.data() + 4) != LZMA_OK)
    throw std::runtime_error("lzma properties");
  size_t pos = 9;
  if (lzma_raw_buffer_encode(filters, nullptr, d.data(), d.size(), out.data(), &pos, out.size()) !=
      LZMA_OK)
    throw std::runtime_error("lzma");
  out.resize(pos);
  return out;
}

TBytes Zstd(const TBytes& d) {
  TBytes out(ZSTD_compressBound(d.size()));
  size_t n = ZSTD_compress(out.data(), out.size(), d.data(), d.size(), 9);
  if (ZSTD_isError(n)) throw std::runtime_error("zstd");
  out.resize(n);
  return out;
}

struct TMethod {
  const char* name;
  std::function<TBytes(const TBytes&)> encode;
  std::function<TDecodeResult(TDecodeInput&, TDecodeOutput&, TDecodeBuffers&, uint64_t)> decode;
};

const std::vector<TMethod>& Methods() {
  static const std::vector<TMethod> methods = {
      {"bzip2", Bzip2,
       [](TDecodeInput& i, TDecodeOutput& o, TDecodeBuffers& b, uint64_t) {
         return Bunzip2(i, o, b);
       }},
      {"lzma+marker", [](const TBytes& d) { return Lzma(d, true); },
       [](TDecodeInput& i, TDecodeOutput& o, TDecodeBuffers& b, uint64_t n) {
         return UnLzma(i, o, b, n, true);
       }},
      {"lzma", [](const TBytes& d) { return Lzma(d, false); },
       [](TDecodeInput& i, TDecodeOutput& o, TDecodeBuffers& b, uint64_t n) {
         return UnLzma(i, o, b, n, false);
       }},
      {"xz", Xz, UnXz},
      {"zstd", Zstd, UnZstd},
  };
  return methods;
}

TDecodeResult Decode(const TMethod& m, const TBytes& stream, uint64_t size, TBytes* out,
                     size_t block = kBlockSize, size_t limit = SIZE_MAX) {
  auto buf = NewBuffers();
  TMemInput in(stream, block);
  TMemOutput sink(limit);
  const TDecodeResult r = m.decode(in, sink, *buf, size);
  EXPECT_FALSE(sink.badBlock) << m.name << ": a block was empty or longer than 32768 bytes";
  if (out) *out = sink.data();
  return r;
}

TEST(LibraryDecodersTest, DecodeWhateverTheInputBlockSize) {
  for (size_t n : {size_t{0}, size_t{1}, size_t{32768}, size_t{200000}}) {
    const TBytes data = SampleData(n, static_cast<uint32_t>(n));
    for (const TMethod& m : Methods()) {
      const TBytes stream = m.encode(data);
      for (size_t block : {size_t{1}, size_t{13}, kBlockSize}) {
        if (block == 1 && n > 40000) continue;  // byte by byte only on small streams
        TBytes out;
        EXPECT_EQ(Decode(m, stream, data.size(), &out, block), TDecodeResult::Ok)
            << m.name << " size " << n << " block " << block;
        EXPECT_TRUE(out == data) << m.name << " size " << n << " block " << block;
      }
    }
  }
}

TEST(LibraryDecodersTest, TruncatedStreamsAreDataErrorsWithShortOutput) {
  const TBytes data = SampleData(150000, 7);
  for (const TMethod& m : Methods()) {
    const TBytes stream = m.encode(data);
    for (size_t keep : {size_t{0}, size_t{3}, stream.size() / 2, stream.size() - 1}) {
      const TBytes cut(stream.begin(), stream.begin() + static_cast<long>(keep));
      TBytes out;
      EXPECT_EQ(Decode(m, cut, data.size(), &out), TDecodeResult::DataError)
          << m.name << " cut to " << keep;
      // What came out is a true beginning of the data (a stream cut in its
      // trailer may have delivered all of it, but still reports the cut).
      ASSERT_LE(out.size(), data.size()) << m.name;
      EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin())) << m.name;
      if (keep <= stream.size() / 2) {
        EXPECT_LT(out.size(), data.size()) << m.name;
      }
    }
  }
}

TEST(LibraryDecodersTest, DamagedStreamsNeverGiveWrongDataAsSuccess) {
  // bzip2 and XZ carry their own checksums: damage must not decode as "Ok"
  // with other data. LZMA and Zstandard frames without a checksum leave that
  // to the entry's CRC; for them the run must merely end within the limits
  // (the sink would throw past the declared size).
  const TBytes data = SampleData(60000, 9);
  std::mt19937 rng(11);
  for (const TMethod& m : Methods()) {
    const TBytes stream = m.encode(data);
    const bool selfChecked = std::string(m.name) == "bzip2" || std::string(m.name) == "xz";
    for (int trial = 0; trial < 40; ++trial) {
      TBytes bad = stream;
      bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      TBytes out;
      TDecodeResult r = TDecodeResult::Ok;
      try {
        r = Decode(m, bad, data.size(), &out, kBlockSize, data.size());
      } catch (const std::length_error&) {
        continue;  // more output than declared: stopped by the sink
      }
      if (selfChecked) {
        EXPECT_FALSE(r == TDecodeResult::Ok && out != data) << m.name << " trial " << trial;
      }
    }
  }
}

TEST(LibraryDecodersTest, OutputLimitStopsTheDecoderAndFreesIt) {
  const TBytes data = SampleData(100000, 12);
  for (const TMethod& m : Methods()) {
    const TBytes stream = m.encode(data);
    EXPECT_THROW(Decode(m, stream, data.size(), nullptr, kBlockSize, 50000), std::length_error)
        << m.name;
  }
}

TEST(LibraryDecodersTest, LzmaHeaderMustAnnounceFivePropertyBytes) {
  const TBytes data = SampleData(1000, 13);
  TBytes stream = Lzma(data, true);
  stream[2] = 4;
  EXPECT_EQ(Decode(Methods()[1], stream, data.size(), nullptr), TDecodeResult::DataError);
  // Four header bytes and nothing else.
  EXPECT_EQ(Decode(Methods()[1], TBytes(stream.begin(), stream.begin() + 4), data.size(), nullptr),
            TDecodeResult::DataError);
}

TEST(LibraryDecodersTest, LzmaWithoutMarkerStopsAtTheDeclaredSize) {
  const TBytes data = SampleData(40000, 14);
  TBytes out;
  // A stream longer than its declared size: not a byte beyond it.
  EXPECT_EQ(Decode(Methods()[2], Lzma(data, false), 1000, &out), TDecodeResult::DataError);
  EXPECT_TRUE(out == TBytes(data.begin(), data.begin() + 1000));
  // A stream announced with a marker that has none is cut.
  EXPECT_EQ(Decode(Methods()[1], Lzma(data, false), data.size(), &out), TDecodeResult::DataError);
}

TEST(LibraryDecodersTest, ConcatenatedZstdFramesAndXzStreamsDecodeWhole) {
  const TBytes a = SampleData(50000, 15), b = SampleData(70000, 16);
  TBytes both = a;
  both.insert(both.end(), b.begin(), b.end());
  for (const TMethod& m : Methods()) {
    if (std::string(m.name) != "zstd" && std::string(m.name) != "xz") continue;
    TBytes stream = m.encode(a);
    const TBytes second = m.encode(b);
    stream.insert(stream.end(), second.begin(), second.end());
    TBytes out;
    EXPECT_EQ(Decode(m, stream, both.size(), &out), TDecodeResult::Ok) << m.name;
    EXPECT_TRUE(out == both) << m.name;
  }
}

}  // namespace
}  // namespace vantrel::zip
