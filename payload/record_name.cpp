// IsValidRecordName.
#include "payload/record_name.h"

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

bool IsValidRecordName(const std::string& name) {
  if (name.empty() || name.size() > PayloadRecord::kMaxNameLength) return false;
  for (unsigned char c : name) {
    if (c < 32 || std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
  }
  const char last = name.back();
  // "." and ".." end in a dot, so this also refuses them.
  if (last == ' ' || last == '.') return false;
  return !IsReservedDeviceName(name);
}

}  // namespace kesmar
