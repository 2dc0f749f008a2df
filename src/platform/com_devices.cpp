#include "platform/com_devices.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <system_error>

namespace mirte {

namespace {

std::filesystem::path FolderBesideProgram() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "dosdevices";
  return exe.parent_path() / "dosdevices";
}

// The one process-wide setting of this module: tests point it at a temporary folder. The
// lock only guards the path object; the folder's contents are read afresh on every call.
struct FolderSetting {
  std::mutex Lock;
  std::filesystem::path Folder;
  bool Chosen = false;
};

FolderSetting& TheFolderSetting() {
  static FolderSetting setting;
  return setting;
}

}  // namespace

std::filesystem::path ComDevicesFolder() {
  auto& setting = TheFolderSetting();
  std::lock_guard guard(setting.Lock);
  if (!setting.Chosen) {
    setting.Folder = FolderBesideProgram();
    setting.Chosen = true;
  }
  return setting.Folder;
}

void SetComDevicesFolder(const std::filesystem::path& folder) {
  auto& setting = TheFolderSetting();
  std::lock_guard guard(setting.Lock);
  setting.Folder = folder;
  setting.Chosen = true;
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

namespace {

constexpr int kHighestComNumber = 50;

std::filesystem::path LinkPath(int comNumber) { return ComDevicesFolder() / ("com" + std::to_string(comNumber)); }

}  // namespace

int FirstFreeComNumber(const std::filesystem::path& device, int first) {
  for (int n = std::max(first, 1); n <= kHighestComNumber; ++n) {
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(LinkPath(n), error))) continue;
    const auto fixed = DefaultComDevicePath(n);
    if (fixed.empty() || !std::filesystem::exists(fixed, error)) return n;
    if (std::filesystem::equivalent(fixed, device, error)) return n;
  }
  return 0;
}

std::error_code LinkComDevice(int comNumber, const std::filesystem::path& device) {
  if (comNumber < 1 || comNumber > kHighestComNumber) return std::make_error_code(std::errc::invalid_argument);
  std::error_code error;
  std::filesystem::create_directories(ComDevicesFolder(), error);
  if (error) return error;
  const auto link = LinkPath(comNumber);
  const auto status = std::filesystem::symlink_status(link, error);
  if (std::filesystem::exists(status)) {
    // Only a link of ours is replaced; a file or folder of that name is the user's.
    if (!std::filesystem::is_symlink(status)) return std::make_error_code(std::errc::file_exists);
    std::filesystem::remove(link, error);
    if (error) return error;
  }
  std::filesystem::create_symlink(device, link, error);
  return error;
}

}  // namespace mirte
