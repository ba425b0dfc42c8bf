// The headers and section table of a PE image in memory, read with every offset checked against the image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kesmar {

// A window onto the image that refuses every read it cannot satisfy.
class PeBytes {
 public:
  PeBytes(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}
  bool Has(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
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
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }

 private:
  const uint8_t* data_;
  uint64_t size_;
};

// Little-endian fields written into an image being built; `at` must lie inside it.
inline void PutU16(std::vector<uint8_t>* image, uint64_t at, uint32_t value) {
  (*image)[at] = uint8_t(value);
  (*image)[at + 1] = uint8_t(value >> 8);
}
inline void PutU32(std::vector<uint8_t>* image, uint64_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*image)[at + i] = uint8_t(value >> (8 * i));
}

struct PeSection {
  std::string name;  // up to 8 bytes, as stored
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawOffset = 0;
  uint32_t characteristics = 0;
  uint64_t headerAt = 0;  // where its 40-byte header lies in the file
};

struct PeDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

// Data directory indexes.
constexpr uint32_t kPeCertificateDirectory = 4;  // a file offset, not an RVA
constexpr uint32_t kPeResourceDirectory = 2;
constexpr uint32_t kPeRelocationDirectory = 5;

struct PeHeaders {
  uint64_t peOffset = 0;  // "PE\0\0"
  uint64_t coff = 0;      // the COFF file header
  uint64_t optional = 0;  // the optional header
  uint32_t optionalSize = 0;
  uint32_t machine = 0;
  uint32_t magic = 0;  // 0x10B PE32, 0x20B PE32+
  uint32_t symbolTable = 0;
  uint32_t subsystem = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint64_t directoriesAt = 0;  // the first data directory entry
  std::vector<PeDirectory> directories;
  std::vector<PeSection> sections;

  PeDirectory Directory(uint32_t index) const {
    return index < directories.size() ? directories[index] : PeDirectory();
  }
  // Offset of the optional header's CheckSum field.
  uint64_t checksumAt() const { return optional + 64; }
};

// True when `image` starts like a PE file: "MZ", and the PE signature where
// the DOS header points. Says nothing about whether the rest is sound.
bool LooksLikePeImage(const uint8_t* image, uint64_t size);

// Reads the headers, the data directories and the section table. False,
// with `problem` a short phrase, when any of them lies outside the image,
// when a section's file data does, or when the image is neither PE32 nor PE32+.
bool ReadPeHeaders(const PeBytes& file, PeHeaders* headers, std::string* problem);

// Maps an RVA to a file offset, with the count of file-backed bytes of its
// section from there on. False when no section holds it in its file data.
bool PeRvaToFile(const PeHeaders& headers, uint32_t rva, uint64_t* offset, uint64_t* room);

// The PE checksum of `image`, the CheckSum field at `checksumAt` left out.
uint32_t PeChecksum(const uint8_t* image, uint64_t size, uint64_t checksumAt);

}  // namespace kesmar
