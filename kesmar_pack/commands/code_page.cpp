// CodePage: exact conversion both ways, lead bytes and case folding.
#include "kesmar_pack/commands/code_page.h"

#include "platform/ntfs_order.h"

namespace kesmar {
namespace {

// The C1 control characters U+0080 to U+009F, C2 80 to C2 9F in UTF-8.
// Windows' tables give them to the bytes a code page leaves undefined (0x81
// in 1252), iconv refuses those bytes: no name here holds one, so that a
// name is taken or refused alike on both systems.
bool HasC1Control(const std::string& utf8) {
  for (size_t i = 0; i + 1 < utf8.size(); ++i) {
    if (uint8_t(utf8[i]) == 0xC2 && uint8_t(utf8[i + 1]) >= 0x80 && uint8_t(utf8[i + 1]) <= 0x9F) return true;
  }
  return false;
}

}  // namespace

bool CodePage::IsAnsiCodePage(int number) {
  switch (number) {
    case 874: case 932: case 936: case 949: case 950:
      return true;
    default:
      return number >= 1250 && number <= 1258;
  }
}

std::unique_ptr<CodePage> CodePage::Open(int number, std::string* problem) {
  if (!IsAnsiCodePage(number)) {
    *problem = std::to_string(number) + " is not a Windows ANSI code page (874, 932, 936, 949, 950, 1250-1258)";
    return nullptr;
  }
  std::unique_ptr<AnsiCodePage> converter = AnsiCodePage::Open(number);
  if (converter == nullptr) {
    *problem = "code page " + std::to_string(number) + " cannot be converted on this system";
    return nullptr;
  }
  return std::unique_ptr<CodePage>(new CodePage(number, std::move(converter)));
}

CodePage::CodePage(int number, std::unique_ptr<AnsiCodePage> converter)
    : number_(number), converter_(std::move(converter)) {
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    if (converter_->IsLeadByte(uint8_t(byte))) leadBytes_.Add(uint8_t(byte));
  }
}

bool CodePage::Encode(const std::string& utf8, std::string* ansi, std::string* problem) const {
  std::u16string units;
  if (!Utf8ToUtf16(utf8, &units)) {
    *problem = "not valid UTF-8";
    return false;
  }
  // The way back must give the same name: nothing may be approximated.
  std::string back;
  if (HasC1Control(utf8) || !converter_->FromUtf8(utf8, ansi) || !converter_->ToUtf8(*ansi, &back) ||
      back != utf8) {
    *problem = "not representable in code page " + std::to_string(number_) + " (--codepage N takes another)";
    return false;
  }
  return true;
}

bool CodePage::Decode(const std::string& ansi, std::string* utf8, std::string* problem) const {
  if (converter_->ToUtf8(ansi, utf8) && !HasC1Control(*utf8)) return true;
  *problem = "not a name in code page " + std::to_string(number_);
  return false;
}

std::string CodePage::FoldKey(const std::string& ansi) const {
  std::string utf8, problem;
  // A name that does not convert is refused elsewhere; its bytes still give
  // it a key of its own, of odd length, so never equal to a converted one.
  if (!Decode(ansi, &utf8, &problem)) return RecordNameKey(ansi) + '\x01';
  std::u16string units;
  Utf8ToUtf16(utf8, &units);
  std::string key;
  for (char16_t unit : units) {
    const char16_t upper = NtfsUpcase(unit);
    key += char(upper >> 8);
    key += char(upper & 0xFF);
  }
  return key;
}

}  // namespace kesmar
