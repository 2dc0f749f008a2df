// The port over a pty whose modem-line changes each cost 5 ms, a slow USB adapter's control
// transfers: this executable is linked to the modem-line shim. The cost is set high so
// that serving bytes behind the lines would take seconds, far from a loaded machine's noise.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <chrono>
#include <cstdlib>

#include "serial/dispatcher.h"
#include "serial/port_rig.h"

extern "C" long mirte_modem_line_changes();

namespace mirte {
namespace {

using namespace std::chrono_literals;

TEST(CostlyModemLines, ABoardThatDoesNotWaitIsServedAtOnceAndDtrEndsAsTheByteCountSays) {
  ::setenv("MIRTE_MODEM_CHANGE_US", "5000", 1);
  testing::PortRig rig;
  std::size_t taken = 0;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    while (port.InputReady()) {
      port.ReadChar();
      port.SetDTR(!port.DTR());
      ++taken;
    }
  });
  rig.port.SetOpen(true);
  const bool dtrAtStart = rig.port.DTR();
  const long changesBefore = mirte_modem_line_changes();

  // 2001 flips at 5 ms each would take ten seconds if every one reached the device.
  const auto start = std::chrono::steady_clock::now();
  rig.board.write(std::string(2001, 'x'));
  ASSERT_TRUE(rig.pumpUntil([&] { return taken == 2001; }, 9000ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5000ms) << "serving bytes waited for the lines";

  EXPECT_NE(rig.port.DTR(), dtrAtStart) << "an odd number of flips";
  ASSERT_TRUE(rig.pumpUntil([&] {
    int bits = 0;
    ::ioctl(rig.board.master(), TIOCMGET, &bits);
    return ((bits & TIOCM_DTR) != 0) == rig.port.DTR();
  }));
  const long made = mirte_modem_line_changes() - changesBefore;
  EXPECT_GT(made, 0) << "the pty's lines are the shim's";
  EXPECT_LT(made, 2001) << "pending flips were folded";
}

}  // namespace
}  // namespace mirte
