// kesmar-bench-extract: the launcher's extraction path on the host, timed, for make bench.
//
// Usage: kesmar-bench-extract <container file> <repeats>
// Serves the container as the payload resource, runs ExtractPayload over the
// machine's file system (folder kesmarsN in the temporary folder: $TMPDIR on
// Linux, %TEMP% in the Windows build), then removes what it
// wrote. Fonts are not installed: the Fonts folder is reported missing, so
// the font files are only deleted. Prints the best extraction time and the
// process's peak resident memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "launcher/cleanup_list.h"
#include "launcher/extract_payload.h"
#include "platform/file_system.h"
#include "platform/fonts.h"
#include "platform/resources.h"
#include "platform/security.h"

namespace kesmar {
namespace {

// The container bytes as the one resource there is.
class MemoryResources final : public ResourceApi {
 public:
  explicit MemoryResources(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  ResourceInfo* FindResourceA(const std::string&, const std::string&) override {
    return reinterpret_cast<ResourceInfo*>(&bytes_);
  }
  ResourceData* LoadResource(ResourceInfo* info) override {
    return reinterpret_cast<ResourceData*>(info);
  }
  const void* LockResource(ResourceData*) override { return bytes_.data(); }
  uint32_t SizeofResource(ResourceInfo*) override { return uint32_t(bytes_.size()); }

 private:
  std::vector<uint8_t> bytes_;
};

// No Fonts folder: extraction only.
class NoFonts final : public FontApi {
 public:
  bool SHGetFolderLocation(int, ItemIdList**) override { return false; }
  bool SHGetPathFromIDListA(const ItemIdList*, char*) override { return false; }
  void CoTaskMemFree(ItemIdList*) override {}
  int AddFontResourceA(const std::string&) override { return 0; }
  bool WriteProfileStringA(const std::string&, const std::string&, const std::string&) override {
    return false;
  }
  bool CreateBroadcastThread() override { return false; }
  bool SHGetFolderPathA(int, std::string*) override { return false; }
  bool SHGetFolderPathW(int, std::wstring*) override { return false; }
  std::unique_ptr<RegistryKey> RegCreateKeyExA(const std::string&) override { return nullptr; }
  bool RegSetValueExA(RegistryKey&, const std::string&, const std::string&) override {
    return false;
  }
};

// The peak resident size of this process image, VmHWM (-1 where there is no
// /proc, as on Windows). getrusage's ru_maxrss would also count the parent's
// size at the fork before exec.
long PeakResidentKib() {
#ifdef _WIN32
  return -1;  // Wine would hand us its host process's /proc entry
#endif
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int Main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <container file> <repeats>\n", argv[0]);
    return 2;
  }
  // Read in one piece into a block of its exact size, as the resource is one
  // mapped block in the launcher: no growth, no second copy at any moment.
  std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
  if (!in) return 2;
  std::vector<uint8_t> bytes(size_t(in.tellg()));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()))) return 2;
  const int repeats = std::max(1, std::atoi(argv[2]));

  auto files = CreateNativeFileSystem();
  MemoryResources resources(std::move(bytes));
  NoFonts fonts;
  auto security = CreateNativeSecurityApi();
  Platform platform;
  platform.files = files.get();
  platform.resources = &resources;
  platform.fonts = &fonts;
  platform.security = security.get();

  double best = 1e9;
  for (int i = 0; i < repeats; ++i) {
    CleanupList list(*files);
    const auto start = std::chrono::steady_clock::now();
    const bool extracted = ExtractPayload(platform, nullptr, nullptr, list);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!extracted) {
      std::fprintf(stderr, "extraction failed\n");
      return 1;
    }
    best = std::min(best, took.count());
    if (!list.RemoveExtractedFiles()) {
      std::fprintf(stderr, "could not remove the extracted files\n");
      return 1;
    }
  }
  std::printf("extract_seconds=%.6f peak_rss_kib=%ld\n", best, PeakResidentKib());
  return 0;
}

}  // namespace
}  // namespace kesmar

int main(int argc, char** argv) { return kesmar::Main(argc, argv); }
