// What makes a payload one that the launcher can never run: no setup program to start, or more than it can hold.
#pragma once

#include <cstdint>
#include <string>

#include "tools/code_page.h"

namespace kesmar {

// The largest record stream that kesmar-pack lets into a launcher without
// --force. The 32-bit launcher decodes the whole stream into one block of
// its address space. Under Wine it extracted 2032 MiB and refused 2048 MiB
// (docs/benchmarks.md has the commands); this stays a quarter below that,
// for address spaces more crowded than a fresh Wine prefix's.
constexpr uint64_t kLauncherStreamLimit = uint64_t(1536) << 20;
constexpr char kLauncherStreamLimitText[] = "1536 MiB";

// A stream of `streamSize` bytes that the launcher cannot extract, said as a
// phrase; empty when it can.
std::string StreamSizeProblem(uint64_t streamSize);

// Why the launcher could never start this payload's setup program, as one
// phrase that names KesmarSetup.exe: none at all, only one whose name differs
// in letter case (the launcher takes the name exactly), or one that is no
// program for Windows on x86 or x64; or the stream is too large. Empty when
// none of these holds. `stream` must be a well-formed record stream.
std::string LauncherPayloadProblem(const uint8_t* stream, uint32_t size, const CodePage& codePage);

// Why `program` cannot be started as a Windows program on x86 or x64; empty
// when its headers say it can.
std::string SetupProgramProblem(const uint8_t* program, uint32_t size);

}  // namespace kesmar
