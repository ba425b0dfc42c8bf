// ReadResources and LayOutResources.
#include "pe/resource_tree.h"

#include <algorithm>

namespace kesmar {
namespace {

constexpr uint32_t kMaxEntries = 4096;

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

bool Fail(std::string* problem, const char* why) {
  *problem = why;
  return false;
}

class TreeReader {
 public:
  TreeReader(const PeBytes& file, const PeHeaders& headers, const ResourceArea& area)
      : file_(file), headers_(headers), area_(area) {}

  // Reads the directory at `offset` on `level` (0 type, 1 name, 2 language).
  bool Directory(uint32_t offset, int level, Resource* partial, std::vector<Resource>* out,
                 std::string* problem) {
    uint32_t count = 0;
    if (!area_.EntryCount(offset, &count)) return Fail(problem, "resource directory outside the resource section");
    entries_ += count;
    if (entries_ > kMaxEntries) return Fail(problem, "resource directory with too many entries");
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t nameField = 0, target = 0;
      if (!area_.Entry(offset, i, &nameField, &target)) {
        return Fail(problem, "resource directory entry outside the resource section");
      }
      if ((nameField & kResourceHighBit) && level == 2) return Fail(problem, "resource language given by name");
      ResourceKey key;
      if (!area_.Key(nameField, &key)) return Fail(problem, "resource name outside the resource section");
      if (level == 0) partial->type = key;
      if (level == 1) partial->name = key;
      if (level == 2) partial->language = key.id;
      const bool subdirectory = (target & kResourceHighBit) != 0;
      if (subdirectory != (level < 2)) return Fail(problem, "resource tree not of three levels");
      if (subdirectory) {
        if (!Directory(target & ~kResourceHighBit, level + 1, partial, out, problem)) return false;
      } else if (!Data(target, partial, out, problem)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool Data(uint32_t offset, Resource* partial, std::vector<Resource>* out, std::string* problem) const {
    uint32_t rva = 0, size = 0;
    if (!area_.DataEntry(offset, &rva, &size, &partial->codePage)) {
      return Fail(problem, "resource data entry outside the resource section");
    }
    Resource resource = *partial;
    // Empty data has nothing to read, wherever it is said to lie.
    if (size != 0) {
      uint64_t at = 0, room = 0;
      if (!PeRvaToFile(headers_, rva, &at, &room) || size > room) {
        return Fail(problem, "resource data outside the file");
      }
      resource.data.assign(file_.data() + at, file_.data() + at + size);
    }
    out->push_back(std::move(resource));
    return true;
  }

  const PeBytes& file_;
  const PeHeaders& headers_;
  const ResourceArea& area_;
  uint32_t entries_ = 0;
};

bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) return a.named;  // named entries come first
  if (!a.named) return a.id < b.id;
  return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                      [](char16_t x, char16_t y) { return UpperAscii(x) < UpperAscii(y); });
}

bool SameKey(const ResourceKey& a, const ResourceKey& b) { return !KeyLess(a, b) && !KeyLess(b, a); }

size_t Align(size_t value, size_t to) { return (value + to - 1) / to * to; }

// One directory of the tree being laid out, with its entries' keys.
struct Node {
  ResourceKey key;
  std::vector<Node> children;  // empty below the language level
  const Resource* resource = nullptr;
  size_t at = 0;      // where its directory (or, for a language, its data entry) goes
  size_t nameAt = 0;  // where its name goes, for a named key
};

void Insert(std::vector<Node>* level, const ResourceKey& key, Node** found) {
  auto it = std::find_if(level->begin(), level->end(), [&](const Node& n) { return SameKey(n.key, key); });
  if (it == level->end()) {
    level->push_back(Node{key, {}, nullptr, 0, 0});
    it = level->end() - 1;
  }
  *found = &*it;
}

void Sort(std::vector<Node>* level) {
  std::stable_sort(level->begin(), level->end(), [](const Node& a, const Node& b) { return KeyLess(a.key, b.key); });
  for (Node& n : *level) Sort(&n.children);
}

}  // namespace

bool ResourceKey::Matches(const ResourceKey& other) const { return SameKey(*this, other); }

bool ResourceArea::Locate(const PeBytes& file, const PeHeaders& headers, ResourceArea* area) {
  area->file_ = &file;
  return PeRvaToFile(headers, headers.Directory(kPeResourceDirectory).rva, &area->start_, &area->room_);
}

bool ResourceArea::EntryCount(uint32_t directory, uint32_t* count) const {
  uint32_t named = 0, numbered = 0;
  if (!In(directory, 16) || !file_->U16(start_ + directory + 12, &named) ||
      !file_->U16(start_ + directory + 14, &numbered)) {
    return false;
  }
  *count = named + numbered;
  return true;
}

bool ResourceArea::Entry(uint32_t directory, uint32_t index, uint32_t* nameField, uint32_t* target) const {
  const uint64_t entry = uint64_t(directory) + 16 + uint64_t(index) * 8;
  return In(entry, 8) && file_->U32(start_ + entry, nameField) && file_->U32(start_ + entry + 4, target);
}

bool ResourceArea::Key(uint32_t nameField, ResourceKey* key, uint32_t longest) const {
  *key = ResourceKey::Id(nameField);
  if (!(nameField & kResourceHighBit)) return true;
  // A directory string: a 16-bit length, then that many UTF-16 units.
  const uint32_t offset = nameField & ~kResourceHighBit;
  uint32_t length = 0;
  if (!In(offset, 2) || !file_->U16(start_ + offset, &length) || length > longest ||
      !In(uint64_t(offset) + 2, uint64_t(length) * 2)) {
    return false;
  }
  *key = ResourceKey::Name(u"");
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t unit = 0;
    file_->U16(start_ + offset + 2 + uint64_t(i) * 2, &unit);
    key->name += char16_t(unit);
  }
  return true;
}

bool ResourceArea::DataEntry(uint32_t offset, uint32_t* rva, uint32_t* size, uint32_t* codePage) const {
  return In(offset, 16) && file_->U32(start_ + offset, rva) && file_->U32(start_ + offset + 4, size) &&
         file_->U32(start_ + offset + 8, codePage);
}

bool ReadResources(const PeBytes& file, const PeHeaders& headers, std::vector<Resource>* resources,
                   std::string* problem) {
  resources->clear();
  const PeDirectory directory = headers.Directory(kPeResourceDirectory);
  if (directory.rva == 0) return true;
  ResourceArea area;
  if (!ResourceArea::Locate(file, headers, &area)) return Fail(problem, "resource directory outside the sections");
  TreeReader reader(file, headers, area);
  Resource partial;
  return reader.Directory(0, 0, &partial, resources, problem);
}

std::vector<uint8_t> LayOutResources(const std::vector<Resource>& resources, uint32_t sectionRva) {
  // The tree: types, names, languages. A resource repeated under the same
  // three keys is kept once, the later one winning, as Windows would find only one.
  std::vector<Node> types;
  for (const Resource& r : resources) {
    Node *type = nullptr, *name = nullptr, *language = nullptr;
    Insert(&types, r.type, &type);
    Insert(&type->children, r.name, &name);
    Insert(&name->children, ResourceKey::Id(r.language), &language);
    language->resource = &r;
  }
  Sort(&types);

  // Directories breadth-first, then strings, data entries and data.
  size_t size = 16 + 8 * types.size();
  for (Node& type : types) {
    type.at = size;
    size += 16 + 8 * type.children.size();
  }
  for (Node& type : types) {
    for (Node& name : type.children) {
      name.at = size;
      size += 16 + 8 * name.children.size();
    }
  }
  auto addString = [&](Node& node) {
    if (!node.key.named) return;
    node.nameAt = size;
    size += 2 + 2 * node.key.name.size();
  };
  for (Node& type : types) {
    addString(type);
    for (Node& name : type.children) addString(name);
  }
  size = Align(size, 4);
  for (Node& type : types) {
    for (Node& name : type.children) {
      for (Node& language : name.children) {
        language.at = size;
        size += 16;
      }
    }
  }
  std::vector<size_t> dataAt;
  for (Node& type : types) {
    for (Node& name : type.children) {
      for (Node& language : name.children) {
        size = Align(size, 8);
        dataAt.push_back(size);
        size += language.resource->data.size();
      }
    }
  }

  std::vector<uint8_t> out(size, 0);
  auto writeString = [&](const Node& node) {
    if (!node.key.named) return;
    PutU16(&out, node.nameAt, uint32_t(node.key.name.size()));
    for (size_t i = 0; i < node.key.name.size(); ++i) PutU16(&out, node.nameAt + 2 + 2 * i, node.key.name[i]);
  };
  auto writeDirectory = [&](size_t at, const std::vector<Node>& entries, bool leaves) {
    size_t named = 0;
    for (const Node& n : entries) named += n.key.named;
    PutU16(&out, at + 12, uint32_t(named));
    PutU16(&out, at + 14, uint32_t(entries.size() - named));
    for (size_t i = 0; i < entries.size(); ++i) {
      const Node& n = entries[i];
      PutU32(&out, at + 16 + 8 * i, n.key.named ? kResourceHighBit | uint32_t(n.nameAt) : n.key.id);
      PutU32(&out, at + 20 + 8 * i, leaves ? uint32_t(n.at) : kResourceHighBit | uint32_t(n.at));
    }
  };
  writeDirectory(0, types, false);
  for (const Node& type : types) {
    writeDirectory(type.at, type.children, false);
    for (const Node& name : type.children) writeDirectory(name.at, name.children, true);
  }
  for (const Node& type : types) {
    writeString(type);
    for (const Node& name : type.children) writeString(name);
  }
  size_t next = 0;
  for (const Node& type : types) {
    for (const Node& name : type.children) {
      for (const Node& language : name.children) {
        const Resource& r = *language.resource;
        PutU32(&out, language.at, sectionRva + uint32_t(dataAt[next]));
        PutU32(&out, language.at + 4, uint32_t(r.data.size()));
        PutU32(&out, language.at + 8, r.codePage);
        std::copy(r.data.begin(), r.data.end(), out.begin() + long(dataAt[next]));
        ++next;
      }
    }
  }
  return out;
}

}  // namespace kesmar
