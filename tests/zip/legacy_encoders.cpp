// legacy_encoders.cpp - test encoders for shrink, reduce and implode.
#include "tests/zip/legacy_encoders.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <stdexcept>
#include <unordered_map>

namespace vantrel::zip::testing {

namespace {

// Longest earlier matches through chains of the positions of each byte pair,
// searched to a fixed depth: good enough for tests.
class TMatchFinder {
 public:
  TMatchFinder(const TBytes& in, size_t window) : in_(in), window_(window), prev_(in.size()), head_(65536) {}
  // Registers position p (call for every position in order, after Find).
  void Insert(size_t p) {
    if (p + 1 >= in_.size()) return;
    prev_[p] = head_[Pair(p)];
    head_[Pair(p)] = static_cast<uint32_t>(p + 1);
  }
  // The length of the longest match for in[pos..] within the window, at most
  // maxLen long (0 when below minLen, which is at least 2); *dist is 1-based.
  size_t Find(size_t pos, size_t minLen, size_t maxLen, size_t* dist) const {
    maxLen = std::min(maxLen, in_.size() - pos);
    if (maxLen < minLen) return 0;
    size_t best = 0;
    for (uint32_t c = head_[Pair(pos)], depth = 0; c && depth < 64 && best < maxLen; c = prev_[c - 1], ++depth) {
      if (pos - (c - 1) > window_) break;
      size_t n = 0;
      while (n < maxLen && in_[c - 1 + n] == in_[pos + n]) ++n;
      if (n > best) best = n, *dist = pos - (c - 1);
    }
    return best >= minLen ? best : 0;
  }

 private:
  uint32_t Pair(size_t p) const { return in_[p] | in_[p + 1] << 8; }
  const TBytes& in_;
  size_t window_;
  std::vector<uint32_t> prev_, head_;  // position + 1 of the previous (latest) same pair
};

}  // namespace

// ---- Shrink. The encoder keeps the same code table the decoder builds: every
// code after the first defines (previous code + first byte of this code's
// string) at the lowest free code, so the encoder defines that entry before it
// searches (the new code may itself be used: the KwKwK case). Codes widen by the
// escape 256,1 just before a code needs the wider width; 256,2 frees every code
// from 257 up that is no other code's prefix.
TBytes Shrink(const TBytes& in, unsigned clearEvery) {
  constexpr unsigned kMax = 8192, kFree = 0xFFFF;
  std::vector<uint16_t> prefix(kMax, kFree);
  std::vector<uint8_t> suffix(kMax);
  std::unordered_map<uint32_t, uint16_t> child;  // prefix << 8 | byte -> code
  TBitWriter bits;
  unsigned width = 9, sinceClear = 0;
  int prev = -1;
  auto lowestFree = [&] {
    unsigned c = 257;
    while (c < kMax && prefix[c] != kFree) ++c;
    return c;
  };
  auto partialClear = [&] {
    bits.Bits(256, width);
    bits.Bits(2, width);
    std::vector<bool> isPrefix(kMax);
    for (unsigned c = 257; c < kMax; ++c)
      if (prefix[c] != kFree) isPrefix[prefix[c]] = true;
    for (unsigned c = 257; c < kMax; ++c) {
      if (prefix[c] == kFree || isPrefix[c]) continue;
      const uint32_t key = uint32_t{prefix[c]} << 8 | suffix[c];
      if (auto it = child.find(key); it != child.end() && it->second == c) child.erase(it);
      prefix[c] = kFree;
    }
    sinceClear = 0;
  };
  for (size_t pos = 0; pos < in.size();) {
    if (prev >= 0) {
      if ((clearEvery && sinceClear >= clearEvery) || lowestFree() == kMax) partialClear();
      const unsigned c = lowestFree();
      prefix[c] = static_cast<uint16_t>(prev);
      suffix[c] = in[pos];
      child[uint32_t(prev) << 8 | in[pos]] = static_cast<uint16_t>(c);
    }
    unsigned code = in[pos++];
    for (auto it = child.end(); pos < in.size() && (it = child.find(code << 8 | in[pos])) != child.end(); ++pos)
      code = it->second;
    while (code >= (1u << width)) {
      bits.Bits(256, width);
      bits.Bits(1, width);
      ++width;
    }
    bits.Bits(code, width);
    prev = static_cast<int>(code);
    ++sinceClear;
  }
  return std::move(bits.bytes);
}

// ---- Reduce. Stage one turns the input into bytes with matches as DLE (144)
// sequences: 144 V [extra] D, V holding length - 3 in its low 8 - factor bits
// (all ones: the extra byte adds to it) and the distance's high bits above;
// a literal 144 is 144 0. Stage two codes each of those bytes against the
// follower set of the byte before it (the up to 32 most frequent successors,
// so sets of every size occur).
TBytes Reduce(const TBytes& in, int factor) {
  if (factor < 1 || factor > 4) throw std::invalid_argument("factor");
  constexpr uint8_t kDle = 144;
  const unsigned lengthMask = 0xFFu >> factor;
  const size_t window = size_t{256} << factor;
  TBytes seq;
  TMatchFinder finder(in, window);
  for (size_t pos = 0; pos < in.size();) {
    size_t dist = 0;
    size_t len = finder.Find(pos, 3, 3 + lengthMask + 255, &dist);
    const unsigned high = static_cast<unsigned>((dist - 1) >> 8);
    if (len == 3 && high == 0) len = 0;  // would code as V = 0, a literal 144
    if (len == 0) {
      seq.push_back(in[pos]);
      if (in[pos] == kDle) seq.push_back(0);
      finder.Insert(pos++);
      continue;
    }
    const unsigned l = static_cast<unsigned>(len - 3);
    seq.push_back(kDle);
    seq.push_back(static_cast<uint8_t>(high << (8 - factor) | std::min(l, lengthMask)));
    if (l >= lengthMask) seq.push_back(static_cast<uint8_t>(l - lengthMask));
    seq.push_back(static_cast<uint8_t>(dist - 1));
    for (size_t k = 0; k < len; ++k) finder.Insert(pos++);
  }

  std::vector<std::vector<uint32_t>> freq(256, std::vector<uint32_t>(256));
  for (size_t i = 0; i < seq.size(); ++i) ++freq[i ? seq[i - 1] : 0][seq[i]];
  std::vector<TBytes> followers(256);
  for (int j = 0; j < 256; ++j) {
    for (int c = 0; c < 256; ++c)
      if (freq[j][c]) followers[j].push_back(static_cast<uint8_t>(c));
    std::stable_sort(followers[j].begin(), followers[j].end(),
                     [&](uint8_t a, uint8_t b) { return freq[j][a] > freq[j][b]; });
    if (followers[j].size() > 32) followers[j].resize(32);
  }
  TBitWriter bits;
  for (int j = 255; j >= 0; --j) {
    bits.Bits(static_cast<uint32_t>(followers[j].size()), 6);
    for (uint8_t f : followers[j]) bits.Bits(f, 8);
  }
  uint8_t last = 0;
  for (uint8_t c : seq) {
    const TBytes& set = followers[last];
    const auto it = std::find(set.begin(), set.end(), c);
    if (!set.empty()) bits.Bits(it == set.end(), 1);
    if (it == set.end()) {
      bits.Bits(c, 8);
    } else {
      unsigned indexBits = 1;
      while ((1u << indexBits) < set.size()) ++indexBits;
      bits.Bits(static_cast<uint32_t>(it - set.begin()), indexBits);
    }
    last = c;
  }
  return std::move(bits.bytes);
}

// ---- Implode.
namespace {

// Code lengths (1..16) for every symbol, from frequencies plus one so that
// each symbol gets a code and the set is complete. Huffman's construction;
// frequencies are flattened until no code is longer than 16 bits.
std::vector<uint8_t> CodeLengths(std::vector<uint32_t> freq) {
  const size_t n = freq.size();
  for (auto& f : freq) ++f;
  for (;; std::for_each(freq.begin(), freq.end(), [](uint32_t& f) { f = f / 2 + 1; })) {
    std::vector<int> parent(2 * n, -1);
    using TNode = std::pair<uint64_t, int>;
    std::priority_queue<TNode, std::vector<TNode>, std::greater<TNode>> q;
    for (size_t s = 0; s < n; ++s) q.push({freq[s], static_cast<int>(s)});
    for (int next = static_cast<int>(n); q.size() > 1; ++next) {
      const TNode a = q.top();
      q.pop();
      const TNode b = q.top();
      q.pop();
      parent[a.second] = parent[b.second] = next;
      q.push({a.first + b.first, next});
    }
    std::vector<uint8_t> lens(n);
    for (size_t s = 0; s < n; ++s)
      for (int p = parent[s]; p >= 0; p = parent[p]) ++lens[s];
    if (*std::max_element(lens.begin(), lens.end()) <= 16) return lens;
  }
}

// A Shannon-Fano tree as the stream stores it and as the bits are written:
// canonical codes (shorter first, then by symbol), sent most significant bit
// first and complemented.
struct TTree {
  explicit TTree(const std::vector<uint32_t>& freq) : lens(CodeLengths(freq)), codes(lens.size()) {
    uint32_t code = 0;
    for (unsigned len = 1; len <= 16; ++len, code <<= 1)
      for (size_t s = 0; s < lens.size(); ++s)
        if (lens[s] == len) codes[s] = code++;
  }
  // Count byte (bytes - 1), then per run of equal lengths (len - 1) | (run - 1) << 4.
  void WriteTable(TBitWriter& bits) const {
    TBytes runs;
    for (size_t s = 0; s < lens.size();) {
      size_t run = 1;
      while (run < 16 && s + run < lens.size() && lens[s + run] == lens[s]) ++run;
      runs.push_back(static_cast<uint8_t>((lens[s] - 1) | (run - 1) << 4));
      s += run;
    }
    bits.Bits(static_cast<uint32_t>(runs.size() - 1), 8);
    for (uint8_t r : runs) bits.Bits(r, 8);
  }
  void Write(TBitWriter& bits, unsigned sym) const { bits.Code(~codes[sym], lens[sym]); }
  std::vector<uint8_t> lens;
  std::vector<uint32_t> codes;
};

}  // namespace

// A 1 bit and a literal (through the literal tree, or 8 plain bits), or a 0 bit
// and a match: the distance's low 6 (4 KB) or 7 (8 KB) bits plain, its upper 6
// bits through the distance tree, then length - minimum (3 with a literal tree,
// else 2) through the length tree, 63 meaning 63 plus one more byte.
TBytes Implode(const TBytes& in, bool window8k, bool literalTree) {
  const unsigned lowBits = window8k ? 7 : 6;
  const size_t minLen = literalTree ? 3 : 2;
  struct TToken {
    uint32_t len, dist;  // len 0: literal dist
  };
  std::vector<TToken> tokens;
  TMatchFinder finder(in, size_t{64} << lowBits);
  for (size_t pos = 0; pos < in.size();) {
    size_t dist = 0;
    const size_t len = finder.Find(pos, minLen, minLen + 63 + 255, &dist);
    tokens.push_back(len ? TToken{static_cast<uint32_t>(len), static_cast<uint32_t>(dist - 1)} : TToken{0, in[pos]});
    for (size_t end = pos + std::max<size_t>(len, 1); pos < end;) finder.Insert(pos++);
  }
  std::vector<uint32_t> litFreq(256), lenFreq(64), distFreq(64);
  for (const TToken& t : tokens) {
    if (t.len == 0) ++litFreq[t.dist];
    else ++lenFreq[std::min<uint32_t>(t.len - static_cast<uint32_t>(minLen), 63)], ++distFreq[t.dist >> lowBits];
  }
  const TTree lit(litFreq), len(lenFreq), dist(distFreq);
  TBitWriter bits;
  if (literalTree) lit.WriteTable(bits);
  len.WriteTable(bits);
  dist.WriteTable(bits);
  for (const TToken& t : tokens) {
    if (t.len == 0) {
      bits.Bits(1, 1);
      if (literalTree) lit.Write(bits, t.dist);
      else bits.Bits(t.dist, 8);
      continue;
    }
    bits.Bits(0, 1);
    bits.Bits(t.dist, lowBits);
    dist.Write(bits, t.dist >> lowBits);
    const uint32_t l = t.len - static_cast<uint32_t>(minLen);
    len.Write(bits, std::min<uint32_t>(l, 63));
    if (l >= 63) bits.Bits(l - 63, 8);
  }
  return std::move(bits.bytes);
}

TBytes Encode(const TLegacyVariant& v, const TBytes& in) {
  if (v.method == 1) return Shrink(in, 500);
  if (v.method >= 2 && v.method <= 5) return Reduce(in, v.method - 1);
  if (v.method == 6) return Implode(in, (v.flags & 2) != 0, (v.flags & 4) != 0);
  throw std::invalid_argument("not a legacy method");
}

}  // namespace vantrel::zip::testing
