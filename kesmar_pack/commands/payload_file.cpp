// Loading, decoding and describing the payload of a container file or a launcher.
#include "kesmar_pack/commands/payload_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/host_files.h"
#include "platform/ntfs_order.h"
#include "pe/pe_resource.h"

namespace kesmar {
namespace {

constexpr char kResourceType[] = "RAW";
constexpr uint32_t kResourceId = 130;

// A byte as it is shown where it cannot be shown as a character.
std::string EscapedByte(unsigned char c) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", c);
  return text;
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
  return text;
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem) {
  const PathInfo info = InspectPath(path);
  if (info.kind == PathInfo::kFolder) {
    *problem = "is a folder, not a file";
    return false;
  }
  if (info.kind == PathInfo::kMissing || info.kind == PathInfo::kUnreachable) {
    *problem = std::string("cannot open (") + std::strerror(info.error) + ")";
    return false;
  }
  if (info.kind != PathInfo::kFile) {
    *problem = "cannot read (not a regular file?)";
    return false;
  }
  if (info.size > UINT32_MAX) {
    *problem = "4 GiB or larger";
    return false;
  }
  errno = 0;
  const std::unique_ptr<InputFile> in = CreateHostFileSystem()->OpenFileForReading(path);
  if (!in) {
    *problem = std::string("cannot open (") + std::strerror(errno != 0 ? errno : ENOENT) + ")";
    return false;
  }
  bytes->resize(size_t(info.size));
  if (info.size > 0 && in->Read(bytes->data(), uint32_t(info.size)) != info.size) {
    *problem = "cannot read";
    return false;
  }
  return true;
}

bool LoadPayloadFile(const std::string& path, PayloadFile* file, std::string* problem) {
  if (!ReadFileBytes(path, &file->bytes, problem)) {
    if (*problem == "4 GiB or larger") *problem += ": neither a payload container nor a launcher";
    return false;
  }

  file->fromLauncher = LooksLikePeImage(file->bytes.data(), file->bytes.size());
  if (!file->fromLauncher) {
    file->containerOffset = 0;
    file->containerSize = uint32_t(file->bytes.size());
    return true;
  }
  PeResourceData resource;
  std::string why;
  if (!FindPeResource(file->bytes.data(), file->bytes.size(), kResourceType, kResourceId, &resource,
                      &why)) {
    *problem = NoLauncherPayload(file->bytes.data(), file->bytes.size());
    return false;
  }
  file->containerOffset = resource.fileOffset;
  file->containerSize = resource.size;
  return true;
}

std::string NoLauncherPayload(const uint8_t* data, size_t size) {
  PeResourceData resource;
  std::string why;
  if (!LooksLikePeImage(data, size) || FindPeResource(data, size, kResourceType, kResourceId, &resource, &why)) {
    return "";
  }
  return "a PE file but no launcher payload: " + why;
}

const char* OwnOutputKind(const uint8_t* data, uint32_t size) {
  PeResourceData resource;
  std::string why;
  if (LooksLikePeImage(data, size)) {
    return FindPeResource(data, size, kResourceType, kResourceId, &resource, &why) ? "a launcher" : nullptr;
  }
  // lc 3, lp 0, pb 2 and a 16 MiB dictionary: rare enough at offset 4 of
  // any other file.
  static const uint8_t kProperties[] = {0x5D, 0x00, 0x00, 0x00, 0x01};
  return size > 9 && std::memcmp(data + 4, kProperties, sizeof kProperties) == 0 ? "a payload container" : nullptr;
}

bool DecodePayloadFile(const PayloadFile& file, ByteBlock* stream, std::string* problem) {
  ContainerFault fault = ContainerFault::kNone;
  if (DecompressContainer(file.container(), file.containerSize, stream, &fault)) return true;
  *problem = DescribeContainerFault(fault, file);
  return false;
}

std::string DescribeContainerFault(ContainerFault fault, const PayloadFile& file) {
  const std::string what = file.fromLauncher ? "payload resource" : "payload container";
  // A file that is no PE file and does not decode is most likely some other
  // file altogether: a text, a program for another system.
  const std::string notOne = file.fromLauncher ? "not a payload resource" : "neither a launcher nor a payload container";
  const uint8_t* c = file.container();
  const uint32_t n = file.containerSize;
  const std::string declared = n >= 4 ? std::to_string(ReadLe32(c)) + " bytes" : "";
  switch (fault) {
    case ContainerFault::kNone:
      return "decoded";
    case ContainerFault::kTooShort:
      return "too short for a " + what + " (" + std::to_string(n) + " bytes, at least 9 needed)";
    case ContainerFault::kStreamTooShort:
      return "too short for a " + what + " (LZMA data of " + std::to_string(n - 9) +
             " bytes, at least 5 needed)";
    case ContainerFault::kBadProperties:
      return notOne + ": LZMA properties byte " + Hex2(c[4]) + " is out of range";
    case ContainerFault::kNoMemory:
      return "not enough memory to decode " + declared + " (the declared size; damaged?)";
    case ContainerFault::kTruncated:
      return "LZMA data ends before the declared " + declared + " (truncated?)";
    case ContainerFault::kCorrupt:
      return notOne + ": LZMA data is corrupt";
    case ContainerFault::kEndsEarly:
      return "LZMA end marker before the declared " + declared;
  }
  return "does not decode";
}

std::string DescribeStreamFault(const RecordStreamFault& fault, uint32_t streamSize, const CodePage& codePage) {
  const std::string where =
      "record " + std::to_string(fault.index + 1) + " at offset " + std::to_string(fault.offset) + ": ";
  const std::string end = " (the stream has " + std::to_string(streamSize) + " bytes)";
  switch (fault.kind) {
    case RecordStreamFault::kNone:
      return "well formed";
    case RecordStreamFault::kHeaderPastEnd:
      return where + "header runs past the end of the stream" + end;
    case RecordStreamFault::kDataPastEnd:
      return where + "data of " + std::to_string(fault.dataSize) + " bytes runs past the end" + end;
    case RecordStreamFault::kNameUnterminated:
      return where + "name field has no zero byte";
    case RecordStreamFault::kBadName:
      return where + "name \"" + ShownRecordName(fault.name, codePage) + "\": " + fault.nameProblem;
  }
  return where + "malformed";
}

std::string PrintableName(const std::string& name) {
  std::string shown;
  for (size_t i = 0; i < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const size_t length = Utf8SequenceLength(name, i);
    // C1 controls (C2 80 to C2 9F) act on some terminals as escapes do.
    const bool c1 = c == 0xC2 && length == 2 && uint8_t(name[i + 1]) <= 0x9F;
    if (length == 0 || c < 32 || c == 127 || c1) {
      shown += EscapedByte(c);
      ++i;
    } else {
      shown.append(name, i, length);
      i += length;
    }
  }
  return shown;
}

std::string ShownRecordName(const std::string& recordName, const CodePage& codePage) {
  std::string utf8, problem;
  if (codePage.Decode(recordName, &utf8, &problem)) return PrintableName(utf8);
  std::string shown;
  for (unsigned char c : recordName) shown += (c < 32 || c >= 127) ? EscapedByte(c) : std::string(1, char(c));
  return shown;
}

size_t CharacterCount(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

}  // namespace kesmar
