// The compressor's choices against a plain model of its rules.
//
// The compressor is built for speed (word-wide comparisons, screened
// candidates, early exits, a combined bit writer). Its output is nevertheless
// fixed by the rules: which match is taken at each position and where each
// block ends. This file keeps a deliberately simple model of those rules -
// byte-by-byte comparison of every candidate on the chain, the window, the
// slide and the two selection loops written out step by step - and requires
// the compressor to make exactly the same items and block boundaries on the
// corpus and on generated files, at every level. It also checks, from the
// items alone, that every block ended for one of the stated reasons, and that
// the emitted stream carries exactly the items the compressor reported.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/zip/deflate_test_support.h"
#include "zip/codec/deflate_compress.h"

namespace vantrel::zip::testing {
namespace {

constexpr unsigned kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr unsigned kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

int DistCode(unsigned dist) {
  int code = 29;
  while (kDistBase[code] > dist) code--;
  return code;
}

struct TBlockRecord {
  std::vector<TItem> items;  // match lengths as lengths (not minus 3)
  uint64_t length = 0;
  TDeflateBlockKind kind = TDeflateBlockKind::Dynamic;
  bool last = false;
};

// ---------------------------------------------------------------------------
// The model: the rules as written, one step at a time, nothing clever.
class TRuleModel {
 public:
  TRuleModel(int level, const TBytes& input) : input_(input), level_(level) {
    static const int table[10][4] = {{0, 0, 0, 0},      {4, 4, 8, 4},       {4, 5, 16, 8},     {4, 6, 32, 32},
                                     {4, 4, 16, 16},    {8, 16, 32, 32},    {8, 16, 128, 128}, {8, 32, 128, 256},
                                     {32, 128, 258, 1024}, {32, 258, 258, 4096}};
    good_ = table[level][0];
    lazy_ = table[level][1];
    nice_ = table[level][2];
    chain_ = table[level][3];
  }

  std::vector<TBlockRecord> Run() {
    lookahead_ = Read(0, 32768);
    if (lookahead_ == 0) {
      eof_ = true;
    } else {
      if (lookahead_ < 262) Fill();
      h_ = window_[0];
      h_ = ((h_ << 5) ^ window_[1]) & 0x7FFF;
    }
    if (level_ <= 3) {
      Greedy();
    } else {
      Lazy();
    }
    return blocks_;
  }

 private:
  // A file-like read: as much as asked, or what is left.
  unsigned Read(unsigned at, unsigned n) {
    unsigned take = static_cast<unsigned>(std::min<size_t>(n, input_.size() - inPos_));
    for (unsigned i = 0; i < take; i++) window_[at + i] = input_[inPos_ + i];
    inPos_ += take;
    return take;
  }

  void Fill() {
    do {
      unsigned more = 65536 - lookahead_ - strstart_;
      if (strstart_ >= 32768 + 32506) {
        for (unsigned i = 0; i < 32768; i++) window_[i] = window_[i + 32768];
        matchStart_ -= 32768;
        strstart_ -= 32768;
        blockStart_ -= 32768;
        for (auto& v : head_) v = v >= 32768 ? v - 32768 : 0;
        for (auto& v : prev_) v = v >= 32768 ? v - 32768 : 0;
        more += 32768;
      }
      unsigned n = Read(strstart_ + lookahead_, more);
      if (n == 0) {
        eof_ = true;
      } else {
        lookahead_ += n;
      }
    } while (lookahead_ < 262 && !eof_);
  }

  unsigned Insert(unsigned p) {
    h_ = ((h_ << 5) ^ window_[p + 2]) & 0x7FFF;
    unsigned old = head_[h_];
    prev_[p & 0x7FFF] = static_cast<uint16_t>(old);
    head_[h_] = static_cast<uint16_t>(p);
    return old;
  }

  // Every candidate compared byte by byte; no screening, no early return.
  unsigned Longest(unsigned cur) {
    unsigned chain = static_cast<unsigned>(chain_);
    if (prevLength_ >= static_cast<unsigned>(good_)) chain /= 4;
    unsigned limit = strstart_ > 32506 ? strstart_ - 32506 : 0;
    unsigned best = prevLength_;
    unsigned maxLen = std::min(258u, lookahead_);
    do {
      unsigned len = 0;
      while (len < maxLen && window_[cur + len] == window_[strstart_ + len]) len++;
      if (len > best) {
        matchStart_ = cur;
        best = len;
        if (len >= static_cast<unsigned>(nice_)) break;
      }
      cur = prev_[cur & 0x7FFF];
      chain--;
    } while (cur > limit && chain != 0);
    return best;
  }

  bool Record(TItem item) {
    current_.items.push_back(item);
    if (item.dist) {
      matches_++;
      distFreq_[DistCode(item.dist)]++;
    }
    size_t n = current_.items.size();
    if (level_ >= 3 && n % 4096 == 0 && matches_ < n / 2) {
      uint64_t estimate = n * 8;
      for (int d = 0; d < 30; d++) estimate += distFreq_[d] * (5 + kDistExtra[d]);
      estimate /= 8;
      if (estimate < static_cast<uint64_t>(strstart_ - blockStart_) / 2) return true;
    }
    return n == 32767 || matches_ == 32768;
  }

  void EndBlock(bool last) {
    current_.length = static_cast<uint64_t>(strstart_ - blockStart_);
    current_.last = last;
    blocks_.push_back(std::move(current_));
    current_ = {};
    matches_ = 0;
    std::fill(std::begin(distFreq_), std::end(distFreq_), 0);
    if (!last) blockStart_ = strstart_;
  }

  void Greedy() {
    prevLength_ = 2;
    while (lookahead_ != 0) {
      unsigned cand = 0;
      if (lookahead_ >= 3) cand = Insert(strstart_);
      unsigned len = 0;
      if (cand != 0 && strstart_ - cand <= 32506) len = std::min(Longest(cand), lookahead_);
      bool full;
      if (len >= 3) {
        full = Record({static_cast<uint16_t>(len), static_cast<uint16_t>(strstart_ - matchStart_)});
        lookahead_ -= len;
        if (len <= static_cast<unsigned>(lazy_)) {
          for (unsigned i = 1; i < len; i++) Insert(strstart_ + i);
          strstart_ += len;
        } else {
          strstart_ += len;
          h_ = window_[strstart_];
          h_ = ((h_ << 5) ^ window_[strstart_ + 1]) & 0x7FFF;
        }
      } else {
        full = Record({window_[strstart_], 0});
        lookahead_--;
        strstart_++;
      }
      if (full) EndBlock(false);
      if (lookahead_ < 262 && !eof_) Fill();
    }
    EndBlock(true);
  }

  void Lazy() {
    unsigned len = 2;
    bool available = false;
    while (lookahead_ != 0) {
      unsigned cand = 0;
      if (lookahead_ >= 3) cand = Insert(strstart_);
      prevLength_ = len;
      unsigned prevMatch = matchStart_;
      len = 2;
      if (cand != 0 && prevLength_ < static_cast<unsigned>(lazy_) && strstart_ - cand <= 32506) {
        len = std::min(Longest(cand), lookahead_);
        if (len == 3 && strstart_ - matchStart_ > 4096) len = 2;
      }
      if (prevLength_ >= 3 && len <= prevLength_) {
        bool full = Record({static_cast<uint16_t>(prevLength_), static_cast<uint16_t>(strstart_ - 1 - prevMatch)});
        lookahead_ -= prevLength_ - 1;
        for (unsigned p = strstart_ + 1; p <= strstart_ + prevLength_ - 2; p++) Insert(p);
        strstart_ += prevLength_ - 1;
        available = false;
        len = 2;
        if (full) EndBlock(false);
      } else if (available) {
        if (Record({window_[strstart_ - 1], 0})) EndBlock(false);
        strstart_++;
        lookahead_--;
      } else {
        available = true;
        strstart_++;
        lookahead_--;
      }
      if (lookahead_ < 262 && !eof_) Fill();
    }
    if (available) Record({window_[strstart_ - 1], 0});
    EndBlock(true);
  }

  const TBytes& input_;
  size_t inPos_ = 0;
  int level_, good_, lazy_, nice_, chain_;
  std::vector<uint8_t> window_ = std::vector<uint8_t>(65536 + 512, 0);
  std::vector<uint16_t> head_ = std::vector<uint16_t>(32768, 0);
  std::vector<uint16_t> prev_ = std::vector<uint16_t>(32768, 0);
  unsigned strstart_ = 0, lookahead_ = 0, h_ = 0, matchStart_ = 0, prevLength_ = 2;
  int64_t blockStart_ = 0;
  bool eof_ = false;
  TBlockRecord current_;
  size_t matches_ = 0;
  uint64_t distFreq_[30] = {};
  std::vector<TBlockRecord> blocks_;
};

// ---------------------------------------------------------------------------

class TRecorder : public TDeflateObserver {
 public:
  void BlockEnded(const TDeflateBlockInfo& b) override {
    TBlockRecord r;
    r.kind = b.Kind;
    r.last = b.Last;
    r.length = b.Length;
    for (size_t i = 0; i < b.Items; i++) {
      if (b.Dists[i] == 0) {
        r.items.push_back({b.Lits[i], 0});
      } else {
        r.items.push_back({static_cast<uint16_t>(b.Lits[i] + 3), b.Dists[i]});
      }
    }
    blocks.push_back(std::move(r));
  }
  std::vector<TBlockRecord> blocks;
};

struct TRun {
  TCompressed out;
  std::vector<TBlockRecord> blocks;
};

TRun Observe(TDeflateCompressor& c, int level, const TBytes& data) {
  TRecorder rec;
  c.SetObserver(&rec);
  TRun run;
  run.out = Compress(c, level, data);
  c.SetObserver(nullptr);
  run.blocks = std::move(rec.blocks);
  return run;
}

// Input bytes covered by items [0, n).
uint64_t Covered(const std::vector<TItem>& items, size_t n) {
  uint64_t c = 0;
  for (size_t i = 0; i < n; i++) c += items[i].dist ? items[i].length : 1;
  return c;
}

// Whether the 4096-item checkpoint after item k (1-based) fires. At that
// moment the greedy loop stands at the start of item k, the lazy loop one
// byte past it.
bool CheckpointFires(const std::vector<TItem>& items, size_t k, bool lazy) {
  size_t matches = 0;
  uint64_t estimate = k * 8;
  for (size_t i = 0; i < k; i++) {
    if (items[i].dist) {
      matches++;
      int d = DistCode(items[i].dist);
      estimate += 5 + kDistExtra[d];
    }
  }
  estimate /= 8;
  uint64_t inLength = Covered(items, k - 1) + (lazy ? 1 : 0);
  return matches < k / 2 && estimate < inLength / 2;
}

void CheckBlockEnds(const std::vector<TBlockRecord>& blocks, int level, const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_FALSE(blocks.empty());
  for (size_t b = 0; b < blocks.size(); b++) {
    const auto& items = blocks[b].items;
    EXPECT_EQ(blocks[b].last, b + 1 == blocks.size());
    EXPECT_EQ(blocks[b].length, Covered(items, items.size())) << "block " << b;
    EXPECT_LE(items.size(), 32767u);
    // No checkpoint before the block's end may have fired.
    if (level >= 3) {
      for (size_t k = 4096; k < items.size(); k += 4096)
        EXPECT_FALSE(CheckpointFires(items, k, level >= 4)) << "block " << b << " should have ended at item " << k;
    }
    if (blocks[b].last) continue;
    bool full = items.size() == 32767;
    bool checkpoint = level >= 3 && items.size() % 4096 == 0 && CheckpointFires(items, items.size(), level >= 4);
    EXPECT_TRUE(full || checkpoint) << "block " << b << " ended after " << items.size() << " items";
  }
}

// The stream carries exactly the reported items, in blocks of the reported kinds.
void CheckStreamMatchesReport(const TRun& run, const std::string& what) {
  SCOPED_TRACE(what);
  if (run.out.result.CompressionMethod == 0) {
    ASSERT_EQ(run.blocks.size(), 1u);
    EXPECT_EQ(run.blocks[0].kind, TDeflateBlockKind::WholeFile);
    return;
  }
  TParsedStream s = ParseDeflate(run.out.bytes);
  ASSERT_EQ(s.blocks.size(), run.blocks.size());
  for (size_t b = 0; b < s.blocks.size(); b++) {
    const auto& reported = run.blocks[b];
    EXPECT_EQ(s.blocks[b].length, reported.length);
    EXPECT_EQ(s.blocks[b].last, reported.last);
    switch (reported.kind) {
      case TDeflateBlockKind::Stored:
        EXPECT_EQ(s.blocks[b].type, 0);
        break;
      case TDeflateBlockKind::Static:
        EXPECT_EQ(s.blocks[b].type, 1);
        EXPECT_EQ(s.blocks[b].items, reported.items);
        break;
      case TDeflateBlockKind::Dynamic:
        EXPECT_EQ(s.blocks[b].type, 2);
        EXPECT_EQ(s.blocks[b].items, reported.items);
        break;
      case TDeflateBlockKind::WholeFile:
        ADD_FAILURE() << "whole-file block in a deflated stream";
    }
  }
}

void CompareWithModel(TDeflateCompressor& c, int level, const TBytes& data, const std::string& what) {
  SCOPED_TRACE(what + " level " + std::to_string(level));
  TRun run = Observe(c, level, data);
  std::vector<TBlockRecord> model = TRuleModel(level, data).Run();
  ASSERT_EQ(run.blocks.size(), model.size());
  for (size_t b = 0; b < model.size(); b++) {
    EXPECT_EQ(run.blocks[b].length, model[b].length) << "block " << b;
    ASSERT_EQ(run.blocks[b].items.size(), model[b].items.size()) << "block " << b;
    for (size_t i = 0; i < model[b].items.size(); i++) {
      ASSERT_EQ(run.blocks[b].items[i], model[b].items[i]) << "block " << b << " item " << i;
    }
  }
  CheckBlockEnds(run.blocks, level, what);
  CheckStreamMatchesReport(run, what);
}

TEST(DeflateRules, CorpusMatchesTheModelAtEveryLevel) {
  VANTREL_NEED_FIXTURES("corpus/canterbury");
  TDeflateCompressor c;
  for (const auto& f : CorpusFiles()) {
    TBytes data = ReadBytes(f);
    for (int level = 1; level <= 9; level++) CompareWithModel(c, level, data, f);
  }
}

TEST(DeflateRules, GeneratedFilesMatchTheModelAtEveryLevel) {
  std::vector<std::pair<std::string, TBytes>> inputs = {
      {"empty", {}},
      {"two bytes", {'a', 'a'}},
      {"zeros", TBytes(100000, 0)},
      {"random", RandomBytes(140000, 1)},
      {"text", WordText(300000, 2)},
      {"65400 text", WordText(65400, 3)},
  };
  // Long runs with short interruptions: matches far apart in distance and
  // many items per byte, to reach the 32767-item limit and the checkpoint.
  TBytes mixed = MixedData();
  mixed.resize(1500000);
  inputs.push_back({"mixed", mixed});
  TDeflateCompressor c;
  for (const auto& [name, data] : inputs)
    for (int level = 1; level <= 9; level++) CompareWithModel(c, level, data, name);
}

TEST(DeflateRules, EveryBlockEndingRuleOccurs) {
  // Across these inputs the compressor must end blocks both by the item limit
  // and by the checkpoint, so the checks above see each rule in action.
  TDeflateCompressor c;
  bool byLimit = false, byCheckpoint = false, storedBlock = false, staticBlock = false, dynamicBlock = false;
  std::vector<TBytes> inputs = {RandomBytes(140000, 1), WordText(600000, 3), CorpusOrStandIn("kennedy.xls"),
                                CorpusOrStandIn("ptt5")};
  for (const auto& data : inputs) {
    for (int level : {1, 3, 6, 9}) {
      TRun run = Observe(c, level, data);
      for (const auto& b : run.blocks) {
        if (!b.last && b.items.size() == 32767) byLimit = true;
        if (!b.last && b.items.size() < 32767) byCheckpoint = true;
        storedBlock |= b.kind == TDeflateBlockKind::Stored;
        staticBlock |= b.kind == TDeflateBlockKind::Static;
        dynamicBlock |= b.kind == TDeflateBlockKind::Dynamic;
      }
    }
  }
  EXPECT_TRUE(byLimit);
  EXPECT_TRUE(byCheckpoint);
  EXPECT_TRUE(storedBlock);
  EXPECT_TRUE(dynamicBlock);
  // A short static block: a few literals and one match.
  TBytes tiny = {'#', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a'};
  TRun run = Observe(c, 6, tiny);
  ASSERT_EQ(run.blocks.size(), 1u);
  staticBlock |= run.blocks[0].kind == TDeflateBlockKind::Static;
  EXPECT_TRUE(staticBlock);
}

// ---------------------------------------------------------------------------
// The bytes themselves: the output's size at every level, and an FNV-1a hash of
// the nine outputs one after another, on fixed inputs, recorded before the
// matcher and the bit writer were tuned for speed. Any change that alters one
// byte of any level fails here.

uint64_t Fnv1a(const TBytes& b) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint8_t x : b) h = (h ^ x) * 0x100000001b3ull;
  return h;
}

// C-like lines (identifiers, numbers, repeated keywords) alternating with
// tables of little-endian numbers that change slowly: headers and binaries.
TBytes HeadersAndTables(size_t n, unsigned seed) {
  static const char* words[] = {"static ", "const ", "uint32_t ", "return ", "struct ", "void ", "if (", ") {\n",
                                "}\n", "#define ", "size_t ", "  ", "->", "nullptr", " = ", ";\n"};
  std::mt19937 rng(seed);
  TBytes b;
  uint32_t value = 1000;
  while (b.size() < n) {
    if (rng() % 8 != 0) {
      for (int w = 0; w < 12; ++w) {
        const char* s = words[rng() % 16];
        b.insert(b.end(), s, s + std::strlen(s));
        if (rng() % 3 == 0) {
          const std::string id = "name" + std::to_string(rng() % 500);
          b.insert(b.end(), id.begin(), id.end());
        }
      }
    } else {
      for (int i = 0; i < 200; ++i) {
        value += rng() % 64;
        for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(value >> (8 * k)));
      }
    }
  }
  b.resize(n);
  return b;
}

// Runs of one byte and short random stretches: long matches at distance 1
// and at the run lengths.
TBytes RunsAndNoise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  TBytes b;
  while (b.size() < n) {
    b.insert(b.end(), 1 + rng() % 700, static_cast<uint8_t>(rng() % 4));
    for (unsigned i = rng() % 40; i > 0; --i) b.push_back(static_cast<uint8_t>(rng()));
  }
  b.resize(n);
  return b;
}

struct TGolden {
  const char* input;
  uint64_t sizes[9];  // levels 1-9
  uint64_t hash;      // of the outputs of levels 1-9, concatenated
};

constexpr TGolden kGoldenGenerated[] = {
    {"words", {89800, 84380, 74309, 73447, 68297, 63587, 60865, 58535, 58535}, 0xcde1c5d5a75983ceull},
    {"random", {100020, 100020, 100020, 100020, 100020, 100020, 100020, 100020, 100020}, 0xc800d01a882fff61ull},
    {"headers", {239697, 234396, 228619, 228270, 222973, 218464, 217741, 217098, 217098}, 0xc5cb053587bbae75ull},
    {"runs", {20963, 20907, 21004, 19872, 19939, 19877, 19837, 19239, 19231}, 0x2365f6c078f5ddcbull},
};

constexpr TGolden kGoldenCorpus[] = {
    {"alice29.txt", {65114, 62249, 59461, 57681, 55586, 54405, 54248, 54161, 54161}, 0x8a62e65b1e323b37ull},
    {"asyoulik.txt", {56782, 54634, 52681, 51242, 49604, 48920, 48832, 48798, 48798}, 0x0fa5b8eb589c4bcaull},
    {"cp.html", {9028, 8811, 8599, 8238, 8021, 7973, 7954, 7955, 7955}, 0x1875e46d159dd05eull},
    {"fields.c", {3647, 3501, 3393, 3215, 3140, 3116, 3112, 3109, 3109}, 0xe0a7964f1c53c472ull},
    {"grammar.lsp", {1326, 1306, 1301, 1228, 1216, 1216, 1216, 1216, 1216}, 0x1226d269386c2807ull},
    {"kennedy.xls", {245007, 241534, 236635, 232044, 208935, 206749, 210775, 209460, 209703}, 0x6a3e559b2e3ebe9cull},
    {"lcet10.txt", {174103, 166095, 158739, 152710, 147136, 144856, 144556, 144402, 144400}, 0xe59137fbc3ab888eull},
    {"plrabn12.txt", {228747, 218953, 209317, 205829, 199065, 195177, 194579, 194246, 194246}, 0xf8cb2025e80e7074ull},
    {"ptt5", {65518, 63868, 62335, 58617, 57605, 56420, 55462, 53126, 52359}, 0x73edbbd10130c1cbull},
    {"sum", {14112, 13815, 13720, 13258, 12970, 12902, 12868, 12809, 12750}, 0x4a5e7fb91bb2c19aull},
    {"xargs.1", {1846, 1820, 1808, 1749, 1730, 1730, 1730, 1730, 1730}, 0x93c272ad06cb1a56ull},
};

void CheckGolden(const std::vector<std::pair<std::string, TBytes>>& inputs, const TGolden* rows, size_t count) {
  TDeflateCompressor c;
  size_t checked = 0;
  for (const auto& [name, data] : inputs) {
    const TGolden* row = std::find_if(rows, rows + count, [&](const TGolden& g) { return name == g.input; });
    if (row == rows + count) continue;
    TBytes all;
    for (int level = 1; level <= 9; ++level) {
      const TCompressed out = Compress(c, level, data);
      EXPECT_EQ(out.bytes.size(), row->sizes[level - 1]) << name << " level " << level;
      all.insert(all.end(), out.bytes.begin(), out.bytes.end());
    }
    EXPECT_EQ(Fnv1a(all), row->hash) << name << ": some level's bytes changed";
    ++checked;
  }
  EXPECT_EQ(checked, count);
}

TEST(DeflateRules, OutputBytesAreUnchanged) {
  CheckGolden({{"words", WordText(400000, 11)},
               {"random", RandomBytes(100000, 12)},
               {"headers", HeadersAndTables(600000, 13)},
               {"runs", RunsAndNoise(300000, 14)}},
              kGoldenGenerated, std::size(kGoldenGenerated));
}

TEST(DeflateRules, CorpusOutputBytesAreUnchanged) {
  VANTREL_NEED_FIXTURES("corpus/canterbury");
  std::vector<std::pair<std::string, TBytes>> inputs;
  for (const auto& f : CorpusFiles()) inputs.push_back({std::filesystem::path(f).filename().string(), ReadBytes(f)});
  CheckGolden(inputs, kGoldenCorpus, std::size(kGoldenCorpus));
}

}  // namespace
}  // namespace vantrel::zip::testing
