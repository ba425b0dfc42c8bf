// Fuzz target: the launcher writer on any stub; a launcher it writes must carry the payload where readers look, and write again to itself.
#include <cstdlib>
#include <string>
#include <vector>

#include "pe/launcher_writer.h"
#include "pe/pe_resource.h"

using namespace kesmar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string payload = "a payload container, as far as the writer knows";
  const auto* bytes = reinterpret_cast<const uint8_t*>(payload.data());
  std::vector<uint8_t> launcher;
  std::string problem;
  if (!WriteLauncher(data, size, bytes, uint32_t(payload.size()), &launcher, &problem)) {
    if (problem.empty()) abort();  // every refusal says why
    return 0;
  }
  PeResourceData found;
  if (!FindPeResource(launcher.data(), launcher.size(), "RAW", 130, &found, &problem)) abort();
  if (std::string(launcher.begin() + long(found.fileOffset), launcher.begin() + long(found.fileOffset + found.size)) !=
      payload) {
    abort();
  }
  std::vector<uint8_t> again;
  if (!WriteLauncher(launcher.data(), launcher.size(), bytes, uint32_t(payload.size()), &again, &problem) ||
      again != launcher) {
    abort();
  }
  return 0;
}
