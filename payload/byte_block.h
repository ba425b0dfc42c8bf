// An owned block of bytes with a 32-bit length: the unit every payload operation works in.
#pragma once

#include <cstdint>
#include <memory>

namespace kesmar {

struct ByteBlock {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;

  // Takes an uninitialised block of `size` bytes. Returns false, leaving the
  // block empty, when the memory cannot be had; a shortage is a failure
  // result, never a crash.
  bool Allocate(uint32_t newSize);
  void Release();
  const uint8_t* data() const { return bytes.get(); }
  uint8_t* data() { return bytes.get(); }
};

// Little-endian 32-bit access, independent of the host's byte order.
inline uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void WriteLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace kesmar
