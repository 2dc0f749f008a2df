#include "serial/port_list.h"

#include <cerrno>
#include <cstdlib>

#include "serial/serial_dispatcher.h"
#include "serial/ser_except.h"

namespace mirte {

bool PortAvailable(int comNumber) {
  if (comNumber <= 0) return false;
  TSerialDispatcher probe(nullptr);
  int result = probe.ProbeDevice(comNumber);
  // A device this user may not open exists all the same: listed, it can be chosen and
  // then says why it does not open.
  return result == 0 || result == ecDeviceBusy || result == -EACCES || result == -EPERM;
}

void TDeviceSelectionForm::EnumAllPorts(const std::function<void()>& afterProbe) {
  DeviceList.clear();
  if (!ShowPorts) return;
  for (int n = 1; n <= kMaxListedComNumber; ++n) {
    if (PortAvailable(n)) DeviceList.push_back(DirectToComEntry(n));
    if (afterProbe) afterProbe();
  }
}

namespace {

int NumberFrom(const std::string& entry, std::size_t start) {
  if (entry.size() <= start) return 0;
  int value = 0;
  for (std::size_t i = start; i < entry.size(); ++i) {
    char c = entry[i];
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > 65535) return 0;
  }
  return value;
}

}  // namespace

std::string DirectToComEntry(int comNumber) { return kDirectToComPrefix + std::to_string(comNumber); }

int ComNumberOfDeviceEntry(const std::string& entry) {
  if (entry.rfind(kDirectToComPrefix, 0) != 0) return 0;
  return NumberFrom(entry, 13);
}

std::string ComSelectEntry(int comNumber) { return "COM" + std::to_string(comNumber); }

int ComNumberOfSelectEntry(const std::string& entry) {
  if (entry.rfind("COM", 0) != 0) return 0;
  return NumberFrom(entry, 3);
}

std::vector<std::string> AvailableComEntries() {
  std::vector<std::string> entries;
  for (int n = 1; n <= kMaxListedComNumber; ++n)
    if (PortAvailable(n)) entries.push_back(ComSelectEntry(n));
  return entries;
}

}  // namespace mirte
