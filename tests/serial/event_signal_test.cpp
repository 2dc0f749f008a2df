#include "serial/event_signal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace mirte {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(EventSignal, ASignalGivenBeforeTheWaitIsTakenOnceHoweverOftenItWasGivenAndResetDropsIt) {
  TEventSignal signal;
  ASSERT_TRUE(signal.Valid());
  signal.Set();
  signal.Set();
  EXPECT_TRUE(signal.Wait(0ms));
  EXPECT_FALSE(signal.Wait(0ms));
  signal.Set();
  EXPECT_TRUE(signal.Wait());
  // A reset drops a pending signal, and returns at once when there is none.
  signal.Set();
  signal.Reset();
  EXPECT_FALSE(signal.Wait(0ms));
  signal.Reset();
  EXPECT_FALSE(signal.Wait(0ms));
}

TEST(EventSignal, AWaitWithoutASignalEndsAtItsTimeNotBefore) {
  TEventSignal signal;
  const auto start = Clock::now();
  EXPECT_FALSE(signal.Wait(30ms));
  EXPECT_GE(Clock::now() - start, 30ms);
}

TEST(EventSignal, ASignalFromAnotherThreadEndsAWaitWithoutLimit) {
  TEventSignal signal;
  std::thread setter([&] {
    std::this_thread::sleep_for(10ms);
    signal.Set();
  });
  EXPECT_TRUE(signal.Wait());
  setter.join();
  EXPECT_FALSE(signal.Wait(0ms));
}

}  // namespace
}  // namespace mirte
