// Interrupts on Linux: SIGINT and SIGTERM run the cleanup in a signal handler, then end the process by that signal.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "platform/interrupts.h"

namespace kesmar {
namespace {

void (*volatile cleanupFunction)() = nullptr;

extern "C" void CleanUpAndDie(int signal) {
  const int saved = errno;
  if (cleanupFunction != nullptr) cleanupFunction();
  errno = saved;
  // SA_RESETHAND put the default action back; the signal is blocked while
  // this runs and ends the process as soon as the handler returns.
  ::raise(signal);
}

thread_local int heldDepth = 0;
thread_local sigset_t maskBeforeHold;

}  // namespace

void OnInterrupt(void (*cleanup)()) {
  cleanupFunction = cleanup;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = CleanUpAndDie;
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

InterruptsHeld::InterruptsHeld() {
  if (heldDepth++ != 0) return;
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &held, &maskBeforeHold);
}

InterruptsHeld::~InterruptsHeld() {
  if (--heldDepth == 0) ::pthread_sigmask(SIG_SETMASK, &maskBeforeHold, nullptr);
}

void DeleteFileInCleanup(const char* path) { ::unlink(path); }

}  // namespace kesmar
