// The order a growing listing keeps on the reading threads: batches sorted,
// combined and merged one after another and put into a panel model by
// their places end in exactly the order a whole sort gives; the model keeps its cursor and marks
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
    name += '#';
    name += std::to_string(i);
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
  size_t combined;              // runs combined before each merge
};

// Batches sorted on their own, combined some at a time, merged in turn and
// put into a model by their places give the whole sort's order.
TEST(ListingOrder, CombinedAndMergedRunsEndInTheWholeSortsOrder) {
  const OrderCase cases[] = {
      {kSortByName, false, {1}, 1},          {kSortByName, false, {3000}, 1}, {kSortByName, true, {7, 300}, 3},
      {kSortByExt, false, {64, 1, 900}, 2},  {kSortByExt, true, {500}, 1},    {kSortBySize, false, {100}, 8},
      {kSortBySize, true, {1, 2, 1000}, 5},  {kSortByDate, false, {250}, 2},  {kSortByTime, true, {33}, 40},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE("order " + std::to_string(c.sortType) + (c.descending ? " descending" : "") + ", first batch " +
                 std::to_string(c.batches[0]) + ", " + std::to_string(c.combined) + " combined");
    const TPanelModel::Entries rows = Awkward(2500, c.sortType * 31u + c.descending);
    TListingOrder order(c.sortType, c.descending);
    TPanelModel model;
    model.SetSortOrder(c.sortType, c.descending, false);
    size_t next = 0;
    for (size_t b = 0; next < rows.size();) {
      TListingOrder::TSortedRows run;
      size_t inRun = 0;
      for (size_t k = 0; k < c.combined && next < rows.size(); ++k, ++b) {
        const size_t size = std::min(c.batches[b % c.batches.size()], rows.size() - next);
        TPanelModel::Entries batch;
        for (size_t i = next; i < next + size; ++i) batch.push_back(std::make_unique<TFileEntry>(*rows[i]));
        // Alternately before and after: the two sides may come either way.
        run = k % 2 ? order.Combine(order.Sort(std::move(batch)), std::move(run))
                    : order.Combine(std::move(run), order.Sort(std::move(batch)));
        next += size;
        inRun += size;
      }
      ASSERT_EQ(run.Size(), inRun);
      TPanelModel::Entries added;
      std::vector<uint32_t> positions;
      order.Merge(std::move(run), added, positions);
      ASSERT_EQ(added.size(), inRun);
      ASSERT_EQ(positions.size(), inRun);
      model.AddRows(std::move(added), positions);
    }
    EXPECT_EQ(order.Count(), rows.size());
    TPanelModel whole;
    whole.SetSortOrder(c.sortType, c.descending, false);
    whole.SetEntries(Copy(rows));
    EXPECT_EQ(NamesOf(model), NamesOf(whole));
  }
}

// A run merged into many rows and many rows into a few: the places are
// found by galloping from the last one, in either proportion, and the rows
// that go before all and after all find theirs.
TEST(ListingOrder, SmallAndLargeRunsFindTheirPlaces) {
  struct SizesCase {
    const char* what;
    std::vector<std::string> first, second;
    std::vector<uint32_t> places;
  };
  const SizesCase cases[] = {
      {"one among many", {"b", "c", "d", "e", "f", "g", "h", "i", "j"}, {"ea"}, {4}},
      {"before all", {"m", "n", "o"}, {"a", "b"}, {0, 1}},
      {"after all", {"a", "b", "c", "d"}, {"x", "y", "z"}, {4, 5, 6}},
      {"many among few", {"c", "k"}, {"a", "b", "d", "e", "f", "l", "m"}, {0, 1, 3, 4, 5, 7, 8}},
      {"into nothing", {}, {"q", "p"}, {0, 1}},
  };
  for (const SizesCase& c : cases) {
    SCOPED_TRACE(c.what);
    TListingOrder order(kSortByName, false);
    TPanelModel::Entries first, second, added;
    for (const std::string& n : c.first) first.push_back(Entry(n));
    for (const std::string& n : c.second) second.push_back(Entry(n));
    std::vector<uint32_t> positions;
    order.Merge(order.Sort(std::move(first)), added, positions);
    order.Merge(order.Sort(std::move(second)), added, positions);
    EXPECT_EQ(positions, c.places);
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
