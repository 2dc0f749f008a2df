#pragma once
// Which port numbers name an existing serial device, and the two lists built from that
// test: the "Direct to COM<n>" entries of the port options dialog and the "COM<n>" entries
// of the Select Port dialog. Both lists probe exactly the numbers 1 to 50, in order; a
// probe opens the device for a moment and closes it again, and never raises.
#include <functional>
#include <string>
#include <vector>

namespace mirte {

inline constexpr int kMaxListedComNumber = 50;

// True when port n opens, or exists but another open (in this program or another) holds it
// or this user may not open it.
// 0 is false without any device access.
bool PortAvailable(int comNumber);

// The "Direct to COM" list of existing serial ports. It is filled without being shown;
// `AfterProbe` runs after every probe, hit or not (the program handles window messages
// there).
class TDeviceSelectionForm {
public:
  // Telephony devices are never listed by this program.
  bool ShowTapiDevices = false;
  bool ShowPorts = true;
  std::vector<std::string> DeviceList;

  void EnumAllPorts(const std::function<void()>& afterProbe = {});
};

inline constexpr const char* kDirectToComPrefix = "Direct to COM";

// "Direct to COM12" for 12.
std::string DirectToComEntry(int comNumber);
// The number of a "Direct to COM<n>" entry (read from its 14th character on), 0 if none.
int ComNumberOfDeviceEntry(const std::string& entry);
// "COM12" for 12 / the number of a "COM<n>" entry (read from its 4th character on), 0 if none.
std::string ComSelectEntry(int comNumber);
int ComNumberOfSelectEntry(const std::string& entry);

// The "COM<n>" entries of every existing port, as the Select Port dialog lists them.
std::vector<std::string> AvailableComEntries();

}  // namespace mirte
