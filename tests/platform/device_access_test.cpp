#include "platform/device_access.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

std::string OwnCommandName() {
  std::ifstream file("/proc/self/comm");
  std::string name;
  std::getline(file, name);
  return name;
}

TEST(DeviceAccess, FindsTheProcessHoldingADeviceUnderAnyOfItsNames) {
  testing::PtyPair pty;
  const int held = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  testing::TempFolder folder;
  std::filesystem::create_symlink(pty.slavePath(), folder / "com3");
  for (const auto& name : {std::filesystem::path(pty.slavePath()), folder / "com3"}) {
    auto users = ProcessesUsingDevice(name);
    ASSERT_EQ(users.size(), 1u) << name;
    EXPECT_EQ(users[0].Pid, getpid());
    EXPECT_EQ(users[0].Name, OwnCommandName());
  }
  close(held);
  EXPECT_TRUE(ProcessesUsingDevice(pty.slavePath()).empty());
}

TEST(DeviceAccess, NobodyHoldsWhatNobodyOpenedOrWhatDoesNotExist) {
  testing::TempFolder folder;
  auto file = folder.write("plain", "x");
  EXPECT_TRUE(ProcessesUsingDevice(file).empty());
  EXPECT_TRUE(ProcessesUsingDevice(folder / "missing").empty());
  EXPECT_TRUE(ProcessesUsingDevice(file, folder / "no-proc").empty());
}

TEST(DeviceAccess, NamesTheGroupOwningTheNodeAndTheUser) {
  testing::PtyPair pty;
  struct stat info {};
  ASSERT_EQ(stat(pty.slavePath().c_str(), &info), 0);
  const group* owner = getgrgid(info.st_gid);
  EXPECT_EQ(DeviceGroupName(pty.slavePath()), owner ? std::string(owner->gr_name) : std::to_string(info.st_gid));
  EXPECT_EQ(DeviceGroupName("/no/such/node"), "");
  EXPECT_FALSE(CurrentUserName().empty());
}

}  // namespace
}  // namespace mirte
