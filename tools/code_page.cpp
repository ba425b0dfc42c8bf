// CodePage: conversion with iconv, lead bytes and case folding.
#include "tools/code_page.h"

#include <cerrno>

#include "platform/ntfs_order.h"

namespace kesmar {

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
  const std::string name = "CP" + std::to_string(number);
  const iconv_t toAnsi = iconv_open(name.c_str(), "UTF-8");
  const iconv_t fromAnsi = iconv_open("UTF-8", name.c_str());
  if (toAnsi == iconv_t(-1) || fromAnsi == iconv_t(-1)) {
    if (toAnsi != iconv_t(-1)) iconv_close(toAnsi);
    if (fromAnsi != iconv_t(-1)) iconv_close(fromAnsi);
    *problem = "code page " + std::to_string(number) + " is not known to this system's iconv";
    return nullptr;
  }
  return std::unique_ptr<CodePage>(new CodePage(number, toAnsi, fromAnsi));
}

CodePage::CodePage(int number, iconv_t toAnsi, iconv_t fromAnsi)
    : number_(number), toAnsi_(toAnsi), fromAnsi_(fromAnsi) {
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
      leadBytes_.Add(uint8_t(byte));
    }
  }
}

CodePage::~CodePage() {
  iconv_close(toAnsi_);
  iconv_close(fromAnsi_);
}

bool CodePage::Convert(iconv_t converter, const std::string& in, std::string* out) {
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

bool CodePage::Encode(const std::string& utf8, std::string* ansi, std::string* problem) const {
  std::u16string units;
  if (!Utf8ToUtf16(utf8, &units)) {
    *problem = "not valid UTF-8";
    return false;
  }
  // The way back must give the same name: nothing may be approximated.
  std::string back;
  if (!Convert(toAnsi_, utf8, ansi) || !Convert(fromAnsi_, *ansi, &back) || back != utf8) {
    *problem = "not representable in code page " + std::to_string(number_) + " (--codepage N takes another)";
    return false;
  }
  return true;
}

bool CodePage::Decode(const std::string& ansi, std::string* utf8, std::string* problem) const {
  if (Convert(fromAnsi_, ansi, utf8)) return true;
  *problem = "not a name in code page " + std::to_string(number_);
  return false;
}

std::string CodePage::FoldKey(const std::string& ansi) const {
  std::string utf8;
  // A name that does not convert is refused elsewhere; its bytes still give
  // it a key of its own, of odd length, so never equal to a converted one.
  if (!Convert(fromAnsi_, ansi, &utf8)) return RecordNameKey(ansi) + '\x01';
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
