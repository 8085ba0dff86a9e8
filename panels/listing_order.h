// listing_order.h - the order of a listing that grows while it is read.
//
// Every row read gets one small record: the first bytes of its sort keys as
// numbers, so that nearly every comparison is two or three integer
// compares, and a pointer to the whole keys (kept in blocks of text, one
// per run of rows) for the rest. Runs of rows are sorted on whichever
// thread read them and combined there; the reading thread merges each run
// into the rows sorted before, which tells where every new row goes among
// the rows the panel already shows. The order is exactly SortsBefore's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "panels/dirmodel.h"

namespace vantrel::panels {

class TListingOrder {
  // What most comparisons need, in 40 bytes.
  struct TItem {
    uint64_t number;   // the size or time; the extension's first bytes by extension
    uint64_t head0;    // the name key's first 16 bytes, big-endian, zero-padded
    uint64_t head1;
    const char* text;  // the whole keys: see TListingOrder::KeyText
    uint32_t row;      // while a run is sorted: the row's place in what was read
    uint8_t group;     // ".." 0, directories 1, files 2
  };

 public:
  TListingOrder(uint8_t sortType, bool descending);

  // Rows with their keys, sorted among themselves. Made and combined on
  // any thread: the order's methods that do so only read its settings.
  class TSortedRows {
   public:
    size_t Size() const { return rows_.size(); }
    bool Empty() const { return rows_.empty(); }

   private:
    friend class TListingOrder;
    TPanelModel::Entries rows_;
    std::vector<TItem> keys_;               // keys_[k] belongs to rows_[k]
    std::vector<std::vector<char>> texts_;  // where the keys point
  };

  // `rows` with their keys worked out, sorted.
  TSortedRows Sort(TPanelModel::Entries rows) const;
  // Two sorted runs as one.
  TSortedRows Combine(TSortedRows a, TSortedRows b) const;
  // The order of `rows`: order[k] is the index in `rows` of the k-th row.
  std::vector<uint32_t> OrderOf(const std::vector<const TFileEntry*>& rows) const;

  // Takes the rows of `run` into the order. `added` receives them in their
  // order; `positions[k]` is the place added[k] takes among all the rows
  // merged so far, ascending.
  void Merge(TSortedRows run, TPanelModel::Entries& added, std::vector<uint32_t>& positions);
  // Rows merged so far.
  size_t Count() const { return sorted_.size(); }

 private:
  bool Less(const TItem& a, const TItem& b) const;
  // The rest of the comparison once the leading numbers tie.
  bool LessByText(const TItem& a, const TItem& b) const;
  // The keys of `rows`, sorted; each item's row is its index in `rows`
  // and its text in `text`, which must not grow afterwards.
  std::vector<TItem> SortedKeys(const std::vector<const TFileEntry*>& rows, std::vector<char>& text) const;
  // Appends the keys of `e` to `text` and fills `item` but for its text.
  void KeysOf(const TFileEntry& e, std::vector<char>& text, TItem& item) const;

  uint8_t sortType_;
  bool descending_;
  std::vector<TItem> sorted_;  // merged so far, in order
  std::vector<TItem> scratch_;
  std::vector<std::vector<char>> texts_;  // of the merged rows
};

}  // namespace vantrel::panels
