// Received bytes reach the handler even when a delivery outlives its time limit or the ring
// fills while the handler does not read: nothing waits for the board to send more. These
// hold the main thread past the 3000 ms delivery limit, so each takes a few seconds.
#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "serial/dispatcher.h"
#include "serial/port_rig.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::PortRig;

constexpr auto PastTheLimit = kHandlerTimeLimit + 500ms;

struct HeldDelivery {
  const char* name;
  // True: the handler itself is held after reading what it was told of, and the byte
  // arrives meanwhile. False: the main thread is frozen before the delivery can start,
  // so the announcement is withdrawn unseen.
  bool insideHandler;
};

void PrintTo(const HeldDelivery& held, std::ostream* out) { *out << held.name; }

class DeliveryAfterAStall : public ::testing::TestWithParam<HeldDelivery> {};

TEST_P(DeliveryAfterAStall, TheByteIsDeliveredSoonAfterTheThawWithNothingMoreSent) {
  PortRig rig;
  std::string received;
  bool holdNext = GetParam().insideHandler;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    while (port.InputReady()) received.push_back(static_cast<char>(port.ReadChar()));
    if (std::exchange(holdNext, false)) {
      rig.board.write("b");
      std::this_thread::sleep_for(PastTheLimit);
    }
  });
  rig.port.SetOpen(true);

  rig.board.write("a");
  if (GetParam().insideHandler) {
    ASSERT_TRUE(rig.pumpUntil([&] { return !received.empty(); }));
  } else {
    rig.board.write("b");
    std::this_thread::sleep_for(PastTheLimit);
  }
  auto thawed = Clock::now();
  ASSERT_TRUE(rig.pumpUntil([&] { return received.size() == 2; }, 2000ms)) << "received: " << received;
  auto late = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - thawed);
  EXPECT_LT(late, 100ms);
  EXPECT_EQ(received, "ab");
}

INSTANTIATE_TEST_SUITE_P(Stress, DeliveryAfterAStall,
                         ::testing::Values(HeldDelivery{"HandlerHeld", true}, HeldDelivery{"MainThreadFrozen", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeliveryStress, ARingFilledWhileTheHandlerHoldsThenAWholeRingMoreAllArriveInOrder) {
  PortRig rig;
  bool hold = true;
  std::vector<std::uint8_t> received;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    while (!hold && port.InputReady()) received.push_back(port.ReadChar());
  });
  rig.port.SetOpen(true);
  auto* dispatcher = rig.port.CurrentDispatcher();

  // The ring's worth plus a rest that waits in the driver, then exactly one ring more.
  constexpr std::size_t DriverRest = 1000;
  auto sent = testing::patternBytes(2 * ReceiveBufferSize + DriverRest, 5);
  auto split = sent.begin() + ReceiveBufferSize + DriverRest;
  rig.board.write(std::vector<std::uint8_t>(sent.begin(), split));
  ASSERT_TRUE(rig.pumpUntil([&] { return dispatcher->InBuffUsed() == ReceiveBufferSize; }));
  rig.board.write(std::vector<std::uint8_t>(split, sent.end()));
  rig.queue.PumpFor(100ms);
  EXPECT_TRUE(received.empty());

  // Only the handler reads from here on, and nothing more is sent.
  hold = false;
  ASSERT_TRUE(rig.pumpUntil([&] { return received.size() >= sent.size(); }, 5000ms))
      << received.size() << " of " << sent.size();
  EXPECT_EQ(received, sent);
}

}  // namespace
}  // namespace mirte
