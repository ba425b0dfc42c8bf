// Finds one resource in a PE image: the headers and resource directory read with every offset checked.
#include "pe/pe_resource.h"

#include "pe/pe_headers.h"
#include "pe/resource_tree.h"

namespace kesmar {
namespace {

bool Fail(std::string* problem, const char* why) {
  *problem = why;
  return false;
}

// Finds the entry of the directory at `directory` whose key matches `wanted`;
// its target field goes to *target. A name that cannot be read matches
// nothing, and none longer than the wanted one is read.
bool FindEntry(const ResourceArea& area, uint32_t directory, const ResourceKey& wanted, uint32_t* target) {
  uint32_t count = 0;
  if (!area.EntryCount(directory, &count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t nameField = 0;
    ResourceKey key;
    if (!area.Entry(directory, i, &nameField, target)) return false;
    if (area.Key(nameField, &key, uint32_t(wanted.name.size())) && key.Matches(wanted)) return true;
  }
  return false;
}

}  // namespace

bool FindPeResource(const uint8_t* image, uint64_t size, const std::string& typeName, uint32_t id,
                    PeResourceData* found, std::string* problem) {
  const PeBytes file(image, size);
  PeHeaders headers;
  if (!ReadPeHeaders(file, &headers, problem)) return false;
  const uint32_t resourceRva = headers.Directory(kPeResourceDirectory).rva;
  if (resourceRva == 0) return Fail(problem, "no resources");

  ResourceArea area;
  if (!ResourceArea::Locate(file, headers, &area)) return Fail(problem, "resource directory outside the sections");

  // Three levels: type, then name or id, then language.
  const ResourceKey type = ResourceKey::Name(std::u16string(typeName.begin(), typeName.end()));
  uint32_t typeTarget = 0, idTarget = 0, languageCount = 0, languageField = 0, languageTarget = 0;
  if (!FindEntry(area, 0, type, &typeTarget) || !(typeTarget & kResourceHighBit)) {
    *problem = "no resource of type \"" + typeName + "\"";
    return false;
  }
  if (!FindEntry(area, typeTarget & ~kResourceHighBit, ResourceKey::Id(id), &idTarget) ||
      !(idTarget & kResourceHighBit)) {
    *problem = "no resource " + typeName + " " + std::to_string(id);
    return false;
  }
  if (!area.EntryCount(idTarget & ~kResourceHighBit, &languageCount) || languageCount == 0 ||
      !area.Entry(idTarget & ~kResourceHighBit, 0, &languageField, &languageTarget) ||
      (languageTarget & kResourceHighBit)) {
    return Fail(problem, "resource has no data entry");
  }

  // The data entry: the data's RVA and size.
  uint32_t dataRva = 0, dataSize = 0, codePage = 0;
  if (!area.DataEntry(languageTarget, &dataRva, &dataSize, &codePage)) {
    return Fail(problem, "resource data entry outside the resource directory");
  }
  uint64_t dataOffset = 0, dataRoom = 0;
  if (!PeRvaToFile(headers, dataRva, &dataOffset, &dataRoom) || dataSize > dataRoom) {
    return Fail(problem, "resource data outside the file");
  }
  found->fileOffset = dataOffset;
  found->size = dataSize;
  return true;
}

}  // namespace kesmar
