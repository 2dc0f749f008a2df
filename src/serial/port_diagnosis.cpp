#include "serial/port_diagnosis.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/com_devices.h"
#include "serial/ser_except.h"
#include "serial/tty_device.h"

namespace mirte {

TPortDiagnosis DiagnosePort(int comNumber) {
  TPortDiagnosis diagnosis;
  diagnosis.ComNumber = comNumber;
  diagnosis.Device = ComDevicePath(comNumber).string();
  const int result = OpenTtyDevice(diagnosis.Device);
  if (result >= 0) {
    CloseTtyDevice(result);
    return diagnosis;
  }
  switch (result) {
    case ecNoDevice:
      diagnosis.Fault = TPortFault::Missing;
      break;
    case ecDeviceBusy:
      diagnosis.Fault = TPortFault::InUse;
      diagnosis.Holders = ProcessesUsingDevice(diagnosis.Device);
      break;
    case -EACCES:
    case -EPERM:
      diagnosis.Fault = TPortFault::NoPermission;
      diagnosis.Group = DeviceGroupName(diagnosis.Device);
      diagnosis.User = CurrentUserName();
      diagnosis.GroupMayReadWrite = DeviceGroupMayReadWrite(diagnosis.Device);
      {
        std::error_code ignored;
        const auto real = std::filesystem::canonical(diagnosis.Device, ignored);
        diagnosis.KernelName = (real.empty() ? std::filesystem::path(diagnosis.Device) : real).filename().string();
      }
      break;
    default:
      diagnosis.Fault = TPortFault::Other;
      diagnosis.Error = -result;
      break;
  }
  return diagnosis;
}

}  // namespace mirte
