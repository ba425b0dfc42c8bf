// What makes a payload one that the launcher can never run: no setup program to start, or more than it can hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kesmar_pack/commands/code_page.h"

namespace kesmar {

// How large a payload the launcher can hold. It decodes the record stream
// into one block of its 32-bit address space, and Windows maps the container
// with the exe. Under Wine the largest that still worked were a stream of
// 2032 MiB and a container of 1008 MiB, limits that do not add up
// (docs/benchmarks.md has the commands); kesmar-pack lets in three quarters
// of each without --force, for address spaces more crowded than a fresh
// Wine prefix's.
constexpr uint64_t kLauncherStreamLimit = uint64_t(1536) << 20;
constexpr char kLauncherStreamLimitText[] = "1536 MiB";
constexpr uint64_t kLauncherContainerLimit = uint64_t(768) << 20;
constexpr char kLauncherContainerLimitText[] = "768 MiB";

// Why a record stream of `streamSize` bytes, or its container of
// `containerSize` bytes, is more than the launcher can hold, as a phrase;
// empty when neither is. Before packing, pass 0 for the container.
std::string PayloadSizeProblem(uint64_t streamSize, uint64_t containerSize);

// Why the launcher could never start this payload's setup program, as one
// phrase that names KesmarSetup.exe: none at all, only one whose name differs
// in letter case (the launcher takes the name exactly), or one that is no
// program for Windows on x86 or x64; or the payload is too large. Empty when
// none of these holds. `stream` must be a well-formed record stream.
std::string LauncherPayloadProblem(const uint8_t* stream, uint32_t size, uint64_t containerSize,
                                   const CodePage& codePage);

// Where kesmar-pack expects a launcher to extract when it warns of long
// names: a user's temporary folder, C:\Users\<name>\AppData\Local\Temp\,
// with a user name of 20 characters (the most a local account may have),
// and kesmars with a number of up to three digits and the separator: 60
// characters. The launcher writes no path of 260 characters or more.
constexpr size_t kOrdinaryExtractionFolderLength = 60;
constexpr char kOrdinaryExtractionFolder[] = "C:\\Users\\<20 characters>\\AppData\\Local\\Temp\\kesmars999\\";

// A record whose name is too long to be extracted under such a folder.
struct LongRecordName {
  uint32_t index;     // from 0
  uint32_t offset;
  std::string shown;  // as ShownRecordName shows it
  std::string why;    // "a name of N characters: ..."
};
// Every such record of a well-formed `stream`, in stream order.
std::vector<LongRecordName> LongRecordNames(const uint8_t* stream, uint32_t size, const CodePage& codePage);

// Why `program` cannot be started as a Windows program on x86 or x64; empty
// when its headers say it can.
std::string SetupProgramProblem(const uint8_t* program, uint32_t size);

}  // namespace kesmar
