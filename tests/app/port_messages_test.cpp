#include "app/port_messages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/msg_table.h"
#include "platform/device_access.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

TEST(PortMessages, JoiningTheGroupIsAdvisedOnlyWhereTheGroupMayReadAndWrite) {
  testing::TempFolder folder;
  struct Case {
    mode_t mode;
    bool groupHelps;
  };
  for (const Case& c : {Case{0660, true}, Case{0670, true}, Case{0600, false}, Case{0640, false}, Case{0000, false},
                        Case{0606, false}}) {
    SCOPED_TRACE(c.mode);
    const auto device = folder.write("ttyUSB0", "");
    ASSERT_EQ(::chmod(device.c_str(), c.mode), 0);
    EXPECT_EQ(DeviceGroupMayReadWrite(device), c.groupHelps);
  }
  EXPECT_FALSE(DeviceGroupMayReadWrite(folder / "missing"));
}

TEST(PortMessages, AnOwnerOnlyDeviceIsExplainedWithAUdevRuleNamingItInBothLanguages) {
  TPortDiagnosis why;
  why.Fault = TPortFault::NoPermission;
  why.ComNumber = 17;
  why.Device = "/home/u/.mirte/dosdevices/com17";
  why.Group = "dialout";
  why.User = "ada";
  why.KernelName = "ttyUSB0";
  for (int language : {kLanguageItalian, kLanguageEnglish}) {
    SCOPED_TRACE(language);
    why.GroupMayReadWrite = false;
    const QString ownerOnly = PortFailureMessage(why, language);
    EXPECT_TRUE(ownerOnly.contains("KERNEL==\"ttyUSB0\", GROUP=\"dialout\", MODE=\"0660\"")) << ownerOnly.toStdString();
    EXPECT_TRUE(ownerOnly.contains("COM17"));
    EXPECT_FALSE(ownerOnly.contains("usermod")) << "joining the group would not help";

    why.GroupMayReadWrite = true;
    const QString group = PortFailureMessage(why, language);
    EXPECT_TRUE(group.contains("sudo usermod -a -G dialout ada"));
    EXPECT_FALSE(group.contains("KERNEL=="));
  }
  why.GroupMayReadWrite = false;
  EXPECT_NE(PortFailureMessage(why, kLanguageItalian), PortFailureMessage(why, kLanguageEnglish));
}

}  // namespace
}  // namespace mirte
