// A Windows ANSI code page as the host converts it: iconv on Linux, the system's own tables on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kesmar {

class AnsiCodePage {
 public:
  virtual ~AnsiCodePage() = default;
  // Null when this system cannot convert code page `number`.
  static std::unique_ptr<AnsiCodePage> Open(int number);

  // UTF-8 `utf8` in the code page. False when a character has no form there
  // that this conversion gives without approximating it.
  virtual bool FromUtf8(const std::string& utf8, std::string* ansi) const = 0;
  // Bytes of the code page in UTF-8. False when a byte or byte pair is no
  // character of it.
  virtual bool ToUtf8(const std::string& ansi, std::string* utf8) const = 0;
  // True when `byte` begins a two-byte character.
  virtual bool IsLeadByte(uint8_t byte) const = 0;
};

}  // namespace kesmar
