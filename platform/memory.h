// memory.h - large working memory for the engines.
//
// A decoder whose tables are big and read at random (the PPMd model: up to
// 256 MB) asks for a ZeroedBlock. It comes from an anonymous mapping: zero
// filled, backed by memory only where it is touched, and marked for huge pages
// where the system offers them on request, which saves most of the address
// translation misses of random access over many megabytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::platform {

class ZeroedBlock {
 public:
  ZeroedBlock() = default;
  ~ZeroedBlock() { Release(); }
  ZeroedBlock(const ZeroedBlock&) = delete;
  ZeroedBlock& operator=(const ZeroedBlock&) = delete;

  // Replaces the block by a new one of `bytes` zero bytes; false (and no
  // block) when the system has not got them.
  bool Allocate(size_t bytes);
  void Release();

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void* mapping_ = nullptr;
  size_t mappingSize_ = 0;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace vantrel::platform
