#include "serial/port_recovery.h"

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>

#include "port_rig.h"
#include "serial/port_diagnosis.h"
#include "support/fake_device_tree.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using testing::PortRig;
using testing::PtyPair;

// A port on a pty board that the test can unplug (the pty goes) and plug in again (a new
// pty under the same link name).
class PortLossTest : public ::testing::Test {
protected:
  PortRig rig;
  std::unique_ptr<PtyPair> replugged;
  int lost = 0;

  void SetUp() override {
    rig.port.SetOnDeviceLost([this](TCustomComPort&) { ++lost; });
    rig.port.SetOpen(true);
  }
  void Unplug() { rig.board.closeMaster(); }
  PtyPair& Replug() {
    replugged = std::make_unique<PtyPair>();
    rig.link(PortRig::BoardCom, replugged->slavePath());
    return *replugged;
  }
};

TEST_F(PortLossTest, AnUnpluggedDeviceIsReportedOnceAndAClosedPortHearsNothing) {
  Unplug();
  ASSERT_TRUE(rig.pumpUntil([&] { return lost > 0; }));
  rig.pumpUntil([] { return false; }, 200ms);
  EXPECT_EQ(lost, 1);
  EXPECT_TRUE(rig.port.Open()) << "the owner decides what to do with the port";

  PortRig other;
  int otherLost = 0;
  other.port.SetOnDeviceLost([&](TCustomComPort&) { ++otherLost; });
  other.port.SetOpen(true);
  other.board.closeMaster();
  other.port.SetOpen(false);
  other.pumpUntil([] { return false; }, 200ms);
  EXPECT_EQ(otherLost, 0);
}

TEST_F(PortLossTest, RecoveryReopensWithTheSameSettingsOnceTheDeviceIsBack) {
  rig.port.SetBaud(9600);
  TPortRecovery recovery(rig.port);
  recovery.Opened();
  // As the program does: the port is closed from the loss's own event.
  rig.port.SetOnDeviceLost([&](TCustomComPort&) {
    ++lost;
    recovery.Lost();
  });
  Unplug();
  ASSERT_TRUE(rig.pumpUntil([&] { return lost > 0; }));
  EXPECT_TRUE(recovery.Active());
  EXPECT_FALSE(rig.port.Open());
  EXPECT_EQ(recovery.ComNumber(), PortRig::BoardCom);
  EXPECT_FALSE(recovery.Retry()) << "the old pty is gone";

  PtyPair& board = Replug();
  ASSERT_TRUE(recovery.Retry());
  EXPECT_FALSE(recovery.Active());
  EXPECT_TRUE(rig.port.Open());
  EXPECT_EQ(rig.port.Baud(), 9600);
  rig.port.WriteString("hi");
  EXPECT_EQ(board.read(2, 2000ms), (std::vector<std::uint8_t>{'h', 'i'}));
  std::string received;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    while (port.InputReady()) received += static_cast<char>(port.ReadChar());
  });
  board.write("back");
  EXPECT_TRUE(rig.pumpUntil([&] { return received == "back"; })) << received;
}

TEST_F(PortLossTest, APortTheUserClosedOrChangedIsNotBroughtBack) {
  TPortRecovery recovery(rig.port);
  Unplug();
  ASSERT_TRUE(rig.pumpUntil([&] { return lost > 0; }));
  recovery.Lost();
  Replug();
  recovery.Stop();
  EXPECT_FALSE(recovery.Retry());
  EXPECT_FALSE(rig.port.Open());

  recovery.Lost();  // a closed port has nothing to lose
  EXPECT_FALSE(recovery.Active());

  rig.port.SetOpen(true);
  recovery.Lost();
  rig.port.SetComNumber(PortRig::BoardCom + 1);
  EXPECT_FALSE(recovery.Retry());
  EXPECT_FALSE(recovery.Active());
  EXPECT_FALSE(rig.port.Open());
}

TEST_F(PortLossTest, AWaitCostsNoProcessorTime) {
  TPortRecovery recovery(rig.port);
  Unplug();
  ASSERT_TRUE(rig.pumpUntil([&] { return lost > 0; }));
  recovery.Lost();
  tms before {};
  const clock_t wallBefore = times(&before);
  for (int i = 0; i < 20; ++i) {
    EXPECT_FALSE(recovery.Retry());
    rig.pumpUntil([] { return false; }, 50ms);
  }
  tms after {};
  const clock_t wall = times(&after) - wallBefore;
  const clock_t cpu = (after.tms_utime + after.tms_stime) - (before.tms_utime + before.tms_stime);
  // Twenty attempts in a second, many more than the program makes; the pump itself polls.
  EXPECT_LT(static_cast<double>(cpu), 0.1 * static_cast<double>(wall) + 2);
}

TEST(PortRecoveryById, AnAdapterBackUnderANewNodeIsFoundByItsByIdName) {
  PortRig rig;
  testing::FakeDeviceTree tree(rig.folder / "root");
  tree.plug("ttyUSB0", rig.board.slavePath(), 1, "FTDI", "FT232R", "A1", "usb-FTDI_FT232R_A1-if00-port0");
  rig.link(PortRig::BoardCom, tree.node("ttyUSB0"));
  int lost = 0;
  rig.port.SetOnDeviceLost([&](TCustomComPort&) { ++lost; });
  TPortRecovery recovery(rig.port, tree.roots());
  rig.port.SetOpen(true);
  recovery.Opened();

  rig.board.closeMaster();
  ASSERT_TRUE(rig.pumpUntil([&] { return lost > 0; }));
  recovery.Lost();
  tree.unplug("ttyUSB0", "usb-FTDI_FT232R_A1-if00-port0");
  EXPECT_FALSE(recovery.Retry());

  PtyPair board;
  tree.plug("ttyUSB1", board.slavePath(), 1 + 1, "FTDI", "FT232R", "A1", "usb-FTDI_FT232R_A1-if00-port0");
  ASSERT_TRUE(recovery.Retry());
  EXPECT_EQ(rig.port.DevicePath(), tree.byIdLink("usb-FTDI_FT232R_A1-if00-port0").string());
  rig.port.WriteString("ok");
  EXPECT_EQ(board.read(2, 2000ms).size(), 2u);

  rig.port.SetOpen(false);
  rig.port.SetComNumber(3);
  EXPECT_TRUE(rig.port.DevicePath().empty()) << "another number forgets the stand-in device";
}

// File permission checks of this thread as user and group "nobody", or as root again.
void BecomeNobodyForFiles(bool nobody) {
  setfsgid(nobody ? 65534 : 0);
  setfsuid(nobody ? 65534 : 0);
}

// Port diagnosis: why a port does not open.
TEST(PortDiagnosis, TellsMissingBusyRefusedAndFine) {
  PortRig rig;
  EXPECT_EQ(DiagnosePort(PortRig::BoardCom).Fault, TPortFault::None);

  rig.link(PortRig::BoardCom + 1, rig.folder / "no-such-device");
  TPortDiagnosis missing = DiagnosePort(PortRig::BoardCom + 1);
  EXPECT_EQ(missing.Fault, TPortFault::Missing);
  EXPECT_EQ(missing.Device, (rig.folder / "no-such-device").string());

  rig.port.SetOpen(true);
  TPortDiagnosis busy = DiagnosePort(PortRig::BoardCom);
  EXPECT_EQ(busy.Fault, TPortFault::InUse);
  ASSERT_FALSE(busy.Holders.empty());
  EXPECT_EQ(busy.Holders[0].Pid, getpid());
  rig.port.SetOpen(false);

  // Mode 000 stops any user but root; root is made to look like one by its file-system
  // identity, which is all that permission checks see.
  ASSERT_EQ(chmod(rig.board.slavePath().c_str(), 0), 0);
  std::filesystem::permissions(rig.folder.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  const bool root = geteuid() == 0;
  if (root) BecomeNobodyForFiles(true);
  TPortDiagnosis refused = DiagnosePort(PortRig::BoardCom);
  if (root) BecomeNobodyForFiles(false);
  chmod(rig.board.slavePath().c_str(), 0620);
  EXPECT_EQ(refused.Fault, TPortFault::NoPermission);
  EXPECT_FALSE(refused.Group.empty());
  EXPECT_FALSE(refused.User.empty());
}

}  // namespace
}  // namespace mirte
