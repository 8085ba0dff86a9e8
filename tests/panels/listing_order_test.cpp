// The order a growing listing keeps on the reading thread: batches merged
// one after another and put into a panel model by their places end in
// exactly the order a whole sort gives; the model keeps its cursor and marks
// on their entries while rows are put in around them.
#include "panels/listing_order.h"

#include <gtest/gtest.h>

#include <random>

namespace vantrel::panels {
namespace {

using Names = std::vector<std::string>;

Names NamesOf(const TPanelModel& m) {
  Names out;
  for (const auto& e : m.GetEntries()) out.push_back(e->FileName);
  return out;
}

std::unique_ptr<TFileEntry> Entry(const std::string& name, bool dir = false, uint64_t size = 0,
                                  platform::FileTime time = 0) {
  auto e = std::make_unique<TFileEntry>();
  e->FileName = name;
  e->FileAttributes = dir || name == ".." ? platform::kAttrDirectory : platform::kAttrArchive;
  e->FileSize = size;
  e->CreationTime = e->LastWriteTime = time;
  return e;
}

// Names that make the short heads of the keys tie: long common beginnings,
// case alone differing, long extensions alike in their first bytes, letters
// beyond ASCII and bytes that are no UTF-8; sizes and times that tie often.
TPanelModel::Entries Awkward(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  const char* stems[] = {"IMG_20240101_", "img_20240101_", "a", "Ärger_", "zz", "report-final-version-",
                         "\xff\xfe", "Ω"};
  const char* exts[] = {"", ".txt", ".TXT", ".longextension1", ".longextension2", ".c", ".tar.gz"};
  TPanelModel::Entries out;
  out.push_back(Entry(".."));
  for (int i = 0; i < n; ++i) {
    std::string name = stems[rng() % 8] + std::to_string(rng() % 5000) + exts[rng() % 7];
    if (rng() % 4 == 0) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    name += "#" + std::to_string(i);
    const bool dir = rng() % 9 == 0;
    const uint64_t size = rng() % 4 * 1000;
    const platform::FileTime time = platform::FileTimeFromUnix(1700000000 + rng() % 3, 0);
    out.push_back(Entry(name, dir, size, time));
    if (i % 50 == 0) {
      // The same name but for case, which only the real bytes put in order.
      for (char& ch : name) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
      out.push_back(Entry(name, dir, size, time));
    }
  }
  std::shuffle(out.begin(), out.end(), rng);
  return out;
}

TPanelModel::Entries Copy(const TPanelModel::Entries& from) {
  TPanelModel::Entries out;
  for (const auto& e : from) out.push_back(std::make_unique<TFileEntry>(*e));
  return out;
}

struct OrderCase {
  uint8_t sortType;
  bool descending;
  std::vector<size_t> batches;  // sizes, repeated until the rows run out
};

// Batches merged in turn, then put into a model by their places, give
// the whole sort's order.
TEST(ListingOrder, MergedBatchesEndInTheWholeSortsOrder) {
  const OrderCase cases[] = {
      {kSortByName, false, {1}},          {kSortByName, false, {3000}},  {kSortByName, true, {7, 300}},
      {kSortByExt, false, {64, 1, 900}},  {kSortByExt, true, {500}},     {kSortBySize, false, {100}},
      {kSortBySize, true, {1, 2, 1000}},  {kSortByDate, false, {250}},   {kSortByTime, true, {33}},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE("order " + std::to_string(c.sortType) + (c.descending ? " descending" : "") + ", first batch " +
                 std::to_string(c.batches[0]));
    const TPanelModel::Entries rows = Awkward(2500, c.sortType * 31u + c.descending);
    TListingOrder order(c.sortType, c.descending);
    TPanelModel model;
    model.SetSortOrder(c.sortType, c.descending, false);
    std::vector<uint32_t> batch, positions;
    size_t next = 0;
    for (size_t b = 0; next < rows.size(); ++b) {
      const size_t size = std::min(c.batches[b % c.batches.size()], rows.size() - next);
      for (size_t i = next; i < next + size; ++i) order.Add(*rows[i]);
      EXPECT_EQ(order.Fresh(), size);
      order.Merge(batch, positions);
      ASSERT_EQ(batch.size(), size);
      ASSERT_EQ(positions.size(), size);
      TPanelModel::Entries added;
      for (uint32_t k : batch) added.push_back(std::make_unique<TFileEntry>(*rows[next + k]));
      model.AddRows(std::move(added), positions);
      next += size;
    }
    EXPECT_EQ(order.Count(), rows.size());
    TPanelModel whole;
    whole.SetSortOrder(c.sortType, c.descending, false);
    whole.SetEntries(Copy(rows));
    EXPECT_EQ(NamesOf(model), NamesOf(whole));
  }
}

struct PlaceCase {
  const char* what;
  Names before;
  int cursor;
  std::vector<int> marked;
  Names added;
  std::vector<uint32_t> positions;
  Names after;
  const char* cursorName;
};

// Rows put in by their places: the others keep their order, the cursor and
// the marks stay on their entries; places that do not fit put the rows last.
TEST(ListingOrder, RowsPutInByTheirPlacesKeepCursorAndMarks) {
  const PlaceCase cases[] = {
      {"into an empty panel", {}, 0, {}, {"a", "b"}, {0, 1}, {"a", "b"}, "a"},
      {"before all", {"c", "d"}, 1, {0}, {"a", "b"}, {0, 1}, {"a", "b", "c", "d"}, "d"},
      {"after all", {"a", "b"}, 0, {1}, {"c", "d"}, {2, 3}, {"a", "b", "c", "d"}, "a"},
      {"between", {"a", "c", "e"}, 2, {0, 2}, {"b", "d", "f"}, {1, 3, 5}, {"a", "b", "c", "d", "e", "f"}, "e"},
      {"runs", {"a", "b", "e", "f"}, 2, {3}, {"c", "d", "g"}, {2, 3, 6}, {"a", "b", "c", "d", "e", "f", "g"}, "e"},
      {"not ascending", {"a"}, 0, {0}, {"c", "b"}, {2, 1}, {"a", "c", "b"}, "a"},
      {"beyond the end", {"a"}, 0, {}, {"b"}, {5}, {"a", "b"}, "a"},
      {"twice one place", {"a"}, 0, {}, {"b", "c"}, {1, 1}, {"a", "b", "c"}, "a"},
      {"without places", {"b"}, 0, {0}, {"a"}, {}, {"b", "a"}, "b"},
  };
  for (const PlaceCase& c : cases) {
    SCOPED_TRACE(c.what);
    TPanelModel model;
    TPanelModel::Entries first;
    for (const std::string& n : c.before) first.push_back(Entry(n, false, n.size() * 10));
    std::vector<uint32_t> firstPlaces(first.size());
    for (size_t i = 0; i < firstPlaces.size(); ++i) firstPlaces[i] = static_cast<uint32_t>(i);
    model.AddRows(std::move(first), firstPlaces);
    model.SetCursor(c.cursor);
    Names markedNames;
    for (int i : c.marked) {
      model.SetMarked(i, true);
      markedNames.push_back(c.before[static_cast<size_t>(i)]);
    }
    const uint64_t bytes = model.MarkedBytes();
    TPanelModel::Entries added;
    for (const std::string& n : c.added) added.push_back(Entry(n));
    model.AddRows(std::move(added), c.positions);
    EXPECT_EQ(NamesOf(model), c.after);
    ASSERT_NE(model.CurrentEntry(), nullptr);
    EXPECT_EQ(model.CurrentEntry()->FileName, c.cursorName);
    Names nowMarked;
    for (int i = 0; i < model.Count(); ++i)
      if (model.IsMarked(i)) nowMarked.push_back(model.GetEntries()[static_cast<size_t>(i)]->FileName);
    EXPECT_EQ(nowMarked, markedNames);
    EXPECT_EQ(model.MarkedCount(), static_cast<int>(markedNames.size()));
    EXPECT_EQ(model.MarkedBytes(), bytes);
  }
}

}  // namespace
}  // namespace vantrel::panels
