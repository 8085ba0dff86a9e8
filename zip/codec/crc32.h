// crc32.h - the CRC-32 of ZIP archives (reflected polynomial 0xEDB88320).
//
// A running value starts at 0xFFFFFFFF, is updated over the data and is
// complemented at the end. Crc32Table is the one 256-entry table that the
// per-byte update and the traditional encryption's key update share; bulk data
// goes through Crc32Update, which uses the fastest method the processor offers
// (carry-less multiplication where present, tables elsewhere) with the same
// result.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::zip {

extern const uint32_t Crc32Table[256];

// One byte, the form the encryption keys use.
inline uint32_t Crc32Byte(uint32_t crc, uint8_t b) {
  return Crc32Table[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

// Updates a running (not yet complemented) value over n bytes.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t n);

// The finished CRC-32 of a whole buffer: ~Crc32Update(0xFFFFFFFF, data, n).
uint32_t Crc32(const uint8_t* data, size_t n);

// The bulk methods. Crc32Update chooses one once, by what the processor
// supports; tests and benchmarks may run each one that is supported.
enum class TCrc32Kernel {
  Table,      // slicing by 8 and braiding: portable
  Clmul128,   // carry-less multiply folding, 16 bytes per register (PCLMULQDQ)
  Clmul256,   // the same, 32 bytes per register (VPCLMULQDQ with AVX2)
  Clmul512,   // the same, 64 bytes per register (VPCLMULQDQ with AVX-512)
};
inline constexpr TCrc32Kernel kCrc32Kernels[] = {TCrc32Kernel::Table, TCrc32Kernel::Clmul128,
                                                 TCrc32Kernel::Clmul256, TCrc32Kernel::Clmul512};

bool Crc32KernelSupported(TCrc32Kernel kernel);
TCrc32Kernel Crc32ChosenKernel();
const char* Crc32KernelName(TCrc32Kernel kernel);
// REQUIRES: Crc32KernelSupported(kernel).
uint32_t Crc32UpdateWith(TCrc32Kernel kernel, uint32_t crc, const uint8_t* data, size_t n);

}  // namespace vantrel::zip
