#pragma once
// The translation of line settings to and from a termios record, for the tty layer only:
// everything above it knows the settings record and never termios. Pure, so it is tested
// without a device.
#include <termios.h>

#include "serial/line_settings.h"

namespace mirte {

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
