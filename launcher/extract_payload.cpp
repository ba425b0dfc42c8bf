// ExtractPayload and the process-wide folder counter.
#include "launcher/extract_payload.h"

#include <cstring>
#include <vector>

#include "builder/build_payload.h"
#include "launcher/ansi_path.h"
#include "launcher/folder_security.h"
#include "launcher/font_pass.h"
#include "payload/byte_block.h"
#include "payload/payload_format.h"
#include "payload/record_stream_check.h"
#include "platform/file_system.h"
#include "platform/resources.h"
#include "platform/security.h"

namespace kesmar {
namespace {

int32_t folderCounter = 0;

// The container bytes of resource "RAW" #130, straight from the loaded image.
bool FindPayload(ResourceApi& resources, const uint8_t** bytes, uint32_t* size) {
  ResourceInfo* info =
      resources.FindResourceA("#" + std::to_string(kPayloadResourceId), kPayloadResourceType);
  if (info == nullptr) return false;
  ResourceData* loaded = resources.LoadResource(info);
  if (loaded == nullptr) return false;
  const void* locked = resources.LockResource(loaded);
  if (locked == nullptr) return false;
  *size = resources.SizeofResource(info);
  *bytes = static_cast<const uint8_t*>(locked);
  return *size != 0;
}

// "<temporary folder>\kesmars", without the number.
bool BaseFolderPath(FileSystem& files, std::string* base) {
  if (!GetTempFolderA(files, base)) return false;
  if (base->empty() || (base->back() != '\\' && base->back() != '/')) *base += '\\';
  *base += kExtractionFolderPrefix;
  return true;
}

// Names that exist, as files or folders, are passed over without counting;
// only failed creations count towards the limit.
// Every folder is created with `security`: a name that exists is never
// taken over, so no folder is used that this call did not make.
bool CreateExtractionFolder(FileSystem& files, const std::string& base,
                            const SecurityDescriptor& security, std::string* folder) {
  int failures = 0;
  for (;;) {
    const std::string candidate = base + std::to_string(folderCounter);
    if (files.GetFileAttributesA(candidate) == kInvalidFileAttributes) {
      if (files.CreateDirectoryA(candidate, &security)) {
        *folder = candidate;
        return true;
      }
      ++failures;
    }
    ++folderCounter;
    if (failures == kMaxFolderCreationFailures) return false;
  }
}

// Writes one record as a file. The path is listed before any data is written,
// so a file left half-written is still removed later.
bool WriteRecordFile(FileSystem& files, const std::string& path, const PayloadRecord& record,
                     CleanupList& list) {
  std::unique_ptr<OutputFile> out = files.OpenFileForWriting(path);
  if (out == nullptr) return false;
  list.AddFile(path);
  const bool written = out->Write(record.data, record.dataSize);
  const bool closed = out->Close();
  return written && closed;
}

}  // namespace

int32_t FolderCounter() { return folderCounter; }

void ResetFolderCounter() { folderCounter = 0; }

bool ExtractPayload(const Platform& platform, std::string* setupPath, std::string* workFolder,
                    CleanupList& list) {
  FileSystem& files = *platform.files;

  const uint8_t* container = nullptr;
  uint32_t containerSize = 0;
  if (!FindPayload(*platform.resources, &container, &containerSize)) return false;

  ByteBlock stream;
  if (!DecompressContainer(container, containerSize, &stream)) return false;
  // Everything about the records is checked before the first folder is made:
  // a stream that runs past its end, a name without its zero byte, or a name
  // that could reach outside the folder is refused as a whole, leaving
  // nothing on disk. Names are read as Windows will read them, in its own
  // ANSI code page: in a double-byte one, a "\\" may be the second half of a
  // character and no separator at all.
  if (!CheckRecordStream(stream.data(), stream.size, AnsiLeadBytes(files))) return false;

  std::string base;
  if (!BaseFolderPath(files, &base)) return false;
  const std::unique_ptr<SecurityDescriptor> security =
      ExtractionFolderDescriptor(*platform.security);
  if (security == nullptr) return false;
  std::string folder;
  if (!CreateExtractionFolder(files, base, *security, &folder)) return false;
  list.SetFolder(folder);
  if (workFolder != nullptr) *workFolder = folder;

  std::vector<std::string> extractedNames;
  PayloadRecord record;
  for (uint32_t offset = 0; offset < stream.size; offset = record.next) {
    // Cannot fail: the stream passed CheckRecordStream.
    if (!ReadRecord(stream.data(), stream.size, offset, &record)) return false;
    const std::string path = folder + "\\" + record.name;
    // The ANSI calls reach no path of MAX_PATH characters or more: it would
    // be written on some systems and then never removed, and fail on others.
    if (files.MultiByteToWideChar(path).size() >= kMaxPath) return false;
    if (!WriteRecordFile(files, path, record, list)) return false;
    extractedNames.push_back(record.name);
  }

  // The decoded payload can be large; it goes before the fonts are installed.
  stream.Release();
  ProcessExtractedFiles(platform, extractedNames, list, setupPath);
  return true;
}

}  // namespace kesmar
