// A bounds-checked reader of the PE headers, section table and resource directory.
#include "pe/pe_resource.h"

#include "pe/pe_headers.h"

namespace kesmar {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;

bool Fail(std::string* problem, const char* why) {
  *problem = why;
  return false;
}

char UpperAscii(uint32_t c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : char(c); }

// The resource directory, as an area of the file; its offsets are relative
// to its start and must stay inside its section's file data.
class ResourceTree {
 public:
  ResourceTree(const PeBytes& file, uint64_t start, uint64_t room) : file_(file), start_(start), room_(room) {}

  // Finds the entry that matches, by name or by id, in the directory at
  // `directory`; its OffsetToData field goes to *target.
  bool Find(uint32_t directory, const std::string* name, uint32_t id, uint32_t* target) const {
    uint32_t named = 0, numbered = 0;
    if (!In(directory, 16) || !file_.U16(start_ + directory + 12, &named) ||
        !file_.U16(start_ + directory + 14, &numbered)) {
      return false;
    }
    const uint64_t first = uint64_t(directory) + 16;
    for (uint32_t i = 0; i < named + numbered; ++i) {
      const uint64_t entry = first + uint64_t(i) * 8;
      uint32_t nameField = 0, offsetField = 0;
      if (!In(entry, 8) || !file_.U32(start_ + entry, &nameField) ||
          !file_.U32(start_ + entry + 4, &offsetField)) {
        return false;
      }
      const bool byName = (nameField & kHighBit) != 0;
      if (name != nullptr ? (byName && NameEquals(nameField & ~kHighBit, *name))
                          : (!byName && nameField == id)) {
        *target = offsetField;
        return true;
      }
    }
    return false;
  }

  // The first entry of the directory at `directory`, whatever its key.
  bool First(uint32_t directory, uint32_t* target) const {
    uint32_t named = 0, numbered = 0;
    if (!In(directory, 16) || !file_.U16(start_ + directory + 12, &named) ||
        !file_.U16(start_ + directory + 14, &numbered) || named + numbered == 0 ||
        !In(uint64_t(directory) + 16, 8)) {
      return false;
    }
    return file_.U32(start_ + directory + 16 + 4, target);
  }

  bool In(uint64_t offset, uint64_t length) const { return offset <= room_ && length <= room_ - offset; }
  uint64_t start() const { return start_; }

 private:
  // A directory string: a 16-bit length, then that many UTF-16 units.
  bool NameEquals(uint32_t offset, const std::string& wanted) const {
    uint32_t length = 0;
    if (!In(offset, 2) || !file_.U16(start_ + offset, &length) || length != wanted.size()) return false;
    if (!In(uint64_t(offset) + 2, uint64_t(length) * 2)) return false;
    for (uint32_t i = 0; i < length; ++i) {
      uint32_t unit = 0;
      file_.U16(start_ + offset + 2 + uint64_t(i) * 2, &unit);
      if (unit > 0x7F || UpperAscii(unit) != UpperAscii(uint8_t(wanted[i]))) return false;
    }
    return true;
  }

  const PeBytes& file_;
  uint64_t start_;
  uint64_t room_;
};

}  // namespace

bool FindPeResource(const uint8_t* image, uint64_t size, const std::string& typeName, uint32_t id,
                    PeResourceData* found, std::string* problem) {
  const PeBytes file(image, size);
  PeHeaders headers;
  if (!ReadPeHeaders(file, &headers, problem)) return false;
  const uint32_t resourceRva = headers.Directory(kPeResourceDirectory).rva;
  if (resourceRva == 0) return Fail(problem, "no resources");

  uint64_t treeStart = 0, treeRoom = 0;
  if (!PeRvaToFile(headers, resourceRva, &treeStart, &treeRoom)) {
    return Fail(problem, "resource directory outside the sections");
  }
  const ResourceTree tree(file, treeStart, treeRoom);

  // Three levels: type, then name or id, then language.
  uint32_t typeTarget = 0, idTarget = 0, languageTarget = 0;
  if (!tree.Find(0, &typeName, 0, &typeTarget) || !(typeTarget & kHighBit)) {
    *problem = "no resource of type \"" + typeName + "\"";
    return false;
  }
  if (!tree.Find(typeTarget & ~kHighBit, nullptr, id, &idTarget) || !(idTarget & kHighBit)) {
    *problem = "no resource " + typeName + " " + std::to_string(id);
    return false;
  }
  if (!tree.First(idTarget & ~kHighBit, &languageTarget) || (languageTarget & kHighBit)) {
    return Fail(problem, "resource has no data entry");
  }

  // The data entry: the data's RVA and size.
  uint32_t dataRva = 0, dataSize = 0;
  if (!tree.In(languageTarget, 16) || !file.U32(treeStart + languageTarget, &dataRva) ||
      !file.U32(treeStart + languageTarget + 4, &dataSize)) {
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
