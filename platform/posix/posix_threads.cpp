// Threads on Linux: pthreads, started with every signal blocked.
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <new>

#include "platform/threads.h"

namespace kesmar {

struct ThreadEntry {
  static void Run(Thread* thread) { thread->run_(thread->argument_); }
};

namespace {

struct MonitorState {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
};

struct ThreadState {
  pthread_t thread;
};

extern "C" void* RunThread(void* thread) {
  ThreadEntry::Run(static_cast<Thread*>(thread));
  return nullptr;
}

}  // namespace

Monitor::Monitor() {
  static_assert(sizeof(MonitorState) <= sizeof storage_, "Monitor's storage holds a mutex and a condition");
  auto* state = new (storage_) MonitorState;
  // Default attributes: these cannot fail on Linux, which allocates nothing for them.
  pthread_mutex_init(&state->mutex, nullptr);
  pthread_cond_init(&state->condition, nullptr);
}

Monitor::~Monitor() {
  auto* state = reinterpret_cast<MonitorState*>(storage_);
  pthread_cond_destroy(&state->condition);
  pthread_mutex_destroy(&state->mutex);
}

void Monitor::Lock() { pthread_mutex_lock(&reinterpret_cast<MonitorState*>(storage_)->mutex); }

void Monitor::Unlock() { pthread_mutex_unlock(&reinterpret_cast<MonitorState*>(storage_)->mutex); }

void Monitor::Wait() {
  auto* state = reinterpret_cast<MonitorState*>(storage_);
  pthread_cond_wait(&state->condition, &state->mutex);
}

void Monitor::NotifyAll() { pthread_cond_broadcast(&reinterpret_cast<MonitorState*>(storage_)->condition); }

bool Thread::Start(void (*run)(void*), void* argument) {
  static_assert(sizeof(ThreadState) <= sizeof storage_, "Thread's storage holds a pthread_t");
  if (running_) return false;
  run_ = run;
  argument_ = argument;
  // The new thread inherits the mask: a signal for the process then always
  // finds the main thread, as it did before there was a second one.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  auto* state = reinterpret_cast<ThreadState*>(storage_);
  const int error = pthread_create(&state->thread, nullptr, RunThread, this);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (error != 0) return false;
  running_ = true;
  return true;
}

void Thread::Join() {
  if (!running_) return;
  pthread_join(reinterpret_cast<ThreadState*>(storage_)->thread, nullptr);
  running_ = false;
}

int UsableProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? int(online) : 1;
}

}  // namespace kesmar
