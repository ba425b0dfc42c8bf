// What both fuzz targets do to an input before use: a copy with its declared stream size kept small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/byte_block.h"

namespace kesmar::fuzzing {

// The decoder takes a block of the declared size up front, up to 4 GiB, as it
// must for a real payload. A fuzzer that allocates gigabytes per input learns
// nothing more, so larger sizes are folded into 0..kMaxDeclaredSize.
constexpr uint32_t kMaxDeclaredSize = 16u << 20;

inline std::vector<uint8_t> CappedContainer(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  if (copy.size() >= 4) {
    const uint32_t declared = ReadLe32(copy.data());
    if (declared > kMaxDeclaredSize) WriteLe32(copy.data(), declared % (kMaxDeclaredSize + 1));
  }
  return copy;
}

}  // namespace kesmar::fuzzing
