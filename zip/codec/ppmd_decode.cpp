// ppmd_decode.cpp - method 98: PPMd variant I, revision 1.
//
// PPM predicts each byte from the bytes before it: a context is the string of
// the last k bytes (k up to the model order), and holds the symbols seen after
// it with their frequencies. A byte is coded in the longest context that has
// been seen; a symbol the context has not seen is coded as an escape, and the
// next shorter context (the suffix) is tried with the symbols already tried
// excluded. Escaping from the order-0 context ends the stream.
//
// Variant I's refinements, all of which the decoder must mirror exactly:
//   * A context with one symbol ("binary" context) codes hit or escape with an
//     adaptive probability picked by the symbol's frequency, the suffix's
//     size, whether the last symbol was predicted at once, the context's flags
//     and whether a run of predicted symbols is under way.
//   * The escape frequency of a context entered after an escape comes from a
//     secondary estimate (SEE), an adaptive counter picked by the context's
//     size, total frequency, flags and how many symbols were excluded.
//   * New contexts inherit their first frequency from the suffix; frequencies
//     are halved when one passes 124, and symbols whose frequency halves to
//     zero leave the context.
//   * Memory is fixed (1 to 256 MB). When it is full, the model either starts
//     afresh (restoration method 0) or, method 1, cuts the context tree down
//     to what the recent text still uses and goes on.
//
// The range coder is the carry-less one of variant I: 32-bit low and range,
// a byte is shifted in whenever the top byte of low settles, or the range
// falls below 2^15 (it is then cut to the next 2^15 boundary of low).
//
// The ZIP entry starts with two little-endian bytes: bits 0-3 the model order
// minus 1 (orders 2 to 16), bits 4-11 the memory in MB minus 1, bits 12-15 the
// restoration method. The coded symbols follow; a writer ends them with the
// end marker and four flush bytes of the range coder. Decoding stops at the
// declared size, so an end marker is not required.
#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "zip/codec/decode_io.h"
#include "zip/codec/ppmd_memory.h"

namespace vantrel::zip {

namespace ppmd {
namespace {

constexpr unsigned kMinOrder = 2;
constexpr unsigned kMaxOrder = 16;
constexpr unsigned kMaxFreq = 124;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kBinTotalBits = kIntBits + kPeriodBits;
constexpr unsigned kBinScale = 1u << kBinTotalBits;
constexpr uint32_t kTop = 1u << 24;
constexpr uint32_t kBottom = 1u << 15;

enum : int { kSymbolEnd = -1, kSymbolError = -2 };
enum TRestore : unsigned { kRestart = 0, kCutOff = 1 };

// A symbol with its frequency and successor: the context that follows it
// (a raw text position until that context exists). Six bytes.
struct TState {
  uint8_t symbol;
  uint8_t freq;
  uint8_t successor[4];
  uint32_t Successor() const { return Load32(successor); }
  void SetSuccessor(uint32_t r) { Store32(successor, r); }
};
static_assert(sizeof(TState) == 6);

// A context: one unit. numStats is the number of symbols less one; a context
// of one symbol keeps that state in place of summFreq and stats.
// Flags: 0x04 frequencies were halved, 0x08 a symbol >= 0x40 is present,
// 0x10 the symbol that led here was >= 0x40.
struct TContext {
  uint8_t numStats;
  uint8_t flags;
  uint8_t summFreq[2];
  uint8_t stats[4];
  uint8_t suffix[4];
  unsigned SummFreq() const { return Load16(summFreq); }
  void SetSummFreq(unsigned v) { Store16(summFreq, static_cast<uint16_t>(v)); }
  uint32_t Stats() const { return Load32(stats); }
  void SetStats(uint32_t r) { Store32(stats, r); }
  uint32_t Suffix() const { return Load32(suffix); }
  void SetSuffix(uint32_t r) { Store32(suffix, r); }
  TState* OneState() { return reinterpret_cast<TState*>(summFreq); }
};
static_assert(sizeof(TContext) == kUnitSize);

// An adaptive escape estimate.
struct TSee {
  uint16_t summ;
  uint8_t shift;
  uint8_t count;
  unsigned Mean() {
    const unsigned r = summ >> shift;
    summ = static_cast<uint16_t>(summ - r);
    return r + (r == 0);
  }
  void Update() {
    if (shift < kPeriodBits && --count == 0) {
      summ = static_cast<uint16_t>(summ << 1);
      count = static_cast<uint8_t>(3 << shift++);
    }
  }
};

constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};
constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

// Size classes: the first five counts alone, then classes of 1, 2, 3, ...
// counts. Rows of the SEE table by context size, rows of the binary
// probabilities by frequency.
struct TTables {
  uint8_t sizeClass[260] = {};
  uint8_t suffixClass[256] = {};  // binary columns by the suffix's numStats
  constexpr TTables() {
    unsigned i = 0;
    for (; i < 5; ++i) sizeClass[i] = static_cast<uint8_t>(i);
    for (unsigned m = i, k = 1; i < 260; ++i) {
      sizeClass[i] = static_cast<uint8_t>(m);
      if (--k == 0) k = ++m - 4;
    }
    suffixClass[0] = 0;
    suffixClass[1] = 2;
    for (i = 2; i < 11; ++i) suffixClass[i] = 4;
    for (; i < 256; ++i) suffixClass[i] = 6;
  }
};
constexpr TTables kTables{};
static_assert(kTables.sizeClass[256] - 3 == 23 && kTables.sizeClass[195] == 24);

class TModel {
 public:
  explicit TModel(TDecodeInput& in) : in_(in) {}

  bool Reserve(uint32_t size) { return mem_.Reserve(size); }

  // Reads the range coder's first bytes and sets up a fresh model. False when
  // the stream cannot be valid.
  bool Start(unsigned order, TRestore restore) {
    low_ = 0;
    range_ = 0xFFFFFFFFu;
    code_ = 0;
    for (int i = 0; i < 4; ++i) code_ = code_ << 8 | ReadByte();
    maxOrder_ = order;
    restore_ = restore;
    RestartModel();
    dummySee_.shift = kPeriodBits;
    dummySee_.summ = 0;
    dummySee_.count = 64;
    return code_ != 0xFFFFFFFFu;
  }

  // Decodes up to n bytes into out; fewer when the stream ends (end marker)
  // or turns out damaged.
  size_t Decode(uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      const int c = DecodeSymbol();
      if (c < 0 || broken_ || overrun_ > kMaxOverrun) return i;
      out[i] = static_cast<uint8_t>(c);
    }
    return n;
  }

 private:
  // Zero bytes fed after the entry's data before the stream counts as cut.
  // (The writer's four flush bytes mean a whole stream never needs any.)
  static constexpr unsigned kMaxOverrun = 4;

  // ----------------------------------------------------------- range decoder

  uint8_t ReadByte() {
    if (in_.next != in_.end) return *in_.next++;
    if (in_.Refill()) return *in_.next++;
    ++overrun_;
    return 0;
  }

  // The count the next symbol falls on, with the range scaled to `total`;
  // kBadTotal when the range is too small for the total (damaged data).
  static constexpr uint32_t kBadTotal = 0xFFFFFFFFu;
  uint32_t Threshold(uint32_t total) {
    if (range_ < total || total == 0) return kBadTotal;
    range_ /= total;
    return code_ / range_;
  }

  void Consume(uint32_t start, uint32_t size) {
    start *= range_;
    low_ += start;
    code_ -= start;
    range_ *= size;
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kTop) {
        if (range_ >= kBottom) break;
        range_ = (0u - low_) & (kBottom - 1);
      }
      code_ = code_ << 8 | ReadByte();
      range_ <<= 8;
      low_ <<= 8;
    }
  }

  // ----------------------------------------------------------- model access

  TContext* Ctx(uint32_t r) const { return reinterpret_cast<TContext*>(mem_.At(r)); }
  TState* StatesOf(const TContext* c) const { return reinterpret_cast<TState*>(mem_.At(c->Stats())); }
  TContext* SuffixOf(const TContext* c) const { return Ctx(c->Suffix()); }
  uint32_t Ref(const void* p) const { return mem_.Ref(p); }
  // A successor that is a text position, not a context (null counts as raw).
  bool IsRaw(uint32_t successor) const { return mem_.At(successor) < mem_.unitsStart; }

  static void Swap(TState* a, TState* b) {
    const TState t = *a;
    *a = *b;
    *b = t;
  }

  // The state for `symbol` in a context of several symbols. A context holds
  // every symbol of the longer contexts below it, so the search cannot fail;
  // should it all the same, decoding stops as broken instead of running off.
  TState* FindState(TContext* c, uint8_t symbol) {
    TState* s = StatesOf(c);
    for (unsigned n = c->numStats + 1u; n != 0; --n, ++s)
      if (s->symbol == symbol) return s;
    broken_ = true;
    return nullptr;
  }

  // ----------------------------------------------------------- exclusion

  // Symbols tried in the contexts escaped from carry the current generation.
  void NewExclusion() {
    if (++generation_ == 0) {
      std::fill(std::begin(excluded_), std::end(excluded_), 0u);
      generation_ = 1;
    }
  }
  void Exclude(uint8_t symbol) { excluded_[symbol] = generation_; }
  bool Excluded(uint8_t symbol) const { return excluded_[symbol] == generation_; }

  // ----------------------------------------------------------- decoding

  int DecodeSymbol() {
    TContext* mc = minContext_;
    if (mc->numStats != 0) {
      TState* s = StatesOf(mc);
      const unsigned summ = mc->SummFreq();
      const uint32_t count = Threshold(summ);
      if (count == kBadTotal) return kSymbolError;
      unsigned hi = s->freq;
      if (count < hi) {
        Consume(0, hi);
        foundState_ = s;
        const uint8_t symbol = s->symbol;
        UpdateFirst();
        return symbol;
      }
      prevSuccess_ = 0;
      for (unsigned i = mc->numStats; i != 0; --i) {
        ++s;
        hi += s->freq;
        if (hi > count) {
          Consume(hi - s->freq, s->freq);
          foundState_ = s;
          const uint8_t symbol = s->symbol;
          UpdateLater();
          return symbol;
        }
      }
      if (count >= summ) return kSymbolError;
      Consume(hi, summ - hi);
      NewExclusion();
      s = StatesOf(mc);
      for (unsigned k = mc->numStats + 1u; k != 0; --k, ++s) Exclude(s->symbol);
    } else {
      TState* s = mc->OneState();
      uint16_t& prob = BinaryProbability(mc);
      range_ >>= kBinTotalBits;
      if (code_ / range_ < prob) {
        Consume(0, prob);
        prob = static_cast<uint16_t>(prob + (1u << kIntBits) - Mean(prob));
        foundState_ = s;
        const uint8_t symbol = s->symbol;
        UpdateBinary();
        return symbol;
      }
      Consume(prob, kBinScale - prob);
      prob = static_cast<uint16_t>(prob - Mean(prob));
      initEsc_ = kExpEscape[prob >> 10];
      NewExclusion();
      Exclude(s->symbol);
      prevSuccess_ = 0;
    }
    return DecodeAfterEscape();
  }

  static unsigned Mean(unsigned prob) { return (prob + (1u << (kPeriodBits - 2))) >> kPeriodBits; }

  uint16_t& BinaryProbability(TContext* mc) {
    const TState* s = mc->OneState();
    const unsigned row = std::min<unsigned>(kTables.sizeClass[std::max<unsigned>(s->freq, 1) - 1], 24);
    const unsigned column = kTables.suffixClass[SuffixOf(mc)->numStats] + prevSuccess_ + (mc->flags & 0x18) +
                            ((runLength_ >> 26) & 0x20);
    return binSumm_[row][column];
  }

  // The contexts below the one escaped from, each with the symbols tried
  // above excluded, until a symbol is found or the order-0 context escapes.
  int DecodeAfterEscape() {
    for (;;) {
      TContext* mc = minContext_;
      const unsigned numMasked = mc->numStats;
      do {
        ++orderFall_;
        if (mc->Suffix() == 0) return kSymbolEnd;
        mc = SuffixOf(mc);
      } while (mc->numStats == numMasked);
      minContext_ = mc;

      TState* candidates[256];
      unsigned n = 0;
      uint32_t hi = 0;
      TState* s = StatesOf(mc);
      // (Without branches: whether a symbol is excluded is anybody's guess.)
      for (unsigned k = mc->numStats + 1u; k != 0; --k, ++s) {
        const unsigned open = !Excluded(s->symbol);
        hi += s->freq & (0u - open);
        candidates[n] = s;
        n += open;
      }
      uint32_t escFreq;
      TSee* see = MakeEscFreq(numMasked, escFreq);
      const uint32_t total = escFreq + hi;
      const uint32_t count = Threshold(total);
      if (count == kBadTotal) return kSymbolError;
      if (count < hi) {
        unsigned k = 0;
        uint32_t acc = candidates[0]->freq;
        while (acc <= count) acc += candidates[++k]->freq;
        s = candidates[k];
        Consume(acc - s->freq, s->freq);
        see->Update();
        foundState_ = s;
        const uint8_t symbol = s->symbol;
        UpdateAfterEscape();
        return symbol;
      }
      if (count >= total) return kSymbolError;
      Consume(hi, total - hi);
      see->summ = static_cast<uint16_t>(see->summ + total);
      for (unsigned k = 0; k < n; ++k) Exclude(candidates[k]->symbol);
    }
  }

  TSee* MakeEscFreq(unsigned numMasked, uint32_t& escFreq) {
    TContext* mc = minContext_;
    const unsigned ns = mc->numStats;
    if (ns == 0xFF) {
      escFreq = 1;
      return &dummySee_;
    }
    TSee* see = &see_[kTables.sizeClass[ns + 2] - 3][(mc->SummFreq() > 11 * (ns + 1)) +
                                                     2 * (2 * ns < SuffixOf(mc)->numStats + numMasked) +
                                                     (mc->flags & 0x1C)];
    escFreq = see->Mean();
    return see;
  }

  // ----------------------------------------------------------- updates after a symbol

  // The most probable symbol of a context of several was coded.
  void UpdateFirst() {
    TState* s = foundState_;
    TContext* mc = minContext_;
    prevSuccess_ = 2u * s->freq >= mc->SummFreq();
    runLength_ += prevSuccess_;
    mc->SetSummFreq(mc->SummFreq() + 4);
    s->freq = static_cast<uint8_t>(s->freq + 4);
    if (s->freq > kMaxFreq) Rescale();
    NextContext();
  }

  // Another symbol of the first context tried: it moves ahead of its
  // neighbour when it became more frequent.
  void UpdateLater() {
    TState* s = foundState_;
    TContext* mc = minContext_;
    s->freq = static_cast<uint8_t>(s->freq + 4);
    mc->SetSummFreq(mc->SummFreq() + 4);
    if (s[0].freq > s[-1].freq) {
      Swap(&s[0], &s[-1]);
      foundState_ = --s;
      if (s->freq > kMaxFreq) Rescale();
    }
    NextContext();
  }

  void UpdateBinary() {
    TState* s = foundState_;
    s->freq = static_cast<uint8_t>(s->freq + (s->freq < 196));
    prevSuccess_ = 1;
    ++runLength_;
    NextContext();
  }

  void UpdateAfterEscape() {
    TContext* mc = minContext_;
    mc->SetSummFreq(mc->SummFreq() + 4);
    TState* s = foundState_;
    s->freq = static_cast<uint8_t>(s->freq + 4);
    if (s->freq > kMaxFreq) Rescale();
    runLength_ = initRunLength_;
    UpdateModel();
    minContext_ = maxContext_;
  }

  // Straight to the successor context when it exists and the model is at
  // full order; else the model grows.
  void NextContext() {
    const uint32_t successor = foundState_->Successor();
    if (orderFall_ == 0 && mem_.At(successor) > mem_.text) {
      minContext_ = maxContext_ = Ctx(successor);
    } else {
      UpdateModel();
      minContext_ = maxContext_;
    }
  }

  // Halves the frequencies of the current context (keeping them sorted, the
  // found state first); symbols that fall to zero leave it.
  void Rescale() {
    TContext* mc = minContext_;
    TState* stats = StatesOf(mc);
    TState* s = foundState_;
    if (s != stats) {
      const TState t = *s;
      for (; s != stats; --s) s[0] = s[-1];
      *s = t;
    }
    unsigned escFreq = mc->SummFreq() - s->freq;
    s->freq = static_cast<uint8_t>(s->freq + 4);
    const unsigned adder = orderFall_ != 0;
    s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
    unsigned sumFreq = s->freq;
    unsigned i = mc->numStats;
    do {
      ++s;
      escFreq -= s->freq;
      s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
      sumFreq += s->freq;
      if (s[0].freq > s[-1].freq) {
        TState* s1 = s;
        const TState t = *s1;
        do s1[0] = s1[-1];
        while (--s1 != stats && t.freq > s1[-1].freq);
        *s1 = t;
      }
    } while (--i);

    if (s->freq == 0) {
      const unsigned numStats = mc->numStats;
      do ++i;
      while ((--s)->freq == 0);
      escFreq += i;
      mc->numStats = static_cast<uint8_t>(mc->numStats - i);
      if (mc->numStats == 0) {
        TState t = *stats;
        escFreq = std::max(escFreq, 1u);
        t.freq = static_cast<uint8_t>(std::min<unsigned>((2 * t.freq + escFreq - 1) / escFreq, kMaxFreq / 3));
        mem_.FreeUnits(reinterpret_cast<uint8_t*>(stats), (numStats + 2) >> 1);
        mc->flags = static_cast<uint8_t>((mc->flags & 0x10) + 0x08 * (t.symbol >= 0x40));
        *(foundState_ = mc->OneState()) = t;
        return;
      }
      const unsigned n0 = (numStats + 2) >> 1, n1 = (mc->numStats + 2u) >> 1;
      if (n0 != n1) mc->SetStats(Ref(mem_.ShrinkUnits(reinterpret_cast<uint8_t*>(stats), n0, n1)));
      mc->flags &= ~0x08;
      s = StatesOf(mc);
      for (unsigned k = mc->numStats + 1u; k != 0; --k, ++s) mc->flags |= 0x08 * (s->symbol >= 0x40);
    }
    mc->SetSummFreq(sumFreq + escFreq - (escFreq >> 1));
    mc->flags |= 0x04;
    foundState_ = StatesOf(mc);
  }

  // ----------------------------------------------------------- growing the model

  // Creates the contexts the found symbol leads to, from context c down the
  // suffixes until one whose state for the symbol already leads to a context.
  // s1, when given, is that state in c's suffix. skip: the found state itself
  // gets no new context here. Null when memory runs out.
  TContext* CreateSuccessors(bool skip, TState* s1, TContext* c) {
    const uint32_t upBranch = foundState_->Successor();
    const uint8_t fSymbol = foundState_->symbol;
    TState* ps[kMaxOrder + 1];
    unsigned numPs = 0;
    if (!skip) ps[numPs++] = foundState_;

    while (c->Suffix() != 0) {
      c = SuffixOf(c);
      TState* s;
      if (s1) {
        s = s1;
        s1 = nullptr;
      } else if (c->numStats != 0) {
        s = FindState(c, fSymbol);
        if (!s) return nullptr;
        if (s->freq < kMaxFreq - 9) {
          s->freq = static_cast<uint8_t>(s->freq + 1);
          c->SetSummFreq(c->SummFreq() + 1);
        }
      } else {
        s = c->OneState();
        s->freq = static_cast<uint8_t>(s->freq + ((SuffixOf(c)->numStats == 0) & (s->freq < 24)));
      }
      const uint32_t successor = s->Successor();
      if (successor != upBranch) {
        c = Ctx(successor);
        if (numPs == 0) return c;
        break;
      }
      if (numPs == kMaxOrder + 1) {
        broken_ = true;  // deeper than any context can be
        return nullptr;
      }
      ps[numPs++] = s;
    }
    if (numPs == 0) return c;

    TState up;
    up.symbol = *mem_.At(upBranch);
    up.SetSuccessor(upBranch + 1);
    const uint8_t flags = static_cast<uint8_t>(0x10 * (fSymbol >= 0x40) + 0x08 * (up.symbol >= 0x40));
    if (c->numStats == 0) {
      up.freq = c->OneState()->freq;
    } else {
      const TState* s = FindState(c, up.symbol);
      if (!s) return nullptr;
      const unsigned cf = s->freq - 1u;
      const unsigned s0 = std::max(1u, c->SummFreq() - c->numStats - cf);
      up.freq = static_cast<uint8_t>(1 + (2 * cf <= s0 ? (5 * cf > s0) : (cf + 2 * s0 - 3) / s0));
    }

    do {
      uint8_t* unit = mem_.AllocContext();
      if (!unit) return nullptr;
      TContext* c1 = reinterpret_cast<TContext*>(unit);
      c1->numStats = 0;
      c1->flags = flags;
      *c1->OneState() = up;
      c1->SetSuffix(Ref(c));
      ps[--numPs]->SetSuccessor(Ref(c1));
      c = c1;
    } while (numPs != 0);
    return c;
  }

  // The found state has no successor: it and the states for the symbol in
  // the suffixes that have none get the current text position; the first
  // suffix state with a successor decides the context to go on in (created
  // if it is still raw). Null when memory runs out.
  TContext* ReduceOrder(TState* s1, TContext* c) {
    TContext* const c1 = c;
    const uint32_t upBranch = Ref(mem_.text);
    const uint8_t fSymbol = foundState_->symbol;
    TState* s = nullptr;
    foundState_->SetSuccessor(upBranch);
    ++orderFall_;
    for (;;) {
      if (s1) {
        c = SuffixOf(c);
        s = s1;
        s1 = nullptr;
      } else {
        if (c->Suffix() == 0) return c;
        c = SuffixOf(c);
        if (c->numStats != 0) {
          s = FindState(c, fSymbol);
          if (!s) return nullptr;
          if (s->freq < kMaxFreq - 9) {
            s->freq = static_cast<uint8_t>(s->freq + 2);
            c->SetSummFreq(c->SummFreq() + 2);
          }
        } else {
          s = c->OneState();
          s->freq = static_cast<uint8_t>(s->freq + (s->freq < 32));
        }
      }
      if (s->Successor() != 0) break;
      s->SetSuccessor(upBranch);
      ++orderFall_;
    }

    if (s->Successor() <= upBranch) {
      TState* const found = foundState_;
      foundState_ = s;
      TContext* successor = CreateSuccessors(false, nullptr, c);
      s->SetSuccessor(successor ? Ref(successor) : 0);
      foundState_ = found;
    }
    if (orderFall_ == 1 && c1 == maxContext_) {
      foundState_->SetSuccessor(s->Successor());
      --mem_.text;
    }
    return s->Successor() == 0 ? nullptr : Ctx(s->Successor());
  }

  // Adds the found symbol to every context between the longest one and the
  // one it was found in, and moves on to its successor.
  void UpdateModel() {
    TState* const fs = foundState_;
    const uint32_t fSuccessorIn = fs->Successor();
    uint32_t fSuccessor = fSuccessorIn;
    const unsigned fFreq = fs->freq;
    const uint8_t fSymbol = fs->symbol;
    TState* s = nullptr;

    if (fFreq < kMaxFreq / 4 && minContext_->Suffix() != 0) {
      TContext* c = SuffixOf(minContext_);
      if (c->numStats == 0) {
        s = c->OneState();
        if (s->freq < 32) s->freq = static_cast<uint8_t>(s->freq + 1);
      } else {
        s = FindState(c, fSymbol);
        if (!s) return;
        if (s != StatesOf(c) && s[0].freq >= s[-1].freq) {
          Swap(&s[0], &s[-1]);
          --s;
        }
        if (s->freq < kMaxFreq - 9) {
          s->freq = static_cast<uint8_t>(s->freq + 2);
          c->SetSummFreq(c->SummFreq() + 2);
        }
      }
    }

    TContext* c = maxContext_;
    if (orderFall_ == 0 && fSuccessor != 0) {
      TContext* cs = CreateSuccessors(true, s, minContext_);
      if (broken_) return;
      if (!cs) {
        fs->SetSuccessor(0);
        return Restore(c);
      }
      fs->SetSuccessor(Ref(cs));
      maxContext_ = cs;
      return;
    }

    *mem_.text++ = fSymbol;
    uint32_t successor = Ref(mem_.text);
    if (mem_.text >= mem_.unitsStart) return Restore(c);

    if (fSuccessor == 0) {
      TContext* cs = ReduceOrder(s, minContext_);
      if (broken_) return;
      if (!cs) return Restore(c);
      fSuccessor = Ref(cs);
    } else if (IsRaw(fSuccessor)) {
      TContext* cs = CreateSuccessors(false, s, minContext_);
      if (broken_) return;
      if (!cs) return Restore(c);
      fSuccessor = Ref(cs);
    }

    if (--orderFall_ == 0) {
      successor = fSuccessor;
      if (maxContext_ != minContext_) --mem_.text;
    }

    const unsigned ns = minContext_->numStats;
    const unsigned s0 = minContext_->SummFreq() - ns - fFreq;
    const uint8_t flag = static_cast<uint8_t>(0x08 * (fSymbol >= 0x40));
    for (; c != minContext_; c = SuffixOf(c)) {
      const unsigned ns1 = c->numStats;
      if (ns1 != 0) {
        if (ns1 & 1) {
          // An even number of states fills its units: one more unit.
          const unsigned oldNU = (ns1 + 1) >> 1;
          const unsigned i = UnitsIndex(oldNU);
          if (i != UnitsIndex(oldNU + 1)) {
            uint8_t* p = mem_.AllocUnits(i + 1);
            if (!p) return Restore(c);
            uint8_t* old = mem_.At(c->Stats());
            std::memcpy(p, old, UnitBytes(oldNU));
            mem_.InsertNode(old, i);
            c->SetStats(Ref(p));
          }
        }
        c->SetSummFreq(c->SummFreq() + (3 * ns1 + 1 < ns));
      } else {
        uint8_t* p = mem_.AllocUnits(0);
        if (!p) return Restore(c);
        TState* s2 = reinterpret_cast<TState*>(p);
        *s2 = *c->OneState();
        c->SetStats(Ref(s2));
        s2->freq = s2->freq < kMaxFreq / 4 - 1 ? static_cast<uint8_t>(s2->freq * 2) : kMaxFreq - 4;
        c->SetSummFreq(s2->freq + initEsc_ + (ns > 2));
      }
      uint32_t cf = 2 * fFreq * (c->SummFreq() + 6);
      const uint32_t sf = s0 + c->SummFreq();
      if (cf < 6 * sf) {
        cf = 1 + (cf > sf) + (cf >= 4 * sf);
        c->SetSummFreq(c->SummFreq() + 4);
      } else {
        cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
        c->SetSummFreq(c->SummFreq() + cf);
      }
      TState* s2 = StatesOf(c) + ns1 + 1;
      s2->SetSuccessor(successor);
      s2->symbol = fSymbol;
      s2->freq = static_cast<uint8_t>(cf);
      c->flags |= flag;
      c->numStats = static_cast<uint8_t>(ns1 + 1);
    }
    maxContext_ = minContext_ = Ctx(fSuccessor);
  }

  // ----------------------------------------------------------- when memory is full

  void RestartModel() {
    mem_.Reset();
    orderFall_ = maxOrder_;
    initRunLength_ = static_cast<uint32_t>(-static_cast<int32_t>(std::min(maxOrder_, 12u)) - 1);
    runLength_ = initRunLength_;
    prevSuccess_ = 0;

    mem_.hiUnit -= kUnitSize;
    TContext* root = reinterpret_cast<TContext*>(mem_.hiUnit);
    minContext_ = maxContext_ = root;
    root->SetSuffix(0);
    root->numStats = 255;
    root->flags = 0;
    root->SetSummFreq(256 + 1);
    TState* s = reinterpret_cast<TState*>(mem_.loUnit);
    foundState_ = s;
    mem_.loUnit += UnitBytes(256 / 2);
    root->SetStats(Ref(s));
    for (unsigned i = 0; i < 256; ++i, ++s) {
      s->symbol = static_cast<uint8_t>(i);
      s->freq = 1;
      s->SetSuccessor(0);
    }
    // The initial values follow the size classes: row m starts from the
    // number of counts in classes up to m.
    unsigned n = 0;
    for (unsigned m = 0; m < 25; ++m) {
      while (kTables.sizeClass[n] == m) ++n;
      for (unsigned k = 0; k < 8; ++k) {
        const uint16_t v = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (n + 1));
        for (unsigned r = 0; r < 64; r += 8) binSumm_[m][k + r] = v;
      }
    }
    n = 0;
    for (unsigned m = 0; m < 24; ++m) {
      while (kTables.sizeClass[n + 3] == m + 3) ++n;
      for (TSee& see : see_[m]) {
        see.shift = kPeriodBits - 4;
        see.summ = static_cast<uint16_t>((2 * n + 5) << see.shift);
        see.count = 7;
      }
    }
  }

  // Memory ran out while the contexts from the longest one down to (not
  // including) c1 had the symbol added: they lose it again, the model
  // forgets a little, and then starts afresh or is cut down.
  void Restore(TContext* c1) {
    mem_.text = mem_.textStart();
    TContext* c = maxContext_;
    for (; c != c1; c = SuffixOf(c)) {
      if (--c->numStats == 0) {
        TState* s = StatesOf(c);
        c->flags = static_cast<uint8_t>((c->flags & 0x10) + 0x08 * (s->symbol >= 0x40));
        *c->OneState() = *s;
        mem_.SpecialFreeUnit(reinterpret_cast<uint8_t*>(s));
        c->OneState()->freq = static_cast<uint8_t>((c->OneState()->freq + 11u) >> 3);
      } else {
        Refresh(c, (c->numStats + 3u) >> 1, 0);
      }
    }
    for (; c != minContext_; c = SuffixOf(c)) {
      if (c->numStats == 0) {
        TState* s = c->OneState();
        s->freq = static_cast<uint8_t>(s->freq - (s->freq >> 1));
      } else {
        c->SetSummFreq(c->SummFreq() + 4);
        if (c->SummFreq() > 128 + 4u * c->numStats) Refresh(c, (c->numStats + 2u) >> 1, 1);
      }
    }

    if (restore_ == kRestart || mem_.UsedMemory() < (mem_.Size() >> 1)) {
      RestartModel();
      return;
    }
    while (maxContext_->Suffix() != 0) maxContext_ = SuffixOf(maxContext_);
    do {
      CutOff(maxContext_, 0);
      mem_.ExpandTextArea();
    } while (mem_.UsedMemory() > 3 * (mem_.Size() >> 2));
    mem_.ResetGlueCount();
    orderFall_ = maxOrder_;
  }

  // Shrinks a context's state list to its symbol count and scales its
  // frequencies down by 2^scale.
  void Refresh(TContext* ctx, unsigned oldNU, unsigned scale) {
    unsigned i = ctx->numStats;
    TState* s = reinterpret_cast<TState*>(
        mem_.ShrinkUnits(mem_.At(ctx->Stats()), oldNU, (i + 2) >> 1));
    ctx->SetStats(Ref(s));
    unsigned flags = (ctx->flags & (0x10 + 0x04 * scale)) + 0x08 * (s->symbol >= 0x40);
    unsigned escFreq = ctx->SummFreq() - s->freq;
    unsigned sumFreq = s->freq = static_cast<uint8_t>((s->freq + scale) >> scale);
    do {
      ++s;
      escFreq -= s->freq;
      sumFreq += s->freq = static_cast<uint8_t>((s->freq + scale) >> scale);
      flags |= 0x08 * (s->symbol >= 0x40);
    } while (--i);
    ctx->SetSummFreq(sumFreq + ((escFreq + scale) >> scale));
    ctx->flags = static_cast<uint8_t>(flags);
  }

  // Drops from the tree below ctx (of the given order) every raw successor,
  // every context beyond the model order, and binary contexts deeper than
  // order 9 that lead nowhere; the states left move up in memory where they
  // can. Returns ctx, or null when it went away itself.
  uint32_t CutOff(TContext* ctx, unsigned order) {
    if (ctx->numStats == 0) {
      TState* s = ctx->OneState();
      if (!IsRaw(s->Successor())) {
        s->SetSuccessor(order < maxOrder_ ? CutOff(Ctx(s->Successor()), order + 1) : 0);
        if (s->Successor() != 0 || order <= 9) return Ref(ctx);
      }
      mem_.SpecialFreeUnit(reinterpret_cast<uint8_t*>(ctx));
      return 0;
    }
    const unsigned nu = (ctx->numStats + 2u) >> 1;
    ctx->SetStats(Ref(mem_.MoveUnitsUp(mem_.At(ctx->Stats()), nu)));
    int i = ctx->numStats;
    for (int k = i; k >= 0; --k) {
      TState* s = StatesOf(ctx) + k;
      if (IsRaw(s->Successor())) {
        TState* last = StatesOf(ctx) + i--;
        s->SetSuccessor(0);
        Swap(s, last);
      } else if (order < maxOrder_) {
        s->SetSuccessor(CutOff(Ctx(s->Successor()), order + 1));
      } else {
        s->SetSuccessor(0);
      }
    }
    if (i != ctx->numStats && order != 0) {
      ctx->numStats = static_cast<uint8_t>(i);
      TState* s = StatesOf(ctx);
      if (i < 0) {
        mem_.FreeUnits(reinterpret_cast<uint8_t*>(s), nu);
        mem_.SpecialFreeUnit(reinterpret_cast<uint8_t*>(ctx));
        return 0;
      }
      if (i == 0) {
        ctx->flags = static_cast<uint8_t>((ctx->flags & 0x10) + 0x08 * (s->symbol >= 0x40));
        *ctx->OneState() = *s;
        mem_.FreeUnits(reinterpret_cast<uint8_t*>(s), nu);
        ctx->OneState()->freq = static_cast<uint8_t>((ctx->OneState()->freq + 11u) >> 3);
      } else {
        Refresh(ctx, nu, ctx->SummFreq() > 16u * static_cast<unsigned>(i));
      }
    }
    return Ref(ctx);
  }

  TDecodeInput& in_;
  TModelMemory mem_;

  uint32_t low_ = 0, range_ = 0, code_ = 0;
  unsigned overrun_ = 0;
  bool broken_ = false;  // the model's own invariants failed: stop

  TContext* minContext_ = nullptr;
  TContext* maxContext_ = nullptr;
  TState* foundState_ = nullptr;
  unsigned orderFall_ = 0;
  unsigned initEsc_ = 0;
  unsigned prevSuccess_ = 0;
  unsigned maxOrder_ = 0;
  TRestore restore_ = kRestart;
  uint32_t runLength_ = 0;  // two's complement; only its sign bit is read
  uint32_t initRunLength_ = 0;

  uint32_t generation_ = 0;
  uint32_t excluded_[256] = {};

  TSee dummySee_{};
  TSee see_[24][32] = {};
  uint16_t binSumm_[25][64] = {};
};

}  // namespace
}  // namespace ppmd

TDecodeResult UnPpmd(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf, uint64_t uncompressedSize,
                     std::string& problem) {
  using namespace ppmd;
  uint8_t header[2];
  for (uint8_t& b : header) {
    const int c = in.NextByte();
    if (c < 0) return uncompressedSize == 0 ? TDecodeResult::Ok : TDecodeResult::DataError;
    b = static_cast<uint8_t>(c);
  }
  const unsigned word = header[0] | header[1] << 8;
  const unsigned order = (word & 0x0F) + 1;
  const unsigned megabytes = ((word >> 4) & 0xFF) + 1;
  const unsigned restore = word >> 12;
  if (order < kMinOrder) {
    problem = "model order 1";
    return TDecodeResult::Unsupported;
  }
  if (restore > kCutOff) {
    problem = "model restoration method " + std::to_string(restore) + (restore == 2 ? " (freeze)" : "");
    return TDecodeResult::Unsupported;
  }
  if (uncompressedSize == 0) return TDecodeResult::Ok;

  auto model = std::unique_ptr<TModel>(new (std::nothrow) TModel(in));
  if (!model || !model->Reserve(megabytes << 20)) {
    problem = "PPMd: not enough memory for the model (" + std::to_string(megabytes) + " MB)";
    return TDecodeResult::OutOfMemory;
  }
  if (!model->Start(order, static_cast<TRestore>(restore))) return TDecodeResult::DataError;
  uint64_t left = uncompressedSize;
  while (left != 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, kBlockSize));
    const size_t got = model->Decode(buf.output, want);
    if (got != 0) out.Write(buf.output, got);
    if (got != want) return TDecodeResult::DataError;
    left -= got;
  }
  return TDecodeResult::Ok;
}

}  // namespace vantrel::zip
