// The registry of temporary files, and the cleanup that deletes them on an interrupt.
#include "kesmar_pack/commands/temporary_files.h"

#include <atomic>
#include <csignal>
#include <cstring>

namespace kesmar {
namespace {

// The cleanup may run in a signal handler, which may only read plain memory:
// fixed slots, each a path and a flag that says whether it is in use.
// Writers hold interrupts meanwhile. A slot holds a path longer than a
// Windows MAX_PATH, in UTF-8.
constexpr int kSlots = 8;
constexpr size_t kSlotSize = 8192;
char slotPath[kSlots][kSlotSize];
volatile std::sig_atomic_t slotUsed[kSlots];

void DeleteTemporaryFiles() {
  for (int i = 0; i < kSlots; ++i) {
    if (slotUsed[i]) DeleteFileInCleanup(slotPath[i]);
  }
}

}  // namespace

void InstallTemporaryFileCleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  OnInterrupt(DeleteTemporaryFiles);
}

bool RegisterTemporaryFile(const std::string& path) {
  if (path.size() >= kSlotSize) return false;
  InterruptsHeld held;
  for (int i = 0; i < kSlots; ++i) {
    if (slotUsed[i]) continue;
    std::memcpy(slotPath[i], path.c_str(), path.size() + 1);
    // The path is whole before the cleanup, on any thread, may read it.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    slotUsed[i] = 1;
    return true;
  }
  return false;
}

void ForgetTemporaryFile(const std::string& path) {
  InterruptsHeld held;
  for (int i = 0; i < kSlots; ++i) {
    if (slotUsed[i] && path == slotPath[i]) {
      slotUsed[i] = 0;
      return;
    }
  }
}

bool TemporaryFile::Create(const std::string& prefix) {
  Remove();
  std::string path;
  auto file = CreateUniqueFile(files_, prefix, &path);
  if (file == nullptr) return false;
  path_ = path;
  return file->Close();
}

void TemporaryFile::Remove() {
  if (path_.empty()) return;
  files_.DeleteFileA(path_);
  path_.clear();
}

}  // namespace kesmar
