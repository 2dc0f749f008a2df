#pragma once
// Brings a port back after its device went away. The owner calls Lost when the port
// reports the loss: the port is closed quietly (no error, no further events) and the
// recovery waits. Retry, called about once a second, looks for the device and reopens the
// port with its settings as soon as it is there again: under the same path, or under the
// same /dev/serial/by-id name when the adapter came back as another node. A device that is
// not there costs one file lookup per call, nothing more. Stop gives up, for a port the
// user closed or changed. Main thread only, like the port.
#include <string>

#include "platform/serial_adapters.h"

namespace mirte {

class TCustomComPort;

class TPortRecovery {
public:
  explicit TPortRecovery(TCustomComPort& port, TDeviceRoots roots = {});

  // Notes the by-id name of the device the port has just opened.
  void Opened();
  // The port's device has gone away: closes the port and starts waiting for the device.
  void Lost();
  // One attempt; true when the port is open again (the recovery is then over).
  bool Retry();
  void Stop();

  bool Active() const { return active_; }
  int ComNumber() const { return comNumber_; }
  // The device that went away.
  const std::string& Device() const { return device_; }

private:
  TCustomComPort& port_;
  TDeviceRoots roots_;
  bool active_ = false;
  int comNumber_ = 0;
  std::string device_;
  std::string byId_;
};

}  // namespace mirte
