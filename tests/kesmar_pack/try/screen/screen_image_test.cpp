// try's screenshots: xwd's window dumps read in each pixel layout a screen has, and the PNG written from them.
#include <gtest/gtest.h>
#include <zlib.h>

#include "kesmar_pack/try/screen/screen_image.h"

namespace kesmar::testing {
namespace {

struct Dump {
  uint32_t depth, bitsPerPixel, visual, byteOrder;
  uint32_t masks[3];
  std::vector<uint32_t> colors;  // colour map: pixel i is colors[i] as 0xRRGGBB
};

void Big32(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(char(value >> shift));
}

// A 2x2 dump whose pixels are `pixels`, left to right, top to bottom, rows padded to 4 bytes and one more.
std::string XwdFile(const Dump& d, const std::vector<uint32_t>& pixels) {
  const uint32_t bytesPerPixel = d.bitsPerPixel / 8;
  const uint32_t bytesPerLine = (2 * bytesPerPixel + 3) / 4 * 4 + 4;
  const std::string name = "xwdump";
  std::string out;
  const uint32_t header[25] = {uint32_t(100 + name.size() + 2), 7, 2, d.depth, 2, 2, 0, d.byteOrder, 32, 1, 32,
                               d.bitsPerPixel, bytesPerLine, d.visual, d.masks[0], d.masks[1], d.masks[2], 8,
                               uint32_t(d.colors.size()), uint32_t(d.colors.size()), 2, 2, 0, 0, 0};
  for (uint32_t field : header) Big32(&out, field);
  out += name + std::string(2, '\0');
  for (size_t i = 0; i < d.colors.size(); ++i) {
    Big32(&out, uint32_t(i));
    for (int shift : {16, 8, 0}) out += {char(d.colors[i] >> shift), char(d.colors[i] >> shift)};
    out += {7, 0};
  }
  for (int y = 0; y < 2; ++y) {
    std::string row;
    for (int x = 0; x < 2; ++x) {
      const uint32_t pixel = pixels[size_t(y * 2 + x)];
      for (uint32_t b = 0; b < bytesPerPixel; ++b) {
        const uint32_t shift = d.byteOrder == 0 ? 8 * b : 8 * (bytesPerPixel - 1 - b);
        row.push_back(char(pixel >> shift));
      }
    }
    row.resize(bytesPerLine, '\x55');
    out += row;
  }
  return out;
}

TEST(ScreenImage, ReadsEachPixelLayout) {
  const std::vector<uint8_t> rgb = {0xff, 0, 0, 0, 0xff, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};
  struct Case {
    const char* what;
    Dump dump;
    std::vector<uint32_t> pixels;
  } cases[] = {
      {"32 bits, least significant byte first (Xvfb's)", {24, 32, 4, 0, {0xff0000, 0xff00, 0xff}, {}},
       {0xff0000, 0xff00, 0xff, 0xffffff}},
      {"32 bits, most significant byte first", {24, 32, 4, 1, {0xff0000, 0xff00, 0xff}, {}},
       {0xff0000, 0xff00, 0xff, 0xffffff}},
      {"24 bits, blue high", {24, 24, 4, 0, {0xff, 0xff00, 0xff0000}, {}}, {0xff, 0xff00, 0xff0000, 0xffffff}},
      {"16 bits, 5-6-5", {16, 16, 5, 0, {0xf800, 0x07e0, 0x001f}, {}}, {0xf800, 0x07e0, 0x001f, 0xffff}},
      {"8 bits with a colour map", {8, 8, 3, 0, {0, 0, 0}, {0xff0000, 0xff00, 0xff, 0xffffff}}, {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    RgbImage image;
    std::string problem;
    ASSERT_TRUE(ReadXwd(XwdFile(c.dump, c.pixels), &image, &problem)) << c.what << ": " << problem;
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.pixels, rgb) << c.what;
  }
}

TEST(ScreenImage, RefusesWhatItCannotRead) {
  const Dump trueColor = {24, 32, 4, 0, {0xff0000, 0xff00, 0xff}, {}};
  const std::string good = XwdFile(trueColor, {1, 2, 3, 4});
  std::string notZPixmap = good;
  notZPixmap[11] = 1;
  std::string fourBits = XwdFile({4, 4, 3, 0, {0, 0, 0}, {}}, {1, 2, 3, 4});
  std::string wide = good;
  wide[16] = 1;  // width 2 + 2^24: far past the data
  for (const std::string& bad : {good.substr(0, 99), good.substr(0, good.size() - 1), notZPixmap, fourBits, wide}) {
    RgbImage image;
    std::string problem;
    EXPECT_FALSE(ReadXwd(bad, &image, &problem));
    EXPECT_FALSE(problem.empty());
  }
}

uint32_t ReadBig32(const std::string& bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
         uint32_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]);
}

TEST(ScreenImage, WritesAPngThatReadsBack) {
  RgbImage image;
  image.width = 3;
  image.height = 2;
  image.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  const std::string png = EncodePng(image);
  ASSERT_EQ(png.compare(0, 8, std::string("\x89PNG\r\n\x1a\n", 8)), 0);
  std::vector<std::string> kinds;
  std::string data;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = ReadBig32(png, at);
    const std::string kind = png.substr(at + 4, 4);
    const std::string body = png.substr(at + 4, 4 + length);
    EXPECT_EQ(ReadBig32(png, at + 8 + length),
              uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))))
        << kind;
    kinds.push_back(kind);
    if (kind == "IHDR") {
      EXPECT_EQ(ReadBig32(png, at + 8), 3u);
      EXPECT_EQ(ReadBig32(png, at + 12), 2u);
      EXPECT_EQ(png.substr(at + 16, 5), std::string("\x08\x02\x00\x00\x00", 5));
    }
    if (kind == "IDAT") data += png.substr(at + 8, length);
    at += 12 + length;
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  std::string raw(2 * (1 + 9), '\0');
  uLongf size = uLongf(raw.size());
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(&raw[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                       uLong(data.size())),
            Z_OK);
  EXPECT_EQ(raw, std::string("\0\1\2\3\4\5\6\7\x08\x09\0\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12", 20));
}

}  // namespace
}  // namespace kesmar::testing
