#include "common/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/code_page.h"
#include "platform/dos_folder.h"

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

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) return user->pw_dir;
  return {};
}

// Reads exactly sizeof(SettingsRec) bytes; a shorter file counts as unreadable, longer
// files are read only as far as the record goes. Only a regular file is read: a link is not
// followed, and a FIFO or device is opened without waiting and then left alone.
bool ReadRecord(const std::string& file, SettingsRec& rec) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
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
  std::string raw = Rec.WorkFolder.Str();
  std::string decoded = Cp1252ToUtf8(raw);
  if (decoded != raw && !IsFolder(decoded) && IsFolder(raw)) return raw;
  return decoded;
}

void TSettings::SetWorkFolder(const std::string& path) {
  Rec.WorkFolder.Assign(FitsCp1252(path) ? Utf8ToCp1252(path) : path);
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
  // The default working folder is made the first time it is needed; a home that cannot
  // take it leaves the board without a working folder rather than in another one.
  // Only the default can be missing here: the checks replace any other missing folder.
  if (!IsFolder(WorkFolderPath())) {
    std::string folder = DefaultWorkFolder();
    if (!folder.empty()) ::mkdir(folder.c_str(), 0777);
  }
}

std::string TSettings::DefaultWorkFolder() const {
  std::string home = HomeFolder();
  if (home.empty()) return {};
  if (home.back() != '/') home += '/';
  return home + "MIRTE";
}

void TSettings::SaveSettings() const {
  // Never written through something else standing at the name: a link, a FIFO, a folder.
  struct stat info {};
  bool exists = ::lstat(SettingsPath.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) return;
  // A settings file the user made read-only is kept as it is.
  if (exists && (info.st_mode & S_IWUSR) == 0) return;
  std::filesystem::path target(SettingsPath);
  std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return;
  const auto* from = reinterpret_cast<const char*>(&Rec);
  std::size_t written = 0;
  while (written < sizeof Rec) {
    ssize_t n = ::write(fd, from + written, sizeof Rec - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  // The old file is replaced only by a complete new one that is on the disk.
  mode_t mode = exists ? (info.st_mode & 07777) : 0644;
  bool complete = written == sizeof Rec && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  complete = ::close(fd) == 0 && complete;
  if (!complete || ::rename(temporary.c_str(), SettingsPath.c_str()) != 0) ::unlink(temporary.c_str());
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
  Rec.Release.Assign(kRelease);
  // A folder of its own, not the program folder: the board is never handed the program's
  // files or its neighbours by default.
  std::memset(Rec.WorkFolder.Text, 0, sizeof Rec.WorkFolder.Text);
  SetWorkFolder(DefaultWorkFolder());
  for (auto& text : Rec.UserStr) {
    text.Length = 0;
    std::memset(text.Text, 0, sizeof text.Text);
  }
  std::memset(Rec.UserStrEnter, 0, sizeof Rec.UserStrEnter);
}

bool TSettings::CheckSettings() {
  bool unchanged = true;
  // A folder the drives would refuse ("/", "/proc"...) is as good as a missing one: the
  // board would otherwise start with no working folder at all.
  if (!IsFolder(WorkFolderPath()) || IsRefusedRoot(WorkFolderPath())) {
    // The default folder that is merely not made yet is no correction of the record.
    std::string stored = Rec.WorkFolder.Str();
    SetWorkFolder(DefaultWorkFolder());
    if (Rec.WorkFolder.Str() != stored) unchanged = false;
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
    Rec.Release.Assign(kRelease);
    unchanged = false;
  }
  return unchanged;
}

}  // namespace mirte
