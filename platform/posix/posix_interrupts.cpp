// Interrupts on Linux: SIGINT, SIGTERM, SIGHUP and SIGQUIT run the cleanup in a signal handler, then end the process by that signal.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

// Ctrl-C, a kill, a closed terminal and the quit key all end a run half done.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

sigset_t InterruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kInterrupts) sigaddset(&set, signal);
  return set;
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
  action.sa_mask = InterruptSet();
  for (int signal : kInterrupts) {
    struct sigaction current;
    // A signal ignored by whoever started us (nohup, a shell's background
    // job) stays ignored.
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

InterruptsHeld::InterruptsHeld() {
  if (heldDepth++ != 0) return;
  const sigset_t held = InterruptSet();
  ::pthread_sigmask(SIG_BLOCK, &held, &maskBeforeHold);
}

InterruptsHeld::~InterruptsHeld() {
  if (--heldDepth == 0) ::pthread_sigmask(SIG_SETMASK, &maskBeforeHold, nullptr);
}

void DeleteFileInCleanup(const char* path) { ::unlink(path); }

}  // namespace kesmar
