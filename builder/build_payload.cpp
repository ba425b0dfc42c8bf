// BuildPayload: list "finst", lay the records out in one block, compress, write.
#include "builder/build_payload.h"

#include <cstring>
#include <string>
#include <vector>

#include "payload/byte_block.h"
#include "payload/payload_format.h"
#include "payload/record_name.h"

namespace kesmar {
namespace {

struct ListedFile {
  std::string name;       // as listed; opened under this name
  std::string storedName; // cut to what the name field holds
  uint32_t size;
};

// Lists "finst". False when it cannot be listed, or when an entry cannot be
// packed: a file of 4 GiB or more, or a name that would not extract on Windows.
bool ListInputFolder(FileSystem& files, std::vector<ListedFile>* listed, uint64_t* totalData) {
  FindData entry;
  auto search = files.FindFirstFileA(std::string(kBuilderInputFolder) + "\\*", &entry);
  if (!search) return false;
  do {
    if (entry.dwFileAttributes & kFileAttributeDirectory) continue;  // ".", ".." and subfolders
    if (entry.nFileSizeHigh != 0) return false;
    std::string storedName = entry.cFileName.substr(0, PayloadRecord::kMaxNameLength);
    if (!IsValidRecordName(storedName)) return false;
    listed->push_back({entry.cFileName, std::move(storedName), entry.nFileSizeLow});
    *totalData += entry.nFileSizeLow;
  } while (files.FindNextFileA(*search, &entry));
  return true;
}

// Fills the record stream in place, record after record. False when a file
// does not open or yields fewer bytes than it was listed with.
bool FillRecordStream(FileSystem& files, const std::vector<ListedFile>& listed, ByteBlock* stream) {
  uint8_t* cursor = stream->data();
  for (const ListedFile& file : listed) {
    WriteLe32(cursor, file.size);
    std::memset(cursor + PayloadRecord::kNameOffset, 0, PayloadRecord::kNameFieldSize);
    std::memcpy(cursor + PayloadRecord::kNameOffset, file.storedName.data(), file.storedName.size());
    cursor += PayloadRecord::kHeaderSize;

    auto input = files.OpenFileForReading(std::string(kBuilderInputFolder) + "\\" + file.name);
    if (!input) return false;
    // A file that shrank since it was listed would leave part of its record
    // unwritten; that is a failed build, not a payload with garbage in it.
    if (input->Read(cursor, file.size) != file.size) return false;
    cursor += file.size;
  }
  return cursor == stream->data() + stream->size;
}

// Writes the container beside the old "datakes.lzma" and only then puts it in
// its place, so a failed write never leaves a truncated payload behind.
bool WriteContainer(FileSystem& files, const ByteBlock& container) {
  const std::string temporary = std::string(kBuilderOutputFile) + ".tmp";
  auto output = files.OpenFileForWriting(temporary);
  if (!output) return false;
  const bool written = output->Write(container.data(), container.size);
  const bool closed = output->Close();
  output.reset();
  if (!written || !closed || !files.MoveFileExA(temporary, kBuilderOutputFile)) {
    files.DeleteFileA(temporary);
    return false;
  }
  return true;
}

}  // namespace

bool BuildPayload(FileSystem& files) {
  std::vector<ListedFile> listed;
  uint64_t totalData = 0;
  if (!ListInputFolder(files, &listed, &totalData)) return false;
  if (totalData == 0) return false;

  const uint64_t planned = uint64_t(listed.size()) * PayloadRecord::kHeaderSize + totalData;
  if (planned > UINT32_MAX) return false;

  ByteBlock stream;
  if (!stream.Allocate(uint32_t(planned))) return false;
  if (!FillRecordStream(files, listed, &stream)) return false;

  ByteBlock container;
  if (!CompressRecordStream(stream.data(), stream.size, &container)) return false;
  stream.Release();  // only the container is held while writing

  return WriteContainer(files, container);
}

}  // namespace kesmar
