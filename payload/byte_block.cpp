// Allocation of payload blocks without throwing and without zero-filling.
#include "payload/byte_block.h"

#include <new>

namespace kesmar {

bool ByteBlock::Allocate(uint32_t newSize) {
  Release();
  // new[] of zero elements still yields a unique pointer, so an empty block is
  // a real (if empty) allocation and callers need no special case.
  bytes.reset(new (std::nothrow) uint8_t[newSize]);
  if (!bytes) return false;
  size = newSize;
  return true;
}

void ByteBlock::Release() {
  bytes.reset();
  size = 0;
}

}  // namespace kesmar
