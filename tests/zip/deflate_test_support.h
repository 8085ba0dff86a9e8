// deflate_test_support.h - helpers for the compressor tests: sources and
// sinks in memory, a test-side deflate stream parser that reports every block
// and every item it decodes, and the test inputs (corpus files, generated data).
#pragma once

#include "tests/support/test_support.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "zip/codec/deflate_compress.h"

namespace vantrel::zip::testing {

using TBytes = std::vector<uint8_t>;

class TVecSink : public TDeflateSink {
 public:
  void Write(const uint8_t* data, size_t n) override {
    if (n == 0 || n > 65535) badWrite = true;
    bytes.insert(bytes.end(), data, data + n);
    ++writes;
  }
  TBytes bytes;
  int writes = 0;
  bool badWrite = false;
};

// Hands the data out in reads of varying, often short, sizes; records the
// largest request; can refuse to rewind.
class TChunkedSource : public TDeflateSource {
 public:
  TChunkedSource(const TBytes& data, unsigned seed, bool rewindable = true)
      : data_(data), rng_(seed), rewindable_(rewindable) {}
  size_t Read(uint8_t* buf, size_t n) override {
    if (n == 0 || n > 65534) badRequest = true;
    maxRequest = std::max(maxRequest, n);
    size_t take = std::min<size_t>(n, data_.size() - pos_);
    if (take > 1) take = 1 + rng_() % take;
    std::copy_n(data_.begin() + static_cast<long>(pos_), take, buf);
    pos_ += take;
    ++reads;
    return take;
  }
  bool Rewind() override {
    ++rewinds;
    if (!rewindable_) return false;
    pos_ = 0;
    return true;
  }
  size_t maxRequest = 0;
  int reads = 0;
  int rewinds = 0;
  bool badRequest = false;

 private:
  const TBytes& data_;
  size_t pos_ = 0;
  std::mt19937 rng_;
  bool rewindable_;
};

struct TCompressed {
  TDeflateResult result;
  TBytes bytes;
};

inline TCompressed Compress(TDeflateCompressor& c, int level, const TBytes& data) {
  TMemoryDeflateSource src(data.data(), data.size());
  TVecSink sink;
  TCompressed out;
  out.result = c.Deflate(level, src, sink);
  out.bytes = std::move(sink.bytes);
  return out;
}

inline TCompressed Compress(int level, const TBytes& data) {
  TDeflateCompressor c;
  return Compress(c, level, data);
}

// One item of a decoded stream: a literal (dist 0) or a match.
struct TItem {
  uint16_t length;  // literal byte value, or match length
  uint16_t dist;    // 0 for a literal
  bool operator==(const TItem&) const = default;
};

struct TParsedBlock {
  int type = 0;  // 0 stored, 1 static, 2 dynamic
  bool last = false;
  uint64_t length = 0;  // decoded bytes
  std::vector<TItem> items;  // empty for stored blocks
};

struct TParsedStream {
  std::vector<TParsedBlock> blocks;
  TBytes data;
  size_t usedBytes = 0;  // bytes of the stream consumed up to the final block's end
};

// A plain RFC 1951 decoder that keeps the block structure. Throws
// std::runtime_error on anything malformed.
class TDeflateParser {
 public:
  explicit TDeflateParser(const TBytes& in) : in_(in) {}

  TParsedStream Parse() {
    TParsedStream s;
    bool last = false;
    while (!last) {
      TParsedBlock b;
      last = b.last = Bits(1) != 0;
      b.type = static_cast<int>(Bits(2));
      size_t start = s.data.size();
      if (b.type == 0) {
        bitCount_ = 0;  // align
        bitBuf_ = 0;
        unsigned len = Byte() | Byte() << 8;
        unsigned nlen = Byte() | Byte() << 8;
        if ((len ^ 0xFFFF) != nlen) throw std::runtime_error("stored length check");
        for (unsigned i = 0; i < len; i++) s.data.push_back(static_cast<uint8_t>(Byte()));
      } else if (b.type == 1 || b.type == 2) {
        std::vector<int> litLens(288), distLens(32);
        if (b.type == 1) {
          for (int i = 0; i < 288; i++) litLens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
          std::fill(distLens.begin(), distLens.end(), 5);
        } else {
          ReadTrees(litLens, distLens);
        }
        THuff lit(litLens), dist(distLens);
        for (;;) {
          int sym = Decode(lit);
          if (sym < 256) {
            s.data.push_back(static_cast<uint8_t>(sym));
            b.items.push_back({static_cast<uint16_t>(sym), 0});
          } else if (sym == 256) {
            break;
          } else {
            static const int lbase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
            static const int lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
            static const int dbase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                          33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                          1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
            static const int dext[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
            if (sym > 285) throw std::runtime_error("bad length symbol");
            int len = lbase[sym - 257] + static_cast<int>(Bits(lext[sym - 257]));
            int dsym = Decode(dist);
            if (dsym > 29) throw std::runtime_error("bad distance symbol");
            int d = dbase[dsym] + static_cast<int>(Bits(dext[dsym]));
            if (static_cast<size_t>(d) > s.data.size()) throw std::runtime_error("distance too far");
            for (int i = 0; i < len; i++) s.data.push_back(s.data[s.data.size() - d]);
            b.items.push_back({static_cast<uint16_t>(len), static_cast<uint16_t>(d)});
          }
        }
      } else {
        throw std::runtime_error("block type 3");
      }
      b.length = s.data.size() - start;
      s.blocks.push_back(std::move(b));
    }
    s.usedBytes = pos_;
    return s;
  }

 private:
  struct THuff {
    explicit THuff(const std::vector<int>& lens) {
      count.assign(16, 0);
      for (int l : lens) count[l]++;
      count[0] = 0;
      std::vector<int> offs(16, 0);
      for (int i = 1; i < 16; i++) offs[i] = offs[i - 1] + count[i - 1];
      symbol.assign(lens.size(), 0);
      for (size_t s = 0; s < lens.size(); s++)
        if (lens[s]) symbol[offs[lens[s]]++] = static_cast<int>(s);
      // Over-subscribed codes are malformed.
      int left = 1;
      for (int i = 1; i < 16; i++) {
        left = left * 2 - count[i];
        if (left < 0) throw std::runtime_error("over-subscribed code");
      }
    }
    std::vector<int> count, symbol;
  };

  unsigned Byte() {
    if (pos_ >= in_.size()) throw std::runtime_error("input ends early");
    return in_[pos_++];
  }
  uint32_t Bits(int n) {
    while (bitCount_ < n) {
      bitBuf_ |= Byte() << bitCount_;
      bitCount_ += 8;
    }
    uint32_t v = bitBuf_ & ((1u << n) - 1);
    bitBuf_ >>= n;
    bitCount_ -= n;
    return v;
  }
  int Decode(const THuff& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; len++) {
      code |= static_cast<int>(Bits(1));
      int count = h.count[len];
      if (code - count < first) return h.symbol[index + (code - first)];
      index += count;
      first += count;
      first <<= 1;
      code <<= 1;
    }
    throw std::runtime_error("invalid code");
  }
  void ReadTrees(std::vector<int>& litLens, std::vector<int>& distLens) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int nlen = static_cast<int>(Bits(5)) + 257;
    int ndist = static_cast<int>(Bits(5)) + 1;
    int ncode = static_cast<int>(Bits(4)) + 4;
    if (nlen > 286 || ndist > 30) throw std::runtime_error("too many codes");
    std::vector<int> clens(19, 0);
    for (int i = 0; i < ncode; i++) clens[order[i]] = static_cast<int>(Bits(3));
    THuff cl(clens);
    std::vector<int> lens;
    while (static_cast<int>(lens.size()) < nlen + ndist) {
      int sym = Decode(cl);
      if (sym < 16) {
        lens.push_back(sym);
      } else if (sym == 16) {
        if (lens.empty()) throw std::runtime_error("repeat without previous");
        int rep = 3 + static_cast<int>(Bits(2));
        lens.insert(lens.end(), rep, lens.back());
      } else if (sym == 17) {
        lens.insert(lens.end(), 3 + Bits(3), 0);
      } else {
        lens.insert(lens.end(), 11 + Bits(7), 0);
      }
    }
    if (static_cast<int>(lens.size()) != nlen + ndist) throw std::runtime_error("code lengths overrun");
    std::fill(litLens.begin(), litLens.end(), 0);
    std::fill(distLens.begin(), distLens.end(), 0);
    std::copy_n(lens.begin(), nlen, litLens.begin());
    std::copy_n(lens.begin() + nlen, ndist, distLens.begin());
    if (litLens[256] == 0) throw std::runtime_error("no end-of-block code");
  }

  const TBytes& in_;
  size_t pos_ = 0;
  uint32_t bitBuf_ = 0;
  int bitCount_ = 0;
};

inline TParsedStream ParseDeflate(const TBytes& in) { return TDeflateParser(in).Parse(); }

// ---- Inputs.

inline std::string CorpusDir() { return vantrel::test::FixturesDir() + "/corpus/canterbury"; }

inline TBytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return TBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(CorpusDir(), ec))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

inline TBytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  TBytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Text-like data: words from a small vocabulary, so it has matches at all
// distances and is classified as text.
inline TBytes WordText(size_t n, unsigned seed) {
  static const char* words[] = {"the ", "window ", "deflate ", "block ", "of ", "a ", "match ",
                                "length ", "distance ", "tree ", "huffman ", "code ", "and ", "\n"};
  std::mt19937 rng(seed);
  TBytes b;
  while (b.size() < n) {
    const char* w = words[rng() % 14];
    while (*w && b.size() < n) b.push_back(static_cast<uint8_t>(*w++));
  }
  return b;
}

// A corpus file when the shared fixtures are present, else a generated
// stand-in of the same kind: text for the .txt files, a binary table of small
// records (a spreadsheet), a sparse bitmap (a fax image).
inline TBytes CorpusOrStandIn(const std::string& name) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(CorpusDir() + "/" + name, ec)) return ReadBytes(CorpusDir() + "/" + name);
  std::mt19937 rng(static_cast<unsigned>(name.size()));
  TBytes b;
  if (name == "kennedy.xls") {
    for (uint32_t row = 0; b.size() < 1029744; ++row) {
      const uint8_t rec[16] = {3, 2, 14, 0, uint8_t(row), uint8_t(row >> 8), uint8_t(rng() % 5), 0,
                               0, 0, 0, 0, uint8_t(rng() % 7), uint8_t(rng() % 3), 0x40, uint8_t(rng() % 256)};
      b.insert(b.end(), rec, rec + 16);
    }
  } else if (name == "ptt5") {
    b.assign(513216, 0);
    for (size_t line = 0; line < b.size() / 216; ++line)
      if (rng() % 3 == 0)
        for (size_t k = rng() % 150, n = rng() % 60; n-- && k < 216; ++k) b[line * 216 + k] = rng() % 4 ? 0xFF : uint8_t(rng());
  } else {
    b = WordText(152089, static_cast<unsigned>(name.size()));
  }
  return b;
}

// A large input with every kind of content: the corpus (or its stand-ins),
// random stretches, long zero runs, repeats at far distances.
inline TBytes MixedData() {
  std::vector<TBytes> files;
  for (const auto& f : CorpusFiles()) files.push_back(ReadBytes(f));
  if (files.empty())
    for (const char* name : {"alice29.txt", "kennedy.xls", "ptt5"}) files.push_back(CorpusOrStandIn(name));
  TBytes out;
  for (const TBytes& b : files) {
    out.insert(out.end(), b.begin(), b.end());
    // Random bytes, text, then a repeat of the random bytes' start from
    // 32500 bytes back, then a long zero run.
    size_t from = out.size();
    TBytes r = RandomBytes(20000, static_cast<unsigned>(from));
    out.insert(out.end(), r.begin(), r.end());
    TBytes t = WordText(12500, static_cast<unsigned>(from));
    out.insert(out.end(), t.begin(), t.end());
    for (size_t i = 0; i < 3000; i++) out.push_back(out[from + i]);
    out.insert(out.end(), 70000, 0);
  }
  return out;
}

}  // namespace vantrel::zip::testing
