// NtfsNameLess, and the UTF-8 and case rules under it.
#include "platform/ntfs_order.h"

#include <algorithm>
#include <iterator>

#include "platform/ntfs_upcase_table.h"

namespace kesmar {
namespace {

// The length of the UTF-8 sequence that starts at text[i] and its code
// point, or 0 when no valid sequence starts there (overlong forms,
// surrogates and values past U+10FFFF are not valid).
size_t DecodeOne(const std::string& text, size_t i, char32_t* point) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) {
    *point = lead;
    return 1;
  }
  size_t length;
  char32_t value, minimum;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *point = value;
  return length;
}

}  // namespace

size_t Utf8SequenceLength(const std::string& text, size_t i) {
  char32_t point;
  return i < text.size() ? DecodeOne(text, i, &point) : 0;
}

bool Utf8ToUtf16(const std::string& text, std::u16string* units) {
  units->clear();
  bool valid = true;
  for (size_t i = 0; i < text.size();) {
    char32_t point = 0;
    const size_t length = DecodeOne(text, i, &point);
    if (length == 0) {
      units->push_back(char16_t(0xDC00 + static_cast<unsigned char>(text[i])));
      valid = false;
      ++i;
      continue;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      units->push_back(char16_t(0xD800 + (point >> 10)));
      units->push_back(char16_t(0xDC00 + (point & 0x3FF)));
    } else {
      units->push_back(char16_t(point));
    }
    i += length;
  }
  return valid;
}

bool Utf16ToUtf8(const std::u16string& units, std::string* utf8) {
  bool valid = true;
  utf8->clear();
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t point = units[i];
    if (point >= 0xD800 && point < 0xDC00 && i + 1 < units.size() && (units[i + 1] & 0xFC00) == 0xDC00) {
      point = 0x10000 + ((point - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (point >= 0xD800 && point < 0xE000) {
      *utf8 += char(0xFF);
      valid = false;
      continue;
    }
    if (point < 0x80) {
      *utf8 += char(point);
    } else if (point < 0x800) {
      *utf8 += char(0xC0 | (point >> 6));
      *utf8 += char(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      *utf8 += char(0xE0 | (point >> 12));
      *utf8 += char(0x80 | ((point >> 6) & 0x3F));
      *utf8 += char(0x80 | (point & 0x3F));
    } else {
      *utf8 += char(0xF0 | (point >> 18));
      *utf8 += char(0x80 | ((point >> 12) & 0x3F));
      *utf8 += char(0x80 | ((point >> 6) & 0x3F));
      *utf8 += char(0x80 | (point & 0x3F));
    }
  }
  return valid;
}

char16_t NtfsUpcase(char16_t unit) {
  // The run with the first `last` at or past the unit holds it, if any does.
  const UpcaseRun* run = std::lower_bound(std::begin(kUpcaseRuns), std::end(kUpcaseRuns), unit,
                                          [](const UpcaseRun& r, char16_t u) { return r.last < u; });
  if (run == std::end(kUpcaseRuns) || unit < run->first || (unit - run->first) % run->step != 0) return unit;
  return char16_t(int32_t(unit) + run->delta);
}

bool NtfsNameLess(const std::string& a, const std::string& b) {
  std::u16string ua, ub;
  Utf8ToUtf16(a, &ua);
  Utf8ToUtf16(b, &ub);
  return std::lexicographical_compare(ua.begin(), ua.end(), ub.begin(), ub.end(),
                                      [](char16_t x, char16_t y) { return NtfsUpcase(x) < NtfsUpcase(y); });
}

bool ListingLess(const std::string& a, const std::string& b) {
  if (NtfsNameLess(a, b)) return true;
  if (NtfsNameLess(b, a)) return false;
  return a < b;
}

}  // namespace kesmar
