#include "serial/event_signal.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

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

TEST(EventSignal, EitherOfTwoEndsTheWaitAndBothAreTakenWhenBothWereGiven) {
  TEventSignal output, flush;
  flush.Set();
  auto set = TEventSignal::WaitEither(output, flush);
  EXPECT_FALSE(set.First);
  EXPECT_TRUE(set.Second);
  output.Set();
  flush.Set();
  set = TEventSignal::WaitEither(output, flush);
  EXPECT_TRUE(set.First && set.Second);
  EXPECT_FALSE(output.Wait(0ms) || flush.Wait(0ms)) << "a reported signal must have been consumed";
}

// A pipe stands in for a device: its read end is ready once a byte is written.
TEST(EventSignal, AWaitWithADeviceTellsWhichEndedItAndLeavesTheDeviceUnread) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  TEventSignal wake;
  auto ended = wake.WaitWithDevice(pipeEnds[0], POLLIN, 20ms);
  EXPECT_FALSE(ended.Signalled);
  EXPECT_EQ(ended.DeviceEvents, 0) << "neither before the time";

  const char byte = 'x';
  ASSERT_EQ(::write(pipeEnds[1], &byte, 1), 1);
  ended = wake.WaitWithDevice(pipeEnds[0], POLLIN, 1000ms);
  EXPECT_FALSE(ended.Signalled);
  EXPECT_TRUE(ended.DeviceEvents & POLLIN);

  // The signal wins over a ready device, so a stop is never held up by a busy line.
  wake.Set();
  ended = wake.WaitWithDevice(pipeEnds[0], POLLIN, 1000ms);
  EXPECT_TRUE(ended.Signalled);
  EXPECT_FALSE(wake.Wait(0ms));

  // Without a device only the signal counts; a closed writer reads as a hang-up.
  ended = wake.WaitWithDevice(-1, POLLIN, 10ms);
  EXPECT_FALSE(ended.Signalled);
  ::close(pipeEnds[1]);
  char got;
  ASSERT_EQ(::read(pipeEnds[0], &got, 1), 1);
  ended = wake.WaitWithDevice(pipeEnds[0], POLLIN, 1000ms);
  EXPECT_TRUE(ended.DeviceEvents & POLLHUP);
  ::close(pipeEnds[0]);
}

}  // namespace
}  // namespace mirte
