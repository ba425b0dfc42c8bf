// PeImage: headers, one ".rsrc" section, a three-level resource tree; LauncherStubImage: a stand-in stub.
#include "tests/support/pe_image.h"

#include <cstring>

#include "pe/resource_tree.h"

namespace kesmar::testing {
namespace {

using Image = std::vector<uint8_t>;

void Put(Image* image, size_t at, uint32_t value, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) (*image)[at + i] = uint8_t(value >> (8 * i));
}

Resource Make(ResourceKey type, uint32_t id, const std::string& data) {
  return Resource{type, ResourceKey::Id(id), 0x409, 0, Image(data.begin(), data.end())};
}

}  // namespace

Image LauncherStubImage(const StubShape& shape) {
  constexpr uint32_t kOptional = StubLayout::kOptional, kSections = StubLayout::kSections;
  std::vector<Resource> resources = {Make(ResourceKey::Id(16), 1, "version block")};
  if (shape.iconGroups) {
    resources.push_back(Make(ResourceKey::Id(14), 107, "group 107"));
    resources.push_back(Make(ResourceKey::Id(14), 108, "group 108"));
  }
  if (!shape.oldPayload.empty()) resources.push_back(Make(ResourceKey::Name(u"RAW"), 130, shape.oldPayload));
  const Image rsrc = LayOutResources(resources, 0x2000);
  const uint32_t rsrcRaw = (uint32_t(rsrc.size()) + 0x1FF) & ~0x1FFu;
  const uint32_t relocFile = 0x600 + rsrcRaw, relocRva = 0x2000 + ((uint32_t(rsrc.size()) + 0xFFF) & ~0xFFFu);
  const int sections = shape.sectionAfterRelocs ? 4 : 3;
  Image image(relocFile + 0x200 * (sections - 2), 0);
  image[0] = 'M', image[1] = 'Z';
  Put(&image, 0x3C, 0x40);
  std::memcpy(&image[0x40], "PE\0\0", 4);
  Put(&image, 0x44, 0x14C, 2);
  Put(&image, 0x46, uint32_t(sections), 2);
  Put(&image, 0x54, 224, 2);
  Put(&image, 0x56, 0x102, 2);
  Put(&image, kOptional, 0x10B, 2);
  Put(&image, kOptional + 8, 0x400 + rsrcRaw);  // SizeOfInitializedData
  Put(&image, kOptional + 32, 0x1000);          // SectionAlignment
  Put(&image, kOptional + 36, 0x200);           // FileAlignment
  Put(&image, kOptional + 60, 0x400);           // SizeOfHeaders
  Put(&image, kOptional + 68, shape.subsystem, 2);
  Put(&image, kOptional + 92, 16);
  Put(&image, kOptional + 96 + 2 * 8, 0x2000);
  Put(&image, kOptional + 96 + 2 * 8 + 4, uint32_t(rsrc.size()));
  Put(&image, kOptional + 96 + 5 * 8, relocRva);
  Put(&image, kOptional + 96 + 5 * 8 + 4, 12);
  const struct { const char* name; uint32_t size, rva, raw, file, flags; } table[] = {
      {".text", 0x10, 0x1000, 0x200, 0x400, 0x60000020},
      {".rsrc", uint32_t(rsrc.size()), 0x2000, rsrcRaw, 0x600, 0x40000040},
      {".reloc", 12, relocRva, 0x200, relocFile, 0x42000040},
      {".extra", 4, relocRva + 0x1000, 0x200, relocFile + 0x200, 0x40000040},
  };
  for (int i = 0; i < sections; ++i) {
    const size_t at = kSections + 40 * size_t(i);
    std::memcpy(&image[at], table[i].name, std::strlen(table[i].name));
    Put(&image, at + 8, table[i].size);
    Put(&image, at + 12, table[i].rva);
    Put(&image, at + 16, table[i].raw);
    Put(&image, at + 20, table[i].file);
    Put(&image, at + 36, table[i].flags);
  }
  std::memset(&image[0x400], 0xCC, 0x10);
  std::copy(rsrc.begin(), rsrc.end(), image.begin() + 0x600);
  const uint8_t relocs[12] = {0x00, 0x10, 0, 0, 12, 0, 0, 0, 0x04, 0x30, 0x08, 0x30};
  std::copy(relocs, relocs + 12, image.begin() + relocFile);
  Put(&image, kOptional + 56, relocRva + 0x1000 * uint32_t(sections - 2));  // SizeOfImage
  if (!shape.certificate.empty()) {
    Put(&image, kOptional + 96 + 4 * 8, uint32_t(image.size()));
    Put(&image, kOptional + 96 + 4 * 8 + 4, uint32_t(shape.certificate.size()));
    image.insert(image.end(), shape.certificate.begin(), shape.certificate.end());
  }
  return image;
}


void PutLe16(std::string* bytes, size_t offset, uint32_t value) {
  (*bytes)[offset] = char(value);
  (*bytes)[offset + 1] = char(value >> 8);
}

void PutLe32(std::string* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = char(value >> (8 * i));
}

std::string ProgramImage(uint32_t machine, uint32_t flags) {
  using L = PeLayout;
  std::string image(L::kOptional + 224, '\0');
  image.replace(0, 2, "MZ");
  PutLe32(&image, 0x3C, L::kPeOffset);
  image.replace(L::kPeOffset, 4, std::string("PE\0\0", 4));
  PutLe16(&image, L::kPeOffset + 4, machine);
  PutLe16(&image, L::kPeOffset + 20, 224);  // optional header size
  PutLe16(&image, L::kPeOffset + 22, flags);
  PutLe16(&image, L::kOptional, machine == 0x8664 ? 0x20B : 0x10B);
  return image;
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
