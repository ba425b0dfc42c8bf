// Finds one resource's bytes in a PE image held in memory, checking every offset against the image.
#pragma once

#include <cstdint>
#include <string>

#include "pe/pe_headers.h"

namespace kesmar {

// Where a resource's data lies in the image file.
struct PeResourceData {
  uint64_t fileOffset = 0;
  uint32_t size = 0;
};

// Finds the resource of the named type `typeName` (ASCII, compared without
// regard to letter case, as Windows does) and numeric id `id`, and takes its
// first language. False, with `problem` set to a short phrase, when the image
// is not a PE32 or PE32+ file, has no such resource, or when any header,
// directory, entry or the data itself lies outside the image.
bool FindPeResource(const uint8_t* image, uint64_t size, const std::string& typeName, uint32_t id,
                    PeResourceData* found, std::string* problem);

}  // namespace kesmar
