// AnsiCodePage on Linux, through iconv's "CPnnnn" converters.
#include <iconv.h>

#include <cerrno>

#include "platform/ansi_code_page.h"

namespace kesmar {
namespace {

class IconvCodePage final : public AnsiCodePage {
 public:
  IconvCodePage(iconv_t toAnsi, iconv_t fromAnsi) : toAnsi_(toAnsi), fromAnsi_(fromAnsi) {
    // A lead byte alone is an incomplete character (EINVAL); any other byte
    // converts, or is no character at all (EILSEQ).
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
      char in = char(byte);
      char out[8];
      char* inCursor = &in;
      char* outCursor = out;
      size_t inLeft = 1, outLeft = sizeof out;
      iconv(fromAnsi_, nullptr, nullptr, nullptr, nullptr);
      if (iconv(fromAnsi_, &inCursor, &inLeft, &outCursor, &outLeft) == size_t(-1) && errno == EINVAL) {
        leadBytes_[byte - 0x80] = true;
      }
    }
  }
  ~IconvCodePage() override {
    iconv_close(toAnsi_);
    iconv_close(fromAnsi_);
  }

  bool FromUtf8(const std::string& utf8, std::string* ansi) const override { return Convert(toAnsi_, utf8, ansi); }
  bool ToUtf8(const std::string& ansi, std::string* utf8) const override { return Convert(fromAnsi_, ansi, utf8); }
  bool IsLeadByte(uint8_t byte) const override { return byte >= 0x80 && leadBytes_[byte - 0x80]; }

 private:
  static bool Convert(iconv_t converter, const std::string& in, std::string* out) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string buffer(in.size() * 4 + 16, '\0');
    char* inCursor = const_cast<char*>(in.data());
    char* outCursor = buffer.data();
    size_t inLeft = in.size(), outLeft = buffer.size();
    // Four bytes out for each byte in is enough between UTF-8 and any of these.
    if (iconv(converter, &inCursor, &inLeft, &outCursor, &outLeft) == size_t(-1) ||
        iconv(converter, nullptr, nullptr, &outCursor, &outLeft) == size_t(-1)) {
      return false;
    }
    buffer.resize(buffer.size() - outLeft);
    *out = std::move(buffer);
    return true;
  }

  iconv_t toAnsi_;
  iconv_t fromAnsi_;
  bool leadBytes_[0x80] = {};
};

}  // namespace

std::unique_ptr<AnsiCodePage> AnsiCodePage::Open(int number) {
  const std::string name = "CP" + std::to_string(number);
  const iconv_t toAnsi = iconv_open(name.c_str(), "UTF-8");
  const iconv_t fromAnsi = iconv_open("UTF-8", name.c_str());
  if (toAnsi == iconv_t(-1) || fromAnsi == iconv_t(-1)) {
    if (toAnsi != iconv_t(-1)) iconv_close(toAnsi);
    if (fromAnsi != iconv_t(-1)) iconv_close(fromAnsi);
    return nullptr;
  }
  return std::make_unique<IconvCodePage>(toAnsi, fromAnsi);
}

}  // namespace kesmar
