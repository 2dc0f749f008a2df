#pragma once
// Why a port number does not open, in terms a user can act on: the device is missing, the
// user may not open it (and which group would let them), or another program holds it (and
// which, where /proc tells). The device is opened once more to find out, and closed again
// at once if it now opens.
#include <string>
#include <vector>

#include "platform/device_access.h"

namespace mirte {

enum class TPortFault { None, Missing, NoPermission, InUse, Other };

struct TPortDiagnosis {
  TPortFault Fault = TPortFault::None;
  int ComNumber = 0;
  std::string Device;                // the device path the number stands for
  std::string Group;                 // NoPermission: the group owning the device
  std::string User;                  // NoPermission: the user this program runs as
  bool GroupMayReadWrite = false;    // NoPermission: whether joining the group would help
  std::string KernelName;            // NoPermission: the device's own name (ttyUSB0)
  std::vector<TDeviceUser> Holders;  // InUse: the processes holding the device, if known
  int Error = 0;                     // Other: the system's error number
};

TPortDiagnosis DiagnosePort(int comNumber);

}  // namespace mirte
