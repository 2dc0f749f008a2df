// The port's workers must never spin, never leak, and never let two opens share a device.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "serial/dispatcher.h"
#include "serial/port_rig.h"

extern char** environ;

namespace mirte {
namespace {

using namespace std::chrono_literals;
using testing::PortRig;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr double CpuShareLimit = 0.05;  // the sanitizers make every wake-up dearer
#else
constexpr double CpuShareLimit = 0.02;
#endif

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Lets the main thread sit in its message loop for `window` and returns the share of one
// core the whole process used meanwhile.
double cpuShareWhileIdle(TPlainMainThreadQueue& queue, std::chrono::milliseconds window) {
  double before = processCpuSeconds();
  auto start = std::chrono::steady_clock::now();
  auto end = start + window;
  for (auto now = start; now < end; now = std::chrono::steady_clock::now()) {
    queue.WaitForMessages(std::chrono::duration_cast<std::chrono::milliseconds>(end - now) + 1ms);
    queue.ProcessMessages();
  }
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return (processCpuSeconds() - before) / wall;
}

// A message posted from another thread is handled promptly by the main thread's loop.
bool mainThreadResponds(PortRig& rig) {
  struct Flag : IMessageTarget {
    bool handled = false;
    std::intptr_t HandleMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {
      handled = true;
      return 0;
    }
  };
  auto flag = std::make_shared<Flag>();
  std::thread poster([&] { rig.queue.PostMessage(flag, 1, 0, 0); });
  poster.join();
  return rig.pumpUntil([&] { return flag->handled; }, 3000ms);
}

std::size_t entriesIn(const char* folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

TEST(Reliability, AFullRingWithBytesWaitingInTheDriverDoesNotSpin) {
  PortRig rig;
  rig.port.SetOnTriggerAvail([](TCustomComPort&, std::uint16_t) {});  // reads nothing
  rig.port.SetOpen(true);
  auto* dispatcher = rig.port.CurrentDispatcher();
  rig.board.write(testing::patternBytes(12000));
  ASSERT_TRUE(rig.pumpUntil([&] { return dispatcher->InBuffUsed() == ReceiveBufferSize; }));
  EXPECT_GT(rig.port.InputInDriver(), 0u) << "the rest waits in the device, where the board service asks for it";

  EXPECT_LT(cpuShareWhileIdle(rig.queue, 1000ms), CpuShareLimit);
  EXPECT_TRUE(mainThreadResponds(rig));
  // A handler that reads nothing is told of its bytes again at every pass, so the close
  // may meet a delivery on its way; it completes once the main thread has handled that.
  rig.port.SetOpen(false);
  EXPECT_TRUE(rig.pumpUntil([&] { return rig.port.PortState() == StateClosed; }));
}

TEST(Reliability, ADeviceThatGoesAwayWhileOpenDoesNotSpinAndStillCloses) {
  PortRig rig;
  std::size_t received = 0;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    while (port.InputReady()) {
      port.ReadChar();
      port.SetDTR(!port.DTR());
      ++received;
    }
  });
  rig.port.SetOpen(true);
  rig.board.write("last words");
  ASSERT_TRUE(rig.pumpUntil([&] { return received == 10; }));
  rig.board.closeMaster();
  rig.port.WriteString("into the void");

  EXPECT_LT(cpuShareWhileIdle(rig.queue, 1000ms), CpuShareLimit);
  EXPECT_TRUE(mainThreadResponds(rig));
  EXPECT_TRUE(rig.pumpUntil([&] { return rig.port.OutputPending() == 0; })) << "output to a gone device is dropped";
  rig.port.SetDTR(!rig.port.DTR());
  rig.port.SetOpen(false);
  EXPECT_EQ(rig.port.PortState(), StateClosed);
}

TEST(Reliability, OpeningAndClosingRepeatedlyLeaksNoDescriptorAndNoThread) {
  PortRig rig;
  rig.port.SetOnTriggerAvail([](TCustomComPort& port, std::uint16_t) {
    while (port.InputReady()) port.ReadChar();
  });
  // Warm up once, so lazily created process state is not counted as a leak.
  rig.port.SetOpen(true);
  rig.port.SetOpen(false);
  std::size_t descriptors = entriesIn("/proc/self/fd");
  // A worker that has done its bookkeeping may still be on its way out of the system.
  std::size_t threads = entriesIn("/proc/self/task");
  rig.queue.PumpFor(100ms);
  threads = std::min(threads, entriesIn("/proc/self/task"));
  for (int i = 0; i < 1000; ++i) {
    rig.port.SetOpen(true);
    if (i % 100 == 0) rig.board.write("x");
    rig.port.SetOpen(false);
    // A close that meets an announcement on its way to the main thread finishes later.
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.port.PortState() == StateClosed; })) << "round " << i;
  }
  EXPECT_EQ(entriesIn("/proc/self/fd"), descriptors);
  EXPECT_TRUE(rig.pumpUntil([&] { return entriesIn("/proc/self/task") <= threads; }))
      << entriesIn("/proc/self/task") << " threads, " << threads << " before";
}

TEST(Reliability, AnotherProgramCannotTakeAnOpenPort) {
  PortRig rig;
  rig.port.SetOpen(true);
  // util-linux flock asks for the same non-blocking exclusive lock any second open does.
  std::string path = rig.board.slavePath();
  const char* argv[] = {"flock", "-n", "-E", "99", path.c_str(), "true", nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawnp(&child, "flock", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 99);
}

}  // namespace
}  // namespace mirte
