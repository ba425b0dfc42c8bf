// CreateUniqueFile: a new file under a name that nothing had, for writing beside a file that is then replaced.
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "platform/file_system.h"

namespace kesmar {
namespace {

// Names need not be secret, only new: the file is created exclusively, and
// a name that is taken is passed over. The clock and a counter keep two runs
// in one folder from trying the same names in turn.
uint64_t NextNameSeed() {
  static uint64_t counter = 0;
  uint64_t z = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) +
               (++counter) * 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

constexpr char kNameCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kAttempts = 100;

}  // namespace

std::unique_ptr<OutputFile> CreateUniqueFile(FileSystem& files, const std::string& prefix, std::string* path) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    uint64_t seed = NextNameSeed();
    std::string candidate = prefix;
    for (int i = 0; i < 6; ++i, seed /= 62) candidate += kNameCharacters[seed % 62];
    std::unique_ptr<OutputFile> file = files.CreateNewFileA(candidate);
    if (file != nullptr) {
      *path = candidate;
      return file;
    }
    // Only a name that is taken is worth another try; a folder that cannot
    // be written fails every name alike. The caller hears the creation's
    // own error.
    const int error = errno;
    const bool taken = files.GetFileAttributesA(candidate) != kInvalidFileAttributes;
    errno = error;
    if (!taken) return nullptr;
  }
  return nullptr;
}

}  // namespace kesmar
