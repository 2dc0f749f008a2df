#include "serial/port_recovery.h"

#include <filesystem>
#include <system_error>

#include "platform/com_devices.h"
#include "serial/com_port.h"

namespace mirte {

TPortRecovery::TPortRecovery(TCustomComPort& port, TDeviceRoots roots) : port_(port), roots_(std::move(roots)) {}

void TPortRecovery::Opened() {
  device_ = port_.DevicePath().empty() ? ComDevicePath(port_.ComNumber()).string() : port_.DevicePath();
  // Remembered while the node exists: once it is gone, nothing tells which by-id name it had.
  byId_ = DescribeSerialDevice(device_, roots_).ById.string();
}

void TPortRecovery::Lost() {
  if (!port_.Open()) return;
  comNumber_ = port_.ComNumber();
  if (device_.empty()) Opened();
  try {
    port_.SetOpen(false);
  } catch (const std::exception&) {
    // The device is gone already; what is left of the port is taken down regardless.
  }
  active_ = true;
}

bool TPortRecovery::Retry() {
  if (!active_) return false;
  if (port_.Open() || port_.ComNumber() != comNumber_) {
    // Someone else opened or changed the port meanwhile: nothing to bring back.
    active_ = false;
    return false;
  }
  std::error_code error;
  const std::string configured = ComDevicePath(comNumber_).string();
  std::string wanted;
  if (std::filesystem::exists(configured, error))
    wanted = configured;
  else if (!byId_.empty() && std::filesystem::exists(byId_, error))
    wanted = byId_;
  else
    return false;
  port_.SetDevicePath(wanted == configured ? std::string() : wanted);
  try {
    port_.SetOpen(true);
  } catch (const std::exception&) {
    // Back, but not usable yet (the system may still be setting its permissions): the
    // next attempt tries again.
    try {
      port_.SetOpen(false);
    } catch (const std::exception&) {
    }
    return false;
  }
  active_ = false;
  return true;
}

void TPortRecovery::Stop() { active_ = false; }

}  // namespace mirte
