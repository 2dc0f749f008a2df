#include "platform/com_devices.h"

#include <mutex>
#include <string>
#include <system_error>

namespace mirte {

namespace {

std::filesystem::path folderBesideProgram() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "dosdevices";
  return exe.parent_path() / "dosdevices";
}

// The one process-wide setting of this module: tests point it at a temporary folder. The
// lock only guards the path object; the folder's contents are read afresh on every call.
struct FolderSetting {
  std::mutex lock;
  std::filesystem::path folder;
  bool chosen = false;
};

FolderSetting& folderSetting() {
  static FolderSetting setting;
  return setting;
}

}  // namespace

std::filesystem::path ComDevicesFolder() {
  auto& setting = folderSetting();
  std::lock_guard guard(setting.lock);
  if (!setting.chosen) {
    setting.folder = folderBesideProgram();
    setting.chosen = true;
  }
  return setting.folder;
}

void SetComDevicesFolder(const std::filesystem::path& folder) {
  auto& setting = folderSetting();
  std::lock_guard guard(setting.lock);
  setting.folder = folder;
  setting.chosen = true;
}

std::filesystem::path DefaultComDevicePath(int comNumber) {
  if (comNumber >= 1 && comNumber <= 16) return "/dev/ttyS" + std::to_string(comNumber - 1);
  if (comNumber >= 17 && comNumber <= 32) return "/dev/ttyUSB" + std::to_string(comNumber - 17);
  if (comNumber >= 33 && comNumber <= 48) return "/dev/ttyACM" + std::to_string(comNumber - 33);
  return {};
}

std::filesystem::path ComDevicePath(int comNumber) {
  if (comNumber < 1) return {};
  auto folder = ComDevicesFolder();
  auto link = folder / ("com" + std::to_string(comNumber));
  std::error_code error;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(link, error))) {
    auto target = std::filesystem::read_symlink(link, error);
    if (!error) return target.is_absolute() ? target : folder / target;
  }
  return DefaultComDevicePath(comNumber);
}

}  // namespace mirte
