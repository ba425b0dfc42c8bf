// Interrupts on Windows: Ctrl-C, Ctrl-Break and a closed console run the cleanup on the handler's thread, then end the process.
#include "platform/interrupts.h"
#include "platform/win32/wide_path.h"

namespace kesmar {
namespace {

// Held by the main thread around creating and noting a file, and taken for
// good by the handler: once the cleanup has begun, no new file is noted.
struct Lock {
  Lock() { ::InitializeCriticalSection(&section); }
  CRITICAL_SECTION section;
};
Lock lock;

void (*cleanupFunction)() = nullptr;

BOOL WINAPI OnControlEvent(DWORD) {
  ::EnterCriticalSection(&lock.section);
  if (cleanupFunction != nullptr) cleanupFunction();
  // Not handled: the system's own handler ends the process, with the exit
  // code Windows gives an interrupted program.
  return FALSE;
}

}  // namespace

void OnInterrupt(void (*cleanup)()) {
  cleanupFunction = cleanup;
  // A process started with Ctrl-C ignored is never called for it.
  ::SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

InterruptsHeld::InterruptsHeld() { ::EnterCriticalSection(&lock.section); }

InterruptsHeld::~InterruptsHeld() { ::LeaveCriticalSection(&lock.section); }

void DeleteFileInCleanup(const char* path) { ::DeleteFileW(LongWidePath(path).c_str()); }

}  // namespace kesmar
