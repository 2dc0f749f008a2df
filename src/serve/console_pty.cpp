#include "serve/console_pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mirte {

TConsolePty::~TConsolePty() {
  if (!linkPath_.empty()) ::unlink(linkPath_.c_str());
  if (keepSlave_ >= 0) ::close(keepSlave_);
  if (master_ >= 0) ::close(master_);
}

bool TConsolePty::Open(const std::string& link, std::string& error) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    error = std::string("no pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  char name[256] = {};
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    error = std::string("no pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  slaveName_ = name;
  keepSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keepSlave_ < 0) {
    error = std::string("no pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  termios mode{};
  if (::tcgetattr(keepSlave_, &mode) == 0) {
    ::cfmakeraw(&mode);
    ::tcsetattr(keepSlave_, TCSANOW, &mode);
  }
  struct stat existing{};
  if (::lstat(link.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      error = "--console-pty: " + link + " exists and is not a symbolic link";
      return false;
    }
    ::unlink(link.c_str());
  }
  if (::symlink(name, link.c_str()) != 0) {
    error = "--console-pty: cannot link " + link + ": " + std::strerror(errno);
    return false;
  }
  linkPath_ = link;
  return true;
}

}  // namespace mirte
