// legacy_seeds.cpp - writes the seed inputs of the explode, unreduce and
// unshrink fuzz targets, and small archives of every legacy method (plain and
// encrypted with the password the archive fuzz target uses), from the test
// encoders. Run by tests/fuzz/make_corpus.sh; usage: legacy_seeds CORPUS_DIR.
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>

#include "tests/zip/legacy_encoders.h"
#include "tests/zip/zip_test_util.h"

using namespace vantrel::zip::testing;

namespace {

void Save(const std::string& path, const TBytes& header, const TBytes& body) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  std::fwrite(header.data(), 1, header.size(), f);
  std::fwrite(body.data(), 1, body.size(), f);
  std::fclose(f);
}

// Small inputs of different kinds, each a multiple of 16 bytes long (the
// targets declare the size in units of 4 or 16 bytes).
std::vector<TBytes> Inputs() {
  std::mt19937 rng(2024);
  const std::string text =
      "The quick brown fox jumps over the lazy dog; the lazy dog sleeps. \x90\x90 "
      "Sphinx of black quartz, judge my vow! Sphinx of black quartz, judge my vow!\n";
  TBytes words, random(400), runs(1200, 0), mixed;
  while (words.size() < 1600) words.insert(words.end(), text.begin(), text.begin() + rng() % text.size());
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  for (size_t i = 300; i < 1200; i += 1 + rng() % 90) runs[i] = static_cast<uint8_t>(rng() % 3 ? 144 : rng());
  for (int i = 0; i < 6; ++i) {
    mixed.insert(mixed.end(), random.begin(), random.begin() + 64 + i * 16);
    mixed.insert(mixed.end(), words.begin() + i * 40, words.begin() + i * 40 + 200);
  }
  std::vector<TBytes> all = {words, random, runs, mixed, TBytes(16, 'a')};
  for (auto& b : all) b.resize(b.size() / 16 * 16);
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: legacy_seeds CORPUS_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::vector<TBytes> inputs = Inputs();
  std::vector<TEntrySpec> plain, encrypted;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const TBytes& in = inputs[i];
    const uint8_t q4 = static_cast<uint8_t>(in.size() / 4), q16 = static_cast<uint8_t>(in.size() / 16);
    const auto hi4 = static_cast<uint8_t>(in.size() / 4 >> 8);
    const std::string n = std::to_string(i);
    // Byte 0 picks the variant and the input block size (index i + 3 of the
    // targets' tables: 64 bytes up to whole blocks).
    const unsigned block = (i + 3) % 8;
    Save(dir + "/unshrink/seed" + n, {static_cast<uint8_t>(block), q16, 0}, Shrink(in, 40 + 20 * i));
    for (const TLegacyVariant& v : kLegacyVariants) {
      const TBytes packed = Encode(v, in);
      if (v.method >= 2 && v.method <= 5 && (i + v.method) % 2 == 0)
        Save(dir + "/unreduce/" + v.name + "-" + n, {static_cast<uint8_t>((v.method - 2) | block << 2), q4, hi4},
             packed);
      if (v.method == 6)
        Save(dir + "/explode/" + v.name + "-" + n,
             {static_cast<uint8_t>((v.flags & 2 ? 1 : 0) | (v.flags & 4 ? 2 : 0) | block << 3), q4, hi4}, packed);
      if (i == 0 || (i == 3 && v.method == 6)) {
        TEntrySpec e(std::string(v.name) + ".txt", std::string(packed.begin(), packed.end()));
        e.method = v.method;
        e.flags = v.flags;
        e.crc = ZCrc(std::string(in.begin(), in.end()));
        e.usize = static_cast<uint32_t>(in.size());
        plain.push_back(e);
        e.password = "pw";
        e.writeDescriptor = v.method == 1;
        encrypted.push_back(e);
      }
    }
  }
  for (auto [name, entries] : {std::pair{"legacy.zip", plain}, std::pair{"legacy-encrypted.zip", encrypted}}) {
    const std::string zip = BuildZip(entries);
    Save(dir + "/zipreader/" + name, {}, TBytes(zip.begin(), zip.end()));
  }
  return 0;
}
