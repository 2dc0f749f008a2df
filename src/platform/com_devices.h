#pragma once
// Which serial device a COM number stands for. A symbolic link `dosdevices/comN` (lower
// case, no colon) beside the program names any device; without a link COM1-16 are
// /dev/ttyS0-15, COM17-32 /dev/ttyUSB0-15 and COM33-48 /dev/ttyACM0-15. Other numbers
// (0, 49 and above) name a device only through a link. Nothing here opens a device.
#include <filesystem>
#include <system_error>

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

// The first number from `first` to 50 that is free for `device`: no comN link exists, and
// the fixed table's device for it is absent or is `device` itself. 0 when none is.
int FirstFreeComNumber(const std::filesystem::path& device, int first = 17);

// Makes comN in the COM device folder a link to `device`, creating the folder and replacing
// a link already there (never anything else). The error of the step that failed, if any.
std::error_code LinkComDevice(int comNumber, const std::filesystem::path& device);

}  // namespace mirte
