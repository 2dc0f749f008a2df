#pragma once
// The modem lines as the port component names them, apart from any driver's bit layout:
// the two the PC drives and the four it watches.
#include <cstdint>

namespace mirte {

enum class TModemLine : std::uint8_t { DTR, RTS };

// A set of watched lines, as the device reports them.
using TModemInputs = std::uint8_t;
inline constexpr TModemInputs miCTS = 1, miDSR = 2, miRI = 4, miDCD = 8;

}  // namespace mirte
