// A minimal PE32 image with one resource, laid out byte by byte, for tests of the resource reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kesmar::testing {

// Offsets of the fields that tests damage.
struct PeLayout {
  static constexpr uint32_t kPeOffset = 0x40;             // "PE\0\0"
  static constexpr uint32_t kOptional = kPeOffset + 24;   // optional header
  static constexpr uint32_t kDirectoryCount = kOptional + 92;
  static constexpr uint32_t kResourceDirectory = kOptional + 96 + 2 * 8;
  static constexpr uint32_t kSection = kOptional + 224;   // the one section header
  static constexpr uint32_t kSectionFile = 0x200;         // its data in the file
  static constexpr uint32_t kSectionRva = 0x1000;
  // Inside the section: root, type, id and language directories, data entry, type name, data.
  static constexpr uint32_t kTypeDirectory = 24;
  static constexpr uint32_t kIdDirectory = 48;
  static constexpr uint32_t kDataEntry = 72;
  static constexpr uint32_t kTypeName = 88;
  static constexpr uint32_t kData = 96;  // with a type name of up to three letters
};

// An image whose only resource is of the named type `typeName` (ASCII) with
// id `id` and language 1033, holding `data`; the data ends the file.
std::string PeImage(const std::string& data, const std::string& typeName = "RAW", uint32_t id = 130);

// A stand-in launcher stub: .text at 0x1000 (file 0x400), .rsrc at 0x2000
// (file 0x600) with a version block and icon groups 107 and 108, .reloc
// behind it; varied as `StubShape` says.
struct StubShape {
  uint32_t subsystem = 2;
  bool iconGroups = true;
  std::string oldPayload;   // a RAW 130 the stub already holds
  std::string certificate;  // appended, with directory 4 pointing at it
  bool sectionAfterRelocs = false;
};
struct StubLayout {
  static constexpr uint32_t kOptional = 0x40 + 24;
  static constexpr uint32_t kSections = kOptional + 224;
};
std::vector<uint8_t> LauncherStubImage(const StubShape& shape = StubShape());

// A program's PE headers and nothing else: what kesmar-pack looks at in a
// setup program. 0x14C is x86, 0x8664 x64; 0x2000 among the flags makes a DLL.
std::string ProgramImage(uint32_t machine = 0x14C, uint32_t flags = 0x102);

void PutLe16(std::string* bytes, size_t offset, uint32_t value);
void PutLe32(std::string* bytes, size_t offset, uint32_t value);

}  // namespace kesmar::testing
