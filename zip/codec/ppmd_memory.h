// ppmd_memory.h - the memory of the PPMd variant I model: one block of the
// size the stream names, cut into a text area and 12-byte units.
//
// Layout (low to high addresses):
//
//   [pad][ text area ... text ->        | units ...        | root context ]
//        ^textStart                     ^unitsStart        ^top
//
// The text area keeps the symbols seen since the last restart; a state whose
// successor points into it ("raw" successor) has not got a context of its own
// yet. Units hold contexts (one unit) and their state lists (six-byte states,
// two per unit). Fresh units come from the gap [loUnit, hiUnit): contexts from
// its top, state lists from its bottom. Freed blocks go to one of 38 free
// lists by size (1, 2, 3, 4, 6, 8, 10, 12, 15, 18, 21, 24, 28, 32, ... 128
// units). When the gap and the lists run dry, free blocks are glued into
// larger ones now and then, and at last units are taken from the top of the
// text area.
//
// Everything here decides when the model runs out of memory, and the
// encoder's model must run out at the same symbol, so every choice (which free
// block is taken, how blocks are split and glued, when gluing happens) follows
// the variant I design exactly; none of it is a free implementation choice.
//
// Inside the block, references are 32-bit offsets from its start; offset 0 is
// the null reference and is never a valid position (the text area begins a
// few bytes in). Fields are read and written through memcpy: the same bytes
// hold contexts, states and free-list nodes at different times. A free block
// starts with a node: a marker (0xFFFFFFFF, which no context or state can
// start with), the next node of its list, and its size in units.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/memory.h"
#include "zip/codec/memory_access.h"

namespace vantrel::zip::ppmd {

inline constexpr uint32_t kUnitSize = 12;
inline constexpr unsigned kIndexCount = 38;
inline constexpr unsigned kMaxUnits = 128;

// Block sizes by list index, and the smallest list whose blocks hold n units.
struct TUnitClasses {
  uint8_t units[kIndexCount] = {};
  uint8_t index[kMaxUnits] = {};  // by units - 1
  constexpr TUnitClasses() {
    unsigned n = 0;
    for (unsigned i = 0; i < kIndexCount; ++i) {
      // Steps of 1 for the first four sizes, then 2, 3, and 4 from 28 units up.
      const unsigned step = i < 12 ? i / 4 + 1 : 4;
      for (unsigned k = 0; k < step; ++k) index[n++] = static_cast<uint8_t>(i);
      units[i] = static_cast<uint8_t>(n);
    }
  }
};
inline constexpr TUnitClasses kUnitClasses{};
static_assert(kUnitClasses.units[kIndexCount - 1] == kMaxUnits);

inline unsigned IndexUnits(unsigned index) { return kUnitClasses.units[index]; }
inline unsigned UnitsIndex(unsigned nu) { return kUnitClasses.index[nu - 1]; }
inline uint32_t UnitBytes(unsigned nu) { return nu * kUnitSize; }

class TModelMemory {
 public:
  // Takes `size` bytes for the model; false when the system has not got them.
  // The block comes zeroed, and pages the model never reaches cost nothing.
  bool Reserve(uint32_t size) {
    const bool ok = memory_.Allocate(size_t{size} + kPad + kUnitSize);
    block_ = memory_.data();
    size_ = ok ? size : 0;
    return ok;
  }

  uint32_t Size() const { return size_; }
  uint8_t* Base() const { return block_; }
  uint8_t* At(uint32_t ref) const { return block_ + ref; }
  uint32_t Ref(const void* p) const {
    return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - block_);
  }

  // Empties everything: the text area takes an eighth of the block (rounded so
  // that the units fill the rest exactly), the free lists are empty.
  void Reset() {
    std::memset(freeList_, 0, sizeof freeList_);
    std::memset(freeCount_, 0, sizeof freeCount_);
    text = textStart();
    hiUnit = text + size_;
    loUnit = unitsStart = hiUnit - size_ / 8 / kUnitSize * 7 * kUnitSize;
    glueCount_ = 0;
  }

  uint8_t* textStart() const { return block_ + kPad; }

  // A block of the list's size: from its list, else from the gap, else the
  // hard way.
  uint8_t* AllocUnits(unsigned index) {
    if (freeList_[index] != 0) return RemoveNode(index);
    const uint32_t bytes = UnitBytes(IndexUnits(index));
    if (bytes <= static_cast<uint32_t>(hiUnit - loUnit)) {
      uint8_t* r = loUnit;
      loUnit += bytes;
      return r;
    }
    return AllocUnitsRare(index);
  }

  // One unit for a context: from the top of the gap first.
  uint8_t* AllocContext() {
    if (hiUnit != loUnit) return hiUnit -= kUnitSize;
    if (freeList_[0] != 0) return RemoveNode(0);
    return AllocUnitsRare(0);
  }

  // Returns a block of oldNU units, keeping its first newNU units, as a block
  // of newNU units (moved into a free block of that size if there is one).
  uint8_t* ShrinkUnits(uint8_t* old, unsigned oldNU, unsigned newNU) {
    const unsigned i0 = UnitsIndex(oldNU), i1 = UnitsIndex(newNU);
    if (i0 == i1) return old;
    if (freeList_[i1] != 0) {
      uint8_t* p = RemoveNode(i1);
      std::memcpy(p, old, UnitBytes(newNU));
      InsertNode(old, i0);
      return p;
    }
    SplitBlock(old, i0, i1);
    return old;
  }

  // After the tree was cut down: glue at the next shortage.
  void ResetGlueCount() { glueCount_ = 0; }

  void FreeUnits(uint8_t* p, unsigned nu) { InsertNode(p, UnitsIndex(nu)); }

  // Frees one unit; the lowest unit goes back to the text area instead.
  void SpecialFreeUnit(uint8_t* p) {
    if (p != unitsStart) InsertNode(p, 0);
    else unitsStart += kUnitSize;
  }

  // Moves a block lying near the bottom of the units to a free block of its
  // size higher up, so that the bottom can go back to the text area.
  uint8_t* MoveUnitsUp(uint8_t* old, unsigned nu) {
    const unsigned index = UnitsIndex(nu);
    if (old > unitsStart + 16 * 1024 || Ref(old) > freeList_[index]) return old;
    uint8_t* p = RemoveNode(index);
    std::memcpy(p, old, UnitBytes(nu));
    if (old != unitsStart) InsertNode(old, index);
    else unitsStart += UnitBytes(IndexUnits(index));
    return p;
  }

  // Gives the free blocks at the bottom of the units back to the text area.
  void ExpandTextArea() {
    uint32_t count[kIndexCount] = {};
    if (loUnit != hiUnit) Store32(loUnit, 0);  // a non-free "node" stops the walk
    uint8_t* node = unitsStart;
    while (Load32(node) == kFreeMark) {
      const uint32_t nu = Load32(node + 8);
      if (nu == 0 || nu > kMaxUnits) break;  // (cannot happen: blocks on lists are whole)
      Store32(node, 0);
      ++count[UnitsIndex(nu)];
      node += UnitBytes(nu);
    }
    unitsStart = node;
    // Unlink the blocks just taken (their marker is now 0) from their lists.
    for (unsigned i = 0; i < kIndexCount; ++i) {
      uint32_t left = count[i];
      if (left == 0) continue;
      freeCount_[i] -= left;
      uint8_t* link = reinterpret_cast<uint8_t*>(&freeList_[i]);
      while (left != 0) {
        const uint32_t ref = Load32(link);
        if (ref == 0) break;
        uint8_t* n = At(ref);
        if (Load32(n) == 0) {
          Store32(link, Load32(n + 4));
          --left;
        } else {
          link = n + 4;
        }
      }
    }
  }

  // Bytes held by contexts, states and text.
  uint32_t UsedMemory() const {
    uint32_t freeUnits = 0;
    for (unsigned i = 0; i < kIndexCount; ++i) freeUnits += freeCount_[i] * IndexUnits(i);
    return size_ - static_cast<uint32_t>(hiUnit - loUnit) - static_cast<uint32_t>(unitsStart - text) -
           UnitBytes(freeUnits);
  }

  void InsertNode(uint8_t* p, unsigned index) {
    Store32(p, kFreeMark);
    Store32(p + 4, freeList_[index]);
    Store32(p + 8, IndexUnits(index));
    freeList_[index] = Ref(p);
    ++freeCount_[index];
  }

  uint8_t* text = nullptr;        // where the next symbol goes
  uint8_t* unitsStart = nullptr;  // the lowest unit
  uint8_t* loUnit = nullptr;      // the gap of never used units
  uint8_t* hiUnit = nullptr;

 private:
  static constexpr uint32_t kFreeMark = 0xFFFFFFFFu;
  // Before the text area: keeps offset 0 (the null reference) out of it.
  static constexpr uint32_t kPad = 4;

  uint8_t* RemoveNode(unsigned index) {
    uint8_t* n = At(freeList_[index]);
    freeList_[index] = Load32(n + 4);
    --freeCount_[index];
    return n;
  }

  // Puts the part of a block beyond its first IndexUnits(newIndex) units on
  // the free lists: as one block when its size is a list size, else as the
  // largest list size below it and a rest of one to three units.
  void SplitBlock(uint8_t* p, unsigned oldIndex, unsigned newIndex) {
    const unsigned nu = IndexUnits(oldIndex) - IndexUnits(newIndex);
    p += UnitBytes(IndexUnits(newIndex));
    PutFree(p, nu);
  }

  // Free lists for a run of nu (at most 128) units.
  void PutFree(uint8_t* p, unsigned nu) {
    unsigned i = UnitsIndex(nu);
    if (IndexUnits(i) != nu) {
      const unsigned k = IndexUnits(--i);
      InsertNode(p + UnitBytes(k), nu - k - 1);
    }
    InsertNode(p, i);
  }

  // Joins free blocks that lie next to each other, then files the results
  // again (in pieces of at most 128 units). The lists are walked from the
  // smallest size, each from its head; a block absorbs the free blocks that
  // follow it, which are left on the walk with a size of 0.
  void GlueFreeBlocks() {
    glueCount_ = 1u << 13;
    std::memset(freeCount_, 0, sizeof freeCount_);
    // The gap is not free: mark its start so no block grows into it. (The
    // top unit is the root context, which is never freed, so no block grows
    // past the end.)
    if (loUnit != hiUnit) Store32(loUnit, 0);

    uint8_t head[4];
    uint8_t* link = head;
    for (unsigned i = 0; i < kIndexCount; ++i) {
      uint32_t next = freeList_[i];
      freeList_[i] = 0;
      while (next != 0) {
        uint8_t* node = At(next);
        uint32_t nu = Load32(node + 8);
        if (nu != 0) {
          Store32(link, next);
          link = node + 4;
          for (;;) {
            uint8_t* after = node + UnitBytes(nu);
            const uint32_t more = Load32(after + 8);
            if (Load32(after) != kFreeMark || more == 0) break;
            nu += more;
            Store32(after + 8, 0);
          }
          Store32(node + 8, nu);
        }
        next = Load32(node + 4);
      }
    }
    Store32(link, 0);

    for (uint32_t next = Load32(head); next != 0;) {
      uint8_t* node = At(next);
      next = Load32(node + 4);
      uint32_t nu = Load32(node + 8);
      if (nu == 0) continue;
      for (; nu > kMaxUnits; nu -= kMaxUnits, node += UnitBytes(kMaxUnits))
        InsertNode(node, kIndexCount - 1);
      PutFree(node, nu);
    }
  }

  // Out of lists and gap: glue now and then (every 8192 such calls), take a
  // larger free block and split it, or take units from the top of the text
  // area while it keeps more than that.
  uint8_t* AllocUnitsRare(unsigned index) {
    if (glueCount_ == 0) {
      GlueFreeBlocks();
      if (freeList_[index] != 0) return RemoveNode(index);
    }
    unsigned i = index;
    do {
      if (++i == kIndexCount) {
        const uint32_t bytes = UnitBytes(IndexUnits(index));
        --glueCount_;
        if (static_cast<uint32_t>(unitsStart - text) > bytes) return unitsStart -= bytes;
        return nullptr;
      }
    } while (freeList_[i] == 0);
    uint8_t* r = RemoveNode(i);
    SplitBlock(r, i, index);
    return r;
  }

  platform::ZeroedBlock memory_;
  uint8_t* block_ = nullptr;
  uint32_t size_ = 0;
  uint32_t freeList_[kIndexCount] = {};
  uint32_t freeCount_[kIndexCount] = {};
  uint32_t glueCount_ = 0;
};

}  // namespace vantrel::zip::ppmd
