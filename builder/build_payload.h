// Builder mode: packs the files of "finst" into "datakes.lzma".
#pragma once

#include <cstdint>
#include <string>

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
};

// The same build over any folder and output file: packs the files directly
// inside `inputFolder` and writes the container to `outputPath`, by way of
// `outputPath` + ".tmp" beside it. BuildPayload(files) is this call with
// "finst" and "datakes.lzma" and no observer.
bool BuildPayload(FileSystem& files, const std::string& inputFolder, const std::string& outputPath,
                  BuildObserver* observer = nullptr);

}  // namespace kesmar
