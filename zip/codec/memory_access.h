// memory_access.h - 16-, 32- and 64-bit values read and written at any
// address in the host's byte order. Through memcpy, so neither alignment nor
// the type of what else lives in those bytes matters; compilers make single
// moves of them.
#pragma once

#include <cstdint>
#include <cstring>

namespace vantrel::zip {

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace vantrel::zip
