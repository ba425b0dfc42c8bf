// A launcher from a stub: the payload written as resource "RAW" 130 into the stub's resource section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kesmar {

// Writes `payload` into a copy of `stub` as resource "RAW" 130, language
// neutral, replacing any RAW 130 the stub holds, and puts the launcher in
// *launcher. The resource section is laid out anew; the relocations behind
// it move along; the section table, the resource and relocation
// directories, SizeOfImage, SizeOfInitializedData and the checksum are set
// to match. A certificate the stub carries is dropped (it would not cover
// the new image). Every other byte is the stub's.
//
// False, with `problem` a short phrase, when `stub` is not a launcher stub:
// not a PE32 i386 GUI image; no resource section, or anything but the
// relocations after it; data behind the last section that is no
// certificate; a symbol table; or no icon groups 107 and 108. Every offset
// is checked against the stub before it is used.
bool WriteLauncher(const uint8_t* stub, uint64_t stubSize, const uint8_t* payload, uint32_t payloadSize,
                   std::vector<uint8_t>* launcher, std::string* problem);

}  // namespace kesmar
