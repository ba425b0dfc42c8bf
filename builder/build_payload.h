// Builder mode: packs the files of "finst" into "datakes.lzma".
#pragma once

#include "platform/file_system.h"

namespace kesmar {

constexpr char kBuilderInputFolder[] = "finst";
constexpr char kBuilderOutputFile[] = "datakes.lzma";

// Packs every file directly inside "finst" of the current folder, in listing
// order, into one container and writes it as "datakes.lzma" there. True once
// the file is complete; false otherwise, and then an existing "datakes.lzma"
// is exactly as it was. Subfolders are not packed.
bool BuildPayload(FileSystem& files);

}  // namespace kesmar
