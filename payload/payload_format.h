// The compressed container and the record stream inside it: layouts and the three operations over them.
#pragma once

#include <cstdint>
#include <string>

#include "payload/byte_block.h"
#include "payload/compress_progress.h"

namespace kesmar {

// The compressed container, as stored in "datakes.lzma" and in resource
// "RAW" 130. All integers are 32-bit little-endian; there is no magic number,
// version or checksum, and the container's own length is that of its holder.
//
//   offset 0  size 4  record-stream length d
//   offset 4  size 5  LZMA properties: (pb*5+lp)*9+lc, then the dictionary size
//   offset 9  rest    raw LZMA data, no header, no end marker
struct PayloadContainer {
  static constexpr uint32_t kSizeOffset = 0;
  static constexpr uint32_t kPropertiesOffset = 4;
  static constexpr uint32_t kPropertiesSize = 5;
  static constexpr uint32_t kStreamOffset = 9;
  static constexpr uint32_t kHeaderSize = 9;

  // The encoder settings every container we write is made with.
  static constexpr int kLevel = 5;
  static constexpr uint32_t kDictionarySize = 0x1000000;
  static constexpr int kLc = 3;
  static constexpr int kLp = 0;
  static constexpr int kPb = 2;
  static constexpr int kFb = 32;
  static constexpr int kThreads = 2;
  static constexpr uint8_t kPropertiesByte = (kPb * 5 + kLp) * 9 + kLc;  // 0x5D
};

// One file inside the record stream. Records stand back to back from offset 0
// and tile the stream exactly.
//
//   offset 0    size 4          data size s
//   offset 4    size 255        file name, zero bytes up to the end of the field
//   offset 259  size s          the file's bytes
struct PayloadRecord {
  static constexpr uint32_t kNameOffset = 4;
  static constexpr uint32_t kNameFieldSize = 255;
  static constexpr uint32_t kHeaderSize = 259;
  static constexpr uint32_t kMaxNameLength = 254;

  uint32_t dataSize = 0;
  std::string name;
  const uint8_t* data = nullptr;  // view into the stream, dataSize bytes
  uint32_t next = 0;              // offset of the record behind this one
};

// Compresses a record stream of d bytes into a container. False, with
// `container` left empty, when the output block cannot be had, when it would
// not fit in 32 bits, or when the encoder fails. `progress`, when given,
// hears how many of the d bytes the encoder has taken so far.
bool CompressRecordStream(const uint8_t* stream, uint32_t d, ByteBlock* container,
                          CompressProgress* progress = nullptr);

// Why a container did not decode.
enum class ContainerFault {
  kNone,
  kTooShort,        // under 9 bytes: no room for the size and property fields
  kStreamTooShort,  // the LZMA stream is under 5 bytes
  kBadProperties,   // properties byte 225 or more
  kNoMemory,        // the d-byte block or the decoder's tables cannot be had
  kTruncated,       // the stream runs out before d bytes are produced
  kCorrupt,         // the decoder finds invalid data
  kEndsEarly,       // an end marker before the d-th byte
};

// Decodes a container of n bytes into its record stream of exactly d bytes,
// d being the container's size field. False, with `stream` left empty, for a
// container under 9 bytes, any decoder error, a decode that ends before d
// bytes, or a d-byte block that cannot be had. Bytes behind the d-th decoded
// byte's LZMA data are ignored. `fault`, when given, says why it failed.
bool DecompressContainer(const uint8_t* container, uint32_t n, ByteBlock* stream,
                         ContainerFault* fault = nullptr);

// Reads the record at `offset` of a stream of d bytes. False when the header,
// the name field's terminating zero or the data would lie past d; nothing
// outside the d bytes is read.
bool ReadRecord(const uint8_t* stream, uint32_t d, uint32_t offset, PayloadRecord* record);

}  // namespace kesmar
