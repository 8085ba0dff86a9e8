// zip_alloc_test.cpp - reading a directory allocates per entry, not per byte.
//
// This file replaces the global operator new of the zip_tests program with a
// counting one; counting is off except inside CountAllocations.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_reader.h"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace vantrel::zip {
namespace {

long CountAllocationsReading(const std::string& path) {
  TZipReader r;
  r.SetZipName(path);
  g_allocations = 0;
  g_counting = true;
  r.ReadZip();
  g_counting = false;
  EXPECT_EQ(r.Count(), 2000);
  return g_allocations.load();
}

TEST(DirectoryAllocations, GrowWithEntriesNotWithNameLength) {
  test::TempDir tmp;
  std::vector<testing::TEntrySpec> shortNames, longNames;
  for (int i = 0; i < 2000; ++i) {
    std::string n = std::to_string(i);
    shortNames.push_back({"d/" + n, ""});
    longNames.push_back({"dir/" + std::string(3000, 'n') + "/" + n, ""});
  }
  test::WriteFile(tmp / "short.zip", testing::BuildZip(shortNames));
  test::WriteFile(tmp / "long.zip", testing::BuildZip(longNames));
  long few = CountAllocationsReading(tmp / "short.zip");
  long many = CountAllocationsReading(tmp / "long.zip");
  EXPECT_LE(few, 2000 * 6);
  EXPECT_LE(many, 2000 * 6);  // 1500 times the bytes, the same order of allocations
}

}  // namespace
}  // namespace vantrel::zip
