#include "platform/drive_options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

namespace mirte {

namespace {

constexpr std::size_t kMostBytes = 4096;  // anything longer is not ours

int DriveBit(char letter) {
  if (letter >= 'a' && letter <= 'p') letter = static_cast<char>(letter - 'a' + 'A');
  return letter >= 'A' && letter <= 'P' ? letter - 'A' : -1;
}

}  // namespace

bool TDriveOptions::LinksWritable(char letter) const {
  int bit = DriveBit(letter);
  return bit >= 0 && (HardLinksWritable >> bit & 1u) != 0;
}

void TDriveOptions::SetLinksWritable(char letter, bool writable) {
  int bit = DriveBit(letter);
  if (bit < 0) return;
  auto mask = static_cast<std::uint16_t>(1u << bit);
  HardLinksWritable = static_cast<std::uint16_t>(writable ? HardLinksWritable | mask : HardLinksWritable & ~mask);
}

std::string DriveOptionsPath(const std::string& settingsFile) {
  if (settingsFile.empty()) return {};
  std::size_t slash = settingsFile.rfind('/');
  std::size_t dot = settingsFile.rfind('.');
  std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? settingsFile.substr(0, dot)
                                                                                             : settingsFile;
  return stem + ".DRV";
}

TDriveOptions LoadDriveOptions(const std::string& path) {
  TDriveOptions options;
  if (path.empty()) return options;
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return options;
  struct stat st {};
  std::string text;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= kMostBytes) {
    text.resize(static_cast<std::size_t>(st.st_size));
    ssize_t n = read(fd, text.data(), text.size());
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  close(fd);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "links-writable") {
      std::string letters;
      words >> letters;
      for (char letter : letters) options.SetLinksWritable(letter, true);
    } else if (key == "drives-window") {
      TDriveOptions place;
      if (words >> place.X >> place.Y >> place.Width >> place.Height && place.Width > 0 && place.Height > 0) {
        options.HasPlace = true;
        options.X = place.X;
        options.Y = place.Y;
        options.Width = place.Width;
        options.Height = place.Height;
      }
    }
  }
  return options;
}

bool SaveDriveOptions(const std::string& path, const TDriveOptions& options) {
  if (path.empty()) return false;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
  std::string text = "links-writable ";
  for (char letter = 'A'; letter <= 'P'; ++letter)
    if (options.LinksWritable(letter)) text += letter;
  text += "\n";
  if (options.HasPlace)
    text += "drives-window " + std::to_string(options.X) + " " + std::to_string(options.Y) + " " +
            std::to_string(options.Width) + " " + std::to_string(options.Height) + "\n";
  std::string temporary = path + ".new";
  unlink(temporary.c_str());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace mirte
