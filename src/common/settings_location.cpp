#include "common/settings_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace mirte {

namespace {

constexpr const char* kUserFolderName = "mirte";
constexpr const char* kUserSettingsName = "mirte.SET";

std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

// Only what is really there counts: a link or a device named like the settings file does
// not make a folder the program's own.
bool HoldsRegularFile(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool HoldsFolder(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string AccountHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
    return {};
  return found->pw_dir;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

TUserFolders UserFoldersFromEnvironment() {
  TUserFolders user{Environment("XDG_CONFIG_HOME"), Environment("HOME")};
  if (!IsAbsolute(user.Home)) user.Home = AccountHome();
  return user;
}

TSettingsLocation SettingsBesideProgram(const std::string& programFile) {
  std::filesystem::path program(programFile);
  TSettingsLocation location;
  location.ProgramFolder = WithSeparator(program.parent_path().string());
  location.SettingsFolder = location.ProgramFolder;
  location.SettingsPath = std::filesystem::path(program).replace_extension(".SET").string();
  location.BesideProgram = true;
  return location;
}

TSettingsLocation FindSettingsLocation(const std::string& programFile, const TUserFolders& user) {
  TSettingsLocation beside = SettingsBesideProgram(programFile);
  const bool writable = ::access(beside.ProgramFolder.c_str(), W_OK) == 0;
  if (writable && (HoldsRegularFile(beside.SettingsPath) || HoldsFolder(beside.DosDevicesFolder()))) return beside;

  // Relative values are meant to be ignored, as if unset.
  std::string configHome = IsAbsolute(user.ConfigHome) ? user.ConfigHome
                           : IsAbsolute(user.Home)     ? WithSeparator(user.Home) + ".config"
                                                       : std::string();
  if (configHome.empty()) return beside;

  TSettingsLocation perUser;
  perUser.ProgramFolder = beside.ProgramFolder;
  perUser.SettingsFolder = WithSeparator(WithSeparator(configHome) + kUserFolderName);
  perUser.SettingsPath = perUser.SettingsFolder + kUserSettingsName;
  return perUser;
}

TSettingsLocation FindSettingsLocation(const std::string& programFile) {
  return FindSettingsLocation(programFile, UserFoldersFromEnvironment());
}

bool CreateSettingsFolder(const TSettingsLocation& location) {
  std::string folder = location.SettingsFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (IsFolder(folder)) return true;
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ignored);
  // Settings name the user's ports and folders: nobody else needs to read them.
  if (::mkdir(folder.c_str(), location.BesideProgram ? 0777 : 0700) != 0 && errno != EEXIST) return false;
  return IsFolder(folder);
}

}  // namespace mirte
