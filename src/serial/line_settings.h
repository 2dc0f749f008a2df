#pragma once
// The settings of a serial line as the dispatcher keeps them (speed, framing, the DTR and
// RTS modes, flow control and its limits) and their translation to and from a termios
// record. The translation is pure, so it is tested without a device. termios has no place
// for DSR flow, DTR handshaking or the XON/XOFF limits: those live only in this record.
#include <cstdint>

#include <termios.h>

namespace mirte {

enum TLineStopBits : std::uint8_t { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };
enum TLineControl : std::uint8_t { LineDisable = 0, LineEnable = 1, LineHandshake = 2 };

struct TLineSettings {
  std::int32_t Baud = 9600;
  std::uint8_t DataBits = 8;                   // 5 to 8
  std::uint8_t Parity = 0;                     // as TParity: none, odd, even, mark, space
  TLineStopBits StopBits = OneStopBit;
  TLineControl DtrControl = LineEnable;
  TLineControl RtsControl = LineEnable;
  bool OutxCtsFlow = false;                    // sending waits for CTS
  bool OutxDsrFlow = false;                    // sending waits for DSR (no Linux equivalent)
  bool OutX = false;                           // obey received XOFF/XON
  bool InX = false;                            // send XOFF/XON when the receive queue fills
  char XonChar = 17;
  char XoffChar = 19;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;

  bool operator==(const TLineSettings&) const = default;
};

// Writes speed-independent settings into a raw termios: framing, parity, RTS/CTS and
// XON/XOFF flow, the XON/XOFF characters. Returns false for data bits outside 5 to 8.
bool StoreLineSettings(const TLineSettings& settings, termios& tio);

// Reads framing, parity and flow from termios into `settings`; fields termios cannot hold
// keep their values.
void LoadLineSettings(const termios& tio, TLineSettings& settings);

// The B-constant for a standard rate, or 0 when the rate needs an arbitrary speed.
speed_t StandardSpeed(std::int32_t baud);
// The rate of a B-constant, or 0 for an unknown one.
std::int32_t SpeedToBaud(speed_t speed);

}  // namespace mirte
