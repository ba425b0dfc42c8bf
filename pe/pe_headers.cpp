// ReadPeHeaders, RVA mapping and the PE checksum.
#include "pe/pe_headers.h"

namespace kesmar {
namespace {

bool Fail(std::string* problem, const char* why) {
  *problem = why;
  return false;
}

}  // namespace

bool LooksLikePeImage(const uint8_t* image, uint64_t size) {
  const PeBytes file(image, size);
  uint32_t mz = 0, peOffset = 0, signature = 0;
  return file.U16(0, &mz) && mz == 0x5A4D && file.U32(0x3C, &peOffset) &&
         file.U32(peOffset, &signature) && signature == 0x00004550;
}

bool ReadPeHeaders(const PeBytes& file, PeHeaders* h, std::string* problem) {
  if (!LooksLikePeImage(file.data(), file.size())) return Fail(problem, "no PE signature");
  uint32_t peOffset = 0;
  file.U32(0x3C, &peOffset);
  h->peOffset = peOffset;

  // The COFF header behind the signature, then the optional header.
  h->coff = uint64_t(peOffset) + 4;
  uint32_t sectionCount = 0;
  if (!file.U16(h->coff, &h->machine) || !file.U16(h->coff + 2, &sectionCount) ||
      !file.U32(h->coff + 8, &h->symbolTable) || !file.U16(h->coff + 16, &h->optionalSize)) {
    return Fail(problem, "PE header cut short");
  }
  h->optional = h->coff + 20;
  if (!file.U16(h->optional, &h->magic)) return Fail(problem, "PE optional header cut short");
  uint64_t directoryCountAt = 0;
  if (h->magic == 0x10B) {
    directoryCountAt = 92;  // PE32
  } else if (h->magic == 0x20B) {
    directoryCountAt = 108;  // PE32+
  } else {
    return Fail(problem, "unknown PE optional header");
  }
  uint32_t directoryCount = 0;
  if (directoryCountAt + 4 > h->optionalSize || !file.U32(h->optional + directoryCountAt, &directoryCount) ||
      !file.U32(h->optional + 32, &h->sectionAlignment) || !file.U32(h->optional + 36, &h->fileAlignment) ||
      !file.U16(h->optional + 68, &h->subsystem)) {
    return Fail(problem, "PE optional header cut short");
  }
  h->directoriesAt = h->optional + directoryCountAt + 4;
  // Only the entries that fit in the optional header count.
  const uint64_t fitting = (uint64_t(h->optionalSize) - directoryCountAt - 4) / 8;
  h->directories.clear();
  for (uint64_t i = 0; i < directoryCount && i < fitting && i < 16; ++i) {
    PeDirectory d;
    if (!file.U32(h->directoriesAt + i * 8, &d.rva) || !file.U32(h->directoriesAt + i * 8 + 4, &d.size)) {
      return Fail(problem, "PE optional header cut short");
    }
    h->directories.push_back(d);
  }

  h->sections.clear();
  const uint64_t table = h->optional + h->optionalSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint64_t at = table + uint64_t(i) * 40;
    PeSection s;
    s.headerAt = at;
    if (!file.Has(at, 40) || !file.U32(at + 8, &s.virtualSize) || !file.U32(at + 12, &s.virtualAddress) ||
        !file.U32(at + 16, &s.rawSize) || !file.U32(at + 20, &s.rawOffset) ||
        !file.U32(at + 36, &s.characteristics)) {
      return Fail(problem, "section table cut short");
    }
    for (uint64_t k = 0; k < 8 && file.data()[at + k] != 0; ++k) s.name += char(file.data()[at + k]);
    // A section's file data must lie inside the file; trust no more than that.
    if (!file.Has(s.rawOffset, s.rawSize)) return Fail(problem, "section data past the end of the file (truncated?)");
    h->sections.push_back(s);
  }
  return true;
}

bool PeRvaToFile(const PeHeaders& headers, uint32_t rva, uint64_t* offset, uint64_t* room) {
  for (const PeSection& s : headers.sections) {
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

uint32_t PeChecksum(const uint8_t* image, uint64_t size, uint64_t checksumAt) {
  uint64_t sum = 0;
  for (uint64_t i = 0; i < size; i += 2) {
    if (i >= checksumAt && i < checksumAt + 4) continue;
    const uint32_t word = uint32_t(image[i]) | (i + 1 < size ? uint32_t(image[i + 1]) << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum + size);
}

}  // namespace kesmar
