// zip_lists_test.cpp - growth, limit, duplicates and Find rules of the lists.
#include <gtest/gtest.h>

#include <memory>

#include "zip/zip_errors.h"
#include "zip/zip_lists.h"

namespace vantrel::zip {
namespace {

// Counts destructions so ownership can be checked.
struct Counted : TObject {
  explicit Counted(int* d) : destroyed(d) {}
  ~Counted() override { ++*destroyed; }
  const char* ClassName() const override { return "Counted"; }
  int* destroyed;
};

struct IntItem : TObject {
  explicit IntItem(int v, int tag = 0) : value(v), tag(tag) {}
  int value, tag;
};

class IntList : public TSortedObjectList {
 public:
  using TSortedObjectList::TSortedObjectList;
  int Compare(const TObject* a, const TObject* b) const override {
    return static_cast<const IntItem*>(a)->value - static_cast<const IntItem*>(b)->value;
  }
};

// Far more items than a classic archive directory counts.
TEST(ObjectList, HoldsMoreThan65535Items) {
  TObjectList list(false);
  TObject item;
  for (int i = 0; i < 200000; ++i) list.Add(&item);
  EXPECT_EQ(list.Count(), 200000);
  EXPECT_EQ(list.Items(199999), &item);
  EXPECT_THROW(list.SetCapacity(10), EListError);  // below the count
}

TEST(ObjectList, OwnsItemsFreesOnDestructionOnly) {
  int destroyed = 0;
  auto* kept = new Counted(&destroyed);
  {
    TObjectList list;
    list.Add(new Counted(&destroyed));
    list.Add(kept);
    list.Delete(1);  // dropped, not freed
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
  delete kept;
}

TEST(ObjectList, IndexErrorsAndNeighbours) {
  TObjectList list(false);
  TObject a, b, stranger;
  list.Add(&a);
  list.Add(&b);
  EXPECT_THROW(list.Items(2), EListError);
  EXPECT_THROW(list.Items(-1), EListError);
  EXPECT_EQ(list.IndexOf(&b), 1);
  EXPECT_EQ(list.IndexOf(&stranger), -1);
  EXPECT_EQ(list.Neighbour(&a, 1), &b);
  EXPECT_EQ(list.Neighbour(&a, -1), nullptr);
  EXPECT_EQ(list.First(), &a);
  EXPECT_EQ(list.Last(), &b);
  try {
    list.Neighbour(&stranger, 1);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "tObject TObject not in item list");
  }
}

TEST(SortedList, DuplicatesModes) {
  IntItem one(1), two(2), twoAgain(2, 1);
  IntList ignore(dupIgnore, false);
  ignore.Add(&two);
  ignore.Add(&one);
  EXPECT_EQ(ignore.Add(&twoAgain), -1);
  EXPECT_EQ(ignore.Count(), 2);
  EXPECT_EQ(ignore.Items(0), &one);

  IntList error(dupError, false);
  error.Add(&two);
  try {
    error.Add(&twoAgain);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Duplicate Object index");
  }

  // Accept places an equal key before the items equal to it.
  IntList accept(dupAccept, false);
  accept.Add(&one);
  accept.Add(&two);
  accept.Add(&twoAgain);
  EXPECT_EQ(accept.Count(), 3);
  EXPECT_EQ(accept.Items(1), &twoAgain);
  EXPECT_EQ(accept.Items(2), &two);
}

TEST(SortedList, PutIsRefusedAndIndexOfUsesFind) {
  IntItem one(1), three(3), probe(3);
  IntList list(dupError, false);
  list.Add(&three);
  list.Add(&one);
  try {
    list.Put(0, &one);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Cannot <Put> an Object in a sorted list!");
  }
  EXPECT_EQ(list.IndexOf(&probe), 1);  // by key, not identity
  IntItem absent(2);
  EXPECT_EQ(list.IndexOf(&absent), -1);
  int index = -1;
  EXPECT_FALSE(list.Find(&absent, index));
  EXPECT_EQ(index, 1);
}

std::unique_ptr<TZipHeaderInfo> Entry(const std::string& path, uint32_t date = 0,
                                      uint32_t csize = 0, uint32_t usize = 0,
                                      uint16_t disk = 0, uint32_t offset = 0) {
  auto e = std::make_unique<TZipHeaderInfo>();
  e->SetPath(path);
  e->LastModDateTime = date;
  e->CompressedSize = csize;
  e->UncompressedSize = usize;
  e->DiskNumberStart = disk;
  e->LocalHeaderOffset = offset;
  return e;
}

TEST(SortedZip, SortModes) {
  const uint32_t d1 = 0x28210000, d2 = 0x28420000;  // 2000-01-01, 2000-02-02
  std::vector<std::unique_ptr<TZipHeaderInfo>> items;
  items.push_back(Entry("b/Zeta", d1, 10, 100, 1, 5));
  items.push_back(Entry("a/alpha", d2, 30, 60, 0, 900));
  items.push_back(Entry("A/Beta", d1, 20, 20, 0, 100));

  // Names ignore case; newest first and equal dates keep insertion order;
  // rates 10, 50, 100 least compressed first; none: disk, then offset.
  const std::pair<TZipSortMode, std::vector<std::string>> cases[] = {
      {TZipSortMode::ByName, {"a/alpha", "A/Beta", "b/Zeta"}},
      {TZipSortMode::ByFileName, {"a/alpha", "A/Beta", "b/Zeta"}},
      {TZipSortMode::ByDate, {"a/alpha", "b/Zeta", "A/Beta"}},
      {TZipSortMode::ByCompressedSize, {"a/alpha", "A/Beta", "b/Zeta"}},
      {TZipSortMode::ByUnCompressedSize, {"b/Zeta", "a/alpha", "A/Beta"}},
      {TZipSortMode::ByRate, {"A/Beta", "a/alpha", "b/Zeta"}},
      {TZipSortMode::ByNone, {"A/Beta", "a/alpha", "b/Zeta"}},
  };
  for (const auto& [mode, order] : cases) {
    TSortedZip list(dupAccept, false, mode);
    for (auto& e : items) list.Add(e.get());
    std::vector<std::string> got;
    for (int i = 0; i < list.Count(); ++i) got.push_back(list.Entry(i)->Path());
    EXPECT_EQ(got, order) << static_cast<int>(mode);
  }
}

TEST(SortedZip, SameDiskAndOffsetCannotBothEnterAnErrorList) {
  TSortedZip list(dupError, true, TZipSortMode::ByNone);
  list.Add(Entry("one", 0, 0, 0, 0, 10).release());
  auto twin = Entry("two", 0, 0, 0, 0, 10);
  EXPECT_THROW(list.Add(twin.get()), EListError);
  EXPECT_EQ(list.Count(), 1);
}

}  // namespace
}  // namespace vantrel::zip
