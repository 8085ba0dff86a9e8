// zip_lists.h - object lists: plain, sorted, and sorted ZIP entries.
//
// TObjectList is a growable array of object references. Its capacity grows by
// 4 while below 5, by 8 while below 9, by 16 up to 65520 items and by half
// of itself beyond, so that lists of any size grow in amortized constant time. TSortedObjectList keeps its items ordered
// by a virtual Compare and has a duplicates mode; TSortedZip orders
// TZipHeaderInfo entries by one of eight sort modes.
#pragma once

#include <string>
#include <vector>

#include "zip/zip_format.h"

namespace vantrel::zip {

// Up to this many items the capacity grows in steps of 16.
inline constexpr int kSteppedItems = 65520;

class TObjectList {
 public:
  explicit TObjectList(bool ownsItems = true) : OwnsItems(ownsItems) {}
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;
  // Frees every item still in the list when OwnsItems is set.
  virtual ~TObjectList();

  // Raises the list error with the text.
  [[noreturn]] virtual void Error(const std::string& text) const;
  virtual void Grow();
  virtual void Put(int index, TObject* item);
  virtual void FreeItem(TObject* item);
  virtual int Add(TObject* item);
  // Drops every reference (items are not freed) and releases the capacity.
  virtual void Clear();
  // Linear search by identity; -1 when absent.
  virtual int IndexOf(TObject* item) const;
  virtual void Insert(int index, TObject* item);
  virtual TObject* First() const;
  virtual TObject* Last() const;
  // The item `offset` places away from `item` (nullptr past either end);
  // raises "tObject <class> not in item list" when item is not in the list.
  virtual TObject* Neighbour(TObject* item, int offset) const;

  TObject* Items(int index) const;
  // Drops the reference at index (the item is not freed).
  void Delete(int index);
  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  void SetCapacity(int capacity);

  bool OwnsItems;

 protected:
  TObject* At(int index) const { return items_[static_cast<size_t>(index)]; }
  void InsertAt(int index, TObject* item);

 private:
  std::vector<TObject*> items_;  // storage; its size is the item count
  int count_ = 0;
  int capacity_ = 0;             // the list's own capacity, grown by Grow()
};

enum TDuplicatesMode { dupIgnore = 0, dupAccept = 1, dupError = 2 };

class TSortedObjectList : public TObjectList {
 public:
  explicit TSortedObjectList(TDuplicatesMode mode, bool ownsItems = true)
      : TObjectList(ownsItems), DuplicatesMode(mode) {}

  // Refused: "Cannot <Put> an Object in a sorted list!".
  void Put(int index, TObject* item) override;
  // Inserts at the place Find gives; with an equal key: ignore returns -1
  // without inserting, error raises "Duplicate Object index", accept inserts.
  int Add(TObject* item) override;
  int IndexOf(TObject* item) const override;
  // A sorted list places the item by its key; the index is not used.
  void Insert(int index, TObject* item) override;

  virtual const TObject* Key(const TObject* item) const { return item; }
  // <0 places a before b.
  virtual int Compare(const TObject* a, const TObject* b) const = 0;
  // Binary search; index receives the place where key belongs.
  virtual bool Find(const TObject* key, int& index) const;

  TDuplicatesMode DuplicatesMode;
};

enum class TZipSortMode {
  ByName = 0,
  ByFileName = 1,
  ByDirectoryName = 2,
  ByDate = 3,
  ByCompressedSize = 4,
  ByUnCompressedSize = 5,
  ByRate = 6,
  ByNone = 7,
};

class TSortedZip : public TSortedObjectList {
 public:
  explicit TSortedZip(TDuplicatesMode mode, bool ownsItems = true,
                      TZipSortMode sortMode = TZipSortMode::ByNone)
      : TSortedObjectList(mode, ownsItems), SortMode(sortMode) {}

  int Compare(const TObject* a, const TObject* b) const override;
  TZipHeaderInfo* Entry(int index) const { return static_cast<TZipHeaderInfo*>(Items(index)); }

  TZipSortMode SortMode;
};

// The entries of one directory reading, in blocks that never move (the first
// one sized from the count the archive announces), with one arena for their
// names. Lists of the directory hold pointers into it without owning them.
class TEntryStore {
 public:
  explicit TEntryStore(size_t expected = 0) : nextBlock_(expected) {}
  TEntryStore(const TEntryStore&) = delete;
  TEntryStore& operator=(const TEntryStore&) = delete;
  ~TEntryStore();

  // A new default entry at an address that stays valid as long as the store.
  TZipHeaderInfo* New();
  // Destroys the entry New returned last (one that could not be read).
  void DropLast();
  TNameArena& Names() { return names_; }

 private:
  struct TBlock {
    TZipHeaderInfo* items;
    size_t capacity;
    size_t used;
  };
  std::vector<TBlock> blocks_;
  size_t nextBlock_;
  TNameArena names_;
};

}  // namespace vantrel::zip
