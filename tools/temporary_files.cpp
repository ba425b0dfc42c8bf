// The registry of temporary files and the signal handler that deletes them.
#include "tools/temporary_files.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace kesmar {
namespace {

// The handler may only read plain memory: fixed slots, each a path and a
// flag that says whether it is in use. Writers hold the signals meanwhile.
constexpr int kSlots = 8;
char slotPath[kSlots][PATH_MAX];
volatile sig_atomic_t slotUsed[kSlots];

extern "C" void DeleteTemporaryFilesAndDie(int signal) {
  const int saved = errno;
  for (int i = 0; i < kSlots; ++i) {
    if (slotUsed[i]) ::unlink(slotPath[i]);
  }
  errno = saved;
  // SA_RESETHAND put the default action back; the signal is blocked while
  // this runs and ends the process as soon as the handler returns.
  ::raise(signal);
}

}  // namespace

void InstallTemporaryFileCleanup() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = DeleteTemporaryFilesAndDie;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  for (int signal : {SIGINT, SIGTERM}) {
    struct sigaction current;
    // A signal ignored by whoever started us (nohup, a shell's background
    // job) stays ignored.
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

SignalsHeld::SignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

bool RegisterTemporaryFile(const std::string& path) {
  if (path.size() >= PATH_MAX) return false;
  SignalsHeld held;
  for (int i = 0; i < kSlots; ++i) {
    if (slotUsed[i]) continue;
    std::memcpy(slotPath[i], path.c_str(), path.size() + 1);
    // The path is whole before a handler, on any thread, may read it.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    slotUsed[i] = 1;
    return true;
  }
  return false;
}

void ForgetTemporaryFile(const std::string& path) {
  SignalsHeld held;
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
