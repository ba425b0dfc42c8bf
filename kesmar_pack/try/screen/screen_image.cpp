// Decoding xwd's window dumps and encoding PNG files with zlib.
#include "kesmar_pack/try/screen/screen_image.h"

#include <zlib.h>

namespace kesmar {
namespace {

constexpr uint32_t kZPixmap = 2;
constexpr uint32_t kPseudoColor = 3;
constexpr uint32_t kTrueColor = 4;
constexpr uint32_t kDirectColor = 5;
constexpr size_t kHeaderFields = 25;
constexpr size_t kColorSize = 12;

uint32_t Big32(const uint8_t* at) {
  return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

// A channel of `pixel` under `mask`, scaled to 0..255.
uint8_t Channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  const uint32_t max = mask >> shift;
  return uint8_t(uint64_t((pixel & mask) >> shift) * 255 / max);
}

void Append32(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(char((value >> shift) & 0xff));
}

void AppendChunk(std::string* out, const char* type, const std::string& data) {
  Append32(out, uint32_t(data.size()));
  const std::string body = std::string(type, 4) + data;
  out->append(body);
  Append32(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

}  // namespace

bool ReadXwd(const std::string& bytes, RgbImage* image, std::string* problem) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() < kHeaderFields * 4) {
    *problem = "the screen dump is cut short";
    return false;
  }
  uint32_t field[kHeaderFields];
  for (size_t i = 0; i < kHeaderFields; ++i) field[i] = Big32(data + 4 * i);
  const uint32_t headerSize = field[0], version = field[1], format = field[2], width = field[4],
                 height = field[5], byteOrder = field[7], bitsPerPixel = field[11], bytesPerLine = field[12],
                 visual = field[13], colors = field[19];
  const uint32_t masks[3] = {field[14], field[15], field[16]};
  if (version != 7 || format != kZPixmap || width == 0 || height == 0 || width > 16384 || height > 16384) {
    *problem = "the screen dump is not one of a whole screen";
    return false;
  }
  const bool trueColor = (visual == kTrueColor || visual == kDirectColor) &&
                         (bitsPerPixel == 16 || bitsPerPixel == 24 || bitsPerPixel == 32);
  const bool mapped = visual <= kPseudoColor && bitsPerPixel == 8;
  if (!trueColor && !mapped) {
    *problem = "the screen has " + std::to_string(bitsPerPixel) + " bits per pixel of a kind not read here";
    return false;
  }
  const uint64_t colorsAt = headerSize;
  const uint64_t pixelsAt = colorsAt + uint64_t(colors) * kColorSize;
  if (headerSize < kHeaderFields * 4 || uint64_t(bytesPerLine) * 8 < uint64_t(width) * bitsPerPixel ||
      pixelsAt + uint64_t(bytesPerLine) * height > bytes.size()) {
    *problem = "the screen dump is cut short";
    return false;
  }
  // Colour map entries: pixel, then red, green and blue in 16 bits each.
  std::vector<uint8_t> palette(256 * 3, 0);
  for (uint32_t i = 0; mapped && i < colors; ++i) {
    const uint8_t* entry = data + colorsAt + i * kColorSize;
    const uint32_t pixel = Big32(entry);
    if (pixel > 255) continue;
    for (int c = 0; c < 3; ++c) palette[pixel * 3 + c] = entry[4 + 2 * c];
  }
  image->width = width;
  image->height = height;
  image->pixels.assign(size_t(width) * height * 3, 0);
  const uint32_t bytesPerPixel = bitsPerPixel / 8;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = data + pixelsAt + uint64_t(y) * bytesPerLine;
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* at = row + x * bytesPerPixel;
      uint32_t pixel = 0;
      for (uint32_t b = 0; b < bytesPerPixel; ++b) {
        // byte order 0: least significant byte first.
        pixel |= uint32_t(at[b]) << (byteOrder == 0 ? 8 * b : 8 * (bytesPerPixel - 1 - b));
      }
      uint8_t* out = &image->pixels[(size_t(y) * width + x) * 3];
      for (int c = 0; c < 3; ++c) out[c] = mapped ? palette[(pixel & 0xff) * 3 + c] : Channel(pixel, masks[c]);
    }
  }
  return true;
}

std::string EncodePng(const RgbImage& image) {
  std::string raw;
  raw.reserve(size_t(image.height) * (size_t(image.width) * 3 + 1));
  for (uint32_t y = 0; y < image.height; ++y) {
    raw.push_back(0);  // no filter
    raw.append(reinterpret_cast<const char*>(&image.pixels[size_t(y) * image.width * 3]), size_t(image.width) * 3);
  }
  uLongf size = compressBound(uLong(raw.size()));
  std::string packed(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
                uLong(raw.size()), 6) != Z_OK) {
    return "";
  }
  packed.resize(size);

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  Append32(&header, image.width);
  Append32(&header, image.height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter method, no interlace
  AppendChunk(&png, "IHDR", header);
  AppendChunk(&png, "IDAT", packed);
  AppendChunk(&png, "IEND", "");
  return png;
}

}  // namespace kesmar
