// deflate_test_support.h - helpers for the compressor tests: sources and
// sinks in memory and the test inputs (corpus files, generated data).
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
