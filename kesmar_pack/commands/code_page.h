// A Windows ANSI code page on the host: names into a payload and back again.
#pragma once

#include <memory>
#include <string>

#include "builder/build_payload.h"
#include "payload/record_name.h"
#include "platform/ansi_code_page.h"

namespace kesmar {

// Payloads made here store their names in this code page unless told otherwise.
constexpr int kDefaultCodePage = 1252;

// The tool's names are UTF-8 (as Linux gives them, and as Windows' UTF-16
// names are read); a payload's names are bytes in the ANSI code page of the
// Windows machines it is made for, which the launcher uses unconverted. This
// is the one place where the two meet.
class CodePage final : public RecordNameEncoding {
 public:
  // The Windows ANSI code pages: 874, 932, 936, 949, 950 and 1250 to 1258.
  static bool IsAnsiCodePage(int number);
  // Null, with `problem` set, when `number` is no ANSI code page or this
  // system cannot convert it.
  static std::unique_ptr<CodePage> Open(int number, std::string* problem);
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;

  int number() const { return number_; }

  // UTF-8 `utf8` as bytes of this code page. False, with `problem` ("not
  // valid UTF-8", "not representable in code page 1252"), when there are none.
  bool Encode(const std::string& utf8, std::string* ansi, std::string* problem) const override;
  // Bytes of this code page in UTF-8. False, with `problem`, when a byte or
  // byte pair is no character of it.
  bool Decode(const std::string& ansi, std::string* utf8, std::string* problem) const;

  const LeadBytes& leadBytes() const override { return leadBytes_; }
  // The name's characters upper-cased as NTFS compares names, so that "é.txt"
  // and "É.txt" have one key, as they are one file on Windows.
  std::string FoldKey(const std::string& ansi) const override;

 private:
  CodePage(int number, std::unique_ptr<AnsiCodePage> converter);

  int number_;
  std::unique_ptr<AnsiCodePage> converter_;
  LeadBytes leadBytes_;
};

}  // namespace kesmar
