#include "platform/com_devices.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace mirte {
namespace {

TEST(ComDevices, FixedTableWithoutLinks) {
  struct Case {
    int com;
    const char* device;
  };
  for (const Case& c : {Case{1, "/dev/ttyS0"}, Case{16, "/dev/ttyS15"}, Case{17, "/dev/ttyUSB0"},
                        Case{32, "/dev/ttyUSB15"}, Case{33, "/dev/ttyACM0"}, Case{48, "/dev/ttyACM15"},
                        Case{49, ""}, Case{50, ""}, Case{0, ""}, Case{-3, ""}})
    EXPECT_EQ(DefaultComDevicePath(c.com).string(), c.device) << c.com;
}

TEST(ComDevices, LinksBesideTheProgramOverrideTheTable) {
  testing::TempFolder folder;
  std::filesystem::create_symlink("/dev/ttyUSB3", folder / "com1");
  std::filesystem::create_symlink("../ports/board", folder / "com50");
  std::filesystem::create_symlink("/nowhere/at/all", folder / "com9");
  folder.write("com2", "a plain file is no link");
  SetComDevicesFolder(folder.path());

  EXPECT_EQ(ComDevicePath(1), "/dev/ttyUSB3");
  EXPECT_EQ(ComDevicePath(50), folder.path() / "../ports/board");
  EXPECT_EQ(ComDevicePath(9), "/nowhere/at/all") << "a dangling link still names its target";
  EXPECT_EQ(ComDevicePath(2), "/dev/ttyS1");
  EXPECT_EQ(ComDevicePath(49), "");
  EXPECT_EQ(ComDevicePath(0), "");
  EXPECT_EQ(ComDevicesFolder(), folder.path());
}

}  // namespace
}  // namespace mirte
