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
