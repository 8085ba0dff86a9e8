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
// The bytes themselves: size and FNV-1a hash of the output at every level on
// fixed inputs, recorded before the matcher and the bit writer were tuned for
// speed. Any change that alters one byte of any level fails here.

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
  int level;
  uint64_t size;
  uint64_t hash;
};

constexpr TGolden kGoldenGenerated[] = {
    {"words", 1, 89800, 0x12e47072832c82ddull},
    {"words", 2, 84380, 0xeb598fc81bf01cd5ull},
    {"words", 3, 74309, 0x1fd798d765acda24ull},
    {"words", 4, 73447, 0x7f2f2efcfc2fda47ull},
    {"words", 5, 68297, 0xf8ff778e87335c9aull},
    {"words", 6, 63587, 0x9bbc145516e24723ull},
    {"words", 7, 60865, 0xabc884193afad6a8ull},
    {"words", 8, 58535, 0x07cd2eb70c6b36dbull},
    {"words", 9, 58535, 0x07cd2eb70c6b36dbull},
    {"random", 1, 100020, 0x4cd7d77170eead81ull},
    {"random", 2, 100020, 0x4cd7d77170eead81ull},
    {"random", 3, 100020, 0x4cd7d77170eead81ull},
    {"random", 4, 100020, 0x02178566c8a7aef3ull},
    {"random", 5, 100020, 0x02178566c8a7aef3ull},
    {"random", 6, 100020, 0x02178566c8a7aef3ull},
    {"random", 7, 100020, 0x02178566c8a7aef3ull},
    {"random", 8, 100020, 0x02178566c8a7aef3ull},
    {"random", 9, 100020, 0x02178566c8a7aef3ull},
    {"headers", 1, 239697, 0xabf6750f3d3c1c89ull},
    {"headers", 2, 234396, 0x89d34418ec6e14a0ull},
    {"headers", 3, 228619, 0x9a8d6280f2ec880full},
    {"headers", 4, 228270, 0x7c83bf3de29eb4bbull},
    {"headers", 5, 222973, 0xb1416de1297cde28ull},
    {"headers", 6, 218464, 0x721c58200a3f79caull},
    {"headers", 7, 217741, 0x58db58d4819af350ull},
    {"headers", 8, 217098, 0x863bca0e93f852e2ull},
    {"headers", 9, 217098, 0x863bca0e93f852e2ull},
    {"runs", 1, 20963, 0xe9b026e30bba01b8ull},
    {"runs", 2, 20907, 0xe91286f483ba0f12ull},
    {"runs", 3, 21004, 0xdd073926374221f5ull},
    {"runs", 4, 19872, 0xe8d60f2801fa1c07ull},
    {"runs", 5, 19939, 0x8d815589178c809dull},
    {"runs", 6, 19877, 0xef7056c7264167adull},
    {"runs", 7, 19837, 0x70ce125f48098729ull},
    {"runs", 8, 19239, 0x3762142d65868e03ull},
    {"runs", 9, 19231, 0x5306842d481c0aabull},
};

constexpr TGolden kGoldenCorpus[] = {
    {"alice29.txt", 1, 65114, 0xa60fa9ef266b7afcull},
    {"alice29.txt", 2, 62249, 0xcafce7c80799dfa6ull},
    {"alice29.txt", 3, 59461, 0xf162573f5715b057ull},
    {"alice29.txt", 4, 57681, 0xae2376c021771ef5ull},
    {"alice29.txt", 5, 55586, 0xce3fd93266b2fd23ull},
    {"alice29.txt", 6, 54405, 0xd11eb4f5727c0e44ull},
    {"alice29.txt", 7, 54248, 0xde86a24b651e634aull},
    {"alice29.txt", 8, 54161, 0x33d1abcd0233661bull},
    {"alice29.txt", 9, 54161, 0x33d1abcd0233661bull},
    {"asyoulik.txt", 1, 56782, 0xb3b38c8bd21bf092ull},
    {"asyoulik.txt", 2, 54634, 0x8af4f636dd4b1bceull},
    {"asyoulik.txt", 3, 52681, 0x907bbf2082f9e9cbull},
    {"asyoulik.txt", 4, 51242, 0x870d07dad7f085fbull},
    {"asyoulik.txt", 5, 49604, 0x23142f68f8f3af18ull},
    {"asyoulik.txt", 6, 48920, 0x7616e4ff7f30738eull},
    {"asyoulik.txt", 7, 48832, 0x949f8f8e42ec1b2cull},
    {"asyoulik.txt", 8, 48798, 0x8530126fd2cf957bull},
    {"asyoulik.txt", 9, 48798, 0x8530126fd2cf957bull},
    {"cp.html", 1, 9028, 0x4ca8f0898d32e3c4ull},
    {"cp.html", 2, 8811, 0x62de5e79ba2f946aull},
    {"cp.html", 3, 8599, 0x9a32733fd6c5c810ull},
    {"cp.html", 4, 8238, 0xe6196eaa83b4ec1aull},
    {"cp.html", 5, 8021, 0x0dc4cc81c2259d53ull},
    {"cp.html", 6, 7973, 0xfdc3eda55370b13aull},
    {"cp.html", 7, 7954, 0x7eb7cbda0de20ac1ull},
    {"cp.html", 8, 7955, 0xd67aab438a1fd91bull},
    {"cp.html", 9, 7955, 0xd67aab438a1fd91bull},
    {"fields.c", 1, 3647, 0x4511349b281a73adull},
    {"fields.c", 2, 3501, 0x6bcc58a1d2bad06dull},
    {"fields.c", 3, 3393, 0x8044eadcd7a0384aull},
    {"fields.c", 4, 3215, 0x0846a38dd838b4e6ull},
    {"fields.c", 5, 3140, 0xf6ec88c9b7099216ull},
    {"fields.c", 6, 3116, 0x8e781291645a63adull},
    {"fields.c", 7, 3112, 0x0b30a27a3bd512b7ull},
    {"fields.c", 8, 3109, 0x9934cc4eedd00f43ull},
    {"fields.c", 9, 3109, 0x9934cc4eedd00f43ull},
    {"grammar.lsp", 1, 1326, 0x9ff2ffce24787a2bull},
    {"grammar.lsp", 2, 1306, 0x93caa38814276a38ull},
    {"grammar.lsp", 3, 1301, 0xf3f89abf6db9906cull},
    {"grammar.lsp", 4, 1228, 0x267b811611806582ull},
    {"grammar.lsp", 5, 1216, 0x167835093a14abacull},
    {"grammar.lsp", 6, 1216, 0x27b2fdbd834ddd2eull},
    {"grammar.lsp", 7, 1216, 0x27b2fdbd834ddd2eull},
    {"grammar.lsp", 8, 1216, 0x27b2fdbd834ddd2eull},
    {"grammar.lsp", 9, 1216, 0x27b2fdbd834ddd2eull},
    {"kennedy.xls", 1, 245007, 0x53a362193e92cfa4ull},
    {"kennedy.xls", 2, 241534, 0xd0481cb587032176ull},
    {"kennedy.xls", 3, 236635, 0x076ce0ea3187cf88ull},
    {"kennedy.xls", 4, 232044, 0x1e0e6b67cb3d54fbull},
    {"kennedy.xls", 5, 208935, 0xe04f5ab78415776dull},
    {"kennedy.xls", 6, 206749, 0xbc0c860eaf6a7aedull},
    {"kennedy.xls", 7, 210775, 0xa48f71badef7f27dull},
    {"kennedy.xls", 8, 209460, 0x1c2834ef2ece27e7ull},
    {"kennedy.xls", 9, 209703, 0xf39d2a0e30b3514bull},
    {"lcet10.txt", 1, 174103, 0xde4257c51a004acaull},
    {"lcet10.txt", 2, 166095, 0xd28972194f0d19aaull},
    {"lcet10.txt", 3, 158739, 0xc1af413d335ff03dull},
    {"lcet10.txt", 4, 152710, 0x5ea08b2b8feb7522ull},
    {"lcet10.txt", 5, 147136, 0x3719c5eef00a9253ull},
    {"lcet10.txt", 6, 144856, 0x2555eb0d039749acull},
    {"lcet10.txt", 7, 144556, 0x60b2950f7bd0681full},
    {"lcet10.txt", 8, 144402, 0x3b31e72c042f3f6cull},
    {"lcet10.txt", 9, 144400, 0x1cff63bd595b5677ull},
    {"plrabn12.txt", 1, 228747, 0x0ad865c9d3c64862ull},
    {"plrabn12.txt", 2, 218953, 0xcd4f1265681bd179ull},
    {"plrabn12.txt", 3, 209317, 0x0c7b7d94da8fbb9aull},
    {"plrabn12.txt", 4, 205829, 0x513aee0615b84ea2ull},
    {"plrabn12.txt", 5, 199065, 0x9841b4786bc42da6ull},
    {"plrabn12.txt", 6, 195177, 0xbe70c85e9acac0fcull},
    {"plrabn12.txt", 7, 194579, 0x1187c21734c2f789ull},
    {"plrabn12.txt", 8, 194246, 0xeb020c5b84156102ull},
    {"plrabn12.txt", 9, 194246, 0xeb020c5b84156102ull},
    {"ptt5", 1, 65518, 0xe6525c29eff9cc73ull},
    {"ptt5", 2, 63868, 0xc2b86c28df503aa1ull},
    {"ptt5", 3, 62335, 0xa103bd4abaf82138ull},
    {"ptt5", 4, 58617, 0x1f564c6096ba8331ull},
    {"ptt5", 5, 57605, 0x41ac8eb9025c77c1ull},
    {"ptt5", 6, 56420, 0x9c4cd2dc635f44b7ull},
    {"ptt5", 7, 55462, 0x54d339678e3788ebull},
    {"ptt5", 8, 53126, 0xf34194c7d43f58a8ull},
    {"ptt5", 9, 52359, 0x0df0295e97f27709ull},
    {"sum", 1, 14112, 0x55f5fdfad91cadeaull},
    {"sum", 2, 13815, 0xf8be1b958f1b3977ull},
    {"sum", 3, 13720, 0x2bfa3fe66433f2c3ull},
    {"sum", 4, 13258, 0x1117f5eec00ffe19ull},
    {"sum", 5, 12970, 0x8e1fdc7722879390ull},
    {"sum", 6, 12902, 0x764038237e7ab2c0ull},
    {"sum", 7, 12868, 0x093d0a731eafb908ull},
    {"sum", 8, 12809, 0xe2e70005dd59770eull},
    {"sum", 9, 12750, 0xf9527ee02e3fcc45ull},
    {"xargs.1", 1, 1846, 0xe3dd426bf9e9d2b9ull},
    {"xargs.1", 2, 1820, 0xa7f21e4589e3c7afull},
    {"xargs.1", 3, 1808, 0x90e560a10ccffffcull},
    {"xargs.1", 4, 1749, 0xd9409b24f316725bull},
    {"xargs.1", 5, 1730, 0xcbbafb64a05d4701ull},
    {"xargs.1", 6, 1730, 0xcbbafb64a05d4701ull},
    {"xargs.1", 7, 1730, 0xcbbafb64a05d4701ull},
    {"xargs.1", 8, 1730, 0xcbbafb64a05d4701ull},
    {"xargs.1", 9, 1730, 0xcbbafb64a05d4701ull},
};

void CheckGolden(const std::vector<std::pair<std::string, TBytes>>& inputs, const TGolden* rows, size_t count) {
  TDeflateCompressor c;
  size_t checked = 0;
  for (const auto& [name, data] : inputs) {
    for (int level = 1; level <= 9; ++level) {
      const TCompressed out = Compress(c, level, data);
      for (size_t r = 0; r < count; ++r) {
        if (name != rows[r].input || level != rows[r].level) continue;
        EXPECT_EQ(out.bytes.size(), rows[r].size) << name << " level " << level;
        EXPECT_EQ(Fnv1a(out.bytes), rows[r].hash) << name << " level " << level;
        ++checked;
      }
    }
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
