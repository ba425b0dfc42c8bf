// The rule a record name must meet: a name Windows can create as a plain file inside one folder.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>

namespace kesmar {

// The lead bytes of the ANSI code page a payload's names are in: the bytes
// that begin a two-byte character in a double-byte code page such as 932,
// whose second byte may be any of 0x40 to 0xFC, "\" (0x5C) among them. None
// in a single-byte code page such as 1252.
class LeadBytes {
 public:
  void Add(uint8_t byte) { set_.set(byte); }
  bool Has(uint8_t byte) const { return set_.test(byte); }

 private:
  std::bitset<256> set_;
};

// True when `name` may be a record name: 1 to 254 bytes; no byte below 32 and
// none of \ / : * ? " < > |; not "." or ".."; not ending in a blank or a dot;
// not a reserved device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9) in any
// letter case, alone or followed by a dot and more. Both the builder and the
// extraction apply it, so that a payload made anywhere extracts on Windows and
// can never write outside its folder. The second byte of a two-byte
// character is part of that character, not a byte of its own; a name may
// not end with a lead byte.
bool IsValidRecordName(const std::string& name, const LeadBytes& leadBytes = LeadBytes());

// Why `name` is no record name, as a short phrase ("reserved device name"),
// or null when it is one. The same rule as IsValidRecordName, for tools that
// tell a person what is wrong.
const char* RecordNameProblem(const std::string& name, const LeadBytes& leadBytes = LeadBytes());

// `name` cut to the 254 bytes a record keeps, or one byte less where the
// 254th would be the first half of a two-byte character.
std::string CutRecordName(const std::string& name, const LeadBytes& leadBytes = LeadBytes());

// The name as one folder on Windows tells names apart, for names in ASCII:
// ASCII letters in upper case. Two records whose keys are equal would become
// one file there, the later replacing the earlier.
std::string RecordNameKey(const std::string& name);

}  // namespace kesmar
