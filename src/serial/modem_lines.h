#pragma once
// The modem lines as the port component names them, apart from any driver's bit layout:
// the two the PC drives and the four it watches.
#include <cstdint>

namespace mirte {

enum class TModemLine : std::uint8_t { DTR, RTS };

// The watched lines; a TModemInputs is a set of them, as the device reports them.
enum TModemInput : std::uint8_t { MiCts = 1, MiDsr = 2, MiRi = 4, MiDcd = 8 };
using TModemInputs = std::uint8_t;

}  // namespace mirte
