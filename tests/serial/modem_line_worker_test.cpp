#include "serial/modem_line_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace mirte {
namespace {

using namespace std::chrono_literals;

// A device whose line changes can be held up: while the gate is shut every change call
// waits, as a USB adapter's control transfer would, only longer.
class SlowLines {
public:
  int set(TModemLine line, bool raise) {
    std::unique_lock guard(lock);
    ++callsStarted;
    started.notify_all();
    opened.wait(guard, [this] { return gateOpen; });
    if (line == TModemLine::DTR) dtrEdges.push_back(raise);
    return 0;
  }
  void shut() {
    std::lock_guard guard(lock);
    gateOpen = false;
  }
  void open() {
    {
      std::lock_guard guard(lock);
      gateOpen = true;
    }
    opened.notify_all();
  }
  bool waitCallStarted(int count) {
    std::unique_lock guard(lock);
    return started.wait_for(guard, 3s, [&] { return callsStarted >= count; });
  }
  std::vector<bool> edges() {
    std::lock_guard guard(lock);
    return dtrEdges;
  }
  TModemLineWorker::TSetLine setter() {
    return [this](TModemLine line, bool raise) { return set(line, raise); };
  }

private:
  std::mutex lock;
  std::condition_variable opened, started;
  bool gateOpen = true;
  int callsStarted = 0;
  std::vector<bool> dtrEdges;
};

TEST(ModemLineWorker, FlipsPilingUpBehindASlowChangeFoldAndNeverBlockTheCaller) {
  SlowLines device;
  device.shut();
  TModemLineWorker worker(device.setter(), nullptr, true, true);
  worker.Want(TModemLine::DTR, false);
  ASSERT_TRUE(device.waitCallStarted(1));

  // The first change is stuck in the device; a board that does not wait sends on.
  bool level = false;
  for (int i = 0; i < 1001; ++i) worker.Want(TModemLine::DTR, level = !level);
  EXPECT_TRUE(level);
  device.open();
  ASSERT_TRUE(worker.WaitSettled(3s));
  EXPECT_EQ(device.edges(), (std::vector<bool>{false, true})) << "1001 flips after the first fold into one edge";

  device.shut();
  worker.Want(TModemLine::DTR, false);
  ASSERT_TRUE(device.waitCallStarted(3));
  worker.Want(TModemLine::DTR, true);
  worker.Want(TModemLine::DTR, false);
  device.open();
  ASSERT_TRUE(worker.WaitSettled(3s));
  EXPECT_EQ(device.edges(), (std::vector<bool>{false, true, false})) << "two pending flips are no change";
  EXPECT_FALSE(worker.Wanted(TModemLine::DTR));
}

TEST(ModemLineWorker, ABoardThatWaitsForEachEdgeSeesOneEdgePerFlip) {
  SlowLines device;
  TModemLineWorker worker(device.setter(), nullptr, true, true);
  bool level = true;
  for (int i = 0; i < 50; ++i) {
    worker.Want(TModemLine::DTR, level = !level);
    ASSERT_TRUE(worker.WaitSettled(3s));
  }
  std::vector<bool> edges = device.edges();
  ASSERT_EQ(edges.size(), 50u);
  for (std::size_t i = 0; i < edges.size(); ++i) EXPECT_EQ(edges[i], i % 2 == 1) << "edge " << i;
  EXPECT_EQ(worker.ChangesWritten(), 50u);
}

TEST(ModemLineWorker, ReapplyWritesBothLinesAgainAtTheirWantedLevels) {
  std::vector<std::pair<TModemLine, bool>> calls;
  std::mutex lock;
  TModemLineWorker worker(
      [&](TModemLine line, bool raise) {
        std::lock_guard guard(lock);
        calls.emplace_back(line, raise);
        return 0;
      },
      nullptr, true, false);
  ASSERT_TRUE(worker.WaitSettled(1s));
  EXPECT_EQ(worker.ChangesWritten(), 0u) << "levels the device already has are not written";
  worker.Reapply();
  ASSERT_TRUE(worker.WaitSettled(3s));
  std::lock_guard guard(lock);
  EXPECT_EQ(calls, (std::vector<std::pair<TModemLine, bool>>{{TModemLine::DTR, true}, {TModemLine::RTS, false}}));
}

TEST(ModemLineWorker, WatchedLinesAreReadAtMostTenTimesASecondAndNotAgainWhereTheDeviceHasNone) {
  // The worker's first read comes whenever its thread first runs, which a loaded machine
  // can put off for long; the bound on reads follows from the time that really passed.
  auto eventually = [](const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
    return done();
  };
  std::atomic<int> reads{0};
  const auto started = std::chrono::steady_clock::now();
  {
    TModemLineWorker worker(nullptr, [&]() -> std::optional<TModemInputs> {
      ++reads;
      return MiCts | MiDcd;
    }, true, true);
    EXPECT_TRUE(eventually([&] { return worker.Inputs() == (MiCts | MiDcd); }));
    std::this_thread::sleep_for(250ms);
  }
  const auto tenths =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count() / 100;
  EXPECT_GE(reads.load(), 1);
  EXPECT_LE(reads.load(), 1 + tenths);

  std::atomic<int> refused{0};
  {
    TModemLineWorker worker(nullptr, [&]() -> std::optional<TModemInputs> {
      ++refused;
      return std::nullopt;
    }, true, true);
    EXPECT_TRUE(eventually([&] { return refused.load() > 0; }));
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(worker.Inputs(), 0);
  }
  EXPECT_EQ(refused.load(), 1);
}

}  // namespace
}  // namespace mirte
