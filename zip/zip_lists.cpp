// zip_lists.cpp - object lists with the ZIP engine's growth and search rules.
#include "zip/zip_lists.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>

#include "zip/zip_errors.h"

namespace vantrel::zip {

namespace {

// The largest capacity a list may have: its indices are ints.
constexpr int kMaxCapacity = std::numeric_limits<int>::max();

std::string Format(const char* pattern, int value) {
  char text[96];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

}  // namespace

// ------------------------------------------------------------ TObjectList

TObjectList::~TObjectList() {
  if (OwnsItems)
    for (int i = 0; i < count_; ++i) delete items_[static_cast<size_t>(i)];
}

void TObjectList::Error(const std::string& text) const { throw EListError(text); }

void TObjectList::Grow() {
  // Small steps up to 65520 items, then by half the capacity, so that a list
  // of millions of entries costs O(n) growth steps' worth of copies. The
  // storage itself grows geometrically.
  int64_t delta = capacity_ < 5 ? 4 : capacity_ < 9 ? 8 : capacity_ < kSteppedItems ? 16 : capacity_ / 2;
  capacity_ = static_cast<int>(std::min<int64_t>(capacity_ + delta, kMaxCapacity));
}

void TObjectList::SetCapacity(int capacity) {
  if (capacity > kMaxCapacity || capacity < count_)
    Error(Format("List capacity out of bounds (%d)", capacity));
  capacity_ = capacity;
  // Room for exactly that many: a list filled to a known count never holds
  // two copies of its storage.
  items_.reserve(static_cast<size_t>(capacity));
}

TObject* TObjectList::Items(int index) const {
  if (index < 0 || index >= count_) Error(Format("List index out of bounds (%d)", index));
  return At(index);
}

void TObjectList::Put(int index, TObject* item) {
  if (index < 0 || index >= count_) Error(Format("List index out of bounds (%d)", index));
  items_[static_cast<size_t>(index)] = item;
}

void TObjectList::FreeItem(TObject* item) { delete item; }

void TObjectList::InsertAt(int index, TObject* item) {
  if (index < 0 || index > count_) Error(Format("List index out of bounds (%d)", index));
  if (count_ == capacity_) Grow();
  // The storage grows geometrically; only the list's own capacity follows the
  // 4/8/16 rule, so adding n items costs O(n) copies.
  items_.insert(items_.begin() + index, item);
  ++count_;
}

int TObjectList::Add(TObject* item) {
  InsertAt(count_, item);
  return count_ - 1;
}

void TObjectList::Insert(int index, TObject* item) { InsertAt(index, item); }

void TObjectList::Delete(int index) {
  if (index < 0 || index >= count_) Error(Format("List index out of bounds (%d)", index));
  items_.erase(items_.begin() + index);
  --count_;
}

void TObjectList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
  count_ = 0;
  capacity_ = 0;
}

int TObjectList::IndexOf(TObject* item) const {
  for (int i = 0; i < count_; ++i)
    if (At(i) == item) return i;
  return -1;
}

TObject* TObjectList::First() const { return count_ ? At(0) : nullptr; }
TObject* TObjectList::Last() const { return count_ ? At(count_ - 1) : nullptr; }

TObject* TObjectList::Neighbour(TObject* item, int offset) const {
  int i = IndexOf(item);
  if (i < 0) {
    char text[160];
    std::snprintf(text, sizeof text, "tObject %s not in item list",
                  item ? item->ClassName() : "nil");
    Error(text);
  }
  int j = i + offset;
  return j >= 0 && j < count_ ? At(j) : nullptr;
}

// ------------------------------------------------------------ TSortedObjectList

void TSortedObjectList::Put(int, TObject*) { Error("Cannot <Put> an Object in a sorted list!"); }

bool TSortedObjectList::Find(const TObject* key, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = Compare(Key(At(mid)), key);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (DuplicatesMode != dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

int TSortedObjectList::Add(TObject* item) {
  // Items that arrive in order (a directory read, an archive written) are
  // appended without a search.
  if (Count() > 0 && Compare(Key(At(Count() - 1)), Key(item)) < 0) {
    InsertAt(Count(), item);
    return Count() - 1;
  }
  int index;
  if (Find(Key(item), index)) {
    if (DuplicatesMode == dupIgnore) return -1;
    if (DuplicatesMode == dupError) Error("Duplicate Object index");
  }
  InsertAt(index, item);
  return index;
}

void TSortedObjectList::Insert(int, TObject* item) { Add(item); }

int TSortedObjectList::IndexOf(TObject* item) const {
  int index;
  return Find(Key(item), index) ? index : -1;
}

// ------------------------------------------------------------ TSortedZip

int TSortedZip::Compare(const TObject* ao, const TObject* bo) const {
  const auto* a = static_cast<const TZipHeaderInfo*>(ao);
  const auto* b = static_cast<const TZipHeaderInfo*>(bo);
  switch (SortMode) {
    case TZipSortMode::ByName: {
      int c = CompareTextAscii(a->Directory(), b->Directory());
      // Compare Directory+Filename as one text without building it.
      if (a->Directory().size() == b->Directory().size() && c == 0)
        return CompareTextAscii(a->Filename(), b->Filename());
      return CompareTextAscii(a->PathView(), b->PathView());
    }
    case TZipSortMode::ByFileName:
      return CompareTextAscii(a->Filename(), b->Filename());
    case TZipSortMode::ByDirectoryName:
      return CompareTextAscii(a->Directory(), b->Directory());
    case TZipSortMode::ByDate:
      return DosDateTimeOrdinal(a->LastModDateTime) >= DosDateTimeOrdinal(b->LastModDateTime)
                 ? -1
                 : 1;
    case TZipSortMode::ByCompressedSize:
      return b->CompressedSize > a->CompressedSize ? 1 : -1;
    case TZipSortMode::ByUnCompressedSize:
      return b->UncompressedSize > a->UncompressedSize ? 1 : -1;
    case TZipSortMode::ByRate:
      return Rate(b->UncompressedSize, b->CompressedSize) -
             Rate(a->UncompressedSize, a->CompressedSize);
    case TZipSortMode::ByNone:
    default:
      if (a->DiskNumberStart != b->DiskNumberStart)
        return a->DiskNumberStart < b->DiskNumberStart ? -1 : 1;
      return a->LocalHeaderOffset < b->LocalHeaderOffset   ? -1
             : a->LocalHeaderOffset > b->LocalHeaderOffset ? 1
                                                           : 0;
  }
}

// ------------------------------------------------------------ TEntryStore

TEntryStore::~TEntryStore() {
  for (TBlock& b : blocks_) {
    for (size_t i = 0; i < b.used; ++i) b.items[i].~TZipHeaderInfo();
    ::operator delete(b.items);
  }
}

TZipHeaderInfo* TEntryStore::New() {
  if (blocks_.empty() || blocks_.back().used == blocks_.back().capacity) {
    // The first block holds the announced count; later ones (a count that
    // was too small, a rebuilt directory) double what is there. Pages of a
    // block not yet used are not touched.
    size_t capacity = std::max<size_t>(nextBlock_, 64);
    auto* items = static_cast<TZipHeaderInfo*>(::operator new(capacity * sizeof(TZipHeaderInfo)));
    blocks_.push_back({items, capacity, 0});
    nextBlock_ = std::min<size_t>(capacity * 2, size_t{1} << 20);
  }
  TBlock& b = blocks_.back();
  return new (b.items + b.used++) TZipHeaderInfo();
}

void TEntryStore::DropLast() {
  TBlock& b = blocks_.back();
  b.items[--b.used].~TZipHeaderInfo();
}

}  // namespace vantrel::zip
