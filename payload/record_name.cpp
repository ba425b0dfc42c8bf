// IsValidRecordName and the reasons behind its refusals.
#include "payload/record_name.h"

#include <algorithm>
#include <cstring>

#include "payload/payload_format.h"

namespace kesmar {
namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

bool EqualsIgnoringAsciiCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != b[i]) return false;
  }
  return true;
}

bool IsReservedDeviceName(const std::string& name) {
  // Windows maps these names to devices whatever follows the first dot.
  const std::string stem = name.substr(0, name.find('.'));
  static const char* const kFixed[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* reserved : kFixed) {
    if (EqualsIgnoringAsciiCase(stem, reserved)) return true;
  }
  if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
    const std::string prefix = stem.substr(0, 3);
    if (EqualsIgnoringAsciiCase(prefix, "COM") || EqualsIgnoringAsciiCase(prefix, "LPT")) return true;
  }
  return false;
}

}  // namespace

const char* RecordNameProblem(const std::string& name, const LeadBytes& leadBytes) {
  if (name.empty()) return "empty name";
  if (name.size() > PayloadRecord::kMaxNameLength) return "name longer than 254 bytes";
  bool endsInTwoByteCharacter = false;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    endsInTwoByteCharacter = leadBytes.Has(c);
    if (endsInTwoByteCharacter) {
      // Windows reads this byte and the next as one character.
      if (++i == name.size()) return "name ends inside a two-byte character";
      if (static_cast<unsigned char>(name[i]) < 32) return "control character in name";
      continue;
    }
    if (c < 32) return "control character in name";
    if (c == '\\' || c == '/') return "path separator in name";
    if (std::strchr(":*?\"<>|", c) != nullptr) return "character not allowed in a Windows file name";
  }
  if (name == "." || name == "..") return "not a file name";
  const char last = name.back();
  if (!endsInTwoByteCharacter && (last == ' ' || last == '.')) return "name ends in a blank or a dot";
  if (IsReservedDeviceName(name)) return "reserved device name";
  return nullptr;
}

bool IsValidRecordName(const std::string& name, const LeadBytes& leadBytes) {
  return RecordNameProblem(name, leadBytes) == nullptr;
}

std::string CutRecordName(const std::string& name, const LeadBytes& leadBytes) {
  size_t end = 0;
  while (end < name.size()) {
    const size_t next = end + (leadBytes.Has(static_cast<unsigned char>(name[end])) ? 2 : 1);
    if (next > PayloadRecord::kMaxNameLength) break;
    end = next;
  }
  return name.substr(0, std::min(end, name.size()));
}

std::string RecordNameKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = UpperAscii(c);
  return key;
}

}  // namespace kesmar
