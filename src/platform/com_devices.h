#pragma once
// Which serial device a COM number stands for. A symbolic link `dosdevices/comN` (lower
// case, no colon) beside the program names any device; without a link COM1-16 are
// /dev/ttyS0-15, COM17-32 /dev/ttyUSB0-15 and COM33-48 /dev/ttyACM0-15. Other numbers
// (0, 49 and above) name a device only through a link. Nothing here opens a device.
#include <filesystem>

namespace mirte {

// The device path for a COM number, or an empty path when the number names nothing. A
// relative link target counts from the dosdevices folder; a dangling link still gives its
// target (opening it then reports that the device does not exist).
std::filesystem::path ComDevicePath(int comNumber);

// The folder whose comN links are read: `dosdevices` beside the running program until a
// test or the program sets another one.
std::filesystem::path ComDevicesFolder();
void SetComDevicesFolder(const std::filesystem::path& folder);

// The device path by the fixed table alone, ignoring links.
std::filesystem::path DefaultComDevicePath(int comNumber);

}  // namespace mirte
