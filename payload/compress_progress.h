// The hook through which compression tells its caller how far it has got.
#pragma once

#include <cstdint>

namespace kesmar {

// Called on the compressing thread between blocks of the encoder's work.
// The launcher passes none; the host tool draws a progress line with it.
class CompressProgress {
 public:
  virtual ~CompressProgress() = default;
  // `inDone` bytes of the input have been encoded into `outDone` bytes.
  virtual void Progress(uint64_t inDone, uint64_t outDone) = 0;
};

}  // namespace kesmar
