// zip_lists_test.cpp - the orders of the entry lists.
#include <gtest/gtest.h>

#include <memory>

#include "zip/zip_errors.h"
#include "zip/zip_lists.h"

namespace vantrel::zip {
namespace {

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

}  // namespace
}  // namespace vantrel::zip
