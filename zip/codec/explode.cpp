// explode.cpp - decoding of imploded entries (method 6).
//
// The stream starts with two or three Shannon-Fano trees, each stored as
// run-length coded bit lengths: a count byte (number of bytes - 1), then per
// byte the bit length - 1 in the low nibble and the run length - 1 in the high
// nibble. The literal tree (flag bit 2) has 256 values, the length and distance
// trees have 64.
//
// The codes are assigned longest first, starting from zero, and stored bit
// reversed; that is the bitwise complement of the canonical code of the same
// lengths, so the decoder builds canonical tables and looks them up with the
// complemented input bits. Only complete code sets are accepted.
//
// Then, until the declared size is reached: a 1 bit introduces a literal (coded
// with the literal tree, or 8 plain bits), a 0 bit a match: the low 6 (4 KB
// window) or 7 (8 KB window) distance bits, the upper 6 through the distance
// tree, the length through the length tree (plus 8 more bits when it is 63)
// and a minimum length of 3 with a literal tree, else 2. Bytes before the start
// of the output read as zeros.
#include <algorithm>
#include <memory>
#include <new>

#include "zip/codec/decode_io.h"
#include "zip/codec/legacy_bits.h"

namespace vantrel::zip {

namespace {

constexpr int kMaxBits = 16;
constexpr size_t kWindow = 8192;

// Entry layout: value << 16 | flags | aux << 8 | bits (aux: subtable width).
constexpr uint32_t kFlagSub = 0x2000;
constexpr uint32_t kFlagInvalid = 0x8000;

// Room for every complete code (a subtable of width k holds at least k + 1
// codes, so 256 symbols with 9 first-level bits make at most 32 subtables of
// 128 entries, and 64 symbols with 7 or 8 bits at most 7 of 512 or 256). The
// builder checks the bound anyway.
constexpr size_t kLitTableSize = 512 + 32 * 128;
constexpr size_t kSmallTableSize = 128 + 7 * 512;

unsigned Reverse(unsigned code, int len) {
  unsigned r = 0;
  for (int i = 0; i < len; ++i) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

// Canonical decoding table for lens[0..n) (each 1..16). False unless the set
// is complete and fits.
bool BuildTable(const uint8_t* lens, unsigned n, int rootBits, uint32_t* table, size_t tableSize) {
  unsigned count[kMaxBits + 1] = {};
  for (unsigned s = 0; s < n; ++s) ++count[lens[s]];
  int left = 1;
  for (int len = 1; len <= kMaxBits; ++len) {
    left = (left << 1) - static_cast<int>(count[len]);
    if (left < 0) return false;
  }
  if (left != 0) return false;

  unsigned offs[kMaxBits + 2] = {};
  for (int len = 1; len <= kMaxBits; ++len) offs[len + 1] = offs[len] + count[len];
  uint16_t sorted[256];
  for (unsigned s = 0; s < n; ++s) sorted[offs[lens[s]]++] = static_cast<uint16_t>(s);

  const size_t rootSize = size_t{1} << rootBits;
  std::fill(table, table + rootSize, uint32_t{kFlagInvalid});
  size_t used = rootSize;
  unsigned code = 0;
  int prevLen = 0;
  unsigned subPrefix = ~0u;
  size_t subBase = 0;
  int subBits = 0;
  for (unsigned i = 0; i < n; ++i) {
    const unsigned sym = sorted[i];
    const int len = lens[sym];
    if (prevLen) code = (code + 1) << (len - prevLen);
    prevLen = len;
    if (len <= rootBits) {
      const uint32_t e = sym << 16 | static_cast<uint32_t>(len);
      for (size_t j = Reverse(code, len); j < rootSize; j += size_t{1} << len) table[j] = e;
      continue;
    }
    const unsigned prefix = code >> (len - rootBits);
    if (prefix != subPrefix) {
      // The longest code under this prefix sets the subtable's width.
      int groupMax = len;
      unsigned c = code;
      int l = len;
      for (unsigned k = i + 1; k < n; ++k) {
        const int nl = lens[sorted[k]];
        c = (c + 1) << (nl - l);
        l = nl;
        if ((c >> (nl - rootBits)) != prefix) break;
        groupMax = nl;
      }
      subPrefix = prefix;
      subBits = groupMax - rootBits;
      subBase = used;
      used += size_t{1} << subBits;
      if (used > tableSize) return false;
      std::fill(table + subBase, table + used, uint32_t{kFlagInvalid});
      table[Reverse(prefix, rootBits)] = static_cast<uint32_t>(subBase) << 16 | kFlagSub |
                                         static_cast<uint32_t>(subBits) << 8 |
                                         static_cast<uint32_t>(rootBits);
    }
    const int rest = len - rootBits;
    const uint32_t e = sym << 16 | static_cast<uint32_t>(rest);
    for (size_t j = Reverse(code & ((1u << rest) - 1), rest); j < (size_t{1} << subBits);
         j += size_t{1} << rest)
      table[subBase + j] = e;
  }
  return true;
}

// Reads one stored tree of n bit lengths and builds its table.
bool ReadTree(TLsbBitReader& bits, unsigned n, int rootBits, uint32_t* table, size_t tableSize) {
  uint8_t lens[256];
  const unsigned bytes = bits.Get(8) + 1;
  unsigned k = 0;
  for (unsigned i = 0; i < bytes; ++i) {
    const unsigned b = bits.Get(8);
    const unsigned len = (b & 15) + 1;
    const unsigned run = (b >> 4) + 1;
    if (run > n - k) return false;
    std::fill(lens + k, lens + k + run, static_cast<uint8_t>(len));
    k += run;
  }
  if (bits.Overrun() || k != n) return false;
  return BuildTable(lens, n, rootBits, table, tableSize);
}

// Decodes one symbol; the code bits are complemented on the wire. -1 for an
// invalid code.
int Decode(TLsbBitReader& bits, const uint32_t* table, int rootBits) {
  bits.Need(kMaxBits);
  const uint64_t inv = ~bits.Raw();
  uint32_t e = table[inv & ((1u << rootBits) - 1)];
  if (e & kFlagSub) {
    bits.Drop(rootBits);
    e = table[(e >> 16) + ((inv >> rootBits) & ((1u << ((e >> 8) & 0xF)) - 1))];
  }
  if (e & kFlagInvalid) return -1;
  bits.Drop(e & 0xFF);
  return static_cast<int>(e >> 16);
}

struct TExplodeTables {
  uint32_t lit[kLitTableSize];
  uint32_t len[kSmallTableSize];
  uint32_t dist[kSmallTableSize];
};

}  // namespace

TDecodeResult Explode(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf, bool window8k,
                      bool literalTree, uint64_t compressedSize, uint64_t uncompressedSize) {
  std::unique_ptr<TExplodeTables> t(new (std::nothrow) TExplodeTables);
  if (!t) return TDecodeResult::OutOfMemory;
  if (uncompressedSize == 0) return TDecodeResult::Ok;

  constexpr int kLitRoot = 9;
  constexpr int kLenRoot = 7;
  const int distRoot = compressedSize > 200000 ? 8 : 7;

  TLsbBitReader bits(in);
  if (literalTree && !ReadTree(bits, 256, kLitRoot, t->lit, kLitTableSize))
    return TDecodeResult::DataError;
  if (!ReadTree(bits, 64, kLenRoot, t->len, kSmallTableSize) ||
      !ReadTree(bits, 64, distRoot, t->dist, kSmallTableSize))
    return TDecodeResult::DataError;

  const unsigned lowBits = window8k ? 7 : 6;
  const unsigned minMatch = literalTree ? 3 : 2;
  uint8_t* const window = buf.window;
  TBlockWriter writer(out, buf.output);
  uint64_t produced = 0;
  TDecodeResult result = TDecodeResult::Ok;

  while (produced < uncompressedSize) {
    if (bits.Get(1)) {
      int c;
      if (literalTree) {
        c = Decode(bits, t->lit, kLitRoot);
      } else {
        c = static_cast<int>(bits.Get(8));
      }
      if (c < 0 || bits.Overrun()) {
        result = TDecodeResult::DataError;
        break;
      }
      window[produced & (kWindow - 1)] = static_cast<uint8_t>(c);
      writer.Put(static_cast<uint8_t>(c));
      ++produced;
      continue;
    }
    const unsigned low = bits.Get(lowBits);
    const int high = Decode(bits, t->dist, distRoot);
    const int lenSym = Decode(bits, t->len, kLenRoot);
    if (high < 0 || lenSym < 0) {
      result = TDecodeResult::DataError;
      break;
    }
    unsigned len = static_cast<unsigned>(lenSym);
    if (len == 63) len += bits.Get(8);
    len += minMatch;
    if (bits.Overrun()) {
      result = TDecodeResult::DataError;
      break;
    }
    const uint64_t back = ((static_cast<uint64_t>(high) << lowBits) | low) + 1;  // at most 8192
    for (unsigned k = 0; k < len && produced < uncompressedSize; ++k) {
      const uint8_t b = produced >= back ? window[(produced - back) & (kWindow - 1)] : 0;
      window[produced & (kWindow - 1)] = b;
      writer.Put(b);
      ++produced;
    }
  }
  writer.Flush();
  return result;
}

}  // namespace vantrel::zip
