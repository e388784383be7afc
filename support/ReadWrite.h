// Read access to PCI configuration space for the graphics adapter model.
#pragma once
#include <cstdint>

namespace brumel {

class TReadWrite {
 public:
  TReadWrite();
  ~TReadWrite();
  TReadWrite(const TReadWrite&) = delete;
  TReadWrite& operator=(const TReadWrite&) = delete;

  // The configuration dword of a PCI function at offset; 0xFFFFFFFF when it cannot be read.
  uint32_t ReadPciConfig(uint8_t bus, uint8_t device, uint16_t offset, uint8_t function);
};

// The process-wide instance, created on the first call.
TReadWrite* GetReadWrite();

}  // namespace brumel
