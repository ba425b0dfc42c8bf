// A thread to run one function, and a lock with one condition: what the encoder's match-finder thread needs.
#pragma once

namespace kesmar {

// A lock with one condition variable on it, for two threads that hand work
// to each other. Not copied or moved: the system's objects live inside.
class Monitor {
 public:
  Monitor();
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  void Lock();
  void Unlock();
  // Held: lets the lock go, sleeps until NotifyAll (or, rarely, for no
  // reason: callers wait in a loop on their own condition), takes it again.
  void Wait();
  void NotifyAll();

 private:
  alignas(8) unsigned char storage_[128];
};

// One thread running one function. The owner joins it before it goes; the
// destructor joins a thread still running.
class Thread {
 public:
  Thread() = default;
  ~Thread() { Join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `run(argument)` on a new thread; false when none could be had.
  // On Linux the thread starts with every signal blocked, so that SIGINT and
  // SIGTERM reach the main thread, where InterruptsHeld holds them off.
  bool Start(void (*run)(void*), void* argument);
  // Waits for the thread to end; nothing when none is running.
  void Join();
  bool Running() const { return running_; }

 private:
  friend struct ThreadEntry;  // the system's entry point, which calls run_

  void (*run_)(void*) = nullptr;
  void* argument_ = nullptr;
  bool running_ = false;
  alignas(8) unsigned char storage_[16];
};

// The processors this process may run on (its affinity), at least 1.
int UsableProcessorCount();

}  // namespace kesmar
