// termios2 comes from the kernel's own header, which cannot share a translation unit with
// the C library's <termios.h>; this file holds nothing else.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstdint>

// The C library's own name, declared here because <sys/ioctl.h> clashes with the kernel header.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;  // NOLINT(readability-identifier-naming)

namespace mirte {

int SetTtyArbitrarySpeed(int fd, std::int32_t baud) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return -errno;
  tio.c_cflag &= ~CBAUD;
  tio.c_cflag |= BOTHER;
  tio.c_cflag &= ~(CBAUD << IBSHIFT);
  tio.c_cflag |= BOTHER << IBSHIFT;
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);
  if (ioctl(fd, TCSETS2, &tio) != 0) return -errno;
  return 0;
}

std::int32_t TtyArbitrarySpeed(int fd) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return -errno;
  return static_cast<std::int32_t>(tio.c_ospeed);
}

}  // namespace mirte
