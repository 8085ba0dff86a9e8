// unshrink.cpp - decoding of shrunk entries (method 1): LZW with partial
// clearing.
//
// Codes start 9 bits wide. Codes 0-255 are the byte values, 256 is an escape:
// the code after it is 1 (codes get one bit wider, up to 13) or 2 (partial
// clear: every code from 257 up that is no other code's prefix is freed). The
// first code is a literal. Every following code adds one entry at the lowest
// free code: the previous code's string extended by the first byte of this
// code's string; a code that is not yet defined is only valid as exactly that
// new entry (its string is the previous string plus its own first byte).
//
// Strings are kept as prefix chains; one is expanded back to front into a
// stack and copied into the output buffer. Every chain walk is bounded, so a
// hostile stream that builds a cycle ends with DataError.
//
// A partial clear costs in proportion to what it frees: each code counts the
// defined codes that name it as prefix, and a bit set holds the defined codes
// from 257 up that no code names (the leaves). A clear frees exactly the
// leaves of that moment; prefixes left without children become leaves for the
// next clear.
#include <algorithm>
#include <memory>
#include <new>

#include "zip/codec/decode_io.h"
#include "zip/codec/legacy_bits.h"

namespace vantrel::zip {

namespace {

constexpr unsigned kMaxCodes = 8192;
constexpr unsigned kControl = 256;
constexpr unsigned kFirstFree = 257;
constexpr uint16_t kFree = 0xFFFF;    // prefix of an unused code
constexpr uint16_t kNoPrefix = 0xFFFE;  // prefix of the byte codes
constexpr unsigned kMinBits = 9;
constexpr unsigned kMaxBits = 13;

constexpr unsigned kWords = kMaxCodes / 64;

struct TShrinkTables {
  uint16_t prefix[kMaxCodes];
  uint8_t suffix[kMaxCodes];
  uint8_t stack[kMaxCodes];
  uint16_t children[kMaxCodes];  // defined codes naming this code as prefix
  uint64_t leaf[kWords];         // defined codes >= 257 without children

  void SetLeaf(unsigned c, bool on) {
    if (on) leaf[c / 64] |= uint64_t{1} << (c % 64);
    else leaf[c / 64] &= ~(uint64_t{1} << (c % 64));
  }
  bool Defined(unsigned c) const { return prefix[c] != kFree; }

  void Define(unsigned c, unsigned pfx, uint8_t byte) {
    prefix[c] = static_cast<uint16_t>(pfx);
    suffix[c] = byte;
    SetLeaf(c, children[c] == 0);
    ++children[pfx];
    if (pfx >= kFirstFree) SetLeaf(pfx, false);
  }

  // Frees every leaf; codes left childless become leaves afterwards.
  void PartialClear() {
    uint64_t next[kWords] = {};
    for (unsigned w = 0; w < kWords; ++w) {
      uint64_t bits = leaf[w];
      leaf[w] = 0;
      while (bits) {
        const unsigned c = w * 64 + static_cast<unsigned>(__builtin_ctzll(bits));
        bits &= bits - 1;
        const unsigned pfx = prefix[c];
        prefix[c] = kFree;
        if (--children[pfx] == 0 && pfx >= kFirstFree && Defined(pfx))
          next[pfx / 64] |= uint64_t{1} << (pfx % 64);
      }
    }
    for (unsigned w = 0; w < kWords; ++w) leaf[w] |= next[w];
  }
};

}  // namespace

TDecodeResult Unshrink(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                       uint64_t uncompressedSize) {
  std::unique_ptr<TShrinkTables> t(new (std::nothrow) TShrinkTables);
  if (!t) return TDecodeResult::OutOfMemory;
  if (uncompressedSize == 0) return TDecodeResult::Ok;

  for (unsigned c = 0; c < 256; ++c) {
    t->prefix[c] = kNoPrefix;
    t->suffix[c] = static_cast<uint8_t>(c);
  }
  std::fill(t->prefix + 256, t->prefix + kMaxCodes, kFree);
  std::fill(t->children, t->children + kMaxCodes, uint16_t{0});
  std::fill(t->leaf, t->leaf + kWords, uint64_t{0});

  TLsbBitReader bits(in);
  TBlockWriter writer(out, buf.output);
  uint64_t produced = 0;
  unsigned codeBits = kMinBits;
  unsigned nextFree = kFirstFree;  // lowest code that may be free

  auto findFree = [&] {
    while (nextFree < kMaxCodes && t->prefix[nextFree] != kFree) ++nextFree;
  };

  unsigned prev = bits.Get(codeBits);
  if (bits.Overrun()) return TDecodeResult::DataError;
  if (prev >= 256) return TDecodeResult::DataError;  // the first code is a byte
  writer.Put(static_cast<uint8_t>(prev));
  ++produced;

  TDecodeResult result = TDecodeResult::Ok;
  while (produced < uncompressedSize) {
    const unsigned code = bits.Get(codeBits);
    if (bits.Overrun()) {
      result = TDecodeResult::DataError;
      break;
    }
    if (code == kControl) {
      const unsigned op = bits.Get(codeBits);
      if (bits.Overrun()) {
        result = TDecodeResult::DataError;
        break;
      }
      if (op == 1) {
        if (codeBits == kMaxBits) {
          result = TDecodeResult::DataError;
          break;
        }
        ++codeBits;
      } else if (op == 2) {
        t->PartialClear();
        nextFree = kFirstFree;
      } else {
        result = TDecodeResult::DataError;
        break;
      }
      continue;
    }

    findFree();
    // Expand the string of `code` back to front onto the stack.
    uint8_t* const stackEnd = t->stack + kMaxCodes;
    uint8_t* s = stackEnd;
    unsigned walk;
    bool kwkwk = false;
    if (t->prefix[code] == kFree) {
      // Only the entry about to be added may be used before it exists.
      if (code != nextFree) {
        result = TDecodeResult::DataError;
        break;
      }
      kwkwk = true;
      --s;  // its last byte is its first byte, filled in below
      walk = prev;
    } else {
      walk = code;
    }
    bool bad = false;
    for (;;) {
      if (s == t->stack || walk >= kMaxCodes || t->prefix[walk] == kFree) {
        bad = true;  // a chain through a freed code, or a cycle
        break;
      }
      *--s = t->suffix[walk];
      if (t->prefix[walk] == kNoPrefix) break;
      walk = t->prefix[walk];
    }
    if (bad) {
      result = TDecodeResult::DataError;
      break;
    }
    const uint8_t first = *s;
    if (kwkwk) stackEnd[-1] = first;

    // The new entry: previous string plus this string's first byte.
    if (nextFree < kMaxCodes) {
      t->Define(nextFree, prev, first);
      ++nextFree;
    }
    prev = code;

    const uint64_t room = uncompressedSize - produced;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(room, stackEnd - s));
    for (size_t k = 0; k < n; ++k) writer.Put(s[k]);
    produced += n;
  }
  writer.Flush();
  return result;
}

}  // namespace vantrel::zip
