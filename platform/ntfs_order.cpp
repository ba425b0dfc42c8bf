// NtfsNameLess.
#include "platform/ntfs_order.h"

#include <algorithm>

namespace kesmar {

bool NtfsNameLess(const std::string& a, const std::string& b) {
  auto upper = [](char c) -> unsigned char {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? u - ('a' - 'A') : u;
  };
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [&](char x, char y) { return upper(x) < upper(y); });
}

}  // namespace kesmar
