// listing_order.h - the order of a listing that grows while it is read.
//
// The reading thread keeps one small record per entry: the first bytes of
// its sort keys as numbers, so that nearly every comparison is two or three
// integer compares, and the whole keys in one block of text for the rest.
// Rows come in batches; each batch is sorted on its own and merged into the
// rows sorted before, which tells where every new row goes among the rows
// the panel already shows. The order is exactly SortsBefore's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "panels/dirmodel.h"

namespace vantrel::panels {

class TListingOrder {
 public:
  TListingOrder(uint8_t sortType, bool descending);

  // Notes the keys of the next row read (rows are numbered from 0 in the
  // order they are added).
  void Add(const TFileEntry& e);
  size_t Count() const { return texts_.size(); }
  // Rows added but not yet merged.
  size_t Fresh() const { return texts_.size() - sorted_.size(); }

  // Sorts the rows added since the last merge among themselves and merges
  // them into the sorted rows. `batch` receives those rows (as offsets from
  // the first of them) in their sorted order; `positions[k]` is the place
  // the row batch[k] takes in the merged list, ascending.
  void Merge(std::vector<uint32_t>& batch, std::vector<uint32_t>& positions);

 private:
  // What most comparisons need, in 40 bytes; `row` leads to the whole keys.
  struct TItem {
    uint64_t number;  // the size or time; the extension's first bytes by extension
    uint64_t head0;   // the name key's first 16 bytes, big-endian, zero-padded
    uint64_t head1;
    uint32_t row;
    uint8_t group;  // ".." 0, directories 1, files 2
  };
  struct TText {
    size_t at;  // in text_: the name key, then the extension key, then the name
    uint32_t keyLength;
    uint32_t extLength;
    uint32_t nameLength;
  };

  bool Less(const TItem& a, const TItem& b) const;
  // The rest of the comparison once the leading numbers tie.
  bool LessByText(const TItem& a, const TItem& b) const;

  uint8_t sortType_;
  bool descending_;
  std::string text_;
  std::vector<TText> texts_;   // by row
  std::vector<TItem> sorted_;  // merged so far, in order
  std::vector<TItem> fresh_;   // added since the last merge
  std::vector<TItem> scratch_;
};

}  // namespace vantrel::panels
