// PeImage: headers, one ".rsrc" section, a three-level resource tree.
#include "tests/support/pe_image.h"

namespace kesmar::testing {

void PutLe16(std::string* bytes, size_t offset, uint32_t value) {
  (*bytes)[offset] = char(value);
  (*bytes)[offset + 1] = char(value >> 8);
}

void PutLe32(std::string* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = char(value >> (8 * i));
}

std::string PeImage(const std::string& data, const std::string& typeName, uint32_t id) {
  using L = PeLayout;
  const uint32_t nameBytes = 2 + 2 * uint32_t(typeName.size());
  const uint32_t dataAt = L::kTypeName + ((nameBytes + 7) & ~7u);
  const uint32_t sectionSize = dataAt + uint32_t(data.size());
  std::string image(L::kSectionFile + sectionSize, '\0');

  image[0] = 'M';
  image[1] = 'Z';
  PutLe32(&image, 0x3C, L::kPeOffset);
  image.replace(L::kPeOffset, 4, std::string("PE\0\0", 4));
  PutLe16(&image, L::kPeOffset + 4, 0x14C);        // i386
  PutLe16(&image, L::kPeOffset + 6, 1);            // one section
  PutLe16(&image, L::kPeOffset + 20, 224);         // optional header size
  PutLe16(&image, L::kPeOffset + 22, 0x102);       // executable, 32-bit
  PutLe16(&image, L::kOptional, 0x10B);            // PE32
  PutLe32(&image, L::kDirectoryCount, 16);
  PutLe32(&image, L::kResourceDirectory, L::kSectionRva);
  PutLe32(&image, L::kResourceDirectory + 4, sectionSize);

  image.replace(L::kSection, 5, ".rsrc");
  PutLe32(&image, L::kSection + 8, sectionSize);   // virtual size
  PutLe32(&image, L::kSection + 12, L::kSectionRva);
  PutLe32(&image, L::kSection + 16, sectionSize);  // raw size
  PutLe32(&image, L::kSection + 20, L::kSectionFile);

  const size_t s = L::kSectionFile;
  // Root: one named entry, the type.
  PutLe16(&image, s + 12, 1);
  PutLe32(&image, s + 16, 0x80000000u | L::kTypeName);
  PutLe32(&image, s + 20, 0x80000000u | L::kTypeDirectory);
  // Type: one id entry.
  PutLe16(&image, s + L::kTypeDirectory + 14, 1);
  PutLe32(&image, s + L::kTypeDirectory + 16, id);
  PutLe32(&image, s + L::kTypeDirectory + 20, 0x80000000u | L::kIdDirectory);
  // Id: one language, pointing at the data entry.
  PutLe16(&image, s + L::kIdDirectory + 14, 1);
  PutLe32(&image, s + L::kIdDirectory + 16, 1033);
  PutLe32(&image, s + L::kIdDirectory + 20, L::kDataEntry);
  // Data entry: RVA and size.
  PutLe32(&image, s + L::kDataEntry, L::kSectionRva + dataAt);
  PutLe32(&image, s + L::kDataEntry + 4, uint32_t(data.size()));
  // The type's name as a counted UTF-16 string.
  PutLe16(&image, s + L::kTypeName, uint32_t(typeName.size()));
  for (size_t i = 0; i < typeName.size(); ++i) {
    PutLe16(&image, s + L::kTypeName + 2 + 2 * i, uint8_t(typeName[i]));
  }
  image.replace(s + dataAt, data.size(), data);
  return image;
}

}  // namespace kesmar::testing
