// The order in which Windows lists the entries of an NTFS folder, for names given in UTF-8 (host only).
#pragma once

#include <string>

namespace kesmar {

// The length of the valid UTF-8 sequence that starts at text[i], or 0 when
// none does: a stray byte, an overlong form, a surrogate or a value past
// U+10FFFF.
size_t Utf8SequenceLength(const std::string& text, size_t i);

// `text` as UTF-16 code units. False when it is not valid UTF-8; each byte
// that is not part of a valid sequence then stands as the unit 0xDC00 + byte,
// so that every byte string still has one fixed place in the order.
bool Utf8ToUtf16(const std::string& text, std::u16string* units);

// `units` as UTF-8. False when one is a lone surrogate, which has no UTF-8
// form: it stands in `utf8` as the byte 0xFF, with which no UTF-8 sequence
// begins, so that the name is still refused as not valid UTF-8 later.
bool Utf16ToUtf8(const std::u16string& units, std::string* utf8);

// A UTF-16 code unit as NTFS upper-cases names to compare them: Unicode's
// simple upper case of the character, for the characters of one unit;
// surrogates stay as they are.
char16_t NtfsUpcase(char16_t unit);

// NTFS order: ordinal comparison of the upper-cased UTF-16 code units of
// two names.
bool NtfsNameLess(const std::string& a, const std::string& b);

// The order a listing is given in: NTFS order, and names equal but for
// letter case (which cannot share a folder on Windows) in byte order, so
// that the order is total.
bool ListingLess(const std::string& a, const std::string& b);

}  // namespace kesmar
