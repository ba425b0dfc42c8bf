// A minimal PE32 image with one resource, laid out byte by byte, for tests of the resource reader.
#pragma once

#include <cstdint>
#include <string>

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

void PutLe16(std::string* bytes, size_t offset, uint32_t value);
void PutLe32(std::string* bytes, size_t offset, uint32_t value);

}  // namespace kesmar::testing
