// BuildPayload: list the input folder, lay the records out in one block, compress, write.
#include "builder/build_payload.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
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

// One build's inputs and the way its refusals are told. Without an observer
// nothing is said and nothing is reported.
struct Build {
  FileSystem& files;
  const std::string& inputFolder;
  const std::string& outputPath;
  BuildObserver* observer;
  const RecordNameEncoding& names;

  std::string InputPath(const std::string& name) const { return inputFolder + "\\" + name; }

  // Reports the refusal and fails. The system's error text is added when the
  // failing call left one in errno; callers clear errno before such calls.
  bool Refuse(const std::string& path, const std::string& reason, int error = 0) const {
    if (observer != nullptr) {
      observer->Refused(path, error != 0 ? reason + " (" + std::strerror(error) + ")" : reason);
    }
    return false;
  }
};

// Names as the file system lists them, in its own ANSI code page: the
// launcher's "-c" on Windows.
class ListedAnsiNames final : public RecordNameEncoding {
 public:
  explicit ListedAnsiNames(FileSystem& files) : leadBytes_(AnsiLeadBytes(files)) {}
  bool Encode(const std::string& listed, std::string* recordName, std::string*) const override {
    *recordName = listed;
    return true;
  }
  const LeadBytes& leadBytes() const override { return leadBytes_; }
  std::string FoldKey(const std::string& recordName) const override { return RecordNameKey(recordName); }

 private:
  LeadBytes leadBytes_;
};

// Feeds the encoder's progress to the observer as a share of the stream.
class CompressionReport final : public CompressProgress {
 public:
  CompressionReport(BuildObserver* observer, uint64_t total) : observer_(observer), total_(total) {}
  void Progress(uint64_t inDone, uint64_t) override { observer_->Compressing(inDone, total_); }

 private:
  BuildObserver* observer_;
  uint64_t total_;
};

// Two files whose stored names Windows cannot tell apart would extract as
// one file, the later replacing the earlier: names that are the same in
// their first 254 bytes, and, from a Linux folder, names that differ in
// letter case only. Such a folder is refused rather than packed with a file
// that would be lost.
bool RefuseNameClashes(const Build& build, const std::vector<ListedFile>& listed) {
  std::map<std::string, const ListedFile*> seen;
  for (const ListedFile& file : listed) {
    const auto [it, added] = seen.emplace(build.names.FoldKey(file.storedName), &file);
    if (added) continue;
    const ListedFile& first = *it->second;
    return build.Refuse(build.InputPath(file.name),
                        first.storedName == file.storedName
                            ? "same first 254 bytes of name as " + first.name
                            : "same name as " + first.name + " apart from letter case");
  }
  return true;
}

// Lists the input folder. False when it cannot be listed, or when an entry
// cannot be packed: a file of 4 GiB or more, a name that would not extract
// on Windows, or two names that would extract as one file.
bool ListInputFolder(const Build& build, std::vector<ListedFile>* listed, uint64_t* totalData) {
  FindData entry;
  errno = 0;
  auto search = build.files.FindFirstFileA(build.inputFolder + "\\*", &entry);
  if (!search) return build.Refuse(build.inputFolder, "cannot list folder", errno);
  do {
    if (entry.dwFileAttributes & kFileAttributeDirectory) continue;  // ".", ".." and subfolders
    if (entry.nFileSizeHigh != 0) return build.Refuse(build.InputPath(entry.cFileName), "4 GiB or larger");
    std::string recordName, encodingProblem;
    if (!build.names.Encode(entry.cFileName, &recordName, &encodingProblem)) {
      return build.Refuse(build.InputPath(entry.cFileName), encodingProblem);
    }
    std::string storedName = CutRecordName(recordName, build.names.leadBytes());
    if (const char* problem = RecordNameProblem(storedName, build.names.leadBytes())) {
      return build.Refuse(build.InputPath(entry.cFileName), problem);
    }
    listed->push_back({entry.cFileName, std::move(storedName), entry.nFileSizeLow});
    *totalData += entry.nFileSizeLow;
  } while (build.files.FindNextFileA(*search, &entry));
  return RefuseNameClashes(build, *listed);
}

// Fills the record stream in place, record after record. False when a file
// does not open or yields fewer bytes than it was listed with.
bool FillRecordStream(const Build& build, const std::vector<ListedFile>& listed, ByteBlock* stream) {
  uint8_t* cursor = stream->data();
  for (const ListedFile& file : listed) {
    WriteLe32(cursor, file.size);
    std::memset(cursor + PayloadRecord::kNameOffset, 0, PayloadRecord::kNameFieldSize);
    std::memcpy(cursor + PayloadRecord::kNameOffset, file.storedName.data(), file.storedName.size());
    cursor += PayloadRecord::kHeaderSize;

    const std::string path = build.InputPath(file.name);
    errno = 0;
    auto input = build.files.OpenFileForReading(path);
    if (!input) return build.Refuse(path, "cannot open", errno);
    // A file that shrank since it was listed would leave part of its record
    // unwritten; that is a failed build, not a payload with garbage in it.
    errno = 0;
    if (input->Read(cursor, file.size) != file.size) {
      const int error = errno;
      return build.Refuse(path, error != 0 ? "cannot read" : "shorter than listed (changed while packing?)",
                          error);
    }
    cursor += file.size;
  }
  return cursor == stream->data() + stream->size;
}

// Writes the container beside the old output and only then puts it in its
// place, so a failed write never leaves a truncated payload behind.
bool WriteContainer(const Build& build, const ByteBlock& container) {
  int error = 0;
  const char* reason = WriteFileReplacing(build.files, build.outputPath, container.data(), container.size, &error);
  return reason == nullptr || build.Refuse(build.outputPath, reason, error);
}

}  // namespace

const char* WriteFileReplacing(FileSystem& files, const std::string& path, const uint8_t* data, uint32_t size,
                               int* error) {
  std::string temporary;
  errno = 0;
  auto output = CreateUniqueFile(files, path + ".tmp-", &temporary);
  if (!output) {
    *error = errno;
    return "cannot create";
  }
  errno = 0;
  const bool written = output->Write(data, size);
  *error = errno;
  errno = 0;
  const bool closed = output->Close();
  if (written) *error = errno;
  output.reset();
  if (written && closed) {
    errno = 0;
    if (files.MoveFileExA(temporary, path)) return nullptr;
    *error = errno;
  }
  files.DeleteFileA(temporary);
  return written && closed ? "cannot replace" : "cannot write";
}

LeadBytes AnsiLeadBytes(FileSystem& files) {
  LeadBytes leadBytes;
  // No Windows code page has a lead byte below 0x81.
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    if (files.IsDBCSLeadByte(uint8_t(byte))) leadBytes.Add(uint8_t(byte));
  }
  return leadBytes;
}

bool BuildPayload(FileSystem& files, const std::string& inputFolder, const std::string& outputPath,
                  BuildObserver* observer, const RecordNameEncoding* names) {
  std::optional<ListedAnsiNames> listedNames;
  if (names == nullptr) names = &listedNames.emplace(files);
  const Build build{files, inputFolder, outputPath, observer, *names};
  std::vector<ListedFile> listed;
  uint64_t totalData = 0;
  if (!ListInputFolder(build, &listed, &totalData)) return false;
  if (listed.empty()) return build.Refuse(inputFolder, "no files to pack");
  if (totalData == 0) return build.Refuse(inputFolder, "no files to pack (every file is empty)");

  const uint64_t planned = uint64_t(listed.size()) * PayloadRecord::kHeaderSize + totalData;
  if (planned > UINT32_MAX) return build.Refuse(inputFolder, "files add up to 4 GiB or more");
  if (observer != nullptr && !observer->StreamPlanned(planned)) return false;

  ByteBlock stream;
  if (!stream.Allocate(uint32_t(planned))) {
    return build.Refuse(inputFolder, "not enough memory for " + std::to_string(planned) + " bytes");
  }
  if (!FillRecordStream(build, listed, &stream)) return false;
  if (observer != nullptr && !observer->StreamReady(stream.data(), stream.size)) return false;

  ByteBlock container;
  CompressionReport report(observer, stream.size);
  if (!CompressRecordStream(stream.data(), stream.size, &container,
                            observer != nullptr ? &report : nullptr)) {
    return build.Refuse(outputPath, "cannot compress (out of memory)");
  }
  // The encoder's last word may come before its final block; say it is done.
  if (observer != nullptr) observer->Compressing(stream.size, stream.size);
  stream.Release();  // only the container is held while writing

  return WriteContainer(build, container);
}

bool BuildPayload(FileSystem& files) {
  return BuildPayload(files, kBuilderInputFolder, kBuilderOutputFile, nullptr);
}

}  // namespace kesmar
