#include "serial/port_recovery.h"

#include <filesystem>
#include <system_error>

#include "platform/com_devices.h"
#include "serial/com_port.h"

namespace mirte {

TPortRecovery::TPortRecovery(TCustomComPort& Port, TDeviceRoots Roots) : port(Port), roots(std::move(Roots)) {}

void TPortRecovery::Opened() {
  device = port.DevicePath().empty() ? ComDevicePath(port.ComNumber()).string() : port.DevicePath();
  // Remembered while the node exists: once it is gone, nothing tells which by-id name it had.
  byId = DescribeSerialDevice(device, roots).ById.string();
}

void TPortRecovery::Lost() {
  if (!port.Open()) return;
  comNumber = port.ComNumber();
  if (device.empty()) Opened();
  try {
    port.SetOpen(false);
  } catch (const std::exception&) {
    // The device is gone already; what is left of the port is taken down regardless.
  }
  active = true;
}

bool TPortRecovery::Retry() {
  if (!active) return false;
  if (port.Open() || port.ComNumber() != comNumber) {
    // Someone else opened or changed the port meanwhile: nothing to bring back.
    active = false;
    return false;
  }
  std::error_code error;
  const std::string configured = ComDevicePath(comNumber).string();
  std::string wanted;
  if (std::filesystem::exists(configured, error))
    wanted = configured;
  else if (!byId.empty() && std::filesystem::exists(byId, error))
    wanted = byId;
  else
    return false;
  port.SetDevicePath(wanted == configured ? std::string() : wanted);
  try {
    port.SetOpen(true);
  } catch (const std::exception&) {
    // Back, but not usable yet (the system may still be setting its permissions): the
    // next attempt tries again.
    try {
      port.SetOpen(false);
    } catch (const std::exception&) {
    }
    return false;
  }
  active = false;
  return true;
}

void TPortRecovery::Stop() { active = false; }

}  // namespace mirte
