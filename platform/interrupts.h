// Interrupts of a host tool (SIGINT, SIGTERM, SIGHUP and SIGQUIT on Linux; Ctrl-C, Ctrl-Break and a closed console on Windows).
#pragma once

namespace kesmar {

// From now on, an interrupt first calls `cleanup` and then ends the process
// as the interrupt would have without it. On Linux `cleanup` runs in a
// signal handler and may only do what one may; on Windows it runs on a
// thread of its own. An interrupt that the process was started to ignore
// stays ignored. Call once.
void OnInterrupt(void (*cleanup)());

// While an object of this type is alive, the cleanup waits: hold one where
// a file is created and noted, so that no cleanup comes between the two.
// Holds nest.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

// Deletes the file at the UTF-8 `path`, from within the cleanup.
void DeleteFileInCleanup(const char* path);

}  // namespace kesmar
