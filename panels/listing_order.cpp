// listing_order.cpp - compact sort keys, sorted runs and their merge.
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

// The whole keys of a row, one after another in a block of text: three
// lengths, then the name key, the extension key and the name's own bytes.
struct TKeyText {
  uint32_t keyLength;
  uint32_t extLength;
  uint32_t nameLength;
  const char* key;

  explicit TKeyText(const char* at) {
    std::memcpy(&keyLength, at, 4);
    std::memcpy(&extLength, at + 4, 4);
    std::memcpy(&nameLength, at + 8, 4);
    key = at + 12;
  }
  const char* Ext() const { return key + keyLength; }
  const char* Name() const { return key + keyLength + extLength; }
};

void AppendText(std::vector<char>& text, std::string_view key, std::string_view ext, std::string_view name) {
  const uint32_t lengths[3] = {static_cast<uint32_t>(key.size()), static_cast<uint32_t>(ext.size()),
                               static_cast<uint32_t>(name.size())};
  const char* raw = reinterpret_cast<const char*>(lengths);
  text.insert(text.end(), raw, raw + sizeof lengths);
  text.insert(text.end(), key.begin(), key.end());
  text.insert(text.end(), ext.begin(), ext.end());
  text.insert(text.end(), name.begin(), name.end());
}

}  // namespace

TListingOrder::TListingOrder(uint8_t sortType, bool descending)
    : sortType_(sortType > kSortByTime ? static_cast<uint8_t>(kSortByName) : sortType), descending_(descending) {}

void TListingOrder::KeysOf(const TFileEntry& e, std::vector<char>& text, TItem& item) const {
  const std::string key = platform::CollationKey(e.FileName);
  item.group = e.IsDotDot() ? 0 : e.IsDirectory() ? 1 : 2;
  item.head0 = BigEndianHead(key, 0);
  item.head1 = BigEndianHead(key, 8);
  item.number = 0;
  if (sortType_ == kSortByExt) {
    const std::string ext = platform::CollationKey(ExtensionOf(e.FileName));
    item.number = BigEndianHead(ext, 0);
    AppendText(text, key, ext, e.FileName);
    return;
  }
  if (sortType_ == kSortBySize) item.number = e.FileSize;
  else if (sortType_ != kSortByName) item.number = static_cast<uint64_t>(e.CreationTime);
  AppendText(text, key, {}, e.FileName);
}

std::vector<TListingOrder::TItem> TListingOrder::SortedKeys(const std::vector<const TFileEntry*>& rows,
                                                            std::vector<char>& text) const {
  std::vector<TItem> items(rows.size());
  std::vector<size_t> at(rows.size());
  text.reserve(text.size() + rows.size() * 48);
  for (size_t i = 0; i < rows.size(); ++i) {
    at[i] = text.size();
    KeysOf(*rows[i], text, items[i]);
    items[i].row = static_cast<uint32_t>(i);
  }
  // The block is whole: now the keys may point into it.
  for (size_t i = 0; i < items.size(); ++i) items[i].text = text.data() + at[i];
  std::sort(items.begin(), items.end(), [this](const TItem& a, const TItem& b) { return Less(a, b); });
  return items;
}

TListingOrder::TSortedRows TListingOrder::Sort(TPanelModel::Entries rows) const {
  TSortedRows out;
  if (rows.empty()) return out;
  std::vector<const TFileEntry*> view(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) view[i] = rows[i].get();
  std::vector<char> text;
  out.keys_ = SortedKeys(view, text);
  out.rows_.resize(rows.size());
  for (size_t k = 0; k < out.keys_.size(); ++k) out.rows_[k] = std::move(rows[out.keys_[k].row]);
  out.texts_.push_back(std::move(text));
  return out;
}

std::vector<uint32_t> TListingOrder::OrderOf(const std::vector<const TFileEntry*>& rows) const {
  std::vector<char> text;
  const std::vector<TItem> keys = SortedKeys(rows, text);
  std::vector<uint32_t> order(keys.size());
  for (size_t k = 0; k < keys.size(); ++k) order[k] = keys[k].row;
  return order;
}

TListingOrder::TSortedRows TListingOrder::Combine(TSortedRows a, TSortedRows b) const {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  TSortedRows out;
  const size_t total = a.Size() + b.Size();
  out.rows_.reserve(total);
  out.keys_.reserve(total);
  size_t i = 0, j = 0;
  while (i < a.Size() && j < b.Size()) {
    // No two rows are equal: the order of the two runs does not matter.
    if (Less(b.keys_[j], a.keys_[i])) {
      out.keys_.push_back(b.keys_[j]);
      out.rows_.push_back(std::move(b.rows_[j++]));
    } else {
      out.keys_.push_back(a.keys_[i]);
      out.rows_.push_back(std::move(a.rows_[i++]));
    }
  }
  for (; i < a.Size(); ++i) {
    out.keys_.push_back(a.keys_[i]);
    out.rows_.push_back(std::move(a.rows_[i]));
  }
  for (; j < b.Size(); ++j) {
    out.keys_.push_back(b.keys_[j]);
    out.rows_.push_back(std::move(b.rows_[j]));
  }
  // The blocks move along; the keys still point into them.
  out.texts_ = std::move(a.texts_);
  for (auto& t : b.texts_) out.texts_.push_back(std::move(t));
  return out;
}

bool TListingOrder::Less(const TItem& a, const TItem& b) const {
  if (a.group != b.group) return a.group < b.group;
  // Descending reverses everything within a group.
  const TItem& x = descending_ ? b : a;
  const TItem& y = descending_ ? a : b;
  if (sortType_ == kSortByExt) {
    if (x.number != y.number) return x.number < y.number;
    const TKeyText tx(x.text);
    const TKeyText ty(y.text);
    // Extensions of up to 8 bytes of one length are equal when their heads are.
    if (tx.extLength > 8 || ty.extLength > 8 || tx.extLength != ty.extLength) {
      const int c = CompareBytes(tx.Ext(), tx.extLength, ty.Ext(), ty.extLength);
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
  const TKeyText tx(x.text);
  const TKeyText ty(y.text);
  if (tx.keyLength > 16 || ty.keyLength > 16 || tx.keyLength != ty.keyLength) {
    const int c = CompareBytes(tx.key, tx.keyLength, ty.key, ty.keyLength);
    if (c != 0) return c < 0;
  }
  // Names equal but for case: the real bytes decide.
  return CompareBytes(tx.Name(), tx.nameLength, ty.Name(), ty.nameLength) < 0;
}

void TListingOrder::Merge(TSortedRows run, TPanelModel::Entries& added, std::vector<uint32_t>& positions) {
  positions.clear();
  positions.reserve(run.Size());
  const auto less = [this](const TItem& a, const TItem& b) { return Less(a, b); };
  scratch_.clear();
  scratch_.reserve(sorted_.size() + run.Size());
  auto from = sorted_.begin();
  const auto end = sorted_.end();
  for (const TItem& item : run.keys_) {
    // The old rows before it keep their order (no two rows are equal).
    // Galloping from the last place finds them in few steps whether the
    // run is small beside the rows before it or as large.
    ptrdiff_t step = 1;
    auto lo = from;
    while (step < end - lo && less(lo[step - 1], item)) {
      lo += step;
      step *= 2;
    }
    const auto to = std::lower_bound(lo, lo + std::min(step, end - lo), item, less);
    scratch_.insert(scratch_.end(), from, to);
    from = to;
    positions.push_back(static_cast<uint32_t>(scratch_.size()));
    scratch_.push_back(item);
  }
  scratch_.insert(scratch_.end(), from, end);
  sorted_.swap(scratch_);
  for (auto& t : run.texts_) texts_.push_back(std::move(t));
  added = std::move(run.rows_);
}

}  // namespace vantrel::panels
