// listing_order.cpp - compact sort keys, sorted batches and their merge.
#include "panels/listing_order.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/text.h"

namespace vantrel::panels {

namespace {

// Up to 8 bytes of `text` from `from` as a big-endian number, zero-padded:
// two such numbers compare as the bytes do wherever they differ.
uint64_t BigEndianHead(std::string_view text, size_t from) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8; ++i) {
    const size_t at = from + i;
    v = (v << 8) | (at < text.size() ? static_cast<unsigned char>(text[at]) : 0u);
  }
  return v;
}

int CompareBytes(const char* a, size_t na, const char* b, size_t nb) {
  const int c = std::memcmp(a, b, std::min(na, nb));
  if (c != 0) return c;
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

}  // namespace

TListingOrder::TListingOrder(uint8_t sortType, bool descending)
    : sortType_(sortType > kSortByTime ? static_cast<uint8_t>(kSortByName) : sortType), descending_(descending) {}

void TListingOrder::Add(const TFileEntry& e) {
  const std::string key = platform::CollationKey(e.FileName);
  TText t;
  t.at = text_.size();
  t.keyLength = static_cast<uint32_t>(key.size());
  text_ += key;
  TItem item;
  item.row = static_cast<uint32_t>(texts_.size());
  item.group = e.IsDotDot() ? 0 : e.IsDirectory() ? 1 : 2;
  item.head0 = BigEndianHead(key, 0);
  item.head1 = BigEndianHead(key, 8);
  item.number = 0;
  t.extLength = 0;
  if (sortType_ == kSortByExt) {
    const std::string ext = platform::CollationKey(ExtensionOf(e.FileName));
    t.extLength = static_cast<uint32_t>(ext.size());
    text_ += ext;
    item.number = BigEndianHead(ext, 0);
  } else if (sortType_ == kSortBySize) {
    item.number = e.FileSize;
  } else if (sortType_ != kSortByName) {
    item.number = static_cast<uint64_t>(e.CreationTime);
  }
  t.nameLength = static_cast<uint32_t>(e.FileName.size());
  text_ += e.FileName;
  texts_.push_back(t);
  fresh_.push_back(item);
}

bool TListingOrder::Less(const TItem& a, const TItem& b) const {
  if (a.group != b.group) return a.group < b.group;
  // Descending reverses everything within a group.
  const TItem& x = descending_ ? b : a;
  const TItem& y = descending_ ? a : b;
  if (sortType_ == kSortByExt) {
    if (x.number != y.number) return x.number < y.number;
    const TText& tx = texts_[x.row];
    const TText& ty = texts_[y.row];
    // Extensions of up to 8 bytes of one length are equal when their heads are.
    if (tx.extLength > 8 || ty.extLength > 8 || tx.extLength != ty.extLength) {
      const int c = CompareBytes(text_.data() + tx.at + tx.keyLength, tx.extLength,
                                 text_.data() + ty.at + ty.keyLength, ty.extLength);
      if (c != 0) return c < 0;
    }
  } else if (sortType_ != kSortByName) {
    if (x.number != y.number) return x.number > y.number;  // larger, newer first
  }
  if (x.head0 != y.head0) return x.head0 < y.head0;
  if (x.head1 != y.head1) return x.head1 < y.head1;
  return LessByText(x, y);
}

bool TListingOrder::LessByText(const TItem& x, const TItem& y) const {
  const TText& tx = texts_[x.row];
  const TText& ty = texts_[y.row];
  const char* base = text_.data();
  if (tx.keyLength > 16 || ty.keyLength > 16 || tx.keyLength != ty.keyLength) {
    const int c = CompareBytes(base + tx.at, tx.keyLength, base + ty.at, ty.keyLength);
    if (c != 0) return c < 0;
  }
  // Names equal but for case: the real bytes decide.
  return CompareBytes(base + tx.at + tx.keyLength + tx.extLength, tx.nameLength,
                      base + ty.at + ty.keyLength + ty.extLength, ty.nameLength) < 0;
}

void TListingOrder::Merge(std::vector<uint32_t>& batch, std::vector<uint32_t>& positions) {
  batch.clear();
  positions.clear();
  const auto less = [this](const TItem& a, const TItem& b) { return Less(a, b); };
  std::sort(fresh_.begin(), fresh_.end(), less);
  const uint32_t first = static_cast<uint32_t>(sorted_.size());
  batch.reserve(fresh_.size());
  positions.reserve(fresh_.size());
  scratch_.clear();
  scratch_.reserve(sorted_.size() + fresh_.size());
  auto from = sorted_.begin();
  for (const TItem& item : fresh_) {
    // The old rows before it keep their order (no two rows are equal); a
    // binary search finds them, as a batch is often small beside them.
    const auto to = std::lower_bound(from, sorted_.end(), item, less);
    scratch_.insert(scratch_.end(), from, to);
    from = to;
    positions.push_back(static_cast<uint32_t>(scratch_.size()));
    batch.push_back(item.row - first);
    scratch_.push_back(item);
  }
  scratch_.insert(scratch_.end(), from, sorted_.end());
  sorted_.swap(scratch_);
  fresh_.clear();
}

}  // namespace vantrel::panels
