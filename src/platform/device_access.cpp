#include "platform/device_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <system_error>

namespace mirte {

namespace {

// Two names stand for the same device when they reach the same character device (a tty has
// many names: links, /dev/serial/by-id, the node itself) or, for anything else, the same file.
bool SameNode(const struct stat& a, const struct stat& b) {
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string CommandName(const std::filesystem::path& processFolder) {
  std::ifstream file(processFolder / "comm");
  std::string name;
  std::getline(file, name);
  return name;
}

}  // namespace

std::string DeviceGroupName(const std::filesystem::path& device) {
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return {};
  if (const group* entry = ::getgrgid(info.st_gid)) return entry->gr_name;
  return std::to_string(info.st_gid);
}

bool DeviceGroupMayReadWrite(const std::filesystem::path& device) {
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return false;
  return (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
}

std::string CurrentUserName() {
  const uid_t uid = ::getuid();
  if (const passwd* entry = ::getpwuid(uid)) return entry->pw_name;
  return std::to_string(uid);
}

std::vector<TDeviceUser> ProcessesUsingDevice(const std::filesystem::path& device,
                                              const std::filesystem::path& procRoot) {
  std::vector<TDeviceUser> users;
  struct stat wanted {};
  if (::stat(device.c_str(), &wanted) != 0) return users;
  std::error_code error;
  std::filesystem::directory_iterator processes(procRoot, error);
  if (error) return users;
  for (const auto& process : processes) {
    const std::string pid = process.path().filename().string();
    if (!AllDigits(pid) || pid.size() > 9) continue;
    std::error_code fdError;
    std::filesystem::directory_iterator descriptors(process.path() / "fd", fdError);
    if (fdError) continue;
    for (const auto& descriptor : descriptors) {
      struct stat held {};
      if (::stat(descriptor.path().c_str(), &held) != 0 || !SameNode(held, wanted)) continue;
      users.push_back({std::stoi(pid), CommandName(process.path())});
      break;
    }
  }
  std::sort(users.begin(), users.end(), [](const TDeviceUser& a, const TDeviceUser& b) { return a.Pid < b.Pid; });
  return users;
}

}  // namespace mirte
