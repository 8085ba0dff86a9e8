// memory.cpp - ZeroedBlock through mmap and madvise.
#include "platform/memory.h"

#include <sys/mman.h>

namespace vantrel::platform {

namespace {

// Huge pages are 2 MB on the systems that have them; a block of at least
// that size is placed on such a boundary so that all of it can use them.
constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

bool ZeroedBlock::Allocate(size_t bytes) {
  Release();
  if (bytes == 0) return false;
  const bool huge = bytes >= kHugePage;
  const size_t length = huge ? bytes + kHugePage : bytes;
  void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return false;
  mapping_ = p;
  mappingSize_ = length;
  auto start = reinterpret_cast<uintptr_t>(p);
  if (huge) {
    start = (start + kHugePage - 1) & ~(kHugePage - 1);
#ifdef MADV_HUGEPAGE
    // Only a hint: without huge pages the block works the same.
    ::madvise(reinterpret_cast<void*>(start), reinterpret_cast<uintptr_t>(p) + length - start, MADV_HUGEPAGE);
#endif
  }
  data_ = reinterpret_cast<uint8_t*>(start);
  size_ = bytes;
  return true;
}

void ZeroedBlock::Release() {
  if (mapping_) ::munmap(mapping_, mappingSize_);
  mapping_ = nullptr;
  mappingSize_ = 0;
  data_ = nullptr;
  size_ = 0;
}

}  // namespace vantrel::platform
