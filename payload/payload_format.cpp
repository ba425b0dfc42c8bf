// CompressRecordStream, DecompressContainer and ReadRecord.
#include "payload/payload_format.h"

#include <cstring>

#include "payload/lzma_lib.h"

namespace kesmar {

bool CompressRecordStream(const uint8_t* stream, uint32_t d, ByteBlock* container,
                          CompressProgress* progress) {
  container->Release();
  // The encoder's worst case is well inside d + d/3 + 128; computed in 64
  // bits so that a stream near 4 GiB is refused instead of wrapping round to
  // a block too small to hold it.
  const uint64_t blockSize = uint64_t(d) + d / 3 + 128;
  if (blockSize > UINT32_MAX) return false;

  ByteBlock block;
  if (!block.Allocate(uint32_t(blockSize))) return false;

  size_t destLen = block.size - PayloadContainer::kHeaderSize;
  size_t propsSize = PayloadContainer::kPropertiesSize;
  const int result = LzmaCompress(
      block.data() + PayloadContainer::kStreamOffset, &destLen, stream, d,
      block.data() + PayloadContainer::kPropertiesOffset, &propsSize, PayloadContainer::kLevel,
      PayloadContainer::kDictionarySize, PayloadContainer::kLc, PayloadContainer::kLp,
      PayloadContainer::kPb, PayloadContainer::kFb, CompressThreads(PayloadContainer::kThreads), progress);
  if (result != kLzmaOk || propsSize != PayloadContainer::kPropertiesSize) return false;

  WriteLe32(block.data() + PayloadContainer::kSizeOffset, d);
  block.size = uint32_t(PayloadContainer::kHeaderSize + destLen);
  *container = std::move(block);
  return true;
}

namespace {

ContainerFault FaultOfDecoderResult(int result) {
  switch (result) {
    case kLzmaErrorMem: return ContainerFault::kNoMemory;
    case kLzmaErrorUnsupported: return ContainerFault::kBadProperties;
    case kLzmaErrorInputEof: return ContainerFault::kTruncated;
    default: return ContainerFault::kCorrupt;
  }
}

bool Fail(ContainerFault why, ContainerFault* fault) {
  if (fault != nullptr) *fault = why;
  return false;
}

}  // namespace

bool DecompressContainer(const uint8_t* container, uint32_t n, ByteBlock* stream,
                         ContainerFault* fault) {
  stream->Release();
  if (fault != nullptr) *fault = ContainerFault::kNone;
  if (n < PayloadContainer::kHeaderSize) return Fail(ContainerFault::kTooShort, fault);

  const uint32_t d = ReadLe32(container + PayloadContainer::kSizeOffset);
  ByteBlock block;
  if (!block.Allocate(d)) return Fail(ContainerFault::kNoMemory, fault);

  size_t destLen = d;
  size_t srcLen = n - PayloadContainer::kHeaderSize;
  const int result =
      LzmaUncompress(block.data(), &destLen, container + PayloadContainer::kStreamOffset, &srcLen,
                     container + PayloadContainer::kPropertiesOffset,
                     PayloadContainer::kPropertiesSize);
  if (result != kLzmaOk) {
    // The decoder reports a stream under 5 bytes as running out of input;
    // that is a container too short to be one, not a cut-off payload.
    const bool tooShort = n - PayloadContainer::kHeaderSize < 5 && result == kLzmaErrorInputEof;
    return Fail(tooShort ? ContainerFault::kStreamTooShort : FaultOfDecoderResult(result), fault);
  }
  // An end marker before the d-th byte decodes "successfully" but short; the
  // tail of the block would then be uninitialised, so it is a failure too.
  if (destLen != d) return Fail(ContainerFault::kEndsEarly, fault);

  *stream = std::move(block);
  return true;
}

bool ReadRecord(const uint8_t* stream, uint32_t d, uint32_t offset, PayloadRecord* record) {
  const uint64_t headerEnd = uint64_t(offset) + PayloadRecord::kHeaderSize;
  if (headerEnd > d) return false;

  const uint8_t* header = stream + offset;
  const uint32_t dataSize = ReadLe32(header);
  const uint64_t dataEnd = headerEnd + dataSize;
  if (dataEnd > d) return false;

  const char* nameField = reinterpret_cast<const char*>(header + PayloadRecord::kNameOffset);
  const void* zero = std::memchr(nameField, 0, PayloadRecord::kNameFieldSize);
  if (zero == nullptr) return false;

  record->dataSize = dataSize;
  record->name.assign(nameField, static_cast<const char*>(zero) - nameField);
  record->data = stream + headerEnd;
  record->next = uint32_t(dataEnd);
  return true;
}

}  // namespace kesmar
