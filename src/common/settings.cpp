#include "common/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/code_page.h"

namespace mirte {

namespace {

constexpr std::int32_t kDefaultBaud = 115200;
constexpr std::int32_t kDefaultFontSize = 10;
constexpr std::uint32_t kSilver = 0x00C0C0C0;
constexpr std::uint32_t kNavy = 0x00800000;

bool IsFolder(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ExecutablePath() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

// Reads exactly sizeof(SettingsRec) bytes; a shorter file counts as unreadable, longer
// files are read only as far as the record goes.
bool ReadRecord(const std::string& file, SettingsRec& rec) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  SettingsRec loaded;
  auto* into = reinterpret_cast<char*>(&loaded);
  std::size_t got = 0;
  while (got < sizeof loaded) {
    ssize_t n = ::read(fd, into + got, sizeof loaded - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (got != sizeof loaded) return false;
  std::memcpy(&rec, &loaded, sizeof rec);
  return true;
}

}  // namespace

std::string TSettings::WorkFolderPath() const {
  // The record holds Windows-1252 bytes. A folder whose name 1252 cannot spell was stored
  // with its own (UTF-8) bytes instead, so that it still names the same folder next time.
  std::string raw = Rec.WorkFolder.str();
  std::string decoded = Cp1252ToUtf8(raw);
  if (decoded != raw && !IsFolder(decoded) && IsFolder(raw)) return raw;
  return decoded;
}

void TSettings::SetWorkFolder(const std::string& path) {
  Rec.WorkFolder.assign(FitsCp1252(path) ? Utf8ToCp1252(path) : path);
}

void TSettings::LoadSettings() { LoadSettings(FindSettingsLocation(ExecutablePath())); }

void TSettings::LoadSettings(const std::string& programFile) { LoadSettings(SettingsBesideProgram(programFile)); }

void TSettings::LoadSettings(const TSettingsLocation& location) {
  ProgramFolder = location.ProgramFolder;
  SettingsPath = location.SettingsPath;
  CreateSettingsFolder(location);

  if (!ReadRecord(SettingsPath, Rec)) {
    SetDefaultSettings();
    SaveSettings();
  } else if (!CheckSettings()) {
    SaveSettings();
  }
}

void TSettings::SaveSettings() const {
  int fd = ::open(SettingsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const auto* from = reinterpret_cast<const char*>(&Rec);
  std::size_t written = 0;
  while (written < sizeof Rec) {
    ssize_t n = ::write(fd, from + written, sizeof Rec - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

void TSettings::SetDefaultSettings() {
  Rec.Language = 2;
  Rec.ComNumber = 1;
  Rec.Baud = kDefaultBaud;
  Rec.FontSize = kDefaultFontSize;
  Rec.TextColor = kSilver;
  Rec.BackColor = kNavy;
  Rec.PrintEachPage = 0;
  std::memset(Rec.Release.Text, 0, sizeof Rec.Release.Text);
  Rec.Release.assign(kRelease);
  // Folder names keep their case on this system, so the default working folder is the
  // program folder exactly as the system names it.
  std::memset(Rec.WorkFolder.Text, 0, sizeof Rec.WorkFolder.Text);
  SetWorkFolder(ProgramFolder);
  for (auto& text : Rec.UserStr) {
    text.Length = 0;
    std::memset(text.Text, 0, sizeof text.Text);
  }
  std::memset(Rec.UserStrEnter, 0, sizeof Rec.UserStrEnter);
}

bool TSettings::CheckSettings() {
  bool unchanged = true;
  if (!IsFolder(WorkFolderPath())) {
    SetWorkFolder(ProgramFolder);
    unchanged = false;
  }
  if (Rec.Language != 1 && Rec.Language != 2) {
    Rec.Language = 2;
    unchanged = false;
  }
  // Compared in full width: a 16-bit comparison would let rates such as 664960 through.
  bool knownBaud = false;
  for (auto tenth : kBaudTable) knownBaud = knownBaud || Rec.Baud / 10 == tenth;
  if (!knownBaud) {
    Rec.Baud = kDefaultBaud;
    unchanged = false;
  }
  if (Rec.FontSize != 8 && Rec.FontSize != 10 && Rec.FontSize != 12 && Rec.FontSize != 16) {
    Rec.FontSize = kDefaultFontSize;
    unchanged = false;
  }
  if (Rec.Release.Length != std::strlen(kRelease) ||
      std::memcmp(Rec.Release.Text, kRelease, Rec.Release.Length) != 0) {
    Rec.Release.assign(kRelease);
    unchanged = false;
  }
  return unchanged;
}

}  // namespace mirte
