// Threads on Windows: CreateThread, a slim reader/writer lock and a condition variable.
#include <new>

#include "platform/threads.h"
#include "platform/win32/windows_api.h"

namespace kesmar {

struct ThreadEntry {
  static void Run(Thread* thread) { thread->run_(thread->argument_); }
};

namespace {

struct MonitorState {
  SRWLOCK lock;
  CONDITION_VARIABLE condition;
};

DWORD WINAPI RunThread(void* thread) {
  ThreadEntry::Run(static_cast<Thread*>(thread));
  return 0;
}

}  // namespace

Monitor::Monitor() {
  static_assert(sizeof(MonitorState) <= sizeof storage_, "Monitor's storage holds a lock and a condition");
  auto* state = new (storage_) MonitorState;
  InitializeSRWLock(&state->lock);
  InitializeConditionVariable(&state->condition);
}

// Neither object holds anything of the system's to give back.
Monitor::~Monitor() = default;

void Monitor::Lock() { AcquireSRWLockExclusive(&reinterpret_cast<MonitorState*>(storage_)->lock); }

void Monitor::Unlock() { ReleaseSRWLockExclusive(&reinterpret_cast<MonitorState*>(storage_)->lock); }

void Monitor::Wait() {
  auto* state = reinterpret_cast<MonitorState*>(storage_);
  SleepConditionVariableSRW(&state->condition, &state->lock, INFINITE, 0);
}

void Monitor::NotifyAll() { WakeAllConditionVariable(&reinterpret_cast<MonitorState*>(storage_)->condition); }

bool Thread::Start(void (*run)(void*), void* argument) {
  static_assert(sizeof(HANDLE) <= sizeof storage_, "Thread's storage holds a handle");
  if (running_) return false;
  run_ = run;
  argument_ = argument;
  // A console control event runs its handler on a thread of the system's,
  // which ends the process, this thread with it: nothing to block here.
  HANDLE thread = CreateThread(nullptr, 0, RunThread, this, 0, nullptr);
  if (thread == nullptr) return false;
  *reinterpret_cast<HANDLE*>(storage_) = thread;
  running_ = true;
  return true;
}

void Thread::Join() {
  if (!running_) return;
  HANDLE thread = *reinterpret_cast<HANDLE*>(storage_);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  running_ = false;
}

int UsableProcessorCount() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    int count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? int(info.dwNumberOfProcessors) : 1;
}

}  // namespace kesmar
