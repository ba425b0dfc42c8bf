// The thread and monitor that the encoder's match finder runs on.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#endif

#include "platform/threads.h"

namespace kesmar {
namespace {

struct Handover {
  Monitor monitor;
  int value = 0;
  bool signalsBlocked = false;
};

void Answer(void* argument) {
  auto& handover = *static_cast<Handover*>(argument);
  bool blocked = true;
#ifndef _WIN32
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  blocked = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
#endif
  handover.monitor.Lock();
  handover.value = 42;
  handover.signalsBlocked = blocked;
  handover.monitor.NotifyAll();
  handover.monitor.Unlock();
}

// The value crosses under the lock; on Linux the thread takes no SIGINT or
// SIGTERM, so the interrupt cleanup always runs on the main thread, where
// InterruptsHeld can hold it off.
TEST(Threads, StartHandOverJoin) {
  Handover handover;
  Thread thread;
  ASSERT_TRUE(thread.Start(Answer, &handover));
  handover.monitor.Lock();
  while (handover.value == 0) handover.monitor.Wait();
  handover.monitor.Unlock();
  thread.Join();
  EXPECT_FALSE(thread.Running());
  EXPECT_EQ(handover.value, 42);
  EXPECT_TRUE(handover.signalsBlocked);
}

}  // namespace
}  // namespace kesmar
