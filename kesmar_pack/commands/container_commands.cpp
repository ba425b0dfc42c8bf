// list, verify and extract over a decoded payload.
#include "kesmar_pack/commands/container_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <map>
#include <set>

#include "launcher/font_pass.h"
#include "payload/payload_format.h"
#include "payload/record_name.h"
#include "platform/file_system.h"
#include "platform/host_files.h"
#include "kesmar_pack/commands/launcher_check.h"
#include "kesmar_pack/commands/payload_file.h"
#include "kesmar_pack/commands/progress_line.h"

namespace kesmar {
namespace {

// Loads and decodes `path`; on failure says why on `err`.
bool Decode(const std::string& path, PayloadFile* file, ByteBlock* stream, std::ostream& err) {
  std::string problem;
  if (!LoadPayloadFile(path, file, &problem) || !DecodePayloadFile(*file, stream, &problem)) {
    err << path << ": " << problem << '\n';
    return false;
  }
  return true;
}

std::string Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * double(part) / double(whole));
  return text;
}

// Writes one new file: nothing of that name, a link least of all, is opened.
bool WriteNewFile(FileSystem& files, const std::string& path, const uint8_t* data, uint32_t size,
                  std::string* problem) {
  errno = 0;
  std::unique_ptr<OutputFile> file = files.CreateNewFileA(path);
  if (!file) {
    *problem = std::string("cannot create (") + std::strerror(errno != 0 ? errno : EEXIST) + ")";
    return false;
  }
  errno = 0;
  const bool written = file->Write(data, size);
  int error = errno;
  errno = 0;
  const bool closed = file->Close();
  if (written) error = errno;
  if (written && closed) return true;
  *problem = std::string("cannot write (") + std::strerror(error != 0 ? error : EIO) + ")";
  return false;
}

// Creates `folder` and every folder above it that is missing.
bool CreateFolders(FileSystem& files, std::string folder, int* error) {
  while (folder.size() > 1 && std::strchr(kHostPathSeparators, folder.back()) != nullptr) folder.pop_back();
  if (InspectPath(folder).kind == PathInfo::kFolder) return true;
  const size_t separator = folder.find_last_of(kHostPathSeparators);
  if (separator != std::string::npos && separator > 0 && !CreateFolders(files, folder.substr(0, separator), error)) {
    return false;
  }
  errno = 0;
  if (files.CreateDirectoryA(folder, nullptr)) return true;
  *error = errno != 0 ? errno : EIO;
  return false;
}

// True when `folder` holds nothing: no entry the listing shows, and none it
// leaves out because it cannot look at it (a link to nothing).
bool IsEmptyFolder(FileSystem& files, const std::string& folder, int* error) {
  FindData entry;
  errno = 0;
  auto search = files.FindFirstFileA(folder + "\\*", &entry);
  if (!search) {
    *error = errno != 0 ? errno : EIO;
    return false;
  }
  std::set<std::string> listed;
  do {
    listed.insert(entry.cFileName);
  } while (files.FindNextFileA(*search, &entry));
  listed.erase(".");
  listed.erase("..");
  return listed.empty() && UnlistedEntries(folder, {".", ".."}).empty();
}

}  // namespace

int ListPayload(const std::string& path, const CodePage& codePage, std::ostream& out, std::ostream& err) {
  PayloadFile file;
  ByteBlock stream;
  if (!Decode(path, &file, &stream, err)) return 1;

  if (file.fromLauncher) {
    out << "payload: resource RAW 130, " << file.containerSize << " bytes at file offset "
        << file.containerOffset << '\n';
  }
  // Walk first, so that the columns fit the longest name.
  struct Row {
    std::string name;
    uint32_t size;
    uint32_t offset;
    std::string notInCodePage;
    const char* problem;
  };
  std::vector<Row> rows;
  uint64_t dataTotal = 0;
  RecordStreamFault fault;
  PayloadRecord record;
  uint32_t offset = 0;
  while (offset < stream.size) {
    if (!ReadRecord(stream.data(), stream.size, offset, &record)) {
      // Check the rest alone to learn why this record does not read.
      CheckRecordStream(stream.data() + offset, stream.size - offset, &fault, codePage.leadBytes());
      fault.index += uint32_t(rows.size());
      fault.offset += offset;
      break;
    }
    std::string utf8, problem;
    rows.push_back({ShownRecordName(record.name, codePage), record.dataSize, offset,
                    codePage.Decode(record.name, &utf8, &problem) ? "" : problem,
                    RecordNameProblem(record.name, codePage.leadBytes())});
    dataTotal += record.dataSize;
    offset = record.next;
  }

  // Columns count characters: a name in UTF-8 has more bytes than it shows.
  size_t width = 4;
  for (const Row& row : rows) width = std::max(width, std::min<size_t>(CharacterCount(row.name), 40));
  auto padded = [width](const std::string& name) {
    return name + std::string(width - std::min(width, CharacterCount(name)), ' ');
  };
  out << padded("Name") << std::right << std::setw(12) << "Size" << std::setw(12) << "Offset" << '\n';
  for (const Row& row : rows) {
    out << padded(row.name) << std::setw(12) << row.size << std::setw(12) << row.offset;
    if (!row.notInCodePage.empty()) out << "  (" << row.notInCodePage << ")";
    if (row.problem != nullptr) out << "  (unsafe name: " << row.problem << ")";
    out << '\n';
  }
  out << rows.size() << (rows.size() == 1 ? " record, " : " records, ") << dataTotal
      << " bytes of data; stream " << stream.size << " bytes, container " << file.containerSize
      << " bytes, ratio " << Percent(file.containerSize, stream.size) << '\n';
  if (fault.kind != RecordStreamFault::kNone) {
    err << path << ": " << DescribeStreamFault(fault, stream.size, codePage) << '\n';
    return 1;
  }
  return 0;
}

namespace {

// The first record whose name does not convert from `codePage`, said in one
// line on `err`; true when every name converts.
bool NamesConvert(const std::string& path, const ByteBlock& stream, const CodePage& codePage,
                  std::ostream& err, const char* suffix) {
  PayloadRecord record;
  uint32_t index = 0;
  for (uint32_t offset = 0; offset < stream.size; offset = record.next, ++index) {
    ReadRecord(stream.data(), stream.size, offset, &record);  // checked by the caller
    std::string utf8, problem;
    // No sound record name converts to one with a separator, but this is
    // what extract writes by.
    if (codePage.Decode(record.name, &utf8, &problem) && utf8.find_first_of(kHostPathSeparators) != std::string::npos) {
      problem = "converts to a name with a folder separator";
    }
    if (!problem.empty()) {
      err << path << ": record " << index + 1 << " at offset " << offset << ": name \""
          << ShownRecordName(record.name, codePage) << "\": " << problem << suffix << '\n';
      return false;
    }
  }
  return true;
}

// The first record whose name Windows takes for an earlier one's, said in
// one line on `err` ending in `consequence`; true, with the number of records
// in `count`, when there is none.
bool NamesDistinctOnWindows(const std::string& path, const ByteBlock& stream, const CodePage& codePage,
                            std::ostream& err, const char* consequence, uint32_t* count) {
  std::map<std::string, std::pair<uint32_t, std::string>> seen;
  PayloadRecord record;
  uint32_t index = 0;
  for (uint32_t offset = 0; offset < stream.size; offset = record.next, ++index) {
    ReadRecord(stream.data(), stream.size, offset, &record);  // checked by the caller
    const auto [it, added] = seen.emplace(codePage.FoldKey(record.name), std::make_pair(index, record.name));
    if (!added) {
      err << path << ": record " << index + 1 << " at offset " << offset << ": name \""
          << ShownRecordName(record.name, codePage) << "\" is also record " << it->second.first + 1 << "'s (\""
          << ShownRecordName(it->second.second, codePage) << "\") on Windows; " << consequence << '\n';
      return false;
    }
  }
  if (count != nullptr) *count = index;
  return true;
}

}  // namespace

int VerifyPayload(const std::string& path, const CodePage& codePage, std::ostream& out, std::ostream& err) {
  PayloadFile file;
  ByteBlock stream;
  if (!Decode(path, &file, &stream, err)) return 1;
  RecordStreamFault fault;
  if (!CheckRecordStream(stream.data(), stream.size, &fault, codePage.leadBytes())) {
    err << path << ": " << DescribeStreamFault(fault, stream.size, codePage) << '\n';
    return 1;
  }
  if (!NamesConvert(path, stream, codePage, err, "")) return 1;
  // Names Windows cannot tell apart become one file there: the launcher would
  // write the later record over the earlier one.
  uint32_t count = 0;
  if (!NamesDistinctOnWindows(path, stream, codePage, err, "one file would replace the other", &count)) return 1;
  // Names that fail on most machines, but not on one with a short
  // temporary folder: a warning.
  for (const LongRecordName& name : LongRecordNames(stream.data(), stream.size, codePage)) {
    err << path << ": warning: record " << name.index + 1 << " at offset " << name.offset << ": name \""
        << name.shown << "\": " << name.why << '\n';
  }
  // Last, what would keep the launcher from ever starting the setup program.
  const std::string problem = LauncherPayloadProblem(stream.data(), stream.size, file.containerSize, codePage);
  if (!problem.empty()) {
    err << path << ": " << problem << '\n';
    return 1;
  }
  out << path << ": OK, " << count << (count == 1 ? " record, " : " records, ") << stream.size << " bytes, "
      << kSetupProgramName << " present\n";
  return 0;
}

int ExtractPayloadFile(const std::string& path, const std::string& folder, const CodePage& codePage,
                       std::ostream& out, std::ostream& err, bool showProgress) {
  PayloadFile file;
  ByteBlock stream;
  if (!Decode(path, &file, &stream, err)) return 1;
  RecordStreamFault fault;
  if (!CheckRecordStream(stream.data(), stream.size, &fault, codePage.leadBytes())) {
    err << path << ": " << DescribeStreamFault(fault, stream.size, codePage) << "; nothing extracted\n";
    return 1;
  }
  if (!NamesConvert(path, stream, codePage, err, "; nothing extracted")) return 1;
  // Every file is created new, so two names Windows takes for one would
  // fail halfway there (and here, on a file system that ignores case).
  if (!NamesDistinctOnWindows(path, stream, codePage, err, "nothing extracted", nullptr)) return 1;

  // Only a new or empty folder: nothing already there can be overwritten or
  // stand in for a record as a link.
  const std::unique_ptr<FileSystem> files = CreateHostFileSystem();
  const PathInfo at = InspectPath(folder, /*followLinks=*/false);
  if (at.kind == PathInfo::kMissing) {
    int error = 0;
    if (!CreateFolders(*files, folder, &error)) {
      err << folder << ": cannot create (" << std::strerror(error) << ")\n";
      return 1;
    }
  } else if (at.kind != PathInfo::kFolder) {
    err << folder << ": " << (at.kind == PathInfo::kUnreachable ? "cannot be reached (" + std::string(std::strerror(at.error)) + ")"
                                                               : std::string("exists and is not a folder")) << '\n';
    return 1;
  } else {
    int error = 0;
    const bool empty = IsEmptyFolder(*files, folder, &error);
    if (!empty || error != 0) {
      err << folder << ": " << (error != 0 ? "cannot be read (" + std::string(std::strerror(error)) + ")" : "is not empty")
          << '\n';
      return 1;
    }
  }

  ProgressLine progress(err, showProgress, "extracting");
  PayloadRecord record;
  uint32_t count = 0;
  uint64_t written = 0;
  for (uint32_t offset = 0; offset < stream.size; offset = record.next, ++count) {
    ReadRecord(stream.data(), stream.size, offset, &record);  // checked above
    std::string name, problem;
    codePage.Decode(record.name, &name, &problem);  // every name converted above
    const std::string target = folder + ShownSeparator(folder) + name;
    if (!WriteNewFile(*files, target, record.data, record.dataSize, &problem)) {
      progress.Clear();
      err << target << ": " << problem << '\n';
      return 1;
    }
    written += record.dataSize;
    progress.Update(offset + PayloadRecord::kHeaderSize + record.dataSize, stream.size);
  }
  progress.Clear();
  out << folder << ": " << count << (count == 1 ? " file, " : " files, ") << written
      << " bytes extracted\n";
  return 0;
}

}  // namespace kesmar
