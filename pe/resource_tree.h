// A PE resource section as a list of resources, and back: read with every offset checked, laid out anew.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pe/pe_headers.h"

namespace kesmar {

// A type or name key of the resource directory: an id, or a name in UTF-16.
struct ResourceKey {
  bool named = false;
  uint32_t id = 0;
  std::u16string name;

  static ResourceKey Id(uint32_t id) { return {false, id, {}}; }
  static ResourceKey Name(const std::u16string& name) { return {true, 0, name}; }
  // As Windows matches keys: ids exactly, names without regard to ASCII letter case.
  bool Matches(const ResourceKey& other) const;
};

// The resource directory of an image as an area of its file: offsets are
// relative to the directory's start, and every read stays inside the file
// data of its section. Each read is false when it would leave that area.
class ResourceArea {
 public:
  // The area of `headers`' resource directory, whose RVA must not be 0.
  // False when no section holds it in its file data.
  static bool Locate(const PeBytes& file, const PeHeaders& headers, ResourceArea* area);

  // The number of entries, named and numbered, of the directory at `directory`.
  bool EntryCount(uint32_t directory, uint32_t* count) const;
  // Entry `index` of the directory at `directory`: its name field (a string
  // offset with the high bit set, or an id) and its target field (a
  // subdirectory offset with the high bit set, or a data entry offset).
  bool Entry(uint32_t directory, uint32_t index, uint32_t* nameField, uint32_t* target) const;
  // The key that a name field stands for, its string read for a name. False
  // when the string lies outside the area or has more than `longest` units.
  bool Key(uint32_t nameField, ResourceKey* key, uint32_t longest = UINT32_MAX) const;
  // The data entry at `offset`: the data's RVA, size and code page.
  bool DataEntry(uint32_t offset, uint32_t* rva, uint32_t* size, uint32_t* codePage) const;

 private:
  bool In(uint64_t offset, uint64_t length) const { return offset <= room_ && length <= room_ - offset; }

  const PeBytes* file_ = nullptr;
  uint64_t start_ = 0;
  uint64_t room_ = 0;
};

// The high bit of a name field (a name) or a target field (a subdirectory).
constexpr uint32_t kResourceHighBit = 0x80000000u;

struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint32_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

// Every resource of the image, in directory order. False, with `problem`,
// when the tree does not have exactly three levels (type, name, language),
// when any directory, entry, string or data lies outside the image, or when
// it holds more than 4,096 entries in all.
bool ReadResources(const PeBytes& file, const PeHeaders& headers, std::vector<Resource>* resources,
                   std::string* problem);

// The resource section for `resources`, to be placed at `sectionRva`:
// directories with named entries first, sorted, then ids ascending;
// directory strings; data entries; the data, each at an 8-byte boundary.
// Time stamps and versions of the directories are 0.
std::vector<uint8_t> LayOutResources(const std::vector<Resource>& resources, uint32_t sectionRva);

}  // namespace kesmar
