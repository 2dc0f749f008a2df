#include "platform/serial_adapters.h"

#include <gtest/gtest.h>

#include "platform/com_devices.h"
#include "support/fake_device_tree.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

class SerialAdaptersTest : public ::testing::Test {
protected:
  testing::TempFolder folder;
  testing::FakeDeviceTree tree{folder.path()};

  void SetUp() override {
    tree.plug("ttyUSB0", "/nowhere/usb0", 1, "FTDI", "FT232R USB UART", "A50285BI", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    tree.plug("ttyACM0", "/nowhere/acm0", 2, "Maker", "Board Link", "", "");
    tree.addBuiltIn("ttyS0");
  }
};

TEST_F(SerialAdaptersTest, DescribesADeviceByAnyOfItsNames) {
  // The node itself, its by-id link and a COM link to the by-id link all lead to one tty.
  std::filesystem::create_symlink(tree.byIdLink("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"), folder / "com17");
  for (const auto& name : {tree.node("ttyUSB0"), tree.byIdLink("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
                           folder / "com17"}) {
    TSerialAdapter adapter = DescribeSerialDevice(name, tree.roots());
    EXPECT_EQ(adapter.KernelName, "ttyUSB0") << name;
    EXPECT_EQ(adapter.ById, tree.byIdLink("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")) << name;
    EXPECT_EQ(adapter.Manufacturer, "FTDI");
    EXPECT_EQ(adapter.Product, "FT232R USB UART");
    EXPECT_EQ(adapter.Serial, "A50285BI");
    EXPECT_EQ(adapter.Label(), "FT232R USB UART A50285BI");
  }
}

TEST_F(SerialAdaptersTest, DevicesTheKernelDoesNotKnowOrThatAreNoUsbTellNothing) {
  TSerialAdapter builtIn = DescribeSerialDevice(tree.node("ttyS0"), tree.roots());
  EXPECT_EQ(builtIn.KernelName, "ttyS0");
  EXPECT_TRUE(builtIn.Product.empty());
  EXPECT_EQ(builtIn.Label(), "ttyS0");

  TSerialAdapter pty = DescribeSerialDevice("/dev/pts/0", tree.roots());
  EXPECT_TRUE(pty.KernelName.empty());
  EXPECT_TRUE(pty.ById.empty());

  std::filesystem::create_symlink("loop", folder / "loop");
  EXPECT_TRUE(DescribeSerialDevice(folder / "loop", tree.roots()).KernelName.empty()) << "a link loop ends the search";
}

TEST_F(SerialAdaptersTest, ListsByIdLinksThenUsbTtysWithoutOne) {
  auto adapters = ListSerialAdapters(tree.roots());
  ASSERT_EQ(adapters.size(), 2u) << "the built-in port is no adapter";
  EXPECT_EQ(adapters[0].Device, tree.byIdLink("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
  EXPECT_EQ(adapters[0].KernelName, "ttyUSB0");
  EXPECT_EQ(adapters[1].Device, tree.node("ttyACM0"));
  EXPECT_EQ(adapters[1].Label(), "Board Link") << "product alone when there is no serial";

  tree.unplug("ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  adapters = ListSerialAdapters(tree.roots());
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_EQ(adapters[0].KernelName, "ttyACM0");
}

TEST(ComDeviceLinks, FirstFreeNumberSkipsLinksAndOtherDevicesOfTheTable) {
  testing::TempFolder folder;
  SetComDevicesFolder(folder / "dosdevices");
  EXPECT_EQ(FirstFreeComNumber("/dev/whatever"), 17) << "a missing folder holds no links";
  ASSERT_FALSE(LinkComDevice(17, "/dev/null"));
  ASSERT_FALSE(LinkComDevice(18, "/dev/null"));
  EXPECT_EQ(FirstFreeComNumber("/dev/whatever"), 19);
  EXPECT_EQ(FirstFreeComNumber("/dev/whatever", 49), 49);
  EXPECT_EQ(ComDevicePath(18), "/dev/null");

  // Replacing a link is fine; a file of the user's under that name is left alone.
  EXPECT_FALSE(LinkComDevice(18, "/dev/zero"));
  EXPECT_EQ(ComDevicePath(18), "/dev/zero");
  folder.write("dosdevices/com20", "mine");
  EXPECT_TRUE(LinkComDevice(20, "/dev/null"));
  EXPECT_TRUE(LinkComDevice(51, "/dev/null"));
  EXPECT_TRUE(LinkComDevice(0, "/dev/null"));
}

}  // namespace
}  // namespace mirte
