#include "serial/port_list.h"

#include <gtest/gtest.h>

#include "serial/port_rig.h"

namespace mirte {
namespace {

using testing::PortRig;

TEST(PortList, ListsExistingPortsOpenBusyAndFreeButNothingAbove50) {
  PortRig rig;  // COM7 -> a pty, held open by the rig's port below
  testing::PtyPair free3, above;
  rig.link(3, free3.slavePath());
  rig.link(50, free3.slavePath());
  rig.link(51, above.slavePath());
  rig.link(12, rig.folder / "gone");
  rig.port.SetOpen(true);

  EXPECT_TRUE(PortAvailable(PortRig::BoardCom)) << "held by this program";
  EXPECT_TRUE(PortAvailable(3));
  EXPECT_TRUE(PortAvailable(51));
  EXPECT_FALSE(PortAvailable(12));
  EXPECT_FALSE(PortAvailable(0));
  EXPECT_FALSE(PortAvailable(-1));

  TDeviceSelectionForm form;
  int probes = 0;
  form.EnumAllPorts([&] { ++probes; });
  EXPECT_EQ(probes, 50);
  // COM1-48 may also name real devices of the machine running the test; ours must be there.
  auto has = [&](const std::string& entry) {
    return std::find(form.DeviceList.begin(), form.DeviceList.end(), entry) != form.DeviceList.end();
  };
  EXPECT_TRUE(has("Direct to COM3"));
  EXPECT_TRUE(has("Direct to COM7"));
  EXPECT_TRUE(has("Direct to COM50"));
  EXPECT_FALSE(has("Direct to COM51"));
  EXPECT_FALSE(has("Direct to COM12"));
  EXPECT_TRUE(std::is_sorted(form.DeviceList.begin(), form.DeviceList.end(),
                             [](const std::string& a, const std::string& b) {
                               return ComNumberOfDeviceEntry(a) < ComNumberOfDeviceEntry(b);
                             }));
  auto entries = AvailableComEntries();
  EXPECT_NE(std::find(entries.begin(), entries.end(), "COM7"), entries.end());
  EXPECT_TRUE(rig.port.Open()) << "probing did not disturb the open port";
}

TEST(PortList, EntriesReadBackTheirNumbers) {
  EXPECT_EQ(DirectToComEntry(12), "Direct to COM12");
  EXPECT_EQ(ComNumberOfDeviceEntry("Direct to COM12"), 12);
  EXPECT_EQ(ComNumberOfDeviceEntry("Direct to COM"), 0);
  EXPECT_EQ(ComNumberOfDeviceEntry("Direct to COMx"), 0);
  EXPECT_EQ(ComNumberOfDeviceEntry("TAPI line"), 0);
  EXPECT_EQ(ComSelectEntry(3), "COM3");
  EXPECT_EQ(ComNumberOfSelectEntry("COM3"), 3);
  EXPECT_EQ(ComNumberOfSelectEntry("COM"), 0);
  EXPECT_EQ(ComNumberOfSelectEntry("COM99999999999"), 0);
}

}  // namespace
}  // namespace mirte
