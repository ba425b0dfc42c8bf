// Reading a payload for inspection: from a container file or from a launcher's resource, with reasons for every refusal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/byte_block.h"
#include "payload/payload_format.h"
#include "payload/record_stream_check.h"
#include "kesmar_pack/commands/code_page.h"

namespace kesmar {

// A file's whole content and the container inside it.
struct PayloadFile {
  std::vector<uint8_t> bytes;
  bool fromLauncher = false;    // the container is a launcher's resource "RAW" 130
  uint64_t containerOffset = 0; // where the container starts in `bytes`
  uint32_t containerSize = 0;
  const uint8_t* container() const { return bytes.data() + containerOffset; }
};

// The whole of a file below 4 GiB. False, with `problem` a short phrase, when
// it is a folder or cannot be read.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem);

// Reads `path` and finds the container: the resource "RAW" 130 of a PE file,
// or else the whole file. False with `problem` set when the file cannot be
// read, is 4 GiB or larger, or is a PE file without that resource.
bool LoadPayloadFile(const std::string& path, PayloadFile* file, std::string* problem);

// Why a PE file is no launcher, as LoadPayloadFile says it: "a PE file but
// no launcher payload: ..."; empty for a launcher and for what is no PE file.
std::string NoLauncherPayload(const uint8_t* data, size_t size);

// What a file to be packed is when it is this tool's own output: "a
// launcher" (a PE file with the payload resource), "a payload container"
// (the properties kesmar-pack writes behind a size field), or null.
const char* OwnOutputKind(const uint8_t* data, uint32_t size);

// The decoded record stream of a loaded file. False with `problem` set when
// the container does not decode.
bool DecodePayloadFile(const PayloadFile& file, ByteBlock* stream, std::string* problem);

// One line for a fault that DecompressContainer or CheckRecordStream found.
std::string DescribeContainerFault(ContainerFault fault, const PayloadFile& file);
std::string DescribeStreamFault(const RecordStreamFault& fault, uint32_t streamSize, const CodePage& codePage);

// A UTF-8 name as it may be shown on a terminal: bytes below 32, 127, the
// C1 controls U+0080 to U+009F, and bytes that are not part of valid UTF-8
// become \xNN; the rest is shown as it is.
std::string PrintableName(const std::string& name);

// A record name, in the bytes of `codePage`, as it may be shown: converted to
// UTF-8, or its bytes as \xNN where it does not convert.
std::string ShownRecordName(const std::string& recordName, const CodePage& codePage);

// The number of characters of UTF-8 `text`, for lining up columns.
size_t CharacterCount(const std::string& text);

}  // namespace kesmar
