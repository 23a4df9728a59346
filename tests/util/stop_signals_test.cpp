#include "util/stop_signals.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <thread>

#include <gtest/gtest.h>

#include "util/event_signal.h"

namespace quenby {
namespace {

bool BlockedHere(int signal_number) {
  sigset_t current;
  pthread_sigmask(SIG_BLOCK, nullptr, &current);
  return sigismember(&current, signal_number) == 1;
}

TEST(StopSignals, WaitTakesEachPendingStopSignalAndTheMaskIsRestoredAfterwards) {
  ASSERT_FALSE(BlockedHere(SIGTERM));
  {
    TStopSignals signals;
    // Sent to this thread only, so they wait for Wait instead of ending the test.
    raise(SIGTERM);
    EXPECT_EQ(signals.Wait(), SIGTERM);
    raise(SIGINT);
    EXPECT_EQ(signals.Wait(), SIGINT);
  }
  EXPECT_FALSE(BlockedHere(SIGTERM));
  EXPECT_FALSE(BlockedHere(SIGINT));
}

TEST(StopSignals, LaterThreadsInheritTheBlockAndReleaseLiftsItHereOnly) {
  TStopSignals signals;
  bool blocked_in_thread = false;
  std::thread([&blocked_in_thread] {
    blocked_in_thread = BlockedHere(SIGTERM) && BlockedHere(SIGINT);
  }).join();
  EXPECT_TRUE(blocked_in_thread);
  signals.Release();
  EXPECT_FALSE(BlockedHere(SIGTERM));
  EXPECT_FALSE(BlockedHere(SIGINT));
}

bool Readable(int descriptor) {
  pollfd watch{descriptor, POLLIN, 0};
  return poll(&watch, 1, 0) == 1;
}

TEST(StopSignals, DescriptorTurnsReadableWhileASignalIsPendingAndTakesItOnce) {
  TStopSignals signals;
  const TFileHandle descriptor = signals.OpenDescriptor();
  EXPECT_FALSE(Readable(descriptor.Get()));
  EXPECT_EQ(TStopSignals::TakeFromDescriptor(descriptor.Get()), 0);
  raise(SIGTERM);
  EXPECT_TRUE(Readable(descriptor.Get()));
  EXPECT_EQ(TStopSignals::TakeFromDescriptor(descriptor.Get()), SIGTERM);
  EXPECT_FALSE(Readable(descriptor.Get()));
}

TEST(EventSignal, RaisedOnAnotherThreadIsSeenOnceUntilTaken) {
  TEventSignal done;
  EXPECT_FALSE(Readable(done.Descriptor()));
  done.Take();  // not raised: returns at once
  std::thread([&done] { done.Raise(); }).join();
  EXPECT_TRUE(Readable(done.Descriptor()));
  done.Take();
  EXPECT_FALSE(Readable(done.Descriptor()));
}

}  // namespace
}  // namespace quenby
