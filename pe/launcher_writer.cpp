// WriteLauncher: checks the stub, lays out its resources with the payload, moves the relocations, fixes up the headers.
#include "pe/launcher_writer.h"

#include <algorithm>

#include "pe/pe_headers.h"
#include "pe/resource_tree.h"

namespace kesmar {
namespace {

constexpr uint32_t kMachineI386 = 0x14C;
constexpr uint32_t kSubsystemGui = 2;
constexpr uint32_t kGroupIcon = 14;
constexpr uint32_t kInitializedData = 0x40;
constexpr uint32_t kPayloadId = 130;
constexpr uint32_t kMaxFileAlignment = 0x10000;
const std::u16string kPayloadType = u"RAW";

bool NotAStub(std::string* problem, const std::string& why) {
  *problem = "not a launcher stub: " + why;
  return false;
}

bool PowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

uint64_t AlignUp(uint64_t value, uint32_t to) { return (value + to - 1) / to * to; }

bool HasGroupIcon(const std::vector<Resource>& resources, uint32_t id) {
  return std::any_of(resources.begin(), resources.end(), [&](const Resource& r) {
    return r.type.Matches(ResourceKey::Id(kGroupIcon)) && r.name.Matches(ResourceKey::Id(id));
  });
}

}  // namespace

bool WriteLauncher(const uint8_t* stub, uint64_t stubSize, const uint8_t* payload, uint32_t payloadSize,
                   std::vector<uint8_t>* launcher, std::string* problem) {
  const PeBytes file(stub, stubSize);
  if (!LooksLikePeImage(stub, stubSize)) {
    *problem = "not a PE file";
    return false;
  }
  PeHeaders h;
  std::string why;
  if (!ReadPeHeaders(file, &h, &why)) return NotAStub(problem, why);
  if (h.machine != kMachineI386 || h.magic != 0x10B) return NotAStub(problem, "not a 32-bit x86 image");
  if (h.subsystem != kSubsystemGui) return NotAStub(problem, "not a GUI program");
  if (h.symbolTable != 0) return NotAStub(problem, "it carries a symbol table (not stripped)");
  if (!PowerOfTwo(h.sectionAlignment) || !PowerOfTwo(h.fileAlignment)) {
    return NotAStub(problem, "section or file alignment not a power of two");
  }
  // The resources' new size is rounded up to the file alignment; a larger one
  // than images may have would write gigabytes of padding.
  if (h.fileAlignment > kMaxFileAlignment) return NotAStub(problem, "file alignment above 64 KiB");

  // The resource section, and nothing after it but the relocations.
  const PeDirectory resourceDirectory = h.Directory(kPeResourceDirectory);
  const auto rsrc = std::find_if(h.sections.begin(), h.sections.end(), [&](const PeSection& s) {
    return resourceDirectory.rva != 0 && s.virtualAddress == resourceDirectory.rva;
  });
  if (rsrc == h.sections.end()) return NotAStub(problem, "no resource section");
  const size_t r = size_t(rsrc - h.sections.begin());
  // Everything the fix-up writes lies in the headers, which must stay in
  // front of the resources' data.
  if (rsrc->rawOffset < h.sections.back().headerAt + 40) return NotAStub(problem, "the resources overlap the headers");
  const PeDirectory relocationDirectory = h.Directory(kPeRelocationDirectory);
  const PeSection* reloc = nullptr;
  for (size_t i = r + 1; i < h.sections.size(); ++i) {
    const PeSection& s = h.sections[i];
    if (reloc != nullptr || s.name != ".reloc" || s.virtualAddress != relocationDirectory.rva) {
      return NotAStub(problem, "sections after the resources other than the relocations");
    }
    reloc = &s;
  }
  uint64_t end = 0;  // where the sections' file data ends
  for (size_t i = 0; i < h.sections.size(); ++i) {
    const PeSection& s = h.sections[i];
    if (i > 0) {
      const PeSection& before = h.sections[i - 1];
      const uint64_t beforeEnd = uint64_t(before.virtualAddress) +
                                 (before.virtualSize != 0 ? before.virtualSize : before.rawSize);
      if (s.virtualAddress < beforeEnd) return NotAStub(problem, "sections overlap or out of address order");
    }
    if (i < r && s.rawSize != 0 && uint64_t(s.rawOffset) + s.rawSize > rsrc->rawOffset) {
      return NotAStub(problem, "a section's data lies behind the resources");
    }
    end = std::max(end, uint64_t(s.rawOffset) + s.rawSize);
  }
  if (reloc != nullptr && reloc->rawOffset < uint64_t(rsrc->rawOffset) + rsrc->rawSize) {
    return NotAStub(problem, "the relocations overlap the resources");
  }
  // Only the resource and relocation directories may point at what moves.
  for (uint32_t i = 0; i < h.directories.size(); ++i) {
    if (i == kPeResourceDirectory || i == kPeRelocationDirectory || i == kPeCertificateDirectory) continue;
    if (h.directories[i].rva != 0 && h.directories[i].rva >= rsrc->virtualAddress) {
      return NotAStub(problem, "data directory " + std::to_string(i) + " points into the resources");
    }
  }
  // A certificate, if any, ends the file; nothing else may follow the sections.
  const PeDirectory certificate = h.Directory(kPeCertificateDirectory);
  uint64_t imageEnd = stubSize;
  if (certificate.size != 0) {
    if (certificate.rva < end || uint64_t(certificate.rva) + certificate.size != stubSize ||
        certificate.rva - end >= 8) {
      return NotAStub(problem, "a certificate that does not end the file");
    }
    imageEnd = certificate.rva;
  }
  if (imageEnd - end >= h.fileAlignment) return NotAStub(problem, "data after the last section");

  std::vector<Resource> resources;
  if (!ReadResources(file, h, &resources, &why)) return NotAStub(problem, why);
  if (!HasGroupIcon(resources, 107) || !HasGroupIcon(resources, 108)) {
    return NotAStub(problem, "no icon groups 107 and 108");
  }
  const ResourceKey type = ResourceKey::Name(kPayloadType), id = ResourceKey::Id(kPayloadId);
  resources.erase(std::remove_if(resources.begin(), resources.end(),
                                 [&](const Resource& res) { return res.type.Matches(type) && res.name.Matches(id); }),
                  resources.end());
  resources.push_back(Resource{type, id, 0, 0, std::vector<uint8_t>(payload, payload + payloadSize)});

  const std::vector<uint8_t> section = LayOutResources(resources, rsrc->virtualAddress);
  const uint64_t rawSize = AlignUp(section.size(), h.fileAlignment);
  const uint64_t relocRva = AlignUp(uint64_t(rsrc->virtualAddress) + section.size(), h.sectionAlignment);
  const uint64_t relocRaw = uint64_t(rsrc->rawOffset) + rawSize;
  const uint64_t lastEnd = reloc != nullptr ? relocRva + reloc->virtualSize : relocRva;
  if (AlignUp(lastEnd, h.sectionAlignment) > UINT32_MAX || relocRaw + (reloc ? reloc->rawSize : 0) > UINT32_MAX) {
    *problem = "the launcher would not fit in 4 GiB";
    return false;
  }

  std::vector<uint8_t>& out = *launcher;
  out.assign(stub, stub + rsrc->rawOffset);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(relocRaw, 0);
  if (reloc != nullptr) out.insert(out.end(), stub + reloc->rawOffset, stub + reloc->rawOffset + reloc->rawSize);

  PutU32(&out, rsrc->headerAt + 8, uint32_t(section.size()));
  PutU32(&out, rsrc->headerAt + 16, uint32_t(rawSize));
  if (reloc != nullptr) {
    PutU32(&out, reloc->headerAt + 12, uint32_t(relocRva));
    PutU32(&out, reloc->headerAt + 20, uint32_t(relocRaw));
    PutU32(&out, h.directoriesAt + kPeRelocationDirectory * 8, uint32_t(relocRva));
  }
  PutU32(&out, h.directoriesAt + kPeResourceDirectory * 8 + 4, uint32_t(section.size()));
  if (h.directories.size() > kPeCertificateDirectory) {
    PutU32(&out, h.directoriesAt + kPeCertificateDirectory * 8, 0);
    PutU32(&out, h.directoriesAt + kPeCertificateDirectory * 8 + 4, 0);
  }
  if (rsrc->characteristics & kInitializedData) {
    const uint64_t at = h.optional + 8;  // SizeOfInitializedData
    uint32_t initialized = 0;
    file.U32(at, &initialized);
    PutU32(&out, at, uint32_t(initialized - rsrc->rawSize + rawSize));
  }
  PutU32(&out, h.optional + 56, uint32_t(AlignUp(lastEnd, h.sectionAlignment)));  // SizeOfImage
  PutU32(&out, h.checksumAt(), PeChecksum(out.data(), out.size(), h.checksumAt()));
  return true;
}

}  // namespace kesmar
