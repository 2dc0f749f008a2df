#pragma once
// The serial driver operations on a Linux tty, each one system call or a short fixed
// sequence, reporting 0 (or a count) on success and a negative code on failure. Devices
// without modem lines (pseudo-terminals) accept DTR/RTS changes silently, because the
// program toggles DTR for every received byte and that must never fail.
#include <cstdint>
#include <string>

#include "serial/line_settings.h"
#include "serial/modem_lines.h"

namespace mirte {

// Opens the device for reading and writing, without becoming its controlling terminal,
// non-blocking, and exclusively: a device that any other open holds answers ecDeviceBusy,
// a device that does not exist ecNoDevice, any other failure -errno. Returns the
// descriptor otherwise.
int OpenTtyDevice(const std::string& path);

// Low-latency delivery as asked for at open and found afterwards. USB adapters otherwise
// hold received bytes for a latency timer (16 ms on many), added to every exchange.
struct TLowLatency {
  bool Supported = false;    // the driver knows the flag at all (a pty does not)
  bool WasSet = false;       // the flag before the open asked for it
  bool Took = false;         // read back set after asking
  int LatencyTimerMs = -1;   // the adapter's own timer where sysfs shows it, else -1
};
// Asks for low latency and reads back what the driver made of it; `path` names the device
// for the sysfs look-up (links are followed).
TLowLatency RequestLowLatency(int fd, const std::string& path);
// Puts the flag back as it was before RequestLowLatency.
void RestoreLowLatency(int fd, const TLowLatency& before);
void CloseTtyDevice(int fd);

// Speed, framing and flow from the settings; every other termios setting is raw.
int ApplyTtySettings(int fd, const TLineSettings& settings);
// Fills speed, framing and flow from the driver; the rest of `settings` is left as it is.
int ReadTtySettings(int fd, TLineSettings& settings);

// Bytes waiting in the driver's receive queue, or a negative code.
int TtyBytesWaiting(int fd);
// Raises or drops DTR or RTS.
int SetTtyModemLine(int fd, TModemLine line, bool raise);
// The watched lines; none where the device has no modem lines.
TModemInputs TtyModemInputs(int fd);
// False for a device that has no modem lines at all (a pseudo-terminal).
bool TtyHasModemLines(int fd);

// Line-error counters of the driver, where it keeps them.
struct TTtyErrorCounts {
  int Frame = 0, Overrun = 0, Parity = 0, Break = 0, BufferOverrun = 0;
  bool Valid = false;
  // Cleared once the driver has said it keeps no counters (a pseudo-terminal): it is not
  // asked again on every pass. Start afresh with each opened device.
  bool DriverCounts = true;
};
// Reads the counters and returns the error bits (1 receive-queue overrun, 2 hardware
// overrun, 4 parity, 8 framing, 16 break) for what changed since `last`.
std::uint8_t ReadTtyLineErrors(int fd, TTtyErrorCounts& last);

// Discards what the driver holds in one of its queues.
enum class TTtyQueue : std::uint8_t { Receive, Transmit };
int PurgeTty(int fd, TTtyQueue queue);

// Arbitrary speeds through termios2; kept apart because its kernel header clashes with
// <termios.h>.
int SetTtyArbitrarySpeed(int fd, std::int32_t baud);
std::int32_t TtyArbitrarySpeed(int fd);

}  // namespace mirte
