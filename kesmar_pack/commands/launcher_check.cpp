// LauncherPayloadProblem: the setup program and the stream size, checked as the launcher will meet them.
#include "kesmar_pack/commands/launcher_check.h"

#include <cstdio>

#include "launcher/font_pass.h"
#include "payload/payload_format.h"
#include "platform/file_system.h"
#include "platform/ntfs_order.h"
#include "pe/pe_headers.h"
#include "kesmar_pack/commands/payload_file.h"

namespace kesmar {
namespace {

constexpr char kNotAProgram[] = "KesmarSetup.exe is not a Windows program for x86 or x64: ";

constexpr uint32_t kMachineI386 = 0x14C;
constexpr uint32_t kMachineAmd64 = 0x8664;
constexpr uint32_t kImageFileExecutable = 0x0002;
constexpr uint32_t kImageFileDll = 0x2000;

std::string Hex4(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
  return text;
}

}  // namespace

std::string PayloadSizeProblem(uint64_t streamSize, uint64_t containerSize) {
  if (streamSize > kLauncherStreamLimit) {
    return "record stream of " + std::to_string(streamSize) + " bytes (" + std::to_string(streamSize >> 20) +
           " MiB) is more than the launcher can extract (at most " + kLauncherStreamLimitText + ")";
  }
  if (containerSize > kLauncherContainerLimit) {
    return "container of " + std::to_string(containerSize) + " bytes (" + std::to_string(containerSize >> 20) +
           " MiB) is more than the launcher can map with its exe (at most " + kLauncherContainerLimitText +
           "; files that do not compress count in full)";
  }
  return "";
}

std::string SetupProgramProblem(const uint8_t* program, uint32_t size) {
  const PeBytes file(program, size);
  uint32_t mz = 0;
  if (!file.U16(0, &mz) || mz != 0x5A4D) return std::string(kNotAProgram) + "it does not start with \"MZ\"";
  PeHeaders headers;
  std::string problem;
  if (!ReadPeHeaders(file, &headers, &problem)) return kNotAProgram + problem;
  if (headers.machine != kMachineI386 && headers.machine != kMachineAmd64) {
    return kNotAProgram + std::string("made for machine type ") + Hex4(headers.machine);
  }
  uint32_t characteristics = 0;
  file.U16(headers.coff + 18, &characteristics);  // inside the header just read
  if ((characteristics & kImageFileDll) != 0) return kNotAProgram + std::string("a DLL");
  if ((characteristics & kImageFileExecutable) == 0) return kNotAProgram + std::string("not marked executable");
  return "";
}

std::string LauncherPayloadProblem(const uint8_t* stream, uint32_t size, uint64_t containerSize,
                                   const CodePage& codePage) {
  const std::string problem = PayloadSizeProblem(size, containerSize);
  if (!problem.empty()) return problem;
  const std::string wanted = codePage.FoldKey(kSetupProgramName);
  std::string otherCase;
  PayloadRecord record;
  for (uint32_t offset = 0; offset < size && ReadRecord(stream, size, offset, &record); offset = record.next) {
    // The launcher starts the record of exactly this name, letter case included.
    if (record.name == kSetupProgramName) return SetupProgramProblem(record.data, record.dataSize);
    if (otherCase.empty() && codePage.FoldKey(record.name) == wanted) otherCase = record.name;
  }
  if (otherCase.empty()) return "no KesmarSetup.exe (the launcher would have nothing to start)";
  return "no KesmarSetup.exe, only " + ShownRecordName(otherCase, codePage) +
         " (the launcher looks for the name exactly as written, letter case included)";
}

std::vector<LongRecordName> LongRecordNames(const uint8_t* stream, uint32_t size, const CodePage& codePage) {
  std::vector<LongRecordName> found;
  PayloadRecord record;
  uint32_t index = 0;
  for (uint32_t offset = 0; offset < size && ReadRecord(stream, size, offset, &record);
       offset = record.next, ++index) {
    // Windows counts a path's characters in UTF-16.
    std::string utf8, problem;
    std::u16string units;
    if (!codePage.Decode(record.name, &utf8, &problem) || !Utf8ToUtf16(utf8, &units)) continue;
    if (kOrdinaryExtractionFolderLength + units.size() < kMaxPath) continue;
    found.push_back({index, offset, ShownRecordName(record.name, codePage),
                     "a name of " + std::to_string(units.size()) + " characters: under a temporary folder of " +
                         "ordinary length (" + kOrdinaryExtractionFolder + ", " +
                         std::to_string(kOrdinaryExtractionFolderLength) + " characters) its path has " +
                         std::to_string(kOrdinaryExtractionFolderLength + units.size()) +
                         ", and the launcher fails on a path of " + std::to_string(kMaxPath) + " or more"});
  }
  return found;
}

}  // namespace kesmar
