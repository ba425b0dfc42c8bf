// A screen captured by xwd, read into RGB pixels and written as PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kesmar {

struct RgbImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;  // red, green, blue, row after row
};

// Reads an X window dump (xwd's file: a header of 25 big-endian numbers,
// the window's name, the colours, the pixels) of a true-colour screen of
// 16, 24 or 32 bits per pixel, or of 8 with a colour map. False, with
// `problem`, for anything else or a file cut short.
bool ReadXwd(const std::string& bytes, RgbImage* image, std::string* problem);

// The image as a PNG file: 8-bit RGB, not interlaced, compressed with zlib;
// empty when zlib finds no memory.
std::string EncodePng(const RgbImage& image);

}  // namespace kesmar
