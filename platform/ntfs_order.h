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

// A UTF-16 code unit as NTFS upper-cases names to compare them: Unicode's
// simple upper case of the character, for the characters of one unit;
// surrogates stay as they are.
char16_t NtfsUpcase(char16_t unit);

// NTFS order: ordinal comparison of the upper-cased UTF-16 code units of
// two names.
bool NtfsNameLess(const std::string& a, const std::string& b);

}  // namespace kesmar
