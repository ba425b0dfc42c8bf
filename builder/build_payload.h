// Builder mode: packs the files of "finst" into "datakes.lzma".
#pragma once

#include <cstdint>
#include <string>

#include "payload/record_name.h"
#include "platform/file_system.h"

namespace kesmar {

constexpr char kBuilderInputFolder[] = "finst";
constexpr char kBuilderOutputFile[] = "datakes.lzma";

// Packs every file directly inside "finst" of the current folder, in listing
// order, into one container and writes it as "datakes.lzma" there. True once
// the file is complete; false otherwise, and then an existing "datakes.lzma"
// is exactly as it was. Subfolders are not packed.
bool BuildPayload(FileSystem& files);

// What a build tells a tool that reports to a person. The launcher's "-c"
// passes none and stays silent.
class BuildObserver {
 public:
  virtual ~BuildObserver() = default;
  // The build fails because of `path`, a folder or a file as the builder
  // named it (folder, "\\", file name); `reason` is a short phrase, with the
  // system's own words in brackets where it gave any ("cannot write (No
  // space left on device)"). Called once, just before the build returns false.
  virtual void Refused(const std::string& path, const std::string& reason) = 0;
  // The compressor has taken `done` of the record stream's `total` bytes.
  virtual void Compressing(uint64_t done, uint64_t total) = 0;
  // The folder is listed and the record stream will be `size` bytes: false
  // ends the build before a file is read (saying why itself, as below).
  virtual bool StreamPlanned(uint64_t /*size*/) { return true; }
  // The record stream is complete and about to be compressed: a tool can
  // look at exactly what will be packed, and end the build here with false
  // (saying why itself; Refused is not called). Nothing has been written.
  virtual bool StreamReady(const uint8_t* /*stream*/, uint32_t /*size*/) { return true; }
};

// How the names a folder lists become record names. On Windows a listed
// name already is one, in the ANSI code page; a host whose file names are in
// another encoding converts them into a Windows code page here, and every
// rule of the record name then applies to the converted bytes.
class RecordNameEncoding {
 public:
  virtual ~RecordNameEncoding() = default;
  // The record name for the listed name `listed`, before the cut to 254
  // bytes. False, with a short phrase in `problem`, when there is none
  // ("not representable in code page 1252").
  virtual bool Encode(const std::string& listed, std::string* recordName, std::string* problem) const = 0;
  // The lead bytes of the code page the record names are in.
  virtual const LeadBytes& leadBytes() const = 0;
  // The record name as Windows tells names apart: two names with equal keys
  // are one file there.
  virtual std::string FoldKey(const std::string& recordName) const = 0;
};

// The lead bytes of the ANSI code page of `files`, asked byte by byte.
LeadBytes AnsiLeadBytes(FileSystem& files);

// Writes `size` bytes to `path` by way of a new file beside it, named `path`
// + ".tmp-" and six letters or digits, that this call creates and renames
// over `path` once it is complete: no file that was there is ever opened, and
// a failure leaves `path` as it was and removes the new file. Null on
// success; otherwise "cannot create", "cannot write" or "cannot replace",
// with the system's error number, if any, in `error`.
const char* WriteFileReplacing(FileSystem& files, const std::string& path, const uint8_t* data, uint32_t size,
                               int* error);

// The same build over any folder and output file: packs the files directly
// inside `inputFolder` and writes the container to `outputPath` with
// WriteFileReplacing. Without `names`, the listed names are the
// record names, in the code page of `files`. BuildPayload(files) is this
// call with "finst" and "datakes.lzma", no observer and no `names`.
bool BuildPayload(FileSystem& files, const std::string& inputFolder, const std::string& outputPath,
                  BuildObserver* observer = nullptr, const RecordNameEncoding* names = nullptr);

}  // namespace kesmar
