// A bounds-checked reader of the PE headers, section table and resource directory.
#include "tools/pe_resource.h"

#include <vector>

namespace kesmar {
namespace {

// A window onto the image that refuses every read it cannot satisfy.
class Reader {
 public:
  Reader(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  bool U16(uint64_t offset, uint32_t* value) const {
    if (!Has(offset, 2)) return false;
    *value = uint32_t(data_[offset]) | uint32_t(data_[offset + 1]) << 8;
    return true;
  }
  bool U32(uint64_t offset, uint32_t* value) const {
    if (!Has(offset, 4)) return false;
    const uint8_t* p = data_ + offset;
    *value = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return true;
  }

 private:
  const uint8_t* data_;
  uint64_t size_;
};

struct Section {
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawSize;
  uint32_t rawOffset;
};

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kResourceDirectoryIndex = 2;

// Maps an RVA to a file offset, with the count of file-backed bytes of its
// section from there on. False when no section holds it in its file data.
bool RvaToFile(const std::vector<Section>& sections, uint32_t rva, uint64_t* offset, uint64_t* room) {
  for (const Section& s : sections) {
    const uint32_t span = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
    if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
    const uint32_t into = rva - s.virtualAddress;
    if (into >= s.rawSize) return false;  // in the section, but not backed by the file
    *offset = uint64_t(s.rawOffset) + into;
    *room = uint64_t(s.rawSize) - into;
    return true;
  }
  return false;
}

bool Fail(std::string* problem, const char* why) {
  *problem = why;
  return false;
}

char UpperAscii(uint32_t c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : char(c); }

// The resource directory, as an area of the file; its offsets are relative
// to its start and must stay inside its section's file data.
class ResourceTree {
 public:
  ResourceTree(const Reader& file, uint64_t start, uint64_t room) : file_(file), start_(start), room_(room) {}

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

  const Reader& file_;
  uint64_t start_;
  uint64_t room_;
};

}  // namespace

bool LooksLikePeImage(const uint8_t* image, uint64_t size) {
  const Reader file(image, size);
  uint32_t mz = 0, peOffset = 0, signature = 0;
  return file.U16(0, &mz) && mz == 0x5A4D && file.U32(0x3C, &peOffset) &&
         file.U32(peOffset, &signature) && signature == 0x00004550;
}

bool FindPeResource(const uint8_t* image, uint64_t size, const std::string& typeName, uint32_t id,
                    PeResourceData* found, std::string* problem) {
  const Reader file(image, size);
  if (!LooksLikePeImage(image, size)) return Fail(problem, "no PE signature");
  uint32_t peOffset = 0;
  file.U32(0x3C, &peOffset);

  // The COFF header behind the signature, then the optional header.
  const uint64_t coff = uint64_t(peOffset) + 4;
  uint32_t sectionCount = 0, optionalSize = 0, magic = 0;
  if (!file.U16(coff + 2, &sectionCount) || !file.U16(coff + 16, &optionalSize)) {
    return Fail(problem, "PE header cut short");
  }
  const uint64_t optional = coff + 20;
  if (!file.U16(optional, &magic)) return Fail(problem, "PE optional header cut short");
  uint64_t directoryCountAt = 0;
  if (magic == 0x10B) {
    directoryCountAt = 92;  // PE32
  } else if (magic == 0x20B) {
    directoryCountAt = 108;  // PE32+
  } else {
    return Fail(problem, "unknown PE optional header");
  }
  uint32_t directoryCount = 0, resourceRva = 0, resourceSize = 0;
  if (directoryCountAt + 4 > optionalSize || !file.U32(optional + directoryCountAt, &directoryCount)) {
    return Fail(problem, "PE optional header cut short");
  }
  const uint64_t resourceEntry = optional + directoryCountAt + 4 + kResourceDirectoryIndex * 8;
  if (directoryCount <= kResourceDirectoryIndex || resourceEntry + 8 > optional + optionalSize ||
      !file.U32(resourceEntry, &resourceRva) || !file.U32(resourceEntry + 4, &resourceSize) ||
      resourceRva == 0) {
    return Fail(problem, "no resources");
  }

  std::vector<Section> sections;
  const uint64_t table = optional + optionalSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint64_t at = table + uint64_t(i) * 40;
    Section s{};
    if (!file.U32(at + 8, &s.virtualSize) || !file.U32(at + 12, &s.virtualAddress) ||
        !file.U32(at + 16, &s.rawSize) || !file.U32(at + 20, &s.rawOffset)) {
      return Fail(problem, "section table cut short");
    }
    // A section's file data must lie inside the file; trust no more than that.
    if (!file.Has(s.rawOffset, s.rawSize)) return Fail(problem, "section data past the end of the file");
    sections.push_back(s);
  }

  uint64_t treeStart = 0, treeRoom = 0;
  if (!RvaToFile(sections, resourceRva, &treeStart, &treeRoom)) {
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
  if (!RvaToFile(sections, dataRva, &dataOffset, &dataRoom) || dataSize > dataRoom) {
    return Fail(problem, "resource data outside the file");
  }
  found->fileOffset = dataOffset;
  found->size = dataSize;
  return true;
}

}  // namespace kesmar
