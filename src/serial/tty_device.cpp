#include "serial/tty_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/line_termios.h"
#include "serial/ser_except.h"

namespace mirte {

namespace {

int OpenResult(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return ecNoDevice;
    case EBUSY:
    case EWOULDBLOCK:
      return ecDeviceBusy;
    default:
      return -error;
  }
}

// Pseudo-terminals have no modem lines (ENOTTY, EINVAL); an unplugged adapter answers EIO,
// ENXIO or ENODEV. None of these may fail a DTR toggle: the state is only remembered.
bool LineChangeMayBeIgnored(int error) {
  return error == ENOTTY || error == EINVAL || error == EIO || error == ENXIO || error == ENODEV;
}

int ReadLatencyTimer(const std::string& path) {
  std::error_code ignored;
  const auto real = std::filesystem::canonical(path, ignored);
  if (real.empty()) return -1;
  std::ifstream in(std::filesystem::path("/sys/class/tty") / real.filename() / "device/latency_timer");
  int ms = -1;
  if (!(in >> ms)) return -1;
  return ms;
}

}  // namespace

int OpenTtyDevice(const std::string& path) {
  if (path.empty()) return ecNoDevice;
  int fd;
  do fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return OpenResult(errno);
  // Two locks, because each alone leaves a gap. flock is advisory but also holds against
  // a second open inside this process and against root; TIOCEXCL makes the kernel refuse
  // further opens by programs that never look at flock, but only from the moment it is
  // set, and not for root. A program that opened between our open and TIOCEXCL is caught
  // by flock if it locks; if it does not, nothing on Linux can stop it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? ecDeviceBusy : -error;
  }
  termios probe{};
  if (tcgetattr(fd, &probe) != 0) {
    int error = errno;
    ::close(fd);
    return -error;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

TLowLatency RequestLowLatency(int fd, const std::string& path) {
  TLowLatency found;
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return found;
  found.Supported = true;
  found.WasSet = (serial.flags & ASYNC_LOW_LATENCY) != 0;
  if (!found.WasSet) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
  }
  // Some drivers accept the request and ignore it: only the read-back counts.
  serial_struct now{};
  found.Took = ioctl(fd, TIOCGSERIAL, &now) == 0 && (now.flags & ASYNC_LOW_LATENCY) != 0;
  found.LatencyTimerMs = ReadLatencyTimer(path);
  return found;
}

void RestoreLowLatency(int fd, const TLowLatency& before) {
  if (!before.Supported || before.WasSet || !before.Took) return;
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  serial.flags &= ~ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &serial);
}

void CloseTtyDevice(int fd) {
  if (fd < 0) return;
  ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

int ApplyTtySettings(int fd, const TLineSettings& settings) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return -errno;
  if (!StoreLineSettings(settings, tio)) return -EINVAL;
  speed_t speed = StandardSpeed(settings.Baud);
  if (speed != 0) {
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
  }
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    int error = errno;
    // A pseudo-terminal has no framing and silently keeps CS8 without parity; the C
    // library then reports EINVAL although everything else was applied. Accept that.
    termios now{};
    if (error != EINVAL || tcgetattr(fd, &now) != 0) return -error;
    constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    if ((now.c_cflag & ~kFraming) != (tio.c_cflag & ~kFraming) || now.c_iflag != tio.c_iflag) return -error;
  }
  if (speed == 0 && settings.Baud > 0) return SetTtyArbitrarySpeed(fd, settings.Baud);
  return 0;
}

int ReadTtySettings(int fd, TLineSettings& settings) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return -errno;
  LoadLineSettings(tio, settings);
  std::int32_t baud = SpeedToBaud(cfgetospeed(&tio));
  if (baud == 0) {
    std::int32_t arbitrary = TtyArbitrarySpeed(fd);
    if (arbitrary > 0) baud = arbitrary;
  }
  if (baud > 0) settings.Baud = baud;
  return 0;
}

int TtyBytesWaiting(int fd) {
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0) return -errno;
  return count;
}

int SetTtyModemLine(int fd, TModemLine line, bool raise) {
  int bits = line == TModemLine::DTR ? TIOCM_DTR : TIOCM_RTS;
  if (ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
  int error = errno;
  return LineChangeMayBeIgnored(error) ? 0 : -error;
}

TModemInputs TtyModemInputs(int fd) {
  int bits = 0;
  if (ioctl(fd, TIOCMGET, &bits) != 0) return 0;
  TModemInputs inputs = 0;
  if (bits & TIOCM_CTS) inputs |= MiCts;
  if (bits & TIOCM_DSR) inputs |= MiDsr;
  if (bits & TIOCM_RI) inputs |= MiRi;
  if (bits & TIOCM_CD) inputs |= MiDcd;
  return inputs;
}

bool TtyHasModemLines(int fd) {
  int bits = 0;
  return ioctl(fd, TIOCMGET, &bits) == 0 || (errno != ENOTTY && errno != EINVAL);
}

std::uint8_t ReadTtyLineErrors(int fd, TTtyErrorCounts& last) {
  if (!last.DriverCounts) return 0;
  serial_icounter_struct counts{};
  if (ioctl(fd, TIOCGICOUNT, &counts) != 0) {
    if (errno == ENOTTY || errno == EINVAL) last.DriverCounts = false;
    return 0;
  }
  std::uint8_t errors = 0;
  if (last.Valid) {
    if (counts.buf_overrun != last.BufferOverrun) errors |= 1;
    if (counts.overrun != last.Overrun) errors |= 2;
    if (counts.parity != last.Parity) errors |= 4;
    if (counts.frame != last.Frame) errors |= 8;
    if (counts.brk != last.Break) errors |= 16;
  }
  last = {counts.frame, counts.overrun, counts.parity, counts.brk, counts.buf_overrun, true};
  return errors;
}

int PurgeTty(int fd, TTtyQueue queue) {
  if (tcflush(fd, queue == TTtyQueue::Transmit ? TCOFLUSH : TCIFLUSH) != 0) return -errno;
  return 0;
}

}  // namespace mirte
