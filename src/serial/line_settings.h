#pragma once
// The settings of a serial line as the dispatcher keeps them (speed, framing, the DTR and
// RTS modes, flow control and its limits) and their translation to and from a termios
// record (line_termios.h, for the tty layer alone). termios has no place for DSR flow,
// DTR handshaking or the XON/XOFF limits: those live only in this record.
#include <cstdint>

namespace mirte {

enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum TLineStopBits : std::uint8_t { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };
enum TLineControl : std::uint8_t { LineDisable = 0, LineEnable = 1, LineHandshake = 2 };

struct TLineSettings {
  std::int32_t Baud = 9600;
  std::uint8_t DataBits = 8;                   // 5 to 8
  TParity Parity = pNone;
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

}  // namespace mirte
