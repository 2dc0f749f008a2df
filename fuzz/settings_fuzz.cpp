// Any bytes as the settings file. Loading never fails and leaves a record whose every
// checked field is valid (the checks then find nothing to correct); a file of a whole record
// whose fields were all valid is taken byte for byte, reserved byte and bytes past the
// string lengths included; the file left behind holds the record; and a record saved and
// loaded again comes back unchanged. Nothing but the settings file appears in its folder.
// The folders live in /dev/shm when it can be written, made once per process; HOME points
// into them so that the default working folder is made there.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/settings.h"
#include "common/settings_location.h"
#include "fuzz_check.h"
#include "fuzz_scratch.h"

namespace {

using namespace mirte;

struct SettingsFolders {
  mirte::fuzzing::ScratchFolder scratch{"mirte-settings-fuzz"};
  const std::string& root = scratch.Path();
  TSettingsLocation location;

  SettingsFolders() {
    namespace fs = std::filesystem;
    fs::create_directories(root + "/home");
    fs::create_directories(root + "/prog");
    ::setenv("HOME", (root + "/home").c_str(), 1);
    location = SettingsBesideProgram(root + "/prog/mirte");
  }

  void WriteSettingsFile(const std::uint8_t* data, std::size_t size) const {
    int fd = ::open(location.SettingsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, data, size) == ssize_t(size));
    ::close(fd);
  }

  std::string ReadSettingsFile() const {
    std::string bytes;
    int fd = ::open(location.SettingsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    char chunk[1024];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, std::size_t(n));
    ::close(fd);
    return bytes;
  }

  // Entries of the program folder other than the settings file: a save's temporary file
  // left behind would be one.
  int StrayEntries() const {
    int stray = 0;
    if (DIR* dir = ::opendir((root + "/prog").c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && root + "/prog/" + name != location.SettingsPath) ++stray;
      }
      ::closedir(dir);
    }
    return stray;
  }
};

bool SameRecord(const SettingsRec& a, const SettingsRec& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool FolderExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const SettingsFolders folders;
  folders.WriteSettingsFile(data, size);

  TSettings settings;
  settings.LoadSettings(folders.location);
  const SettingsRec& rec = settings.Rec;
  FUZZ_CHECK(rec.Language == 1 || rec.Language == 2);
  FUZZ_CHECK(rec.FontSize == 8 || rec.FontSize == 10 || rec.FontSize == 12 || rec.FontSize == 16);
  bool knownBaud = false;
  for (auto tenth : kBaudTable) knownBaud = knownBaud || rec.Baud / 10 == tenth;
  FUZZ_CHECK(knownBaud);
  FUZZ_CHECK(rec.Release.Str() == kRelease);
  FUZZ_CHECK(FolderExists(settings.WorkFolderPath()));
  TSettings recheck = settings;
  FUZZ_CHECK(recheck.CheckSettings() && SameRecord(recheck.Rec, rec));

  if (size >= sizeof(SettingsRec)) {
    // Whatever the checks do not look at is kept exactly as read.
    SettingsRec read;
    std::memcpy(&read, data, sizeof read);
    FUZZ_CHECK(rec.Reserved == read.Reserved && rec.ComNumber == read.ComNumber);
    FUZZ_CHECK(rec.TextColor == read.TextColor && rec.BackColor == read.BackColor);
    FUZZ_CHECK(rec.PrintEachPage == read.PrintEachPage);
    FUZZ_CHECK(std::memcmp(rec.UserStr, read.UserStr, sizeof rec.UserStr) == 0);
    FUZZ_CHECK(std::memcmp(rec.UserStrEnter, read.UserStrEnter, sizeof rec.UserStrEnter) == 0);
    TSettings asRead;
    asRead.Rec = read;
    if (asRead.CheckSettings()) FUZZ_CHECK(SameRecord(rec, read));
  }
  // The file now starts with the record, whether it was written again or already held it.
  const std::string onDisk = folders.ReadSettingsFile();
  FUZZ_CHECK(onDisk.size() >= sizeof(SettingsRec));
  FUZZ_CHECK(std::memcmp(onDisk.data(), &rec, sizeof rec) == 0);

  settings.SaveSettings();
  FUZZ_CHECK(folders.ReadSettingsFile() == std::string(reinterpret_cast<const char*>(&rec), sizeof rec));
  TSettings again;
  again.LoadSettings(folders.location);
  FUZZ_CHECK(SameRecord(again.Rec, rec));
  FUZZ_CHECK(folders.StrayEntries() == 0);
  return 0;
}
