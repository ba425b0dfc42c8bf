// Fuzz target: X window dumps as try reads them at the time limit, and the PNG made of them.
#include <cstdlib>
#include <string>

#include "kesmar_pack/try/screen/screen_image.h"

using namespace kesmar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  RgbImage image;
  std::string problem;
  if (!ReadXwd(bytes, &image, &problem)) {
    if (problem.empty()) abort();  // every refusal says why
    return 0;
  }
  // Three bytes for each pixel, and no more pixels than the dump could hold.
  if (image.pixels.size() != uint64_t(image.width) * image.height * 3) abort();
  if (image.width == 0 || image.height == 0) abort();
  if (uint64_t(image.width) * image.height > uint64_t(size) * 8) abort();
  const std::string png = EncodePng(image);
  if (!png.empty() && png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) abort();
  return 0;
}
