#pragma once
// Who may open a device node and who holds it open: the group that owns the node, the user
// this program runs as, and the processes that have a descriptor on it (found by looking
// through every process's open descriptors in /proc). Processes of other users are only
// seen where the system lets this program look; what cannot be read is left out, never an
// error.
#include <filesystem>
#include <string>
#include <vector>

namespace mirte {

struct TDeviceUser {
  int Pid = 0;
  std::string Name;  // the process's command name
};

// The name of the group owning the node (links followed); its number when the group has no
// name; empty when the node cannot be looked at.
std::string DeviceGroupName(const std::filesystem::path& device);

// Whether the mode bits of `device` let its group both read and write it (false when it
// cannot be examined): only then does joining the group help.
bool DeviceGroupMayReadWrite(const std::filesystem::path& device);

// The login name of the user this program runs as; its number when it has no name.
std::string CurrentUserName();

// The processes holding `device` open, in ascending process number, each once. `procRoot`
// is the process file system's root (tests point it at a folder of their own).
std::vector<TDeviceUser> ProcessesUsingDevice(const std::filesystem::path& device,
                                              const std::filesystem::path& procRoot = "/proc");

}  // namespace mirte
